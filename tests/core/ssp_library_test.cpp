// The SSP library: the SSP section's list, the table files, their decoding,
// scaling and order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "core/run.h"
#include "core/ssp_library.h"
#include "core/stop.h"
#include "synthesis_fixtures.h"

namespace qv::test {
namespace {

using ::testing::HasSubstr;

// Three wavelengths and two age blocks (1 Gyr and 10 Myr).
SspTableText small_table(const std::string& z, int flux_code = 80000) {
    SspTableText t;
    t.z = z;
    t.wave_codes = {69078, 70000, 80000};
    t.blocks = {{9.0, {flux_code, flux_code, flux_code}}, {7.0, {flux_code + 1000, flux_code + 1000, flux_code + 1000}}};
    return t;
}

struct SspFixture : ::testing::Test {
    TempDir dir;
    CapturedConsole cc;
    qv::Run run{cc.con};
    SspFixture() { run.modname.name = "m1"; }

    void par(const std::vector<std::pair<int, std::string>>& list) { write_text("m1.par", ssp_section(list)); }
    void table(const std::string& file, const SspTableText& t) { write_text(file, render(t)); }

    std::vector<std::string> stop_lines(float ssp_mass = 1.0f) {
        try {
            readflussi_asci(run, ssp_mass, true);
        } catch (const Stop& s) {
            return s.lines;
        }
        ADD_FAILURE() << "no stop";
        return {};
    }
};

// ---- The list ----------------------------------------------------------------

TEST_F(SspFixture, ListKeepsTypesOneAndTwoInListOrder) {
    par({{1, "a.ssp"}, {0, "missing.ssp"}, {2, "b.ssp"}});
    readflussi_asci(run, 1.0f, false);
    EXPECT_EQ(run.glotauspe.ntab, 2);
    EXPECT_EQ(run.glotauspe.imf_flag, (std::vector<int>{1, 2}));
    // The switched-off entry is never opened.
    table("a.ssp", small_table("0.02"));
    table("b.ssp", small_table("0.02"));
    readflussi_asci(run, 1.0f, true);
    EXPECT_EQ(run.glotauspe.ntab, 2);
    EXPECT_EQ(run.glotauspe.ntab1, 1);
}

TEST_F(SspFixture, ListEndsAtTheNextSectionOrAComment) {
    write_text("m1.par", "SSP\n\n\n1 a.ssp\n2 b.ssp\nMAIN\n1 c.ssp\n");
    readflussi_asci(run, 1.0f, false);
    EXPECT_EQ(run.glotauspe.ntab, 2);
    write_text("m1.par", "SSP\nx\ny\n1 a.ssp\n% comment\n1 c.ssp\n");
    readflussi_asci(run, 1.0f, false);
    EXPECT_EQ(run.glotauspe.ntab, 1);
    // The two lines after the key line are passed over whatever they hold.
    write_text("m1.par", "SSP\n1 x.ssp\n1 y.ssp\n");
    readflussi_asci(run, 1.0f, false);
    EXPECT_EQ(run.glotauspe.ntab, 0);
}

TEST_F(SspFixture, FiftyRecordsAreReadAndMoreStop) {
    std::vector<std::pair<int, std::string>> list;
    for (int k = 1; k <= 50; ++k) list.push_back({k % 3, "t" + std::to_string(k) + ".ssp"});
    par(list);
    readflussi_asci(run, 1.0f, false);
    EXPECT_EQ(run.glotauspe.ntab, 34);  // the entries of type 0 are passed over
    list.push_back({0, "t51.ssp"});
    par(list);
    try {
        readflussi_asci(run, 1.0f, false);
        FAIL() << "no stop";
    } catch (const Stop& s) {
        EXPECT_THAT(s.lines.at(0), HasSubstr("more than 50 records in the SSP section"));
    }
}

TEST_F(SspFixture, MissingSectionStops) {
    write_text("m1.par", "MAIN\n");
    try {
        readflussi_asci(run, 1.0f, false);
        FAIL() << "no stop";
    } catch (const Stop& s) {
        EXPECT_EQ(s.lines.at(0), " Key SSP not found in file m1.par");
    }
}

TEST_F(SspFixture, NoTypeOneTableStops) {
    par({{2, "b.ssp"}});
    table("b.ssp", small_table("0.02"));
    EXPECT_THAT(stop_lines().at(0), HasSubstr("lists no SSP table of type 1"));
}

TEST_F(SspFixture, MissingTableStopsWithBothLines) {
    par({{1, "nothere.ssp"}});
    const auto lines = stop_lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], " ERROR in opening required SSP file nothere.ssp");
    EXPECT_THAT(lines[1], HasSubstr("May be you are using a wrong-old format of SSP section in .par"));
    EXPECT_EQ(lines[2], " Data folder searched: the working folder");
}

