// The pelto model's reader: a small galaxy with values by hand, the cases of a
// missing file, the one-component case, its errors, and its history through
// the synthesis.
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

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string f72(float v) { return fio::edit_f(v, 7, 2); }

// Disk: times 0, 1e9, 2e9 yr with the rates (1, 1), (2, 2), (3, 1) Msun/yr;
// scale lengths 3 and 4, heights 0.3 and 0.2 kpc; gas 1e9 Msun, Z 0.01.
std::string disk_file(int ntav = 2, const std::string& rows = " 0.0 1 1\n 1.0e9 2 2\n 2.0e9 3 1\n",
                      float gas = 1e9f) {
    return "# disk\n " + f72(2.5f) + "\n " + f72(0.0f) + f72(3.0f) + f72(0.3f) + f72(4.0f) + f72(0.2f) +
           fio::edit_e(gas, 7, 2) + f72(0.01f) + fio::edit_i(ntav, 7) + "\n# time rates\n" + rows;
}
// Bulge: times 1e9 and 2e9 (both also disk times) with the rates (1, 0); radius 1.463 kpc.
std::string bulge_file(int ntav = 2, const std::string& rows = " 1.0e9 1 0\n 2.0e9 1 0\n") {
    return "# bulge\n " + f72(3.0f) + "\n " + f72(0.0f) + "  1.463" + fio::edit_i(ntav, 7) + "\n# time rates\n" + rows;
}

struct Pelto : ::testing::Test {
    TempDir dir;
    CapturedConsole cc;
    qv::Run run{cc.con};
    float fgas = -1.0f, sfrt = -1.0f, zism = -1.0f;
    Pelto() {
        run.modname.name = run.modname.name_res = "p1";
        run.remind.ncom = 2;
        run.glotauspe.istarfo = 6;
        run.parametri.rcdiff = 0.5f;
        write_text("p1.out", " USEFUL CHECKING NUMBERS FOLLOW\n");
        write_text("gasoline_disk.sf", disk_file());
        write_text("gasoline_bulge.sf", bulge_file());
    }
    void read() { read_pelto(run, fgas, sfrt, zism); }
    std::vector<std::string> log() const { return read_lines("p1.out"); }
};

TEST_F(Pelto, ReadsBothFilesOnTheMergedGrid) {
    read();
    const SfhTables& g = run.glotauspe;
    ASSERT_EQ(g.ntav, 2);
    EXPECT_FLOAT_EQ(g.ztav(1), 0.0001f);
    EXPECT_FLOAT_EQ(g.ztav(2), 0.0002f);
    // The times both files hold appear once.
    ASSERT_EQ(g.nzsmax, 3);
    EXPECT_FLOAT_EQ(g.agesf(1), 0.0f);
    EXPECT_FLOAT_EQ(g.agesf(2), 1.0f);
    EXPECT_FLOAT_EQ(g.agesf(3), 2.0f);
    EXPECT_FLOAT_EQ(run.parametri.tgal, 2.0f);
    // Stars formed: 0.5 [1 x 2e9 + 2 x 5e9 + 1 x 5e9] = 8.5e9 Msun, plus 1e9 of gas.
    const float m = 9.5e9f;
    EXPECT_FLOAT_EQ(g.rsftav(1, 1, 1), 1e9f / m);
    EXPECT_FLOAT_EQ(g.rsftav(3, 2, 1), 1e9f / m);
    EXPECT_FLOAT_EQ(g.rsftav(1, 1, 2), 0.0f);  // before the bulge's first time
    EXPECT_FLOAT_EQ(g.rsftav(2, 1, 2), 1e9f / m);
    EXPECT_FLOAT_EQ(g.rsftav(3, 2, 2), 0.0f);
    EXPECT_EQ(g.flswei.extent(0), 2);
    EXPECT_NEAR(run.remind.primordial_mass, m / 1e12f, 1e-8f);
    EXPECT_FLOAT_EQ(fgas, 1e9f / m);
    EXPECT_FLOAT_EQ(zism, 0.01f);
    EXPECT_FLOAT_EQ(sfrt, 5e9f / m);
    // "Present SFR=": the last rows' rates, 3 + 1 + 1 Msun/yr.
    EXPECT_NEAR(sfrt * 1000.0f * run.remind.primordial_mass, 5.0f, 1e-5f);
    EXPECT_FLOAT_EQ(run.parametri.ssp_mass, 3.0f);  // the bulge file is read last
    const RunParameters& p = run.parametri;
    EXPECT_FLOAT_EQ(p.rdstar, 3.0f);
    EXPECT_FLOAT_EQ(p.zdstar, 0.3f);
    EXPECT_FLOAT_EQ(p.rddiff, 4.0f);
    EXPECT_FLOAT_EQ(p.zddiff, 0.2f);
    EXPECT_FLOAT_EQ(p.rcstar, 0.1f);
    EXPECT_FLOAT_EQ(p.rcdiff, 0.5f);
    EXPECT_THAT(log(), ElementsAre(" USEFUL CHECKING NUMBERS FOLLOW", " tgal=   2.00000000    ",
                                   " Galaxy  mass at tfin=   9.50000063E-03  *10^12 Mo",
                                   " Star=  0.894736767      Gas=  0.105263159    ", " zmet ISM=   9.99999978E-03",
                                   " rcstar=  0.100000001      Kpc", " rdstar=   3.00000000      Kpc",
                                   " rddiff=   4.00000000      Kpc", " zdstar=  0.300000012      Kpc",
                                   " zddiff=  0.200000003      Kpc"));
    EXPECT_TRUE(cc.out.str().empty());
}

