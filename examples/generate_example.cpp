// Writes the example flood case (a valley mesh and two runs of a flood wave) into a folder, or
// with --ensemble the example ensemble (three storm durations, three patterns each):
//   generate_example <folder>
//   generate_example --ensemble <folder>
// The files under examples/flood/ and examples/ensemble/ were made with it; run it again to
// regenerate them.
#include "ensemble_case.h"
#include "flood_case.h"

#include <exception>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    const bool ensemble = argc == 3 && std::string(argv[1]) == "--ensemble";
    if (argc != 2 && !ensemble) {
        std::cerr << "usage: generate_example <folder>\n"
                     "       generate_example --ensemble <folder>\n";
        return 1;
    }
    const std::filesystem::path folder = argv[argc - 1];
    try {
        const std::vector<std::string> names = ensemble ? flood_example::writeEnsembleCase(folder)
                                                        : flood_example::writeFloodCase(folder);
        for (const std::string& name : names)
            std::cout << "wrote " << (folder / name).string() << "\n";
    } catch (const std::exception& e) {
        std::cerr << "generate_example: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
