// The tabulated star-formation histories: the sf file with its ele file, and
// the time-series sf file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "core/run.h"
#include "core/sfh_tabulated.h"
#include "core/stop.h"
#include "core/synthesis.h"
#include "synthesis_fixtures.h"

namespace qv::test {
namespace {

using ::testing::HasSubstr;

struct SfRow {
    double age_yr, sfr, z, gas, stars, total, sn;
};

std::string sf_text(const std::vector<SfRow>& rows, const std::string& mass_line = "#     2.5000      SSP mass") {
    std::string out = "# test history\n" + mass_line + "\n% columns\n";
    char buf[256];
    int i = 0;
    for (const auto& r : rows) {
        std::snprintf(buf, sizeof buf, "%4d %.7g %.7g %.7g %.7g %.7g %.7g %.7g\n", ++i, r.age_yr, r.sfr, r.z, r.gas,
                      r.stars, r.total, r.sn);
        out += buf;
    }
    return out;
}

struct SfhFixture : ::testing::Test {
    TempDir dir;
    CapturedConsole cc;
    qv::Run run{cc.con};
    float ssp_mass = 0.0f, fgas = -1.0f, sfrt = -1.0f, zism = -1.0f, snratet = -1.0f;

    SfhFixture() {
        run.modname.name = "m1";
        run.modname.name_sf = "m1";
        run.parametri.tgal = 10.0f;
    }
    void read_sf() {
        std::string name = upto_blank(run.modname.name_sf) + ".sf";
        read_che_evo(run, ssp_mass, fgas, sfrt, zism, snratet, name);
        sf_name_after = name;
    }
    void read_ts() { read_chem_evo_ts(run, ssp_mass, fgas, sfrt, zism, upto_blank(run.modname.name_sf) + ".sf"); }
    std::string sf_name_after;
};

// Three rows at 0, 8 and 12 Gyr (times that 4-byte reals hold exactly) with a
// total mass of 2e11.
std::vector<SfRow> three_rows() {
    return {{0.0, 10.0, 0.001, 2e11, 0.0, 2e11, 0.1},
            {8e9, 4.0, 0.01, 6e10, 1.4e11, 2e11, 0.04},
            {1.2e10, 2.0, 0.03, 2e10, 1.8e11, 2e11, 0.02}};
}

TEST_F(SfhFixture, RowsAreNormalisedByTheLastTotalMass) {
    write_text("m1.sf", sf_text(three_rows()));
    read_sf();
    const SfhTables& g = run.glotauspe;
    EXPECT_FLOAT_EQ(ssp_mass, 2.5f);
    ASSERT_EQ(g.nzsmax, 3);
    EXPECT_FLOAT_EQ(run.remind.primordial_mass, 0.2f);
    EXPECT_FLOAT_EQ(g.agesf(1), 0.0f);
    EXPECT_FLOAT_EQ(g.agesf(2), 8.0f);
    EXPECT_FLOAT_EQ(g.agesf(3), 12.0f);
    EXPECT_FLOAT_EQ(g.gas(2), 0.3f);
    EXPECT_FLOAT_EQ(g.stars(3), 0.9f);
    EXPECT_FLOAT_EQ(g.rsf(2), 4.0f * 1e9f / 2e11f);  // per Gyr per unit primordial mass
    EXPECT_FLOAT_EQ(g.zeta(3), 0.03f);
    EXPECT_FLOAT_EQ(g.snrate(2), 0.04f);  // not normalised
    // tgal 10 halfway between the rows at 8 and 12 Gyr: their means.
    EXPECT_FLOAT_EQ(fgas, 0.2f);
    EXPECT_FLOAT_EQ(sfrt, 3.0f * 1e9f / 2e11f);
    EXPECT_FLOAT_EQ(zism, 0.02f);
    EXPECT_FLOAT_EQ(snratet, 0.03f);
    EXPECT_EQ(sf_name_after, "m1.ele");
    EXPECT_FLOAT_EQ(run.mix.hsug, 0.735f);  // no ele file
}

TEST_F(SfhFixture, TgalOnTheLastTimeTakesTheLastRow) {
    write_text("m1.sf", sf_text(three_rows()));
    run.parametri.tgal = 12.0f;
    read_sf();
    EXPECT_FLOAT_EQ(fgas, 0.1f);
    EXPECT_FLOAT_EQ(sfrt, 2.0f * 1e9f / 2e11f);
    EXPECT_FLOAT_EQ(zism, 0.03f);
    EXPECT_FLOAT_EQ(snratet, 0.02f);
}

TEST_F(SfhFixture, TgalBeyondTheTableStopsNamingTheSfFile) {
    run.modname.name_sf = "s1";
    write_text("s1.sf", sf_text(three_rows()));
    run.parametri.tgal = 12.5f;
    try {
        read_sf();
        FAIL() << "no stop";
    } catch (const Stop& s) {
        ASSERT_EQ(s.lines.size(), 1u);
        EXPECT_EQ(s.lines[0], " ERROR: required tgal exceeds tabulation in s1.sf");
    }
}

TEST_F(SfhFixture, HistoryEndingAtTgalInYearsRuns) {
    // 1.3e10 yr becomes 12.999999 Gyr in 4-byte reals.
    auto rows = three_rows();
    rows[2].age_yr = 1.3e10;
    write_text("m1.sf", sf_text(rows));
    ASSERT_LT(1.3e10f / 1e9f, 13.0f);
    run.parametri.tgal = 13.0f;
    read_sf();
    EXPECT_EQ(run.glotauspe.agesf(3), 13.0f);
    EXPECT_FLOAT_EQ(fgas, 0.1f);
    // The synthesis reaches tgal without leaving the table.
    fill_library(run, {1}, {0.02f}, {{20.0f, 0.001f}}, 2, [](int, int, int) { return 1.0f; });
    run.remind.nz = 20000;
    run_synthesis(run);
    EXPECT_EQ(run.remind.tbirth(run.remind.icall), 13.0f);
}

TEST_F(SfhFixture, BlankLinesAtTheEndAreNoRows) {
    write_text("m1.sf", sf_text(three_rows()) + "\n   \n");
    read_sf();
    EXPECT_EQ(run.glotauspe.nzsmax, 3);
}

TEST_F(SfhFixture, NoGasSwitchesTheMolecularCloudsOff) {
    auto rows = three_rows();
    rows[1].gas = 0.0;
    rows[2].gas = 0.0;
    write_text("m1.sf", sf_text(rows));
    write_text("m1.ele", "# t x H\n0 0 1e11\n8e9 0 0\n1.2e10 0 0\n");
    run.glopalla.mmolfraz = 0.5f;
    read_sf();
    EXPECT_EQ(fgas, 0.0f);
    EXPECT_EQ(run.glopalla.mmolfraz, -1.0f);
    EXPECT_FLOAT_EQ(run.mix.hsug, 0.735f);
}

TEST_F(SfhFixture, EleFileGivesTheHydrogenShareOfTheGas) {
    write_text("m1.sf", sf_text(three_rows()));
    // Hydrogen mass at 8 and 12 Gyr: 4.2e10 and 1.6e10; at 10 Gyr 2.9e10 over a gas of 4e10.
    write_text("m1.ele", "# ele\n# t He H\n0 5e10 1.5e11\n8e9 1e10 4.2e10\n1.2e10 4e9 1.6e10\n\n");
    read_sf();
    EXPECT_NEAR(run.mix.hsug, 2.9e10f / 4e10f, 1e-6f);
}

TEST_F(SfhFixture, EleTimesOnTheirOwnGrid) {
    write_text("m1.sf", sf_text(three_rows()));
    write_text("m1.ele", "% ele\n0 0 1e11\n1e10 0 3e10\n1.4e10 0 1e10\n");
    read_sf();
    EXPECT_NEAR(run.mix.hsug, 3e10f / 4e10f, 1e-6f);  // the ele row at 10 Gyr
}

TEST_F(SfhFixture, SspMassIsAG155Field) {
    // Columns 2-16; a value without a decimal point is scaled by 1e-5.
    write_text("m1.sf", sf_text(three_rows(), "#          5     nothing from column 17 on: 9.9"));
    read_sf();
    EXPECT_FLOAT_EQ(ssp_mass, 5e-5f);
    write_text("m1.sf", sf_text(three_rows(), "!1.25e1"));
    read_sf();
    EXPECT_FLOAT_EQ(ssp_mass, 12.5f);
}

struct BadSf {
    const char* what;
    std::string text;
    const char* expect;
};

void PrintTo(const BadSf& c, std::ostream* os) { *os << c.what << ": error saying \"" << c.expect << "\""; }

class SfhBadFile : public SfhFixture, public ::testing::WithParamInterface<BadSf> {};

TEST_P(SfhBadFile, IsAnIoErrorNamingTheFile) {
    write_text("m1.sf", GetParam().text);
    try {
        read_sf();
        FAIL() << "no error";
    } catch (const IoError& e) {
        EXPECT_THAT(e.what(), HasSubstr(GetParam().expect)) << GetParam().what;
    }
}

std::vector<SfRow> rows_with(int i, double age) {
    auto r = three_rows();
    r[i].age_yr = age;
    return r;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SfhBadFile,
    ::testing::Values(
        BadSf{"line 2 not a comment", "# t\n  1.0\n1 0 1 0 1 0 1 0\n2 1e10 1 0 1 0 1 0\n", "m1.sf:2"},
        BadSf{"line 1 not a comment", "1 0 1 0 1 0 1 0\n#  1.0\n", "m1.sf:1"},
        BadSf{"mass field not a number", sf_text(three_rows(), "#   one"), "m1.sf:2"},
        BadSf{"times not increasing", sf_text(rows_with(2, 8e9)), "m1.sf:6"},
        BadSf{"row with a word", sf_text(three_rows()) + "4 x 1 1 1 1 1 1\n", "m1.sf:7"},
        BadSf{"no total mass", sf_text({{0, 1, 0, 0, 0, 0, 0}, {1e10, 1, 0, 0, 0, 0, 0}}), "total mass"}));

TEST_F(SfhFixture, MissingSfFileIsAnIoError) {
    EXPECT_THROW(read_sf(), IoError);
    EXPECT_FALSE(std::filesystem::exists("m1.sf"));
}

TEST_F(SfhFixture, OneRowIsTooFew) {
    write_text("m1.sf", sf_text({three_rows()[0]}));
    EXPECT_THROW(read_sf(), Stop);
}

// ---- Negative rates ------------------------------------------------------------

// A rate below 0 (rounding noise of a chemical-evolution code) is read as it is
// written; the synthesis forms no stars there.
TEST_F(SfhFixture, NegativeRateInARowIsTakenAndFormsNoStars) {
    auto rows = three_rows();
    rows[1].sfr = -1e-12;
    write_text("m1.sf", sf_text(rows));
    run.parametri.tgal = 12.0f;
    read_sf();
    EXPECT_LT(run.glotauspe.rsf(2), 0.0f);
    EXPECT_FLOAT_EQ(sfrt, 2.0f * 1e9f / 2e11f);
    fill_library(run, {1}, {0.02f}, {{20.0f, 0.001f}}, 2, [](int, int, int) { return 1.0f; });
    run.remind.nz = 20000;
    run_synthesis(run);
    const BirthGrid& r = run.remind;
    for (int i = 1; i <= r.icall; ++i) {
        EXPECT_GE(r.sfrate(i, 1), 0.0f) << r.tbirth(i);
        if (r.tbirth(i) == 8.0f) {
            EXPECT_EQ(r.sfrate(i, 1), 0.0f);
        }
    }
}

// ---- Time series --------------------------------------------------------------

// Rows every 0.1 Gyr from 0 to tmax with a rate r(t) and a gas 2 r(t).
std::string ts_text(double tmax, double (*rate)(double)) {
    std::string out = "# time series\n# t Z SFR gas H He C N O Ne Mg Fe\n";
    char buf[256];
    const int n = static_cast<int>(std::lround(tmax / 0.1));
    for (int i = 0; i <= n; ++i) {
        const double t = 0.1 * i;
        std::snprintf(buf, sizeof buf, "%.3f %.6g %.7g %.7g %.7g 1 1 1 1 1 1 1\n", t == 0.0 ? 0.05 : t, 0.001 * t,
                      rate(t), 2.0 * rate(t), 1.5 * rate(t));
        out += buf;
    }
    return out;
}

double falling(double t) { return 50.0 * std::exp(-t / 3.0); }

TEST_F(SfhFixture, TimeSeriesIsNormalisedToFourSolarMassesPerYearAround13Gyr) {
    write_text("m1.sf", ts_text(14.0, falling));
    run.parametri.tgal = 13.0f;
    read_ts();
    const SfhTables& g = run.glotauspe;
    EXPECT_FLOAT_EQ(ssp_mass, 5.203f);
    EXPECT_FLOAT_EQ(run.remind.primordial_mass, 0.58f);
    ASSERT_EQ(g.nzsmax, 141);
    EXPECT_EQ(g.agesf(1), 0.0f);  // whatever the file says
    int k = 0;
    hunt(g.agesf.data(), g.nzsmax, 13.0f, k);
    float sum = 0.0f;
    for (int i = k - 28; i <= k + 1; ++i) sum += g.rsf(i);
    EXPECT_NEAR(sum / 30.0f, 4e9f / 5.8e11f, 1e-6f);
    // gas and hydrogen are scaled like the rate; the values at tgal follow them.
    EXPECT_FLOAT_EQ(g.gas(50), 2.0f * g.rsf(50));
    EXPECT_FLOAT_EQ(fgas, 2.0f * sfrt);
    EXPECT_NEAR(run.mix.hsug, 0.75f, 1e-5f);
    EXPECT_NEAR(zism, 0.013f, 1e-6f);
    EXPECT_EQ(g.stars(10), 0.0f);
    EXPECT_EQ(g.snrate(10), 0.0f);
    const auto lines = cc.out_lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_THAT(lines[0], HasSubstr("m1.sf"));
    EXPECT_THAT(lines[1], HasSubstr("143"));
    EXPECT_THAT(lines[2], HasSubstr("141"));
}

TEST_F(SfhFixture, TimeSeriesTooShortForItsWindowStops) {
    write_text("m1.sf", ts_text(12.9, falling));  // no row after 13 Gyr
    run.parametri.tgal = 12.0f;
    try {
        read_ts();
        FAIL() << "no stop";
    } catch (const Stop& s) {
        EXPECT_THAT(s.lines.at(0), HasSubstr("needs 28 rows before and 1 row after 13 Gyr"));
    }
}

TEST_F(SfhFixture, TimeSeriesTakesANegativeRate) {
    std::string text = ts_text(14.0, falling);
    // Row 41 (4.0 Gyr): its rate, the third value, becomes rounding noise.
    const std::size_t at = text.find("\n4.000 ");
    ASSERT_NE(at, std::string::npos);
    const std::size_t rate = text.find(' ', text.find(' ', at + 1) + 1) + 1;
    text.replace(rate, text.find(' ', rate) - rate, "-1e-12");
    write_text("m1.sf", text);
    run.parametri.tgal = 13.0f;
    read_ts();
    EXPECT_LT(run.glotauspe.rsf(41), 0.0f);
    EXPECT_GT(sfrt, 0.0f);
}

double none(double) { return 0.0; }

TEST_F(SfhFixture, TimeSeriesWithoutStarsInItsWindowStops) {
    write_text("m1.sf", ts_text(14.0, none));
    run.parametri.tgal = 13.0f;
    try {
        read_ts();
        FAIL() << "no stop";
    } catch (const Stop& s) {
        EXPECT_THAT(s.lines.at(0), HasSubstr("forms no stars"));
    }
}

// ---- The present rate ------------------------------------------------------------

double falling_below_zero_at_14gyr(double t) { return t > 13.95 ? -1e-12 : falling(t); }

// A negative rate at tgal is kept as the present rate, except where mmolfraz
// above 1 would turn it into a negative molecular fraction, in both readers.
// The sf rows end at 12 Gyr, the time series at 14 Gyr, each with a rate below
// 0 in its last row only.
TEST_F(SfhFixture, NegativePresentRateStopsOnlyWhereItSetsTheMolecularFraction) {
    enum Reader { kSf, kTimeSeries };
    struct Case {
        const char* what;
        Reader reader;
        float tgal, mmolfraz;
        bool stops;
    };
    for (const Case c : {Case{"sf, mmolfraz 0.5", kSf, 12.0f, 0.5f, false},
                         Case{"sf, mmolfraz 1", kSf, 12.0f, 1.0f, false}, Case{"sf, mmolfraz 5", kSf, 12.0f, 5.0f, true},
                         Case{"sf, mmolfraz 5, positive rate at tgal", kSf, 9.0f, 5.0f, false},
                         Case{"time series, mmolfraz 0.5", kTimeSeries, 14.0f, 0.5f, false},
                         Case{"time series, mmolfraz 5", kTimeSeries, 14.0f, 5.0f, true},
                         Case{"time series, mmolfraz 5, positive rate at tgal", kTimeSeries, 13.5f, 5.0f, false}}) {
        SCOPED_TRACE(c.what);
        float last = 0.0f;
        if (c.reader == kSf) {
            auto rows = three_rows();
            rows[2].sfr = -1e-12;
            write_text("m1.sf", sf_text(rows));
            last = 12.0f;
        } else {
            write_text("m1.sf", ts_text(14.0, falling_below_zero_at_14gyr));
            last = 14.0f;
        }
        run.parametri.tgal = c.tgal;
        run.glopalla.mmolfraz = c.mmolfraz;
        auto read = [&] { c.reader == kSf ? read_sf() : read_ts(); };
        if (!c.stops) {
            EXPECT_NO_THROW(read());
            EXPECT_EQ(sfrt < 0.0f, c.tgal == last);
            continue;
        }
        try {
            read();
            ADD_FAILURE() << "no stop";
        } catch (const Stop& s) {
            ASSERT_EQ(s.lines.size(), 1u);
            EXPECT_THAT(s.lines[0], HasSubstr("ERROR: the star-formation rate at tgal in m1.sf is"));
            EXPECT_THAT(s.lines[0], HasSubstr("cannot be negative with mmolfraz="));
        }
    }
}

}  // namespace
}  // namespace qv::test
