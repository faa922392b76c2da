// Helpers the Windows sides of the facilities share (Windows only; not a
// facility of its own). Handles are passed as void* so that this header
// needs no <windows.h>.
#pragma once

#include <string>

namespace platform::win {

// The errno value that stands for a Windows error code (EIO when none fits).
int ErrnoOf(unsigned long error);
// errno from GetLastError().
void SetErrnoFromLastError();
// path, in the ANSI code page, as UTF-16; false (errno set) when it is not
// a name at all.
bool Widen(const char* path, std::wstring* wide);
// The handle behind the descriptor fd, or INVALID_HANDLE_VALUE with EBADF.
void* HandleOf(int fd);
// A descriptor for handle (flags: _O_RDONLY and the like), which it then
// owns; -1 with the handle closed when there is none left.
int AdoptHandle(void* handle, int flags);

}  // namespace platform::win
