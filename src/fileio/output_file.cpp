#include "fileio/output_file.h"

#include <cerrno>
#include <utility>
#include <vector>

#include "fileio/units.h"

namespace kelvara {

OutputFile::OutputFile(std::string name) : name_(std::move(name)), work_(makeWorkFile(name_)) {
    if (work_.empty()) why_ = errno;
}

Error OutputFile::creationError() const {
    std::vector<std::string> lines = {"", "ERROR - Could not create output file \"" + name_ + "\"."};
    const std::string cause = outputFailureCause(name_, why_);
    if (!cause.empty()) lines.push_back(cause);
    return Error(std::move(lines), ErrorCode::Output);
}

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
