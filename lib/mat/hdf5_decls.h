// The part of HDF5's C interface this layer uses, declared for 64-bit
// Windows, where no HDF5 headers are at hand when building and hdf5.dll is
// found (or not) at run time. The types, values and signatures are those of
// HDF5 1.10 to 1.14, the same in all three where they are used here: hid_t
// of 64 bits (1.10 on), herr_t and htri_t int, sizes and addresses unsigned
// 64-bit. Nothing here is linked: hdf5_api.h takes only the functions' types.
#pragma once

#include <cstddef>
#include <cstdint>

using hid_t = int64_t;
using herr_t = int;
using htri_t = int;
using hsize_t = unsigned long long;
using hssize_t = signed long long;
using haddr_t = uint64_t;
using hbool_t = bool;


#define H5P_DEFAULT (static_cast<hid_t>(0))
#define H5S_ALL (static_cast<hid_t>(0))
#define H5E_DEFAULT (static_cast<hid_t>(0))
#define H5S_MAX_RANK 32
#define HADDR_UNDEF (~static_cast<haddr_t>(0))
#define H5T_VARIABLE (static_cast<size_t>(-1))
#define H5F_ACC_RDONLY (0x0000u)
#define H5F_ACC_TRUNC (0x0002u)
#define H5P_CRT_ORDER_TRACKED 0x0001
#define H5P_CRT_ORDER_INDEXED 0x0002

enum H5T_class_t {
  H5T_NO_CLASS = -1,
  H5T_INTEGER = 0,
  H5T_FLOAT = 1,
  H5T_TIME = 2,
  H5T_STRING = 3,
  H5T_BITFIELD = 4,
  H5T_OPAQUE = 5,
  H5T_COMPOUND = 6,
  H5T_REFERENCE = 7,
  H5T_ENUM = 8,
  H5T_VLEN = 9,
  H5T_ARRAY = 10,
  H5T_NCLASSES
};

enum H5T_str_t { H5T_STR_ERROR = -1, H5T_STR_NULLTERM = 0, H5T_STR_NULLPAD = 1, H5T_STR_SPACEPAD = 2 };

enum H5S_class_t { H5S_NO_CLASS = -1, H5S_SCALAR = 0, H5S_SIMPLE = 1, H5S_NULL = 2 };

enum H5D_alloc_time_t { H5D_ALLOC_TIME_ERROR = -1, H5D_ALLOC_TIME_DEFAULT = 0, H5D_ALLOC_TIME_EARLY = 1,
                        H5D_ALLOC_TIME_LATE = 2, H5D_ALLOC_TIME_INCR = 3 };

enum H5D_fill_time_t { H5D_FILL_TIME_ERROR = -1, H5D_FILL_TIME_ALLOC = 0, H5D_FILL_TIME_NEVER = 1,
                       H5D_FILL_TIME_IFSET = 2 };

enum H5D_layout_t { H5D_LAYOUT_ERROR = -1, H5D_COMPACT = 0, H5D_CONTIGUOUS = 1, H5D_CHUNKED = 2, H5D_VIRTUAL = 3 };

enum H5_index_t { H5_INDEX_UNKNOWN = -1, H5_INDEX_NAME = 0, H5_INDEX_CRT_ORDER = 1, H5_INDEX_N };

enum H5_iter_order_t { H5_ITER_UNKNOWN = -1, H5_ITER_INC = 0, H5_ITER_DEC = 1, H5_ITER_NATIVE = 2, H5_ITER_N };

// Only the values this layer compares with; they are the same from 1.10 to
// 1.14 (1.12 added H5I_MAP after H5I_DATASET).
enum H5I_type_t { H5I_UNINIT = -2, H5I_BADID = -1, H5I_FILE = 1, H5I_GROUP = 2, H5I_DATATYPE = 3,
                  H5I_DATASPACE = 4, H5I_DATASET = 5 };

enum H5G_storage_type_t {
  H5G_STORAGE_TYPE_UNKNOWN = -1,
  H5G_STORAGE_TYPE_SYMBOL_TABLE = 0,
  H5G_STORAGE_TYPE_COMPACT = 1,
  H5G_STORAGE_TYPE_DENSE = 2
};

struct H5G_info_t {
  H5G_storage_type_t storage_type;
  hsize_t nlinks;
  int64_t max_corder;
  hbool_t mounted;
};

using H5E_auto2_t = herr_t (*)(hid_t estack, void* client_data);

