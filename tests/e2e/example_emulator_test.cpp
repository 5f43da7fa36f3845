// The example model run by the quelvo program with the emulator: annflag 2
// (the cirrus emission from the cirrus network), 3 (both emulators; the
// clouds' dust emission is still not computed) and 1 (the clouds' network with
// the cirrus solved), the spheroid's network, a geometry without a network,
// and the errors of missing or broken emulator files. Checks the run log, the
// energy budget and the spectra files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/example_outputs.h"
#include "support/test_support.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;

bool has_line(const std::vector<std::string>& lines, const std::string& l) {
    return std::find(lines.begin(), lines.end(), l) != lines.end();
}

class ExampleEmulator : public ::testing::Test {
protected:
    static inline fs::path dir;
    struct Run {
        std::string args;
        int status = -1;
        std::string out;
    };
    static inline std::vector<Run> runs;

    static void SetUpTestSuite() {
        dir = fresh_folder("qv-e2e-ann");
        write_example_folder(dir);
        fs::create_directories(dir / "noann");
        // A data folder without the emulator's files.
        for (const auto& e : fs::directory_iterator(dir))
            if (e.is_regular_file() && !e.is_symlink()) fs::copy_file(e.path(), dir / "noann" / e.path().filename());
        fs::create_symlink(bin_path("quelvo"), dir / "noann" / "quelvo");
        for (const char* args : {"annflag=2 nameres=ann2", "annflag=3 nameres=ann3", "annflag=2 igeo=1 nameres=sph",
                                 "annflag=2 igeo=0 nameres=geo0", "annflag=2 igeo=0 mmolfraz=-1 nameres=geo0gasfree",
                                 "annflag=4 nameres=bad", "annflag=1 nameres=ann1"}) {
            runs.emplace_back();
            runs.back().args = args;
        }
        for (Run& r : runs)
            r.status = run_quelvo(dir, "example " + r.args, &r.out);
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    static const Run& run(const std::string& args) {
        for (const Run& r : runs)
            if (r.args == args) return r;
        throw std::runtime_error("no run " + args);
    }
    static std::vector<std::string> log(const std::string& res) { return read_lines((dir / (res + ".out")).string()); }
};

TEST_F(ExampleEmulator, RunsEndNormallyAndTheCirrusNetworkIsRead) {
    for (const char* a : {"annflag=2 nameres=ann2", "annflag=3 nameres=ann3", "annflag=2 igeo=1 nameres=sph"}) {
        const Run& r = run(a);
        ASSERT_EQ(r.status, 0) << a << "\n" << r.out;
        const std::vector<std::string> out = split_lines(r.out);
        const bool sph = std::string(a).find("igeo=1") != std::string::npos;
        EXPECT_TRUE(has_line(out, std::string(" will read network from ./ann/cirrus_") + (sph ? "sph" : "dis") + ".net"))
            << a;
        // The example lies inside the trained ranges: every flag T, no warning.
        EXPECT_EQ(r.out.find("SEVERE WARNING"), std::string::npos) << a;
        EXPECT_EQ(r.out.find("         F "), std::string::npos) << a;
        EXPECT_TRUE(has_line(out, "         T log_md_l    -7.80    ") || sph) << a;
        // The cell-by-cell emission does not run.
        EXPECT_EQ(r.out.find("giroytime="), std::string::npos) << a;
    }
}

// The cirrus re-emits exactly what it absorbs (up to the parts of the
// emulator's spectrum outside the dust grid), and the output is the input
// less what the molecular clouds absorb, as in the solved run.
TEST_F(ExampleEmulator, EnergyBudgetHoldsWithinTheSolvedRunsMargins) {
    const std::vector<std::string> solved = read_lines(std::string(QV_SOURCE_DIR) + "/examples/expected/example.out");
    const double solved_out_in = number_after(solved, " Output energy / Input (stars) energy");
    const double solved_abs = number_after(solved, " Fraction of total energy absorbed by cirrus");
    for (const char* res : {"ann2", "ann3", "sph"}) {
        SCOPED_TRACE(res);
        const auto l = log(res);
        EXPECT_NEAR(number_after(l, " Energy emitted by cirrus / Energy absorbed by cirrus"), 1.0, 0.02);
        const double out_in = number_after(l, " Output energy / Input (stars) energy");
        EXPECT_NEAR(out_in, 1.0, 0.05);
        if (std::string(res) != "sph") {
            // The PAH bands of the solved run take 1% of its budget; the five
            // emulator directions move the angle average a little.
            EXPECT_NEAR(out_in, solved_out_in, 0.02);
            EXPECT_NEAR(number_after(l, " Fraction of total energy absorbed by cirrus"), solved_abs, 0.1 * solved_abs);
        }
        const double lcir = number_after(l, " L cirrus = ");
        const double e1 = number_after(l, " L stars unextincted = ");
        EXPECT_NEAR(lcir / e1, number_after(l, " Fraction of total energy absorbed by cirrus"), 0.02 * lcir / e1);
        // The emulator directions are listed in the budget.
        EXPECT_EQ(has_line(l, " Direction 31.40 degrees"), std::string(res) != "sph");
    }
}

TEST_F(ExampleEmulator, SpectraFilesLoadAsNineNumbersAndCarryTheEmulatedCirrus) {
    for (const char* res : {"ann2", "ann3"}) {
        SCOPED_TRACE(res);
        const double lcir = number_after(log(res), " L cirrus = ");
        for (const char* suffix : {"spe", "0", "45", "70", "80", "90"}) {
            SCOPED_TRACE(suffix);
            const SpectrumTable t = load_spectrum((dir / (std::string(res) + "." + suffix)).string());
            ASSERT_EQ(t.header.size(), 15u);
            EXPECT_EQ(t.bad.size(), 0u);
            ASSERT_GT(t.rows.size(), 100u);
            double peak = 0.0, at = 0.0, area = 0.0;
            for (std::size_t i = 0; i < t.rows.size(); ++i) {
                const auto& r = t.rows[i];
                if (r.size() != 9) continue;
                if (i > 0) {
                    // (Fine-grid points closer than the four written digits read back alike.)
                    EXPECT_GE(r[0], t.rows[i - 1][0]) << "row " << i + 1;
                    area += 0.5 * (r[1] + t.rows[i - 1][1]) * (r[0] - t.rows[i - 1][0]);
                }
                EXPECT_GE(r[1], 0.0);
                // The total is the sum of the cirrus, the starlight and the
                // clouds (and, in the radio, the radio emission).
                if (r[0] < 1e6) {
                    EXPECT_NEAR(r[5], r[1] + r[3] + r[4], 2e-3 * std::fabs(r[5]) + 1e-30) << "row " << i + 1;
                }
                if (r[0] * r[1] > peak) {
                    peak = r[0] * r[1];
                    at = r[0];
                }
                // Nothing below the emulator's first wavelength, 1 micron.
                if (r[0] < 1e4) {
                    EXPECT_EQ(r[1], 0.0) << "row " << i + 1;
                }
            }
            // A cold-dust peak in the far infrared; the cirrus column holds its
            // energy (the run log's value for the angle average).
            EXPECT_GT(at, 5e5);
            EXPECT_LT(at, 2e6);
            if (std::string(suffix) == "spe") {
                EXPECT_NEAR(area, lcir, 0.03 * lcir);
            }
        }
    }
    // annflag 3 treats the cirrus as 2 does; only the clouds' emission that
    // heats it differs (emulated against solved), by far less than 1 %.
    const SpectrumTable a = load_spectrum((dir / "ann2.spe").string()), b = load_spectrum((dir / "ann3.spe").string());
    ASSERT_EQ(a.rows.size(), b.rows.size());
    for (std::size_t i = 0; i < a.rows.size(); ++i)
        EXPECT_NEAR(a.rows[i][1], b.rows[i][1], 2e-3 * a.rows[i][1]) << "row " << i + 1;
}

// The clouds' emission in a direction's file is the one the cirrus lets through
// in that direction, whether the clouds are solved (annflag 0: the example's
// committed outputs, which the run test holds the program to) or emulated with
// the cirrus solved (annflag 1): edge-on, the disk dims it in the mid infrared
// below the angle average.
TEST_F(ExampleEmulator, CloudEmissionKeepsEachDirectionsAttenuation) {
    ASSERT_EQ(run("annflag=1 nameres=ann1").status, 0) << run("annflag=1 nameres=ann1").out;
    const std::string shipped = std::string(QV_SOURCE_DIR) + "/examples/expected/example";
    const std::string ann1 = (dir / "ann1").string();
    for (const std::string& stem : {shipped, ann1}) {
        SCOPED_TRACE(stem);
        const SpectrumTable edge = load_spectrum(stem + ".90"), mean = load_spectrum(stem + ".spe");
        ASSERT_TRUE(edge.bad.empty());
        ASSERT_TRUE(mean.bad.empty());
        ASSERT_EQ(edge.rows.size(), mean.rows.size());
        // Rows at 5-30 micron; those at most 20 micron not below the average,
        // those (annflag 1) within the four written digits of it.
        int seen = 0, not_below = 0, alike = 0;
        double first_not_below = 0.0, first_alike = 0.0;
        for (std::size_t i = 0; i < edge.rows.size(); ++i) {
            const auto &e = edge.rows[i], &m = mean.rows[i];
            ASSERT_EQ(e[0], m[0]) << "row " << i + 1;
            if (e[0] < 5e4 || e[0] > 3e5) continue;
            ++seen;
            if (e[0] <= 2e5 && !(e[4] < m[4]) && not_below++ == 0) first_not_below = e[0];
            if (stem == ann1 && !(std::fabs(e[4] / m[4] - 1.0) > 2e-3) && alike++ == 0) first_alike = e[0];
        }
        EXPECT_GT(seen, 100);
        EXPECT_EQ(not_below, 0) << "first at " << first_not_below << " A";
        EXPECT_EQ(alike, 0) << "first at " << first_alike << " A";
    }
}

// A galaxy with diffuse gas in a geometry that has no cirrus network is
// refused once the dust is prepared, before the clouds' solves, rather than
// ending with no cirrus emission at all. Without diffuse gas the branch does
// not run, and neither does its check: the run ends normally.
TEST_F(ExampleEmulator, GeometryWithoutANetworkStopsBeforeTheClouds) {
    const Run& r = run("annflag=2 igeo=0 nameres=geo0");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(has_line(split_lines(r.out), " ERROR: annflag=2 (cirrus emulator) needs igeo 1, 2 or -1, the geometries "
                                       "with a cirrus network: igeo=0"))
        << r.out;
    EXPECT_EQ(r.out.find("will read network"), std::string::npos);
    EXPECT_EQ(r.out.find("scratch files"), std::string::npos) << r.out;  // no cloud solve began
    EXPECT_FALSE(fs::exists(dir / "geo0.spe"));

    const Run& g = run("annflag=2 igeo=0 mmolfraz=-1 nameres=geo0gasfree");
    ASSERT_EQ(g.status, 0) << g.out;
    EXPECT_EQ(g.out.find("ERROR"), std::string::npos) << g.out;
    EXPECT_EQ(g.out.find("will read network"), std::string::npos);
    for (const std::string& s : kExampleSuffixes) {
        const SpectrumTable t = load_spectrum((dir / ("geo0gasfree." + s)).string());
        EXPECT_FALSE(t.rows.empty()) << s;
        EXPECT_TRUE(t.bad.empty()) << s << ": " << (t.bad.empty() ? "" : t.bad.front());
    }
    const std::vector<std::string> l = log("geo0gasfree");
    ASSERT_FALSE(l.empty());
    EXPECT_EQ(l.back().rfind(" used cpu time =", 0), 0u);
}

TEST_F(ExampleEmulator, AnnflagOutsideItsValuesIsRefused) {
    const Run& r = run("annflag=4 nameres=bad");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(" ERROR: annflag must be 0, 1, 2 or 3, annflag="), std::string::npos) << r.out;
}

