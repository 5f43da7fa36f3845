// The HII model list <name>.lin, the library file reader, the selection of the
// models at the grid metallicities around the gas metallicity, and the library
// that the example-data generator writes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "clouds/hii_library.h"
#include "clouds/hii_lines.h"
#include "core/run.h"
#include "core/stop.h"
#include "generators.h"
#include "io/textfile.h"
#include "support/test_support.h"

namespace qv {
namespace {

using test::CapturedConsole;
using test::TempDir;
using test::write_text;

// Columns 1-65 of a model line: an id (1-14), sub-grid 2 (15), a character the
// reader passes over (16), Z (17-21), passed over (22-29), log Q(H) - 50
// written without a decimal point (30-37: implied 4 decimals), passed over
// (38), the fourth value (39-46), log Q(He) - 50 as "-33.0000" (48-55), log
// Q(O) - 50 (57-64), passed over (65).
const std::string kHead = "abcdefghijklmn2x.0200ignored!  -12500|  1.5000|-33.0000|  0.2500|";

// A model line: the head, then the line codes (the rest 0).
std::string model_line(const std::string& head, const std::vector<int>& codes) {
    std::string s = head;
    for (int k = 0; k < kHiiLines; ++k) {
        const int c = k < static_cast<int>(codes.size()) ? codes[static_cast<std::size_t>(k)] : 0;
        std::string f = std::to_string(c);
        s += std::string(5 - f.size(), ' ') + f;
    }
    return s;
}

TEST(HiiLibraryFile, OneModelLineReadsEveryField) {
    ASSERT_EQ(kHead.size(), 65u);
    const std::string line = model_line(kHead, {0, 50000, 49000, 51234});
    const modhii::ModelLine m = modhii::read_model_line(line, "lib.dat", 2);
    EXPECT_EQ(m.gridn, 2);
    EXPECT_FLOAT_EQ(m.zgas, 0.02f);
    EXPECT_FLOAT_EQ(m.lqhi, -1.25f);  // "  -12500" under F8.4
    EXPECT_FLOAT_EQ(m.lqx, 1.5f);
    EXPECT_FLOAT_EQ(m.lqhei, -33.0f);
    EXPECT_FLOAT_EQ(m.lqo, 0.25f);
    EXPECT_EQ(m.codes[0], 0);
    EXPECT_EQ(m.codes[1], 50000);
    EXPECT_EQ(m.codes[3], 51234);
    EXPECT_EQ(m.codes[113], 0);

    HiiLibrary lib;
    modhii::load(lib, TextFile::from_string("lib.dat", "header\n" + line + "\n"));
    ASSERT_EQ(lib.n_mod, 1);
    EXPECT_EQ(lib.gridn(1), 2);
    EXPECT_FLOAT_EQ(lib.qhi(1), std::pow(10.0f, -1.25f));
    EXPECT_FLOAT_EQ(lib.qx(1), std::pow(10.0f, 1.5f));
    EXPECT_EQ(lib.qhei(1), 0.0f);  // -33: no helium-ionising photons
    EXPECT_FLOAT_EQ(lib.qo(1), std::pow(10.0f, 0.25f));
    EXPECT_EQ(lib.righe(1, 1), 0.0f);  // code 0: no line at all
    EXPECT_EQ(lib.righe(2, 1), 1.0f);  // exp(0)
    EXPECT_FLOAT_EQ(lib.righe(3, 1), std::exp(-1.0f));
    EXPECT_NEAR(lib.righe(4, 1), std::exp(1.234f), 1e-5f * std::exp(1.234f));
}

TEST(HiiLibraryFile, PhotonValuesAtOrBelowMinus33MeanNone) {
    struct C {
        const char* qhe;
        const char* qo;
        bool he, o;
    } cases[] = {
        {"-33.0000", "-33.0001", false, false},
        {"-32.9999", "-40.0000", true, false},
        {" -3.0000", "  -33000", true, true},  // "-33000" is -3.3 with the implied decimals
    };
    for (const C& c : cases) {
        std::string head = kHead;
        head.replace(47, 8, c.qhe);
        head.replace(56, 8, c.qo);
        HiiLibrary lib;
        modhii::load(lib, TextFile::from_string("lib.dat", "h\n" + model_line(head, {})));
        EXPECT_EQ(lib.qhei(1) > 0.0f, c.he) << c.qhe;
        EXPECT_EQ(lib.qo(1) > 0.0f, c.o) << c.qo;
    }
}

TEST(HiiLibraryFile, EveryLineAfterTheHeaderIsAModel) {
    const std::string a = model_line(kHead, {50000});
    std::string b = model_line(kHead, {51000});
    b[14] = '1';
    struct C {
        std::string text;
        int n;
    } cases[] = {
        {"h\n" + a + "\n" + b + "\n", 2},
        {"h\n" + a + "\n" + b, 2},  // the last line without its line end still counts
        {"h\n", 0},
        {"", 0},
    };
    for (const C& c : cases) {
        HiiLibrary lib;
        modhii::load(lib, TextFile::from_string("lib.dat", c.text));
        EXPECT_EQ(lib.n_mod, c.n);
        if (c.n == 2) {
            EXPECT_EQ(lib.gridn(2), 1);
            EXPECT_FLOAT_EQ(lib.righe(1, 2), std::exp(1.0f));
        }
    }
    // A short line reads as blank-padded: the missing codes are 0.
    HiiLibrary lib;
    modhii::load(lib, TextFile::from_string("lib.dat", "h\n" + kHead + "50000"));
    EXPECT_EQ(lib.righe(1, 1), 1.0f);
    EXPECT_EQ(lib.righe(2, 1), 0.0f);
}

TEST(HiiLibraryFile, AFieldThatIsNotANumberNamesFileAndLine) {
    std::string bad = model_line(kHead, {});
    bad.replace(65 + 5 * 7, 5, " 12x4");
    HiiLibrary lib;
    try {
        modhii::load(lib, TextFile::from_string("lib.dat", "h\n" + model_line(kHead, {}) + "\n" + bad));
        FAIL() << "no error";
    } catch (const IoError& e) {
        const std::string w = e.what();
        EXPECT_NE(w.find("lib.dat:3"), std::string::npos) << w;
        EXPECT_NE(w.find("columns 101-105"), std::string::npos) << w;  // the eighth code
    }
    std::string badz = model_line(kHead, {});
    badz.replace(16, 5, "0.0x0");
    EXPECT_THROW(modhii::load(lib, TextFile::from_string("lib.dat", "h\n" + badz)), IoError);
}

TEST(HiiLibraryFile, LoadedFromTheDataFolderWithItsMessages) {
    TempDir tmp;
    CapturedConsole cc;
    qv::Run run(cc.con);
    run.modname.name_dir = tmp.path().string() + "/data/";
    std::filesystem::create_directories(run.modname.name_dir);
    write_text(run.modname.name_dir + "set1.dat", "h\n" + model_line(kHead, {50000}) + "\n");
    modhii::leggirighe(run, "set1");
    EXPECT_EQ(run.modhii.n_mod, 1);
    EXPECT_EQ(cc.out_lines(), (std::vector<std::string>{"reading HII library set1.dat ....", " OK!"}));

    // A second file replaces the first; freeing leaves nothing loaded.
    write_text(run.modname.name_dir + "set2.dat", "h\n" + model_line(kHead, {}) + "\n" + model_line(kHead, {}));
    modhii::leggirighe(run, "set2");
    EXPECT_EQ(run.modhii.n_mod, 2);
    EXPECT_EQ(run.modhii.righe.extent(1), 2);
    modhii::scaricamem(run.modhii);
    EXPECT_FALSE(run.modhii.zgas.allocated());
    EXPECT_FALSE(run.modhii.righe.allocated());

    // Reading never creates: a missing library is an error naming it.
    try {
        modhii::leggirighe(run, "nope");
        FAIL() << "no error";
    } catch (const IoError& e) {
        EXPECT_NE(std::string(e.what()).find("data/nope.dat"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(run.modname.name_dir + "nope.dat"));
}

// ---------------------------------------------------------------------------
// The HII model list.

struct LinRun {
    TempDir tmp;
    CapturedConsole cc;
    Run run{cc.con};
    explicit LinRun(int types) {
        run.modname.name = "m";
        run.mc_righe.n_tau_mc = types;
    }
    void read(const std::string& text) {
        write_text("m.lin", text);
        mc_righe::read_file_lin(run);
    }
};

TEST(HiiModelList, QuotedAndUnquotedNamesAndPairsOverSeveralLines) {
    LinRun c(2);
    c.read("2\n"
           "1.0e4 'lib a', 2e4,setb\n"
           "3e4 'x'\n  4e4\n'y'\n"  // one row spread over three lines
           "5e4 \"last\" 6e4 'q''s'\n");
    const CloudTypes& mc = c.run.mc_righe;
    EXPECT_EQ(mc.nnh_hii, 2);
    ASSERT_EQ(mc.massamod.extent(0), 3);
    ASSERT_EQ(mc.massamod.extent(1), 2);
    const float mass[3][2] = {{1e4f, 2e4f}, {3e4f, 4e4f}, {5e4f, 6e4f}};
    const char* names[3][2] = {{"lib a", "setb"}, {"x", "y"}, {"last", "q's"}};
    for (int i = 1; i <= 3; ++i)
        for (int v = 1; v <= 2; ++v) {
            EXPECT_EQ(mc.massamod(i, v), mass[i - 1][v - 1]) << i << " " << v;
            EXPECT_EQ(mc.nomemodello(i, v), names[i - 1][v - 1]) << i << " " << v;
        }
}

TEST(HiiModelList, ANameOfExactly40CharactersIsKept) {
    LinRun c(1);
    const std::string n40(40, 'a');
    c.read("1\n1e4 " + n40 + "\n1e4 '" + n40 + "'\n");
    EXPECT_EQ(c.run.mc_righe.nomemodello(1, 1), n40);
    EXPECT_EQ(c.run.mc_righe.nomemodello(2, 1), n40);
}

TEST(HiiModelList, WhatTheNameTableCannotHoldStopsNamingTheFile) {
    struct C {
        const char* what;
        int types;
        std::string text;
        std::string message;
    } cases[] = {
        {"eleven sets", 1, "11\n", "the number of library sets must be 1 to 10, nnh_hii="},
        {"no set", 1, "0\n", "the number of library sets must be 1 to 10, nnh_hii="},
        {"ten cloud types", 10, "1\n", "HII regions take 1 to 9 cloud types, n_tau_mc="},
        {"mass 0", 1, "1\n1e4 a\n0 b\n", "the stellar mass of set 1 of row 2 must be >0, massamod="},
        {"negative mass", 1, "2\n1e4 a -1 b\n1e4 a 1e4 b\n", "the stellar mass of set 2 of row 1 must be >0"},
        {"a read ended by a slash", 1, "2\n1e4 a /\n1e4 a 1e4 b\n",
         "the stellar mass of set 2 of row 1 must be >0"},
        {"name of 41 characters", 1, "1\n1e4 " + std::string(41, 'n') + "\n1e4 b\n",
         "the model name of set 1 of row 1 is longer than 40 characters: "},
        {"blank name", 1, "1\n1e4 ' x'\n1e4 b\n", "the model name of set 1 of row 1 is missing"},
    };
    for (const C& cs : cases) {
        LinRun c(cs.types);
        try {
            c.read(cs.text);
            ADD_FAILURE() << cs.what << ": no stop";
        } catch (const Stop& s) {
            ASSERT_EQ(s.lines.size(), 1u) << cs.what;
            EXPECT_EQ(s.lines[0].rfind(" HII model list m.lin: " + cs.message, 0), 0u) << cs.what << ": " << s.lines[0];
        }
    }
}

TEST(HiiModelList, MissingOrShortListIsAnIoErrorNamingIt) {
    LinRun c(1);
    try {
        mc_righe::read_file_lin(c.run);
        FAIL() << "no error";
    } catch (const IoError& e) {
        EXPECT_NE(std::string(e.what()).find("m.lin"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists("m.lin"));
    EXPECT_THROW(c.read("1\n1e4 a\n"), IoError);   // the row of the escaped stars is missing
    EXPECT_THROW(c.read("1\nabc a\n1e4 a\n"), IoError);  // a mass that is not a number
}

// ---------------------------------------------------------------------------
// The selection at the grid metallicities.

TEST(HiiSelection, BracketOnTheGridClosedAtTheTop) {
    struct C {
        float z;
        int diz;
        float zup, zlow;
    } cases[] = {
        {0.0005f, 0, 0.0008f, 0.0008f}, {0.0008f, 0, 0.0008f, 0.0008f}, {0.001f, 1, 0.004f, 0.0008f},
        {0.004f, 1, 0.004f, 0.0008f},   {0.0041f, 1, 0.008f, 0.004f},   {0.015f, 1, 0.015f, 0.008f},
        {0.02f, 1, 0.02f, 0.015f},      {0.0201f, 1, 0.03f, 0.02f},     {0.04f, 1, 0.04f, 0.03f},
        {0.05f, 1, 0.05f, 0.04f},       {0.06f, 0, 0.05f, 0.05f},       {-1.0f, 0, 0.0008f, 0.0008f},
    };
    for (const C& c : cases) {
        const MetallicityBracket b = hii_bracket(c.z);
        EXPECT_EQ(b.diz, c.diz) << c.z;
        EXPECT_EQ(b.zup, c.zup) << c.z;
        EXPECT_EQ(b.zlow, c.zlow) << c.z;
    }
}

// A library of models at the given metallicities; model m has Q(H) = m.
HiiLibrary library_at(const std::vector<float>& z) {
    HiiLibrary lib;
    lib.n_mod = static_cast<int>(z.size());
    for (Vec<float>* v : {&lib.zgas, &lib.qhi, &lib.qx, &lib.qhei, &lib.qo}) v->resize(lib.n_mod);
    lib.gridn.resize(lib.n_mod);
    lib.righe.resize(kHiiLines, lib.n_mod);
    for (int m = 1; m <= lib.n_mod; ++m) {
        lib.zgas(m) = z[static_cast<std::size_t>(m - 1)];
        lib.gridn(m) = 1 + m % 2;
        lib.qhi(m) = static_cast<float>(m);
        lib.qx(m) = 10.0f * static_cast<float>(m);
        lib.qhei(m) = 0.1f * static_cast<float>(m);
        lib.qo(m) = 0.01f * static_cast<float>(m);
        for (int k = 1; k <= kHiiLines; ++k) lib.righe(k, m) = static_cast<float>(100 * m + k);
    }
    return lib;
}

std::vector<float> selected_q(const HiiLibrary& lib) {
    std::vector<float> q;
    for (int r = 1; r <= lib.kk1 + lib.kk2; ++r) q.push_back(lib.qhi_rid(r));
    return q;
}

TEST(HiiSelection, UpperSetFirstInFileOrderWithinARelativeToleranceOf1e5) {
    CapturedConsole cc;
    // 0.0200 matches 0.02, 0.0201 does not; 0.0150001 is within 1e-5 of 0.015.
    HiiLibrary lib = library_at({0.015f, 0.0200f, 0.0201f, 0.0150001f, 0.02f, 0.03f, 0.0149f});
    inpila(lib, cc.con, 0.018f);
    EXPECT_EQ(lib.diz, 1);
    EXPECT_EQ(lib.kk1, 2);
    EXPECT_EQ(lib.kk2, 2);
    EXPECT_EQ(selected_q(lib), (std::vector<float>{2.0f, 5.0f, 1.0f, 4.0f}));
    // Every field of a model travels with it.
    EXPECT_EQ(lib.gridn_rid(1), lib.gridn(2));
    EXPECT_EQ(lib.qx_rid(3), lib.qx(1));
    EXPECT_EQ(lib.qhei_rid(2), lib.qhei(5));
    EXPECT_EQ(lib.qo_rid(4), lib.qo(4));
    EXPECT_EQ(lib.righe_rid(7, 3), 107.0f);
    EXPECT_EQ(lib.righe_rid(114, 2), 614.0f);
    ASSERT_EQ(cc.out_lines().size(), 1u);
    EXPECT_EQ(cc.out_lines()[0].rfind(" Z_max=", 0), 0u);
    EXPECT_NE(cc.out_lines()[0].find("Z_up="), std::string::npos);
    EXPECT_NE(cc.out_lines()[0].find("Z_low="), std::string::npos);

    // One grid metallicity: its models fill both sets; a new selection replaces the old one.
    HiiLibrary one = library_at({0.05f, 0.04f, 0.05f});
    inpila(one, cc.con, 0.07f);
    EXPECT_EQ(one.diz, 0);
    EXPECT_EQ(selected_q(one), (std::vector<float>{1.0f, 3.0f, 1.0f, 3.0f}));
}

TEST(HiiSelection, NoModelAtABracketingMetallicityStops) {
    CapturedConsole cc;
    for (float z : {0.025f, 0.035f, 0.0001f}) {
        HiiLibrary lib = library_at({0.02f, 0.04f});
        try {
            inpila(lib, cc.con, z);
            ADD_FAILURE() << z << ": no stop";
        } catch (const Stop& s) {
            ASSERT_EQ(s.lines.size(), 2u);
            EXPECT_EQ(s.lines[0], " attenzione! Non trovo record relativi ad una");
            EXPECT_EQ(s.lines[1].rfind(" di queste metallicita':", 0), 0u);
        }
    }
}

// ---------------------------------------------------------------------------
// The library of the example data set.

TEST(HiiGeneratedLibrary, SpansTheGridBothSubGridsAndScalesWithThePhotons) {
    TempDir tmp;
    CapturedConsole cc;
    qv::Run run(cc.con);
    run.modname.name_dir = tmp.path().string() + "/";
    qvgen::write_hii_library(tmp.path().string());
    modhii::leggirighe(run, "qv_hii");
    HiiLibrary& lib = run.modhii;
    ASSERT_GT(lib.n_mod, 0);
    for (float z : {0.0008f, 0.004f, 0.008f, 0.015f, 0.02f, 0.03f, 0.04f, 0.05f}) {
        SCOPED_TRACE(z);
        inpila(lib, cc.con, z);
        ASSERT_GT(lib.kk1, 0);
        EXPECT_EQ(lib.kk1, lib.kk2);
        int hard = 0, soft = 0, helium_free = 0;
        float xmin = 1e30f, xmax = -1e30f;
        for (int r = 1; r <= lib.kk1; ++r) {
            const float qh = lib.qhi_rid(r);
            xmin = std::min(xmin, std::log10(qh));
            xmax = std::max(xmax, std::log10(qh));
            const float y = lib.qhei_rid(r) / qh;
            if (lib.gridn_rid(r) == 1) {
                ++hard;
                EXPECT_GE(y, 0.0499f);
            } else {
                ++soft;
                EXPECT_LT(y, 0.07f);
            }
            if (lib.qhei_rid(r) == 0.0f) {
                ++helium_free;
                EXPECT_EQ(lib.qo_rid(r), 0.0f);
                EXPECT_EQ(lib.righe_rid(50, r), 0.0f);  // He I 5876
            }
            // H beta = 4.79e-3 Q(H) (1e40 erg/s), H alpha / H beta of case B.
            const float hb = lib.righe_rid(10, r) * 1e-10f;
            EXPECT_NEAR(hb / qh, 4.79e-3f, 4.79e-3f * 1e-3f);
            EXPECT_NEAR(lib.righe_rid(9, r) / lib.righe_rid(10, r), 2.86f, 5e-3f);
        }
        EXPECT_GT(hard, 0);
        EXPECT_GT(soft, 0);
        EXPECT_GT(helium_free, 0);
        // Generous in Q(H): from 1e47 to 1e53 photons per second.
        EXPECT_LE(xmin + 50.0f, 47.001f);
        EXPECT_GE(xmax + 50.0f, 52.999f);
    }
    // The metal lines follow the metallicity: [NII] 6584 at Z = 0.04 and 0.02.
    inpila(lib, cc.con, 0.04f);
    const float n2 = lib.righe_rid(65, 1) / lib.righe_rid(10, 1);
    const float n2low = lib.righe_rid(65, lib.kk1 + 1) / lib.righe_rid(10, lib.kk1 + 1);
    EXPECT_NEAR(n2 / n2low, 0.04f / 0.03f, 3e-3f);
}

TEST(HiiGeneratedLibrary, TheExampleModelListNamesItForEveryRow) {
    TempDir tmp;
    qvgen::write_hii_model_list(tmp.path().string());
    CapturedConsole cc;
    qv::Run run(cc.con);
    run.modname.name = "example";
    run.mc_righe.n_tau_mc = 2;  // the example's two cloud types
    mc_righe::read_file_lin(run);
    EXPECT_EQ(run.mc_righe.nnh_hii, 1);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(run.mc_righe.nomemodello(i, 1), "qv_hii");
        EXPECT_EQ(run.mc_righe.massamod(i, 1), 1e4f);
    }
}

}  // namespace
}  // namespace qv
