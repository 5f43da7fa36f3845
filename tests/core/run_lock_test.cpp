// The locks that keep two runs in one folder from writing one file together.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/quelvo.h"
#include "core/run.h"
#include "core/run_lock.h"
#include "support/example_outputs.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using Result = FolderLocks::Result;

using test::run_main;

std::vector<std::string> folder_files(const std::string& dir = ".") {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A stand-in run in another process: it takes the lock of name in the working
// folder, says so on a pipe, and holds it until it is killed.
class OtherProcess {
public:
    explicit OtherProcess(const std::string& name) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            FolderLocks l;
            const char ok = l.take("", name) == Result::Taken ? 'y' : 'n';
            (void)!::write(fds[1], &ok, 1);
            for (;;) ::pause();
        }
        ::close(fds[1]);
        char c = 0;
        if (pid_ > 0 && ::read(fds[0], &c, 1) == 1) holding_ = c == 'y';
        ::close(fds[0]);
    }
    ~OtherProcess() { kill(); }
    bool holding() const { return holding_; }
    // Ends it as a crash would: SIGKILL, no clean-up of its own.
    void kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        int st = 0;
        ::waitpid(pid_, &st, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    bool holding_ = false;
};

TEST(FolderLocks, OneHolderPerNameInAFolder) {
    test::TempDir dir;
    FolderLocks a, b;
    EXPECT_EQ(a.take("", "result r1"), Result::Taken);
    EXPECT_EQ(a.take("", "result r1"), Result::Taken);  // already this holder's
    EXPECT_EQ(b.take("", "result r1"), Result::Busy);   // another holder in this process
    EXPECT_EQ(b.take("", "result r2"), Result::Taken);  // its own name
    EXPECT_EQ(b.take("", "pan m1"), Result::Taken);
    fs::create_directory("sub");
    EXPECT_EQ(b.take("sub/", "result r1"), Result::Taken);  // another folder
    EXPECT_EQ(a.size(), 1u);
    EXPECT_EQ(b.size(), 3u);

    // The locks are bytes of one hidden, empty file per folder.
    EXPECT_EQ(folder_files(), (std::vector<std::string>{".quelvo.lock", "sub"}));
    EXPECT_EQ(fs::file_size(".quelvo.lock"), 0u);
    EXPECT_EQ(folder_files("sub"), (std::vector<std::string>{".quelvo.lock"}));

    // Releasing one holder leaves the other's locks in place.
    a.release();
    EXPECT_EQ(a.size(), 0u);
    FolderLocks c;
    EXPECT_EQ(c.take("", "result r1"), Result::Taken);
    EXPECT_EQ(c.take("", "result r2"), Result::Busy);  // still b's
    EXPECT_EQ(b.take("", "result r1"), Result::Busy);
    b.release();
    EXPECT_EQ(c.take("", "result r2"), Result::Taken);
    c.release();
    // With no holder left in this process, another process gets the names.
    OtherProcess other("result r2");
    EXPECT_TRUE(other.holding());
}

// Another process's lock is seen; when that process is killed the system
// releases it, and nothing is left to clear by hand.
TEST(FolderLocks, AKilledHolderLeavesNothingToClear) {
    test::TempDir dir;
    OtherProcess other("result r1");
    ASSERT_TRUE(other.holding());
    FolderLocks l;
    EXPECT_EQ(l.take("", "result r1"), Result::Busy);
    EXPECT_EQ(l.take("", "result r3"), Result::Taken);
    other.kill();
    EXPECT_EQ(l.take("", "result r1"), Result::Taken);
}

TEST(FolderLocks, NamesHaveDistinctBytes) {
    EXPECT_NE(lock_offset("result example"), lock_offset("pan example"));
    EXPECT_NE(lock_offset("pan example"), lock_offset("lvg example"));
    EXPECT_NE(lock_offset("result r1"), lock_offset("result r2"));
    EXPECT_EQ(lock_offset("result r1"), lock_offset("result r1"));
    EXPECT_GE(lock_offset("x"), 0);
    EXPECT_LT(lock_offset("x"), 1LL << 31);
    EXPECT_EQ(lock_file_name(""), ".quelvo.lock");
    EXPECT_EQ(lock_file_name("out/"), "out/.quelvo.lock");
}

