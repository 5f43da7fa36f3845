// The LVG solver of the CO lines: collision rates, rate equations, the QR
// solver, the escape-probability iteration and the line emission.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "clouds/lvg_solver.h"
#include "core/console.h"
#include "core/stop.h"
#include "support/test_support.h"

namespace qv {
namespace {

using namespace lvgsubruti;

// Physical constants, independent of the solver's own.
constexpr double kH = 6.6260755e-27;   // erg s
constexpr double kK = 1.380658e-16;    // erg/K
constexpr double kC = 2.99792458e10;   // cm/s
constexpr double kPi = 3.14159265358979323846;
constexpr double kB12co = 5.77e10;     // rotational constant, Hz
constexpr double kHkCollisions = 4.79971025e-11;  // the h/k of the collision rates' energy gaps

// Boltzmann populations of the levels 1..n at temperature t, for level energies
// h B J (J + 1).
std::vector<double> boltzmann(double t, int n) {
    std::vector<double> p(static_cast<std::size_t>(n) + 1, 0.0);
    double z = 0.0;
    for (int i = 1; i <= n; ++i) {
        const double j = i - 1;
        p[static_cast<std::size_t>(i)] = (2.0 * j + 1.0) * std::exp(-kH * kB12co * j * (j + 1.0) / (kK * t));
        z += p[static_cast<std::size_t>(i)];
    }
    for (double& v : p) v /= z;
    return p;
}

double sum_np(const LvgWork& w) {
    double s = 0.0;
    for (int i = 1; i <= kLvgLevels; ++i) s += w.np(i);
    return s;
}

TEST(LvgMolecule, TwelveCoConstantsAsTabulated) {
    const MoleculeRecord m = molecule_12co();
    struct Case {
        int i;
        float a;
    };
    for (const Case& c : {Case{1, 7.4565608e-8f}, Case{2, 7.1582983e-7f}, Case{3, 2.5884922e-6f},
                          Case{20, 8.7296314e-4f}}) {
        // The table's values come from the formula 3 i^4 / (2i + 1) A(1), to the last digit or so.
        EXPECT_NEAR(m.a(c.i) / static_cast<double>(c.a), 1.0, 1e-6) << "A(" << c.i << ")";
        EXPECT_EQ(m.nu(c.i), static_cast<double>(static_cast<float>(1.154e11 * c.i))) << "nu(" << c.i << ")";
    }
    EXPECT_EQ(m.a(21), 0.0);
    LvgState s;
    EXPECT_EQ(s.g(1), 1.0);
    EXPECT_EQ(s.g(21), 41.0);
}

// Upward and downward rates of every pair obey detailed balance at the kinetic
// temperature, scale with the H2 density, and col1 holds their totals.
TEST(LvgCollisions, DetailedBalanceAndDensityScaling) {
    struct Pair {
        int u, l;
    };
    const std::vector<Pair> pairs = {{2, 1}, {3, 1}, {5, 2}, {11, 1}, {12, 2}, {21, 20}, {21, 11}};
    for (double t : {10.0, 50.0, 300.0}) {
        LvgState s1, s2;
        s1.tk = s2.tk = t;
        s1.nh2 = 1e3;
        s2.nh2 = 2e3;
        coef_exct(s1, s1.col, s1.col1);
        coef_exct(s2, s2.col, s2.col1);
        for (const Pair& p : pairs) {
            const double ju = p.u - 1, jl = p.l - 1;
            const double de = kHkCollisions * kB12co * (ju * (ju + 1.0) - jl * (jl + 1.0)) / t;
            const double gu = 2.0 * ju + 1.0, gl = 2.0 * jl + 1.0;
            ASSERT_GT(s1.col(p.u, p.l), 0.0);
            const double balance = gl * s1.col(p.l, p.u) / (gu * s1.col(p.u, p.l));
            EXPECT_NEAR(balance / std::exp(-de), 1.0, 1e-12) << "T=" << t << " u=" << p.u << " l=" << p.l;
            EXPECT_NEAR(s2.col(p.u, p.l) / s1.col(p.u, p.l), 2.0, 1e-14);
            EXPECT_NEAR(s2.col(p.l, p.u) / s1.col(p.l, p.u), 2.0, 1e-14);
        }
        // Delta J beyond 10 has no rate; a level has no rate to itself.
        EXPECT_EQ(s1.col(21, 10), 0.0);
        EXPECT_EQ(s1.col(4, 4), 0.0);
        for (int i = 1; i <= kLvgLevels; ++i) {
            double sum = 0.0;
            for (int j = 1; j <= kLvgLevels; ++j) sum += s1.col(i, j);
            EXPECT_NEAR(s1.col1(i) / sum, 1.0, 1e-6) << "level " << i;
        }
    }
}

TEST(LvgQr, SolvesAKnownSystem) {
    constexpr int n = 5;
    Mat<double> a(kLvgLevels, kLvgLevels);
    const double m[n][n] = {{4, -2, 1, 0, 3}, {1, 5, -1, 2, 0}, {0, 2, 6, -3, 1}, {2, 0, 1, 7, -2},
                            {1, 1, 1, 1, 1}};
    const double x[n] = {1.5, -2.0, 0.25, 3.0, -1.0};
    Vec<double> b(kLvgLevels), c(kLvgLevels), d(kLvgLevels);
    for (int i = 1; i <= n; ++i) {
        b(i) = 0.0;
        for (int j = 1; j <= n; ++j) {
            a(i, j) = m[i - 1][j - 1];
            b(i) += m[i - 1][j - 1] * x[j - 1];
        }
    }
    bool sing = true;
    qrdcmp(a, n, c, d, sing);
    EXPECT_FALSE(sing);
    qrsolv(a, n, c, d, b);
    for (int i = 1; i <= n; ++i) EXPECT_NEAR(b(i), x[i - 1], 1e-13) << i;
}

TEST(LvgQr, FlagsASingularMatrix) {
    struct Case {
        const char* what;
        int zero_col;
    };
    for (const Case& cs : {Case{"a zero first column", 1}, Case{"a zero middle column", 2},
                           Case{"a zero last column", 3}}) {
        Mat<double> a(kLvgLevels, kLvgLevels);
        Vec<double> c(kLvgLevels), d(kLvgLevels);
        for (int i = 1; i <= 3; ++i)
            for (int j = 1; j <= 3; ++j) a(i, j) = j == cs.zero_col ? 0.0 : 1.0 + i * j + (i == j ? 3.0 : 0.0);
        bool sing = false;
        qrdcmp(a, 3, c, d, sing);
        EXPECT_TRUE(sing) << cs.what;
    }
}

// A rate matrix without rates is singular: the run pauses, and going on from the
// pause counts as a failed solve (nothing is divided by the zero pivot).
// Outside the domain where the populations are representable the rates are
// not finite: the attempt fails without the pause, and lvgcalc goes on to the
// next temperature. (Temperatures below 1.634 K overflow the collision totals;
// at 0 K and below the rates are NaN.)
TEST(LvgRates, RatesThatAreNotFiniteFailWithoutThePause) {
    EXPECT_NEAR(lvg_min_temperature(), 1.6334, 1e-4);
    EXPECT_NEAR(lvg_max_redshift(), 9.136e15, 1e12);
    struct Case {
        double tk, nh2, z, x;
        int k_control;  // the attempt that solves, 7: none
    };
    const Case cases[] = {
        {1.0, 1.0, 0.001, 1e-5, 1},       // 1 K: the totals overflow; 2 K (tk + 1) solves
        {0.0, 42.0, 0.001, 1e-5, 5},      // 0 K: NaN rates; 1 K, -1 K, 2 K fail; 3 K (tk + 3) solves
        {-5.0, 42.0, 0.001, 1e-5, 7},     // every attempt at or below 0 K
        {1.6, 1e24, 0.001, 1e-5, 1},      // the totals overflow at 1.6 K, not at 2.6 K
        {30.0, 42.0, 1e17, 1e-5, 7},      // the background is not resolved
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "tk " << c.tk << " nh2 " << c.nh2 << " z " << c.z << " x " << c.x);
        // At a terminal a pause would read "stop" and end the run.
        test::CapturedConsole cc("stop\n");
        LvgState s;
        LvgWork w;
        lvgcalc(cc.con, s, w, c.tk, c.nh2, 10.0, 20.0, c.z, "12CO", c.x);
        EXPECT_EQ(cc.out.str().find("PAUSE"), std::string::npos) << cc.out.str();
        EXPECT_EQ(s.k_control, c.k_control);
        EXPECT_EQ(w.flu_quelvo.has_value(), c.k_control < 7);
    }
    // A velocity of 0 leaves no finite column to reach.
    test::CapturedConsole cc("stop\n", false);
    LvgState s;
    LvgWork w;
    lvgcalc(cc.con, s, w, 30.0, 42.0, 0.0, 20.0, 0.001, "12CO", 1e-5);
    EXPECT_EQ(s.k_control, 7);
    EXPECT_FALSE(w.flu_quelvo.has_value());
}

// The check itself: a rate matrix holding a rate that is not finite is refused
// before the QR solve, which would otherwise return its NaN populations as a
// solution or pause on a pivot it takes for zero.
TEST(LvgRates, SolveRefusesARateMatrixThatIsNotFinite) {
    const struct {
        const char* what;
        double tk, nh2, z;
    } cases[] = {
        {"collision totals beyond the 4-byte reals (1 K)", 1.0, 1.0, 0.001},
        {"NaN collision rates (0 K)", 0.0, 42.0, 0.001},
        {"an infinite background occupation number", 30.0, 42.0, 1e17},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LvgState s;
        s.tk = c.tk;
        s.nh2 = c.nh2;
        s.z = c.z;
        coef_exct(s, s.col, s.col1);
        background(s);
        LvgWork w;
        rate_matrix(s, w, kLvgLevels, s.ex1);
        bool finite = true;
        for (int j = 1; j <= kLvgLevels; ++j)
            for (int i = 1; i <= kLvgLevels; ++i) finite = finite && std::isfinite(w.a(i, j));
        ASSERT_FALSE(finite) << "the case does not reach the check";

        // At a terminal a pause would read "stop" and end the run.
        test::CapturedConsole cc("stop\n");
        bool solved = true;
        EXPECT_NO_THROW(solved = solve_rates(cc.con, s, w, kLvgLevels, s.ex1));
        EXPECT_FALSE(solved);
        EXPECT_EQ(cc.out.str().find("PAUSE"), std::string::npos) << cc.out.str();
    }
}

TEST(LvgRates, SingularRateMatrixPausesAndFails) {
    auto no_rates = [] {
        LvgState s;
        s.tk = 20.0;
        s.nh2 = 0.0;
        coef_exct(s, s.col, s.col1);
        for (int i = 1; i <= kLvgLevels; ++i) s.mol[0].a(i) = 0.0;
        background(s);
        return s;
    };
    {
        test::CapturedConsole cc("\n");
        LvgState s = no_rates();
        LvgWork w;
        EXPECT_FALSE(solve_rates(cc.con, s, w, 4, s.ex1));
        EXPECT_NE(cc.out.str().find("PAUSE prompt> "), std::string::npos);

        test::CapturedConsole cc2("continue\n");
        int n = 4;
        Vec<double> np(kLvgLevels);
        for (int i = 1; i <= n; ++i) np(i) = 0.25;
        bool fail = false;
        calculo(cc2.con, s, w, n, np, 1e-8, 1.0, 1.0, fail, 0.1, 5e-5, w.tau);
        EXPECT_TRUE(fail);
        for (int i = 1; i <= n; ++i) EXPECT_TRUE(std::isfinite(np(i)));
    }
    {
        test::CapturedConsole cc("stop\n");
        LvgState s = no_rates();
        LvgWork w;
        EXPECT_THROW(solve_rates(cc.con, s, w, 4, s.ex1), Stop);
    }
}

// Where the gas is as warm as the background, collisions and radiation agree:
// the populations are thermal at that temperature whatever the density.
TEST(LvgPopulations, ThermalAtTheBackgroundTemperature) {
    // The collision rates' h/k differs from the background's by 1e-4, which
    // shows in the populations as 1e-4 of E/kT; at z = 0 only the low levels
    // are populated enough to be compared.
    struct Case {
        double z;
        int levels;  // levels checked (J up to levels - 1)
    };
    for (const Case& c : {Case{0.0, 3}, Case{5.0, 7}, Case{9.0, 7}}) {
        for (double nh2 : {1e1, 1e3, 1e6}) {
            test::CapturedConsole cc;
            LvgState s;
            LvgWork w;
            s.z = c.z;
            s.nh2 = nh2;
            s.tk = 2.73 * (1.0 + c.z);
            background(s);
            coef_exct(s, s.col, s.col1);
            int n = kLvgLevels;
            double ft = 0.0;
            ASSERT_TRUE(inicio(cc.con, s, w, w.np, n, 1.0, 1, ft));
            EXPECT_EQ(n, kLvgLevels);
            const std::vector<double> b = boltzmann(s.tk, kLvgLevels);
            for (int i = 1; i <= c.levels; ++i)
                EXPECT_NEAR(w.np(i) / b[static_cast<std::size_t>(i)], 1.0, 1e-3)
                    << "z=" << c.z << " nH2=" << nh2 << " J=" << i - 1;
            EXPECT_NEAR(sum_np(w), 1.0, 1e-12);

            // The escape-probability iteration keeps them: the line field is the
            // background's own. (Only the populated levels: the others are
            // rounding noise that no iteration can settle.)
            n = c.levels + 2;
            ASSERT_TRUE(inicio(cc.con, s, w, w.np, n, 1.0, 1, ft));
            bool fail = true;
            calculo(cc.con, s, w, n, w.np, 1e-2, 1.0, 1.0, fail, 0.1, 5e-5, w.tau);
            EXPECT_FALSE(fail);
            for (int i = 1; i <= c.levels; ++i)
                EXPECT_NEAR(w.np(i) / b[static_cast<std::size_t>(i)], 1.0, 1e-3)
                    << "after calculo, z=" << c.z << " nH2=" << nh2 << " J=" << i - 1;
        }
    }
}

// At high density collisions win: the solved model is thermal at the kinetic
// temperature, optically thin or thick.
TEST(LvgPopulations, ThermalAtHighDensity) {
    for (double tk : {15.0, 30.0, 60.0}) {
        for (double x : {1e-8, 1e-5}) {
            test::CapturedConsole cc;
            LvgState s;
            LvgWork w;
            lvgcalc(cc.con, s, w, tk, 1e9, 1.0, 1.0, 0.0, "test", x);
            ASSERT_EQ(s.k_control, 0) << "tk=" << tk << " X=" << x;
            EXPECT_EQ(s.tk, tk);
            const std::vector<double> b = boltzmann(tk, kLvgLevels);
            for (int i = 1; i <= 7; ++i)
                EXPECT_NEAR(w.np(i) / b[static_cast<std::size_t>(i)], 1.0, 1e-3) << "tk=" << tk << " J=" << i - 1;
            // The levels dropped at the last cut hold next to nothing.
            EXPECT_NEAR(sum_np(w), 1.0, 1e-8);
            ASSERT_TRUE(w.flu_quelvo.has_value());
            for (double f : *w.flu_quelvo) EXPECT_TRUE(std::isfinite(f));
        }
    }
}

// A typical cloud: solved at its own temperature, optically thick in the low
// lines, with the populations summing to 1 and the high levels cut.
TEST(LvgModel, TypicalCloudIsSolved) {
    test::CapturedConsole cc;
    LvgState s;
    LvgWork w;
    lvgcalc(cc.con, s, w, 20.0, 125.0, 30.0, 30.0, 0.0, "test", 1e-4);
    EXPECT_EQ(s.k_control, 0);
    EXPECT_EQ(s.tk, 20.0);
    EXPECT_EQ(s.x12co, 1e-4);
    EXPECT_EQ(s.mm, "test");
    ASSERT_TRUE(w.flu_quelvo.has_value());
    const std::vector<double>& f = *w.flu_quelvo;
    ASSERT_GE(f.size(), 4u);
    EXPECT_LT(f.size(), 20u);
    EXPECT_GT(w.tau(1), 1.0);
    for (std::size_t i = 0; i < f.size(); ++i) EXPECT_GT(f[i], 0.0) << "line " << i + 1;
    EXPECT_NEAR(sum_np(w), 1.0, 1e-8);
}

// Without CO (X = 0) there is no column: the first converged step, at the
// smallest column 1e-8, is the model; a tiny abundance whose column is below
// that step gives the same model.
TEST(LvgModel, ZeroAbundanceConvergesAtTheFirstStep) {
    for (double tk : {10.0, 20.0, 80.0}) {
        test::CapturedConsole cc;
        LvgState s0, s1;
        LvgWork w0, w1;
        lvgcalc(cc.con, s0, w0, tk, 125.0, 30.0, 30.0, 0.0, "test", 0.0);
        lvgcalc(cc.con, s1, w1, tk, 125.0, 30.0, 30.0, 0.0, "test", 1e-13);
        EXPECT_EQ(s0.k_control, 0) << "tk=" << tk;
        ASSERT_TRUE(w0.flu_quelvo.has_value());
        ASSERT_TRUE(w1.flu_quelvo.has_value());
        ASSERT_EQ(w0.flu_quelvo->size(), w1.flu_quelvo->size());
        EXPECT_LT(w0.flu_quelvo->size(), 20u);  // the level cut works without a column
        for (std::size_t i = 0; i < w0.flu_quelvo->size(); ++i) {
            EXPECT_GT((*w0.flu_quelvo)[i], 0.0);
            EXPECT_EQ((*w0.flu_quelvo)[i], (*w1.flu_quelvo)[i]) << "line " << i + 1;
        }
    }
}

// A model that no temperature solves: seven temperatures are tried and the
// model ends failed, at the last one, without line emission.
TEST(LvgModel, FailurePathTriesSevenTemperatures) {
    test::CapturedConsole cc;
    LvgState s;
    LvgWork w;
    w.flu_quelvo = std::vector<double>{1.0, 2.0};  // left from an earlier model
    lvgcalc(cc.con, s, w, 40.0, 125.0, 30.0, 30.0, 0.0, "test", 1e-3);
    EXPECT_EQ(s.k_control, 7);
    EXPECT_EQ(s.tk, 37.0);
    EXPECT_FALSE(w.flu_quelvo.has_value());
    EXPECT_TRUE(cc.out.str().empty());
}

// Extrapolated populations that are not finite and positive end the attempt at
// once, instead of iterating on NaN until the iteration limit.
TEST(LvgPopulations, BadExtrapolationFailsAtOnce) {
    test::CapturedConsole cc;
    LvgState s;
    LvgWork w;
    s.tk = 20.0;
    s.nh2 = 125.0;
    background(s);
    coef_exct(s, s.col, s.col1);
    int n = 6;
    double ft = 0.0;
    ASSERT_TRUE(inicio(cc.con, s, w, w.np, n, 1.0, 1, ft));
    struct Case {
        const char* what;
        double value;  // entering population of level 6
    };
    for (const Case& c : {Case{"a zero population", 0.0}, Case{"a negative population", -1e-9}}) {
        Vec<double> np = w.np;
        np(6) = c.value;
        int m = n;
        bool fail = false;
        calculo(cc.con, s, w, m, np, 1e-8, 1.0, 1.0, fail, 0.1, 5e-5, w.tau);
        EXPECT_TRUE(fail) << c.what;
        EXPECT_EQ(w.iterations, 1) << c.what;
    }
    // From sound populations the same step converges.
    Vec<double> np = w.np;
    int m = n;
    bool fail = true;
    calculo(cc.con, s, w, m, np, 1e-8, 1.0, 1.0, fail, 0.1, 5e-5, w.tau);
    EXPECT_FALSE(fail);
    EXPECT_GT(w.iterations, 1);
    EXPECT_LE(w.iterations, 551);
}

// The line opacity factor of flujo: 1 above an optical depth of 100, the depth
// itself below 1e-9, 1 - exp(-tau) between.
TEST(LvgEmission, EscapeProbabilityLimits) {
    LvgState s;
    s.z = 0.0;
    background(s);
    Vec<double> np(kLvgLevels);
    np(1) = 0.6;
    np(2) = 0.4;
    const double nu = s.m().nu(1);
    const double sfun = 1.0 * 0.4 / (3.0 * 0.6 - 1.0 * 0.4);
    const double thick = 4.0 / 3.0 * kPi * 2.0 * kH * nu * nu * nu / (kC * kC) * (sfun - s.ex1(1));
    struct Case {
        double tau, factor;
    };
    for (const Case& c : {Case{1e4, 1.0}, Case{150.0, 1.0}, Case{50.0, 1.0 - std::exp(-50.0)},
                          Case{1.0, 1.0 - std::exp(-1.0)}, Case{1e-6, 1.0 - std::exp(-1e-6)},
                          Case{5e-10, 5e-10}, Case{-0.5, -0.5}}) {
        LvgWork w;
        Vec<double> tau(kLvgLevels - 1);
        tau(1) = c.tau;
        flujo(s, w, np, 2, tau);
        ASSERT_TRUE(w.flu_quelvo.has_value());
        ASSERT_EQ(w.flu_quelvo->size(), 1u);
        EXPECT_NEAR((*w.flu_quelvo)[0] / (thick * c.factor), 1.0, 1e-4) << "tau=" << c.tau;
    }
    // One level left: no line, but a (empty) result.
    LvgWork w;
    flujo(s, w, np, 1, Vec<double>(kLvgLevels - 1));
    ASSERT_TRUE(w.flu_quelvo.has_value());
    EXPECT_TRUE(w.flu_quelvo->empty());
}

// The optically thin start cuts the levels whose lines carry less than 1e-5
// percent of the emission; the kept count is what the solve uses.
TEST(LvgPopulations, OpticallyThinStartCutsFaintLevels) {
    test::CapturedConsole cc;
    LvgState s;
    LvgWork w;
    s.tk = 20.0;
    s.nh2 = 125.0;
    background(s);
    coef_exct(s, s.col, s.col1);
    int n = kLvgLevels;
    double ft = 0.0;
    ASSERT_TRUE(inicio(cc.con, s, w, w.np, n, 0.01, 0, ft));
    EXPECT_GT(ft, 0.0);
    EXPECT_GT(n, 3);
    EXPECT_LT(n, kLvgLevels);
    for (int i = 1; i < n; ++i) EXPECT_GE(100.0 * thin_emission(s, w.np, i, 0.01) / ft, 1e-5) << i;
    for (int i = n + 1; i <= kLvgLevels; ++i) EXPECT_EQ(w.np(i), 0.0);
    const int cut = n;
    ASSERT_TRUE(inicio(cc.con, s, w, w.np, n, 0.01, 1, ft));
    EXPECT_EQ(n, cut);
    EXPECT_NEAR(sum_np(w), 1.0, 1e-12);
}

}  // namespace
}  // namespace qv
