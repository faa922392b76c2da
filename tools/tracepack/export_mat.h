// The warning of a MAT-file that could not be completed: the target was left
// as it was. Shared by LogFile::ExportMat and the pipeline's direct commit.
#pragma once

void WarnMatNotCompleted(const char* matFileName, int err);
