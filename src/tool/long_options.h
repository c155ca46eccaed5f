// The long options of the command line (--name VALUE or --name=VALUE, or --name alone for a
// switch): one table, so that a new option is one row and its store, and no single-dash flag
// word changes meaning.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kelvara {

struct RunOptions;

// What follows a long option's name.
enum class LongValue {
    None,  // a switch: --name alone (--name=VALUE is refused)
    Text,  // a value after a blank or "=": a file name, a list, a word
};

struct LongOptionEntry {
    const char* name;       // without its dashes, compared ignoring case
    LongValue value;
    const char* valueName;  // "FILE", "SIZE": the message of a missing value shows it
    const char* valueWhat;  // "a file name", "a cell size"
    // Stores the value (trimmed on the right; "" for a switch); false with the console lines of
    // the error when it cannot be used.
    bool (*store)(RunOptions& options, const std::string& value,
                  std::vector<std::string>& lines);
};

// The rows, in no particular order: names are whole words, never prefixes of each other's use.
const std::vector<LongOptionEntry>& longOptionTable();

// What became of an argument that begins with two dashes.
enum class LongOption {
    Taken,    // a long option, with its value
    Unknown,  // no long option of that name: the argument is an incorrect flag, as before
    Failed,   // a long option whose value is missing or cannot be read
};

// Reads the long option at arguments[index], moving index past a value given as the next
// argument.
LongOption readLongOption(const std::vector<std::string>& arguments, std::size_t& index,
                          RunOptions& options, std::vector<std::string>& lines);

}  // namespace kelvara
