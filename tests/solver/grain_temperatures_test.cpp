// Grain temperatures and sublimation in the cloud solver, with grey grains
// (Qabs 1 at every frequency) around a blackbody source: the sublimation radius
// against the balance L / (16 pi r^2) = sigma T^4, the inner edges of r0min, and
// the initial loop of temperature passes in the direct field.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "solver/dusty_sphere_fixture.h"
#include "solver/solver_fixture.h"

namespace qv {
namespace {

using test::DustySphere;

// rsub follows the grey balance, and so its scalings in L and T_sub.
TEST(SublimationRadius, FollowsTheGreyBalance) {
    struct Case {
        double l, tsub;
    };
    const Case cases[] = {{1e46, 1500.0}, {1e44, 1500.0}, {1e46, 1000.0}, {1e40, 1200.0}};
    std::vector<double> r;
    for (const Case& c : cases) {
        DustySphere s;
        s.grey();
        s.source(c.l);
        s.g.tsgra(1) = static_cast<float>(c.tsub);
        const double rs = rsub(s.run, s.g.ctarr(1), 1, s.g.tsgra, kSolverNsp, s.g.al46tru);
        const double want = test::grey_radius(c.l, c.tsub);
        EXPECT_NEAR(rs / want, 1.0, 0.05) << "L " << c.l << " Tsub " << c.tsub << ": " << rs << " cm";
        // The source light at that radius heats the species to T_sub.
        EXPECT_NEAR(tequ(s.run, static_cast<float>(rs), s.g.ctarr(1), 1), c.tsub, 0.01 * c.tsub);
        r.push_back(rs);
    }
    EXPECT_NEAR(r[0], 8.3e17, 0.05 * 8.3e17);
    // The search stops within 0.005 of the root in log10 r, so a ratio of two
    // radii holds to 10^0.01, 2.3 %.
    EXPECT_NEAR(r[1] / r[0], 0.1, 0.1 * 0.025) << "sqrt(L)";
    EXPECT_NEAR(r[2] / r[0], 2.25, 2.25 * 0.025) << "Tsub^-2";
}

// The grey grain tables of the data generator give the same radius through the
// efficiency tables of the solve (Qsca 1e-6 does not heat).
TEST(SublimationRadius, GreyGrainTablesFollowTheBalance) {
    DustySphere s;
    s.tables(test::grey_grain_dir());
    for (int k : {1, 10, 11, 20}) EXPECT_NEAR(s.g.qaarr(30, k), 1.0f, 1e-5f) << k;
    s.source(1e46);
    for (int k : {1, 11}) {
        const double rs = rsub(s.run, s.g.ctarr(1), k, s.g.tsgra, kSolverNsp, s.g.al46tru);
        EXPECT_NEAR(rs / test::grey_radius(1e46, s.g.tsgra(k)), 1.0, 0.05) << k;
    }
}

TEST(SublimationRadius, UnbracketedRootStops) {
    DustySphere s;
    s.grey();
    s.source(1e44);
    // A luminosity 1e12 times too large puts the guess six decades out, and its
    // bracket of two decades each way holds no root.
    auto lines = s.stop_lines([](DustySphere& t) {
        rsub(t.run, t.g.ctarr(1), 1, t.g.tsgra, kSolverNsp, t.g.al46tru * 1e12f);
    });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], " Root must be bracketed for ZBREN2.");
    EXPECT_EQ(s.run.prosubli.id, 1);
    EXPECT_EQ(s.run.prosubli.tsub, 1500.0f);
}

TEST(InnerEdges, SmallestSublimationRadiusOfTheSpeciesWithMass) {
    DustySphere s;
    s.grey();
    s.source(1e44);
    // Species 5 would survive closest to the source, but it has no mass.
    s.g.tsgra(5) = 3000.0f;
    s.run.taumix.xgra(5) = 0.0f;
    r0min(s.run);
    const float rgra = rsub(s.run, s.g.ctarr(1), 1, s.g.tsgra, kSolverNsp, s.g.al46tru);
    EXPECT_NEAR(s.g.r0 / (1.02f * rgra), 1.0f, 1e-5f);
    for (int ict = 1; ict <= kSolverNct; ++ict) {
        EXPECT_EQ(s.g.rsgra(ict, 1), rgra) << ict;
        for (int c = 2; c <= kSolverNsp + 1; ++c) EXPECT_EQ(s.g.rsgra(ict, c), rgra) << ict << " " << c;
    }
}

TEST(InnerEdges, TinySourceKeepsTheReferenceRadius) {
    DustySphere s;
    s.grey();
    s.source(1e30);
    r0min(s.run);
    EXPECT_EQ(s.g.r0, 1e10f);
    EXPECT_LT(s.g.rsgra(1, 1), 1e10f / 1.02f);
}

