// Advisory locks on whole files, held by one process at a time.
#pragma once

namespace platform {

// Takes the exclusive lock of the open file fd without waiting; false when
// another holder has it (or locks are not to be had). Closing fd frees it.
bool TryLockFile(int fd);

}  // namespace platform
