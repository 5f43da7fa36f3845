// The example model through the cirrus model's first phases: the run-log
// lines of the masses, the grid and the optical depths, the column-density
// cache between two runs, and the dust of a composite galaxy whose stars are
// all in one component.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "core/quelvo.h"
#include "core/run.h"
#include "dust/cirrus_fixture.h"
#include "dust/cirrus_grid.h"
#include "io/format.h"
#include "io/textfile.h"
#include "support/example_outputs.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using test::index_of;
using test::number_after;

struct Example : test::ExampleModelRun {
    using ExampleModelRun::ExampleModelRun;
    // Replaces a MAIN line of the par file ("igeo      2" style: key in columns 1-10).
    void set_key(const std::string& model, const std::string& key, const std::string& value) {
        std::string text = test::read_text(model + ".par");
        std::string k = key;
        k.resize(10, ' ');
        const std::size_t at = text.find("\n" + k);
        ASSERT_NE(at, std::string::npos) << key;
        const std::size_t end = text.find('\n', at + 1);
        text.replace(at + 1, end - at - 1, k + value);
        test::write_text(model + ".par", text);
    }
};

// The block of run-log lines from "Mdust =" to the conversion factor.
std::vector<std::string> cirrus_block(const std::vector<std::string>& log) {
    const int k = index_of(log, " Mdust =");
    if (k < 0) return {};
    const int e = index_of(log, " Conversion factor to tau_extinction =", k);
    if (e < 0) return {};
    return std::vector<std::string>(log.begin() + k, log.begin() + e + 1);
}

TEST(CirrusExample, RunLogLinesOfTheCirrusGridAndDepths) {
    Example ex;
    test::CapturedConsole cc;
    ASSERT_EQ(ex.run({"m1"}, cc), 0) << cc.out.str() << cc.err.str();
    const auto block = cirrus_block(test::read_lines("m1.out"));
    ASSERT_EQ(block.size(), 9u) << test::read_text("m1.out");
    const auto out = cc.out_lines();

    // The dust mass is the diffuse gas mass times the hydrogen fraction (of the
    // history) and the dust-to-gas ratio 0.0089.
    const int o = index_of(out, " Mdiff/12=");
    ASSERT_GE(o, 0);
    const double hsug = number_after({block[0]}, "Mdust =") / (number_after({out[o]}, "Mdiff/12=") * 0.0089 * 1e12);
    EXPECT_GT(hsug, 0.6);
    EXPECT_LT(hsug, 0.8);
    EXPECT_EQ(block[1], "igeo  rcstar      rcdiff       rdstar     rddiff      zddiff      zdstar");
    EXPECT_EQ(block[2], fio::write_line("(I3,2X,6G12.4)", {2, 1.0f, 1.0f, 4.0f, 4.0f, 0.2f, 0.4f}));
    // The disk grid: rgal = 6 max(rdstar, rddiff) = 24 kpc over min(2 zd, rd) = 0.4 kpc.
    EXPECT_EQ(block[3], fio::list_line({"ndr=", 60, "  nthearr=", 17}));
    EXPECT_TRUE(index_of(out, fio::list_line({"ndr ideale=", 60})) >= 0);
    EXPECT_EQ(block[4], "");
    const double taup1 = number_after({block[5]}, "micron =");
    const double taue = number_after({block[6]}, "micron =");
    const double tauh = number_after({block[7]}, "homogeneous =");
    const double conv = number_after({block[8]}, "tau_extinction =");
    EXPECT_GT(taup1, 0.0);
    EXPECT_GT(taue, 10.0 * taup1);  // a thin disk seen edge-on
    EXPECT_GT(tauh, 0.0);
    EXPECT_LT(tauh, taup1);  // the same dust spread through the sphere
    EXPECT_GT(conv, 1.0);    // extinction over absorption
    // The same lines, in the same order, on standard output.
    for (int j = 4; j < 9; ++j) EXPECT_GE(index_of(out, block[j]), 0) << block[j];
}