TEST_F(Pelto, BlankAndCommentLinesAtTheEndAreNoRows) {
    write_text("gasoline_disk.sf", disk_file() + "\n   \n");
    write_text("gasoline_bulge.sf", bulge_file() + "# end\n\n");
    read();
    EXPECT_EQ(run.glotauspe.nzsmax, 3);
    EXPECT_FLOAT_EQ(sfrt, 5e9f / 9.5e9f);
}

TEST_F(Pelto, DiskOnly) {
    std::filesystem::remove("gasoline_bulge.sf");
    read();
    EXPECT_THAT(cc.out_lines(), ElementsAre(" No file: gasoline_bulge.sf"));
    const SfhTables& g = run.glotauspe;
    for (int i = 1; i <= g.nzsmax; ++i) EXPECT_FLOAT_EQ(g.rsftav(i, 1, 2) + g.rsftav(i, 2, 2), 0.0f);
    // The log shows the bulge radius of no bulge; then the core is a tenth of the disk.
    EXPECT_EQ(log()[5], " rcstar=   0.00000000      Kpc");
    EXPECT_FLOAT_EQ(run.parametri.rcstar, 0.3f);
    EXPECT_FLOAT_EQ(run.parametri.rcdiff, 0.3f);
    EXPECT_FLOAT_EQ(run.parametri.ssp_mass, 2.5f);
}

TEST_F(Pelto, BulgeOnly) {
    std::filesystem::remove("gasoline_disk.sf");
    read();
    const RunParameters& p = run.parametri;
    EXPECT_FLOAT_EQ(fgas, 0.0f);
    EXPECT_FLOAT_EQ(zism, 0.02f);
    EXPECT_EQ(run.glotauspe.nzsmax, 2);
    EXPECT_FLOAT_EQ(run.remind.primordial_mass, 1e9f / 1e12f);  // M = Mstar, 1 Msun/yr for 1 Gyr
    EXPECT_FLOAT_EQ(p.rdstar, 1.0f);
    EXPECT_FLOAT_EQ(p.zdstar, 0.1f);
    EXPECT_FLOAT_EQ(p.zddiff, 0.1f);
    EXPECT_FLOAT_EQ(p.rddiff, 1.0f);
}

// One component: the bulge's rates join the disk's, none is lost.
TEST_F(Pelto, OneComponentSumsTheBulgeIntoIt) {
    run.remind.ncom = 1;
    read();
    const SfhTables& g = run.glotauspe;
    EXPECT_EQ(g.rsftav.extent(2), 1);
    const float m = 9.5e9f;
    EXPECT_FLOAT_EQ(g.rsftav(2, 1, 1), 3e9f / m);
    EXPECT_FLOAT_EQ(g.rsftav(3, 1, 1), 4e9f / m);
    EXPECT_FLOAT_EQ(sfrt, 5e9f / m);
}

