#include "tracepack/name_check.h"

#include <cstring>

#include "msg/qlog.h"

namespace {

constexpr size_t kMatlabNameMax = 63;

bool isLetter(unsigned char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

bool isMatlabName(const char* name) {
  size_t length = std::strlen(name);
  if (length == 0 || length > kMatlabNameMax || !isLetter(name[0])) return false;
  for (size_t k = 1; k < length; ++k) {
    unsigned char c = name[k];
    if (!isLetter(c) && !(c >= '0' && c <= '9') && c != '_') return false;
  }
  return true;
}

}  // namespace

void WarnUnloadableNames(const LogFile& table) {
  for (int i = 0; i < table.fieldCount; ++i) {
    const char* name = table.names[i].CStr();
    // A field without a name is left out of the file, with its own warning.
    if (*name == '\0') continue;
    if (!isMatlabName(name)) {
      QWarning("LogFile:ImportLog(); field %d is named '%s', which MATLAB cannot load "
               "(a name is a letter, then letters, digits and underscores, at most 63 characters)",
               i, name);
      continue;
    }
    for (int k = 0; k < i; ++k) {
      if (std::strcmp(table.names[k].CStr(), name) == 0) {
        QWarning("LogFile:ImportLog(); field %d is named '%s' like field %d: the later one "
                 "replaces the earlier one in MATLAB",
                 i, name, k);
        break;
      }
    }
  }
}
