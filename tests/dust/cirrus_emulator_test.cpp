// The cirrus emulator branch of the energies: the emulator's inputs by
// geometry, the spectrum normalised to the absorbed energy, its place on the
// dust grid (below, inside and beyond the emulator's wavelengths), the
// geometries it does not cover, and when the branch runs.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/run.h"
#include "core/stop.h"
#include "dust/cirrus_emulator.h"
#include "dust/cirrus_extinction.h"
#include "dust/cirrus_phases.h"
#include "io/format.h"
#include "numerics/search.h"
#include "support/test_support.h"

namespace qv {
namespace {

// A dust grid of six wavelengths, two components of starlight and the
// spectra per direction set by hand, so that the energies are known (light
// entering the cirrus 1 per A, of which 0.2 from the clouds; leaving it 0.5
// and 0.1). The emulator call is replaced by a fixed spectrum.
struct EmuCirrus {
    test::CapturedConsole cc;
    qv::Run run{cc.con};

    struct Call {
        float igeo = 0.0f;
        std::array<int, 2> arch_mc{}, arch_cir{};
        std::vector<float> x;
        int inet = 0;
        bool write_tmp = true;
    };
    std::vector<Call> calls;

    // The emulator's answer: log10 lambda [micron] and log10 lambda L_lambda.
    std::vector<float> loglam = {0.0f, 1.0f, 2.0f};
    std::vector<float> loglum = {std::log10(2.0f), 1.0f + std::log10(3.0f), 2.0f + std::log10(0.5f)};

    explicit EmuCirrus(int igeo = 2, int annflag = 2) {
        const std::vector<float> ws = {5e3f, 1e4f, 5.5e4f, 1e5f, 1e6f, 1e7f};
        const int nlf = 6, ncom = 2;
        CloudSetup& gp = run.glopalla;
        gp.nlf = nlf;
        gp.ws.resize(nlf);
        gp.lumstamc.resize(nlf, ncom);
        run.remind.ncom = ncom;
        RunParameters& p = run.parametri;
        p.igeo = igeo;
        p.annflag = annflag;
        p.rcstar = 1.5f;
        p.rcdiff = 0.5f;
        p.rdstar = 4.0f;
        p.rddiff = 5.0f;
        p.zdstar = 0.4f;
        p.zddiff = 0.25f;
        CirrusRun& cr = run.cirrus;
        cr.ndir_total = 1;
        cr.FORMA.resize(nlf, ncom);
        cr.LUMMC.resize(nlf);
        cr.ETOT.resize(nlf);
        cr.LUMSTA_E.reshape({Bounds{1, nlf}, Bounds{0, 1}, Bounds{1, ncom}});
        cr.LUMMC_E.reshape({Bounds{1, nlf}, Bounds{0, 1}});
        cr.E2STA_E.reshape({Bounds{0, 1}});
        cr.E2MC_E.reshape({Bounds{0, 1}});
        for (int i = 1; i <= nlf; ++i) {
            gp.ws(i) = ws[static_cast<std::size_t>(i - 1)];
            // Starlight after the clouds linear in wavelength (exact interpolation).
            gp.lumstamc(i, 1) = 2.0f + gp.ws(i) / 1000.0f;
            gp.lumstamc(i, 2) = 1.0f;
            // All light entering: 1 per A; clouds 0.2 of it; what leaves: 0.5 and 0.1.
            cr.FORMA(i, 1) = 0.6f;
            cr.FORMA(i, 2) = 0.4f;
            cr.LUMMC(i) = 0.2f;
            for (int d = 0; d <= 1; ++d) {
                cr.LUMSTA_E(i, d, 1) = 0.3f;
                cr.LUMSTA_E(i, d, 2) = 0.2f;
                cr.LUMMC_E(i, d) = 0.1f;
            }
        }
        cr.Mdiff = 1.0f;
        cr.Mdust = 4e7f;
        cr.taue = 2.5f;
        cr.taup1 = 0.125f;
        cr.tauh = 0.0625f;
        run.ann_qve.ann_quelvo_seam = [this](Run& r, float g, std::array<int, 2> am, std::array<int, 2> ac,
                                             const std::vector<float>& x, int inet, bool wt) {
            calls.push_back({g, am, ac, x, inet, wt});
            const int n = static_cast<int>(loglam.size());
            r.ann_qve.log_lam_mic.resize(n);
            r.ann_qve.log_l_cir.resize(n);
            for (int k = 1; k <= n; ++k) {
                r.ann_qve.log_lam_mic(k) = loglam[static_cast<std::size_t>(k - 1)];
                r.ann_qve.log_l_cir(k) = loglum[static_cast<std::size_t>(k - 1)];
            }
        };
    }

