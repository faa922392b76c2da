// Files through the Windows API. Descriptors are the C runtime's: every
// handle opened here is wrapped by _open_osfhandle, so the numbers mix with
// the runtime's own (0, 1, 2 are the standard streams) and _close lets go of
// the handle. Every file is opened sharing read, write and delete, as POSIX
// files are: a file being read can still be renamed over or removed.
// Names are 8-bit in the ANSI code page, as the programs get them.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstddef>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_set>

#include "platform/file_io.h"
#include "platform/win_util.h"

namespace platform {

namespace win {

int ErrnoOf(unsigned long error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_CURRENT_DIRECTORY:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
      return EPIPE;
    case ERROR_INVALID_HANDLE:
      return EBADF;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_COMMITMENT_LIMIT:
      return ENOMEM;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    case ERROR_INVALID_PARAMETER:
    case ERROR_NEGATIVE_SEEK:
      return EINVAL;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
      return ENOTSUP;
    default:
      return EIO;
  }
}

void SetErrnoFromLastError() { errno = ErrnoOf(::GetLastError()); }

bool Widen(const char* path, std::wstring* wide) {
  int n = ::MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  if (n <= 0) {
    errno = path && *path ? EINVAL : ENOENT;
    return false;
  }
  wide->assign(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, path, -1, wide->data(), n);
  wide->resize(static_cast<size_t>(n - 1));
  if (wide->empty()) {
    errno = ENOENT;
    return false;
  }
  return true;
}

void* HandleOf(int fd) {
  intptr_t h = fd >= 0 ? ::_get_osfhandle(fd) : -1;
  if (h == -1 || h == -2) {
    errno = EBADF;
    return INVALID_HANDLE_VALUE;
  }
  return reinterpret_cast<HANDLE>(h);
}

int AdoptHandle(void* handle, int flags) {
  int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) {
    ::CloseHandle(handle);
    errno = EMFILE;
  }
  return fd;
}

}  // namespace win

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The descriptors OpenAppend gave, whose writes Write serialises.
std::mutex appendLock;
std::unordered_set<int> appending;

// Opens path with the given access and disposition as a descriptor, or -1.
int openAs(const char* path, DWORD access, DWORD disposition, DWORD attributes, int flags) {
  std::wstring wide;
  if (!win::Widen(path, &wide)) return -1;
  HANDLE h = ::CreateFileW(wide.c_str(), access, kShareAll, nullptr, disposition, attributes, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD error = ::GetLastError();
    // Windows refuses to open a folder as a file; POSIX opens it and says
    // EISDIR at the first read or write, which callers check for.
    DWORD attrs = ::GetFileAttributesW(wide.c_str());
    if (error == ERROR_ACCESS_DENIED && attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY))
      errno = EISDIR;
    else
      errno = win::ErrnoOf(error);
    return -1;
  }
  return win::AdoptHandle(h, flags);
}

