// Damaged emulator files run through the quelvo program on the example model:
// a number of outputs beyond the lines of its auxiliary file stops before any
// table is sized, and a missing emulator folder names the folder and both
// names tried. Neither run writes the spectra files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/stop.h"
#include "emulator/sed_emulator.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

struct BadEmulator {
    const char* what;
    const char* args;
    bool remove_folder;  // else nout 999999999 in f_aux_dis.dat
    std::vector<std::string> words;
};

TEST(BadEmulatorFiles, StopBeforeTheSpectraWithAClearMessage) {
    const BadEmulator cases[] = {
        {"nout beyond the file's lines", "annflag=2 emiflag=1", false,
         {"data/ann/f_aux_dis.dat:2: the number of outputs nout=999999999 needs at least 1000000014 lines; the "
          "file holds 85"}},
        {"no emulator folder", "annflag=1 emiflag=1", true,
         {"data/ann/: the emulator folder is missing: neither ./data/ann/f_aux_mc_mir.dat nor "
          "./data/ann\\f_aux_mc_mir.dat exists"}},
    };
    for (const BadEmulator& c : cases) {
        TempDir dir;
        write_example_model("m1", dir.file("data"));
        fs::create_symlink(bin_path("quelvo"), dir.path() / "data" / "quelvo");
        if (c.remove_folder) {
            fs::remove_all("data/ann");
        } else {
            std::vector<std::string> l = read_lines("data/ann/f_aux_dis.dat");
            ASSERT_GT(l.size(), 2u);
            l[1] = "           999999999";
            std::string t;
            for (const std::string& x : l) t += x + "\n";
            write_text("data/ann/f_aux_dis.dat", t);
        }
        std::string out;
        const int rc = run_command("cd '" + dir.path().string() + "' && ./data/quelvo m1 " + c.args + " 2>&1", &out);
        EXPECT_EQ(rc, 2) << c.what << "\n" << out;
        for (const std::string& w : c.words) EXPECT_THAT(out, HasSubstr(w)) << c.what;
        for (const char* f : {"m1.spe", "m1.0", "m1.90"}) EXPECT_FALSE(fs::exists(f)) << c.what << " " << f;
        EXPECT_FALSE(fs::exists("data/ann/f_aux_mc_mir.dat") && c.remove_folder) << "the folder was created";
    }
}

// A folder that exists but lacks the file: its own name, the one opened.
TEST(BadEmulatorFiles, AFileMissingFromTheFolderIsNamedAlone) {
    TempDir dir;
    fs::create_directories("data/ann");
    SedEmulator e;
    e.trained_ann_path = "data/ann\\";
    EXPECT_EQ(existing_emulator_file(e, "mc_mir.net"), "data/ann/mc_mir.net");
    fs::remove_all("data");
    try {
        existing_emulator_file(e, "mc_mir.net");
        ADD_FAILURE() << "no error without the folder";
    } catch (const IoError& err) {
        EXPECT_THAT(err.what(), HasSubstr("neither data/ann/mc_mir.net nor data/ann\\mc_mir.net exists"));
    }
    EXPECT_FALSE(fs::exists("data"));
}

}  // namespace
}  // namespace qv::test
