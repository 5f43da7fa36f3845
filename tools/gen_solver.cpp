// The cloud solver's output settings "NOLT96.OF" of the example data set: a
// title line, the 14 output flags (L10), the number of viewing directions
// (I10) and the directions (F10.2, degrees), the number of map wavelengths and
// the wavelengths (micron). Every F10.2 value carries its decimal point (a
// value without one would be read in hundredths), and a count of 0 is followed
// by one line, which the reader passes over.
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "generators.h"

namespace qvgen {

void write_solver_settings(const std::string& data_dir) {
    std::filesystem::create_directories(data_dir);
    // On: 8 grain temperatures, 11 luminosity and conservation blocks, 13
    // emergent spectra (which the cloud model reads). Off: 14 maps, which would
    // pile up one file per cloud type and run, and the other diagnostic blocks.
    std::string out = " Output settings of the cloud solver (flags 1-14, directions, map wavelengths)\n";
    for (int k = 1; k <= 14; ++k) out += (k == 8 || k == 11 || k == 13) ? "         T\n" : "         F\n";
    out += "         1\n";
    out += "     45.00\n";
    out += "         0\n";
    out += "      0.00\n";
    const std::string path = (std::filesystem::path(data_dir) / "NOLT96.OF").string();
    std::ofstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot write " + path);
    f << out;
    if (!f) throw std::runtime_error("cannot write " + path);
}

}  // namespace qvgen
