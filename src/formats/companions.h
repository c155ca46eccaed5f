// The files a run reads beside its datasets (the mesh, a run's water levels and velocities, the
// mesh's coordinate reference), named in one place: by the option that names them, or by the
// name rule (the dataset's name up to its last "_", then ".2dm", "_h.dat" or "_V.dat"; the
// reference beside the mesh, ".prj" for ".2dm"; a run's depths "_d.dat").
#pragma once

#include <string>

namespace kelvara {

enum class CompanionFile { Mesh, Levels, Velocities, Reference, Depths };

class CompanionResolver {
public:
    CompanionResolver() = default;
    // mesh: the mesh named on the command line (--mesh), "" for the name rule.
    explicit CompanionResolver(std::string mesh) : mesh_(std::move(mesh)) {}

    // The companion of dataset: the one named, else the one the name rule gives.
    std::string name(CompanionFile which, const std::string& dataset) const;
    // Whether the companion is named by an option rather than by the rule.
    bool named(CompanionFile which) const;
    // The option that names the companion ("--mesh"), "" when none does.
    static std::string option(CompanionFile which);
    // How the name was made, for the message about a missing file: "named with --mesh", or the
    // rule as applied to dataset ("the name of run_h.dat up to its last \"_\", then .2dm").
    std::string rule(CompanionFile which, const std::string& dataset) const;

private:
    std::string mesh_;
};

}  // namespace kelvara
