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

    // Draws and writes band index (from 0) of the values (one per node).
    void drawBand(int index, const std::int8_t* active, const float* values);
    // The side file's text: the names and colours of the bands with categories.
    std::string sideFileText() const;

    Rasteriser raster;
    GridRequest request;
    std::int32_t nodeCount = 0;
    bool vector = false;
    int bandCount = 0;
    int written = 0;
    std::vector<BandSpec> bands;  // what each band holds (Values until addBand describes it)
    bool planned = false;         // bands known beforehand (addStep)
    GDALDataType type = GDT_Float32;
    float noData = kNoData;
    std::unique_ptr<OutputFile> output;  // the work file, until it takes its name
    std::unique_ptr<OutputFile> side;    // the side file of names and colours, when it has one
    GDALDatasetH dataset = nullptr;
    std::vector<float> magnitude;
    std::vector<float> prepared;  // a band's node values as drawn
    std::vector<float> buffer;
    std::vector<float> tile;
    std::vector<unsigned char> wholeTile;  // a tile of whole numbers in the file's type
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
                       std::vector<std::string>& warnings)
    : GridWriter(mesh, request, nodeCount, cellCount, vector,
                 std::vector<BandSpec>(static_cast<std::size_t>(std::max(bandCount, 0))), 0.0f,
                 warnings) {
    impl_->planned = false;
}

