// The locks that keep two runs in one folder from writing one file together.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <fcntl.h>
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

// The files of the working folder but its lock file, which a run may create
// and leaves.
std::vector<std::string> files_but_the_lock() {
    std::vector<std::string> names = folder_files();
    std::erase(names, std::string(".quelvo.lock"));
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
    EXPECT_NE(lock_offset("lvg example"), lock_offset("history example"));
    EXPECT_NE(lock_offset("result r1"), lock_offset("result r2"));
    // Two names that shared a byte of a 31-bit range.
    EXPECT_NE(lock_offset("result g8162"), lock_offset("result g27827"));
    EXPECT_EQ(lock_offset("result r1"), lock_offset("result r1"));
    // The offsets take the whole positive range of the lock call.
    for (const char* n : {"x", "result g8162", "result g27827", "pan example"}) EXPECT_GE(lock_offset(n), 0) << n;
    EXPECT_GT(std::max({lock_offset("result g8162"), lock_offset("result g27827"), lock_offset("pan example")}),
              1LL << 40);
    EXPECT_EQ(lock_file_name(""), ".quelvo.lock");
    EXPECT_EQ(lock_file_name("out/"), "out/.quelvo.lock");
}

// g8162 and g27827 hold their locks side by side: two holders in this process,
// and a holder in another process.
TEST(FolderLocks, NamesOnceSharingAByteLockSideBySide) {
    test::TempDir dir;
    FolderLocks a, b;
    EXPECT_EQ(a.take("", "result g8162"), Result::Taken);
    EXPECT_EQ(b.take("", "result g27827"), Result::Taken);
    EXPECT_EQ(b.take("", "result g8162"), Result::Busy);
    a.release();
    b.release();
    OtherProcess other("result g8162");
    ASSERT_TRUE(other.holding());
    FolderLocks c;
    EXPECT_EQ(c.take("", "result g27827"), Result::Taken);
    EXPECT_EQ(c.take("", "result g8162"), Result::Busy);
}

// A lock call that fails as a file system refusing the offset would (EINVAL,
// EOVERFLOW): the lock is unavailable, with the system's reason.
int refuse_invalid(int, int, struct flock*) {
    errno = EINVAL;
    return -1;
}
int refuse_overflow(int, int, struct flock*) {
    errno = EOVERFLOW;
    return -1;
}

struct RefusedOffsets {
    explicit RefusedOffsets(LockCall call) { set_lock_call(call); }
    ~RefusedOffsets() { set_lock_call(nullptr); }
};

