// Work on a step shared out over the machine's cores: a few threads started once, each given
// one contiguous part of a range of nodes, cells or bytes. The parts are independent (no part
// reads what another writes), so a result is the same whatever the number of parts.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <type_traits>

namespace kelvara {

// Runs work(part, begin, end) over [0, count) cut into contiguous parts, the first part on the
// calling thread, the others on the worker threads, and returns when every part is done. part
// numbers the parts from 0 in range order. Part boundaries are multiples of grain; a range
// shorter than minimum per part runs as one part on the calling thread. work must not throw nor
// end the run: it reports a failure by its own means, for the caller to act on afterwards.
void forEachPart(std::size_t count, std::size_t grain, std::size_t minimum,
                 const std::function<void(std::size_t part, std::size_t begin, std::size_t end)>& work);

// The largest number of parts forEachPart makes: the machine's cores (at most kMaxParts), or the
// number given by the environment variable KELVARA_THREADS (1 = everything on the calling
// thread).
constexpr std::size_t kMaxParts = 8;
std::size_t partCount();

// Sets count entries from first to value, in parts: a table written for the first time is
// faulted in by every core at once.
template <class T>
void fillInParts(T* first, std::size_t count, std::common_type_t<T> value) {
    forEachPart(count, 4096, 256 * 1024, [=](std::size_t, std::size_t begin, std::size_t end) {
        std::fill(first + begin, first + end, value);
    });
}

}  // namespace kelvara
