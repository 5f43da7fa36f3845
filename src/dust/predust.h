// Dust preparation: grain mixtures, the dust frequency grid, the cloud
// quantities and the stellar spectra on the dust grid.
#pragma once

namespace qv {
struct Run;

void predust(Run& run, float fgas, float primordial_mass, float zism);

// The galaxy radius rgal (kpc) and rgalpc of a run without the column-density
// cache; the cirrus model falls back on it when the cache is switched off.
void standard_galaxy_radius(Run& run);
}  // namespace qv
