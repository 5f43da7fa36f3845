// The tav model's reader: a small galaxy read end to end, the export files of
// istarfo 5, the counting of rows by content, and its errors.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "core/stop.h"
#include "tav_fixture.h"

namespace qv::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST_F(TavFixture, ReadsTheGalaxyWithValuesByHand) {
    read();
    const SfhTables& g = run.glotauspe;
    ASSERT_EQ(g.ntav, 2);
    EXPECT_FLOAT_EQ(g.ztav(1), 0.004f);
    EXPECT_FLOAT_EQ(g.ztav(2), 0.02f);
    // Four rows from the first epoch (lookback 3 Gyr) and the closing row at
    // 1.001 times the last.
    ASSERT_EQ(g.nzsmax, 5);
    ASSERT_EQ(g.nzqui, 5);
    const float t[5] = {0.0f, 1.0f, 2.0f, 3.0f, 3.003f};
    for (int k = 1; k <= 5; ++k) {
        EXPECT_FLOAT_EQ(g.agesf(k), t[k - 1]) << k;
        EXPECT_FLOAT_EQ(g.agesfqui(k), t[k - 1]) << k;
    }
    // Rates per unit primordial mass (M = Mstar 4e10 + gas 1e10) over upsilon 2.
    const float m = 5e10f * 2.0f;
    EXPECT_FLOAT_EQ(g.rsftav(1, 1, 1), 1e9f / m);
    EXPECT_FLOAT_EQ(g.rsftav(1, 2, 1), 3e9f / m);
    EXPECT_FLOAT_EQ(g.rsftav(3, 2, 2), 1e9f / m);
    EXPECT_FLOAT_EQ(g.rsftav(5, 1, 1), 4e9f / m);  // the closing row repeats the last
    EXPECT_FLOAT_EQ(g.rsftavqui(2, 1, 2), 1e9f / m);
    EXPECT_EQ(g.n_bur, 0);
    EXPECT_FALSE(g.current_burst);
    EXPECT_EQ(g.flswei.extent(0), 2);
    EXPECT_EQ(g.flswei.extent(1), 2);
    // tgal of the par file (5) is replaced by the end of the table.
    EXPECT_FLOAT_EQ(run.parametri.tgal, 3.0f);
    EXPECT_FLOAT_EQ(run.remind.primordial_mass, 5e10f / 0.5f / 1e12f);
    EXPECT_FLOAT_EQ(fgas, 0.2f);
    EXPECT_FLOAT_EQ(zism, 0.01f);
    // At tfin the present rate is the last row's: (4e9 + 1e9) / M.
    EXPECT_FLOAT_EQ(sfrt, 5e9f / m);
    EXPECT_NEAR(sfrt * 1000.0f * run.remind.primordial_mass, 5.0f, 1e-5f);  // Msun/yr
    EXPECT_FLOAT_EQ(g.bsut, 0.25f);
    EXPECT_FLOAT_EQ(g.magbsut, 0.3f);
    EXPECT_FLOAT_EQ(g.rdtav, 0.005f / 0.5f * 1000.0f / 1.678f);
    EXPECT_FLOAT_EQ(g.rctav, 0.002f / 0.5f * 1000.0f / 14.63f);

    EXPECT_THAT(log(), ElementsAre(" USEFUL CHECKING NUMBERS FOLLOW", " tgal=   3.00000000    ",
                                   " tfin=   3.00000000    ", " t last burst=   0.00000000    ",
                                   " Galaxy  mass at tfin=  0.100000001      *10^12 Mo",
                                   " Star=  0.800000012      Gas=  0.200000003    ",
                                   " zmet ISM=   9.99999978E-03", " Bulge/tot in massa=  0.250000000    ",
                                   " Bulge/tot in B    =  0.300000012    ", " rc=  0.273410797      Kpc",
                                   " rd=   5.95947552      Kpc"));
    EXPECT_THAT(cc.out_lines(), ElementsAre(" number of lines in IMF file           3",
                                            " upsilon=   2.00000000      in imf.dat", " nzquiet=            4",
                                            "           2"));
}

