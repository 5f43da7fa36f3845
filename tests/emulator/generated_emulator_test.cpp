// The emulator files of the example data set: their format (every real with
// its decimal point), and networks whose spectra have a physical shape and
// follow their inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "core/run.h"
#include "emulator/sed_emulator.h"
#include "generators.h"
#include "support/test_support.h"

namespace qv {
namespace {

struct Generated {
    test::TempDir dir;
    test::CapturedConsole cc;
    qv::Run run{cc.con};
    Generated() {
        qvgen::write_emulator_files("data");
        run.ann_qve.trained_ann_path = "data/ann\\";
    }
};

// Disk inputs near the example model's: cloud inputs, fabs, taue, taup1,
// tauh, lmd, rdstar/rddiff, zdstar/rdstar, zddiff/rddiff, colour.
const std::vector<float> kDisk = {0.0f, 0.0f, -1.13f, 2.96f, 0.124f, 0.0133f, -7.8f, 1.0f, 0.1f, 0.05f, 0.026f};

int peak_index(const Vec<float>& y) {
    int best = 1;
    for (int k = 2; k <= y.extent(); ++k)
        if (y(k) > y(best)) best = k;
    return best;
}

TEST(GeneratedEmulator, EveryRealHasItsDecimalPoint) {
    Generated g;
    for (const auto& e : std::filesystem::directory_iterator("data/ann")) {
        const std::vector<std::string> lines = test::read_lines(e.path().string());
        ASSERT_GT(lines.size(), 3u) << e.path();
        const bool aux = e.path().extension() == ".dat";
        for (std::size_t i = aux ? 2 : 0; i < lines.size(); ++i) {
            std::istringstream s(lines[i]);
            std::string tok;
            while (s >> tok) {
                char* end = nullptr;
                std::strtod(tok.c_str(), &end);
                if (end == tok.c_str()) continue;  // a word (input names, the lines between)
                EXPECT_NE(tok.find('.'), std::string::npos) << e.path() << " line " << i + 1 << ": " << tok;
            }
        }
    }
}

TEST(GeneratedEmulator, CirrusSpectrumPeaksInTheFarInfraredAndColderWithMoreDust) {
    Generated g;
    ann_quelvo(g.run, 2.0f, {2, 20}, {9, 35}, kDisk, 2, false);
    const SedEmulator& e = g.run.ann_qve;
    ASSERT_EQ(e.log_lam_mic.extent(), 70);
    for (int k = 1; k <= 70; ++k) EXPECT_TRUE(std::isfinite(e.log_l_cir(k))) << k;
    // No input outside its trained range.
    EXPECT_EQ(g.cc.out.str().find("SEVERE WARNING"), std::string::npos);
    const int p0 = peak_index(e.log_l_cir);
    const float lam0 = std::pow(10.0f, e.log_lam_mic(p0));
    EXPECT_GT(lam0, 50.0f);
    EXPECT_LT(lam0, 200.0f);
    // A modified blackbody: it falls steeply on both sides of its peak.
    EXPECT_LT(e.log_l_cir(70), e.log_l_cir(p0) - 2.0f);
    EXPECT_LT(e.log_l_cir(1), e.log_l_cir(p0) - 2.0f);
    // Ten times the dust per unit starlight: colder dust, a later peak.
    std::vector<float> x = kDisk;
    x[6] += 1.0f;
    ann_quelvo(g.run, 2.0f, {2, 20}, {9, 35}, x, 2, false);
    const float lam1 = std::pow(10.0f, e.log_lam_mic(peak_index(e.log_l_cir)));
    EXPECT_GT(lam1, 1.2f * lam0);
}

TEST(GeneratedEmulator, EveryCirrusInputMovesTheSpectrum) {
    Generated g;
    for (int geo : {1, 2}) {
        std::vector<float> x = kDisk;
        if (geo == 1) x = {0.0f, 0.0f, -1.13f, 2.96f, 0.124f, 0.0133f, -7.8f, 1.0f, 0.026f};
        ann_quelvo(g.run, static_cast<float>(geo), {2, 20}, {static_cast<int>(x.size()) - 2, 35}, x, 2, false);
        const Vec<float> base = g.run.ann_qve.log_l_cir;
        const std::vector<EmulatorInput> in = g.run.ann_qve.inputs;
        for (std::size_t i = 2; i < x.size(); ++i) {
            std::vector<float> y = x;
            y[i] += 0.1f * (in[i].xmax - in[i].xmin);
            ann_quelvo(g.run, static_cast<float>(geo), {2, 20}, {static_cast<int>(x.size()) - 2, 35}, y, 2, false);
            float most = 0.0f;
            for (int k = 1; k <= base.extent(); ++k) most = std::max(most, std::fabs(g.run.ann_qve.log_l_cir(k) - base(k)));
            EXPECT_GT(most, 0.01f) << "geometry " << geo << " input " << in[i].name;
        }
        // The cloud inputs in front are not fed to the cirrus network.
        std::vector<float> y = x;
        y[0] = 50.0f;
        y[1] = 70.0f;
        ann_quelvo(g.run, static_cast<float>(geo), {2, 20}, {static_cast<int>(x.size()) - 2, 35}, y, 2, false);
        for (int k = 1; k <= base.extent(); ++k) EXPECT_EQ(g.run.ann_qve.log_l_cir(k), base(k));
    }
}

TEST(GeneratedEmulator, CloudSpectrumJoinsAndWarmsWithASmallerRadius) {
    Generated g;
    ann_quelvo_mc_only(g.run, {2, 20}, {10.0f, 1000.0f}, false);
    const SedEmulator& e = g.run.ann_qve;
    ASSERT_EQ(e.log_lam_mic_only.extent(), 60);
    EXPECT_EQ(g.cc.out.str().find("SEVERE WARNING"), std::string::npos);
    // No step where the mid-infrared curve ends (40 micron): neighbouring
    // points differ by less than the curve's own steepest slope allows.
    for (int k = 2; k <= 60; ++k) EXPECT_LT(std::fabs(e.log_l_mc_only(k) - e.log_l_mc_only(k - 1)), 0.8f) << k;
    const float lam0 = std::pow(10.0f, e.log_lam_mic_only(peak_index(e.log_l_mc_only)));
    EXPECT_GT(lam0, 20.0f);
    EXPECT_LT(lam0, 150.0f);
    ann_quelvo_mc_only(g.run, {2, 20}, {10.0f, 10.0f}, false);
    const float lam1 = std::pow(10.0f, e.log_lam_mic_only(peak_index(e.log_l_mc_only)));
    EXPECT_LT(lam1, lam0);
}

}  // namespace
}  // namespace qv
