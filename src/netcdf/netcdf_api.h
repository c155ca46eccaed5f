// The NetCDF functions the writer calls, found when the first NetCDF file is written: the
// library is loaded then, not when kelvara starts, so that every other run (and every program
// using libkelvara) does not pay for loading NetCDF and the forty libraries it brings (HDF5,
// curl, ...). Included by writer.cpp only, in builds with NetCDF.
#pragma once

#include <string>

#include <netcdf.h>

namespace kelvara::netcdf {

#define KELVARA_NETCDF_FUNCTIONS(X)                                                        \
    X(nc_create) X(nc_set_fill) X(nc_redef) X(nc_enddef) X(nc_close) X(nc_strerror)        \
    X(nc_def_dim) X(nc_def_var) X(nc_def_var_chunking) X(nc_def_var_deflate)               \
    X(nc_set_var_chunk_cache)                                                            \
    X(nc_put_att_text) X(nc_put_att_int) X(nc_put_att_float) X(nc_put_att_schar)           \
    X(nc_put_var_double) X(nc_put_var_float) X(nc_put_var_int) X(nc_put_var_schar)         \
    X(nc_put_var1_double) X(nc_put_vara_int) X(nc_put_vara_float) X(nc_put_vara_schar)

struct NetcdfApi {
#define KELVARA_NETCDF_POINTER(name) decltype(&::name) name = nullptr;
    KELVARA_NETCDF_FUNCTIONS(KELVARA_NETCDF_POINTER)
#undef KELVARA_NETCDF_POINTER
};

// The functions of the NetCDF library this build was made with, loaded once; null when it
// cannot be loaded, with the reason in why.
const NetcdfApi* loadNetcdf(std::string& why);

}  // namespace kelvara::netcdf
