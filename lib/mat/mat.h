// The MAT-file and array calls the converters make, over our own strict
// reader and writer of the published MAT-file formats.
//
// Writing ("w"): MAT level 5, uncompressed, one variable per matPutVariable.
// The file is written beside the target under a temporary name and renamed
// over the target by matClose only when every byte reached the disk; any
// failure leaves an existing target untouched. "w7.3" writes the HDF5-based
// layout instead (for variables of 2 GiB and more).
// Reading ("r"): level 4, level 5 (plain and compressed) and 7.3 files, in
// either byte order. matGetNextVariable hands out each variable in file order
// as a double array. Reading "rm" leaves the data of a plain level 5 variable
// of real doubles in the machine's byte order where they are: the array then
// points into a read-only mapping of the file instead of holding a copy (see
// mxGetMapping).
//
// No call throws or aborts. Failures come back as results (null, non-zero);
// damage found while reading is reported through QWarning by the layer. The
// writing calls report nothing themselves: when matOpen gives null or
// matPutVariable or matClose non-zero, errno holds the reason (EFBIG: too
// large for level 5; EINVAL or EEXIST: a name the 7.3 layout cannot hold)
// for the caller's own message.
#pragma once

#include <cstddef>
#include <memory>

struct MATFile;
struct mxArray;

using mwSize = size_t;

enum mxComplexity { mxREAL = 0, mxCOMPLEX = 1 };

// mode "r", "rm", "w" or "w7.3". Null when the file cannot be opened (for
// "r" and "rm": also when it is not a MAT-file).
MATFile* matOpen(const char* filename, const char* mode);

// Finishes and closes the file; 0 on success. For a file opened for writing a
// non-zero result means the target was left as it was before matOpen.
int matClose(MATFile* file);

// Writes one variable; 0 on success. A failed write poisons the file: later
// writes fail too and matClose discards it. A variable the format cannot
// hold is refused (non-zero) without harm to the file: one without a name
// (EINVAL), in level 5 one whose data reach the level 5 limit (2 GiB), in
// 7.3 a repeated or path-like name.
int matPutVariable(MATFile* file, const char* name, const mxArray* array);

// As matPutVariable with a 1 x n real double array of values[0 .. n), which
// stay the caller's: they are written from where they are, with no copy.
int matPutDoubleRow(MATFile* file, const char* name, const double* values, size_t n);

// The next variable of a file opened for reading, converted to doubles, with
// *name set to its name (valid until the array is destroyed). Null at the end
// of the file or at damage (reported through QWarning).
mxArray* matGetNextVariable(MATFile* file, const char** name);

// Whether the reading of a file opened for reading ended at damage (as
// reported) rather than at the file's end.
bool matReadDamaged(MATFile* file);

// Variables left unread in a file opened for reading (counted without
// decoding them), or -1 when they cannot be counted.
long matCountRemaining(MATFile* file);

// A real (or complex) double array of m x n, zero-filled. Null when the
// memory cannot be obtained.
mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity complexity);
double* mxGetPr(const mxArray* array);
mwSize mxGetNumberOfDimensions(const mxArray* array);
const mwSize* mxGetDimensions(const mxArray* array);
mwSize mxGetNumberOfElements(const mxArray* array);
void mxDestroyArray(mxArray* array);

// The mapping of its file that an array read "rm" has its data in, or null
// when the array holds its own. The handle keeps the mapping, and with it
// the data, valid after the array and its file are gone, until its last copy
// goes. Mapped data are read-only and must only be read inside
// platform::RunGuarded: a file cut short meanwhile faults on the pages it
// lost. The memory cap (matSetMemoryLimitForTesting) does not count them.
std::shared_ptr<const void> mxGetMapping(const mxArray* array);

// Hands the array's data over to the caller: mxGetNumberOfElements(array)
// doubles in a buffer of one slot at least, which the caller frees with
// std::free and may grow with std::realloc. The array keeps its dimensions;
// mxGetPr gives null from then on. Null for a mapped array (its data are the
// file's), for one handed over before, and for null.
double* mxTakePr(mxArray* array);

// Whether a variable of this many doubles is too large for level 5 and needs
// "w7.3" (its data reach the level 5 limit, 2 GiB unless lowered for tests).
bool matNeedsV73(size_t elements);

// Lowers the level 5 limit (bytes of data of one variable) so tests can
// reach it with small arrays; 0 restores 2 GiB.
void matSetV5LimitForTesting(size_t bytes);

// Caps the size (bytes) of one array the reader builds; a larger variable is
// skipped with a warning. 0 restores the default, the machine's memory.
void matSetMemoryLimitForTesting(size_t bytes);
