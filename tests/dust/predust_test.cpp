// The dust preparation: cirrus cross-sections, galaxy radius, polar cirrus
// optical depth and its reset, the cloud mass, number and optical depth, the
// stellar spectra on both grids, and the stops for values the formulas cannot take.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/run.h"
#include "core/stop.h"
#include "dust/grain_fixture.h"
#include "dust/grain_mix.h"
#include "dust/grain_optics.h"
#include "dust/predust.h"
#include "support/test_support.h"

namespace qv {
namespace {

using test::MixKeys;

double dbl(float x) { return x; }

constexpr double kDsugSt = 0.008937178;

std::string mc_line(const std::string& n, const std::string& r, const std::string& f, const std::string& t0) {
    return "MC_LINE\nfree text\nmore free text\n" + n + "\n" + r + "\n" + f + "\n" + t0 + "\n";
}

// A run in a fresh folder, ready for the dust preparation: the par file m.par
// (MIXDIF, MIXMOL and an optional MC_LINE section), the run log m.out, the plane
// grain tables, a small synthesis (3 birth times on 120 SSP wavelengths) and
// the example's MAIN values.
struct PredustRun {
    test::TempDir tmp;
    test::CapturedConsole cc;
    Run run{cc.con};
    float fgas = 0.1f;
    float pm = 1e-4f;  // 1e8 solar masses
    float zism = 0.02f;

    explicit PredustRun(const std::string& sections = MixKeys().text("MIXDIF") + MixKeys().text("MIXMOL")) {
        test::write_text(tmp.file("m.par"), sections);
        test::write_text(tmp.file("m.out"), " USEFUL CHECKING NUMBERS FOLLOW\n");
        RunNames& mn = run.modname;
        mn.name = mn.name_res = mn.name_sf = "m";
        mn.name_dir = test::plane_grain_dir();

        RunParameters& p = run.parametri;
        p.igeo = 2;
        p.rcstar = 1.0f;
        p.rcdiff = 1.0f;
        p.rdstar = 4.0f;
        p.rddiff = 4.0f;
        p.zdstar = 0.4f;
        p.zddiff = 0.2f;

        CloudSetup& gp = run.glopalla;
        gp.mmolfraz = 0.5f;
        gp.mcloud = 1e6f;
        gp.rcloud = 16.0f;
        gp.etastart = 0.003f;
        gp.nlf = 100 + 18;
        run.mix.dsug = 0.0089f;

        BirthGrid& r = run.remind;
        r.ncom = 1;
        r.nlam = 120;
        r.wave.resize(r.nlam);
        for (int l = 1; l <= r.nlam; ++l)
            r.wave(l) = static_cast<float>(91.0 * std::pow(1e7 / 91.0, (l - 1) / 119.0));
        birth_times(1);
    }

    // Three birth times with a smooth spectrum per unit mass, ncom components.
    void birth_times(int ncom) {
        BirthGrid& r = run.remind;
        r.ncom = ncom;
        r.icall = 3;
        r.tbirth.resize(3);
        r.sfrate.resize(3, ncom);
        r.flsspint.resize(r.nlam, 3, ncom);
        for (int j = 1; j <= 3; ++j) {
            r.tbirth(j) = 0.5f * static_cast<float>(j - 1);
            for (int c = 1; c <= ncom; ++c) {
                r.sfrate(j, c) = static_cast<float>(j + c);
                for (int l = 1; l <= r.nlam; ++l) {
                    const double x = dbl(r.wave(l)) / 5000.0;
                    r.flsspint(l, j, c) = static_cast<float>(1e-3 * c / (x * x + 1.0 / (x * x)) / j);
                }
            }
        }
    }

