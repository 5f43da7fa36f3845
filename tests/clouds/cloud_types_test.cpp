// The cloud types: the MC_LINE section or its one-type fallback, and the optical
// depth of one cloud of each type.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "clouds/cloud_types.h"
#include "core/run.h"
#include "core/stop.h"
#include "dust/grain_fixture.h"
#include "dust/grain_mix.h"
#include "support/test_support.h"

namespace qv {
namespace {

struct CloudRun {
    test::TempDir tmp;
    test::CapturedConsole cc;
    Run run{cc.con};
    explicit CloudRun(const std::string& par) {
        test::write_text(tmp.file("m.par"), par);
        run.modname.name = "m";
        run.modname.name_dir = test::plane_grain_dir();
        run.glopalla.rcloud = 16.0f;
        run.glopalla.etastart = 0.004f;
    }
};


const std::string kMain = "MAIN\nistarfo   0\n";

std::string mc_line(const std::string& body) {
    return "MC_LINE\nradii (pc), mass fractions, escape ages (Gyr)\nof the cloud types\n" + body;
}

std::vector<float> values(const Vec<float>& v) { return std::vector<float>(v.data(), v.data() + v.size()); }

TEST(CloudTypes, RecordStartsWithOneType) {
    CloudTypes mc;
    EXPECT_EQ(mc.n_tau_mc, 1);
    EXPECT_FALSE(mc.r_mc_arr.allocated());
    EXPECT_EQ(mc.nomemodello.extent(0), 10);
    EXPECT_EQ(mc.nomemodello.extent(1), 10);
}

TEST(CloudTypes, MissingSectionGivesOneTypeFromTheMainKeys) {
    CloudRun c(kMain + "SSP\n");
    mc_righe::read_mc_line(c.run);
    const CloudTypes& mc = c.run.mc_righe;
    EXPECT_EQ(mc.n_tau_mc, 1);
    EXPECT_EQ(values(mc.r_mc_arr), std::vector<float>{16.0f});
    EXPECT_EQ(values(mc.f_mc_arr), std::vector<float>{1.0f});
    EXPECT_EQ(values(mc.t0_arr), std::vector<float>{0.004f});
    const auto out = c.cc.out_lines();
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], " Key MC_LINE not found in file " + std::string("m.par"));
    EXPECT_EQ(out[1], " use one MC");
}

TEST(CloudTypes, ListsMayRunOverSeveralLinesAndTheSectionStandAnywhere) {
    struct C {
        const char* what;
        std::string par;
    } cases[] = {
        {"one line each", kMain + mc_line("2\n16.0 30.0\n0.6 0.4\n0.003 0.005\n")},
        {"over several lines, commas, trailing text",
         mc_line("2   types\n16.0\n30.0\n0.6,\n0.4\n0.003\n0.005 this is not read\nLVG\n") + kMain},
        {"extra values on a line are not read",
         kMain + mc_line("2 7\n16.0 30.0 99.0\n0.6 0.4 0.0\n0.003 0.005 1.0\n")},
    };
    for (const C& cs : cases) {
        CloudRun c(cs.par);
        mc_righe::read_mc_line(c.run);
        const CloudTypes& mc = c.run.mc_righe;
        EXPECT_EQ(mc.n_tau_mc, 2) << cs.what;
        EXPECT_EQ(values(mc.r_mc_arr), (std::vector<float>{16.0f, 30.0f})) << cs.what;
        EXPECT_EQ(values(mc.f_mc_arr), (std::vector<float>{0.6f, 0.4f})) << cs.what;
        EXPECT_EQ(values(mc.t0_arr), (std::vector<float>{0.003f, 0.005f})) << cs.what;
        EXPECT_TRUE(c.cc.out_lines().empty()) << cs.what;
    }
}

