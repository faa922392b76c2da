// Test helper of the MAT layer's interop tests.
//   matcat FILE            prints every variable the reader gives: a line
//                          "V <name>\t<dims, x-separated>" then a line of its
//                          values ("%.17g", blank-separated); "END <n>" at
//                          the end with the count of variables.
//   matcat -w FILE MODE    writes the variables read from standard input,
//                          one per line "<name>\t<values...>", as 1 x N rows
//                          with mode "w" or "w7.3"; prints one status per put.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mat/mat.h"

static int cat(const char* path) {
  MATFile* f = matOpen(path, "r");
  if (!f) {
    std::printf("OPENFAIL\n");
    return 2;
  }
  std::printf("REMAINING %ld\n", matCountRemaining(f));
  const char* name = nullptr;
  int n = 0;
  std::string line;
  while (mxArray* a = matGetNextVariable(f, &name)) {
    std::printf("V %s\t", name);
    const mwSize* dims = mxGetDimensions(a);
    for (mwSize i = 0; i < mxGetNumberOfDimensions(a); ++i) std::printf(i ? "x%zu" : "%zu", dims[i]);
    std::printf("\n");
    const double* v = mxGetPr(a);
    line.clear();
    char buf[40];
    for (mwSize i = 0; i < mxGetNumberOfElements(a); ++i) {
      std::snprintf(buf, sizeof buf, i ? " %.17g" : "%.17g", v[i]);
      line += buf;
    }
    std::printf("%s\n", line.c_str());
    mxDestroyArray(a);
    ++n;
  }
  std::printf("END %d\n", n);
  return matClose(f);
}

static int write(const char* path, const char* mode) {
  MATFile* f = matOpen(path, mode);
  if (!f) {
    std::printf("OPENFAIL\n");
    return 2;
  }
  char* line = nullptr;
  size_t cap = 0;
  ssize_t len;
  while ((len = getline(&line, &cap, stdin)) > 0) {
    if (line[len - 1] == '\n') line[--len] = 0;
    char* tab = std::strchr(line, '\t');
    if (!tab) continue;
    *tab = 0;
    std::vector<double> values;
    for (char* p = tab + 1; *p;) {
      char* end;
      double d = std::strtod(p, &end);
      if (end == p) break;
      values.push_back(d);
      p = end;
    }
    mxArray* a = mxCreateDoubleMatrix(1, values.size(), mxREAL);
    if (!values.empty()) std::memcpy(mxGetPr(a), values.data(), values.size() * sizeof(double));
    std::printf("PUT %d\n", matPutVariable(f, line, a));
    mxDestroyArray(a);
  }
  std::free(line);
  int rc = matClose(f);
  std::printf("CLOSE %d\n", rc);
  return rc;
}

int main(int argc, char** argv) {
  if (argc == 2) return cat(argv[1]);
  if (argc == 4 && std::strcmp(argv[1], "-w") == 0) return write(argv[2], argv[3]);
  std::fprintf(stderr, "usage: matcat FILE | matcat -w FILE MODE\n");
  return 2;
}
