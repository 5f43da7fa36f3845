// Interior rays, the mean intensity of a grid point and the diffuse field.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/stop.h"
#include "solver/interior_rays.h"
#include "solver/ray_fixture.h"

namespace qv {
namespace {

using test::RayFixture;

constexpr float kPi = 3.141593f;

float ray(const SolverState& g, int ir, float theta, float phi = 0.0f,
          RayPath path = RayPath::automatic, int ict = 1) {
    RayAngles pr;
    pr.set_origin(g.ctarr(ict));
    return intray(g, ir, ict, 1, 1, theta, phi, pr, path);
}

// A radial outward ray through a uniform medium sees S (1 - exp(-alpha L)),
// L the path from the grid point to the outer radius.
TEST(InteriorRay, UniformMediumOutward) {
    struct Case {
        const char* name;
        float tau;  // alpha L
        float tol;
    };
    const Case cases[] = {{"thin", 0.01f, 0.01f}, {"tau about 1", 1.0f, 0.03f},
                          {"tau 3", 3.0f, 0.03f}};
    for (const Case& c : cases)
        for (RayPath path : {RayPath::general, RayPath::shared})
            for (int ir : {1, 20, 35}) {
                RayFixture fx(1.0e16f, 1.0e17f);
                const float L = fx.g.rmax - fx.g.rarr(ir);
                const float alpha = c.tau / L;
                fx.uniform(2.0e-3f, alpha);
                const float expect = 2.0e-3f * (1.0f - std::exp(-c.tau));
                EXPECT_NEAR(ray(fx.g, ir, 0.0f, 0.0f, path), expect, c.tol * expect)
                    << c.name << " from ir " << ir;
            }
}

// Deep inside a thick uniform medium every look direction sees the same intensity.
TEST(InteriorRay, ThickMediumIsotropic) {
    RayFixture fx(1.0e16f, 1.0e17f);
    fx.uniform(5.0e-4f, 1.0e-13f);  // optical depth 1 in 1e13 cm
    for (RayPath path : {RayPath::general, RayPath::shared}) {
        const float ref = ray(fx.g, 20, 0.0f, 0.0f, path, 5);
        EXPECT_GT(ref, 0.9f * 5.0e-4f);
        for (float theta : {0.3f, 1.0f, 1.5707964f, 2.2f, 2.9f, kPi})
            for (float phi : {0.0f, 1.1f, 4.0f})
                EXPECT_NEAR(ray(fx.g, 20, theta, phi, path, 5), ref, 1.0e-4f * ref)
                    << theta << " " << phi;
    }
}

// Where the optical depth passes 4 the ray ends, even though the contributions
// are still above 0.001 of the sum. With an extinction of 2^-50 per cm every
// step is one optical depth exactly (1/alpha is shorter than the grid spacing),
// so the sum is five trapezoids of S exp(-tau) at tau = 0..5, S linear in r.
TEST(InteriorRay, OpticalDepthFourEndsTheRay) {
    const float alpha = std::ldexp(1.0f, -50);
    const double h = std::ldexp(1.0, 50);
    RayFixture fx(1.0e16f, 1.0e18f);
    fx.lay([](float r, int) { return 1.0e-3f * r / 1.0e17f; }, [alpha](float, int) { return alpha; });
    const int ir = 20;
    ASSERT_GT(fx.g.rarr(ir + 1) - fx.g.rarr(ir), 6.0 * h);
    double sum = 0.0;
    for (int n = 1; n <= 5; ++n) {
        const double r = double(fx.g.rarr(ir));
        const double s0 = 1.0e-3 * (r + (n - 1) * h) / 1.0e17 * std::exp(-(n - 1.0));
        const double s1 = 1.0e-3 * (r + n * h) / 1.0e17 * std::exp(-double(n));
        sum += 0.5 * (s0 + s1);
    }
    for (RayPath path : {RayPath::general, RayPath::shared})
        EXPECT_NEAR(ray(fx.g, ir, 0.0f, 0.0f, path), sum, 1.0e-4 * sum);
}

// A ray from the outermost point looking out: its first step and the retry ten
// times shorter both leave rmax, so nothing is seen.
TEST(InteriorRay, LeavesAtOnce) {
    RayFixture fx(1.0e16f, 1.0e17f);
    fx.uniform(1.0e-3f, 1.0e-18f);
    EXPECT_EQ(ray(fx.g, 40, 0.0f), 0.0f);
}

// Looking straight in from the innermost point, the ray crosses the central
// cavity without optical depth and sees the far side's dust as the outward
// ray sees the near side.
TEST(InteriorRay, CrossesTheCavity) {
    for (float tau : {0.02f, 0.7f}) {
        RayFixture fx(1.0e16f, 1.0e17f);
        const float alpha = tau / (fx.g.rmax - fx.g.r0);
        fx.uniform(1.0e-3f, alpha);
        const float out = ray(fx.g, 1, 0.0f);
        const float in = ray(fx.g, 1, kPi);
        EXPECT_NEAR(in, out, 0.02f * out) << tau;
        // The cavity adds no extinction: the far side is not dimmed by 2 r0 of dust.
        const float dimmed = out * std::exp(-2.0f * fx.g.r0 * alpha);
        if (tau > 0.5f) {
            EXPECT_GT(in, dimmed);
        }
    }
}

// A ray starting among dust that does not emit (S = 0 up to rarr(10)) finds no
// contribution on its first points and must not stop there: it goes on to
// the emitting dust beyond, dimmed by the dust it crossed.
TEST(InteriorRay, StartsWhereNothingEmits) {
    RayFixture fx(1.0e16f, 1.0e17f);
    const float alpha = 1.0e-19f;
    const float edge = fx.g.rarr(10);
    fx.lay([edge](float r, int) { return r < edge ? 0.0f : 1.0e-3f; },
           [alpha](float, int) { return alpha; });
    for (RayPath path : {RayPath::general, RayPath::shared}) {
        const float I = ray(fx.g, 5, 0.0f, 0.0f, path);
        // S rises from 0 at rarr(9) to its value at rarr(10): half that interval counts.
        const float from = 0.5f * (fx.g.rarr(9) + edge);
        const float expect = 1.0e-3f * std::exp(-alpha * (from - fx.g.rarr(5))) *
                             (1.0f - std::exp(-alpha * (fx.g.rmax - from)));
        EXPECT_NEAR(I, expect, 0.03f * expect);
    }
}

// With an outer-to-inner ratio of 1e7 a ray from near the outer edge toward the
// centre still advances where its steps become tiny beside its path length
// (8-byte path length). It ends once the inner shells add less than 0.001 of
// its sum, having seen the near side.
TEST(InteriorRay, LargeRadiusRatioDoesNotStall) {
    RayFixture fx(1.0e12f, 1.0e19f);
    const float alpha = 0.01f / fx.g.rmax;
    fx.uniform(1.0e-3f, alpha);
    for (RayPath path : {RayPath::general, RayPath::shared}) {
        const float in = ray(fx.g, 39, kPi, 0.0f, path);
        const float near_side = 1.0e-3f * (1.0f - std::exp(-alpha * fx.g.rarr(39)));
        EXPECT_NEAR(in, near_side, 0.02f * near_side);
    }
}

// A step that makes no progress (two equal radii, an infinite extinction) stops
// with a message instead of looping for ever.
TEST(InteriorRay, StalledStepStops) {
    {
        RayFixture fx(1.0e16f, 1.0e17f);
        fx.uniform(1.0e-3f, 1.0e-18f);
        fx.g.rarr(21) = fx.g.rarr(20);
        try {
            ray(fx.g, 20, 0.0f);
            FAIL() << "no stop";
        } catch (const Stop& s) {
            EXPECT_NE(std::string(s.what()).find("intray: the ray step makes no progress"),
                      std::string::npos)
                << s.what();
            // The grid, not the extinction, stopped it.
            EXPECT_EQ(s.lines.size(), 1u);
        }
    }
    // An extinction that makes the step too short also names the clouds'
    // optical depth at 1 micron, the wavelength and the keys that set them,
    // saying in words an extinction that is not finite. (A finite one that
    // exhausts the steps is run end to end with the bad-input runs.)
    {
        RayFixture fx(1.0e16f, 1.0e17f);
        fx.uniform(1.0e-3f, INFINITY);
        fx.g.taue = 2.5f;
        fx.g.altau = 1.0f;
        fx.g.lfarr(1) = std::log10(3.0e14f / 0.1f);
        try {
            ray(fx.g, 20, 0.0f);
            FAIL() << "no stop";
        } catch (const Stop& s) {
            ASSERT_EQ(s.lines.size(), 3u);
            EXPECT_EQ(s.lines[0].rfind(" intray: the ray step makes no progress", 0), 0u) << s.lines[0];
            EXPECT_EQ(s.lines[1], " the clouds' optical depth at 1 micron is 2.5 and their extinction at 0.1 "
                                  "micron is not a finite number: the clouds are far too opaque for the ray steps");
            EXPECT_EQ(s.lines[2], " they are set by the grains and the PAH abundance xx of section MIXMOL, the MAIN "
                                  "keys mcloud and rcloud, and the cloud radii of section MC_LINE: make them less "
                                  "opaque");
        }
    }
}

// When every ray of a point sees the same intensity, the cap directions and J
// take it (the weights sum to 2 pi to 4 digits) and the net flux vanishes to
// the rounding of the tabulated directions.
TEST(Intmed, IsotropicFieldGivesItsIntensity) {
    RayFixture fx(1.0e16f, 1.0e17f);
    fx.uniform(5.0e-4f, 1.0e-13f);
    for (int ir : {1, 2, 3, 20, 39}) {
        float J = 0.0f, F = 0.0f;
        intmed(fx.g, ir, 1, 7, 1, J, F);
        const float I = ray(fx.g, ir, 1.0f);
        EXPECT_NEAR(fx.g.jdarr(ir, 1, 7, 1), I, 2.0e-4f * I) << ir;
        EXPECT_NEAR(fx.g.jdarr(ir, 1, 7, 2), I, 2.0e-4f * I) << ir;
        EXPECT_NEAR(J, I, 2.0e-4f * I) << ir;
        EXPECT_EQ(fx.g.jdarr(ir, 1, 7, 0), J);
        EXPECT_LT(std::fabs(F), 1.0e-2f * I) << ir;
    }
}

// The look angles of the polar cap toward the centre, worked out for a
// geometric grid from r0 to 100 r0 (rarr(j)/rarr(ir) = 100^((j - ir)/39)):
// straight in, two angles a third and two thirds of the way to the first
// entry, then pi - asin(rarr(j)/rarr(ir)) for the shells j = 3, 7, 11, ...
// while it stays above the cap's edge pi - (0.262 + 0.785)/2, which ends the
// list. The cap's two directions take the trapezoid in cos(theta) of the
// intensities seen at these angles, over a field bright near the centre that
// makes the intensity vary fast across the cap.
TEST(Intmed, LookAnglesOfTheCap) {
    struct Case {
        int ir;
        std::vector<float> theta;
    };
    const Case cases[] = {
        {3, {3.141593f, 2.967093f, 2.792593f, 2.618093f}},
        {12, {3.141593f, 3.023999f, 2.906404f, 2.788810f, 2.618093f}},
        {20, {3.141593f, 3.096677f, 3.051761f, 3.006846f, 2.924447f, 2.788810f, 2.618093f}},
        {40,
         {3.141593f, 3.137371f, 3.133149f, 3.128928f, 3.121280f, 3.109014f, 3.089331f, 3.057719f,
          3.006832f, 2.924425f, 2.788773f, 2.618093f}},
    };
    RayFixture fx(1.0e16f, 1.0e18f);
    const float alpha = 1.0e-3f / fx.g.rmax;
    fx.lay([](float r, int) { return 1.0e-3f * (1.0e16f / r) * (1.0e16f / r); },
           [alpha](float, int) { return alpha; });
    for (const Case& c : cases)
        for (RayPath path : {RayPath::general, RayPath::shared}) {
            double s = 0.0;
            for (std::size_t m = 0; m + 1 < c.theta.size(); ++m)
                s += (double(ray(fx.g, c.ir, c.theta[m], 0.0f, path)) +
                      double(ray(fx.g, c.ir, c.theta[m + 1], 0.0f, path))) *
                     (std::cos(double(c.theta[m])) - std::cos(double(c.theta[m + 1])));
            const double cap = -s * 0.78539824 / double(fx.g.omespi(1));
            float J = 0.0f, F = 0.0f;
            intmed(fx.g, c.ir, 1, 9, 1, J, F, path);
            EXPECT_NEAR(fx.g.jdarr(c.ir, 1, 9, 1), cap, 1.0e-4 * cap) << "ir " << c.ir;
            EXPECT_EQ(fx.g.jdarr(c.ir, 1, 9, 2), fx.g.jdarr(c.ir, 1, 9, 1)) << "ir " << c.ir;
        }
}

// In a thin uniform sphere the diffuse flux points outward and grows with the
// radius (more emitting volume inside), while J falls off toward the edge.
TEST(Genjd, ThinSphereFluxAndField) {
    RayFixture fx(1.0e16f, 1.0e17f);
    fx.uniform(1.0e-3f, 1.0e-20f);
    for (int k = 1; k <= kSolverNnu; ++k)
        for (int ir = 1; ir <= kSolverNr; ++ir) fx.g.jnarr(ir, 1, k) = 1.0e-6f;
    genjd(fx.g);
    for (int ir = 2; ir <= kSolverNr; ++ir) {
        // Flux of the direct field plus the diffuse flux.
        const float Fd = fx.g.farr(ir, 1, 5) - 12.566372f * 1.0e-6f;
        EXPECT_GT(Fd, 0.0f) << ir;
        EXPECT_EQ(fx.g.jarr(ir, 1, 5, 0), 1.0e-6f + fx.g.jdarr(ir, 1, 5, 0));
        EXPECT_EQ(fx.g.farr(ir, 24, 5), fx.g.farr(ir, 1, 5));
        EXPECT_EQ(fx.g.jdarr(ir, 13, 5, 26), fx.g.jdarr(ir, 1, 5, 26));
    }
    EXPECT_LT(fx.g.jdarr(40, 1, 5, 0), fx.g.jdarr(1, 1, 5, 0));
    // J at the inner edge of a thin uniform shell is S alpha times the mean
    // path: R (1 - p^2/(3 R^2)) to the outer radius, less the mean chord r0/2
    // that the cavity takes (p = r0).
    const float R = fx.g.rmax, p = fx.g.r0;
    const float jc = 1.0e-3f * 1.0e-20f * (R * (1.0f - p * p / (3.0f * R * R)) - p / 2.0f);
    EXPECT_NEAR(fx.g.jdarr(1, 1, 5, 0), jc, 0.03f * jc);
}

// The path that reads only radii agrees with the path that finds every
// point's polar angle, on a field that varies with radius and frequency.
TEST(Genjd, SharedPathAgreesWithGeneral) {
    RayFixture fx(1.0e16f, 3.0e17f);
    fx.lay([](float r, int k) { return 1.0e-3f * std::pow(1.0e16f / r, 1.5f) * float(k); },
           [](float r, int k) { return 3.0e-17f * float(k) * float(k) / 50.0f * 1.0e16f / r; });
    for (int k = 1; k <= kSolverNnu; ++k)
        for (int ir = 1; ir <= kSolverNr; ++ir) fx.g.jnarr(ir, 1, k) = 1.0e-9f;
    EXPECT_TRUE(field_is_angle_free(fx.g));
    SolverState general = fx.g;
    genjd(general, RayPath::general);
    genjd(fx.g, RayPath::shared);
    for (int k = 1; k <= kSolverNnu; k += 4)
        for (int ir = 1; ir <= kSolverNr; ++ir) {
            const float a = general.jdarr(ir, 1, k, 0);
            EXPECT_NEAR(fx.g.jdarr(ir, 1, k, 0), a, 1.0e-4f * a) << ir << " " << k;
            const float f = general.farr(ir, 1, k);
            EXPECT_NEAR(fx.g.farr(ir, 1, k), f, 1.0e-4f * std::fabs(f) + 1.0e-12f)
                << ir << " " << k;
        }
}

// The symmetry check sees a field that depends on the polar angle and an inner
// edge that moves with it.
TEST(Genjd, SymmetryCheck) {
    RayFixture fx(1.0e16f, 1.0e17f);
    fx.uniform(1.0e-3f, 1.0e-18f);
    EXPECT_TRUE(field_is_angle_free(fx.g));
    EXPECT_TRUE(use_shared_path(fx.g, RayPath::automatic));
    EXPECT_FALSE(use_shared_path(fx.g, RayPath::general));
    SolverState a = fx.g;
    a.sarr(7, 3, 9) *= 1.5f;
    EXPECT_FALSE(field_is_angle_free(a));
    SolverState b = fx.g;
    b.rsgra(5, 1) *= 1.1f;
    EXPECT_FALSE(field_is_angle_free(b));
    SolverState c = fx.g;
    c.simsfe = false;
    EXPECT_FALSE(use_shared_path(c, RayPath::automatic));
}

TEST(Clejd, ClearsTheDiffuseField) {
    SolverState g;
    g.jdarr.fill(3.0f);
    clejd(g.jdarr, kSolverNr, kSolverNct, kSolverNnu, kSolverNdir);
    for (float v : g.jdarr.storage()) ASSERT_EQ(v, 0.0f);
}

}  // namespace
}  // namespace qv
