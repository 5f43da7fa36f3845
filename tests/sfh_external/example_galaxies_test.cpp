// The example galaxies of the external models, run end to end by the quelvo
// program from the generator's files and the par files in examples/, as the
// README runs them: the run log with the reader's summary, the energy budget,
// the spectra files; and the tav galaxy's history export (istarfo 5).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "generators.h"
#include "support/example_outputs.h"
#include "support/test_support.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

struct Galaxy {
    const char* kind;   // the generator's name of the model
    const char* model;  // model name (par file examples/<model>.par)
    std::vector<std::string> summary;  // the reader's run-log lines, in order (their beginnings)
};

void PrintTo(const Galaxy& g, std::ostream* os) {
    *os << g.kind << " model " << g.model << ", " << g.summary.size() << " run-log lines";
}

class ExampleGalaxy : public ::testing::TestWithParam<Galaxy> {
protected:
    TempDir dir;
    std::string out;

    int run(const std::string& args) { return run_quelvo(dir.path(), args, &out); }
    void SetUp() override {
        write_run_folder(dir.path());
        qvgen::write_external_galaxy(GetParam().kind, dir.path().string());
        copy_example_par(dir.path(), GetParam().model);
    }
};

TEST_P(ExampleGalaxy, RunsToItsSpectraWithTheEnergyBudgetClosed) {
    const std::string m = GetParam().model;
    ASSERT_EQ(run(m), 0) << out;
    EXPECT_THAT(out, HasSubstr("cputime="));
    const auto lines = read_lines(m + ".out");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), " USEFUL CHECKING NUMBERS FOLLOW");
    EXPECT_EQ(lines.back().rfind(" used cpu time =", 0), 0u);
    // The reader's summary comes first, then the stages in their order.
    std::vector<std::string> order = GetParam().summary;
    for (const char* s : {" Present SFR=", " tau palla a 1 micron=", " ncloud,lumdus,lprima-ldopo,lprima,ldopo",
                          " Output energy / Input (stars) energy", " L stars unextincted = ", " Angle average ",
                          " Direction  0.00 degrees", " Direction 45.00 degrees", " Direction 70.00 degrees",
                          " Direction 80.00 degrees", " Direction 90.00 degrees"})
        order.push_back(s);
    std::size_t at = 1;
    for (const auto& want : order) {
        while (at < lines.size() && lines[at].rfind(want, 0) != 0) ++at;
        ASSERT_LT(at, lines.size()) << "missing or out of order: '" << want << "'";
    }
    for (std::size_t i = 1; i <= GetParam().summary.size(); ++i)
        EXPECT_EQ(lines[i].rfind(GetParam().summary[i - 1], 0), 0u) << lines[i];
    const double present = number_after(lines, " Present SFR=");
    EXPECT_GT(present, 0.0);
    // The present rate is the files' own at the galaxy's age: the sum of the
    // last rows' rates (Msun/yr) of both files.
    if (std::string(GetParam().kind) == "pelto") {
        double last = 0.0;
        for (const char* f : {"gasoline_disk.sf", "gasoline_bulge.sf"}) {
            const auto r = numbers(read_lines(f).back());
            for (std::size_t j = 1; j < r.size(); ++j) last += r[j];
        }
        EXPECT_NEAR(present, last, 1e-4 * last);
    }
    if (std::string(GetParam().kind) == "sorvanto") {
        const auto d = numbers(read_lines("QVmodl.disc.sf").back()), b = numbers(read_lines("QVmodl.bulg.sf").back());
        EXPECT_NEAR(present, d[2] + b[2], 1e-4 * present);
        EXPECT_NEAR(present, number_after(lines, " SFR tot a Tgal="), 1e-5 * present);
    }

    // Energy: what leaves the galaxy (the clouds re-emit what they absorb) is
    // the starlight, within the margins of the standard example; the cirrus
    // re-emits what it absorbs.
    std::size_t k = 0;
    while (k < lines.size() && lines[k] != " ncloud,lumdus,lprima-ldopo,lprima,ldopo") ++k;
    ASSERT_LT(k + 1, lines.size());
    const auto c = numbers(lines[k + 1]);
    ASSERT_EQ(c.size(), 5u);
    const double e1 = number_after(lines, " L stars unextincted = ");
    const double out_in = number_after(lines, " Output energy / Input (stars) energy");
    EXPECT_GT(c[0] * c[2] / e1, 0.0);
    EXPECT_NEAR(out_in, 1.0, 0.05);
    const double cirrus = number_after(lines, " Energy emitted by cirrus / Energy absorbed by cirrus");
    EXPECT_GT(cirrus, 0.95);
    EXPECT_LT(cirrus, 1.05);

    for (const std::string suffix : {"spe", "0", "45", "70", "80", "90"}) {
        SCOPED_TRACE(suffix);
        const SpectrumTable spe = load_spectrum(m + "." + suffix);
        ASSERT_TRUE(spe.bad.empty()) << spe.bad.front();
        for (const auto& r : spe.rows) {
            for (double v : r) ASSERT_GE(v, 0.0) << r[0];
            if (r[0] < 1e6) {
                EXPECT_LE(std::fabs(r[5] - (r[1] + r[3] + r[4])), 2e-3 * r[5] + 1e-37) << r[0];
            }
        }
        EXPECT_EQ(spe.header.size(), 15u);
        EXPECT_GT(spe.rows.size(), 100u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    External, ExampleGalaxy,
    ::testing::Values(Galaxy{"tav", "tav42",
                             {" tgal=", " tfin=", " t last burst=", " Galaxy  mass at tfin=", " Star=", " zmet ISM=",
                              " Bulge/tot in massa=", " Bulge/tot in B    =", " rc=", " rd="}},
                      Galaxy{"pelto", "pelto",
                             {" tgal=", " Galaxy  mass at tfin=", " Star=", " zmet ISM=", " rcstar=", " rdstar=",
                              " rddiff=", " zdstar=", " zddiff="}},
                      Galaxy{"sorvanto", "sorvanto",
                             {" tgal=", " Galaxy  mass at tgal=", " frac Star tot=", " Star disk=", " Gas disk=",
                              " f Mdif bulge=", " zmet ISM=", " SFR tot a Tgal=", " SFR disk e bulge=",
                              " rcstar,rcdiff= ", " rdstar,rddiff= ", " zdstar,zddiff= "}}),
    [](const auto& i) { return std::string(i.param.kind); });

// istarfo 5: the history goes to the export files and the run ends there,
// normally, with nothing more on standard output or in the run log. The
// export's rows at tgal hold the present rate of the galaxy run with istarfo 4.
TEST(TavExport, IstarfoFiveEndsTheRunAfterItsExport) {
    TempDir dir;
    write_run_folder(dir.path());
    qvgen::write_external_galaxy("tav", dir.path().string());
    copy_example_par(dir.path(), "tav42");
    std::string out;
    ASSERT_EQ(run_quelvo(dir.path(), "tav42 istarfo=5 nameres=export", &out), 0) << out;
    EXPECT_EQ(out.find("cputime="), std::string::npos);
    const auto lines = read_lines("export.out");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind(" rd=", 0), 0u);
    EXPECT_FALSE(fs::exists("export.spe"));
    const double tgal = number_after(lines, " tgal=");

    const auto sft = read_lines("tav42.sft");
    const auto sfd = read_lines("tav42.sfd");
    const auto sfb = read_lines("tav42.sfb");
    ASSERT_GT(sft.size(), 50u);
    EXPECT_EQ(sft[0], "# age, SFR disk, SFR bulge");
    EXPECT_EQ(sfd[0], "#first line zbin, then age, SFR disk");
    EXPECT_EQ(sfb[0], "#first line zbin, then age, SFR bulge");
    EXPECT_EQ(numbers(sfd[1]).size(), 5u);
    ASSERT_EQ(sfd.size(), sft.size() + 1);
    ASSERT_EQ(sfb.size(), sft.size() + 1);
    std::vector<double> near_tgal;  // the totals of the rows printed at tgal
    double last_age = -1.0;
    for (std::size_t i = 1; i < sft.size(); ++i) {
        const auto r = numbers(sft[i]);
        ASSERT_EQ(r.size(), 3u) << sft[i];
        EXPECT_GE(r[0], last_age) << i;  // the grid ascends
        last_age = r[0];
        // The bins of each component add up to its total.
        const auto d = numbers(sfd[i + 1]), b = numbers(sfb[i + 1]);
        ASSERT_EQ(d.size(), 6u);
        ASSERT_EQ(b.size(), 6u);
        double sd = 0, sb = 0;
        for (int j = 1; j <= 5; ++j) {
            sd += d[static_cast<std::size_t>(j)];
            sb += b[static_cast<std::size_t>(j)];
        }
        EXPECT_NEAR(sd, r[1], 2e-3 * r[1] + 1e-3);
        EXPECT_NEAR(sb, r[2], 2e-3 * r[2] + 1e-3);
        if (std::fabs(r[0] - tgal) <= 5e-3 * tgal) near_tgal.push_back(r[1] + r[2]);
    }

    ASSERT_EQ(run_quelvo(dir.path(), "tav42", &out), 0) << out;
    const double present = number_after(read_lines("tav42.out"), " Present SFR=");
    bool found = false;
    for (double v : near_tgal) found = found || std::fabs(v - present) <= 2e-3 * present;
    EXPECT_TRUE(found) << present;
}

}  // namespace
}  // namespace qv::test
