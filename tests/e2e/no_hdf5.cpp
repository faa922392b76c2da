// Stands in for an HDF5 library that has none of its entry points.
extern "C" {
int trace_not_hdf5 = 0;
}
