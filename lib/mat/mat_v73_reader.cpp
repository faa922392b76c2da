// 7.3 reader: the HDF5-based layout, read through the HDF5 C library. The
// variables are the root group's links (in creation order when the file
// tracks it, else in name order), less MATLAB's own "#refs#" and
// "#subsystem#" groups.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

#include "mat/mat_hdf5.h"
#include "mat/mat_reader.h"
// Last: the HDF5 calls below go through the loaded library.
#include "mat/hdf5_calls.h"

namespace matlayer {

namespace {

struct Closer {
  hid_t id;
  herr_t (*close)(hid_t);
  ~Closer() {
    if (id >= 0) close(id);
  }
};

// The text of a string attribute, fixed or variable length; empty if none.
std::string stringAttribute(hid_t obj, const char* attrName) {
  if (H5Aexists(obj, attrName) <= 0) return {};
  Closer attr{H5Aopen(obj, attrName, H5P_DEFAULT), H5Aclose};
  if (attr.id < 0) return {};
  Closer type{H5Aget_type(attr.id), H5Tclose};
  if (type.id < 0 || H5Tget_class(type.id) != H5T_STRING) return {};
  Closer space{H5Aget_space(attr.id), H5Sclose};
  if (H5Sget_simple_extent_npoints(space.id) != 1) return {};
  if (H5Tis_variable_str(type.id) > 0) {
    Closer mem{H5Tcopy(H5T_C_S1), H5Tclose};
    H5Tset_size(mem.id, H5T_VARIABLE);
    char* text = nullptr;
    if (H5Aread(attr.id, mem.id, &text) < 0 || !text) return {};
    std::string out(text);
    H5free_memory(text);
    return out;
  }
  size_t size = H5Tget_size(type.id);
  if (size == 0 || size > 4096) return {};
  std::vector<char> buf(size + 1, 0);
  Closer mem{H5Tcopy(H5T_C_S1), H5Tclose};
  H5Tset_size(mem.id, size + 1);
  if (H5Aread(attr.id, mem.id, buf.data()) < 0) return {};
  return std::string(buf.data());
}

bool uintAttribute(hid_t obj, const char* attrName, unsigned long long* value) {
  if (H5Aexists(obj, attrName) <= 0) return false;
  Closer attr{H5Aopen(obj, attrName, H5P_DEFAULT), H5Aclose};
  Closer space{H5Aget_space(attr.id), H5Sclose};
  if (attr.id < 0 || H5Sget_simple_extent_npoints(space.id) != 1) return false;
  return H5Aread(attr.id, H5T_NATIVE_ULLONG, value) >= 0;
}

// HDF5 sizes its buffers by what the file states, before it reads any data:
// the conversion buffers by the element size, a chunk buffer by the chunk's
// dimensions. No number of a MAT-file takes more than 16 bytes (a complex
// double), and a chunk far larger than its dataset (a megabyte is always
// allowed) is a claim to refuse, not data.
bool sizesFit(hid_t ds, uint64_t count) {
  Closer type{H5Dget_type(ds), H5Tclose};
  Closer dcpl{H5Dget_create_plist(ds), H5Pclose};
  if (type.id < 0 || dcpl.id < 0) return false;
  uint64_t size = H5Tget_size(type.id);
  if (size == 0 || size > 16) return false;
  if (H5Pget_layout(dcpl.id) != H5D_CHUNKED) return true;
  hsize_t chunk[H5S_MAX_RANK];
  int rank = H5Pget_chunk(dcpl.id, H5S_MAX_RANK, chunk);
  if (rank < 0) return false;
  uint64_t data = count > UINT64_MAX / size ? UINT64_MAX : count * size;
  uint64_t bytes = size;
  for (int i = 0; i < rank; ++i) {
    if (chunk[i] && bytes > UINT64_MAX / chunk[i]) return false;
    bytes *= chunk[i];
  }
  return bytes <= std::max<uint64_t>(data, uint64_t{1} << 20);
}

bool isNumericClass(const std::string& cls) {
  static const char* const kNames[] = {"double", "single", "int8",  "uint8",  "int16",   "uint16",
                                       "int32",  "uint32", "int64", "uint64", "logical", "char"};
  for (const char* n : kNames)
    if (cls == n) return true;
  return false;
}

class V73Reader final : public ReaderBase {
 public:
  V73Reader(const std::string& path, int fd, uint64_t size) : ReaderBase(path, fd, size) {}
  ~V73Reader() override {
    if (file_ >= 0) H5Fclose(file_);
  }
  bool Open();
  mxArray* Next(const char** name) override;
  long CountRemaining() override { return done_ ? 0 : static_cast<long>(names_.size() - next_); }

