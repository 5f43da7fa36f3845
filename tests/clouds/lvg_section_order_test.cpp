// The LVG section may stand anywhere in the par file: the example model, run in
// this process with its LVG section moved in front of SSP or of MC_LINE, gives
// the run log, spectra, pan and lvg files of the example as shipped; with a
// z_lvg of 0 it gives the same spectra and no lvg file, whatever follows the
// z_lvg line.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "support/example_outputs.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

struct Order {
    const char* name;
    const char* before;  // the section the LVG section is moved in front of
    const char* z_lvg;   // value field of z_lvg
};

void PrintTo(const Order& o, std::ostream* os) {
    *os << o.name << ": LVG section before " << o.before << ", z_lvg " << o.z_lvg;
}

// The example par file with its LVG section (the last one) moved in front of
// the key line of section `before`, and z_lvg set.
std::string moved_lvg(const std::string& par, const Order& o) {
    const std::size_t at = par.find("\nLVG\n");
    EXPECT_NE(at, std::string::npos);
    std::string lvg = par.substr(at + 1);
    std::string rest = par.substr(0, at + 1);
    const std::string zkey = "\nz_lvg     ";
    const std::size_t z = ("\n" + lvg).find(zkey);
    EXPECT_NE(z, std::string::npos);
    std::string v = o.z_lvg;
    v.resize(10, ' ');
    lvg.replace(z - 1 + zkey.size(), 10, v);
    if (lvg.back() != '\n') lvg += '\n';
    const std::size_t sec = rest.find("\n" + std::string(o.before) + "\n");
    EXPECT_NE(sec, std::string::npos) << o.before;
    rest.insert(sec + 1, lvg + "\n");
    return rest;
}

// Lines of a run log that differ from run to run: the times, the solver's seed
// and scratch names.
std::vector<std::string> steady(const std::vector<std::string>& lines) {
    std::vector<std::string> v;
    for (const auto& l : lines) {
        bool varies = false;
        for (const char* k : {"time", "seed=", "scratch files", "Impiegati"})
            if (l.find(k) != std::string::npos) varies = true;
        if (!varies) v.push_back(l);
    }
    return v;
}

class LvgSectionOrder : public ::testing::TestWithParam<Order> {};

TEST_P(LvgSectionOrder, RunsAsTheExampleAsShipped) {
    const Order& o = GetParam();
    test::TempDir dir;
    const std::string argv0 = test::write_example_model("example", dir.file("data"), true);
    const std::string par = moved_lvg(test::read_text("example.par"), o);
    ASSERT_LT(par.find("\nLVG\n"), par.find("\n" + std::string(o.before) + "\n"));
    test::write_text("example.par", par);

    test::CapturedConsole cc("", false);
    ASSERT_EQ(test::run_quelvo_main(argv0, {"example"}, cc), 0) << cc.out.str() << cc.err.str();
    const std::string out = cc.out.str();
    EXPECT_EQ(out.find("FATAL"), std::string::npos) << out;

    const std::string expected = std::string(QV_SOURCE_DIR) + "/examples/expected/";
    std::vector<std::string> files = {"example.pan"};
    for (const auto& suffix : test::kExampleSuffixes) files.push_back("example." + suffix);
    const bool lvg_on = std::string(o.z_lvg) != "0.0";
    if (lvg_on) {
        files.push_back("example.lvg");
        EXPECT_NE(out.find("finlvg"), std::string::npos);
        EXPECT_EQ(steady(test::read_lines("example.out")), steady(test::read_lines(expected + "example.out")));
    } else {
        EXPECT_NE(out.find(" no LVG calculation\n"), std::string::npos) << out;
        EXPECT_EQ(out.find("finlvg"), std::string::npos);
        EXPECT_FALSE(fs::exists("example.lvg"));
    }
    for (const auto& f : files) EXPECT_EQ(test::read_text(f), test::read_text(expected + f)) << f;
}

INSTANTIATE_TEST_SUITE_P(Example, LvgSectionOrder,
                         ::testing::Values(Order{"BeforeSsp", "SSP", "0.001"}, Order{"BeforeMcLine", "MC_LINE", "0.001"},
                                           Order{"BeforeSspOff", "SSP", "0.0"},
                                           Order{"BeforeMcLineOff", "MC_LINE", "0.0"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qv
