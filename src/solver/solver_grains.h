// The solver's dust: grains per gram of each of the 20 species of taumix and
// their absorption, scattering and extinction efficiencies on the solver's grid.
#pragma once

#include "numerics/farray.h"

namespace qv {

struct Run;

// ntil(k) = xgra(k) 3/(4 pi) / (agra(k)^3 1e-12) / dgra(k), k = 1..n: the mass
// fraction of species k over the mass (g) of one of its grains (agra in micron).
void ntilde(const Vec<float>& agra, const Vec<float>& dgra, const Vec<float>& xgra,
            Vec<float>& ntil, int n);

// Absorption (with the long-wavelength tail) and scattering efficiency of
// species k at log10 frequency lf; species 1..ngr are graphite, the others
// silicate, each at its own radius agra(k) (micron).
float qa(Run& run, float lf, int k, const Vec<float>& agra, int nsp, int ngr);
float qs(Run& run, float lf, int k, const Vec<float>& agra, int nsp, int ngr);

// Fills globals::qaarr, qsarr and qearr = qaarr + qsarr on globals::lfarr for
// the 20 species of taumix.
void genq(Run& run);

}  // namespace qv
