// The dust frequency grid with its PAH band points, the stellar spectrum on the
// SSP grid, and its rebinning onto the dust grid.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/run.h"
#include "core/stop.h"
#include "dust/dust_grid.h"
#include "dust/pah_profiles.h"
#include "support/test_support.h"

namespace qv {
namespace {

double dbl(float x) { return x; }

std::string stop_text(const Stop& s) {
    std::string t;
    for (const auto& l : s.lines) t += l + "\n";
    return t;
}

// A run holding only what the grid and the rebinning read.
struct GridRun {
    test::CapturedConsole cc;
    Run run{cc.con};

    // SSP wavelengths from w1 to w2 Angstrom, equal steps in log wavelength.
    void log_wave(int n, float w1, float w2) {
        std::vector<float> w(static_cast<std::size_t>(n));
        for (int k = 0; k < n; ++k)
            w[static_cast<std::size_t>(k)] = static_cast<float>(
                dbl(w1) * std::pow(dbl(w2) / dbl(w1), static_cast<double>(k) / (n - 1)));
        set_wave(w);
    }
    void set_wave(const std::vector<float>& w) {
        BirthGrid& r = run.remind;
        r.nlam = static_cast<int>(w.size());
        r.wave.resize(r.nlam);
        for (int k = 1; k <= r.nlam; ++k) r.wave(k) = w[static_cast<std::size_t>(k - 1)];
    }
    // The grid for the MAIN key nlf = n0.
    void grid(int n0, bool pah) {
        run.modname.pahflag = pah;
        run.glopalla.nlf = n0 + 18 + (pah ? 120 : 0);
        pah_band_grid(run.glopah);
        build_dust_grid(run);
    }
    // Dust-grid wavelengths set by hand (one component).
    void dust_points(const std::vector<float>& ws) {
        CloudSetup& gp = run.glopalla;
        gp.nlf = static_cast<int>(ws.size());
        gp.ws.resize(gp.nlf);
        for (int i = 1; i <= gp.nlf; ++i) gp.ws(i) = ws[static_cast<std::size_t>(i - 1)];
    }
    // One-component spectrum on the SSP grid.
    Mat<float> spectrum(const std::vector<float>& v) const {
        Mat<float> l(run.remind.nlam, run.remind.ncom);
        for (int k = 1; k <= run.remind.nlam; ++k)
            for (int c = 1; c <= run.remind.ncom; ++c) l(k, c) = v[static_cast<std::size_t>(k - 1)];
        return l;
    }
    Mat<float> rebin(const Mat<float>& l) {
        Mat<float> lum;
        rebin_to_dust_grid(run, l, lum);
        return lum;
    }
};

// The 100 equally spaced points from f_lo to f_hi, the 18 feature points and,
// with the PAH bands, five points per band, sorted (double precision).
std::vector<double> expected_grid(double f_lo, double f_hi, int n0, const PahBands* pah) {
    std::vector<double> g;
    for (int i = 1; i <= n0; ++i) g.push_back(f_lo + (i - 1) * (f_hi - f_lo) / (n0 - 1));
    for (float lam : RunParameters::lam_fea) g.push_back(std::log10(3e14 / dbl(lam)));
    if (pah) {
        for (int k = 1; k <= 24; ++k) {
            const double lami = pah->lami(k), dl = pah->dlami(k);
            const double nu = 3e14 / lami;
            const double dnu = 3e14 * (1.0 / (lami - dl / 2) - 1.0 / (lami + dl / 2));
            for (double f : {-0.0265, -0.025, 0.0, 0.025, 0.0265}) g.push_back(std::log10(nu + f * dnu));
        }
    }
    std::sort(g.begin(), g.end());
    return g;
}

void expect_grid(const CloudSetup& gp, const std::vector<double>& want) {
    ASSERT_EQ(gp.nlf, static_cast<int>(want.size()));
    for (int i = 1; i <= gp.nlf; ++i) {
        EXPECT_NEAR(dbl(gp.lfarr(i)), want[static_cast<std::size_t>(i - 1)], 2e-6) << "point " << i;
        if (i > 1) {
            EXPECT_LE(gp.lfarr(i - 1), gp.lfarr(i)) << "point " << i;
        }
        EXPECT_NEAR(dbl(gp.farr(i)), std::pow(10.0, dbl(gp.lfarr(i))), 1e-6 * dbl(gp.farr(i)));
        EXPECT_NEAR(dbl(gp.ws(gp.nlf + 1 - i)) * dbl(gp.farr(i)), 3e18, 3e18 * 1e-6) << "point " << i;
    }
}

// ---------------------------------------------------------------------------
// The PAH band grid.

TEST(PahBandGrid, FrequenciesAndWidthsOfTheBands) {
    PahBands pah;
    pah_band_grid(pah);
    for (int k = 1; k <= 24; ++k) {
        const double lami = pah.lami(k), dl = pah.dlami(k);
        EXPECT_NEAR(dbl(pah.nui(k)), 3e14 / lami, 1e-6 * 3e14 / lami);
        const double dnu = 3e14 * (1.0 / (lami - dl / 2) - 1.0 / (lami + dl / 2));
        EXPECT_NEAR(dbl(pah.dnui(k)), dnu, 1e-4 * dnu) << "band " << k;
        EXPECT_NEAR(dbl(pah.lnui(k)), std::log10(3e14 / lami), 1e-6);
    }
    // 3.3 micron: 9.0909e13 Hz, width 3e14 x 0.0396 / (3.3^2 - 0.0198^2).
    EXPECT_NEAR(dbl(pah.nui(1)), 9.0909e13, 1e9);
    EXPECT_NEAR(dbl(pah.dnui(1)), 1.090948e12, 5e7);
}

// ---------------------------------------------------------------------------
// The dust frequency grid.

TEST(DustGrid, WithoutPahBands118PointsForKey100) {
    GridRun g;
    g.log_wave(300, 91.0f, 9e7f);
    g.grid(100, false);
    const double f_lo = std::log10(3e18 / dbl(9e7f));
    expect_grid(g.run.glopalla, expected_grid(f_lo, 16.25, 100, nullptr));
    EXPECT_EQ(g.run.glopalla.nlf, 118);
    EXPECT_FLOAT_EQ(g.run.glopalla.lfarr(1), static_cast<float>(f_lo));
    EXPECT_FLOAT_EQ(g.run.glopalla.lfarr(118), 16.25f);
    // The band positions are not set without the PAH points.
    for (int k = 1; k <= 24; ++k) EXPECT_EQ(g.run.glopah.indpah(k), 0);
}

TEST(DustGrid, WithPahBands238PointsAndFivePointsPerBand) {
    GridRun g;
    g.log_wave(300, 91.0f, 9e7f);
    g.grid(100, true);
    const CloudSetup& gp = g.run.glopalla;
    const PahBands& pah = g.run.glopah;
    const double f_lo = std::log10(3e18 / dbl(9e7f));
    expect_grid(gp, expected_grid(f_lo, 16.25, 100, &pah));
    EXPECT_EQ(gp.nlf, 238);
    for (int k = 1; k <= 24; ++k) {
        const int c = pah.indpah(k);
        ASSERT_GE(c, 3);
        ASSERT_LE(c, gp.nlf - 2);
        // The centre is the band wavelength; its four neighbours in ws are the
        // band's other points, at 0.025 and 0.0265 band widths.
        EXPECT_NEAR(dbl(gp.ws(c)), 3e18 / dbl(pah.nui(k)), 1e-5 * 3e18 / dbl(pah.nui(k))) << "band " << k;
        const double nu = pah.nui(k), dnu = pah.dnui(k);
        const double f[5] = {0.0265, 0.025, 0.0, -0.025, -0.0265};  // ascending wavelength
        for (int m = 0; m < 5; ++m)
            EXPECT_NEAR(dbl(gp.ws(c - 2 + m)), 3e18 / (nu + f[m] * dnu), 1e-5 * dbl(gp.ws(c)))
                << "band " << k << " point " << m;
    }
    // ws ascends in wavelength: band 1 (3.3 micron) comes first.
    EXPECT_LT(pah.indpah(1), pah.indpah(24));
}

struct EndCase {
    float wmin, wmax;
    double f_lo, f_hi;
};

TEST(DustGrid, EndsClampedTo10_7And16_25) {
    const EndCase cases[] = {
        {91.0f, 1e6f, 10.7, 16.25},                       // not 12.48 and 16.52
        {91.0f, 3e9f, 9.0, 16.25},                        // a longer grid reaches lower
        {200.0f, 1e8f, std::log10(3e10), std::log10(1.5e16)},  // neither end clamped
    };
    for (const EndCase& c : cases) {
        GridRun g;
        g.log_wave(50, c.wmin, c.wmax);
        g.grid(100, false);
        const CloudSetup& gp = g.run.glopalla;
        EXPECT_NEAR(dbl(gp.lfarr(1)), c.f_lo, 2e-6) << c.wmin << " " << c.wmax;
        EXPECT_NEAR(dbl(gp.lfarr(gp.nlf)), c.f_hi, 2e-6) << c.wmin << " " << c.wmax;
        EXPECT_NEAR(dbl(gp.ws(1)), 3e18 / std::pow(10.0, c.f_hi), 1e-5 * dbl(gp.ws(1)));
        EXPECT_NEAR(dbl(gp.ws(gp.nlf)), 3e18 / std::pow(10.0, c.f_lo), 1e-5 * dbl(gp.ws(gp.nlf)));
    }
}

TEST(DustGrid, TheEndsComeFromTheWholeWavelengthList) {
    // The shortest and longest wavelengths, wherever they stand in the list.
    GridRun g;
    g.set_wave({1000.0f, 91.0f, 5e5f, 1e8f, 2e4f});
    g.grid(10, false);
    EXPECT_NEAR(dbl(g.run.glopalla.lfarr(1)), std::log10(3e10), 2e-6);
    EXPECT_NEAR(dbl(g.run.glopalla.lfarr(g.run.glopalla.nlf)), 16.25, 2e-6);
}

TEST(DustGrid, KeyNlfBelowTwoStopsNamingTheKey) {
    for (bool pah : {false, true}) {
        for (int n0 : {1, 0, -20}) {
            GridRun g;
            g.log_wave(50, 91.0f, 1e7f);
            g.run.modname.pahflag = pah;
            g.run.glopalla.nlf = n0 + 18 + (pah ? 120 : 0);
            try {
                dust_grid_key_points(g.run);
                FAIL() << "no stop for nlf " << n0;
            } catch (const Stop& s) {
                ASSERT_EQ(s.lines.size(), 1u);
                EXPECT_EQ(s.lines[0].rfind(" FATAL ERROR: key nlf = " + std::to_string(n0) + " is below 2", 0), 0u)
                    << s.lines[0];
            }
        }
    }
    GridRun g;
    g.run.glopalla.nlf = 2 + 18;
    EXPECT_EQ(dust_grid_key_points(g.run), 2);
}

TEST(DustGrid, OneSspWavelengthIsNotEnough) {
    GridRun g;
    g.set_wave({5000.0f});
    try {
        g.grid(100, false);
        FAIL() << "no stop";
    } catch (const Stop& s) {
        EXPECT_NE(stop_text(s).find("the SSP wavelength grid holds 1 wavelength(s)"), std::string::npos);
    }
    g.dust_points({5000.0f});
    EXPECT_THROW(g.rebin(g.spectrum({1.0f})), Stop);
}

TEST(DustGrid, TwoPointsGiveJustTheEnds) {
    GridRun g;
    g.log_wave(50, 91.0f, 1e7f);
    g.grid(2, false);
    expect_grid(g.run.glopalla, expected_grid(10.7, 16.25, 2, nullptr));
}

// Every band's spikes put on the grid by row, as the cirrus and the clouds add
// them, then measured by the PAH profile step: each band must come back with its
// own height, whatever grid points fall among its five points.
void expect_bands_measured(GridRun& g, int n0) {
    const CloudSetup& gp = g.run.glopalla;
    PahProfileWork& w = g.run.pahpro;
    w.nrow = gp.nlf;
    w.table.resize(w.nrow, 9);
    w.lam.resize(24);
    w.dlam.resize(24);
    w.lumpah.resize(24, 9);
    for (int i = 1; i <= gp.nlf; ++i) {
        w.table(i, 1) = gp.ws(i);
        w.table(i, 5) = 1.0f + 1e-3f * static_cast<float>(i);  // a smooth continuum
    }
    for (int k = 1; k <= 24; ++k) {
        w.dlam(k) = 1.0f;
        const int c = g.run.glopah.indpah(k);
        for (int d = -1; d <= 1; ++d) w.table(c + d, 5) += static_cast<float>(k);
    }
    pahpro::profile(g.run, 5);
    for (int k = 1; k <= 24; ++k)
        EXPECT_NEAR(dbl(w.lumpah(k, 5)), k, 1e-3) << "nlf " << n0 << " band " << k;
}

TEST(DustGrid, EveryKeyNlfKeepsTheBandsMeasurable) {
    // On the example's wavelengths (91 to 9e7 Angstrom), grid points fall among
    // the five points of some band for about half of these keys (200 and 333
    // among them); the profile step still reads each band's own rows.
    for (int n0 = 20; n0 <= 400; ++n0) {
        GridRun g;
        g.log_wave(300, 91.0f, 9e7f);
        ASSERT_NO_THROW(g.grid(n0, true)) << "nlf " << n0;
        expect_bands_measured(g, n0);
        if (HasFailure()) return;
    }
}

TEST(DustGrid, AGridEndAtABandCentreRuns) {
    // The shortest SSP wavelength at the 7.417 micron band puts the top of the
    // equally spaced grid (f_hi) among that band's points.
    GridRun g;
    g.log_wave(50, 7.417e4f, 1e7f);
    ASSERT_NO_THROW(g.grid(100, true));
    expect_bands_measured(g, 100);
}

TEST(DustGrid, BandsWhoseRowsOverlapStop) {
    // Two band centres closer than four rows would read each other's spikes as
    // their continuum. The built-in bands never interleave; a band moved next to
    // another shows the stop.
    GridRun g;
    g.log_wave(300, 91.0f, 9e7f);
    g.run.glopah.lami(13) = 11.2302f;
    try {
        g.grid(100, true);
        FAIL() << "no stop";
    } catch (const Stop& s) {
        const std::string t = stop_text(s);
        EXPECT_NE(t.find("FATAL ERROR: the centres of PAH bands 12 (11.23 micron) and 13 (11.2302 micron) lie"),
                  std::string::npos)
            << t;
        EXPECT_NE(t.find("change the key nlf (now 100)"), std::string::npos) << t;
    }
}

// ---------------------------------------------------------------------------
// The stellar spectrum on the SSP grid.

TEST(StellarSpectrum, TrapezoidOverTheBirthTimes) {
    GridRun g;
    BirthGrid& r = g.run.remind;
    g.set_wave({1000.0f, 2000.0f});
    r.ncom = 2;
    r.icall = 3;
    r.tbirth.resize(4);
    r.sfrate.resize(4, 2);
    r.flsspint.resize(2, 4, 2);
    const float tb[3] = {0.0f, 1.0f, 3.0f};
    for (int j = 1; j <= 3; ++j) {
        r.tbirth(j) = tb[j - 1];
        r.sfrate(j, 1) = 1.0f;
        r.sfrate(j, 2) = j == 1 ? 0.0f : 2.0f;
        for (int l = 1; l <= 2; ++l) {
            r.flsspint(l, j, 1) = 1.0f;
            r.flsspint(l, j, 2) = static_cast<float>(j * l);
        }
    }
    // A fourth birth time beyond icall is not used.
    r.tbirth(4) = 10.0f;
    r.sfrate(4, 1) = r.sfrate(4, 2) = 100.0f;
    Mat<float> l;
    stellar_spectrum(g.run, 1e-12f, l);
    // Component 1: 0.5 ((1+1) x 1 + (1+1) x 2) = 3. Component 2 at l = 1:
    // 0.5 ((0 + 2x2) x 1 + (2x2 + 2x3) x 2) = 12, and twice that at l = 2.
    EXPECT_FLOAT_EQ(l(1, 1), 3.0f);
    EXPECT_FLOAT_EQ(l(2, 1), 3.0f);
    EXPECT_FLOAT_EQ(l(1, 2), 12.0f);
    EXPECT_FLOAT_EQ(l(2, 2), 24.0f);

    // Fewer than two birth times: no light.
    r.icall = 1;
    stellar_spectrum(g.run, 1e-12f, l);
    for (int k = 1; k <= 2; ++k)
        for (int c = 1; c <= 2; ++c) EXPECT_EQ(l(k, c), 0.0f);
}

// ---------------------------------------------------------------------------
// Rebinning onto the dust grid.

TEST(Rebinning, WindowMeanWhereTheWindowHoldsThreeOrMoreIntervals) {
    // Uniform grid of 100 Angstrom and a spectrum linear in wavelength: the
    // trapezoid mean over the window [wave(klo), wave(khi)] is the value at its
    // middle, klo and khi being the brackets of 0.97 w and 1.03 w.
    GridRun g;
    std::vector<float> w, v;
    for (int k = 1; k <= 2000; ++k) {
        w.push_back(100.0f * static_cast<float>(k));
        v.push_back(3.0f + 0.01f * w.back());
    }
    g.set_wave(w);
    g.dust_points({5000.0f, 12345.0f, 50050.0f});
    const Mat<float> lum = g.rebin(g.spectrum(v));
    const double ws[3] = {5000.0, 12345.0, 50050.0};
    for (int i = 1; i <= 3; ++i) {
        const double klo = std::floor(0.97 * ws[i - 1] / 100.0), khi = std::floor(1.03 * ws[i - 1] / 100.0);
        const double want = 3.0 + 0.01 * 100.0 * (klo + khi) / 2.0;
        EXPECT_NEAR(dbl(lum(i, 1)), want, 1e-5 * want) << "point " << i;
    }
    EXPECT_GE(g.run.glopalla.kd, 3);
}

TEST(Rebinning, LogLinearOnACoarseGrid) {
    // Steps of 20%: at most one interval in the window. A spectrum whose log is
    // linear in wavelength is met exactly, between the SSP points and on them.
    GridRun g;
    std::vector<float> w, v;
    for (int k = 0; k < 21; ++k) {
        w.push_back(static_cast<float>(1000.0 * std::pow(1.2, k)));
        v.push_back(static_cast<float>(std::pow(10.0, 1.0 + 2e-5 * dbl(w.back()))));
    }
    g.set_wave(w);
    const std::vector<float> pts = {1000.0f, 1100.0f, 5000.0f, 17777.0f, w[10], 37000.0f, w[20]};
    g.dust_points(pts);
    const Mat<float> lum = g.rebin(g.spectrum(v));
    for (int i = 1; i <= static_cast<int>(pts.size()); ++i) {
        const double want = std::pow(10.0, 1.0 + 2e-5 * dbl(pts[static_cast<std::size_t>(i - 1)]));
        EXPECT_NEAR(dbl(lum(i, 1)), want, 1e-5 * want) << "point " << i;
    }
}

struct KdCase {
    std::vector<float> wave;
    int kd;
    bool mean;
};

TEST(Rebinning, ThreeIntervalsTakeTheMeanTwoTheLogLinearValue) {
    // One dust point at 10000 Angstrom, window 9700..10300; spectrum 1 + (w/1000)^2.
    auto f = [](double w) { return 1.0 + (w / 1000.0) * (w / 1000.0); };
    const KdCase cases[] = {
        {{9000.0f, 9600.0f, 9800.0f, 10000.0f, 10200.0f, 10400.0f, 11000.0f}, 3, true},
        {{9000.0f, 9600.0f, 9900.0f, 10250.0f, 11000.0f}, 2, false},
        {{9000.0f, 9600.0f, 10500.0f, 11000.0f}, 0, false},
    };
    for (const KdCase& c : cases) {
        GridRun g;
        g.set_wave(c.wave);
        std::vector<float> v;
        for (float x : c.wave) v.push_back(static_cast<float>(f(dbl(x))));
        g.dust_points({10000.0f});
        const Mat<float> lum = g.rebin(g.spectrum(v));
        EXPECT_EQ(g.run.glopalla.kd, c.kd);
        double want;
        if (c.mean) {
            // Trapezoid over 9600..10200 divided by its width.
            double s = 0.0;
            for (int k = 1; k <= 3; ++k) s += dbl(v[k] + v[k + 1]) * dbl(c.wave[k + 1] - c.wave[k]) * 0.5;
            want = s / 600.0;
        } else {
            // On the interval that starts at 9600 (beyond its end for kd = 2).
            const double f1 = std::log10(dbl(v[1])), f2 = std::log10(dbl(v[2]));
            want = std::pow(10.0, f1 + (f2 - f1) * (10000.0 - 9600.0) / dbl(c.wave[2] - c.wave[1]));
        }
        EXPECT_NEAR(dbl(lum(1, 1)), want, 1e-5 * want) << "kd " << c.kd;
    }
}

TEST(Rebinning, ZeroValuesCountAsLog10MinusThirty) {
    GridRun g;
    g.set_wave({1000.0f, 2000.0f, 4000.0f});
    g.dust_points({1500.0f});
    const Mat<float> lum = g.rebin(g.spectrum({0.0f, 1.0f, 1.0f}));
    EXPECT_NEAR(dbl(lum(1, 1)), 1e-15, 1e-19);
}

TEST(Rebinning, TheResultDoesNotDependOnEarlierSearches) {
    // 0.97 x 10000 is an SSP wavelength exactly, where the search lands on
    // either side of the entry depending on its starting guess; whatever the
    // window guesses hold before the call, the result is that of a fresh search.
    GridRun g;
    const float hit = 0.97f * 10000.0f;
    g.set_wave({5000.0f, hit, 12000.0f, 20000.0f});
    g.dust_points({10000.0f});
    const Mat<float> l = g.spectrum({1.0f, 10.0f, 2.0f, 5.0f});
    g.run.glopalla.klo = 0;
    g.run.glopalla.khi = 0;
    const Mat<float> fresh = g.rebin(l);
    for (int guess : {2, 1, 3, 4, -7, 1000}) {
        g.run.glopalla.klo = guess;
        g.run.glopalla.khi = guess;
        const Mat<float> again = g.rebin(l);
        EXPECT_EQ(again(1, 1), fresh(1, 1)) << "guess " << guess;
    }
    // The two sides give different values here, so the test can tell.
    EXPECT_EQ(g.run.glopalla.klo, 1);
}

TEST(Rebinning, BeyondTheLastWavelengthTheLightNeverExceedsTheLastValue) {
    GridRun g;
    std::vector<float> w;
    for (int k = 1; k <= 10; ++k) w.push_back(1000.0f * static_cast<float>(k));
    g.set_wave(w);
    g.dust_points({10000.0f, 10100.0f, 1e5f, 1e7f, 6e7f});
    // Rising into the end: the straight line in log L would overflow; it is held
    // at the last value (and meets it at the last wavelength).
    std::vector<float> rising(10, 1.0f);
    rising[9] = 10.0f;
    const Mat<float> up = g.rebin(g.spectrum(rising));
    for (int i = 1; i <= 5; ++i) {
        EXPECT_TRUE(std::isfinite(up(i, 1))) << "point " << i;
        EXPECT_NEAR(dbl(up(i, 1)), 10.0, 1e-5) << "point " << i;
    }
    // Falling into the end: the extrapolation is kept as it is and fades.
    std::vector<float> falling(10, 10.0f);
    falling[9] = 1.0f;
    g.dust_points({10500.0f, 1e7f});
    const Mat<float> down = g.rebin(g.spectrum(falling));
    EXPECT_NEAR(dbl(down(1, 1)), std::pow(10.0, -0.5), 1e-6);
    EXPECT_GE(down(2, 1), 0.0f);
    EXPECT_LT(down(2, 1), 1e-30f);
}

TEST(Rebinning, BeforeTheFirstWavelengthTheLightNeverExceedsTheFirstValue) {
    GridRun g;
    g.set_wave({1000.0f, 2000.0f, 3000.0f, 4000.0f});
    g.dust_points({20.0f, 500.0f, 1000.0f});
    // Falling with wavelength at the start: held at the first value.
    const Mat<float> held = g.rebin(g.spectrum({10.0f, 1.0f, 1.0f, 1.0f}));
    for (int i = 1; i <= 3; ++i) EXPECT_NEAR(dbl(held(i, 1)), 10.0, 1e-5) << "point " << i;
    // Rising with wavelength: the extrapolation fades and is kept.
    const Mat<float> kept = g.rebin(g.spectrum({1.0f, 10.0f, 10.0f, 10.0f}));
    EXPECT_NEAR(dbl(kept(2, 1)), std::pow(10.0, -0.5), 1e-6);
    EXPECT_NEAR(dbl(kept(1, 1)), std::pow(10.0, -0.98), 1e-6);
}

TEST(Rebinning, EveryComponentIsRebinned) {
    GridRun g;
    g.run.remind.ncom = 2;
    g.log_wave(300, 91.0f, 9e7f);
    g.grid(100, false);
    Mat<float> l(g.run.remind.nlam, 2);
    for (int k = 1; k <= g.run.remind.nlam; ++k) {
        l(k, 1) = 1.0f;
        l(k, 2) = 2.0f;
    }
    const Mat<float> lum = g.rebin(l);
    ASSERT_EQ(lum.extent(0), 118);
    ASSERT_EQ(lum.extent(1), 2);
    for (int i = 1; i <= 118; ++i) {
        EXPECT_NEAR(dbl(lum(i, 1)), 1.0, 1e-5) << "point " << i;
        EXPECT_NEAR(dbl(lum(i, 2)), 2.0, 1e-5) << "point " << i;
    }
}

}  // namespace
}  // namespace qv