TEST(CirrusExample, CacheWrittenByOneRunIsUsedByTheNext) {
    Example ex;
    test::CapturedConsole a;
    ASSERT_EQ(ex.run({"m1", "intrho=1", "nameres=a"}, a), 0) << a.out.str();
    ASSERT_TRUE(fs::exists("quelvo.intrho"));
    test::CapturedConsole b;
    ASSERT_EQ(ex.run({"m1", "intrho=2", "nameres=b"}, b), 0) << b.out.str();
    EXPECT_GE(index_of(b.out_lines(), " Trying to use existing intrho file"), 0);
    for (const auto& l : b.out_lines()) EXPECT_EQ(l.find("WARNING"), std::string::npos) << l;
    // The cache's grid: rgal = 10 rddiff.
    const auto ba = cirrus_block(test::read_lines("a.out"));
    const auto bb = cirrus_block(test::read_lines("b.out"));
    ASSERT_EQ(ba.size(), 9u);
    EXPECT_EQ(ba, bb);
    EXPECT_EQ(ba[3], fio::list_line({"ndr=", 80, "  nthearr=", 17}));
}

TEST(CirrusExample, MistypedCacheNameDoesNotDestroyTheParFile) {
    Example ex;
    const std::string par = test::read_text("m1.par");
    test::CapturedConsole cc;
    EXPECT_EQ(ex.run({"m1", "intrho=1", "nameintrho=m1.par"}, cc), 1);
    EXPECT_GE(index_of(cc.out_lines(), "ERROR: file m1.par is not an intrho file"), 0) << cc.out.str();
    EXPECT_EQ(test::read_text("m1.par"), par);
}

// The galaxy driver with all stars in the bulge (bsut 1) or in the disk (bsut
// 0): the dust follows, and its densities hold the whole dust mass of the run
// log.
TEST(CirrusExample, CompositeGalaxyWithAllStarsInOneComponent) {
    for (const char* law : {"1.0", "0.0"}) {
        SCOPED_TRACE(law);
        Example ex("m2");
        ex.set_key("m2", "igeo", "-1");
        test::write_text("m2.bst", std::string("2\n0.0 ") + law + "\n100.0 " + law + "\n");
        test::CapturedConsole cc;
        qv::Run run(cc.con);
        RunNames& mn = run.modname;
        mn.name = mn.name_res = mn.name_sf = "m2";
        mn.name_dir = clean_name_dir(ex.argv0);
        write_file_atomic("m2.out", " USEFUL CHECKING NUMBERS FOLLOW\n");
        qvmain(run);

        const bool bulge = std::string(law) == "1.0";
        EXPECT_EQ(run.glotauspe.bsut, bulge ? 1.0f : 0.0f);
        EXPECT_EQ(run.parametri.fmdifbul, bulge ? 1.0f : 0.0f);
        EXPECT_GE(index_of(cc.out_lines(), fio::list_line({"fmdifbul= ", bulge ? 1.0f : 0.0f})), 0);
        const auto log = test::read_lines("m2.out");
        const int k = index_of(log, " Mdust =");
        ASSERT_GE(k, 0);
        const double mdust = number_after({log[k]}, "Mdust =");
        EXPECT_EQ(log[k], fio::list_line({"Mdust = ", run.cirrus.Mdiff * run.mix.dsug * 1e12f}));
        EXPECT_GE(index_of(log, fio::list_line({"BULGE/TOT in mass=", bulge ? 1.0f : 0.0f})), 0);

        // Rebuild the grid from the run's final state and weigh its dust.
        cirrus::grid_sizes(run);
        cirrus::allocate_grids(run);
        cirrus::grid_nodes(run);
        cirrus::densities(run);
        cirrus::normalise(run);
        const CirrusGrid& g = run.glocold;
        const int ndr = run.remind.ndr, nthe = g.nthearr;
        auto weigh = [&](int c) {
            double s = 0.0;
            for (int j = 1; j < nthe; ++j)
                for (int i = 1; i < ndr; ++i) {
                    const double mean = 0.25 * (double(g.rhodiffarr(i, j, c)) + double(g.rhodiffarr(i + 1, j, c)) +
                                                double(g.rhodiffarr(i, j + 1, c)) + double(g.rhodiffarr(i + 1, j + 1, c)));
                    const double r1 = g.rarr(i), r2 = g.rarr(i + 1);
                    s += mean * (r2 * r2 * r2 - r1 * r1 * r1) / 3.0 *
                         (std::cos(double(g.thearr(j))) - std::cos(double(g.thearr(j + 1))));
                }
            return 6.283185307 * s * 1e9 * double(run.mix.dsug);
        };
        const int full = bulge ? 2 : 1;
        EXPECT_NEAR(weigh(full) / mdust, 1.0, 1e-4);
        EXPECT_EQ(weigh(3 - full), 0.0);
    }
}

}  // namespace
}  // namespace qv
