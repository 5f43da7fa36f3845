// Bad input through the program's command-line entry, on the example model:
// each stops with its exit status and a message that names the key (or the
// section, file and line) and the value, and leaves no result file behind
// beyond the run log that the stop may follow.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/quelvo.h"
#include "support/example_outputs.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

using test::run_main;

std::string replace_once(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    if (at == std::string::npos) throw std::runtime_error("no text '" + from + "' in the par file");
    return text.replace(at, from.size(), to);
}

std::set<std::string> files_here() {
    std::set<std::string> s;
    // The folder's lock file holds no result: every run in the folder shares it.
    for (const auto& e : fs::directory_iterator(fs::current_path()))
        if (e.path().filename() != ".quelvo.lock") s.insert(e.path().filename().string());
    return s;
}

struct BadInput {
    const char* name;
    std::function<std::string(std::string)> par;  // edits the example par file
    std::vector<std::string> args;                // after the model name
    int status;
    std::vector<std::string> said;  // texts of standard output (status 1) or standard error (status 2)
    bool run_log;                   // the run log exists (the stop comes after the command line)
};

void PrintTo(const BadInput& c, std::ostream* os) {
    *os << c.name << ":";
    for (const auto& a : c.args) *os << " " << a;
    *os << " status " << c.status;
    if (!c.said.empty()) *os << ", saying \"" << c.said.front() << "\"";
}

std::string same(std::string p) { return p; }

std::function<std::string(std::string)> main_key(const char* key, const char* value) {
    return [=](std::string p) { return test::with_main_key(p, key, value); };
}

std::function<std::string(std::string)> edit(const char* from, const char* to) {
    return [=](std::string p) { return replace_once(p, from, to); };
}

// The example's MC_LINE section with its four value lines replaced.
std::function<std::string(std::string)> mc_line(const char* n, const char* r, const char* f, const char* t0) {
    return [=](std::string p) {
        return replace_once(p, "2\n16.0   30.0\n0.6    0.4\n0.003  0.005\n",
                            std::string(n) + "\n" + r + "\n" + f + "\n" + t0 + "\n");
    };
}

const std::string kMc = " FATAL ERROR - section MC_LINE of file m1.par: ";

