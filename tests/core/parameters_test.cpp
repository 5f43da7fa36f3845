// Run parameters: the MAIN section, overrides, defaults, the required-key check
// and the derived settings.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "core/parameters.h"
#include "core/run.h"
#include "core/stop.h"
#include "core/par_fixture.h"
#include "support/test_support.h"

namespace qv {
namespace {

class Params : public ::testing::Test {
protected:
    test::TempDir dir;
    test::CapturedConsole cc;
    qv::Run run{cc.con};

    // Writes m1.par (and an empty run log) and reads the parameters with the overrides.
    void read(const std::string& par, const std::vector<std::string>& overrides = {}) {
        test::write_text("m1.par", par);
        test::write_text("m1.out", " USEFUL CHECKING NUMBERS FOLLOW\n");
        run.modname.name = "m1";
        run.modname.name_res = "m1";
        run.modname.name_sf = "m1";
        run.modname.opt.clear();
        for (const auto& o : overrides) {
            const auto eq = o.find('=');
            std::string k = o.substr(0, eq);
            k.resize(10, ' ');
            run.modname.opt.push_back(k + o.substr(eq + 1));
        }
        run.modname.nopt = static_cast<int>(overrides.size());
        parametri::inppar(run);
    }

    std::vector<std::string> stop_lines(const std::string& par,
                                        const std::vector<std::string>& overrides = {}) {
        try {
            read(par, overrides);
        } catch (const Stop& s) {
            return s.lines;
        }
        ADD_FAILURE() << "no stop";
        return {};
    }

    std::string runlog() const { return test::read_text("m1.out"); }
};

TEST_F(Params, FullSectionStoresEveryConversion) {
    read(test::MainKeys().set("flutflag", "1").set("ndr", "25").text());
    EXPECT_EQ(run.glotauspe.istarfo, 0);
    EXPECT_FLOAT_EQ(run.parametri.tgal, 13.0f);
    EXPECT_FLOAT_EQ(run.glopalla.mcloud, 1.0e6f);
    EXPECT_TRUE(run.remind.flutflag);
    EXPECT_EQ(run.remind.ndr, 25);
    EXPECT_FLOAT_EQ(run.globals.tsil, 1200.0f);
    EXPECT_FLOAT_EQ(run.mix.dsug, 0.0089f);
    // Defaults of the optional keys.
    EXPECT_FALSE(run.parametri.wavsspout);
    EXPECT_FLOAT_EQ(run.parametri.z_lvg, -1.0f);
    EXPECT_FLOAT_EQ(run.parametri.v_lvg, 10.0f);
    EXPECT_FLOAT_EQ(run.glopalla.tau_gal_max, 1e30f);
    EXPECT_FLOAT_EQ(run.glopalla.n_tstart, 1.0f);
    EXPECT_FLOAT_EQ(run.parametri.t_bst, -77.0f);
    EXPECT_EQ(run.parametri.annflag, 0);
    // Derived settings.
    EXPECT_EQ(run.glopalla.nlf, 118);
    EXPECT_EQ(run.remind.isca, 0);
    EXPECT_EQ(run.remind.ncom, 1);
    EXPECT_FLOAT_EQ(run.glopalla.vout, 1.0f / 0.004f);
    EXPECT_FLOAT_EQ(run.trucco.lam_trucco, 4e20f);
    EXPECT_FLOAT_EQ(run.trucco.exp_trucco, 2.0f);
    for (const auto& k : run.parametri.par) EXPECT_TRUE(k.found) << k.key;
    EXPECT_NE(cc.out.str().find(" lam_tru not present in par file, I use plain DL Qabs"),
              std::string::npos);
}

TEST_F(Params, MissingRequiredKeyIsNamed) {
    auto lines = stop_lines(test::MainKeys().drop("tsil").text());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], " FATAL ERROR - missing parameter(s) in file m1.par:");
    EXPECT_EQ(lines[1], " tsil      ");
}

