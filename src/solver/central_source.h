// The solver's central source: the tabulated spectrum <stem>.SSP that the cloud
// model writes before each solve, smoothed by a running mean of +-10 % in
// wavelength, and the mean intensity of the bare source at any radius.
#pragma once

#include <string>

#include "numerics/farray.h"

namespace qv {

struct Run;

// SourceTable (projnbu): the loaded source, nbudin entries.
struct SourceTable {
    int nbudin = 0;
    Vec<float> xbu;     // log10 nu (Hz), descending, once loaded (wavelength, A, while loading)
    Vec<float> ybuori;  // L_lambda as read, 1e30 erg s^-1 A^-1
    Vec<float> ybu;     // log10 L_nu (erg s^-1 Hz^-1), -777 where the smoothed L_lambda is not positive
    bool loaded = false;  // loaded by the current solve (the driver clears it at each solve's start)
    int jlo = 0;          // saved search position of ajn
};

// The name of the source spectrum file: the stem of globals::nom plus ".SSP".
std::string source_file_name(const Run& run);

// Loads <stem>.SSP into run.projnbu, writes the smoothed table to "ssp.SCR" and
// sets globals::nlf1_ajn and nlf2_ajn, the first and last grid frequency where
// the source is positive. The table holds the pairs actually read (reading ends
// at the end of the file or at a line that is not two reals). A missing file is
// an IoError naming it; a file without entries, a wavelength that is not
// positive, or a source without positive flux on the frequency grid stops the run.
void prejnssp(Run& run);

// Mean intensity (erg s^-1 cm^-2 Hz^-1 sr^-1) of the unattenuated source at
// radius r (cm) and log10 frequency lf: L_nu/(16 pi^2 r^2). theta is not used.
// Loads the table first when this solve has not.
float ajn(Run& run, float r, float theta, float lf);
// The same on a loaded table with the caller's own search position (for work
// split over threads; the result does not depend on jlo).
float ajn_table(const SourceTable& t, float r, float lf, int& jlo);

// The integrand of the source luminosity: e^x sin(theta) ajn(1e15, theta, x/2.30258),
// x the natural logarithm of the frequency; alinf and alsup its theta limits.
float alint(Run& run, float x, float theta);
inline float alsup(float) { return 1.5707965f; }
inline float alinf(float) { return 0.0f; }

}  // namespace qv
