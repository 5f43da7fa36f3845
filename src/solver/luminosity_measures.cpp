// Luminosity measures and the conservation rescaling of the cloud solver.
#include "solver/luminosity_measures.h"

#include <array>
#include <cmath>

#include "core/run.h"

namespace qv {

namespace {

constexpr int NR = kSolverNr;
constexpr int NCT = kSolverNct;
constexpr int NNU = kSolverNnu;

// The trapezoid widths of the frequency integral, nu_{k+1} - nu_{k-1} (one-sided
// at the ends); the integral is half the weighted sum.
std::array<float, NNU> frequency_widths(const SolverState& g) {
    std::array<float, NNU> nu{}, w{};
    for (int k = 0; k < NNU; ++k) nu[k] = std::pow(10.0f, g.lfarr(k + 1));
    for (int k = 1; k < NNU - 1; ++k) w[k] = nu[k + 1] - nu[k - 1];
    w[0] = nu[1] - nu[0];
    w[NNU - 1] = nu[NNU - 1] - nu[NNU - 2];
    return w;
}

// 0.5 [sum_{k=2}^{53} f_k w_k + f_1 w_1 + f_54 w_54], in that order.
template <class F>
float frequency_trapezoid(const std::array<float, NNU>& w, F&& f) {
    float s = 0.0f;
    for (int k = 1; k < NNU - 1; ++k) s += f(k + 1) * w[k];
    return 0.5f * (s + f(1) * w[0] + f(NNU) * w[NNU - 1]);
}

// sum_{j=1}^{23} (v(j) + v(j+1)) (mu_j - mu_{j+1}) over the polar cell centres
// (the caps beyond the first and last centre are left out).
template <class V>
float angle_sum(const SolverState& g, V&& v) {
    float s = 0.0f;
    for (int j = 1; j < NCT; ++j) s += (v(j) + v(j + 1)) * (std::cos(g.ctarr(j)) - std::cos(g.ctarr(j + 1)));
    return s;
}

}  // namespace

void genl(Run& run) {
    SolverState& g = run.globals;
    const auto w = frequency_widths(g);
    for (int ict = 1; ict <= NCT; ++ict)
        for (int ir = 1; ir <= NR; ++ir)
            g.farr(ir, ict, 0) = frequency_trapezoid(w, [&](int k) { return g.farr(ir, ict, k); });
    for (int ir = 1; ir <= NR; ++ir) {
        const float x = g.rarr(ir) / 1e23f;
        g.larr(ir) = 3.141593f * (x * x) * angle_sum(g, [&](int j) { return g.farr(ir, j, 0); });
    }
}

void geny(Run& run) {
    SolverState& g = run.globals;
    const auto w = frequency_widths(g);
    for (int ict = 1; ict <= NCT; ++ict)
        for (int ir = 1; ir <= NR; ++ir)
            g.alfwk(ir, ict) =
                frequency_trapezoid(w, [&](int k) { return g.alfarr(ir, ict, k) * g.jarr(ir, ict, k, 0); });
    for (int ir = 1; ir <= NR; ++ir) g.yarr(ir) = 3.141593f * angle_sum(g, [&](int j) { return g.alfwk(ir, j); });
}

void gensf(Vec<float>& sf, const Vec<float>& y, const Vec<float>& l, float a, int n) {
    // A radius with no positive luminosity to scale would give an infinite or
    // negative factor: it is treated like one with no extinction power.
    auto ratio = [&](int i) { return l(i) > 0.0f ? a / l(i) : 0.0f; };
    sf(n) = ratio(n);
    if (n >= 2) sf(n - 1) = ratio(n - 1);
    auto chain = [&](int i) {
        if (!(y(i) > 0.0f) || !(l(i + 1) > 0.0f)) {
            sf(i) = 0.0f;
            return;
        }
        const float q = y(i + 2) / y(i);
        sf(i) = (a / l(i + 1)) * (1.0f - q) + sf(i + 2) * q;
    };
    for (int i = n - 2; i >= 1; i -= 2) chain(i);
    for (int i = n - 3; i >= 1; i -= 2) chain(i);
}

void genjp(Run& run) {
    SolverState& g = run.globals;
    for (int nu = 1; nu <= NNU; ++nu)
        for (int ict = 1; ict <= NCT; ++ict)
            for (int ir = 1; ir <= NR; ++ir) {
                const float jn = g.jnarr(ir, ict, nu);
                const float j = std::fmax(g.jarr(ir, ict, nu, 0) * g.sfarr(ir), jn);
                g.jarr(ir, ict, nu, 0) = j;
                g.jdarr(ir, ict, nu, 0) = j - jn;
            }
}

}  // namespace qv
