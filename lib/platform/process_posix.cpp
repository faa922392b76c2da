#include "platform/process.h"

#include <unistd.h>

namespace platform {

int ProcessId() { return static_cast<int>(::getpid()); }

bool IsTerminal(int fd) { return ::isatty(fd) == 1; }

bool LocalTime(std::time_t t, std::tm* local) { return localtime_r(&t, local) != nullptr; }

}  // namespace platform
