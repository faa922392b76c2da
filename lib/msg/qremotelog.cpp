// Placeholder channel: sends nothing until the network layer lands.
#include "msg/qremotelog.h"

void QRemoteLogSend(const char*) {}
