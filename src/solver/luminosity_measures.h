// Luminosity measures of the cloud solver and the rescaling that enforces the
// conservation of the source luminosity between passes: the luminosity through
// each radius (genl), the extinction power per radius (geny), the conservation
// factors (gensf) and the rescaled field (genjp).
#pragma once

#include "numerics/farray.h"

namespace qv {

struct Run;

// farr plane 0: the frequency trapezoid of farr(ir, ict, 1..54); larr(ir): the
// trapezoid in cos theta over the 24 polar cell centres of farr plane 0, times
// pi (r / 1e23)^2, in 1e46 erg/s.
void genl(Run& run);

// alfwk(ir, ict): the frequency trapezoid of alfarr jarr (direction 0); yarr(ir):
// its trapezoid in cos theta times pi.
void geny(Run& run);

// Conservation factors sf(1..n) toward the luminosity a: sf(n) = a/l(n),
// sf(n-1) = a/l(n-1), then inward in two interleaved chains sf(i) =
// (a/l(i+1)) (1 - q) + sf(i+2) q with q = y(i+2)/y(i). A radius with no
// extinction power (y(i) <= 0) or no positive luminosity to scale gets 0, which
// genjp turns into the direct field alone.
void gensf(Vec<float>& sf, const Vec<float>& y, const Vec<float>& l, float a, int n);

// jarr (direction 0) = max(jarr sfarr(ir), jnarr) at every point and frequency;
// jdarr = jarr - jnarr.
void genjp(Run& run);

}  // namespace qv
