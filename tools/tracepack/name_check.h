// Field names that a MAT-file stores but MATLAB cannot load under that
// name: the user hears of them before the conversion, not later in MATLAB.
#pragma once

#include "logtable/logfile.h"

// Warns of each named field whose name is not a MATLAB variable name (a
// letter, then letters, digits and underscores, at most 63 characters) and
// of each that repeats an earlier field's name; one warning per field at
// most. The fields are written under their names all the same.
void WarnUnloadableNames(const LogFile& table);
