#include "mat/mat_internal.h"
#include <cerrno>
namespace matlayer {
MATFile* OpenReader(const char*) { errno = ENOSYS; return nullptr; }
}