TEST_F(Params, KeyGivenTwiceDoesNotHideAMissingOne) {
    auto keys = test::MainKeys().drop("tgra");
    std::string par = keys.text() + "tsil      1300.\n";
    auto lines = stop_lines(par);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], " tgra      ");
}

TEST_F(Params, OverrideReplacesTheFileValueAndIsEchoed) {
    read(test::MainKeys().text(), {"tgal=3"});
    EXPECT_FLOAT_EQ(run.parametri.tgal, 3.0f);
    const std::string echo = cc.out.str();
    EXPECT_NE(echo.find(" Forcing tgal to "), std::string::npos);
    EXPECT_NE(runlog().find(" Forcing tgal to "), std::string::npos);
}

TEST_F(Params, OverrideSatisfiesTheRequiredKeyCheck) {
    read(test::MainKeys().drop("tsil").text(), {"tsil=1100"});
    EXPECT_FLOAT_EQ(run.globals.tsil, 1100.0f);
}

TEST_F(Params, EchoesBeforeABadOverrideStayInTheRunLog) {
    EXPECT_THROW(read(test::MainKeys().text(), {"tgal=3", "tsil=abc"}), IoError);
    EXPECT_NE(runlog().find(" Forcing tgal to "), std::string::npos);
}

TEST_F(Params, RepeatedOverrideTakesItsLastValue) {
    read(test::MainKeys().text(), {"tgal=3", "tgal=4.5"});
    EXPECT_FLOAT_EQ(run.parametri.tgal, 4.5f);
}

struct ConvCase {
    const char* key;
    const char* value;
    float expect;  // logicals: 1 true, 0 false
};

void PrintTo(const ConvCase& c, std::ostream* os) { *os << c.key << " " << c.value << " gives " << c.expect; }

class Conversions : public Params, public ::testing::WithParamInterface<ConvCase> {};

TEST_P(Conversions, ValueConvertsByItsKind) {
    const ConvCase c = GetParam();
    read(test::MainKeys().text(), {std::string(c.key) + "=" + c.value});
    const std::string k = c.key;
    if (k == "flutmc") {
        EXPECT_EQ(run.modname.flutmc ? 1.0f : 0.0f, c.expect);
    }
    if (k == "pahflag") {
        EXPECT_EQ(run.modname.pahflag ? 1.0f : 0.0f, c.expect);
    }
    if (k == "ndr") {
        EXPECT_EQ(static_cast<float>(run.remind.ndr), c.expect);
    }
    if (k == "verbose") {
        EXPECT_EQ(static_cast<float>(run.modname.verbose_level), c.expect);
    }
    if (k == "gamdiff") {
        EXPECT_FLOAT_EQ(run.parametri.gamdiff, c.expect);
    }
}

INSTANTIATE_TEST_SUITE_P(
    MainKeys, Conversions,
    ::testing::Values(ConvCase{"flutmc", "0.5", 1}, ConvCase{"flutmc", "0.49", 0},
                      ConvCase{"flutmc", "-0.5", 1}, ConvCase{"pahflag", "2", 1},
                      ConvCase{"ndr", "2.9", 2}, ConvCase{"verbose", "-2.9", -2},
                      ConvCase{"gamdiff", "1.25e0", 1.25f}, ConvCase{"gamdiff", "3", 3.0f}));

TEST_F(Params, TavKeysRequiredOnlyForIstarfo4) {
    EXPECT_NO_THROW(read(test::MainKeys().set("istarfo", "7").text()));
}

// istarfo 5 exports the tav history: it needs the same keys as 4.
TEST_F(Params, TavHistoriesListTheTavKeys) {
    for (const char* istarfo : {"4", "5"}) {
        SCOPED_TRACE(istarfo);
        auto lines = stop_lines(test::MainKeys().set("istarfo", istarfo).set("igeo", "-1").text());
        std::vector<std::string> want = {" fburst    ", " beta      ", " littleh   ", " tbemin    ",
                                         " dtbe      "};
        ASSERT_EQ(lines.size(), want.size() + 1);
        for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(lines[i + 1], want[i]);
    }
}