    float span() const { return run.glopalla.ws(6) - run.glopalla.ws(1); }
};

float rel(float a, float b) { return std::fabs(a - b) / std::fabs(b); }

struct InputCase {
    int igeo;
    float code;
    int ncir;
};

TEST(CirrusEmulator, InputsByGeometry) {
    const InputCase cases[] = {{1, 1.0f, 7}, {2, 2.0f, 9}, {-1, -1.0f, 9}};
    for (const InputCase& c : cases) {
        EmuCirrus m(c.igeo);
        cirrus::energies(m.run);
        ASSERT_EQ(m.calls.size(), 1u) << c.igeo;
        const EmuCirrus::Call& call = m.calls[0];
        EXPECT_EQ(call.igeo, c.code);
        EXPECT_EQ(call.arch_mc, (std::array<int, 2>{2, 20}));
        EXPECT_EQ(call.arch_cir, (std::array<int, 2>{c.ncir, 35}));
        EXPECT_EQ(call.inet, 2);
        EXPECT_FALSE(call.write_tmp);
        ASSERT_EQ(call.x.size(), static_cast<std::size_t>(2 + c.ncir)) << c.igeo;
        const std::vector<float>& x = call.x;
        // The cloud network's inputs are not set.
        EXPECT_EQ(x[0], 0.0f);
        EXPECT_EQ(x[1], 0.0f);
        // Lin = span, L* = 0.8 span, absorbed = span - 0.5 span - 0.1 span.
        EXPECT_LT(std::fabs(x[2] - std::log10(0.4f / 0.8f)), 1e-5f) << x[2];
        EXPECT_EQ(x[3], 2.5f);
        EXPECT_EQ(x[4], 0.125f);
        EXPECT_EQ(x[5], 0.0625f);
        EXPECT_LT(std::fabs(x[6] - std::log10(4e7f / (0.8f * m.span()))), 1e-5f) << x[6];
        if (c.igeo == 1) {
            EXPECT_EQ(x[7], 3.0f);  // rcstar / rcdiff
        } else {
            EXPECT_EQ(x[7], 0.8f);   // rdstar / rddiff
            EXPECT_EQ(x[8], 0.1f);   // zdstar / rdstar
            EXPECT_EQ(x[9], 0.05f);  // zddiff / rddiff
        }
        // Colour: starlight after the clouds at 3000 A (2 + 3 + 1) and 10000 A (2 + 10 + 1).
        EXPECT_LT(std::fabs(x.back() - (std::log10(6.0f) - std::log10(13.0f))), 1e-5f) << x.back();
        // The vectors are kept for the next call.
        if (c.igeo == 1)
            EXPECT_EQ(m.run.cirrus.ann_x_spheroid[6], x[6]);
        else
            EXPECT_EQ(m.run.cirrus.ann_x_disk[10], x[10]);
    }
}

TEST(CirrusEmulator, SpectrumCarriesTheAbsorbedEnergyAndLiesOnTheDustGrid) {
    EmuCirrus m;
    cirrus::energies(m.run);
    const CirrusRun& cr = m.run.cirrus;
    const PahProfileWork& pp = m.run.pahpro;
    const float absorbed = cr.Lin - cr.E2STA_E(0) - cr.E2MC_E(0);
    // L_lambda = (2, 3, 0.5) at (1e4, 1e5, 1e6) A before the normalisation;
    // its trapezoid is 0.5 (2 + 3) 9e4 + 0.5 (3 + 0.5) 9e5.
    const float k = absorbed / (2.25e5f + 1.575e6f);
    ASSERT_EQ(pp.lam_ang.extent(), 3);
    EXPECT_LT(rel(pp.lam_ang(1), 1e4f), 1e-6f);
    EXPECT_LT(rel(pp.lam_ang(3), 1e6f), 1e-6f);
    EXPECT_LT(rel(pp.l_cir(2), 3.0f * k), 1e-5f);
    EXPECT_LT(rel(nr_kelu::arrint(pp.lam_ang.data(), 3, pp.l_cir.data(), 3), absorbed), 1e-5f);
    // On the dust grid: 5e3 and 1e4 A (at or below the first) nothing; 5.5e4 A
    // the linear mean; 1e5 and 1e6 A the nodes; 1e7 A the log-log continuation
    // of the last interval, a factor 0.5/3 per decade.
    EXPECT_EQ(cr.ETOT(1), 0.0f);
    EXPECT_EQ(cr.ETOT(2), 0.0f);
    EXPECT_LT(rel(cr.ETOT(3), 2.5f * k), 1e-5f);
    EXPECT_LT(rel(cr.ETOT(4), 3.0f * k), 1e-5f);
    EXPECT_LT(rel(cr.ETOT(5), 0.5f * k), 1e-5f);
    EXPECT_LT(rel(cr.ETOT(6), 0.5f * k * (0.5f / 3.0f)), 1e-4f);
    EXPECT_EQ(cr.Ecir, cirrus::trapezoid(m.run.glopalla.ws.data(), cr.ETOT.data(), 6));
    // The branch's own arrays are released.
    EXPECT_FALSE(cr.LAM_ANN.allocated());
    EXPECT_FALSE(cr.L_ANN.allocated());
}

TEST(CirrusEmulator, GeometriesWithoutANetworkEmitNothing) {
    for (int igeo : {0, 3, 4, 5}) {
        EmuCirrus m(igeo);
        m.run.cirrus.ETOT.fill(7.0f);
        cirrus::energies(m.run);
        EXPECT_TRUE(m.calls.empty()) << igeo;
        const std::vector<std::string> out = m.cc.out_lines();
        ASSERT_EQ(out.size(), 1u) << igeo;
        EXPECT_EQ(out[0], " wrong igeo to run ann at present....");
        for (int i = 1; i <= 6; ++i) EXPECT_EQ(m.run.cirrus.ETOT(i), 0.0f) << igeo;
        EXPECT_EQ(m.run.cirrus.Ecir, 0.0f);
        EXPECT_FALSE(m.run.pahpro.l_cir.allocated());
        EXPECT_FALSE(m.run.pahpro.lam_ang.allocated());
    }
}

struct WhenCase {
    float mdiff;
    int annflag;
    bool runs;
};

TEST(CirrusEmulator, RunsWithDiffuseGasAndAnnflagTwoOrThree) {
    const WhenCase cases[] = {{1.0f, 2, true}, {1.0f, 3, true}, {1.0f, 1, false}, {1.0f, 0, false}, {0.0f, 2, false},
                              {0.0f, 3, false}};
    for (const WhenCase& c : cases) {
        EmuCirrus m(2, c.annflag);
        m.run.cirrus.Mdiff = c.mdiff;
        m.run.cirrus.ETOT.fill(7.0f);  // what the cell-by-cell emission left
        cirrus::energies(m.run);
        EXPECT_EQ(m.calls.size(), c.runs ? 1u : 0u) << c.mdiff << " " << c.annflag;
        EXPECT_EQ(m.run.cirrus.ETOT(6) == 7.0f, !c.runs) << c.mdiff << " " << c.annflag;
        EXPECT_EQ(m.run.pahpro.l_cir.allocated(), c.runs);
    }
}

// The geometries without a cirrus network stop a run only where the branch
// will run: annflag 2 or 3 and diffuse gas, the gas outside the clouds
// ((1 - mmolfraz) x fgas, none for a negative mmolfraz).
TEST(CirrusEmulator, GeometryCheckedWhereTheBranchWillRun) {
    struct Case {
        int annflag, igeo;
        float mmolfraz, fgas;
        bool stops;
    };
    const Case cases[] = {
        {2, 0, 0.5f, 0.1f, true},   {3, 4, 0.5f, 0.1f, true},   {2, 5, 0.0f, 0.1f, true},
        {2, 3, -0.5f, -0.1f, false},  // no gas, whatever the gas fraction
        {2, 0, -1.0f, 0.1f, false},  {3, 0, 1.0f, 0.1f, false},  {2, 0, 0.5f, 0.0f, false},
        {1, 0, 0.5f, 0.1f, false},   {0, 4, 0.5f, 0.1f, false},  {2, 1, 0.5f, 0.1f, false},
        {3, 2, 0.5f, 0.1f, false},   {2, -1, 0.5f, 0.1f, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.annflag) + " " + std::to_string(c.igeo) + " " + std::to_string(c.mmolfraz) +
                     " " + std::to_string(c.fgas));
        test::CapturedConsole cc;
        qv::Run run(cc.con);
        run.parametri.annflag = c.annflag;
        run.parametri.igeo = c.igeo;
        run.glopalla.mmolfraz = c.mmolfraz;
        run.remind.primordial_mass = 1.0f;
        if (c.stops) {
            try {
                cirrus::check_emulator_geometry(run, c.fgas);
                ADD_FAILURE() << "no stop";
            } catch (const Stop& s) {
                ASSERT_EQ(s.lines.size(), 1u);
                EXPECT_EQ(s.lines[0], " ERROR: annflag=" + std::to_string(c.annflag) +
                                          " (cirrus emulator) needs igeo 1, 2 or -1, the geometries with a cirrus "
                                          "network: igeo=" +
                                          std::to_string(c.igeo));
            }
        } else {
            EXPECT_NO_THROW(cirrus::check_emulator_geometry(run, c.fgas));
        }
    }
}

TEST(CirrusEmulator, ASpectrumWithoutEnergyStops) {
    EmuCirrus m;
    m.loglum = {-60.0f, -60.0f, -60.0f};  // 10^-60 underflows to 0 in 4-byte reals
    try {
        cirrus::energies(m.run);
        ADD_FAILURE() << "no stop";
    } catch (const Stop& s) {
        EXPECT_NE(s.lines.front().find("cirrus emulator's spectrum integrates to"), std::string::npos) << s.lines.front();
    }
}

}  // namespace
}  // namespace qv
