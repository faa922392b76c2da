// The options file: the one place the programs are configured, naming the
// remote log host and its port.
//
// Blank-separated tokens (spaces, tabs, line ends) read in pairs, key then
// value, without regard to lines; no comments. Keys are whole tokens,
// case-sensitive: "remotehost" (text) and "port" (an Eval expression, so 600
// and 599+1 agree). Other keys are skipped with their value, a repeated key
// takes its last value, a key left without a value at the end is ignored.
// A token is cut after 255 characters; the rest of it is skipped.
//
// The file is "C:/trellisopt.txt" on Windows and /etc/trellisopt.txt
// elsewhere: a fixed path outside the working directory, so a directory the
// programs happen to run in cannot redirect their messages.
#pragma once

#include "text/qstr.h"

constexpr int QOPTIONS_TOKEN_MAX = 255;

// The path the options are read from.
const char* QOptionsPath();

// Reads the options file at path into host and port, leaving a missing key
// as it was. false, with nothing changed and nothing reported, when the
// file does not open.
bool QOptionsRead(const char* path, QStr* host, int* port);

// For tests only; the programs never call it. Reads the options from path
// instead of the fixed file; null restores the fixed file.
void QOptionsSetPathForTest(const char* path);
