// The GDAL library and what its writers share (gdal_library.h). Empty in a build without GDAL.
#ifdef KELVARA_WITH_GDAL

#include "grid/gdal_library.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <new>

#ifndef KELVARA_GDAL_LIBRARY
#define KELVARA_GDAL_LIBRARY "libgdal.so"
#endif

namespace kelvara::grid {

namespace {

// The error handler functions GdalMessages calls, found with the library.
struct MessageFunctions {
    decltype(&::CPLPushErrorHandlerEx) push = nullptr;
    decltype(&::CPLPopErrorHandler) pop = nullptr;
    decltype(&::CPLGetErrorHandlerUserData) userData = nullptr;
};
MessageFunctions gMessages;

}  // namespace

void* openGdalLibrary(std::string& why) {
    static std::once_flag once;
    static void* library = nullptr;
    static std::string reason;
    std::call_once(once, [] {
        void* opened = dlopen(KELVARA_GDAL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (opened == nullptr) {
            const char* text = dlerror();
            reason = text != nullptr ? text : "not found";
            return;
        }
        gMessages.push = reinterpret_cast<decltype(gMessages.push)>(
            dlsym(opened, "CPLPushErrorHandlerEx"));
        gMessages.pop = reinterpret_cast<decltype(gMessages.pop)>(
            dlsym(opened, "CPLPopErrorHandler"));
        gMessages.userData = reinterpret_cast<decltype(gMessages.userData)>(
            dlsym(opened, "CPLGetErrorHandlerUserData"));
        if (gMessages.push == nullptr || gMessages.pop == nullptr ||
            gMessages.userData == nullptr) {
            reason = "it has no error handler functions";
            return;
        }
        library = opened;
    });
    why = reason;
    return library;
}

GdalMessages::GdalMessages() { gMessages.push(&collect, this); }
GdalMessages::~GdalMessages() { gMessages.pop(); }

// Called from within GDAL: nothing may be thrown through it, not even when memory has run out
// (the error is then known without its text).
void CPL_STDCALL GdalMessages::collect(CPLErr level, CPLErrorNum, const char* message) noexcept {
    auto* self = static_cast<GdalMessages*>(gMessages.userData());
    if (self == nullptr || level < CE_Failure) return;
    self->failed_ = true;
    try {
        if (!self->errors_.empty()) self->errors_ += "; ";
        self->errors_ += message != nullptr ? message : "unknown error";
    } catch (const std::bad_alloc&) {
        self->errors_.clear();
        self->errors_.shrink_to_fit();
    }
}

ReferenceFile readReferenceText(const std::string& path, std::string& text) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return ReferenceFile::Missing;
    if (!S_ISREG(st.st_mode)) return ReferenceFile::NotAFile;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return ReferenceFile::Missing;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ReferenceFile::NotAFile;
    }
    text.assign(kMostReferenceBytes + 1, '\0');
    std::size_t done = 0;
    bool ok = true;
    while (done < text.size()) {
        const ssize_t n = ::read(fd, &text[done], text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    text.resize(done);
    return ok ? ReferenceFile::Read : ReferenceFile::Unreadable;
}

}  // namespace kelvara::grid

#endif
