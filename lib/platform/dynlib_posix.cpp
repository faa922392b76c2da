#include "platform/dynlib.h"

#include <dlfcn.h>

namespace platform {

void* LoadSharedLibrary(const char* name, const char** why) {
  void* library = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (!library && why) {
    const char* error = ::dlerror();
    *why = error ? error : "the library cannot be loaded";
  }
  return library;
}

void* SharedLibrarySymbol(void* library, const char* name) { return ::dlsym(library, name); }

}  // namespace platform
