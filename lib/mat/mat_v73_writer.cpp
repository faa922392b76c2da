// 7.3 writer: the HDF5-based layout, for variables too large for level 5.
// HDF5 writes the metadata into the temporary file of a QSafeFile; the MAT
// header goes into the 512-byte user block once HDF5 has closed it, and only
// then is it renamed over the target.
//
// The real data of a double variable do not go through HDF5: its dataset is
// contiguous and its room allocated at creation, never filled, so the data
// have a fixed place that HDF5 itself never writes. We write them there with
// positioned writes of our own, straight from the caller's memory, by as many
// threads as have data ready (MATRowFile); HDF5 would take them in one call,
// from one thread, and only once all of them were in memory.
#include "mat/mat_v73_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <type_traits>

#include "mat/mat_hdf5.h"
#include "mat/mat_header.h"
#include "mat/mat_internal.h"
#include "msg/qlog.h"
#include "io/qsafefile.h"
#include "platform/file_io.h"
// Last: the HDF5 calls below go through the loaded library.
#include "mat/hdf5_calls.h"

// Windows' C runtime has no code for a library that cannot be had: the
// nearest is that of a missing file.
#ifndef ELIBACC
#define ELIBACC ENOENT
#endif

namespace matlayer {

bool QuietHdf5(const char** why) {
  if (!hdf5api::Load(why)) return false;
  static std::once_flag once;
  std::call_once(once, [] { H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr); });
  return true;
}

