// Whether the tests are built with AddressSanitizer: its shadow memory and its quarantine of
// freed memory change every figure of memory use, so bounds on memory hold for other builds only.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define KELVARA_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KELVARA_TEST_ASAN 1
#endif
#endif

namespace kelvara::test {

#ifdef KELVARA_TEST_ASAN
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

}  // namespace kelvara::test
