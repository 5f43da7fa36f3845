// Grain temperatures and sublimation in the cloud solver: the radiative
// equilibrium of each of the 20 grain species, in the bare light of the central
// source (eqra, tequ) and in the total field of the grid (equrad, gent); the
// sublimation radius of a species (rsub); the inner radius of the dust and the
// initial inner edges (r0min); and the temperature pass that removes grains
// hotter than their sublimation temperature and moves their edges outward.
//
// Speed: a residual is absorbed minus emitted power, and the absorbed part (the
// frequency trapezoid of Qa J) does not depend on the temperature. It is formed
// once per point and species; the root search re-sums only the emitted part,
// with the Planck function's frequency factors kept per grid frequency. Under
// the solver's spherical symmetry only the 40 radii of polar angle 1 are
// searched; the other angles are copies.
#pragma once

#include "numerics/farray.h"

namespace qv {

struct Run;

// The fixed arguments of the residual in the source light (set by tequ).
struct Prot4 {
    float r = 0.0f;   // radius, cm
    float ct = 0.0f;  // polar angle, rad
};

// The fixed arguments of the sublimation-radius search (set by rsub).
struct Prosubli {
    float ct = 0.0f;    // polar angle, rad
    int id = 0;         // species 1..20
    float tsub = 0.0f;  // its sublimation temperature, K
};

// Equilibrium residual (absorbed minus emitted power, frequency trapezoid on the
// solver's grid) of species globals::id at temperature t: eqra in the light of
// the unattenuated source at (prot4::r, prot4::ct), equrad in the total field
// jarr at grid point (globals::ir, globals::ict). Both decrease with t.
float eqra(Run& run, float t);
float equrad(Run& run, float t);

// Temperature (K) of species id at radius r (cm) and polar angle ct in the
// unattenuated source light: Brent's method on 0..5e6 K to 2 K (the zbrent
// stops when there is no root there).
float tequ(Run& run, float r, float ct, int id);

// Sublimation radius (cm) of species id along polar angle ct: the radius where
// tequ equals tsub(id), found by Brent's method in log10 r to 0.01 around the
// guess 1.3e18 sqrt(l46) (tsub/1500)^-2.8 cm (two decades each way). tsub holds
// n sublimation temperatures (1-based), l46 is the source luminosity in 1e46
// erg/s. Stops with "Root must be bracketed for ZBREN2." or "ZBREN2 exceeding
// maximum iterations.".
float rsub(Run& run, float ct, int id, const Vec<float>& tsub, int n, float l46);

// Inner edges of the dust: each species' sublimation radius on polar angle 1
// (1e33 for a species without mass), the dust's edge per angle as their
// minimum, r0 = max(1.02 x the smallest edge, R1); every species column then
// starts at the dust's edge.
void r0min(Run& run);

// One temperature pass over the grid (tarr); with flag set, a species hotter
// than its sublimation temperature is removed at that point, its edge moves out
// to the midpoint toward the next radius (rarr(40) at the last) and agflag is
// raised. The dust's edge per angle becomes the smallest species edge.
void gent(Run& run, bool flag);

}  // namespace qv