TEST_F(SspFixture, MissingTableSaysWhichDataFolderWasSearchedAndWhy) {
    par({{1, "nothere.ssp"}});
    run.modname.started_as = "/opt/q/quelvo";
    run.modname.name_dir = "/opt/q/";
    EXPECT_EQ(stop_lines().at(2),
              " Data folder searched: /opt/q/, the folder part of the path /opt/q/quelvo by which the program was started");
    run.modname.started_as = "quelvo";
    run.modname.name_dir = "";
    EXPECT_EQ(stop_lines().at(2),
              " Data folder searched: the working folder, since the program was started as quelvo, a path without a folder");
}

TEST_F(SspFixture, TablesAreReadFromTheDataDirectory) {
    std::filesystem::create_directory("lib");
    par({{1, "a.ssp"}});
    table("lib/a.ssp", small_table("0.02"));
    run.modname.name_dir = "lib/";
    readflussi_asci(run, 1.0f, true);
    EXPECT_EQ(run.remind.nlam, 3);
}

TEST_F(SspFixture, LongFileNameOpensTheFileItNames) {
    // Longer than the 80 characters of a name field, and alike in its first 80.
    const std::string stem(90, 'q');
    par({{1, stem + "_a.ssp"}});
    table(stem + "_a.ssp", small_table("0.02"));
    table(stem.substr(0, 80), small_table("0.02", 70000));
    readflussi_asci(run, 1.0f, true);
    ASSERT_EQ(run.glotauspe.ntab, 1);
    EXPECT_EQ(run.glotauspe.ssp_files[0], stem + "_a.ssp");
    EXPECT_FLOAT_EQ(run.glotauspe.fluxes(1, 1, 1),
                    ssp_code::flux(80000) * 4.0f * ssp_code::c_angstrom / run.remind.wave(1) /
                        run.remind.wave(1));
}

// ---- Order --------------------------------------------------------------------

TEST_F(SspFixture, TablesAreSortedByTypeThenMetallicity) {
    par({{2, "b02.ssp"}, {1, "q008.ssp"}, {1, "q02.ssp"}});
    table("b02.ssp", small_table("0.02", 70000));
    table("q008.ssp", small_table("0.008", 71000));
    table("q02.ssp", small_table("0.02", 72000));
    readflussi_asci(run, 1.0f, true);
    const Glotauspe& g = run.glotauspe;
    EXPECT_EQ(g.imf_flag, (std::vector<int>{1, 1, 2}));
    EXPECT_EQ(g.ntab1, 2);
    EXPECT_FLOAT_EQ(g.ztab(1), 0.008f);
    EXPECT_FLOAT_EQ(g.ztab(2), 0.02f);
    EXPECT_FLOAT_EQ(g.ztab(3), 0.02f);
    // The data follow their tables.
    const float w = run.remind.wave(1);
    auto decoded = [w](int code) { return ssp_code::flux(code) * 4.0f * ssp_code::c_angstrom / w / w; };
    EXPECT_FLOAT_EQ(g.fluxes(1, 1, 1), decoded(71000));
    EXPECT_FLOAT_EQ(g.fluxes(1, 1, 2), decoded(72000));
    EXPECT_FLOAT_EQ(g.fluxes(1, 1, 3), decoded(70000));
}

TEST_F(SspFixture, LargeMetallicityDoesNotMoveATableIntoTheOtherType) {
    // Type + Z would put (1, 1.5) after (2, 0.02).
    par({{1, "q15.ssp"}, {2, "b02.ssp"}, {1, "q02.ssp"}});
    table("q15.ssp", small_table("1.5", 71000));
    table("b02.ssp", small_table("0.02", 70000));
    table("q02.ssp", small_table("0.02", 72000));
    readflussi_asci(run, 1.0f, true);
    const Glotauspe& g = run.glotauspe;
    EXPECT_EQ(g.imf_flag, (std::vector<int>{1, 1, 2}));
    EXPECT_EQ(g.ntab1, 2);
    EXPECT_FLOAT_EQ(g.ztab(1), 0.02f);
    EXPECT_FLOAT_EQ(g.ztab(2), 1.5f);
    EXPECT_FLOAT_EQ(g.ztab(3), 0.02f);
}

