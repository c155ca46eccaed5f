#include "fileio/output_file.h"

#include <cerrno>
#include <utility>

#include "fileio/units.h"

namespace kelvara {

OutputFile::OutputFile(std::string name) : name_(std::move(name)), work_(makeWorkFile(name_)) {}

OutputFile::~OutputFile() { drop(); }

bool OutputFile::land() {
    if (work_.empty()) {
        errno = ENOENT;
        return false;
    }
    const std::string work = std::move(work_);
    work_.clear();
    return landWorkFile(work, name_);
}

void OutputFile::drop() noexcept {
    if (work_.empty()) return;
    dropWorkFile(work_);
    work_.clear();
}

}  // namespace kelvara
