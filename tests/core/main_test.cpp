// The main program: command line, names, run log, exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "core/par_fixture.h"
#include "core/quelvo.h"
#include "core/run.h"
#include "core/run_names.h"
#include "core/stop.h"
#include "io/textfile.h"
#include "support/example_outputs.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

namespace qv {
namespace {

using test::run_main;
namespace fs = std::filesystem;

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

std::vector<std::string> last_lines(const std::vector<std::string>& lines, std::size_t n) {
    return std::vector<std::string>(lines.end() - static_cast<long>(std::min(n, lines.size())), lines.end());
}

// A stream buffer that counts the flushes of the stream it serves.
struct FlushCounter : std::stringbuf {
    int flushes = 0;
    int sync() override {
        ++flushes;
        return std::stringbuf::sync();
    }
};

// Standard output to a file is block-buffered: every line is flushed as it is
// written, so that a killed run leaves what it had said.
TEST(ConsoleLines, EveryLineIsFlushed) {
    FlushCounter out, err;
    std::ostream os(&out), es(&err);
    Console con;
    con.out = &os;
    con.err = &es;
    con.line(" first");
    EXPECT_EQ(out.flushes, 1);
    con.line(" second");
    EXPECT_EQ(out.flushes, 2);
    EXPECT_EQ(out.str(), " first\n second\n");
    con.err_line("quelvo: warning");
    EXPECT_EQ(err.flushes, 1);
    EXPECT_EQ(err.str(), "quelvo: warning\n");
}

// The longest name a run writes is that of a whole file under its temporary
// name; a result name at the folder's limit writes it, whatever the random
// part of the temporary name.
TEST(LongestResultFile, ItsNameIsWrittenAtTheFoldersLimit) {
    const struct {
        bool ssp, pah;
        const char* file;  // after the base
    } cases[] = {{false, false, ".out"}, {true, false, ".ssp.spe"}, {false, true, ".spe.pah"}, {true, true, ".ssp.spe"}};
    test::TempDir d;
    const long max = ::pathconf(".", _PC_NAME_MAX);
    ASSERT_GT(max, 40);
    const long pid = static_cast<long>(::getpid());
    for (const auto& c : cases) {
        const LongestName probe = longest_result_file("r", c.ssp, c.pah, pid);
        EXPECT_EQ(probe.file, std::string("r") + c.file);
        // The longest name that fits is the same whatever the process number.
        EXPECT_EQ(longest_result_file("r", c.ssp, c.pah, 7).length, probe.length);
        EXPECT_EQ(longest_result_file("r", c.ssp, c.pah, 4194304).length, probe.length);
        const std::string base(static_cast<std::size_t>(max) - (probe.length - 1), 'r');
        const LongestName l = longest_result_file(base, c.ssp, c.pah, pid);
        ASSERT_EQ(l.length, static_cast<std::size_t>(max));
        for (int k = 0; k < 20; ++k) EXPECT_NO_THROW(write_file_atomic(l.file, "x\n")) << l.file;
        EXPECT_TRUE(fs::exists(l.file));
    }
}

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
    // The run log ends with the diagnostic.
    const auto err = test::split_lines(cc.err.str());
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err.back().rfind("quelvo: absent.par", 0), 0u) << err.back();
    EXPECT_EQ(test::read_lines("absent.out"),
              (std::vector<std::string>{" USEFUL CHECKING NUMBERS FOLLOW", err.back()}));
}

// After a good run, a run of the same name that stops ends its run log with
// the stop's message, and leaves the earlier run's spectra as they were.
TEST_F(MainRun, StoppedRunEndsItsRunLogWithTheStop) {
    ASSERT_EQ(run_main(cc, {argv0, "m1"}), 0) << cc.out.str() << cc.err.str();
    const std::string spe = test::read_text("m1.spe");
    test::write_text("m1.par", replaced(par, "\ntsil      ", "\ntsli      "));
    test::CapturedConsole again;
    EXPECT_EQ(run_main(again, {argv0, "m1"}), 1);
    const auto out = again.out_lines();
    ASSERT_GE(out.size(), 2u);
    ASSERT_EQ(out[out.size() - 2], " FATAL ERROR - missing parameter(s) in file m1.par:");
    const auto log = test::read_lines("m1.out");
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log.front(), " USEFUL CHECKING NUMBERS FOLLOW");
    EXPECT_EQ(last_lines(log, 2), last_lines(out, 2));
    EXPECT_EQ(test::read_text("m1.spe"), spe);
}