// ---- Line 4 and the extension ---------------------------------------------------

// An extension of n_add 1, n_a 3, n_b 2, n_c -2, n_d 2, and its block records.
const char* kExtHeader =
    "    1\n"
    "    3    2\n"
    " 1. 2. 3. 4. 5. 6. 7.\n"
    "   -2\n"
    " 0.5 0.6\n"
    " 1 2 3 4\n"
    "    2\n"
    " 1 2 3 4 5 6 7 8\n"
    "    1    2    3    4\n"
    " 9. 8. 7.\n";
const char* kExtBlock =
    " 1. 2. 3. 4.\n"
    " 5. 6. 7. 8.\n"
    "    1    2    3\n"
    "    4    5    6\n";

struct Line4Case {
    const char* counts;
    bool extension;
};

void PrintTo(const Line4Case& c, std::ostream* os) {
    *os << "line 4 \"" << c.counts << "\"" << (c.extension ? ", extension" : ", no extension");
}

class SspLine4 : public SspFixture, public ::testing::WithParamInterface<Line4Case> {};

TEST_P(SspLine4, TableReadsByItsOwnCounts) {
    const Line4Case& c = GetParam();
    SspTableText t = small_table("0.02");
    t.counts = c.counts;
    if (c.extension) {
        t.extension_header = kExtHeader;
        t.block_extension = kExtBlock;
    }
    par({{1, "a.ssp"}});
    table("a.ssp", t);
    readflussi_asci(run, 1.0f, true);
    EXPECT_EQ(run.remind.nlam, 3);
    EXPECT_EQ(run.glotauspe.nmax(1), 2);
    EXPECT_GT(run.glotauspe.fluxes(1, 2, 1), run.glotauspe.fluxes(1, 1, 1));
}

INSTANTIATE_TEST_SUITE_P(
    Forms, SspLine4,
    ::testing::Values(Line4Case{"3", false},                     // nlam alone
                      Line4Case{"                 3", false},    // one value on a long line
                      Line4Case{"     3     5      ", false},    // positive x: no extension
                      Line4Case{"     3     5     9", false},    // positive x, a third value
                      Line4Case{"     3    -1     7", true},     // the extension announced
                      Line4Case{"3 -1 7", true},                 // short line, still an extension
                      Line4Case{"3 -1", true}));                 // without the third count

TEST_F(SspFixture, LibraryWithAndWithoutExtensionReadsEachTableByItsLineFour) {
    SspTableText a = small_table("0.008", 71000);
    a.counts = "     3    -1     7";
    a.extension_header = kExtHeader;
    a.block_extension = kExtBlock;
    SspTableText b = small_table("0.02", 72000);
    par({{1, "a.ssp"}, {1, "b.ssp"}});
    table("a.ssp", a);
    table("b.ssp", b);
    readflussi_asci(run, 1.0f, true);
    const float w = run.remind.wave(2);
    EXPECT_FLOAT_EQ(run.glotauspe.fluxes(2, 2, 1),
                    ssp_code::flux(72000) * 4.0f * ssp_code::c_angstrom / w / w);
    EXPECT_FLOAT_EQ(run.glotauspe.fluxes(2, 2, 2),
                    ssp_code::flux(73000) * 4.0f * ssp_code::c_angstrom / w / w);
}

// ---- Decoding ---------------------------------------------------------------------

TEST(SspCode, FluxThresholdIsOneInTenToTheThirtySix) {
    EXPECT_EQ(ssp_code::flux(17106), 0.0f);  // L = -82.894
    EXPECT_GT(ssp_code::flux(17107), 0.0f);  // L = -82.893
    EXPECT_EQ(ssp_code::flux(0), 0.0f);
    EXPECT_NEAR(ssp_code::flux(17107), 1.0e-36f, 1.0e-37f);
    EXPECT_FLOAT_EQ(ssp_code::flux(100000), 1.0f);
}

TEST(SspCode, WavelengthCode) {
    EXPECT_NEAR(ssp_code::wavelength(69078), 1.0e4f, 1.0f);
    EXPECT_FLOAT_EQ(ssp_code::wavelength(0), 10.0f);
}

