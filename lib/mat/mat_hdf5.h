// Shared HDF5 set-up of the 7.3 reader and writer.
#pragma once

namespace matlayer {

// Loads the HDF5 library and turns off its own printing of error stacks
// (the layer reports failures itself); safe to call any number of times.
// False, with the reason in *why when given, when the library cannot be
// loaded.
bool QuietHdf5(const char** why = nullptr);

}  // namespace matlayer
