// The example model with its two types of molecular clouds, from the command line
// and through the driver: the cloud model's run-log records, and the energy the
// clouds take from the starlight, which is the difference between the stellar
// luminosity before and after them.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "core/quelvo.h"
#include "core/run.h"
#include "support/example_outputs.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

namespace qv {
namespace {

double dbl(float x) { return x; }

std::vector<float> numbers_after(const std::string& line, const std::string& label) {
    std::vector<float> v;
    if (line.rfind(label, 0) != 0) {
        ADD_FAILURE() << "expected " << label << " in: " << line;
        return v;
    }
    std::istringstream s(line.substr(label.size()));
    float x;
    while (s >> x) v.push_back(x);
    return v;
}

// The cloud model's seven records in the run log, from its header line on.
std::vector<std::string> cloud_records(const std::vector<std::string>& log) {
    for (std::size_t i = 0; i < log.size(); ++i)
        if (log[i] == " ncloud,lumdus,lprima-ldopo,lprima,ldopo") {
            if (i + 7 > log.size()) break;
            return std::vector<std::string>(log.begin() + static_cast<long>(i),
                                            log.begin() + static_cast<long>(i) + 7);
        }
    return {};
}

// ncloud, lumdus, lprima-ldopo, lprima, ldopo of the 5G15.5 record.
std::vector<float> budget(const std::string& rec) {
    std::vector<float> v;
    EXPECT_EQ(rec.size(), 75u) << rec;
    for (std::size_t m = 0; m + 15 <= rec.size(); m += 15) v.push_back(std::stof(rec.substr(m, 15)));
    return v;
}

// Trapezoid over the SSP wavelengths of the sum over components.
double bolometric(const Run& run, const Mat<float>& l) {
    const BirthGrid& r = run.remind;
    double tot = 0.0;
    for (int k = 1; k < r.nlam; ++k) {
        double a = 0.0, b = 0.0;
        for (int c = 1; c <= r.ncom; ++c) {
            a += dbl(l(k, c));
            b += dbl(l(k + 1, c));
        }
        tot += 0.5 * (a + b) * (dbl(r.wave(k + 1)) - dbl(r.wave(k)));
    }
    return tot;
}

TEST(CloudModelExample, TheCommandLogsTheCloudsOfTheExampleModel) {
    const test::ExampleModelRun ex("example");
    test::CapturedConsole cc;
    ASSERT_EQ(ex.run({"example"}, cc), 0) << cc.out.str() << cc.err.str();

    const auto rec = cloud_records(test::read_lines("example.out"));
    ASSERT_EQ(rec.size(), 7u) << test::read_text("example.out");
    const std::vector<float> b = budget(rec[1]);
    ASSERT_EQ(b.size(), 5u);
    EXPECT_GT(b[0], 0.0f);                           // ncloud
    EXPECT_EQ(b[1], 0.0f);                           // no cloud dust emission yet
    EXPECT_GT(b[2], 0.0f);                           // the clouds take light
    EXPECT_LT(b[4], b[3]);                           // ldopo < lprima
    EXPECT_EQ(numbers_after(rec[2], " n_tau_mc="), std::vector<float>{2.0f});
    EXPECT_EQ(numbers_after(rec[3], " tau1=").size(), 2u);
    EXPECT_EQ(numbers_after(rec[4], " rcloud[pc]="), (std::vector<float>{16.0f, 30.0f}));
    EXPECT_EQ(numbers_after(rec[5], " f_mc_arr="), (std::vector<float>{0.6f, 0.4f}));
    EXPECT_EQ(numbers_after(rec[6], " t0_arr[Gyr]="), (std::vector<float>{0.003f, 0.005f}));

    int fatto = 0;
    for (const auto& l : cc.out_lines()) fatto += l == " FATTO PALLANOLT96";
    EXPECT_EQ(fatto, 1);
}

TEST(CloudModelExample, TheCloudsTakeTheDifferenceBetweenTheStarlightBeforeAndAfterThem) {
    test::TempDir tmp;
    const std::string argv0 = test::write_example_model("example", tmp.file("data"));
    test::CapturedConsole cc;
    qv::Run run(cc.con);
    run.modname.name = "example";
    run.modname.name_res = "example";
    run.modname.name_sf = "example";
    run.modname.name_dir = clean_name_dir(argv0);
    test::write_text("example.out", " USEFUL CHECKING NUMBERS FOLLOW\n");
    qvmain(run);

    const CloudSetup& gp = run.glopalla;
    ASSERT_GT(gp.mmol, 0.0f);
    const auto rec = cloud_records(test::read_lines("example.out"));
    ASSERT_EQ(rec.size(), 7u);
    const std::vector<float> b = budget(rec[1]);
    ASSERT_EQ(b.size(), 5u);

    const double before = run.remind.e1;
    const double after = bolometric(run, gp.l_stamc);
    const double taken = dbl(b[2]) * dbl(gp.ncloud);
    ASSERT_GT(before - after, 0.0);
    // Within the five digits of the record.
    EXPECT_NEAR(taken / (before - after), 1.0, 1e-4)
        << "taken " << taken << " before " << before << " after " << after;
    // The luminosity of all stars after the clouds.
    EXPECT_NEAR(dbl(gp.e2inpdiftru) / after, 1.0, 2e-5);
    // Before the clouds the same light as the dust preparation's.
    EXPECT_NEAR(dbl(b[3]) * dbl(gp.ncloud) / before, 1.0, 1e-4);
}

}  // namespace
}  // namespace qv
