// The sorvanto model's reader: a disc and a bulge with values by hand, the
// cases of a missing file, the metallicity at the last time step, the
// one-component case, its errors, and a history that begins after t = 0
// through the synthesis.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "core/run.h"
#include "core/stop.h"
#include "core/synthesis_fixtures.h"
#include "io/format.h"
#include "sfh_external/external_histories.h"
#include "support/test_support.h"

namespace qv::test {
namespace {

using ::testing::HasSubstr;

double numbers_after(const std::string& line, const std::string& label) {
    if (line.rfind(label, 0) != 0) return -1.0;
    return std::stod(line.substr(label.size()));
}

struct Row {
    double t, sfr, z, gas, stars, total;
};

std::string rows_text(const std::vector<Row>& rows) {
    std::string s;
    int k = 0;
    for (const auto& r : rows) {
        char buf[160];
        std::snprintf(buf, sizeof buf, "%3d %.6g %.6g %.6g %.6g %.6g %.6g\n", ++k, r.t, r.sfr, r.z, r.gas, r.stars,
                      r.total);
        s += buf;
    }
    return s;
}

// Disc: SSP mass 2, scale lengths 3 (stars) and 4 (dust) kpc, heights 9.9 (not used).
std::vector<Row> disc_rows() {
    return {{1e9, 1.0, 0.01, 5e9, 4e9, 1e10}, {2e9, 2.0, 0.02, 4e9, 5e9, 1e10}, {3e9, 3.0, 0.03, 3e9, 6e9, 1e10}};
}
std::string disc_file(const std::vector<Row>& rows = disc_rows()) {
    return "# disc\n#" + fio::write_line("(5G14.5)", {2.0f, 3.0f, 4.0f, 9.9f, 9.9f}) + "\n# columns\n" +
           rows_text(rows);
}
// Bulge: SSP mass 1.5, core radii 0.5 (stars) and 0.6 (dust) kpc.
std::vector<Row> bulge_rows() {
    return {{1e9, 0.5, 0.02, 1e9, 3e9, 5e9}, {2e9, 0.5, 0.03, 1e9, 3e9, 5e9}, {3e9, 1.0, 0.04, 1e9, 4e9, 5e9}};
}
std::string bulge_file(const std::vector<Row>& rows = bulge_rows()) {
    return "# bulge\n#" + fio::write_line("(3G14.5)", {1.5f, 0.5f, 0.6f}) + "\n# columns\n" + rows_text(rows);
}

struct Sorvanto : ::testing::Test {
    TempDir dir;
    CapturedConsole cc;
    qv::Run run{cc.con};
    float ssp_mass = -1.0f, fgas = -1.0f, sfrt = -1.0f, zism = -1.0f;
    Sorvanto() {
        run.modname.name = run.modname.name_res = "s1";
        run.remind.ncom = 2;
        run.glotauspe.istarfo = 7;
        RunParameters& p = run.parametri;
        p.rcstar = 1.0f;
        p.rcdiff = 2.0f;
        p.rdstar = 5.0f;
        p.rddiff = 6.0f;
        p.zdstar = 0.5f;
        p.zddiff = 0.4f;
        run.glopalla.mmolfraz = 0.5f;
        write_text("s1.out", " USEFUL CHECKING NUMBERS FOLLOW\n");
        write_text("QVmodl.disc.sf", disc_file());
        write_text("QVmodl.bulg.sf", bulge_file());
    }
    void read() { read_sorvanto(run, ssp_mass, fgas, sfrt, zism); }
    std::vector<std::string> log() const { return read_lines("s1.out"); }
};

TEST_F(Sorvanto, ReadsDiscAndBulge) {
    read();
    const SfhTables& g = run.glotauspe;
    ASSERT_EQ(g.ntav, 1);
    EXPECT_FLOAT_EQ(g.ztav(1), 0.0f);
    ASSERT_EQ(g.nzsmax, 3);
    // The grid keeps the files' own times: it begins at 1 Gyr.
    EXPECT_FLOAT_EQ(g.agesf(1), 1.0f);
    EXPECT_FLOAT_EQ(g.agesf(3), 3.0f);
    EXPECT_FLOAT_EQ(run.parametri.tgal, 3.0f);
    // Per unit of the last rows' total mass, 1.5e10 Msun, per Gyr.
    EXPECT_FLOAT_EQ(g.rsftav(3, 1, 1), 3e9f / 1.5e10f);
    EXPECT_FLOAT_EQ(g.rsftav(1, 1, 2), 0.5e9f / 1.5e10f);
    EXPECT_FLOAT_EQ(g.zeta_arr(2, 1), 0.02f);
    EXPECT_FLOAT_EQ(g.zeta_arr(2, 2), 0.03f);
    EXPECT_EQ(g.flswei.extent(1), 2);
    // rsf, zeta, gas, stars: the columns of the last file read, as written.
    EXPECT_FLOAT_EQ(g.rsf(3), 1.0f);
    EXPECT_FLOAT_EQ(g.stars(3), 4e9f);
    EXPECT_FLOAT_EQ(ssp_mass, 1.5f);
    EXPECT_NEAR(run.remind.primordial_mass, 0.015f, 1e-8f);
    EXPECT_FLOAT_EQ(fgas, 4e9f / 1.5e10f);
    EXPECT_FLOAT_EQ(sfrt, 4e9f / 1.5e10f);
    EXPECT_NEAR(sfrt * 1000.0f * run.remind.primordial_mass, 4.0f, 1e-5f);  // 3 + 1 Msun/yr
    EXPECT_FLOAT_EQ(zism, (3.0f * 0.03f + 1.0f * 0.04f) / 4.0f);
    const RunParameters& p = run.parametri;
    EXPECT_FLOAT_EQ(p.fmdifbul, 0.25f);
    EXPECT_FLOAT_EQ(run.glopalla.mmolfraz, 0.5f);
    EXPECT_FLOAT_EQ(p.rcstar, 0.5f);
    EXPECT_FLOAT_EQ(p.rcdiff, 0.6f);
    EXPECT_FLOAT_EQ(p.rdstar, 3.0f);
    EXPECT_FLOAT_EQ(p.rddiff, 4.0f);
    EXPECT_FLOAT_EQ(p.zdstar, 0.3f);  // a tenth of the scale length, not the header's
    EXPECT_FLOAT_EQ(p.zddiff, 0.3f);
    const auto l = log();
    ASSERT_EQ(l.size(), 13u);
    EXPECT_EQ(l[1], " tgal=   3.00000000    ");
    EXPECT_EQ(l[2], " Galaxy  mass at tgal=   1.50000006E-02  *10^12 Mo");
    EXPECT_EQ(l[3].rfind(" frac Star tot=  0.666666", 0), 0u) << l[3];
    EXPECT_EQ(l[4], " Star disk=   6.00000000E+09  Star bulge=   4.00000000E+09  Mo");
    EXPECT_EQ(l[5], " Gas disk=   3.00000000E+09  Gas bulge=   1.00000000E+09  Mo");
    EXPECT_EQ(l[6], " f Mdif bulge=  0.250000000    ");
    EXPECT_NEAR(numbers_after(l[8], " SFR tot a Tgal="), 4.0, 1e-5);
    EXPECT_EQ(l[9], " SFR disk e bulge=   3.00000000       1.00000000      Mo/yr");
    EXPECT_EQ(l[10], " rcstar,rcdiff=   0.500000000      0.600000024      Kpc");
    EXPECT_EQ(l[11], " rdstar,rddiff=    3.00000000       4.00000000      Kpc");
    EXPECT_EQ(l[12], " zdstar,zddiff=   0.300000012      0.300000012      Kpc");
}

TEST_F(Sorvanto, BlankLinesAtTheEndAreNoRows) {
    write_text("QVmodl.disc.sf", disc_file() + "\n  \n");
    write_text("QVmodl.bulg.sf", bulge_file() + "\n");
    read();
    EXPECT_EQ(run.glotauspe.nzsmax, 3);
}

TEST_F(Sorvanto, DiscOnlyKeepsTheCoreOfTheRunParameters) {
    std::filesystem::remove("QVmodl.bulg.sf");
    read();
    const auto out = cc.out_lines();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], " manca il file QVmodl.bulg.sf");
    EXPECT_EQ(out[1], " no bulge, only disk");
    const SfhTables& g = run.glotauspe;
    for (int k = 1; k <= 3; ++k) EXPECT_FLOAT_EQ(g.rsftav(k, 1, 2), 0.0f);
    EXPECT_FLOAT_EQ(run.parametri.fmdifbul, 0.0f);
    EXPECT_FLOAT_EQ(run.parametri.rcstar, 1.0f);
    EXPECT_FLOAT_EQ(run.parametri.rcdiff, 2.0f);
    EXPECT_FLOAT_EQ(ssp_mass, 2.0f);
    EXPECT_FLOAT_EQ(run.remind.primordial_mass, 0.01f);
}

