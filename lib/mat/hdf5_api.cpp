#include "mat/hdf5_api.h"

#include <dlfcn.h>

#include <mutex>
#include <string>

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
#define HDF5API_RESOLVE(name)                                                    \
  api.name = reinterpret_cast<decltype(api.name)>(::dlsym(library, #name));      \
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
    void* library = ::dlopen(TRACE_HDF5_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
      const char* error = ::dlerror();
      failure = error ? error : "the HDF5 library cannot be loaded";
      return;
    }
    if (const char* missing = resolve(library)) failure = missing;
  });
  if (!failure.empty() && why) *why = failure.c_str();
  return failure.empty();
}

const Api& Get() { return api; }

}  // namespace hdf5api
