// Path-name routines. Both "\" and "/" separate folders where a routine looks for the last
// folder boundary; results never carry trailing blanks.
#pragma once

#include <string>
#include <string_view>

namespace kelvara {

std::string FILEEXT(std::string_view path);          // ".dat", lower case; "" when no dot
std::string FILE___EXT(std::string_view path);       // "_h" of run_h.dat, lower case
std::string FILENAME(std::string_view path);         // bare name: no folder, no extension
std::string FILENAMENO_(std::string_view path);      // bare name without its "_tag"
std::string FILENAMEPATH(std::string_view path);     // path without the extension
std::string FILENAMEPATHNO_(std::string_view path);  // path without extension and "_tag"
std::string FILEFOLDERPATH(std::string_view path);   // folder with its final separator
std::string CLEANPATH(std::string_view path);        // doubled separators reduced
std::string REMOVEDOTDOT(std::string_view path);     // "\..\" and "\.\" resolved
std::string ADDFOLDER(std::string_view folder, std::string_view name);

// CLEANPATH without its 1000-character work field: leading blanks removed and doubled
// separators reduced at any length. The C boundary writes this back into the caller's
// argument, so that a long argument is never cut short.
std::string cleanPathUncut(std::string_view path);

}  // namespace kelvara
