// The sorvanto model's galaxy: a disc file "QVmodl.disc.sf" and a bulge file
// "QVmodl.bulg.sf", each a time series of the component's star-formation rate,
// gas metallicity, gas, stellar and total mass.
//
// Layout of both: leading comment lines (first character "#", "%" or "!"),
// among them line 1 (ignored) and line 2, the header: disc (1X,5G14.5): SSP
// mass, stellar and dust disc scale lengths, two scale heights that are not
// used (kpc); bulge (1X,3G14.5): SSP mass, stellar and dust core radii (kpc).
// Then one row per time step: ignored, time (yr), rate (Msun/yr), gas
// metallicity, gas, stellar and total mass (Msun). With both files, the
// bulge's rows are on the disc's times.
#pragma once

#include <string>
#include <vector>

namespace qv {
struct Run;
}

namespace qv::sorvanto {

// The model's files that exist.
std::vector<std::string> history_files();

// read_sorvanto.
void read_history(Run& run, float& ssp_mass, float& fgas, float& sfrt, float& zism);

}  // namespace qv::sorvanto
