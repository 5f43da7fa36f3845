// The cirrus model's entry: the SPECTRA section and the viewing directions,
// the masses, and the order of its phases with their run-log lines.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/run.h"
#include "core/stop.h"
#include "dust/cirrus.h"
#include "dust/cirrus_fixture.h"
#include "io/format.h"
#include "support/test_support.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using test::contains;
using test::index_of;

// The directions of a model of geometry igeo with the given SPECTRA section.
std::vector<std::pair<float, float>> directions(const std::string& spectra, int igeo, int annflag) {
    test::CirrusModel m(spectra);
    qv::Run& run = m.run;
    run.parametri.igeo = igeo;
    run.parametri.annflag = annflag;
    run.cirrus.disk_like = igeo != 0 && igeo != 1;
    TextFile f = cirrus::spectra_section(run);
    cirrus::allocate_cirrus_record(run);
    cirrus::read_directions(run, f);
    std::vector<std::pair<float, float>> d;
    for (int k = 1; k <= run.cirrus.ndir_total; ++k) d.emplace_back(run.cirrus.DIRARR(k), run.cirrus.ADDED_DIR(k));
    EXPECT_EQ(run.cirrus.ndir, 3);
    return d;
}

using Dirs = std::vector<std::pair<float, float>>;

TEST(CirrusDirections, EmulatorDirectionsAreAddedAndSortedForTheDisks) {
    const std::string spectra = test::spectra_section({"80.0", "10.0", "45.0"});
    const Dirs sorted = {{0.0f, 1.0f},  {10.0f, 0.0f}, {31.4f, 1.0f}, {45.0f, 0.0f},
                         {56.3f, 1.0f}, {78.5f, 1.0f}, {80.0f, 0.0f}, {90.0f, 1.0f}};
    for (int igeo : {2, -1, 3, 4, 5}) EXPECT_EQ(directions(spectra, igeo, 2), sorted) << igeo;
    EXPECT_EQ(directions(spectra, 2, 3), sorted);
    const Dirs file_order = {{80.0f, 0.0f}, {10.0f, 0.0f}, {45.0f, 0.0f}};
    for (int igeo : {0, 1}) EXPECT_EQ(directions(spectra, igeo, 2), file_order) << igeo;
    EXPECT_EQ(directions(spectra, 2, 0), file_order);
    EXPECT_EQ(directions(spectra, 2, 1), file_order);
    // A SPECTRA angle equal to an emulator angle stays twice.
    const Dirs twice = directions(test::spectra_section({"90", "0", "20"}), 2, 2);
    ASSERT_EQ(twice.size(), 8u);
    EXPECT_EQ(twice.front().first, 0.0f);
    EXPECT_EQ(twice[1].first, 0.0f);
    EXPECT_EQ(twice[6].first, 90.0f);
    EXPECT_EQ(twice[7].first, 90.0f);
    EXPECT_EQ(twice[0].second + twice[1].second, 1.0f);
}

