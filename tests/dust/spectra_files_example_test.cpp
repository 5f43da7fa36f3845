// The example model from the command line to its spectra files: the energy
// budget of the run log, and every spectra file read back as rows of nine
// whitespace-separated numbers that agree with the run log.
//
// The example galaxy is a thin disk whose cell loop takes close to a minute
// under the sanitizers; these runs thicken its dust and star disks (zddiff and
// zdstar 0.5 kpc: 24 radial nodes instead of 60) and use a dust grid of 60
// points, which keeps them to seconds. The viewing directions are those of the
// example's SPECTRA section, read back from the run log.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "core/quelvo.h"
#include "dust/cirrus_fixture.h"
#include "dust/spectra_files.h"
#include "dust/spectra_files_fixture.h"
#include "io/format.h"
#include "support/example_outputs.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using test::index_of;
using test::load_spectra;
using test::number_after;

using Example = test::ExampleModelRun;

// The trapezoid over wavelength of column c of the rows [0, n).
double integral(const test::SpectraFile& f, std::size_t n, int c) {
    double s = 0.0;
    for (std::size_t i = 0; i + 1 < n; ++i)
        s += 0.5 * (f.rows[i][std::size_t(c)] + f.rows[i + 1][std::size_t(c)]) * (f.rows[i + 1][0] - f.rows[i][0]);
    return s;
}

// On the dust grid alone (no PAH profiles), on a coarser grid than the example's.
// Without the HII regions, whose lines leave the energy budget for the pan file.
const std::vector<std::string> kSmaller = {"emiflag=1", "pahflag=0", "hiiflag=0", "zddiff=0.5", "zdstar=0.5", "nlf=60"};

// The directions of the run log's budget, in their order.
std::vector<float> directions(const std::vector<std::string>& log) {
    std::vector<float> d;
    for (const auto& l : log)
        if (l.rfind(" Direction", 0) == 0) d.push_back(std::stof(l.substr(10, 6)));
    return d;
}

