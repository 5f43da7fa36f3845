// The cirrus grid: sizes, nodes, densities of every geometry, their
// normalisation, the stellar shares per cell and the run-log lines.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/run.h"
#include "core/stop.h"
#include "dust/cirrus_fixture.h"
#include "dust/cirrus_grid.h"
#include "io/format.h"
#include "support/test_support.h"

namespace qv {
namespace {

constexpr double kTwoPi = 6.283185307179586;

// The volume integral of a node field in double precision (kpc^3).
double volume(const Run& run, const float* f) {
    const CirrusGrid& g = run.glocold;
    const int ndr = run.remind.ndr, nthe = g.nthearr;
    auto at = [&](int i, int j) { return double(f[(i - 1) + (j - 1) * ndr]); };
    double s = 0.0;
    for (int j = 1; j < nthe; ++j)
        for (int i = 1; i < ndr; ++i) {
            const double mean = 0.25 * (at(i, j) + at(i + 1, j) + at(i, j + 1) + at(i + 1, j + 1));
            const double r1 = g.rarr(i), r2 = g.rarr(i + 1);
            s += mean * (r2 * r2 * r2 - r1 * r1 * r1) / 3.0 *
                 (std::cos(double(g.thearr(j))) - std::cos(double(g.thearr(j + 1))));
        }
    return kTwoPi * s;
}

// The fraction of a component's stars in all cells of both azimuth halves.
double star_fraction(const Run& run, int c) {
    const CirrusGrid& g = run.glocold;
    double s = 0.0;
    for (int j = 2; j <= g.nthearr; ++j)
        for (int i = 2; i <= run.remind.ndr; ++i)
            for (int k = 2; k <= g.nphiarr; ++k)
                s += double(run.cirrus.NORMA(i, j, c)) * (double(g.phiarr(k)) - double(g.phiarr(k - 1)));
    return 2.0 * s;
}

// Solar masses of hydrogen in component c.
double dust_mass(const Run& run, int c) { return 1e9 * volume(run, run.glocold.rhodiffarr.ptr(1, 1, c)); }

void build_all(Run& run, float mdiff = 0.01f) {
    test::build_grid(run, mdiff);
    cirrus::norma(run);
}

// ---------------------------------------------------------------------------

struct GeometryCase {
    int igeo;
    int intrho;
};

TEST(CirrusGrid, NormalisationOfEveryGeometry) {
    const GeometryCase cases[] = {{-1, 0}, {-1, 1}, {0, 0}, {0, 1}, {1, 0}, {1, 1},
                                  {2, 0},  {2, 1},  {3, 0}, {4, 0}, {5, 0}, {5, 2}};
    for (const GeometryCase& gc : cases) {
        SCOPED_TRACE("igeo " + std::to_string(gc.igeo) + " intrho " + std::to_string(gc.intrho));
        test::CapturedConsole cc;
        qv::Run run{cc.con};
        test::set_geometry(run, gc.igeo, gc.intrho);
        const float mdiff = 0.02f;
        build_all(run, mdiff);
        const RunParameters& p = run.parametri;
        const int ncom = run.remind.ncom;
        const double share[3] = {0.0, 1.0 - double(p.fmdifbul), double(p.fmdifbul)};
        double total = 0.0;
        for (int c = 1; c <= ncom; ++c) {
            // The stars of each component: fractions of all cells add up to 1.
            EXPECT_NEAR(star_fraction(run, c), 1.0, 1e-5) << "component " << c;
            // The dust of each component integrates to its share of the mass.
            const double want = 1e12 * double(mdiff) * (ncom == 1 ? 1.0 : share[c]);
            EXPECT_NEAR(dust_mass(run, c) / want, 1.0, 1e-5) << "component " << c;
            total += dust_mass(run, c);
        }
        EXPECT_NEAR(1e9 * volume(run, run.glocold.rhodiffarr2d.data()) / total, 1.0, 1e-5);
        for (int j = 1; j <= run.glocold.nthearr; ++j)
            for (int i = 1; i <= run.remind.ndr; ++i) {
                float s = 0.0f;
                for (int c = 1; c <= ncom; ++c) s += run.glocold.rhodiffarr(i, j, c);
                ASSERT_EQ(run.glocold.rhodiffarr2d(i, j), s);
            }
        EXPECT_EQ(run.cirrus.N0, p.rgal * run.glocold.rhodiffarr2d(1, 1));
        EXPECT_GT(run.cirrus.N0, 0.0f);
        // The shares of the first row and column stay 0.
        for (int c = 1; c <= ncom; ++c) {
            for (int j = 1; j <= run.glocold.nthearr; ++j) EXPECT_EQ(run.cirrus.NORMA(1, j, c), 0.0f);
            for (int i = 1; i <= run.remind.ndr; ++i) EXPECT_EQ(run.cirrus.NORMA(i, 1, c), 0.0f);
        }
    }
}

TEST(CirrusGrid, ComponentWithoutStarsHoldsNoDustAndTheOtherHoldsAll) {
    // igeo -1 with all stars in one component: the driver takes fmdifbul = 1 for
    // bsut = 1 and 0 for bsut = 0; the densities hold the whole mass also when
    // the bulge share disagrees with the stars.
    struct Case {
        float bsut, fmdifbul;
        int full;  // the component that holds the dust
    } cases[] = {{1.0f, 1.0f, 2}, {1.0f, 0.3f, 2}, {0.0f, 0.0f, 1}, {0.0f, 0.3f, 1}};
    for (const Case& k : cases) {
        SCOPED_TRACE("bsut " + std::to_string(k.bsut) + " fmdifbul " + std::to_string(k.fmdifbul));
        test::CapturedConsole cc;
        qv::Run run{cc.con};
        test::set_geometry(run, -1);
        run.glotauspe.bsut = k.bsut;
        run.parametri.fmdifbul = k.fmdifbul;
        const float mdiff = 0.015f;
        build_all(run, mdiff);
        const int empty = 3 - k.full;
        for (int j = 1; j <= run.glocold.nthearr; ++j)
            for (int i = 1; i <= run.remind.ndr; ++i) {
                ASSERT_EQ(run.glocold.rhostararr(i, j, empty), 0.0f);
                ASSERT_EQ(run.glocold.rhodiffarr(i, j, empty), 0.0f);
            }
        EXPECT_NEAR(dust_mass(run, k.full) / (1e12 * double(mdiff)), 1.0, 1e-5);
        EXPECT_NEAR(star_fraction(run, k.full), 1.0, 1e-5);
        EXPECT_EQ(star_fraction(run, empty), 0.0);
    }
}

// ---------------------------------------------------------------------------
// Sizes and nodes.

TEST(CirrusGrid, DiskRadialNodesAreCappedAt80) {
    test::CapturedConsole cc;
    qv::Run run{cc.con};
    test::set_geometry(run, 2);
    run.parametri.rgal = 200.0f;
    run.parametri.zddiff = run.parametri.zdstar = 0.5f;  // rgal / min(2 zd, rd) = 200
    cirrus::grid_sizes(run);
    EXPECT_EQ(run.remind.ndr, 80);
    const auto out = cc.out_lines();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], fio::list_line({"ndr ideale=", 200}));
    EXPECT_EQ(out[1], fio::list_line({"ndr=", 80, "  nthearr=", run.glocold.nthearr}));
}

