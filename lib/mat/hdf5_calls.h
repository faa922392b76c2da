// Sends the HDF5 calls of the file that includes it, last of its headers,
// through the entry points hdf5api::Load has loaded (see hdf5_api.h).
#pragma once

#include "mat/hdf5_api.h"

#define HDF5API_CALL(name) hdf5api::Get().name
#define H5open HDF5API_CALL(H5open)
#define H5check_version HDF5API_CALL(H5check_version)
#define H5free_memory HDF5API_CALL(H5free_memory)
#define H5Eset_auto2 HDF5API_CALL(H5Eset_auto2)
#define H5Aclose HDF5API_CALL(H5Aclose)
#define H5Acreate2 HDF5API_CALL(H5Acreate2)
#define H5Aexists HDF5API_CALL(H5Aexists)
#define H5Aget_space HDF5API_CALL(H5Aget_space)
#define H5Aget_type HDF5API_CALL(H5Aget_type)
#define H5Aopen HDF5API_CALL(H5Aopen)
#define H5Aread HDF5API_CALL(H5Aread)
#define H5Awrite HDF5API_CALL(H5Awrite)
#define H5Dclose HDF5API_CALL(H5Dclose)
#define H5Dcreate2 HDF5API_CALL(H5Dcreate2)
#define H5Dget_create_plist HDF5API_CALL(H5Dget_create_plist)
#define H5Dget_offset HDF5API_CALL(H5Dget_offset)
#define H5Dget_space HDF5API_CALL(H5Dget_space)
#define H5Dget_type HDF5API_CALL(H5Dget_type)
#define H5Dopen2 HDF5API_CALL(H5Dopen2)
#define H5Dread HDF5API_CALL(H5Dread)
#define H5Dwrite HDF5API_CALL(H5Dwrite)
#define H5Fclose HDF5API_CALL(H5Fclose)
#define H5Fcreate HDF5API_CALL(H5Fcreate)
#define H5Fget_eoa HDF5API_CALL(H5Fget_eoa)
#define H5Fopen HDF5API_CALL(H5Fopen)
#define H5Gclose HDF5API_CALL(H5Gclose)
#define H5Gget_create_plist HDF5API_CALL(H5Gget_create_plist)
#define H5Gget_info HDF5API_CALL(H5Gget_info)
#define H5Gopen2 HDF5API_CALL(H5Gopen2)
#define H5Iget_type HDF5API_CALL(H5Iget_type)
#define H5Lexists HDF5API_CALL(H5Lexists)
#define H5Lget_name_by_idx HDF5API_CALL(H5Lget_name_by_idx)
#define H5Oclose HDF5API_CALL(H5Oclose)
#define H5Oopen HDF5API_CALL(H5Oopen)
#define H5Pclose HDF5API_CALL(H5Pclose)
#define H5Pcreate HDF5API_CALL(H5Pcreate)
#define H5Pget_chunk HDF5API_CALL(H5Pget_chunk)
#define H5Pget_layout HDF5API_CALL(H5Pget_layout)
#define H5Pget_link_creation_order HDF5API_CALL(H5Pget_link_creation_order)
#define H5Pset_alloc_time HDF5API_CALL(H5Pset_alloc_time)
#define H5Pset_fill_time HDF5API_CALL(H5Pset_fill_time)
#define H5Pset_layout HDF5API_CALL(H5Pset_layout)
#define H5Pset_link_creation_order HDF5API_CALL(H5Pset_link_creation_order)
#define H5Pset_userblock HDF5API_CALL(H5Pset_userblock)
#define H5Sclose HDF5API_CALL(H5Sclose)
#define H5Screate HDF5API_CALL(H5Screate)
#define H5Screate_simple HDF5API_CALL(H5Screate_simple)
#define H5Sget_simple_extent_dims HDF5API_CALL(H5Sget_simple_extent_dims)
#define H5Sget_simple_extent_ndims HDF5API_CALL(H5Sget_simple_extent_ndims)
#define H5Sget_simple_extent_npoints HDF5API_CALL(H5Sget_simple_extent_npoints)
#define H5Tclose HDF5API_CALL(H5Tclose)
#define H5Tcopy HDF5API_CALL(H5Tcopy)
#define H5Tcreate HDF5API_CALL(H5Tcreate)
#define H5Tget_class HDF5API_CALL(H5Tget_class)
#define H5Tget_member_index HDF5API_CALL(H5Tget_member_index)
#define H5Tget_size HDF5API_CALL(H5Tget_size)
#define H5Tinsert HDF5API_CALL(H5Tinsert)
#define H5Tis_variable_str HDF5API_CALL(H5Tis_variable_str)
#define H5Tset_size HDF5API_CALL(H5Tset_size)
#define H5Tset_strpad HDF5API_CALL(H5Tset_strpad)

// The predefined identifiers, read once H5open has set them up.
#define HDF5API_ID(name) (H5open(), *hdf5api::Get().name)
#undef H5P_DATASET_CREATE
#define H5P_DATASET_CREATE HDF5API_ID(H5P_CLS_DATASET_CREATE_ID_g)
#undef H5P_FILE_CREATE
#define H5P_FILE_CREATE HDF5API_ID(H5P_CLS_FILE_CREATE_ID_g)
#undef H5T_C_S1
#define H5T_C_S1 HDF5API_ID(H5T_C_S1_g)
#undef H5T_IEEE_F64LE
#define H5T_IEEE_F64LE HDF5API_ID(H5T_IEEE_F64LE_g)
#undef H5T_NATIVE_DOUBLE
#define H5T_NATIVE_DOUBLE HDF5API_ID(H5T_NATIVE_DOUBLE_g)
#undef H5T_NATIVE_UCHAR
#define H5T_NATIVE_UCHAR HDF5API_ID(H5T_NATIVE_UCHAR_g)
#undef H5T_NATIVE_ULLONG
#define H5T_NATIVE_ULLONG HDF5API_ID(H5T_NATIVE_ULLONG_g)
#undef H5T_STD_U64LE
#define H5T_STD_U64LE HDF5API_ID(H5T_STD_U64LE_g)
#undef H5T_STD_U8LE
#define H5T_STD_U8LE HDF5API_ID(H5T_STD_U8LE_g)