 private:
  mxArray* dataset(hid_t ds, const std::string& name);
  mxArray* group(hid_t g, const std::string& name);
  // Reads a whole dataset as doubles (the real member of a complex one).
  bool readDoubles(hid_t ds, double* dst, size_t count);
  mxArray* nan(const std::string& name, std::vector<mwSize> dims, const char* cls);
  void bad(const std::string& why) { damagedVariable(names_[next_ - 1], why); }

  hid_t file_ = -1;
  std::vector<std::string> names_;
  size_t next_ = 0;
};

bool V73Reader::Open() {
  if (!QuietHdf5()) return false;
  file_ = H5Fopen(path_.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
  if (file_ < 0) return false;
  H5G_info_t info;
  if (H5Gget_info(file_, &info) < 0) return false;
  // Creation order only where the file kept it; otherwise HDF5 can only
  // give the names in name order.
  H5_index_t order = H5_INDEX_NAME;
  {
    Closer root{H5Gopen2(file_, "/", H5P_DEFAULT), H5Gclose};
    Closer gcpl{root.id >= 0 ? H5Gget_create_plist(root.id) : -1, H5Pclose};
    unsigned flags = 0;
    if (gcpl.id >= 0 && H5Pget_link_creation_order(gcpl.id, &flags) >= 0 && (flags & H5P_CRT_ORDER_TRACKED))
      order = H5_INDEX_CRT_ORDER;
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    names_.clear();
    bool ok = true;
    for (hsize_t i = 0; i < info.nlinks && ok; ++i) {
      ssize_t len = H5Lget_name_by_idx(file_, ".", order, H5_ITER_INC, i, nullptr, 0, H5P_DEFAULT);
      if (len < 0) {
        ok = false;
        break;
      }
      std::string n(static_cast<size_t>(len) + 1, '\0');
      if (H5Lget_name_by_idx(file_, ".", order, H5_ITER_INC, i, n.data(), n.size(), H5P_DEFAULT) < 0) {
        ok = false;
        break;
      }
      n.resize(static_cast<size_t>(len));
      if (n != "#refs#" && n != "#subsystem#") names_.push_back(n);
    }
    if (ok) return true;
    if (order == H5_INDEX_NAME) return false;
    order = H5_INDEX_NAME;
  }
  return false;
}

mxArray* V73Reader::nan(const std::string& name, std::vector<mwSize> dims, const char* cls) {
  // As in a level 5 file, a variable without numbers stands for at most one
  // NaN per byte; HDF5 tells no object's own bytes, so the whole file's size
  // bounds it. A dataspace is a claim a dataset need not back with storage.
  size_t count;
  if (!CountOf(dims, &count) || count > size_) {
    bad("the " + std::string(cls) + " claims " + dimsText(dims) + " elements, more than the file's " +
        std::to_string(size_) + " bytes stand for");
    return nullptr;
  }
  mxArray* a = NewArray(dims, false, false, true);
  if (!a) {
    tooLarge(name, dims);
    return nullptr;
  }
  for (size_t i = 0; i < a->count; ++i) a->pr[i] = std::numeric_limits<double>::quiet_NaN();
  noNumbers(name, cls, a->count);
  return a;
}

bool V73Reader::readDoubles(hid_t ds, double* dst, size_t count) {
  if (count == 0) return true;
  if (!sizesFit(ds, count)) return false;
  Closer type{H5Dget_type(ds), H5Tclose};
  if (type.id < 0) return false;
  H5T_class_t tc = H5Tget_class(type.id);
  if (tc == H5T_COMPOUND) {
    if (H5Tget_member_index(type.id, "real") < 0) return false;
    Closer mem{H5Tcreate(H5T_COMPOUND, sizeof(double)), H5Tclose};
    if (mem.id < 0 || H5Tinsert(mem.id, "real", 0, H5T_NATIVE_DOUBLE) < 0) return false;
    return H5Dread(ds, mem.id, H5S_ALL, H5S_ALL, H5P_DEFAULT, dst) >= 0;
  }
  if (tc != H5T_INTEGER && tc != H5T_FLOAT && tc != H5T_ENUM) return false;
  return H5Dread(ds, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, dst) >= 0;
}

mxArray* V73Reader::dataset(hid_t ds, const std::string& name) {
  std::string cls = stringAttribute(ds, "MATLAB_class");
  Closer space{H5Dget_space(ds), H5Sclose};
  int rank = space.id >= 0 ? H5Sget_simple_extent_ndims(space.id) : -1;
  if (rank < 0 || rank > 64) {
    bad("its dataspace cannot be read");
    return nullptr;
  }
  hsize_t h5dims[64];
  H5Sget_simple_extent_dims(space.id, h5dims, nullptr);
  // MATLAB's dimensions are HDF5's in reverse; a lone HDF5 dimension is a
  // column, a scalar dataspace one value.
  std::vector<mwSize> dims;
  for (int i = rank - 1; i >= 0; --i) dims.push_back(static_cast<mwSize>(h5dims[i]));
  while (dims.size() < 2) dims.push_back(1);

  unsigned long long empty = 0;
  if (uintAttribute(ds, "MATLAB_empty", &empty) && empty) {
    // An empty array stores its dimensions as its data.
    std::vector<unsigned long long> stored(rank == 1 ? h5dims[0] : 0);
    if (stored.size() < 2 || stored.size() > 64 || !sizesFit(ds, stored.size()) ||
        H5Dread(ds, H5T_NATIVE_ULLONG, H5S_ALL, H5S_ALL, H5P_DEFAULT, stored.data()) < 0)
      stored = {0, 0};
    dims.assign(stored.begin(), stored.end());
    size_t count;
    if (!CountOf(dims, &count) || count != 0) dims = {0, 0};
    mxArray* a = NewArray(dims, false, false, true);
    if (!a) bad("no memory");
    return a;
  }
  if (!cls.empty() && !isNumericClass(cls)) return nan(name, dims, cls.c_str());
  Closer type{H5Dget_type(ds), H5Tclose};
  H5T_class_t tc = type.id >= 0 ? H5Tget_class(type.id) : H5T_NO_CLASS;
  if (cls.empty() && tc != H5T_INTEGER && tc != H5T_FLOAT && tc != H5T_COMPOUND)
    return nan(name, dims, "dataset without numbers");
  mxArray* a = NewArray(dims, false, false, true);
  if (!a) {
    tooLarge(name, dims);
    return nullptr;
  }
  std::unique_ptr<mxArray> hold(a);
  if (!readDoubles(ds, a->pr, a->count)) {
    bad("its data cannot be read as numbers");
    return nullptr;
  }
  return hold.release();
}

mxArray* V73Reader::group(hid_t g, const std::string& name) {
  std::string cls = stringAttribute(g, "MATLAB_class");
  unsigned long long rows = 0;
  if (!uintAttribute(g, "MATLAB_sparse", &rows)) return nan(name, {1, 1}, cls.empty() ? "group" : cls.c_str());
  // A sparse matrix: column starts "jc", row indices "ir", values "data".
  auto readIndex = [&](const char* part, std::vector<unsigned long long>* out) {
    out->clear();
    if (H5Lexists(g, part, H5P_DEFAULT) <= 0) return true;
    Closer ds{H5Dopen2(g, part, H5P_DEFAULT), H5Dclose};
    Closer space{ds.id >= 0 ? H5Dget_space(ds.id) : -1, H5Sclose};
    hssize_t n = space.id >= 0 ? H5Sget_simple_extent_npoints(space.id) : -1;
    if (n < 0 || static_cast<uint64_t>(n) > size_) return false;
    out->resize(static_cast<size_t>(n));
    return n == 0 || (sizesFit(ds.id, static_cast<uint64_t>(n)) && H5Dread(ds.id, H5T_NATIVE_ULLONG, H5S_ALL, H5S_ALL, H5P_DEFAULT, out->data()) >= 0);
  };
  std::vector<unsigned long long> jc, ir;
  if (!readIndex("jc", &jc) || !readIndex("ir", &ir) || jc.empty() || jc[0] != 0) {
    bad("its sparse indices cannot be read");
    return nullptr;
  }
  size_t cols = jc.size() - 1;
  uint64_t nnz = jc[cols];
  for (size_t j = 0; j < cols; ++j)
    if (jc[j + 1] < jc[j]) nnz = UINT64_MAX;
  if (nnz > ir.size()) {
    bad("its sparse column starts do not match its row indices");
    return nullptr;
  }
  for (uint64_t k = 0; k < nnz; ++k)
    if (ir[k] >= rows) {
      bad("a sparse row index lies outside the matrix");
      return nullptr;
    }
  std::vector<double> values(static_cast<size_t>(nnz));
  if (nnz) {
    Closer ds{H5Lexists(g, "data", H5P_DEFAULT) > 0 ? H5Dopen2(g, "data", H5P_DEFAULT) : -1, H5Dclose};
    Closer space{ds.id >= 0 ? H5Dget_space(ds.id) : -1, H5Sclose};
    if (space.id < 0 || H5Sget_simple_extent_npoints(space.id) != static_cast<hssize_t>(nnz) ||
        !readDoubles(ds.id, values.data(), values.size())) {
      bad("its sparse values cannot be read");
      return nullptr;
    }
  }
  std::vector<mwSize> dims = {static_cast<mwSize>(rows), cols};
  mxArray* a = NewArray(dims, false, true, true);
  if (!a) {
    tooLarge(name, dims);
    return nullptr;
  }
  for (size_t j = 0; j < cols; ++j)
    for (uint64_t k = jc[j]; k < jc[j + 1]; ++k) a->pr[j * rows + ir[k]] += values[k];
  return a;
}

mxArray* V73Reader::Next(const char**) {
  while (!done_ && next_ < names_.size()) {
    const std::string& name = names_[next_++];
    Closer obj{H5Oopen(file_, name.c_str(), H5P_DEFAULT), H5Oclose};
    if (obj.id < 0) {
      bad("it cannot be opened");
      return nullptr;
    }
    H5I_type_t kind = H5Iget_type(obj.id);
    mxArray* a = nullptr;
    if (kind == H5I_DATASET)
      a = dataset(obj.id, name);
    else if (kind == H5I_GROUP)
      a = group(obj.id, name);
    else
      a = nan(name, {1, 1}, "named type");
    if (done_) {
      delete a;
      return nullptr;
    }
    if (!a) continue;  // too large: skipped with a warning
    a->name = name;
    ++index_;
    return a;
  }
  done_ = true;
  return nullptr;
}

}  // namespace

MATFile* OpenV73ReaderInProcess(const std::string& path, int fd, uint64_t size) {
  return Opened(new V73Reader(path, fd, size));
}

}  // namespace matlayer
