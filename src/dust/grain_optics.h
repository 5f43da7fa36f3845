// Optical properties of single grains: absorption and scattering efficiencies of
// silicate and graphite spheres from the tables "SIL_81" and "GRA_81", the PAH
// ultraviolet cross-section, and the Planck function.
//
// The efficiency functions are called for every grain bin, frequency and
// temperature: a table is read once, kept as base-10 logarithms, and each call
// is one or two bilinear interpolations (starting from the brackets of the
// previous call) and one or two powers of ten, without allocation.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "core/parameters.h"
#include "numerics/search.h"

namespace qv {

struct Run;

// One grain table, kept for the whole run once its first call has read it.
struct GrainTable {
    static constexpr int nrad = 81;   // grain radii
    static constexpr int nwav = 241;  // wavelengths per radius
    bool loaded = false;
    std::vector<float> lrad;   // log10 radius (micron), file order
    std::vector<float> lwav;   // log10 wavelength (micron), file order
    std::vector<float> lqabs;  // log10 Qabs (radius, wavelength), radius index fastest
    std::vector<float> lqsca;  // log10 Qsca, same layout
    int jrad = 0, jwav = 0;    // brackets of the last search, the next call's guesses
};

// The two tables (q_draine).
struct GrainTables {
    GrainTable sil;
    GrainTable gra;
};

namespace q_draine {

// Reads a grain table file into t (logarithms). A missing file, a short or
// malformed one, blocks whose wavelength lists differ, radii or wavelengths that
// do not run in one direction, or a value that is not positive: IoError naming
// the file and line.
void read_table(GrainTable& t, const std::string& path);

// The silicate and graphite tables of the run, read on first use.
GrainTable& sil_table(Run& run);
GrainTable& gra_table(Run& run);

inline float pow10f(float x) { return std::pow(10.0f, x); }

// The efficiency of a read table: isca 0 Qabs with the long-wavelength tail,
// 1 Qsca, 2 sqrt(Qabs (Qabs + Qsca)), any other value Qabs without the tail.
// lambda and a in micron.
inline float eval(GrainTable& t, const QabsTail& tail, float lambda, float a, int isca) {
    const float u = std::log10(a);
    auto at = [&t, u](const std::vector<float>& q, float w) {
        return biliin(t.lrad.data(), t.lwav.data(), q.data(), GrainTable::nrad, GrainTable::nwav, u,
                      w, t.jrad, t.jwav);
    };
    if (isca == 0 && lambda > tail.lam_trucco) {
        const float tt = tail.exp_trucco * std::log10(tail.lam_trucco / lambda);
        const float w = std::log10(tail.lam_trucco);
        return pow10f(tt + at(t.lqabs, w));
    }
    const float w = std::log10(lambda);
    if (isca == 1) return pow10f(at(t.lqsca, w));
    if (isca == 2) {
        const float qsca = pow10f(at(t.lqsca, w));
        const float qabs = pow10f(at(t.lqabs, w));
        return std::sqrt((qsca + qabs) * qabs);
    }
    return pow10f(at(t.lqabs, w));
}

}  // namespace q_draine

// Efficiencies of silicate and graphite spheres of radius a at wavelength lambda
// (both micron); isca as in q_draine::eval. The tail follows run.trucco.
float q_sil_81(Run& run, float lambda, float a, int isca);
float q_gra_81(Run& run, float lambda, float a, int isca);

// PAH ultraviolet cross-section (cm^2) at lambda (micron); 0 outside [0.05, 0.5].
float sigma_pah_c(float lambda);

// Planck function B_nu(T) in erg s^-1 cm^-2 Hz^-1 sr^-1; x is log10 of the
// frequency in Hz when below 100, else the frequency itself; T in K.
float planck(float x, float t);

}  // namespace qv