// What the main program says at a stop that comes from deep in a run ends the
// run log too: a stop, a stop on standard error, an I/O error, a lack of
// memory. A run that ends normally before its last stage (a history that is
// only exported) adds nothing to it.
TEST_F(MainRun, EveryStopAfterTheRunLogEndsIt) {
    const struct {
        const char* what;
        std::function<void()> thrower;
        std::vector<std::string> added;  // to the run log as the stage left it
    } cases[] = {
        {"stop", [] { throw Stop(std::vector<std::string>{" first line", " second line"}); },
         {" first line", " second line"}},
        {"stop on standard error", [] { throw Stop(" wrong igeo in ann_quelvo", true); },
         {" wrong igeo in ann_quelvo"}},
        {"I/O error", [] { throw_io_error("some.dat", 7, "not a number"); }, {"quelvo: some.dat:7: not a number"}},
        {"no memory", [] { throw std::bad_alloc(); }, {" ALLOCATION ERROR: not enough memory for this model"}},
        {"history only", [] { throw EndOfRun{}; }, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        qv::Run run(cc.con);
        std::vector<std::string> want;
        run.stage_done = [&](const char* stage) {
            if (std::string(stage) != "history") return;
            want = test::read_lines("m1.out");
            c.thrower();
        };
        std::vector<std::string> args = {argv0, "m1"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        try {
            run_quelvo(run, 2, argv.data());
            ADD_FAILURE() << "the run went on";
        } catch (...) {
        }
        ASSERT_FALSE(want.empty());
        want.insert(want.end(), c.added.begin(), c.added.end());
        EXPECT_EQ(test::read_lines("m1.out"), want);
    }
}

// A result name whose longest file the folder cannot name stops when the
// command line is read, naming the file and the limit, and writes nothing; one
// character less passes (and stops later here, on a value that is not finite).
TEST_F(MainRun, ResultNameTooLongForTheFolderStopsAtOnce) {
    const long max = ::pathconf(".", _PC_NAME_MAX);
    ASSERT_GT(max, 40);
    const struct {
        std::vector<std::string> switches;
        const char* file;
    } cases[] = {{{}, ".out"}, {{"wavsspout=1"}, ".ssp.spe"}, {{"pahflag=1"}, ".spe.pah"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const LongestName probe = longest_result_file("", !c.switches.empty() && c.switches[0][0] == 'w',
                                                      !c.switches.empty() && c.switches[0][0] == 'p',
                                                      static_cast<long>(::getpid()));
        const std::size_t fits = static_cast<std::size_t>(max) - probe.length;
        for (const std::size_t n : {fits + 1, fits}) {
            const std::string name(n, 'r');
            std::vector<fs::path> earlier;
            for (const auto& e : fs::directory_iterator("."))
                if (e.path().filename().string().rfind("rrr", 0) == 0) earlier.push_back(e.path());
            for (const auto& e : earlier) fs::remove(e);
            std::vector<std::string> args = {argv0, "m1", "nameres=" + name, "tgal=nan"};
            args.insert(args.end(), c.switches.begin(), c.switches.end());
            test::CapturedConsole run;
            const int status = run_main(run, args);
            if (n > fits) {
                EXPECT_EQ(status, 1);
                const auto out = run.out_lines();
                ASSERT_EQ(out.size(), 3u) << run.out.str();
                EXPECT_EQ(out[1], " ERROR: the result name " + name + " is too long: the file " + name + c.file +
                                      " is written under a name of " + std::to_string(max + 1) +
                                      " characters, and the folder . takes names of at most " +
                                      std::to_string(max));
                EXPECT_EQ(out[2], " give a result name (nameres) of at most " + std::to_string(fits) +
                                      " characters");
                EXPECT_FALSE(fs::exists(name + ".out"));
            } else {
                EXPECT_EQ(status, 2) << run.out.str();
                EXPECT_TRUE(fs::exists(name + ".out"));
            }
        }
    }
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
