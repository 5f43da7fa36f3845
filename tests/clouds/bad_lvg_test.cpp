// LVG sections for which the model is not defined, run through the program's
// command-line entry on the example model: each stops when the section is read,
// naming the key, and no lvg file (nor any spectra file) is written.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/quelvo.h"
#include "support/example_outputs.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

namespace qv {
namespace {

using test::run_main;

// The par file with the value field (columns 11-20) of an LVG key replaced.
std::string with_lvg_key(std::string par, const std::string& key, const std::string& value) {
    const std::size_t sec = par.find("\nLVG\n");
    EXPECT_NE(sec, std::string::npos);
    std::string k = key;
    k.resize(10, ' ');
    const std::size_t at = par.find("\n" + k, sec);
    EXPECT_NE(at, std::string::npos) << key;
    std::string v = value;
    v.resize(10, ' ');
    par.replace(at + 11, 10, v);
    return par;
}

std::vector<std::string> folder_files() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator("."))
        if (e.is_regular_file()) names.push_back(e.path().filename().string());
    return names;
}

bool has_file_ending(const std::vector<std::string>& names, const std::string& tail) {
    for (const auto& n : names)
        if (n.size() >= tail.size() && n.compare(n.size() - tail.size(), tail.size(), tail) == 0) return true;
    return false;
}

TEST(BadLvgSection, StopsWhenReadNamingTheKey) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> keys;
        std::vector<std::string> expect;  // texts of standard output
    };
    const std::vector<Case> cases = {
        {"a temperature multiple of 0", {{"inic_tk", "0.0"}},
         {" FATAL ERROR: LVG key inic_tk =   0.00000000      is outside the domain of the LVG model",
          "must be at least   1.63"}},
        {"a negative temperature multiple", {{"inic_tk", "-1.0"}, {"fini_tk", "2.0"}},
         {"LVG key inic_tk =  -1.00000000      is outside the domain"}},
        {"a temperature multiple too small for any cloud", {{"inic_tk", "1.0e-6"}},
         {"LVG key inic_tk =   9.99999997E-07  is outside the domain", "from   1.63340184E-04"}},
        {"the last temperature multiple negative", {{"inic_tk", "1.0"}, {"delt_tk", "-1.0"}, {"fini_tk", "-1.0"}},
         {"LVG key fini_tk =  -1.00000000      is outside the domain"}},
        {"a redshift beyond the background's resolution", {{"z_lvg", "1.0e38"}},
         {"LVG key z_lvg =   9.99999968E+37  is outside the domain", "z_lvg must be at most   9.1"}},
        {"an abundance that is not a finite number", {{"fini_xo", "1.0e38"}},
         {"LVG key fini_xo =   9.99999968E+37  is outside the domain", "at most   38.5"}},
        {"a step read with implied decimals", {{"delt_xo", "1"}},
         {" FATAL ERROR: the LVG grid has 2000002 models (2 x 1 x 1000001), more than the 99 that the lvg file"
          " can number",
          " inic_xo=  -5.00000000     delt_xo=   9.99999997E-07 fini_xo=  -4.00000000    ",
          " values written without a decimal point are read with six implied decimals (\"1\" is 0.000001):"
          " delt_xo"}},
        {"a velocity axis of 100 values", {{"fini_vg", "100.0"}},
         {" FATAL ERROR: the LVG grid has 400 models (2 x 100 x 2)"}},
        {"a redshift with a decimal comma, which would read as no redshift", {{"z_lvg", "0,001"}},
         {" FATAL ERROR - the value of key z_lvg in file m1.par, line 101, has a decimal comma: z_lvg     0,001",
          " numbers take a decimal point, not a comma: write 0.001"}},
        {"a step with a decimal comma", {{"delt_tk", "1,0"}},
         {" FATAL ERROR - the value of key delt_tk in file m1.par, line 102, has a decimal comma: delt_tk   1,0"}},
        {"a value that is not finite", {{"delt_vg", "NaN"}},
         {" FATAL ERROR: the value of key delt_vg in section LVG of file m1.par, line 105, is not a finite"
          " number: NaN"}},
    };
    test::TempDir dir;
    const std::string argv0 = test::write_example_model("m1", dir.file("data"));
    // The LVG section is read with the clouds' dust emission (emiflag); every
    // case stops there, before the cirrus.
    const std::string par = test::with_main_key(test::read_text("m1.par"), "emiflag", "1");
    for (const Case& cs : cases) {
        SCOPED_TRACE(cs.what);
        std::string p = par;
        for (const auto& [k, v] : cs.keys) p = with_lvg_key(p, k, v);
        test::write_text("m1.par", p);
        for (const auto& f : folder_files())
            if (f.rfind("m1.", 0) == 0 && f != "m1.par" && f.find(".lin") == std::string::npos &&
                f.find(".sf") == std::string::npos && f.find(".ele") == std::string::npos)
                std::filesystem::remove(f);

        test::CapturedConsole cc("", false);
        EXPECT_EQ(run_main(cc, {argv0, "m1"}), 1);
        const std::string out = cc.out.str();
        for (const auto& e : cs.expect) EXPECT_NE(out.find(e), std::string::npos) << "want: " << e << "\n" << out;
        EXPECT_EQ(out.find("PAUSE"), std::string::npos) << out;
        const std::vector<std::string> files = folder_files();
        EXPECT_FALSE(has_file_ending(files, ".lvg"));
        EXPECT_FALSE(has_file_ending(files, ".spe"));
        EXPECT_FALSE(has_file_ending(files, ".tmp"));
    }
}