// The tav histories take a negative tgal themselves (from the last bulge burst).
TEST_F(Params, TavHistoriesReadNoAgePar) {
    for (const char* istarfo : {"4", "5"}) {
        SCOPED_TRACE(istarfo);
        read(test::MainKeys()
                 .set("istarfo", istarfo)
                 .set("igeo", "-1")
                 .set("tgal", "-0.5")
                 .set("fburst", "0")
                 .set("beta", "2")
                 .set("littleh", "0.7")
                 .set("tbemin", "0")
                 .set("dtbe", "0")
                 .text());
        EXPECT_FLOAT_EQ(run.parametri.tgal, -0.5f);
        EXPECT_FALSE(std::filesystem::exists("age.par"));
    }
}

TEST_F(Params, LamTruWithoutExpTruStops) {
    auto lines = stop_lines(test::MainKeys().set("lam_tru", "100.").text());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], " exp_tru   ");
}

TEST_F(Params, LamTruGivenSetsTheTailAndLogsTheSlope) {
    read(test::MainKeys().set("lam_tru", "100.").set("exp_tru", "1.5").text());
    EXPECT_FLOAT_EQ(run.trucco.lam_trucco, 100.0f);
    EXPECT_FLOAT_EQ(run.trucco.exp_trucco, 1.5f);
    EXPECT_NE(runlog().find(" Slope of dust emission="), std::string::npos);
    EXPECT_NE(runlog().find(" for lambda>"), std::string::npos);
    EXPECT_NE(cc.out.str().find(" lam_tru in par file change DL Qabs slope"), std::string::npos);
}

TEST_F(Params, FmdifbulForcedToZeroUnlessIgeoMinusOne) {
    read(test::MainKeys().set("igeo", "0").set("fmdifbul", "0.3").text());
    EXPECT_FLOAT_EQ(run.parametri.fmdifbul, 0.0f);
}

TEST_F(Params, RelativeLengthsForIstarfo0) {
    read(test::MainKeys()
             .set("rdstar", "3")
             .set("zdstar", "-0.1")
             .set("zddiff", "-2")
             .set("rddiff", "-0.5")
             .set("rcstar", "2")
             .set("rcdiff", "-0.25")
             .text());
    EXPECT_FLOAT_EQ(run.parametri.zdstar, 0.3f);
    EXPECT_FLOAT_EQ(run.parametri.zddiff, 0.6f);
    EXPECT_FLOAT_EQ(run.parametri.rddiff, 1.5f);
    EXPECT_FLOAT_EQ(run.parametri.rcdiff, 0.5f);
}

TEST_F(Params, RelativeLengthsOnlyForIstarfo0) {
    read(test::MainKeys().set("istarfo", "1").set("rcdiff", "-0.25").text());
    EXPECT_FLOAT_EQ(run.parametri.rcdiff, -0.25f);
}

TEST_F(Params, BulgeLawFromTbstAndAbst) {
    read(test::MainKeys().set("igeo", "-1").set("t_bst", "2").set("a_bst", "0.5").text());
    EXPECT_EQ(run.remind.ncom, 2);
    ASSERT_EQ(run.glotauspe.nbst, 4);
    const float t[4] = {0, 2, 4, 14}, b[4] = {1, 1, 0, 0};
    for (int i = 1; i <= 4; ++i) {
        EXPECT_FLOAT_EQ(run.glotauspe.tbst(i), t[i - 1]);
        EXPECT_FLOAT_EQ(run.glotauspe.bst(i), b[i - 1]);
    }
}

TEST_F(Params, BulgeLawWithNonPositiveAbstStops) {
    auto lines = stop_lines(test::MainKeys().set("igeo", "-1").set("t_bst", "2").set("a_bst", "0").text());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("a_bst"), std::string::npos);
}

