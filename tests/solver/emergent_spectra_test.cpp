// Emergent spectra, their average over the viewing directions, the maps and
// the solver's spectrum and map files.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "solver/emergent_spectra.h"
#include "solver/ray_fixture.h"
#include "support/test_support.h"

namespace qv {
namespace {

using test::RayFixture;

constexpr double kPi = 3.141592653589793;

// A source of constant L_nu behind a constant optical depth.
EmergentSource flat_source(float lnu, float tau) {
    EmergentSource s;
    s.j_source = [lnu](float r, float) {
        return static_cast<float>(static_cast<double>(lnu) / (16.0 * kPi * kPi) /
                                  (static_cast<double>(r) * static_cast<double>(r)));
    };
    s.tau = [tau](float, float) { return tau; };
    return s;
}

void directions(SolverState& g, std::initializer_list<float> dirs) {
    g.ncted = 0;
    for (float d : dirs) g.dirarr(++g.ncted) = d;
}

// An optically thin sphere emits L_nu = 4 pi alpha S V; with no source light
// the absorbed-source spectrum takes the floor and the total follows the dust.
TEST(Genspe, ThinEmitter) {
    RayFixture fx(1.0e16f, 1.0e17f);
    const float S = 1.0e-3f, alpha = 1.0e-20f;
    fx.uniform(S, alpha);
    directions(fx.g, {30.0f});
    test::CapturedConsole cc;
    genspe(fx.g, flat_source(0.0f, 0.0f), 0, cc.con);
    const double r0 = 0.999 * double(fx.g.r0), R = double(fx.g.rmax);
    const double V = 4.0 / 3.0 * kPi * (R * R * R - r0 * r0 * r0);
    const double L = 4.0 * kPi * double(alpha) * double(S) * V;
    for (int nu = 1; nu <= kSolverNnu; ++nu) {
        EXPECT_NEAR(std::pow(10.0, double(fx.g.spdarr(nu, 1))) / L, 1.0, 0.03) << nu;
        EXPECT_EQ(fx.g.spcarr(nu, 1), -77.0f);
        EXPECT_EQ(fx.g.spsarr(nu, 1), -77.0f);
        EXPECT_EQ(fx.g.sptarr(nu, 1), fx.g.spdarr(nu, 1));
        EXPECT_EQ(fx.g.spdarr(nu, 0), fx.g.spdarr(nu, 1));  // one direction: a copy
    }
    EXPECT_EQ(fx.g.lcarr(1), -77.0f);  // no source light at all: the floor
    EXPECT_GT(fx.g.ldarr(1), 40.0f);
    EXPECT_TRUE(cc.out.str().empty());
}

// Without dust the source is seen as it is, and dimmed by exp(-tau) behind it.
TEST(Genspe, SourceBehindTheDust) {
    RayFixture fx(1.0e16f, 1.0e17f);
    fx.uniform(0.0f, 1.0e-18f);
    directions(fx.g, {0.0f, 90.0f});
    test::CapturedConsole cc;
    genspe(fx.g, flat_source(1.0e30f, 0.5f), 1, cc.con);
    for (int nu = 1; nu <= kSolverNnu; ++nu)
        for (int i = 1; i <= 2; ++i) {
            EXPECT_NEAR(fx.g.spsarr(nu, i), 30.0f, 1.0e-4f);
            EXPECT_NEAR(fx.g.spcarr(nu, i), 30.0f - 0.5f / std::log(10.0f), 1.0e-4f);
            EXPECT_EQ(fx.g.spdarr(nu, i), -77.0f);
            EXPECT_EQ(fx.g.tuarr(nu, i), 0.5f);
        }
    // Verbose: one line per frequency and direction, three spectra and three zeros.
    const std::vector<std::string> lines = cc.out_lines();
    ASSERT_EQ(lines.size(), 2u * kSolverNnu);
    EXPECT_EQ(lines[0].substr(0, 27), "  1   29.78  -77.00   29.78");
    EXPECT_EQ(lines[0].size(), 27u + 30u);
}

// Column 0 is 0.25 x the cos-weighted sum over the directions (half the mean
// over a hemisphere), where the solver log's bolometric values take 0.5.
TEST(Genspe, DirectionAverageConventions) {
    SolverState g;
    directions(g, {0.0f, 90.0f});
    const float A = 44.0f;
    const float sum05 = direction_sum(g, [&](int) { return A; }, 0.5f, 0.017453294f);
    EXPECT_NEAR(sum05, std::pow(10.0f, A - 46.0f), 1.0e-6f);
    RayFixture fx(1.0e16f, 1.0e17f);
    fx.uniform(1.0e-3f, 1.0e-20f);
    directions(fx.g, {0.0f, 90.0f});
    test::CapturedConsole cc;
    genspe(fx.g, flat_source(1.0e30f, 0.2f), 0, cc.con);
    for (int nu = 1; nu <= kSolverNnu; ++nu) {
        EXPECT_NEAR(fx.g.spdarr(nu, 0), fx.g.spdarr(nu, 1) - std::log10(2.0f), 1.0e-4f);
        EXPECT_NEAR(fx.g.spcarr(nu, 0), fx.g.spcarr(nu, 1) - std::log10(2.0f), 1.0e-4f);
    }
    directions(g, {45.0f});
    EXPECT_EQ(direction_sum(g, [&](int) { return A; }, 0.5f, 0.017453294f), 0.0f);
}

// A sphere whose source function and extinction vary with radius and frequency.
RayFixture varied_sphere() {
    RayFixture fx(1.0e16f, 3.0e17f);
    fx.lay([](float r, int k) { return 1.0e-3f * std::pow(1.0e16f / r, 1.5f) * float(k); },
           [](float r, int k) { return 2.0e-17f * float(k) * float(k) / 54.0f * 1.0e16f / r; });
    return fx;
}

// The spectra seen from three directions (one within a degree of the axis,
// one azimuth only) agree, through the general path that finds every point's
// polar angle; the shared path gives the same spectra.
TEST(Genspe, ViewingDirectionsAgreeAndPathsAgree) {
    RayFixture fx = varied_sphere();
    directions(fx.g, {0.0f, 50.0f, 90.0f});
    test::CapturedConsole cc;
    SolverState general = fx.g;
    genspe(general, flat_source(1.0e28f, 0.3f), 0, cc.con, RayPath::general);
    genspe(fx.g, flat_source(1.0e28f, 0.3f), 0, cc.con, RayPath::shared);
    for (int nu = 1; nu <= kSolverNnu; ++nu) {
        for (int i = 2; i <= 3; ++i)
            EXPECT_NEAR(general.spdarr(nu, i), general.spdarr(nu, 1), std::log10(1.005f))
                << nu << " " << i;
        for (int i = 1; i <= 3; ++i) {
            EXPECT_NEAR(fx.g.spdarr(nu, i), general.spdarr(nu, i), 1.0e-4f) << nu << " " << i;
            EXPECT_NEAR(fx.g.sptarr(nu, i), general.sptarr(nu, i), 1.0e-4f) << nu << " " << i;
        }
    }
    for (int i = 1; i <= 3; ++i) EXPECT_NEAR(fx.g.ldarr(i), general.ldarr(i), 1.0e-4f);
}

// The exterior ray through the centre of a sphere of ratio 1e7 crosses the
// cavity with steps of 2e-9 of its path from the observer and still ends. (The
// outer grid spacing is a third of rmax here, and the first step into the
// dust counts half: a few per cent low.)
TEST(Intrex, CentralRayThroughALargeCavity) {
    RayFixture fx(1.0e12f, 1.0e19f);
    const float alpha = 0.01f / fx.g.rmax;
    fx.uniform(1.0e-3f, alpha);
    const float D = 100.0f * fx.g.rmax;
    for (RayPath path : {RayPath::general, RayPath::shared}) {
        const float I = intrex(fx.g, D, 0.5f, 1, 1, kPi, 0.0, 1.0f, path);
        const float expect = 1.0e-3f * (1.0f - std::exp(-alpha * 2.0f * fx.g.rmax));
        EXPECT_NEAR(I, expect, 0.05f * expect);
    }
}

// The maps of a thin uniform sphere: the intensity of a ray is S alpha times
// its chord (less the cavity's), the same at every azimuth.
TEST(Mapvis, ThinSphereChords) {
    RayFixture fx(1.0e16f, 1.0e17f);
    const float S = 1.0e-3f, alpha = 1.0e-19f;
    fx.uniform(S, alpha);
    const float D = 100.0f * fx.g.rmax;
    const SolverMap m = mapvis(fx.g, D, 0.7f, 5);
    const double R = double(fx.g.rmax), r0 = double(fx.g.r0);
    for (int i = 0; i < 20; ++i) {
        const double b = double(m.rmap(i + 1)) * R;
        double chord = 2.0 * std::sqrt(R * R - b * b);
        if (b < r0) chord -= 2.0 * std::sqrt(r0 * r0 - b * b);
        EXPECT_NEAR(std::pow(10.0, double(m.iarr(i + 1, 1))) / (double(S * alpha) * chord), 1.0, 0.02) << i;
        for (int j = 1; j < 20; ++j) EXPECT_EQ(m.iarr(i + 1, j + 1), m.iarr(i + 1, 1));
    }
    EXPECT_NEAR(m.rmap(20), 0.99f, 1.0e-5f);
    EXPECT_NEAR(m.phimap(1), 0.01f, 1.0e-7f);
    EXPECT_NEAR(m.phimap(20), 3.131592654f, 1.0e-6f);
    // An empty map reads -77.7.
    RayFixture dark(1.0e16f, 1.0e17f);
    dark.uniform(0.0f, 1.0e-19f);
    EXPECT_EQ(mapvis(dark.g, D, 0.7f, 5).iarr(4, 5), -77.7f);
}

// The grid frequency of a map wavelength: the nearer of its two neighbours, a
// tie keeping the lower one, wavelength 0 at log10 nu = 13.47, and the ends of
// the grid for wavelengths beyond it.
TEST(MapIndex, Table) {
    RayFixture fx(1.0e16f, 1.0e17f);
    struct Case {
        float lam;
        int k;
    };
    const Case cases[] = {
        {0.0f, 26},     // 13.47: between 13.452 (k 25) and 13.477 (k 26), nearer 13.477
        {-5.0f, 26},    // any wavelength not positive
        {1.0f, 43},     // 14.477: between 14.398 (k 42) and 14.53 (k 43)
        {1.0e-9f, 54},  // log10 nu 23.5, beyond the grid's top
        {0.015f, 54},   // just beyond 16.3
        {1.0e9f, 1},    // log10 nu 5.5, below its bottom
    };
    for (const Case& c : cases) EXPECT_EQ(map_frequency_index(fx.g, c.lam), c.k) << c.lam;
    // A tie: 13.47 exactly halfway between two grid points keeps the lower one.
    for (int k = 1; k <= kSolverNnu; ++k) fx.g.lfarr(k) = 13.47f + 0.5f * (float(k) - 27.5f);
    EXPECT_EQ(fx.g.lfarr(28) - 13.47f, 13.47f - fx.g.lfarr(27));
    EXPECT_EQ(map_frequency_index(fx.g, 0.0f), 27);
}

// The header of the spectrum file and of one map, byte for byte.
TEST(SolverFiles, SpectrumFileHeader) {
    RayFixture fx(1.0e16f, 1.0e17f);
    SolverState& g = fx.g;
    directions(g, {0.0f, 90.0f});
    g.altau = 1.0f;
    g.al46tru = 3.827e-7f;  // 1e6 solar luminosities
    g.tc = 0.0f;
    g.r0 = 1.0e17f;
    g.rhoarr.fill(2.0e-21f);
    g.lcarr(1) = 45.0f;
    g.lcarr(2) = 44.5f;
    g.ldarr(1) = 43.25f;
    g.ldarr(2) = -77.0f;
    std::istringstream text(spectrum_file_text(g, 1.5f));
    std::vector<std::string> lines;
    for (std::string l; std::getline(text, l);) lines.push_back(l);
    const std::vector<std::string> head = {
        "         Tau      lambda log(L/Lsun)         Te          Ro        RHOo     MDdot15",
        "                [micron]                               [cm]     [g/cm^3]    [Msun/y]",
        "        1.50        1.00       6.000        0.00   0.100E+18   0.200E-20   0.598E-05",
        "",
        "Array #LCARR:",
        "    1     45.000    ",
        "    2     44.500    ",
        "",
        "Array #LDARR:",
        "    1     43.250    ",
        "    2    -77.000    ",
        "## Theta =       0.00  DEGREES (lognu,tot,dust,pri ass,pri (nu lnu), Pt, Pd, (Q/I)d:",
    };
    ASSERT_GE(lines.size(), head.size());
    for (std::size_t i = 0; i < head.size(); ++i) EXPECT_EQ(lines[i], head[i]) << i;
    // Two directions and the average: three tables of 54 lines under their titles.
    EXPECT_EQ(lines.size(), head.size() - 1 + 3u * 55u);
    EXPECT_EQ(lines[head.size() - 1 + 2 * 55],
              "## Theta = media sugli angoli richiesti (lognu,tot,dust,pri ass,pri (nu lnu):");
}

TEST(SolverFiles, MapFileHeader) {
    RayFixture fx(1.0e16f, 1.0e17f);
    fx.uniform(1.0e-3f, 1.0e-19f);
    directions(fx.g, {45.0f});
    fx.g.nmapd = 2;
    fx.g.lamarr(1) = 0.0f;
    fx.g.lamarr(2) = 100.0f;
    std::istringstream text(map_file_text(fx.g));
    std::vector<std::string> lines;
    for (std::string l; std::getline(text, l);) lines.push_back(l);
    // Per map: "#", the title, three blocks of 20 rows.
    ASSERT_EQ(lines.size(), 2u * (2u + 3u * 22u));
    EXPECT_EQ(lines[0], "#");
    EXPECT_EQ(lines[1], "#: 1 MAPPA A  10.003 MICRON IN DIR.  45.00 GRADI");
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[3], "Array RMAP  :");
    EXPECT_EQ(lines[25], "Array PHIMAP:");
    EXPECT_EQ(lines[26], "    1    0.10000E-01");
    EXPECT_EQ(lines[47], "Array IARR  :");
    EXPECT_EQ(lines[48].size(), 20u * 11u);
    EXPECT_EQ(lines[68], "#");
    EXPECT_EQ(lines[69].substr(0, 13), "#: 2 MAPPA A ");
}

}  // namespace
}  // namespace qv
