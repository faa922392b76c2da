// Writes the MAT seeds of the fuzz corpus, fuzz_mat's into DIR and
// fuzz_mat73's into DIR73:
//   v5.mat          level 5 through the layer's writer (matOpen "w")
//   v5z.mat         the same variables, each element compressed with zlib
//   v73.mat         (DIR73) the HDF5-based layout through the layer's writer
//                   ("w7.3")
//   v4le.mat, v4be.mat   level 4 in either byte order (the layer has no
//                   level 4 writer; the layout is five int32 words, the
//                   name and the column-major doubles)
//   v5classes.mat   level 5 with the classes our writer never writes: int16
//                   in a small element, char, logical, complex, sparse, cell
//                   and struct
// Usage: fuzz_seedgen DIR DIR73
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mat/mat.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Var {
  const char* name;
  size_t rows, cols;
  std::vector<double> values;
};

const std::vector<Var>& vars() {
  static const std::vector<Var> v = {
      {"time", 1, 5, {0, 0.05, 0.1, 0.15, 0.2}},
      {"speed", 1, 5, {22.5, 22.61, 22.7, -1e300, 5e-324}},
      {"gear", 5, 1, {3, 3, 4, 4, 4}},
      {"empty", 1, 0, {}},
      {"grid", 2, 3, {1, 2, 3, 4, 5, 6}},
  };
  return v;
}

bool writeWith(const std::string& path, const char* mode) {
  MATFile* f = matOpen(path.c_str(), mode);
  if (!f) return false;
  bool ok = true;
  for (const Var& v : vars()) {
    mxArray* a = mxCreateDoubleMatrix(v.rows, v.cols, mxREAL);
    if (!v.values.empty()) std::memcpy(mxGetPr(a), v.values.data(), v.values.size() * sizeof(double));
    ok = matPutVariable(f, v.name, a) == 0 && ok;
    mxDestroyArray(a);
  }
  return matClose(f) == 0 && ok;
}

Bytes readFile(const std::string& path) {
  Bytes b;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    int c;
    while ((c = std::fgetc(f)) != EOF) b.push_back(static_cast<unsigned char>(c));
    std::fclose(f);
  }
  return b;
}

bool writeFile(const std::string& path, const Bytes& b) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
  return std::fclose(f) == 0 && ok;
}

void put32(Bytes& b, uint32_t v, bool big = false) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (big ? 24 - 8 * i : 8 * i)));
}
uint32_t get32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
void putDouble(Bytes& b, double d, bool big = false) {
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  for (int i = 0; i < 8; ++i) b.push_back(static_cast<unsigned char>(bits >> (big ? 56 - 8 * i : 8 * i)));
}
void pad8(Bytes& b) { b.resize((b.size() + 7) / 8 * 8, 0); }

uint64_t get64(const Bytes& b, size_t at) {
  return get32(b, at) | static_cast<uint64_t>(get32(b, at + 4)) << 32;
}

// The 7.3 writer reserves room for the data before HDF5 writes it and leaves
// the reservation (a megabyte) at the end of the file; a seed keeps only
// what the superblock (after the 512-byte user block) says the file holds.
Bytes trimV73(Bytes b) {
  const size_t sb = 512;
  if (b.size() < sb + 48) return b;
  unsigned version = b[sb + 8];
  size_t at = version >= 2 ? sb + 12 : sb + 24;  // base address; the end address 16 bytes on
  uint64_t base = get64(b, at);
  uint64_t end = get64(b, at + 16);
  if (base + end < b.size()) b.resize(static_cast<size_t>(base + end));
  return b;
}

// Every element after the 128-byte header wrapped in a miCOMPRESSED element.
Bytes compressElements(const Bytes& v5) {
  Bytes out(v5.begin(), v5.begin() + 128);
  for (size_t at = 128; at + 8 <= v5.size();) {
    size_t len = 8 + get32(v5, at + 4);
    uLongf n = compressBound(len);
    Bytes z(n);
    compress2(z.data(), &n, v5.data() + at, len, 6);
    put32(out, 15);
    put32(out, static_cast<uint32_t>(n));
    out.insert(out.end(), z.begin(), z.begin() + n);
    at += len;
  }
  return out;
}

Bytes level4(bool big) {
  Bytes b;
  for (const Var& v : vars()) {
    put32(b, big ? 1000 : 0, big);  // IEEE byte order, double, full matrix
    put32(b, static_cast<uint32_t>(v.rows), big);
    put32(b, static_cast<uint32_t>(v.cols), big);
    put32(b, 0, big);
    put32(b, static_cast<uint32_t>(std::strlen(v.name) + 1), big);
    b.insert(b.end(), v.name, v.name + std::strlen(v.name) + 1);
    for (double d : v.values) putDouble(b, d, big);
  }
  return b;
}