// Fills info from an open handle: devices and pipes have no file index.
bool fillFromHandle(HANDLE h, FileInfo* info) {
  *info = FileInfo{};
  DWORD type = ::GetFileType(h);
  if (type == FILE_TYPE_UNKNOWN && ::GetLastError() != NO_ERROR) {
    win::SetErrnoFromLastError();
    return false;
  }
  if (type != FILE_TYPE_DISK) {
    info->mode = 0666;
    return true;
  }
  BY_HANDLE_FILE_INFORMATION fi;
  if (!::GetFileInformationByHandle(h, &fi)) {
    win::SetErrnoFromLastError();
    return false;
  }
  info->isDirectory = (fi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info->isRegular = !info->isDirectory;
  info->size = info->isRegular ? (uint64_t{fi.nFileSizeHigh} << 32) | fi.nFileSizeLow : 0;
  info->mode = (fi.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
  if (info->isDirectory) info->mode |= 0111;
  info->device = fi.dwVolumeSerialNumber;
  info->inode = (uint64_t{fi.nFileIndexHigh} << 32) | fi.nFileIndexLow;
  return true;
}

OVERLAPPED at(uint64_t offset) {
  OVERLAPPED o = {};
  o.Offset = static_cast<DWORD>(offset);
  o.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return o;
}

// One ReadFile or WriteFile moves at most a DWORD's worth: larger requests
// come back short, which every caller handles.
DWORD chunk(size_t size) { return size > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(size); }

long long readAt(int fd, void* buffer, size_t size, OVERLAPPED* where) {
  HANDLE h = static_cast<HANDLE>(win::HandleOf(fd));
  if (h == INVALID_HANDLE_VALUE) return -1;
  DWORD got = 0;
  if (!::ReadFile(h, buffer, chunk(size), &got, where)) {
    DWORD error = ::GetLastError();
    // The end of a file, or of a pipe whose writers are all gone.
    if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) return 0;
    errno = win::ErrnoOf(error);
    return -1;
  }
  return got;
}

long long writeAt(int fd, const void* data, size_t size, OVERLAPPED* where) {
  HANDLE h = static_cast<HANDLE>(win::HandleOf(fd));
  if (h == INVALID_HANDLE_VALUE) return -1;
  DWORD put = 0;
  if (!::WriteFile(h, data, chunk(size), &put, where)) {
    win::SetErrnoFromLastError();
    return -1;
  }
  return put;
}

// The allocation of the first size bytes, and the end of the file moved out
// to size where it lies before (as fallocate does). NTFS allocates the
// clusters of a file's length, so the length alone is a promise of space;
// the allocation call, which not every file system knows, only asks sooner.
bool reserve(int fd, uint64_t size) {
  HANDLE h = static_cast<HANDLE>(win::HandleOf(fd));
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER current;
  if (!::GetFileSizeEx(h, &current)) {
    win::SetErrnoFromLastError();
    return false;
  }
  if (size > static_cast<uint64_t>(INT64_MAX)) {
    errno = EFBIG;
    return false;
  }
  if (static_cast<uint64_t>(current.QuadPart) >= size) return true;
  FILE_ALLOCATION_INFO allocation;
  allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
  if (!::SetFileInformationByHandle(h, FileAllocationInfo, &allocation, sizeof allocation)) {
    DWORD error = ::GetLastError();
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) {
      errno = ENOSPC;
      return false;
    }
  }
  FILE_END_OF_FILE_INFO end;
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  if (!::SetFileInformationByHandle(h, FileEndOfFileInfo, &end, sizeof end)) {
    win::SetErrnoFromLastError();
    return false;
  }
  return true;
}

// A target some program holds open (even sharing delete) cannot be replaced
// by MoveFileEx; the POSIX rename of Windows 10 (1809 on) can, as a rename
// over an open file does on POSIX. Where it is not to be had, false.
bool renameOverOpen(const std::wstring& from, const std::wstring& to) {
  DWORD length = ::GetFullPathNameW(to.c_str(), 0, nullptr, nullptr);
  if (length == 0) return false;
  std::wstring full(length, L'\0');
  length = ::GetFullPathNameW(to.c_str(), length, full.data(), nullptr);
  if (length == 0 || length >= full.size()) return false;
  size_t size = offsetof(FILE_RENAME_INFO, FileName) + (length + 1) * sizeof(WCHAR);
  std::string buffer(size, '\0');
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  // FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS, in
  // the Flags word that overlays ReplaceIfExists from Windows 10 on.
  const DWORD flags = 0x1 | 0x2;
  std::memcpy(buffer.data(), &flags, sizeof flags);
  info->RootDirectory = nullptr;
  info->FileNameLength = length * sizeof(WCHAR);
  std::memcpy(info->FileName, full.c_str(), (length + 1) * sizeof(WCHAR));
  HANDLE h = ::CreateFileW(from.c_str(), DELETE | SYNCHRONIZE, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  constexpr auto kRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);  // FileRenameInfoEx
  bool ok = ::SetFileInformationByHandle(h, kRenameInfoEx, info, static_cast<DWORD>(size));
  ::CloseHandle(h);
  return ok;
}

}  // namespace

