// The extinction of the cirrus along each viewing direction, the angle
// average, the galaxy without diffuse gas, the energies and the run-log budget.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "core/run.h"
#include "dust/cirrus.h"
#include "dust/cirrus_extinction.h"
#include "dust/cirrus_extinction_fixture.h"
#include "dust/cirrus_light.h"
#include "dust/cirrus_phases.h"
#include "dust/column_density.h"
#include "io/format.h"
#include "support/test_support.h"

namespace qv {
namespace {

using test::contains;
using test::index_of;

void expect_rel(float got, float want, float rel, const std::string& what) {
    EXPECT_NEAR(got, want, rel * std::fabs(want) + 1e-30f) << what;
}

// ---------------------------------------------------------------------------
// Extinction per direction.

TEST(CirrusExtinction, TransparentCirrusGivesEveryDirectionTheUnattenuatedLight) {
    struct Case {
        const char* what;
        int igeo;
        float bsut;  // -1: the geometry's own
    } cases[] = {
        {"disk", 2, -1.0f},
        {"spheroid", 1, -1.0f},
        {"uniform sphere", 0, -1.0f},
        {"disk and bulge", -1, -1.0f},
        {"all stars in the bulge: the clouds go with it", -1, 1.0f},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        test::ExtinctionModel m({"0.0", "45.0", "90.0"}, k.igeo);
        if (k.bsut >= 0.0f) m.run.glotauspe.bsut = k.bsut;
        m.prepare();
        CirrusRun& cr = m.run.cirrus;
        cr.TXY.fill(0.0f);  // no dust opacity
        cirrus::extinction(m.run);
        // The stars of a component that holds none in the grid (the disk of
        // bsut 1) cannot be seen.
        const int c0 = k.bsut == 1.0f ? 2 : 1;
        for (int d = 0; d <= cr.ndir_total; ++d)
            for (int i = 1; i <= m.nlf(); ++i) {
                for (int c = c0; c <= m.ncom(); ++c)
                    expect_rel(cr.LUMSTA_E(i, d, c), cr.FORMASTA(i, c), 3e-5f,
                               "stars d=" + std::to_string(d) + " i=" + std::to_string(i) + " c=" + std::to_string(c));
                expect_rel(cr.LUMMC_E(i, d), cr.FORMAMC(i), 3e-5f, "clouds d=" + std::to_string(d));
            }
    }
}

// The fast loop against the direct sum of the cells' shares with the column
// of each cell from protrco::intrhoext.
TEST(CirrusExtinction, MatchesTheDirectSumOverTheCells) {
    test::ExtinctionModel m({"20.0", "70.0"}, -1);
    m.prepare();
    qv::Run& run = m.run;
    CirrusRun& cr = run.cirrus;
    cirrus::extinction(run);

    const CirrusGrid& g = run.glocold;
    const int ndr = run.remind.ndr, nthe = g.nthearr, nphi = g.nphiarr, nlf = m.nlf();
    const int cmc = cirrus::cloud_component(run);
    const float rmax = g.rarr(ndr);
    for (int d = 1; d <= 2; ++d) {
        std::vector<double> stars(static_cast<std::size_t>(nlf * 2), 0.0), clouds(static_cast<std::size_t>(nlf), 0.0);
        const float inc = cr.DIRARR(d) * 0.017453294f;
        for (int is = 2; is <= ndr; ++is)
            for (int ks = 2; ks <= nphi; ++ks)
                for (int js = 2; js <= nthe; ++js) {
                    const float rs = 0.5f * (g.rarr(is) + g.rarr(is - 1));
                    const float ts = 0.5f * (g.thearr(js) + g.thearr(js - 1));
                    const float ps = 0.5f * (g.phiarr(ks) + g.phiarr(ks - 1));
                    const float dphi = g.phiarr(ks) - g.phiarr(ks - 1);
                    float col = 0.0f;
                    protrco::intrhoext(run, rmax, 10.0f * rmax, inc, rs, ts, ps, col);
                    for (int i = 1; i <= nlf; ++i) {
                        const double tau = double(col) * double(cr.TXY(i));
                        const double att = tau > 0.002 ? std::exp(-tau) : 1.0;
                        for (int c = 1; c <= 2; ++c)
                            stars[static_cast<std::size_t>((c - 1) * nlf + i - 1)] +=
                                double(dphi) * double(cr.NORMA(is, js, c)) * double(cr.FORMASTA(i, c)) * att;
                        clouds[static_cast<std::size_t>(i - 1)] +=
                            double(dphi) * double(cr.NORMA(is, js, cmc)) * double(cr.FORMAMC(i)) * att;
                    }
                }
        for (int i = 1; i <= nlf; ++i) {
            for (int c = 1; c <= 2; ++c)
                expect_rel(cr.LUMSTA_E(i, d, c), float(2.0 * stars[static_cast<std::size_t>((c - 1) * nlf + i - 1)]),
                           2e-5f, "d=" + std::to_string(d) + " i=" + std::to_string(i));
            expect_rel(cr.LUMMC_E(i, d), float(2.0 * clouds[static_cast<std::size_t>(i - 1)]), 2e-5f, "clouds");
        }
    }
    // A thin disk hides more of its light edge-on than face-on, in the
    // ultraviolet most; nothing is ever added.
    EXPECT_LT(cr.LUMSTA_E(3, 2, 1), cr.LUMSTA_E(3, 1, 1));
    for (int d = 0; d <= 2; ++d)
        for (int i = 1; i <= nlf; ++i) EXPECT_LE(cr.LUMSTA_E(i, d, 1), cr.FORMASTA(i, 1) * 1.00003f);
    EXPECT_LT(cr.LUMSTA_E(2, 2, 1) / cr.FORMASTA(2, 1), cr.LUMSTA_E(nlf - 1, 2, 1) / cr.FORMASTA(nlf - 1, 1));
}

// Seen face-on, every azimuth cell of a ring looks along the same column, so a
// ring alone can be given an optical depth of exactly 0.002 at one wavelength.
TEST(CirrusExtinction, DepthOfExactlyTheThresholdIsNotAttenuated) {
    test::ExtinctionModel m({"0.0"}, 2);
    m.prepare();
    qv::Run& run = m.run;
    CirrusRun& cr = run.cirrus;
    const CirrusGrid& g = run.glocold;
    const int ndr = run.remind.ndr, nthe = g.nthearr, nphi = g.nphiarr;
    const float rmax = g.rarr(ndr);
    const int js0 = (nthe + 1) / 2;

    // A ring whose column admits a cross section t with col * t == 0.002f.
    int is0 = 0;
    float t_at = 0.0f, t_above = 0.0f, col = 0.0f;
    for (int is = 2; is <= ndr && is0 == 0; ++is) {
        const float rs = 0.5f * (g.rarr(is) + g.rarr(is - 1));
        const float ts = 0.5f * (g.thearr(js0) + g.thearr(js0 - 1));
        const float ps = 0.5f * (g.phiarr(2) + g.phiarr(1));
        protrco::intrhoext(run, rmax, 10.0f * rmax, 0.0f, rs, ts, ps, col);
        if (!(col > 0.0f)) continue;
        float t = 0.002f / col;
        for (int k = 0; k < 8; ++k) t = std::nextafter(t, 0.0f);
        for (int k = 0; k < 16; ++k, t = std::nextafter(t, 1.0f)) {
            if (col * t == 0.002f) {
                t_at = t;
                float u = t;
                while (!(col * u > 0.002f)) u = std::nextafter(u, 1.0f);
                t_above = u;
                is0 = is;
                break;
            }
        }
    }
    ASSERT_GT(is0, 0) << "no ring gives a depth of exactly 0.002";

    // Only that ring shines.
    for (int is = 1; is <= ndr; ++is)
        for (int js = 1; js <= nthe; ++js)
            if (is != is0 || js != js0) cr.NORMA(is, js, 1) = 0.0f;
    cr.TXY.fill(0.0f);
    cr.TXY(1) = t_at;
    cr.TXY(2) = t_above;
    cirrus::extinction(run);

    for (int i = 1; i <= 3; ++i) {
        const float tau = col * cr.TXY(i);
        float s = 0.0f, mc = 0.0f;
        for (int ks = 2; ks <= nphi; ++ks) {
            const float a = (g.phiarr(ks) - g.phiarr(ks - 1)) * cr.NORMA(is0, js0, 1);
            const float e = i == 2 ? std::exp(-tau) : 1.0f;
            s += a * cr.FORMASTA(i, 1) * e;
            mc += a * cr.FORMAMC(i) * e;
        }
        EXPECT_EQ(cr.LUMSTA_E(i, 1, 1), 2.0f * s) << i;
        EXPECT_EQ(cr.LUMMC_E(i, 1), 2.0f * mc) << i;
    }
    EXPECT_LT(cr.LUMSTA_E(2, 1, 1) / cr.FORMASTA(2, 1), cr.LUMSTA_E(1, 1, 1) / cr.FORMASTA(1, 1));
}

// ---------------------------------------------------------------------------
// The angle average.

struct Directions {
    CirrusRun cr;
    int nlf = 3, ncom = 2;
    explicit Directions(const std::vector<float>& angles) {
        const int n = static_cast<int>(angles.size());
        cr.ndir = cr.ndir_total = n;
        cr.DIRARR.resize(n);
        cr.ADDED_DIR.resize(n);
        for (int d = 1; d <= n; ++d) cr.DIRARR(d) = angles[static_cast<std::size_t>(d - 1)];
        cr.LUMSTA_E.reshape({Bounds{1, nlf}, Bounds{0, n}, Bounds{1, ncom}});
        cr.LUMMC_E.reshape({Bounds{1, nlf}, Bounds{0, n}});
    }
    // A spectrum that depends on the inclination alone.
    void fill(float (*f)(float angle, int i, int c)) {
        for (int d = 1; d <= cr.ndir_total; ++d)
            for (int i = 1; i <= nlf; ++i) {
                for (int c = 1; c <= ncom; ++c) cr.LUMSTA_E(i, d, c) = f(cr.DIRARR(d), i, c);
                cr.LUMMC_E(i, d) = f(cr.DIRARR(d), i, 3);
            }
    }
};

float shape(float angle, int i, int c) { return 1.0f + 0.01f * angle * float(i) + 0.3f * float(c) * std::cos(angle); }
float one(float, int, int) { return 1.0f; }

TEST(CirrusAngleAverage, OneDirectionIsItsOwnAverage) {
    Directions s({37.0f});
    s.fill(shape);
    cirrus::angle_average(s.cr, s.nlf, s.ncom);
    for (int i = 1; i <= s.nlf; ++i) {
        for (int c = 1; c <= s.ncom; ++c) EXPECT_EQ(s.cr.LUMSTA_E(i, 0, c), s.cr.LUMSTA_E(i, 1, c));
        EXPECT_EQ(s.cr.LUMMC_E(i, 0), s.cr.LUMMC_E(i, 1));
    }
}

TEST(CirrusAngleAverage, FaceOnAndEdgeOnGiveTheirMean) {
    Directions s({0.0f, 90.0f});
    s.fill(shape);
    cirrus::angle_average(s.cr, s.nlf, s.ncom);
    for (int i = 1; i <= s.nlf; ++i) {
        for (int c = 1; c <= s.ncom; ++c)
            EXPECT_FLOAT_EQ(s.cr.LUMSTA_E(i, 0, c), 0.5f * (s.cr.LUMSTA_E(i, 1, c) + s.cr.LUMSTA_E(i, 2, c)));
        EXPECT_FLOAT_EQ(s.cr.LUMMC_E(i, 0), 0.5f * (s.cr.LUMMC_E(i, 1) + s.cr.LUMMC_E(i, 2)));
    }
}

// The weights are taken in ascending order of inclination whatever the order
// of the SPECTRA section: the result is the same to the last bit.
TEST(CirrusAngleAverage, OrderOfTheDirectionsDoesNotMatter) {
    Directions sorted({0.0f, 30.0f, 60.0f, 90.0f});
    sorted.fill(shape);
    cirrus::angle_average(sorted.cr, sorted.nlf, sorted.ncom);
    for (const std::vector<float>& order :
         {std::vector<float>{90.0f, 0.0f}, std::vector<float>{90.0f, 60.0f, 30.0f, 0.0f},
          std::vector<float>{30.0f, 90.0f, 0.0f, 60.0f}}) {
        Directions s(order);
        s.fill(shape);
        cirrus::angle_average(s.cr, s.nlf, s.ncom);
        if (order.size() == 2) {
            Directions two({0.0f, 90.0f});
            two.fill(shape);
            cirrus::angle_average(two.cr, two.nlf, two.ncom);
            for (int i = 1; i <= s.nlf; ++i) EXPECT_EQ(s.cr.LUMSTA_E(i, 0, 1), two.cr.LUMSTA_E(i, 0, 1));
            continue;
        }
        for (int i = 1; i <= s.nlf; ++i) {
            for (int c = 1; c <= s.ncom; ++c) EXPECT_EQ(s.cr.LUMSTA_E(i, 0, c), sorted.cr.LUMSTA_E(i, 0, c));
            EXPECT_EQ(s.cr.LUMMC_E(i, 0), sorted.cr.LUMMC_E(i, 0));
        }
    }
    // Over the whole hemisphere a spectrum that does not depend on the
    // inclination is its own average.
    Directions flat({60.0f, 0.0f, 90.0f, 30.0f});
    flat.fill(one);
    cirrus::angle_average(flat.cr, flat.nlf, flat.ncom);
    EXPECT_NEAR(flat.cr.LUMSTA_E(2, 0, 1), 1.0f, 1e-6f);
    EXPECT_NEAR(flat.cr.LUMMC_E(2, 0), 1.0f, 1e-6f);
}

TEST(CirrusAngleAverage, PartialRangeIsNotRenormalised) {
    // From 0 to 60 degrees the weights add up to 1 - cos 60 = 0.5.
    Directions s({60.0f, 0.0f});
    s.fill(one);
    cirrus::angle_average(s.cr, s.nlf, s.ncom);
    EXPECT_NEAR(s.cr.LUMSTA_E(1, 0, 2), 0.5f, 1e-6f);
    EXPECT_NEAR(s.cr.LUMMC_E(3, 0), 0.5f, 1e-6f);
    // Two equal directions have no width.
    Directions same({45.0f, 45.0f});
    same.fill(one);
    cirrus::angle_average(same.cr, same.nlf, same.ncom);
    EXPECT_EQ(same.cr.LUMSTA_E(1, 0, 1), 0.0f);
}

// ---------------------------------------------------------------------------
// The galaxy without diffuse gas.

TEST(CirrusNoDiffuseGas, SpectraAreTheLightLeavingTheClouds) {
    test::CirrusModel m(test::spectra_section({"0.0", "45.0", "90.0"}));
    qv::Run& run = m.run;
    run.glopalla.mmolfraz = -1.0f;
    colddust(run, 0.3f, 0.0f);
    const CirrusRun& cr = run.cirrus;
    const CloudSetup& gp = run.glopalla;
    EXPECT_EQ(cr.Mdiff, 0.0f);
    for (int d = 0; d <= cr.ndir_total; ++d)
        for (int i = 1; i <= gp.nlf; ++i) {
            for (int c = 1; c <= run.remind.ncom; ++c) EXPECT_EQ(cr.LUMSTA_E(i, d, c), gp.lumstamc(i, c));
            EXPECT_EQ(cr.LUMMC_E(i, d), cr.LUMMC(i));
            EXPECT_EQ(cr.ETOT(i), 0.0f);
        }
    EXPECT_EQ(cr.Ecir, 0.0f);
    for (int d = 1; d <= cr.ndir_total; ++d) {
        EXPECT_EQ(cr.E2STA_E(d), cr.E2STA_E(0));
        EXPECT_EQ(cr.E2MC_E(d), cr.E2MC_E(0));
    }

    EXPECT_GE(index_of(m.out(), " non c`e` gas diffuso"), 0);
    const auto log = m.log();
    EXPECT_GE(index_of(log, fio::list_line({"tau cirrus = ", 0})), 0);
    EXPECT_EQ(fio::list_line({"tau cirrus = ", 0}), " tau cirrus =            0");
    EXPECT_EQ(index_of(log, "Min wl"), -1);
    EXPECT_EQ(index_of(log, "tau(this wl)"), -1);
    EXPECT_EQ(index_of(log, "Energy emitted by cirrus"), -1);
    EXPECT_EQ(index_of(log, "Fraction of total energy"), -1);
    EXPECT_GE(index_of(log, " Output energy / Input (stars) energy"), 0);
    EXPECT_GE(index_of(log, fio::list_line({"L cirrus = ", 0.0f})), 0);
    // The spectra files are written all the same.
    for (const char* f : {"m.spe", "m.0", "m.45", "m.90"}) EXPECT_TRUE(std::filesystem::exists(f)) << f;
}

// ---------------------------------------------------------------------------
// Energies and the budget.

TEST(CirrusEnergies, IntegralsOverTheDustGridAndTheBudgetWavelength) {
    test::ExtinctionModel m({"0.0", "90.0"}, -1, 6);
    m.prepare();
    qv::Run& run = m.run;
    CirrusRun& cr = run.cirrus;
    const float* ws = run.glopalla.ws.data();
    const float span = ws[5] - ws[0];
    for (int i = 1; i <= 6; ++i) {
        cr.FORMA(i, 1) = 1.0f;
        cr.FORMA(i, 2) = 2.0f;
        cr.LUMMC(i) = 0.5f;
        for (int d = 0; d <= 2; ++d) {
            cr.LUMSTA_E(i, d, 1) = 0.25f * float(d + 1);
            cr.LUMSTA_E(i, d, 2) = 0.75f;
            cr.LUMMC_E(i, d) = 0.1f * float(d + 1);
        }
    }
    // The cirrus gives less than a tenth of the total up to the third point,
    // and again at the sixth.
    const float etot[6] = {0.0f, 0.01f, 0.05f, 0.5f, 5.0f, 0.05f};
    for (int i = 1; i <= 6; ++i) cr.ETOT(i) = etot[i - 1];
    cirrus::energies(run);
    expect_rel(cr.Lin, 3.0f * span, 1e-6f, "Lin");
    expect_rel(cr.Lmc, 0.5f * span, 1e-6f, "Lmc");
    EXPECT_EQ(cr.Lstar, cr.Lin - cr.Lmc);
    for (int d = 0; d <= 2; ++d) {
        expect_rel(cr.E2STA_E(d), (0.25f * float(d + 1) + 0.75f) * span, 1e-6f, "E2STA_E");
        expect_rel(cr.E2MC_E(d), 0.1f * float(d + 1) * span, 1e-6f, "E2MC_E");
    }
    EXPECT_EQ(cr.Ecir, cirrus::trapezoid(ws, cr.ETOT.data(), 6));
    EXPECT_EQ(cr.imin, 6);
    cr.ETOT(6) = 5.0f;
    cirrus::energies(run);
    EXPECT_EQ(cr.imin, 3);
    // No point where the cirrus is that faint: the first.
    for (int i = 1; i <= 6; ++i) cr.ETOT(i) = 100.0f;
    cirrus::energies(run);
    EXPECT_EQ(cr.imin, 1);
}

TEST(CirrusEnergies, TrapezoidOverTheDustGrid) {
    const float ws[4] = {1.0f, 2.0f, 4.0f, 8.0f};
    const float f[4] = {1.0f, 3.0f, 1.0f, 0.0f};
    EXPECT_EQ(cirrus::trapezoid(ws, f, 4), 0.5f * 4.0f * 1.0f + 0.5f * 4.0f * 2.0f + 0.5f * 1.0f * 4.0f);
    EXPECT_EQ(cirrus::trapezoid(ws, f, 1), 0.0f);
}

// A run in which the budget's numbers are set by hand.
struct Budget {
    test::ExtinctionModel m;
    explicit Budget(const std::vector<std::string>& angles) : m(angles, 2, 6) {
        CirrusRun& cr = m.run.cirrus;
        TextFile f = cirrus::spectra_section(m.run);
        cirrus::allocate_cirrus_record(m.run);
        cirrus::read_directions(m.run, f);
        m.run.remind.e1 = 100.0f;
        cr.Mdiff = 0.01f;
        cr.Lin = 80.0f;
        cr.Lstar = 70.0f;
        cr.Lmc = 10.0f;
        cr.Ecir = 25.0f;
        for (int d = 0; d <= cr.ndir_total; ++d) {
            cr.E2STA_E(d) = 40.0f;
            cr.E2MC_E(d) = 10.0f;
        }
        cr.imin = 4;
        m.run.glopalla.ws(4) = 12345.0f;
        cr.TXY1(4) = 1.23e-4f;
    }
    std::vector<std::string> lines() {
        test::write_text(m.tmp.file("m.out"), "");
        cirrus::energy_budget(m.run);
        return m.log();
    }
};

TEST(CirrusBudget, RunLogLinesAndTheirFormats) {
    Budget b({"0.0", "30.0", "90.0"});
    const auto log = b.lines();
    const std::vector<std::string> want = {
        "",
        " Min wl [micron] where cirrus emits more than 10% =     1.23    ",
        " tau(this wl)/tau(1 micron) =    0.123E-03",
        " Output energy / Input (stars) energy   0.750    ",
        " Energy emitted by cirrus / Energy absorbed by cirrus   0.833    ",
        " Fraction of total energy absorbed by cirrus   0.300    ",
        " Luminosities are given in 1e30 erg/s",
        fio::list_line({"L stars unextincted = ", 100.0f}),
        fio::list_line({"L stars extincted only by MCs = ", 70.0f}),
        fio::list_line({"L MCs not extincted by cirrus = ", 10.0f}),
        "",
        fio::list_line({"L cirrus = ", 25.0f}),
        "",
        " Angle average ",
        fio::list_line({"L stars extincted  = ", 40.0f}),
        fio::list_line({"L MCs extincted = ", 10.0f}),
        fio::list_line({"L total = ", 75.0f}),
        " Direction  0.00 degrees",
    };
    ASSERT_EQ(log.size(), want.size() + 3 + 4 + 4) << test::read_text("m.out");
    for (std::size_t k = 0; k < want.size(); ++k) EXPECT_EQ(log[k], want[k]) << k;
    EXPECT_EQ(log[want.size() + 3], " Direction 30.00 degrees");
    EXPECT_EQ(log[want.size() + 7], " Direction 90.00 degrees");
    EXPECT_EQ(log.back(), fio::list_line({"L total = ", 75.0f}));
    EXPECT_EQ(want[14].rfind(" L stars extincted  = ", 0), 0u);
    // The three ratios also on standard output, in that order.
    const auto out = b.m.out();
    const int o = index_of(out, " Output energy");
    ASSERT_GE(o, 0);
    EXPECT_EQ(out[o + 1], want[4]);
    EXPECT_EQ(out[o + 2], want[5]);
}

TEST(CirrusBudget, OneDirectionIsListedAloneAndNoGasHasNoCirrusLines) {
    Budget one({"45.0"});
    auto log = one.lines();
    EXPECT_EQ(index_of(log, "Angle average"), -1);
    EXPECT_EQ(log[log.size() - 4], " Direction 45.00 degrees");
    Budget nogas({"45.0"});
    nogas.m.run.cirrus.Mdiff = 0.0f;
    log = nogas.lines();
    EXPECT_EQ(log[0], "");
    EXPECT_EQ(log[1], " Output energy / Input (stars) energy   0.750    ");
    EXPECT_EQ(log[2], " Luminosities are given in 1e30 erg/s");
    EXPECT_FALSE(contains(log, "Min wl"));
    EXPECT_FALSE(contains(log, "absorbed"));
}

}  // namespace
}  // namespace qv
