#include "formats/companions.h"

#include "util/path.h"

namespace kelvara {
namespace {

// The end the name rule puts after a dataset's stem.
const char* endingOf(CompanionFile which) {
    switch (which) {
    case CompanionFile::Mesh: return ".2dm";
    case CompanionFile::Levels: return "_h.dat";
    case CompanionFile::Velocities: return "_V.dat";
    case CompanionFile::Reference: return ".prj";
    case CompanionFile::Depths: return "_d.dat";
    }
    return "";
}

}  // namespace

std::string CompanionResolver::name(CompanionFile which, const std::string& dataset) const {
    if (which == CompanionFile::Mesh && !mesh_.empty()) return mesh_;
    // The coordinate reference lies beside the mesh, whichever way the mesh was named.
    if (which == CompanionFile::Reference) return FILENAMEPATH(name(CompanionFile::Mesh, dataset)) + ".prj";
    return FILENAMEPATHNO_(dataset) + endingOf(which);
}

bool CompanionResolver::named(CompanionFile which) const {
    return (which == CompanionFile::Mesh || which == CompanionFile::Reference) && !mesh_.empty();
}

std::string CompanionResolver::option(CompanionFile which) {
    return which == CompanionFile::Mesh || which == CompanionFile::Reference ? "--mesh" : "";
}

std::string CompanionResolver::rule(CompanionFile which, const std::string& dataset) const {
    if (which == CompanionFile::Reference)
        return "the name of the mesh " + name(CompanionFile::Mesh, dataset) + " with .prj for .2dm";
    if (named(which)) return "named with " + option(which);
    return "the name of " + dataset + " up to its last \"_\", then " + endingOf(which);
}

}  // namespace kelvara
