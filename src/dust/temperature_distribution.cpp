#include "dust/temperature_distribution.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/run.h"
#include "core/stop.h"
#include "dust/grain_optics.h"
#include "io/format.h"
#include "numerics/quadrature.h"
#include "numerics/search.h"

namespace qv {

namespace {

constexpr int NL = kPditLevels;
constexpr float kH = 6.62617e-27f;      // erg s
constexpr float kLn10 = 2.30258509f;
constexpr float kCoolLo = 8.5f, kCoolHi = 15.5f, kCoolEps = 0.001f;

std::string num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.7g", v);
    return buf;
}

std::string bin_text(int igra, float aang) {
    return "grain bin " + std::to_string(igra) + " (radius " + num(aang) + " Angstrom)";
}

[[noreturn]] void fail(const std::string& what) {
    throw Stop(fio::list_line({"FATAL ERROR in pdit: " + what}));
}

GrainTable& table(Run& run, bool silicate) {
    return silicate ? q_draine::sil_table(run) : q_draine::gra_table(run);
}

// Qabs of the table with the searches started afresh: a plan's values are then
// a function of its key alone (on an exact hit of a table entry the bracket of
// a search depends on its guess), whenever and by whichever thread it is built.
inline float eval_fresh(GrainTable& tab, const QabsTail& tail, float lambda, float agra, int isca) {
    tab.jrad = 0;
    tab.jwav = 0;
    return q_draine::eval(tab, tail, lambda, agra, isca);
}

// Keeps a table's search guesses over a plan's build, which starts its own.
struct KeepGuesses {
    GrainTable& tab;
    int jrad, jwav;
    explicit KeepGuesses(GrainTable& t) : tab(t), jrad(t.jrad), jwav(t.jwav) {}
    ~KeepGuesses() {
        tab.jrad = jrad;
        tab.jwav = jwav;
    }
    KeepGuesses(const KeepGuesses&) = delete;
    KeepGuesses& operator=(const KeepGuesses&) = delete;
};

// Enthalpy of one grain (erg) at t; natoms and vol as the laws need them.
inline float enthalpy(bool silicate, long long natoms, float vol, float t) {
    if (!silicate) {
        return static_cast<float>(natoms - 2) * 4.15e-22f * std::pow(t, 3.3f) /
               (1.0f + 0.00651f * t + 1.5e-6f * (t * t) + 8.3e-7f * std::pow(t, 2.3f));
    }
    float uv;
    if (t <= 50.0f)
        uv = 466.6667f * (t * t * t);
    else if (t <= 150.0f)
        uv = 9565.217f * std::pow(t, 2.3f) - 1.899272e7f;
    else if (t <= 500.0f)
        uv = 285714.3f * std::pow(t, 1.68f) - 3.448695e8f;
    else
        uv = 3.41e7f * t - 7.617961e9f;
    return uv * (1.0f - 2.0f / static_cast<float>(natoms)) * vol;
}

// The cooling integrand computed directly: 10^x B_nu(x, t) Qabs(3e14/10^x).
inline float fcool_direct(GrainTable& tab, const QabsTail& tail, float agra, float t, float x) {
    const float p10 = std::pow(10.0f, x);
    return p10 * planck(x, t) * q_draine::eval(tab, tail, 3e14f / p10, agra, 0);
}

CoolingNodes& cooling_nodes(Run& run, PditReuse& r, bool silicate, float agra) {
    for (CoolingNodes& c : r.nodes)
        if (c.silicate == silicate && c.agra == agra && c.lam_trucco == run.trucco.lam_trucco &&
            c.exp_trucco == run.trucco.exp_trucco)
            return c;
    CoolingNodes c;
    c.silicate = silicate;
    c.agra = agra;
    c.lam_trucco = run.trucco.lam_trucco;
    c.exp_trucco = run.trucco.exp_trucco;
    r.nodes.push_back(std::move(c));
    return r.nodes.back();
}

// C(t) = ln 10 x the Romberg integral of the cooling integrand over log10 nu from
// 8.5 to 15.5. The abscissas of the integral are the same for every t, so the
// factors that depend on the frequency only are kept per abscissa in nodes (the
// n-th integrand call of an integral is always at the n-th abscissa).
float cooling_rate(GrainTable& tab, const QabsTail& tail, CoolingNodes& nd, float t) {
    std::size_t c = 0;
    auto f = [&](float x) -> float {
        float p10, cnu, kfac, q;
        if (c < nd.x.size() && nd.x[c] == x) {
            p10 = nd.p10[c];
            cnu = nd.cnu[c];
            kfac = nd.kfac[c];
            q = nd.q[c];
        } else {
            p10 = std::pow(10.0f, x);
            cnu = 4.79928e-11f * p10;
            const float n14 = p10 / 1e14f;
            kfac = 1.474524e-5f * (n14 * n14 * n14);
            q = eval_fresh(tab, tail, 3e14f / p10, nd.agra, 0);
            if (c == nd.x.size()) {
                nd.x.push_back(x);
                nd.p10.push_back(p10);
                nd.cnu.push_back(cnu);
                nd.kfac.push_back(kfac);
                nd.q.push_back(q);
            }
        }
        ++c;
        // planck(x, t), with its frequency-only factors taken from above.
        float pl = 0.0f;
        if (t > 0.0f) {
            const float u = cnu / t;
            if (!(u > 100.0f)) pl = kfac / (std::exp(u) - 1.0f);
        }
        return p10 * pl * q;
    };
    return kLn10 * qromb(f, kCoolLo, kCoolHi, kCoolEps);
}

// Builds the field-independent work of one problem into p (the key is set).
void build_plan(Run& run, TemperatureDistribution& td, PditPlan& p) {
    const bool sil = p.silicate;
    const float aang = td.aang;
    const float a3 = aang * aang * aang;
    long long natoms;
    float vol = 0.0f;
    if (!sil) {
        natoms = std::llround(0.475f * a3);
        if (natoms - 2 <= 0)
            fail(bin_text(td.igra, aang) + " holds " + std::to_string(natoms) +
                 " carbon atoms: the graphite enthalpy law needs at least 3");
    } else {
        natoms = std::llround(0.03733f * a3);
        vol = 4.188667f * a3 * 1e-24f;
        if (natoms <= 2)
            fail(bin_text(td.igra, aang) + " holds " + std::to_string(natoms) +
                 " silicate units: the silicate enthalpy law needs at least 3");
    }

    const float tmin = p.tmin, tmax = p.tmax;
    for (int i = 0; i < NL; ++i) {
        p.t[i] = tmin + static_cast<float>(i) * (tmax - tmin) / 149.0f;
        p.u[i] = enthalpy(sil, natoms, vol, p.t[i]);
    }
    for (int i = 1; i < NL; ++i)
        if (!(p.u[i] > p.u[i - 1]))
            fail("the enthalpies of temperature levels " + std::to_string(i) + " and " +
                 std::to_string(i + 1) + " (" + num(p.t[i - 1]) + " K and " + num(p.t[i]) +
                 " K, " + num(p.u[i - 1]) + " erg and " + num(p.u[i]) + " erg) of " +
                 bin_text(td.igra, aang) + " do not increase");

    GrainTable& tab = table(run, sil);
    const KeepGuesses keep(tab);
    const QabsTail& tail = run.trucco;
    CoolingNodes& nd = cooling_nodes(run, td.reuse, sil, p.agra);
    for (int i = 0; i < NL; ++i) {
        td.tdus = p.t[i];
        p.c[i] = cooling_rate(tab, tail, nd, p.t[i]);
        p.acool[i] = i > 0 ? p.c[i] / (p.u[i] - p.u[i - 1]) : 0.0f;
    }
    for (int f = 1; f < NL - 1; ++f) p.du[f] = (p.u[f + 1] - p.u[f - 1]) / 2.0f;
    p.du[NL - 1] = p.u[NL - 1] - p.u[NL - 2];
    p.du[0] = 0.0f;

    const std::vector<float>& g = p.grid;
    const int n = static_cast<int>(g.size());
    p.dxx.resize(static_cast<std::size_t>(n > 1 ? n - 1 : 0));
    for (int k = 0; k + 1 < n; ++k) p.dxx[k] = g[k + 1] - g[k];

    p.first.assign(NL, 0);
    p.f.clear();
    p.j.clear();
    p.q.clear();
    p.he.clear();
    p.dx.clear();
    p.tie.clear();
    p.tie_lnu.clear();
    const float glo = g.front(), ghi = g.back();
    int rguess = 0;
    for (int i = 0; i < NL - 1; ++i) {
        p.first[i] = static_cast<std::uint32_t>(p.f.size());
        for (int f = i + 1; f < NL; ++f) {
            const float e = p.u[f] - p.u[i];
            const float nu = e / kH;
            const float lnu = std::log10(nu);
            if (!(lnu >= glo && lnu <= ghi)) continue;  // no heating off the grid
            const float lambda = 3e14f / nu;
            // Away from the entries the bracket does not depend on the guess;
            // the previous pair's is close.
            int r = rguess;
            hunt(g.data(), n, lnu, r);
            rguess = r;
            const int jj = r >= n ? n - 1 : (r <= 0 ? 1 : r);
            const bool tie = (r >= 1 && g[r - 1] == lnu) || (r < n && g[r] == lnu);
            if (tie) {
                p.tie.push_back(static_cast<std::uint32_t>(p.f.size()));
                p.tie_lnu.push_back(lnu);
            }
            p.f.push_back(static_cast<std::uint8_t>(f));
            p.j.push_back(static_cast<std::uint32_t>(jj));
            p.q.push_back(eval_fresh(tab, tail, lambda, p.agra, p.isca));
            p.he.push_back(kH * e);
            p.dx.push_back(lnu - g[jj - 1]);
        }
    }
    p.first[NL - 1] = static_cast<std::uint32_t>(p.f.size());
}

bool same_key(const PditPlan& p, const PditPlan& k) {
    return p.silicate == k.silicate && p.agra == k.agra && p.tmin == k.tmin && p.tmax == k.tmax &&
           p.isca == k.isca && p.lam_trucco == k.lam_trucco && p.exp_trucco == k.exp_trucco &&
           p.grid.size() == k.grid.size() &&
           std::memcmp(p.grid.data(), k.grid.data(), p.grid.size() * sizeof(float)) == 0;
}

void set_key(PditPlan& p, bool silicate, float agra, float tmin, float tmax, int isca,
             const QabsTail& tail, const float* lf, int n) {
    p.silicate = silicate;
    p.agra = agra;
    p.tmin = tmin;
    p.tmax = tmax;
    p.isca = isca;
    p.lam_trucco = tail.lam_trucco;
    p.exp_trucco = tail.exp_trucco;
    p.grid.assign(lf, lf + n);
}

// The plan of the call: a kept one with the same key, or a new one.
const PditPlan& plan_for(Run& run, TemperatureDistribution& td, bool silicate, float agra,
                         int isca, const float* lf, int n) {
    PditReuse& r = td.reuse;
    PditPlan& key = r.scratch;
    set_key(key, silicate, agra, td.tmin, td.tmax, isca, run.trucco, lf, n);
    ++r.clock;
    if (r.capacity == 0) {
        ++r.plan_misses;
        build_plan(run, td, key);
        return key;
    }
    for (PditPlan& p : r.plans)
        if (same_key(p, key)) {
            ++r.plan_hits;
            ++p.hits;
            p.last_use = r.clock;
            return p;
        }
    ++r.plan_misses;
    build_plan(run, td, key);
    key.hits = 0;
    key.last_use = r.clock;
    if (r.plans.size() < r.capacity) {
        r.plans.push_back(key);
        return r.plans.back();
    }
    // Replace the oldest plan that was never reused, else the oldest of all, so
    // that the plans every cell needs stay.
    std::size_t victim = 0;
    bool victim_cold = false;
    for (std::size_t k = 0; k < r.plans.size(); ++k) {
        const bool cold = r.plans[k].hits == 0;
        if ((cold && !victim_cold) ||
            (cold == victim_cold && r.plans[k].last_use < r.plans[victim].last_use)) {
            victim = k;
            victim_cold = cold;
        }
    }
    std::swap(r.plans[victim], key);
    return r.plans[victim];
}

inline float lin_at(const float* lf, const float* y, int j, float x) {
    const float x0 = lf[j - 1], x1 = lf[j];
    const float y0 = y[j - 1], y1 = y[j];
    return y0 + (x - x0) * (y1 - y0) / (x1 - x0);
}

// X_1 = x1; X_j = acc_j / A(j-1, j) (0 when that rate is 0), acc_j the sum over
// i < j of B(j, i) X_i in the order of i. With scale, whenever an X exceeds 2^600
// every X so far and every partial sum are multiplied by 2^-600: exact, and the
// probabilities X_i / sum X do not change. Returns the sum of X.
double recursion(TemperatureDistribution& td, const float* B, const float* acool, double x1,
                 bool scale) {
    constexpr double kBig = 0x1p600;
    constexpr double kDown = 0x1p-600;
    td.acc.assign(NL, 0.0);
    double* acc = td.acc.data();
    double* X = td.x.data();
    for (int j = 0; j < NL; ++j) {
        if (j == 0) {
            X[0] = x1;
        } else {
            const float ad = acool[j];
            X[j] = ad == 0.0f ? 0.0 : acc[j] / static_cast<double>(ad);
        }
        if (scale && X[j] > kBig) {
            for (int i = 0; i <= j; ++i) X[i] *= kDown;
            for (int f = j + 1; f < NL; ++f) acc[f] *= kDown;
        }
        const double xj = X[j];
        const float* bc = B + static_cast<std::ptrdiff_t>(j) * NL;
        for (int f = j + 1; f < NL; ++f) acc[f] += static_cast<double>(bc[f]) * xj;
    }
    double sx = 0.0;
    for (int i = 0; i < NL; ++i) sx += X[i];
    return sx;
}

}  // namespace