TEST_F(Params, BulgeLawWithTbstZeroStartsFalling) {
    // The full share ends at once: the law's first two points share the time 0.
    read(test::MainKeys().set("igeo", "-1").set("t_bst", "0").set("a_bst", "0.5").text());
    ASSERT_EQ(run.glotauspe.nbst, 4);
    const float t[4] = {0, 0, 2, 14}, b[4] = {1, 1, 0, 0};
    for (int i = 1; i <= 4; ++i) {
        EXPECT_FLOAT_EQ(run.glotauspe.tbst(i), t[i - 1]);
        EXPECT_FLOAT_EQ(run.glotauspe.bst(i), b[i - 1]);
    }
}

TEST_F(Params, BulgeLawFromBstFile) {
    test::write_text("m1.bst", "3\n0 1\n5 0.5\n20 0.\n");
    read(test::MainKeys().set("igeo", "-1").text());
    ASSERT_EQ(run.glotauspe.nbst, 3);
    EXPECT_FLOAT_EQ(run.glotauspe.tbst(2), 5.0f);
    EXPECT_FLOAT_EQ(run.glotauspe.bst(2), 0.5f);
    EXPECT_EQ(run.parametri.nomfil, "m1.bst");
}

TEST_F(Params, UnusableBstFileStops) {
    for (const char* body : {"1\n0 1\n", "3\n0 1\n5 0.5\n4 0\n", "2\n1 1\n1 0\n"}) {
        test::write_text("m1.bst", body);
        auto lines = stop_lines(test::MainKeys().set("igeo", "-1").text());
        ASSERT_EQ(lines.size(), 1u) << body;
        EXPECT_NE(lines[0].find("m1.bst"), std::string::npos) << body;
    }
}

TEST_F(Params, MissingBstFileIsAnErrorAndIsNotCreated) {
    EXPECT_THROW(read(test::MainKeys().set("igeo", "-1").text()), IoError);
    EXPECT_FALSE(std::filesystem::exists("m1.bst"));
}

TEST_F(Params, AgeParGivesTgalWhenNegative) {
    test::write_text("age.par", "  11.5  extra\n");
    read(test::MainKeys().set("tgal", "-1").text());
    EXPECT_FLOAT_EQ(run.parametri.tgal, 11.5f);
}

TEST_F(Params, MissingOrEmptyAgeParIsAnError) {
    EXPECT_THROW(read(test::MainKeys().set("tgal", "-1").text()), IoError);
    EXPECT_FALSE(std::filesystem::exists("age.par"));
    test::write_text("age.par", "");
    EXPECT_THROW(read(test::MainKeys().set("tgal", "-1").text()), IoError);
}

TEST_F(Params, NegativeRcloudMeansARatio) {
    read(test::MainKeys().set("rcloud", "-50").set("mcloud", "-10").text());
    EXPECT_FLOAT_EQ(run.glopalla.rcloud, 50.0f);
    EXPECT_TRUE(run.glopalla.rmsr0_flag);
}

TEST_F(Params, NegativeRcloudNeedsAnOpticalDepth) {
    auto lines = stop_lines(test::MainKeys().set("rcloud", "-50").text());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], " FATAL ERROR - if rcloud<0 (means -rmax/rmin) mcloud has to be<0 (means -tau)");
}

TEST_F(Params, PahflagAddsTheBandPoints) {
    read(test::MainKeys().set("pahflag", "1").text());
    EXPECT_EQ(run.glopalla.nlf, 238);
}

TEST_F(Params, ExtflagSetsTheExtinctionMode) {
    read(test::MainKeys().set("extflag", "1").text());
    EXPECT_EQ(run.remind.isca, 2);
}

