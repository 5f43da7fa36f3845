#include "dust/pah_emission.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/run.h"
#include "core/stop.h"
#include "dust/grain_optics.h"
#include "io/format.h"
#include "numerics/quadrature.h"
#include "numerics/search.h"

namespace qv {

namespace {

constexpr int NB = kPahBands;
constexpr float kX1 = 34.25109f;  // ln 7.5e14
constexpr float kX2 = 35.72966f;  // ln 3.29e15
constexpr float kEps2d = 0.01f;
constexpr float kEpsT = 0.001f;
constexpr float kTlo = 5.0f;
constexpr float kYaamax = 4e-8f;

// Heat-capacity coefficient of a PAH of radius a (cm).
inline float heat_coeff(const PahBands& g, float a) {
    return 3.0f * 1.38e-16f * (a * (g.nc1 * a + g.nh1 * 4e-8f) - 2.0f) / 1300.0f;
}

// Highest temperature a photon of frequency nu can give the PAH.
inline float top_temperature(float nu, float c1) {
    float t = std::sqrt(nu * 1.3252e-26f / c1 + 25.0f);
    if (t > 1300.0f) t = nu * 6.626e-27f / c1 / 1300.0f + 650.00964f;
    return t;
}

// Step 1 of the integrand: the values that depend on x only, kept until x changes.
void new_frequency(Run& run, float x) {
    PahEmissionWork& w = run.qvpah;
    if (w.have_x && x == w.x) return;
    w.have_x = true;
    w.x = x;
    w.nu = std::exp(x);
    w.nu15 = w.nu / 1e15f;
    w.lambda = 3e14f / w.nu;
    w.sigma_uv = 2.0f * 1e18f * sigma_pah_c(w.lambda);
    float y = nr_kelu::liin_s(run.nr_kelu, run.glopalla.farr.data(), run.glopdit.yarr.data(),
                              run.glopalla.nlf, w.nu);
    // Beyond the last grid point the line through the last interval may fall
    // below zero; a field is never negative.
    if (y < 0.0f) y = 0.0f;
    w.y = y;
}

// Steps 5 to 7 from W = I_T x sigmai x sqrt(a); ya = yaamax / a.
inline float band_value(const PahBands& g, const PahEmissionWork& w, bool carbon, float wv,
                        float ya) {
    float v = wv * w.y / w.nu15 * w.sigma_uv;
    if (carbon)
        v = v * g.nc1;
    else
        v = v * g.nh1 * ya;
    return v / 1e7f * w.nu;
}

bool band_active(const PahBands& g, int k) {
    return g.sigmai(k) != 0.0f && (PahBands::carbon_band(k) || g.nh1 != 0.0f);
}

// The constants the kept integrals depend on.
std::vector<float> memo_key(const PahBands& g) {
    std::vector<float> k;
    k.reserve(3 * NB + 2);
    k.push_back(g.nc1);
    k.push_back(g.nh1);
    for (int i = 1; i <= NB; ++i) k.push_back(g.sigmai(i));
    for (int i = 1; i <= NB; ++i) k.push_back(g.nui(i));
    for (int i = 1; i <= NB; ++i) k.push_back(g.dnui(i));
    return k;
}

std::uint32_t bits(float x) {
    std::uint32_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// Computes the inner temperature integrals of every active band at the point
// (nu, a) and appends them to node nd: the bands share the abscissas of their
// integrals (same limits), so the Planck values of the 24 bands and their sum
// at each abscissa are computed once.
void fill_point(Run& run, PahNode& nd, float nu, float a) {
    PahEmissionWork& w = run.qvpah;
    const PahBands& g = run.glopah;
    const float c1 = heat_coeff(g, a);
    const float ttop = top_temperature(nu, c1);
    const float wc = a * a * g.nc1;
    const float wh = g.nh1 * a * kYaamax;
    const float sq = std::sqrt(a);

    // planck(nui(i), t) = kfac_i / (exp(cnu_i / t) - 1), 0 when the exponent exceeds 100.
    float cnu[NB], kfac[NB], wt[NB];
    for (int i = 0; i < NB; ++i) {
        // planck's own reading of its argument: a frequency from 100 up, else log10 of one.
        const float nui = g.nui(i + 1) < 100.0f ? std::pow(10.0f, g.nui(i + 1)) : g.nui(i + 1);
        cnu[i] = 4.79928e-11f * nui;
        const float n14 = nui / 1e14f;
        kfac[i] = 1.474524e-5f * (n14 * n14 * n14);
        wt[i] = PahBands::carbon_band(i + 1) ? wc : wh;
    }
    const float cap = c1;

    w.tval.clear();
    w.bval.clear();
    auto row = [&](float t) {
        float bj[NB];
        float s = 0.0f;
        for (int i = 0; i < NB; ++i) {
            float b = 0.0f;
            if (t > 0.0f) {
                const float u = cnu[i] / t;
                if (!(u > 100.0f)) b = kfac[i] / (std::exp(u) - 1.0f);
            }
            bj[i] = b;
            s += b * g.dnui(i + 1) * g.sigmai(i + 1) / 1e21f * wt[i];
        }
        const float ct = cap * std::min(t, 1300.0f);
        w.tval.push_back(t);
        for (int i = 0; i < NB; ++i) {
            float v;
            if (bj[i] == 0.0f)
                v = 0.0f;
            else if (s == 0.0f)
                v = bj[i];
            else
                v = ct * bj[i] / s;
            w.bval.push_back(v);
        }
    };

    const std::size_t base = nd.w.size();
    nd.a.push_back(a);
    nd.ya.push_back(kYaamax / a);
    nd.w.resize(base + NB, 0.0f);
    nd.bad.push_back(0u);
    PahBands& gm = run.glopah;
    const int jband = gm.jband;
    for (int k = 1; k <= NB; ++k) {
        if (!band_active(g, k)) continue;
        std::size_t c = 0;
        auto f = [&](float t) -> float {
            if (c == w.tval.size()) row(t);
            float v;
            if (w.tval[c] == t) {
                v = w.bval[c * NB + (k - 1)];
            } else {
                // Not the expected abscissa: the integrand itself.
                gm.jband = k;
                gm.yaaa = a;
                gm.c1 = c1;
                v = temp(run, t);
            }
            ++c;
            return v;
        };
        try {
            const float it = qromb(f, kTlo, ttop, kEpsT);
            nd.w[base + (k - 1)] = it * g.sigmai(k) * sq;
        } catch (const Stop& s) {
            nd.bad.back() |= 1u << (k - 1);
            w.stop_lines = s.lines;
        }
    }
    gm.jband = jband;
    ++w.point_fills;
}

}  // namespace

float temp(Run& run, float t) {
    const PahBands& g = run.glopah;
    const float a = g.yaaa;
    const float bj = planck(g.nui(g.jband), t);
    if (bj == 0.0f) return 0.0f;
    float s = 0.0f;
    for (int i = 1; i <= NB; ++i) {
        const float wi = PahBands::carbon_band(i) ? a * a * g.nc1 : g.nh1 * a * g.yaamax;
        s += planck(g.nui(i), t) * g.dnui(i) * g.sigmai(i) / 1e21f * wi;
    }
    if (s == 0.0f) return bj;
    return g.c1 * std::min(t, 1300.0f) * bj / s;
}

float int_nu_a(Run& run, float x, float a) {
    new_frequency(run, x);
    PahBands& g = run.glopah;
    const PahEmissionWork& w = run.qvpah;
    g.yaaa = a;
    g.c1 = heat_coeff(g, a);
    g.yaamax = kYaamax;
    const float ttop = top_temperature(w.nu, g.c1);
    const float it = qromb([&run](float t) { return temp(run, t); }, kTlo, ttop, kEpsT);
    float v = it * g.sigmai(g.jband) * std::sqrt(a) * w.y / (w.nu / 1e15f) * w.sigma_uv;
    if (PahBands::carbon_band(g.jband))
        v = v * g.nc1;
    else
        v = v * g.nh1 * (g.yaamax / a);
    return v / 1e7f * w.nu;
}

void pah(Run& run) {
    PahBands& g = run.glopah;
    TemperatureDistribution& td = run.glopdit;
    PahEmissionWork& w = run.qvpah;
    const int nlf = run.glopalla.nlf;
    if (td.ix.extent() != nlf || run.glopalla.farr.extent() != nlf || nlf < 2)
        throw Stop(fio::list_line({"FATAL ERROR in pah: the radiation field ix holds " +
                                   std::to_string(td.ix.extent()) + " values for a dust grid of " +
                                   std::to_string(nlf) + " frequencies"}));
    if (td.yarr.extent() != nlf) td.yarr.resize(nlf);
    // The field is new: the value kept for the last frequency is not its own.
    w.have_x = false;

    const float s0 = 2.0f * g.nc1 / 1e18f * g.xx / 6.626e-27f / 1e21f;
    const float* farr = run.glopalla.farr.data();
    const float* ix = td.ix.data();
    float* y = td.yarr.data();
    for (int i = 0; i < nlf; ++i) {
        const float f15 = farr[i] / 1e15f;
        y[i] = ix[nlf - 1 - i] * 3e18f / (f15 * f15);
    }

    // A field that is zero anywhere in the absorption range gives no emission.
    int j1 = 0, j2 = 0;
    hunt(farr, nlf, 7.5e14f, j1);
    hunt(farr, nlf, 3.29e15f, j2);
    if (j2 >= j1) {
        const int lo = std::max(j1, 1);
        float ymin = y[lo - 1];
        for (int j = lo; j <= j2; ++j) ymin = std::min(ymin, y[j - 1]);
        if (ymin <= 0.0f) {
            for (int k = 1; k <= NB; ++k) g.epah(k) = 0.0f;
            return;
        }
    }

    if (w.reuse) {
        std::vector<float> key = memo_key(g);
        if (key != w.key) {
            w.key = std::move(key);
            w.nodes.clear();
            w.node_of_x.clear();
        }
    }

    // The node of the current x and the position of the next radius in it.
    std::uint32_t node = 0;
    bool have_node = false;
    float node_x = 0.0f;
    std::size_t pos = 0;
    const float alo = a1(0.0f);

    for (int k = 1; k <= NB; ++k) {
        g.jband = k;
        // A band whose constant factor is zero emits nothing.
        if (s0 == 0.0f || !band_active(g, k)) {
            g.epah(k) = 0.0f;
            continue;
        }
        const bool carbon = PahBands::carbon_band(k);
        auto func = [&](float x, float a) -> float {
            if (!w.reuse) return int_nu_a(run, x, a);
            new_frequency(run, x);
            g.yaaa = a;
            g.yaamax = kYaamax;
            if (!have_node || x != node_x) {
                auto it = w.node_of_x.find(bits(x));
                if (it == w.node_of_x.end()) {
                    it = w.node_of_x.emplace(bits(x), static_cast<std::uint32_t>(w.nodes.size())).first;
                    w.nodes.emplace_back();
                    w.nodes.back().x = x;
                }
                node = it->second;
                node_x = x;
                have_node = true;
                pos = 0;
            } else if (a == alo) {
                pos = 0;  // a new radius integral at the same x
            }
            PahNode& nd = w.nodes[node];
            if (pos == nd.a.size()) {
                g.c1 = heat_coeff(g, a);
                fill_point(run, nd, w.nu, a);
            } else if (pos > nd.a.size() || nd.a[pos] != a) {
                ++pos;
                return int_nu_a(run, x, a);  // a radius off the expected sequence
            } else {
                ++w.point_hits;
            }
            if (nd.bad[pos] & (1u << (k - 1))) throw Stop(w.stop_lines);
            const float wv = nd.w[pos * NB + (k - 1)];
            ++pos;
            return band_value(g, w, carbon, wv, nd.ya[pos - 1]);
        };
        const float e = quad2d(run.con, kX1, kX2, a1, a2, func, kEps2d);
        const float nui = g.nui(k);
        g.epah(k) = e * s0 * (nui * nui) / 3e18f * 4.0f * 3.141593f / 1e15f / 1e30f * 1e7f;
    }
}

}  // namespace qv
