#include "msg/qlog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/file_io.h"
#include "platform/file_lock.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "msg/qexpand.h"

int QLogSwitches = 14;

namespace {

bool startMarkerIssued = false;
QRemoteSink remoteSink = nullptr;

void sendRemote(const char* text) {
  if (remoteSink) remoteSink(text);
}

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

int openLog(const char* name) { return platform::OpenAppend(name); }

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
  if (!platform::TryLockFile(fd)) {
    platform::Close(fd);
    return;
  }
  platform::FileInfo held, named;
  bool stillFull = platform::StatFile(fd, &held) && platform::StatPath(logName, &named) &&
                   held.device == named.device && held.inode == named.inode &&
                   held.size > static_cast<uint64_t>(QLOG_ROTATE_SIZE);
  if (stillFull) {
    platform::Remove(oldName);
    // A log that cannot be renamed starts afresh rather than grow on.
    if (!platform::Rename(logName, oldName)) platform::Remove(logName);
    int created = openLog(logName);
    if (created >= 0) platform::Close(created);
  }
  platform::Close(fd);
}

// Appends one QLOG line. The line is built whole and handed to one write on
// a descriptor opened for appending, so two processes logging into the same
// directory never interleave inside a line.
void writeQlogLine(const char* level, const char* text) {
  int fd = openLog(QExpandFilename("QLOG.txt"));
  bool rotated = false;
  while (fd >= 0) {
    platform::FileInfo st;
    uint64_t size = platform::StatFile(fd, &st) ? st.size : 0;
    if (size > static_cast<uint64_t>(QLOG_ROTATE_SIZE) && !rotated) {
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
    if (!platform::LocalTime(now, &local) ||
        std::strftime(stamp, sizeof stamp, "%a %b %d %H:%M:%S", &local) == 0)
      stamp[0] = '\0';
    char line[QLOG_BUFSIZE + 160];
    int n = std::snprintf(line, sizeof line, "%s (%-5s): [%s/%d] %s", stamp, level,
                          kAppName, platform::ProcessId(), text);
    if (n > 0) {
      size_t len = static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n)
                                                         : sizeof line - 1;
      if constexpr (platform::kTextFilesUseCRLF) {
        // Still one write: concurrent runs never interleave inside a line.
        char crlf[2 * sizeof line];
        size_t m = 0;
        for (size_t k = 0; k < len; ++k) {
          if (line[k] == '\n') crlf[m++] = '\r';
          crlf[m++] = line[k];
        }
        platform::Write(fd, crlf, m);
      } else {
        platform::Write(fd, line, len);
      }
    }
    platform::Close(fd);
    return;
  }
  char failure[128];
  std::snprintf(failure, sizeof failure, "[%s/%d] Can't open log file (QLOG)", kAppName,
                platform::ProcessId());
  std::fprintf(stderr, "** %s\n", failure);
}

}  // namespace

void QLogSetRemoteSink(QRemoteSink sink) { remoteSink = sink; }

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
  if (!(flags & QLOG_NOREMOTE) && remoteSink) {
    char remote[QLOG_BUFSIZE];
    std::snprintf(remote, sizeof remote, "%s: %s", level, text);
    sendRemote(remote);
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
  sendRemote(text);
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