TEST_F(Params, UnknownKeyWarnsWithoutConvertingItsValue) {
    read(test::MainKeys().text() + "colour    blue\n");
    const std::string out = cc.out.str();
    // The par file is named without the blanks of its field.
    EXPECT_NE(out.find(" SEVERE WARNING: unknown key in file m1.par: colour    \n"), std::string::npos) << out;
}

TEST_F(Params, UnknownOverrideOnlyWarns) {
    read(test::MainKeys().text(), {"nameresults=x"});
    // It came from the command line, not from the par file.
    EXPECT_NE(cc.out.str().find(" SEVERE WARNING: unknown key on the command line: nameresult\n"), std::string::npos)
        << cc.out.str();
    EXPECT_EQ(cc.out.str().find("in file"), std::string::npos) << cc.out.str();
}

TEST_F(Params, BlankValueCountsAsNotGiven) {
    auto keys = test::MainKeys().drop("tsil");
    auto lines = stop_lines(keys.text() + "tsil\n");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], " tsil      ");
}

TEST_F(Params, FollowingSectionKeyEndsMainWithoutError) {
    read(test::MainKeys().text() + "SSP\n1 a.ssp\ntsil      99.\n");
    EXPECT_FLOAT_EQ(run.globals.tsil, 1200.0f);
}

TEST_F(Params, CommentAndIndentedLinesAreIgnored) {
    read(test::MainKeys().text() + " tsil      99.\n# tsil    98.\n");
    EXPECT_FLOAT_EQ(run.globals.tsil, 1200.0f);
}

TEST_F(Params, BadNumberEndsTheRunThroughTheIoLayer) {
    EXPECT_THROW(read(test::MainKeys().set("tgal", "abc").text()), IoError);
    EXPECT_THROW(read(test::MainKeys().text(), {"tgal=abc"}), IoError);
}

TEST_F(Params, InvalidGeometryIsRefused) {
    auto lines = stop_lines(test::MainKeys().set("igeo", "6").text());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], " ERROR: invalid IGEO!");
}

TEST_F(Params, CacheModeOutsideItsThreeValuesIsRefused) {
    for (const char* mode : {"3", "-1"}) {
        auto lines = stop_lines(test::MainKeys().set("intrho", mode).text());
        ASSERT_EQ(lines.size(), 1u) << mode;
        EXPECT_EQ(lines[0].rfind(" ERROR: intrho must be 0, 1 or 2, intrho=", 0), 0u) << mode;
    }
}

TEST_F(Params, EmulatorSwitchTakesItsFourValues) {
    for (int v : {0, 1, 2, 3}) {
        read(test::MainKeys().set("annflag", std::to_string(v)).text());
        EXPECT_EQ(run.parametri.annflag, v);
    }
    for (const char* v : {"4", "-1"}) {
        auto lines = stop_lines(test::MainKeys().set("annflag", v).text());
        ASSERT_EQ(lines.size(), 1u) << v;
        EXPECT_EQ(lines[0].rfind(" ERROR: annflag must be 0, 1, 2 or 3, annflag=", 0), 0u) << v;
    }
}

// The cloud emulator's input is a radius in pc, which a ratio of radii cannot give.
TEST_F(Params, CloudEmulatorRefusesCloudsGivenByARatioOfRadii) {
    for (int v : {0, 1, 2, 3}) {
        const std::string text =
            test::MainKeys().set("annflag", std::to_string(v)).set("rcloud", "-50").set("mcloud", "-10").text();
        run.glopalla.rmsr0_flag = false;  // as in a fresh run
        if (v == 1 || v == 3) {
            auto lines = stop_lines(text);
            ASSERT_EQ(lines.size(), 1u) << v;
            EXPECT_EQ(lines[0].rfind(" FATAL ERROR - annflag=", 0), 0u) << lines[0];
            EXPECT_NE(lines[0].find("(cloud emulator) needs rcloud in pc"), std::string::npos) << lines[0];
        } else {
            read(text);
            EXPECT_TRUE(run.glopalla.rmsr0_flag) << v;
        }
        // With a radius in pc every value is taken.
        run.glopalla.rmsr0_flag = false;
        read(test::MainKeys().set("annflag", std::to_string(v)).set("rcloud", "50").text());
        EXPECT_EQ(run.parametri.annflag, v);
    }
}