void pdit_levels(Run& run, TemperatureDistribution& td, const PditInstance& inst,
                 const Vec<float>& agra, const float* lf, const float* y, int n, int isca) {
    const int nbin = agra.extent();
    if (td.igra < 1 || td.igra > nbin)
        fail("grain bin " + std::to_string(td.igra) + " is not one of the mixture's bins 1 to " +
             std::to_string(nbin));
    const float ag = agra(td.igra);
    td.aang = 1e4f * ag;
    if (!(td.tmax > td.tmin) || !(td.tmin >= 0.0f) || !std::isfinite(td.tmax))
        fail("the temperature range " + num(td.tmin) + " K to " + num(td.tmax) + " K of " +
             bin_text(td.igra, td.aang) + " is empty or reaches below 0 K");
    if (n < 2) fail("the radiation field holds fewer than two frequencies");
    const bool silicate = td.igra >= inst.first_silicate;

    const PditPlan& p = plan_for(run, td, silicate, ag, isca, lf, n);

    // Field differences per grid interval.
    td.dy.resize(static_cast<std::size_t>(n - 1));
    float* dy = td.dy.data();
    for (int k = 0; k + 1 < n; ++k) dy[k] = y[k + 1] - y[k];

    // Transition rates A(f, i): heating from the field, cooling from the plan.
    float* A = td.a.data();
    std::fill(A, A + NL * NL, 0.0f);
    const std::uint32_t npair = static_cast<std::uint32_t>(p.f.size());
    const std::uint8_t* pf = p.f.data();
    const std::uint32_t* pj = p.j.data();
    const float* pq = p.q.data();
    const float* phe = p.he.data();
    const float* pdx = p.dx.data();
    const float* dxx = p.dxx.data();
    // In three sweeps, so that the divisions of the first and the last overlap:
    // log10 J_nu interpolated at every pair, J_nu, the rate.
    td.work.resize(npair);
    float* w = td.work.data();
    for (std::uint32_t k = 0; k < npair; ++k) {
        const std::uint32_t jj = pj[k] - 1;
        w[k] = y[jj] + pdx[k] * dy[jj] / dxx[jj];
    }
    for (std::uint32_t k = 0; k < npair; ++k) w[k] = std::pow(10.0f, w[k]);
    for (int i = 0; i < NL - 1; ++i) {
        float* col = A + static_cast<std::ptrdiff_t>(i) * NL;
        for (std::uint32_t k = p.first[i]; k < p.first[i + 1]; ++k)
            col[pf[k]] = pq[k] * w[k] * p.du[pf[k]] / phe[k];
    }
    // Lookups whose frequency equals a grid entry: their search ends on either
    // side of the entry, depending on where the previous search ended; redo them
    // in order, so that the position kept for the next search is the same.
    if (npair > 0) {
        int last_r = static_cast<int>(pj[npair - 1]);
        if (!p.tie.empty()) {
            int prev_r = run.nr_kelu.liin_s_pos;
            std::uint32_t k_done = 0;  // lookups before this one have their results in prev_r
            for (std::size_t t = 0; t < p.tie.size(); ++t) {
                const std::uint32_t k = p.tie[t];
                if (k > k_done) prev_r = static_cast<int>(pj[k - 1]);
                if (prev_r == NrKelu::kUnknownPos) {
                    // Every tie depends on the position it starts from.
                    run.nr_kelu.used_unknown = true;
                    prev_r = 0;
                }
                int r = prev_r;
                hunt(lf, n, p.tie_lnu[t], r);
                const int jj = r >= n ? n - 1 : (r <= 0 ? 1 : r);
                const float jnu = std::pow(10.0f, lin_at(lf, y, jj, p.tie_lnu[t]));
                // The pair's source level: the last i whose pairs start at or before k.
                const int i = static_cast<int>(
                    std::upper_bound(p.first.begin(), p.first.end(), k) - p.first.begin() - 1);
                A[static_cast<std::ptrdiff_t>(i) * NL + pf[k]] =
                    pq[k] * jnu * p.du[pf[k]] / phe[k];
                prev_r = r;
                k_done = k + 1;
                if (k == npair - 1) last_r = r;
            }
        }
        run.nr_kelu.liin_s_pos = last_r;
    }
    for (int i = 1; i < NL; ++i) A[static_cast<std::ptrdiff_t>(i) * NL + (i - 1)] = p.acool[i];

    // Cumulative heating B(f, i) = sum over k = f..150 of A(k, i), from the top.
    // Four columns at a time, so that their sums (each in its own order) overlap.
    float* B = td.b.data();
    int i0 = 0;
    for (; i0 + 4 <= NL - 1; i0 += 4) {
        const float* a0 = A + static_cast<std::ptrdiff_t>(i0) * NL;
        const float* a1 = a0 + NL;
        const float* a2 = a1 + NL;
        const float* a3 = a2 + NL;
        float* b0 = B + static_cast<std::ptrdiff_t>(i0) * NL;
        float* b1 = b0 + NL;
        float* b2 = b1 + NL;
        float* b3 = b2 + NL;
        float s0 = a0[NL - 1], s1 = a1[NL - 1], s2 = a2[NL - 1], s3 = a3[NL - 1];
        b0[NL - 1] = s0;
        b1[NL - 1] = s1;
        b2[NL - 1] = s2;
        b3[NL - 1] = s3;
        int f = NL - 2;
        for (; f > i0 + 3; --f) {
            s0 = s0 + a0[f];
            s1 = s1 + a1[f];
            s2 = s2 + a2[f];
            s3 = s3 + a3[f];
            b0[f] = s0;
            b1[f] = s1;
            b2[f] = s2;
            b3[f] = s3;
        }
        for (; f > i0; --f) {
            s0 = s0 + a0[f];
            b0[f] = s0;
            if (f > i0 + 1) {
                s1 = s1 + a1[f];
                b1[f] = s1;
            }
            if (f > i0 + 2) {
                s2 = s2 + a2[f];
                b2[f] = s2;
            }
        }
    }
    for (int i = i0; i < NL - 1; ++i) {
        const float* ac = A + static_cast<std::ptrdiff_t>(i) * NL;
        float* bc = B + static_cast<std::ptrdiff_t>(i) * NL;
        float s = ac[NL - 1];
        bc[NL - 1] = s;
        for (int f = NL - 2; f > i; --f) {
            s = s + ac[f];
            bc[f] = s;
        }
    }

    // Recursion: X_j = (sum over i < j of B(j, i) X_i) / A(j-1, j), the sums
    // built column by column in the order of i.
    double* X = td.x.data();
    double sx = recursion(td, B, p.acool, inst.x1, false);
    if (!std::isfinite(sx)) {
        // The populations outgrow the 8-byte reals (a strong field and a range
        // reaching far below the grain's usual temperatures): the same recursion,
        // scaled down by powers of two whenever it grows large.
        sx = recursion(td, B, p.acool, inst.x1, true);
    }
    if (!std::isfinite(sx) || !(sx > 0.0))
        fail("the level populations of " + bin_text(td.igra, td.aang) + " between " +
             num(td.tmin) + " K and " + num(td.tmax) + " K are not finite (their sum is " +
             num(sx) + ")");
    float* P = td.p.data();
    for (int i = 0; i < NL; ++i) P[i] = static_cast<float>(X[i] / sx);

    if (inst.somma_parr && !td.somma_parr_done) {
        float s = 0.0f;
        for (int i = 0; i < NL; ++i) s += P[i];
        run.con.line(fio::list_line({"somma parr", s}));
        td.somma_parr_done = true;
    }

    for (int i = 0; i < NL; ++i) {
        td.tdarr(i + 1) = p.t[i];
        td.u(i + 1) = p.u[i];
        td.cool(i + 1) = p.c[i];
    }
    float* D = td.dpdt.data();
    D[0] = P[0] / (p.t[1] - p.t[0]);
    for (int i = 1; i < NL - 1; ++i) D[i] = P[i] / ((p.t[i + 1] - p.t[i - 1]) / 2.0f);
    for (int i = 0; i < NL - 1; ++i)
        if (D[i] <= 0.0f) D[i] = 0.0f;
}