TEST(CirrusGrid, CompositeWithoutBulgeHasTwoCoreNodes) {
    test::CapturedConsole cc;
    qv::Run run{cc.con};
    test::set_geometry(run, -1);
    run.glotauspe.bsut = 0.0f;
    run.parametri.fmdifbul = 0.0f;
    run.remind.ndr = 7;
    build_all(run);
    const CirrusGrid& g = run.glocold;
    EXPECT_EQ(g.m0, 2);
    const int ndr = run.remind.ndr;
    EXPECT_GE(ndr, 20);
    // "ndr ideale=" shows the core count plus the disk's count.
    const float zd = std::min(run.parametri.zddiff, run.parametri.zdstar);
    const float rd = std::min(run.parametri.rddiff, run.parametri.rdstar);
    const int n = int(std::lround(0.68f * run.parametri.rgal / std::min(2.0f * zd, rd)));
    EXPECT_EQ(cc.out_lines()[0], fio::list_line({"ndr ideale=", 2 + n}));
    EXPECT_EQ(ndr, std::max(std::min(n, 30) + 2, 20));
    // The core holds 0 and rgal; the rest is uniform in between.
    EXPECT_EQ(g.rarr(1), 0.0f);
    EXPECT_NEAR(g.rarr(ndr), run.parametri.rgal, 1e-5f * run.parametri.rgal);
    for (int w = 2; w <= ndr - 1; ++w)
        EXPECT_NEAR(g.rarr(w), run.parametri.rgal * float(w - 1) / float(ndr - 1), 1e-5f * run.parametri.rgal);
}

