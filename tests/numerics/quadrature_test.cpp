// Romberg integration, the nested double integral and trapezoid refinement:
// where each returns (counted in integrand evaluations), their failure paths,
// and the integrals that are exactly zero.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/stop.h"
#include "numerics/quadrature.h"
#include "support/test_support.h"

namespace qv {
namespace {

// Evaluations by the end of trapezoid stage j.
constexpr long evals_by_stage(int j) { return (1L << (j - 1)) + 1; }

// A step with a jump much larger than its integral: no trapezoid stage gets
// its relative error down to 1e-4, so the Romberg test never passes.
float rough(float y) { return y < 1.0f / 3.0f ? 1.0f : -0.4999f; }

// The stage-20 extrapolation of rough over 0..1 (the integral itself, about
// 6.7e-5, drowns in the rounding of the stage sums).
float failed_extrapolation() {
    float ss = 0.0f;
    auto f = [](float y) { return rough(y); };
    EXPECT_FALSE(quad_detail::romberg(f, 0.0f, 1.0f, 1e-4f, ss));
    EXPECT_LT(std::fabs(ss), 1e-3f);
    EXPECT_NE(ss, 0.0f);
    return ss;
}

TEST(Qromb, CubicConvergesAtStageFive) {
    long calls = 0;
    const float ss = qromb(
        [&](float x) {
            ++calls;
            return x * x * x;
        },
        0.0f, 1.0f, 1e-4f);
    EXPECT_NEAR(ss, 0.25f, 1e-6f);
    EXPECT_EQ(calls, evals_by_stage(5));
}

TEST(Qromb, SmoothIntegrand) {
    long calls = 0;
    const float ss = qromb(
        [&](float x) {
            ++calls;
            return std::exp(x);
        },
        0.0f, 2.0f, 1e-6f);
    EXPECT_NEAR(ss, std::exp(2.0f) - 1.0f, 1e-5f);
    EXPECT_GE(calls, evals_by_stage(5));
    EXPECT_LE(calls, evals_by_stage(8));
}

// An integral that is exactly zero returns 0 after stage 5 instead of stopping.
TEST(Qromb, ExactlyZeroIntegralReturnsZeroAtStageFive) {
    long calls = 0;
    auto zero = [&](float) {
        ++calls;
        return 0.0f;
    };
    EXPECT_EQ(qromb(zero, 0.0f, 1.0f, 1e-4f), 0.0f);
    EXPECT_EQ(calls, evals_by_stage(5));

    calls = 0;
    auto quad = [&](float x) {
        ++calls;
        return x * x + 1.0f;
    };
    EXPECT_EQ(qromb(quad, 2.0f, 2.0f, 1e-4f), 0.0f);
    EXPECT_EQ(calls, evals_by_stage(5));
}

TEST(Qromb, NoConvergenceStopsAfterTwentyStages) {
    long calls = 0;
    try {
        qromb(
            [&](float y) {
                ++calls;
                return rough(y);
            },
            0.0f, 1.0f, 1e-4f);
        FAIL() << "no stop";
    } catch (const Stop& s) {
        EXPECT_EQ(s.lines, std::vector<std::string>{" QROMB: Too many steps."});
        EXPECT_FALSE(s.on_stderr);
    }
    EXPECT_EQ(calls, evals_by_stage(20));
}

TEST(Qtrap, ZeroIntegrandReturnsAtStageSeven) {
    test::CapturedConsole cc;
    long calls = 0;
    const float s = qtrap(
        cc.con,
        [&](float) {
            ++calls;
            return 0.0f;
        },
        0.0f, 5.0f, 1e-4f);
    EXPECT_EQ(s, 0.0f);
    EXPECT_EQ(calls, evals_by_stage(7));
    EXPECT_TRUE(cc.out.str().empty());
}

TEST(Qtrap, LinearReturnsAtStageTwo) {
    test::CapturedConsole cc;
    long calls = 0;
    const float s = qtrap(
        cc.con,
        [&](float x) {
            ++calls;
            return 2.0f * x + 1.0f;
        },
        1.0f, 3.0f, 1e-4f);
    EXPECT_EQ(s, 0.5f * 2.0f * (3.0f + 7.0f));  // stage 1 is already exact
    EXPECT_EQ(calls, evals_by_stage(2));
}

TEST(Qtrap, ConvergesOnASmoothIntegrand) {
    test::CapturedConsole cc;
    const float s = qtrap(cc.con, [](float x) { return std::sin(x); }, 0.0f, 3.14159265f, 1e-5f);
    EXPECT_NEAR(s, 2.0f, 1e-4f);
    EXPECT_TRUE(cc.out.str().empty());
}

TEST(Qtrap, NoConvergenceWarnsAndReturnsTheLastStage) {
    test::CapturedConsole cc;
    long calls = 0;
    // eps = 0: the relative test can never pass.
    const float s = qtrap(
        cc.con,
        [&](float x) {
            ++calls;
            return x;
        },
        0.0f, 2.0f, 0.0f);
    EXPECT_NEAR(s, 2.0f, 1e-4f);
    EXPECT_EQ(calls, evals_by_stage(20));
    EXPECT_EQ(cc.out_lines(), std::vector<std::string>{" too many steps in qtrap"});
}

TEST(Quad2d, RegionBetweenTwoCurves) {
    test::CapturedConsole cc;
    const float ss = quad2d(
        cc.con, 0.0f, 1.0f, [](float) { return 1.0f; }, [](float x) { return 2.0f + x; },
        [](float, float) { return 1.0f; }, 1e-4f);
    EXPECT_NEAR(ss, 1.5f, 1e-5f);
    EXPECT_TRUE(cc.out.str().empty());
}

TEST(Quad2d, IntegrandTakesXThenY) {
    test::CapturedConsole cc;
    // Integral over 0<=x<=1, 0<=y<=2 of x*y^2 = 1/2 * 8/3.
    const float ss = quad2d(
        cc.con, 0.0f, 1.0f, [](float) { return 0.0f; }, [](float) { return 2.0f; },
        [](float x, float y) { return x * y * y; }, 1e-5f);
    EXPECT_NEAR(ss, 4.0f / 3.0f, 1e-5f);
}

// A zero-width inner interval is 0 at once: no integrand call, no message.
TEST(Quad2d, ZeroWidthInnerIntervalIsZero) {
    test::CapturedConsole cc;
    long calls = 0;
    const float ss = quad2d(
        cc.con, 0.0f, 1.0f, [](float x) { return x; }, [](float x) { return x; },
        [&](float, float) {
            ++calls;
            return 1.0f;
        },
        1e-4f);
    EXPECT_EQ(ss, 0.0f);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(cc.out.str().empty());

    // Zero width only at some x: the rest integrates normally.
    const float tri = quad2d(
        cc.con, 0.0f, 1.0f, [](float) { return 0.0f; }, [](float x) { return x; },
        [](float, float) { return 1.0f; }, 1e-5f);
    EXPECT_NEAR(tri, 0.5f, 1e-6f);
    EXPECT_TRUE(cc.out.str().empty());
}

// Every inner integral that fails prints its line and returns its last
// extrapolation; the outer one goes on (here it converges at stage 5 since
// every inner integral has the same value).
TEST(Quad2d, InnerFailurePrintsOncePerInnerIntegral) {
    test::CapturedConsole cc;
    long inner = 0;
    const float ss = quad2d(
        cc.con, 0.0f, 2.0f,
        [&](float) {
            ++inner;
            return 0.0f;
        },
        [](float) { return 1.0f; }, [](float, float y) { return rough(y); }, 1e-4f);
    EXPECT_EQ(inner, evals_by_stage(5));
    const auto lines = cc.out_lines();
    EXPECT_EQ(lines, std::vector<std::string>(static_cast<std::size_t>(inner), " G_NEW: Too many steps"));
    // Each inner integral returned its stage-20 extrapolation.
    const float c = failed_extrapolation();
    EXPECT_NEAR(ss, 2.0f * c, 1e-3f * std::fabs(c));
}

TEST(Quad2d, OuterFailurePrintsOnceAndReturnsTheLastExtrapolation) {
    test::CapturedConsole cc;
    long inner = 0;
    const float ss = quad2d(
        cc.con, 0.0f, 1.0f,
        [&](float) {
            ++inner;
            return 0.0f;
        },
        [](float) { return 1.0f; }, [](float x, float) { return rough(x); }, 1e-4f);
    EXPECT_EQ(inner, evals_by_stage(20));
    EXPECT_EQ(cc.out_lines(), std::vector<std::string>{" QUAD2D: Too many steps"});
    const float c = failed_extrapolation();
    EXPECT_NEAR(ss, c, 1e-3f * std::fabs(c));
}

}  // namespace
}  // namespace qv