// Every other file: a line of blanks or a comment at the end is no row, no
// burst and no IMF line.
TEST_F(TavFixture, RowsAndBurstsAreCountedByContent) {
    write_text("tav_disk.7", tav_table(tav_disk_rows()) + "\n   \n# end of table\n");
    write_text("tav_bulge.7", tav_table(tav_bulge_rows()) + "\n");
    write_text("imf.dat", "# IMF\nupsilon  9.999\nupsilon  2.000\n   \n\n");
    write_text("bursts_disk.7", std::string(kTavBurstHead) + "\n# none yet\n");
    write_text("prop.dat", read_text("prop.dat") + "\n");
    read();
    const SfhTables& g = run.glotauspe;
    EXPECT_EQ(g.n_bur, 0);
    ASSERT_EQ(g.nzsmax, 5);
    for (int k = 2; k <= g.nzsmax; ++k) EXPECT_GT(g.agesf(k), g.agesf(k - 1)) << k;
    EXPECT_FLOAT_EQ(g.rsftav(1, 1, 1), 1e9f / 1e11f);  // upsilon 2 from the last line that holds one
    EXPECT_EQ(cc.out_lines()[0], " number of lines in IMF file           3");
}

TEST_F(TavFixture, MissingImfFileWarnsAndTakesOne) {
    std::filesystem::remove("imf.dat");
    read();
    EXPECT_THAT(cc.out_lines(), ::testing::Contains(" WARNING: file imf.dat not present"));
    EXPECT_THAT(cc.out_lines(), ::testing::Contains(" setting corresponding upsilon to   1.00000000    "));
    EXPECT_FLOAT_EQ(run.glotauspe.rsftav(1, 1, 1), 1e9f / 5e10f);
    EXPECT_FALSE(std::filesystem::exists("imf.dat"));
}

// A library of one table type never opens imf_bursts.dat; a mixed one reads it first.
TEST_F(TavFixture, BurstImfFileOnlyForAMixedLibrary) {
    write_text("imf_bursts.dat", "upsilon  4.000\n");
    read();
    EXPECT_THAT(cc.out_lines()[1], HasSubstr("in imf.dat"));
    EXPECT_EQ(cc.out.str().find("imf_bursts.dat"), std::string::npos);

    CapturedConsole cc2;
    qv::Run mixed(cc2.con);
    mixed.modname = run.modname;
    mixed.remind.ncom = 2;
    mixed.glotauspe.istarfo = 4;
    mixed.glotauspe.littleh = 0.5f;
    mixed.glotauspe.ntab = 2;
    mixed.glotauspe.imf_flag = {1, 2};
    mixed.parametri.tgal = 5.0f;
    float a = 0, b = 0, c = 0;
    readtav_disk_bulge(mixed, a, b, c);
    EXPECT_EQ(cc2.out_lines()[1], " upsilon=   4.00000000      in imf_bursts.dat");
}

TEST_F(TavFixture, IstarfoFiveWritesTheExportFilesAndEndsTheRun) {
    run.glotauspe.istarfo = 5;
    EXPECT_THROW(read(), EndOfRun);
    EXPECT_EQ(log().size(), 11u);  // the summary is in the run log
    EXPECT_EQ(read_text("tav7.sft"),
              "# age, SFR disk, SFR bulge\n"
              " 0.000     4.000     1.000    \n"
              " 1.000     4.000     1.000    \n"
              " 2.000     4.000     1.000    \n"
              " 3.000     4.000     1.000    \n"
              " 3.003     4.000     1.000    \n");
    EXPECT_EQ(read_text("tav7.sfd"),
              "#first line zbin, then age, SFR disk\n"
              "           0.400E-02 0.200E-01\n"
              " 0.000     1.000     3.000    \n"
              " 1.000     2.000     2.000    \n"
              " 2.000     3.000     1.000    \n"
              " 3.000     4.000     0.000    \n"
              " 3.003     4.000     0.000    \n");
    EXPECT_EQ(read_text("tav7.sfb"),
              "#first line zbin, then age, SFR bulge\n"
              "           0.400E-02 0.200E-01\n"
              " 0.000     1.000     0.000    \n"
              " 1.000     1.000     0.000    \n"
              " 2.000     0.000     1.000    \n"
              " 3.000     0.000     1.000    \n"
              " 3.003     0.000     1.000    \n");
}

