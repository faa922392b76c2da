#include "net/qnstartup.h"

#include <new>

#include "msg/qlog.h"
#include "net/qnadapterlist.h"
#include "net/qnaddress.h"
#include "platform/msgbox.h"
#include "platform/perfcounter.h"
#include "platform/winsock.h"

bool QNStarted = false;
QNAdapterList* QNAdapters = nullptr;
QStopwatch* QNStopwatch = nullptr;

QStopwatch::QStopwatch() {
  if (!win::QueryPerformanceFrequency(&frequency_) || frequency_ <= 0) frequency_ = 1;
  Reset();
}

void QStopwatch::Reset() {
  win::QueryPerformanceCounter(&startCount_);
  resetValue_[0] = resetValue_[1] = 0;
  running_ = 0;
}

void QStopwatch::Start() {
  if (running_) return;
  win::QueryPerformanceCounter(&startCount_);
  running_ = 1;
}

void QStopwatch::Restart() {
  Reset();
  Start();
}

double QStopwatch::ElapsedSeconds() const {
  int64_t now = 0;
  win::QueryPerformanceCounter(&now);
  return static_cast<double>(now - startCount_) / static_cast<double>(frequency_);
}

bool QNStartup() {
  if (QNStarted) return false;
  QNStarted = true;

  QNAdapters = new (std::nothrow) QNAdapterList();

  win::WSADATA data;
  if (win::WSAStartup(win::MAKEWORD(2, 2), &data) != 0) {
    QMessageBox("WSAStartup error\n", "Error", QMB_ICONEXCLAMATION);
    return false;
  }
  if ((data.wVersion & 0xFF) != 2 || (data.wVersion >> 8) != 2) {
    win::WSACleanup();
    QMessageBox("Winsock 2.0 or greater needed\n", "Error", QMB_ICONEXCLAMATION);
    return false;
  }
  if (win::WSAStartup(win::MAKEWORD(2, 0), &data) != 0) {
    QWarning("Can't open Winsock2.0, trying 1.1");
    if (win::WSAStartup(win::MAKEWORD(1, 1), &data) != 0) {
      QError("Can't startup WinSock (WSAStartup)");
      return false;
    }
  }
  QNLoopback.GetByName("127.0.0.1");
  QNStopwatch = new (std::nothrow) QStopwatch();
  if (QNStopwatch) QNStopwatch->Restart();
  return true;
}

void QNStartupResetForTest() {
  delete QNAdapters;
  QNAdapters = nullptr;
  delete QNStopwatch;
  QNStopwatch = nullptr;
  QNStarted = false;
  win::ResetStartupCount();
}