    void go() { predust(run, fgas, pm, zism); }
    std::vector<std::string> lines() const { return cc.out_lines(); }
    std::vector<std::string> log() const { return test::read_lines(tmp.file("m.out")); }
    // kappa1: the clouds' cross-section per gram of gas at 1 micron.
    double kappa1() { return dbl(glopalla::mixpalla(run, 1.0f)) / 1.673e-24; }
};

// The value of the free-format line that begins with text.
double line_value(const std::vector<std::string>& lines, const std::string& text) {
    for (const auto& l : lines)
        if (l.rfind(" " + text, 0) == 0) return std::stod(l.substr(text.size() + 1));
    ADD_FAILURE() << "no line " << text;
    return NAN;
}

int index_of(const std::vector<std::string>& lines, const std::string& prefix) {
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
    return -1;
}

std::vector<std::string> stop_lines(PredustRun& m) {
    try {
        m.go();
    } catch (const Stop& s) {
        return s.lines;
    }
    ADD_FAILURE() << "no stop";
    return {};
}

// ---------------------------------------------------------------------------
// Cloud mass, number and optical depth.

TEST(PredustClouds, MassNumberAndOpticalDepthFromTheMainKeys) {
    PredustRun m;
    m.go();
    const CloudSetup& gp = m.run.glopalla;
    const double k1 = m.kappa1();
    // mmol = 0.5 x 0.1 x 1e-4; ncloud = mmol / 1e6 x 1e12 = 5.
    EXPECT_NEAR(dbl(gp.mmol), 5e-6, 1e-12);
    EXPECT_NEAR(dbl(gp.ncloud), 5.0, 1e-5);
    EXPECT_FLOAT_EQ(gp.mcloud, 1e6f);
    const double rho = 1e6 * 1.625e-23 / (16.0 * 16.0 * 16.0);
    EXPECT_NEAR(dbl(gp.rho), rho, 1e-6 * rho);
    const double tau1 = 16.0 * k1 * rho * 3.086e18 * (0.0089 / kDsugSt) * 0.735;
    EXPECT_NEAR(dbl(gp.tau1), tau1, 1e-5 * tau1);

    const auto out = m.lines();
    EXPECT_NEAR(line_value(out, "ncloud="), 5.0, 1e-5);
    EXPECT_NEAR(line_value(out, "tau palla a 1 micron="), tau1, 1e-5 * tau1);
    EXPECT_EQ(index_of(out, " Mass of molecular clouds"), -1);
    EXPECT_EQ(index_of(out, " WARNING: ncloud too low"), -1);
    // Their order on standard output.
    const int a = index_of(out, " polar TAU_GAL ="), b = index_of(out, " ncloud="),
              c = index_of(out, " tau palla a 1 micron=");
    EXPECT_GE(a, 0);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    // The run log gets the optical depth only.
    const auto log = m.log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1], out[static_cast<std::size_t>(c)]);
}

TEST(PredustClouds, MassFromAnOpticalDepthWithARatioOfRadii) {
    // mcloud -5 with one cloud type given by a ratio of radii: r = 10 pc in the
    // mass and the density. The optical depth through one cloud radius comes
    // back as 5 x 6.15e22 x 1.625e-23 = 4.996875 whatever r.
    PredustRun m;
    CloudSetup& gp = m.run.glopalla;
    gp.mcloud = -5.0f;
    gp.rcloud = 3.0f;
    gp.rmsr0_flag = true;
    m.go();
    const double k1 = m.kappa1();
    const double mass = 5.0 * 6.15e22 * 100.0 * kDsugSt / (k1 * 3.086e18 * 0.0089 * 0.735);
    EXPECT_NEAR(dbl(gp.mcloud), mass, 1e-5 * mass);
    const double rho = mass * 1.625e-23 / 1000.0;
    EXPECT_NEAR(dbl(gp.rho), rho, 1e-5 * rho);
    EXPECT_NEAR(dbl(gp.tau1), 4.996875, 1e-5);
    const double ncloud = 5e-6 / mass * 1e12;
    EXPECT_NEAR(dbl(gp.ncloud), ncloud, 1e-5 * ncloud);

    // "(A,G12.4)" on standard output and in the run log, before "ncloud=".
    const auto out = m.lines();
    const int i = index_of(out, "Mass of molecular clouds [Msun] =");
    ASSERT_GE(i, 0);
    const std::string& line = out[static_cast<std::size_t>(i)];
    EXPECT_EQ(line.size(), std::string("Mass of molecular clouds [Msun] =").size() + 12);
    EXPECT_NEAR(std::stod(line.substr(33)), mass, 1e-3 * mass);
    EXPECT_LT(i, index_of(out, " ncloud="));
    const auto log = m.log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1], line);
    EXPECT_EQ(log[2].rfind(" tau palla a 1 micron=", 0), 0u);
}