// A galaxy whose table ends before tgal: istarfo 4 closes the grid at tgal and
// says so; istarfo 5 closes it at 1.001 times its last time, silently.
TEST_F(TavFixture, TableEndingBeforeTgal) {
    std::vector<TavRow> disk = tav_disk_rows(), bulge = tav_bulge_rows();
    for (auto* rows : {&disk, &bulge})
        for (auto& r : *rows) r.lookback += 0.5f;
    write_text("tav_disk.7", tav_table(disk));
    write_text("tav_bulge.7", tav_table(bulge));
    // tgal 0 counts as non-negative: the galaxy is seen at tfin = 3.5 Gyr.
    run.parametri.tgal = 0.0f;
    read();
    const SfhTables& g = run.glotauspe;
    EXPECT_FLOAT_EQ(run.parametri.tgal, 3.5f);
    EXPECT_FLOAT_EQ(g.agesf(5), 3.5f);
    EXPECT_FLOAT_EQ(g.agesfqui(5), 3.5f);
    const auto l = log();
    EXPECT_EQ(l[1], " tgal>last timestep!!!");
    EXPECT_EQ(l[2], " last timestep=   3.00000000    ");
    EXPECT_THAT(cc.out_lines(), ::testing::Contains(" tgal>last timestep!!!"));
    // The present rate is the last row before tgal.
    EXPECT_FLOAT_EQ(sfrt, 5e9f / 1e11f);

    TempDir other;
    for (const char* f : {"tav_disk.7", "tav_bulge.7", "imf.dat", "prop.dat", "prop2.dat"})
        std::filesystem::copy_file(dir.path() / f, other.path() / f);
    write_text("tav7.out", " USEFUL CHECKING NUMBERS FOLLOW\n");
    CapturedConsole cc5;
    qv::Run r5(cc5.con);
    r5.modname = run.modname;
    r5.remind.ncom = 2;
    r5.glotauspe.istarfo = 5;
    r5.glotauspe.littleh = 0.5f;
    r5.parametri.tgal = 0.0f;
    float a = 0, b = 0, c = 0;
    EXPECT_THROW(readtav_disk_bulge(r5, a, b, c), EndOfRun);
    EXPECT_FLOAT_EQ(r5.glotauspe.agesf(5), 1.001f * 3.0f);
    EXPECT_EQ(cc5.out.str().find("tgal>last"), std::string::npos);
    EXPECT_EQ(read_lines("tav7.out").size(), 11u);
}

TEST_F(TavFixture, BothMassesZeroTakeTheHistorysBulgeShare) {
    write_text("prop.dat", "#\n#\n  7  0.0 0.0 0.005 0.0 0.0 0.002 1.0e10 0.01 5.0\n");
    read();
    // Formed masses by the trapezoid over 0..3.003 Gyr: disk 4e9 per Gyr
    // throughout, bulge 1e9 per Gyr.
    EXPECT_NEAR(run.glotauspe.bsut, 0.2f, 1e-6f);
    EXPECT_FLOAT_EQ(zism, 0.01f);
}

TEST_F(TavFixture, GasAndMetallicityZeroGiveSolarMetallicity) {
    write_text("prop.dat", "#\n#\n  7  3.0e10 0.0 0.005 1.0e10 0.0 0.002 0.0 0.0 5.0\n");
    read();
    EXPECT_FLOAT_EQ(zism, 0.02f);
    EXPECT_FLOAT_EQ(fgas, 0.0f);
}

struct TavError {
    const char* name;
    std::function<void(TavFixture&)> setup;
    bool io_error;       // IoError (exit 2) rather than a stop
    const char* message;  // part of the message
};

void PrintTo(const TavError& c, std::ostream* os) {
    *os << c.name << ": " << (c.io_error ? "IoError" : "stop") << " saying \"" << c.message << "\"";
}

class TavErrors : public TavFixture, public ::testing::WithParamInterface<TavError> {};