// The grid's checks belong to the grid, which takes the dust solver's
// temperatures: with the clouds' emulator (annflag 1 or 3) it does not run, and
// a section that it would refuse (400 models, a temperature multiple of 0) lets
// the run end normally, with finite spectra and no lvg file. With the solver
// the same section stops the run when it is read (the table above).
TEST(BadLvgSection, NotCheckedWhereTheGridDoesNotRun) {
    test::TempDir dir;
    const std::string argv0 = test::write_example_model("m1", dir.file("data"));
    std::string par = test::with_main_key(test::read_text("m1.par"), "emiflag", "1");
    par = with_lvg_key(with_lvg_key(par, "fini_vg", "100.0"), "inic_tk", "0.0");
    test::write_text("m1.par", par);
    // A spheroid of 8 radial cells keeps the cirrus of annflag 1 short.
    for (const std::vector<std::string>& args : {std::vector<std::string>{"annflag=1", "igeo=1", "ndr=8"},
                                                 std::vector<std::string>{"annflag=3"}}) {
        SCOPED_TRACE(args.front());
        std::vector<std::string> a = {argv0, "m1"};
        a.insert(a.end(), args.begin(), args.end());
        test::CapturedConsole cc("", false);
        EXPECT_EQ(run_main(cc, a), 0) << cc.out.str() << cc.err.str();
        const std::string out = cc.out.str();
        EXPECT_EQ(out.find("FATAL"), std::string::npos) << out;
        EXPECT_EQ(out.find("k_control"), std::string::npos) << out;
        const std::vector<std::string> files = folder_files();
        EXPECT_FALSE(has_file_ending(files, ".lvg"));
        EXPECT_FALSE(test::spectrum_rows("m1.spe").empty());
        const auto log = test::read_lines("m1.out");
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back().rfind(" used cpu time =", 0), 0u);
        std::filesystem::remove("m1.spe");
    }
}

// A value written next to its key in the LVG section is an unknown key: its
// warning is followed by the fixed-column rule. (A value that is not finite
// ends the run once the section is read.)
TEST(BadLvgSection, ValueNextToItsKeyAddsTheColumnRuleToTheWarning) {
    test::TempDir dir;
    const std::string argv0 = test::write_example_model("m1", dir.file("data"));
    std::string par = with_lvg_key(test::with_main_key(test::read_text("m1.par"), "emiflag", "1"), "delt_vg", "NaN");
    par.replace(par.find("\nLVG\n") + 5, 0, "z_lvg=1.0\n");
    test::write_text("m1.par", par);
    test::CapturedConsole cc("", false);
    EXPECT_EQ(run_main(cc, {argv0, "m1"}), 1);
    const auto out = cc.out_lines();
    const auto w = std::find_if(out.begin(), out.end(), [](const std::string& l) {
        return l.find("WARNING: unknown key in file m1.par") != std::string::npos && l.find("z_lvg=1.0") != std::string::npos;
    });
    ASSERT_NE(w, out.end()) << cc.out.str();
    ASSERT_NE(w + 1, out.end());
    EXPECT_EQ(*(w + 1), " keys take columns 1-10 and values columns 11-20 of a par-file line");
}

}  // namespace
}  // namespace qv