bool StatPath(const char* path, FileInfo* info) {
  std::wstring wide;
  if (!win::Widen(path, &wide)) return false;
  // No access asked: only the attributes are read, and folders open with
  // the backup flag.
  HANDLE h = ::CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    win::SetErrnoFromLastError();
    return false;
  }
  bool ok = fillFromHandle(h, info);
  ::CloseHandle(h);
  return ok;
}

// Links are not followed on Windows (ReadLink knows none): a name is
// looked at as what it leads to.
bool StatLink(const char* path, FileInfo* info) { return StatPath(path, info); }

bool StatFile(int fd, FileInfo* info) {
  HANDLE h = static_cast<HANDLE>(win::HandleOf(fd));
  return h != INVALID_HANDLE_VALUE && fillFromHandle(h, info);
}

long ReadLink(const char*, char*, size_t) {
  errno = EINVAL;
  return -1;
}

bool MayWrite(const char* path) {
  std::wstring wide;
  if (!win::Widen(path, &wide)) return false;
  DWORD attrs = ::GetFileAttributesW(wide.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES) {
    if ((attrs & FILE_ATTRIBUTE_READONLY) && !(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
      errno = EACCES;
      return false;
    }
    if (attrs & FILE_ATTRIBUTE_DIRECTORY) return true;
  }
  // The access list decides the rest: an open for writing that changes
  // nothing. A file another program holds without sharing may still be
  // replaced by a rename, so that refusal does not count.
  HANDLE h = ::CreateFileW(wide.c_str(), FILE_WRITE_DATA, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD error = ::GetLastError();
    if (error == ERROR_SHARING_VIOLATION) return true;
    errno = win::ErrnoOf(error);
    return false;
  }
  ::CloseHandle(h);
  return true;
}

// There are no FIFOs to wait on: nonBlocking changes nothing.
int OpenRead(const char* path, bool) {
  return openAs(path, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, _O_RDONLY);
}

int OpenWrite(const char* path) {
  return openAs(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, _O_WRONLY);
}

// TRUNCATE_EXISTING fails on devices such as NUL, which have no contents to
// drop: those are opened as they are.
int OpenTruncate(const char* path) {
  int fd = openAs(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, _O_WRONLY);
  if (fd < 0) return -1;
  HANDLE h = static_cast<HANDLE>(win::HandleOf(fd));
  if (::GetFileType(h) == FILE_TYPE_DISK) {
    FILE_END_OF_FILE_INFO end = {};
    if (!::SetFileInformationByHandle(h, FileEndOfFileInfo, &end, sizeof end)) {
      int err = win::ErrnoOf(::GetLastError());
      ::_close(fd);
      errno = err;
      return -1;
    }
  }
  return fd;
}

int CreateNew(const char* path, unsigned mode) {
  DWORD attributes = (mode & 0222) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
  return openAs(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, CREATE_NEW, attributes, _O_WRONLY);
}

// FILE_APPEND_DATA without FILE_WRITE_DATA: the system puts every write at
// the end of the file as one piece, between any other process's. Read access
// is asked as well, where granted, since LockFileEx wants it.
int OpenAppend(const char* path) {
  constexpr DWORD append = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
  int fd = openAs(path, append | FILE_READ_DATA, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, _O_WRONLY | _O_APPEND);
  if (fd < 0 && errno == EACCES) fd = openAs(path, append, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, _O_WRONLY | _O_APPEND);
  if (fd >= 0) {
    std::lock_guard<std::mutex> hold(appendLock);
    appending.insert(fd);
  }
  return fd;
}

bool Close(int fd) {
  if (win::HandleOf(fd) == INVALID_HANDLE_VALUE) return false;
  {
    std::lock_guard<std::mutex> hold(appendLock);
    appending.erase(fd);
  }
  return ::_close(fd) == 0;
}

long long Read(int fd, void* buffer, size_t size) { return readAt(fd, buffer, size, nullptr); }

// The OVERLAPPED offset of a handle opened for plain I/O makes a positioned
// call that still completes before it returns.
long long ReadAt(int fd, void* buffer, size_t size, uint64_t offset) {
  OVERLAPPED where = at(offset);
  return readAt(fd, buffer, size, &where);
}

// Appends are one write each, and also made one at a time among all
// processes, under a lock on a byte far beyond the end of the file (not the
// one TryLockFile takes): wine, unlike Windows, moves to the end and writes
// in two steps, between which another process's line could land.
long long Write(int fd, const void* data, size_t size) {
  bool append;
  {
    std::lock_guard<std::mutex> hold(appendLock);
    append = appending.count(fd) != 0;
  }
  if (!append) return writeAt(fd, data, size, nullptr);
  HANDLE h = static_cast<HANDLE>(win::HandleOf(fd));
  if (h == INVALID_HANDLE_VALUE) return -1;
  OVERLAPPED lock = at(0x7FFFFFFFFFFFFFFDull);
  bool locked = ::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lock);
  long long n = writeAt(fd, data, size, nullptr);
  if (locked) {
    int err = errno;
    ::UnlockFileEx(h, 0, 1, 0, &lock);
    errno = err;
  }
  return n;
}

