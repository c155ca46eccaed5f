// The UGRID writer over the NetCDF C library, or, in a build without it, a writer that refuses.
//
// The file is NetCDF-4 in its classic model: every NetCDF reader of the last fifteen years opens
// it, and it still has what the classic formats lack for large meshes: chunks of one step
// compressed on their own (deflate level 1 with shuffle: quick to write, and no-value areas and
// flags shrink to almost nothing), variables of any size, and variables that can be added after
// steps have been written (a summary step is met only when the dataset reaches it).
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fileio/error.h"
#include "fileio/output_file.h"
#include "maps/summary.h"
#include "netcdf/ugrid.h"
#include "util/path.h"

#ifdef KELVARA_HAVE_NETCDF
#include <dlfcn.h>

#include <mutex>

#include "netcdf/netcdf_api.h"
#endif

#ifndef KELVARA_NETCDF_LIBRARY
#define KELVARA_NETCDF_LIBRARY "libnetcdf.so"
#endif

#ifndef KELVARA_VERSION
#define KELVARA_VERSION "unknown"
#endif

namespace kelvara::netcdf {

#ifdef KELVARA_HAVE_NETCDF

const NetcdfApi* loadNetcdf(std::string& why) {
    static std::once_flag once;
    static NetcdfApi api;
    static const NetcdfApi* loaded = nullptr;
    static std::string reason;
    std::call_once(once, [] {
        void* library = dlopen(KELVARA_NETCDF_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            const char* text = dlerror();
            reason = text != nullptr ? text : "not found";
            return;
        }
        bool complete = true;
#define KELVARA_NETCDF_RESOLVE(name)                                                   \
    api.name = reinterpret_cast<decltype(api.name)>(dlsym(library, #name));          \
    if (api.name == nullptr) {                                                         \
        complete = false;                                                              \
        reason = "it has no " #name;                                                   \
    }
        KELVARA_NETCDF_FUNCTIONS(KELVARA_NETCDF_RESOLVE)
#undef KELVARA_NETCDF_RESOLVE
        if (complete) loaded = &api;
    });
    why = reason;
    return loaded;
}

bool available() {
    std::string why;
    return loadNetcdf(why) != nullptr;
}

namespace {

// The loaded functions (the writer has made sure that they are before it calls any).
const NetcdfApi& nc() {
    std::string why;
    return *loadNetcdf(why);
}

constexpr std::size_t kChunkNodes = std::size_t{1} << 20;  // values per chunk: 4 MiB of floats
constexpr std::size_t kFacesPerWrite = std::size_t{1} << 18;
constexpr signed char kFlagFill = -1;
constexpr int kNoFaceNode = -1;
constexpr int kIntegerFill = -99999;

const char* const kMesh = "mesh2d";
const char* const kNodeX = "mesh2d_node_x";
const char* const kNodeY = "mesh2d_node_y";
const char* const kCoordinates = "mesh2d_node_x mesh2d_node_y";

// What CF says of a dataset of a known type.
struct Quantity {
    std::string longName;
    std::string units;
    std::string standardName[2];  // scalar: [0]; vector: x and y
};

Quantity quantityOf(const DatasetDescription& d) {
    Quantity q{d.name, "", {"", ""}};
    if (d.dataType == "_d") q = {"water depth", "m", {"", ""}};
    if (d.dataType == "_h")
        q = {"water level", "m", {"water_surface_height_above_reference_datum", ""}};
    if (d.dataType == "_v")
        q = {"velocity", "m s-1", {"sea_water_x_velocity", "sea_water_y_velocity"}};
    if (!d.longName.empty()) q.longName = d.longName;
    return q;
}

// A class's name as one word of flag_meanings: letters, digits, "-", "." and "_" ("class_3"
// for a class without a name).
std::string meaningWord(const std::string& category, std::size_t number) {
    std::string word;
    for (char c : category) {
        const bool kept = std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' ||
                          c == '.' || c == '_';
        word += kept ? c : '_';
    }
    return word.empty() ? "class_" + std::to_string(number) : word;
}

// Whether a WKT describes projected coordinates, geographic ones, or neither that it tells.
enum class CrsKind { None, Projected, Geographic };

CrsKind crsKindOf(const std::string& wkt) {
    const auto starts = [&wkt](const char* word) { return wkt.rfind(word, 0) == 0; };
    if (starts("PROJCS[") || starts("PROJCRS[") || starts("PROJECTEDCRS[")) return CrsKind::Projected;
    if (starts("GEOGCS[") || starts("GEOGCRS[") || starts("GEOGRAPHICCRS[")) return CrsKind::Geographic;
    return CrsKind::None;
}

// Whether a projected WKT's own unit (its last UNIT, the one of the axes) is the metre.
bool inMetres(const std::string& wkt) {
    const std::size_t at = wkt.rfind("UNIT[\"");  // LENGTHUNIT[" too
    if (at == std::string::npos) return false;
    const std::size_t name = wkt.find('"', at) + 1;
    const std::string unit = wkt.substr(name, wkt.find('"', name) - name);
    return unit == "metre" || unit == "meter" || unit == "Meter" || unit == "m";
}

std::string timeText(double time) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", time);
    return text;
}

}  // namespace

struct UgridWriter::Impl {
    struct Summary {
        int values[2] = {-1, -1};
        int flags = -1;
        bool integer = false;  // numbers or classes, written as integers
    };
    struct Dataset {
        DatasetDescription description;
        Quantity quantity;
        int values[2] = {-1, -1};
        int flags = -1;
        std::vector<bool> written;  // per time index
        std::map<float, Summary> summaries;
    };

    const MeshGeometry& mesh;
    UgridOptions options;
    std::string output;
    std::unique_ptr<OutputFile> file;  // the work file, until it takes its name
    int ncid = -1;
    bool defining = false;
    std::size_t nodeCount = 0, faceCount = 0;
    int nodeDim = -1, faceDim = -1, timeDim = -1, cornerDim = -1;
    int timeVar = -1;
    bool hasCrs = false;
    // The grid mapping's variable: "projected_coordinate_system" for a projected reference, the
    // name under which the desktop GIS's mesh reader looks for it (with its "wkt"); else "crs".
    std::string crsName = "crs";
    std::vector<double> times;
    std::vector<Dataset> datasets;
    std::vector<std::string> names;
    std::vector<float> buffer;
    std::vector<int> integers;

    Impl(const MeshGeometry& m, const UgridOptions& o, const std::string& path)
        : mesh(m), options(o), output(path) {}

    ~Impl() {
        if (ncid >= 0) nc().nc_close(ncid);
        file.reset();  // an unfinished file is removed
    }

    Error failure(const std::string& what) const {
        return errorLine("ERROR - Cannot write \"" + output + "\": " + what);
    }

    void check(int status, const std::string& what) const {
        if (status != NC_NOERR) throw failure(what + ": " + nc().nc_strerror(status) + ".");
    }

    void define() {
        if (!defining) check(nc().nc_redef(ncid), "reopening its definitions");
        defining = true;
    }
    void data() {
        if (defining) check(nc().nc_enddef(ncid), "completing its definitions");
        defining = false;
    }

    void text(int var, const char* name, const std::string& value) {
        check(nc().nc_put_att_text(ncid, var, name, value.size(), value.c_str()),
              std::string("writing the attribute ") + name);
    }
    void integer(int var, const char* name, int value) {
        check(nc().nc_put_att_int(ncid, var, name, NC_INT, 1, &value),
              std::string("writing the attribute ") + name);
    }

    // A name not yet taken: wanted, or wanted_2, wanted_3, ...
    std::string freeName(const std::string& wanted) {
        std::string name = wanted;
        for (int n = 2; std::find(names.begin(), names.end(), name) != names.end(); ++n)
            name = wanted + "_" + std::to_string(n);
        return name;
    }

    int variable(const std::string& wanted, nc_type type, std::vector<int> dims) {
        const std::string name = freeName(wanted);
        int var = -1;
        check(nc().nc_def_var(ncid, name.c_str(), type, static_cast<int>(dims.size()), dims.data(), &var),
              "defining the variable " + name);
        names.push_back(name);
        return var;
    }

    // Chunks of one step (at most kChunkNodes values), compressed.
    void chunked(int var, bool timed, std::size_t length) {
        std::size_t chunks[2] = {1, std::min(length, kChunkNodes)};
        check(nc().nc_def_var_chunking(ncid, var, NC_CHUNKED, timed ? chunks : chunks + 1), "chunking");
        compressed(var);
        // Each chunk is written once, whole: a cache of one chunk is all a variable needs (the
        // library's default, tens of megabytes a variable, added up to more than the run's
        // tables).
        const std::size_t bytes = chunks[1] * 4;
        check(nc().nc_set_var_chunk_cache(ncid, var, bytes, 1, 1.0f), "the chunk cache");
    }

    void compressed(int var) {
        const int level = options.deflateLevel;
        if (level > 0)
            check(nc().nc_def_var_deflate(ncid, var, 1, 1, level), "setting compression");
    }

    // A variable of node values (with a time axis unless it is a summary step).
    int nodeVariable(const std::string& name, bool timed, const std::string& longName,
                     const std::string& standardName, const std::string& units,
                     const std::string& source) {
        const int var = timed ? variable(name, NC_FLOAT, {timeDim, nodeDim})
                              : variable(name, NC_FLOAT, {nodeDim});
        chunked(var, timed, nodeCount);
        check(nc().nc_put_att_float(ncid, var, "_FillValue", NC_FLOAT, 1, &kFillValue), "fill value");
        if (!standardName.empty()) text(var, "standard_name", standardName);
        text(var, "long_name", longName);
        if (!units.empty()) text(var, "units", units);
        text(var, "mesh", kMesh);
        text(var, "location", "node");
        text(var, "coordinates", kCoordinates);
        if (hasCrs) text(var, "grid_mapping", crsName);
        if (!source.empty()) text(var, "source_file", source);
        return var;
    }

    // The cells' flags of a step: bytes on the time axis; a summary step's as integers, since
    // the desktop GIS's mesh reader cannot read a byte variable without a time axis (the whole
    // file then fails to open as a mesh). The library converts the bytes written.
    int flagVariable(const std::string& name, bool timed, const std::string& longName) {
        const nc_type type = timed ? NC_BYTE : NC_INT;
        const int var = timed ? variable(name, type, {timeDim, faceDim})
                              : variable(name, type, {faceDim});
        chunked(var, timed, faceCount);
        check(nc().nc_put_att_schar(ncid, var, "_FillValue", type, 1, &kFlagFill), "fill value");
        text(var, "long_name", longName);
        const signed char values[2] = {0, 1};
        check(nc().nc_put_att_schar(ncid, var, "flag_values", type, 2, values), "flag values");
        text(var, "flag_meanings", "inactive active");
        text(var, "mesh", kMesh);
        text(var, "location", "face");
        return var;
    }

    // A variable of node numbers or classes (integers), without a time axis.
    int integerVariable(const std::string& name, const std::string& longName,
                        const std::vector<std::string>& categories, const std::string& source) {
        const int var = variable(name, NC_INT, {nodeDim});
        chunked(var, false, nodeCount);
        check(nc().nc_put_att_int(ncid, var, "_FillValue", NC_INT, 1, &kIntegerFill), "fill value");
        text(var, "long_name", longName);
        if (!categories.empty()) {
            std::vector<int> values;
            std::string meanings;
            for (std::size_t k = 0; k < categories.size(); ++k) {
                values.push_back(static_cast<int>(k + 1));
                meanings += (k > 0 ? " " : "") + meaningWord(categories[k], k + 1);
            }
            check(nc().nc_put_att_int(ncid, var, "flag_values", NC_INT, values.size(),
                                      values.data()),
                  "flag values");
            text(var, "flag_meanings", meanings);
        }
        text(var, "mesh", kMesh);
        text(var, "location", "node");
        text(var, "coordinates", kCoordinates);
        if (hasCrs) text(var, "grid_mapping", crsName);
        if (!source.empty()) text(var, "source_file", source);
        return var;
    }

    void open(const std::string& path) {
        if (mesh.x.size() != mesh.y.size() || mesh.x.size() != mesh.elevation.size())
            throw failure("the mesh's node tables differ in length.");
        nodeCount = mesh.x.size();
        faceCount = mesh.cells.size();
        if (nodeCount == 0) throw failure("the mesh has no nodes.");
        if (faceCount == 0) throw failure("the mesh has no cells.");
        bool quadrilaterals = false;
        for (std::size_t f = 0; f < faceCount; ++f) {
            const auto& c = mesh.cells[f];
            const auto valid = [this](std::int32_t n) {
                return n >= 1 && static_cast<std::size_t>(n) <= nodeCount;
            };
            if (!valid(c[0]) || !valid(c[1]) || !valid(c[2]) || (c[3] != 0 && !valid(c[3])))
                throw failure("cell " + std::to_string(f + 1) +
                              " of the mesh has no element line or a corner outside its nodes.");
            quadrilaterals = quadrilaterals || c[3] != 0;
        }
        const std::string reference = referenceTimeText(options.referenceTime);
        hasCrs = !options.crsWkt.empty();
        if (hasCrs && crsKindOf(options.crsWkt) == CrsKind::Projected)
            crsName = "projected_coordinate_system";
        std::string why;
        if (loadNetcdf(why) == nullptr)
            throw failure("the NetCDF library (" KELVARA_NETCDF_LIBRARY ") cannot be loaded: " +
                          why + ". Install libnetcdf-dev (Debian) and build kelvara again.");

        output = CLEANPATH(path);
        file = std::make_unique<OutputFile>(output);
        if (!file->open()) throw file->creationError();
        check(nc().nc_create(file->workPath().c_str(), NC_CLOBBER | NC_NETCDF4 | NC_CLASSIC_MODEL,
                        &ncid),
              "creating it");
        defining = true;
        int previous = 0;
        check(nc().nc_set_fill(ncid, NC_FILL, &previous), "setting fill mode");

        text(NC_GLOBAL, "Conventions", "CF-1.8 UGRID-1.0");
        text(NC_GLOBAL, "source", "kelvara " KELVARA_VERSION);
        text(NC_GLOBAL, "reference_time", reference);

        check(nc().nc_def_dim(ncid, "nmesh2d_node", nodeCount, &nodeDim), "defining the nodes");
        check(nc().nc_def_dim(ncid, "nmesh2d_face", faceCount, &faceDim), "defining the faces");
        check(nc().nc_def_dim(ncid, "max_nmesh2d_face_nodes", quadrilaterals ? 4 : 3, &cornerDim),
              "defining the corners");
        check(nc().nc_def_dim(ncid, "time", NC_UNLIMITED, &timeDim), "defining the time");

        const int topology = variable(kMesh, NC_INT, {});
        text(topology, "cf_role", "mesh_topology");
        text(topology, "long_name", options.meshName);
        integer(topology, "topology_dimension", 2);
        text(topology, "node_coordinates", kCoordinates);
        text(topology, "face_node_connectivity", "mesh2d_face_nodes");
        text(topology, "node_dimension", "nmesh2d_node");
        text(topology, "face_dimension", "nmesh2d_face");
        text(topology, "max_face_nodes_dimension", "max_nmesh2d_face_nodes");

        int crs = -1;
        if (hasCrs) {
            crs = variable(crsName, NC_INT, {});
            text(crs, "crs_wkt", options.crsWkt);
            text(crs, "spatial_ref", options.crsWkt);
            text(crs, "wkt", options.crsWkt);
        }
        const CrsKind kind = hasCrs ? crsKindOf(options.crsWkt) : CrsKind::None;
        int coordinate[2];
        const char* axis[2] = {"x", "y"};
        for (int i = 0; i < 2; ++i) {
            coordinate[i] = variable(i == 0 ? kNodeX : kNodeY, NC_DOUBLE, {nodeDim});
            chunked(coordinate[i], false, nodeCount);
            text(coordinate[i], "long_name", std::string(axis[i]) + "-coordinate of mesh nodes");
            text(coordinate[i], "mesh", kMesh);
            text(coordinate[i], "location", "node");
            if (kind == CrsKind::Projected) {
                text(coordinate[i], "standard_name",
                     i == 0 ? "projection_x_coordinate" : "projection_y_coordinate");
                if (inMetres(options.crsWkt)) text(coordinate[i], "units", "m");
            } else if (kind == CrsKind::Geographic) {
                text(coordinate[i], "standard_name", i == 0 ? "longitude" : "latitude");
                text(coordinate[i], "units", i == 0 ? "degrees_east" : "degrees_north");
            }
        }
        const int bed = nodeVariable("mesh2d_node_z", false, "bed elevation", "", "m", "");
        text(bed, "positive", "up");

        const int faces = variable("mesh2d_face_nodes", NC_INT, {faceDim, cornerDim});
        {
            std::size_t chunks[2] = {std::min(faceCount, kFacesPerWrite), quadrilaterals ? 4u : 3u};
            check(nc().nc_def_var_chunking(ncid, faces, NC_CHUNKED, chunks), "chunking");
            compressed(faces);
        }
        text(faces, "cf_role", "face_node_connectivity");
        text(faces, "long_name", "corner nodes of each face, anticlockwise");
        integer(faces, "start_index", 0);
        check(nc().nc_put_att_int(ncid, faces, "_FillValue", NC_INT, 1, &kNoFaceNode), "fill value");

        timeVar = variable("time", NC_DOUBLE, {timeDim});
        {
            std::size_t chunk = 512;
            check(nc().nc_def_var_chunking(ncid, timeVar, NC_CHUNKED, &chunk), "chunking");
        }
        text(timeVar, "standard_name", "time");
        text(timeVar, "long_name", "time");
        text(timeVar, "units", "hours since " + reference);
        text(timeVar, "calendar", "standard");
        text(timeVar, "axis", "T");

        data();
        check(nc().nc_put_var_double(ncid, coordinate[0], mesh.x.data()), "writing the nodes");
        check(nc().nc_put_var_double(ncid, coordinate[1], mesh.y.data()), "writing the nodes");
        check(nc().nc_put_var_float(ncid, bed, mesh.elevation.data()), "writing the bed elevations");
        writeFaces(faces, quadrilaterals ? 4 : 3);
    }

    // The corners from 0, turned anticlockwise where the mesh gives them clockwise (keeping the
    // first), -1 after a triangle's third.
    void writeFaces(int var, std::size_t corners) {
        std::vector<int> block;
        for (std::size_t start = 0; start < faceCount; start += kFacesPerWrite) {
            const std::size_t count = std::min(kFacesPerWrite, faceCount - start);
            block.assign(count * corners, kNoFaceNode);
            for (std::size_t f = 0; f < count; ++f) {
                const auto& c = mesh.cells[start + f];
                const std::size_t n = c[3] != 0 ? 4 : 3;
                double twiceArea = 0.0;
                for (std::size_t k = 0; k < n; ++k) {
                    const auto a = static_cast<std::size_t>(c[k] - 1);
                    const auto b = static_cast<std::size_t>(c[(k + 1) % n] - 1);
                    twiceArea += mesh.x[a] * mesh.y[b] - mesh.x[b] * mesh.y[a];
                }
                for (std::size_t k = 0; k < n; ++k) {
                    const std::size_t from = twiceArea < 0.0 && k != 0 ? n - k : k;
                    block[f * corners + k] = c[from] - 1;
                }
            }
            const std::size_t at[2] = {start, 0}, size[2] = {count, corners};
            check(nc().nc_put_vara_int(ncid, var, at, size, block.data()), "writing the faces");
        }
    }

    void addTime(double hours) {
        if (!times.empty() && hours <= times.back()) {
            if (hours == times.back()) return;
            throw failure("the time " + timeText(hours) + " h comes after " +
                          timeText(times.back()) + " h; the times must increase.");
        }
        data();
        const std::size_t at = times.size();
        check(nc().nc_put_var1_double(ncid, timeVar, &at, &hours), "writing a time");
        times.push_back(hours);
    }

    int addDataset(const DatasetDescription& description) {
        Dataset d;
        d.description = description;
        d.quantity = quantityOf(description);
        define();
        if (description.vector) {
            for (int i = 0; i < 2; ++i) {
                const char* part = i == 0 ? "x" : "y";
                d.values[i] = nodeVariable(description.name + "_" + part, true,
                                           d.quantity.longName + ", " + part + "-component",
                                           d.quantity.standardName[i], d.quantity.units,
                                           description.source);
            }
        } else {
            d.values[0] = nodeVariable(description.name, true, d.quantity.longName,
                                       d.quantity.standardName[0], d.quantity.units,
                                       description.source);
        }
        if (description.hasFlags)
            d.flags = flagVariable(description.name + "_active", true,
                                   d.quantity.longName + ": active (wet) cells");
        datasets.push_back(std::move(d));
        return static_cast<int>(datasets.size()) - 1;
    }

    // The values with every no value as the fill value.
    const float* filled(const float* values) {
        buffer.resize(nodeCount);
        for (std::size_t n = 0; n < nodeCount; ++n)
            buffer[n] = values[n] <= kNoValueLimit ? kFillValue : values[n];
        return buffer.data();
    }

    // The numbers or classes of a step, each to its nearest whole number; no value as fill.
    const int* whole(const float* values) {
        integers.resize(nodeCount);
        for (std::size_t n = 0; n < nodeCount; ++n) {
            const float v = values[n];
            const bool none = !(v > kNoValueLimit) || !(std::fabs(v) < 2.0e9f);
            integers[n] = none ? kIntegerFill : static_cast<int>(std::lround(v));
        }
        return integers.data();
    }

    static const NamedStep* namedStepAt(const Dataset& d, float time) {
        for (const NamedStep& n : d.description.namedSteps)
            if (std::fabs(n.time - time) <= 0.01f) return &n;
        return nullptr;
    }

    Summary& summaryOf(Dataset& d, float time, bool withFlags, const NamedStep* named) {
        const std::string part =
            named != nullptr && !named->name.empty() ? named->name : summaryNameFor(time);
        const bool maximum = time == 99999.0f;
        Summary s;
        define();
        const auto describe = [&](int var) {
            check(nc().nc_put_att_float(ncid, var, "step_time", NC_FLOAT, 1, &time), "step time");
        };
        const bool prefixed = d.description.prefixSteps;
        const std::string name = prefixed ? d.description.name + "_" + part : part;
        std::string words = part;
        std::replace(words.begin(), words.end(), '_', ' ');
        const std::string step = " (step " + timeText(time) + ")";
        std::string longName = (prefixed ? d.quantity.longName + ", " : std::string()) + words + step;
        if (named != nullptr && !named->description.empty())
            longName = (prefixed ? d.quantity.longName + ", " : std::string()) +
                       named->description + step;
        // The dataset's own quantity: its maximum, and the values an operation says of it.
        const bool sameQuantity =
            maximum || (named != nullptr && named->content == StepContent::Values && prefixed);
        s.integer = named != nullptr && named->content != StepContent::Values &&
                    !d.description.vector;
        if (s.integer) {
            s.values[0] = integerVariable(name, longName, named->categories, d.description.source);
            describe(s.values[0]);
        }
        for (int i = 0; i < (d.description.vector ? 2 : 1) && !s.integer; ++i) {
            const std::string axis = d.description.vector ? (i == 0 ? "_x" : "_y") : "";
            s.values[i] = nodeVariable(
                !d.description.vector ? name
                : prefixed            ? d.description.name + axis + "_" + part
                                      : part + axis,
                false,
                longName + (d.description.vector ? (i == 0 ? ", x-component" : ", y-component") : ""),
                maximum ? d.quantity.standardName[i] : "", sameQuantity ? d.quantity.units : "",
                d.description.source);
            describe(s.values[i]);
            if (maximum) text(s.values[i], "cell_methods", "time: maximum");
        }
        if (withFlags) {
            s.flags = flagVariable(name + "_active", false, longName + ": active (wet) cells");
            describe(s.flags);
        }
        return d.summaries.emplace(time, s).first->second;
    }

    void appendStep(int number, float time, const std::int8_t* active, const float* values1,
                    const float* values2) {
        if (number < 0 || static_cast<std::size_t>(number) >= datasets.size())
            throw failure("no dataset number " + std::to_string(number) + ".");
        Dataset& d = datasets[static_cast<std::size_t>(number)];
        const std::string& source = d.description.source;
        if (std::isnan(time)) throw failure("a step of " + source + " has a time that is not a number.");
        if (d.description.vector && values2 == nullptr)
            throw failure("a step of the vector dataset " + source + " has one component.");
        if (!d.description.hasFlags) active = nullptr;
        const std::int8_t* flags = active;

        const NamedStep* named = namedStepAt(d, time);
        if (!isOrdinaryTime(time) || named != nullptr) {
            if (d.summaries.count(time) != 0)
                throw failure(source + " has two steps at time " + timeText(time) +
                              "; the file holds one.");
            const Summary& s = summaryOf(d, time, flags != nullptr, named);
            data();
            if (s.integer)
                check(nc().nc_put_var_int(ncid, s.values[0], whole(values1)), "writing a step");
            else
                check(nc().nc_put_var_float(ncid, s.values[0], filled(values1)), "writing a step");
            if (s.values[1] >= 0)
                check(nc().nc_put_var_float(ncid, s.values[1], filled(values2)), "writing a step");
            if (s.flags >= 0)
                check(nc().nc_put_var_schar(ncid, s.flags, reinterpret_cast<const signed char*>(flags)),
                      "writing a step's flags");
            return;
        }

        const double hours = static_cast<double>(time) * d.description.hoursPerTimeUnit;
        auto at = std::lower_bound(times.begin(), times.end(), hours);
        if (at == times.end() || *at != hours) {
            if (at != times.end())
                throw failure("the step of " + source + " at " + timeText(hours) +
                              " h comes after the time " + timeText(times.back()) +
                              " h; the times must increase.");
            addTime(hours);
            at = times.end() - 1;
        }
        const auto index = static_cast<std::size_t>(at - times.begin());
        if (d.written.size() <= index) d.written.resize(index + 1, false);
        if (d.written[index])
            throw failure(source + " has two steps at time " + timeText(hours) +
                          " h; the file holds one.");
        d.written[index] = true;
        data();
        const std::size_t start[2] = {index, 0}, count[2] = {1, nodeCount};
        check(nc().nc_put_vara_float(ncid, d.values[0], start, count, filled(values1)), "writing a step");
        if (d.values[1] >= 0)
            check(nc().nc_put_vara_float(ncid, d.values[1], start, count, filled(values2)),
                  "writing a step");
        if (d.flags >= 0 && flags != nullptr) {
            const std::size_t faces[2] = {1, faceCount};
            check(nc().nc_put_vara_schar(ncid, d.flags, start, faces,
                                    reinterpret_cast<const signed char*>(flags)),
                  "writing a step's flags");
        }
    }

    void close() {
        if (ncid < 0) return;
        data();
        const int status = nc().nc_close(ncid);
        ncid = -1;
        check(status, "completing it");
        std::unique_ptr<OutputFile> closing = std::move(file);
        if (!closing->land()) throw failure(std::string("putting it in place: ") + std::strerror(errno));
    }
};

UgridWriter::UgridWriter(const std::string& outputPath, const MeshGeometry& mesh,
                         const UgridOptions& options)
    : impl_(std::make_unique<Impl>(mesh, options, outputPath)) {
    impl_->open(outputPath);
}

UgridWriter::~UgridWriter() = default;

void UgridWriter::addTime(double hours) { impl_->addTime(hours); }

int UgridWriter::addDataset(const DatasetDescription& dataset) {
    return impl_->addDataset(dataset);
}

void UgridWriter::appendStep(int dataset, float time, const std::int8_t* activeOrNull,
                             const float* values1, const float* values2OrNull) {
    impl_->appendStep(dataset, time, activeOrNull, values1, values2OrNull);
}

void UgridWriter::close() { impl_->close(); }

const std::vector<double>& UgridWriter::times() const { return impl_->times; }

std::vector<std::string> UgridWriter::variableNames() const { return impl_->names; }

#else  // a build without NetCDF: the same interface, refusing

bool available() { return false; }

struct UgridWriter::Impl {
    std::vector<double> times;
};

UgridWriter::UgridWriter(const std::string& outputPath, const MeshGeometry&, const UgridOptions&) {
    throw errorLine("ERROR - Cannot write \"" + outputPath +
                    "\": this build of kelvara has no NetCDF output; install libnetcdf-dev and "
                    "build it again.");
}

UgridWriter::~UgridWriter() = default;
void UgridWriter::addTime(double) {}
int UgridWriter::addDataset(const DatasetDescription&) { return -1; }
void UgridWriter::appendStep(int, float, const std::int8_t*, const float*, const float*) {}
void UgridWriter::close() {}
const std::vector<double>& UgridWriter::times() const { return impl_->times; }
std::vector<std::string> UgridWriter::variableNames() const { return {}; }

#endif

}  // namespace kelvara::netcdf