TEST(CirrusGrid, CompositeCoreNodesFollowTheCoreLawAndAreSorted) {
    test::CapturedConsole cc;
    qv::Run run{cc.con};
    test::set_geometry(run, -1, 1);
    run.remind.ndr = 8;
    build_all(run);
    const CirrusGrid& g = run.glocold;
    EXPECT_EQ(g.m0, 8);
    for (int k = 2; k <= run.remind.ndr; ++k) ASSERT_GT(g.rarr(k), g.rarr(k - 1));
    // With the cache the core radius is rddiff / 15; its second node:
    const double rc = double(run.parametri.rddiff) / 15.0, q = double(run.parametri.rgal) / rc;
    const double r2 = rc * std::sqrt(std::pow(1.0 + q * q, 1.0 / 7.0) - 1.0);
    EXPECT_NEAR(g.rarr(2), r2, 1e-4 * r2);
}

TEST(CirrusGrid, CompositeWithOneCoreNodeIsRefused) {
    test::CapturedConsole cc;
    qv::Run run{cc.con};
    test::set_geometry(run, -1);
    run.remind.ndr = 1;
    const auto s = test::stop_lines([&] { cirrus::grid_sizes(run); });
    ASSERT_EQ(s.size(), 1u);
    EXPECT_NE(s[0].find("ERROR: igeo=-1 needs at least 2 core nodes"), std::string::npos);
    // A spheroid of one radial node has no cells either.
    test::set_geometry(run, 1);
    run.remind.ndr = 1;
    const auto t = test::stop_lines([&] { cirrus::grid_sizes(run); });
    ASSERT_EQ(t.size(), 1u);
    EXPECT_NE(t[0].find("at least 2 radial nodes"), std::string::npos);
}

TEST(CirrusGrid, PolarNodesCrowdTowardsTheEquator) {
    // zd / rgal chosen so that the first estimate of nthearr is even.
    for (float zd : {0.3f, 0.05f, 0.02f}) {
        SCOPED_TRACE(zd);
        test::CapturedConsole cc;
        qv::Run run{cc.con};
        test::set_geometry(run, 2);
        run.parametri.zddiff = run.parametri.zdstar = zd;
        build_all(run);
        const CirrusGrid& g = run.glocold;
        const int nthe = g.nthearr, m = (nthe - 1) / 2;
        const float t0 = std::asin(0.5f * zd / run.parametri.rgal);
        const int n = int(std::lround(2.0f * std::log(1.5707965f / t0) / std::log(2.5f) + 3.0f));
        EXPECT_EQ(nthe, n % 2 ? n : n + 1);
        EXPECT_EQ(nthe % 2, 1);
        EXPECT_EQ(g.thearr(1), 0.0f);
        EXPECT_EQ(g.thearr((nthe + 1) / 2), 1.5707965f);
        EXPECT_NEAR(g.thearr(m), 1.5707965f - t0, 1e-6f);
        // Below the plane the mirror image.
        for (int j = (nthe + 3) / 2; j <= nthe; ++j) EXPECT_EQ(g.thearr(j), 3.141593f - g.thearr(nthe + 1 - j));
        for (int j = 2; j <= nthe; ++j) EXPECT_GT(g.thearr(j), g.thearr(j - 1));
        // Each step from the plane about 2.5 times the previous one.
        if (m >= 4) {
            const double s1 = 1.5707965 - double(g.thearr(m)), s2 = 1.5707965 - double(g.thearr(m - 1));
            EXPECT_NEAR(s2 / s1, 2.5, 0.5);
        }
    }
    // A spheroid keeps 13 evenly spaced polar nodes.
    test::CapturedConsole cc;
    qv::Run run{cc.con};
    test::set_geometry(run, 1);
    build_all(run);
    ASSERT_EQ(run.glocold.nthearr, 13);
    for (int k = 1; k <= 13; ++k) EXPECT_EQ(run.glocold.thearr(k), 3.141593f * float(k - 1) / 12.0f);
}

