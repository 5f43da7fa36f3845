// The example model run by the quelvo program with the emulator: annflag 2
// (the cirrus emission from the cirrus network) and 3 (both emulators; the
// clouds' dust emission is still not computed), the spheroid's network, a
// geometry without a network, and the errors of missing or broken emulator
// files. Checks the run log, the energy budget and the spectra files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "generators.h"
#include "support/test_support.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;

struct Table {
    std::vector<std::string> header;
    std::vector<std::vector<double>> rows;
    int bad = 0;  // rows that are not nine finite numbers
};

Table load_spectrum(const std::string& path) {
    Table t;
    for (const std::string& line : read_lines(path)) {
        if (!line.empty() && line[0] == '#') {
            t.header.push_back(line);
            continue;
        }
        std::istringstream in(line);
        std::vector<double> row;
        std::string tok;
        bool ok = true;
        while (in >> tok) {
            char* end = nullptr;
            const double v = std::strtod(tok.c_str(), &end);
            ok = ok && end != tok.c_str() && *end == '\0' && std::isfinite(v);
            row.push_back(v);
        }
        if (!ok || row.size() != 9) ++t.bad;
        t.rows.push_back(row);
    }
    return t;
}

double number_after(const std::vector<std::string>& lines, const std::string& label) {
    for (const auto& l : lines) {
        const auto at = l.find(label);
        if (at == std::string::npos) continue;
        std::istringstream s(l.substr(at + label.size()));
        double v;
        if (s >> v) return v;
    }
    ADD_FAILURE() << "no line with " << label;
    return NAN;
}

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
        dir = fs::temp_directory_path() / ("qv-e2e-ann-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir / "noann");
        qvgen::write_example_data(dir.string());
        qvgen::write_example_model_files(dir.string());
        fs::copy_file(std::string(QV_SOURCE_DIR) + "/examples/example.par", dir / "example.par");
        fs::create_symlink(bin_path("quelvo"), dir / "quelvo");
        // A data folder without the emulator's files.
        for (const auto& e : fs::directory_iterator(dir))
            if (e.is_regular_file() && !e.is_symlink()) fs::copy_file(e.path(), dir / "noann" / e.path().filename());
        fs::create_symlink(bin_path("quelvo"), dir / "noann" / "quelvo");
        for (const char* args : {"annflag=2 nameres=ann2", "annflag=3 nameres=ann3", "annflag=2 igeo=1 nameres=sph",
                                 "annflag=2 igeo=0 nameres=geo0", "annflag=4 nameres=bad"}) {
            runs.emplace_back();
            runs.back().args = args;
        }
        for (Run& r : runs)
            r.status = run_command("cd '" + dir.string() + "' && ./quelvo example " + r.args + " 2>&1", &r.out);
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
    static std::vector<std::string> lines(const std::string& text) {
        std::vector<std::string> v;
        std::istringstream s(text);
        std::string l;
        while (std::getline(s, l)) v.push_back(l);
        return v;
    }
};

TEST_F(ExampleEmulator, RunsEndNormallyAndTheCirrusNetworkIsRead) {
    for (const char* a : {"annflag=2 nameres=ann2", "annflag=3 nameres=ann3", "annflag=2 igeo=1 nameres=sph"}) {
        const Run& r = run(a);
        ASSERT_EQ(r.status, 0) << a << "\n" << r.out;
        const std::vector<std::string> out = lines(r.out);
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
            const Table t = load_spectrum((dir / (std::string(res) + "." + suffix)).string());
            ASSERT_EQ(t.header.size(), 15u);
            EXPECT_EQ(t.bad, 0);
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
    const Table a = load_spectrum((dir / "ann2.spe").string()), b = load_spectrum((dir / "ann3.spe").string());
    ASSERT_EQ(a.rows.size(), b.rows.size());
    for (std::size_t i = 0; i < a.rows.size(); ++i)
        EXPECT_NEAR(a.rows[i][1], b.rows[i][1], 2e-3 * a.rows[i][1]) << "row " << i + 1;
}

// A geometry that has no cirrus network is refused when MAIN is read, before
// any stage runs, rather than ending with no cirrus emission at all.
TEST_F(ExampleEmulator, GeometryWithoutANetworkStopsWhenMainIsRead) {
    const Run& r = run("annflag=2 igeo=0 nameres=geo0");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_TRUE(has_line(lines(r.out), " ERROR: annflag=2 (cirrus emulator) needs igeo 1, 2 or -1, the geometries "
                                       "with a cirrus network: igeo=0"))
        << r.out;
    EXPECT_EQ(r.out.find("will read network"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "geo0.spe"));
}

TEST_F(ExampleEmulator, AnnflagOutsideItsValuesIsRefused) {
    const Run& r = run("annflag=4 nameres=bad");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(" ERROR: annflag must be 0, 1, 2 or 3, annflag="), std::string::npos) << r.out;
}

TEST_F(ExampleEmulator, MissingOrBrokenEmulatorFilesEndTheRunNamingThem) {
    // No folder ann/: the names beginning "ann\" are looked for, and not created.
    std::string out;
    const int st = run_command("cd '" + (dir / "noann").string() + "' && ./quelvo example annflag=2 2>&1", &out);
    EXPECT_EQ(st, 2) << out;
    EXPECT_NE(out.find("./ann\\f_aux_dis.dat"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(dir / "noann" / "ann\\f_aux_dis.dat"));
    // A weights file cut short.
    fs::create_directories(dir / "noann" / "ann");
    for (const char* f : {"f_aux_dis.dat", "cirrus_dis.net"}) fs::copy_file(dir / "ann" / f, dir / "noann" / "ann" / f);
    const std::string net = read_text((dir / "noann" / "ann" / "cirrus_dis.net").string());
    write_text((dir / "noann" / "ann" / "cirrus_dis.net").string(), net.substr(0, net.size() / 2));
    const int st2 = run_command("cd '" + (dir / "noann").string() + "' && ./quelvo example annflag=2 2>&1", &out);
    EXPECT_EQ(st2, 2) << out;
    EXPECT_NE(out.find("./ann/cirrus_dis.net"), std::string::npos) << out;
    // No spectra file is left behind by the stopped run.
    EXPECT_FALSE(fs::exists(dir / "noann" / "example.spe"));
}

}  // namespace
}  // namespace qv::test
