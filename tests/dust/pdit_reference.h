// Straightforward transcriptions of the small-grain temperature distribution and
// of the PAH band emission: every level, rate, cooling integral and inner
// temperature integral computed afresh on every call, with the library's
// quadrature, search and optics routines. The tests compare the reusing
// implementations with them bit for bit; the benchmarks time them as the
// "before" figures. No test framework here, so the benchmarks can include it.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/run.h"
#include "dust/grain_optics.h"
#include "dust/pah_bands.h"
#include "dust/temperature_distribution.h"
#include "numerics/quadrature.h"
#include "numerics/search.h"

namespace qv::ref {

struct PditResult {
    std::vector<float> tdarr = std::vector<float>(150, 0.0f);
    std::vector<float> dpdt = std::vector<float>(150, 0.0f);
    std::vector<float> p = std::vector<float>(150, 0.0f);
    std::vector<float> u = std::vector<float>(150, 0.0f);
    std::vector<float> c = std::vector<float>(150, 0.0f);
    std::vector<float> a = std::vector<float>(150 * 150, 0.0f);  // A(f, i) at (f-1) + 150 (i-1)
};

inline float enthalpy(bool sil, float aang, float t) {
    const float a3 = aang * aang * aang;
    if (!sil) {
        const long long n = std::llround(0.475f * a3);
        return static_cast<float>(n - 2) * 4.15e-22f * std::pow(t, 3.3f) /
               (1.0f + 0.00651f * t + 1.5e-6f * (t * t) + 8.3e-7f * std::pow(t, 2.3f));
    }
    const long long n = std::llround(0.03733f * a3);
    const float v = 4.188667f * a3 * 1e-24f;
    float u;
    if (t <= 50.0f)
        u = 466.6667f * (t * t * t);
    else if (t <= 150.0f)
        u = 9565.217f * std::pow(t, 2.3f) - 1.899272e7f;
    else if (t <= 500.0f)
        u = 285714.3f * std::pow(t, 1.68f) - 3.448695e8f;
    else
        u = 3.41e7f * t - 7.617961e9f;
    return u * (1.0f - 2.0f / static_cast<float>(n)) * v;
}

inline float qeff(Run& run, bool sil, float lambda, float a, int isca) {
    return sil ? q_sil_81(run, lambda, a, isca) : q_gra_81(run, lambda, a, isca);
}

// The temperature levels T_i of a range.
inline float level(float tmin, float tmax, int i) {
    return tmin + static_cast<float>(i - 1) * (tmax - tmin) / 149.0f;
}

// The distribution of a grain of radius agra (micron) in the field y (log10 J_nu)
// on the log10 frequency grid lf.
inline PditResult pdit(Run& run, bool sil, float agra, float tmin, float tmax, const float* lf,
                       const float* y, int n, int isca, double x1) {
    constexpr float h = 6.62617e-27f;
    PditResult r;
    const float aang = 1e4f * agra;
    std::vector<float> t(151), u(151), c(151);
    for (int i = 1; i <= 150; ++i) {
        t[i] = level(tmin, tmax, i);
        u[i] = enthalpy(sil, aang, t[i]);
    }
    for (int i = 1; i <= 150; ++i) {
        const float td = t[i];
        auto fcool = [&](float x) {
            return std::pow(10.0f, x) * planck(x, td) *
                   qeff(run, sil, 3e14f / std::pow(10.0f, x), agra, 0);
        };
        c[i] = 2.30258509f * qromb(fcool, 8.5f, 15.5f, 0.001f);
    }
    // a[f][i]
    std::vector<std::vector<float>> a(151, std::vector<float>(151, 0.0f));
    std::vector<std::vector<float>> b(151, std::vector<float>(151, 0.0f));
    for (int i = 2; i <= 150; ++i) a[i - 1][i] = c[i] / (u[i] - u[i - 1]);
    for (int i = 1; i <= 149; ++i) {
        for (int f = i + 1; f <= 150; ++f) {
            const float e = u[f] - u[i];
            const float nu = e / h;
            const float lnu = std::log10(nu);
            if (lnu < lf[0] || lnu > lf[n - 1]) continue;
            const float lambda = 3e14f / nu;
            const float du = f < 150 ? (u[f + 1] - u[f - 1]) / 2.0f : u[150] - u[149];
            const float jnu = std::pow(10.0f, nr_kelu::liin_s(run.nr_kelu, lf, y, n, lnu));
            a[f][i] = qeff(run, sil, lambda, agra, isca) * jnu * du / (h * e);
        }
    }
    for (int i = 1; i <= 149; ++i) {
        b[150][i] = a[150][i];
        for (int f = 149; f > i; --f) b[f][i] = b[f + 1][i] + a[f][i];
    }
    std::vector<double> x(151, 0.0);
    x[1] = x1;
    for (int j = 2; j <= 150; ++j) {
        double s = 0.0;
        for (int i = 1; i <= j - 1; ++i) s += static_cast<double>(b[j][i]) * x[i];
        x[j] = a[j - 1][j] == 0.0f ? 0.0 : s / static_cast<double>(a[j - 1][j]);
    }
    double sx = 0.0;
    for (int i = 1; i <= 150; ++i) sx += x[i];
    if (!std::isfinite(sx)) {
        // Populations beyond the 8-byte reals: the recursion again, every X so far
        // divided by 2^600 whenever one exceeds 2^600.
        int nscale = 0;                 // rescales so far
        std::vector<double> xs(151, 0.0);
        std::vector<int> sc(151, 0);     // rescales before X(i) was computed
        // X(i) as it stands after every rescale so far, each one a division by 2^600.
        auto now = [&](int i) {
            double v = xs[i];
            for (int k = sc[i]; k < nscale; ++k) v *= 0x1p-600;
            return v;
        };
        xs[1] = x1;
        for (int j = 2; j <= 150; ++j) {
            double s = 0.0;
            for (int i = 1; i <= j - 1; ++i) s += static_cast<double>(b[j][i]) * now(i);
            xs[j] = a[j - 1][j] == 0.0f ? 0.0 : s / static_cast<double>(a[j - 1][j]);
            sc[j] = nscale;
            if (xs[j] > 0x1p600) ++nscale;
        }
        sx = 0.0;
        for (int i = 1; i <= 150; ++i) {
            x[i] = now(i);
            sx += x[i];
        }
    }
    for (int i = 1; i <= 150; ++i) r.p[i - 1] = static_cast<float>(x[i] / sx);
    for (int i = 1; i <= 150; ++i)
        for (int f = 1; f <= 150; ++f) r.a[(f - 1) + 150 * (i - 1)] = a[f][i];
    for (int i = 1; i <= 150; ++i) {
        r.tdarr[i - 1] = t[i];
        r.u[i - 1] = u[i];
        r.c[i - 1] = c[i];
    }
    r.dpdt[0] = r.p[0] / (t[2] - t[1]);
    for (int i = 2; i <= 149; ++i) r.dpdt[i - 1] = r.p[i - 1] / ((t[i + 1] - t[i - 1]) / 2.0f);
    for (int i = 0; i < 149; ++i)
        if (r.dpdt[i] <= 0.0f) r.dpdt[i] = 0.0f;
    return r;
}

// glopdit's call: the field from glopdit::ix as the cirrus passes it.
inline PditResult pdit_cirrus(Run& run, int igra, float tmin, float tmax) {
    const int nlf = run.glopalla.nlf;
    std::vector<float> y(nlf);
    for (int i = 1; i <= nlf; ++i)
        y[i - 1] = std::log10(run.glopdit.ix(nlf + 1 - i) + 1e-37f) + 18.477f -
                   2.0f * run.glopalla.lfarr(i);
    return pdit(run, igra > 20, run.mix.agra(igra), tmin, tmax, run.glopalla.lfarr.data(),
                y.data(), nlf, run.remind.isca, 1.0);
}

// The PAH bands, computed plainly. State that the plain integrand keeps between
// calls (the values of its last x) lives here.
struct PahReference {
    bool have_x = false;
    float x = 0.0f, nu = 0.0f, lambda = 0.0f, sigma_uv = 0.0f, y = 0.0f;
    std::vector<float> yarr;
    float a = 0.0f, c1 = 0.0f;
    int jband = 0;

