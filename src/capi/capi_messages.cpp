// Exported C boundary of the message log. The shared record DMESSAGES itself is defined with
// the log (library/messages.cpp).
#include "kelvara.h"
#include "library/messages.h"

extern "C" {

KELVARA_API void KELVARA_CALL DMESSAGE(const int32_t* n) { kelvara::DMESSAGE(*n); }

KELVARA_API void KELVARA_CALL DMESSAGEXY(const int32_t* n, const double* x, const double* y) {
    kelvara::DMESSAGEXY(*n, *x, *y);
}

KELVARA_API void KELVARA_CALL DMESSAGECLEAR(void) { kelvara::DMESSAGECLEAR(); }

KELVARA_API void KELVARA_CALL DMESSAGERESETCOUNTERS(void) { kelvara::DMESSAGERESETCOUNTERS(); }

KELVARA_API void KELVARA_CALL DLINE(const int32_t* unit) { kelvara::DLINE(*unit); }

}  // extern "C"