TEST(PredustClouds, MassFromAnOpticalDepthUsesTheCloudRadius) {
    PredustRun m(MixKeys().text("MIXDIF") + MixKeys().text("MIXMOL") + mc_line("1", "16.0", "1.0", "0.004"));
    CloudSetup& gp = m.run.glopalla;
    gp.mcloud = -5.0f;
    m.go();
    const double mass = 5.0 * 6.15e22 * 256.0 * kDsugSt / (m.kappa1() * 3.086e18 * 0.0089 * 0.735);
    EXPECT_NEAR(dbl(gp.mcloud), mass, 1e-5 * mass);
    EXPECT_NEAR(dbl(gp.tau1), 4.996875, 1e-5);
}

TEST(PredustClouds, OpticalDepthWithSeveralCloudTypesStops) {
    PredustRun m(MixKeys().text("MIXDIF") + MixKeys().text("MIXMOL") +
                 mc_line("2", "16.0 30.0", "0.6 0.4", "0.003 0.005"));
    m.run.glopalla.mcloud = -5.0f;
    const auto lines = stop_lines(m);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], " mcloud must be >0 if n_tau_mc>1");
    // Nothing of the clouds reached the run log.
    EXPECT_EQ(m.log().size(), 1u);
}

struct FewCase {
    const char* what;
    int istarfo;
    float ncloud;     // aimed at through mcloud
    bool rmsr0;       // clouds given by a ratio of radii (mcloud < 0)
    float mmolfraz;
    bool warning;
};

TEST(PredustClouds, TooFewCloudsResetTheMolecularFraction) {
    const FewCase cases[] = {
        {"0.005 clouds", 0, 0.005f, false, 0.5f, true},
        {"0.02 clouds", 0, 0.02f, false, 0.5f, false},
        {"0.5 clouds for the tav model", 4, 0.5f, false, 0.5f, true},
        {"2 clouds for the tav model", 4, 2.0f, false, 0.5f, false},
        {"ratio of radii", 0, 0.0f, true, 0.5f, false},
        {"no gas", 0, 0.005f, false, -1.0f, false},
    };
    for (const FewCase& c : cases) {
        SCOPED_TRACE(c.what);
        PredustRun m(MixKeys().text("MIXDIF") + MixKeys().text("MIXMOL"));
        CloudSetup& gp = m.run.glopalla;
        gp.mmolfraz = c.mmolfraz;
        m.run.glotauspe.istarfo = c.istarfo;
        m.run.glotauspe.rdtav = 4.0f;
        if (c.rmsr0) {
            // A cloud of optical depth 5 weighs about 1e5 solar masses: a tiny galaxy.
            gp.rmsr0_flag = true;
            gp.mcloud = -5.0f;
            m.pm = 1e-12f;
        } else {
            gp.mcloud = std::fabs(c.mmolfraz) * m.fgas * m.pm * 1e12f / c.ncloud;
        }
        const double want = dbl(c.mmolfraz) * dbl(m.fgas) * dbl(m.pm) / dbl(gp.mcloud) * 1e12;
        m.go();
        const auto out = m.lines();
        const int w = index_of(out, " WARNING: ncloud too low, resetting Mmolfraz=0");
        if (c.warning) {
            ASSERT_GE(w, 0);
            EXPECT_EQ(w, index_of(out, " ncloud=") + 1);
            EXPECT_EQ(gp.mmolfraz, 0.0f);
            EXPECT_EQ(gp.mmol, 0.0f);
            EXPECT_EQ(gp.ncloud, 0.0f);
        } else {
            EXPECT_EQ(w, -1);
            EXPECT_EQ(gp.mmolfraz, c.mmolfraz);
            if (!c.rmsr0) {
                EXPECT_NEAR(dbl(gp.ncloud), want, 1e-5 * std::fabs(want));
            }
        }
        if (c.rmsr0) {
            EXPECT_LT(gp.ncloud, 0.01f);
        }
    }
}

