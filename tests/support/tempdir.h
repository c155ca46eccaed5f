// A fresh folder for one test, removed with everything in it when the test ends.
#pragma once

#include <string>
#include <vector>

namespace kelvara::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string file(const std::string& name) const;
    // Writes bytes to a file inside the folder and returns its full path.
    std::string write(const std::string& name, const std::string& bytes) const;

private:
    std::string path_;
};

// The system's null device, for a standard input that is at its end.
#ifdef _WIN32
inline constexpr const char* kNullDevice = "NUL";
#else
inline constexpr const char* kNullDevice = "/dev/null";
#endif

std::string readFile(const std::string& path);
// A text file as the tests compare it: readFile, except that on Windows, where text files end
// their lines in CRLF, the CR is dropped.
std::string readText(const std::string& path);
bool fileExists(const std::string& path);
// Names of the entries of a folder, sorted.
std::vector<std::string> listFolder(const std::string& path);

}  // namespace kelvara::test