TEST(InnerEdges, NoSpeciesWithMassPutsTheEdgesAtTheSentinel) {
    DustySphere s;
    s.grey();
    s.source(1e44);
    for (int k = 1; k <= kSolverNsp; ++k) s.run.taumix.xgra(k) = 0.0f;
    r0min(s.run);
    EXPECT_EQ(s.g.rsgra(1, 1), 1e33f);
    EXPECT_EQ(s.g.r0, 1.02f * 1e33f);
}

// The initial loop on a grey sphere of optical depth 1 with tsil below tgra.
class InitialLoop : public ::testing::Test {
protected:
    DustySphere s;
    std::vector<Mat<float>> edges;  // rsgra after each pass
    int passes = 0;

    void SetUp() override {
        s.grey();
        s.source(1e44);
        // A species without mass and with the highest sublimation temperature.
        s.run.taumix.xgra(7) = 0.0f;
        s.g.tsgra(7) = 1800.0f;
        s.edges(30.0f);
        s.uniform(1.0, 1.001);
        edges.push_back(s.g.rsgra);
        passes = s.initial_loop([this](int) { edges.push_back(s.g.rsgra); });
    }
};

TEST_F(InitialLoop, EndsWhenNoSpeciesSublimates) {
    EXPECT_GT(passes, 1) << "the silicates start inside their sublimation radius";
    EXPECT_LE(passes, 100);
    EXPECT_FALSE(s.g.agflag);
}

TEST_F(InitialLoop, EdgesNeverMoveInward) {
    for (std::size_t p = 1; p < edges.size(); ++p)
        for (int ict = 1; ict <= kSolverNct; ++ict)
            for (int c = 1; c <= kSolverNsp + 1; ++c)
                EXPECT_GE(edges[p](ict, c), edges[p - 1](ict, c)) << "pass " << p << " angle " << ict << " column " << c;
}

TEST_F(InitialLoop, TemperaturesFallOutwardAndStayBelowSublimation) {
    int present = 0;
    for (int k = 1; k <= kSolverNsp; ++k) {
        float prev = 1e30f;
        for (int ir = 1; ir <= kSolverNr; ++ir) {
            const float t = s.g.tarr(ir, 1, k);
            EXPECT_LE(t, s.g.tsgra(k)) << "species " << k << " radius " << ir;
            if (t == 0.0f) continue;
            ++present;
            EXPECT_LE(t, prev + 2.0f) << "species " << k << " radius " << ir;  // 2 K: the search's accuracy
            prev = t;
        }
    }
    EXPECT_GT(present, 19 * 30);
    // The direct field heats the innermost graphite close to, not above, its
    // sublimation temperature: r0 is 1.02 times its sublimation radius.
    EXPECT_GT(s.g.tarr(1, 1, 1), 1400.0f);
}

TEST_F(InitialLoop, PointsInsideAnEdgeHoldNoneOfTheSpecies) {
    for (int k = 1; k <= kSolverNsp; ++k)
        for (int ir = 1; ir <= kSolverNr; ++ir) {
            const bool inside = s.g.rarr(ir) <= s.g.rsgra(1, 1 + k);
            if (!inside) continue;
            EXPECT_EQ(s.g.tarr(ir, 1, k), 0.0f) << k << " " << ir;
            EXPECT_EQ(s.g.sigarr(ir, 1, k), 0.0f) << k << " " << ir;
        }
}

TEST_F(InitialLoop, SilicateEdgesLieOutsideTheGraphiteOnes) {
    float gra_max = 0.0f, sil_min = 1e38f;
    for (int k = 1; k <= kSolverNgr; ++k)
        if (k != 7) gra_max = std::fmax(gra_max, s.g.rsgra(1, 1 + k));
    for (int k = kSolverNgr + 1; k <= kSolverNsp; ++k) sil_min = std::fmin(sil_min, s.g.rsgra(1, 1 + k));
    EXPECT_GT(sil_min, gra_max);
    // Near the grey sublimation radius of the silicates (the dust's own
    // extinction moves it inward a little).
    const double want = test::grey_radius(1e44, 1200.0);
    EXPECT_GT(sil_min, 0.8 * want);
    EXPECT_LT(sil_min, 1.1 * want);
    // The dust's edge is the smallest species edge.
    EXPECT_EQ(s.g.rsgra(1, 1), edges.front()(1, 1));
}

TEST_F(InitialLoop, SpeciesWithoutMassIsColdAndKeepsItsEdge) {
    for (int ir = 1; ir <= kSolverNr; ++ir) EXPECT_EQ(s.g.tarr(ir, 1, 7), 0.0f);
    EXPECT_EQ(s.g.rsgra(1, 8), edges.front()(1, 8));
}

