// The spectra files: their names, header and rows, the radio emission, the
// files on the SSP grid, and the refusals (two directions with one file name, a
// value that is not finite, a temporary name that is taken).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/run.h"
#include "core/stop.h"
#include "dust/cirrus.h"
#include "dust/cirrus_extinction_fixture.h"
#include "dust/cirrus_phases.h"
#include "dust/spectra_files.h"
#include "dust/spectra_files_fixture.h"
#include "io/format.h"
#include "support/test_support.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using test::contains;
using test::field;
using test::index_of;
using test::load_spectra;

// Within the rounding of 4 significant digits.
void expect_g(double got, float want, const std::string& what) {
    EXPECT_NEAR(got, double(want), 6e-4 * std::fabs(double(want)) + 1e-37) << what;
}

std::vector<std::string> files_named(const std::string& part) {
    std::vector<std::string> v;
    for (const auto& e : fs::directory_iterator(fs::current_path())) {
        const std::string n = e.path().filename().string();
        if (n.find(part) != std::string::npos) v.push_back(n);
    }
    std::sort(v.begin(), v.end());
    return v;
}

// A model taken through the extinction, with some cirrus emission.
struct Written : test::ExtinctionModel {
    explicit Written(const std::vector<std::string>& angles = {"0.0", "45.0", "90.0"}, int igeo = 1)
        : ExtinctionModel(angles, igeo) {
        prepare();
        cirrus::extinction(run);
        CirrusRun& cr = run.cirrus;
        for (int i = 1; i <= nlf(); ++i) cr.ETOT(i) = 1e-3f * cr.FORMA(i, 1) + 0.5f * float(i);
        cirrus::energies(run);
    }
    // The radio fields as the radio decision leaves them without radio.
    void no_radio() {
        run.cirrus.RADIO = false;
        run.cirrus.IRADIO = nlf() + 1;
        run.cirrus.NWRADIO = 0;
    }
};

// ---------------------------------------------------------------------------
// Names.

TEST(SpectraFileNames, SuffixIsTheRoundedInclination) {
    const struct {
        float deg;
        const char* suffix;
    } cases[] = {{0.0f, "0"},   {0.49f, "0"},  {0.5f, "1"},   {7.5f, "8"},   {9.4f, "9"},    {9.5f, "10"},
                 {9.6f, "10"},  {10.0f, "10"}, {45.0f, "45"}, {44.5f, "45"}, {89.49f, "89"}, {89.5f, "90"},
                 {90.0f, "90"}, {31.4f, "31"}};
    for (const auto& c : cases) EXPECT_EQ(cirrus::direction_suffix(c.deg), c.suffix) << c.deg;
}

TEST(SpectraFileNames, NameOfTheResultUpToItsFirstBlank) {
    test::ExtinctionModel m({"7.5", "9.6", "45.0"});
    qv::Run& run = m.run;
    run.modname.name_res = "gal run";
    TextFile f = cirrus::spectra_section(run);
    cirrus::allocate_cirrus_record(run);
    cirrus::read_directions(run, f);
    EXPECT_EQ(cirrus::spectra_file_name(run, 0), "gal.spe");
    EXPECT_EQ(cirrus::spectra_file_name(run, 1), "gal.8");
    EXPECT_EQ(cirrus::spectra_file_name(run, 2), "gal.10");
    EXPECT_EQ(cirrus::spectra_file_name(run, 3), "gal.45");
    EXPECT_EQ(cirrus::spectra_file_name(run, 0, true), "gal.ssp.spe");
    EXPECT_EQ(cirrus::spectra_file_name(run, 3, true), "gal.ssp.45");
    EXPECT_TRUE(cirrus::gets_file(run.cirrus, 0));
    EXPECT_TRUE(cirrus::gets_file(run.cirrus, 2));
    run.cirrus.ADDED_DIR(2) = 1.0f;
    EXPECT_FALSE(cirrus::gets_file(run.cirrus, 2));
    EXPECT_TRUE(cirrus::gets_file(run.cirrus, 0));
}

TEST(SpectraFileNames, TwoDirectionsWithOneFileStopWhenTheSectionIsRead) {
    const struct {
        std::vector<std::string> angles;
        const char* file;  // nullptr: accepted
        const char* pair;
    } cases[] = {
        {{"30.0", "30.4"}, "m.30", "directions 1 and 2"},
        {{"0.0", "9.6", "10.0"}, "m.10", "directions 2 and 3"},
        {{"0.4", "45", "0.0"}, "m.0", "directions 1 and 3"},
        {{"89.5", "90"}, "m.90", "directions 1 and 2"},
        {{"9.4", "9.6"}, nullptr, ""},
        {{"0.0", "30.0", "60.0", "90.0"}, nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.angles.front() + " ... " + c.angles.back());
        test::ExtinctionModel m(c.angles);
        auto read = [&] {
            TextFile f = cirrus::spectra_section(m.run);
            cirrus::allocate_cirrus_record(m.run);
            cirrus::read_directions(m.run, f);
        };
        if (!c.file) {
            EXPECT_NO_THROW(read());
            continue;
        }
        const auto s = test::stop_lines(read);
        ASSERT_EQ(s.size(), 2u);
        EXPECT_NE(s[0].find(std::string("ERROR: viewing ") + c.pair + " of the SPECTRA section of file m.par"),
                  std::string::npos)
            << s[0];
        EXPECT_NE(s[1].find(std::string("would both write the spectra file ") + c.file + ":"), std::string::npos)
            << s[1];
    }
    // The whole call stops there, before any output.
    test::CirrusModel m(test::spectra_section({"60", "59.5"}));
    const auto s = test::stop_lines([&] { colddust(m.run, 0.3f, 0.0f); });
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(index_of(m.log(), "Mdust"), -1);
    EXPECT_TRUE(files_named("m.6").empty());
}

