// TemperatureDistribution: the temperature distribution of one small grain in a
// given radiation field, on 150 temperature levels, as dP/dT. Very small grains
// are heated by single photons and cool between absorptions, so they do not sit
// at one equilibrium temperature.
//
// One algorithm, two instances: `glopdit` for the diffuse dust (the cirrus model
// calls it twice per small-grain bin and cell) and `glopdittau` for the cloud
// solver. They differ only in the grain mixture, the field they read, the
// efficiency mode of the heating rates, the first element of the recursion and
// the one-time "somma parr" line; the differences are a PditInstance.
//
// Speed: everything that does not depend on the field (levels, enthalpies, the
// 150 cooling integrals, photon energies, level widths, heating efficiencies and
// the positions of the photon frequencies on the field's grid) is kept in a
// PditPlan, reused while the bin, the temperature range, the efficiency mode and
// the grid stay the same. A call then only interpolates the field, forms the
// rates and runs the recursion. The numbers are exactly those of the plain
// algorithm, including the saved search position of nr_kelu::liin_s, which
// decides the side of an exact hit on a grid entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "numerics/farray.h"

namespace qv {

struct Run;

inline constexpr int kPditLevels = 150;

// The field-independent work of one problem: a grain bin (material and radius),
// a temperature range, an efficiency mode for the heating rates, and the log10
// frequency grid of the field.
struct PditPlan {
    // Key.
    bool silicate = false;
    float agra = 0.0f;  // radius, micron
    float tmin = 0.0f, tmax = 0.0f;
    int isca = 0;
    float lam_trucco = 0.0f, exp_trucco = 0.0f;  // the Qabs tail in force
    std::vector<float> grid;                     // log10 nu of the field, ascending

    // Levels: temperature, enthalpy (erg), cooling rate C, the rate of the move
    // to the next lower level A(i-1, i) (index i), level width dU (index f).
    float t[kPditLevels] = {};
    float u[kPditLevels] = {};
    float c[kPditLevels] = {};
    float acool[kPditLevels] = {};
    float du[kPditLevels] = {};
    std::vector<float> dxx;  // grid(k+1) - grid(k)

    // Heating pairs (f > i) whose photon frequency lies on the grid, in the order
    // i = 1..149, f = i+1..150: the pairs of level i are first[i-1] .. first[i]-1.
    std::vector<std::uint32_t> first;
    std::vector<std::uint8_t> f;   // target level - 1
    std::vector<std::uint32_t> j;  // interpolation interval, 1..n-1
    std::vector<float> q;          // heating efficiency at the photon wavelength
    std::vector<float> he;         // h E
    std::vector<float> dx;         // log10 nu - grid(j)
    // Pairs whose log10 nu equals a grid entry: the interval then depends on the
    // search guess, so it is found again on every call.
    std::vector<std::uint32_t> tie;
    std::vector<float> tie_lnu;

    std::uint64_t last_use = 0;
    std::uint32_t hits = 0;
};

// The cooling integrand at the fixed abscissas of the cooling integral, for one
// bin: 10^x, the frequency-only factors of the Planck function, and Qabs.
struct CoolingNodes {
    bool silicate = false;
    float agra = 0.0f;
    float lam_trucco = 0.0f, exp_trucco = 0.0f;
    std::vector<float> x, p10, cnu, kfac, q;
};

// Reused work of one instance. capacity 0 rebuilds every plan.
struct PditReuse {
    std::size_t capacity = 64;
    std::vector<PditPlan> plans;
    PditPlan scratch;  // the plan of a call when nothing is kept
    std::vector<CoolingNodes> nodes;
    std::uint64_t clock = 0;
    std::uint64_t plan_hits = 0, plan_misses = 0;  // for the tests and benchmarks
};

// How an instance differs from the other.
struct PditInstance {
    int first_silicate;  // first silicate bin of the mixture
    double x1;           // first element of the recursion
    bool somma_parr;     // writes the "somma parr" line on its first call
};

struct TemperatureDistribution {
    int igra = 0;                  // grain bin, set by the caller
    float tmin = 0.0f, tmax = 0.0f;  // lowest and highest level, K; set by the caller
    float aang = 0.0f;             // grain radius, Angstrom
    float tdus = 0.0f;             // temperature of the cooling integral being done
    float ugoal = 0.0f;            // work value of the solver's instance (unused here)
    Vec<float> tdarr = Vec<float>(kPditLevels);  // temperature levels, K
    Vec<float> dpdt = Vec<float>(kPditLevels);   // dP/dT per K; entry 150 stays 0

    // glopdit only, allocated by the cirrus model with nlf values: the mean
    // intensity per unit wavelength at ws (wavelength order), and the work array
    // of log10 J_nu on the ascending frequency grid (the PAH bands also use it).
    Vec<float> ix;
    Vec<float> yarr;

    // Work arrays kept between calls.
    Vec<float> u = Vec<float>(kPditLevels);     // enthalpies
    Vec<float> cool = Vec<float>(kPditLevels);  // cooling rates C_i
    Mat<float> a = Mat<float>(kPditLevels, kPditLevels);  // transition rates A(f, i)
    Mat<float> b = Mat<float>(kPditLevels, kPditLevels);  // cumulative heating B(f, i)
    Vec<double> x = Vec<double>(kPditLevels);  // recursion vector
    Vec<float> p = Vec<float>(kPditLevels);    // probabilities

    bool somma_parr_done = false;  // the "somma parr" line has been written
    PditReuse reuse;
    std::vector<float> dy;      // field differences per grid interval
    std::vector<float> work;    // J_nu of the heating pairs
    std::vector<double> acc;    // partial sums of the recursion
};

// The two instances.
inline constexpr PditInstance kGlopdit{21, 1.0, true};
inline constexpr PditInstance kGlopdittau{11, 1e-30, false};

// The algorithm shared by both instances. agra: the mixture's radii (micron),
// bins 1..nbin; lf, y: the field as log10 J_nu (y) on the ascending log10
// frequency grid lf, n points; isca: the efficiency mode of the heating rates.
// Stops (naming the bin and its radius) for a temperature range that is empty
// or reversed, a grain too small for its enthalpy law, levels whose enthalpies
// do not increase, and populations that are not finite.
void pdit_levels(Run& run, TemperatureDistribution& td, const PditInstance& inst,
                 const Vec<float>& agra, const float* lf, const float* y, int n, int isca);

namespace glopdit {

// The distribution of bin igra (1..40) of the diffuse mixture in the field ix:
// the caller sets igra, tmin, tmax and ix; tdarr and dpdt are the result.
void pdit(Run& run);
// The cooling integrand at x = log10 nu for the bin and temperature tdus.
float fcool(Run& run, float x);

}  // namespace glopdit

namespace glopdittau {

// The same for species igra (1..20) of the clouds' mixture in the solver's
// field globals::yfluarr on globals::lfarr.
void pdit(Run& run);
float fcool(Run& run, float x);

}  // namespace glopdittau

}  // namespace qv
