// Exported C interface of the file unit table, the pause and the fatal stop.
#include "fileio/console.h"
#include "fileio/units.h"
#include "kelvara.h"
#include "util/field.h"

extern "C" {

KELVARA_API void KELVARA_CALL INITFILEUNITS(void) { kelvara::INITFILEUNITS(); }

KELVARA_API void KELVARA_CALL OPENFILEUNIT(int32_t* unit, const char* kind, int32_t kindLen,
                                           const char* name, int32_t nameLen) {
    std::string code = kind == nullptr ? std::string() : std::string(kind, kindLen > 0 ? static_cast<std::size_t>(kindLen) : 0);
    code.resize(2, ' ');
    int result = kelvara::OPENFILEUNIT(code.substr(0, 2), kelvara::fromField(name, nameLen));
    if (unit != nullptr) *unit = result;
}

KELVARA_API void KELVARA_CALL CLOSEFILEUNIT(const int32_t* unit) {
    if (unit != nullptr) kelvara::CLOSEFILEUNIT(*unit);
}

KELVARA_API void KELVARA_CALL PAUSECONSOLE(void) { kelvara::PAUSECONSOLE(); }

KELVARA_API void KELVARA_CALL FATALSTOP(void) { kelvara::FATALSTOP(); }

}  // extern "C"
