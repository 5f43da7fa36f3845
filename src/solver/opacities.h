// Opacities and the direct field of the cloud solver: the geometric
// cross-section of each grain species per unit volume (gensig), the extinction
// coefficient with the ultraviolet absorption of PAH molecules (genalf), the
// radial optical depth from the innermost radius (gentau), the attenuated light
// of the central source added to the diffuse field (genjn), and the first
// estimate of the net flux (inif).
//
// Polar angles 13..24 mirror angles 12..1 (equatorial symmetry); genjn computes
// angle 1 only and copies it to every angle (spherical symmetry).
#pragma once

#include "numerics/farray.h"

namespace qv {

struct Run;

// sig(ir, ict, k) = pi a_k^2 1e12 rho(ir, ict) ntil(k) (the cross-section per
// unit volume times 1e20, a in micron) where rarr(ir) lies strictly outside the
// species' inner edge rsgra(ict, 1+k), else 0; ir 1..nr, ict 1..nct, k 1..nsp.
// The symmetry switches and the mirror index come from run.globals.
void gensig(const Run& run, FArray<float, 3>& sig, const Mat<float>& rho, const Vec<float>& agra,
            const Vec<float>& ntil, const Vec<float>& rarr, const Mat<float>& rsgra, int nr, int nct,
            int nsp);

// alfarr: the grains' extinction sum_k Qext sig / 1e20 and, in mode 2, the PAH
// absorption between 0.05 and 0.5 micron, which follows the dust density.
void genalf(Run& run, int mode);

// tauarr: trapezoid of alfarr along the radius from rarr(1).
void gentau(Run& run);

// jnarr = ajn exp(-tauarr); jarr = jdarr + jnarr in direction 0 and, spread over
// their solid angles, in the two quadrature directions that look at the source.
void genjn(Run& run);

// farr(ir, ict, k) = 4 pi jnarr(ir, ict, k) for k = 1..nnu; plane 0 untouched.
void inif(FArray<float, 3>& farr, const FArray<float, 3>& jnarr, int nr, int nct, int nnu);

}  // namespace qv