TEST(CirrusGrid, AzimuthNodesWidenFromTheFirstCell) {
    test::CapturedConsole cc;
    qv::Run run{cc.con};
    test::set_geometry(run, 2);
    build_all(run);
    const CirrusGrid& g = run.glocold;
    ASSERT_EQ(g.nphiarr, 20);
    EXPECT_EQ(g.phiarr(1), 0.0f);
    EXPECT_EQ(g.phiarr(2), 0.39269912f / 19.0f);
    EXPECT_NEAR(g.phiarr(20), 3.141593f, 2e-6f);
    for (int k = 3; k <= 20; ++k) {
        EXPECT_GT(g.phiarr(k) - g.phiarr(k - 1), 0.0f);
        if (k >= 4) {
            EXPECT_NEAR((g.phiarr(k) / g.phiarr(k - 1)), (g.phiarr(k - 1) / g.phiarr(k - 2)), 1e-4f);
        }
    }
    // The trig tables of the cell centres.
    for (int ks = 2; ks <= 20; ++ks) {
        const float c = 0.5f * (g.phiarr(ks) + g.phiarr(ks - 1));
        EXPECT_EQ(g.cos_phic(ks), std::cos(double(c)));
        EXPECT_EQ(g.sin_phic(ks), std::sin(double(c)));
    }
}

TEST(CirrusGrid, RadialNodesOfTheSpheroidsAndTheUniformGrids) {
    struct Case {
        int igeo, intrho;
        float rc;  // the core radius of the nodes; 0 for even spacing
    };
    test::CapturedConsole cc;
    qv::Run run{cc.con};
    for (Case k : {Case{1, 0, 1.0f}, Case{1, 1, 1.2f}, Case{5, 0, 1.0f}, Case{5, 1, 1.0f}, Case{0, 0, 0.0f},
                   Case{2, 0, 0.0f}, Case{3, 0, 0.0f}, Case{4, 1, 0.0f}}) {
        SCOPED_TRACE(k.igeo);
        test::set_geometry(run, k.igeo, k.intrho);
        run.remind.ndr = 9;
        run.parametri.zddiff = run.parametri.zdstar = 2.0f;  // a small disk grid
        build_all(run);
        const int ndr = run.remind.ndr;
        const CirrusGrid& g = run.glocold;
        const double rgal = run.parametri.rgal;
        EXPECT_EQ(g.rarr(1), 0.0f);
        EXPECT_NEAR(g.rarr(ndr), rgal, 1e-5 * rgal);
        for (int i = 2; i <= ndr; ++i) {
            double want;
            if (k.rc > 0.0f) {
                const double q = rgal / double(k.rc);
                want = double(k.rc) * std::sqrt(std::pow(1.0 + q * q, double(i - 1) / double(ndr - 1)) - 1.0);
            } else {
                want = rgal * double(i - 1) / double(ndr - 1);
            }
            EXPECT_NEAR(g.rarr(i), want, 1e-4 * want);
        }
    }
}

