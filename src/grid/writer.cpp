// The GeoTIFF writer over GDAL's C interface, or, in a build without GDAL, a writer that refuses.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "grid/grid.h"
#include "grid/raster.h"

#ifdef KELVARA_WITH_GDAL
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

#include "fileio/output_file.h"
#include "grid/gdal_api.h"
#include "grid/gdal_library.h"
#endif

#ifndef KELVARA_GDAL_LIBRARY
#define KELVARA_GDAL_LIBRARY "libgdal.so"
#endif

namespace kelvara::grid {

#ifdef KELVARA_WITH_GDAL

const GdalApi* loadGdal(std::string& why) {
    static std::once_flag once;
    static GdalApi api;
    static const GdalApi* loaded = nullptr;
    static std::string reason;
    std::call_once(once, [] {
        void* library = openGdalLibrary(reason);
        if (library == nullptr) return;
        bool complete = true;
#define KELVARA_GDAL_RESOLVE(name)                                                     \
    api.name = reinterpret_cast<decltype(api.name)>(dlsym(library, #name));          \
    if (api.name == nullptr) {                                                         \
        complete = false;                                                              \
        reason = "it has no " #name;                                                   \
    }
        KELVARA_GDAL_FUNCTIONS(KELVARA_GDAL_RESOLVE)
#undef KELVARA_GDAL_RESOLVE
        if (complete) loaded = &api;
    });
    why = reason;
    return loaded;
}

namespace {

// The loaded functions (GridWriter's constructor has made sure that they are).
const GdalApi& gdal() {
    std::string why;
    return *loadGdal(why);
}

// Rows of the grid per band of tiles, and tiles across written in one piece at most.
constexpr int kTile = 256;
constexpr std::int64_t kWindowTiles = 64;

}  // namespace

bool available() {
    std::string why;
    return loadGdal(why) != nullptr;
}

std::string whyUnavailable() {
    std::string why;
    if (loadGdal(why) != nullptr) return {};
    return "GDAL (" + std::string(KELVARA_GDAL_LIBRARY) + ") cannot be loaded: " + why;
}

struct GridWriter::Impl {
    Impl(const MeshGeometry& mesh, const GridRequest& r, int bandRows)
        : raster(mesh, r.cellSize, bandRows, r.meshPath), request(r) {}
    ~Impl() { discard(); }

    // Closes and removes an unfinished file.
    void discard() {
        if (dataset != nullptr) {
            GdalMessages quiet;
            gdal().GDALClose(dataset);
            dataset = nullptr;
        }
        if (output) output->drop();
    }

    [[noreturn]] void fail(const GdalMessages& messages, const std::string& fallback) {
        discard();
        throw GridError("ERROR - Could not write the grid " + request.outputPath + ": " +
                        messages.text(fallback));
    }

    Rasteriser raster;
    GridRequest request;
    std::int32_t nodeCount = 0;
    bool vector = false;
    int bandCount = 0;
    int written = 0;
    std::unique_ptr<OutputFile> output;  // the work file, until it takes its name
    GDALDatasetH dataset = nullptr;
    std::vector<float> magnitude;
    std::vector<float> buffer;
    std::vector<float> tile;
};

namespace {

// The coordinate reference of a .prj file, or null with a warning.
OGRSpatialReferenceH readReference(const std::string& prjPath,
                                   std::vector<std::string>& warnings) {
    std::string wkt;
    const ReferenceFile found =
        prjPath.empty() ? ReferenceFile::Missing : readReferenceText(prjPath, wkt);
    if (found == ReferenceFile::Missing) {
        warnings.push_back("WARNING - No coordinate reference " +
                           (prjPath.empty() ? std::string("beside the mesh") : prjPath) +
                           ": the grid has none.");
        return nullptr;
    }
    if (found == ReferenceFile::NotAFile) {
        warnings.push_back("WARNING - " + prjPath +
                           " is not a regular file: it is not read as a coordinate reference, "
                           "and the grid has none.");
        return nullptr;
    }
    if (wkt.size() > kMostReferenceBytes) {
        warnings.push_back("WARNING - " + prjPath +
                           " is longer than the 1 MB a coordinate reference (WKT) may have: the "
                           "grid has none.");
        return nullptr;
    }
    while (!wkt.empty() && std::strchr(" \t\r\n", wkt.back()) != nullptr) wkt.pop_back();
    GdalMessages quiet;
    OGRSpatialReferenceH reference = gdal().OSRNewSpatialReference(nullptr);
    char* p = wkt.data();
    if (wkt.empty() || found != ReferenceFile::Read ||
        gdal().OSRImportFromWkt(reference, &p) != OGRERR_NONE) {
        gdal().OSRDestroySpatialReference(reference);
        warnings.push_back("WARNING - " + prjPath +
                           " is not a coordinate reference (WKT) that can be read: the grid has "
                           "none.");
        return nullptr;
    }
    return reference;
}

}  // namespace

GridWriter::GridWriter(const MeshGeometry& mesh, const GridRequest& request,
                       std::int32_t nodeCount, std::int32_t cellCount, bool vector, int bandCount,
                       std::vector<std::string>& warnings) {
    std::string why;
    if (loadGdal(why) == nullptr) {
        throw GridError("ERROR - This build of kelvara cannot write grids: GDAL (" +
                        std::string(KELVARA_GDAL_LIBRARY) + ") cannot be loaded: " + why);
    }
    checkCellSize(request.cellSize);
    if (mesh.meshNodeCount != nodeCount || mesh.x.size() < static_cast<std::size_t>(nodeCount)) {
        throw GridError("ERROR - " + request.meshPath + " has " +
                        std::to_string(mesh.meshNodeCount) + " nodes and the dataset " +
                        std::to_string(nodeCount) + ": the mesh does not belong to the dataset.");
    }
    if (cellCount < mesh.meshCellCount) {
        throw GridError("ERROR - " + request.meshPath + " has cells numbered up to " +
                        std::to_string(mesh.meshCellCount) + " and the dataset " +
                        std::to_string(cellCount) +
                        " cells: the mesh does not belong to the dataset.");
    }
    if (bandCount < 1) throw GridError("ERROR - There is no step to write to the grid.");

    impl_ = std::make_unique<Impl>(mesh, request, kTile);
    Impl& g = *impl_;
    g.nodeCount = nodeCount;
    g.vector = vector;
    g.bandCount = bandCount;
    if (g.raster.cellsLeftOut() > 0) {
        warnings.push_back("WARNING - " + std::to_string(g.raster.cellsLeftOut()) + " cells of " +
                           request.meshPath +
                           " have a corner without coordinates: the grid has no data there.");
    }
    OGRSpatialReferenceH reference = readReference(request.prjPath, warnings);

    GdalMessages messages;
    if (gdal().GDALGetDriverByName("GTiff") == nullptr) gdal().GDALRegister_GTiff();
    GDALDriverH driver = gdal().GDALGetDriverByName("GTiff");
    if (driver == nullptr) {
        if (reference != nullptr) gdal().OSRDestroySpatialReference(reference);
        g.fail(messages, "GDAL has no GeoTIFF driver");
    }
    const GridLayout& layout = g.raster.layout();
    const std::string tile = std::to_string(kTile);
    const std::string blockX = "BLOCKXSIZE=" + tile, blockY = "BLOCKYSIZE=" + tile;
    // Compressed on this thread: GDAL's worker threads would outlive the grid for the rest of
    // the process (their memory then counts as lost in a process forked from it), and DEFLATE
    // of a band is a small share of the work.
    const char* options[] = {"TILED=YES",        blockX.c_str(), blockY.c_str(),
                             "COMPRESS=DEFLATE", "PREDICTOR=3",  "INTERLEAVE=BAND",
                             "BIGTIFF=IF_SAFER", nullptr};
    // The work file, made and known to the signal handler before GDAL writes it.
    g.output = std::make_unique<OutputFile>(request.outputPath);
    if (!g.output->open()) {
        const std::string reason = std::strerror(errno);
        if (reference != nullptr) gdal().OSRDestroySpatialReference(reference);
        g.fail(messages, "its work file cannot be created beside it: " + reason);
    }
    g.dataset = gdal().GDALCreate(driver, g.output->workPath().c_str(), static_cast<int>(layout.columns),
                           static_cast<int>(layout.rows), bandCount, GDT_Float32,
                           const_cast<char**>(options));
    if (g.dataset == nullptr) {
        if (reference != nullptr) gdal().OSRDestroySpatialReference(reference);
        g.fail(messages, "the file cannot be created");
    }
    double transform[6] = {layout.originX, layout.cellSize, 0.0, layout.originY, 0.0,
                           -layout.cellSize};
    bool ok = gdal().GDALSetGeoTransform(g.dataset, transform) == CE_None;
    if (reference != nullptr) {
        ok = ok && gdal().GDALSetSpatialRef(g.dataset, reference) == CE_None;
        gdal().OSRDestroySpatialReference(reference);
    }
    for (int b = 1; ok && b <= bandCount; ++b) {
        ok = gdal().GDALSetRasterNoDataValue(gdal().GDALGetRasterBand(g.dataset, b), kNoData) == CE_None;
    }
    if (!ok) g.fail(messages, "GDAL refused the grid's layout");
}

GridWriter::~GridWriter() = default;

void GridWriter::addBand(float time, const std::int8_t* activeOrNull, const float* v1,
                         const float* v2OrNull, const std::string& description) {
    Impl& g = *impl_;
    if (g.dataset == nullptr || g.written >= g.bandCount) {
        throw GridError("ERROR - The grid " + g.request.outputPath + " was announced with " +
                        std::to_string(g.bandCount) + " bands: there is no room for another.");
    }
    const float* values = v1;
    if (g.vector) {
        // Magnitudes in double precision: no overflow on the way, NaN stays NaN.
        g.magnitude.resize(static_cast<std::size_t>(g.nodeCount));
        for (std::size_t n = 0; n < g.magnitude.size(); ++n) {
            const double x = v1[n], y = v2OrNull != nullptr ? v2OrNull[n] : 0.0;
            g.magnitude[n] = static_cast<float>(std::sqrt(x * x + y * y));
        }
        values = g.magnitude.data();
    }

    const GridLayout& layout = g.raster.layout();
    const std::int64_t window = std::min(layout.columns, kWindowTiles * kTile);
    g.buffer.resize(static_cast<std::size_t>(window * kTile));
    g.tile.resize(static_cast<std::size_t>(kTile) * kTile);
    GdalMessages messages;
    GDALRasterBandH band = gdal().GDALGetRasterBand(g.dataset, g.written + 1);
    for (std::int64_t b = 0; b < g.raster.bandCount(); ++b) {
        const std::int64_t row = b * kTile;
        const std::int64_t height = std::min<std::int64_t>(kTile, layout.rows - row);
        for (std::int64_t column = 0; column < layout.columns; column += window) {
            const std::int64_t width = std::min(window, layout.columns - column);
            g.raster.fill(b, column, width, values, activeOrNull, kNoData, g.buffer.data());
            // Whole tiles straight to the file, past GDAL's block cache: through the cache
            // each band took a tile's memory (256 KB) that, freed among the bands' own small
            // allocations, the process never had back (5,000 bands of a 2 by 2 grid grew to
            // 1.3 GB).
            for (std::int64_t x = 0; x < width; x += kTile) {
                const std::int64_t across = std::min<std::int64_t>(kTile, width - x);
                if (across < kTile || height < kTile) std::fill(g.tile.begin(), g.tile.end(), kNoData);
                for (std::int64_t y = 0; y < height; ++y) {
                    std::copy_n(g.buffer.data() + y * width + x, across,
                                g.tile.data() + y * kTile);
                }
                if (gdal().GDALWriteBlock(band, static_cast<int>((column + x) / kTile),
                                          static_cast<int>(b), g.tile.data()) != CE_None ||
                    messages.failed()) {
                    g.fail(messages, "a band could not be written");
                }
            }
        }
    }
    gdal().GDALSetDescription(band, (description.empty() ? describeTime(time) : description).c_str());
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(time));
    gdal().GDALSetMetadataItem(band, "TIME", text, nullptr);
    if (messages.failed()) g.fail(messages, "a band could not be described");
    ++g.written;
}

void GridWriter::finish() {
    Impl& g = *impl_;
    if (g.dataset == nullptr) throw GridError("ERROR - The grid " + g.request.outputPath + " is closed.");
    if (g.written != g.bandCount) {
        const int written = g.written;
        g.discard();
        throw GridError("ERROR - The grid " + g.request.outputPath + " was announced with " +
                        std::to_string(g.bandCount) + " bands and " + std::to_string(written) +
                        " were written.");
    }
    GdalMessages messages;
    gdal().GDALClose(g.dataset);
    g.dataset = nullptr;
    if (messages.failed()) g.fail(messages, "the file could not be completed");
    // The replace every output gets (a plain rename fails over an existing file on Windows).
    if (!g.output->land()) {
        const std::string reason = std::strerror(errno);
        throw GridError("ERROR - Could not give the grid its name " + g.request.outputPath +
                        ": " + reason + ".");
    }
}

std::int64_t GridWriter::columns() const { return impl_->raster.layout().columns; }
std::int64_t GridWriter::rows() const { return impl_->raster.layout().rows; }
double GridWriter::originX() const { return impl_->raster.layout().originX; }
double GridWriter::originY() const { return impl_->raster.layout().originY; }

#else  // a build without GDAL

bool available() { return false; }
std::string whyUnavailable() { return "it was built without GDAL (Debian: libgdal-dev)"; }

struct GridWriter::Impl {};

GridWriter::GridWriter(const MeshGeometry&, const GridRequest&, std::int32_t, std::int32_t, bool,
                       int, std::vector<std::string>&) {
    throw GridError(
        "ERROR - This build of kelvara cannot write grids: it was built without GDAL.");
}
GridWriter::~GridWriter() = default;
void GridWriter::addBand(float, const std::int8_t*, const float*, const float*,
                         const std::string&) {}
void GridWriter::finish() {}
std::int64_t GridWriter::columns() const { return 0; }
std::int64_t GridWriter::rows() const { return 0; }
double GridWriter::originX() const { return 0.0; }
double GridWriter::originY() const { return 0.0; }

#endif

}  // namespace kelvara::grid