const BadInput kCases[] = {
    // Every real of the par file and of the overrides is finite.
    {"MAIN tgal NaN", main_key("tgal", "nan"), {}, 2, {"m1.par:5", "tgal", "nan", "not finite"}, true},
    {"MAIN mcloud beyond the float range", main_key("mcloud", "1e39"), {}, 2, {"m1.par:10", "mcloud", "not finite"},
     true},
    {"MAIN optional key NaN", edit("MAIN\n", "MAIN\ntaugalmax nan\n"), {}, 2, {"m1.par:2", "taugalmax", "nan"}, true},
    {"override tgal=inf", same, {"tgal=inf"}, 2, {"command line", "tgal", "inf", "not finite"}, true},
    {"override rcloud=NaN", same, {"rcloud=NaN"}, 2, {"command line", "rcloud", "NaN", "not finite"}, true},
    {"MIXDIF xx NaN", edit("xx        7.5e-25    PAH abundance (about", "xx        nan        PAH abundance (about"),
     {}, 2, {"m1.par:60", "xx", "nan", "not a finite number"}, true},
    {"MIXMOL corgra infinite", edit("corgra    1.0        graphite abundance factor\ncorsil    1.0        silicate "
                                    "abundance factor\nxx        7.5e-25    PAH abundance\n",
                                    "corgra    1e999      graphite abundance factor\ncorsil    1.0        silicate "
                                    "abundance factor\nxx        7.5e-25    PAH abundance\n"),
     {}, 2, {"m1.par:76", "corgra", "1e999", "not a finite number"}, true},

    // A value cut by its columns.
    {"MAIN mcloud past column 20", edit("mcloud    1.0e6       ", "mcloud    1.00000e+06 "), {}, 1,
     {" FATAL ERROR - the value of key mcloud in file m1.par, line 10, runs past column 20: mcloud    1.00000e+06",
      " keys take columns 1-10 and values columns 11-20 of a par-file line"},
     true},
    {"MIXDIF amin_gr past column 20", edit("amin_gr   8.0e-7     smallest graphite radius",
                                           "amin_gr   8.00000e-07smallest graphite radius"),
     {}, 1, {" FATAL ERROR - the value of key amin_gr in file m1.par, line 48, runs past column 20: "}, true},
    // A comment may begin inside MAIN's value field (its first item is read),
    // not inside the fields that are read with an edit descriptor.
    {"MIXDIF comment inside the value field", edit("amin_gr   8.0e-7     smallest graphite radius",
                                                   "amin_gr   8.0e-7 smallest graphite radius"),
     {}, 1,
     {" FATAL ERROR - the value of key amin_gr in file m1.par, line 48, runs past column 20: amin_gr   8.0e-7 smallest"},
     true},

    // A decimal comma, which would be read as the whole number before it (or
    // not at all).
    {"MAIN tgal decimal comma", main_key("tgal", "7,5"), {}, 1,
     {" FATAL ERROR - the value of key tgal in file m1.par, line 5, has a decimal comma: tgal      7,5",
      " numbers take a decimal point, not a comma: write 7.5"},
     true},
    {"MAIN mcloud decimal comma before a comment", edit("mcloud    1.0e6       ", "mcloud    1,0e6 solar "), {}, 1,
     {" FATAL ERROR - the value of key mcloud in file m1.par, line 10, has a decimal comma: mcloud    1,0e6 solar",
      " numbers take a decimal point, not a comma: write 1.0e6"},
     true},
    {"override tgal=7,5", same, {"tgal=7,5"}, 1,
     {" FATAL ERROR - the value of key tgal on the command line has a decimal comma: tgal=7,5",
      " numbers take a decimal point, not a comma: write 7.5"},
     true},
    // Thousands separators are named as such, with the number without them;
    // a count with a comma has no single number meant.
    {"MAIN mcloud thousands separators", main_key("mcloud", "1,000,000"), {}, 1,
     {" FATAL ERROR - the value of key mcloud in file m1.par, line 10, has thousands separators: mcloud    1,000,000",
      " numbers take a decimal point, not a comma: write 1000000\n"},
     true},
    {"override mcloud=1,000,000", same, {"mcloud=1,000,000"}, 1,
     {" FATAL ERROR - the value of key mcloud on the command line has thousands separators: mcloud=1,000,000",
      " numbers take a decimal point, not a comma: write 1000000\n"},
     true},
    {"MAIN ndr two counts", main_key("ndr", "20,30"), {}, 1,
     {" FATAL ERROR - the value of key ndr in file m1.par, line 22, has a decimal comma: ndr       20,30",
      " numbers take a decimal point, not a comma: 20,30 reads as 20.30 or as the two values 20 and 30, and ndr "
      "takes one whole number\n"},
     true},
    {"override ndr=20,30", same, {"ndr=20,30"}, 1,
     {" FATAL ERROR - the value of key ndr on the command line has a decimal comma: ndr=20,30",
      " numbers take a decimal point, not a comma: 20,30 reads as 20.30 or as the two values 20 and 30, and ndr "
      "takes one whole number\n"},
     true},
    {"MIXDIF amin_gr decimal comma", edit("amin_gr   8.0e-7     smallest graphite radius",
                                          "amin_gr   8,0e-7     smallest graphite radius"),
     {}, 1,
     {" FATAL ERROR - the value of key amin_gr in file m1.par, line 48, has a decimal comma: amin_gr   8,0e-7",
      " numbers take a decimal point, not a comma: write 8.0e-7"},
     true},
    {"MIXMOL xx decimal comma", edit("xx        7.5e-25    PAH abundance\n", "xx        7,5e-25    PAH abundance\n"), {},
     1,
     {" FATAL ERROR - the value of key xx in file m1.par, line 78, has a decimal comma: xx        7,5e-25",
      " numbers take a decimal point, not a comma: write 7.5e-25"},
     true},

    // The cloud types, checked where they are read.
    {"MC_LINE fraction NaN", mc_line("2", "16.0   30.0", "NaN    0.4", "0.003  0.005"), {}, 1,
     {kMc + "mass fraction of cloud type 1 = nan must lie between 0 and 1"}, true},
    {"MC_LINE fractions outside 0..1 that sum to 1", mc_line("2", "16.0   30.0", "1.2   -0.2", "0.003  0.005"), {},
     1, {kMc + "mass fraction of cloud type 1 = 1.2 must lie between 0 and 1"}, true},
    {"MC_LINE radius 0", mc_line("2", "16.0   0.0", "0.6    0.4", "0.003  0.005"), {}, 1,
     {kMc + "radius (pc) of cloud type 2 = 0 must be positive"}, true},
    {"MC_LINE radius negative", mc_line("2", "-16.0  30.0", "0.6    0.4", "0.003  0.005"), {}, 1,
     {kMc + "radius (pc) of cloud type 1 = -16 must be positive"}, true},
    {"MC_LINE radius infinite", mc_line("2", "inf    30.0", "0.6    0.4", "0.003  0.005"), {}, 1,
     {kMc + "radius (pc) of cloud type 1 = inf is not a finite number"}, true},
    {"MC_LINE radius 1e-30", mc_line("2", "1e-30  30.0", "0.6    0.4", "0.003  0.005"), {}, 1,
     {kMc + "radius (pc) of cloud type 1 = 1e-30 is so small that the clouds' size, optical depth or density is "
            "not a finite number"},
     true},
    {"MC_LINE radius 1e30", mc_line("2", "16.0   1e30", "0.6    0.4", "0.003  0.005"), {}, 1,
     {kMc + "radius (pc) of cloud type 2 = 1e+30 is so large"}, true},
    {"MC_LINE ratio of radii below 1.01",
     [](std::string p) {
         p = test::with_main_key(test::with_main_key(p, "rcloud", "-50.0"), "mcloud", "-10.0");
         return mc_line("2", "0.5    30.0", "0.6    0.4", "0.003  0.005")(p);
     },
     {}, 1, {kMc + "ratio of radii of cloud type 1 = 0.5 must be at least 1.01"}, true},
    {"MC_LINE age NaN", mc_line("2", "16.0   30.0", "0.6    0.4", "nan    0.005"), {}, 1,
     {kMc + "age (Gyr) at which stars begin to leave of cloud type 1 = nan is not a finite number"}, true},
    {"MC_LINE count beyond its values", mc_line("999999999", "16.0   30.0", "0.6    0.4", "0.003  0.005"), {}, 2,
     {"m1.par:84", "MC_LINE counts 999999999 cloud types, whose 999999999 radii the lines after the count cannot hold"}, true},

    // Result names.
    {"nameres too long for the folder", same, {"nameres=" + std::string(240, 'r')}, 1,
     {" ERROR: the result name rrr", " is too long: the file rrr", " give a result name (nameres) of at most "},
     false},
    {"empty nameres", same, {"nameres="}, 1, {" Invalid argument in command line: nameres= needs a name"}, false},
    {"empty namesf", same, {"tgal=12", "namesf="}, 1, {" Invalid argument in command line: namesf= needs a name"},
     false},
    {"nameintrho of blanks", same, {"nameintrho= "}, 1,
     {" Invalid argument in command line: nameintrho= needs a name"}, false},

    // The cirrus emulator's geometries, said once the dust is prepared and the
    // galaxy is known to have diffuse gas, before the clouds' solves.
    {"cirrus emulator with igeo 0", same, {"annflag=2", "igeo=0"}, 1,
     {" ERROR: annflag=2 (cirrus emulator) needs igeo 1, 2 or -1, the geometries with a cirrus network: igeo=0"},
     true},
    {"both emulators with igeo 4", main_key("igeo", "4"), {"annflag=3"}, 1,
     {" ERROR: annflag=3 (cirrus emulator) needs igeo 1, 2 or -1, the geometries with a cirrus network: igeo=4"},
     true},
    {"missing SSP table", edit("1 qv_ssp_z004.dat", "1 qv_ssp_none.dat"), {}, 1,
     {"ERROR in opening required SSP file ", "May be you are using a wrong-old format",
      "/data/, the folder part of the path ", "/data/quelvo by which the program was started"},
     true},
};

