// The grain and PAH emission of the cirrus, cell by cell: the loop over the
// cells of the upper half of the galaxy, the radiation field of each (giroy),
// big grains at their equilibrium temperature (granigrossi), small grains with
// their temperature distribution (granipiccoli), the PAH bands, and the sum of
// the cells' emission into ETOT.
//
// Speed: the Planck function is evaluated at the same few frequency grids over
// and over (the dust grid's wavelengths for the big grains, its frequencies for
// the small ones), so its frequency-only factors are kept per grid point in a
// CirrusGrainWork, with the trapezoid weights of the big grains' emitted power;
// each evaluation is then one division, one exponential and one division, the
// same numbers as planck() itself.
#pragma once

#include <cmath>
#include <vector>

namespace qv {

struct Run;
struct TemperatureDistribution;

// The Planck function at one fixed frequency (x as planck takes it: log10 of the
// frequency below 100, the frequency in Hz otherwise), held as its two
// frequency-only factors.
struct PlanckNu {
    float cnu = 0.0f;   // h nu / k
    float kfac = 0.0f;  // 2 h nu^3 / c^2
};
PlanckNu planck_nu(float x);
// planck(x, t) for the frequency of p, bit for bit.
inline float planck_at(const PlanckNu& p, float t) {
    if (t <= 0.0f) return 0.0f;
    const float u = p.cnu / t;
    if (u > 100.0f) return 0.0f;
    return p.kfac / (std::exp(u) - 1.0f);
}

// What the grain emission keeps for the cell loop.
struct CirrusGrainWork {
    bool ready = false;
    int nlf = 0;
    std::vector<PlanckNu> nu_abs;    // (nlf) 3e18/ws(i) in Hz: the big grains' emitted power
    std::vector<PlanckNu> nu_emi;    // (nlf) log10(3e18/ws(i)): the big grains' spectrum
    std::vector<PlanckNu> nu_small;  // (nlf) log10 farr(nlf+1-k): the small grains' spectrum
    std::vector<float> pw;   // (nlf, 40) qabsw(i, j) times the frequency width of the trapezoid at i
    std::vector<float> kws;  // (nlf) 3e18 / ws(i)^2
    std::vector<float> f, s;  // work, nlf each
};

namespace cirrus {

// Builds the grain work for the run's dust grid and tequi::qabsw.
void prepare_grains(Run& run);

// The trapezoid over ws of a dust-grid array f (nlf values from index 1).
float trapezoid_ws(const Run& run, const float* f);

// P(T): the trapezoid over the descending frequencies 3e18/ws(i) of qabsw(i, j)
// times the Planck function at T, the power a grain of bin j emits (per unit
// cross-section and solid angle).
float emitted_power(const Run& run, int j, float t);

// The emission of grain bin j in the field glopdit::ix added to EX, with the
// bin's radius, cross-section and number density taken from run.cirrus.cell
// (arad, sigma, ngr). Big grains: the equilibrium temperature (cell.tgr) where
// the absorbed power tequi::aint1 equals P(T), by Brent's method on 0.1 to
// 1000 K ("STOP: Root must be bracketed for ZBRENT2." outside). Small grains:
// the temperature distribution on 0.05 to 4000 K, then again on the range where
// it exceeds 1e-12 of its peak (kept at the first range when that collapses to
// one level); EM is the emission of one grain.
void granigrossi(Run& run, int j);
// The levels of the distribution in glopdit where dP/dT exceeds 1e-12 of its
// peak: from the last level at or below that threshold under the peak (or the
// first level) to the first one above it (or the last); false when they are
// one level (the probability sits in one level, or nowhere below the last).
bool narrowed_range(const TemperatureDistribution& td, float& tlo, float& thi);
void granipiccoli(Run& run, int j);

// The emission per unit volume EX of the current cell (run.cirrus.cell: its
// mean density w) from its field glopdit::ix, added over the 40 bins: big grains
// (radius above 0.01 micron, or every bin without flutflag) by granigrossi,
// the others by granipiccoli. A value that is not finite stops the run naming
// the cell, the bin and the wavelength.
void grain_emission(Run& run);

}  // namespace cirrus
}  // namespace qv
