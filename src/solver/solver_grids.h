// The cloud solver's three fixed grids: frequency, radius and polar angle.
#pragma once

#include "numerics/farray.h"

namespace qv {

struct SolverState;

// The 54-point frequency grid (log10 Hz, ascending) into g.lfarr: the 25 fixed
// frequencies g.lflocg and 29 closely spaced ones between 13.077 and 13.777,
// sorted. tc is not used by the fixed grid; grflag must be nonzero (the only
// grid there is).
void fgrid(SolverState& g, float tc, int grflag);

// rarr(1..n) from r0 to 0.9999 rmax: rarr(i+1) = r0 exp(i^y D), y = (beta+2)/2,
// D = ln(rmax/r0)/(n-1)^y (geometric for beta 0). A grid that does not ascend
// strictly stops the run.
void rgrid(Vec<float>& rarr, int n, float r0, float rmax, float beta);

// Polar cell centres ctarr(1..n) (rad) from g.nctmez cells per hemisphere,
// crowding toward the equator for a nonzero flag; ctarr(n+1-j) = pi - ctarr(j).
void ctgrid(const SolverState& g, Vec<float>& ctarr, int n, int flag);

// The outer radius of the dust for the inner radius r0: r0*rmsr0 when rmsr0 is
// at most 1e6 (a ratio), else r0 + rmsr0 (cm). An rmsr0 that is not positive,
// or an outer radius below 1.01 r0, stops the run with a message naming RMSR0:
// the radial grid would not ascend.
float outer_radius(float r0, float rmsr0);

}  // namespace qv
