#include "platform/file_lock.h"

#include <sys/file.h>

namespace platform {

bool TryLockFile(int fd) { return ::flock(fd, LOCK_EX | LOCK_NB) == 0; }

}  // namespace platform