// ---------------------------------------------------------------------------
// Header and rows.

TEST(SpectraHeader, FifteenLinesByteExact) {
    CirrusRun cr;
    cr.ndir = cr.ndir_total = 2;
    cr.DIRARR.resize(2);
    cr.DIRARR(1) = 30.0f;
    cr.DIRARR(2) = 7.5f;
    const std::vector<std::string> want = {
        "# Angle average",
        "# (1): Wavelength in Angstrom",
        "# (2): Cirrus emssion",
        "# (3): Starlight extincted by MCs only",
        "# (4): Starlight extincted",
        "# (5): MCs emission",
        "# (6): Total",
        "# (7): Starlight unextincted",
        "# (8): Subcomponent unextincted",
        "# (9): Subcomponent extincted",
        "# Notes:",
        "# 1. luminosities in 1e30 erg/s/A",
        "# 2. subcomponent in cols. 8,9 is bulge for composite models",
        "# otherwise = cols. 7,4 resp.",
        "#    1          2          3          4          5          6          7          8          9",
    };
    EXPECT_EQ(cirrus::spectra_header(cr, 0), want);
    auto h = cirrus::spectra_header(cr, 1);
    ASSERT_EQ(h.size(), 15u);
    EXPECT_EQ(h[0], "# Direction   30.0     degrees");
    EXPECT_EQ(cirrus::spectra_header(cr, 2)[0], "# Direction   7.50     degrees");
    EXPECT_EQ(std::vector<std::string>(h.begin() + 1, h.end()), std::vector<std::string>(want.begin() + 1, want.end()));
    const std::string& cols = want[14];
    EXPECT_EQ(cols.size(), 94u);
    for (int k = 1; k <= 9; ++k) EXPECT_EQ(cols[static_cast<std::size_t>(6 + 11 * (k - 1) - 1)], char('0' + k));
}

TEST(SpectraRows, NineFieldsOfG11_4) {
    std::string row;
    int bad = 0;
    ASSERT_TRUE(cirrus::spectra_row({1.0f, 0.0f, 1234.4f, 12346.0f, 1e-5f, 0.1f, 99999.0f, 3.4e38f, -2.5f}, row, bad));
    EXPECT_EQ(row, std::string("  1.000    ") + "  0.000    " + "  1234.    " + " 0.1235E+05" + " 0.1000E-04" +
                       " 0.1000    " + " 0.1000E+06" + " 0.3400E+39" + " -2.500    ");
    EXPECT_EQ(bad, -1);
    EXPECT_EQ(row, fio::write_line("(9G11.4)", {1.0f, 0.0f, 1234.4f, 12346.0f, 1e-5f, 0.1f, 99999.0f, 3.4e38f, -2.5f}));
    // A negative value in the exponent form would fill its eleven columns and
    // touch the field before it: it keeps a blank with one digit less.
    ASSERT_TRUE(cirrus::spectra_row({1e-5f, -1e-5f, -2e5f, -0.0f, 5.0f, -1e-40f, 1.0f, 1.0f, 1.0f}, row, bad));
    EXPECT_EQ(field(row, 0), " 0.1000E-04");
    EXPECT_EQ(field(row, 1), " -0.100E-04");
    EXPECT_EQ(field(row, 2), " -0.200E+06");
    EXPECT_EQ(fio::edit_g(-1e-5f, 11, 4), "-0.1000E-04");
    EXPECT_EQ(row.size(), 99u);
}

