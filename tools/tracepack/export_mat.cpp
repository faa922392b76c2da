// LogFile::ExportMat: writes the table as a MAT-file, one 1 x N double
// variable per field, in field order, named after the field.
//
// The MAT layer writes beside the target and replaces it only when the whole
// file is written, so a failure never leaves a half-written file behind; a
// table whose log could not be read leaves the target alone altogether.
// Fields too long for a level 5 variable switch the whole file to 7.3.
#include <cerrno>
#include <cstring>

#include "logtable/logfile.h"
#include "mat/mat.h"
#include "msg/qlog.h"
#include "tracepack/export_mat.h"

void WarnMatNotCompleted(const char* matFileName, int err) {
  QWarning("LogFile:ExportMat(); can't complete '%s' (%s), the file was left as it was", matFileName,
           std::strerror(err));
}

void InformMatV73(const char* matFileName, int records) {
  QInfo("LogFile:ExportMat(); %d samples per field exceed a MAT v5 variable, '%s' is written as MAT 7.3",
        records, matFileName);
}

void LogFile::ExportMat(const char* matFileName) {
  if (!imported) {
    QWarning("LogFile:ExportMat(); nothing imported, '%s' left unchanged", matFileName);
    return;
  }
  // A level 5 variable holds less than 2 GiB of data; longer logs go into
  // the HDF5-based 7.3 layout, which has no such limit.
  bool v73 = recordCount > 0 && matNeedsV73(static_cast<size_t>(recordCount));
  if (v73) InformMatV73(matFileName, recordCount);
  MATFile* file = matOpen(matFileName, v73 ? "w7.3" : "w");
  if (!file) {
    QWarning("LogFile:ExportMat(); can't open Matlab file");
    return;
  }
  for (int i = 0; i < fieldCount; ++i) {
    const char* name = names[i].CStr();
    if (!*name) {
      // A name line that starts or ends with a space, or a log without one,
      // leaves a field without a name; the file cannot hold such a variable.
      QWarning("LogFile:ExportMat(); can't write variable '' (field %d has no name)", i);
      continue;
    }
    if (v73) {
      // The column goes into the file from where it is: a copy of it would
      // double what a log this long already takes.
      if (matPutDoubleRow(file, name, columns[i], static_cast<size_t>(recordCount)) != 0) {
        int err = errno;
        QWarning("LogFile:ExportMat(); can't write variable '%s' (%s)", name, std::strerror(err));
      }
      continue;
    }
    mxArray* array = mxCreateDoubleMatrix(1, static_cast<mwSize>(recordCount), mxREAL);
    if (!array) {
      QWarning("LogFile:ExportMat(); no memory for variable '%s'", name);
      continue;
    }
    if (recordCount > 0)
      std::memcpy(mxGetPr(array), columns[i], static_cast<size_t>(recordCount) * sizeof(double));
    if (matPutVariable(file, name, array) != 0) {
      int err = errno;
      QWarning("LogFile:ExportMat(); can't write variable '%s' (%s)", name, std::strerror(err));
    }
    mxDestroyArray(array);
  }
  if (matClose(file) != 0) WarnMatNotCompleted(matFileName, errno);
}