GridWriter::GridWriter(const MeshGeometry& mesh, const GridRequest& request,
                       std::int32_t nodeCount, std::int32_t cellCount, bool vector,
                       std::vector<BandSpec> bands, float largestClass,
                       std::vector<std::string>& warnings) {
    const int bandCount = static_cast<int>(bands.size());
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
    g.bands = std::move(bands);
    g.planned = true;
    // One data type for the file: whole numbers when every band holds classes.
    const bool classes = std::all_of(g.bands.begin(), g.bands.end(), [](const BandSpec& b) {
        return b.kind == BandKind::Classes;
    });
    if (classes && largestClass < 2.0e9f) {
        g.type = largestClass <= 255.0f     ? GDT_Byte
                 : largestClass <= 65535.0f ? GDT_UInt16
                                            : GDT_Int32;
        g.noData = 0.0f;
    }
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
    const char* options[] = {"TILED=YES",
                             blockX.c_str(),
                             blockY.c_str(),
                             "COMPRESS=DEFLATE",
                             g.type == GDT_Float32 ? "PREDICTOR=3" : "PREDICTOR=2",
                             "INTERLEAVE=BAND",
                             "BIGTIFF=IF_SAFER",
                             nullptr};
    // The work file, made and known to the signal handler before GDAL writes it.
    g.output = std::make_unique<OutputFile>(request.outputPath);
    if (!g.output->open()) {
        const std::string reason = std::strerror(errno);
        if (reference != nullptr) gdal().OSRDestroySpatialReference(reference);
        g.fail(messages, "its work file cannot be created beside it: " + reason);
    }
    if (std::any_of(g.bands.begin(), g.bands.end(),
                    [](const BandSpec& b) { return !b.categories.empty(); })) {
        g.side = std::make_unique<OutputFile>(request.outputPath + ".aux.xml");
        if (!g.side->open()) {
            const std::string reason = std::strerror(errno);
            if (reference != nullptr) gdal().OSRDestroySpatialReference(reference);
            g.fail(messages, "the work file of its side file cannot be created beside it: " +
                                 reason);
        }
    }
    g.dataset = gdal().GDALCreate(driver, g.output->workPath().c_str(), static_cast<int>(layout.columns),
                           static_cast<int>(layout.rows), bandCount, g.type,
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
        ok = gdal().GDALSetRasterNoDataValue(gdal().GDALGetRasterBand(g.dataset, b), g.noData) == CE_None;
    }
    // The first band's colours in the file itself (a GeoTIFF has one colour table, of a band of
    // whole numbers, set before any data); every band's names and colours go to the side file.
    const BandSpec& first = g.bands.front();
    if (ok && !first.categories.empty() && (g.type == GDT_Byte || g.type == GDT_UInt16)) {
        GDALColorTableH colours = gdal().GDALCreateColorTable(GPI_RGB);
        const GDALColorEntry none = {0, 0, 0, 0};
        gdal().GDALSetColorEntry(colours, 0, &none);
        const int count = static_cast<int>(first.categories.size());
        for (int k = 1; k <= count; ++k) {
            const Colour c = classColour(first.kind, k, count);
            const GDALColorEntry entry = {static_cast<short>(c.red), static_cast<short>(c.green),
                                          static_cast<short>(c.blue), 255};
            gdal().GDALSetColorEntry(colours, k, &entry);
        }
        ok = gdal().GDALSetRasterColorTable(gdal().GDALGetRasterBand(g.dataset, 1), colours) ==
             CE_None;
        gdal().GDALDestroyColorTable(colours);
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
    if (!g.planned) {
        BandSpec& plan = g.bands[static_cast<std::size_t>(g.written)];
        plan.time = time;
        plan.description = description.empty() ? describeTime(time) : description;
    }
    addStep(activeOrNull, v1, v2OrNull);
}

void GridWriter::addStep(const std::int8_t* activeOrNull, const float* v1,
                         const float* v2OrNull) {
    Impl& g = *impl_;
    const bool codes = g.written < g.bandCount &&
                       g.bands[static_cast<std::size_t>(g.written)].kind == BandKind::Difference;
    if (g.dataset == nullptr || g.written + (codes ? 1 : 0) >= g.bandCount) {
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
    g.drawBand(g.written, activeOrNull, values);
    ++g.written;
    if (codes) {
        g.drawBand(g.written, activeOrNull, values);
        ++g.written;
    }
}

int GridWriter::bandCount() const { return impl_->bandCount; }

namespace {

// The wet/dry codes of a difference.
constexpr float kFirstOnly = 99.0f, kSecondOnly = -99.0f;

// Whether a node value is a number above -99998 (the values at and below it mark nodes that are
// not set).
bool hasValue(float value) { return std::isfinite(value) && value > -99998.0f; }

// Text for XML.
std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// The lowest value a band's categories name: codes from 0, classes from 1.
int firstCategory(const BandSpec& band) { return band.kind == BandKind::WetDryCodes ? 0 : 1; }

}  // namespace

void GridWriter::Impl::drawBand(int index, const std::int8_t* active, const float* values) {
    const BandSpec& plan = bands[static_cast<std::size_t>(index)];
    const auto nodes = static_cast<std::size_t>(nodeCount);
    const float* drawn = values;
    if (plan.kind != BandKind::Values) {
        prepared.resize(nodes);
        for (std::size_t n = 0; n < nodes; ++n) {
            const float v = values[n];
            float& p = prepared[n];
            switch (plan.kind) {
            case BandKind::Difference:  // the codes are no values
                p = v == kFirstOnly || v == kSecondOnly ? NAN : v;
                break;
            case BandKind::Classes: p = hasValue(v) && v >= 0.5f ? std::round(v) : NAN; break;
            case BandKind::WetDryCodes:
                p = v == kFirstOnly ? 1.0f : v == kSecondOnly ? 2.0f : hasValue(v) ? 0.0f : NAN;
                break;
            case BandKind::Values: break;
            }
        }
        drawn = prepared.data();
    }
    const bool asClasses = plan.kind == BandKind::Classes || plan.kind == BandKind::WetDryCodes;
    const int bytes = type == GDT_Byte ? 1 : type == GDT_UInt16 ? 2 : 4;

    const GridLayout& layout = raster.layout();
    const std::int64_t window = std::min(layout.columns, kWindowTiles * kTile);
    buffer.resize(static_cast<std::size_t>(window * kTile));
    tile.resize(static_cast<std::size_t>(kTile) * kTile);
    wholeTile.resize(static_cast<std::size_t>(kTile) * kTile * static_cast<std::size_t>(bytes));
    // Statistics of the cells with data, in double.
    double count = 0.0, sum = 0.0, squares = 0.0, low = INFINITY, high = -INFINITY;
    GdalMessages messages;
    GDALRasterBandH band = gdal().GDALGetRasterBand(dataset, index + 1);
    for (std::int64_t b = 0; b < raster.bandCount(); ++b) {
        const std::int64_t row = b * kTile;
        const std::int64_t height = std::min<std::int64_t>(kTile, layout.rows - row);
        for (std::int64_t column = 0; column < layout.columns; column += window) {
            const std::int64_t width = std::min(window, layout.columns - column);
            if (asClasses) {
                raster.fillClasses(b, column, width, drawn, active, noData, buffer.data());
            } else {
                raster.fill(b, column, width, drawn, active, noData, buffer.data());
            }
            for (std::int64_t i = 0; i < width * height; ++i) {
                const double v = buffer[static_cast<std::size_t>(i)];
                if (v == noData) continue;
                count += 1.0;
                sum += v;
                squares += v * v;
                low = std::min(low, v);
                high = std::max(high, v);
            }
            // Whole tiles straight to the file, past GDAL's block cache: through the cache
            // each band took a tile's memory (256 KB) that, freed among the bands' own small
            // allocations, the process never had back (5,000 bands of a 2 by 2 grid grew to
            // 1.3 GB).
            for (std::int64_t x = 0; x < width; x += kTile) {
                const std::int64_t across = std::min<std::int64_t>(kTile, width - x);
                if (across < kTile || height < kTile) std::fill(tile.begin(), tile.end(), noData);
                for (std::int64_t y = 0; y < height; ++y) {
                    std::copy_n(buffer.data() + y * width + x, across, tile.data() + y * kTile);
                }
                void* block = tile.data();
                if (type != GDT_Float32) {
                    for (std::size_t i = 0; i < tile.size(); ++i) {
                        const float v = tile[i];
                        if (type == GDT_Byte) {
                            wholeTile[i] = static_cast<unsigned char>(v);
                        } else if (type == GDT_UInt16) {
                            const auto w = static_cast<std::uint16_t>(v);
                            std::memcpy(&wholeTile[2 * i], &w, 2);
                        } else {
                            const auto w = static_cast<std::int32_t>(v);
                            std::memcpy(&wholeTile[4 * i], &w, 4);
                        }
                    }
                    block = wholeTile.data();
                }
                if (gdal().GDALWriteBlock(band, static_cast<int>((column + x) / kTile),
                                          static_cast<int>(b), block) != CE_None ||
                    messages.failed()) {
                    fail(messages, "a band could not be written");
                }
            }
        }
    }
    gdal().GDALSetDescription(band, plan.description.c_str());
    if (!plan.unit.empty()) gdal().GDALSetRasterUnitType(band, plan.unit.c_str());
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(plan.time));
    gdal().GDALSetMetadataItem(band, "TIME", text, nullptr);
    if (count > 0.0) {
        const double mean = sum / count;
        const double spread = std::sqrt(std::max(0.0, squares / count - mean * mean));
        gdal().GDALSetRasterStatistics(band, low, high, mean, spread);
    }
    if (messages.failed()) fail(messages, "a band could not be described");
}

std::string GridWriter::Impl::sideFileText() const {
    std::string xml = "<PAMDataset>\n";
    for (std::size_t b = 0; b < bands.size(); ++b) {
        const BandSpec& band = bands[b];
        if (band.categories.empty()) continue;
        const int first = firstCategory(band);
        const int count = static_cast<int>(band.categories.size());
        xml += "  <PAMRasterBand band=\"" + std::to_string(b + 1) + "\">\n";
        xml += "    <CategoryNames>\n";
        if (first == 1) xml += "      <Category></Category>\n";
        for (const std::string& name : band.categories)
            xml += "      <Category>" + escaped(name) + "</Category>\n";
        xml += "    </CategoryNames>\n";
        xml += "    <GDALRasterAttributeTable tableType=\"thematic\">\n";
        const char* fields[][3] = {{"Value", "0", "5"}, {"Class", "2", "2"}, {"Red", "0", "6"},
                                   {"Green", "0", "7"}, {"Blue", "0", "8"}};
        for (int f = 0; f < 5; ++f) {
            xml += "      <FieldDefn index=\"" + std::to_string(f) + "\"><Name>" + fields[f][0] +
                   "</Name><Type>" + fields[f][1] + "</Type><Usage>" + fields[f][2] +
                   "</Usage></FieldDefn>\n";
        }
        for (int k = 0; k < count; ++k) {
            const int value = first + k;
            const Colour c = classColour(band.kind, value, count);
            xml += "      <Row index=\"" + std::to_string(k) + "\"><F>" + std::to_string(value) +
                   "</F><F>" + escaped(band.categories[static_cast<std::size_t>(k)]) +
                   "</F><F>" + std::to_string(c.red) + "</F><F>" + std::to_string(c.green) +
                   "</F><F>" + std::to_string(c.blue) + "</F></Row>\n";
        }
        xml += "    </GDALRasterAttributeTable>\n";
        xml += "  </PAMRasterBand>\n";
    }
    return xml + "</PAMDataset>\n";
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
    // GDAL keeps what a GeoTIFF cannot hold in a side file of its own, named after the work
    // file; the grid's names and colours are in its own side file.
    std::remove((g.output->workPath() + ".aux.xml").c_str());
    if (g.side) {
        const std::string text = g.sideFileText();
        std::FILE* file = std::fopen(g.side->workPath().c_str(), "wb");
        const bool written = file != nullptr &&
                             std::fwrite(text.data(), 1, text.size(), file) == text.size();
        if (file == nullptr || std::fclose(file) != 0 || !written) {
            const std::string reason = std::strerror(errno);
            g.discard();
            g.side->drop();
            throw GridError("ERROR - Could not write the grid " + g.request.outputPath +
                            ": its side file " + g.side->name() + " cannot be written: " + reason +
                            ".");
        }
    }
    // The replace every output gets (a plain rename fails over an existing file on Windows).
    if (!g.output->land()) {
        const std::string reason = std::strerror(errno);
        throw GridError("ERROR - Could not give the grid its name " + g.request.outputPath +
                        ": " + reason + ".");
    }
    if (!g.side) {
        // A side file of an earlier grid of this name would name bands this one does not have.
        std::remove((g.request.outputPath + ".aux.xml").c_str());
    } else if (!g.side->land()) {
        const std::string reason = std::strerror(errno);
        throw GridError("ERROR - Could not give the grid's side file its name " + g.side->name() +
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
GridWriter::GridWriter(const MeshGeometry&, const GridRequest&, std::int32_t, std::int32_t, bool,
                       std::vector<BandSpec>, float, std::vector<std::string>&) {
    throw GridError(
        "ERROR - This build of kelvara cannot write grids: it was built without GDAL.");
}
void GridWriter::addBand(float, const std::int8_t*, const float*, const float*,
                         const std::string&) {}
void GridWriter::addStep(const std::int8_t*, const float*, const float*) {}
int GridWriter::bandCount() const { return 0; }
void GridWriter::finish() {}
std::int64_t GridWriter::columns() const { return 0; }
std::int64_t GridWriter::rows() const { return 0; }
double GridWriter::originX() const { return 0.0; }
double GridWriter::originY() const { return 0.0; }

#endif

}  // namespace kelvara::grid
