// The messages LogFile::ExportMat shares with the pipeline's direct commit.
#pragma once

// A MAT-file that could not be completed: the target was left as it was.
void WarnMatNotCompleted(const char* matFileName, int err);
// Fields of this many records are too long for level 5: the file is 7.3.
void InformMatV73(const char* matFileName, int records);
