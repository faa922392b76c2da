// The remote log channel: every message of the process as one UDP datagram
// to the host named in the options file (remote/qoptions.h).
//
// QRemoteLogInstall hands QRemoteLogSend to the message routines as their
// remote sink; each program calls it first thing, so that every message of
// the run, the start marker included, is offered to the channel.
// QRemoteLogSend offers one terminated text to the channel; the channel
// opens on the first text offered (QRemoteLogOpen): it reads the options
// file and, if that names a remote host, starts the network layer, opens a
// non-blocking datagram socket and resolves the destination. Without an
// options file naming a host the network layer is never started, nothing is
// sent and nothing is reported. The payload of a datagram is exactly the
// text, without its terminator and without any framing; nothing is queued,
// retried or read. Texts offered while the channel opens, or while a send is
// under way (the send's own failure reports), are dropped, never sent.
#pragma once

void QRemoteLogInstall();
void QRemoteLogSend(const char* text);
void QRemoteLogOpen();

// For tests only; the programs never call it. Closes the channel and returns
// it to "not tried", so that the next text offered opens it afresh; the
// channel is installed as the message routines' sink.
void QRemoteLogResetForTest();