// The count is checked against the values the file can give before the lists
// are made: repeat counts and null values count, a "/" gives none.
TEST(CloudTypes, CountIsBoundByTheValuesThatFollow) {
    for (const char* ok : {"3\n3*10.0\n0.5 2*0.25\n3*0.003\n", "3\n10.0 20.0 30.0\n0.5,,0.5\n3*0.003\n",
                           "3\n10.0 20.0 30.0\n1.0 /\n/\n"}) {
        CloudRun c(mc_line(ok));
        EXPECT_NO_THROW(mc_righe::read_mc_line(c.run)) << ok;
        EXPECT_EQ(c.run.mc_righe.n_tau_mc, 3) << ok;
    }
    // Free text after the section (with a "/" in it) does not lift the bound.
    CloudRun c(mc_line("2000000000\n10.0 20.0\n0.5 0.5\n0.1 0.1\nLVG\n% km/s/pc\n"));
    try {
        mc_righe::read_mc_line(c.run);
        ADD_FAILURE() << "no stop";
    } catch (const IoError& e) {
        EXPECT_NE(std::string(e.what()).find("m.par:4: section MC_LINE counts 2000000000 cloud types, whose "
                                             "2000000000 radii the lines after the count cannot hold (at most 11 "
                                             "values)"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_FALSE(c.run.mc_righe.r_mc_arr.allocated());
}

// Values the cloud model cannot use stop where they are read, naming MC_LINE,
// the type and the value: radii by the mode of the run (pc, or a ratio of
// radii), fractions within [0, 1] whatever their sum, finite ages.
TEST(CloudTypes, ValuesAreCheckedWhereTheyAreRead) {
    const struct {
        const char* body;
        bool ratio;
        const char* said;
    } cases[] = {
        {"2\n10.0 0\n0.5 0.5\n0.1 0.1\n", false, "radius (pc) of cloud type 2 = 0 must be positive"},
        {"1\n-3\n1\n0.1\n", false, "radius (pc) of cloud type 1 = -3 must be positive"},
        {"1\n-3\n1\n0.1\n", true, "ratio of radii of cloud type 1 = -3 must be positive"},
        {"1\n1.005\n1\n0.1\n", true,
         "ratio of radii of cloud type 1 = 1.005 must be at least 1.01: the cloud solver's radial grid needs an "
         "outer radius of at least 1.01 times the inner one"},
        {"1\nnan\n1\n0.1\n", false, "radius (pc) of cloud type 1 = nan is not a finite number"},
        {"1\n1e-30\n1\n0.1\n", false, "radius (pc) of cloud type 1 = 1e-30 is so small"},
        {"1\n1e-12\n1\n0.1\n", false, "radius (pc) of cloud type 1 = 1e-12 is so small"},  // its density
        {"1\n1e30\n1\n0.1\n", false, "radius (pc) of cloud type 1 = 1e+30 is so large"},
        {"2\n10 20\nnan 1\n0.1 0.1\n", false, "mass fraction of cloud type 1 = nan must lie between 0 and 1"},
        {"2\n10 20\n1.5 -0.5\n0.1 0.1\n", false, "mass fraction of cloud type 1 = 1.5 must lie between 0 and 1"},
        {"2\n10 20\n0.5 0.5\n0.1 inf\n", false, "age (Gyr) at which stars begin to leave of cloud type 2 = inf"},
    };
    for (const auto& cs : cases) {
        CloudRun c(mc_line(cs.body));
        c.run.glopalla.rmsr0_flag = cs.ratio;
        c.run.glopalla.mcloud = cs.ratio ? -10.0f : 1.0e6f;
        try {
            mc_righe::read_mc_line(c.run);
            ADD_FAILURE() << cs.body << ": no stop";
        } catch (const Stop& s) {
            ASSERT_EQ(s.lines.size(), 1u);
            EXPECT_EQ(s.lines[0].rfind(std::string(" FATAL ERROR - section MC_LINE of file m.par: ") + cs.said, 0), 0u)
                << s.lines[0];
        }
    }
    // A ratio beyond 1e6 is the shell's thickness in cm, and large radii in pc that
    // keep every quantity finite are the user's choice.
    for (const char* ok : {"1\n5e7\n1\n0.1\n"}) {
        CloudRun c(mc_line(ok));
        c.run.glopalla.rmsr0_flag = true;
        EXPECT_NO_THROW(mc_righe::read_mc_line(c.run));
    }
    CloudRun big(mc_line("1\n1e6\n1\n0.1\n"));
    big.run.glopalla.mcloud = 1.0e6f;
    EXPECT_NO_THROW(mc_righe::read_mc_line(big.run));
}

TEST(CloudTypes, FractionsMustSumToOne) {
    {
        CloudRun c(mc_line("2\n10.0 20.0\n0.5 0.4999995\n0.003 0.004\n"));
        EXPECT_NO_THROW(mc_righe::read_mc_line(c.run));
    }
    struct C {
        const char* body;
        float sum;
    } bad[] = {{"2\n10.0 20.0\n0.5 0.49\n0.003 0.004\n", 0.99f},
               {"2\n10.0 20.0\n0.6 0.6\n0.003 0.004\n", 1.2f},
               {"0\n", 0.0f}};
    for (const C& b : bad) {
        CloudRun c(mc_line(b.body));
        try {
            mc_righe::read_mc_line(c.run);
            ADD_FAILURE() << b.body << ": no stop";
        } catch (const Stop& s) {
            ASSERT_EQ(s.lines.size(), 1u);
            const std::string head = " controlla f_mc_arr: sum(f_mc_arr)= ";
            ASSERT_EQ(s.lines[0].rfind(head, 0), 0u) << s.lines[0];
            EXPECT_NEAR(std::stof(s.lines[0].substr(head.size())), b.sum, 1e-6f) << s.lines[0];
        }
    }
}

TEST(CloudTypes, UnreadableSectionIsAnIoError) {
    const char* bodies[] = {"2\n10.0 20.0\n0.5 0.5\n", "2\n10.0 abc\n0.5 0.5\n0.1 0.1\n", "", "two\n"};
    for (const char* b : bodies) {
        CloudRun c(mc_line(b));
        EXPECT_THROW(mc_righe::read_mc_line(c.run), IoError) << b;
    }
    CloudRun c("MC_LINE\nonly one text line\n");
    EXPECT_THROW(mc_righe::read_mc_line(c.run), IoError);
}

// ---------------------------------------------------------------------------

std::string with_mixmol(const std::string& par) { return par + test::MixKeys().text("MIXMOL"); }

// The optical depth of a uniform sphere of the run's cloud mass and radius r.
double tau_of(const qv::Run& run, double k1, double r) {
    const double hsug = run.mix.hsug, dsug = run.mix.dsug, mcloud = run.glopalla.mcloud;
    const double dsugst = SolverGrainMix::dsugst;
    return hsug * (k1 * dsug / dsugst / 1.673e-24 * mcloud * 4.987064e-5) / (r * r);
}

TEST(CloudTypes, OpticalDepthOfOneCloudOfEachType) {
    CloudRun c(with_mixmol(mc_line("2\n16.0 30.0\n0.6 0.4\n0.003 0.005\n")));
    qv::Run& run = c.run;
    run.mix.dsug = 0.0089f;
    run.glopalla.mcloud = 1.0e6f;
    run.glopalla.tau1 = 1.0f;  // with two types it is not looked at
    mc_righe::read_mc_line(run);
    mc_righe::set_mc_arr(run);
    const float k1 = glopalla::mixpalla(run, 1.0f);
    ASSERT_EQ(run.mc_righe.tau_mc_arr.size(), 2u);
    const double t1 = run.mc_righe.tau_mc_arr(1), t2 = run.mc_righe.tau_mc_arr(2);
    EXPECT_NEAR(t1 / tau_of(run, k1, 16.0), 1.0, 1e-5);
    EXPECT_NEAR(t2 / tau_of(run, k1, 30.0), 1.0, 1e-5);
    EXPECT_NEAR(t1 / t2, (30.0 * 30.0) / (16.0 * 16.0), 1e-5);
    for (const auto& l : c.cc.out_lines()) EXPECT_EQ(l.find("non coincidono"), std::string::npos);
}

TEST(CloudTypes, OneTypeKeepsItsDepthWithinOnePercentOfTau1) {
    for (double ratio : {1.005, 0.995, 1.02, 0.5}) {
        CloudRun c(with_mixmol(kMain));
        qv::Run& run = c.run;
        run.mix.dsug = 0.0089f;
        run.glopalla.mcloud = 3.0e5f;
        mc_righe::read_mc_line(run);
        const float k1 = glopalla::mixpalla(run, 1.0f);
        const double own = tau_of(run, k1, 16.0);
        run.glopalla.tau1 = static_cast<float>(own * ratio);
        mc_righe::set_mc_arr(run);
        const bool replaced = std::fabs(ratio - 1.0) > 0.01;
        const auto out = c.cc.out_lines();
        EXPECT_EQ(out.back() == " I tau1 non coincidono: uso quello settato in predust", replaced)
            << ratio;
        if (replaced) {
            EXPECT_EQ(run.mc_righe.tau_mc_arr(1), run.glopalla.tau1) << ratio;
        } else {
            EXPECT_NEAR(static_cast<double>(run.mc_righe.tau_mc_arr(1)) / own, 1.0, 1e-5) << ratio;
        }
    }
}

}  // namespace
}  // namespace qv