TEST_F(Sorvanto, DiscOnlyWithoutCoreTakesATenthOfTheDisc) {
    std::filesystem::remove("QVmodl.bulg.sf");
    run.parametri.rcstar = 0.0f;
    read();
    EXPECT_FLOAT_EQ(run.parametri.rcstar, 0.3f);
    EXPECT_FLOAT_EQ(run.parametri.rcdiff, 0.3f);
}

TEST_F(Sorvanto, BulgeOnlyDecidesTheGrid) {
    std::filesystem::remove("QVmodl.disc.sf");
    write_text("QVmodl.bulg.sf", bulge_file({{0.5e9, 0.5, 0.02, 1e9, 3e9, 5e9}, {3e9, 1.0, 0.04, 1e9, 4e9, 5e9}}));
    run.parametri.rdstar = 0.0f;
    read();
    EXPECT_EQ(cc.out_lines()[1], " no disk, only bulge");
    const SfhTables& g = run.glotauspe;
    ASSERT_EQ(g.nzsmax, 2);
    EXPECT_FLOAT_EQ(g.agesf(1), 0.5f);
    EXPECT_FLOAT_EQ(g.rsftav(2, 1, 1), 0.0f);
    EXPECT_FLOAT_EQ(g.rsftav(2, 1, 2), 1e9f / 5e9f);
    const RunParameters& p = run.parametri;
    EXPECT_FLOAT_EQ(p.rdstar, 5.0f);  // 10 rcstar
    EXPECT_FLOAT_EQ(p.zdstar, 0.5f);
    EXPECT_FLOAT_EQ(p.zddiff, 0.5f);
    EXPECT_FLOAT_EQ(p.rddiff, 5.0f);
}

