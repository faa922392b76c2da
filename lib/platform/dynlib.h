// Shared libraries loaded at run time, by name, and their entry points.
#pragma once

namespace platform {

// The library known to the loader as name, kept loaded for the life of the
// process; null, with the loader's reason in *why, when it cannot be had.
void* LoadSharedLibrary(const char* name, const char** why);
// The entry point called name, or null.
void* SharedLibrarySymbol(void* library, const char* name);

}  // namespace platform
