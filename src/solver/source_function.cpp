// The source function of the cloud solver's dust.
#include "solver/source_function.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "core/run.h"
#include "dust/cirrus_emission.h"
#include "dust/temperature_distribution.h"
#include "io/format.h"

namespace qv {

namespace {

constexpr int NR = kSolverNr;
constexpr int NCT = kSolverNct;
constexpr int NNU = kSolverNnu;
constexpr int NSP = kSolverNsp;
constexpr int NL = kPditLevels;

// The trapezoid over the temperature levels of B(T) dP/dT at one frequency,
// halved: the levels whose probability is 1e-16 or less do not count, the two
// end levels count together when either of them does.
float level_integral(const TemperatureDistribution& td, const PlanckNu& pn) {
    const float* T = td.tdarr.data();
    const float* P = td.dpdt.data();
    float s = 0.0f;
    if (P[0] > 1e-16f || P[NL - 1] > 1e-16f)
        s = P[NL - 1] * planck_at(pn, T[NL - 1]) * (T[NL - 1] - T[NL - 2]) +
            P[0] * planck_at(pn, T[0]) * (T[1] - T[0]);
    for (int i = 1; i < NL - 1; ++i)
        if (P[i] > 1e-16f) s += P[i] * planck_at(pn, T[i]) * (T[i + 1] - T[i - 1]);
    return 0.5f * s;
}

// Trapezoid widths of the frequency integral, nu_{k+1} - nu_{k-1} (one-sided at
// the ends).
std::array<float, NNU> frequency_widths(const SolverState& g) {
    std::array<float, NNU> nu{}, w{};
    for (int k = 0; k < NNU; ++k) nu[k] = std::pow(10.0f, g.lfarr(k + 1));
    for (int k = 1; k < NNU - 1; ++k) w[k] = nu[k + 1] - nu[k - 1];
    w[0] = nu[1] - nu[0];
    w[NNU - 1] = nu[NNU - 1] - nu[NNU - 2];
    return w;
}

// Whether the emission e of a small grain, integrated over frequency, lies
// within a factor 2 of what it absorbs, qa 1e20 J (a grain in no light counts
// as balanced).
bool balanced(const std::array<float, NNU>& w, const float* qa, const float* j, int jstride, const float* e) {
    float emitted = 0.0f, absorbed = 0.0f;
    for (int nu = 0; nu < NNU; ++nu) {
        const float wn = w[nu] * 1e-20f;  // keeps the sums well inside the 4-byte range
        emitted += wn * e[nu];
        absorbed += wn * (qa[nu] * 1e20f * j[nu * jstride]);
    }
    if (!(absorbed > 0.0f)) return true;
    return emitted >= 0.5f * absorbed && emitted <= 2.0f * absorbed;
}

bool small_grain(const Run& run, int k) { return run.taumix.agra(k) <= 0.01f && run.modname.flutmc; }

}  // namespace

float aapiccolo(Run& run, int k, int nu) {
    const PlanckNu pn = planck_nu(run.globals.lfarr(nu));
    return run.globals.qaarr(nu, k) * level_integral(run.glopdittau, pn) * 1e20f;
}

void gens(Run& run) {
    SolverState& g = run.globals;
    TemperatureDistribution& td = run.glopdittau;
    g.sarr.fill(0.0f);

    std::array<PlanckNu, NNU> pn{};
    for (int nu = 1; nu <= NNU; ++nu) pn[nu - 1] = planck_nu(g.lfarr(nu));
    const std::array<float, NNU> w = frequency_widths(g);

    // Polar angle 1; the others are copies.
    std::array<float, NNU> e{};
    for (int ir = 1; ir <= NR; ++ir) {
        const float* j = g.jarr.ptr(ir, 1, 1, 0);
        const int jstride = static_cast<int>(g.jarr.ptr(ir, 1, 2, 0) - j);
        for (int k = 1; k <= NSP; ++k) {
            const float* qa = g.qaarr.col(k);
            const float* qs = g.qsarr.col(k);
            if (small_grain(run, k)) {
                for (int nu = 1; nu <= NNU; ++nu)
                    g.yfluarr(nu) = std::log10(g.jarr(ir, 1, nu, 0) + 1.1754944e-37f);
                td.tmin = 0.5f;
                td.tmax = 4000.0f;
                td.igra = k;
                glopdittau::pdit(run);
                for (int nu = 0; nu < NNU; ++nu) e[nu] = qa[nu] * level_integral(td, pn[nu]) * 1e20f;
                // The 150 levels between 0.5 and 4000 K are too coarse for a
                // grain whose heating photons are smaller than its level gaps (a
                // few 0.001 micron and up, near equilibrium in a strong field):
                // its distribution then emits far from what it absorbs. Such a
                // grain emits at its equilibrium temperature instead.
                if (g.tarr(ir, 1, k) > 0.0f && !balanced(w, qa, j, jstride, e.data())) {
                    for (int nu = 0; nu < NNU; ++nu) e[nu] = qa[nu] * 1e20f * planck_at(pn[nu], g.tarr(ir, 1, k));
                    g.pdit_fallback[static_cast<std::size_t>(k - 1)][static_cast<std::size_t>(ir - 1)] = true;
                }
            } else {
                const float t = g.tarr(ir, 1, k);
                for (int nu = 0; nu < NNU; ++nu) e[nu] = qa[nu] * 1e20f * planck_at(pn[nu], t);
            }
            const float sig = g.sigarr(ir, 1, k);
            for (int nu = 0; nu < NNU; ++nu)
                g.sarr(ir, 1, nu + 1) += (qs[nu] * 1e20f * j[nu * jstride] + e[nu]) * sig;
        }
        for (int nu = 1; nu <= NNU; ++nu) {
            for (int ict = 2; ict <= g.nctmez; ++ict) g.sarr(ir, ict, nu) = g.sarr(ir, ict - 1, nu);
            for (int ict = g.nctmez + 1; ict <= NCT; ++ict) g.sarr(ir, ict, nu) = g.sarr(ir, 25 - ict, nu);
        }
    }

    // Normalise by the total extinction of the point (the sum over the species
    // in their order, formed for a column of radii at a time).
    std::array<float, NR> d{};
    for (int nu = 1; nu <= NNU; ++nu)
        for (int ict = 1; ict <= NCT; ++ict) {
            d.fill(0.0f);
            for (int k = 1; k <= NSP; ++k) {
                const float qe = g.qearr(nu, k);
                const float* sig = g.sigarr.col(ict, k);
                for (int ir = 0; ir < NR; ++ir) d[ir] += sig[ir] * qe;
            }
            float* sa = g.sarr.col(ict, nu);
            for (int ir = 0; ir < NR; ++ir) sa[ir] = d[ir] > 0.0f ? sa[ir] / d[ir] : 0.0f;
        }

    // The check sum over every element, in storage order.
    float c = 0.0f;
    for (float v : g.sarr.storage()) c += v;
    const std::string line = fio::write_line("(A,2G15.5)", {" Source function Check: ", c, 0.0f});
    g.outlog.push_back(line);
    if (run.modname.verbose_level == 1) run.con.line(line);
}

std::string pdit_fallback_line(const SolverState& g) {
    std::vector<fio::Item> items;
    for (int k = 1; k <= NSP; ++k) {
        const auto& radii = g.pdit_fallback[static_cast<std::size_t>(k - 1)];
        const int n = static_cast<int>(std::count(radii.begin(), radii.end(), true));
        if (n == 0) continue;
        items.emplace_back(k);
        items.emplace_back(n);
    }
    if (items.empty()) return {};
    return fio::write_line("(' Small grains at their equilibrium temperature, their temperature distribution "
                           "off its energy balance by more than a factor 2:',"
                           "20(' species ',I0,' at ',I0,' radii',:,','))",
                           items);
}

}  // namespace qv