TEST_F(ExampleEmulator, MissingOrBrokenEmulatorFilesEndTheRunNamingThem) {
    // No folder ann/: the names beginning "ann\" are looked for, and not created.
    std::string out;
    const int st = run_quelvo(dir / "noann", "example annflag=2", &out);
    EXPECT_EQ(st, 2) << out;
    EXPECT_NE(out.find("./ann\\f_aux_dis.dat"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(dir / "noann" / "ann\\f_aux_dis.dat"));
    // A weights file cut short.
    fs::create_directories(dir / "noann" / "ann");
    for (const char* f : {"f_aux_dis.dat", "cirrus_dis.net"}) fs::copy_file(dir / "ann" / f, dir / "noann" / "ann" / f);
    const std::string net = read_text((dir / "noann" / "ann" / "cirrus_dis.net").string());
    write_text((dir / "noann" / "ann" / "cirrus_dis.net").string(), net.substr(0, net.size() / 2));
    const int st2 = run_quelvo(dir / "noann", "example annflag=2", &out);
    EXPECT_EQ(st2, 2) << out;
    EXPECT_NE(out.find("./ann/cirrus_dis.net"), std::string::npos) << out;
    // No spectra file is left behind by the stopped run.
    EXPECT_FALSE(fs::exists(dir / "noann" / "example.spe"));
}

}  // namespace
}  // namespace qv::test