// Whatever the values, a row reads back as nine numbers close to them.
TEST(SpectraRows, EveryRowReadsAsNineWhitespaceSeparatedNumbers) {
    test::TempDir dir;
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> expo(-44.0f, 38.0f), mant(1.0f, 9.999f);
    const float specials[] = {0.0f,
                              -0.0f,
                              std::numeric_limits<float>::max(),
                              -std::numeric_limits<float>::max(),
                              std::numeric_limits<float>::denorm_min(),
                              -std::numeric_limits<float>::denorm_min(),
                              std::numeric_limits<float>::min(),
                              9999.5f,
                              -9999.5f,
                              0.099995f,
                              -0.099995f,
                              0.09999f,
                              -1e30f};
    std::vector<std::array<float, 9>> rows;
    for (int n = 0; n < 3000; ++n) {
        std::array<float, 9> v{};
        for (float& x : v) {
            x = mant(rng) * std::pow(10.0f, std::floor(expo(rng)));
            if (rng() % 3 == 0) x = -x;
            if (rng() % 17 == 0) x = specials[rng() % (sizeof specials / sizeof specials[0])];
        }
        rows.push_back(v);
    }
    std::string text;
    std::string row;
    int bad = 0;
    for (const auto& v : rows) {
        ASSERT_TRUE(cirrus::spectra_row(v, row, bad));
        EXPECT_EQ(row.size(), 99u);
        text += row + "\n";
    }
    test::write_text("rows.txt", text);
    const auto f = load_spectra("rows.txt");
    ASSERT_TRUE(f.ok);
    ASSERT_EQ(f.rows.size(), rows.size());
    for (std::size_t n = 0; n < rows.size(); ++n)
        for (std::size_t k = 0; k < 9; ++k) {
            const double want = double(rows[n][k]);
            EXPECT_NEAR(f.rows[n][k], want, 5e-3 * std::fabs(want) + 1e-44) << f.lines[n];
        }
}

TEST(SpectraRows, ValueThatIsNotFiniteIsRefused) {
    std::string row = "x";
    int bad = 0;
    EXPECT_FALSE(cirrus::spectra_row({1, 2, 3, std::nanf(""), 5, 6, 7, 8, 9}, row, bad));
    EXPECT_EQ(bad, 3);
    EXPECT_TRUE(row.empty());
    EXPECT_FALSE(cirrus::spectra_row({1, 2, 3, 4, 5, 6, 7, 8, -std::numeric_limits<float>::infinity()}, row, bad));
    EXPECT_EQ(bad, 8);
}

// ---------------------------------------------------------------------------
// The files on the dust grid.

TEST(SpectraFiles, OneFilePerDirectionWithTheNineColumns) {
    for (int igeo : {1, -1}) {
        SCOPED_TRACE(igeo);
        Written m({"0.0", "45.0", "90.0"}, igeo);
        qv::Run& run = m.run;
        cirrus::radio_and_spectra(run, 0.0f);
        const CirrusRun& cr = run.cirrus;
        const CloudSetup& gp = run.glopalla;
        const int nlf = m.nlf(), ncom = m.ncom();
        EXPECT_EQ(cr.IRADIO, nlf + 1);
        EXPECT_EQ(files_named("m."), (std::vector<std::string>{"m.0", "m.45", "m.90", "m.out", "m.par", "m.spe"}));
        const char* names[] = {"m.spe", "m.0", "m.45", "m.90"};
        for (int d = 0; d <= 3; ++d) {
            SCOPED_TRACE(names[d]);
            const auto f = load_spectra(names[d]);
            ASSERT_TRUE(f.ok);
            EXPECT_EQ(f.header, cirrus::spectra_header(cr, d));
            ASSERT_EQ(f.rows.size(), std::size_t(nlf));
            for (int i = 1; i <= nlf; ++i) {
                const auto& r = f.rows[std::size_t(i - 1)];
                float smc = 0.0f, se = 0.0f, s0 = 0.0f;
                for (int c = 1; c <= ncom; ++c) {
                    smc += gp.lumstamc(i, c);
                    se += cr.LUMSTA_E(i, d, c);
                    s0 += gp.lumsta(i, c);
                }
                expect_g(r[0], gp.ws(i), "wavelength");
                expect_g(r[1], cr.ETOT(i), "cirrus");
                expect_g(r[2], smc, "after the clouds");
                expect_g(r[3], se, "after the cirrus");
                expect_g(r[4], cr.LUMMC_E(i, d), "clouds");
                expect_g(r[5], cr.ETOT(i) + se + cr.LUMMC_E(i, d), "total");
                expect_g(r[6], s0, "unattenuated");
                expect_g(r[7], gp.lumsta(i, ncom), "second component");
                expect_g(r[8], cr.LUMSTA_E(i, d, ncom), "second component attenuated");
                if (ncom == 1) {
                    const std::string& l = f.lines[std::size_t(i - 1)];
                    EXPECT_EQ(field(l, 7), field(l, 6));
                    EXPECT_EQ(field(l, 8), field(l, 3));
                }
            }
        }
        // No temporary file without pahflag.
        EXPECT_TRUE(files_named("tmp").empty());
    }
}

TEST(SpectraFiles, EmulatorDirectionGetsNoFile) {
    Written m({"0.0", "45.0", "90.0"});
    m.no_radio();
    m.run.cirrus.ADDED_DIR(2) = 1.0f;
    cirrus::scrivispettri(m.run);
    EXPECT_TRUE(fs::exists("m.spe"));
    EXPECT_TRUE(fs::exists("m.0"));
    EXPECT_FALSE(fs::exists("m.45"));
    EXPECT_TRUE(fs::exists("m.90"));
}

