// The extent layer of a dataset's steps: polygons traced on the mesh (src/extent), written by
// the GeoPackage writer.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "fileio/error.h"
#include "vector/vector.h"

namespace kelvara::vector {

namespace {

// The mesh, once the request has been checked against it and the dataset.
const MeshGeometry& checkedMesh(const MeshGeometry& mesh, const ExtentRequest& request,
                                std::int32_t nodeCount, std::int32_t cellCount) {
    checkMeshOfDataset(mesh, request.meshPath, nodeCount, cellCount);
    if (request.thresholds.empty()) {
        throw errorLine("ERROR - There is no threshold to trace the extent of for " +
                            request.outputPath + ".",
                        ErrorCode::Usage);
    }
    for (double threshold : request.thresholds) {
        if (!std::isfinite(threshold) || !std::isfinite(static_cast<float>(threshold))) {
            char text[40];
            std::snprintf(text, sizeof text, "%.15g", threshold);
            throw errorLine("ERROR - The extent threshold " + std::string(text) +
                                " is not a finite single-precision number.",
                            ErrorCode::Usage);
        }
    }
    return mesh;
}

}  // namespace

void checkMeshOfDataset(const MeshGeometry& mesh, const std::string& meshPath,
                        std::int32_t nodeCount, std::int32_t cellCount) {
    if (!available()) {
        throw errorLine("ERROR - This build of kelvara cannot write GeoPackage layers: " +
                            whyUnavailable(),
                        ErrorCode::Usage);
    }
    if (mesh.meshNodeCount != nodeCount || mesh.x.size() < static_cast<std::size_t>(nodeCount)) {
        throw errorLine("ERROR - " + meshPath + " has " + std::to_string(mesh.meshNodeCount) +
                            " nodes and the dataset " + std::to_string(nodeCount) +
                            ": the mesh does not belong to the dataset.",
                        ErrorCode::WrongInput);
    }
    if (cellCount < mesh.meshCellCount) {
        throw errorLine("ERROR - " + meshPath + " has cells numbered up to " +
                            std::to_string(mesh.meshCellCount) + " and the dataset " +
                            std::to_string(cellCount) +
                            " cells: the mesh does not belong to the dataset.",
                        ErrorCode::WrongInput);
    }
}

ExtentLayerWriter::ExtentLayerWriter(const MeshGeometry& mesh, const ExtentRequest& request,
                                     std::int32_t nodeCount, std::int32_t cellCount,
                                     std::vector<std::string>& warnings)
    : topology_(checkedMesh(mesh, request, nodeCount, cellCount)),
      thresholds_(request.thresholds) {
    std::sort(thresholds_.begin(), thresholds_.end());
    areas_.assign(thresholds_.size(), 0.0);
    if (topology_.cellsLeftOut() > 0) {
        warnings.push_back("WARNING - " + std::to_string(topology_.cellsLeftOut()) +
                           " cells of " + request.meshPath +
                           " have a corner without coordinates: the extents leave them out.");
    }
    LayerDefinition layer;
    layer.name = request.layerName;
    layer.kind = LayerKind::Extent;
    layer.crsWkt = readCoordinateReference(request.prjPath, warnings);
    layer.description = request.description;
    writer_ = std::make_unique<PolygonLayerWriter>(request.outputPath);
    writer_->beginLayer(layer);
}

ExtentLayerWriter::~ExtentLayerWriter() = default;

void ExtentLayerWriter::addStep(double time, const float* nodeValue,
                                const std::int8_t* activeOrNull) {
    for (std::size_t t = 0; t < thresholds_.size(); ++t) {
        const std::vector<extent::Polygon> polygons =
            extent::traceExtent(topology_, nodeValue, activeOrNull, thresholds_[t]);
        writer_->addExtent(thresholds_[t], time, polygons);
        areas_[t] = extent::totalArea(polygons);
        polygons_ += static_cast<std::int64_t>(polygons.size());
    }
}

void ExtentLayerWriter::finish() { writer_->finish(); }

void writeExtentLayer(const MeshGeometry& mesh, const ExtentRequest& request,
                      std::int32_t nodeCount, std::int32_t cellCount, double time,
                      const float* nodeValue, const std::int8_t* activeOrNull,
                      std::vector<std::string>& warnings) {
    ExtentLayerWriter writer(mesh, request, nodeCount, cellCount, warnings);
    writer.addStep(time, nodeValue, activeOrNull);
    writer.finish();
}

}  // namespace kelvara::vector
