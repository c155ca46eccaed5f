// A run's mesh and datasets into one NetCDF file, one step in memory at a time.
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "fileio/console.h"
#include "fileio/error.h"
#include "fileio/units.h"
#include "formats/dataset_io.h"
#include "formats/mesh.h"
#include "maps/summary.h"
#include "netcdf/ugrid.h"
#include "util/path.h"

namespace kelvara::netcdf {
namespace {

// Hours in one of a dataset's time units (card 250: 0 or none hours, 1 minutes, 2 seconds,
// 4 days).
double hoursPerUnit(std::int32_t units) {
    switch (units) {
    case 1: return 1.0 / 60.0;
    case 2: return 1.0 / 3600.0;
    case 4: return 24.0;
    default: return 1.0;
    }
}

}  // namespace

std::string convertRun(const RunConversion& run) {
    const std::string reference = referenceTimeText(run.referenceTime);
    const MeshCounts counts = countMesh(run.meshPath);

    // Every dataset must fit the mesh; the time axis is every ordinary time of every dataset.
    std::set<double> times;
    for (const std::string& path : run.datasetPaths) {
        DatasetReader reader = DatasetReader::open(path);
        const DatasetHeader& header = reader.readHeader();
        if (header.nodeCount != counts.nodes ||
            (header.cellCount != 0 && header.cellCount != counts.cells)) {
            throw errorLine("ERROR - " + path + " has " + std::to_string(header.nodeCount) +
                            " nodes and " + std::to_string(header.cellCount) +
                            " cells; its mesh " + run.meshPath + " has " +
                            std::to_string(counts.nodes) + " nodes and " +
                            std::to_string(counts.cells) + " cells.");
        }
        const double factor = hoursPerUnit(reader.timeUnits());
        const std::function<bool(float)> none = [&](float time) {
            if (isOrdinaryTime(time)) times.insert(static_cast<double>(time) * factor);
            return false;
        };
        StepRequest request;
        request.wanted = &none;
        request.flags = FlagReading::PassOver;
        while (reader.hasStep()) reader.nextStep({}, request);
    }

    MeshGeometry mesh;
    const int meshUnit = OPENFILEUNIT("I ", run.meshPath);
    READ_2DM_GEOMETRY(meshUnit, counts.nodes, counts.cells, mesh);
    const std::string meshName = unitName(meshUnit);
    CLOSEFILEUNIT(meshUnit);

    UgridOptions options;
    options.referenceTime = reference;
    options.deflateLevel = run.deflateLevel;
    options.meshName = FILENAME(meshName);
    const std::string prjPath = FILENAMEPATH(meshName) + ".prj";
    options.crsWkt = readReferenceWkt(prjPath);
    if (options.crsWkt.empty()) {
        consoleLine();
        consoleLine("WARNING - No coordinate reference (" + prjPath + "): the file has none.");
    }

    UgridWriter writer(run.outputPath, mesh, options);
    for (double t : times) writer.addTime(t);

    std::vector<std::int8_t> active;
    std::vector<float> values1, values2;
    for (const std::string& path : run.datasetPaths) {
        DatasetReader reader = DatasetReader::open(path, [](const std::string& line) {
            consoleLine(line);
        });
        const DatasetHeader& header = reader.readHeader();
        DatasetDescription dataset;
        dataset.source = FILENAME(path) + FILEEXT(path);
        dataset.dataType = FILE___EXT(path);
        dataset.name = variableNameFor(dataset.dataType, path);
        dataset.vector = header.isVector;
        dataset.hasFlags = header.cellCount > 0;
        dataset.hoursPerTimeUnit = hoursPerUnit(reader.timeUnits());
        const int number = writer.addDataset(dataset);

        active.assign(static_cast<std::size_t>(header.cellCount), 1);
        values1.assign(static_cast<std::size_t>(header.nodeCount), 0.0f);
        values2.assign(header.isVector ? values1.size() : 0, 0.0f);
        const StepBuffers buffers{active.data(), values1.data(),
                                  header.isVector ? values2.data() : nullptr};
        while (reader.hasStep()) {
            const StepRead step = reader.nextStep(buffers);
            writer.appendStep(number, step.time, step.hasFlags ? active.data() : nullptr,
                              values1.data(), header.isVector ? values2.data() : nullptr);
        }
    }
    consoleFlush();
    writer.close();
    return "Wrote " + CLEANPATH(run.outputPath) + ": the mesh (" +
           std::to_string(counts.nodes) + " nodes, " + std::to_string(counts.cells) + " cells), " +
           std::to_string(run.datasetPaths.size()) +
           (run.datasetPaths.size() == 1 ? " dataset" : " datasets") + " at " +
           std::to_string(writer.times().size()) +
           (writer.times().size() == 1 ? " time." : " times.");
}

}  // namespace kelvara::netcdf
