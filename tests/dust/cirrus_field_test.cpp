// The radiation field in the cirrus: the fast exponential, the cell average of
// the squared distance, the own-cell rule, and giroy against hand-computed
// fields, a plain transcription of its loop, the intrho cache and its clock.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "core/run.h"
#include "core/stop.h"
#include "dust/cirrus_field.h"
#include "dust/cirrus_fixture.h"
#include "dust/cirrus_grid.h"
#include "dust/cirrus_phases.h"
#include "dust/column_density.h"
#include "support/test_support.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using cirrus::exp_app;

// ---------------------------------------------------------------------------
// The fast exponential.

TEST(CirrusFieldExpApp, RangesAndCounters) {
    struct Case {
        float tau;
        float value;
        int nexp, nnoexp;
    } cases[] = {
        {0.0100001f, 1.0f - 0.0100001f, 0, 1},
        {0.1399999f, 1.0f - 0.1399999f, 0, 1},
        {0.14f, (1.0f - 0.14f) + 0.14f * 0.14f / 2.0f, 0, 1},
        {0.6999999f, (1.0f - 0.6999999f) + 0.6999999f * 0.6999999f / 2.0f, 0, 1},
        {0.7f, ((1.0f - 0.7f) + 0.7f * 0.7f / 2.0f) - 0.16666f * (0.7f * 0.7f * 0.7f), 0, 1},
        {1.1f, ((1.0f - 1.1f) + 1.1f * 1.1f / 2.0f) - 0.16666f * (1.1f * 1.1f * 1.1f), 0, 1},
        {1.1000001f, std::exp(-1.1000001f), 1, 0},
        {49.9f, std::exp(-49.9f), 1, 0},
        {50.0f, 0.0f, 0, 0},
        {1e6f, 0.0f, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tau);
        std::int64_t ne = 0, nn = 0;
        EXPECT_EQ(exp_app(c.tau, ne, nn), c.value);
        EXPECT_EQ(ne, c.nexp);
        EXPECT_EQ(nn, c.nnoexp);

        // The block form of giroy, one wavelength: the attenuation starts above
        // 0.01 and the counters follow the rule.
        float acc = 0.5f;
        const float light = 3.0f, txy = 1.0f;
        ne = nn = 0;
        cirrus::add_source(&acc, &light, &txy, 1, 2.0f, c.tau, ne, nn);
        EXPECT_EQ(acc, 0.5f + (2.0f * 3.0f) * c.value);
        EXPECT_EQ(ne, c.nexp);
        EXPECT_EQ(nn, c.nnoexp);
    }
    // 0.01 exactly is not attenuated and not counted.
    float acc = 0.0f;
    const float light = 3.0f, txy = 1.0f;
    std::int64_t ne = 0, nn = 0;
    cirrus::add_source(&acc, &light, &txy, 1, 2.0f, 0.01f, ne, nn);
    EXPECT_EQ(acc, 6.0f);
    EXPECT_EQ(ne + nn, 0);
}

// add_source on many wavelengths gives bit for bit what the rule gives one
// wavelength at a time, with the same counts.
TEST(CirrusFieldExpApp, BlocksMatchThePlainRule) {
    std::mt19937 gen(7);
    std::uniform_real_distribution<float> lg(-5.0f, 3.0f), lv(0.0f, 2.0f);
    for (int n : {1, 3, 8, 13, 118, 238}) {
        std::vector<float> txys(n), light(n);
        for (int k = 0; k < n; ++k) {
            txys[k] = std::pow(10.0f, lg(gen));
            light[k] = std::pow(10.0f, lv(gen));
        }
        std::sort(txys.begin(), txys.end(), [](float a, float b) { return a > b; });
        if (n > 4) txys[2] = txys[1];  // ties
        for (float c : {0.0f, 1e-3f, 0.37f, 4.0f, 55.0f, 3e3f}) {
            SCOPED_TRACE(testing::Message() << "n=" << n << " c=" << c);
            std::vector<float> got(n, 0.25f), want(n, 0.25f);
            std::int64_t ne = 0, nn = 0, we = 0, wn = 0;
            const float g = 1.7e-3f;
            cirrus::add_source(got.data(), light.data(), txys.data(), n, g, c, ne, nn);
            for (int k = 0; k < n; ++k) {
                float contrib = g * light[k];
                const float tau = c * txys[k];
                if (tau > 0.01f) contrib *= exp_app(tau, we, wn);
                want[k] += contrib;
            }
            for (int k = 0; k < n; ++k) ASSERT_EQ(got[k], want[k]) << k;
            EXPECT_EQ(ne, we);
            EXPECT_EQ(nn, wn);
            // A source without light counts the same.
            std::int64_t ce = 0, cn = 0;
            cirrus::count_source(txys.data(), n, c, ce, cn);
            EXPECT_EQ(ce, we);
            EXPECT_EQ(cn, wn);
        }
    }
}