TEST_F(SspFixture, FluxesAreScaledAndTurnedIntoLuminosityPerWavelength) {
    SspTableText q = small_table("0.02", 17107);
    q.mass = "2.0";
    q.blocks[1].second = {17106, 0, 99999};
    SspTableText b = small_table("0.02", 80000);
    b.mass = "7.0";  // burst tables are not scaled
    par({{1, "q.ssp"}, {2, "b.ssp"}});
    table("q.ssp", q);
    table("b.ssp", b);
    readflussi_asci(run, 4.0f, true);
    const Glotauspe& g = run.glotauspe;
    const BirthGrid& r = run.remind;
    for (int k = 1; k <= 3; ++k) {
        const float w = r.wave(k);
        EXPECT_FLOAT_EQ(g.fluxes(k, 1, 1), ssp_code::flux(17107) * 0.5f * 4.0f * ssp_code::c_angstrom / w / w);
        EXPECT_FLOAT_EQ(g.fluxes(k, 1, 2), ssp_code::flux(80000) * 1.0f * 4.0f * ssp_code::c_angstrom / w / w);
    }
    EXPECT_EQ(g.fluxes(1, 2, 1), 0.0f);
    EXPECT_EQ(g.fluxes(2, 2, 1), 0.0f);
    EXPECT_GT(g.fluxes(3, 2, 1), 0.0f);
    EXPECT_NEAR(r.wave(1), 1.0e4f, 1.0f);
    EXPECT_FLOAT_EQ(r.wave(3), ssp_code::wavelength(80000));
    // Ages in Gyr, oldest first.
    EXPECT_FLOAT_EQ(g.ages(1, 1), 1.0f);
    EXPECT_FLOAT_EQ(g.ages(2, 1), 0.01f);
    EXPECT_EQ(g.nmax(1), 2);
    EXPECT_THAT(cc.out.str(), HasSubstr("WARNING: you are using SSPs with different IMFs"));
}

TEST_F(SspFixture, SameScaleGivesNoWarning) {
    par({{1, "a.ssp"}, {1, "b.ssp"}});
    table("a.ssp", small_table("0.02"));
    table("b.ssp", small_table("0.008"));
    readflussi_asci(run, 1.0f, true);
    EXPECT_THAT(cc.out.str(), ::testing::Not(HasSubstr("WARNING")));
}

TEST_F(SspFixture, RealWavelengthsWithANegativeCount) {
    SspTableText t = small_table("0.02");
    t.wave_codes.clear();
    t.wave_reals = {"100.", "1.5e3", "20000"};
    par({{1, "a.ssp"}});
    table("a.ssp", t);
    readflussi_asci(run, 1.0f, true);
    EXPECT_EQ(run.remind.nlam, 3);
    EXPECT_FLOAT_EQ(run.remind.wave(1), 1000.0f);
    EXPECT_FLOAT_EQ(run.remind.wave(2), 15000.0f);
    EXPECT_FLOAT_EQ(run.remind.wave(3), 200000.0f);
}

TEST_F(SspFixture, WavelengthCodesTwentyToALine) {
    SspTableText t;
    for (int k = 0; k < 45; ++k) t.wave_codes.push_back(60000 + 1000 * k);
    std::vector<int> f(45, 80000);
    t.blocks = {{9.0, f}, {8.0, f}, {7.0, f}};
    par({{1, "a.ssp"}});
    table("a.ssp", t);
    readflussi_asci(run, 1.0f, true);
    ASSERT_EQ(run.remind.nlam, 45);
    for (int k = 1; k <= 45; ++k) EXPECT_FLOAT_EQ(run.remind.wave(k), ssp_code::wavelength(59000 + 1000 * k));
    EXPECT_EQ(run.glotauspe.nmax(1), 3);
}

TEST_F(SspFixture, TrailingBlankLinesEndTheTable) {
    SspTableText t = small_table("0.02");
    t.tail = "\n   \n\n";
    par({{1, "a.ssp"}});
    table("a.ssp", t);
    readflussi_asci(run, 1.0f, true);
    EXPECT_EQ(run.glotauspe.nmax(1), 2);
}

// ---- Failures --------------------------------------------------------------------

