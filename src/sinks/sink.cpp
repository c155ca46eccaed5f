#include "sinks/sink.h"

#include <cmath>

#include "util/text.h"

namespace kelvara {
namespace {

const SinkType kSinks[] = {
    {".dat", "Output .dat File", makeDatasetSink},
    {".tif", "Output Grid File", makeGridSink, "the grid", "The grid ",
     " draws the values on the mesh of "},
    {".tiff", "Output Grid File", makeGridSink, "the grid", "The grid ",
     " draws the values on the mesh of "},
    {".gpkg", "Output GeoPackage File", makePolygonSink, "the polygons", "The polygons of ",
     " are traced on the mesh of "},
    {".nc", "Output NetCDF File", makeNetcdfSink, "the NetCDF file", "The NetCDF file ",
     " holds the mesh of "},
};

std::string extensionOf(const std::string& name) {
    const std::size_t dot = name.find_last_of('.');
    const std::size_t separator = name.find_last_of("/\\");
    if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) return {};
    return LOWERCASE(name.substr(dot));
}

}  // namespace

const OutputStep* SinkStart::stepAt(float time) const {
    const OutputStep* other = nullptr;
    for (const OutputStep& s : steps) {
        if (s.time != kEveryOtherStep) {
            if (std::fabs(s.time - time) <= 0.01f) return &s;
        } else if (other == nullptr) {
            other = &s;
        }
    }
    return other;
}

StepKind SinkStart::kindOf(float time) const {
    const OutputStep* s = stepAt(time);
    return s != nullptr ? s->kind : StepKind::Values;
}

const SinkType* findSink(const std::string& output) {
    const std::string extension = extensionOf(output);
    for (const SinkType& s : kSinks)
        if (extension == s.extension) return &s;
    return nullptr;
}

std::string knownSinkExtensions() {
    std::string text;
    const std::size_t count = sizeof kSinks / sizeof kSinks[0];
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) text += i + 1 == count ? " or " : ", ";
        text += kSinks[i].extension;
    }
    return text;
}

bool isGridOutput(const std::string& output) {
    const SinkType* s = findSink(output);
    return s != nullptr && s->make == makeGridSink;
}

bool isPolygonOutput(const std::string& output) {
    const SinkType* s = findSink(output);
    return s != nullptr && s->make == makePolygonSink;
}

bool isNetcdfOutput(const std::string& output) {
    const SinkType* s = findSink(output);
    return s != nullptr && s->make == makeNetcdfSink;
}

}  // namespace kelvara
