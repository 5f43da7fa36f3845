// The light that enters the cirrus, on the dust frequency grid, and the optical
// properties of the cirrus dust: the stellar mass per birth interval MSSPTZ, the
// starlight per component FORMASTA, the cloud emission LUMMC (and FORMAMC), the
// light of each component FORMA, the optical depth per unit column TXY, the
// relative cross-section TXY1, and the efficiencies of the 40 grain bins.
#pragma once

#include "numerics/farray.h"

namespace qv {

struct Run;

// GrainEquilibrium (tequi): what the equilibrium temperature of a big grain needs.
struct GrainEquilibrium {
    Mat<float> qabsw;    // (nlf, 40) Qabs (with the long-wavelength tail) of bin j at ws(i)
    float aint1 = 0.0f;  // power absorbed by the current big-grain bin
};

namespace cirrus {

// The component that carries the cloud emission: 2 (the bulge) when there are
// two components and bsut is exactly 1, else 1.
int cloud_component(const Run& run);

// MSSPTZ for component c: the stellar mass (solar masses) formed in each
// birth-time interval 2..icall.
void stellar_mass_per_interval(Run& run, int c);

// FORMASTA: the starlight of every component on the dust grid (the mean over a
// +-3% window of three or more SSP wavelengths, else the log-linear value at
// the grid point), summed over the birth intervals weighted by MSSPTZ.
void starlight_on_dust_grid(Run& run);

// LUMMC (L_lambda from the clouds' L_nu, with the clouds' PAH bands when
// pahflag is set) and its copy FORMAMC.
void cloud_light_on_dust_grid(Run& run);

// FORMA: the starlight of each component, with the cloud emission added to
// cloud_component().
void light_entering_cirrus(Run& run);

// The three steps above in their order (with MSSPTZ).
void light_on_dust_grid(Run& run);

// TXY (optical depth per solar mass per pc^2) and TXY1 (cross-section over its
// value at 1 micron).
void cross_sections(Run& run);

// tequi::qabsw (Qabs with the tail) and QEFFW (the efficiency in the run's mode
// remind::isca) of the 40 grain bins on the dust grid.
void grain_efficiencies(Run& run);

}  // namespace cirrus

}  // namespace qv