// The cirrus networks cover the spheroid and the disks: with any other geometry
// the cirrus emulator is refused when the parameters are read, naming both keys.
// The cirrus emulator's geometries are not the parameters' business: the
// branch runs only for a galaxy with diffuse gas, known once the dust is
// prepared, where they are checked.
TEST_F(Params, CirrusEmulatorGeometryIsCheckedWhereItsBranchRuns) {
    for (int annflag : {0, 1, 2, 3})
        for (int igeo : {-1, 0, 1, 2, 3, 4, 5}) {
            const std::string text = test::MainKeys()
                                         .set("annflag", std::to_string(annflag))
                                         .set("igeo", std::to_string(igeo))
                                         .set("t_bst", "2.0")
                                         .set("a_bst", "1.0")
                                         .text();
            EXPECT_NO_THROW(read(text)) << annflag << " " << igeo;
            EXPECT_EQ(run.parametri.annflag, annflag);
            EXPECT_EQ(run.parametri.igeo, igeo);
        }
}

// A NaN is a value, not a null one: it stops naming the key, whether the key is
// required or has a default, in the file or on the command line.
TEST_F(Params, NanIsNotTakenForAnAbsentValue) {
    for (const auto& [par, over] : std::vector<std::pair<std::string, std::string>>{
             {test::MainKeys().set("tgal", "nan").text(), ""},
             {test::MainKeys().set("taugalmax", "NaN").text(), ""},
             {test::MainKeys().text(), "ntstart=nan"}}) {
        try {
            read(par, over.empty() ? std::vector<std::string>{} : std::vector<std::string>{over});
            ADD_FAILURE() << par << over << ": no stop";
        } catch (const IoError& e) {
            EXPECT_NE(std::string(e.what()).find("is not finite"), std::string::npos) << e.what();
        }
    }
}

// MAIN's value is the first item of a free-format read of columns 11-20: a
// comment may begin inside the field, after a blank or a tab. Only a first
// item that goes on past column 20 stops.
TEST_F(Params, CommentBeginningInsideTheValueField) {
    const struct {
        const char* key;
        const char* rest;  // from column 11 on
        float want;
    } cases[] = {
        {"tgal", "13.0 galaxy age, Gyr", 13.0f},
        {"mcloud", "1.0e6 solar masses", 1.0e6f},
        {"tgal", "12.5\tgalaxy age", 12.5f},
        {"rcloud", "16.0 cloud radius, pc", 16.0f},
    };
    for (const auto& c : cases) {
        read(test::MainKeys().set(c.key, c.rest).text());
        const float got = std::string(c.key) == "tgal"     ? run.parametri.tgal
                          : std::string(c.key) == "mcloud" ? run.glopalla.mcloud
                                                           : run.glopalla.rcloud;
        EXPECT_FLOAT_EQ(got, c.want) << c.key << " " << c.rest;
    }
    const auto lines = stop_lines(test::MainKeys().set("mcloud", "1.00000e+06 solar masses").text());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], " FATAL ERROR - the value of key mcloud in file m1.par, line 10, runs past column 20: "
                        "mcloud    1.00000e+06 solar masses");
}