TEST_F(SspFixture, DifferentWavelengthCountsStop) {
    SspTableText b = small_table("0.008");
    b.wave_codes.push_back(90000);
    for (auto& blk : b.blocks) blk.second.push_back(80000);
    par({{1, "a.ssp"}, {1, "b.ssp"}});
    table("a.ssp", small_table("0.02"));
    table("b.ssp", b);
    EXPECT_THAT(stop_lines().at(0), HasSubstr("qverror: required SSP files have different wavelenghts"));
}

TEST_F(SspFixture, DifferentWavelengthGridsOfOneCountStop) {
    SspTableText b = small_table("0.008");
    b.wave_codes[1] = 70500;
    par({{1, "a.ssp"}, {1, "b.ssp"}});
    table("a.ssp", small_table("0.02"));
    table("b.ssp", b);
    const auto lines = stop_lines();
    EXPECT_THAT(lines.at(0), HasSubstr("required SSP files have different wavelenghts"));
    EXPECT_THAT(lines.at(0), HasSubstr("wavelength 2"));
}

TEST_F(SspFixture, TableWithOneAgeBlockStops) {
    SspTableText t = small_table("0.02");
    t.blocks.pop_back();
    par({{1, "a.ssp"}});
    table("a.ssp", t);
    EXPECT_THAT(stop_lines().at(0), HasSubstr("at least 2 are needed"));
}

TEST_F(SspFixture, HundredFiftyAgeBlocksAreReadAndMoreStop) {
    SspTableText t;
    t.wave_codes = {70000};
    for (int j = 0; j < 150; ++j) t.blocks.push_back({10.0 - 0.02 * j, {80000}});
    par({{1, "a.ssp"}});
    table("a.ssp", t);
    readflussi_asci(run, 1.0f, true);
    EXPECT_EQ(run.glotauspe.nmax(1), 150);
    t.blocks.push_back({6.0, {80000}});
    table("a.ssp", t);
    EXPECT_THAT(stop_lines().at(0), HasSubstr("recompile with greater NAGES"));
}

TEST_F(SspFixture, NonPositiveSspMassStops) {
    par({{1, "a.ssp"}});
    table("a.ssp", small_table("0.02"));
    EXPECT_THAT(stop_lines(0.0f).at(0), HasSubstr("SSP mass must be positive"));
}

struct BadTable {
    const char* what;
    std::string text;
    long line;
};

void PrintTo(const BadTable& c, std::ostream* os) { *os << c.what << ": error on line " << c.line; }

class SspBadTable : public SspFixture, public ::testing::WithParamInterface<BadTable> {};

TEST_P(SspBadTable, UnreadableTableIsAnIoErrorNamingFileAndLine) {
    par({{1, "a.ssp"}});
    write_text("a.ssp", GetParam().text);
    try {
        readflussi_asci(run, 1.0f, true);
        FAIL() << "no error";
    } catch (const IoError& e) {
        // Line 0: the end of the file, whose line number is not checked.
        const std::string where = GetParam().line ? "a.ssp:" + std::to_string(GetParam().line) : "a.ssp";
        EXPECT_THAT(e.what(), HasSubstr(where)) << GetParam().what;
    }
}

std::string with_line(const SspTableText& t, int line, const std::string& text) {
    std::string s = render(t), out;
    int n = 0;
    std::size_t p = 0;
    while (p < s.size()) {
        const std::size_t e = s.find('\n', p);
        ++n;
        out += (n == line ? text : s.substr(p, e - p)) + "\n";
        p = e + 1;
    }
    return out;
}

std::string without_last_line(const std::string& s) {
    return s.substr(0, s.rfind('\n', s.size() - 2) + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SspBadTable,
    ::testing::Values(
        BadTable{"letter in a flux code", with_line(small_table("0.02"), 7, "80000 8x000 80000"), 7},
        BadTable{"letter in a wavelength code", with_line(small_table("0.02"), 5, " 69078 7000a 80000"), 5},
        BadTable{"counts not a number", with_line(small_table("0.02"), 4, "three"), 4},
        BadTable{"no metallicity", with_line(small_table("0.02"), 3, "abc"), 3},
        BadTable{"ages not decreasing", with_line(small_table("0.02"), 8, "  2 9.5 0. block"), 8},
        BadTable{"block title without numbers", with_line(small_table("0.02"), 8, "young block"), 8},
        BadTable{"blank line between blocks", with_line(small_table("0.02"), 8, ""), 8},
        BadTable{"fluxes missing at the end", without_last_line(render(small_table("0.02"))), 0}));

}  // namespace
}  // namespace qv::test
