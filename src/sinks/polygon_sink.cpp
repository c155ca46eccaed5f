// The .gpkg sink: the steps of any operation as polygon layers of a GeoPackage (src/vector),
// traced on the mesh the companion resolver names (src/extent). Each step is traced as it comes
// and only its polygons are held:
//   - a class step (hazard classes, UK classes) becomes a layer of its own, one dissolved
//     feature per class (class 0, dry or no class, is no feature);
//   - steps of values become the features of one extent layer, one per threshold and step,
//     at the thresholds of -extent; without thresholds they are left out with a note;
//   - input numbers and coded differences are left out with a note.
// A cell whose flag is 0 at a step belongs to no region of that step.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "extent/extent.h"
#include "fileio/error.h"
#include "formats/dataset.h"
#include "sinks/sink.h"
#include "util/path.h"
#include "util/text.h"
#include "vector/vector.h"

namespace kelvara {
namespace {

// A layer's name from what its step holds: "UK flood hazard class" → "uk_flood_hazard_class".
std::string layerNameOf(const std::string& description, float time) {
    std::string name;
    for (char c : description) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::isalnum(u)) {
            name += static_cast<char>(std::tolower(u));
        } else if (!name.empty() && name.back() != '_') {
            name += '_';
        }
    }
    while (!name.empty() && name.back() == '_') name.pop_back();
    if (name.empty()) name = "classes";
    return name + "_" + std::to_string(static_cast<long long>(std::lround(time)));
}

// A step's time for a message: "100012" for a whole number, "2.5" otherwise.
std::string timeWords(float time) {
    if (time == std::floor(time) && std::fabs(time) < 1e9f)
        return std::to_string(static_cast<long long>(time));
    return std::string(trimRight(AREAL(time)));
}

class PolygonSink : public StepSink {
public:
    explicit PolygonSink(const SinkSetup& s) : setup_(s), thresholds_(s.thresholds) {
        std::sort(thresholds_.begin(), thresholds_.end());
    }

    void begin(const SinkStart& start) override {
        if (!vector::available()) {
            throw errorLine("ERROR - This build of kelvara cannot write GeoPackage layers: " +
                            vector::whyUnavailable() + ".");
        }
        start_ = start;
        setup_.readMesh(mesh_, start.nodeCount, start.cellCount);
        vector::checkMeshOfDataset(mesh_, setup_.meshName, start.nodeCount, start.cellCount);
        topology_ = std::make_unique<extent::MeshTopology>(mesh_);
        std::vector<std::string> warnings;
        if (topology_->cellsLeftOut() > 0) {
            warnings.push_back("WARNING - " + std::to_string(topology_->cellsLeftOut()) +
                               " cells of " + setup_.meshName +
                               " have a corner without coordinates: the polygons leave them out.");
        }
        crs_ = vector::readCoordinateReference(setup_.referenceName, warnings);
        for (const std::string& line : warnings) {
            say("");
            say(line);
        }
        writer_ = std::make_unique<vector::PolygonLayerWriter>(setup_.output);
        if (start.vectors) magnitudes_.resize(static_cast<std::size_t>(start.nodeCount));
    }

    void writeStep(float time, const std::int8_t* active, const float* values1,
                   const float* values2) override {
        const OutputStep* step = start_.stepAt(time);
        const StepKind kind = step != nullptr ? step->kind : StepKind::Values;
        if (kind == StepKind::Classes) {
            writeClasses(*step, time, active, values1);
        } else if (kind == StepKind::Values && !thresholds_.empty()) {
            writeExtents(time, active, values1, values2);
        } else {
            if (notes_++ == 0) say("");
            say("Step " + timeWords(time) + " is left out of " + setup_.output + ": " +
                (kind == StepKind::Values
                     ? "it holds values, which become polygons at thresholds given with -extent."
                     : kind == StepKind::InputNumbers ? "it holds input numbers, not classes."
                                                      : "it holds coded differences."));
        }
    }

    void end() override {
        if (layers_ == 0) {
            throw errorLine("ERROR - There is nothing to write to " + setup_.output +
                            ": only class steps become polygons by themselves; for values, "
                            "name their thresholds with -extent (for example -extent0.1,0.3,1).");
        }
    }

    void land() override { writer_->finish(); }