// A disk whose times span less than the bulge's: 0 outside its own span.
TEST_F(Pelto, ComponentIsZeroOutsideItsOwnTimes) {
    write_text("gasoline_bulge.sf", bulge_file(2, " 0.5e9 1 0\n 3.0e9 1 0\n"));
    read();
    const SfhTables& g = run.glotauspe;
    ASSERT_EQ(g.nzsmax, 5);
    EXPECT_FLOAT_EQ(g.agesf(5), 3.0f);
    EXPECT_FLOAT_EQ(g.rsftav(5, 1, 1), 0.0f);
    EXPECT_GT(g.rsftav(5, 1, 2), 0.0f);
    EXPECT_GT(g.rsftav(1, 1, 1), 0.0f);
    EXPECT_FLOAT_EQ(g.rsftav(1, 1, 2), 0.0f);
}

struct PeltoError {
    const char* name;
    std::function<void(Pelto&)> setup;
    const char* message;
};

void PrintTo(const PeltoError& c, std::ostream* os) { *os << c.name << ": saying \"" << c.message << "\""; }

class PeltoErrors : public Pelto, public ::testing::WithParamInterface<PeltoError> {};

TEST_P(PeltoErrors, StopWithAClearMessage) {
    GetParam().setup(*this);
    try {
        read();
        FAIL() << "no stop";
    } catch (const Stop& s) {
        EXPECT_THAT(s.what(), HasSubstr(GetParam().message));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pelto, PeltoErrors,
    ::testing::Values(
        PeltoError{"BothMissing",
                   [](Pelto&) {
                       std::filesystem::remove("gasoline_disk.sf");
                       write_text("gasoline_bulge.sf", bulge_file(2, ""));
                   },
                   "no pelto history"},
        PeltoError{"HeadersDisagreeOnBins", [](Pelto&) { write_text("gasoline_bulge.sf", bulge_file(3, " 1.0e9 1 0 0\n")); },
                   "different numbers of bins"},
        PeltoError{"MoreBinsThanTheGrid",
                   [](Pelto&) {
                       std::filesystem::remove("gasoline_bulge.sf");
                       write_text("gasoline_disk.sf", disk_file(12, " 0.0 1 1 1 1 1 1 1 1 1 1 1 1\n"));
                   },
                   "1 to 11 metallicity bins"},
        PeltoError{"RelativeCoreRadius", [](Pelto& f) { f.run.parametri.rcdiff = -2.0f; }, "rcdiff="},
        PeltoError{"NoMass", [](Pelto&) {
                       write_text("gasoline_disk.sf", disk_file(2, " 0.0 0 0\n 1.0e9 0 0\n", 0.0f));
                       std::filesystem::remove("gasoline_bulge.sf");
                   },
                   "no mass"}),
    [](const auto& i) { return std::string(i.param.name); });

TEST_F(Pelto, TimesThatDoNotIncreaseAreAnError) {
    write_text("gasoline_disk.sf", disk_file(2, " 0.0 1 1\n 2.0e9 2 2\n 1.0e9 3 1\n"));
    EXPECT_THROW(read(), IoError);
}

// Both files on the same times: every time once on the grid, so that the
// synthesis interpolates to its last birth time (two equal last times would
// stop it) and the present rate is that of the last rows.
TEST_F(Pelto, BothFilesOnTheSameTimesRunThroughTheSynthesis) {
    write_text("gasoline_bulge.sf", bulge_file(2, " 0.0 1 0\n 1.0e9 1 0\n 2.0e9 1 0\n"));
    read();
    ASSERT_EQ(run.glotauspe.nzsmax, 3);
    fill_library(run, {1}, {0.02f}, {{14.0f, 0.001f}}, 3, [](int, int, int) { return 1.0f; });
    run_synthesis(run);
    const BirthGrid& r = run.remind;
    EXPECT_FLOAT_EQ(r.tbirth(r.icall), 2.0f);
    EXPECT_NEAR(r.sfrate(r.icall, 1) + r.sfrate(r.icall, 2), sfrt, 1e-6f * sfrt);
    EXPECT_NEAR(sfrt * 1000.0f * r.primordial_mass, 5.0f, 1e-5f);
}

}  // namespace
}  // namespace qv::test
