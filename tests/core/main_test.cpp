// The main program: command line, names, run log, exit status.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/par_fixture.h"
#include "core/quelvo.h"
#include "core/run_names.h"
#include "support/example_outputs.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

namespace qv {
namespace {

using test::run_main;

TEST(CleanNameDir, KeepsUpToTheLastSeparator) {
    EXPECT_EQ(clean_name_dir("/opt/q/quelvo"), "/opt/q/");
    EXPECT_EQ(clean_name_dir("quelvo"), "");
    EXPECT_EQ(clean_name_dir("./quelvo"), "./");
    EXPECT_EQ(clean_name_dir("c:\\q\\quelvo"), "c:\\q\\");
    EXPECT_EQ(clean_name_dir("a/b\\c"), "a/b\\");
}

TEST(MainProgram, NoArgumentPrintsUsageAndEndsNormally) {
    test::TempDir d;
    test::CapturedConsole cc;
    EXPECT_EQ(run_main(cc, {"quelvo"}), 0);
    EXPECT_EQ(cc.out_lines(), (std::vector<std::string>{" I need one argument to run!",
                                                        " Usage: quelvo model_name [par=value]... ",
                                                        " Cheers."}));
    EXPECT_TRUE(std::filesystem::is_empty(d.path()));
}

TEST(MainProgram, ArgumentWithoutEqualsStopsBeforeTheRunLog) {
    for (const char* bad : {"tgal", "=5"}) {
        test::TempDir d;
        test::CapturedConsole cc;
        EXPECT_EQ(run_main(cc, {"quelvo", "m1", bad}), 1);
        EXPECT_EQ(cc.out_lines(),
                  (std::vector<std::string>{" Invalid argument in command line (missing =)"}));
        EXPECT_FALSE(std::filesystem::exists("m1.out"));
    }
}

// The example model under the name m1, its data tables in data/.
class MainRun : public ::testing::Test {
protected:
    test::TempDir dir;
    test::CapturedConsole cc;
    std::string argv0;
    std::string par;
    void SetUp() override {
        argv0 = test::write_example_model("m1", dir.file("data"));
        par = test::read_text("m1.par");
    }
    // The example par file with one MAIN key replaced.
    void set_main(const std::string& key, const std::string& value) {
        par = test::with_main_key(par, key, value);
        test::write_text("m1.par", par);
    }
};

TEST_F(MainRun, RunLogHasItsFirstAndLastLines) {
    EXPECT_EQ(run_main(cc, {argv0, "m1", "tgal=12"}), 0);
    auto log = test::read_lines("m1.out");
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log.front(), " USEFUL CHECKING NUMBERS FOLLOW");
    EXPECT_EQ(log[log.size() - 2], "");
    EXPECT_EQ(log.back().rfind(" used cpu time =", 0), 0u);
    EXPECT_EQ(log.back().size(), std::string(" used cpu time =").size() + 10);
    const std::string out = cc.out.str();
    EXPECT_NE(out.find(" cputime="), std::string::npos);
    EXPECT_NE(out.find(" w95time="), std::string::npos);
    bool forcing = false;
    for (const auto& l : log) forcing = forcing || l.rfind(" Forcing tgal to ", 0) == 0;
    EXPECT_TRUE(forcing);
}

TEST_F(MainRun, NameresNamesTheResultFiles) {
    EXPECT_EQ(run_main(cc, {argv0, "m1", "nameres=r1"}), 0);
    EXPECT_NE(cc.out.str().find(" Writing results on files r1.*"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists("r1.out"));
    EXPECT_FALSE(std::filesystem::exists("m1.out"));
}

TEST_F(MainRun, KeyLongerThanTenCharactersIsCut) {
    EXPECT_EQ(run_main(cc, {argv0, "m1", "nameresults=x"}), 0);
    EXPECT_TRUE(std::filesystem::exists("m1.out"));
    EXPECT_FALSE(std::filesystem::exists("x.out"));
}

TEST_F(MainRun, LongModelNameOpensTheFileItNames) {
    const std::string name(230, 'n');
    std::filesystem::rename("m1.par", name + ".par");
    std::filesystem::rename("m1.lin", name + ".lin");  // the HII model list follows the model name
    EXPECT_EQ(run_main(cc, {argv0, name, "namesf=m1"}), 0);
    EXPECT_TRUE(std::filesystem::exists(name + ".out"));
}

TEST_F(MainRun, FatalStopExitsWithStatusOne) {
    test::write_text("m1.par", test::MainKeys().drop("tsil").text());
    EXPECT_EQ(run_main(cc, {argv0, "m1"}), 1);
    auto lines = cc.out_lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], " FATAL ERROR - missing parameter(s) in file m1.par:");
    // The run log keeps what was appended before the stop.
    EXPECT_EQ(test::read_lines("m1.out").front(), " USEFUL CHECKING NUMBERS FOLLOW");
}

TEST_F(MainRun, UnreadableInputExitsWithStatusTwo) {
    EXPECT_EQ(run_main(cc, {argv0, "absent"}), 2);
    EXPECT_NE(cc.err.str().find("absent.par"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists("absent.par"));
}

TEST_F(MainRun, InvalidIstarfoStops) {
    set_main("istarfo", "3");
    EXPECT_EQ(run_main(cc, {argv0, "m1"}), 1);
    auto lines = cc.out_lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind(" istarfo=", 0), 0u);
    EXPECT_NE(lines.back().find(" not valid. stop."), std::string::npos);
}

TEST_F(MainRun, TavHistoryNeedsIgeoMinusOne) {
    set_main("istarfo", "4");
    EXPECT_EQ(run_main(cc, {argv0, "m1", "fburst=0", "beta=1", "littleh=0.7", "tbemin=0", "dtbe=0"}), 1);
    EXPECT_EQ(cc.out_lines().back(), " igeo must be -1 for istarfo=4. stop");
}

}  // namespace
}  // namespace qv