    float temp(const PahBands& g, float t) const {
        const float bj = planck(g.nui(jband), t);
        if (bj == 0.0f) return 0.0f;
        float s = 0.0f;
        for (int i = 1; i <= 24; ++i) {
            const float w = PahBands::carbon_band(i) ? a * a * g.nc1 : g.nh1 * a * 4e-8f;
            s += planck(g.nui(i), t) * g.dnui(i) * g.sigmai(i) / 1e21f * w;
        }
        if (s == 0.0f) return bj;
        return c1 * std::min(t, 1300.0f) * bj / s;
    }

    float int_nu_a(Run& run, float xx, float aa) {
        const PahBands& g = run.glopah;
        if (!have_x || xx != x) {
            have_x = true;
            x = xx;
            nu = std::exp(xx);
            lambda = 3e14f / nu;
            sigma_uv = 2.0f * 1e18f * sigma_pah_c(lambda);
            y = nr_kelu::liin_s(run.nr_kelu, run.glopalla.farr.data(), yarr.data(),
                                run.glopalla.nlf, nu);
            if (y < 0.0f) y = 0.0f;
        }
        a = aa;
        c1 = 3.0f * 1.38e-16f * (aa * (g.nc1 * aa + g.nh1 * 4e-8f) - 2.0f) / 1300.0f;
        float ttop = std::sqrt(nu * 1.3252e-26f / c1 + 25.0f);
        if (ttop > 1300.0f) ttop = nu * 6.626e-27f / c1 / 1300.0f + 650.00964f;
        const float it = qromb([&](float t) { return temp(g, t); }, 5.0f, ttop, 0.001f);
        float v = it * g.sigmai(jband) * std::sqrt(aa) * y / (nu / 1e15f) * sigma_uv;
        if (PahBands::carbon_band(jband))
            v = v * g.nc1;
        else
            v = v * g.nh1 * (4e-8f / aa);
        return v / 1e7f * nu;
    }

