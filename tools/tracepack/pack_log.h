// PackLog: tracepack's whole conversion of a text log into a MAT-file.
#pragma once

// Reads logFileName and writes every field into matFileName as a 1 x N
// double, with every message of the conversion. Reports failures as
// warnings; an existing target is replaced only by a complete file.
void PackLog(const char* logFileName, const char* matFileName);
