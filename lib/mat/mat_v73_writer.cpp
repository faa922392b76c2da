// 7.3 writer: the HDF5-based layout, for variables too large for level 5.
// HDF5 writes the temporary file of a QSafeFile; the MAT header goes into the
// 512-byte user block once HDF5 has closed it, and only then is it renamed
// over the target.
#include <cerrno>
#include <cstring>
#include <mutex>

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

bool putClassAttribute(hid_t dataset, const char* cls) {
  H5Handle type(H5Tcopy(H5T_C_S1), H5Tclose);
  if (!type.ok() || H5Tset_size(type, std::strlen(cls)) < 0 || H5Tset_strpad(type, H5T_STR_NULLTERM) < 0)
    return false;
  H5Handle space(H5Screate(H5S_SCALAR), H5Sclose);
  H5Handle attr(H5Acreate2(dataset, "MATLAB_class", type, space, H5P_DEFAULT, H5P_DEFAULT), H5Aclose);
  return attr.ok() && H5Awrite(attr, type, cls) >= 0;
}

class V73Writer final : public MATFile {
 public:
  ~V73Writer() override {
    if (file_ >= 0) H5Fclose(file_);
    if (fd_ >= 0) platform::Close(fd_);
  }

  bool Open(const char* filename) {
    const char* why = nullptr;
    if (!QuietHdf5(&why)) {
      QWarning("matOpen(); can't write '%s' as 7.3: no HDF5 library (%s)", filename, why);
      errno = ELIBACC;
      return false;
    }
    if (!out_.Open(filename)) {
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

  int Put(const char* name, const mxArray* a) override {
    if (poisoned_ || file_ < 0) {
      errno = EIO;
      return 1;
    }
    // HDF5 link names cannot be empty, hold '/' or be "."; a second
    // variable of one name has nowhere to go. Refused, the file stays good.
    if (!*name || std::strchr(name, '/') || std::strcmp(name, ".") == 0) {
      errno = EINVAL;
      return 1;
    }
    htri_t exists = H5Lexists(file_, name, H5P_DEFAULT);
    if (exists != 0) {
      errno = exists > 0 ? EEXIST : EINVAL;
      return 1;
    }
    // HDF5 (1.10) does not survive a failed write: its file close fails and
    // the library crashes at exit. So the room for the data and the metadata
    // that follows is reserved before HDF5 is given anything to write, and a
    // full disk shows up here, as a refusal of the reservation.
    haddr_t eoa = 0;
    size_t planes = a->pi ? 2 : 1;
    if (H5Fget_eoa(file_, &eoa) < 0) {
      poisoned_ = true;
      errno = EIO;
      return 1;
    }
    uint64_t need = eoa + planes * a->count * sizeof(double) + kMetadataSlack + 4 * std::strlen(name);
    if (need > static_cast<uint64_t>(INT64_MAX)) {
      errno = EFBIG;
      return 1;
    }
    if (!platform::AllocateSpace(fd_, need)) {
      poisoned_ = true;
      return 1;
    }
    if (!write(name, a)) {
      poisoned_ = true;
      errno = EIO;
      return 1;
    }
    return 0;
  }

  int Close() override {
    bool ok = !poisoned_ && file_ >= 0;
    if (file_ >= 0 && H5Fclose(file_) < 0) ok = false;
    file_ = -1;
    if (fd_ >= 0) platform::Close(fd_);
    fd_ = -1;
    if (ok) {
      unsigned char header[kHeaderSize];
      MakeHeader(header, true);
      // The QSafeFile descriptor still stands at offset 0: the header lands
      // at the start of the user block HDF5 left free.
      ok = out_.Write(header, sizeof header);
    }
    return FinishFile(out_, ok);
  }

 private:
  bool write(const char* name, const mxArray* a) {
    bool complex = a->pi != nullptr;
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
    // MATLAB lists dimensions fastest-first, HDF5 slowest-first.
    std::vector<hsize_t> dims(a->dims.rbegin(), a->dims.rend());
    H5Handle space(H5Screate_simple(static_cast<int>(dims.size()), dims.data(), nullptr), H5Sclose);
    if (!space.ok()) return false;
    if (!complex) {
      H5Handle ds(H5Dcreate2(file_, name, H5T_IEEE_F64LE, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT),
                  H5Dclose);
      return ds.ok() && H5Dwrite(ds, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, a->pr) >= 0 &&
             putClassAttribute(ds, "double");
    }
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

  static constexpr uint64_t kMetadataSlack = 1 << 20;

  QSafeFile out_;
  int fd_ = -1;
  hid_t file_ = -1;
  bool poisoned_ = false;
};

}  // namespace

MATFile* OpenV73Writer(const char* filename) { return Opened(new V73Writer, filename); }

}  // namespace matlayer
