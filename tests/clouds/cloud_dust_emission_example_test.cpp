// The example model's molecular clouds glowing in the infrared, from the command
// line: one "Rsubl=" line per cloud type, the clouds' dust luminosity equal to
// the starlight they absorb, the energy budget of the whole galaxy, a cloud
// emission column in every spectra file, and no scratch file left behind.
//
// The runs use the example with thicker disks and a dust grid of 60 points
// (as the spectra tests do), which keeps them to seconds under the sanitizers.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "core/quelvo.h"
#include "generators.h"
#include "support/example_outputs.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using test::numbers;

// Without the HII regions, whose lines leave the energy budget for the pan file.
const std::vector<std::string> kSmaller = {"emiflag=1", "pahflag=0", "hiiflag=0", "zddiff=0.5", "zdstar=0.5", "nlf=60"};
int index_of(const std::vector<std::string>& lines, const std::string& head) {
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].rfind(head, 0) == 0) return static_cast<int>(i);
    return -1;
}

struct ExampleCase {
    const char* what;
    std::vector<std::string> args;
    double reemitted;  // the clouds' dust luminosity over the light they absorb
    double tolerance;
};

TEST(CloudDustEmissionExample, TheCloudsReEmitWhatTheyAbsorb) {
    // The emulator is normalised to the absorbed light. The solver gives back
    // 0.947 of it on this model: it does not re-emit the ultraviolet light
    // that the clouds' PAHs absorb (the largest term, about 8 %), its three
    // fixed passes stop short of balance, the smoothed source and the
    // conservation target on its 54 frequencies add a few per cent, and the
    // mapping of its spectrum onto the galaxy's grid takes one to three. Held
    // to 1 %, so that a change of one of these (the conservation target, the
    // rays' optical-depth stop) is seen.
    const ExampleCase cases[] = {
        {"solved clouds", {}, 0.947, 0.01},
        {"emulated clouds", {"annflag=1"}, 1.0, 1e-3},
    };
    for (const ExampleCase& ec : cases) {
        SCOPED_TRACE(ec.what);
        test::ExampleModelRun ex;
        qvgen::write_emulator_files(ex.dir.file("data"));
        std::vector<std::string> args = {"m1"};
        args.insert(args.end(), kSmaller.begin(), kSmaller.end());
        args.insert(args.end(), ec.args.begin(), ec.args.end());
        test::CapturedConsole cc;
        ASSERT_EQ(ex.run(args, cc), 0) << cc.out.str();

        const auto log = test::read_lines("m1.out");
        const int kc = index_of(log, " ncloud,lumdus,lprima-ldopo,lprima,ldopo");
        ASSERT_GE(kc, 2);
        // One line per cloud type, just before the cloud model's records.
        EXPECT_EQ(log[static_cast<std::size_t>(kc - 2)].rfind(" Rsubl=", 0), 0u);
        EXPECT_EQ(log[static_cast<std::size_t>(kc - 1)].rfind(" Rsubl=", 0), 0u);
        const auto rec = numbers(log[static_cast<std::size_t>(kc + 1)]);
        ASSERT_EQ(rec.size(), 5u);
        EXPECT_GT(rec[2], 0.0);
        EXPECT_NEAR(rec[1] / rec[2], ec.reemitted, ec.tolerance) << "dust luminosity of one cloud over the light it absorbs";
        const int ko = index_of(log, " Output energy / Input (stars) energy");
        ASSERT_GE(ko, 0);
        EXPECT_NEAR(numbers(log[static_cast<std::size_t>(ko)]).at(0), 1.0, 0.03);

        for (const auto& suffix : test::kExampleSuffixes) {
            SCOPED_TRACE(suffix);
            const test::SpectrumTable spe = test::load_spectrum("m1." + suffix);
            ASSERT_TRUE(spe.bad.empty()) << spe.bad.front();
            const int rows = static_cast<int>(spe.rows.size());
            int glowing = 0;
            for (const auto& v : spe.rows)
                if (v[4] > 0.0) ++glowing;
            EXPECT_GT(rows, 60);
            EXPECT_GT(glowing, rows / 2);
        }
        const auto out = cc.out_lines();
        EXPECT_GE(index_of(out, " seed="), 0);
        EXPECT_GE(index_of(out, " scratch files tmp"), 0);
        for (const auto& e : fs::directory_iterator(ex.dir.path())) {
            const std::string f = e.path().filename().string();
            const bool scratch = f.rfind("tmp", 0) == 0 && f.size() == 11 && f.substr(7) != ".MAP";
            EXPECT_FALSE(scratch) << f;
        }
        // The solver's smoothed source table stays, complete.
        if (ec.args.empty()) {
            EXPECT_GT(test::read_lines("ssp.SCR").size(), 100u);
        }
    }
}

}  // namespace
}  // namespace qv
