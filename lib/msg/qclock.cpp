#include "msg/qclock.h"

#include <ctime>

#include "platform/process.h"

namespace {

char dateBuffer[40];
char timeBuffer[40];

// A result that does not fit leaves the buffer empty rather than undefined.
char* formatNow(char* buf, size_t size, const char* format) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (!platform::LocalTime(now, &local) || std::strftime(buf, size, format, &local) == 0)
    buf[0] = '\0';
  return buf;
}

}  // namespace

char* QCurrentDate(const char* format) {
  return formatNow(dateBuffer, sizeof dateBuffer, format ? format : "%d-%m-%Y");
}

char* QCurrentTime(const char* format) {
  return formatNow(timeBuffer, sizeof timeBuffer, format ? format : "%H:%M:%S");
}
