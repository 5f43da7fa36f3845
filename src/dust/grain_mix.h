// GrainMix (mix): the diffuse grain mixture, 20 size bins per material.
// SolverGrainMix (taumix): the molecular clouds' grain mixture, 10 bins per
// material. Both are broken power-law size distributions of graphite and
// silicate spheres; the per-bin arrays hold graphite first, then silicate.
#pragma once

#include "numerics/farray.h"

namespace qv {

struct Run;

// The fields the two mixtures share; N size bins per material.
template <int N>
struct GrainSizeMix {
    static constexpr int nbin = N;

    // Size distributions (cm) as read from the par file; ab is replaced by amin
    // when it lies outside [amin, amax] or the two exponents are equal.
    float amin_gr = 0.0f, amax_gr = 0.0f, amin_si = 0.0f, amax_si = 0.0f;
    float ab_gr = 0.0f, ab_si = 0.0f;
    float beta1_gr = 0.0f, beta1_si = 0.0f;  // exponent of dn/da above the break
    float beta2_gr = 0.0f, beta2_si = 0.0f;  // exponent below the break
    float corgra = 0.0f, corsil = 0.0f;      // abundance factors
    float a_gr = 0.0f, a_si = 0.0f;          // log10 of the normalisations

    Vec<float> barr_gr = edges(), barr_si = edges();  // bin edges 0..N, cm
    Vec<float> aarr_gr = bins(), aarr_si = bins();    // bin radii 1..N, micron once built
    Vec<float> wei_gr = bins(), wei_si = bins();      // bin weights 1..N

    // Per-bin arrays 1..2N: graphite 1..N, silicate N+1..2N.
    Vec<float> agra = all(), bgra = all(), dgra = all(), mx = all(), xgra = all(), zeta = all();

private:
    static Vec<float> edges() {
        Vec<float> v;
        v.reshape({Bounds{0, N}});
        return v;
    }
    static Vec<float> bins() { return Vec<float>(N); }
    static Vec<float> all() { return Vec<float>(2 * N); }
};

struct GrainMix : GrainSizeMix<20> {
    float dsug = 0.0f;    // dust-to-gas mass ratio (MAIN key)
    float hsug = 0.735f;  // hydrogen mass fraction of the gas
};

struct SolverGrainMix : GrainSizeMix<10> {
    static constexpr float dsugst = 0.008937178f;
    float dsug = 0.008937178f;
};

namespace mix {

// Builds the diffuse mixture: "sigmapah_07.dat" into glopah, the MIXDIF section,
// the size bins and the per-bin arrays, with the "A_GR=", "A_SI=" and check lines.
void genmix(Run& run);
// Reads the MIXDIF section of the par file.
void inpmix_dif(Run& run);
// Cirrus cross-section per hydrogen atom (cm^2) at lambda (micron), in the
// efficiency mode remind::isca.
float mixcold(Run& run, float lambda);

}  // namespace mix

namespace taumix {

// Builds the clouds' mixture (the only call passes mode 2).
void genmix(Run& run, int mode);
// Reads the MIXMOL section when mode is 2.
void inpmix(Run& run, int mode);

}  // namespace taumix

namespace glopalla {

// The clouds' extinction cross-section per hydrogen atom (cm^2) at lambda
// (micron); its first call of the run builds the clouds' mixture.
float mixpalla(Run& run, float lambda);

}  // namespace glopalla

// Reads "sigmapah_07.dat" from the data directory: two header lines, then one
// row per band (an unused value, the neutral and the ionised cross-section).
void read_sigmapah(Run& run, Vec<float>& sigmai_neu, Vec<float>& sigmai_ion, Vec<float>& sigmai);

}  // namespace qv
