// Writes the example flood case (a valley mesh and two runs of a flood wave) into a folder:
//   generate_example <folder>
// The files under examples/flood/ were made with it; run it again to regenerate them.
#include "flood_case.h"

#include <exception>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: generate_example <folder>\n";
        return 1;
    }
    try {
        for (const std::string& name : flood_example::writeFloodCase(argv[1]))
            std::cout << "wrote " << (std::filesystem::path(argv[1]) / name).string() << "\n";
    } catch (const std::exception& e) {
        std::cerr << "generate_example: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
