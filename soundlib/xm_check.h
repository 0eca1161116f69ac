// Structural check of an XM module before it is handed to the player.
#pragma once
#include <cstddef>
#include <cstdint>

// True when `data` (size bytes) is a complete XM file of version 0x0104 whose
// every declared count and size is sane and lies inside the data: header,
// order table, each pattern's packed cells, each instrument and sample header
// and all sample data. Trailing bytes after the last sample are allowed.
// Never reads outside [data, data + size).
bool XmCheck(const uint8_t* data, size_t size);
