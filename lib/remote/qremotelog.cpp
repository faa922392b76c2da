#include "remote/qremotelog.h"

#include <cstring>
#include <new>

#include "msg/qlog.h"
#include "remote/qoptions.h"
#include "net/qnaddress.h"
#include "net/qnsocket.h"
#include "net/qnstartup.h"
#include "text/qstr.h"

namespace {

// Static objects: constructed before main, destroyed at exit in reverse order.
QStr remoteHost(32);
QNAddress destination;

int remotePort = 0;
enum class Channel { NotTried, GivenUp, Open };
Channel channel = Channel::NotTried;
// The channel's socket, published before it is opened; never closed or
// freed, the process end releases it.
QNSocket* channelSocket = nullptr;
// Set while a datagram is written: the write's failure reports come back
// here through the message routines and must not be sent in turn.
bool sendGuard = false;

}  // namespace

void QRemoteLogInstall() { QLogSetRemoteSink(QRemoteLogSend); }

void QRemoteLogOpen() {
  // Given up first: anything offered while the options are read and the
  // network starts is dropped, and the options file is read once per process.
  channel = Channel::GivenUp;
  if (!QOptionsRead(QOptionsPath(), &remoteHost, &remotePort)) return;
  if (remoteHost.IsEmpty()) return;

  QNStartup();

  QNSocket* socket = new (std::nothrow) QNSocket();
  if (!socket) return;
  // Published before Open, so that reports raised inside Open reach the
  // channel (and fail there harmlessly, the destination not being set yet).
  channelSocket = socket;
  channel = Channel::Open;
  if (!socket->Open(static_cast<uint16_t>(remotePort), QNSocket::TypeDatagram, 0,
                    remoteHost.CStr())) {
    channelSocket = nullptr;
    channel = Channel::GivenUp;
    delete socket;
    return;
  }
  socket->SetNonBlocking(true);
  destination.Set(AF_INET, INADDR_ANY, static_cast<uint16_t>(remotePort));
  destination.GetByName(remoteHost.CStr());
}

void QRemoteLogSend(const char* text) {
  if (sendGuard) return;
  if (channel == Channel::GivenUp) return;
  if (channel == Channel::NotTried) {
    QRemoteLogOpen();
    if (channel == Channel::GivenUp) return;
  }
  if (!QNStarted || !channelSocket || !text) return;
  sendGuard = true;
  channelSocket->Write(text, static_cast<int32_t>(std::strlen(text)), &destination);
  sendGuard = false;
}

void QRemoteLogResetForTest() {
  QRemoteLogInstall();
  delete channelSocket;
  channelSocket = nullptr;
  channel = Channel::NotTried;
  sendGuard = false;
  remotePort = 0;
  remoteHost.Assign("");
  destination.Set(AF_INET, INADDR_ANY, 0);
}