// ---------------------------------------------------------------------------
// The polar cirrus optical depth and the tav model.

double tau_gal(double mmolfraz, double dsug, double fgas, double pm, double rdstar) {
    return (1.0 - mmolfraz) * dsug * 1.35e-6 * fgas * pm * 1e12 / (6.283186 * rdstar * rdstar) * 0.735;
}

TEST(PredustCirrus, PolarOpticalDepth) {
    PredustRun m;
    m.go();
    const double want = tau_gal(0.5, 0.0089, 0.1, 1e-4, 4.0);
    EXPECT_NEAR(line_value(m.lines(), "polar TAU_GAL ="), want, 1e-5 * want);
    EXPECT_EQ(index_of(m.lines(), " TAU CIRRUS TOO HIGH"), -1);
}

TEST(PredustCirrus, TooMuchCirrusForTheTavModelResetsTheClouds) {
    // TAU_GAL = 200 with tau_gal_max = 100 and mmolfraz = 0.5: mmolfraz becomes
    // 1 - 0.5 x 100 / 200 = 0.75, the escape age n_tstart x etastart, and the
    // cloud optical depth 10^(0.188 log10 200 + 0.251).
    PredustRun m(MixKeys().text("MIXDIF") + MixKeys().text("MIXMOL") + mc_line("1", "16.0", "1.0", "0.004"));
    CloudSetup& gp = m.run.glopalla;
    m.run.glotauspe.istarfo = 4;
    m.run.glotauspe.rdtav = 4.0f;
    gp.tau_gal_max = 100.0f;
    gp.n_tstart = 2.0f;
    m.pm = static_cast<float>(200.0 / tau_gal(0.5, 0.0089, 0.1, 1.0, 4.0));
    m.go();
    const auto out = m.lines();
    EXPECT_NEAR(line_value(out, "polar TAU_GAL ="), 200.0, 1e-3);
    const int i = index_of(out, " TAU CIRRUS TOO HIGH: RESET MMOLFRAZ TESCAPE TAU_1_MC");
    ASSERT_GE(i, 0);
    EXPECT_EQ(i, index_of(out, " polar TAU_GAL =") + 1);
    EXPECT_EQ(index_of(out, " mmolfraz="), i + 1);
    EXPECT_NEAR(line_value(out, "mmolfraz="), 0.75, 2e-6);
    EXPECT_TRUE(gp.cirrus_reset);
    EXPECT_FLOAT_EQ(gp.etastart, 0.006f);
    ASSERT_EQ(m.run.mc_righe.t0_arr.extent(), 1);
    EXPECT_FLOAT_EQ(m.run.mc_righe.t0_arr(1), 0.006f);
    // The cloud optical depth became a mass (r = rcloud) and comes back as tau1.
    const double tau = std::pow(10.0, 0.188 * std::log10(200.0) + 0.251);
    EXPECT_NEAR(dbl(gp.tau1), tau * 6.15e22 * 1.625e-23, 1e-4 * tau);
    EXPECT_GE(index_of(out, "Mass of molecular clouds [Msun] ="), 0);
    // No low-cloud warning after a reset.
    EXPECT_EQ(index_of(out, " WARNING: ncloud too low"), -1);
    EXPECT_NEAR(dbl(gp.mmolfraz), 0.75, 2e-6);
}

