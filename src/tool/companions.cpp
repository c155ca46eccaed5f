#include "tool/companions.h"

#include "tool/driver.h"

namespace kelvara {

std::string explainMissing(const CompanionResolver& resolver, CompanionFile which,
                           const std::string& dataset, const CompanionMessage& m) {
    const std::string name = resolver.name(which, dataset);
    const std::string option = CompanionResolver::option(which);
    std::string why = m.purpose;
    std::string how;
    if (resolver.named(which)) {
        why += ", named with " + option + ".";
        how = "Give " + option + " the name of " + m.thing + m.wayOut;
    } else {
        why += ", looked for beside " + m.beside + ".";
        how = "Put " + m.thing + " there under that name (" + resolver.rule(which, dataset) + ")";
        if (!option.empty()) how += ", or name it with " + option;
        how += m.wayOut;
    }
    explainMissingCompanion(name, why, how);
    return name;
}

}  // namespace kelvara