// Sub-elements of a level 5 miMATRIX.
void sub(Bytes& b, uint32_t type, const Bytes& data) {
  if (data.size() <= 4 && type != 14) {
    put32(b, static_cast<uint32_t>(data.size()) << 16 | type);  // small element
    Bytes d = data;
    d.resize(4, 0);
    b.insert(b.end(), d.begin(), d.end());
    return;
  }
  put32(b, type);
  put32(b, static_cast<uint32_t>(data.size()));
  b.insert(b.end(), data.begin(), data.end());
  pad8(b);
}
Bytes ints(std::vector<int32_t> v) {
  Bytes b;
  for (int32_t x : v) put32(b, static_cast<uint32_t>(x));
  return b;
}
Bytes dbls(std::vector<double> v) {
  Bytes b;
  for (double d : v) putDouble(b, d);
  return b;
}
Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A miMATRIX element; `rest` follows the name (data, fields, cells).
Bytes matrix(uint32_t flags, std::vector<int32_t> dims, const std::string& name, const Bytes& rest,
             uint32_t nzmax = 0) {
  Bytes body;
  sub(body, 6, ints({static_cast<int32_t>(flags), static_cast<int32_t>(nzmax)}));
  sub(body, 5, ints(dims));
  sub(body, 1, text(name));
  body.insert(body.end(), rest.begin(), rest.end());
  Bytes e;
  put32(e, 14);
  put32(e, static_cast<uint32_t>(body.size()));
  e.insert(e.end(), body.begin(), body.end());
  return e;
}

Bytes classes() {
  Bytes b(128, ' ');
  std::memcpy(b.data(), "MATLAB 5.0 MAT-file, fuzz seed", 30);
  std::memset(b.data() + 116, 0, 8);
  b[124] = 0x00;
  b[125] = 0x01;
  b[126] = 'I';
  b[127] = 'M';
  auto add = [&b](const Bytes& e) { b.insert(b.end(), e.begin(), e.end()); };
  Bytes r;
  sub(r, 3, Bytes{0xff, 0x7f, 0x01, 0x80});  // int16 {32767, -32767} in a small element
  add(matrix(10, {1, 2}, "i16", r));
  r.clear();
  sub(r, 4, Bytes{'h', 0, 'i', 0, '!', 0});  // char as uint16
  add(matrix(4, {1, 3}, "str", r));
  r.clear();
  sub(r, 16, text("\xc3\xa9t\xe2\x82\xac"));  // char as UTF-8
  add(matrix(4, {1, 3}, "utf", r));
  r.clear();
  sub(r, 2, Bytes{1, 0, 1});  // logical uint8
  add(matrix(9 | 0x0200, {3, 1}, "flag", r));
  r.clear();
  sub(r, 9, dbls({1, 2}));
  sub(r, 9, dbls({-1, -2}));
  add(matrix(6 | 0x0800, {1, 2}, "cplx", r));
  r.clear();
  sub(r, 5, ints({0, 2}));     // row indices
  sub(r, 5, ints({0, 1, 2}));  // column starts
  sub(r, 9, dbls({7, 8}));
  add(matrix(5, {3, 2}, "sp", r, 2));
  r.clear();
  r = matrix(6, {1, 1}, "", [] { Bytes d; sub(d, 9, dbls({42})); return d; }());
  add(matrix(1, {1, 1}, "cell", r));
  r.clear();
  sub(r, 5, ints({2}));  // field name length, small element
  sub(r, 1, text(std::string("a\0b\0", 4)));
  {
    Bytes fa, fb;
    sub(fa, 9, dbls({1}));
    sub(fb, 9, dbls({2}));
    Bytes ea = matrix(6, {1, 1}, "", fa), eb = matrix(6, {1, 1}, "", fb);
    r.insert(r.end(), ea.begin(), ea.end());
    r.insert(r.end(), eb.begin(), eb.end());
  }
  add(matrix(2, {1, 1}, "st", r));
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: fuzz_seedgen DIR DIR73\n");
    return 2;
  }
  std::string dir = argv[1], dir73 = argv[2];
  bool ok = writeWith(dir + "/v5.mat", "w") && writeWith(dir73 + "/v73.mat", "w7.3");
  ok = ok && writeFile(dir73 + "/v73.mat", trimV73(readFile(dir73 + "/v73.mat")));
  ok = ok && writeFile(dir + "/v5z.mat", compressElements(readFile(dir + "/v5.mat")));
  ok = ok && writeFile(dir + "/v4le.mat", level4(false)) && writeFile(dir + "/v4be.mat", level4(true));
  ok = ok && writeFile(dir + "/v5classes.mat", classes());
  if (!ok)
    std::fprintf(stderr, "fuzz_seedgen: could not write the seeds into %s and %s\n", dir.c_str(), dir73.c_str());
  return ok ? 0 : 1;
}