TEST(PredustCirrus, ResetClampsTheMolecularFraction) {
    // 1 - (1 - mmolfraz) x tau_gal_max / TAU_GAL, clamped to [0, 1]: without gas
    // (mmolfraz -1) just above the limit it would be -0.8; below a negative
    // limit it would exceed 1.
    const double t = tau_gal(-1.0, 0.0089, 0.1, 1e-4, 4.0);
    struct {
        float mmolfraz, tau_gal_max, want;
    } cases[] = {{-1.0f, static_cast<float>(0.9 * t), 0.0f}, {0.5f, -1.0f, 1.0f}};
    for (const auto& c : cases) {
        PredustRun m;
        CloudSetup& gp = m.run.glopalla;
        m.run.glotauspe.istarfo = 4;
        m.run.glotauspe.rdtav = 4.0f;
        gp.mmolfraz = c.mmolfraz;
        gp.tau_gal_max = c.tau_gal_max;
        m.go();
        EXPECT_TRUE(gp.cirrus_reset);
        EXPECT_EQ(gp.mmolfraz, c.want) << c.mmolfraz;
        EXPECT_EQ(line_value(m.lines(), "mmolfraz="), dbl(c.want));
    }
}

TEST(PredustCirrus, TheResetIsForTheTavModelOnly) {
    PredustRun m;
    m.run.glopalla.tau_gal_max = 1e-6f;
    m.go();
    EXPECT_EQ(index_of(m.lines(), " TAU CIRRUS TOO HIGH"), -1);
    EXPECT_FALSE(m.run.glopalla.cirrus_reset);
    EXPECT_EQ(m.run.glopalla.mmolfraz, 0.5f);
}

TEST(PredustCirrus, TavModelScaleLengths) {
    PredustRun m;
    RunParameters& p = m.run.parametri;
    SfhTables& g = m.run.glotauspe;
    g.istarfo = 4;
    g.rdtav = 3.0f;
    p.zdstar = 0.1f;
    p.rcdiff = 2.0f;
    p.rddiff = 1.5f;
    p.zddiff = 0.2f;
    m.go();
    EXPECT_FLOAT_EQ(g.rctav, 0.2f);  // rdtav / 15
    EXPECT_FLOAT_EQ(p.zdstar, 0.3f);
    EXPECT_FLOAT_EQ(p.rcdiff, 0.4f);
    EXPECT_FLOAT_EQ(p.rdstar, 3.0f);
    EXPECT_FLOAT_EQ(p.rddiff, 4.5f);
    EXPECT_FLOAT_EQ(p.zddiff, 0.9f);  // times the new rddiff
    EXPECT_FLOAT_EQ(p.rcstar, 0.2f);

    // A given core radius is kept; none and no disk gives 0.15.
    PredustRun k;
    k.run.glotauspe.istarfo = 4;
    k.run.glotauspe.rdtav = 3.0f;
    k.run.glotauspe.rctav = 0.7f;
    k.go();
    EXPECT_FLOAT_EQ(k.run.parametri.rcstar, 0.7f);
    PredustRun z;
    z.run.glotauspe.istarfo = 4;
    z.fgas = 0.0f;  // the polar optical depth does not need the disk then
    z.go();
    EXPECT_FLOAT_EQ(z.run.glotauspe.rctav, 0.15f);
    EXPECT_FLOAT_EQ(z.run.parametri.rcstar, 0.15f);
    EXPECT_EQ(z.run.parametri.rdstar, 0.0f);
}

struct RadiusCase {
    int intrho, igeo;
    float f_tgal;
    bool burst;
    float rcstar;
    double rgal, rsur, zsur;
};

