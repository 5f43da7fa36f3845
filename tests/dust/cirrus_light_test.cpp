// The light entering the cirrus on the dust grid (stars after the clouds, the
// clouds' emission with their PAH bands) and the cross sections of the cirrus
// dust.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/run.h"
#include "dust/cirrus.h"
#include "dust/cirrus_fixture.h"
#include "dust/cirrus_light.h"
#include "dust/grain_optics.h"
#include "io/format.h"
#include "support/test_support.h"

namespace qv {
namespace {

// A model whose SSP grid is coarse (100 A steps) below 2000 A and fine (2 A
// steps) from 2000 to 2400 A, with a dust grid set point by point.
struct WindowModel {
    test::CirrusModel m{test::spectra_section({"30.0"}), 8, 40};
    qv::Run& run = m.run;
    WindowModel(const std::vector<float>& ws) {
        std::vector<float> w;
        for (float x = 100.0f; x < 2000.0f; x += 100.0f) w.push_back(x);
        for (int k = 0; k <= 200; ++k) w.push_back(2000.0f + 2.0f * float(k));
        m.stars(0, 3, w);
        CloudSetup& gp = run.glopalla;
        gp.nlf = int(ws.size());
        gp.ws.resize(gp.nlf);
        gp.lumdus.resize(gp.nlf);
        for (int i = 1; i <= gp.nlf; ++i) gp.ws(i) = ws[i - 1];
        run.remind.ncom = 2;
        run.cirrus.ndir_total = 1;
        cirrus::allocate_cirrus_record(run);
    }
};

// The position of x in the table by plain counting (no exact hits here).
int below(const Vec<float>& t, int n, float x) {
    int k = 0;
    while (k < n && t(k + 1) < x) ++k;
    return k;
}

// FORMASTA(e, c) as its rules describe it, in double precision.
double expected_starlight(const qv::Run& run, float w, int c) {
    const BirthGrid& r = run.remind;
    const int n = r.nlam;
    int j1 = std::max(below(r.wave, n, 0.97f * w), 1);
    const int j2 = below(r.wave, n, 1.03f * w);
    const bool narrow = j2 - j1 < 3;
    if (narrow) j1 = std::min(j1, n - 1);
    double acc = 0.0;
    for (int k = 2; k <= r.icall; ++k) {
        const double mass = 1e12 * double(r.primordial_mass) * 0.5 * double(r.sfrate(k - 1, c) + r.sfrate(k, c)) *
                            (double(r.tbirth(k)) - double(r.tbirth(k - 1)));
        auto f = [&](int i) { return double(r.flsspint(i, k, c)); };
        auto g = [&](int i) { return double(r.flsspint(i, k - 1, c)); };
        double v;
        if (narrow) {
            const double m1 = 0.5 * (f(j1) + g(j1)), m2 = 0.5 * (f(j1 + 1) + g(j1 + 1));
            const double y1 = m1 > 0 ? std::log10(m1) : -30.0, y2 = m2 > 0 ? std::log10(m2) : -30.0;
            const double x0 = r.wave(j1), x1 = r.wave(j1 + 1);
            v = std::pow(10.0, y1 + (y2 - y1) * (double(w) - x0) / (x1 - x0));
        } else {
            double s = 0.0;
            for (int i = j1; i < j2; ++i)
                s += 0.25 * (g(i) + g(i + 1) + f(i) + f(i + 1)) * (double(r.wave(i + 1)) - double(r.wave(i)));
            v = s / (double(r.wave(j2)) - double(r.wave(j1)));
        }
        acc += v * mass;
    }
    return acc;
}

// ---------------------------------------------------------------------------

TEST(CirrusLight, StellarMassFormedPerBirthInterval) {
    WindowModel wm({1000.0f});
    const BirthGrid& r = wm.run.remind;
    for (int c = 1; c <= 2; ++c) {
        cirrus::stellar_mass_per_interval(wm.run, c);
        for (int k = 2; k <= r.icall; ++k)
            EXPECT_EQ(wm.run.cirrus.MSSPTZ(k), 1e12f * r.primordial_mass * 0.5f * (r.sfrate(k - 1, c) + r.sfrate(k, c)) *
                                                   (r.tbirth(k) - r.tbirth(k - 1)));
    }
}

TEST(CirrusLight, StarlightWindowRules) {
    // 50 A: below the SSP grid (j1 raised to 1); 1000 A: the +-3% window holds
    // one SSP wavelength (log-linear); 1950 A: two; 2100 A and 2300 A: many (the
    // window mean); 3000 A: beyond the grid (the last interval).
    const std::vector<float> ws = {50.0f, 1000.0f, 1950.0f, 2100.0f, 2300.0f, 3000.0f};
    WindowModel wm(ws);
    cirrus::starlight_on_dust_grid(wm.run);
    for (int c = 1; c <= 2; ++c)
        for (int e = 1; e <= int(ws.size()); ++e) {
            const double want = expected_starlight(wm.run, ws[e - 1], c);
            EXPECT_NEAR(double(wm.run.cirrus.FORMASTA(e, c)) / want, 1.0, 2e-5) << "ws " << ws[e - 1] << " c " << c;
        }
    // The windows of the cases: one SSP wavelength at 1000 A, many at 2100 A.
    EXPECT_EQ(below(wm.run.remind.wave, wm.run.remind.nlam, 1.03f * 1000.0f) -
                  below(wm.run.remind.wave, wm.run.remind.nlam, 0.97f * 1000.0f),
              1);
    EXPECT_GT(below(wm.run.remind.wave, wm.run.remind.nlam, 1.03f * 2100.0f) -
                  below(wm.run.remind.wave, wm.run.remind.nlam, 0.97f * 2100.0f),
              3);
    EXPECT_FALSE(test::contains(wm.m.out(), "PROBLEMINO"));
}

TEST(CirrusLight, NegativeFluxInANarrowWindowIsReported) {
    WindowModel wm({1000.0f});
    // j1 = 9 (900 A) for the window of 1000 A; a negative flux there.
    wm.run.remind.flsspint(9, 3, 1) = -1e-9f;
    cirrus::starlight_on_dust_grid(wm.run);
    const auto out = wm.m.out();
    EXPECT_TRUE(test::contains(out, fio::list_line({" PROBLEMINO", 9, 3, 1, -1e-9f})));
    // The computation goes on with that value.
    EXPECT_NEAR(double(wm.run.cirrus.FORMASTA(1, 1)) / expected_starlight(wm.run, 1000.0f, 1), 1.0, 2e-5);
}

TEST(CirrusLight, CloudEmissionOnTheDustGrid) {
    test::CirrusModel m(test::spectra_section({"30.0"}), 100);
    qv::Run& run = m.run;
    run.cirrus.ndir_total = 1;
    cirrus::allocate_cirrus_record(run);
    const CloudSetup& gp = run.glopalla;
    const int nlf = gp.nlf;
    // Without PAH bands: exactly the L_lambda of the clouds' L_nu.
    cirrus::cloud_light_on_dust_grid(run);
    for (int i = 1; i <= nlf; ++i) {
        EXPECT_EQ(run.cirrus.LUMMC(i), 3e18f * gp.lumdus(nlf + 1 - i) / (gp.ws(i) * gp.ws(i)));
        EXPECT_EQ(run.cirrus.FORMAMC(i), run.cirrus.LUMMC(i));
    }
    const Vec<float> plain = run.cirrus.LUMMC;

    // With PAH bands: each band adds its luminosity at its centre and at both
    // neighbours. Bands 3 and 4 share a centre: each pass computes both from
    // the spectrum before it, so the later band's value is the one kept.
    run.modname.pahflag = true;
    for (int k = 1; k <= 24; ++k) {
        run.glopah.indpah(k) = 3 * k + 5;
        run.globals.totepahtau(k) = 0.01f * float(k);
    }
    run.glopah.indpah(3) = 14;
    run.glopah.indpah(4) = 14;
    cirrus::cloud_light_on_dust_grid(run);
    const Vec<float>& tot = run.globals.totepahtau;
    for (int k = 1; k <= 24; ++k) {
        if (k == 3) continue;
        const int c = run.glopah.indpah(k);
        for (int i : {c - 1, c, c + 1}) EXPECT_EQ(run.cirrus.LUMMC(i), plain(i) + tot(k)) << "band " << k;
    }
    EXPECT_EQ(run.cirrus.LUMMC(14), plain(14) + tot(4));
    EXPECT_EQ(run.cirrus.LUMMC(1), plain(1));
    EXPECT_EQ(run.cirrus.LUMMC(nlf), plain(nlf));
    for (int i = 1; i <= nlf; ++i) EXPECT_EQ(run.cirrus.FORMAMC(i), run.cirrus.LUMMC(i));
}

TEST(CirrusLight, CloudEmissionEntersWithTheBulgeOnlyWhenAllStarsAreInIt) {
    struct Case {
        int ncom;
        float bsut;
        int cmc;
    } cases[] = {{2, 1.0f, 2}, {2, 0.999f, 1}, {2, 0.0f, 1}, {1, 1.0f, 1}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.bsut);
        test::CirrusModel m;
        qv::Run& run = m.run;
        run.remind.ncom = k.ncom;
        run.glotauspe.bsut = k.bsut;
        run.cirrus.ndir_total = 1;
        cirrus::allocate_cirrus_record(run);
        cirrus::light_on_dust_grid(run);
        EXPECT_EQ(cirrus::cloud_component(run), k.cmc);
        for (int c = 1; c <= k.ncom; ++c)
            for (int i = 1; i <= run.glopalla.nlf; ++i) {
                const float want = run.cirrus.FORMASTA(i, c) + (c == k.cmc ? run.cirrus.LUMMC(i) : 0.0f);
                ASSERT_EQ(run.cirrus.FORMA(i, c), want);
            }
    }
}

TEST(CirrusLight, CrossSectionsWithAndWithoutPahs) {
    for (bool pah : {false, true}) {
        SCOPED_TRACE(pah);
        test::CirrusModel m;
        qv::Run& run = m.run;
        run.modname.pahflag = pah;
        run.cirrus.ndir_total = 1;
        cirrus::allocate_cirrus_record(run);
        cirrus::cross_sections(run);
        const CloudSetup& gp = run.glopalla;
        int with_pah = 0;
        for (int i = 1; i <= gp.nlf; ++i) {
            const float lam = gp.ws(i) * 1e-4f;
            const float k = mix::mixcold(run, lam);
            EXPECT_EQ(run.cirrus.TXY1(i), k / gp.klama);
            float t = k / 1.673e-24f;
            if (pah && lam > 0.05f && lam < 0.5f) {
                t += sigma_pah_c(lam) * run.glopah.nc1 * 4836.0f * run.glopah.xx / 1.673e-24f;
                ++with_pah;
            }
            EXPECT_EQ(run.cirrus.TXY(i), 2e33f * t / 3.086e18f / 3.086e18f);
        }
        EXPECT_EQ(with_pah > 0, pah);
    }
    // The relative cross-section is 1 at 1 micron.
    test::CirrusModel m;
    m.run.glopalla.nlf = 1;
    m.run.glopalla.ws.resize(1);
    m.run.glopalla.ws(1) = 1e4f;
    m.run.cirrus.ndir_total = 1;
    cirrus::allocate_cirrus_record(m.run);
    cirrus::cross_sections(m.run);
    EXPECT_EQ(m.run.cirrus.TXY1(1), 1.0f);
}

TEST(CirrusLight, EfficienciesOfTheGrainBins) {
    for (int isca : {0, 2}) {
        test::CirrusModel m;
        qv::Run& run = m.run;
        run.remind.isca = isca;
        run.cirrus.ndir_total = 1;
        cirrus::allocate_cirrus_record(run);
        cirrus::grain_efficiencies(run);
        for (int j : {1, 7, 20, 21, 33, 40})
            for (int i : {1, 9, run.glopalla.nlf}) {
                const float lam = run.glopalla.ws(i) * 1e-4f, a = run.mix.agra(j);
                const float q0 = j <= 20 ? q_gra_81(run, lam, a, 0) : q_sil_81(run, lam, a, 0);
                const float qi = j <= 20 ? q_gra_81(run, lam, a, isca) : q_sil_81(run, lam, a, isca);
                EXPECT_EQ(run.tequi.qabsw(i, j), q0);
                EXPECT_EQ(run.cirrus.QEFFW(i, j), qi);
            }
    }
}

}  // namespace
}  // namespace qv