TEST(FolderLocks, ARefusedOffsetMakesTheLockUnavailable) {
    test::TempDir dir;
    for (const auto& [call, reason] : {std::pair<LockCall, std::string>{refuse_invalid, std::strerror(EINVAL)},
                                       {refuse_overflow, std::strerror(EOVERFLOW)}}) {
        SCOPED_TRACE(reason);
        std::string why;
        {
            const RefusedOffsets refused(call);
            FolderLocks l;
            EXPECT_EQ(l.take("", "result r1", &why), Result::Unavailable);
            EXPECT_EQ(why, reason);
            EXPECT_EQ(l.size(), 0u);
        }
        // Nothing is left held: the system's call takes the lock again.
        FolderLocks l;
        EXPECT_EQ(l.take("", "result r1"), Result::Taken);
    }
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
        bool pan, lvg, exports = false;
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
        // No molecular gas: the cloud model writes neither.
        {"mmolfraz -1 (no gas)", emi, {"mmolfraz  -1"}, false, false},
        {"mmolfraz -1 in the par file", test::with_main_key(emi, "mmolfraz", "-1.0"), {}, false, false},
        {"mmolfraz 0", emi, {"mmolfraz  0"}, false, false},
        {"mmolfraz 1 (all the gas in clouds)", emi, {"mmolfraz  1"}, true, true},
        {"mmolfraz 5 (set by the star-formation rate)", emi, {"mmolfraz  5"}, true, true},
        {"mmolfraz -1 with a negative gastmp in use", emi, {"mmolfraz  -1", "igastmp   1", "gastmp    -0.1"}, true,
         true},
        {"mmolfraz -1 with gastmp not in use", emi, {"mmolfraz  -1", "gastmp    -0.1"}, false, false},
        {"mmolfraz 0 for the tav model, which may raise it", emi, {"mmolfraz  0", "istarfo   4"}, true, true},
        {"mmolfraz -1 then 0.5", emi, {"mmolfraz  -1", "mmolfraz  0.5"}, true, true},
        {"mmolfraz unreadable", emi, {"mmolfraz  x"}, true, true},
        // The cloud emulator leaves the CO lines without the solver's temperatures.
        {"annflag 1", emi, {"annflag   1"}, true, false},
        {"annflag 3", emi, {"annflag   3"}, true, false},
        {"annflag 2", emi, {"annflag   2"}, true, true},
        {"annflag 1.9 (truncated to 1)", emi, {"annflag   1.9"}, true, false},
        {"annflag 1 in the par file", [&] {
             std::string p = emi;
             return p.insert(p.find("MAIN\n") + 5, "annflag   1\n");
         }(),
         {}, true, false},
        // istarfo 5 writes its history and ends the run.
        {"istarfo 5", emi, {"istarfo   5"}, false, false, true},
        {"istarfo 5.5 (truncated to 5)", emi, {"istarfo   5.5"}, false, false, true},
        // A MAIN value followed by a comment that crosses column 20 is not the
        // look-ahead's business.
        {"a comment past column 20", [&] {
             std::string p = emi;
             const std::size_t at = p.find("\nhiiflag   1");
             p.replace(at + 1, std::string("hiiflag   1           ").size(), "hiiflag   1 HII regions");
             return p;
         }(),
         {}, true, true},
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
        EXPECT_EQ(run_writes_history_exports(run), c.exports);
        EXPECT_EQ(cc.out.str(), "");
    }
    test::CapturedConsole cc;
    qv::Run run(cc.con);
    run.modname.name = "nosuchmodel";  // no par file: the run stops before writing either
    EXPECT_FALSE(run_writes_pan_files(run));
    EXPECT_FALSE(run_writes_lvg_file(run));
    EXPECT_FALSE(run_writes_history_exports(run));
    EXPECT_FALSE(fs::exists("nosuchmodel.par"));
}

// The par file with its LVG section (the last one) moved in front of the
// section key before, and z_lvg set.
std::string lvg_moved(const std::string& par, const std::string& before, const std::string& z) {
    const std::size_t lvg = par.find("\nLVG\n");
    std::string section = par.substr(lvg + 1);
    std::string rest = par.substr(0, lvg + 1);
    const std::size_t at = section.find("\nz_lvg     ");
    section.replace(at + 11, 10, (z + "          ").substr(0, 10));
    if (section.back() != '\n') section += '\n';
    return rest.insert(rest.find("\n" + before + "\n") + 1, section + "\n");
}

