// The example model run end to end by the quelvo program itself, as example.sh
// runs it: the run log, the spectra files, the energy balance, and a comparison
// with the outputs committed beside the example (examples/expected/).
//
// The model runs twice, once for all the checks: as shipped (with the PAH
// bands and the HII regions), and with pahflag=0, whose energy budget on the
// dust grid closes. Two short runs without the cirrus emission, with and
// without the HII regions, show what the HII regions add.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "io/format.h"
#include "support/example_outputs.h"
#include "support/test_support.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;

// Two printed values agree to the four significant digits they carry.
bool close(double a, double b) { return std::fabs(a - b) <= 2e-3 * std::max(std::fabs(a), std::fabs(b)) + 1e-37; }

class ExampleModel : public ::testing::Test {
protected:
    static inline fs::path dir;
    static inline std::string out, out_nopah, out_on, out_off;
    static inline int status = -1, status_nopah = -1, status_on = -1, status_off = -1;
    static inline std::string out_threads[2];
    static inline int status_threads[2] = {-1, -1};

    static void SetUpTestSuite() {
        dir = fresh_folder("qv-e2e");
        write_example_folder(dir);
        const std::string fast = " emiflag=0 pahflag=0";
        status_off = run_quelvo(dir, "example hiiflag=0 nameres=hiioff" + fast, &out_off);
        status_on = run_quelvo(dir, "example nameres=hiion" + fast, &out_on);
        // Without the PAH bands and the HII regions, every energy that is
        // absorbed is given back in the spectra. (Before the run as shipped:
        // the lvg file is named after the model, whatever nameres.)
        status_nopah = run_quelvo(dir, "example pahflag=0 hiiflag=0 nameres=nopah", &out_nopah);
        status = run_quelvo(dir, "example", &out);
        // The example again with one and with two threads, each in a folder of
        // its own (the run above takes every core).
        for (int k = 0; k < 2; ++k) {
            const fs::path sub = dir / ("threads" + std::to_string(k + 1));
            write_example_folder(sub);
            status_threads[k] = run_quelvo(sub, "example", &out_threads[k], "OMP_NUM_THREADS=" + std::to_string(k + 1));
        }
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    static std::string path(const std::string& name) { return (dir / name).string(); }
    static std::vector<std::string> log(const std::string& res = "example") { return read_lines(path(res + ".out")); }
};

TEST_F(ExampleModel, EndsNormally) {
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(status_nopah, 0) << out_nopah;
    EXPECT_EQ(status_on, 0) << out_on;
    EXPECT_EQ(status_off, 0) << out_off;
    EXPECT_NE(out.find(" FATTO PALLANOLT96"), std::string::npos);
}

// The HII regions of the example: their messages, the pan file named after the
// model whatever the result name, and its case-B lines.
TEST_F(ExampleModel, HiiRegionsWriteThePanFile) {
    EXPECT_NE(out.find(" Computing HII regions emission.\n"), std::string::npos);
    EXPECT_NE(out.find(" HII regions computation completed.\n"), std::string::npos);
    EXPECT_EQ(out.find("CHECKINT"), std::string::npos);
    EXPECT_EQ(out_off.find("HII regions"), std::string::npos);
    EXPECT_FALSE(fs::exists(path("nopah.pan")));
    EXPECT_FALSE(fs::exists(path("hiion.pan")));
    const auto pan = read_lines(path("example.pan"));
    // Header, three records for each of the two cloud types and the escaped
    // stars, the column line, 114 lines.
    ASSERT_EQ(pan.size(), 1u + 9u + 1u + 114u);
    EXPECT_EQ(pan[0], "# file     =example");
    for (int row = 0; row < 3; ++row) {
        const double ha = number_after({pan[static_cast<std::size_t>(1 + 3 * row)]}, "# L_Ha(str)=");
        const double hb = number_after({pan[static_cast<std::size_t>(2 + 3 * row)]}, "# L_Hb(str)=");
        const double qh = number_after({pan[static_cast<std::size_t>(3 + 3 * row)]}, "# Q(H)     =");
        EXPECT_NEAR(ha / hb, 2.87, 0.01) << row;
        EXPECT_NEAR(hb / qh, 4.79e-3, 2e-5) << row;
        EXPECT_GT(qh, 0.0) << row;
    }
    // H beta interpolated in the library against the case-B H beta: the cloud
    // types' lines (0.99 of the photons) and the escaped stars'.
    const auto hbeta = numbers(pan[11 + 9].substr(11));
    ASSERT_EQ(hbeta.size(), 8u);
    for (int row = 0; row < 3; ++row)
        EXPECT_NEAR(hbeta[static_cast<std::size_t>(1 + row)] / (0.99 * number_after({pan[static_cast<std::size_t>(2 + 3 * row)]}, "# L_Hb(str)=")),
                    1.0, 0.05)
            << row;
    for (std::size_t k = 11; k < pan.size(); ++k) {
        const auto v = numbers(pan[k].substr(11));
        ASSERT_EQ(v.size(), 8u) << pan[k];
        for (double x : v) EXPECT_TRUE(std::isfinite(x) && x >= 0.0) << pan[k];
    }
}

// The nebular continuum in the spectra: against the unattenuated starlight,
// the starlight after the clouds gains above the Lyman edge and keeps 1% below.
TEST_F(ExampleModel, HiiRegionsAddTheNebularContinuumToTheSpectra) {
    const SpectrumTable on = load_spectrum(path("hiion.spe")), off = load_spectrum(path("hiioff.spe"));
    ASSERT_EQ(on.rows.size(), off.rows.size());
    int gains = 0;
    for (std::size_t i = 0; i < on.rows.size(); ++i) {
        const auto& a = on.rows[i];
        const auto& b = off.rows[i];
        ASSERT_EQ(a[0], b[0]);
        if (!(a[6] > 0.0 && b[6] > 0.0 && b[2] > 0.0) || a[0] > 5e6) continue;
        const double r = (a[2] / a[6]) / (b[2] / b[6]);
        if (a[0] < 911.8) {
            EXPECT_LT(r, 0.02) << a[0];
        } else {
            EXPECT_GT(r, 1.0 - 5e-4) << a[0];  // four printed digits
            gains += r > 1.001 ? 1 : 0;
        }
    }
    EXPECT_GT(gains, 20);
    // The budget moves by the light the HII regions take and do not give back
    // as continuum (their lines are listed, not added to the spectra).
    const double on_in = number_after(log("hiion"), " Output energy / Input (stars) energy");
    const double off_in = number_after(log("hiioff"), " Output energy / Input (stars) energy");
    EXPECT_LT(on_in, off_in + 2e-3);
    EXPECT_NEAR(on_in, off_in, 0.01);
}

TEST_F(ExampleModel, RunLogHoldsEveryStageInOrder) {
    const auto lines = log();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), " USEFUL CHECKING NUMBERS FOLLOW");
    EXPECT_EQ(lines[lines.size() - 2], "");
    EXPECT_EQ(lines.back().rfind(" used cpu time =", 0), 0u);
    const std::vector<std::string> order = {
        " Present SFR=",
        " tau palla a 1 micron=",
        " Rsubl=",
        " Rsubl=",
        " ncloud,lumdus,lprima-ldopo,lprima,ldopo",
        " n_tau_mc=",
        " tau1=",
        " rcloud[pc]=",
        " f_mc_arr=",
        " t0_arr[Gyr]=",
        " Mdust = ",
        "igeo  rcstar      rcdiff       rdstar     rddiff      zddiff      zdstar",
        " ndr=",
        " Polar tau cirrus at 1 and 0.44 micron =",
        " Equatorial tau cirrus at 1 micron =",
        " Tau cirrus at 1 micron if it were homogeneous =",
        " Conversion factor to tau_extinction =",
        " Min wl [micron] where cirrus emits more than 10% = ",
        " tau(this wl)/tau(1 micron) = ",
        " Output energy / Input (stars) energy",
        " Energy emitted by cirrus / Energy absorbed by cirrus",
        " Fraction of total energy absorbed by cirrus",
        " Luminosities are given in 1e30 erg/s",
        " L stars unextincted = ",
        " L stars extincted only by MCs = ",
        " L MCs not extincted by cirrus = ",
        " L cirrus = ",
        " Angle average ",
        " Direction  0.00 degrees",
        " Direction 45.00 degrees",
        " Direction 70.00 degrees",
        " Direction 80.00 degrees",
        " Direction 90.00 degrees",
        " used cpu time =",
    };
    std::size_t at = 0;
    for (const auto& want : order) {
        while (at < lines.size() && lines[at].rfind(want, 0) != 0) ++at;
        ASSERT_LT(at, lines.size()) << "missing or out of order: '" << want << "'";
    }
}

