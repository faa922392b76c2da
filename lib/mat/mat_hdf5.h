// Shared HDF5 set-up of the 7.3 reader and writer.
#pragma once

namespace matlayer {

// Turns off HDF5's own printing of error stacks (the layer reports failures
// itself); safe to call any number of times.
void QuietHdf5();

}  // namespace matlayer