class BadInputRun : public ::testing::TestWithParam<BadInput> {};

TEST_P(BadInputRun, StopsNamingTheValueAndLeavesNoResultFile) {
    const BadInput& c = GetParam();
    test::TempDir dir;
    const std::string argv0 = test::write_example_model("m1", dir.file("data"));
    test::write_text("m1.par", c.par(test::read_text("m1.par")));
    const std::set<std::string> before = files_here();

    test::CapturedConsole cc;
    std::vector<std::string> args = {argv0, "m1"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(run_main(cc, args), c.status) << cc.out.str() << cc.err.str();

    const std::string said = c.status == 2 ? cc.err.str() : cc.out.str();
    for (const auto& s : c.said) EXPECT_NE(said.find(s), std::string::npos) << "'" << s << "' not in:\n" << said;
    // No value read gets as far as a result.
    for (const char* bad : {"NaN", "Infinity"}) EXPECT_EQ(cc.out.str().find(bad), std::string::npos) << bad;

    std::set<std::string> added;
    for (const auto& f : files_here())
        if (!before.count(f)) added.insert(f);
    const std::set<std::string> allowed = c.run_log ? std::set<std::string>{"m1.out"} : std::set<std::string>{};
    EXPECT_EQ(added, allowed);
    if (c.run_log) {
        const auto log = test::read_lines("m1.out");
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.front(), " USEFUL CHECKING NUMBERS FOLLOW");
        // The run log alone shows that the run stopped and why: it ends with
        // what the stop said last.
        const auto said_lines = test::split_lines(said);
        ASSERT_FALSE(said_lines.empty());
        EXPECT_EQ(log.back(), said_lines.back());
        // No number of the run log lost its value on the way to the stop (the
        // stop's own lines may quote the bad value).
        for (const auto& l : log) {
            if (std::find(said_lines.begin(), said_lines.end(), l) != said_lines.end()) continue;
            for (const char* bad : {"NaN", "Infinity"}) EXPECT_EQ(l.find(bad), std::string::npos) << l;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, BadInputRun, ::testing::ValuesIn(kCases), [](const auto& info) {
    std::string n = info.param.name;
    for (char& ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return n;
});

// A comment may begin inside MAIN's value field, after a blank, a tab or a
// comma: the value is the field's first item, and the run gives the files of
// the same run without the comments. A number with its decimal point or
// exponent before a comma is such a first item, in the par file as on the
// command line.
TEST(BadInputNames, CommentInsideMainValueFieldsRunsAsWithout) {
    test::TempDir dir;
    const std::string argv0 = test::write_example_model("m1", dir.file("data"));
    const std::string plain = test::read_text("m1.par");
    const std::vector<std::string> outputs = {"m1.spe", "m1.0", "m1.90"};
    std::vector<std::string> want;
    {
        test::CapturedConsole cc;
        ASSERT_EQ(run_main(cc, {argv0, "m1"}), 0) << cc.out.str();
        for (const auto& f : outputs) want.push_back(test::read_text(f));
    }
    std::string par = replace_once(plain, "tgal      13.0        galaxy age, Gyr", "tgal      13.0,12.0 two ages tried");
    par = replace_once(par, "mcloud    1.0e6       mass", "mcloud    1.0e6,5 solar masses, mass");
    par = replace_once(par, "rcloud    16.0        cloud", "rcloud    16.0\tcloud");
    par = replace_once(par, "vout      -1.0        escape", "vout      -1.0 escape");
    test::write_text("m1.par", par);
    for (const auto& f : outputs) fs::remove(f);
    {
        test::CapturedConsole cc;
        ASSERT_EQ(run_main(cc, {argv0, "m1"}), 0) << cc.out.str();
        for (std::size_t k = 0; k < outputs.size(); ++k) EXPECT_EQ(test::read_text(outputs[k]), want[k]) << outputs[k];
    }
    // The same values on the command line, over the plain par file.
    test::write_text("m1.par", plain);
    for (const auto& f : outputs) fs::remove(f);
    test::CapturedConsole cc;
    ASSERT_EQ(run_main(cc, {argv0, "m1", "tgal=13.0,5", "mcloud=1.0e6,5"}), 0) << cc.out.str();
    for (std::size_t k = 0; k < outputs.size(); ++k) EXPECT_EQ(test::read_text(outputs[k]), want[k]) << outputs[k];
}

// Checks of stages that do not run: the cirrus emulator's branch needs a
// galaxy with diffuse gas, so that a geometry without a cirrus network is no
// fault of a galaxy without it (no gas, or all of it in clouds). Such runs end
// normally with finite spectra, as they do without annflag.
TEST(BadInputStages, CirrusEmulatorGeometryOfAGalaxyWithoutDiffuseGas) {
    const std::vector<std::vector<std::string>> cases = {
        {"annflag=2", "igeo=0", "mmolfraz=-1"},
        {"annflag=3", "igeo=4", "mmolfraz=1"},
    };
    for (const auto& extra : cases) {
        SCOPED_TRACE(extra[0] + " " + extra[1] + " " + extra[2]);
        test::TempDir dir;
        const std::string argv0 = test::write_example_model("m1", dir.file("data"));
        std::vector<std::string> args = {argv0, "m1"};
        args.insert(args.end(), extra.begin(), extra.end());
        test::CapturedConsole cc;
        EXPECT_EQ(run_main(cc, args), 0) << cc.out.str() << cc.err.str();
        EXPECT_EQ(cc.out.str().find("ERROR"), std::string::npos) << cc.out.str();
        for (const std::string& suffix : test::kExampleSuffixes) {
            const auto rows = test::spectrum_rows("m1." + suffix);
            EXPECT_FALSE(rows.empty()) << suffix;
        }
        const auto log = test::read_lines("m1.out");
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back().rfind(" used cpu time =", 0), 0u);
    }
}

// Grain mixtures far too opaque (a PAH abundance xx of 1.0 in place of the
// example's 7.5e-25): each stops where the dust is first used, with a message
// that names the keys to change, and neither standard output nor the run log
// holds a value that is not a finite number. The clouds' dust is used by their
// solver, the cirrus PAH term by the cirrus field (both with emiflag 1).
TEST(BadInputOpaqueDust, PahAbundanceOfOneStopsNamingTheKeys) {
    const struct {
        const char* section;
        const char* from;
        const char* to;
        std::vector<std::string> said;
    } cases[] = {
        {"MIXMOL", "xx        7.5e-25    PAH abundance\n", "xx        1.0        PAH abundance\n",
         {" intray: the ray step makes no progress", " the clouds' optical depth at 1 micron is ",
          " they are set by the grains and the PAH abundance xx of section MIXMOL, the MAIN keys mcloud and rcloud, "
          "and the cloud radii of section MC_LINE"}},
        {"MIXDIF", "xx        7.5e-25    PAH abundance (about", "xx        1.0        PAH abundance (about",
         {" ERROR: the cirrus optical depth per unit column TXY is not a finite number at wavelength index ",
          "section MIXDIF (the size distributions, corgra, corsil, and the PAH abundance xx with pahflag) and by "
          "the MAIN key dsug"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.section);
        test::TempDir dir;
        const std::string argv0 = test::write_example_model("m1", dir.file("data"));
        std::string par = test::with_main_key(test::with_main_key(test::read_text("m1.par"), "emiflag", "1"),
                                              "pahflag", "1");
        test::write_text("m1.par", replace_once(par, c.from, c.to));
        test::CapturedConsole cc("", false);
        EXPECT_EQ(run_main(cc, {argv0, "m1"}), 1) << cc.out.str() << cc.err.str();
        const std::string out = cc.out.str();
        for (const auto& s : c.said) EXPECT_NE(out.find(s), std::string::npos) << "'" << s << "' not in:\n" << out;
        const std::string log = test::read_text("m1.out");
        EXPECT_NE(log.find(" USEFUL CHECKING NUMBERS FOLLOW"), std::string::npos);
        for (const char* bad : {"NaN", "Infinity"}) {
            EXPECT_EQ(out.find(bad), std::string::npos) << bad;
            EXPECT_EQ(log.find(bad), std::string::npos) << bad << " in the run log:\n" << log;
        }
        EXPECT_FALSE(fs::exists("m1.spe"));
    }
}

// An option where the model name belongs gives the usage lines and writes no
// file: no run log, no par file looked for under that name.
TEST(BadInputNames, OptionInPlaceOfTheModelNameGivesTheUsage) {
    for (const char* opt : {"--help", "-h"}) {
        test::TempDir dir;
        test::CapturedConsole cc;
        EXPECT_EQ(run_main(cc, {"quelvo", opt, "tgal=3"}), 0);
        EXPECT_EQ(cc.out_lines(), (std::vector<std::string>{" I need one argument to run!",
                                                            " Usage: quelvo model_name [par=value]... ",
                                                            " Cheers."}));
        EXPECT_TRUE(fs::is_empty(dir.path())) << opt;
    }
}

// An unknown key that holds a blank, a tab or "=" is a value written next to
// its key: the warning is followed by the fixed-column rule. (The bad override
// ends the run right after the section is read.)
TEST(BadInputNames, ValueNextToItsKeyAddsTheColumnRuleToTheWarning) {
    for (const char* line : {"tgal 13.0", "tgal=5.0", "tgal\t13.0"}) {
        test::TempDir dir;
        const std::string argv0 = test::write_example_model("m1", dir.file("data"));
        test::write_text("m1.par", replace_once(test::read_text("m1.par"), "MAIN\n", "MAIN\n" + std::string(line) + "\n"));
        test::CapturedConsole cc;
        EXPECT_EQ(run_main(cc, {argv0, "m1", "tgal=nan"}), 2);
        const auto out = cc.out_lines();
        const auto w = std::find_if(out.begin(), out.end(), [](const std::string& l) {
            return l.rfind(" SEVERE WARNING: unknown key in file m1.par", 0) == 0;
        });
        ASSERT_NE(w, out.end()) << cc.out.str();
        EXPECT_EQ(w->substr(w->size() - 10), (std::string(line) + "          ").substr(0, 10));
        ASSERT_NE(w + 1, out.end());
        EXPECT_EQ(*(w + 1), " keys take columns 1-10 and values columns 11-20 of a par-file line");
    }
}

// A run killed while it wrote its spectra leaves a temporary spectra file. The
// next run of that result name, holding the name's lock, replaces it and says
// so (the PAH step, the temporary names' user, switched on by override).
TEST(TemporarySpectraNames, AStaleFileIsReplacedByTheNextRun) {
    test::TempDir dir;
    const std::string argv0 = test::write_example_model("m1", dir.file("data"));
    test::write_text("m1.0.tmp", "# Direction    0.00 degrees\n# (1): Wavelength in Ang");
    test::CapturedConsole cc;
    ASSERT_EQ(run_main(cc, {argv0, "m1", "pahflag=1"}), 0) << cc.out.str() << cc.err.str();
    const auto out = cc.out_lines();
    EXPECT_EQ(std::count(out.begin(), out.end(), " replacing the stale temporary file m1.0.tmp of an earlier run"), 1)
        << cc.out.str();
    EXPECT_TRUE(fs::exists("m1.0"));
    EXPECT_EQ(test::read_lines("m1.0").front().rfind("# Direction ", 0), 0u);
    for (const auto& f : files_here()) EXPECT_EQ(f.find(".tmp"), std::string::npos) << f;
}

// A temporary spectra name that the end of the run could not take stops the
// run before it computes anything (no run log): a file that is not a spectra
// file's beginning, or any file there when the folder has no locks (another
// run may be writing it).
TEST(TemporarySpectraNames, ATakenNameStopsBeforeTheRun) {
    const struct {
        const char* what;
        const char* file;
        const char* text;
        bool no_locks;
        std::vector<std::string> args;
    } cases[] = {
        {"the user's own file", "m1.0.tmp", "the user's own file\n", false, {"pahflag=1"}},
        {"the emulators' temporary names too", "m1.spe.tmp", "the user's own file\n", false, {"annflag=1"}},
        {"a folder without locks", "m1.45.tmp", "# Direction   45.0     degrees\n", true, {"pahflag=1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        const std::string argv0 = test::write_example_model("m1", dir.file("data"));
        test::write_text(c.file, c.text);
        // A lock file that cannot be opened: the run goes on without locks.
        if (c.no_locks) fs::create_directory(".quelvo.lock");
        const std::set<std::string> before = files_here();
        test::CapturedConsole cc;
        std::vector<std::string> args = {argv0, "m1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(run_main(cc, args), 1);
        EXPECT_EQ(cc.out_lines().back(), std::string(" ERROR: file ") + c.file +
                                             " exists: it is the temporary name of a spectra file and is not "
                                             "overwritten; remove or rename it");
        if (c.no_locks) {
            EXPECT_NE(cc.err.str().find("quelvo: warning: cannot lock"), std::string::npos);
        }
        EXPECT_EQ(files_here(), before);
        EXPECT_EQ(test::read_text(c.file), c.text);
    }
}

// Only the temporary names that this run writes are looked at: the angle
// average's and those of its SPECTRA directions (0, 45, 70, 80 and 90 degrees
// in the example). A file at another inclination's name is the user's own and
// is let be. istarfo=3 ends each run just after the check.
TEST(TemporarySpectraNames, NamesThisRunDoesNotWriteAreLetBe) {
    for (const char* file : {"m1.5.tmp", "m1.1.tmp", "m1.89.tmp"}) {
        SCOPED_TRACE(file);
        test::TempDir dir;
        const std::string argv0 = test::write_example_model("m1", dir.file("data"));
        test::write_text(file, "the user's own file\n");
        test::CapturedConsole cc;
        EXPECT_EQ(run_main(cc, {argv0, "m1", "pahflag=1", "istarfo=3"}), 1);
        EXPECT_EQ(cc.out.str().find("temporary name"), std::string::npos) << cc.out.str();
        EXPECT_EQ(cc.out_lines().back(), " istarfo=           3  not valid. stop.");
        EXPECT_EQ(test::read_text(file), "the user's own file\n");
    }
}

}  // namespace
}  // namespace qv
