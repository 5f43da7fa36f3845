// The dust frequency grid, the stellar spectrum of the galaxy from the spectra
// per birth time, and its rebinning onto the dust grid. Both the dust
// preparation (unattenuated light) and the cloud model (light after the clouds)
// use the last two.
#pragma once

#include "numerics/farray.h"

namespace qv {

struct Run;
struct PahBands;

// The PAH band grid: nui = 3e14 / lami (Hz), the band width dnui in frequency
// and lnui = log10 nui, for the 24 bands.
void pah_band_grid(PahBands& pah);

// The number of equally spaced points of the dust grid (the MAIN key nlf):
// glopalla::nlf less the 18 feature points and, with pahflag, the 120 PAH band
// points. Below 2 the run stops naming the key.
int dust_grid_key_points(const Run& run);

// Builds the dust frequency grid lfarr/farr/ws of glopalla (nlf points, sized
// here when needed): the equally spaced points from f_lo to f_hi, the feature
// points and, with pahflag, five points per PAH band, sorted; then, with
// pahflag, indpah. The PAH band grid (pah_band_grid) must be set. With pahflag
// the five points of every band must lie next to one another on the sorted
// grid; another grid point among them stops the run.
void build_dust_grid(Run& run);

// l(lam, c) = pm x 1e12 x 0.5 x trapezoid over the birth times of
// sfrate(., c) x flsspint(lam, ., c): the spectrum of each component on the SSP
// grid, L_lambda in 1e30 erg/s/A (0 with fewer than two birth times).
void stellar_spectrum(Run& run, float primordial_mass, Mat<float>& l);

// Rebins l(nlam, ncom) onto the dust-grid wavelengths ws into lum(nlf, ncom): the
// mean over a +-3% window holding three or more SSP intervals, else the
// log-linear interpolation. The window guesses klo, khi start afresh on each call.
// Beyond either end of the SSP grid the log-linear value never exceeds the
// spectrum's value at that end.
void rebin_to_dust_grid(Run& run, const Mat<float>& l, Mat<float>& lum);

}  // namespace qv
