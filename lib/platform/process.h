// The running process as the message routines see it: its id, whether a
// descriptor is a terminal, and the local time of day.
#pragma once

#include <ctime>

namespace platform {

constexpr int kStandardError = 2;

int ProcessId();
bool IsTerminal(int fd);
// The local calendar time of t; false when it cannot be had.
bool LocalTime(std::time_t t, std::tm* local);

}  // namespace platform
