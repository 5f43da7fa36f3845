// The stellar spectrum of the galaxy from the spectra per birth time, and its
// rebinning onto the dust frequency grid. Both the dust preparation (unattenuated
// light) and the cloud model (light after the clouds) use them.
#pragma once

#include "numerics/farray.h"

namespace qv {

struct Run;

// l(lam, c) = pm x 1e12 x 0.5 x trapezoid over the birth times of
// sfrate(., c) x flsspint(lam, ., c): the spectrum of each component on the SSP
// grid, L_lambda in 1e30 erg/s/A (0 with fewer than two birth times).
void stellar_spectrum(Run& run, float primordial_mass, Mat<float>& l);

// Rebins l(nlam, ncom) onto the dust-grid wavelengths ws into lum(nlf, ncom): the
// mean over a +-3% window holding three or more SSP intervals, else the
// log-linear interpolation. The window guesses klo, khi start afresh on each call.
void rebin_to_dust_grid(Run& run, const Mat<float>& l, Mat<float>& lum);

}  // namespace qv
