// The example model run by the quelvo program with inputs that a user may try:
// other dust-grid sizes with the PAH bands, the spectra on the SSP grid, and
// values that make a checking number of the run log lose its value. A spheroid
// of 8 radial cells keeps each run short; its dust and stars are the example's.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/example_outputs.h"
#include "support/test_support.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;

const std::string kFast = " igeo=1 ndr=8 namesf=example";

class ExampleVariants : public ::testing::Test {
protected:
    static inline fs::path dir;

    static void SetUpTestSuite() {
        dir = fresh_folder("qv-variants");
        write_example_folder(dir);
        const std::string par = read_text((dir / "example.par").string());
        // An almost dust-free galaxy: its own par file, the example's history.
        const std::string key = "\ndsug      0.0089";
        const auto at = par.find(key);
        ASSERT_NE(at, std::string::npos);
        write_text((dir / "nodust.par").string(), par.substr(0, at) + "\ndsug      1e-30 " + par.substr(at + key.size()));
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    static std::string path(const std::string& name) { return (dir / name).string(); }
    static int run(const std::string& args, std::string* out) {
        return run_quelvo(dir, args, out);
    }
};

// A number without a value, as the formatted output writes one (NaN, Infinity,
// Inf, with a sign) or as C would (nan, inf).
bool has_no_value(const std::string& text) {
    std::istringstream in(text);
    std::string tok;
    while (in >> tok) {
        std::string t;
        for (char ch : tok)
            if (ch != '+' && ch != '-' && ch != '=') t += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (t == "nan" || t == "inf" || t == "infinity") return true;
    }
    return false;
}

struct Case {
    const char* what;
    std::string args;
    int status;
    const char* says;  // a line of standard output (the stop's message), or ""
};

TEST_F(ExampleVariants, ExitStatusAndRunLogsWithoutNaNOrInfinity) {
    const Case cases[] = {
        {"nlf 200 with the PAH bands", "example nlf=200 nameres=nlf200" + kFast, 0, ""},
        {"nlf 333 with the PAH bands", "example nlf=333 nameres=nlf333" + kFast, 0, ""},
        {"almost no dust", "nodust nameres=nodust" + kFast, 0, ""},
        {"a cloud radius of 1e-30 pc", "example rcloud=1e-30 nameres=tiny" + kFast, 1,
         "FATAL ERROR: rcloud = 1e-30 (cloud radius, pc) is too small: the clouds' optical depth at 1 micron "
         "is not finite"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string out;
        EXPECT_EQ(run(c.args, &out), c.status) << out;
        EXPECT_NE(out.find(c.says), std::string::npos) << out;
        const std::string res = c.args.substr(c.args.find("nameres=") + 8, c.args.find(' ', c.args.find("nameres=")) -
                                                                               c.args.find("nameres=") - 8);
        const std::string log = read_text(path(res + ".out"));
        EXPECT_FALSE(has_no_value(log)) << log;
        if (c.status == 0) {
            EXPECT_FALSE(has_no_value(out)) << out;
        }
    }
    // The dust-free galaxy prints 0 where a ratio to the dust's absorption has no value.
    const std::string log = read_text(path("nodust.out"));
    EXPECT_NE(log.find(" Conversion factor to tau_extinction =   0.000"), std::string::npos) << log;
}

TEST_F(ExampleVariants, SpectraOnTheSspGridKeepTheStarlight) {
    std::string out;
    ASSERT_EQ(run("example wavsspout=1 nameres=ssp" + kFast, &out), 0) << out;
    for (const std::string suffix : {"spe", "0", "90"}) {
        SCOPED_TRACE(suffix);
        const auto dust = spectrum_rows(path("ssp." + suffix));
        const auto ssp = spectrum_rows(path("ssp.ssp." + suffix));
        ASSERT_FALSE(dust.empty());
        ASSERT_FALSE(ssp.empty());
        for (const auto& r : ssp)
            for (double x : r) EXPECT_GE(x, 0.0);
        // Every wavelength of the dust-grid file that has starlight keeps it on
        // the SSP grid (the end rows, read back with four digits, included).
        for (const auto& d : dust) {
            if (d[2] <= 0.0) continue;
            bool seen = false;
            for (const auto& r : ssp) {
                if (std::fabs(r[0] - d[0]) > 1e-6 * d[0]) continue;
                seen = true;
                EXPECT_GT(r[2], 0.0) << "starlight at " << r[0];
                EXPECT_GT(r[6], 0.0) << "unattenuated starlight at " << r[0];
            }
            EXPECT_TRUE(seen) << d[0];
        }
    }
}

}  // namespace
}  // namespace qv::test