TEST(PredustGeometry, GalaxyRadius) {
    // rcdiff 2, rdstar 3, rddiff 4, zddiff 0.5.
    const RadiusCase cases[] = {
        {0, -1, 0.0f, false, 1.0f, 158.48933, 0.0, 0.0},
        {0, -1, 0.0f, false, 0.1f, 24.0, 0.0, 0.0},
        {0, 1, 0.0f, false, 1.0f, 158.48933, 0.0, 0.0},
        {0, 5, 0.0f, false, 1.0f, 158.48933, 0.0, 0.0},
        {0, 2, 0.0f, false, 1.0f, 24.0, 0.0, 0.0},
        {0, 3, 0.0f, false, 1.0f, 30.0, 0.0, 0.0},
        {1, -1, 0.0f, false, 1.0f, 40.0, 0.1, 0.0125},
        {1, -1, 0.5f, false, 1.0f, 240.0, 4.0 / 240.0, 0.5 / 240.0},
        {1, -1, 0.0f, true, 1.0f, 240.0, 4.0 / 240.0, 0.5 / 240.0},
        {1, 1, 0.0f, false, 1.0f, 316.97866, 2.0 / 316.97866, 0.0},
        {1, 2, 0.0f, false, 1.0f, 40.0, 0.1, 0.0125},
        {2, 4, 0.0f, false, 1.0f, 40.0, 0.1, 0.0},
    };
    for (const RadiusCase& c : cases) {
        SCOPED_TRACE("intrho " + std::to_string(c.intrho) + " igeo " + std::to_string(c.igeo));
        PredustRun m;
        RunParameters& p = m.run.parametri;
        p.intrho_w_r = c.intrho;
        p.igeo = c.igeo;
        p.rcstar = c.rcstar;
        p.rcdiff = 2.0f;
        p.rdstar = 3.0f;
        p.rddiff = 4.0f;
        p.zddiff = 0.5f;
        m.run.glotauspe.f_tgal = c.f_tgal;
        m.run.glotauspe.current_burst = c.burst;
        m.go();
        EXPECT_NEAR(dbl(p.rgal), c.rgal, 1e-6 * c.rgal);
        EXPECT_NEAR(dbl(p.rgalpc), 1000.0 * c.rgal, 1e-3 * c.rgal);
        EXPECT_NEAR(dbl(p.rsur), c.rsur, 1e-7);
        EXPECT_NEAR(dbl(p.zsur), c.zsur, 1e-7);
    }
}

// ---------------------------------------------------------------------------
// Grain mixtures.

TEST(PredustMixtures, CirrusCrossSectionsAtOneMicron) {
    // On the plane tables Qabs + Qsca at 1 micron is 10^(c0 + ca log a) per material.
    PredustRun m;
    m.go();
    const GrainMix& g = m.run.mix;
    double klam = 0.0;
    for (int k = 1; k <= 40; ++k) {
        const bool gr = k <= 20;
        const double a = g.agra(k);
        const double q = gr ? test::kGraAbs.q(1.0, a) + test::kGraSca.q(1.0, a)
                            : test::kSilAbs.q(1.0, a) + test::kSilSca.q(1.0, a);
        klam += std::pow(10.0, dbl(gr ? g.a_gr : g.a_si)) * dbl(gr ? g.wei_gr(k) : g.wei_si(k - 20)) * q;
    }
    EXPECT_NEAR(dbl(m.run.glopalla.klam), klam, 1e-4 * klam);
    EXPECT_FLOAT_EQ(m.run.glopalla.klama, mix::mixcold(m.run, 1.0f));
    EXPECT_LT(m.run.glopalla.klama, m.run.glopalla.klam);  // absorption only
}

TEST(PredustMixtures, DustToGasRatioFollowsTheMetallicityWithIdz) {
    PredustRun m;
    m.run.parametri.idz = 1;
    m.zism = 0.5f;
    m.go();
    EXPECT_FLOAT_EQ(m.run.mix.dsug, 0.00445f);
}

TEST(PredustMixtures, NoGasReadsNoMixdif) {
    // mmolfraz < 0: no MIXDIF section is needed, the cirrus cross-sections stay 0,
    // and without gas the cirrus has no optical depth and no warning is given.
    PredustRun m(MixKeys().text("MIXMOL"));
    CloudSetup& gp = m.run.glopalla;
    gp.mmolfraz = -1.0f;
    m.fgas = 0.0f;
    m.go();
    EXPECT_EQ(gp.klam, 0.0f);
    EXPECT_EQ(gp.klama, 0.0f);
    EXPECT_EQ(m.run.mix.a_gr, 0.0f);
    const auto out = m.lines();
    EXPECT_EQ(line_value(out, "polar TAU_GAL ="), 0.0);
    EXPECT_EQ(index_of(out, " WARNING"), -1);
    EXPECT_EQ(gp.ncloud, 0.0f);
    EXPECT_GT(gp.tau1, 0.0f);
    // One mixture's lines only (the clouds').
    int n = 0;
    for (const auto& l : out) n += l.rfind(" A_GR=", 0) == 0;
    EXPECT_EQ(n, 1);
}

