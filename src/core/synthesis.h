// The stellar synthesis on the adaptive birth-time grid.
#pragma once

#include <string>
#include <vector>

namespace qv {
struct Run;

// Lays out the birth-time grid from 0 to tgal and fills the rates and spectra per
// birth time; overflow is set when the arrays are too small for the grid.
void kernel(Run& run, bool& overflow);

// The star-formation rates per component (and, for the tabulated histories, the
// gas and metallicity) at the birth time tbirth(icall).
void birth(Run& run);

// birth, then the spectrum at tgal of a unit mass born at tbirth(icall), per
// component, into flsspint(., icall, .).
void integrando(Run& run);

// The quiescent share of the rate of component c in metallicity bin m at the
// current birth time (the tav model's tables).
float compute_fraqui(Run& run, int c, int m);

// The galaxy's stellar light at tgal from the completed grid, as the dust
// stages take it: L_lambda of every component integrated over the birth times
// and summed over the SSP wavelengths (1e30 erg/s). NaN when some L_lambda is
// not a finite number.
float stellar_light(Run& run);

// Stops the run when the stars of the grid give no light at tgal, or light
// that is not a finite number: nothing after the synthesis can be built from
// it. The message names the history's files and the galaxy's mass.
void check_stellar_light(Run& run, const std::vector<std::string>& files);

// The SSP spectrum at the age tgal - tbirth(icall) and metallicity zzeta,
// interpolated in the library, into prointegrando.varflu. quiescent false lets
// the burst tables serve when the birth time falls inside a burst.
void fluxmetal(Run& run, bool quiescent);

}  // namespace qv