// The LVG section stands before another: the look-ahead stops at the next
// section key (and at a z_lvg of 0), so that the lines of that section, whose
// values may run past column 20, neither stop nor refuse the run.
TEST_F(RunLocks, LvgLookAheadEndsAtTheNextSectionKey) {
    const std::string emi = test::with_main_key(par, "emiflag", "1");
    for (const char* before : {"SSP", "MC_LINE"}) {
        for (const auto& [z, writes] : {std::pair<std::string, bool>{"0.001", true}, {"0.0", false}, {"0", false}}) {
            SCOPED_TRACE(std::string("in front of ") + before + ", z_lvg " + z);
            set_par(lvg_moved(emi, before, z));
            {
                test::CapturedConsole cc;
                qv::Run run(cc.con);
                run.modname.name = "m1";
                EXPECT_EQ(run_writes_lvg_file(run), writes);
                EXPECT_TRUE(run_writes_pan_files(run));
            }
            // Another run holding every other file of the model's: this one is
            // refused only for the lvg file it writes.
            FolderLocks other;
            ASSERT_EQ(other.take("", "lvg m1"), Result::Taken);
            test::CapturedConsole cc;
            EXPECT_EQ(run_main(cc, {argv0, "m1", "nameres=r2", "hiiflag=0", "istarfo=3"}), 1);
            const std::string out = cc.out.str();
            EXPECT_EQ(out.find("runs past column 20"), std::string::npos) << out;
            if (writes) {
                EXPECT_NE(out.find(" ERROR: another run in this folder is writing m1.lvg"), std::string::npos) << out;
            } else {
                EXPECT_EQ(out.find("another run"), std::string::npos) << out;
                EXPECT_NE(out.find("istarfo=           3  not valid. stop."), std::string::npos) << out;
            }
            std::error_code ec;
            fs::remove("r2.out", ec);
        }
    }
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
        std::string then;     // the line after the message
        // The last argument, which ends a run that goes on, and what it says
        // then (on standard output or standard error, with the exit status).
        std::string end = "istarfo=3";
        std::string ends = "istarfo=           3  not valid. stop.";
        int status = 1;
        // The copy's commands when they are not the plain ones, and a bulge
        // law of the model's that the row puts in the folder.
        std::string copy = "";
        const char* bst = nullptr;
    };
    // A galaxy's gas is known only for the histories (istarfo 0): its runs end
    // on a galaxy age to be read from a missing age.par.
    const std::string no_age = "tgal=-1";
    const std::string age_missing = "age.par";
    // A copy under another model name needs the inputs named after the model
    // (the HII model list here) and the history under its own name; the
    // command to run is said in full (checked below).
    const std::string model_named =
        " this run stops and writes nothing: wait for the other run to end, or run a copy of the model under another "
        "name:";
    const std::string pan_named =
        " this run stops and writes nothing: wait for the other run to end, give it hiiflag=0, or run a copy of the "
        "model under another name:";
    const std::string exports_named =
        " this run stops and writes nothing: wait for the other run to end, or run this one in another folder (the "
        "export files are named after the model)";
    // The tav model's galaxy is the one its model name gives: no copy.
    const std::string tav_named =
        " this run stops and writes nothing: wait for the other run to end, give it hiiflag=0, or run it in another "
        "folder (the tav model takes its galaxy from the model name: a copy under another name would be another "
        "galaxy)";
    const std::vector<Case> cases = {
        {"its result name", "result r1", {"nameres=r1"},
         " ERROR: another run in this folder is writing r1.out (and the result files r1.*)",
         " this run stops and writes nothing (give it its own nameres)"},
        {"its model's result name", "result m1", {},
         " ERROR: another run in this folder is writing m1.out (and the result files m1.*)",
         " this run stops and writes nothing (give it its own nameres)"},
        {"its model's pan files", "pan m1", {"nameres=r2"},
         " ERROR: another run in this folder is writing m1.pan (or m1_<set>.pan)", pan_named},
        {"the tav model's pan files", "pan m1", {"nameres=r2"},
         " ERROR: another run in this folder is writing m1.pan (or m1_<set>.pan)", tav_named, "istarfo=4"},
        {"its model's lvg file", "lvg m1", {"nameres=r2"}, " ERROR: another run in this folder is writing m1.lvg",
         model_named},
        {"its model's history export files", "history m1", {"nameres=r2"},
         " ERROR: another run in this folder is writing m1.sft, m1.sfd and m1.sfb", exports_named, "istarfo=5"},
        {"pan files it does not write", "pan m1", {"nameres=r2", "hiiflag=0"}, "", ""},
        {"an lvg file it does not write", "lvg m1", {"nameres=r2", "emiflag=0"}, "", ""},
        {"pan files of a run without gas", "pan m1", {"nameres=r2", "mmolfraz=-1"}, "", "", no_age, age_missing, 2},
        {"an lvg file of a run without gas", "lvg m1", {"nameres=r2", "mmolfraz=-1"}, "", "", no_age, age_missing, 2},
        {"the same with its gas", "lvg m1", {"nameres=r2"}, " ERROR: another run in this folder is writing m1.lvg",
         model_named, no_age},
        {"an lvg file of the cloud emulator", "lvg m1", {"nameres=r2", "annflag=1"}, "", ""},
        {"history files it does not write", "history m1", {"nameres=r2"}, "", ""},
        {"history files of istarfo 4.9 (truncated to 4)", "history m1", {"nameres=r2"}, "", "", "istarfo=4.9",
         " FATAL ERROR - missing parameter(s) in file m1.par:"},
        {"another result name", "result r1", {"nameres=r2"}, "", ""},
        // Names that shared a byte of a narrower lock range.
        {"a result name once sharing its byte", "result g8162", {"nameres=g27827"}, "", ""},
        // The copy's commands copy the bulge law too, and quote the words
        // that the shell would split or take apart.
        {"a model with its bulge law", "pan m1", {"nameres=r2", "igeo=-1"},
         " ERROR: another run in this folder is writing m1.pan (or m1_<set>.pan)", pan_named, "istarfo=3",
         "istarfo=           3  not valid. stop.", 1,
         " cp m1.par m1_2.par; cp m1.lin m1_2.lin; cp m1.bst m1_2.bst; " + argv0 +
             " m1_2 namesf=m1 nameres=r2 igeo=-1 istarfo=3",
         "2\n0.0 1.0\n20.0 0.0\n"},
        {"values that need quotes", "pan m1", {"nameres=r2", "tgal=13.0 two ages", "dsug=0.0089 it's mine"},
         " ERROR: another run in this folder is writing m1.pan (or m1_<set>.pan)", pan_named, "istarfo=3",
         "istarfo=           3  not valid. stop.", 1,
         " cp m1.par m1_2.par; cp m1.lin m1_2.lin; " + argv0 +
             " m1_2 namesf=m1 nameres=r2 'tgal=13.0 two ages' 'dsug=0.0089 it'\\''s mine' istarfo=3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.bst) test::write_text("m1.bst", c.bst);
        const std::vector<std::string> before = files_but_the_lock();
        FolderLocks other;
        ASSERT_EQ(other.take("", c.held), Result::Taken);
        std::vector<std::string> args = {argv0, "m1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(c.end);
        test::CapturedConsole cc;
        const int status = run_main(cc, args);
        EXPECT_EQ(status, c.message.empty() ? c.status : 1);
        const std::string out = cc.out.str() + cc.err.str();
        if (!c.message.empty()) {
            EXPECT_NE(out.find(c.message + "\n" + c.then + "\n"), std::string::npos) << out;
            if (c.then == model_named || c.then == pan_named) {
                // The copy: the par file and the HII model list, then the run
                // under the copy's name with the history of this one and the
                // same arguments.
                std::string cmd = " cp m1.par m1_2.par; cp m1.lin m1_2.lin; " + argv0 + " m1_2 namesf=m1";
                for (std::size_t k = 2; k < args.size(); ++k) cmd += " " + args[k];
                if (!c.copy.empty()) cmd = c.copy;
                EXPECT_NE(out.find(c.then + "\n" + cmd + "\n"), std::string::npos) << out;
            }
            EXPECT_EQ(files_but_the_lock(), before);
        } else {
            EXPECT_EQ(out.find("another run"), std::string::npos) << out;
            EXPECT_NE(out.find(c.ends), std::string::npos) << out;
        }
        for (const auto& f : folder_files())
            if (f.size() > 4 && f.substr(f.size() - 4) == ".out") fs::remove(f);
        if (c.bst) fs::remove("m1.bst");
    }
}

// The copy that a refusal proposes never writes over a file: its name is the
// first m1_N that no file of the folder is named after (the copy's inputs,
// the files its run names after it, its results when it has no result name of
// its own), and a result name given that names files is replaced by a free one.
TEST_F(RunLocks, TheCopyTakesNamesThatNoFileUses) {
    struct Case {
        const char* what;
        std::vector<std::string> files;  // the user's, in the folder before the run
        std::vector<std::string> args;   // after the model name (istarfo=3 follows)
        std::string copy;                // the copy's name
        std::string args_said;           // its arguments after namesf, as the command says them
    };
    const std::vector<Case> cases = {
        {"a folder without the copy's names", {}, {"nameres=r2"}, "m1_2", " nameres=r2"},
        {"the user's own m1_2", {"m1_2.par", "m1_2.lin"}, {"nameres=r2"}, "m1_3", " nameres=r2"},
        {"m1_2 and m1_3 taken", {"m1_2.bst", "m1_3.spe"}, {"nameres=r2"}, "m1_4", " nameres=r2"},
        {"the results a copy without nameres writes", {"m1_2.out"}, {}, "m1_3", ""},
        {"the results of a model m1_2 with nameres", {"m1_2.90"}, {"nameres=r2"}, "m1_3", " nameres=r2"},
        {"a pan file of an HII set", {"m1_2_1.pan"}, {"nameres=r2"}, "m1_3", " nameres=r2"},
        {"the pan file of the model's own second set", {"m1_2.pan"}, {"nameres=r2"}, "m1_3", " nameres=r2"},
        {"a dangling link", {"->m1_2.lin"}, {"nameres=r2"}, "m1_3", " nameres=r2"},
        {"files of other names", {"m1_20.par", "m1_2x.out", "m1_2_10.pan", "m1_2"}, {"nameres=r2"}, "m1_2",
         " nameres=r2"},
        {"a result name that names files", {"r2.out"}, {"nameres=r2"}, "m1_2", " nameres=r2_2"},
        {"its free names taken too", {"r2.spe.tmp", "r2_2.out"}, {"nameres=r2"}, "m1_2", " nameres=r2_3"},
        {"the last of two result names", {"r3.out"}, {"nameres=r2", "nameres=r3"}, "m1_2",
         " nameres=r3_2 nameres=r3_2"},
        {"a result name in a folder", {"res/r2.out"}, {"nameres=res/r2"}, "m1_2", " nameres=res/r2_2"},
        {"a result name in a folder where the name is free", {"r2.out"}, {"nameres=res/r2"}, "m1_2",
         " nameres=res/r2"},
    };
    fs::create_directory("res");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::string& f : c.files) {
            if (f.rfind("->", 0) == 0)
                fs::create_symlink("nowhere", f.substr(2));
            else
                test::write_text(f, "the user's own " + f + "\n");
        }
        const std::vector<std::string> before = files_but_the_lock();
        FolderLocks other;
        ASSERT_EQ(other.take("", "pan m1"), Result::Taken);
        std::vector<std::string> args = {argv0, "m1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back("istarfo=3");
        test::CapturedConsole cc;
        EXPECT_EQ(run_main(cc, args), 1);
        const std::string out = cc.out.str();
        const std::string cmd = " cp m1.par " + c.copy + ".par; cp m1.lin " + c.copy + ".lin; " + argv0 + " " +
                                c.copy + " namesf=m1" + c.args_said + " istarfo=3\n";
        EXPECT_NE(out.find("under another name:\n" + cmd), std::string::npos) << out;
        EXPECT_EQ(files_but_the_lock(), before);
        for (const std::string& f : c.files) {
            if (f.rfind("->", 0) == 0)
                fs::remove(f.substr(2));
            else
                fs::remove(f);
        }
    }
}

// A file system that refuses the lock's offset: the run warns as for a
// folder that cannot be locked, and goes on.
TEST_F(RunLocks, ARefusedOffsetWarnsAndTheRunGoesOn) {
    const RefusedOffsets refused(refuse_overflow);
    test::CapturedConsole cc;
    EXPECT_EQ(run_main(cc, {argv0, "m1", "istarfo=3"}), 1);
    EXPECT_NE(cc.err.str().find("quelvo: warning: cannot lock .quelvo.lock (" + std::string(std::strerror(EOVERFLOW)) +
                                "): runs in this folder are not kept from writing m1.out together"),
              std::string::npos)
        << cc.err.str();
    EXPECT_NE(cc.out.str().find("istarfo=           3  not valid. stop."), std::string::npos) << cc.out.str();
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
