// Animation tick: one fixed step of every animation value, every 40 ms.
#pragma once

void TickAnimation();
