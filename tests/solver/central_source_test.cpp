// The solver's central source: loading <stem>.SSP with its running mean, the
// scratch copy "ssp.SCR", the frequency range of positive flux, the mean
// intensity of the bare source and the luminosity integrand.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "core/stop.h"
#include "io/listread.h"
#include "numerics/quadrature.h"
#include "solver/central_source.h"
#include "solver/solver_fixture.h"

namespace qv {
namespace {

using test::SolverRun;
using test::stop_text;
using test::write_text;

double d(float v) { return static_cast<double>(v); }

// A source spectrum file: n wavelengths log-spaced from lo to hi Angstrom with
// L_lambda = f(lambda) (1e30 erg/s/A), as the cloud model writes it.
std::string spectrum(double lo, double hi, int n, const std::function<double(double)>& f) {
    std::string s;
    for (int i = 0; i < n; ++i) {
        const double lam = lo * std::pow(hi / lo, i / double(n - 1));
        char buf[80];
        std::snprintf(buf, sizeof buf, "%14.6E %14.6E\n", lam, f(lam));
        s += buf;
    }
    return s;
}

// A smooth source: L_lambda = 1e3 (lambda/1000 A)^-1.
double smooth(double lam) { return 1e3 * 1000.0 / lam; }
// Its L_nu in erg/s/Hz at log10 nu.
double smooth_lnu(double lf) {
    const double lam = 3e18 / std::pow(10.0, lf);
    return smooth(lam) * 1e30 * lam * lam / 3e18;
}

TEST(SolverSource, MeanIntensityIsThePointSourceLawAtAnyRadiusAndAngle) {
    SolverRun s;
    write_text("tmp1234.SSP", spectrum(50.0, 2e8, 2000, smooth));
    prejnssp(s.run);
    EXPECT_EQ(s.run.projnbu.nbudin, 2000);
    EXPECT_EQ(s.g.nlf1_ajn, 1);
    EXPECT_EQ(s.g.nlf2_ajn, 54);
    for (int k = 1; k <= kSolverNnu; ++k) {
        const float lf = s.g.lfarr(k);
        const float j15 = ajn(s.run, 1e15f, 0.1f, lf);
        // The polar angle never changes the result.
        EXPECT_EQ(ajn(s.run, 1e15f, 1.5f, lf), j15) << k;
        EXPECT_EQ(ajn(s.run, 1e15f, 3.0f, lf), j15) << k;
        for (float r : {1e12f, 1e15f, 3e18f}) {
            const double lnu = 16.0 * M_PI * M_PI * d(r) * d(r) * d(ajn(s.run, r, 0.7f, lf));
            EXPECT_NEAR(lnu / smooth_lnu(d(lf)), 1.0, 0.01) << "lfarr(" << k << ") r " << r;
        }
    }
}

TEST(SolverSource, LuminosityIntegralGivesTheSourceLuminosity) {
    SolverRun s;
    write_text("tmp1234.SSP", spectrum(50.0, 2e8, 2000, smooth));
    prejnssp(s.run);
    const float x1 = 2.3025851f * s.g.lfarr(s.g.nlf1_ajn);
    const float x2 = 2.3025851f * s.g.lfarr(s.g.nlf2_ajn);
    const float i2 =
        quad2d(s.cc.con, x1, x2, alinf, alsup, [&](float x, float t) { return alint(s.run, x, t); }, 0.001f);
    const double l46 = d(i2) * 16.0 * M_PI * M_PI / 1e16;
    // The exact integral of L_nu = C nu^-1 over the range: C ln(nu2/nu1).
    const double c = smooth_lnu(13.0) * 1e13;
    const double expected = c * (d(x2) - d(x1)) / 1e46;
    EXPECT_NEAR(l46 / expected, 1.0, 0.01);
}

TEST(SolverSource, DarkRangesGiveTheFloorAndNarrowTheFrequencyRange) {
    SolverRun s;
    // Dark beyond 1e5 A (below 10^13.48 Hz) and below 912 A (above 10^15.52 Hz).
    write_text("tmp1234.SSP",
               spectrum(50.0, 2e8, 600, [](double lam) { return lam > 1e5 || lam < 912.0 ? 0.0 : smooth(lam); }));
    prejnssp(s.run);
    const SourceTable& t = s.run.projnbu;
    int floor = 0;
    for (int i = 1; i <= t.nbudin; ++i) floor += t.ybu(i) == -777.0f;
    EXPECT_GT(floor, 0);
    const int n1 = s.g.nlf1_ajn, n2 = s.g.nlf2_ajn;
    EXPECT_GT(n1, 1);
    EXPECT_LT(n2, 54);
    EXPECT_GT(s.g.lfarr(n1), 13.45f);
    EXPECT_LT(s.g.lfarr(n2), 15.55f);
    // The range holds the grid points of positive log10 L_nu, and only those.
    for (int k = 1; k <= kSolverNnu; ++k) {
        int jlo = 0;
        PoinhWork w;
        float y = 0.0f, dy = 0.0f;
        poinh(w, t.xbu.data(), t.ybu.data(), t.nbudin, 2, s.g.lfarr(k), y, dy, jlo);
        EXPECT_EQ(y > 0.0f, k >= n1 && k <= n2) << k << " " << y;
    }
}

TEST(SolverSource, FirstEntryFarFromItsNeighbourHasNoMean) {
    SolverRun s;
    std::string text = "  40.0  5.0\n" + spectrum(50.0, 2e8, 400, smooth);
    write_text("tmp1234.SSP", text);
    prejnssp(s.run);
    EXPECT_EQ(s.run.projnbu.ybu(1), -777.0f);
    EXPECT_GT(s.run.projnbu.ybu(2), 0.0f);
    EXPECT_FLOAT_EQ(s.run.projnbu.xbu(1), std::log10(3e18f / 40.0f));
    // The scratch copy holds the wavelength and the smoothed L_lambda, 0 here.
    TextFile scr = TextFile::open("ssp.SCR");
    EXPECT_EQ(scr.line_count(), 401u);
    float w = -1.0f, y = -1.0f;
    ASSERT_EQ(fio::list_read(scr, {&w, &y}).status, fio::ReadStatus::Ok);
    EXPECT_EQ(w, 40.0f);
    EXPECT_EQ(y, 0.0f);
}

TEST(SolverSource, TableHoldsThePairsActuallyRead) {
    struct Case {
        const char* what;
        std::string tail;
    };
    for (const Case& c : {Case{"a blank last line", "\n"}, Case{"two blank lines", "\n   \n"},
                          Case{"a line that is not a pair", "end of table\n1e9 5.0\n"}}) {
        SolverRun s;
        write_text("tmp1234.SSP", spectrum(50.0, 2e8, 300, smooth) + c.tail);
        prejnssp(s.run);
        const SourceTable& t = s.run.projnbu;
        EXPECT_EQ(t.nbudin, 300) << c.what;
        EXPECT_EQ(t.xbu.extent(), 300) << c.what;
        for (int i = 1; i <= t.nbudin; ++i) {
            EXPECT_TRUE(std::isfinite(t.xbu(i))) << c.what << " " << i;
            EXPECT_TRUE(std::isfinite(t.ybu(i))) << c.what << " " << i;
        }
        EXPECT_EQ(s.g.nlf2_ajn, 54) << c.what;
    }
}

TEST(SolverSource, SourcesTheSolverCannotUseStop) {
    struct Case {
        const char* what;
        std::string text;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"no entries", "", "no entries"},
        {"only blank lines", "\n\n", "no entries"},
        {"dark everywhere", spectrum(50.0, 2e8, 100, [](double) { return 0.0; }), "no positive flux"},
        {"negative everywhere", spectrum(50.0, 2e8, 100, [](double) { return -1.0; }), "no positive flux"},
        {"one entry", "5000. 10.\n", "no positive flux"},
        {"a zero wavelength", "0. 1.\n" + spectrum(50.0, 2e8, 100, smooth), "wavelength"},
    };
    for (const Case& c : cases) {
        SolverRun s;
        write_text("tmp1234.SSP", c.text);
        try {
            prejnssp(s.run);
            ADD_FAILURE() << c.what << ": no stop";
        } catch (const Stop& e) {
            EXPECT_NE(stop_text(e).find(c.says), std::string::npos) << c.what << ": " << stop_text(e);
            EXPECT_NE(stop_text(e).find("tmp1234.SSP"), std::string::npos) << c.what << ": " << stop_text(e);
        }
    }
}

TEST(SolverSource, MissingFileIsAnErrorNamingIt) {
    SolverRun s;
    try {
        prejnssp(s.run);
        ADD_FAILURE() << "no error";
    } catch (const IoError& e) {
        EXPECT_NE(std::string(e.what()).find("tmp1234.SSP"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists("tmp1234.SSP"));
}

TEST(SolverSource, EachLoadReplacesTheTableAndTheScratchCopy) {
    SolverRun s;
    write_text("tmp1234.SSP", spectrum(50.0, 2e8, 2000, smooth));
    const float lf = s.g.lfarr(30);
    // ajn loads the table when this solve has not.
    const float first = ajn(s.run, 1e15f, 0.0f, lf);
    EXPECT_TRUE(s.run.projnbu.loaded);
    EXPECT_EQ(test::read_lines("ssp.SCR").size(), 2000u);

    write_text("tmp1234.SSP", spectrum(50.0, 2e8, 1800, [](double lam) { return 10.0 * smooth(lam); }));
    prejnssp(s.run);
    EXPECT_EQ(s.run.projnbu.nbudin, 1800);
    EXPECT_EQ(test::read_lines("ssp.SCR").size(), 1800u);
    EXPECT_NEAR(d(ajn(s.run, 1e15f, 0.0f, lf)) / d(first), 10.0, 0.2);
}

}  // namespace
}  // namespace qv
