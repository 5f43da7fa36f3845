// Grain temperatures and sublimation in the cloud solver.
#include "solver/grain_temperatures.h"

#include <array>
#include <cmath>
#include <cstddef>

#include "core/run.h"
#include "dust/cirrus_emission.h"
#include "numerics/roots_sort.h"
#include "solver/central_source.h"
#include "solver/dust_geometry.h"

namespace qv {

namespace {

constexpr int NNU = kSolverNnu;
constexpr int NR = kSolverNr;
constexpr int NSP = kSolverNsp;

// What the residuals need of the frequency grid: the trapezoid widths of the
// frequency integral (nu_{k+1} - nu_{k-1}, one-sided at the ends) and the
// Planck function's frequency factors at each grid frequency.
struct FrequencyRule {
    std::array<float, NNU> w{};
    std::array<PlanckNu, NNU> pn{};
};

FrequencyRule frequency_rule(const SolverState& g) {
    FrequencyRule f;
    std::array<float, NNU> nu{};
    for (int k = 0; k < NNU; ++k) {
        nu[k] = std::pow(10.0f, g.lfarr(k + 1));
        f.pn[k] = planck_nu(g.lfarr(k + 1));
    }
    f.w[0] = nu[1] - nu[0];
    for (int k = 1; k < NNU - 1; ++k) f.w[k] = nu[k + 1] - nu[k - 1];
    f.w[NNU - 1] = nu[NNU - 1] - nu[NNU - 2];
    return f;
}

// The emitted-power weights Qa_k w_k of one species.
std::array<float, NNU> emission_weights(const SolverState& g, const FrequencyRule& f, int id) {
    std::array<float, NNU> pw{};
    const float* qa = g.qaarr.col(id);
    for (int k = 0; k < NNU; ++k) pw[k] = qa[k] * f.w[k];
    return pw;
}

// The absorbed power 0.5 sum_k Qa_k w_k J_k, J given on the grid.
float absorbed(const std::array<float, NNU>& pw, const float* j) {
    float s = 0.0f;
    for (int k = 0; k < NNU; ++k) s += pw[k] * j[k];
    return 0.5f * s;
}

// The residual at temperature t: absorbed minus 0.5 sum_k Qa_k w_k B_k(t).
struct Residual {
    float a;
    const std::array<float, NNU>* pw;
    const FrequencyRule* f;
    float operator()(float t) const {
        float s = 0.0f;
        for (int k = 0; k < NNU; ++k) s += (*pw)[k] * planck_at(f->pn[k], t);
        return a - 0.5f * s;
    }
};

// J of the unattenuated source at (r, ct) on the grid.
std::array<float, NNU> source_light(Run& run, float r, float ct) {
    std::array<float, NNU> j{};
    for (int k = 0; k < NNU; ++k) j[k] = ajn(run, r, ct, run.globals.lfarr(k + 1));
    return j;
}

// The total mean intensity at grid point (ir, ict) on the grid.
std::array<float, NNU> field_light(const SolverState& g, int ir, int ict) {
    std::array<float, NNU> j{};
    const float* p = g.jarr.ptr(ir, ict, 1, 0);
    const std::ptrdiff_t stride = g.jarr.ptr(ir, ict, 2, 0) - p;
    for (int k = 0; k < NNU; ++k) j[k] = p[k * stride];
    return j;
}

}  // namespace

float eqra(Run& run, float t) {
    const SolverState& g = run.globals;
    const FrequencyRule f = frequency_rule(g);
    const auto pw = emission_weights(g, f, g.id);
    const auto j = source_light(run, run.prot4.r, run.prot4.ct);
    return Residual{absorbed(pw, j.data()), &pw, &f}(t);
}

float equrad(Run& run, float t) {
    const SolverState& g = run.globals;
    const FrequencyRule f = frequency_rule(g);
    const auto pw = emission_weights(g, f, g.id);
    const auto j = field_light(g, g.ir, g.ict);
    return Residual{absorbed(pw, j.data()), &pw, &f}(t);
}

float tequ(Run& run, float r, float ct, int id) {
    SolverState& g = run.globals;
    g.id = id;
    run.prot4.r = r;
    run.prot4.ct = ct;
    const FrequencyRule f = frequency_rule(g);
    const auto pw = emission_weights(g, f, id);
    const auto j = source_light(run, r, ct);
    return zbrent(Residual{absorbed(pw, j.data()), &pw, &f}, 0.0f, 5e6f, 2.0f);
}

float rsub(Run& run, float ct, int id, const Vec<float>& tsub, int n, float l46) {
    (void)n;
    Prosubli& p = run.prosubli;
    p.ct = ct;
    p.id = id;
    p.tsub = tsub(id);
    const float rg = 1.3e18f * std::sqrt(l46) * std::pow(p.tsub / 1500.0f, -2.8f);
    const float x1 = std::log10(rg) - 2.0f, x2 = std::log10(rg) + 2.0f;
    auto f = [&run](float x) {
        const Prosubli& q = run.prosubli;
        return tequ(run, std::pow(10.0f, x), q.ct, q.id) - q.tsub;
    };
    const float x = brent_root(f, x1, x2, 0.01f, " Root must be bracketed for ZBREN2.",
                               " ZBREN2 exceeding maximum iterations.");
    return std::pow(10.0f, x);
}

void r0min(Run& run) {
    SolverState& g = run.globals;
    const Vec<float>& xgra = run.taumix.xgra;
    const int m = g.nctmez;
    float gmin = -10.0f;
    for (int ict = 1; ict <= m; ++ict) {
        g.rsgra(ict, 1) = -10.0f;
        for (int k = 1; k <= NSP; ++k) {
            float r;
            if (xgra(k) <= 0.0f)
                r = 1e33f;
            else if (g.simsfe && ict >= 2)
                r = g.rsgra(1, 1 + k);
            else
                r = rsub(run, g.ctarr(ict), k, g.tsgra, NSP, g.al46tru);
            g.rsgra(ict, 1 + k) = r;
            g.rsgra(25 - ict, 1 + k) = r;
            gmin = gmin < 0.0f ? r : std::fmin(gmin, r);
            g.rsgra(ict, 1) = g.rsgra(ict, 1) < 0.0f ? r : std::fmin(g.rsgra(ict, 1), r);
            g.rsgra(25 - ict, 1) = g.rsgra(ict, 1);
        }
    }
    g.r0 = std::fmax(1.02f * gmin, g.r1);
    for (int k = 1; k <= NSP; ++k)
        for (int ict = 1; ict <= kSolverNct; ++ict) g.rsgra(ict, 1 + k) = g.rsgra(ict, 1);
}

void gent(Run& run, bool flag) {
    SolverState& g = run.globals;
    const Vec<float>& xgra = run.taumix.xgra;
    const int m = g.nctmez;
    g.agflag = false;
    const FrequencyRule f = frequency_rule(g);
    for (int k = 1; k <= NSP; ++k) {
        const auto pw = emission_weights(g, f, k);
        for (int ict = 1; ict <= kSolverNct; ++ict) {
            if (ict > m) {
                for (int ir = 1; ir <= NR; ++ir)
                    g.tarr(ir, ict, k) = g.simequ ? g.tarr(ir, 25 - ict, k) : 0.0f;
                g.rsgra(ict, 1 + k) = g.rsgra(25 - ict, 1 + k);
                continue;
            }
            const bool out = theta_out(g, g.ctarr(ict));
            for (int ir = 1; ir <= NR; ++ir) {
                g.ir = ir;
                g.ict = ict;
                g.id = k;
                if (out || g.rarr(ir) <= g.rsgra(ict, 1 + k) || g.rhoarr(ir, ict) == 0.0f) {
                    g.tarr(ir, ict, k) = 0.0f;
                } else if (g.simsfe && ict >= 2) {
                    g.tarr(ir, ict, k) = g.tarr(ir, 1, k);
                    g.rsgra(ict, 1 + k) = g.rsgra(1, 1 + k);
                } else {
                    float t = 0.0f;
                    if (xgra(k) > 0.0f) {
                        const auto j = field_light(g, ir, ict);
                        t = zbrent(Residual{absorbed(pw, j.data()), &pw, &f}, 0.0f, 1e4f, 2.0f);
                    }
                    if (t > g.tsgra(k) && flag) {
                        g.tarr(ir, ict, k) = 0.0f;
                        g.agflag = true;
                        const float rnew = ir < NR ? (g.rarr(ir) + g.rarr(ir + 1)) / 2.0f : g.rarr(NR);
                        g.rsgra(ict, 1 + k) = std::fmax(g.rsgra(ict, 1 + k), rnew);
                    } else {
                        g.tarr(ir, ict, k) = t;
                    }
                }
            }
        }
    }
    for (int ict = 1; ict <= kSolverNct; ++ict) {
        float r = -10.0f;
        for (int k = 1; k <= NSP; ++k) r = r < 0.0f ? g.rsgra(ict, 1 + k) : std::fmin(r, g.rsgra(ict, 1 + k));
        g.rsgra(ict, 1) = r;
    }
}

}  // namespace qv