TEST(CirrusGrid, DensityLawsOfTheGeometries) {
    test::CapturedConsole cc;
    qv::Run run{cc.con};
    // igeo 4: dust only within rarr(ndr)/1.45, stars everywhere, both uniform.
    test::set_geometry(run, 4);
    build_all(run);
    const CirrusGrid& g = run.glocold;
    const int ndr = run.remind.ndr;
    for (int i = 1; i <= ndr; ++i) {
        const bool inside = g.rarr(ndr) > 1.45f * g.rarr(i);
        EXPECT_EQ(g.rhodiffarr(i, 3, 1) > 0.0f, inside) << i;
        EXPECT_EQ(g.rhostararr(i, 3, 1), g.rhostararr(1, 1, 1));
    }
    // igeo 3: 1/r dust within rarr(ndr)/1.5, 1/r^3 stars beyond the second node.
    test::set_geometry(run, 3);
    build_all(run);
    for (int i = 3; i <= ndr; ++i) {
        const float r = g.rarr(i);
        if (g.rarr(ndr) > 1.5f * r)
            EXPECT_NEAR(g.rhodiffarr(i, 2, 1) / g.rhodiffarr(1, 2, 1), g.rarr(2) / r, 1e-5f);
        else
            EXPECT_EQ(g.rhodiffarr(i, 2, 1), 0.0f);
        const float q = g.rarr(2) / r;
        EXPECT_NEAR(g.rhostararr(i, 2, 1) / g.rhostararr(1, 2, 1), q * q * q, 1e-5f);
    }
    // igeo 0: the uniform density of the radiation field is the mean density.
    test::set_geometry(run, 0);
    const float mdiff = 0.03f;
    build_all(run, mdiff);
    const double rg = run.parametri.rgal;
    const double mean = 3.0 * double(mdiff) * 1e12 / (4.0 * 3.14159265358979 * rg * rg * rg * 1e9);
    EXPECT_NEAR(double(run.cirrus.rhou) / mean, 1.0, 1e-5);
    EXPECT_NEAR(g.rhodiffarr(5, 5, 1) / run.cirrus.rhou, 1.0, 1e-5);
    // igeo 5: the dust falls with its own exponent gamdiff.
    test::set_geometry(run, 5);
    build_all(run);
    const float r = g.rarr(6), q = r / run.parametri.rcdiff;
    EXPECT_NEAR(g.rhodiffarr(6, 4, 1) / g.rhodiffarr(1, 4, 1), std::pow(1.0f + q * q, -run.parametri.gamdiff), 1e-5f);
    // igeo 2: exponential in R and |z| (the node on the axis is at R = 0).
    test::set_geometry(run, 2);
    build_all(run);
    const float z = g.rarr(4);
    EXPECT_NEAR(g.rhodiffarr(4, 1, 1) / g.rhodiffarr(1, 1, 1), std::exp(-z / run.parametri.zddiff), 1e-5f);
    EXPECT_NEAR(g.rhodiffarr(4, 1, 1), g.rhodiffarr(4, g.nthearr, 1), 1e-5f * g.rhodiffarr(4, 1, 1));
}

TEST(CirrusGrid, RunLogLinesOfTheGrid) {
    test::CapturedConsole cc;
    qv::Run run{cc.con};
    test::set_geometry(run, 2);
    run.remind.ndr = 33;
    run.glocold.nthearr = 15;
    EXPECT_EQ(cirrus::grid_log_lines(run), (std::vector<std::string>{fio::list_line({"ndr=", 33, "  nthearr=", 15})}));
    test::set_geometry(run, -1);
    run.glotauspe.bsut = 0.25f;
    run.glotauspe.magbsut = 0.5f;
    auto lines = cirrus::grid_log_lines(run);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], fio::list_line({"BULGE/TOT in mass=", 0.25f}));
    run.glotauspe.istarfo = 4;
    lines = cirrus::grid_log_lines(run);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], fio::list_line({"BULGE/TOT in mass=", 0.25f}));
    EXPECT_EQ(lines[2], fio::list_line({"BULGE/TOT in mag=", 0.5f}));
}

TEST(CirrusGrid, PairsThatTheCacheHolds) {
    test::CapturedConsole cc;
    qv::Run run{cc.con};
    test::set_geometry(run, 2, 1);
    run.remind.ndr = 10;
    run.glocold.nthearr = 13;
    // Disks: every cell of the upper half; sources: all cells of the half grid.
    EXPECT_EQ(cirrus::cache_pairs_needed(run), std::int64_t(9 * 6) * (9 * 19 * 12));
    test::set_geometry(run, 1, 1);
    run.remind.ndr = 10;
    EXPECT_EQ(cirrus::cache_pairs_needed(run), std::int64_t(9) * (9 * 19 * 12));
    run.parametri.emiflag = false;
    EXPECT_EQ(cirrus::cache_pairs_needed(run), 0);
    run.parametri.emiflag = true;
    run.parametri.annflag = 2;
    EXPECT_EQ(cirrus::cache_pairs_needed(run), 0);
    test::set_geometry(run, 0, 1);
    EXPECT_EQ(cirrus::cache_pairs_needed(run), 0);
}

}  // namespace
}  // namespace qv
