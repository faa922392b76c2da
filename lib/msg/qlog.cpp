#include "msg/qlog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "msg/qremotelog.h"
#include "platform/msgbox.h"
#include "text/qexpand.h"

int QLogSwitches = 14;

namespace {

bool startMarkerIssued = false;

const char* const kAppName = "vovizi";

// Formats into buf, which is always terminated; an over-long text is cut.
void formatInto(char* buf, size_t size, const char* format, va_list args) {
  int n = std::vsnprintf(buf, size, format, args);
  if (n < 0) buf[0] = '\0';
}

// Appends a line end unless the text is empty or already ends in one. A
// text that fills the buffer loses its last character to make room.
void appendLineEnd(char* buf, size_t size) {
  size_t len = std::strlen(buf);
  if (len == 0 || buf[len - 1] == '\n') return;
  if (len + 2 > size) len = size - 2;
  buf[len] = '\n';
  buf[len + 1] = '\0';
}

const char* levelName(int flags) {
  if (flags & QLOG_ERR) return "ERR";
  if (flags & QLOG_WARN) return "WARN";
  if (flags & QLOG_CRIT) return "CRIT";
  if (flags & QLOG_NOTE) return "NOTE";
  if (flags & QLOG_INFO) return "INFO";
  if (flags & QLOG_FATAL) return "FATAL";
  return "?";
}

void issueStartMarker(int flags) {
  startMarkerIssued = true;
  QLogMessage((flags & ~0x46F) | QLOG_INFO, "--- application start ---");
}

int openLog(const char* name) {
  return ::open(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
}

// Renames QLOG.txt, open as fd and found beyond the limit, to QLOG_OLD.txt;
// closes fd. Processes logging at once may all find the log full: the first
// to lock it rotates, the others then find the name held by a new log and
// leave it alone, so no process removes the log another one has just rotated
// away or started afresh.
void rotateLog(int fd) {
  char oldName[256];
  char logName[256];
  std::snprintf(oldName, sizeof oldName, "%s", QExpandFilename("QLOG_OLD.txt"));
  std::snprintf(logName, sizeof logName, "%s", QExpandFilename("QLOG.txt"));
  // A lock held elsewhere means another process is rotating right now (or
  // something else holds the log): this message is appended instead of
  // waiting for it.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return;
  }
  struct stat held, named;
  bool stillFull = ::fstat(fd, &held) == 0 && ::stat(logName, &named) == 0 &&
                   held.st_dev == named.st_dev && held.st_ino == named.st_ino &&
                   held.st_size > QLOG_ROTATE_SIZE;
  if (stillFull) {
    std::remove(oldName);
    // A log that cannot be renamed starts afresh rather than grow on.
    if (std::rename(logName, oldName) != 0) std::remove(logName);
    int created = openLog(logName);
    if (created >= 0) ::close(created);
  }
  ::close(fd);
}

// Appends one QLOG line. The line is built whole and handed to one write on
// a descriptor opened for appending, so two processes logging into the same
// directory never interleave inside a line.
void writeQlogLine(const char* level, const char* text) {
  int fd = openLog(QExpandFilename("QLOG.txt"));
  bool rotated = false;
  while (fd >= 0) {
    struct stat st;
    long size = ::fstat(fd, &st) == 0 ? static_cast<long>(st.st_size) : 0;
    if (size > QLOG_ROTATE_SIZE && !rotated) {
      // One rotation per message at most: a log that stays above the limit
      // (rename and removal both refused) is appended to rather than looped on.
      rotateLog(fd);
      rotated = true;
      fd = openLog(QExpandFilename("QLOG.txt"));
      continue;
    }
    char stamp[80];
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&now, &local) ||
        std::strftime(stamp, sizeof stamp, "%a %b %d %H:%M:%S", &local) == 0)
      stamp[0] = '\0';
    char line[QLOG_BUFSIZE + 160];
    int n = std::snprintf(line, sizeof line, "%s (%-5s): [%s/%d] %s", stamp, level,
                          kAppName, static_cast<int>(::getpid()), text);
    if (n > 0) {
      size_t len = static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n)
                                                         : sizeof line - 1;
      ssize_t written = ::write(fd, line, len);
      (void)written;
    }
    ::close(fd);
    return;
  }
  char failure[128];
  std::snprintf(failure, sizeof failure, "[%s/%d] Can't open log file (QLOG)", kAppName,
                static_cast<int>(::getpid()));
  std::fprintf(stderr, "** %s\n", failure);
}

}  // namespace

void QLogMessage(int flags, const char* format, ...) {
  if (!startMarkerIssued) issueStartMarker(flags);
  const char* level = levelName(flags);

  char text[QLOG_BUFSIZE];
  va_list args;
  va_start(args, format);
  formatInto(text, sizeof text, format, args);
  va_end(args);
  appendLineEnd(text, sizeof text);

  if (!(flags & QLOG_NOCONSOLE)) std::fprintf(stderr, "%s", text);
  if (flags & QLOG_MSGBOX)
    QMessageBox(text, (flags & QLOG_FATAL) ? "Fatal error - program will exit" : "Error",
                QMB_ICONEXCLAMATION | QMB_TOPMOST);
  if (!(flags & QLOG_NOREMOTE)) {
    char remote[QLOG_BUFSIZE];
    std::snprintf(remote, sizeof remote, "%s: %s", level, text);
    QRemoteLogSend(remote);
  }
  writeQlogLine(level, text);
}

void QPrintf(const char* format, ...) {
  char text[QLOG_BUFSIZE];
  va_list args;
  va_start(args, format);
  formatInto(text, sizeof text, format, args);
  va_end(args);
  if (!startMarkerIssued) issueStartMarker(0);
  std::fprintf(stderr, "%s", text);
  QRemoteLogSend(text);
}

void QInfo(const char* format, ...) {
  char text[QLOG_BUFSIZE];
  va_list args;
  va_start(args, format);
  formatInto(text, sizeof text, format, args);
  va_end(args);
  if (QLogSwitches & 8) QLogMessage(QLOG_INFO, "%s", text);
}

void QWarning(const char* format, ...) {
  char text[QLOG_BUFSIZE];
  va_list args;
  va_start(args, format);
  formatInto(text, sizeof text, format, args);
  va_end(args);
  appendLineEnd(text, sizeof text);
  std::fprintf(stderr, "%s", text);
  if (QLogSwitches & 4) QLogMessage(QLOG_WARN | QLOG_NOCONSOLE, "%s", text);
}

void QError(const char* format, ...) {
  char text[QLOG_BUFSIZE];
  va_list args;
  va_start(args, format);
  formatInto(text, sizeof text, format, args);
  va_end(args);
  appendLineEnd(text, sizeof text);
  if (QLogSwitches & 2) QLogMessage(QLOG_ERR | QLOG_NOCONSOLE, "%s", text);
}
