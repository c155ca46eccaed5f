// The message before a file read beside the inputs is opened: when it is missing, why the
// operation needs it, by which rule (or option) it was named, and how to supply it.
#pragma once

#include <string>

#include "formats/companions.h"

namespace kelvara {

struct CompanionMessage {
    // The reason, up to the file's owner: "-grid draws the values of run_d.dat on the mesh of
    // its run" (", looked for beside it." or ", named with --mesh." follows).
    std::string purpose;
    // What the file is, for "Put ... there under that name": "the run's mesh".
    std::string thing;
    // Ends the line of how to supply it: another way out (", or give -nowetdry ...") with its
    // last punctuation; "." when there is none.
    std::string wayOut = ".";
    // "them" when the reason speaks of several datasets (the depths).
    std::string beside = "it";
};

// Says, when the companion of dataset that resolver names is missing, what message says
// (explainMissingCompanion: an error in batch mode, else lines before the open asks for a
// name). Returns the companion's name.
std::string explainMissing(const CompanionResolver& resolver, CompanionFile which,
                           const std::string& dataset, const CompanionMessage& message);

}  // namespace kelvara
