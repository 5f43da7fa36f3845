// Internals of the extinction phase of the cirrus model, for the tests: the
// angle average and the trapezoid over the dust grid.
#pragma once

namespace qv {
struct CirrusRun;

namespace cirrus {

// Attenuation below this optical depth is not applied.
inline constexpr float kTauThreshold = 0.002f;

// Degrees to radians as the model takes it.
inline constexpr float kDegree = 0.017453294f;

// The angle average, index 0 of LUMSTA_E and LUMMC_E: the trapezoid rule in the
// cosine of the inclination over the directions taken in ascending order of
// inclination (so that no weight is negative, whatever the order of the
// SPECTRA section), halved; direction 1 itself when there is only one. Over a
// partial range of inclinations it is not renormalised.
void angle_average(CirrusRun& cr, int nlf, int ncom);

// T[F]: sum over i = 1..nlf-1 of 0.5 (F(i) + F(i+1)) (ws(i+1) - ws(i)).
float trapezoid(const float* ws, const float* f, int nlf);

}  // namespace cirrus
}  // namespace qv
