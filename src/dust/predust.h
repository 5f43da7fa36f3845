// Dust preparation: grain mixtures, the dust frequency grid, the cloud
// quantities and the stellar spectra on the dust grid.
#pragma once

namespace qv {
struct Run;

void predust(Run& run, float fgas, float primordial_mass, float zism);
}  // namespace qv