// ---------------------------------------------------------------------------
// Spectra.

TEST(PredustSpectra, StellarSpectraOnBothGridsAndTheirCopies) {
    PredustRun m;
    m.birth_times(2);
    m.go();
    const CloudSetup& gp = m.run.glopalla;
    const BirthGrid& r = m.run.remind;
    ASSERT_EQ(gp.l_sta.extent(0), r.nlam);
    ASSERT_EQ(gp.l_sta.extent(1), 2);
    ASSERT_EQ(gp.lumsta.extent(0), gp.nlf);
    ASSERT_EQ(gp.lumsta.extent(1), 2);
    // The trapezoid in birth time at one wavelength.
    for (int c = 1; c <= 2; ++c) {
        double s = 0.0;
        for (int j = 2; j <= 3; ++j)
            s += (dbl(r.sfrate(j - 1, c)) * dbl(r.flsspint(60, j - 1, c)) + dbl(r.sfrate(j, c)) * dbl(r.flsspint(60, j, c))) *
                 0.5;
        const double want = 1e-4 * 1e12 * 0.5 * s;
        EXPECT_NEAR(dbl(gp.l_sta(60, c)), want, 1e-5 * want);
    }
    // Until the cloud model replaces them, the light after the clouds is the starlight.
    EXPECT_EQ(gp.l_stamc.storage(), gp.l_sta.storage());
    EXPECT_EQ(gp.lumstamc.storage(), gp.lumsta.storage());
    EXPECT_EQ(gp.lumstamc.extent(0), gp.nlf);
    // The other arrays of the dust stages, zero.
    ASSERT_EQ(gp.lumdus.extent(), gp.nlf);
    for (int i = 1; i <= gp.nlf; ++i) EXPECT_EQ(gp.lumdus(i), 0.0f);
    ASSERT_EQ(m.run.mc_righe.lumduswk.extent(), gp.nlf);
    for (int i = 1; i <= gp.nlf; ++i) {
        EXPECT_TRUE(std::isfinite(gp.lumsta(i, 1)));
        EXPECT_GT(gp.lumsta(i, 1), 0.0f);
    }
}

TEST(PredustSpectra, BolometricLuminosityIsTheTrapezoidOverWavelength) {
    PredustRun m;
    m.birth_times(2);
    m.go();
    const CloudSetup& gp = m.run.glopalla;
    const BirthGrid& r = m.run.remind;
    double e1 = 0.0;
    for (int l = 1; l < r.nlam; ++l) {
        const double s0 = dbl(gp.l_sta(l, 1)) + dbl(gp.l_sta(l, 2));
        const double s1 = dbl(gp.l_sta(l + 1, 1)) + dbl(gp.l_sta(l + 1, 2));
        e1 += 0.5 * (s0 + s1) * (dbl(r.wave(l + 1)) - dbl(r.wave(l)));
    }
    EXPECT_NEAR(dbl(r.e1), e1, 1e-5 * e1);
    EXPECT_GT(r.e1, 0.0f);
}

