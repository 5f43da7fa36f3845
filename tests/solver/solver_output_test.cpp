// The solver's output settings "NOLT96.OF", its mode-2 parameters and the
// records of its log: the parameter block and the array blocks, byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/run_names.h"
#include "core/stop.h"
#include "generators.h"
#include "solver/solver_fixture.h"
#include "solver/solver_output.h"
#include "solver/solver_state.h"
#include "support/test_support.h"

namespace qv {
namespace {

using test::stop_text;
using test::TempDir;
using test::write_text;

// A settings file: title, the 14 flags (those listed on), the directions and
// the map wavelengths as written (fields of up to 10 characters), and whatever
// lines follow.
std::string settings(const std::vector<int>& on, const std::string& ndir,
                     const std::vector<std::string>& dirs, const std::string& nlam,
                     const std::vector<std::string>& lams, const std::string& tail = "") {
    std::string s = " output settings\n";
    for (int k = 1; k <= 14; ++k) {
        bool set = false;
        for (int f : on) set = set || f == k;
        s += set ? "         T\n" : "        F \n";
    }
    s += ndir + "\n";
    for (const auto& d : dirs) s += d + "\n";
    s += nlam + "\n";
    for (const auto& l : lams) s += l + "\n";
    return s + tail;
}

struct Settings {
    std::array<bool, 15> flags{};
    Vec<float> dirs = Vec<float>(10);
    Vec<float> lams = Vec<float>(54);
    int ndirs = -1, nlams = -1;
};

Settings read_settings(const std::string& dir) {
    RunNames names;
    names.name_dir = dir;
    Settings s;
    inpof(names, s.flags, 14, s.dirs, 10, s.ndirs, s.lams, 54, s.nlams, 2);
    return s;
}

TEST(SolverSettings, ReadsFlagsDirectionsAndWavelengthsWithImpliedDecimals) {
    TempDir tmp;
    write_text("NOLT96.OF", settings({1, 8, 13}, "         3", {"     45.00", "        30", "      15e1"},
                                     "2", {"    100.00", "        -1"}));
    const Settings s = read_settings(tmp.path().string() + "/");
    for (int k = 1; k <= 14; ++k) EXPECT_EQ(s.flags[static_cast<std::size_t>(k)], k == 1 || k == 8 || k == 13) << k;
    ASSERT_EQ(s.ndirs, 3);
    EXPECT_EQ(s.dirs(1), 45.0f);
    EXPECT_EQ(s.dirs(2), 0.30f);  // no point: hundredths
    EXPECT_EQ(s.dirs(3), 1.5f);   // no point, with an exponent: 15 hundredths times 1e1
    ASSERT_EQ(s.nlams, 2);
    EXPECT_EQ(s.lams(1), 100.0f);
    EXPECT_EQ(s.lams(2), -0.01f);
}

TEST(SolverSettings, ZeroCountPassesOverOneLine) {
    TempDir tmp;
    // The line after the count 0 is not read as a value, whatever it holds.
    write_text("NOLT96.OF", settings({13}, "1", {"90."}, "         0", {"not a number"}));
    const Settings s = read_settings(tmp.path().string() + "/");
    EXPECT_EQ(s.ndirs, 1);
    EXPECT_EQ(s.dirs(1), 90.0f);
    EXPECT_EQ(s.nlams, 0);
}

TEST(SolverSettings, MalformedOrShortFilesAreIoErrorsNamingTheFile) {
    struct Case {
        const char* what;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"empty", ""},
        {"a flag that is not a logical", settings({13}, "1", {"90."}, "0", {""}).replace(17, 10, "       yes")},
        {"a count that is not an integer", settings({13}, "one", {"90."}, "0", {""})},
        {"a direction that is not a number", settings({13}, "1", {"north"}, "0", {""})},
        {"the line after a zero count missing", settings({13}, "1", {"90."}, "0", {})},
        {"fewer wavelengths than counted", settings({13}, "1", {"90."}, "3", {"10.", "20."})},
    };
    for (const Case& c : cases) {
        TempDir tmp;
        write_text("NOLT96.OF", c.text);
        try {
            read_settings(tmp.path().string() + "/");
            ADD_FAILURE() << c.what << ": read without error";
        } catch (const IoError& e) {
            EXPECT_NE(std::string(e.what()).find("NOLT96.OF"), std::string::npos) << c.what << ": " << e.what();
        }
    }
}

TEST(SolverSettings, CountsTheSolverCannotUseStopNamingFileAndCount) {
    struct Case {
        const char* what;
        std::string text;
        const char* count;
    };
    std::vector<std::string> eleven(11, "10.");
    std::vector<std::string> many(55, "10.");
    const std::vector<Case> cases = {
        {"11 directions", settings({13}, "11", eleven, "0", {""}), "11"},
        {"no direction", settings({13}, "0", {""}, "0", {""}), "0"},
        {"a negative direction count", settings({13}, "-2", {}, "0", {""}), "-2"},
        {"55 map wavelengths", settings({13}, "1", {"10."}, "55", many), "55"},
        {"a negative wavelength count", settings({13}, "1", {"10."}, "-1", {""}), "-1"},
        {"flag 13 off", settings({8, 11, 14}, "1", {"10."}, "0", {""}), "13"},
    };
    for (const Case& c : cases) {
        TempDir tmp;
        write_text("NOLT96.OF", c.text);
        try {
            read_settings(tmp.path().string() + "/");
            ADD_FAILURE() << c.what << ": no stop";
        } catch (const Stop& s) {
            const std::string t = stop_text(s);
            EXPECT_NE(t.find(tmp.path().string() + "/NOLT96.OF"), std::string::npos) << c.what << ": " << t;
            EXPECT_NE(t.find(c.count), std::string::npos) << c.what << ": " << t;
        }
    }
}

TEST(SolverSettings, TheCapacitiesThemselvesAreAccepted) {
    TempDir tmp;
    write_text("NOLT96.OF", settings({13}, "10", std::vector<std::string>(10, "5."), "54",
                                     std::vector<std::string>(54, "0.")));
    const Settings s = read_settings(tmp.path().string() + "/");
    EXPECT_EQ(s.ndirs, 10);
    EXPECT_EQ(s.nlams, 54);
}

TEST(SolverSettings, MissingFileIsAnErrorAndIsNotCreated) {
    TempDir tmp;
    const std::string dir = tmp.path().string() + "/";
    try {
        read_settings(dir);
        ADD_FAILURE() << "no error";
    } catch (const IoError& e) {
        EXPECT_NE(std::string(e.what()).find(dir + "NOLT96.OF"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(dir + "NOLT96.OF"));
}

TEST(SolverSettings, LongDataFolderPathIsUsedWhole) {
    TempDir tmp;
    // A path of well over 80 characters; a copy of the file cut at 80 characters
    // of the path would be another file.
    std::string dir = tmp.path().string() + "/" + std::string(70, 'd') + "/" + std::string(40, 'e') + "/";
    std::filesystem::create_directories(dir);
    ASSERT_GT((dir + "NOLT96.OF").size(), 80u);
    write_text(dir + "NOLT96.OF", settings({13}, "1", {"33.00"}, "0", {""}));
    const Settings s = read_settings(dir);
    EXPECT_EQ(s.dirs(1), 33.0f);
}

TEST(SolverSettings, GeneratorsFileReadsAsTheExampleNeedsIt) {
    TempDir tmp;
    qvgen::write_solver_settings(tmp.path().string());
    const std::string text = test::read_text("NOLT96.OF");
    const Settings s = read_settings(tmp.path().string() + "/");
    for (int k = 1; k <= 14; ++k) EXPECT_EQ(s.flags[static_cast<std::size_t>(k)], k == 8 || k == 11 || k == 13) << k;
    EXPECT_GE(s.ndirs, 1);
    EXPECT_LE(s.ndirs, 2);
    EXPECT_EQ(s.nlams, 0);
    // Every F10.2 value is written with its point.
    const auto lines = test::read_lines("NOLT96.OF");
    for (int i = 0; i < s.ndirs; ++i) EXPECT_NE(lines[16 + static_cast<std::size_t>(i)].find('.'), std::string::npos);
    EXPECT_EQ(lines.size(), 16u + static_cast<std::size_t>(s.ndirs) + 2u) << text;
}

TEST(SolverParameters, ModeTwoBlockByteForByte) {
    SolverState g;
    g.tgra = 1500.0f;
    g.tsil = -1200.0f;
    g.rmsr0 = 100.0f;
    g.taue = 10.0f;
    g.rc = 7.0f;  // left alone by inppa2, as are tc and albb
    g.albb = 3.0f;
    inppa2(g);
    EXPECT_EQ(g.albb, 3.0f);
    SolverLines log;
    outpar(g, log);
    const std::vector<std::string> expected = {
        "",
        "IGEO  =          0 0 = toro - 1 = coni",
        "TGRA  =  0.150E+04",
        "TSIL  = -0.120E+04",
        "R1    =  0.100E+11",
        "RMSR0 =   100.    ",
        "IRHO  =          0",
        "CTHE1 =   0.00    ",
        "ALPHA =   0.00    ",
        "BETA  =   0.00    ",
        "TAUE  =   10.0    ",
        "ALTAU =   1.00    ",
        "ICEN  =          3",
        "RC    =   7.00    ",
        "TC    =   0.00    ",
        "PERRIF=   0.00    ",
        "NCIC  =          2",
        "IINI  =          0",
        "JPFLAG=          T",
        "SUFLAG=          T",
        "SIMSFE=          T",
        "GRFLAG=          1",
        "SCAANI=          F",
        "STOKES=          F",
        "SIMEQU=          T",
    };
    EXPECT_EQ(log, expected);
}

TEST(SolverLogBlocks, VectorBlockByteForByte) {
    Vec<float> v(3);
    v(1) = 0.5f;
    v(2) = 1500.0f;
    v(3) = -2.25f;
    SolverLines log{"before"};
    outarr(v, 3, log, "LARR  ", true);
    const std::vector<std::string> expected = {
        "before", "", "Array LARR  :",
        "    1    0.50000    ",
        "    2     1500.0    ",
        "    3    -2.2500    ",
    };
    EXPECT_EQ(log, expected);
}

TEST(SolverLogBlocks, MatrixAndAngleOneBlocksByteForByte) {
    FArray<float, 3> t(2, 24, 3);
    t(1, 1, 1) = 21.5f;
    t(1, 1, 2) = 0.0f;
    t(1, 1, 3) = 1234.6f;
    t(2, 1, 1) = 1.0e-5f;
    t(2, 1, 2) = 77.0f;
    t(2, 1, 3) = -3.0f;
    t(2, 2, 1) = 99.0f;  // other polar angles are not printed
    SolverLines log;
    outas3(t, 2, 24, 3, log, "TARR  ", true);
    const std::vector<std::string> expected = {
        "", "Array TARR  :",
        " 21.50     0.000     1235.    ",
        "0.1000E-04 77.00    -3.000    ",
    };
    EXPECT_EQ(log, expected);

    Mat<float> a(2, 3);
    a(1, 1) = 1.0f;
    a(1, 2) = 2.5e10f;
    a(1, 3) = -0.125f;
    a(2, 1) = 3.0f;
    SolverLines m;
    outar2(a, 2, 3, m, "RSGRA ", true);
    const std::vector<std::string> em = {
        "", "Array RSGRA :",
        "  1.000     0.2500E+11-0.1250    ",
        "  3.000      0.000      0.000    ",
    };
    EXPECT_EQ(m, em);

    SolverLines r;
    outas2(a, 2, 3, r, "RHOARR", true);
    const std::vector<std::string> er = {"", "Array RHOARR:", "  1.00    ", "  3.00    "};
    EXPECT_EQ(r, er);
}

TEST(SolverLogBlocks, FluxPlanesPrintFromPlaneZero) {
    SolverState g;
    g.farr(1, 1, 0) = 5.0f;
    g.farr(1, 1, 54) = 6.0f;
    SolverLines log;
    outas3(g.farr, 1, 24, 55, log, "FARR  ", true);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[2].size(), 550u);
    EXPECT_EQ(log[2].substr(0, 10), " 5.000    ");
    EXPECT_EQ(log[2].substr(540), " 6.000    ");
}

TEST(SolverLogBlocks, FlagOffWritesNothing) {
    SolverState g;
    SolverLines log;
    outarr(g.rarr, 40, log, "RARR  ", false);
    outar2(g.qaarr, 54, 20, log, "QAARR ", false);
    outas2(g.rhoarr, 40, 24, log, "RHOARR", false);
    outas3(g.tarr, 40, 24, 20, log, "TARR  ", false);
    EXPECT_TRUE(log.empty());
}

TEST(SolverLogBlocks, FileIsWrittenWholeWithLineEnds) {
    TempDir tmp;
    write_solver_file("x.OUT", {"", "Array A     :", "    1    0.50000    "});
    EXPECT_EQ(test::read_text("x.OUT"), "\nArray A     :\n    1    0.50000    \n");
    SolverState g;
    g.nom = "tmp0042 rest";
    EXPECT_EQ(solver_stem(g), "tmp0042");
}

}  // namespace
}  // namespace qv