long long WriteAt(int fd, const void* data, size_t size, uint64_t offset) {
  OVERLAPPED where = at(offset);
  return writeAt(fd, data, size, &where);
}

bool ReserveSpace(int fd, uint64_t size) { return reserve(fd, size); }

// Only the write permission has a Windows counterpart: the read-only
// attribute.
bool SetMode(int fd, unsigned mode) {
  HANDLE h = static_cast<HANDLE>(win::HandleOf(fd));
  if (h == INVALID_HANDLE_VALUE) return false;
  FILE_BASIC_INFO basic;
  if (!::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)) {
    win::SetErrnoFromLastError();
    return false;
  }
  DWORD attributes = basic.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
  if (mode & 0222)
    attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  else
    attributes |= FILE_ATTRIBUTE_READONLY;
  if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
  if (attributes == basic.FileAttributes) return true;
  FILE_BASIC_INFO change = {};  // zero times: left as they are
  change.FileAttributes = attributes;
  if (!::SetFileInformationByHandle(h, FileBasicInfo, &change, sizeof change)) {
    win::SetErrnoFromLastError();
    return false;
  }
  return true;
}

bool Rename(const char* from, const char* to) {
  std::wstring wideFrom, wideTo;
  if (!win::Widen(from, &wideFrom) || !win::Widen(to, &wideTo)) return false;
  if (::MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  DWORD error = ::GetLastError();
  if (error == ERROR_ACCESS_DENIED && renameOverOpen(wideFrom, wideTo)) return true;
  errno = win::ErrnoOf(error);
  return false;
}

// MoveFileEx has no swap; a rename over the target is what Windows offers.
bool Exchange(const char*, const char*) {
  errno = ENOTSUP;
  return false;
}

bool Remove(const char* path) {
  std::wstring wide;
  if (!win::Widen(path, &wide)) return false;
  if (::DeleteFileW(wide.c_str())) return true;
  DWORD error = ::GetLastError();
  // As remove() does, an empty folder goes too.
  DWORD attrs = ::GetFileAttributesW(wide.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY)) {
    if (::RemoveDirectoryW(wide.c_str())) return true;
    error = ::GetLastError();
  }
  errno = win::ErrnoOf(error);
  return false;
}

// Windows frees a deleted file within the call that deletes it, or when its
// last handle closes; there is no cheaper way to hand that on.
bool RemoveFreeingLater(const char* path) { return Remove(path); }

void DropCleanCache(const char*) {}

bool AllocateSpace(int fd, uint64_t size) { return reserve(fd, size); }

bool SyncFile(int fd) {
  HANDLE h = static_cast<HANDLE>(win::HandleOf(fd));
  if (h == INVALID_HANDLE_VALUE) return false;
  if (::FlushFileBuffers(h)) return true;
  win::SetErrnoFromLastError();
  return false;
}

// Rename asks for MOVEFILE_WRITE_THROUGH: the new entry is on the disk when
// it returns.
bool SyncDirectory(const char*) { return true; }

}  // namespace platform