TEST(PredustSpectra, DustGridSizeFollowsPahflag) {
    PredustRun off;
    off.go();
    EXPECT_EQ(off.run.glopalla.nlf, 118);
    EXPECT_EQ(off.run.glopalla.ws.extent(), 118);
    PredustRun on;
    on.run.modname.pahflag = true;
    on.run.glopalla.nlf = 100 + 138;
    on.go();
    const CloudSetup& gp = on.run.glopalla;
    EXPECT_EQ(gp.ws.extent(), 238);
    EXPECT_EQ(gp.lumsta.extent(0), 238);
    for (int k = 1; k <= 24; ++k)
        EXPECT_NEAR(dbl(gp.ws(on.run.glopah.indpah(k))), 1e4 * dbl(on.run.glopah.lami(k)),
                    1e-5 * 1e4 * dbl(on.run.glopah.lami(k)));
    // The band grid is set with or without the PAH points.
    EXPECT_NEAR(dbl(off.run.glopah.nui(1)), 3e14 / 3.3, 1e7);
}

// ---------------------------------------------------------------------------
// Values the formulas cannot take.

struct BadCase {
    const char* what;
    void (*set)(PredustRun&);
    const char* message;
};

TEST(PredustStops, ValuesThatWouldSpreadInfinitiesStopNamingTheKey) {
    const BadCase cases[] = {
        {"mcloud 0", [](PredustRun& m) { m.run.glopalla.mcloud = 0.0f; }, " FATAL ERROR: mcloud = 0 "},
        {"mcloud 0 without gas",
         [](PredustRun& m) {
             m.run.glopalla.mcloud = 0.0f;
             m.run.glopalla.mmolfraz = -1.0f;
             m.fgas = 0.0f;
         },
         " FATAL ERROR: mcloud = 0 "},
        {"rcloud 0", [](PredustRun& m) { m.run.glopalla.rcloud = 0.0f; }, " FATAL ERROR: rcloud = 0 "},
        {"rcloud 0 with an optical depth",
         [](PredustRun& m) {
             m.run.glopalla.rcloud = 0.0f;
             m.run.glopalla.mcloud = -5.0f;
         },
         " FATAL ERROR: rcloud = 0 "},
        {"rdstar 0", [](PredustRun& m) { m.run.parametri.rdstar = 0.0f; }, " FATAL ERROR: rdstar = 0 "},
        {"rdstar negative", [](PredustRun& m) { m.run.parametri.rdstar = -2.0f; }, " FATAL ERROR: rdstar = -2 "},
        {"rdtav 0 for the tav model",
         [](PredustRun& m) {
             m.run.glotauspe.istarfo = 4;
             m.run.glotauspe.rdtav = 0.0f;
         },
         " FATAL ERROR: rdstar = 0 (stellar disk scale length, kpc, from the history's rdtav)"},
        {"nlf 1", [](PredustRun& m) { m.run.glopalla.nlf = 1 + 18; }, " FATAL ERROR: key nlf = 1 is below 2"},
        {"nlf 1 with pahflag",
         [](PredustRun& m) {
             m.run.modname.pahflag = true;
             m.run.glopalla.nlf = 1 + 138;
         },
         " FATAL ERROR: key nlf = 1 is below 2"},
        {"no dust for an optical depth",
         [](PredustRun& m) {
             m.run.glopalla.mmolfraz = -1.0f;
             m.run.mix.dsug = 0.0f;
             m.run.glopalla.mcloud = -5.0f;
         },
         " FATAL ERROR: dsug = 0 "},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.what);
        PredustRun m;
        c.set(m);
        const auto lines = stop_lines(m);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind(c.message, 0), 0u) << lines[0];
        // Nothing was appended to the run log.
        EXPECT_EQ(m.log().size(), 1u);
    }
}

TEST(PredustStops, KeyNlfIsCheckedBeforeAnythingElse) {
    PredustRun m;
    m.run.glopalla.nlf = 18;
    stop_lines(m);
    EXPECT_TRUE(m.lines().empty());
}

TEST(PredustStops, ZeroValuesThatAreNotUsedAreFine) {
    // Without gas the polar optical depth does not take the disk scale length.
    PredustRun m;
    m.run.parametri.rdstar = 0.0f;
    m.fgas = 0.0f;
    m.go();
    EXPECT_EQ(line_value(m.lines(), "polar TAU_GAL ="), 0.0);
    EXPECT_TRUE(std::isfinite(m.run.glopalla.tau1));
}

}  // namespace
}  // namespace qv
