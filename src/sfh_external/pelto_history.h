// The pelto model's galaxy: a disk file "gasoline_disk.sf" and a bulge file
// "gasoline_bulge.sf", each with the star-formation rate in up to 11 fixed
// metallicity bins on its own time grid.
//
// Layout of both: line 1 ignored; line 2 the SSP mass (1X,F7.2); line 3 the
// header, disk (1X,5F7.2,E7.2,F7.2,I7): ignored, disk scale length and height,
// gas-disk scale length and height (kpc), gas mass (Msun), gas metallicity,
// number of bins; bulge (1X,2F7.2,I7): ignored, bulge radius (kpc), number of
// bins; line 4 ignored; then one row per time step: time (yr) and the rate
// (Msun/yr) of each bin. A file without rows counts as missing.
#pragma once

#include <string>
#include <vector>

namespace qv {
struct Run;
}

namespace qv::pelto {

// The fixed metallicities of the bins.
inline constexpr float zgrid[11] = {0.0001f, 0.0002f, 0.0004f, 0.0008f, 0.0016f, 0.0032f,
                                    0.0065f, 0.0125f, 0.025f,  0.05f,   0.1f};

// The model's files that exist.
std::vector<std::string> history_files();

// read_pelto.
void read_history(Run& run, float& fgas, float& sfrt, float& zism);

}  // namespace qv::pelto
