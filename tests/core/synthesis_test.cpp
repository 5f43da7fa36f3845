// The stellar synthesis: the birth-time grid, the rates and spectra per birth
// time, and the SSP interpolation.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/run.h"
#include "core/stop.h"
#include "core/synthesis.h"
#include "synthesis_fixtures.h"

namespace qv::test {
namespace {

using ::testing::HasSubstr;

std::vector<float> times(float step, float tmax) {
    std::vector<float> t;
    const int n = static_cast<int>(std::lround(tmax / step));
    for (int i = 0; i <= n; ++i) t.push_back(step * static_cast<float>(i));
    return t;
}

struct SynthFixture : ::testing::Test {
    CapturedConsole cc;
    qv::Run run{cc.con};
    SynthFixture() {
        run.parametri.tgal = 13.0f;
        run.remind.nz = 20000;
        // One quiescent table of two wavelengths whose spectrum does not change with age.
        fill_library(run, {1}, {0.02f}, {{20.0f, 0.0001f}}, 2, [](int l, int, int) { return float(l); });
    }
    void history(const std::vector<float>& t, float rate) { fill_history(run, t, std::vector<float>(t.size(), rate)); }
};

// ---- The grid ---------------------------------------------------------------------

TEST_F(SynthFixture, ConstantRateSteps) {
    history(times(0.1f, 14.0f), 1.0f);
    EXPECT_EQ(run_synthesis(run), 0);
    const auto tb = birth_times(run);
    ASSERT_GT(tb.size(), 10u);
    EXPECT_EQ(tb[0], 0.0f);
    EXPECT_NEAR(tb[1] - tb[0], 0.0002f, 1e-7f);
    EXPECT_NEAR(tb[2] - tb[1], 0.002f, 1e-7f);
    EXPECT_NEAR(tb[3] - tb[2], 0.002f, 1e-7f);
    EXPECT_NEAR(tb[4] - tb[3], 0.02f, 1e-6f);
    EXPECT_EQ(tb.back(), 13.0f);
    // Every history time up to tgal is a birth time.
    const SfhTables& g = run.glotauspe;
    for (int i = 1; i <= g.nzsmax && g.agesf(i) <= 13.0f; ++i)
        EXPECT_NE(std::find(tb.begin(), tb.end(), g.agesf(i)), tb.end()) << g.agesf(i);
    // Steps of 0.02 Gyr (or shorter, onto a history time) up to tgal - 0.4, then of 0.0005.
    for (std::size_t i = 4; i + 1 < tb.size(); ++i) {
        const float d = tb[i + 1] - tb[i];
        const bool onto_history = std::find(&g.agesf(1), &g.agesf(1) + g.nzsmax, tb[i + 1]) != &g.agesf(1) + g.nzsmax;
        const float want = tb[i] >= 12.6f ? 0.0005f : 0.02f;
        if (onto_history || tb[i + 1] == 13.0f)
            EXPECT_LE(d, want + 1e-5f) << tb[i];
        else
            EXPECT_NEAR(d, want, 2e-6f) << tb[i];
    }
    EXPECT_THAT(cc.out.str(), HasSubstr("Number of time steps ="));
    EXPECT_THAT(cc.out_lines().back(), HasSubstr(std::to_string(run.remind.icall)));
}

TEST_F(SynthFixture, ZeroRateStepsAtTheLargestStepEvenNearTgal) {
    history({0.0f, 20.0f}, 0.0f);
    run_synthesis(run);
    const auto tb = birth_times(run);
    for (std::size_t i = 3; i + 2 < tb.size(); ++i) EXPECT_NEAR(tb[i + 1] - tb[i], 0.02f, 2e-5f) << tb[i];
    EXPECT_EQ(tb.back(), 13.0f);
    EXPECT_GT(tb.back() - tb[tb.size() - 2], 0.0f);
    EXPECT_LE(tb.back() - tb[tb.size() - 2], 0.02f + 2e-5f);
}

TEST_F(SynthFixture, HiiRegionsAskForFineStepsInTheLast12Myr) {
    history({0.0f, 20.0f}, 1.0f);
    run.glopalla.hiiflag = true;
    run_synthesis(run);
    const auto tb = birth_times(run);
    int fine = 0;
    for (std::size_t i = 0; i + 1 < tb.size(); ++i) {
        if (tb[i] < 13.0f - 0.012f) continue;
        ++fine;
        if (tb[i + 1] < 13.0f) {
            EXPECT_NEAR(tb[i + 1] - tb[i], 0.0002f, 2e-6f) << tb[i];
        }
    }
    EXPECT_GE(fine, 55);
    // Without HII regions the same history keeps its steps of 0.0005 Gyr to the end.
    run.glopalla.hiiflag = false;
    run_synthesis(run);
    EXPECT_LT(run.remind.icall, static_cast<int>(tb.size()) - 30);
}

TEST_F(SynthFixture, StepsLandOnEveryHistoryTime) {
    history({0.0f, 5.003f, 20.0f}, 1.0f);
    run_synthesis(run);
    const auto tb = birth_times(run);
    EXPECT_NE(std::find(tb.begin(), tb.end(), 5.003f), tb.end());
}

TEST_F(SynthFixture, StepScaleFollowsTheRelativeChangeOfTheRate) {
    // With a rate equal to t the scale after a step of dt from t - dt to t is
    // (2t - dt) x 0.05 x dtcur / dt = t - dt/2, kept within 0.02 and 0.2 Gyr.
    fill_history(run, {0.0f, 20.0f}, {0.0f, 20.0f});
    run_synthesis(run);
    const auto tb = birth_times(run);
    int checked = 0;
    for (std::size_t i = 4; i + 1 < tb.size() && tb[i] < 12.5f; ++i) {
        const float before = tb[i] - tb[i - 1];
        const float scale = std::clamp(tb[i] - before / 2.0f, 0.02f, 0.2f);
        EXPECT_NEAR(tb[i + 1] - tb[i], scale / 10.0f, 1e-4f * scale) << tb[i];
        ++checked;
    }
    EXPECT_GT(checked, 100);
}

TEST_F(SynthFixture, SmallCapacityIsRetriedAndGivesTheSameGrid) {
    std::vector<float> t = times(0.1f, 14.0f), r;
    for (float x : t) r.push_back(3.0f * std::exp(-x / 2.5f));
    fill_history(run, t, r);
    run_synthesis(run);
    const std::vector<float> big = birth_times(run);
    const int n = run.remind.icall;
    std::vector<float> big_sfr(n), big_fl(n);
    for (int i = 1; i <= n; ++i) {
        big_sfr[i - 1] = run.remind.sfrate(i, 1);
        big_fl[i - 1] = run.remind.flsspint(2, i, 1);
    }

    CapturedConsole cc2;
    qv::Run small(cc2.con);
    small.parametri.tgal = 13.0f;
    small.remind.nz = 200;
    fill_library(small, {1}, {0.02f}, {{20.0f, 0.0001f}}, 2, [](int l, int, int) { return float(l); });
    fill_history(small, t, r);
    const int overflows = run_synthesis(small);
    EXPECT_GT(overflows, 1);
    EXPECT_EQ(birth_times(small), big);
    for (int i = 1; i <= n; ++i) {
        EXPECT_EQ(small.remind.sfrate(i, 1), big_sfr[i - 1]);
        EXPECT_EQ(small.remind.flsspint(2, i, 1), big_fl[i - 1]);
    }
    // nz = 200, 250, 312, ...: one message per overflow, then the count.
    const auto lines = cc2.out_lines();
    ASSERT_EQ(static_cast<int>(lines.size()), overflows + 1);
    EXPECT_THAT(lines[0], HasSubstr("nz ="));
    EXPECT_THAT(lines[0], HasSubstr("200"));
    EXPECT_THAT(lines[0], HasSubstr(" too low. I increase and try again"));
    EXPECT_THAT(lines[1], HasSubstr("250"));
    EXPECT_THAT(lines[2], HasSubstr("312"));
}

// ---- Rates at a birth time --------------------------------------------------------

TEST_F(SynthFixture, BirthTimeOutsideTheHistoryStops) {
    history({0.0f, 5.0f}, 1.0f);
    run.remind.tbirth.resize(2);
    run.remind.sfrate.resize(2, 1);
    run.remind.gasres.resize(2);
    run.remind.icall = 2;
    run.remind.tbirth(2) = 6.0f;
    try {
        birth(run);
        FAIL() << "no stop";
    } catch (const Stop& s) {
        ASSERT_EQ(s.lines.size(), 1u);
        EXPECT_EQ(s.lines[0], " subroutine birth esce tabelle time=     6.000");
    }
    run.remind.tbirth(2) = 5.0f;
    EXPECT_NO_THROW(birth(run));
}

TEST_F(SynthFixture, BirthInterpolatesAndLimitsTheHistory) {
    fill_history(run, {0.0f, 1.0f, 2.0f}, {1.0f, -3.0f, 5.0f});
    SfhTables& g = run.glotauspe;
    g.gas(1) = 0.5f;
    g.gas(2) = -0.5f;
    g.zeta(2) = 0.04f;
    run.remind.tbirth.resize(1);
    run.remind.sfrate.resize(1, 1);
    run.remind.gasres.resize(1);
    run.remind.icall = 1;
    struct Case {
        float t, sfr, gg, zzeta;
    };
    for (const Case c : {Case{0.25f, 0.0f, 0.25f, 0.025f}, Case{0.1f, 0.6f, 0.4f, 0.022f},
                         Case{1.5f, 1.0f, 0.0f, 0.03f}}) {
        run.remind.tbirth(1) = c.t;
        birth(run);
        EXPECT_NEAR(g.sfr, c.sfr, 1e-6f) << c.t;
        EXPECT_EQ(run.remind.sfrate(1, 1), g.sfr) << c.t;
        EXPECT_NEAR(g.gg, c.gg, 1e-6f) << c.t;
        EXPECT_FLOAT_EQ(run.remind.gasres(1), g.gg) << c.t;
        EXPECT_NEAR(g.zzeta, c.zzeta, 1e-6f) << c.t;
    }
}

// A disk and a bulge (igeo -1) whose bulge law has the points (t, b), and
// room for one birth time.
void bulge_law(Run& run, const std::vector<float>& t, const std::vector<float>& b) {
    run.parametri.igeo = -1;
    run.remind.ncom = 2;
    SfhTables& g = run.glotauspe;
    const int n = static_cast<int>(t.size());
    g.nbst = n;
    g.tbst.resize(n);
    g.bst.resize(n);
    for (int i = 1; i <= n; ++i) {
        g.tbst(i) = t[static_cast<std::size_t>(i - 1)];
        g.bst(i) = b[static_cast<std::size_t>(i - 1)];
    }
    run.remind.tbirth.resize(1);
    run.remind.sfrate.resize(1, 2);
    run.remind.gasres.resize(1);
    run.remind.icall = 1;
}

TEST_F(SynthFixture, BulgeShareIsAFraction) {
    history({0.0f, 20.0f}, 2.0f);
    // The law extrapolates below 0 before 1 Gyr and above 1 after 2 Gyr.
    bulge_law(run, {1.0f, 2.0f}, {0.0f, 1.0f});
    const SfhTables& g = run.glotauspe;
    struct Case {
        float t, bulge;
    };
    for (const Case c : {Case{0.0f, 0.0f}, Case{1.25f, 0.25f}, Case{5.0f, 1.0f}}) {
        run.remind.tbirth(1) = c.t;
        birth(run);
        EXPECT_FLOAT_EQ(run.remind.sfrate(1, 2), 2.0f * c.bulge) << c.t;
        EXPECT_FLOAT_EQ(run.remind.sfrate(1, 1), 2.0f * (1.0f - c.bulge)) << c.t;
        EXPECT_FLOAT_EQ(g.sfr, 2.0f);
    }
}

// t_bst 0 gives the bulge law two points at time 0: the share is 1 at the
// start and falls to 0 over 1/a_bst (here 1 Gyr), with no division by the
// interval of zero width between the first two points.
TEST_F(SynthFixture, BulgeLawWhoseFirstTwoPointsShareTheTimeZero) {
    history({0.0f, 20.0f}, 2.0f);
    bulge_law(run, {0.0f, 0.0f, 1.0f, 14.0f}, {1.0f, 1.0f, 0.0f, 0.0f});
    struct Case {
        float t, bulge;
    };
    // Each time from a fresh search guess and from the guess the last one left.
    for (bool fresh : {true, false})
        for (const Case c : {Case{0.0f, 1.0f}, Case{0.0002f, 0.9998f}, Case{0.25f, 0.75f}, Case{1.0f, 0.0f},
                             Case{5.0f, 0.0f}, Case{0.0f, 1.0f}}) {
            if (fresh) run.prointegrando.tbst_guess = 0;
            run.remind.tbirth(1) = c.t;
            birth(run);
            EXPECT_NEAR(run.remind.sfrate(1, 2), 2.0f * c.bulge, 1e-6f) << c.t;
            EXPECT_NEAR(run.remind.sfrate(1, 1), 2.0f * (1.0f - c.bulge), 1e-6f) << c.t;
        }
    // The whole grid: every rate finite, the bulge's share of the formed mass
    // that of a share falling linearly over the first Gyr of 13.
    run.remind.nz = 20000;
    run_synthesis(run);
    const BirthGrid& r = run.remind;
    double bulge = 0.0, all = 0.0;
    for (int i = 1; i < r.icall; ++i) {
        for (int c = 1; c <= 2; ++c) ASSERT_TRUE(std::isfinite(r.sfrate(i, c))) << r.tbirth(i);
        const double d = static_cast<double>(r.tbirth(i + 1) - r.tbirth(i));
        bulge += 0.5 * d * static_cast<double>(r.sfrate(i + 1, 2) + r.sfrate(i, 2));
        all += 0.5 * d * static_cast<double>(r.sfrate(i + 1, 1) + r.sfrate(i, 1) + r.sfrate(i + 1, 2) + r.sfrate(i, 2));
    }
    EXPECT_NEAR(bulge / all, 0.5 / 13.0, 1e-4);
}

// ---- The stellar light of the grid -------------------------------------------------

// After the synthesis, a grid whose stars give no light or light beyond the
// range of the numbers stops the run, naming the history's files and the mass.
TEST_F(SynthFixture, StellarLightThatIsNotFiniteOrNoneStops) {
    struct Case {
        const char* what;
        float rate, mass;
        std::vector<std::string> says;  // nothing: the light is usable
        int istarfo = 0;                // the reader, which says where the galaxy mass comes from
    };
    const std::string overflow =
        " ERROR: the stellar luminosity at tgal is not a finite number (galaxy mass   3.56999999E+25 *10^12 Mo).";
    const Case cases[] = {
        {"a usable history", 2.0f, 0.1f, {}},
        {"no star formation", 0.0f, 0.1f,
         {" ERROR: the stars give no light at tgal (galaxy mass  0.100000001     *10^12 Mo).",
          " The history in m1.sf, m1.ele forms no stars that shine at tgal: give it star formation there. stop"}},
        // The light is the rates per unit mass times the galaxy mass: the
        // message names what sets each of them (the external models' wording
        // is run with their files).
        {"a galaxy mass that overflows the light",
         2.0f,
         3.57e25f,
         {overflow,
          " The star-formation rates of the history in m1.sf, m1.ele, or its masses (the mass columns, whose last "
          "total is the galaxy mass), are too large: change them there. stop"}},
        {"the same from a time series, whose galaxies have one mass",
         2.0f,
         3.57e25f,
         {overflow, " The star-formation rates of the history in m1.sf, m1.ele are too large: change them there. stop"},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        history(times(0.1f, 14.0f), c.rate);
        run.glotauspe.istarfo = c.istarfo;
        run.remind.primordial_mass = c.mass;
        run_synthesis(run);
        const float light = stellar_light(run);
        if (c.says.empty()) {
            // L_lambda = l on wavelengths 1000 l A: 1e12 M x formed mass x the trapezoid.
            EXPECT_NEAR(light, 0.1f * 1e12f * 26.0f * 1500.0f, 1e-3f * light);
            EXPECT_NO_THROW(check_stellar_light(run, {"m1.sf", "m1.ele"}));
            continue;
        }
        try {
            check_stellar_light(run, {"m1.sf", "m1.ele"});
            ADD_FAILURE() << "no stop";
        } catch (const Stop& s) {
            EXPECT_EQ(s.lines, c.says);
        }
    }
}

// Stars older than every SSP table's oldest block shine no more at tgal.
TEST_F(SynthFixture, StarsOlderThanTheTablesGiveNoLight) {
    fill_library(run, {1}, {0.02f}, {{1.0f, 0.0001f}}, 2, [](int l, int, int) { return float(l); });
    std::vector<float> t = times(0.1f, 14.0f), r;
    for (float x : t) r.push_back(x <= 11.0f ? 1.0f : 0.0f);
    fill_history(run, t, r);
    run.remind.primordial_mass = 0.1f;
    run_synthesis(run);
    EXPECT_EQ(stellar_light(run), 0.0f);
    EXPECT_THROW(check_stellar_light(run, {"m1.sf"}), Stop);
}

// ---- The SSP interpolation ----------------------------------------------------------

// Three quiescent tables (Z 0.004, 0.02, 0.05) and one burst table, blocks at
// 10, 1 and 0.1 Gyr (the middle table from 12 Gyr), flux(l, j, i) = 1000 i + 10 j + l.
struct FluxFixture : ::testing::Test {
    CapturedConsole cc;
    qv::Run run{cc.con};
    FluxFixture() {
        run.parametri.tgal = 12.0f;
        fill_library(run, {1, 1, 1, 2}, {0.004f, 0.02f, 0.05f, 0.02f},
                     {{10.0f, 1.0f, 0.1f}, {12.0f, 1.0f, 0.1f}, {10.0f, 1.0f, 0.1f}, {10.0f, 1.0f, 0.1f}}, 3,
                     [](int l, int j, int i) { return float(1000 * i + 10 * j + l); });
        run.remind.tbirth.resize(1);
        run.remind.icall = 1;
    }
    float flux(float z, float age, bool quiescent = true) {
        run.glotauspe.zzeta = z;
        run.remind.tbirth(1) = run.parametri.tgal - age;
        fluxmetal(run, quiescent);
        return run.prointegrando.varflu(2);
    }
};

TEST_F(FluxFixture, MetallicityBrackets) {
    // Age 1 Gyr: the second block of each table.
    EXPECT_FLOAT_EQ(flux(0.001f, 1.0f), 1022.0f);  // below the lowest: that table unchanged
    EXPECT_FLOAT_EQ(flux(0.2f, 1.0f), 3022.0f);    // above the highest: that table
    EXPECT_FLOAT_EQ(flux(0.004f, 1.0f), 1022.0f);
    EXPECT_FLOAT_EQ(flux(0.012f, 1.0f), 1522.0f);  // halfway between the first two
    EXPECT_FLOAT_EQ(flux(0.035f, 1.0f), 2522.0f);
}

TEST_F(FluxFixture, AgeBrackets) {
    EXPECT_FLOAT_EQ(flux(0.004f, 5.5f), 1017.0f);   // halfway between 10 and 1 Gyr
    EXPECT_FLOAT_EQ(flux(0.004f, 10.0f), 1012.0f);  // the oldest block
    EXPECT_FLOAT_EQ(flux(0.004f, 0.0f), 1032.0f);   // younger than the youngest: the youngest
    EXPECT_FLOAT_EQ(flux(0.004f, 0.05f), 1032.0f);
    EXPECT_FLOAT_EQ(flux(0.004f, 11.0f), 0.0f);     // older than the table
    // 11 Gyr lies inside the middle table only: half of it between 0.004 and 0.02 at Z 0.012.
    EXPECT_NEAR(flux(0.012f, 11.0f), 0.5f * (2012.0f + 10.0f / 11.0f), 1e-3f);
}

TEST_F(FluxFixture, BurstTablesOnlyStrictlyInsideABurst) {
    SfhTables& g = run.glotauspe;
    g.n_bur = 1;
    g.t_bur.resize(1);
    g.t_end_bur.resize(1);
    g.t_bur(1) = 9.0f;
    g.t_end_bur(1) = 11.0f;  // ages 1 to 3 Gyr
    // Age 2 Gyr: 8/9 of the way from the 10 Gyr block to the 1 Gyr block.
    EXPECT_NEAR(flux(0.02f, 2.0f, false), 4012.0f + 10.0f * 8.0f / 9.0f, 1e-3f);
    EXPECT_NEAR(flux(0.02f, 2.0f, true), 2012.0f + 10.0f * 10.0f / 11.0f, 1e-3f);
    EXPECT_LT(flux(0.02f, 3.0f, false), 3000.0f);  // the burst's start is not inside it
    EXPECT_LT(flux(0.02f, 1.0f, false), 3000.0f);  // nor its end
    EXPECT_GT(flux(0.5f, 1.5f, false), 4000.0f);   // one burst table: every metallicity takes it
    g.n_bur = 0;
    EXPECT_LT(flux(0.02f, 2.0f, false), 3000.0f);
    // Without burst tables the burst call gives the quiescent spectrum.
    g.n_bur = 1;
    run.glotauspe.ntab = 3;
    EXPECT_FLOAT_EQ(flux(0.02f, 2.0f, false), flux(0.02f, 2.0f, true));
}

// ---- External histories ---------------------------------------------------------------

// Two metallicity bins of constant rates 1 and 3 on one component.
void fill_bins(Run& run, int istarfo) {
    SfhTables& g = run.glotauspe;
    g.istarfo = istarfo;
    g.nzsmax = 2;
    g.agesf.resize(2);
    g.agesf(1) = 0.0f;
    g.agesf(2) = 20.0f;
    g.ntav = 2;
    g.ztav.resize(2);
    g.ztav(1) = 0.004f;
    g.ztav(2) = 0.05f;
    g.rsftav.resize(2, 2, 1);
    for (int i = 1; i <= 2; ++i) {
        g.rsftav(i, 1, 1) = 1.0f;
        g.rsftav(i, 2, 1) = 3.0f;
    }
    g.flswei.resize(2, 1);
    run.remind.tbirth.resize(1);
    run.remind.sfrate.resize(1, 1);
    run.remind.gasres.resize(1);
    run.remind.flsspint.resize(run.remind.nlam, 1, 1);
    run.remind.icall = 1;
    run.remind.tbirth(1) = 11.0f;  // age 1 Gyr
}

TEST_F(FluxFixture, MetallicityBinsAreSummedByTheirShares) {
    fill_bins(run, 6);
    integrando(run);
    const SfhTables& g = run.glotauspe;
    EXPECT_FLOAT_EQ(run.remind.sfrate(1, 1), 4.0f);
    EXPECT_FLOAT_EQ(g.sfr, 4.0f);
    EXPECT_FLOAT_EQ(g.flswei(1, 1), 0.25f);
    EXPECT_FLOAT_EQ(g.flswei(2, 1), 0.75f);
    EXPECT_FLOAT_EQ(run.remind.flsspint(2, 1, 1), 0.25f * 1022.0f + 0.75f * 3022.0f);
}

TEST_F(FluxFixture, BinsWithoutStarsHaveNoShare) {
    fill_bins(run, 6);
    for (int i = 1; i <= 2; ++i) {
        run.glotauspe.rsftav(i, 1, 1) = 0.0f;
        run.glotauspe.rsftav(i, 2, 1) = 0.0f;
    }
    integrando(run);
    EXPECT_EQ(run.glotauspe.flswei(1, 1), 0.0f);
    EXPECT_EQ(run.glotauspe.flswei(2, 1), 0.0f);
    EXPECT_EQ(run.remind.flsspint(2, 1, 1), 0.0f);
}

TEST_F(FluxFixture, QuiescentShareBlendsTheBurstSpectrum) {
    fill_bins(run, 4);
    SfhTables& g = run.glotauspe;
    g.nzqui = 2;
    g.agesfqui.resize(3);
    g.agesfqui(1) = 0.0f;
    g.agesfqui(2) = 20.0f;
    g.rsftavqui.resize(3, 2, 1);
    for (int i = 1; i <= 2; ++i) {
        g.rsftavqui(i, 1, 1) = 0.5f;  // half of bin 1 is quiescent
        g.rsftavqui(i, 2, 1) = 6.0f;  // more than bin 2's rate: quiescent only
    }
    g.n_bur = 1;
    g.t_bur.resize(1);
    g.t_end_bur.resize(1);
    g.t_bur(1) = 10.0f;
    g.t_end_bur(1) = 12.0f;
    integrando(run);
    EXPECT_FLOAT_EQ(compute_fraqui(run, 1, 1), 0.5f);
    EXPECT_FLOAT_EQ(compute_fraqui(run, 1, 2), 2.0f);
    const float b1 = 0.5f * 1022.0f + 0.5f * 4022.0f;
    EXPECT_FLOAT_EQ(run.remind.flsspint(2, 1, 1), 0.25f * b1 + 0.75f * 3022.0f);
    // A negative quiescent rate gives a share of 0, a bin without stars 1.
    g.rsftavqui(1, 1, 1) = g.rsftavqui(2, 1, 1) = -1.0f;
    EXPECT_EQ(compute_fraqui(run, 1, 1), 0.0f);
    g.rsftav(1, 1, 1) = g.rsftav(2, 1, 1) = 0.0f;
    EXPECT_EQ(compute_fraqui(run, 1, 1), 1.0f);
}

TEST_F(FluxFixture, SorvantoModelTakesItsComponentMetallicity) {
    fill_bins(run, 7);
    SfhTables& g = run.glotauspe;
    g.zeta_arr.resize(2, 1);
    g.zeta_arr(1, 1) = 0.05f;
    g.zeta_arr(2, 1) = 0.05f;
    integrando(run);
    EXPECT_FLOAT_EQ(run.remind.flsspint(2, 1, 1), 3022.0f);
    EXPECT_FLOAT_EQ(g.sfr, 4.0f);
    run.remind.tbirth(1) = 21.0f;
    EXPECT_THROW(birth(run), Stop);
}

// ---- The whole synthesis ---------------------------------------------------------------

// A library whose spectra do not change with age (two metallicities of one
// spectrum, and a burst table of another that must not be used): every birth
// time holds that spectrum, and the rate-weighted integral over the birth times
// is the formed stellar mass times it.
class WholeSynthesis : public ::testing::TestWithParam<const char*> {};

TEST_P(WholeSynthesis, SpectrumTimesFormedMass) {
    CapturedConsole cc;
    qv::Run run(cc.con);
    run.parametri.tgal = 13.0f;
    const int nlam = 5;
    auto spectrum = [](int l) { return 1.0f + 0.5f * float(l * l); };
    fill_library(run, {1, 1, 2}, {0.004f, 0.03f, 0.02f}, {{14.0f, 3.0f, 0.001f}, {14.0f, 0.5f, 0.001f}, {14.0f, 0.001f}},
                 nlam, [&](int l, int, int i) { return i == 3 ? 100.0f : spectrum(l); });
    const bool exponential = std::string(GetParam()) == "exponential";
    const float tau = 3.0f, r0 = 2.0f;
    std::vector<float> t = times(0.1f, 14.0f), r, z;
    for (float x : t) {
        r.push_back(exponential ? r0 * std::exp(-x / tau) : r0);
        z.push_back(0.001f + 0.003f * x);  // across both metallicities
    }
    fill_history(run, t, r);
    for (int i = 1; i <= run.glotauspe.nzsmax; ++i) run.glotauspe.zeta(i) = z[i - 1];
    run_synthesis(run);

    const BirthGrid& b = run.remind;
    for (int j = 1; j <= b.icall; ++j)
        for (int l = 1; l <= nlam; ++l) ASSERT_NEAR(b.flsspint(l, j, 1), spectrum(l), 1e-5f * spectrum(l)) << j;
    const double r0d = static_cast<double>(r0), taud = static_cast<double>(tau);
    const double formed = exponential ? r0d * taud * (1.0 - std::exp(-13.0 / taud)) : r0d * 13.0;
    auto d = [](float v) { return static_cast<double>(v); };
    for (int l = 1; l <= nlam; ++l) {
        double integral = 0.0;
        for (int j = 2; j <= b.icall; ++j)
            integral += 0.5 *
                        (d(b.sfrate(j - 1, 1)) * d(b.flsspint(l, j - 1, 1)) + d(b.sfrate(j, 1)) * d(b.flsspint(l, j, 1))) *
                        d(b.tbirth(j) - b.tbirth(j - 1));
        const double want = formed * d(spectrum(l));
        EXPECT_NEAR(integral, want, 2e-4 * want) << l;
    }
}

INSTANTIATE_TEST_SUITE_P(Histories, WholeSynthesis, ::testing::Values("constant", "exponential"));

}  // namespace
}  // namespace qv::test
