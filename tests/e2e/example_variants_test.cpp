// The example model run by the quelvo program with inputs that a user may try:
// other dust-grid sizes with the PAH bands, the spectra on the SSP grid, and
// values that make a checking number of the run log lose its value. A spheroid
// of 8 radial cells keeps each run short; its dust and stars are the example's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "core/run_lock.h"
#include "support/example_outputs.h"
#include "support/test_support.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;

const std::string kFast = " igeo=1 ndr=8 namesf=example";

class ExampleVariants : public ::testing::Test {
protected:
    static inline fs::path dir;

    static void SetUpTestSuite() {
        dir = fresh_folder("qv-variants");
        write_example_folder(dir);
        const std::string par = read_text((dir / "example.par").string());
        // An almost dust-free galaxy: its own par file, the example's history.
        const std::string key = "\ndsug      0.0089";
        const auto at = par.find(key);
        ASSERT_NE(at, std::string::npos);
        write_text((dir / "nodust.par").string(), par.substr(0, at) + "\ndsug      1e-30 " + par.substr(at + key.size()));
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    static std::string path(const std::string& name) { return (dir / name).string(); }
    static int run(const std::string& args, std::string* out) {
        return run_quelvo(dir, args, out);
    }
};

// A number without a value, as the formatted output writes one (NaN, Infinity,
// Inf, with a sign) or as C would (nan, inf).
bool has_no_value(const std::string& text) {
    std::istringstream in(text);
    std::string tok;
    while (in >> tok) {
        std::string t;
        for (char ch : tok)
            if (ch != '+' && ch != '-' && ch != '=') t += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (t == "nan" || t == "inf" || t == "infinity") return true;
    }
    return false;
}

struct Case {
    const char* what;
    std::string args;
    int status;
    const char* says;  // a line of standard output (the stop's message), or ""
};

TEST_F(ExampleVariants, ExitStatusAndRunLogsWithoutNaNOrInfinity) {
    const Case cases[] = {
        {"nlf 200 with the PAH bands", "example nlf=200 nameres=nlf200" + kFast, 0, ""},
        {"nlf 333 with the PAH bands", "example nlf=333 nameres=nlf333" + kFast, 0, ""},
        {"almost no dust", "nodust nameres=nodust" + kFast, 0, ""},
        {"a cloud radius of 1e-30 pc", "example rcloud=1e-30 nameres=tiny" + kFast, 1,
         "FATAL ERROR: rcloud = 1e-30 (cloud radius, pc) is too small: the clouds' optical depth at 1 micron "
         "is not finite"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string out;
        EXPECT_EQ(run(c.args, &out), c.status) << out;
        EXPECT_NE(out.find(c.says), std::string::npos) << out;
        const std::string res = c.args.substr(c.args.find("nameres=") + 8, c.args.find(' ', c.args.find("nameres=")) -
                                                                               c.args.find("nameres=") - 8);
        const std::string log = read_text(path(res + ".out"));
        EXPECT_FALSE(has_no_value(log)) << log;
        if (c.status == 0) {
            EXPECT_FALSE(has_no_value(out)) << out;
        }
    }
    // The dust-free galaxy prints 0 where a ratio to the dust's absorption has no value.
    const std::string log = read_text(path("nodust.out"));
    EXPECT_NE(log.find(" Conversion factor to tau_extinction =   0.000"), std::string::npos) << log;
}

// Rounding noise below 0 in one row of a history (a rate of -1e-12 Msun/yr)
// is a valid rate of 0: the sf file and the time-series file run to their end.
TEST_F(ExampleVariants, HistoryRowWithANegativeRateRuns) {
    struct History {
        const char* file;  // the example's history
        const char* args;
        int row;  // among the lines that do not begin with "#"
    };
    for (const History h : {History{"example.sf", "istarfo=0", 9}, History{"example_ts.sf", "istarfo=1", 40}}) {
        SCOPED_TRACE(h.file);
        std::istringstream in(read_text(path(h.file)));
        std::string text, line;
        int row = 0;
        bool edited = false;
        while (std::getline(in, line)) {
            if (!line.empty() && line[0] != '#' && ++row == h.row) {
                // The rate is the third value of an sf row and of a time-series row.
                std::istringstream v(line);
                std::vector<std::string> tok;
                for (std::string t; v >> t;) tok.push_back(t);
                ASSERT_GE(tok.size(), 3u);
                tok[2] = "-1.0e-12";
                line.clear();
                for (const std::string& t : tok) line += " " + t;
                edited = true;
            }
            text += line + "\n";
        }
        ASSERT_TRUE(edited);
        write_text(path("noise.sf"), text);
        std::string out;
        ASSERT_EQ(run(std::string("example nameres=noise ") + h.args + kFast + " namesf=noise", &out), 0) << out;
        EXPECT_FALSE(has_no_value(read_text(path("noise.out"))));
        for (const std::string& suffix : kExampleSuffixes) {
            const SpectrumTable t = load_spectrum(path("noise." + suffix));
            EXPECT_FALSE(t.rows.empty()) << suffix;
            EXPECT_TRUE(t.bad.empty()) << suffix << ": " << (t.bad.empty() ? "" : t.bad.front());
        }
    }
}

// The commands of the copy that a refusal for the model's pan file proposes,
// from the run's standard output ("" when it proposes none).
std::string proposed_copy(const std::string& out) {
    const std::vector<std::string> lines = split_lines(out);
    const auto at = std::find(lines.begin(), lines.end(),
                              " this run stops and writes nothing: wait for the other run to end, give it hiiflag=0, "
                              "or run a copy of the model under another name:");
    return at != lines.end() && at + 1 != lines.end() ? (at + 1)->substr(1) : std::string();
}

// A run refused because another run is writing its model's pan file says how
// to run a copy of the model under another name; its commands, run as they
// are said, run the copy to its end (its history and HII model list are the
// model's own).
TEST_F(ExampleVariants, TheCopyThatARefusalProposesRuns) {
    FolderLocks other;  // this process stands in for the other run
    ASSERT_EQ(other.take(dir.string() + "/", "pan example"), FolderLocks::Result::Taken);
    std::string out;
    ASSERT_EQ(run("example nameres=copy igeo=1 ndr=8", &out), 1) << out;
    const std::string cmd = proposed_copy(out);
    ASSERT_FALSE(cmd.empty()) << out;
    EXPECT_EQ(cmd, "cp example.par example_2.par; cp example.lin example_2.lin; ./quelvo example_2 namesf=example "
                   "nameres=copy igeo=1 ndr=8");
    EXPECT_FALSE(fs::exists(path("copy.out")));
    std::string copied;
    ASSERT_EQ(run_command("cd '" + dir.string() + "' && " + cmd + " 2>&1", &copied), 0) << copied;
    EXPECT_TRUE(fs::exists(path("example_2.pan")));
    EXPECT_TRUE(load_spectrum(path("copy.spe")).bad.empty());
    EXPECT_FALSE(has_no_value(read_text(path("copy.out"))));
}

// A folder that already holds a model of the user's under the copy's first
// name (example_2), a result of another (example_3.out) and the results the
// refused run was to write (n2.out): the copy that the refusal proposes takes
// names that no file uses, and its commands, run as said (the program started
// by a path that needs quotes), leave every file of the user's as it was.
TEST_F(ExampleVariants, TheCopyThatARefusalProposesLeavesTheUsersFilesAlone) {
    const fs::path own = fresh_folder("qv-copy-own");
    write_example_folder(own);
    fs::create_directory_symlink(".", own / "my bin");
    const auto in = [&](const std::string& name) { return (own / name).string(); };
    const std::string par = read_text(in("example.par"));
    const std::string tgal = "\ntgal      ";
    ASSERT_NE(par.find(tgal), std::string::npos);
    const std::vector<std::pair<std::string, std::string>> users = {
        {"example_2.par", par.substr(0, par.find(tgal)) + "\ntgal      5.0 my own galaxy" +
                              par.substr(par.find('\n', par.find(tgal) + 1))},
        {"example_2.lin", "my own HII model list\n"},
        {"example_3.out", "my own results\n"},
        {"n2.out", "the results of an earlier run\n"},
    };
    for (const auto& [name, text] : users) write_text(in(name), text);

    FolderLocks other;  // this process stands in for the other run
    ASSERT_EQ(other.take(own.string() + "/", "pan example"), FolderLocks::Result::Taken);
    std::string out;
    const std::string start = "cd '" + own.string() + "' && 'my bin/quelvo' ";
    ASSERT_EQ(run_command(start + "example nameres=n2 igeo=1 ndr=8 2>&1", &out), 1) << out;
    const std::string cmd = proposed_copy(out);
    ASSERT_FALSE(cmd.empty()) << out;
    EXPECT_EQ(cmd, "cp example.par example_4.par; cp example.lin example_4.lin; 'my bin/quelvo' example_4 "
                   "namesf=example nameres=n2_2 igeo=1 ndr=8");
    std::string copied;
    ASSERT_EQ(run_command("cd '" + own.string() + "' && " + cmd + " 2>&1", &copied), 0) << copied;
    for (const auto& [name, text] : users) EXPECT_EQ(read_text(in(name)), text) << name;
    for (const auto& e : fs::directory_iterator(own)) {
        const std::string f = e.path().filename().string();
        const bool user = std::any_of(users.begin(), users.end(), [&](const auto& u) { return u.first == f; });
        EXPECT_TRUE(user || (f.rfind("example_2", 0) != 0 && f.rfind("example_3", 0) != 0 && f.rfind("n2.", 0) != 0))
            << f;
    }
    EXPECT_TRUE(fs::exists(in("example_4.pan")));
    EXPECT_FALSE(has_no_value(read_text(in("n2_2.out"))));
    for (const std::string& suffix : kExampleSuffixes) {
        const SpectrumTable t = load_spectrum(in("n2_2." + suffix));
        EXPECT_FALSE(t.rows.empty()) << suffix;
        EXPECT_TRUE(t.bad.empty()) << suffix << ": " << (t.bad.empty() ? "" : t.bad.front());
    }
    std::error_code ec;
    fs::remove_all(own, ec);
}

// t_bst 0: the bulge law begins at its full share and falls at once.
TEST_F(ExampleVariants, BulgeLawFromTbstZeroRuns) {
    std::string out;
    ASSERT_EQ(run("example nameres=tbst0" + kFast + " igeo=-1 t_bst=0 a_bst=1", &out), 0) << out;
    const std::vector<std::string> log = read_lines(path("tbst0.out"));
    EXPECT_FALSE(has_no_value(read_text(path("tbst0.out"))));
    const double share = number_after(log, "BULGE/TOT in mass=");
    EXPECT_GT(share, 0.0);
    EXPECT_LT(share, 0.5);
    EXPECT_TRUE(load_spectrum(path("tbst0.spe")).bad.empty());
}

TEST_F(ExampleVariants, SpectraOnTheSspGridKeepTheStarlight) {
    std::string out;
    ASSERT_EQ(run("example wavsspout=1 nameres=ssp" + kFast, &out), 0) << out;
    for (const std::string suffix : {"spe", "0", "90"}) {
        SCOPED_TRACE(suffix);
        const auto dust = spectrum_rows(path("ssp." + suffix));
        const auto ssp = spectrum_rows(path("ssp.ssp." + suffix));
        ASSERT_FALSE(dust.empty());
        ASSERT_FALSE(ssp.empty());
        for (const auto& r : ssp)
            for (double x : r) EXPECT_GE(x, 0.0);
        // Every wavelength of the dust-grid file that has starlight keeps it on
        // the SSP grid (the end rows, read back with four digits, included).
        for (const auto& d : dust) {
            if (d[2] <= 0.0) continue;
            bool seen = false;
            for (const auto& r : ssp) {
                if (std::fabs(r[0] - d[0]) > 1e-6 * d[0]) continue;
                seen = true;
                EXPECT_GT(r[2], 0.0) << "starlight at " << r[0];
                EXPECT_GT(r[6], 0.0) << "unattenuated starlight at " << r[0];
            }
            EXPECT_TRUE(seen) << d[0];
        }
    }
}

}  // namespace
}  // namespace qv::test
