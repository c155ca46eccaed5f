// The GeoPackage writer over OGR's C interface, or, in a build without GDAL, a writer that
// refuses.
#include <cerrno>
#include <climits>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "fileio/error.h"
#include "vector/vector.h"

#ifdef KELVARA_WITH_GDAL
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

#include "fileio/output_file.h"
#include "grid/gdal_library.h"
#include "vector/ogr_api.h"
#endif

#ifndef KELVARA_GDAL_LIBRARY
#define KELVARA_GDAL_LIBRARY "libgdal.so"
#endif

namespace kelvara::vector {

#ifdef KELVARA_WITH_GDAL

using grid::GdalMessages;

const OgrApi* loadOgr(std::string& why) {
    static std::once_flag once;
    static OgrApi api;
    static const OgrApi* loaded = nullptr;
    static std::string reason;
    std::call_once(once, [] {
        void* library = grid::openGdalLibrary(reason);
        if (library == nullptr) return;
        bool complete = true;
#define KELVARA_OGR_RESOLVE(name)                                                      \
    api.name = reinterpret_cast<decltype(api.name)>(dlsym(library, #name));          \
    if (api.name == nullptr) {                                                         \
        complete = false;                                                              \
        reason = "it has no " #name;                                                   \
    }
        KELVARA_OGR_FUNCTIONS(KELVARA_OGR_RESOLVE)
#undef KELVARA_OGR_RESOLVE
        api.registerGeoPackage =
            reinterpret_cast<void (*)()>(dlsym(library, "RegisterOGRGeoPackage"));
        if (complete) loaded = &api;
    });
    why = reason;
    return loaded;
}

namespace {

// The loaded functions (PolygonLayerWriter's constructor has made sure that they are).
const OgrApi& ogr() {
    std::string why;
    return *loadOgr(why);
}

// A thread-local GDAL setting while an object lives, then as it was.
class ScopedSetting {
public:
    ScopedSetting(const char* key, const char* value) : key_(key) {
        const char* before = ogr().CPLGetThreadLocalConfigOption(key, nullptr);
        had_ = before != nullptr;
        if (had_) before_ = before;
        ogr().CPLSetThreadLocalConfigOption(key, value);
    }
    ~ScopedSetting() {
        ogr().CPLSetThreadLocalConfigOption(key_, had_ ? before_.c_str() : nullptr);
    }
    ScopedSetting(const ScopedSetting&) = delete;
    ScopedSetting& operator=(const ScopedSetting&) = delete;

private:
    const char* key_;
    bool had_ = false;
    std::string before_;
};

const char* kindName(LayerKind kind) {
    return kind == LayerKind::Extent ? "extents" : "classes";
}

}  // namespace

bool available() {
    std::string why;
    return loadOgr(why) != nullptr;
}

std::string whyUnavailable() {
    std::string why;
    if (loadOgr(why) != nullptr) return {};
    return "GDAL (" + std::string(KELVARA_GDAL_LIBRARY) + ") cannot be loaded: " + why;
}

std::string readCoordinateReference(const std::string& prjPath,
                                    std::vector<std::string>& warnings) {
    if (!available()) return {};
    std::string wkt;
    const grid::ReferenceFile found = prjPath.empty()
                                          ? grid::ReferenceFile::Missing
                                          : grid::readReferenceText(prjPath, wkt);
    if (found == grid::ReferenceFile::Missing) {
        warnings.push_back("WARNING - No coordinate reference " +
                           (prjPath.empty() ? std::string("beside the mesh") : prjPath) +
                           ": the layers have none.");
        return {};
    }
    if (found == grid::ReferenceFile::NotAFile) {
        warnings.push_back("WARNING - " + prjPath +
                           " is not a regular file: it is not read as a coordinate reference, "
                           "and the layers have none.");
        return {};
    }
    if (wkt.size() > grid::kMostReferenceBytes) {
        warnings.push_back("WARNING - " + prjPath +
                           " is longer than the 1 MB a coordinate reference (WKT) may have: the "
                           "layers have none.");
        return {};
    }
    while (!wkt.empty() && std::strchr(" \t\r\n", wkt.back()) != nullptr) wkt.pop_back();
    GdalMessages quiet;
    OGRSpatialReferenceH reference = ogr().OSRNewSpatialReference(nullptr);
    char* p = wkt.data();
    const bool read = reference != nullptr && !wkt.empty() &&
                      found == grid::ReferenceFile::Read &&
                      ogr().OSRImportFromWkt(reference, &p) == OGRERR_NONE;
    if (reference != nullptr) ogr().OSRRelease(reference);
    if (!read) {
        warnings.push_back("WARNING - " + prjPath +
                           " is not a coordinate reference (WKT) that can be read: the layers "
                           "have none.");
        return {};
    }
    return wkt;
}

struct PolygonLayerWriter::Impl {
    ~Impl() { discard(); }

    // Closes and removes an unfinished file.
    void discard() {
        layer = nullptr;
        inTransaction = false;
        if (dataset != nullptr) {
            GdalMessages quiet;
            ogr().GDALClose(dataset);
            dataset = nullptr;
        }
        if (file) file->drop();
    }

    [[noreturn]] void fail(const GdalMessages& messages, const std::string& fallback) {
        discard();
        throw errorLine("ERROR - Could not write the GeoPackage " + output + ": " +
                            messages.text(fallback),
                        ErrorCode::Output);
    }

    [[noreturn]] void fail(const std::string& reason) {
        discard();
        throw errorLine("ERROR - Could not write the GeoPackage " + output + ": " + reason,
                        ErrorCode::Output);
    }

    // Refuses a call that the writer's state does not allow (a mistake of the calling code).
    [[noreturn]] void refuse(const std::string& why) {
        discard();
        throw errorLine("ERROR - The GeoPackage " + output + ": " + why, ErrorCode::Internal);
    }

    // Commits the features of the layer being written.
    void endLayer(GdalMessages& messages) {
        if (inTransaction) {
            inTransaction = false;
            if (ogr().GDALDatasetCommitTransaction(dataset) != OGRERR_NONE || messages.failed())
                fail(messages, "the features of layer " + layerName + " could not be stored");
        }
        layer = nullptr;
    }

    // A new feature of the layer being written, of the kind wanted, with its area and time set.
    OGRFeatureH startFeature(LayerKind wanted, double time, double area) {
        if (dataset == nullptr) refuse("it is closed.");
        if (layer == nullptr) refuse("no layer is begun to add a feature to.");
        if (kind != wanted) {
            refuse("layer " + layerName + " holds " + kindName(kind) + ", not " +
                   kindName(wanted) + ".");
        }
        OGRFeatureH feature = ogr().OGR_F_Create(ogr().OGR_L_GetLayerDefn(layer));
        if (feature == nullptr) return nullptr;
        ogr().OGR_F_SetFieldDouble(feature, timeField, time);
        ogr().OGR_F_SetFieldDouble(feature, areaField, area);
        return feature;
    }

    // Gives the feature the polygons as one MultiPolygon, stores it and destroys it.
    void storeFeature(OGRFeatureH feature, const std::vector<extent::Polygon>& polygons) {
        GdalMessages messages;
        if (feature == nullptr) fail(messages, "a feature could not be made");
        OGRGeometryH multi = ogr().OGR_G_CreateGeometry(wkbMultiPolygon);
        bool ok = multi != nullptr;
        for (std::size_t p = 0; ok && p < polygons.size(); ++p) {
            const extent::Polygon& polygon = polygons[p];
            OGRGeometryH shape = ogr().OGR_G_CreateGeometry(wkbPolygon);
            ok = shape != nullptr && addRing(shape, polygon.outer);
            for (std::size_t h = 0; ok && h < polygon.holes.size(); ++h) {
                ok = addRing(shape, polygon.holes[h]);
            }
            if (shape != nullptr) {
                if (ok) {
                    ok = ogr().OGR_G_AddGeometryDirectly(multi, shape) == OGRERR_NONE;
                } else {
                    ogr().OGR_G_DestroyGeometry(shape);
                }
            }
        }
        if (!ok) {
            if (multi != nullptr) ogr().OGR_G_DestroyGeometry(multi);
            ogr().OGR_F_Destroy(feature);
            fail(messages, "a polygon could not be made");
        }
        ogr().OGR_F_SetGeometryDirectly(feature, multi);
        const OGRErr stored = ogr().OGR_L_CreateFeature(layer, feature);
        ogr().OGR_F_Destroy(feature);
        if (stored != OGRERR_NONE || messages.failed()) {
            fail(messages, "a feature of layer " + layerName + " could not be written");
        }
    }

    // Adds a closed ring to a polygon.
    bool addRing(OGRGeometryH shape, const extent::Ring& ring) {
        if (ring.size() > static_cast<std::size_t>(INT_MAX)) return false;
        OGRGeometryH line = ogr().OGR_G_CreateGeometry(wkbLinearRing);
        if (line == nullptr) return false;
        if (!ring.empty()) {
            ogr().OGR_G_SetPoints(line, static_cast<int>(ring.size()), &ring[0].x,
                                  static_cast<int>(sizeof(extent::Point)), &ring[0].y,
                                  static_cast<int>(sizeof(extent::Point)), nullptr, 0);
        }
        if (ogr().OGR_G_AddGeometryDirectly(shape, line) != OGRERR_NONE) {
            ogr().OGR_G_DestroyGeometry(line);
            return false;
        }
        return true;
    }

    std::string output;
    std::unique_ptr<OutputFile> file;  // the work file, until it takes its name
    GDALDatasetH dataset = nullptr;
    OGRLayerH layer = nullptr;  // the layer being written
    std::string layerName;
    LayerKind kind = LayerKind::Extent;
    bool inTransaction = false;
    int layers = 0;
    int thresholdField = -1, classField = -1, classNameField = -1, timeField = -1,
        areaField = -1;
};

PolygonLayerWriter::PolygonLayerWriter(const std::string& outputPath)
    : impl_(std::make_unique<Impl>()) {
    Impl& w = *impl_;
    w.output = outputPath;
    if (!available()) {
        throw errorLine("ERROR - This build of kelvara cannot write GeoPackage layers: " +
                            whyUnavailable(),
                        ErrorCode::Usage);
    }
    GdalMessages messages;
    GDALDriverH driver = ogr().GDALGetDriverByName("GPKG");
    if (driver == nullptr) {
        if (ogr().registerGeoPackage != nullptr) {
            ogr().registerGeoPackage();
        } else {
            ogr().GDALAllRegister();
        }
        driver = ogr().GDALGetDriverByName("GPKG");
    }
    if (driver == nullptr) w.fail(messages, "GDAL has no GeoPackage driver");

    // The work file, made and known to the signal handler before GDAL writes it. GDAL creates
    // a GeoPackage only where no file is, so the empty work file makes way for it, keeping its
    // name (and its place in the signal handler's list) and the permissions the output will
    // have.
    w.file = std::make_unique<OutputFile>(outputPath);
    if (!w.file->open()) {
        w.fail(messages,
               "its work file cannot be created beside it: " + std::string(std::strerror(errno)));
    }
    struct stat made {};
    const std::string& temporary = w.file->workPath();
    const bool haveMode = ::stat(temporary.c_str(), &made) == 0;
    if (::unlink(temporary.c_str()) != 0) {
        w.fail(messages, "its work file cannot be replaced: " + std::string(std::strerror(errno)));
    }
    {
        // The work file is thrown away on any failure, so SQLite's journal (a file beside it
        // that a killed run would leave behind) and its waits for the disk buy nothing.
        ScopedSetting journal("OGR_SQLITE_JOURNAL", "MEMORY");
        ScopedSetting synchronous("OGR_SQLITE_SYNCHRONOUS", "OFF");
        w.dataset = ogr().GDALCreate(driver, temporary.c_str(), 0, 0, 0, GDT_Unknown, nullptr);
    }
    if (w.dataset == nullptr) w.fail(messages, "the file cannot be created");
    if (haveMode) ::chmod(temporary.c_str(), made.st_mode & 07777);
}

PolygonLayerWriter::~PolygonLayerWriter() = default;

const std::string& PolygonLayerWriter::outputPath() const { return impl_->output; }

void PolygonLayerWriter::beginLayer(const LayerDefinition& wanted) {
    Impl& w = *impl_;
    if (w.dataset == nullptr) w.refuse("it is closed.");
    if (wanted.name.empty()) w.refuse("a layer needs a name.");
    GdalMessages messages;
    w.endLayer(messages);

    // Without a reference, the GeoPackage's undefined Cartesian one: left out, GDAL would
    // mark the layer as in undefined geographic coordinates (degrees), which a GIS then
    // draws on the wrong scale.
    std::string wkt =
        wanted.crsWkt.empty() ? std::string("LOCAL_CS[\"Undefined Cartesian SRS\"]") : wanted.crsWkt;
    OGRSpatialReferenceH reference = ogr().OSRNewSpatialReference(nullptr);
    char* p = wkt.data();
    if (reference == nullptr || ogr().OSRImportFromWkt(reference, &p) != OGRERR_NONE) {
        if (reference != nullptr) ogr().OSRRelease(reference);
        const std::string detail = messages.failed() ? " (" + messages.text("") + ")" : "";
        w.fail("the coordinate reference of layer " + wanted.name +
               " is not WKT that can be read" + detail);
    }
    // x east, y north, whatever order the reference gives its axes.
    ogr().OSRSetAxisMappingStrategy(reference, OAMS_TRADITIONAL_GIS_ORDER);
    const std::string description = "DESCRIPTION=" + wanted.description;
    const char* options[] = {wanted.description.empty() ? nullptr : description.c_str(), nullptr};
    w.layer = ogr().GDALDatasetCreateLayer(w.dataset, wanted.name.c_str(), reference,
                                           wkbMultiPolygon, const_cast<char**>(options));
    ogr().OSRRelease(reference);
    if (w.layer == nullptr) w.fail(messages, "layer " + wanted.name + " cannot be created");
    w.layerName = wanted.name;
    w.kind = wanted.kind;
    ++w.layers;

    struct Field {
        const char* name;
        OGRFieldType type;
    };
    static const Field extentFields[] = {
        {kThresholdField, OFTReal}, {kTimeField, OFTReal}, {kAreaField, OFTReal}};
    static const Field classFields[] = {{kClassField, OFTInteger},
                                        {kClassNameField, OFTString},
                                        {kTimeField, OFTReal},
                                        {kAreaField, OFTReal}};
    const bool extents = wanted.kind == LayerKind::Extent;
    const Field* first = extents ? extentFields : classFields;
    const Field* last = extents ? std::end(extentFields) : std::end(classFields);
    for (const Field* field = first; field != last; ++field) {
        const Field& f = *field;
        OGRFieldDefnH definition = ogr().OGR_Fld_Create(f.name, f.type);
        const OGRErr made = definition == nullptr
                                ? OGRERR_NOT_ENOUGH_MEMORY
                                : ogr().OGR_L_CreateField(w.layer, definition, TRUE);
        if (definition != nullptr) ogr().OGR_Fld_Destroy(definition);
        if (made != OGRERR_NONE) {
            w.fail(messages, "the field " + std::string(f.name) + " of layer " + wanted.name +
                                 " cannot be created");
        }
    }
    OGRFeatureDefnH definition = ogr().OGR_L_GetLayerDefn(w.layer);
    const auto index = [&](const char* name) { return ogr().OGR_FD_GetFieldIndex(definition, name); };
    w.thresholdField = index(kThresholdField);
    w.classField = index(kClassField);
    w.classNameField = index(kClassNameField);
    w.timeField = index(kTimeField);
    w.areaField = index(kAreaField);
    if (w.timeField < 0 || w.areaField < 0) w.fail(messages, "the fields of layer " + wanted.name + " are lost");

    // Every feature of the layer in one transaction: one write at the end, not one per feature.
    if (ogr().GDALDatasetStartTransaction(w.dataset, FALSE) != OGRERR_NONE) {
        w.fail(messages, "the features of layer " + wanted.name + " cannot be gathered");
    }
    w.inTransaction = true;
    if (messages.failed()) w.fail(messages, "layer " + wanted.name + " cannot be created");
}

void PolygonLayerWriter::addExtent(double threshold, double time,
                                   const std::vector<extent::Polygon>& polygons) {
    Impl& w = *impl_;
    OGRFeatureH feature = w.startFeature(LayerKind::Extent, time, extent::totalArea(polygons));
    if (feature != nullptr) ogr().OGR_F_SetFieldDouble(feature, w.thresholdField, threshold);
    w.storeFeature(feature, polygons);
}

void PolygonLayerWriter::addClass(std::int32_t value, const std::string& name, double time,
                                  const std::vector<extent::Polygon>& polygons) {
    Impl& w = *impl_;
    OGRFeatureH feature = w.startFeature(LayerKind::Classes, time, extent::totalArea(polygons));
    if (feature != nullptr) {
        ogr().OGR_F_SetFieldInteger(feature, w.classField, value);
        ogr().OGR_F_SetFieldString(feature, w.classNameField, name.c_str());
    }
    w.storeFeature(feature, polygons);
}

void PolygonLayerWriter::finish() {
    Impl& w = *impl_;
    if (w.dataset == nullptr) w.refuse("it is closed.");
    if (w.layers == 0) w.refuse("it has no layer.");
    GdalMessages messages;
    w.endLayer(messages);
    ogr().GDALClose(w.dataset);
    w.dataset = nullptr;
    if (messages.failed()) w.fail(messages, "the file could not be completed");
    // The replace every output gets (a plain rename fails over an existing file on Windows).
    if (!w.file->land()) {
        const std::string reason = std::strerror(errno);
        throw errorLine("ERROR - Could not give the GeoPackage its name " + w.output + ": " +
                            reason + ".",
                        ErrorCode::Output);
    }
}

#else  // a build without GDAL

bool available() { return false; }
std::string whyUnavailable() { return "it was built without GDAL (Debian: libgdal-dev)"; }

std::string readCoordinateReference(const std::string&, std::vector<std::string>&) { return {}; }

struct PolygonLayerWriter::Impl {
    std::string output;
};

PolygonLayerWriter::PolygonLayerWriter(const std::string& outputPath)
    : impl_(std::make_unique<Impl>()) {
    impl_->output = outputPath;
    throw errorLine("ERROR - This build of kelvara cannot write GeoPackage layers: " +
                        whyUnavailable(),
                    ErrorCode::Usage);
}
PolygonLayerWriter::~PolygonLayerWriter() = default;
const std::string& PolygonLayerWriter::outputPath() const { return impl_->output; }
void PolygonLayerWriter::beginLayer(const LayerDefinition&) {}
void PolygonLayerWriter::addExtent(double, double, const std::vector<extent::Polygon>&) {}
void PolygonLayerWriter::addClass(std::int32_t, const std::string&, double,
                                  const std::vector<extent::Polygon>&) {}
void PolygonLayerWriter::finish() {}

#endif

}  // namespace kelvara::vector
