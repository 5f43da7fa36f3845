// The galaxy driver between the synthesis and the dust: the bulge share of the
// formed stars, the present star-formation rate, the molecular fraction that a
// value above 1 sets, and the gate of the cloud model. The example model runs
// up to a stage and is stopped there.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "core/quelvo.h"
#include "core/run.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

namespace qv {
namespace {

using ::testing::HasSubstr;

// Thrown by the stage hook to end a run after the stage under test.
struct EnoughStages {};

struct DriverFixture : ::testing::Test {
    test::TempDir dir;
    test::CapturedConsole cc;
    std::unique_ptr<qv::Run> run_;
    std::string argv0;
    DriverFixture() { argv0 = test::write_example_model("m1", dir.file("data")); }

    qv::Run& run() { return *run_; }

    // Runs model m1 afresh with the overrides up to and including the stage named.
    void run_until(const std::string& stage, const std::vector<std::string>& overrides) {
        cc.out.str("");
        run_ = std::make_unique<qv::Run>(cc.con);
        qv::Run& run = *run_;
        std::vector<std::string> args = {argv0, "m1"};
        args.insert(args.end(), overrides.begin(), overrides.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        run.stage_done = [stage](const char* s) {
            if (stage == s) throw EnoughStages{};
        };
        try {
            run_quelvo(run, static_cast<int>(args.size()), argv.data());
            FAIL() << "the run went past " << stage;
        } catch (const EnoughStages&) {
        }
    }

    // The present rate in solar masses per year, as the run log gives it.
    float present_sfr() { return run().glopalla.sfrt * 1000.0f * run().remind.primordial_mass; }
};

TEST_F(DriverFixture, MolecularFractionAboveOneIsTheRateOfFullMolecularGas) {
    struct Case {
        const char* mmolfraz;
        float want;  // 0: the present rate over the value
    };
    for (const Case c : {Case{"5", 0.0f}, Case{"1.1", 1.0f}, Case{"1", 1.0f}, Case{"0.5", 0.5f}}) {
        SCOPED_TRACE(c.mmolfraz);
        run_until("dust preparation", {std::string("mmolfraz=") + c.mmolfraz});
        const float sfr = present_sfr();
        ASSERT_GT(sfr, 1.1f);  // the example forms 1.4 Mo/yr at 13 Gyr
        ASSERT_LT(sfr, 5.0f);
        const float want = c.want == 0.0f ? sfr / 5.0f : c.want;
        EXPECT_FLOAT_EQ(run().glopalla.mmolfraz, want);
    }
}

TEST_F(DriverFixture, PresentRateIsLoggedAfterTheOverrides) {
    run_until("dust preparation", {"tgal=12"});
    const auto log = test::read_lines("m1.out");
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0], " USEFUL CHECKING NUMBERS FOLLOW");
    EXPECT_EQ(log[1].rfind(" Forcing tgal to ", 0), 0u) << log[1];
    EXPECT_EQ(log[2].rfind(" Present SFR=", 0), 0u) << log[2];
    EXPECT_THAT(log[2], HasSubstr(" Mo/yr"));
    EXPECT_NEAR(std::stof(log[2].substr(13)), present_sfr(), 1e-6f * present_sfr());
}

TEST_F(DriverFixture, BulgeThatFormsEveryStarHoldsTheDiffuseDust) {
    // The bulge forms at its full share up to 20 Gyr, beyond the galaxy's age.
    run_until("dust preparation", {"igeo=-1", "t_bst=20", "a_bst=1", "fmdifbul=0.3"});
    EXPECT_EQ(run().remind.ncom, 2);
    EXPECT_EQ(run().glotauspe.bsut, 1.0f);
    EXPECT_EQ(run().parametri.fmdifbul, 1.0f);
    EXPECT_THAT(cc.out.str(), HasSubstr(" fmdifbul=    1.00000000"));
}

TEST_F(DriverFixture, BulgeLawFallingFromTheStart) {
    // t_bst 0: the bulge forms every star at t = 0, then a share falling to 0 at 1 Gyr.
    run_until("dust preparation", {"igeo=-1", "t_bst=0", "a_bst=1"});
    const BirthGrid& r = run().remind;
    EXPECT_EQ(r.sfrate(1, 1), 0.0f);
    EXPECT_GT(r.sfrate(1, 2), 0.0f);
    double bulge = 0.0, all = 0.0;
    for (int i = 1; i < r.icall; ++i) {
        auto at = [&](int k, int c) { return static_cast<double>(r.sfrate(k, c)); };
        for (int c = 1; c <= 2; ++c) ASSERT_TRUE(std::isfinite(r.sfrate(i, c))) << r.tbirth(i);
        if (r.tbirth(i) >= 1.0f) {
            EXPECT_EQ(r.sfrate(i, 2), 0.0f) << r.tbirth(i);
        }
        const double d = static_cast<double>(r.tbirth(i + 1)) - static_cast<double>(r.tbirth(i));
        bulge += 0.5 * d * (at(i + 1, 2) + at(i, 2));
        all += 0.5 * d * (at(i + 1, 1) + at(i, 1) + at(i + 1, 2) + at(i, 2));
    }
    EXPECT_NEAR(static_cast<double>(run().glotauspe.bsut), bulge / all, 1e-5);
    EXPECT_GT(run().glotauspe.bsut, 0.0f);
    EXPECT_LT(run().glotauspe.bsut, 0.5f);
}

TEST_F(DriverFixture, BulgeShareIsTheBulgesPartOfTheFormedMass) {
    // Full share to 2 Gyr, none after 4 Gyr: a part of the stars, and the
    // diffuse dust share of the par file.
    run_until("dust preparation", {"igeo=-1", "t_bst=2", "a_bst=0.5", "fmdifbul=0.3"});
    const BirthGrid& r = run().remind;
    double bulge = 0.0, all = 0.0;
    for (int i = 1; i < r.icall; ++i) {
        auto at = [&](int k, int c) { return static_cast<double>(r.sfrate(k, c)); };
        const double d = static_cast<double>(r.tbirth(i + 1)) - static_cast<double>(r.tbirth(i));
        bulge += 0.5 * d * (at(i + 1, 2) + at(i, 2));
        all += 0.5 * d * (at(i + 1, 1) + at(i, 1) + at(i + 1, 2) + at(i, 2));
    }
    EXPECT_GT(run().glotauspe.bsut, 0.1f);
    EXPECT_LT(run().glotauspe.bsut, 0.9f);
    EXPECT_NEAR(static_cast<double>(run().glotauspe.bsut), bulge / all, 1e-5);
    EXPECT_FLOAT_EQ(run().parametri.fmdifbul, 0.3f);
}

TEST_F(DriverFixture, CloudModelRunsOnlyForThickCloudsOrWithoutGas) {
    // The cloud model ends every call with this line.
    const std::string done = " FATTO PALLANOLT96";
    // Clouds of 1 solar mass are thin (tau1 about 1e-5): no cloud model.
    run_until("clouds", {"mcloud=1"});
    EXPECT_LE(run().glopalla.tau1, 1.0e-4f);
    EXPECT_THAT(cc.out.str(), ::testing::Not(HasSubstr(done)));
    // Without gas the cloud model runs whatever the clouds.
    run_until("clouds", {"mcloud=1", "mmolfraz=-1"});
    EXPECT_THAT(cc.out.str(), HasSubstr(done));
    // The example's clouds are thick.
    run_until("clouds", {});
    EXPECT_GT(run().glopalla.tau1, 1.0e-4f);
    EXPECT_THAT(cc.out.str(), HasSubstr(done));
    EXPECT_THAT(test::read_text("m1.out"), HasSubstr("n_tau_mc="));
}

}  // namespace
}  // namespace qv