// The example model as m1 in a fresh folder.
class RunLocks : public ::testing::Test {
protected:
    test::TempDir dir;
    std::string argv0, par;
    void SetUp() override {
        argv0 = test::write_example_model("m1", dir.file("data"));
        par = test::read_text("m1.par");
    }
    void set_par(const std::string& text) { test::write_text("m1.par", text); }
};

// Whether a run will write the pan files and the lvg file, from its par file
// and overrides.
TEST_F(RunLocks, PanAndLvgLocksFollowWhatTheRunWrites) {
    const std::string lvg_off = [&] {
        std::string p = par;
        const std::size_t at = p.find("\nz_lvg     ", p.find("\nLVG\n"));
        p.replace(at + 11, 10, "0.0       ");
        return p;
    }();
    const std::string no_lvg = par.substr(0, par.find("\nLVG\n") + 1);
    struct Case {
        const char* what;
        std::string par;
        std::vector<std::string> opts;
        bool pan, lvg;
    };
    const std::string emi = test::with_main_key(par, "emiflag", "1");
    const std::vector<Case> cases = {
        {"the example (hiiflag 1, emiflag 0)", par, {}, true, false},
        {"with the clouds' dust emission", emi, {}, true, true},
        {"hiiflag 0 on the command line", emi, {"hiiflag   0"}, false, true},
        {"hiiflag 0 in the par file", test::with_main_key(emi, "hiiflag", "0"), {}, false, true},
        {"hiiflag 0 then 1 on the command line", test::with_main_key(emi, "hiiflag", "0"),
         {"hiiflag   0", "hiiflag   1"}, true, true},
        {"emiflag 0 on the command line", emi, {"emiflag   0"}, true, false},
        {"z_lvg 0", test::with_main_key(lvg_off, "emiflag", "1"), {}, true, false},
        {"no LVG section", test::with_main_key(no_lvg, "emiflag", "1"), {}, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        set_par(c.par);
        test::CapturedConsole cc;
        qv::Run run(cc.con);
        run.modname.name = "m1";
        run.modname.opt = c.opts;
        run.modname.nopt = static_cast<int>(c.opts.size());
        EXPECT_EQ(run_writes_pan_files(run), c.pan);
        EXPECT_EQ(run_writes_lvg_file(run), c.lvg);
    }
    test::CapturedConsole cc;
    qv::Run run(cc.con);
    run.modname.name = "nosuchmodel";  // no par file: the run stops before writing either
    EXPECT_FALSE(run_writes_pan_files(run));
    EXPECT_FALSE(run_writes_lvg_file(run));
    EXPECT_FALSE(fs::exists("nosuchmodel.par"));
}

// A run whose files another holder is writing stops at its start, naming the
// file, and writes nothing; a run whose files are free goes on. istarfo=3
// ends every run that goes on right after its run log is made.
TEST_F(RunLocks, ARunStopsAtItsStartWhenItsFilesAreTaken) {
    set_par(test::with_main_key(par, "emiflag", "1"));
    struct Case {
        const char* what;
        const char* held;
        std::vector<std::string> args;
        std::string message;  // empty: the run goes on
    };
    const std::vector<Case> cases = {
        {"its result name", "result r1", {"nameres=r1"},
         " ERROR: another run in this folder is writing r1.out (and the result files r1.*)"},
        {"its model's result name", "result m1", {},
         " ERROR: another run in this folder is writing m1.out (and the result files m1.*)"},
        {"its model's pan files", "pan m1", {"nameres=r2"},
         " ERROR: another run in this folder is writing m1.pan (or m1_<set>.pan)"},
        {"its model's lvg file", "lvg m1", {"nameres=r2"}, " ERROR: another run in this folder is writing m1.lvg"},
        {"pan files it does not write", "pan m1", {"nameres=r2", "hiiflag=0"}, ""},
        {"an lvg file it does not write", "lvg m1", {"nameres=r2", "emiflag=0"}, ""},
        {"another result name", "result r1", {"nameres=r2"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<std::string> before = folder_files();
        FolderLocks other;
        ASSERT_EQ(other.take("", c.held), Result::Taken);
        std::vector<std::string> args = {argv0, "m1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back("istarfo=3");
        test::CapturedConsole cc;
        const int status = run_main(cc, args);
        EXPECT_EQ(status, 1);
        const std::string out = cc.out.str();
        if (!c.message.empty()) {
            EXPECT_NE(out.find(c.message + "\n this run stops and writes nothing"), std::string::npos) << out;
            std::vector<std::string> now = folder_files();
            std::erase(now, std::string(".quelvo.lock"));
            std::vector<std::string> was = before;
            std::erase(was, std::string(".quelvo.lock"));
            EXPECT_EQ(now, was);
        } else {
            EXPECT_EQ(out.find("another run"), std::string::npos) << out;
            EXPECT_NE(out.find("istarfo=           3  not valid. stop."), std::string::npos) << out;
        }
        for (const auto& f : folder_files())
            if (f.size() > 4 && f.substr(f.size() - 4) == ".out") fs::remove(f);
    }
}

// Runs made in-process one after the other in one folder each take and
// release their locks.
TEST_F(RunLocks, InProcessRunsOneAfterTheOther) {
    for (int k = 0; k < 3; ++k) {
        test::CapturedConsole cc;
        EXPECT_EQ(run_main(cc, {argv0, "m1", "istarfo=3"}), 1);
        EXPECT_NE(cc.out.str().find("not valid. stop."), std::string::npos) << cc.out.str();
        FolderLocks l;
        EXPECT_EQ(l.take("", "result m1"), Result::Taken);
        EXPECT_EQ(l.take("", "pan m1"), Result::Taken);
    }
}

// Two quelvo processes: while one runs the example, a second with the same
// result name stops at its start and writes nothing; the first ends as it
// would alone. Then a killed holder leaves the folder free for the next run.
TEST_F(RunLocks, TwoProcessesOneResultName) {
    fs::create_symlink(test::bin_path("quelvo"), "data/quelvo");
    const std::string cd = "cd '" + dir.path().string() + "' && ";
    ASSERT_EQ(std::system((cd + "(data/quelvo m1 nameres=r1 > first.txt 2>&1; echo $? > first.rc) &").c_str()), 0);
    // The first run has its locks once its run log exists.
    bool started = false;
    for (int i = 0; i < 600 && !started; ++i) {
        started = fs::exists("r1.out");
        if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(started);
    std::string out;
    const int status = test::run_command(cd + "data/quelvo m1 nameres=r1 tgal=5 2>&1", &out);
    const bool first_still_running = !fs::exists("first.rc");
    for (int i = 0; i < 6000 && !fs::exists("first.rc"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(fs::exists("first.rc"));
    EXPECT_EQ(test::read_text("first.rc"), "0\n") << test::read_text("first.txt");
    const std::vector<std::string> log = test::read_lines("r1.out");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().rfind(" used cpu time =", 0), 0u);
    for (const auto& l : log) EXPECT_EQ(l.find("Forcing"), std::string::npos) << l;  // none of the second's
    if (!first_still_running) GTEST_SKIP() << "the first run ended before the second started";
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find(" ERROR: another run in this folder is writing r1.out"), std::string::npos) << out;
    EXPECT_EQ(out.find("Forcing"), std::string::npos) << out;

    OtherProcess holder("result r1");
    ASSERT_TRUE(holder.holding());
    EXPECT_EQ(test::run_command(cd + "data/quelvo m1 nameres=r1 istarfo=3 2>&1", &out), 1);
    EXPECT_NE(out.find("writing r1.out"), std::string::npos) << out;
    holder.kill();
    EXPECT_EQ(test::run_command(cd + "data/quelvo m1 nameres=r1 istarfo=3 2>&1", &out), 1);
    EXPECT_NE(out.find("not valid. stop."), std::string::npos) << out;
}

}  // namespace
}  // namespace qv