// ---------------------------------------------------------------------------
// The cell average of the squared distance.

// The mean of |x - T|^2 over the cell by the midpoint rule in r, theta, phi
// with volume weights r^2 sin theta, in pc^2.
double brute_force_d2(double r1, double r2, double a, double b, double p1, double p2, double rt, double tt,
                      int n = 80) {
    const double xt = rt * std::sin(tt), zt = rt * std::cos(tt);
    double s = 0.0, v = 0.0;
    for (int i = 0; i < n; ++i) {
        const double r = r1 + (i + 0.5) / n * (r2 - r1);
        for (int j = 0; j < n; ++j) {
            const double th = a + (j + 0.5) / n * (b - a);
            const double w = r * r * std::sin(th);
            for (int k = 0; k < n; ++k) {
                const double ph = p1 + (k + 0.5) / n * (p2 - p1);
                const double x = r * std::sin(th) * std::cos(ph), y = r * std::sin(th) * std::sin(ph),
                             z = r * std::cos(th);
                s += w * ((x - xt) * (x - xt) + y * y + (z - zt) * (z - zt));
                v += w;
            }
        }
    }
    return 1e6 * s / v;
}

TEST(CirrusFieldDistmedia, MatchesABruteForceCellAverage) {
    struct Case {
        const char* what;
        float r1, r2, a, b, p1, p2, rt, tt;
    } cases[] = {
        {"far cell", 10.0f, 12.0f, 0.6f, 0.9f, 1.0f, 1.6f, 3.0f, 1.2f},
        {"cell across the centre", 2.0f, 3.0f, 1.2f, 1.4f, 2.8f, 3.141593f, 2.5f, 1.3f},
        {"polar cell", 0.0f, 1.5f, 0.0f, 0.26179939f, 0.0f, 0.3f, 4.0f, 1.0f},
        {"cell beside the target", 9.6f, 10.0f, 1.5666f, 1.5707965f, 0.0207f, 0.0414f, 10.2f, 1.5686f},
        {"thin cell just above the target", 10.0f, 10.4f, 1.5562f, 1.5666f, 0.0f, 0.0207f, 10.2f, 1.5686f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const float d2 = cirrus::distmedia(c.r1, c.r2, c.a, c.b, c.p1, c.p2, c.rt, c.tt);
        const double want = brute_force_d2(c.r1, c.r2, c.a, c.b, c.p1, c.p2, c.rt, c.tt);
        EXPECT_NEAR(double(d2) / want, 1.0, 2e-4) << d2 << " " << want;
        // The pieces giroy keeps per source cell give the same value.
        const double t = c.tt;
        EXPECT_EQ(cirrus::distmedia_from(cirrus::cell_moments(c.r1, c.r2, c.a, c.b), cirrus::cos_mean(c.p1, c.p2),
                                         c.rt, std::sin(t), std::cos(t)),
                  d2);
    }
}

// ---------------------------------------------------------------------------
// The own cell.

// r^2 times the integral over theta in [a, b] of sin theta / d^2 in the
// target's meridian, by Simpson's rule on n intervals.
double numeric_integrand(double r, double rt, double tt, double a, double b, int n = 200000) {
    auto f = [&](double th) { return std::sin(th) / (r * r + rt * rt - 2.0 * r * rt * std::cos(th - tt)); };
    const double h = (b - a) / n;
    double s = f(a) + f(b);
    for (int i = 1; i < n; ++i) s += (i % 2 ? 4.0 : 2.0) * f(a + i * h);
    return r * r * s * h / 3.0;
}

struct OwnCase {
    const char* what;
    float r1, r2, a, b;
};

const OwnCase kOwnCells[] = {
    {"mid-latitude cell", 4.0f, 6.0f, 0.8f, 1.2f},
    {"thin equatorial disk cell", 9.763f, 10.169f, 1.5666f, 1.5707965f},
    {"polar cell", 2.0f, 4.0f, 0.0f, 0.26179939f},
    {"cell on the lower pole", 2.0f, 4.0f, 2.8797933f, 3.141593f},
    {"innermost cell", 0.0f, 0.4f, 0.6f, 1.0f},
};

TEST(CirrusFieldOwnCell, IntegrandMatchesANumericalIntegral) {
    for (const OwnCase& c : kOwnCells) {
        SCOPED_TRACE(c.what);
        const float rt = 0.5f * (c.r1 + c.r2), tt = 0.5f * (c.a + c.b);
        const float hw = 0.5f * (c.r2 - c.r1);
        for (float x : {-0.97390652f, -0.6f, -0.14887430f, -0.01f, 0.01f, 0.43339530f, 0.86506331f, 3.0f}) {
            const float r = rt + hw * x;
            SCOPED_TRACE(r);
            const float got = cirrus::integrando_distmediaapp(r, rt, tt, c.a, c.b);
            const double want = numeric_integrand(r, rt, tt, c.a, c.b);
            ASSERT_TRUE(std::isfinite(got));
            EXPECT_NEAR(double(got) / want, 1.0, 5e-5) << got << " " << want;
        }
    }
}

TEST(CirrusFieldOwnCell, SquaredDistanceIsTheGaussRuleOverTheIntegrand) {
    for (const OwnCase& c : kOwnCells) {
        SCOPED_TRACE(c.what);
        const float rt = 0.5f * (c.r1 + c.r2), tt = 0.5f * (c.a + c.b);
        const float d2 = cirrus::own_cell_d2(c.r1, c.r2, c.a, c.b, rt, tt);
        ASSERT_TRUE(std::isfinite(d2));
        ASSERT_GT(d2, 0.0f);
        // The same rule with the numerical integrand.
        const double mid = 0.5 * (double(c.r1) + double(c.r2)), h = 0.5 * (double(c.r2) - double(c.r1));
        double s = 0.0;
        for (int m = 0; m < 5; ++m)
            for (double sg : {1.0, -1.0})
                s += double(cirrus::kGaussW[m]) *
                     numeric_integrand(mid + sg * h * double(cirrus::kGaussX[m]), rt, tt, c.a, c.b);
        const double vol = (std::cos(double(c.a)) - std::cos(double(c.b))) *
                           (std::pow(double(c.r2), 3) - std::pow(double(c.r1), 3)) / 3.0;
        const double want = vol * 1e6 / (h * s);
        EXPECT_NEAR(double(d2) / want, 1.0, 5e-5) << d2 << " " << want;
        // 1/D^2 averages 1/d^2 in the meridian: the effective distance lies
        // within the cell's size.
        const double size2 = 1e6 * (std::pow(double(c.r2) - double(c.r1), 2) +
                                    std::pow(double(c.r2) * (double(c.b) - double(c.a)), 2));
        EXPECT_LT(d2, size2);
    }
}

// ---------------------------------------------------------------------------
// giroy.

// A cirrus grid of geometry igeo with nlf wavelengths, starlight FORMA and the
// arrays giroy reads; NORMA, TXY and FORMA as the test sets them.
struct FieldModel {
    test::CapturedConsole cc;
    Run run{cc.con};
    int nlf;
    FieldModel(int igeo, int ndr, int nlf_ = 16, int intrho = 0) : nlf(nlf_) {
        test::set_geometry(run, igeo, intrho);
        run.remind.ndr = ndr;
        if (igeo == 2) {
            // A small disk, the same grid with or without the cache: rgal over 5 kpc
            // radial nodes, 13 polar nodes.
            run.parametri.zddiff = run.parametri.zdstar = 2.5f;
            run.parametri.rdstar = run.parametri.rddiff;
            run.parametri.zsur = run.parametri.zddiff / run.parametri.rgal;
        }
    }
    void build(float mdiff = 0.01f) {
        test::build_grid(run, mdiff);
        allocate();
    }
    void allocate() {
        CirrusRun& cr = run.cirrus;
        const int ncom = run.remind.ncom;
        run.glopalla.nlf = nlf;
        cr.FORMA.resize(nlf, ncom);
        cr.TXY.resize(nlf);
        cr.TAUXY.resize(nlf);
        cr.NORMA.resize(run.remind.ndr, run.glocold.nthearr, ncom);
        run.glopdit.ix.resize(nlf);
        for (int i = 1; i <= nlf; ++i)
            for (int c = 1; c <= ncom; ++c) cr.FORMA(i, c) = static_cast<float>(i + 3 * c);
    }
    int ndr() const { return run.remind.ndr; }
    int nthe() const { return run.glocold.nthearr; }
    int nphi() const { return run.glocold.nphiarr; }
    const CirrusGrid& g() const { return run.glocold; }
    // TXY from 1e-6 to 1e5 per solar mass per pc^2, so that every range of
    // the fast exponential is met.
    void set_txy() {
        for (int i = 1; i <= nlf; ++i)
            run.cirrus.TXY(i) =
                std::pow(10.0f, -6.0f + 11.0f * static_cast<float>(i - 1) / static_cast<float>(nlf - 1));
    }
    // The target cell (it, jt) as the cell loop sets it.
    void target(int it, int jt, float rt = -1.0f) {
        CirrusCell& c = run.cirrus.cell;
        c.it = it;
        c.jt = jt;
        c.rt = rt >= 0.0f ? rt : 0.5f * (g().rarr(it) + g().rarr(it - 1));
        c.thetat = 0.5f * (g().thearr(jt - 1) + g().thearr(jt));
        c.sinthet = std::sin(c.thetat);
        c.costhet = std::cos(c.thetat);
    }
    std::vector<float> field() {
        run.glopdit.ix.fill(0.0f);
        cirrus::giroy(run);
        const Vec<float>& ix = run.glopdit.ix;
        return std::vector<float>(ix.data(), ix.data() + nlf);
    }
};

float dilution(float dphi, float d2) { return dphi / d2 / 3086.0f / 3086.0f / 157.91370f; }

// giroy's loop written out plainly, one pair at a time: for every source cell
// its distance, its column, its dilution and the light of every wavelength.
std::vector<float> plain_giroy(FieldModel& m, std::int64_t& nexp, std::int64_t& nnoexp) {
    Run& run = m.run;
    const CirrusGrid& g = run.glocold;
    const CirrusRun& cr = run.cirrus;
    const CirrusCell& t = cr.cell;
    const int ncom = cr.FORMA.extent(1);
    std::vector<float> ix(m.nlf, 0.0f), tau(m.nlf);
    for (int is = 2; is <= m.ndr(); ++is) {
        const float rs = 0.5f * (g.rarr(is) + g.rarr(is - 1));
        for (int ks = 2; ks <= m.nphi(); ++ks) {
            const float phis = 0.5f * (g.phiarr(ks) + g.phiarr(ks - 1)), dphi = g.phiarr(ks) - g.phiarr(ks - 1);
            for (int js = 2; js <= m.nthe(); ++js) {
                const float thetas = 0.5f * (g.thearr(js) + g.thearr(js - 1));
                const bool own = is == t.it && js == t.jt && ks == 2;
                const float d2 = own ? cirrus::own_cell_d2(g.rarr(is - 1), g.rarr(is), g.thearr(js - 1), g.thearr(js),
                                                           t.rt, t.thetat)
                                     : cirrus::distmedia(g.rarr(is - 1), g.rarr(is), g.thearr(js - 1), g.thearr(js),
                                                         g.phiarr(ks - 1), g.phiarr(ks), t.rt, t.thetat);
                float col = 0.0f;
                if (run.parametri.igeo != 0) {
                    protrco::intrho(run, t.rt, t.thetat, rs, thetas, phis, col);
                    for (int i = 1; i <= m.nlf; ++i) tau[i - 1] = col * cr.TXY(i);
                } else {
                    for (int i = 1; i <= m.nlf; ++i) tau[i - 1] = std::sqrt(d2) * cr.rhou * cr.TXY(i);
                }
                const float gd = dilution(dphi, d2);
                for (int i = 1; i <= m.nlf; ++i) {
                    float l = 0.0f;
                    for (int c = 1; c <= ncom; ++c) l += cr.FORMA(i, c) * cr.NORMA(is, js, c);
                    float contrib = gd * l;
                    if (tau[i - 1] > 0.01f) contrib *= exp_app(tau[i - 1], nexp, nnoexp);
                    ix[i - 1] += contrib;
                }
            }
        }
    }
    for (float& v : ix) v = 2.0f * v;
    return ix;
}

// One lit ring of source cells (is0, js0) in a medium without dust absorption:
// each of its azimuth cells adds its light diluted by its distance, and the sum
// is doubled for the mirror half.
TEST(CirrusFieldGiroy, OneLitRingInAThinMediumGivesTheMirrorDoubledField) {
    FieldModel m(1, 6);
    m.build();
    CirrusRun& cr = m.run.cirrus;
    const CirrusGrid& g = m.g();
    struct Case {
        const char* what;
        int is0, js0, it, jt;
    } cases[] = {{"a ring far from the target", 6, 3, 3, 7}, {"the target's own ring", 4, 5, 4, 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cr.NORMA.fill(0.0f);
        cr.NORMA(c.is0, c.js0, 1) = 0.25f;
        m.target(c.it, c.jt);
        cr.field.ready = false;
        const std::vector<float> ix = m.field();
        const CirrusCell& t = cr.cell;
        float sum = 0.0f;  // the sum over the ring of dphi / D^2, diluted
        for (int ks = 2; ks <= m.nphi(); ++ks) {
            const bool own = c.is0 == c.it && c.js0 == c.jt && ks == 2;
            const float d2 =
                own ? cirrus::own_cell_d2(g.rarr(c.is0 - 1), g.rarr(c.is0), g.thearr(c.js0 - 1), g.thearr(c.js0), t.rt,
                                          t.thetat)
                    : cirrus::distmedia(g.rarr(c.is0 - 1), g.rarr(c.is0), g.thearr(c.js0 - 1), g.thearr(c.js0),
                                        g.phiarr(ks - 1), g.phiarr(ks), t.rt, t.thetat);
            sum += dilution(g.phiarr(ks) - g.phiarr(ks - 1), d2);
        }
        for (int i = 1; i <= m.nlf; ++i) EXPECT_FLOAT_EQ(ix[i - 1], 2.0f * sum * (cr.FORMA(i, 1) * 0.25f)) << i;
    }

    // Seen from (almost) the centre every azimuth cell of a ring lies at the
    // ring's mean squared radius: the field is the ring's whole light,
    // 2 pi NORMA FORMA, over 16 pi^2 <r^2>.
    const int is0 = 5, js0 = 4;
    cr.NORMA.fill(0.0f);
    cr.NORMA(is0, js0, 1) = 0.25f;
    m.target(2, 7, 1e-3f);
    cr.field.ready = false;
    const std::vector<float> ix = m.field();
    const double r1 = g.rarr(is0 - 1), r2 = g.rarr(is0);
    const double mean_r2 = 0.6 * (std::pow(r2, 5) - std::pow(r1, 5)) / (std::pow(r2, 3) - std::pow(r1, 3)) * 1e6;
    const double pc = 3.086e18, lsun30 = 1e30;
    for (int i = 1; i <= m.nlf; ++i) {
        const double ltot = 2.0 * 3.14159265 * 0.25 * double(cr.FORMA(i, 1)) * lsun30;  // erg/s/A
        const double j = ltot / (16.0 * 3.14159265 * 3.14159265 * mean_r2 * pc * pc);
        EXPECT_NEAR(double(ix[i - 1]) / j, 1.0, 1e-4) << i;
    }
}

// giroy gives bit for bit what the plain loop gives, with the same
// counts of the fast exponential, for a spheroid, a uniform sphere and a disk.
TEST(CirrusFieldGiroy, MatchesThePlainLoopOfEveryGeometry) {
    for (int igeo : {1, 0, 2}) {
        SCOPED_TRACE(igeo);
        FieldModel m(igeo, igeo == 0 ? 5 : 6);
        m.build(igeo == 0 ? 0.2f : 0.05f);
        m.set_txy();
        cirrus::norma(m.run);
        // A dark ring: it adds nothing.
        m.run.cirrus.NORMA(3, 4, 1) = 0.0f;
        const int n = m.ndr(), jeq = (m.nthe() + 1) / 2;
        const std::pair<int, int> targets[] = {{2, jeq}, {n / 2 + 1, 2}, {n, jeq}, {n / 2, jeq - 2}};
        for (auto [it, jt] : targets) {
            SCOPED_TRACE(testing::Message() << it << " " << jt);
            m.target(it, jt);
            CirrusGrid& g = m.run.glocold;
            const std::int64_t ne0 = g.nexp, nn0 = g.nnoexp;
            const std::vector<float> got = m.field();
            const std::int64_t ne = g.nexp - ne0, nn = g.nnoexp - nn0;
            std::int64_t we = 0, wn = 0;
            const std::vector<float> want = plain_giroy(m, we, wn);
            for (int i = 0; i < m.nlf; ++i) ASSERT_EQ(got[i], want[i]) << i;
            EXPECT_EQ(ne, we);
            EXPECT_EQ(nn, wn);
            EXPECT_GT(ne, 0);
            EXPECT_GT(nn, 0);
            // The last pair's optical depth is left in TAUXY.
            EXPECT_EQ(m.run.cirrus.TAUXY(m.nlf), m.run.cirrus.cell.column * m.run.cirrus.TXY(m.nlf));
        }
    }
}

// The uniform sphere: the optical depth of a pair is the density times the
// root of D^2, no ray is traced and the cache is not touched.
TEST(CirrusFieldGiroy, UniformSphereUsesTheDensityTimesTheDistance) {
    FieldModel m(0, 5, 16, 1);
    m.build(0.2f);
    m.set_txy();
    cirrus::norma(m.run);
    CirrusRun& cr = m.run.cirrus;
    ASSERT_GT(cr.rhou, 0.0f);
    m.target(3, 7);
    const std::vector<float> ix = m.field();
    EXPECT_EQ(m.run.protrco.costhe, 0.0);  // never set by a ray
    EXPECT_EQ(m.run.protrco.sinct, 0.0);
    EXPECT_EQ(cr.cache.pairs_done(), 0);
    // The last pair: the column is rho_u times the distance in pc.
    EXPECT_EQ(cr.cell.column, std::sqrt(cr.cell.d2) * cr.rhou);
    EXPECT_GT(ix[0], ix[m.nlf - 1]);  // the most opaque wavelength is the darkest
}

// The pair columns written to the cache by the cell loop's targets in mode 1
// are read back in mode 2, in the order the cache format fixes, and give the
// same fields without tracing a ray.
TEST(CirrusFieldGiroy, CacheWrittenInModeOneAndReadInModeTwoGivesTheSameField) {
    test::TempDir tmp;
    auto start = [](FieldModel& m) {
        CirrusRun& cr = m.run.cirrus;
        cr.Mdiff = 0.05f;
        cr.disk_like = true;
        cr.cache.open(m.run);
        cr.cache.header_geometry(m.run);
        cirrus::grid_sizes(m.run);
        cr.cache.header_grid(m.run);
        cirrus::allocate_grids(m.run);
        cirrus::grid_nodes(m.run);
        cirrus::densities(m.run);
        cirrus::normalise(m.run);
        cr.cache.dependencies(m.run, cirrus::cache_pairs_needed(m.run));
        m.allocate();
        m.set_txy();
        cirrus::norma(m.run);
    };
    // Every target of the cell loop in its order (a disk: every cell).
    auto all_fields = [](FieldModel& m) {
        std::vector<std::vector<float>> f;
        for (int it = 2; it <= m.ndr(); ++it)
            for (int jt = (m.nthe() + 1) / 2; jt >= 2; --jt) {
                m.target(it, jt);
                f.push_back(m.field());
            }
        return f;
    };
    FieldModel w(2, 12, 16, 1);
    start(w);
    ASSERT_EQ(w.run.parametri.intrho_w_r, 1);
    const auto written = all_fields(w);
    EXPECT_EQ(w.run.cirrus.cache.pairs_done(), cirrus::cache_pairs_needed(w.run));
    w.run.cirrus.cache.finish(w.run);
    ASSERT_TRUE(fs::exists("quelvo.intrho"));

    FieldModel r(2, 12, 16, 2);
    start(r);
    ASSERT_EQ(r.run.parametri.intrho_w_r, 2);
    const auto read = all_fields(r);
    EXPECT_EQ(r.run.protrco.costhe, 0.0);  // no ray traced
    ASSERT_EQ(read.size(), written.size());
    for (std::size_t t = 0; t < read.size(); ++t)
        for (int i = 0; i < r.nlf; ++i)
            ASSERT_NEAR(read[t][i], written[t][i], 2e-6f * written[t][i]) << t << " " << i;

    // The records lie in the order the format fixes: read in that order they
    // are the columns of the pairs.
    FieldModel again(2, 12, 16, 2);
    start(again);
    const std::vector<float> from_file = test::pair_columns(again.run);
    FieldModel direct(2, 12, 16, 1);  // the cache's galaxy radius, then no cache
    direct.run.parametri.intrho_w_r = 0;
    direct.build(0.05f);
    const std::vector<float> computed = test::pair_columns(direct.run);
    ASSERT_EQ(from_file.size(), computed.size());
    for (std::size_t k = 0; k < computed.size(); ++k)
        ASSERT_NEAR(from_file[k], computed[k], 2e-7f * computed[k] + 1e-30f) << k;
    r.run.cirrus.cache.finish(r.run);
    again.run.cirrus.cache.finish(again.run);
}

// The process clock is read four times per call, whatever the number of pairs,
// and each pass's time goes to its own sum.
TEST(CirrusFieldGiroy, ProcessTimesAreTakenPerCall) {
    FieldModel m(1, 6);
    m.build();
    cirrus::norma(m.run);
    int reads = 0;
    m.cc.con.cpu_seconds = [&reads] { return static_cast<double>(reads++) * 0.5; };
    m.target(3, 7);
    m.field();
    EXPECT_EQ(reads, 4);
    const CirrusRun& cr = m.run.cirrus;
    EXPECT_EQ(cr.DISTMEDIATIME, 0.5f);
    EXPECT_EQ(cr.INTRHOTIME, 0.5f);
    EXPECT_EQ(cr.GIROLAMTIME, 0.5f);
    m.target(5, 7);
    m.field();
    EXPECT_EQ(reads, 8);
    EXPECT_EQ(cr.INTRHOTIME, 1.0f);
}

// A cross-section per unit column that is not a finite non-negative number
// stops before the field, naming the wavelength and the keys that set it,
// and writing no value that is not a finite number.
TEST(CirrusFieldGiroy, CrossSectionThatIsNotFiniteStops) {
    const struct {
        float txy;
        const char* what;
    } cases[] = {{std::nanf(""), "is not a finite number"},
                 {INFINITY, "is not a finite number"},
                 {-1.0f, "is negative"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FieldModel m(1, 4);
        m.build();
        cirrus::norma(m.run);
        m.run.glopalla.ws.resize(m.nlf);
        for (int i = 1; i <= m.nlf; ++i) m.run.glopalla.ws(i) = 1000.0f * static_cast<float>(i);
        m.run.cirrus.TXY(5) = c.txy;
        m.target(2, 7);
        const auto s = test::stop_lines([&] { m.field(); });
        ASSERT_EQ(s.size(), 2u);
        EXPECT_EQ(s[0], std::string(" ERROR: the cirrus optical depth per unit column TXY ") + c.what +
                            " at wavelength index 5 (0.5 micron): the radiation field cannot be computed");
        for (const char* key : {"MIXDIF", "corgra", "corsil", "xx", "pahflag", "dsug"})
            EXPECT_NE(s[1].find(key), std::string::npos) << key << ": " << s[1];
        for (const auto& l : s)
            for (const char* bad : {"NaN", "nan", "Infinity", "inf "}) EXPECT_EQ(l.find(bad), std::string::npos) << l;
    }
}

}  // namespace
}  // namespace qv