TEST_F(Sorvanto, NoGasAtTheEndMeansNoMolecularClouds) {
    auto d = disc_rows(), b = bulge_rows();
    d.back().gas = 0.0;
    b.back().gas = 0.0;
    write_text("QVmodl.disc.sf", disc_file(d));
    write_text("QVmodl.bulg.sf", bulge_file(b));
    read();
    EXPECT_FLOAT_EQ(fgas, 0.0f);
    EXPECT_FLOAT_EQ(run.parametri.fmdifbul, 0.0f);
    EXPECT_FLOAT_EQ(run.glopalla.mmolfraz, -1.0f);
}

struct LastRows {
    const char* name;
    double sfr_d, sfr_b, stars_d, stars_b;
    float zism;
};

void PrintTo(const LastRows& c, std::ostream* os) {
    *os << c.name << ": rates " << c.sfr_d << ", " << c.sfr_b << " Msun/yr, stars " << c.stars_d << ", " << c.stars_b
        << " Msun, zism " << c.zism;
}

class SorvantoMetallicity : public Sorvanto, public ::testing::WithParamInterface<LastRows> {};

// The gas metallicity at the last time step: weighted by the rates when the
// galaxy forms stars, else by the stars, else (no stars either) by the gas.
TEST_P(SorvantoMetallicity, FromTheLastRows) {
    auto d = disc_rows(), b = bulge_rows();
    d.back().sfr = GetParam().sfr_d;
    b.back().sfr = GetParam().sfr_b;
    d.back().stars = GetParam().stars_d;
    b.back().stars = GetParam().stars_b;
    write_text("QVmodl.disc.sf", disc_file(d));
    write_text("QVmodl.bulg.sf", bulge_file(b));
    read();
    EXPECT_NEAR(zism, GetParam().zism, 1e-7f);
}

INSTANTIATE_TEST_SUITE_P(
    Sorvanto, SorvantoMetallicity,
    ::testing::Values(LastRows{"RateWeighted", 3.0, 1.0, 6e9, 4e9, 0.0325f},
                      // 1e-5 Msun/yr for 1.5e10 Msun is 6.7e-7 per Gyr: at or below 0.001.
                      LastRows{"StarWeightedForALowRate", 1e-5, 0.0, 6e9, 2e9, (0.03f * 6.0f + 0.04f * 2.0f) / 8.0f},
                      LastRows{"GasWeightedWithoutStars", 0.0, 0.0, 0.0, 0.0, (0.03f * 3.0f + 0.04f * 1.0f) / 4.0f}),
    [](const auto& i) { return std::string(i.param.name); });