    std::string summary() const override {
        return "Wrote " + CLEANPATH(setup_.output) + ": " + AINTEGER(layers_) +
               (layers_ == 1 ? " layer" : " layers") + " of " + AINTEGER(features_) +
               (features_ == 1 ? " feature" : " features") + " (" +
               AINTEGER(static_cast<int>(polygons_)) + (polygons_ == 1 ? " polygon)." : " polygons).");
    }

private:
    void say(const std::string& line) const {
        if (setup_.messages) setup_.messages(line);
    }

    void beginLayer(const std::string& name, vector::LayerKind kind, const std::string& what) {
        vector::LayerDefinition layer;
        layer.name = name;
        layer.kind = kind;
        layer.crsWkt = crs_;
        layer.description = what;
        writer_->beginLayer(layer);
        current_ = name;
        ++layers_;
    }

    // The class of each class value that some cell takes, and every named class, so that each
    // class has its row even where no cell takes it.
    void writeClasses(const OutputStep& step, float time, const std::int8_t* active,
                      const float* values) {
        std::string name = layerNameOf(step.description, time);
        if (name == current_ || name == "extent") name += "_" + AINTEGER(layers_ + 1);
        beginLayer(name, vector::LayerKind::Classes, step.description);
        const std::vector<extent::ClassRegion> regions =
            extent::traceClasses(*topology_, values, active);
        std::vector<std::int32_t> written;
        const auto nameOf = [&step](std::int32_t value) {
            const auto index = static_cast<std::size_t>(value - 1);
            return value >= 1 && index < step.categories.size() ? step.categories[index]
                                                                : std::string();
        };
        for (std::int32_t value = 1; value <= static_cast<std::int32_t>(step.categories.size());
             ++value) {
            std::vector<extent::Polygon> polygons;
            for (const extent::ClassRegion& r : regions) {
                if (std::lround(r.value) != value) continue;
                polygons.insert(polygons.end(), r.polygons.begin(), r.polygons.end());
            }
            addClass(value, nameOf(value), time, polygons);
            written.push_back(value);
        }
        // Values beyond the named classes (not whole numbers are taken to the nearest).
        for (const extent::ClassRegion& r : regions) {
            const auto value = static_cast<std::int32_t>(std::lround(r.value));
            if (value < 1 || std::find(written.begin(), written.end(), value) != written.end())
                continue;
            std::vector<extent::Polygon> polygons;
            for (const extent::ClassRegion& same : regions)
                if (std::lround(same.value) == value)
                    polygons.insert(polygons.end(), same.polygons.begin(), same.polygons.end());
            addClass(value, nameOf(value), time, polygons);
            written.push_back(value);
        }
    }

    void addClass(std::int32_t value, const std::string& name, float time,
                  const std::vector<extent::Polygon>& polygons) {
        writer_->addClass(value, name, time, polygons);
        ++features_;
        polygons_ += static_cast<std::int64_t>(polygons.size());
    }

    // The region at or above each threshold, of the magnitudes of vectors.
    void writeExtents(float time, const std::int8_t* active, const float* values1,
                      const float* values2) {
        if (current_ != "extent") {
            if (extentLayers_ > 0) {
                throw errorLine("ERROR - The steps of values of " + setup_.output +
                                    " come between class steps: they cannot share one layer.",
                                ErrorCode::Internal);
            }
            beginLayer("extent", vector::LayerKind::Extent, "extent: at or above each threshold");
            ++extentLayers_;
        }
        const float* values = values1;
        if (start_.vectors && values2 != nullptr) {
            VECTOR_MAGNITUDES(values1, values2, magnitudes_.data(), magnitudes_.size());
            values = magnitudes_.data();
        }
        for (double threshold : thresholds_) {
            const std::vector<extent::Polygon> polygons =
                extent::traceExtent(*topology_, values, active, threshold);
            writer_->addExtent(threshold, time, polygons);
            ++features_;
            polygons_ += static_cast<std::int64_t>(polygons.size());
        }
    }

    SinkSetup setup_;
    std::vector<double> thresholds_;  // increasing: a GIS draws the deeper extents on top
    SinkStart start_;
    MeshGeometry mesh_;
    std::unique_ptr<extent::MeshTopology> topology_;
    std::string crs_;
    std::unique_ptr<vector::PolygonLayerWriter> writer_;
    std::vector<float> magnitudes_;
    std::string current_;  // the layer being written
    int layers_ = 0;
    int extentLayers_ = 0;
    int features_ = 0;
    int notes_ = 0;  // steps left out
    std::int64_t polygons_ = 0;
};

}  // namespace

std::unique_ptr<StepSink> makePolygonSink(const SinkSetup& setup) {
    return std::make_unique<PolygonSink>(setup);
}

}  // namespace kelvara
