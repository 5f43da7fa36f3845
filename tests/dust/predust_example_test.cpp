// The example model through the dust preparation, from the command line: its
// lines on standard output and in the run log, and its stops.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/quelvo.h"
#include "support/example_outputs.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

namespace qv {
namespace {

struct ExampleRun : test::ExampleModelRun {
    test::CapturedConsole cc;
    int status = -1;

    ExampleRun() : ExampleModelRun("example") {}

    // Replaces the par file's text.
    void par(const std::string& text) { test::write_text(dir.file("example.par"), text); }

    int run(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {"example"};
        args.insert(args.end(), extra.begin(), extra.end());
        status = ExampleModelRun::run(args, cc);
        return status;
    }
    std::vector<std::string> out() const { return cc.out_lines(); }
    std::vector<std::string> log() const { return test::read_lines(dir.file("example.out")); }
    std::string dump() const { return cc.out.str() + cc.err.str(); }
};

int index_of(const std::vector<std::string>& lines, const std::string& prefix, int from = 0) {
    for (std::size_t i = static_cast<std::size_t>(from); i < lines.size(); ++i)
        if (lines[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
    return -1;
}

double value_after(const std::string& line, const std::string& text) {
    return std::stod(line.substr(line.find(text) + text.size()));
}

// The example par file without its MC_LINE section (the key line and the six
// lines it reads), so that one cloud type comes from the MAIN keys.
std::string without_mc_line(const std::string& par) {
    const std::size_t b = par.find("\nMC_LINE");
    if (b == std::string::npos) return par;
    std::size_t e = b + 1;
    for (int i = 0; i < 7 && e != std::string::npos; ++i) {
        e = par.find('\n', e);
        if (e != std::string::npos) ++e;
    }
    return par.substr(0, b + 1) + (e == std::string::npos ? std::string() : par.substr(e));
}

TEST(PredustExample, RunsThroughTheDustPreparationWithItsLinesInOrder) {
    ExampleRun e;
    ASSERT_EQ(e.run(), 0) << e.dump();
    const auto out = e.out();

    // The two mixtures' lines (cirrus, then clouds), the cirrus optical depth,
    // the number of clouds and the optical depth of one cloud.
    const int sfr = index_of(out, " fmdifbul= ");
    const int gr1 = index_of(out, " A_GR=", sfr);
    const int gr2 = index_of(out, " A_GR=", gr1 + 1);
    const int tg = index_of(out, " polar TAU_GAL =");
    const int nc = index_of(out, " ncloud=");
    const int tp = index_of(out, " tau palla a 1 micron=");
    ASSERT_GE(sfr, 0) << e.dump();
    EXPECT_LT(sfr, gr1);
    EXPECT_LT(gr1, gr2);
    EXPECT_LT(gr2, tg);
    EXPECT_LT(tg, nc);
    EXPECT_LT(nc, tp);
    // The example gives its clouds by mass and its cloud types in MC_LINE.
    EXPECT_EQ(index_of(out, " Key MC_LINE not found"), -1);
    EXPECT_EQ(index_of(out, "Mass of molecular clouds"), -1);
    EXPECT_EQ(index_of(out, " WARNING: ncloud too low"), -1);

    const double tau_gal = value_after(out[static_cast<std::size_t>(tg)], "=");
    const double ncloud = value_after(out[static_cast<std::size_t>(nc)], "=");
    const double tau1 = value_after(out[static_cast<std::size_t>(tp)], "=");
    EXPECT_TRUE(std::isfinite(tau_gal) && tau_gal > 0.0) << tau_gal;
    EXPECT_TRUE(std::isfinite(ncloud) && ncloud > 0.01) << ncloud;
    EXPECT_TRUE(std::isfinite(tau1) && tau1 > 1e-4) << tau1;

    // The run log: the optical depth of one cloud right after the present SFR.
    const auto log = e.log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0], " USEFUL CHECKING NUMBERS FOLLOW");
    const int s = index_of(log, " Present SFR=");
    ASSERT_GE(s, 0);
    ASSERT_LT(s + 1, static_cast<int>(log.size()));
    EXPECT_EQ(log[static_cast<std::size_t>(s + 1)], out[static_cast<std::size_t>(tp)]);
}

TEST(PredustExample, OneCloudTypeGivenByItsOpticalDepth) {
    // mcloud = -5 with one cloud type: the cloud mass follows from the optical
    // depth, and the optical depth through one cloud radius comes back as
    // 5 x 6.15e22 x 1.625e-23 = 4.996875, whatever the radius, mixture and gas.
    ExampleRun e;
    e.par(without_mc_line(test::example_par_text()));
    ASSERT_EQ(e.run({"mcloud=-5."}), 0) << e.dump();
    const auto out = e.out();
    const int key = index_of(out, " Key MC_LINE not found in file example.par");
    const int mass = index_of(out, "Mass of molecular clouds [Msun] =");
    ASSERT_GE(key, 0) << e.dump();
    EXPECT_EQ(index_of(out, " use one MC"), key + 1);
    EXPECT_LT(key, mass);
    EXPECT_LT(mass, index_of(out, " ncloud="));
    const auto log = e.log();
    const int lm = index_of(log, "Mass of molecular clouds [Msun] =");
    ASSERT_GE(lm, 0);
    EXPECT_EQ(log[static_cast<std::size_t>(lm)], out[static_cast<std::size_t>(mass)]);
    EXPECT_GT(lm, index_of(log, " Present SFR="));
    ASSERT_LT(lm + 1, static_cast<int>(log.size()));
    const std::string& tp = log[static_cast<std::size_t>(lm + 1)];
    ASSERT_EQ(tp.rfind(" tau palla a 1 micron=", 0), 0u) << tp;
    EXPECT_NEAR(value_after(tp, "="), 4.996875, 1e-5);
    EXPECT_GT(value_after(log[static_cast<std::size_t>(lm)], "="), 0.0);
}

TEST(PredustExample, StopsOfTheDustPreparation) {
    struct Case {
        const char* arg;
        const char* message;
    } cases[] = {
        // The example has two cloud types.
        {"mcloud=-5.", " mcloud must be >0 if n_tau_mc>1"},
        {"nlf=1", " FATAL ERROR: key nlf = 1 is below 2"},
        {"rcloud=0.", " FATAL ERROR: rcloud = 0 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arg);
        ExampleRun e;
        EXPECT_EQ(e.run({c.arg}), 1) << e.dump();
        const auto out = e.out();
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(out.back().rfind(c.message, 0), 0u) << out.back();
        // The run log ends with the present SFR and then the stop's message.
        const auto log = e.log();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[log.size() - 2].rfind(" Present SFR=", 0), 0u) << log[log.size() - 2];
        EXPECT_EQ(log.back(), out.back());
    }
}

}  // namespace
}  // namespace qv
