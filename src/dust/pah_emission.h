// PAH band emission: for the radiation field of one cirrus cell, the emission of
// the 24 PAH bands of glopah, by a double integral over the absorbed photon's
// frequency (7.5e14 to 3.29e15 Hz) and the PAH radius (4 to 15 Angstrom), each
// absorption followed by an integral over the cooling temperature of the share
// emitted in the band.
//
// Speed: the abscissas of the double integral are fixed points of its fixed
// limits, and the inner temperature integral depends on the band, the frequency
// and the radius but not on the field. pah keeps those integrals (times the
// band's cross-section and sqrt(a)) for every (frequency, radius) it has met,
// computing the 24 bands of one point together on shared Planck values and
// band sums. A later cell only interpolates its field and multiplies. The
// numbers are exactly those of the plain integrand.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace qv {

struct Run;

// The kept inner integrals at one absorbed-photon frequency x = ln nu.
struct PahNode {
    float x = 0.0f;
    std::vector<float> a;            // PAH radii (cm), in the order the radius integral asks for them
    std::vector<float> ya;           // 4e-8 / a
    std::vector<float> w;            // 24 per radius: I_T x sigmai x sqrt(a) of each band
    std::vector<std::uint32_t> bad;  // per radius: bands whose I_T did not converge
};

// What pah and its integrand keep between calls.
struct PahEmissionWork {
    // The values int_nu_a computed for the last x it saw.
    bool have_x = false;
    float x = 0.0f, nu = 0.0f, lambda = 0.0f, sigma_uv = 0.0f, y = 0.0f;
    float nu15 = 0.0f;  // nu / 1e15

    // Kept inner integrals; they are dropped when the band constants change.
    bool reuse = true;
    std::vector<float> key;
    std::unordered_map<std::uint32_t, std::uint32_t> node_of_x;
    std::vector<PahNode> nodes;
    std::vector<std::string> stop_lines;  // the stop of an I_T integral that did not converge

    // Work of one point: the temperature abscissas and the 24 band integrands at each.
    std::vector<float> tval;
    std::vector<float> bval;
    std::uint64_t point_hits = 0, point_fills = 0;  // for the tests and benchmarks
};

// The 24 band emissions of the cell whose mean intensity is glopdit::ix into
// glopah::epah (glopdit::yarr is used as work).
void pah(Run& run);

// The integrand of pah at x = ln nu (nu in Hz) and PAH radius a (cm).
float int_nu_a(Run& run, float x, float a);
// The integrand over the cooling temperature t (K), for the band glopah::jband
// and the radius glopah::yaaa.
float temp(Run& run, float t);
// The radius limits of the double integral (cm).
inline float a1(float) { return 4e-8f; }
inline float a2(float) { return 1.5e-7f; }

}  // namespace qv
