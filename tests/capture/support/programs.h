// Finding and running programs (ffmpeg, ffprobe) for the capture's tests.
#pragma once
#include <string>
#include <vector>

// The program `name` found on PATH; empty when there is none.
std::string FindProgram(const std::string& name);
// Runs a program with arguments (no shell) and waits; its exit status, or -1
// when it could not be started.
int RunProgram(const std::string& program, const std::vector<std::string>& args);
