#include <windows.h>

#include "platform/file_lock.h"
#include "platform/win_util.h"

namespace platform {

// Windows locks are mandatory: a locked byte cannot be written by anyone
// else. So the lock covers one byte far beyond any real end of file, where
// it keeps out other lockers and no writer.
bool TryLockFile(int fd) {
  void* h = win::HandleOf(fd);
  if (h == INVALID_HANDLE_VALUE) return false;
  OVERLAPPED where = {};
  where.Offset = 0xFFFFFFFEu;
  where.OffsetHigh = 0x7FFFFFFFu;
  if (::LockFileEx(static_cast<HANDLE>(h), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where))
    return true;
  win::SetErrnoFromLastError();
  return false;
}

}  // namespace platform
