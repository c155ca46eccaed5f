// The GDAL functions the grid writer calls, found when the first grid is written: the library
// is loaded then, not when kelvara starts, so that runs without grids do not pay for loading
// GDAL and the many libraries it brings. Included by writer.cpp only, in builds with GDAL.
#pragma once

#include <string>

#include <cpl_error.h>
#include <gdal.h>
#include <gdal_frmts.h>
#include <ogr_srs_api.h>

namespace kelvara::grid {

#define KELVARA_GDAL_FUNCTIONS(X)                                                          \
    X(GDALGetDriverByName) X(GDALRegister_GTiff) X(GDALCreate) X(GDALClose)                \
    X(GDALSetGeoTransform) X(GDALSetSpatialRef) X(GDALGetRasterBand)                       \
    X(GDALSetRasterNoDataValue) X(GDALWriteBlock)                                          \
    X(GDALSetDescription) X(GDALSetMetadataItem) X(CPLPushErrorHandlerEx)                  \
    X(CPLPopErrorHandler) X(CPLGetErrorHandlerUserData) X(OSRNewSpatialReference)          \
    X(OSRImportFromWkt) X(OSRDestroySpatialReference) X(GDALSetRasterUnitType)            \
    X(GDALSetRasterStatistics) X(GDALCreateColorTable) X(GDALSetColorEntry)                \
    X(GDALSetRasterColorTable) X(GDALDestroyColorTable)

struct GdalApi {
#define KELVARA_GDAL_POINTER(name) decltype(&::name) name = nullptr;
    KELVARA_GDAL_FUNCTIONS(KELVARA_GDAL_POINTER)
#undef KELVARA_GDAL_POINTER
};

// The functions of the GDAL library this build was made with, loaded once; null when it cannot
// be loaded, with the reason in why.
const GdalApi* loadGdal(std::string& why);

}  // namespace kelvara::grid