TEST(SpectraExample, EnergyBudgetClosesAndEveryFileAgreesWithTheRunLog) {
    Example ex;
    test::CapturedConsole cc;
    std::vector<std::string> args = {"m1"};
    args.insert(args.end(), kSmaller.begin(), kSmaller.end());
    ASSERT_EQ(ex.run(args, cc), 0) << cc.out.str();
    const auto log = test::read_lines("m1.out");
    const auto out = cc.out_lines();
    const std::vector<float> dirs = directions(log);
    ASSERT_GE(dirs.size(), 2u);
    EXPECT_EQ(dirs.front(), 0.0f);
    EXPECT_EQ(dirs.back(), 90.0f);
    std::vector<std::string> files = {"m1.spe"};
    for (float a : dirs) files.push_back("m1." + cirrus::direction_suffix(a));

    // The budget. The clouds absorb a few percent of the starlight
    // (ncloud x (lprima - ldopo) in the run log) and their dust gives it back
    // (ncloud x lumdus), so the output is the input.
    const double cirrus_ratio = number_after(log, " Energy emitted by cirrus / Energy absorbed by cirrus");
    const double output_ratio = number_after(log, " Output energy / Input (stars) energy");
    const double e1 = number_after(log, " L stars unextincted = ");
    const int kc = index_of(log, " ncloud,lumdus,lprima-ldopo,lprima,ldopo");
    ASSERT_GE(kc, 0);
    double ncloud = 0.0, lumdus = 0.0, dl = 0.0;
    {
        std::istringstream in(log[std::size_t(kc + 1)]);
        in >> ncloud >> lumdus >> dl;
    }
    const double in_clouds = ncloud * dl / e1;
    EXPECT_GT(in_clouds, 0.0);
    EXPECT_LT(in_clouds, 0.1);
    EXPECT_NEAR(cirrus_ratio, 1.0, 0.05) << "emitted over absorbed by the cirrus";
    EXPECT_NEAR(lumdus / dl, 1.0, 0.07) << "dust luminosity of one cloud over the light it absorbs";
    EXPECT_NEAR(output_ratio, 1.0, 0.03);
    const double absorbed = number_after(log, " Fraction of total energy absorbed by cirrus");
    EXPECT_GT(absorbed, 0.01);

    // The files: all alike in their wavelengths, with the radio rows at the end.
    const bool radio = index_of(out, " calcolo radio da quelvo") >= 0;
    EXPECT_TRUE(radio);
    const double lcirrus = number_after(log, " L cirrus = ");
    std::vector<std::string> first_column;
    std::vector<double> seen;
    for (std::size_t d = 0; d < files.size(); ++d) {
        SCOPED_TRACE(files[d]);
        const auto f = load_spectra(files[d]);
        ASSERT_TRUE(f.ok);
        ASSERT_EQ(f.header.size(), 15u);
        EXPECT_EQ(f.header[0], d == 0 ? std::string("# Angle average")
                                      : fio::write_line("('# Direction ',G10.3,' degrees')", {dirs[d - 1]}));
        ASSERT_GT(f.rows.size(), 20u);
        std::vector<std::string> col1;
        for (const auto& l : f.lines) col1.push_back(test::field(l, 0));
        if (d == 0) first_column = col1;
        EXPECT_EQ(col1, first_column);
        const std::size_t n = f.rows.size() - (radio ? 10 : 0);
        EXPECT_EQ(f.rows.back()[0], radio ? 1e10 : f.rows.back()[0]);
        for (std::size_t i = 0; i < f.rows.size(); ++i) {
            const auto& r = f.rows[i];
            for (int c = 0; c < 9; ++c) EXPECT_GE(r[std::size_t(c)], 0.0) << f.lines[i];
            if (i > 0) {
                EXPECT_GT(r[0], f.rows[i - 1][0]);
            }
            EXPECT_GE(r[5], (r[1] + r[3] + r[4]) * (1.0 - 1.2e-3)) << f.lines[i];
        }
        // The integrals of the file's columns are the run log's energies.
        const int k = d == 0 ? index_of(log, " Angle average ")
                             : index_of(log, fio::write_line("(' Direction',F6.2,' degrees')", {dirs[d - 1]}));
        ASSERT_GE(k, 0);
        const double stars = number_after(log, " L stars extincted  = ", k);
        EXPECT_NEAR(integral(f, n, 3), stars, 5e-3 * stars);
        EXPECT_NEAR(integral(f, n, 1), lcirrus, 5e-3 * lcirrus + 1e-30);
        seen.push_back(integral(f, n, 3));
    }
    // A disk hides more of its starlight edge-on than face-on; the average lies
    // between the two.
    EXPECT_LT(seen.back(), seen[1]);
    EXPECT_GT(seen[0], seen.back());
    EXPECT_LT(seen[0], seen[1]);
    // No temporary file is left.
    for (const auto& e : fs::directory_iterator(fs::current_path()))
        EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
}

TEST(SpectraExample, FilesWithPahProfilesAndOnTheSspGridLoad) {
    Example ex;
    test::CapturedConsole cc;
    // The later overrides win.
    std::vector<std::string> args = {"m1"};
    args.insert(args.end(), kSmaller.begin(), kSmaller.end());
    args.insert(args.end(), {"pahflag=1", "wavsspout=1"});
    ASSERT_EQ(ex.run(args, cc), 0) << cc.out.str();
    std::vector<std::string> suffixes = {"spe"};
    for (float a : directions(test::read_lines("m1.out"))) suffixes.push_back(cirrus::direction_suffix(a));
    ASSERT_GE(suffixes.size(), 3u);
    for (const std::string& x : suffixes) {
        for (const std::string& f : {"m1." + x, "m1.ssp." + x}) {
            SCOPED_TRACE(f);
            const auto s = load_spectra(f);
            ASSERT_TRUE(s.ok);
            ASSERT_EQ(s.header.size(), 15u);
            ASSERT_GT(s.rows.size(), 100u);
            for (std::size_t i = 1; i < s.rows.size(); ++i) EXPECT_GE(s.rows[i][0], s.rows[i - 1][0]);
            for (const auto& r : s.rows) EXPECT_GE(r[4], 0.0);
        }
    }
    for (const auto& e : fs::directory_iterator(fs::current_path()))
        EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
}

}  // namespace
}  // namespace qv
