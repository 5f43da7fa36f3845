// Grain efficiencies from the grain tables, the PAH ultraviolet cross-section
// and the Planck function.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "core/run.h"
#include "core/stop.h"
#include "dust/grain_fixture.h"
#include "dust/grain_optics.h"
#include "support/test_support.h"

namespace qv {
namespace {

using test::kGraAbs;
using test::kGraSca;
using test::kSilAbs;
using test::kSilSca;
using test::Plane;

constexpr int kHeader = 5;
constexpr int kBlock = 3 + 241;

struct Fixture {
    test::CapturedConsole cc;
    Run run{cc.con};
    explicit Fixture(const std::string& dir = test::plane_grain_dir()) { run.modname.name_dir = dir; }
};

// The efficiencies as doubles, for comparisons with the expected values.
double sil_q(qv::Run& run, float lambda, float a, int isca) { return q_sil_81(run, lambda, a, isca); }
double gra_q(qv::Run& run, float lambda, float a, int isca) { return q_gra_81(run, lambda, a, isca); }
double q(qv::Run& run, bool sil, float lambda, float a, int isca) {
    return sil ? sil_q(run, lambda, a, isca) : gra_q(run, lambda, a, isca);
}

// The expected efficiency of the plane tables for isca without the tail.
double plane_q(bool sil, double lambda, double a, int isca) {
    const Plane& pa = sil ? kSilAbs : kGraAbs;
    const Plane& ps = sil ? kSilSca : kGraSca;
    const double qa = pa.q(lambda, a), qs = ps.q(lambda, a);
    if (isca == 1) return qs;
    if (isca == 2) return std::sqrt(qa * (qa + qs));
    return qa;
}

std::vector<std::string> lines_of(const std::string& path) { return test::read_lines(path); }

void write_lines(const std::string& path, const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\n";
    test::write_text(path, s);
}

// Copies the plane tables into dir (the test's own data directory).
void copy_plane_tables(const std::string& dir) {
    for (const char* n : {"SIL_81", "GRA_81", "sigmapah_07.dat"})
        std::filesystem::copy_file(test::plane_grain_dir() + n, dir + "/" + n,
                                   std::filesystem::copy_options::overwrite_existing);
}

// The lines of block j (1-based) of a table: the separator, the radius line, the
// column line and the 241 rows.
std::vector<std::string> block(const std::vector<std::string>& t, int j) {
    const auto b = t.begin() + kHeader + (j - 1) * kBlock;
    return std::vector<std::string>(b, b + kBlock);
}

// ---------------------------------------------------------------------------

struct PlaneCase {
    const char* what;
    float lambda, a;
    double tol;  // relative
};

const PlaneCase kPlaneCases[] = {
    {"first node", 0.01f, 0.001f, 2e-6},
    {"last node", 1.0e4f, 10.0f, 2e-6},
    {"inside a cell", 0.3f, 0.05f, 2e-6},
    {"inside, far infrared", 123.4f, 2.7f, 2e-6},
    {"radius below the table (extrapolated, not clamped)", 0.5f, 2.0e-4f, 3e-5},
    {"radius above the table", 0.5f, 40.0f, 3e-5},
    {"wavelength below the table", 3.0e-3f, 0.1f, 3e-5},
    {"wavelength above the table", 3.0e4f, 0.1f, 3e-5},
};

TEST(GrainEfficiency, PlaneTablesGiveThePlaneEverywhere) {
    Fixture fx;
    for (bool sil : {true, false})
        for (const PlaneCase& c : kPlaneCases)
            for (int isca : {0, 1, 2, 3, 7, -1}) {
                const double want = plane_q(sil, c.lambda, c.a, isca);
                const double got = q(fx.run, sil, c.lambda, c.a, isca);
                EXPECT_NEAR(got / want, 1.0, c.tol)
                    << (sil ? "silicate " : "graphite ") << c.what << " isca " << isca;
            }
}

TEST(GrainEfficiency, TableIsReadOnceAndKept) {
    test::TempDir tmp;
    copy_plane_tables(tmp.path().string());
    Fixture fx(tmp.path().string() + "/");
    const double first = sil_q(fx.run, 2.0f, 0.1f, 0);
    EXPECT_TRUE(fx.run.q_draine.sil.loaded);
    EXPECT_FALSE(fx.run.q_draine.gra.loaded);  // each table on its own first call
    std::filesystem::remove(tmp.file("SIL_81"));
    EXPECT_EQ(sil_q(fx.run, 2.0f, 0.1f, 0), first);
    EXPECT_NEAR(sil_q(fx.run, 20.0f, 1.0f, 1) / plane_q(true, 20.0, 1.0, 1), 1.0, 2e-6);
    EXPECT_EQ(fx.run.q_draine.sil.lrad.size(), 81u);
    EXPECT_EQ(fx.run.q_draine.sil.lwav.size(), 241u);
}

TEST(GrainEfficiency, SearchGuessesNeverChangeAResult) {
    Fixture fx;
    Fixture fresh;
    const float pts[][2] = {{0.02f, 5.0f}, {500.0f, 0.002f}, {0.02f, 0.002f}, {3.0f, 0.3f}};
    for (auto& p : pts) {
        const double a = gra_q(fx.run, p[0], p[1], 2);
        fresh.run.q_draine.gra.jrad = 0;
        fresh.run.q_draine.gra.jwav = 0;
        EXPECT_EQ(a, gra_q(fresh.run, p[0], p[1], 2));
    }
}

// ---------------------------------------------------------------------------
// The long-wavelength tail of Qabs (MAIN keys lam_tru, exp_tru).

TEST(GrainEfficiency, DefaultTailIsOff) {
    Fixture fx;
    for (float lam : {0.1f, 10.0f, 1000.0f, 9000.0f, 3.0e4f})
        EXPECT_EQ(sil_q(fx.run, lam, 0.3f, 0), sil_q(fx.run, lam, 0.3f, 3)) << lam;
}

TEST(GrainEfficiency, TailBeyondLamTrucco) {
    Fixture fx;
    fx.run.trucco.lam_trucco = 100.0f;
    fx.run.trucco.exp_trucco = 2.0f;
    for (bool sil : {true, false}) {
        const double at100 = q(fx.run, sil, 100.0f, 0.2f, 3);
        EXPECT_NEAR(q(fx.run, sil, 1000.0f, 0.2f, 0) / (at100 / 100.0), 1.0, 1e-5);
        // At lam_trucco itself the table value.
        EXPECT_EQ(q(fx.run, sil, 100.0f, 0.2f, 0), at100);
        // The extinction form and plain Qabs still interpolate the table.
        EXPECT_NEAR(q(fx.run, sil, 1000.0f, 0.2f, 2) / plane_q(sil, 1000.0, 0.2, 2), 1.0, 2e-6);
        EXPECT_NEAR(q(fx.run, sil, 1000.0f, 0.2f, 3) / plane_q(sil, 1000.0, 0.2, 0), 1.0, 2e-6);
        EXPECT_NEAR(q(fx.run, sil, 1000.0f, 0.2f, 1) / plane_q(sil, 1000.0, 0.2, 1), 1.0, 2e-6);
    }
    fx.run.trucco.exp_trucco = 1.5f;
    const double at100g = gra_q(fx.run, 100.0f, 3.0f, 3);
    EXPECT_NEAR(gra_q(fx.run, 400.0f, 3.0f, 0) / (at100g * std::pow(0.25, 1.5)), 1.0, 1e-5);
}

// ---------------------------------------------------------------------------
// Both directions of the radius and wavelength lists.

enum class Flip { Wavelengths, Radii, Both };

void write_flipped(const std::string& src, const std::string& dst, Flip how) {
    const auto t = lines_of(src);
    std::vector<std::string> out(t.begin(), t.begin() + kHeader);
    std::vector<std::vector<std::string>> blocks;
    for (int j = 1; j <= 81; ++j) {
        auto b = block(t, j);
        if (how != Flip::Radii) std::reverse(b.begin() + 3, b.end());
        blocks.push_back(b);
    }
    if (how != Flip::Wavelengths) std::reverse(blocks.begin(), blocks.end());
    for (const auto& b : blocks) out.insert(out.end(), b.begin(), b.end());
    write_lines(dst, out);
}

TEST(GrainEfficiency, ListsMayRunInEitherDirection) {
    Fixture ref;
    for (Flip how : {Flip::Wavelengths, Flip::Radii, Flip::Both}) {
        test::TempDir tmp;
        for (const char* n : {"SIL_81", "GRA_81"})
            write_flipped(test::plane_grain_dir() + n, tmp.file(n), how);
        Fixture fx(tmp.path().string() + "/");
        for (bool sil : {true, false})
            for (const PlaneCase& c : kPlaneCases)
                for (int isca : {0, 1, 2}) {
                    const double want = q(ref.run, sil, c.lambda, c.a, isca);
                    EXPECT_NEAR(q(fx.run, sil, c.lambda, c.a, isca) / want, 1.0, 1e-5)
                        << static_cast<int>(how) << " " << c.what;
                }
        if (how != Flip::Radii) {
            EXPECT_GT(fx.run.q_draine.sil.lwav.front(), fx.run.q_draine.sil.lwav.back());
        }
    }
}

TEST(GrainEfficiency, ExampleTablesListWavelengthsDownwards) {
    Fixture fx(test::example_grain_dir());
    sil_q(fx.run, 1.0f, 0.1f, 0);
    const auto& t = fx.run.q_draine.sil;
    EXPECT_NEAR(t.lwav.front(), 4.0f, 1e-5f);
    EXPECT_NEAR(t.lwav.back(), -2.0f, 1e-5f);
    EXPECT_NEAR(t.lrad.front(), -3.0f, 1e-5f);
    EXPECT_NEAR(t.lrad.back(), 1.0f, 1e-5f);
}

// ---------------------------------------------------------------------------
// Reading the table file.

TEST(GrainTableFile, RadiusWithoutDecimalPointIsThousandths) {
    test::TempDir tmp;
    auto t = lines_of(test::plane_grain_dir() + "SIL_81");
    ASSERT_EQ(t[kHeader + 1].substr(0, 10), "1.0000E-03");
    t[kHeader + 1] = "    1       radius as an integer field";
    write_lines(tmp.file("SIL_81"), t);
    Fixture fx(tmp.path().string() + "/");
    EXPECT_NEAR(sil_q(fx.run, 0.7f, 0.0015f, 0) / plane_q(true, 0.7, 0.0015, 0), 1.0, 2e-6);
    EXPECT_FLOAT_EQ(fx.run.q_draine.sil.lrad[0], -3.0f);
}

TEST(GrainTableFile, RowsReadFreeFormat) {
    // A row split over two lines, commas, extra values: one list-directed read each.
    test::TempDir tmp;
    auto t = lines_of(test::plane_grain_dir() + "GRA_81");
    const int r1 = kHeader + 3;              // first row of block 1
    const int r2 = kHeader + kBlock + 3 + 5; // a row of block 2
    std::string a = t[r1];
    const auto cut = a.rfind(' ');
    std::vector<std::string> out(t.begin(), t.begin() + r1);
    out.push_back(a.substr(0, cut));
    out.push_back(a.substr(cut + 1));
    out.insert(out.end(), t.begin() + r1 + 1, t.end());
    std::string& b = out[r2 + 1];
    std::replace(b.begin(), b.end(), ' ', ',');
    b += ",0.77 and a comment";
    write_lines(tmp.file("GRA_81"), out);
    Fixture fx(tmp.path().string() + "/");
    Fixture ref;
    for (const PlaneCase& c : kPlaneCases)
        EXPECT_EQ(gra_q(fx.run, c.lambda, c.a, 2), gra_q(ref.run, c.lambda, c.a, 2)) << c.what;
}

TEST(GrainTableFile, MissingFileIsAnErrorNamingItAndIsNotCreated) {
    test::TempDir tmp;
    Fixture fx(tmp.path().string() + "/");
    try {
        gra_q(fx.run, 1.0f, 0.1f, 0);
        FAIL() << "no error";
    } catch (const IoError& e) {
        EXPECT_NE(std::string(e.what()).find(tmp.file("GRA_81")), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(tmp.file("GRA_81")));
    EXPECT_FALSE(fx.run.q_draine.gra.loaded);
}

struct Damage {
    const char* what;
    // Changes the lines of a table; returns the 1-based line the error must name (0: any).
    long (*apply)(std::vector<std::string>&);
    const char* says;
};

const Damage kDamages[] = {
    {"ends within the last block",
     [](std::vector<std::string>& t) {
         t.resize(t.size() - 10);
         return 0L;
     },
     "ends in block 81"},
    {"only 80 blocks",
     [](std::vector<std::string>& t) {
         t.resize(t.size() - kBlock);
         return 0L;
     },
     "block 81"},
    {"header only",
     [](std::vector<std::string>& t) {
         t.resize(3);
         return 0L;
     },
     "header"},
    {"wavelength list of block 7 differs",
     [](std::vector<std::string>& t) {
         const long i = kHeader + 6 * kBlock + 3 + 100;
         t[i].replace(0, 12, "9.999999E-01");
         return i + 1;
     },
     "differs"},
    {"zero Qabs",
     [](std::vector<std::string>& t) {
         const long i = kHeader + 3 + 17;
         t[i] = "1.000000E-01 0.000000E+00 1.000000E-02";
         return i + 1;
     },
     "Qabs"},
    {"negative Qsca",
     [](std::vector<std::string>& t) {
         const long i = kHeader + 40 * kBlock + 3 + 200;
         t[i] = "1.0 1.0 -1.0E-03";
         return i + 1;
     },
     "Qsca"},
    {"row that is not numbers",
     [](std::vector<std::string>& t) {
         const long i = kHeader + 2 * kBlock + 3 + 9;
         t[i] = "one two three";
         return i + 1;
     },
     ""},
    {"radius field not a number",
     [](std::vector<std::string>& t) {
         const long i = kHeader + 4 * kBlock + 1;
         t[i] = "radius: 0.1";
         return i + 1;
     },
     "radius"},
    {"radius of zero",
     [](std::vector<std::string>& t) {
         const long i = kHeader + 1;
         t[i] = "          ";
         return i + 1;
     },
     "radius"},
    {"two blocks with one radius",
     [](std::vector<std::string>& t) {
         t[kHeader + kBlock + 1] = t[kHeader + 1];
         return 0L;
     },
     "strictly"},
};

TEST(GrainTableFile, UnreadableTablesAreErrorsNamingFileAndLine) {
    for (const Damage& d : kDamages) {
        test::TempDir tmp;
        auto t = lines_of(test::plane_grain_dir() + "SIL_81");
        const long line = d.apply(t);
        write_lines(tmp.file("SIL_81"), t);
        Fixture fx(tmp.path().string() + "/");
        try {
            sil_q(fx.run, 1.0f, 0.1f, 0);
            ADD_FAILURE() << d.what << ": no error";
        } catch (const IoError& e) {
            const std::string msg = e.what();
            EXPECT_EQ(msg.rfind(tmp.file("SIL_81") + ":", 0), 0u) << d.what << ": " << msg;
            if (line > 0) {
                EXPECT_NE(msg.find(":" + std::to_string(line) + ":"), std::string::npos)
                    << d.what << ": " << msg;
            }
            EXPECT_NE(msg.find(d.says), std::string::npos) << d.what << ": " << msg;
        }
        EXPECT_FALSE(fx.run.q_draine.sil.loaded) << d.what;
    }
}

// ---------------------------------------------------------------------------
// The example tables: the approximation's main features.

TEST(GrainEfficiency, ExampleTablesCarryTheBandsAndSaturate) {
    Fixture fx(test::example_grain_dir());
    qv::Run& r = fx.run;
    // Silicate bands at 9.7 and 18 micron above the continuum around them.
    EXPECT_GT(sil_q(r, 9.7f, 0.05f, 3), 5.0 * sil_q(r, 6.5f, 0.05f, 3));
    EXPECT_GT(sil_q(r, 9.7f, 0.05f, 3), 5.0 * sil_q(r, 13.5f, 0.05f, 3));
    EXPECT_GT(sil_q(r, 18.0f, 0.05f, 3), 1.3 * sil_q(r, 14.5f, 0.05f, 3));
    // Graphite bump at 0.2175 micron.
    EXPECT_GT(gra_q(r, 0.2175f, 0.005f, 3), 1.5 * gra_q(r, 0.33f, 0.005f, 3));
    // Small grains: absorption grows as the radius, scattering as its fourth power;
    // every efficiency stays at or below 1.
    EXPECT_NEAR(gra_q(r, 0.5f, 0.002f, 3) / gra_q(r, 0.5f, 0.001f, 3), 2.0, 0.05);
    EXPECT_NEAR(sil_q(r, 50.0f, 0.02f, 1) / sil_q(r, 50.0f, 0.01f, 1), 16.0, 0.2);
    for (bool sil : {true, false})
        for (float lam : {0.01f, 0.55f, 10.0f, 1000.0f}) {
            for (float a : {0.001f, 0.1f, 10.0f}) {
                const double qa = q(r, sil, lam, a, 3), qsc = q(r, sil, lam, a, 1);
                EXPECT_GT(qa, 0.0);
                EXPECT_LE(qa, 1.0);
                EXPECT_GT(qsc, 0.0);
                EXPECT_LE(qsc, 1.0);
            }
            if (lam < 20.0f) {
                EXPECT_GT(q(r, sil, lam, 10.0f, 3), 0.5) << lam;  // large grains absorb
            }
        }
    // Far infrared: Qabs falls as lambda^-2.
    EXPECT_NEAR(sil_q(r, 1000.0f, 0.1f, 3) / sil_q(r, 2000.0f, 0.1f, 3), 4.0, 0.1);
    EXPECT_NEAR(gra_q(r, 1000.0f, 0.1f, 3) / gra_q(r, 2000.0f, 0.1f, 3), 4.0, 0.2);
}

// ---------------------------------------------------------------------------

TEST(SigmaPah, TableValuesEndsAndOutside) {
    struct C {
        float lambda;
        float want;
    } cases[] = {
        {0.04f, 0.0f},          {0.6f, 0.0f},           {0.05f, 0.0f},
        {0.5f, 0.0f},           {0.071429f, 32.6212e-18f}, {0.1f, 10.782e-18f},
        {0.0625f, 21.8602e-18f}, {0.25f, 6.37639e-18f},
    };
    for (const C& c : cases) {
        if (c.want == 0.0f)
            EXPECT_EQ(sigma_pah_c(c.lambda), 0.0f) << c.lambda;
        else
            EXPECT_NEAR(sigma_pah_c(c.lambda) / c.want, 1.0f, 1e-6f) << c.lambda;
    }
    // Linear in lambda between the entries.
    const float l1 = 0.104167f, l2 = 0.1f, lm = 0.5f * (l1 + l2);
    EXPECT_NEAR(sigma_pah_c(lm) / (0.5f * (9.73504e-18f + 10.782e-18f)), 1.0f, 1e-5f);
    // Towards the long end it falls to 0 continuously.
    EXPECT_GT(sigma_pah_c(0.45f), 0.0f);
    EXPECT_LT(sigma_pah_c(0.49f), 0.133528e-18f);
}

TEST(Planck, BothArgumentFormsAgainstTheFormula) {
    const double h = 6.62607015e-27, c = 2.99792458e10, k = 1.380649e-16;
    struct C {
        float lognu, t;
    } cases[] = {{14.0f, 5000.0f}, {12.0f, 20.0f}, {11.0f, 3.0f}, {15.3f, 1.0e4f}, {9.5f, 15.0f},
                 {13.0f, 100.0f}};
    for (const C& cs : cases) {
        const double nu = std::pow(10.0, static_cast<double>(cs.lognu));
        const double want = 2.0 * h * nu * nu * nu / (c * c) / std::expm1(h * nu / (k * static_cast<double>(cs.t)));
        const double from_log = planck(cs.lognu, cs.t);
        const double from_nu = planck(static_cast<float>(nu), cs.t);
        EXPECT_NEAR(from_log / want, 1.0, 3e-4) << cs.lognu << " " << cs.t;
        EXPECT_NEAR(from_nu / from_log, 1.0, 1e-6) << cs.lognu << " " << cs.t;
    }
    EXPECT_EQ(planck(14.0f, 300.0f), planck(1.0e14f, 300.0f));
    EXPECT_EQ(planck(14.0f, 0.0f), 0.0f);
    EXPECT_EQ(planck(1e14f, -5.0f), 0.0f);
    // 4.79928e-11 nu / T = 101 gives 0; at 80 a tiny positive value.
    EXPECT_EQ(planck(1.0e14f, 4.79928e-11f * 1.0e14f / 101.0f), 0.0f);
    EXPECT_GT(planck(1.0e14f, 4.79928e-11f * 1.0e14f / 80.0f), 0.0f);
}

}  // namespace
}  // namespace qv
