// Message routines of the support library and the QLOG.txt log file.
//
// QPrintf carries progress text to the console (standard error) and the
// remote sink; QInfo, QWarning and QError are the three kinds of
// report; QLogMessage is the logger behind them. The first message of a
// process issues the start marker "--- application start ---". Every logged
// message appends one line to QLOG.txt in the current directory, which is
// rotated to QLOG_OLD.txt once it grows past 10,000,000 bytes. No routine
// fails towards its caller; texts longer than the 10,240-byte buffers are cut.
#pragma once

// mingw's C99 printf family (__USE_MINGW_ANSI_STDIO) is checked as GNU's.
#if defined(__MINGW32__)
#define QPRINTF_CHECK(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define QPRINTF_CHECK(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

enum {
  QLOG_ERR = 0x001,
  QLOG_WARN = 0x002,
  QLOG_CRIT = 0x004,
  QLOG_NOTE = 0x008,
  QLOG_INFO = 0x010,
  QLOG_FATAL = 0x040,
  QLOG_NOREMOTE = 0x080,
  QLOG_NOCONSOLE = 0x100,
  QLOG_MSGBOX = 0x400,
};

// Bit 2 lets QError log, bit 4 QWarning, bit 8 QInfo. Starts at 14.
extern int QLogSwitches;

void QPrintf(const char* format, ...) QPRINTF_CHECK(1, 2);
void QInfo(const char* format, ...) QPRINTF_CHECK(1, 2);
void QWarning(const char* format, ...) QPRINTF_CHECK(1, 2);
void QError(const char* format, ...) QPRINTF_CHECK(1, 2);
void QLogMessage(int flags, const char* format, ...) QPRINTF_CHECK(2, 3);

// Size of every message buffer, terminator included.
constexpr int QLOG_BUFSIZE = 10240;
// QLOG.txt is rotated when a message finds it larger than this.
constexpr long QLOG_ROTATE_SIZE = 10000000L;

// Where every message goes beyond the console and QLOG.txt: each program
// installs the remote log channel here at start-up (remote/qremotelog.h).
// Until then, or with null, messages go nowhere else.
using QRemoteSink = void (*)(const char* text);
void QLogSetRemoteSink(QRemoteSink sink);