// One component: the bulge's rates join the disc's, with a rate-weighted
// metallicity (the disc's where neither forms stars).
TEST_F(Sorvanto, OneComponentSumsBothFiles) {
    run.remind.ncom = 1;
    auto b = bulge_rows();
    auto d = disc_rows();
    d[0].sfr = 0.0;
    b[0].sfr = 0.0;
    write_text("QVmodl.disc.sf", disc_file(d));
    write_text("QVmodl.bulg.sf", bulge_file(b));
    read();
    const SfhTables& g = run.glotauspe;
    EXPECT_EQ(g.rsftav.extent(2), 1);
    EXPECT_FLOAT_EQ(g.rsftav(3, 1, 1), 4e9f / 1.5e10f);
    EXPECT_FLOAT_EQ(g.zeta_arr(3, 1), 0.0325f);
    EXPECT_FLOAT_EQ(g.zeta_arr(1, 1), 0.01f);
    EXPECT_FLOAT_EQ(run.parametri.fmdifbul, 0.0f);
    EXPECT_FLOAT_EQ(sfrt, 4e9f / 1.5e10f);
}

struct SorvantoError {
    const char* name;
    std::function<void(Sorvanto&)> setup;
    const char* message;
};

void PrintTo(const SorvantoError& c, std::ostream* os) { *os << c.name << ": saying \"" << c.message << "\""; }

class SorvantoErrors : public Sorvanto, public ::testing::WithParamInterface<SorvantoError> {};

TEST_P(SorvantoErrors, StopWithAClearMessage) {
    GetParam().setup(*this);
    try {
        read();
        FAIL() << "no stop";
    } catch (const Stop& s) {
        EXPECT_THAT(s.what(), HasSubstr(GetParam().message));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sorvanto, SorvantoErrors,
    ::testing::Values(
        SorvantoError{"BothMissing",
                      [](Sorvanto&) {
                          std::filesystem::remove("QVmodl.disc.sf");
                          std::filesystem::remove("QVmodl.bulg.sf");
                      },
                      "no sorvanto history"},
        SorvantoError{"BulgeWithFewerRows",
                      [](Sorvanto&) {
                          auto b = bulge_rows();
                          b.pop_back();
                          write_text("QVmodl.bulg.sf", bulge_file(b));
                      },
                      "the bulge must be on the disc's times"},
        SorvantoError{"BulgeOnOtherTimes",
                      [](Sorvanto&) {
                          auto b = bulge_rows();
                          b[1].t = 2.5e9;
                          write_text("QVmodl.bulg.sf", bulge_file(b));
                      },
                      "not on the time of QVmodl.disc.sf"},
        SorvantoError{"NoMass",
                      [](Sorvanto&) {
                          auto d = disc_rows();
                          d.back().total = 0.0;
                          write_text("QVmodl.disc.sf", disc_file(d));
                          std::filesystem::remove("QVmodl.bulg.sf");
                      },
                      "no mass"},
        SorvantoError{"RelativeGeometryLeftInPlace",
                      [](Sorvanto& f) {
                          std::filesystem::remove("QVmodl.bulg.sf");
                          f.run.parametri.rcdiff = -2.0f;
                      },
                      "rcdiff="}),
    [](const auto& i) { return std::string(i.param.name); });

TEST_F(Sorvanto, HeaderLinesMustBeComments) {
    write_text("QVmodl.disc.sf", "# disc\n" + fio::write_line("(1X,5G14.5)", {2.0f, 3.0f, 4.0f, 0.0f, 0.0f}) +
                                     "\n" + rows_text(disc_rows()));
    EXPECT_THROW(read(), IoError);
}

// A history that begins at 1 Gyr forms no stars before it, and the synthesis
// steps onto its first time and on to tgal.
TEST_F(Sorvanto, HistoryBeginningAfterZeroThroughTheSynthesis) {
    read();
    fill_library(run, {1}, {0.02f}, {{14.0f, 0.001f}}, 3, [](int, int, int) { return 1.0f; });
    run_synthesis(run);
    const BirthGrid& r = run.remind;
    bool at_first = false;
    for (int i = 1; i <= r.icall; ++i) {
        const float t = r.tbirth(i);
        if (t < 1.0f) {
            EXPECT_FLOAT_EQ(r.sfrate(i, 1), 0.0f) << t;
            EXPECT_FLOAT_EQ(r.sfrate(i, 2), 0.0f) << t;
        }
        at_first = at_first || t == 1.0f;
    }
    EXPECT_TRUE(at_first);
    EXPECT_FLOAT_EQ(r.tbirth(r.icall), 3.0f);
    EXPECT_NEAR(r.sfrate(r.icall, 1) + r.sfrate(r.icall, 2), sfrt, 1e-6f * sfrt);
}

}  // namespace
}  // namespace qv::test