namespace {

// Closes an HDF5 handle of any kind at scope end.
struct H5Handle {
  hid_t id;
  herr_t (*close)(hid_t);
  H5Handle(hid_t i, herr_t (*c)(hid_t)) : id(i), close(c) {}
  ~H5Handle() {
    if (id >= 0) close(id);
  }
  H5Handle(const H5Handle&) = delete;
  H5Handle& operator=(const H5Handle&) = delete;
  operator hid_t() const { return id; }
  bool ok() const { return id >= 0; }
};

static_assert(std::is_same_v<hid_t, int64_t>, "V73Writer keeps its file as an int64_t");

// Bytes of one positioned write of a variable's data. One write of
// gigabytes costs the kernel many times what the same bytes cost in pieces
// (2 GiB: 2 to 5 s in one write, 0.3 s in pieces of 1 to 64 MiB, Linux 6.18
// on ext4), and pieces this large make the calls themselves cost nothing.
constexpr size_t kWritePiece = size_t{8} << 20;

// What the file takes beyond a variable's data and the user block: its
// dataset's metadata and the groups' growth.
constexpr uint64_t kMetadataSlack = 1 << 20;

bool putClassAttribute(hid_t dataset, const char* cls) {
  H5Handle type(H5Tcopy(H5T_C_S1), H5Tclose);
  if (!type.ok() || H5Tset_size(type, std::strlen(cls)) < 0 || H5Tset_strpad(type, H5T_STR_NULLTERM) < 0)
    return false;
  H5Handle space(H5Screate(H5S_SCALAR), H5Sclose);
  H5Handle attr(H5Acreate2(dataset, "MATLAB_class", type, space, H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
  return attr.ok() && H5Awrite(attr, type, cls) >= 0;
}

}  // namespace

V73Writer::~V73Writer() {
  if (file_ >= 0) H5Fclose(file_);
  if (fd_ >= 0) platform::Close(fd_);
}

bool V73Writer::Open(const char* filename, bool inPlace, bool quiet) {
  const char* why = nullptr;
  if (!QuietHdf5(&why)) {
    if (!quiet) QWarning("matOpen(); can't write '%s' as 7.3: no HDF5 library (%s)", filename, why);
    errno = ELIBACC;
    return false;
  }
  if (!out_.Open(filename, inPlace)) {
    errno = out_.Error();
    return false;
  }
  H5Handle fcpl(H5Pcreate(H5P_FILE_CREATE), H5Pclose);
  if (!fcpl.ok() || H5Pset_userblock(fcpl, 512) < 0 ||
      H5Pset_link_creation_order(fcpl, H5P_CRT_ORDER_TRACKED | H5P_CRT_ORDER_INDEXED) < 0) {
    errno = EIO;
    return false;
  }
  file_ = H5Fcreate(out_.TempPath(), H5F_ACC_TRUNC, fcpl, H5P_DEFAULT);
  if (file_ < 0) {
    errno = EIO;
    return false;
  }
  fd_ = platform::OpenWrite(out_.TempPath());
  if (fd_ < 0) return false;
  return true;
}

// Why a variable of this name cannot be written (errno), or 0.
int V73Writer::refusal(const char* name) {
  if (poisoned_ || file_ < 0 || out_.Failed()) return EIO;
  // HDF5 link names cannot be empty, hold '/' or be "."; a second variable
  // of one name has nowhere to go. Refused, the file stays good.
  if (!*name || std::strchr(name, '/') || std::strcmp(name, ".") == 0) return EINVAL;
  htri_t exists = H5Lexists(file_, name, H5P_DEFAULT);
  if (exists != 0) return exists > 0 ? EEXIST : EINVAL;
  return 0;
}

// HDF5 (1.10) does not survive a failed write: its file close fails and the
// library crashes at exit. So the room for a variable's data and the
// metadata that follows is claimed before HDF5 is given anything to write,
// and a full disk shows up here, as a refusal of the claim. *end is where
// the claimed room ends.
bool V73Writer::claim(const char* name, uint64_t bytes, uint64_t* end) {
  haddr_t eoa = 0;
  if (H5Fget_eoa(file_, &eoa) < 0) {
    poisoned_ = true;
    errno = EIO;
    return false;
  }
  uint64_t extra = 512 + kMetadataSlack + 4 * std::strlen(name);
  const uint64_t most = static_cast<uint64_t>(INT64_MAX);
  if (eoa > most - extra || bytes > most - extra - eoa) {
    errno = EFBIG;
    return false;
  }
  *end = eoa + bytes + extra;
  if (!platform::AllocateSpace(fd_, *end)) {
    poisoned_ = true;
    return false;
  }
  return true;
}

bool V73Writer::createReal(const char* name, const std::vector<mwSize>& dims, size_t count,
                           uint64_t end, uint64_t* offset) {
  // MATLAB lists dimensions fastest-first, HDF5 slowest-first.
  std::vector<hsize_t> hdims(dims.rbegin(), dims.rend());
  H5Handle space(H5Screate_simple(static_cast<int>(hdims.size()), hdims.data(), nullptr), H5Sclose);
  H5Handle dcpl(H5Pcreate(H5P_DATASET_CREATE), H5Pclose);
  if (!space.ok() || !dcpl.ok() || H5Pset_layout(dcpl, H5D_CONTIGUOUS) < 0 ||
      H5Pset_alloc_time(dcpl, H5D_ALLOC_TIME_EARLY) < 0 || H5Pset_fill_time(dcpl, H5D_FILL_TIME_NEVER) < 0)
    return false;
  H5Handle ds(H5Dcreate2(file_, name, H5T_IEEE_F64LE, space, H5P_DEFAULT, dcpl, H5P_DEFAULT), H5Dclose);
  if (!ds.ok() || !putClassAttribute(ds, "double")) return false;
  // The offset counts from the start of the file, user block included; our
  // writes stay inside the claimed room whatever HDF5 answers.
  haddr_t at = H5Dget_offset(ds);
  if (at == HADDR_UNDEF || at < 512 || at > end || count * sizeof(double) > end - at) return false;
  *offset = at;
  return true;
}

int V73Writer::Reserve(const char* name, size_t count, uint64_t* offset) {
  if (int refused = refusal(name)) {
    errno = refused;
    return 1;
  }
  if (count == 0 || count > SIZE_MAX / sizeof(double)) {
    errno = EINVAL;
    return 1;
  }
  uint64_t end = 0;
  if (!claim(name, count * sizeof(double), &end)) return 1;
  if (!createReal(name, {1, count}, count, end, offset)) {
    poisoned_ = true;
    errno = EIO;
    return 1;
  }
  return 0;
}

bool V73Writer::WriteAt(const void* data, size_t size, uint64_t offset) {
  if (out_.WriteAt(data, size, offset)) return true;
  errno = out_.Error();
  return false;
}

int V73Writer::Put(const char* name, const mxArray* a) {
  if (int refused = refusal(name)) {
    errno = refused;
    return 1;
  }
  uint64_t end = 0;
  size_t planes = a->pi ? 2 : 1;
  if (!claim(name, planes * a->count * sizeof(double), &end)) return 1;
  if (a->count == 0 || a->pi) {
    if (!write(name, a)) {
      poisoned_ = true;
      errno = EIO;
      return 1;
    }
    return 0;
  }
  uint64_t at = 0;
  if (!createReal(name, a->dims, a->count, end, &at)) {
    poisoned_ = true;
    errno = EIO;
    return 1;
  }
  const char* data = reinterpret_cast<const char*>(a->pr);
  for (size_t done = 0, bytes = a->count * sizeof(double); done < bytes; done += kWritePiece) {
    if (!WriteAt(data + done, std::min(kWritePiece, bytes - done), at + done)) {
      poisoned_ = true;
      return 1;
    }
  }
  return 0;
}

int V73Writer::Close() {
  bool ok = !poisoned_ && file_ >= 0;
  if (file_ >= 0 && H5Fclose(file_) < 0) ok = false;
  file_ = -1;
  if (fd_ >= 0) platform::Close(fd_);
  fd_ = -1;
  if (ok) {
    unsigned char header[kHeaderSize];
    MakeHeader(header, true);
    // The QSafeFile descriptor still stands at offset 0 (our own writes are
    // positioned): the header lands at the start of the user block HDF5
    // left free.
    ok = out_.Write(header, sizeof header);
  }
  return FinishFile(out_, ok);
}

// The arrays HDF5 writes itself: empty ones and complex ones.
bool V73Writer::write(const char* name, const mxArray* a) {
  if (a->count == 0) {
    // An empty array keeps its dimensions as the data, flagged MATLAB_empty.
    std::vector<unsigned long long> dims(a->dims.begin(), a->dims.end());
    hsize_t n = dims.size();
    H5Handle space(H5Screate_simple(1, &n, nullptr), H5Sclose);
    H5Handle ds(H5Dcreate2(file_, name, H5T_STD_U64LE, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
                H5Dclose);
    if (!ds.ok() || H5Dwrite(ds, H5T_NATIVE_ULLONG, H5S_ALL, H5S_ALL, H5P_DEFAULT, dims.data()) < 0)
      return false;
    H5Handle uspace(H5Screate(H5S_SCALAR), H5Sclose);
    H5Handle attr(H5Acreate2(ds, "MATLAB_empty", H5T_STD_U8LE, uspace, H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
    unsigned char one = 1;
    return attr.ok() && H5Awrite(attr, H5T_NATIVE_UCHAR, &one) >= 0 && putClassAttribute(ds, "double");
  }
  std::vector<hsize_t> dims(a->dims.rbegin(), a->dims.rend());
  H5Handle space(H5Screate_simple(static_cast<int>(dims.size()), dims.data(), nullptr), H5Sclose);
  if (!space.ok()) return false;
  H5Handle ftype(H5Tcreate(H5T_COMPOUND, 16), H5Tclose);
  if (!ftype.ok() || H5Tinsert(ftype, "real", 0, H5T_IEEE_F64LE) < 0 ||
      H5Tinsert(ftype, "imag", 8, H5T_IEEE_F64LE) < 0)
    return false;
  H5Handle ds(H5Dcreate2(file_, name, ftype, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT), H5Dclose);
  if (!ds.ok()) return false;
  // Each part goes in through a one-member memory type, so the two planes
  // need no interleaved copy.
  for (int part = 0; part < 2; ++part) {
    H5Handle mtype(H5Tcreate(H5T_COMPOUND, sizeof(double)), H5Tclose);
    if (!mtype.ok() || H5Tinsert(mtype, part ? "imag" : "real", 0, H5T_NATIVE_DOUBLE) < 0 ||
        H5Dwrite(ds, mtype, H5S_ALL, H5S_ALL, H5P_DEFAULT, part ? a->pi : a->pr) < 0)
      return false;
  }
  return putClassAttribute(ds, "double");
}

MATFile* OpenV73Writer(const char* filename) { return Opened(new V73Writer, filename); }

}  // namespace matlayer
