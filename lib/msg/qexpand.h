// File name expansion for logical volumes.
//
// A name that begins with a known volume ("ORBITVALE:rest") becomes a path
// below that volume's directory ("/dev/src/tv/ironleaf/ov_lund/exec/rest").
// Names without ':' , with a drive letter or an unknown volume come back
// unchanged. The result is either the argument itself or a static 1024-byte
// buffer that the next call finding a ':' overwrites: use or copy it at once.
#pragma once

constexpr int QEXPAND_BUFSIZE = 1024;

char* QExpandFilename(const char* name);
