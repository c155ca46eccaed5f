// What the writers over GDAL share (the grid writer, the polygon layer writer of src/vector):
// the library itself, opened once when the first of them needs it, GDAL's messages collected
// instead of printed, and the reading of a coordinate reference (.prj) file. Included only by
// sources compiled with GDAL's headers (cmake/KelvaraGdal.cmake).
#pragma once

#include <cstddef>
#include <string>

#include <cpl_error.h>

namespace kelvara::grid {

// The GDAL library this build was made with (a dlopen handle for dlsym), opened on the first
// call; null when it cannot be opened, with the reason in why.
void* openGdalLibrary(std::string& why);

// GDAL's errors and warnings while an object lives, kept instead of printed (GDAL would print
// them on standard error). Only once openGdalLibrary has succeeded.
class GdalMessages {
public:
    GdalMessages();
    ~GdalMessages();
    GdalMessages(const GdalMessages&) = delete;
    GdalMessages& operator=(const GdalMessages&) = delete;

    bool failed() const { return failed_; }
    // The errors so far, one after the other, or fallback when GDAL gave no text.
    std::string text(const std::string& fallback) const {
        return errors_.empty() ? fallback : errors_;
    }

private:
    static void CPL_STDCALL collect(CPLErr level, CPLErrorNum, const char* message) noexcept;

    bool failed_ = false;
    std::string errors_;
};

// The longest coordinate reference text read.
constexpr std::size_t kMostReferenceBytes = std::size_t{1} << 20;

// What readReferenceText found.
enum class ReferenceFile { Missing, NotAFile, Read, Unreadable };

// Reads at most kMostReferenceBytes + 1 bytes of a .prj file into text. Only a regular file is
// read: a device (a link to /dev/zero) would never end, a named pipe would wait for a writer. It
// is opened without waiting and checked once open, so that it cannot be swapped in between.
ReferenceFile readReferenceText(const std::string& path, std::string& text);

}  // namespace kelvara::grid