TEST_P(TavErrors, StopWithAClearMessage) {
    GetParam().setup(*this);
    try {
        read();
        FAIL() << "no error";
    } catch (const Stop& s) {
        EXPECT_FALSE(GetParam().io_error) << s.what();
        EXPECT_THAT(s.what(), HasSubstr(GetParam().message));
    } catch (const IoError& e) {
        EXPECT_TRUE(GetParam().io_error) << e.what();
        EXPECT_THAT(e.what(), HasSubstr(GetParam().message));
    }
    // Reading never creates an input.
    if (std::string(GetParam().name).rfind("Missing", 0) == 0) {
        EXPECT_FALSE(std::filesystem::exists(GetParam().message));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tav, TavErrors,
    ::testing::Values(
        TavError{"MissingDiskTable", [](TavFixture&) { std::filesystem::remove("tav_disk.7"); }, true, "tav_disk.7"},
        TavError{"MissingBulgeTable", [](TavFixture&) { std::filesystem::remove("tav_bulge.7"); }, true,
                 "tav_bulge.7"},
        TavError{"MissingPropertyTable", [](TavFixture&) { std::filesystem::remove("prop.dat"); }, true, "prop.dat"},
        TavError{"MissingSecondPropertyTable", [](TavFixture&) { std::filesystem::remove("prop2.dat"); }, true,
                 "prop2.dat"},
        TavError{"GalaxyIndexNotAnInteger", [](TavFixture& f) { f.run.modname.name = "tavx7"; }, false,
                 "galaxy index"},
        TavError{"ModelNameTooShort", [](TavFixture& f) { f.run.modname.name = "tav"; }, false, "galaxy index"},
        TavError{"GalaxyNotInPropertyTable", [](TavFixture& f) { f.run.modname.name = "tav8";
                     std::filesystem::copy_file("tav_disk.7", "tav_disk.8");
                     std::filesystem::copy_file("tav_bulge.7", "tav_bulge.8"); },
                 false, "galaxy index missing in prop.dat"},
        TavError{"BadRowBeforeTheGalaxy", [](TavFixture&) { write_text("prop.dat", "#\n#\n  x 1 2 3 4 5 6 7 8 9\n"); },
                 false, "galaxy index missing in prop.dat"},
        TavError{"GalaxyNotInSecondTable", [](TavFixture&) { write_text("prop2.dat", "#\n#\n  6 0 0.1 1e10 0 0 0 0 0 0\n"); },
                 false, "galaxy index missing in prop2.dat"},
        TavError{"NoBins", [](TavFixture&) { write_text("tav_disk.7", tav_table(tav_disk_rows(), {0, 0})); }, false,
                 "1 to 20 bins"},
        TavError{"TooManyBins", [](TavFixture&) { write_text("tav_disk.7", tav_table(tav_disk_rows(), {1, 21})); },
                 false, "1 to 20 bins"},
        TavError{"ImfFactorZero", [](TavFixture&) { write_text("imf.dat", "upsilon  0.000\n"); }, false,
                 "must be positive"},
        TavError{"ImfFileOfBlanks", [](TavFixture&) { write_text("imf.dat", "\n  \n"); }, false, "holds no line"},
        TavError{"LittleHZero", [](TavFixture& f) { f.run.glotauspe.littleh = 0.0f; }, false, "littleh="},
        TavError{"NoRows", [](TavFixture&) { write_text("tav_disk.7", tav_table({})); }, false, "holds no row"},
        TavError{"LookbackTimesNotDecreasing",
                 [](TavFixture&) {
                     auto rows = tav_disk_rows();
                     std::swap(rows[1], rows[2]);
                     write_text("tav_disk.7", tav_table(rows));
                 },
                 true, "must decrease"},
        TavError{"BulgeOnOtherTimes",
                 [](TavFixture&) {
                     auto rows = tav_bulge_rows();
                     rows[1].lookback = 2.5f;
                     write_text("tav_bulge.7", tav_table(rows));
                 },
                 false, "not on the time of tav_disk.7"},
        TavError{"BulgeShorter",
                 [](TavFixture&) {
                     auto rows = tav_bulge_rows();
                     rows.pop_back();
                     write_text("tav_bulge.7", tav_table(rows));
                 },
                 true, "fewer than the 4"},
        // The last bulge burst starts before the first epoch: tgal would come
        // before the grid begins.
        TavError{"TgalBeforeTheGrid",
                 [](TavFixture& f) {
                     f.run.parametri.tgal = -1.0f;
                     write_text("bursts_bulge.7", std::string(kTavBurstHead) +
                                                      " 7 1  5.0  1e9 0.1 0.2 0.02 0.0 1.0 0.001\n");
                 },
                 false, "at or before the first time"},
        TavError{"BurstWithoutTimeScale",
                 [](TavFixture&) {
                     write_text("bursts_disk.7",
                                std::string(kTavBurstHead) + " 7 1  1.0  1e9 0.0 0.2 0.02 0.0 1.0 0.001\n");
                 },
                 false, "burst on line 4 of bursts_disk.7 has a non-positive e-folding time"},
        TavError{"BurstWithoutDuration",
                 [](TavFixture&) {
                     write_text("bursts_bulge.7",
                                std::string(kTavBurstHead) + " 7 1  1.0  1e9 0.1 -0.2 0.02 0.0 1.0 0.001\n");
                 },
                 false, "non-positive duration"},
        TavError{"BurstWithoutDivisor",
                 [](TavFixture&) {
                     write_text("bursts_bulge.7",
                                std::string(kTavBurstHead) + " 7 1  1.0  1e9 0.1 0.2 0.02 0.0 0.0 0.001\n");
                 },
                 false, "non-positive divisor"},
        TavError{"BurstListWithoutHeader", [](TavFixture&) { write_text("bursts_disk.7", "#\n#\n"); }, true,
                 "3 header lines"}),
    [](const ::testing::TestParamInfo<TavError>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace qv::test