TEST(CirrusDirections, SectionErrorsStopClearly) {
    struct Case {
        const char* what;
        std::string spectra;
        const char* message;
    } cases[] = {
        {"no section", "", "Key SPECTRA not found in file m.par"},
        {"no direction", "SPECTRA\n%\n0\n", "needs at least one viewing direction, ndir="},
        {"a negative count", "SPECTRA\n%\n-2\n", "needs at least one viewing direction"},
        {"beyond edge-on", test::spectra_section({"30", "95"}), "degrees: inclinations go from 0 to 90 degrees"},
        {"below face-on", test::spectra_section({"-1"}), "degrees: inclinations go from 0 to 90 degrees"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::CirrusModel m(c.spectra);
        m.run.cirrus.disk_like = true;
        const auto s = test::stop_lines([&] {
            TextFile f = cirrus::spectra_section(m.run);
            cirrus::allocate_cirrus_record(m.run);
            cirrus::read_directions(m.run, f);
        });
        ASSERT_EQ(s.size(), 1u);
        EXPECT_NE(s[0].find(c.message), std::string::npos) << s[0];
        // The par file is named without the blanks of its field.
        if (std::string(c.what) == "no section") {
            EXPECT_EQ(s[0], " Key SPECTRA not found in file m.par");
        }
    }
    // Numbers that do not read end the run in the I/O layer.
    test::CirrusModel m("SPECTRA\n%\n2\n30\nforty\n");
    TextFile f = cirrus::spectra_section(m.run);
    cirrus::allocate_cirrus_record(m.run);
    EXPECT_THROW(cirrus::read_directions(m.run, f), IoError);
}

// ---------------------------------------------------------------------------

TEST(ColdDust, PhasesAndRunLogLinesOfADisk) {
    test::CirrusModel m;
    qv::Run& run = m.run;
    run.parametri.emiflag = false;  // the phases without the (slow) cell loop
    const float fgas = 0.3f;
    colddust(run, fgas, 0.0f);
    const CirrusRun& cr = run.cirrus;

    const float mdiff = (1.0f - 0.5f) * fgas * run.remind.primordial_mass * run.mix.hsug;
    EXPECT_EQ(cr.Mdiff, mdiff);
    EXPECT_EQ(cr.Mdust, mdiff * run.mix.dsug * 1e12f);

    const auto log = m.log();
    const int k = index_of(log, "Mdust =");
    ASSERT_GE(k, 0);
    ASSERT_GE(log.size(), std::size_t(k + 9));
    const RunParameters& p = run.parametri;
    EXPECT_EQ(log[k], fio::list_line({"Mdust = ", cr.Mdust}));
    EXPECT_EQ(log[k + 1], "igeo  rcstar      rcdiff       rdstar     rddiff      zddiff      zdstar");
    EXPECT_EQ(log[k + 2], fio::write_line("(I3,2X,6G12.4)", {p.igeo, p.rcstar, p.rcdiff, p.rdstar, p.rddiff, p.zddiff, p.zdstar}));
    EXPECT_EQ(log[k + 3], fio::list_line({"ndr=", run.remind.ndr, "  nthearr=", run.glocold.nthearr}));
    EXPECT_EQ(log[k + 4], "");
    EXPECT_EQ(log[k + 5].rfind(" Polar tau cirrus at 1 and 0.44 micron =", 0), 0u);
    EXPECT_EQ(log[k + 6].rfind(" Equatorial tau cirrus at 1 micron =", 0), 0u);
    EXPECT_EQ(log[k + 7].rfind(" Tau cirrus at 1 micron if it were homogeneous =", 0), 0u);
    EXPECT_EQ(log[k + 8].rfind(" Conversion factor to tau_extinction =", 0), 0u);

    const auto out = m.out();
    const int o = index_of(out, "Mdiff/12=");
    ASSERT_GE(o, 0);
    EXPECT_EQ(out[o], fio::list_line({"Mdiff/12=", mdiff / run.mix.hsug}));
    EXPECT_EQ(out[o + 1].rfind(" ndr ideale=", 0), 0u);
    EXPECT_EQ(out[o + 2], log[k + 3]);
    for (int j = 0; j < 5; ++j) EXPECT_EQ(out[o + 3 + j], log[k + 4 + j]);

    // The light, cross sections and efficiencies are filled; the grids are gone.
    EXPECT_GT(cr.FORMA(10, 1), 0.0f);
    EXPECT_GT(cr.TXY(10), 0.0f);
    EXPECT_GT(cr.QEFFW(10, 30), 0.0f);
    EXPECT_GT(run.tequi.qabsw(10, 5), 0.0f);
    EXPECT_GT(cr.N0, 0.0f);
    EXPECT_FALSE(run.glocold.allocated());
    EXPECT_EQ(run.glopdit.ix.extent(), run.glopalla.nlf);
    EXPECT_EQ(run.glopdit.yarr.extent(), run.glopalla.nlf);
    EXPECT_EQ(cr.LUMSTA_E.lbound(1), 0);
    EXPECT_EQ(cr.LUMSTA_E.ubound(1), cr.ndir_total);
}

TEST(ColdDust, GalaxyWithoutGasSkipsTheGrid) {
    test::CirrusModel m;
    qv::Run& run = m.run;
    run.glopalla.mmolfraz = -1.0f;
    run.parametri.intrho_w_r = 1;
    colddust(run, 0.3f, 0.0f);
    EXPECT_EQ(run.cirrus.Mdiff, 0.0f);
    const auto log = m.log();
    const int k = index_of(log, "Mdust =");
    ASSERT_GE(k, 0);
    EXPECT_EQ(log[k], fio::list_line({"Mdust = ", 0.0f}));
    EXPECT_EQ(index_of(log, "ndr="), -1);
    EXPECT_EQ(index_of(log, "Polar tau"), -1);
    EXPECT_TRUE(contains(m.out(), fio::list_line({"Mdiff/12=", 0.0f})));
    // No cache is opened without diffuse gas.
    EXPECT_FALSE(fs::exists("quelvo.intrho"));
    // The light on the dust grid is there all the same.
    EXPECT_GT(run.cirrus.FORMASTA(5, 1), 0.0f);
    EXPECT_EQ(run.cirrus.TXY(5), 0.0f);
}

TEST(ColdDust, CacheWrittenAndThenRead) {
    test::CirrusModel a;
    a.run.parametri.intrho_w_r = 1;
    test::set_geometry(a.run, 2, 1);
    // The header alone: pair records written and read back are checked by the
    // example runs with the cache.
    a.run.parametri.emiflag = false;
    colddust(a.run, 0.3f, 0.0f);
    EXPECT_TRUE(contains(a.out(), fio::list_line({"Writing new quelvo.intrho to quelvo.intrho"})));
    ASSERT_TRUE(fs::exists("quelvo.intrho"));
    // A second model in the same folder uses it.
    test::CirrusModel b;
    fs::copy_file(a.tmp.file("quelvo.intrho"), b.tmp.file("quelvo.intrho"));
    test::set_geometry(b.run, 2, 2);
    b.run.parametri.emiflag = false;
    colddust(b.run, 0.6f, 0.0f);
    EXPECT_TRUE(contains(b.out(), "Trying to use existing intrho file"));
    for (const auto& l : b.out()) EXPECT_EQ(l.find("WARNING"), std::string::npos) << l;
}

TEST(ColdDust, StopAfterOpeningTheCacheLeavesNoFile) {
    test::CirrusModel m;
    test::set_geometry(m.run, 2, 1);
    m.run.parametri.igeo = 7;  // refused when the densities are built
    const auto s = test::stop_lines([&] { colddust(m.run, 0.3f, 0.0f); });
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0], " ERROR: invalid IGEO!");
    for (const auto& e : fs::directory_iterator(m.tmp.path()))
        EXPECT_EQ(e.path().filename().string().find("intrho"), std::string::npos) << e.path();
}

TEST(ColdDust, InputThatTheGridCannotTakeIsRefused) {
    {
        // igeo -1 with a bulge and a MAIN key ndr of 1: one core node.
        test::CirrusModel m;
        test::set_geometry(m.run, -1);
        m.run.remind.ndr = 1;
        const auto s = test::stop_lines([&] { colddust(m.run, 0.3f, 0.0f); });
        ASSERT_EQ(s.size(), 1u);
        EXPECT_NE(s[0].find("needs at least 2 core nodes"), std::string::npos);
    }
}

}  // namespace
}  // namespace qv
