// PAH band emission: the kept inner integrals against the plain integrand, the
// bands that must be silent, the response to the field, the energy the bands
// carry, and the integrands' edge cases.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core/run.h"
#include "dust/grain_optics.h"
#include "dust/pah_emission.h"
#include "dust/pdit_fixture.h"
#include "dust/pdit_reference.h"

namespace qv {
namespace {

using test::GrainRun;

double d(float v) { return static_cast<double>(v); }

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::vector<float> bands_of(const Run& run) {
    std::vector<float> e(25, 0.0f);
    for (int k = 1; k <= 24; ++k) e[k] = run.glopah.epah(k);
    return e;
}

bool hydrogen(int k) { return !PahBands::carbon_band(k); }

// ---------------------------------------------------------------------------

// The bands from the kept integrals equal those of the plain integrand, in the
// first cell (which fills them) and in later cells with other fields.
TEST(PahReuse, MatchesThePlainIntegrandBitForBit) {
    GrainRun g;
    const std::vector<int> bands = {1, 6, 12, 24};
    for (double chi : {1.0, 30.0, 0.2}) {
        test::set_field(g.run, chi);
        const int pos0 = g.run.nr_kelu.liin_s_pos;
        pah(g.run);
        const std::vector<float> fast = bands_of(g.run);
        g.run.nr_kelu.liin_s_pos = pos0;
        ref::PahReference r;
        const std::vector<float> plain = r.pah(g.run, bands);
        for (int k : bands) {
            EXPECT_TRUE(same_bits(fast[k], plain[k])) << "band " << k << " chi " << chi << ": "
                                                      << fast[k] << " vs " << plain[k];
            EXPECT_GT(fast[k], 0.0f) << "band " << k;
        }
    }
    EXPECT_GT(g.run.qvpah.point_hits, g.run.qvpah.point_fills);
}

// Without reuse pah runs the plain integrand; the numbers are the same.
TEST(PahReuse, ReuseChangesNoNumber) {
    GrainRun kept, plain;
    plain.run.qvpah.reuse = false;
    for (double chi : {1.0, 4.0}) {
        for (GrainRun* g : {&kept, &plain}) {
            test::set_field(g->run, chi);
            pah(g->run);
        }
        for (int k = 1; k <= 24; ++k)
            EXPECT_TRUE(same_bits(kept.run.glopah.epah(k), plain.run.glopah.epah(k))) << "band " << k;
        EXPECT_EQ(kept.run.nr_kelu.liin_s_pos, plain.run.nr_kelu.liin_s_pos);
        EXPECT_EQ(kept.run.qvpah.x, plain.run.qvpah.x);
        EXPECT_EQ(kept.run.qvpah.y, plain.run.qvpah.y);
    }
    EXPECT_EQ(plain.run.qvpah.point_fills, 0u);
}

// ---------------------------------------------------------------------------

// A field that is zero at one grid point of the absorption range gives no
// emission, without any integral.
TEST(PahBands, ZeroFieldInTheAbsorptionRangeGivesNoEmission) {
    GrainRun g;
    test::set_field(g.run, 1.0);
    pah(g.run);
    ASSERT_GT(g.run.glopah.epah(4), 0.0f);
    const CloudSetup& c = g.run.glopalla;
    int j = 0;
    for (int i = 1; i <= c.nlf; ++i)
        if (c.farr(i) > 1e15f && c.farr(i) < 2e15f) j = i;
    ASSERT_GT(j, 0);
    g.run.glopdit.ix(c.nlf + 1 - j) = 0.0f;
    const std::uint64_t fills = g.run.qvpah.point_fills, hits = g.run.qvpah.point_hits;
    pah(g.run);
    for (int k = 1; k <= 24; ++k) EXPECT_EQ(g.run.glopah.epah(k), 0.0f) << "band " << k;
    EXPECT_EQ(g.run.qvpah.point_fills, fills);
    EXPECT_EQ(g.run.qvpah.point_hits, hits);
}

// With xh = 0 the hydrogen bands are silent and the carbon bands, alone in the
// temperature sums, emit more. The plain integrand,
// which integrates the zero, gives exactly 0 too, without a message.
TEST(PahBands, NoHydrogenSilencesTheHydrogenBands) {
    GrainRun with_h;
    GrainRun no_h(test::small_grain_keys().set("xh", "0.0"));
    for (GrainRun* g : {&with_h, &no_h}) {
        test::set_field(g->run, 1.0);
        pah(g->run);
    }
    ASSERT_EQ(no_h.run.glopah.nh1, 0.0f);
    double carbon_h = 0.0, carbon_no_h = 0.0;
    for (int k = 1; k <= 24; ++k) {
        if (hydrogen(k)) {
            EXPECT_EQ(no_h.run.glopah.epah(k), 0.0f) << "band " << k;
            EXPECT_GT(with_h.run.glopah.epah(k), 0.0f) << "band " << k;
        } else {
            EXPECT_GT(no_h.run.glopah.epah(k), 0.0f) << "band " << k;
            carbon_h += d(with_h.run.glopah.epah(k));
            carbon_no_h += d(no_h.run.glopah.epah(k));
        }
    }
    EXPECT_GT(carbon_no_h, 1.05 * carbon_h);
    ref::PahReference r;
    const std::vector<float> plain = r.pah(no_h.run, {1});
    EXPECT_TRUE(same_bits(plain[1], 0.0f)) << plain[1];
    for (const std::string& l : no_h.lines()) EXPECT_EQ(l.find("Too many steps"), std::string::npos) << l;
}

// No PAH abundance, or a band without cross-section: those bands are 0.
TEST(PahBands, ZeroAbundanceOrCrossSectionGivesZero) {
    GrainRun none(test::small_grain_keys().set("xx", "0.0"));
    test::set_field(none.run, 1.0);
    pah(none.run);
    for (int k = 1; k <= 24; ++k) EXPECT_EQ(none.run.glopah.epah(k), 0.0f) << "band " << k;
    EXPECT_EQ(none.run.qvpah.point_fills, 0u);

    GrainRun g;
    g.run.glopah.sigmai(7) = 0.0f;
    test::set_field(g.run, 1.0);
    pah(g.run);
    for (int k = 1; k <= 24; ++k) {
        if (k == 7)
            EXPECT_EQ(g.run.glopah.epah(k), 0.0f);
        else
            EXPECT_GT(g.run.glopah.epah(k), 0.0f) << "band " << k;
    }
}

// The emission is linear in the absorbed photons: a field four times as strong
// gives exactly four times the bands (a power of two scales every step of the
// integrals exactly); ten times, ten times within the integrals' accuracy.
TEST(PahBands, EmissionScalesWithTheField) {
    GrainRun g;
    test::set_field(g.run, 1.0);
    pah(g.run);
    const std::vector<float> e1 = bands_of(g.run);
    test::set_field(g.run, 1.0);
    for (int i = 1; i <= g.run.glopalla.nlf; ++i) g.run.glopdit.ix(i) *= 4.0f;
    pah(g.run);
    const std::vector<float> e4 = bands_of(g.run);
    for (int i = 1; i <= g.run.glopalla.nlf; ++i) g.run.glopdit.ix(i) *= 2.5f;
    pah(g.run);
    const std::vector<float> e10 = bands_of(g.run);
    for (int k = 1; k <= 24; ++k) {
        EXPECT_TRUE(same_bits(e4[k], 4.0f * e1[k])) << "band " << k << ": " << e4[k] << " vs " << 4.0f * e1[k];
        EXPECT_NEAR(d(e10[k]) / d(e1[k]), 10.0, 0.1) << "band " << k;
    }
}

// Beyond the last grid point the field is the line through the last interval;
// where that line falls below zero the field is 0, never negative.
TEST(PahBands, FieldBeyondTheGridIsNeverNegative) {
    GrainRun g;
    // A grid ending at 10^15.4 Hz, below the top of the absorption range.
    test::set_dust_grid(g.run, test::dust_grid_lfarr(g.run.glopah, 100, true, 15.4f));
    test::set_field(g.run, 1.0);
    const CloudSetup& c = g.run.glopalla;
    const int n = c.nlf;
    // The field falls steeply over the last interval.
    g.run.glopdit.ix(1) = g.run.glopdit.ix(2) * 1e-3f;
    const float f1 = c.farr(n - 1), f2 = c.farr(n);
    const float y1 = g.run.glopdit.ix(2) * 3e18f / ((f1 / 1e15f) * (f1 / 1e15f));
    const float y2 = g.run.glopdit.ix(1) * 3e18f / ((f2 / 1e15f) * (f2 / 1e15f));
    const float nu = 3.2e15f;
    ASSERT_LT(y2 + (nu - f2) * (y2 - y1) / (f2 - f1), 0.0f) << "the case needs a negative line";

    pah(g.run);
    const std::vector<float> fast = bands_of(g.run);
    g.run.glopah.jband = 4;
    EXPECT_EQ(int_nu_a(g.run, std::log(nu), 1e-7f), 0.0f);
    EXPECT_EQ(g.run.qvpah.y, 0.0f);
    EXPECT_GT(int_nu_a(g.run, std::log(1e15f), 1e-7f), 0.0f);
    ref::PahReference r;
    const std::vector<float> plain = r.pah(g.run, {4, 12});
    for (int k : {4, 12}) EXPECT_TRUE(same_bits(fast[k], plain[k])) << "band " << k;
    for (int k = 1; k <= 24; ++k) EXPECT_GT(fast[k], 0.0f) << "band " << k;
}

// ---------------------------------------------------------------------------
// Energy.

// What the bands emit is the ultraviolet energy that the emitting PAHs absorb
// between 7.5e14 and 3.29e15 Hz: each absorbed photon's energy h nu is shared
// among the bands (the temperature integral from 5 K to the top temperature
// gives back exactly h nu), so the band luminosities, epah(k) c / nu_k^2 dnu_k,
// add up to 4 pi int J_nu sigma(nu) dnu of the PAH population. The factor 2 of
// S0 and the doubled ultraviolet cross-section make that population
// 4 xx a^-3.5 per hydrogen atom (radii 4 to 15 Angstrom, nc1 a^2 carbon atoms
// of tabulated cross-section each): four times the population xx a^-3.5 whose
// absorption the cirrus cross-section carries as nc1 x 4836 x xx, 4836 being
// the integral of a^-1.5 over the same radii.
TEST(PahEnergy, BandsReEmitTheUltravioletAbsorbedByFourTimesXxPahs) {
    const double a_lo = 4e-8, a_hi = 1.5e-7;
    const double size_integral = 2.0 * (1.0 / std::sqrt(a_lo) - 1.0 / std::sqrt(a_hi));
    EXPECT_NEAR(size_integral, 4836.0, 0.05);

    for (double chi : {1.0, 50.0}) {
        GrainRun g;
        test::set_field(g.run, chi);
        pah(g.run);
        const PahBands& p = g.run.glopah;
        double emitted = 0.0;
        for (int k = 1; k <= 24; ++k)
            emitted += d(p.epah(k)) * 3e18 / (d(p.nui(k)) * d(p.nui(k))) * d(p.dnui(k));

        // 4 pi int J_nu sigma_pah_c dnu over the absorption range, J_nu from the
        // field as pah interpolates it (linear in nu between grid points).
        const CloudSetup& c = g.run.glopalla;
        const int n = c.nlf;
        auto jnu = [&](double nu) {
            int i = 1;
            while (i < n - 1 && d(c.farr(i + 1)) < nu) ++i;
            auto j_at = [&](int m) {
                const double f15 = d(c.farr(m)) / 1e15;
                return d(g.run.glopdit.ix(n + 1 - m)) * 3e18 / (f15 * f15) * 1e-30;
            };
            const double x0 = d(c.farr(i)), x1 = d(c.farr(i + 1));
            return j_at(i) + (j_at(i + 1) - j_at(i)) * (nu - x0) / (x1 - x0);
        };
        const double nu1 = 7.5e14, nu2 = 3.29e15;
        const int steps = 20000;
        double absorbed = 0.0;
        for (int s = 0; s <= steps; ++s) {
            const double nu = nu1 + (nu2 - nu1) * s / steps;
            const double v = jnu(nu) * d(sigma_pah_c(static_cast<float>(3e14 / nu)));
            absorbed += (s == 0 || s == steps ? 0.5 : 1.0) * v;
        }
        absorbed *= (nu2 - nu1) / steps * 4.0 * 3.141592653589793 * d(p.nc1) * size_integral * d(p.xx);
        ASSERT_GT(absorbed, 0.0);
        EXPECT_NEAR(emitted / absorbed, 4.0, 0.08) << "chi " << chi;
    }
}

// ---------------------------------------------------------------------------
// The integrands.

TEST(PahIntegrands, TemperatureIntegrand) {
    GrainRun g;
    PahBands& p = g.run.glopah;
    p.yaaa = 1e-7f;
    p.yaamax = 4e-8f;
    p.c1 = 3.0f * 1.38e-16f * (p.yaaa * (p.nc1 * p.yaaa + p.nh1 * 4e-8f) - 2.0f) / 1300.0f;
    // A 3.3 micron band has no Planck emission at 5 K: 0.
    p.jband = 1;
    EXPECT_EQ(planck(p.nui(1), 5.0f), 0.0f);
    EXPECT_EQ(temp(g.run, 5.0f), 0.0f);
    // Above 1300 K the heat capacity term stays at c1 x 1300.
    p.jband = 12;
    for (float t : {1300.0f, 2000.0f}) {
        float s = 0.0f;
        for (int i = 1; i <= 24; ++i) {
            const float w = PahBands::carbon_band(i) ? p.yaaa * p.yaaa * p.nc1 : p.nh1 * p.yaaa * p.yaamax;
            s += planck(p.nui(i), t) * p.dnui(i) * p.sigmai(i) / 1e21f * w;
        }
        EXPECT_EQ(temp(g.run, t), p.c1 * 1300.0f * planck(p.nui(12), t) / s) << t;
    }
    // Below it, c1 T.
    const float t = 400.0f;
    EXPECT_NEAR(d(temp(g.run, t)) / d(temp(g.run, 2000.0f)),
                400.0 / 1300.0 * (d(planck(p.nui(12), t)) / d(planck(p.nui(12), 2000.0f))) /
                    ([&] {
                        double s1 = 0.0, s2 = 0.0;
                        for (int i = 1; i <= 24; ++i) {
                            const double w = PahBands::carbon_band(i) ? d(p.yaaa * p.yaaa * p.nc1)
                                                                      : d(p.nh1 * p.yaaa * p.yaamax);
                            s1 += d(planck(p.nui(i), t)) * d(p.dnui(i)) * d(p.sigmai(i)) * w;
                            s2 += d(planck(p.nui(i), 2000.0f)) * d(p.dnui(i)) * d(p.sigmai(i)) * w;
                        }
                        return s1 / s2;
                    })(),
                1e-4);
    EXPECT_EQ(a1(34.5f), 4e-8f);
    EXPECT_EQ(a2(34.5f), 1.5e-7f);
}

// The values that depend on the frequency only are computed when x changes, and
// kept while it does not: a new field is seen at the next new frequency.
TEST(PahIntegrands, FrequencyValuesAreKeptWhileXStays) {
    GrainRun g;
    test::set_field(g.run, 1.0);
    pah(g.run);  // fills yarr from the field
    g.run.glopah.jband = 6;
    const float x = 34.9f;
    const float v1 = int_nu_a(g.run, x, 1e-7f);
    const float y1 = g.run.qvpah.y;
    for (int i = 1; i <= g.run.glopalla.nlf; ++i) g.run.glopdit.yarr(i) *= 2.0f;
    EXPECT_EQ(int_nu_a(g.run, x, 1e-7f), v1);
    EXPECT_EQ(g.run.qvpah.y, y1);
    int_nu_a(g.run, 34.95f, 1e-7f);
    EXPECT_EQ(int_nu_a(g.run, x, 1e-7f), 2.0f * v1);
    EXPECT_EQ(g.run.qvpah.y, 2.0f * y1);
    EXPECT_EQ(g.run.qvpah.nu, std::exp(x));
}

}  // namespace
}  // namespace qv
