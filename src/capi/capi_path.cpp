// Exported C boundary of the path-name routines: blank-padded fields in, blank-padded fields out.
#include <cstdint>
#include <string>
#include <string_view>

#include "kelvara.h"
#include "util/field.h"
#include "util/path.h"

namespace {

// The caller's field as it is, trailing blanks included (empty for a missing field).
std::string_view fieldView(const char* text, std::int32_t length) {
    if (text == nullptr || length <= 0) return {};
    return std::string_view(text, static_cast<std::size_t>(length));
}

// The path routines with one text argument share one shape.
using PathRoutine = std::string (*)(std::string_view);

void applyTo(PathRoutine routine, char* result, int32_t resultLen, const char* path,
             int32_t pathLen) {
    // The result is made in full before it is written, so result and path may share storage.
    const std::string value = routine(fieldView(path, pathLen));
    kelvara::toField(result, resultLen, value);
}

}  // namespace

extern "C" {

KELVARA_API void KELVARA_CALL FILEEXT(char* result, int32_t resultLen, const char* path,
                                      int32_t pathLen) {
    applyTo(kelvara::FILEEXT, result, resultLen, path, pathLen);
}

KELVARA_API void KELVARA_CALL FILE___EXT(char* result, int32_t resultLen, const char* path,
                                         int32_t pathLen) {
    applyTo(kelvara::FILE___EXT, result, resultLen, path, pathLen);
}

KELVARA_API void KELVARA_CALL FILENAME(char* result, int32_t resultLen, const char* path,
                                       int32_t pathLen) {
    applyTo(kelvara::FILENAME, result, resultLen, path, pathLen);
}

KELVARA_API void KELVARA_CALL FILENAMENO_(char* result, int32_t resultLen, const char* path,
                                          int32_t pathLen) {
    applyTo(kelvara::FILENAMENO_, result, resultLen, path, pathLen);
}

KELVARA_API void KELVARA_CALL FILENAMEPATH(char* result, int32_t resultLen, const char* path,
                                           int32_t pathLen) {
    applyTo(kelvara::FILENAMEPATH, result, resultLen, path, pathLen);
}

KELVARA_API void KELVARA_CALL FILENAMEPATHNO_(char* result, int32_t resultLen,
                                              const char* path, int32_t pathLen) {
    applyTo(kelvara::FILENAMEPATHNO_, result, resultLen, path, pathLen);
}

KELVARA_API void KELVARA_CALL FILEFOLDERPATH(char* result, int32_t resultLen,
                                             const char* path, int32_t pathLen) {
    applyTo(kelvara::FILEFOLDERPATH, result, resultLen, path, pathLen);
}

KELVARA_API void KELVARA_CALL CLEANPATH(char* result, int32_t resultLen, char* path,
                                        int32_t pathLen) {
    const std::string_view argument = fieldView(path, pathLen);
    const std::string value = kelvara::CLEANPATH(argument);
    // Written back in full: the cleaned path is never longer than the argument it came from.
    const std::string cleaned = kelvara::cleanPathUncut(argument);
    kelvara::toField(path, pathLen, cleaned);
    kelvara::toField(result, resultLen, value);
}

KELVARA_API void KELVARA_CALL REMOVEDOTDOT(char* result, int32_t resultLen, const char* path,
                                           int32_t pathLen) {
    applyTo(kelvara::REMOVEDOTDOT, result, resultLen, path, pathLen);
}

KELVARA_API void KELVARA_CALL ADDFOLDER(char* result, int32_t resultLen, const char* folder,
                                        int32_t folderLen, const char* name, int32_t nameLen) {
    const std::string value =
        kelvara::ADDFOLDER(fieldView(folder, folderLen), fieldView(name, nameLen));
    kelvara::toField(result, resultLen, value);
}

}  // extern "C"
