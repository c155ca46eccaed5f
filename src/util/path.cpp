// Path-name routines: take a file path apart (folder, name, extension, "_tag"), reduce doubled
// separators, resolve "." and ".." components and join a folder with a relative name.
//
// Positions in the comments count from 1 as the routines are described to their callers; the
// code uses 0-based indexes, with kNone where a character does not occur.
#include "util/path.h"

#include <algorithm>
#include <cstddef>

#include "util/text.h"

namespace kelvara {

namespace {

constexpr std::size_t kNone = std::string_view::npos;
// Most routines hold a path in a work field of this many characters, so it is cut there.
constexpr std::size_t kWorkField = 1000;

// The text as it stands in a work field: cut at its length, trailing blanks removed.
std::string_view workField(std::string_view text) { return trimRight(text.substr(0, kWorkField)); }

// 1-based position of the last folder separator ("\" or "/"), 0 when there is none.
std::size_t lastSeparator(std::string_view text) {
    const std::size_t s = text.find_last_of("\\/");
    return s == kNone ? 0 : s + 1;
}

// 1-based position of the last occurrence of c, 0 when there is none.
std::size_t lastOf(std::string_view text, char c) {
    const std::size_t p = text.rfind(c);
    return p == kNone ? 0 : p + 1;
}

// Doubled separators reduced, at any length. Removing the second character of a pair never
// touches the first two characters, so a pair at the very start stays for good, and with it
// every later pair of the same separator (the later pairs of that kind are never the first
// one). Every other run of a separator collapses to a single one.
std::string reduceSeparators(std::string_view path) {
    char pinned = '\0';
    if (path.size() >= 2 && path[0] == path[1] && (path[0] == '/' || path[0] == '\\')) pinned = path[0];

    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        const bool separator = c == '/' || c == '\\';
        if (separator && c != pinned && !out.empty() && out.back() == c) continue;
        out.push_back(c);
    }
    return out;
}

}  // namespace

std::string FILEEXT(std::string_view path) {
    const std::string_view p = workField(path);
    const std::size_t d = lastOf(p, '.');
    if (d == 0) return {};
    return LOWERCASE(p.substr(d - 1));
}

std::string FILENAME(std::string_view path) {
    const std::string_view p = trimRight(path);
    std::size_t d = lastOf(p, '.');
    const std::size_t s = lastSeparator(p);
    if (s >= 1) {
        // A dot in a folder name, or at the start of the file name, is not an extension.
        if (d <= s + 1) d = p.size() + 1;
        return std::string(p.substr(s, d - 1 - s));
    }
    if (d > 1) return std::string(p.substr(0, d - 1));
    if (d == 1) return {};
    return std::string(p);
}

std::string FILENAMEPATH(std::string_view path) {
    const std::string_view p = trimRight(path);
    const std::size_t d = lastOf(p, '.');
    const std::size_t s = lastSeparator(p);
    if (d > 1 && d > s) return std::string(p.substr(0, d - 1));
    return std::string(p);
}

std::string FILE___EXT(std::string_view path) {
    const std::string name = FILENAME(workField(path));
    const std::size_t u = lastOf(name, '_');
    if (u == 0) return {};
    return LOWERCASE(std::string_view(name).substr(u - 1));
}

std::string FILENAMENO_(std::string_view path) {
    const std::string name = FILENAME(workField(path));
    const std::size_t u = lastOf(name, '_');
    if (u > 1) return name.substr(0, u - 1);
    if (u == 1) return {};
    return name;
}

std::string FILENAMEPATHNO_(std::string_view path) {
    const std::string p = FILENAMEPATH(workField(path));
    const std::size_t u = lastOf(p, '_');
    const std::size_t s = lastSeparator(p);
    if (u > 1 && u > s) return p.substr(0, u - 1);
    return p;
}

std::string FILEFOLDERPATH(std::string_view path) {
    const std::string_view p = trimRight(path);
    return std::string(p.substr(0, lastSeparator(p)));
}

std::string cleanPathUncut(std::string_view path) { return reduceSeparators(TRIMF(path)); }

std::string CLEANPATH(std::string_view path) {
    return std::string(workField(cleanPathUncut(path)));
}

std::string REMOVEDOTDOT(std::string_view path) {
    std::string r(workField(TRIMF(path)));

    // Doubled backslashes, unless the first pair lies at position 1 or 2 (a network path).
    for (std::size_t k = r.find("\\\\"); k != kNone && k >= 2; k = r.find("\\\\")) r.erase(k + 1, 1);

    // Parent components. p is the 0-based index of a "\..\"; it must lie past position 1.
    std::size_t p = r.find("\\..\\");
    while (p != kNone && p >= 1) {
        // A component that ends in ".." cannot be resolved; try the next "\..\" instead.
        bool unresolvable = false;
        while (p >= 2 && r.compare(p - 2, 2, "..") == 0) {
            const std::size_t next = r.find("\\..\\", p + 1);
            if (next == kNone) {
                unresolvable = true;
                break;
            }
            p = next;
        }
        if (unresolvable) break;
        // Keep everything up to the separator before the component, then what follows "\..\".
        const std::size_t k = r.rfind('\\', p - 1);
        const std::size_t keep = (k == kNone) ? 0 : k + 1;
        r = r.substr(0, keep) + r.substr(p + 4);
        p = r.find("\\..\\");
    }

    // Current-folder components.
    for (std::size_t q = r.find("\\.\\"); q != kNone; q = r.find("\\.\\")) r.erase(q + 1, 2);
    return r;
}

std::string ADDFOLDER(std::string_view folder, std::string_view name) {
    const std::string_view f = workField(folder);
    const std::string_view n = workField(name);

    std::string joined;
    if (f.empty() && n.empty()) {
        joined = ".";
    } else if (f.empty()) {
        joined = TRIMF(n);
    } else if (n.empty()) {
        joined = TRIMF(f);
    } else if (n.find("\\\\") != kNone || n.find(':') != kNone) {
        // A network path or a drive letter: the name stands on its own.
        joined = TRIMF(n);
    } else if (f.back() == '/' || f.back() == '\\') {
        joined = std::string(f) + TRIMF(n);
    } else {
        joined = std::string(f) + "\\" + std::string(n);
    }
    return REMOVEDOTDOT(joined);
}

}  // namespace kelvara