// Without the PAH bands, the cirrus and the molecular clouds re-emit what they
// absorb, and the output is the input.
TEST_F(ExampleModel, EnergyBudgetCloses) {
    for (const std::string res : {"example", "nopah"}) {
        SCOPED_TRACE(res);
        const auto lines = log(res);
        const double out_in = number_after(lines, " Output energy / Input (stars) energy");
        EXPECT_NEAR(out_in, 1.0, res == "nopah" ? 0.03 : 0.05);
        // The clouds take (lprima - ldopo) per cloud, ncloud clouds, and their
        // dust gives back lumdus per cloud.
        std::size_t k = 0;
        while (k < lines.size() && lines[k] != " ncloud,lumdus,lprima-ldopo,lprima,ldopo") ++k;
        ASSERT_LT(k + 1, lines.size());
        const auto c = numbers(lines[k + 1]);
        ASSERT_EQ(c.size(), 5u);
        EXPECT_GT(c[2], 0.0);
        // The cloud solver gives back about 95 % of it: the ultraviolet
        // absorption of the clouds' PAHs is not re-emitted by the solver, and its
        // source table carries a little more light than the SSP grid's integral.
        // With the HII regions (the example as shipped) the clouds' take also
        // holds the ionising light of their gas, whose lines go to the pan file.
        const double dust_share = c[1] / c[2];
        if (res == "nopah") {
            EXPECT_NEAR(dust_share, 1.0, 0.07) << "cloud dust luminosity over the starlight the clouds absorb";
        } else {
            EXPECT_GT(dust_share, 0.80) << "cloud dust luminosity over the starlight the clouds absorb";
            EXPECT_LT(dust_share, 0.95) << "the HII regions' share of the clouds' take is missing";
        }
        const double e1 = number_after(lines, " L stars unextincted = ");
        const double lstar = number_after(lines, " L stars extincted only by MCs = ");
        // e1 is integrated on the SSP grid and L* on the dust grid, which stops
        // short of the SSP grid's far ultraviolet (where the clouds absorb most):
        // the two agree to a fraction of a percent of e1.
        EXPECT_NEAR(c[0] * c[2], e1 - lstar, 5e-3 * e1);
    }
    EXPECT_NEAR(number_after(log("nopah"), " Energy emitted by cirrus / Energy absorbed by cirrus"), 1.0, 0.05);
}

