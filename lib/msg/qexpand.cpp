#include "msg/qexpand.h"

#include <cstdio>
#include <cstring>

#include "msg/qlog.h"

namespace {

char expandBuffer[QEXPAND_BUFSIZE];

struct Volume {
  const char* name;
  const char* directory;
};
const Volume kVolumes[] = {{"ORBITVALE", "/dev/src/tv/ironleaf/ov_lund/exec"}};

}  // namespace

char* QExpandFilename(const char* name) {
  char* self = const_cast<char*>(name);
  size_t len = std::strlen(name);
  if (len > QEXPAND_BUFSIZE) {
    QError("QExpandFilename() called on string with length>256");
    return self;
  }
  const char* colon = std::strchr(name, ':');
  if (!colon) return self;
  size_t prefix = static_cast<size_t>(colon - name);
  std::memcpy(expandBuffer, name, prefix);  // prefix < 1024: the name is at most 1024
  expandBuffer[prefix] = '\0';
  if (prefix < 2) return self;
  for (const Volume& v : kVolumes) {
    if (std::strcmp(expandBuffer, v.name) != 0) continue;
    const char* rest = colon + 1;
    if (std::strlen(v.directory) + 1 + std::strlen(rest) >= sizeof expandBuffer) {
      QError("QExpandFilename(); expansion of '%s' does not fit %d characters, name kept",
             name, QEXPAND_BUFSIZE - 1);
      return self;
    }
    std::snprintf(expandBuffer, sizeof expandBuffer, "%s/%s", v.directory, rest);
    return expandBuffer;
  }
  return self;
}
