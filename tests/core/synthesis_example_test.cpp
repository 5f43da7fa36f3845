// The example data set made by the generator: its SSP library reads as the
// generator's recipe says, and the example model runs through the synthesis.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "core/quelvo.h"
#include "core/run.h"
#include "core/ssp_library.h"
#include "core/stop.h"
#include "support/example_outputs.h"
#include "support/model_fixture.h"
#include "synthesis_fixtures.h"

namespace qv::test {
namespace {

using ::testing::HasSubstr;

struct ExampleFixture : ::testing::Test {
    TempDir dir;
    std::string data;
    ExampleFixture() {
        data = dir.file("data");
        write_example_model("example", data);
    }
    // Runs the program as if started by the path data/quelvo.
    int quelvo(const std::vector<std::string>& args, CapturedConsole& cc) {
        return run_quelvo_main(data + "/quelvo", args, cc);
    }
};

// Bolometric luminosity of one age block, in solar luminosities.
double block_lsun(const Run& run, int j, int i) {
    const BirthGrid& r = run.remind;
    double s = 0.0;
    for (int k = 1; k < r.nlam; ++k)
        s += 0.5 * (static_cast<double>(run.glotauspe.fluxes(k, j, i)) + static_cast<double>(run.glotauspe.fluxes(k + 1, j, i))) *
             static_cast<double>(r.wave(k + 1) - r.wave(k));
    return s * 1e30 / 3.828e33;
}

TEST_F(ExampleFixture, SspLibraryFollowsTheRecipe) {
    CapturedConsole cc;
    qv::Run run(cc.con);
    run.modname.name = "example";
    run.modname.name_dir = data + "/";
    readflussi_asci(run, 1.0f, true);
    const Glotauspe& g = run.glotauspe;
    ASSERT_EQ(g.ntab, 5);
    EXPECT_EQ(g.ntab1, 4);
    EXPECT_EQ(g.imf_flag, (std::vector<int>{1, 1, 1, 1, 2}));
    const float z[5] = {0.004f, 0.008f, 0.02f, 0.05f, 0.02f};
    for (int i = 1; i <= 5; ++i) {
        EXPECT_FLOAT_EQ(g.ztab(i), z[i - 1]);
        EXPECT_EQ(g.nmax(i), 48);
        EXPECT_NEAR(g.ages(1, i), 14.0f, 1e-3f);
        EXPECT_NEAR(g.ages(48, i), 0.001f, 1e-6f);
    }
    const BirthGrid& r = run.remind;
    ASSERT_EQ(r.nlam, 300);
    EXPECT_NEAR(r.wave(1), 91.0f, 0.01f);
    EXPECT_LT(r.wave(300), 1e8f);
    EXPECT_GT(r.wave(300), 8e7f);
    // Two blackbodies of 1500 Lsun per Msun at 1 Myr, fading as age^-0.8.
    EXPECT_NEAR(block_lsun(run, 48, 3), 1500.0, 15.0);
    EXPECT_NEAR(block_lsun(run, 1, 3), 1500.0 * std::pow(14000.0, -0.8), 0.01 * 1500.0 * std::pow(14000.0, -0.8));
    // The burst table is brighter when young, the same when old.
    EXPECT_NEAR(block_lsun(run, 48, 5), 1500.0 * (1.0 + 2.0 * std::exp(-0.1)), 30.0);
    EXPECT_NEAR(block_lsun(run, 1, 5) / block_lsun(run, 1, 3), 1.0, 1e-3);
    // Metal-rich populations are fainter.
    EXPECT_LT(block_lsun(run, 20, 4), block_lsun(run, 20, 1));
    EXPECT_THAT(cc.out.str(), ::testing::Not(HasSubstr("WARNING")));
}

TEST_F(ExampleFixture, RealWavelengthTableMatchesTheCodedOne) {
    write_text("example.par", ssp_section({{1, "qv_ssp_real_z020.dat"}, {1, "qv_ssp_z020.dat"}}));
    CapturedConsole cc;
    qv::Run run(cc.con);
    run.modname.name = "example";
    run.modname.name_dir = data + "/";
    // One library holds one wavelength encoding.
    try {
        readflussi_asci(run, 1.0f, true);
        FAIL() << "no stop";
    } catch (const Stop& s) {
        EXPECT_THAT(s.lines.at(0), HasSubstr("different wavelenghts"));
    }
    // Each read alone gives the same grid and fluxes.
    auto read_one = [&](const char* file, std::vector<float>& wave, std::vector<float>& flux) {
        write_text("example.par", ssp_section({{1, file}}));
        readflussi_asci(run, 1.0f, true);
        wave.assign(run.remind.wave.data(), run.remind.wave.data() + run.remind.nlam);
        flux.assign(run.glotauspe.fluxes.ptr(1, 1, 1), run.glotauspe.fluxes.ptr(1, 1, 1) + 48 * run.remind.nlam);
    };
    std::vector<float> w1, f1, w2, f2;
    read_one("qv_ssp_real_z020.dat", w1, f1);
    read_one("qv_ssp_z020.dat", w2, f2);
    EXPECT_EQ(w1, w2);
    EXPECT_EQ(f1, f2);
}

TEST_F(ExampleFixture, ExampleModelRunsThroughTheSynthesis) {
    CapturedConsole cc;
    ASSERT_EQ(quelvo({"example"}, cc), 0) << cc.out.str() << cc.err.str();
    EXPECT_THAT(cc.out.str(), HasSubstr("Number of time steps ="));
    EXPECT_THAT(cc.out.str(), ::testing::Not(HasSubstr("too low")));
    const auto log = read_lines("example.out");
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), " USEFUL CHECKING NUMBERS FOLLOW");
    EXPECT_THAT(log.back(), HasSubstr(" used cpu time ="));
    // The rate of the closed box at 13 Gyr: 1e11 Msun exp(-13 / 4 Gyr) / 2.8 Gyr.
    const double want = 1e11 * std::exp(-0.7 * 13.0 / 2.8) / 2.8e9;
    bool found = false;
    for (const auto& l : log)
        if (l.find("Present SFR=") != std::string::npos) {
            found = true;
            const double sfr = std::stod(l.substr(l.find('=') + 1));
            EXPECT_NEAR(sfr, want, 1e-4 * want) << l;
            EXPECT_THAT(l, HasSubstr("Mo/yr"));
        }
    EXPECT_TRUE(found);
}

TEST_F(ExampleFixture, TimeSeriesHistoryRuns) {
    CapturedConsole cc;
    ASSERT_EQ(quelvo({"example", "istarfo=1", "namesf=example_ts"}, cc), 0) << cc.out.str() << cc.err.str();
    EXPECT_THAT(cc.out.str(), HasSubstr("Number of time steps ="));
    EXPECT_THAT(read_text("example.out"), HasSubstr("Present SFR="));
}

}  // namespace
}  // namespace qv::test
