#include "mat/hdf5_api.h"

#include <mutex>
#include <string>

#include "platform/dynlib.h"

#ifndef TRACE_HDF5_LIBRARY
#define TRACE_HDF5_LIBRARY "libhdf5_serial.so"
#endif

namespace hdf5api {

namespace {

Api api;
std::string failure;  // why the library cannot be used; empty once loaded

// Resolves every entry point; the reason of the first that is missing, or
// null.
const char* resolve(void* library) {
#define HDF5API_RESOLVE(name)                                                                     \
  api.name = reinterpret_cast<decltype(api.name)>(platform::SharedLibrarySymbol(library, #name)); \
  if (!api.name) return "an entry point is missing: " #name;
  HDF5API_FUNCTIONS(HDF5API_RESOLVE)
  HDF5API_IDS(HDF5API_RESOLVE)
#undef HDF5API_RESOLVE
  return nullptr;
}

}  // namespace

bool Load(const char** why) {
  static std::once_flag once;
  std::call_once(once, [] {
    // Kept loaded for the life of the process: HDF5 closes its own state at
    // exit.
    const char* error = nullptr;
    void* library = platform::LoadSharedLibrary(TRACE_HDF5_LIBRARY, &error);
    if (!library) {
      failure = error;
      return;
    }
    if (const char* missing = resolve(library)) failure = missing;
  });
  if (!failure.empty() && why) *why = failure.c_str();
  return failure.empty();
}

const Api& Get() { return api; }

}  // namespace hdf5api
