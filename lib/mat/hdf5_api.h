// The HDF5 library's entry points, loaded when a 7.3 file is first read or
// written rather than linked: the library brings some forty others with it,
// whose loading would otherwise add milliseconds to every start of the
// programs, most of which never meet a 7.3 file.
//
// The files that call HDF5 include hdf5_calls.h after this header; their
// calls, written as usual, then go through the loaded entry points.
#pragma once

// Windows has no HDF5 to build against: our own declarations of the part
// used, for the hdf5.dll found at run time.
#if defined(_WIN32)
#include "mat/hdf5_decls.h"
#else
#include <hdf5.h>
#endif

namespace hdf5api {

#define HDF5API_FUNCTIONS(X)                                                                  \
  X(H5open) X(H5check_version) X(H5free_memory) X(H5Eset_auto2)                               \
  X(H5Aclose) X(H5Acreate2) X(H5Aexists) X(H5Aget_space) X(H5Aget_type) X(H5Aopen)            \
  X(H5Aread) X(H5Awrite)                                                                      \
  X(H5Dclose) X(H5Dcreate2) X(H5Dget_create_plist) X(H5Dget_offset) X(H5Dget_space)          \
  X(H5Dget_type) X(H5Dopen2) X(H5Dread) X(H5Dwrite)                                           \
  X(H5Fclose) X(H5Fcreate) X(H5Fget_eoa) X(H5Fopen)                                           \
  X(H5Gclose) X(H5Gget_create_plist) X(H5Gget_info) X(H5Gopen2)                               \
  X(H5Iget_type) X(H5Lexists) X(H5Lget_name_by_idx) X(H5Oclose) X(H5Oopen)                    \
  X(H5Pclose) X(H5Pcreate) X(H5Pget_chunk) X(H5Pget_layout) X(H5Pget_link_creation_order)     \
  X(H5Pset_alloc_time) X(H5Pset_fill_time) X(H5Pset_layout) X(H5Pset_link_creation_order)     \
  X(H5Pset_userblock)                                                                         \
  X(H5Sclose) X(H5Screate) X(H5Screate_simple) X(H5Sget_simple_extent_dims)                   \
  X(H5Sget_simple_extent_ndims) X(H5Sget_simple_extent_npoints)                               \
  X(H5Tclose) X(H5Tcopy) X(H5Tcreate) X(H5Tget_class) X(H5Tget_member_index) X(H5Tget_size)   \
  X(H5Tinsert) X(H5Tis_variable_str) X(H5Tset_size) X(H5Tset_strpad)

// The library's predefined types and classes, identifiers it sets up in
// H5open.
#define HDF5API_IDS(X)                                                                        \
  X(H5P_CLS_DATASET_CREATE_ID_g) X(H5P_CLS_FILE_CREATE_ID_g) X(H5T_C_S1_g) X(H5T_IEEE_F64LE_g)  \
  X(H5T_NATIVE_DOUBLE_g) X(H5T_NATIVE_UCHAR_g) X(H5T_NATIVE_ULLONG_g) X(H5T_STD_U64LE_g)       \
  X(H5T_STD_U8LE_g)

struct Api {
#define HDF5API_FUNCTION_POINTER(name) decltype(&::name) name;
  HDF5API_FUNCTIONS(HDF5API_FUNCTION_POINTER)
#undef HDF5API_FUNCTION_POINTER
#define HDF5API_ID_POINTER(name) const hid_t* name;
  HDF5API_IDS(HDF5API_ID_POINTER)
#undef HDF5API_ID_POINTER
};

// Loads the library on the first call, from any thread. False, with the
// loader's reason in *why when given, when it or one of its entry points
// cannot be had.
bool Load(const char** why = nullptr);

// The entry points: only once Load has returned true.
const Api& Get();

}  // namespace hdf5api