// The PAH bands stand on the dust grid as spikes five points wide, whose
// trapezoid area is a small part of the band luminosity that the spectra files
// show as profiles: the budget on the grid misses the rest.
TEST_F(ExampleModel, PahBandsAreMeasuredInTheSpectraFiles) {
    const double with = number_after(log(), " Energy emitted by cirrus / Energy absorbed by cirrus");
    const double without = number_after(log("nopah"), " Energy emitted by cirrus / Energy absorbed by cirrus");
    EXPECT_LT(with, without);
    EXPECT_GT(with, 0.8);
    // The spectrum with the profiles carries more cirrus emission than the grid.
    const SpectrumTable s = load_spectrum(path("example.spe"));
    const SpectrumTable n = load_spectrum(path("nopah.spe"));
    auto integral = [](const SpectrumTable& sp, int col) {
        double a = 0.0;
        for (std::size_t i = 1; i < sp.rows.size(); ++i)
            a += 0.5 * (sp.rows[i][col] + sp.rows[i - 1][col]) * (sp.rows[i][0] - sp.rows[i - 1][0]);
        return a;
    };
    EXPECT_GT(s.rows.size(), n.rows.size());
    EXPECT_GT(integral(s, 1), integral(n, 1));
}

TEST_F(ExampleModel, SpectraFilesLoadAsNineNumbersPerRow) {
    for (const std::string res : {"example", "nopah"}) {
        for (const auto& suffix : kExampleSuffixes) {
            const std::string name = res + "." + suffix;
            SCOPED_TRACE(name);
            ASSERT_TRUE(fs::exists(path(name)));
            const SpectrumTable s = load_spectrum(path(name));
            EXPECT_TRUE(s.bad.empty()) << s.bad.front();
            ASSERT_EQ(s.header.size(), 15u);
            EXPECT_EQ(s.header[0],
                      suffix == "spe" ? std::string("# Angle average")
                                      : fio::write_line("('# Direction ',G10.3,' degrees')", {std::stof(suffix)}));
            EXPECT_EQ(s.header[1], "# (1): Wavelength in Angstrom");
            EXPECT_EQ(s.header[13], "# otherwise = cols. 7,4 resp.");
            EXPECT_EQ(s.header[14].size(), 94u);
            ASSERT_GT(s.rows.size(), 100u);
            for (std::size_t i = 1; i < s.rows.size(); ++i) EXPECT_GE(s.rows[i][0], s.rows[i - 1][0]) << i;
            for (const auto& r : s.rows) {
                // Column 6 is the total of the cirrus, the attenuated starlight and
                // the clouds, and from 1e6 A on also of the radio emission.
                const double sum = r[1] + r[3] + r[4];
                if (r[0] < 1e6)
                    EXPECT_LE(std::fabs(r[5] - sum), 2e-3 * r[5] + 1e-37) << r[0];
                else
                    EXPECT_GE(r[5], sum * (1.0 - 2e-3)) << r[0];
                for (double v : r) EXPECT_GE(v, 0.0) << r[0];
            }
            // The clouds' dust shines in every file, in the infrared.
            double glow = 0.0;
            for (const auto& r : s.rows)
                if (r[0] > 3e4) glow = std::max(glow, r[4]);
            EXPECT_GT(glow, 0.0);
        }
    }
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string f = e.path().filename().string();
        EXPECT_EQ(f.find(".tmp"), std::string::npos) << e.path();
        // The clouds' scratch files are gone; only the solver's map files stay.
        if (f.rfind("tmp", 0) == 0) {
            EXPECT_EQ(f.substr(f.size() - 4), ".MAP") << f;
        }
    }
    for (const auto& suffix : kExampleSuffixes) EXPECT_TRUE(fs::exists(path("example." + suffix + ".pah"))) << suffix;
}

