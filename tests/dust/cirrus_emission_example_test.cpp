// The example model with the cirrus emission switched on, on a coarser disk
// (scale heights of 1 kpc: 12 radial and 13 polar nodes) and viewed from
// fifteen directions crowded towards edge-on, so that the angle average
// resolves the edge-on absorption: the cirrus emits the energy it absorbs, the
// timing lines follow the cell loop, and a run with the intrho cache written
// and one reading it give the same spectrum (on the cache's grid, with a dust
// scale height of 2 kpc).
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "core/quelvo.h"
#include "dust/cirrus_fixture.h"
#include "support/example_outputs.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

namespace qv {
namespace {

using test::index_of;
using test::number_after;

struct EmittingExample : test::ExampleModelRun {
    EmittingExample() {
        std::string par = test::read_text("m1.par");
        const std::size_t at = par.find("\nSPECTRA");
        EXPECT_NE(at, std::string::npos);
        par = par.substr(0, at + 1) +
              test::spectra_section({"0.0", "20.0", "40.0", "50.0", "60.0", "65.0", "70.0", "74.0", "78.0", "81.0",
                                     "84.0", "86.0", "88.0", "89.0", "90.0"});
        test::write_text("m1.par", par);
    }
    int run(std::vector<std::string> args, test::CapturedConsole& cc) {
        args.insert(args.begin(), {"m1", "emiflag=1", "pahflag=0", "flutflag=1", "zdstar=1.0", "zddiff=1.0"});
        return ExampleModelRun::run(args, cc);
    }
};

TEST(CirrusEmissionExample, CirrusEmitsWhatItAbsorbs) {
    EmittingExample ex;
    test::CapturedConsole cc;
    ASSERT_EQ(ex.run({}, cc), 0) << cc.out.str();
    const auto out = cc.out_lines();
    const int t = index_of(out, " giroytime=");
    ASSERT_GE(t, 0) << cc.out.str();
    EXPECT_EQ(out[t + 1].rfind(" distmediatime=", 0), 0u);
    EXPECT_EQ(out[t + 2].rfind(" intrhotime=", 0), 0u);
    EXPECT_EQ(out[t + 3].rfind(" girolamtime=", 0), 0u);
    EXPECT_GT(index_of(out, " somma parr"), 0);

    const auto log = test::read_lines("m1.out");
    const int b = index_of(log, " Energy emitted by cirrus / Energy absorbed by cirrus");
    ASSERT_GE(b, 0) << test::read_text("m1.out");
    const double ratio = number_after({log[b]}, "absorbed by cirrus");
    EXPECT_NEAR(ratio, 1.0, 0.05);
    const int l = index_of(log, "L cirrus = ");
    ASSERT_GE(l, 0);
    EXPECT_GT(number_after({log[l]}, "L cirrus = "), 0.0);

    // The cirrus column of the angle average: finite, never negative, and
    // peaking in the far infrared.
    const auto spe = test::load_spectrum("m1.spe").rows;
    ASSERT_GT(spe.size(), 50u);
    double peak = 0.0, at = 0.0;
    for (const auto& r : spe) {
        ASSERT_GE(r.size(), 2u);
        ASSERT_TRUE(std::isfinite(r[1]));
        ASSERT_GE(r[1], 0.0);
        if (r[0] * r[1] > peak) {
            peak = r[0] * r[1];
            at = r[0];
        }
    }
    EXPECT_GT(at, 3e5);  // 30 micron
    EXPECT_LT(at, 5e6);  // 500 micron
}

TEST(CirrusEmissionExample, CacheWrittenByOneRunGivesTheNextTheSameSpectrum) {
    EmittingExample ex;
    test::CapturedConsole a;
    ASSERT_EQ(ex.run({"zddiff=2.0", "intrho=1", "nameres=a"}, a), 0) << a.out.str();
    test::CapturedConsole b;
    ASSERT_EQ(ex.run({"zddiff=2.0", "intrho=2", "nameres=b"}, b), 0) << b.out.str();
    EXPECT_GE(index_of(b.out_lines(), " Trying to use existing intrho file"), 0);
    for (const auto& line : b.out_lines()) EXPECT_EQ(line.find("WARNING"), std::string::npos) << line;
    const auto ra = test::load_spectrum("a.spe").rows, rb = test::load_spectrum("b.spe").rows;
    ASSERT_EQ(ra.size(), rb.size());
    for (std::size_t i = 0; i < ra.size(); ++i) {
        ASSERT_EQ(ra[i].size(), rb[i].size());
        // The stored quotients round the columns: the spectra agree to the
        // printed digits but for the last one.
        for (std::size_t k = 0; k < ra[i].size(); ++k) EXPECT_NEAR(rb[i][k], ra[i][k], 2e-3 * std::fabs(ra[i][k])) << i;
    }
}

}  // namespace
}  // namespace qv