// "7,5" would be read as 7: in the file and on the command line the run stops
// naming the key.
TEST_F(Params, DecimalCommaStops) {
    auto lines = stop_lines(test::MainKeys().set("tgal", "7,5").text());
    EXPECT_EQ(lines, (std::vector<std::string>{
                         " FATAL ERROR - the value of key tgal in file m1.par, line 5, has a decimal comma: tgal      7,5",
                         " numbers take a decimal point, not a comma: write 7.5"}));
    lines = stop_lines(test::MainKeys().text(), {"tgal=7,5"});
    EXPECT_EQ(lines, (std::vector<std::string>{
                         " FATAL ERROR - the value of key tgal on the command line has a decimal comma: tgal=7,5",
                         " numbers take a decimal point, not a comma: write 7.5"}));
    // Words after the number are read as before.
    read(test::MainKeys().set("tgal", "7, 5 Gyr").text(), {"rcloud=16,x"});
    EXPECT_FLOAT_EQ(run.parametri.tgal, 7.0f);
    EXPECT_FLOAT_EQ(run.glopalla.rcloud, 16.0f);
    // A key that is not MAIN's is only warned about.
    read(test::MainKeys().text() + "colour    7,5\n", {"colour=7,5"});
    EXPECT_NE(cc.out.str().find(": colour    "), std::string::npos);
}

TEST_F(Params, SectionsInAnyOrder) {
    read("LVG\nz_lvg     0.\nSSP\n1 x\n" + test::MainKeys().text());
    EXPECT_FLOAT_EQ(run.parametri.tgal, 13.0f);
}

TEST_F(Params, NoMainSection) {
    auto lines = stop_lines("SSP\n1 x\n");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], " Key MAIN not found in file m1.par");
}

TEST_F(Params, ObsoleteSectionsStop) {
    auto lines = stop_lines(test::MainKeys().text() + "BURST\n");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], " ERROR: Please remove obsolete section BURST from m1.par Stop");
}

TEST_F(Params, MissingParFileIsAnErrorAndIsNotCreated) {
    run.modname.name = "nothere";
    EXPECT_THROW(parametri::inppar(run), IoError);
    EXPECT_FALSE(std::filesystem::exists("nothere.par"));
}

TEST_F(Params, NamesfAndNameintrhoOverrides) {
    read(test::MainKeys().text(), {"namesf=histories/s1", "nameintrho=cache.bin"});
    EXPECT_EQ(run.modname.name_sf, "histories/s1");
    EXPECT_EQ(run.modname.name_intrho, "cache.bin");
    EXPECT_NE(cc.out.str().find(" Reading SFR from file histories/s1.sf"), std::string::npos);
    EXPECT_NE(cc.out.str().find(" Name of intrho file is  cache.bin"), std::string::npos);
    EXPECT_NE(runlog().find(" Name of intrho file is cache.bin"), std::string::npos);
}


// The sublimation temperatures the cloud solver needs: a positive tgra and a
// non-zero tsil (a negative tsil is allowed, its absolute value is used). A
// non-finite value never gets as far as the check: the reader refuses it.
TEST_F(Params, SublimationTemperaturesAreChecked) {
    struct Case {
        const char* key;
        const char* value;
        const char* stop_start;  // nullptr: accepted
    };
    const Case cases[] = {
        {"tgra", "0.", " ERROR: tgra (graphite sublimation temperature, K) must be positive"},
        {"tgra", "-1500.", " ERROR: tgra (graphite sublimation temperature, K) must be positive"},
        {"tsil", "0.", " ERROR: tsil (silicate sublimation temperature, K) must not be 0"},
        {"tsil", "-1200.", nullptr},
        {"tgra", "1.e-3", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.value);
        const std::string par = test::MainKeys().set(c.key, c.value).text();
        if (c.stop_start == nullptr) {
            EXPECT_NO_THROW(read(par));
            continue;
        }
        auto lines = stop_lines(par);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind(c.stop_start, 0), 0u) << lines[0];
    }
    EXPECT_THROW(read(test::MainKeys().set("tgra", "inf").text()), IoError);
}

TEST_F(Params, SublimationTemperatureFromTheCommandLineIsChecked) {
    auto lines = stop_lines(test::MainKeys().text(), {"tsil=0"});
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind(" ERROR: tsil (silicate sublimation temperature, K) must not be 0", 0), 0u);
}

}  // namespace
}  // namespace qv