// The CO lines of the clouds: the lvg file holds every model of the example's
// LVG grid with finite values.
TEST_F(ExampleModel, CoLinesOfEveryGridModelAreFinite) {
    const auto lvg = read_lines(path("example.lvg"));
    ASSERT_GT(lvg.size(), 4u);
    EXPECT_EQ(lvg[0].rfind("# NH21=", 0), 0u);
    EXPECT_EQ(lvg[3], "#mol    TK     gradV    log(Xco)   nu[Hz]  lambda[mum] log(lum_max)[erg/s/Hz] log(lum)[erg/s]");
    std::vector<int> models;
    for (std::size_t k = 4; k < lvg.size(); ++k) {
        const auto v = numbers(lvg[k]);
        ASSERT_EQ(v.size(), 8u) << lvg[k];
        for (double x : v) EXPECT_TRUE(std::isfinite(x)) << lvg[k];
        if (models.empty() || models.back() != int(v[0])) models.push_back(int(v[0]));
    }
    EXPECT_EQ(models, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_NE(out.find("finlvg"), std::string::npos);
}

// A fresh run reproduces the outputs committed beside the example, to the digits
// they are printed with (lines that hold times are left out).
TEST_F(ExampleModel, MatchesTheCommittedOutputs) {
    const std::string expected = std::string(QV_SOURCE_DIR) + "/examples/expected/";
    std::vector<std::string> files = {"example.out", "example.pan", "example.lvg"};
    for (const auto& suffix : kExampleSuffixes) files.push_back("example." + suffix);
    for (const auto& f : files) {
        SCOPED_TRACE(f);
        const auto want = read_lines(expected + f);
        const auto got = read_lines(path(f));
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < want.size(); ++i) {
            if (want[i].find("time") != std::string::npos) continue;
            const auto a = numbers(want[i]);
            const auto b = numbers(got[i]);
            ASSERT_EQ(a.size(), b.size()) << "line " << i + 1 << ": " << got[i];
            if (a.empty()) {
                EXPECT_EQ(got[i], want[i]) << "line " << i + 1;
                continue;
            }
            for (std::size_t k = 0; k < a.size(); ++k)
                EXPECT_TRUE(close(a[k], b[k])) << "line " << i + 1 << ": " << got[i] << "\n   expected: " << want[i];
        }
    }
}

// Lines that differ from run to run: the times, the solver's seed and scratch
// names.
bool varies(const std::string& line) {
    for (const char* k : {"time", "seed=", "scratch files", "Impiegati"})
        if (line.find(k) != std::string::npos) return true;
    return false;
}

std::vector<std::string> steady(const std::vector<std::string>& lines) {
    std::vector<std::string> v;
    for (const auto& l : lines)
        if (!varies(l)) v.push_back(l);
    return v;
}

// One thread, two threads and every core write the same files to the byte, and
// the same lines on standard output, but for the lines that hold times; the
// files are those committed beside the example, to the byte.
TEST_F(ExampleModel, AnyNumberOfThreadsWritesTheSameFiles) {
    std::vector<std::string> files = {"example.pan", "example.lvg"};
    for (const auto& suffix : kExampleSuffixes) files.push_back("example." + suffix);
    const std::string expected = std::string(QV_SOURCE_DIR) + "/examples/expected/";
    for (const auto& f : files) EXPECT_EQ(read_text(path(f)), read_text(expected + f)) << f;
    EXPECT_EQ(steady(log()), steady(read_lines(expected + "example.out")));
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE("threads " + std::to_string(k + 1));
        ASSERT_EQ(status_threads[k], 0) << out_threads[k];
        const fs::path sub = dir / ("threads" + std::to_string(k + 1));
        for (const auto& f : files) {
            SCOPED_TRACE(f);
            EXPECT_EQ(read_text((sub / f).string()), read_text(path(f)));
        }
        EXPECT_EQ(steady(read_lines((sub / "example.out").string())), steady(log()));
        EXPECT_EQ(steady(split_lines(out_threads[k])), steady(split_lines(out)));
    }
}

}  // namespace
}  // namespace qv::test
