// Readers of the tabulated star-formation histories: the sf file with its
// optional ele file, and the time-series sf file.
#pragma once

#include <string>

namespace qv {
struct Run;

void read_che_evo(Run& run, float& ssp_mass, float& fgas, float& sfrt, float& zism, float& snratet,
                  std::string& sf_name);
void read_chem_evo_ts(Run& run, float& ssp_mass, float& fgas, float& sfrt, float& zism,
                      const std::string& sf_name);
}  // namespace qv
