// The array calls (mxCreateDoubleMatrix, mxGetPr, ...) and the allocation
// guard shared by the layer's writers and readers.
#include <cstdlib>
#include <new>

#include "mat/mat_internal.h"
#include "platform/memory.h"

mxArray::~mxArray() {
  if (!mapping) std::free(pr);
  std::free(pi);
}

namespace matlayer {

bool CountOf(const std::vector<mwSize>& dims, size_t* count) {
  size_t n = 1;
  for (mwSize d : dims) {
    if (d == 0) {
      *count = 0;
      return true;
    }
  }
  for (mwSize d : dims) {
    if (n > SIZE_MAX / d) return false;
    n *= d;
  }
  *count = n;
  return true;
}

mxArray* NewArray(std::vector<mwSize> dims, bool complex, bool zero, bool limited) {
  size_t count;
  if (!CountOf(dims, &count) || count > SIZE_MAX / sizeof(double)) return nullptr;
  size_t bytes = count * sizeof(double);
  if (limited && bytes > MemoryLimit()) return nullptr;
  // Reading fills every slot, so only a caller-visible new array is zeroed;
  // calloc gets fresh zero pages for big arrays without touching them.
  // Arrays are filled in bulk: huge pages take their first touch.
  size_t alloc = bytes ? bytes : sizeof(double);
  auto get = [&]() {
    void* p = zero ? std::calloc(1, alloc) : platform::AllocateLarge(alloc);
    if (p && zero) platform::AdviseHugePages(p, alloc);
    return static_cast<double*>(p);
  };
  mxArray* a = new (std::nothrow) mxArray;
  if (!a) return nullptr;
  try {
    a->dims = std::move(dims);
  } catch (...) {
    delete a;
    return nullptr;
  }
  a->count = count;
  a->pr = get();
  if (complex) a->pi = get();
  if (!a->pr || (complex && !a->pi)) {
    delete a;
    return nullptr;
  }
  return a;
}

}  // namespace matlayer

mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity complexity) {
  return matlayer::NewArray({m, n}, complexity == mxCOMPLEX, true, false);
}

double* mxGetPr(const mxArray* array) { return array ? array->pr : nullptr; }

mwSize mxGetNumberOfDimensions(const mxArray* array) { return array ? array->dims.size() : 0; }

const mwSize* mxGetDimensions(const mxArray* array) {
  return array ? array->dims.data() : nullptr;
}

mwSize mxGetNumberOfElements(const mxArray* array) { return array ? array->count : 0; }

void mxDestroyArray(mxArray* array) { delete array; }

std::shared_ptr<const void> mxGetMapping(const mxArray* array) {
  return array ? array->mapping : nullptr;
}

double* mxTakePr(mxArray* array) {
  if (!array || array->mapping) return nullptr;
  double* data = array->pr;
  array->pr = nullptr;
  return data;
}
