// The GDAL and OGR functions the polygon layer writer calls, found in the library that the grid
// writer loads (grid/gdal_library.h), when the first layers are written. Included by layers.cpp
// only, in builds with GDAL.
#pragma once

#include <string>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>

namespace kelvara::vector {

#define KELVARA_OGR_FUNCTIONS(X)                                                              \
    X(GDALAllRegister) X(GDALGetDriverByName) X(GDALCreate) X(GDALClose)                      \
    X(GDALDatasetCreateLayer) X(GDALDatasetStartTransaction) X(GDALDatasetCommitTransaction)  \
    X(OGR_L_CreateField) X(OGR_L_CreateFeature) X(OGR_L_GetLayerDefn) X(OGR_FD_GetFieldIndex) \
    X(OGR_Fld_Create) X(OGR_Fld_Destroy) X(OGR_F_Create) X(OGR_F_Destroy)                     \
    X(OGR_F_SetFieldDouble) X(OGR_F_SetFieldInteger) X(OGR_F_SetFieldString)                  \
    X(OGR_F_SetGeometryDirectly) X(OGR_G_CreateGeometry) X(OGR_G_DestroyGeometry)             \
    X(OGR_G_SetPoints) X(OGR_G_AddGeometryDirectly) X(OSRNewSpatialReference)                 \
    X(OSRImportFromWkt) X(OSRSetAxisMappingStrategy) X(OSRRelease)                            \
    X(CPLGetThreadLocalConfigOption) X(CPLSetThreadLocalConfigOption)

struct OgrApi {
#define KELVARA_OGR_POINTER(name) decltype(&::name) name = nullptr;
    KELVARA_OGR_FUNCTIONS(KELVARA_OGR_POINTER)
#undef KELVARA_OGR_POINTER
    // Registers the GeoPackage driver alone, where the library has it built in (else every
    // driver is registered, which takes longer).
    void (*registerGeoPackage)() = nullptr;
};

// The functions of the GDAL library this build was made with, loaded once; null when it cannot
// be loaded, with the reason in why.
const OgrApi* loadOgr(std::string& why);

}  // namespace kelvara::vector