    // The emission of the given bands (others 0); every band is integrated,
    // whatever its constant factor.
    std::vector<float> pah(Run& run, const std::vector<int>& bands) {
        const PahBands& g = run.glopah;
        const int nlf = run.glopalla.nlf;
        const float* farr = run.glopalla.farr.data();
        std::vector<float> e(25, 0.0f);
        const float s0 = 2.0f * g.nc1 / 1e18f * g.xx / 6.626e-27f / 1e21f;
        yarr.assign(nlf, 0.0f);
        for (int i = 1; i <= nlf; ++i) {
            const float f15 = farr[i - 1] / 1e15f;
            yarr[i - 1] = run.glopdit.ix(nlf + 1 - i) * 3e18f / (f15 * f15);
        }
        int j1 = 0, j2 = 0;
        hunt(farr, nlf, 7.5e14f, j1);
        hunt(farr, nlf, 3.29e15f, j2);
        if (j2 >= j1) {
            float m = yarr[std::max(j1, 1) - 1];
            for (int j = std::max(j1, 1); j <= j2; ++j) m = std::min(m, yarr[j - 1]);
            if (m <= 0.0f) return e;
        }
        for (int k : bands) {
            jband = k;
            const float v = quad2d(
                run.con, 34.25109f, 35.72966f, [](float) { return 4e-8f; },
                [](float) { return 1.5e-7f; }, [&](float xx, float aa) { return int_nu_a(run, xx, aa); },
                0.01f);
            const float nui = g.nui(k);
            e[k] = v * s0 * (nui * nui) / 3e18f * 4.0f * 3.141593f / 1e15f / 1e30f * 1e7f;
        }
        return e;
    }
};

}  // namespace qv::ref
