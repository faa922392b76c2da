// The remote log channel: every message of the process as one UDP datagram
// to the host named in the options file.
//
// QRemoteLogSend offers one terminated text to the channel; the channel opens
// on the first text offered. Without an options file naming a remote host
// nothing is sent and nothing is reported.
#pragma once

void QRemoteLogSend(const char* text);