TEST(SpectraFiles, ValueThatIsNotFiniteStopsNamingWhereAndWritesNoFile) {
    const float nan = std::nanf(""), inf = std::numeric_limits<float>::infinity();
    const struct {
        const char* what;
        void (*spoil)(qv::Run&, float nan, float inf);
        bool radio;
        std::vector<const char*> message;
    } cases[] = {
        {"cirrus emission", [](qv::Run& r, float n, float) { r.cirrus.ETOT(5) = n; }, false,
         {"ERROR: NaN in spectra file m.spe, data row 5, column 2 (cirrus emission), at wavelength"}},
        {"clouds of one direction", [](qv::Run& r, float, float i) { r.cirrus.LUMMC_E(3, 2) = i; }, false,
         {"ERROR: an infinity in spectra file m.45, data row 3, column 5 (MCs emission)"}},
        {"unattenuated stars", [](qv::Run& r, float n, float) { r.glopalla.lumsta(7, 1) = n; }, false,
         {"in spectra file m.spe, data row 7, column 7 (starlight unextincted)"}},
        {"radio", [](qv::Run& r, float, float i) { r.cirrus.FRADIO(r.cirrus.NWRADIO) = i; }, true,
         {"an infinity in spectra file m.spe, data row 50, column 6 (radio emission)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Written m;
        if (c.radio) {
            m.run.cirrus.RADIO = true;
            cirrus::radioflux(m.run, 1.0f);
        } else {
            m.no_radio();
        }
        c.spoil(m.run, nan, inf);
        const auto s = test::stop_lines([&] { cirrus::scrivispettri(m.run); });
        ASSERT_EQ(s.size(), 2u);
        for (const char* t : c.message) EXPECT_NE(s[0].find(t), std::string::npos) << s[0];
        EXPECT_NE(s[1].find(" is not written"), std::string::npos);
        EXPECT_TRUE(files_named("m.").size() == 2u) << "only m.out and m.par";
    }
}

TEST(SpectraFiles, TemporaryNameOfAnExistingFileIsNeverTaken) {
    for (bool pah : {true, false}) {
        SCOPED_TRACE(pah);
        Written m;
        m.no_radio();
        m.run.modname.pahflag = pah;
        test::write_text("m.45.tmp", "the user's own file\n");
        if (pah) {
            const auto s = test::stop_lines([&] { cirrus::scrivispettri(m.run); });
            ASSERT_EQ(s.size(), 1u);
            EXPECT_NE(s[0].find("ERROR: file m.45.tmp exists"), std::string::npos) << s[0];
            // Nothing is written, the user's file is untouched.
            EXPECT_FALSE(fs::exists("m.spe"));
            EXPECT_FALSE(fs::exists("m.spe.tmp"));
        } else {
            // Without the PAH step the file is written under its final name only.
            cirrus::scrivispettri(m.run);
            EXPECT_TRUE(fs::exists("m.45"));
            EXPECT_EQ(files_named("tmp"), std::vector<std::string>{"m.45.tmp"});
        }
        EXPECT_EQ(test::read_text("m.45.tmp"), "the user's own file\n");
    }
}

// A temporary name that a killed run left is the program's own once the run
// holds its result's lock: such a file (regular, empty or begun as a spectra
// file) is replaced, and said. Anything else there stops the run with the
// file untouched, at the end as before the computation.
TEST(SpectraFiles, StaleTemporaryFileIsReplacedUnderTheResultLock) {
    const struct {
        const char* what;
        bool locked;
        std::string text;
        bool link;
        bool replaced;
    } cases[] = {
        {"empty", true, "", false, true},
        {"begun as a direction file", true, "# Direction   45.0     degrees\n# (1): Wavel", false, true},
        {"cut in its first line", true, "# Dir", false, true},
        {"the user's own file", true, "the user's own file\n", false, false},
        {"a link to a file begun as a spectra file", true, "# Direction   45.0     degrees\n", true, false},
        {"stale, without the lock", false, "# Direction   45.0     degrees\n", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Written m;
        m.no_radio();
        m.run.parametri.annflag = 1;  // the temporary names without the PAH band points
        m.run.modname.result_locked = c.locked;
        if (c.link) {
            test::write_text("target", c.text);
            fs::create_symlink("target", "m.45.tmp");
        } else {
            test::write_text("m.45.tmp", c.text);
        }
        const std::string said = " replacing the stale temporary file m.45.tmp of an earlier run";
        EXPECT_EQ(cirrus::stale_temporary_file(m.run, "m.45.tmp"), c.replaced);
        if (c.replaced) {
            EXPECT_NO_THROW(cirrus::check_temporary_names(m.run));
            cirrus::scrivispettri(m.run);
            const auto out = m.cc.out_lines();
            EXPECT_EQ(std::count(out.begin(), out.end(), said), 1) << m.cc.out.str();
            EXPECT_TRUE(fs::exists("m.45"));
            EXPECT_TRUE(files_named("tmp").empty()) << files_named("tmp").front();
        } else {
            for (const auto& stop : {std::function<void()>([&] { cirrus::check_temporary_names(m.run); }),
                                     std::function<void()>([&] { cirrus::scrivispettri(m.run); })}) {
                const auto s = test::stop_lines(stop);
                ASSERT_EQ(s.size(), 1u);
                EXPECT_NE(s[0].find("ERROR: file m.45.tmp exists"), std::string::npos) << s[0];
            }
            EXPECT_EQ(m.cc.out.str().find("replacing"), std::string::npos);
            EXPECT_FALSE(fs::exists("m.45"));
            EXPECT_TRUE(fs::is_symlink("m.45.tmp") == c.link);
            EXPECT_EQ(test::read_text("m.45.tmp"), c.text);
        }
    }
}

// Before the computation the temporary names that this run's spectra will
// take are looked at: the angle average and each SPECTRA direction, by its
// rounded inclination. A file at any other name is the user's and is let be.
TEST(SpectraFiles, TemporaryNamesLookedAtBeforeTheRun) {
    const std::vector<std::string> angles = {"0.0", "9.4", "9.6", "90.0"};
    for (const char* name : {"m.spe.tmp", "m.0.tmp", "m.9.tmp", "m.10.tmp", "m.90.tmp"}) {
        SCOPED_TRACE(name);
        Written m(angles);
        test::write_text(name, "the user's own file\n");
        const auto s = test::stop_lines([&] { cirrus::check_temporary_names(m.run); });
        ASSERT_EQ(s.size(), 1u);
        EXPECT_NE(s[0].find(std::string("ERROR: file ") + name + " exists"), std::string::npos) << s[0];
    }
    Written m(angles);
    // Whole inclinations that are no direction of this SPECTRA section, and
    // names that are not temporary spectra names at all.
    for (const char* other : {"m.5.tmp", "m.45.tmp", "m.1.tmp", "m.89.tmp", "m.91.tmp", "m.spe", "m.45.tmp1234-5678",
                              "n.45.tmp"})
        test::write_text(other, "x\n");
    EXPECT_NO_THROW(cirrus::check_temporary_names(m.run));
    EXPECT_EQ(test::read_text("m.5.tmp"), "x\n");
}

// The directions are read as the cirrus model reads them; a section it would
// refuse gives none (the run stops there, before any spectra file), so only
// the angle average's name is looked at.
TEST(SpectraFiles, DirectionsOfTheSpectraSectionReadAhead) {
    const struct {
        const char* what;
        std::string section;
        std::vector<float> dirs;
    } cases[] = {
        {"the example's", "SPECTRA\n% comment\n5\n0.0\n45.0\n70.0\n80.0\n90.0\n", {0.0f, 45.0f, 70.0f, 80.0f, 90.0f}},
        {"words after each value", "SPECTRA\nx\n2 directions\n7.5 degrees\n31.4, face-on\n", {7.5f, 31.4f}},
        {"no section", "MAIN\n", {}},
        {"no directions", "SPECTRA\nx\n0\n", {}},
        {"fewer lines than counted", "SPECTRA\nx\n3\n10.0\n20.0\n", {}},
        {"a count far beyond the file", "SPECTRA\nx\n2000000000\n10.0\n", {}},
        {"an inclination beyond 90", "SPECTRA\nx\n2\n10.0\n95.0\n", {}},
        {"an inclination that is not a number", "SPECTRA\nx\n2\n10.0\nedge\n", {}},
        {"a NaN", "SPECTRA\nx\n1\nnan\n", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        test::CapturedConsole cc;
        qv::Run run(cc.con);
        run.modname.name = "m";
        run.modname.name_res = "m";
        test::write_text("m.par", c.section);
        EXPECT_EQ(cirrus::spectra_section_directions(run), c.dirs);
        // The angle average's name is looked at whatever the section holds;
        // 10 degrees is a direction of none of these sections.
        test::write_text("m.spe.tmp", "the user's own file\n");
        test::write_text("m.10.tmp", "the user's own file\n");
        EXPECT_THROW(cirrus::check_temporary_names(run), Stop);
        fs::remove("m.spe.tmp");
        EXPECT_NO_THROW(cirrus::check_temporary_names(run));
    }
    test::TempDir dir;
    test::CapturedConsole cc;
    qv::Run run(cc.con);
    run.modname.name = "m";
    run.modname.name_res = "m";
    EXPECT_TRUE(cirrus::spectra_section_directions(run).empty());  // no par file
    EXPECT_FALSE(fs::exists("m.par"));
}

// With the PAH step, whatever it makes of this model's file (a dust grid
// without PAH band points), no temporary file is left behind.
TEST(SpectraFiles, NoTemporaryFileIsLeftByThePahStep) {
    Written m;
    m.no_radio();
    m.run.modname.pahflag = true;
    try {
        cirrus::scrivispettri(m.run);
    } catch (const Stop&) {
    } catch (const IoError&) {
    }
    EXPECT_TRUE(files_named(".tmp").empty()) << files_named(".tmp").front();
}

// ---------------------------------------------------------------------------
// Radio emission.

TEST(SpectraRadio, DecisionFollowsTheHistoryTheSupernovaeAndTheSsps) {
    const struct {
        const char* what;
        int istarfo;
        float snratet;
        float last_wave;  // 0: the model's own
        bool radio;
    } cases[] = {
        {"tabulated history with supernovae", 0, 0.7f, 0.0f, true},
        {"another history", 1, 0.7f, 0.0f, false},
        {"no supernovae", 0, 0.0f, 0.0f, false},
        {"ssps reaching 1e8 A", 0, 0.7f, 1e8f, false},
        {"ssps just below 1e8 A", 0, 0.7f, 9.9e7f, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Written m;
        qv::Run& run = m.run;
        run.glotauspe.istarfo = c.istarfo;
        if (c.last_wave > 0.0f) run.remind.wave(run.remind.nlam) = c.last_wave;
        cirrus::radio_and_spectra(run, c.snratet);
        const CirrusRun& cr = run.cirrus;
        EXPECT_EQ(cr.RADIO, c.radio);
        const auto out = m.out();
        const int k = index_of(out, c.radio ? " calcolo radio da quelvo" : " radio presente nelle ssp");
        ASSERT_GE(k, 0);
        EXPECT_EQ(out[std::size_t(k + 1)], c.radio ? " T" : " F");
        const auto f = load_spectra("m.spe");
        EXPECT_EQ(f.rows.size(), std::size_t(m.nlf() + (c.radio ? 10 : 0)));
        if (!c.radio) {
            EXPECT_EQ(cr.NWRADIO, 0);
            EXPECT_EQ(cr.IRADIO, m.nlf() + 1);
        }
    }
}

TEST(SpectraRadio, TableFromTheFirstPointAbove1e6ToExactly1e10) {
    Written m;
    qv::Run& run = m.run;
    const CirrusRun& cr = run.cirrus;
    const Vec<float>& ws = run.glopalla.ws;
    const int nlf = m.nlf();
    cirrus::radioflux(run, 2.0f);
    ASSERT_GE(cr.IRADIO, 2);
    ASSERT_LE(cr.IRADIO, nlf);
    EXPECT_LE(ws(cr.IRADIO - 1), 1e6f);
    EXPECT_GT(ws(cr.IRADIO), 1e6f);
    EXPECT_EQ(cr.NWRADIO, nlf - cr.IRADIO + 11);
    const int nin = nlf - cr.IRADIO + 1;
    for (int k = 1; k <= nin; ++k) EXPECT_EQ(cr.WRADIO(k), ws(cr.IRADIO + k - 1));
    EXPECT_EQ(cr.WRADIO(nin + 1), 1.01f * ws(nlf));
    EXPECT_EQ(cr.WRADIO(cr.NWRADIO), 1e10f);
    const float q = cr.WRADIO(nin + 2) / cr.WRADIO(nin + 1);
    for (int k = nin + 2; k <= cr.NWRADIO; ++k) EXPECT_NEAR(cr.WRADIO(k) / cr.WRADIO(k - 1), q, 1e-5f * q);
    // Synchrotron plus free-free, proportional to the supernova rate.
    const float w = cr.WRADIO(3);
    EXPECT_FLOAT_EQ(cr.FRADIO(3),
                    2.0f * 1.0218e11f * std::pow(w, -1.2f) * (1.0f + 1.0f / (2.323e-6f * std::pow(w, 0.7f))));
    for (int k = 2; k <= cr.NWRADIO; ++k) EXPECT_LT(cr.FRADIO(k), cr.FRADIO(k - 1));
    // A dust grid that ends below 1e6 A: the ten extension points alone.
    run.glopalla.ws(nlf) = 9e5f;
    for (int i = 1; i < nlf; ++i) run.glopalla.ws(i) = 9e5f * float(i) / float(nlf);
    cirrus::radioflux(run, 1.0f);
    EXPECT_EQ(cr.IRADIO, nlf + 1);
    EXPECT_EQ(cr.NWRADIO, 10);
    EXPECT_EQ(cr.WRADIO(1), 1.01f * 9e5f);
    EXPECT_EQ(cr.WRADIO(10), 1e10f);
}

TEST(SpectraRadio, RadioRowsAndTheRadioInTheTotal) {
    Written m({"0.0", "45.0", "90.0"}, -1);
    qv::Run& run = m.run;
    cirrus::radio_and_spectra(run, 1.0f);
    const CirrusRun& cr = run.cirrus;
    ASSERT_TRUE(cr.RADIO);
    const int nlf = m.nlf();
    for (const char* name : {"m.spe", "m.45"}) {
        SCOPED_TRACE(name);
        const auto f = load_spectra(name);
        ASSERT_TRUE(f.ok);
        ASSERT_EQ(f.rows.size(), std::size_t(nlf + 10));
        for (int i = 1; i <= nlf; ++i) {
            const auto& r = f.rows[std::size_t(i - 1)];
            const double radio = i >= cr.IRADIO ? double(cr.FRADIO(i - cr.IRADIO + 1)) : 0.0;
            EXPECT_NEAR(r[5], r[1] + r[3] + r[4] + radio, 1.2e-3 * r[5]) << i;
        }
        for (int k = 1; k <= 10; ++k) {
            const std::string& l = f.lines[std::size_t(nlf + k - 1)];
            const auto& r = f.rows[std::size_t(nlf + k - 1)];
            expect_g(r[0], cr.WRADIO(nlf - cr.IRADIO + 1 + k), "radio wavelength");
            expect_g(r[5], cr.FRADIO(nlf - cr.IRADIO + 1 + k), "radio");
            for (int c : {1, 2, 3, 4, 6, 7, 8}) EXPECT_EQ(field(l, c), "  0.000    ") << l;
        }
        EXPECT_EQ(field(f.lines.back(), 0), " 0.1000E+11");
        EXPECT_GT(f.rows[std::size_t(nlf)][0], f.rows[std::size_t(nlf - 1)][0]);
    }
}

// ---------------------------------------------------------------------------
// The files on the SSP grid.

// The SSP-grid writer's interpolation in double precision: linear in the
// ascending table, extended by its first or last interval, floored at 0.
double extended(const float* xa, int n, const float* ya, double w) {
    int i = 0;
    while (i < n - 2 && double(xa[i + 1]) < w) ++i;
    const double x0 = xa[i], x1 = xa[i + 1], y0 = ya[i], y1 = ya[i + 1];
    const double t = (w - x0) / (x1 - x0);
    return std::max(0.0, (1.0 - t) * y0 + t * y1);
}

TEST(SpectraSspGrid, RowsOnTheDustAndSspWavelengthsExtendEachTableLinearly) {
    Written m({"0.0", "45.0", "90.0"}, -1);
    qv::Run& run = m.run;
    run.parametri.wavsspout = true;
    // Clouds that dim each component's starlight on the SSP grid by their own
    // factor, so that the columns after the clouds differ from the unattenuated ones.
    for (int i = 1; i <= run.remind.nlam; ++i) {
        run.glopalla.l_stamc(i, 1) *= 0.8f;
        run.glopalla.l_stamc(i, 2) *= 0.6f;
    }
    cirrus::radio_and_spectra(run, 1.0f);
    const CirrusRun& cr = run.cirrus;
    const CloudSetup& gp = run.glopalla;
    const BirthGrid& rm = run.remind;
    const int nlf = m.nlf(), nlam = rm.nlam;
    ASSERT_TRUE(cr.RADIO);
    const auto dust = load_spectra("m.0");
    std::vector<double> grid;
    for (const auto& r : dust.rows) grid.push_back(r[0]);
    for (int i = 1; i <= nlam; ++i) grid.push_back(double(rm.wave(i)));
    std::sort(grid.begin(), grid.end());

    const double ws1 = gp.ws(1), wsn = gp.ws(nlf), wl1 = rm.wave(1), wln = rm.wave(nlam);
    const double wr1 = cr.WRADIO(1);
    ASSERT_LT(wl1, ws1);
    ASSERT_LT(wln, double(cr.WRADIO(cr.NWRADIO)));
    ASSERT_LT(ws1, wr1);
    for (const char* name : {"m.ssp.spe", "m.ssp.0", "m.ssp.45", "m.ssp.90"}) {
        SCOPED_TRACE(name);
        const auto f = load_spectra(name);
        ASSERT_TRUE(f.ok);
        ASSERT_EQ(f.rows.size(), grid.size());
        EXPECT_EQ(f.header.size(), 15u);
        int radio_below = 0;
        for (std::size_t k = 0; k < grid.size(); ++k) {
            const auto& r = f.rows[k];
            const double w = r[0];
            EXPECT_NEAR(w, grid[k], 6e-4 * grid[k]);
            for (int c = 1; c < 9; ++c) EXPECT_GE(r[std::size_t(c)], 0.0) << f.lines[k];
            // The total: cirrus, attenuated stars, clouds and the radio at every
            // wavelength, below its first wavelength by its first interval.
            const double radio = extended(cr.WRADIO.data(), cr.NWRADIO, cr.FRADIO.data(), grid[k]);
            const double sum = r[1] + r[3] + r[4] + radio;
            EXPECT_NEAR(r[5], sum, 1.2e-3 * sum + 1e-30) << f.lines[k];
            if (w < wr1 * (1 - 1e-3) && radio > 1e-3 * sum) ++radio_below;
        }
        EXPECT_GT(radio_below, 0);
    }
    // Below and beyond the tables, the angle average extends them.
    const auto f = load_spectra("m.ssp.spe");
    int below = 0, beyond_ssp = 0, beyond_dust = 0, rounded = 0;
    for (std::size_t k = 0; k < grid.size(); ++k) {
        const auto& r = f.rows[k];
        const double w = grid[k];
        double lmc = 0.0, l0 = 0.0, att_lmc = 0.0;
        for (int c = 1; c <= 2; ++c) {
            std::vector<float> att(static_cast<std::size_t>(nlf));
            for (int i = 1; i <= nlf; ++i)
                att[std::size_t(i - 1)] = gp.lumstamc(i, c) > 0.0f ? cr.LUMSTA_E(i, 0, c) / gp.lumstamc(i, c) : 0.0f;
            const double s = extended(rm.wave.data(), nlam, gp.l_stamc.col(c), w);
            lmc += s;
            l0 += extended(rm.wave.data(), nlam, gp.l_sta.col(c), w);
            att_lmc += extended(gp.ws.data(), nlf, att.data(), w) * s;
        }
        if (w < ws1 * (1 - 1e-3)) {
            ++below;  // below the dust grid: the cirrus, the clouds and the attenuation extended
            expect_g(r[1], extended(gp.ws.data(), nlf, cr.ETOT.data(), w), "cirrus below");
            expect_g(r[3], att_lmc, "attenuated below");
            expect_g(r[4], extended(gp.ws.data(), nlf, cr.LUMMC_E.col(0), w), "clouds below");
            EXPECT_GT(r[2], 0.0);
            EXPECT_GT(r[6], 0.0);
        }
        if (w > wln * (1 + 1e-3)) {
            ++beyond_ssp;  // beyond the SSPs: the starlight extended, never negative
            expect_g(r[2], lmc, "after the clouds beyond");
            expect_g(r[6], l0, "unattenuated beyond");
        }
        if (w > wsn * (1 + 1e-3)) {
            ++beyond_dust;
            EXPECT_GT(r[5], 0.0);
        }
        // The end rows of the dust-grid file, whose wavelengths read back with
        // four digits fall just outside the dust grid, keep the end values.
        for (int i : {1, nlf}) {
            if (std::fabs(w - double(gp.ws(i))) > 6e-4 * double(gp.ws(i)) || w == double(gp.ws(i))) continue;
            ++rounded;
            expect_g(r[1], cr.ETOT(i), "cirrus at a rounded end");
            expect_g(r[4], cr.LUMMC_E(i, 0), "clouds at a rounded end");
            EXPECT_GT(r[3], 0.0) << "attenuated starlight at a rounded end";
        }
    }
    EXPECT_GT(rounded, 0);
    EXPECT_GT(below, 0);
    EXPECT_GT(beyond_ssp, 0);
    EXPECT_GT(beyond_dust, 0);

    // At an SSP wavelength inside the dust grid, the SSP-grid spectra.
    const int l = nlam / 2;
    const double w = rm.wave(l);
    ASSERT_GT(w, ws1);
    ASSERT_LT(w, wsn);
    bool found = false;
    for (const auto& r : f.rows) {
        if (std::fabs(r[0] - w) > 6e-4 * w) continue;
        found = true;
        expect_g(r[2], gp.l_stamc(l, 1) + gp.l_stamc(l, 2), "after the clouds");
        expect_g(r[6], gp.l_sta(l, 1) + gp.l_sta(l, 2), "unattenuated");
        expect_g(r[7], gp.l_sta(l, 2), "second component");
        EXPECT_LE(r[3], r[2] * 1.001);
        EXPECT_LE(r[8], r[7] * 1.001);
        EXPECT_GT(r[3], 0.0);
        // The dust-grid quantities of the angle average, linear in ws at w: the
        // attenuation of each component times its starlight after the clouds
        // (column 4 summed, column 9 the second component), the cirrus and the
        // cloud emission.
        const float wl = rm.wave(l);
        int i = 1;
        while (gp.ws(i + 1) <= wl) ++i;
        const float t = (wl - gp.ws(i)) / (gp.ws(i + 1) - gp.ws(i));
        auto lin = [&](auto value) { return (1.0f - t) * value(i) + t * value(i + 1); };
        auto att = [&](int c) {
            return lin([&](int k) { return cr.LUMSTA_E(k, 0, c) / gp.lumstamc(k, c); });
        };
        expect_g(r[1], lin([&](int k) { return cr.ETOT(k); }), "cirrus");
        expect_g(r[3], att(1) * gp.l_stamc(l, 1) + att(2) * gp.l_stamc(l, 2), "attenuated");
        expect_g(r[4], lin([&](int k) { return cr.LUMMC_E(k, 0); }), "clouds");
        expect_g(r[8], att(2) * gp.l_stamc(l, 2), "second component attenuated");
        EXPECT_LT(r[8], r[7]);
        break;
    }
    EXPECT_TRUE(found);
}

TEST(SpectraSspGrid, OneComponentRepeatsItsColumnsAndNothingIsWrittenWithANaN) {
    Written m({"0.0", "45.0", "90.0"}, 1);
    qv::Run& run = m.run;
    run.parametri.wavsspout = true;
    cirrus::radio_and_spectra(run, 0.0f);
    const auto f = load_spectra("m.ssp.45");
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(f.rows.size(), std::size_t(m.nlf() + run.remind.nlam));
    for (const auto& l : f.lines) {
        EXPECT_EQ(field(l, 7), field(l, 6)) << l;
        EXPECT_EQ(field(l, 8), field(l, 3)) << l;
    }

    for (const char* n : {"m.ssp.spe", "m.ssp.0", "m.ssp.45", "m.ssp.90"}) fs::remove(n);
    run.glopalla.l_sta(9, 1) = std::nanf("");
    const auto s = test::stop_lines([&] { cirrus::scrivispettrissp(run); });
    ASSERT_EQ(s.size(), 2u);
    EXPECT_NE(s[0].find("ERROR: NaN in spectra file m.ssp.spe"), std::string::npos) << s[0];
    EXPECT_NE(s[0].find("column 7 (starlight unextincted)"), std::string::npos) << s[0];
    EXPECT_TRUE(files_named(".ssp.").empty());
}

}  // namespace
}  // namespace qv