namespace glopdit {

void pdit(Run& run) {
    TemperatureDistribution& td = run.glopdit;
    const int nlf = run.glopalla.nlf;
    if (td.ix.extent() != nlf || run.glopalla.lfarr.extent() != nlf)
        fail("the radiation field ix holds " + std::to_string(td.ix.extent()) +
             " values for a dust grid of " + std::to_string(nlf) + " frequencies");
    if (td.yarr.extent() != nlf) td.yarr.resize(nlf);
    const float* lf = run.glopalla.lfarr.data();
    const float* ix = td.ix.data();
    float* y = td.yarr.data();
    // log10 J_nu at the i-th ascending frequency from the per-wavelength field.
    for (int i = 0; i < nlf; ++i)
        y[i] = std::log10(ix[nlf - 1 - i] + 1e-37f) + 18.477f - 2.0f * lf[i];
    pdit_levels(run, td, kGlopdit, run.mix.agra, lf, y, nlf, run.remind.isca);
}

float fcool(Run& run, float x) {
    const TemperatureDistribution& td = run.glopdit;
    const bool sil = td.igra >= kGlopdit.first_silicate;
    return fcool_direct(table(run, sil), run.trucco, run.mix.agra(td.igra), td.tdus, x);
}

}  // namespace glopdit

namespace glopdittau {

void pdit(Run& run) {
    TemperatureDistribution& td = run.glopdittau;
    const SolverState& g = run.globals;
    pdit_levels(run, td, kGlopdittau, run.taumix.agra, g.lfarr.data(), g.yfluarr.data(),
                g.lfarr.extent(), 0);
}

float fcool(Run& run, float x) {
    const TemperatureDistribution& td = run.glopdittau;
    const bool sil = td.igra >= kGlopdittau.first_silicate;
    return fcool_direct(table(run, sil), run.trucco, run.taumix.agra(td.igra), td.tdus, x);
}

}  // namespace glopdittau

}  // namespace qv