TEST_F(InitialLoop, OtherAnglesCopyAngleOne) {
    for (int k = 1; k <= kSolverNsp; ++k) {
        for (int ict = 2; ict <= kSolverNct; ++ict) {
            EXPECT_EQ(s.g.rsgra(ict, 1 + k), s.g.rsgra(1, 1 + k)) << ict << " " << k;
            for (int ir = 1; ir <= kSolverNr; ++ir) EXPECT_EQ(s.g.tarr(ir, ict, k), s.g.tarr(ir, 1, k));
        }
    }
}

// The residual the search solves is the one equrad gives for the grid point.
TEST_F(InitialLoop, EqradVanishesAtTheTemperatureOfThePoint) {
    const int ir = 20, k = 12;
    const float t = s.g.tarr(ir, 1, k);
    ASSERT_GT(t, 0.0f);
    s.g.ir = ir;
    s.g.ict = 1;
    s.g.id = k;
    const float scale = equrad(s.run, 0.0f);  // the absorbed power alone
    EXPECT_GT(scale, 0.0f);
    EXPECT_LT(std::fabs(equrad(s.run, t)), 0.02f * scale);
    EXPECT_GT(equrad(s.run, t - 10.0f), 0.0f);
    EXPECT_LT(equrad(s.run, t + 10.0f), 0.0f);
}

// A grey cloud of uniform density around a 1e44 erg/s source, of optical
// depth tau, before its direct field.
void grey_uniform_cloud(DustySphere& s, float tau) {
    s.grey();
    s.source(1e44);
    s.edges(tau);
    s.uniform(0.01, 1.001);
}

// A species too hot at the grid points up to ir = 10, and cool enough beyond:
// the pass removes it there and puts its edge at the midpoint between points
// 10 and 11, so point 11, tested against the new edge in the same pass, keeps
// the temperature it has without sublimation.
TEST(TemperaturePass, SublimationEdgeAtTheMidpointToTheNextPoint) {
    DustySphere s;
    grey_uniform_cloud(s, 30.0f);
    s.direct_field();
    const int k = 3;
    gent(s.run, false);
    const Mat<float> dust_edges = s.g.rsgra;
    std::vector<float> t(kSolverNr + 1);
    for (int ir = 1; ir <= kSolverNr; ++ir) t[ir] = s.g.tarr(ir, 1, k);
    ASSERT_GT(t[10], t[11]);
    // Only species k sublimates.
    for (int j = 1; j <= kSolverNsp; ++j) s.g.tsgra(j) = j == k ? 0.5f * (t[10] + t[11]) : 5000.0f;
    gent(s.run, true);
    EXPECT_TRUE(s.g.agflag);
    EXPECT_EQ(s.g.rsgra(1, 1 + k), (s.g.rarr(10) + s.g.rarr(11)) / 2.0f);
    EXPECT_EQ(s.g.rsgra(24, 1 + k), s.g.rsgra(1, 1 + k));
    for (int ir = 1; ir <= kSolverNr; ++ir) EXPECT_EQ(s.g.tarr(ir, 1, k), ir <= 10 ? 0.0f : t[ir]) << ir;
    // The other species and the dust's edge (their smallest) stay.
    for (int c = 1; c <= kSolverNsp + 1; ++c) {
        if (c != 1 + k) {
            EXPECT_EQ(s.g.rsgra(1, c), dust_edges(1, c)) << c;
        }
    }
}

// A grid point exactly on a species' edge holds none of it; the next one does.
TEST(TemperaturePass, PointOnTheEdgeHoldsNone) {
    DustySphere s;
    grey_uniform_cloud(s, 30.0f);
    s.direct_field();
    const int k = 14;
    for (int ict = 1; ict <= kSolverNct; ++ict) s.g.rsgra(ict, 1 + k) = s.g.rarr(15);
    gent(s.run, false);
    EXPECT_EQ(s.g.tarr(15, 1, k), 0.0f);
    EXPECT_GT(s.g.tarr(16, 1, k), 0.0f);
    EXPECT_GT(s.g.tarr(15, 1, k - 1), 0.0f);
}

// A species hotter than its sublimation temperature at the outermost radius
// leaves the whole grid.
TEST(TemperaturePass, SpeciesTooHotEverywhereLeavesTheGrid) {
    DustySphere s;
    grey_uniform_cloud(s, 3.0f);
    s.g.tsgra(3) = 50.0f;
    s.direct_field();
    gent(s.run, true);
    EXPECT_TRUE(s.g.agflag);
    EXPECT_EQ(s.g.rsgra(1, 4), s.g.rarr(kSolverNr));
    for (int ir = 1; ir <= kSolverNr; ++ir) EXPECT_EQ(s.g.tarr(ir, 1, 3), 0.0f);
    // Without sublimation the same pass keeps the hot species in place.
    s.edges(3.0f);
    s.direct_field();
    gent(s.run, false);
    EXPECT_FALSE(s.g.agflag);
    EXPECT_GT(s.g.tarr(kSolverNr, 1, 3), 50.0f);
}

}  // namespace
}  // namespace qv