extern "C" {
herr_t H5open(void);
herr_t H5check_version(unsigned majnum, unsigned minnum, unsigned relnum);
herr_t H5free_memory(void* mem);
herr_t H5Eset_auto2(hid_t estack_id, H5E_auto2_t func, void* client_data);

herr_t H5Aclose(hid_t attr_id);
hid_t H5Acreate2(hid_t loc_id, const char* attr_name, hid_t type_id, hid_t space_id, hid_t acpl_id, hid_t aapl_id);
htri_t H5Aexists(hid_t obj_id, const char* attr_name);
hid_t H5Aget_space(hid_t attr_id);
hid_t H5Aget_type(hid_t attr_id);
hid_t H5Aopen(hid_t obj_id, const char* attr_name, hid_t aapl_id);
herr_t H5Aread(hid_t attr_id, hid_t type_id, void* buf);
herr_t H5Awrite(hid_t attr_id, hid_t type_id, const void* buf);

herr_t H5Dclose(hid_t dset_id);
hid_t H5Dcreate2(hid_t loc_id, const char* name, hid_t type_id, hid_t space_id, hid_t lcpl_id, hid_t dcpl_id,
                 hid_t dapl_id);
hid_t H5Dget_create_plist(hid_t dset_id);
haddr_t H5Dget_offset(hid_t dset_id);
hid_t H5Dget_space(hid_t dset_id);
hid_t H5Dget_type(hid_t dset_id);
hid_t H5Dopen2(hid_t loc_id, const char* name, hid_t dapl_id);
herr_t H5Dread(hid_t dset_id, hid_t mem_type_id, hid_t mem_space_id, hid_t file_space_id, hid_t plist_id,
               void* buf);
herr_t H5Dwrite(hid_t dset_id, hid_t mem_type_id, hid_t mem_space_id, hid_t file_space_id, hid_t plist_id,
                const void* buf);

herr_t H5Fclose(hid_t file_id);
hid_t H5Fcreate(const char* filename, unsigned flags, hid_t fcpl_id, hid_t fapl_id);
herr_t H5Fget_eoa(hid_t file_id, haddr_t* eoa);
hid_t H5Fopen(const char* filename, unsigned flags, hid_t fapl_id);

herr_t H5Gclose(hid_t group_id);
hid_t H5Gget_create_plist(hid_t group_id);
herr_t H5Gget_info(hid_t loc_id, H5G_info_t* ginfo);
hid_t H5Gopen2(hid_t loc_id, const char* name, hid_t gapl_id);

H5I_type_t H5Iget_type(hid_t id);
htri_t H5Lexists(hid_t loc_id, const char* name, hid_t lapl_id);
ssize_t H5Lget_name_by_idx(hid_t loc_id, const char* group_name, H5_index_t idx_type, H5_iter_order_t order,
                           hsize_t n, char* name, size_t size, hid_t lapl_id);
herr_t H5Oclose(hid_t object_id);
hid_t H5Oopen(hid_t loc_id, const char* name, hid_t lapl_id);

herr_t H5Pclose(hid_t plist_id);
hid_t H5Pcreate(hid_t cls_id);
int H5Pget_chunk(hid_t plist_id, int max_ndims, hsize_t dim[]);
H5D_layout_t H5Pget_layout(hid_t plist_id);
herr_t H5Pget_link_creation_order(hid_t plist_id, unsigned* crt_order_flags);
herr_t H5Pset_alloc_time(hid_t plist_id, H5D_alloc_time_t alloc_time);
herr_t H5Pset_fill_time(hid_t plist_id, H5D_fill_time_t fill_time);
herr_t H5Pset_layout(hid_t plist_id, H5D_layout_t layout);
herr_t H5Pset_link_creation_order(hid_t plist_id, unsigned crt_order_flags);
herr_t H5Pset_userblock(hid_t plist_id, hsize_t size);

herr_t H5Sclose(hid_t space_id);
hid_t H5Screate(H5S_class_t type);
hid_t H5Screate_simple(int rank, const hsize_t dims[], const hsize_t maxdims[]);
int H5Sget_simple_extent_dims(hid_t space_id, hsize_t dims[], hsize_t maxdims[]);
int H5Sget_simple_extent_ndims(hid_t space_id);
hssize_t H5Sget_simple_extent_npoints(hid_t space_id);

herr_t H5Tclose(hid_t type_id);
hid_t H5Tcopy(hid_t type_id);
hid_t H5Tcreate(H5T_class_t type, size_t size);
H5T_class_t H5Tget_class(hid_t type_id);
int H5Tget_member_index(hid_t type_id, const char* field_name);
size_t H5Tget_size(hid_t type_id);
herr_t H5Tinsert(hid_t parent_id, const char* name, size_t offset, hid_t member_id);
htri_t H5Tis_variable_str(hid_t type_id);
herr_t H5Tset_size(hid_t type_id, size_t size);
herr_t H5Tset_strpad(hid_t type_id, H5T_str_t strpad);

// The predefined identifiers: variables of the library, set up by H5open.
extern hid_t H5P_CLS_DATASET_CREATE_ID_g;
extern hid_t H5P_CLS_FILE_CREATE_ID_g;
extern hid_t H5T_C_S1_g;
extern hid_t H5T_IEEE_F64LE_g;
extern hid_t H5T_NATIVE_DOUBLE_g;
extern hid_t H5T_NATIVE_UCHAR_g;
extern hid_t H5T_NATIVE_ULLONG_g;
extern hid_t H5T_STD_U64LE_g;
extern hid_t H5T_STD_U8LE_g;
}
