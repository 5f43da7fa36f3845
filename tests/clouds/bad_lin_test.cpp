// Stellar masses of the HII model list so far from the stars' masses that the
// HII lines would leave the range of 4-byte reals: the run stops at the HII
// stage naming the list's line, and writes no pan file and no spectra.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/model_fixture.h"
#include "support/test_support.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

TEST(BadModelList, AMassWhoseLinesAreNotFiniteStopsNamingTheLine) {
    // 1e38 overflows the spectrum divided by the mass ratio; 1e-38 the ratio itself.
    for (const char* mass : {"1.0e38", "1.0e-38"}) {
        TempDir dir;
        write_example_model("m1", dir.file("data"));
        fs::create_symlink(bin_path("quelvo"), dir.path() / "data" / "quelvo");
        // The last row: the stars that have left the clouds.
        write_text("m1.lin", std::string("1\n1.0e4  'qv_hii'\n1.0e4  'qv_hii'\n") + mass + "  qv_hii\n");
        std::string out;
        const int rc = run_command("cd '" + dir.path().string() + "' && ./data/quelvo m1 2>&1", &out);
        EXPECT_EQ(rc, 1) << mass << "\n" << out;
        EXPECT_THAT(out, HasSubstr("HII model list m1.lin line 4: the stellar mass of set 1 of row 3")) << mass;
        EXPECT_THAT(out, HasSubstr("HII lines are not finite numbers")) << mass;
        for (const char* f : {"m1.pan", "m1.spe", "m1.0", "m1.90"}) EXPECT_FALSE(fs::exists(f)) << mass << " " << f;
    }
}

}  // namespace
}  // namespace qv::test
