// The dust emission of the molecular clouds: the scratch names and their
// exclusive claim, one solver call per cloud type that holds stars, the solver's
// spectrum on the dust grid, the emulator branch and its energy, the clean-up,
// and two runs sharing one working folder. The solver and the emulator are
// replaced by small stand-ins that read what the stage hands them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "clouds/cloud_dust_emission.h"
#include "clouds/cloud_types.h"
#include "clouds/young_stars.h"
#include "clouds/young_stars_fixture.h"
#include "core/run.h"
#include "core/stop.h"
#include "io/textfile.h"
#include "support/example_outputs.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using namespace pallanolt96_stages;
using test::numbers;
using test::CloudRun;
using test::kPm;

double dbl(float x) { return x; }

const std::vector<float> kTb = {0.0f, 0.001f, 0.0015f, 0.002f, 0.003f, 0.0035f};
const std::vector<float> kWave = {1200.0f, 3000.0f, 6000.0f, 12000.0f, 24000.0f};

// The stem that the test console's clock (1234: 0 min, 1 s, 234 ms) gives.
std::string test_stem() { return scratch_stem(scratch_seed(1234)); }

std::vector<std::string> files_in(const fs::path& dir) {
    std::vector<std::string> v;
    for (const auto& e : fs::directory_iterator(dir)) v.push_back(e.path().filename().string());
    std::sort(v.begin(), v.end());
    return v;
}

std::vector<std::string> lines_starting(const std::vector<std::string>& lines, const std::string& head) {
    std::vector<std::string> v;
    for (const auto& l : lines)
        if (l.rfind(head, 0) == 0) v.push_back(l);
    return v;
}

// Stages 1 to 6 of the cloud model: the per-cloud spectra of the inside stars.
void embed_stars(CloudRun& c) {
    cloud_arrays_allocate(c.run);
    mc_righe::set_mc_arr(c.run);
    inside_fractions(c.run);
    inside_spectra(c.run, kPm);
    hii_regions(c.run, kPm, 0.02f);
    per_cloud(c.run);
    c.run.parametri.emiflag = true;
}

// Sum over wavelength of the inside light of one cloud of type i.
double inside_sum(const Run& run, int i) {
    double s = 0.0;
    for (int l = 1; l <= run.remind.nlam; ++l) s += dbl(run.mc_righe.ldentro_arr(l, i, 0));
    return s;
}

// ---------------------------------------------------------------------------
// A stand-in for the cloud solver. It reads the source spectrum file the way
// the solver does, and answers with a spectrum built from it: on its 54
// frequencies 13.0 + 0.06 (k - 1), log10 L_nu = 30 + log10(sum of the file's
// L_lambda) - (lf - 14) up to lf = 14.4, -3 up to 14.8 and exactly 0 beyond;
// r0 = 1e17 cm times the number of the call. It also leaves the solver's
// scratch files behind, the map file among them.
struct FakeSolver {
    struct Call {
        std::string stem;
        std::vector<float> wave, lum;
        float taue = 0.0f, rmsr0 = 0.0f;
    };
    std::vector<Call> calls;
    std::function<void()> before_first_read;  // runs between the write and the read
    std::function<void(qv::Run&, int call)> spoil;  // spoils the result of a call

    static float lf(int k) { return 13.0f + 0.06f * static_cast<float>(k - 1); }
    // The dust L_nu [1e30 erg/s/Hz] that the spectrum gives at log frequency x.
    static double expected(double sum, double x) { return x <= 14.38 ? sum * std::pow(10.0, 14.0 - x) : 0.0; }

    void install(qv::Run& run) {
        run.cloud_solver = [this](qv::Run& r, int mode) { solve(r, mode); };
    }

    void solve(qv::Run& run, int mode) {
        EXPECT_EQ(mode, 2);
        SolverState& g = run.globals;
        if (calls.empty() && before_first_read) before_first_read();
        Call c;
        c.stem = g.nom;
        c.taue = g.taue;
        c.rmsr0 = g.rmsr0;
        TextFile f = TextFile::open(g.nom + ".SSP");
        std::string_view line;
        double sum = 0.0;
        while (f.next(line)) {
            std::istringstream s{std::string(line)};
            float w = 0.0f, l = 0.0f;
            s >> w >> l;
            EXPECT_FALSE(s.fail()) << line;
            c.wave.push_back(w);
            c.lum.push_back(l);
            sum += dbl(l);
        }
        calls.push_back(c);
        for (int k = 1; k <= 54; ++k) {
            g.lfarr(k) = lf(k);
            const float x = g.lfarr(k);
            g.spdarr(k, 1) = x <= 14.4f ? 30.0f + static_cast<float>(std::log10(sum)) - (x - 14.0f)
                                        : (x < 14.8f ? -3.0f : 0.0f);
        }
        g.r0 = 1e17f * static_cast<float>(calls.size());
        for (const char* ext : {".OUT", ".SPE", ".PAR", ".MAP"}) test::write_text(g.nom + ext, "solver output\n");
        if (spoil) spoil(run, static_cast<int>(calls.size()));
    }
};

// ---------------------------------------------------------------------------

TEST(CloudScratchNames, Ran0IsTheMinimalStandardGeneratorBehindItsMask) {
    // The generator's published check: from 1, the 10000th state is 1043618065.
    int state = 1 ^ 123459876;
    float r = 0.0f;
    for (int n = 0; n < 10000; ++n) r = ran0(state);
    EXPECT_EQ(state ^ 123459876, 1043618065);
    EXPECT_EQ(r, static_cast<float>(1043618065) * 4.656613e-10f);
}

TEST(CloudScratchNames, TheSeedComesFromMinutesSecondsAndMilliseconds) {
    struct C {
        int minutes, seconds, ms, seed;
    };
    for (const C& c : {C{0, 1, 234, 235}, C{0, 0, 0, 0}, C{10, 0, 0, 600}, C{59, 59, 999, 598},
                       C{16, 40, 0, 0}, C{0, 59, 941, 0}}) {
        EXPECT_EQ(scratch_seed(c.minutes * 100000 + c.seconds * 1000 + c.ms), c.seed)
            << c.minutes << ":" << c.seconds << "." << c.ms;
    }
}

TEST(CloudScratchNames, EverySeedGivesTmpAndFourDigitsAndOnly331StemsOccur) {
    std::set<std::string> stems;
    for (int seed = 0; seed < 1000; ++seed) {
        const std::string s = scratch_stem(seed);
        ASSERT_EQ(s.size(), 7u) << seed;
        EXPECT_EQ(s.substr(0, 3), "tmp");
        for (std::size_t k = 3; k < 7; ++k) EXPECT_TRUE(s[k] >= '0' && s[k] <= '9') << s;
        EXPECT_EQ(scratch_stem(seed), s);  // the same clock reading, the same stem
        stems.insert(s);
    }
    // Why two runs started together collide so often without a claim.
    EXPECT_EQ(stems.size(), 331u);
}

TEST(CloudScratchClaim, TakesTheFirstFreeStemFromTheDrawnOne) {
    struct C {
        const char* what;
        std::vector<std::string> present;  // files in the folder before the claim
        std::string first, claimed;
    };
    const C cases[] = {
        {"a free stem", {}, "tmp4711", "tmp4711"},
        {"a taken stem steps on", {"tmp4711.SSP", "tmp4712.SSP"}, "tmp4711", "tmp4713"},
        {"the last stem wraps to the first", {"tmp9999.SSP"}, "tmp9999", "tmp0000"},
        {"a leftover map or log does not block", {"tmp4711.MAP", "tmp4711.OUT"}, "tmp4711", "tmp4711"},
    };
    for (const C& c : cases) {
        test::TempDir tmp;
        for (const auto& f : c.present) test::write_text(f, "x");
        EXPECT_EQ(claim_scratch_stem(c.first), c.claimed) << c.what;
        EXPECT_TRUE(fs::is_regular_file(c.claimed + ".SSP")) << c.what;
        // The files of other stems are left as they were.
        for (const auto& f : c.present) EXPECT_EQ(test::read_text(f), "x") << c.what << " " << f;
    }
}

TEST(CloudScratchClaim, AllStemsTakenIsAClearStop) {
    test::TempDir tmp;
    for (int n = 0; n < 10000; ++n) {
        const std::string digits = std::to_string(n);
        test::write_text("tmp" + std::string(4 - digits.size(), '0') + digits + ".SSP", "");
    }
    try {
        claim_scratch_stem("tmp0042");
        FAIL() << "no stop";
    } catch (const Stop& s) {
        ASSERT_EQ(s.lines.size(), 1u);
        EXPECT_NE(s.lines[0].find("tmp0000.SSP to tmp9999.SSP"), std::string::npos) << s.lines[0];
    }
}

TEST(CloudScratchClaim, DeletingTouchesOnlyTheStemsOwnFilesAndCreatesNothing) {
    test::TempDir tmp;
    for (const char* f : {"tmp0001.SSP", "tmp0001.OUT", "tmp0001.MAP", "tmp0002.SSP", "ssp.SCR"})
        test::write_text(f, "x");
    delete_scratch_files("tmp0001");
    EXPECT_EQ(files_in(tmp.path()), (std::vector<std::string>{"ssp.SCR", "tmp0001.MAP", "tmp0002.SSP"}));
}

// ---------------------------------------------------------------------------

struct TypeCase {
    const char* what;
    std::vector<float> radius, frac;
    std::vector<bool> stars;         // false: the type's inside light set to 0
    std::vector<bool> zero_fraction;  // true: its fraction set to 0 after the stars are placed
};

TEST(CloudDustEmissionSolver, OneCallPerTypeWithStarsAndAFractionAndTheWeightedSum) {
    const TypeCase cases[] = {
        {"one type", {16.0f}, {1.0f}, {true}, {false}},
        {"two types", {16.0f, 30.0f}, {0.6f, 0.4f}, {true, true}, {false, false}},
        {"the second type holds no stars", {16.0f, 30.0f}, {0.6f, 0.4f}, {true, false}, {false, false}},
        {"the first type has no mass, though stars", {16.0f, 30.0f}, {0.6f, 0.4f}, {true, true}, {true, false}},
        {"three types, the middle one empty", {12.0f, 20.0f, 30.0f}, {0.5f, 0.2f, 0.3f}, {true, false, true},
         {false, false, false}},
        {"no type is treated", {16.0f, 30.0f}, {0.6f, 0.4f}, {false, true}, {false, true}},
    };
    for (const TypeCase& tc : cases) {
        SCOPED_TRACE(tc.what);
        CloudRun c(kTb, kWave);
        const int n = static_cast<int>(tc.radius.size());
        c.types(tc.radius, tc.frac, std::vector<float>(tc.radius.size(), 0.003f));
        embed_stars(c);
        CloudTypes& mc = c.run.mc_righe;
        for (int i = 1; i <= n; ++i) {
            const auto k = static_cast<std::size_t>(i - 1);
            if (!tc.stars[k])
                for (int l = 1; l <= c.run.remind.nlam; ++l) mc.ldentro_arr(l, i, 0) = 0.0f;
            if (tc.zero_fraction[k]) mc.f_mc_arr(i) = 0.0f;
        }
        FakeSolver solver;
        solver.install(c.run);
        c.cc.out.str("");
        cloud_dust_emission(c.run);

        std::vector<int> treated;
        for (int i = 1; i <= n; ++i)
            if (mc.f_mc_arr(i) > 0.0f && inside_sum(c.run, i) > 0.0) treated.push_back(i);
        ASSERT_EQ(solver.calls.size(), treated.size());
        const auto rsubl = lines_starting(c.log_added(), " Rsubl=");
        ASSERT_EQ(rsubl.size(), treated.size());

        std::vector<double> want(static_cast<std::size_t>(c.run.glopalla.nlf), 0.0);
        for (std::size_t m = 0; m < treated.size(); ++m) {
            const int i = treated[m];
            const FakeSolver::Call& call = solver.calls[m];
            // Each call sees its own type's spectrum, exactly as the stage holds it.
            EXPECT_EQ(call.stem, test_stem());
            ASSERT_EQ(call.wave.size(), static_cast<std::size_t>(c.run.remind.nlam));
            for (int l = 1; l <= c.run.remind.nlam; ++l) {
                EXPECT_EQ(call.wave[static_cast<std::size_t>(l - 1)], c.run.remind.wave(l));
                EXPECT_EQ(call.lum[static_cast<std::size_t>(l - 1)], mc.ldentro_arr(l, i, 0)) << i << " " << l;
            }
            EXPECT_EQ(call.taue, mc.tau_mc_arr(i));
            EXPECT_EQ(call.rmsr0, mc.r_mc_arr(i) * 3.086e18f);
            // "Rsubl=" r0 "[cm]=" r0 in pc "[pc]"
            const auto v = numbers(rsubl[m].substr(7));
            ASSERT_EQ(v.size(), 2u) << rsubl[m];
            EXPECT_NEAR(v[0], 1e17 * static_cast<double>(m + 1), 1e10 * static_cast<double>(m + 1));
            EXPECT_NEAR(v[1] / (v[0] / 3.0857e18), 1.0, 1e-6);
            EXPECT_NE(rsubl[m].find("[cm]="), std::string::npos);
            EXPECT_EQ(rsubl[m].substr(rsubl[m].size() - 5), " [pc]");
            for (int f = 1; f <= c.run.glopalla.nlf; ++f)
                want[static_cast<std::size_t>(f - 1)] +=
                    dbl(mc.f_mc_arr(i)) * FakeSolver::expected(inside_sum(c.run, i), dbl(c.run.glopalla.lfarr(f)));
        }
        for (int f = 1; f <= c.run.glopalla.nlf; ++f) {
            const double w = want[static_cast<std::size_t>(f - 1)];
            const double got = c.run.glopalla.lumdus(f);
            // Where the solver's log L_nu is at or below 0 the emission is exactly 0.
            if (w == 0.0)
                EXPECT_EQ(got, 0.0) << f;
            else
                EXPECT_NEAR(got / w, 1.0, 1e-4) << f;
        }
        // The scratch files are gone; the solver's map file stays.
        EXPECT_EQ(files_in(c.tmp.path()),
                  treated.empty() ? (std::vector<std::string>{"m.out", "m.par"})
                                  : (std::vector<std::string>{"m.out", "m.par", test_stem() + ".MAP"}));
        const auto out = c.cc.out_lines();
        std::string all;
        for (const auto& l : out) all += l + "\n";
        // The stage's two lines, then the CO step's: this par file has no LVG section.
        ASSERT_EQ(out.size(), 4u) << all;
        EXPECT_EQ(lines_starting(out, " Key LVG not found in file m.par").size(), 1u) << all;
        EXPECT_EQ(out[3], " no LVG calculation") << all;
        EXPECT_EQ(lines_starting(out, " seed=").size(), 1u);
        EXPECT_EQ(lines_starting(out, " scratch files " + test_stem()).size(), 1u);
    }
}

TEST(CloudDustEmissionSolver, TheOuterRadiusIsInCentimetresOrTheGivenRatio) {
    for (const bool ratio : {false, true}) {
        CloudRun c(kTb, kWave);
        c.types({16.0f, 30.0f}, {0.6f, 0.4f}, {0.003f, 0.003f});
        embed_stars(c);
        c.run.glopalla.rmsr0_flag = ratio;
        FakeSolver solver;
        solver.install(c.run);
        cloud_dust_emission(c.run);
        ASSERT_EQ(solver.calls.size(), 2u);
        EXPECT_EQ(solver.calls[0].rmsr0, ratio ? 16.0f : 16.0f * 3.086e18f) << ratio;
        EXPECT_EQ(solver.calls[1].rmsr0, ratio ? 30.0f : 30.0f * 3.086e18f) << ratio;
    }
}

TEST(CloudDustEmissionSolver, AResultThatIsNotFiniteStopsNamingTheTypeAndLeavesNoScratchFiles) {
    struct C {
        const char* what;
        std::function<void(SolverState&)> spoil;
    };
    const C cases[] = {
        {"a NaN in the dust spectrum", [](SolverState& g) { g.spdarr(20, 1) = std::nanf(""); }},
        {"an infinite frequency", [](SolverState& g) { g.lfarr(54) = INFINITY; }},
        {"a NaN sublimation radius", [](SolverState& g) { g.r0 = std::nanf(""); }},
    };
    for (const C& cs : cases) {
        CloudRun c(kTb, kWave);
        c.types({16.0f, 30.0f}, {0.6f, 0.4f}, {0.003f, 0.003f});
        embed_stars(c);
        FakeSolver solver;
        solver.spoil = [&](qv::Run& r, int call) {
            if (call == 2) cs.spoil(r.globals);
        };
        solver.install(c.run);
        try {
            cloud_dust_emission(c.run);
            ADD_FAILURE() << cs.what << ": no stop";
        } catch (const Stop& s) {
            ASSERT_EQ(s.lines.size(), 1u);
            EXPECT_NE(s.lines[0].find("not finite"), std::string::npos) << s.lines[0];
            EXPECT_NE(s.lines[0].find("cloud type 2: "), std::string::npos) << s.lines[0];
        }
        EXPECT_EQ(files_in(c.tmp.path()), (std::vector<std::string>{"m.out", "m.par", test_stem() + ".MAP"}))
            << cs.what;
    }
}

// The records a cloud model's stage 7 reads, copied from one run to another.
void copy_cloud_inputs(const Run& from, Run& to) {
    to.modname = from.modname;
    to.parametri = from.parametri;
    to.remind = from.remind;
    to.glopalla = from.glopalla;
    to.mc_righe = from.mc_righe;
}

TEST(CloudDustEmissionSolver, TwoRunsInOneFolderKeepTheirOwnScratchFilesAndResults) {
    CloudRun c(kTb, kWave);
    c.types({16.0f, 30.0f}, {0.6f, 0.4f}, {0.003f, 0.003f});
    embed_stars(c);
    // A second model in the same folder, with other stars, started at the same
    // moment (the same clock, so the same drawn stem).
    test::CapturedConsole cc2;
    qv::Run second(cc2.con);
    copy_cloud_inputs(c.run, second);
    second.modname.name = second.modname.name_res = "m2";
    for (float& x : second.mc_righe.ldentro_arr.storage()) x *= 3.0f;
    test::write_text("m2.out", test::kLogHead + "\n");
    test::write_text("m2.par", test::read_text("m.par"));  // the CO step reads the model's par file

    // Each run alone.
    auto alone = [&](const qv::Run& src, const std::string& res) {
        test::CapturedConsole cc;
        qv::Run r(cc.con);
        copy_cloud_inputs(src, r);
        r.modname.name_res = res;
        test::write_text(res + ".out", test::kLogHead + "\n");
        FakeSolver s;
        s.install(r);
        cloud_dust_emission(r);
        return std::make_pair(r.glopalla.lumdus.storage(), test::read_lines(res + ".out"));
    };
    const auto first_alone = alone(c.run, "alone1");
    const auto second_alone = alone(second, "alone2");
    ASSERT_NE(first_alone.first, second_alone.first);

    // Together: the second run does all its work while the first has written its
    // source file and not yet read it back.
    FakeSolver s1, s2;
    s1.install(c.run);
    s2.install(second);
    s1.before_first_read = [&] { cloud_dust_emission(second); };
    cloud_dust_emission(c.run);

    ASSERT_EQ(s1.calls.size(), 2u);
    ASSERT_EQ(s2.calls.size(), 2u);
    EXPECT_EQ(s1.calls[0].stem, test_stem());
    EXPECT_NE(s2.calls[0].stem, s1.calls[0].stem);
    EXPECT_EQ(c.run.glopalla.lumdus.storage(), first_alone.first);
    EXPECT_EQ(second.glopalla.lumdus.storage(), second_alone.first);
    EXPECT_EQ(test::read_lines("m.out"), first_alone.second);
    EXPECT_EQ(test::read_lines("m2.out"), second_alone.second);
    for (const auto& f : files_in(c.tmp.path()))
        EXPECT_TRUE(f.size() < 4 || f.substr(f.size() - 4) == ".MAP" || f.substr(0, 3) != "tmp") << f;
}

// ---------------------------------------------------------------------------

// The whole cloud model with the stand-in solver: the "Rsubl=" lines come before
// the cloud model's records, and its dust luminosity is that of the clouds' dust.
TEST(CloudDustEmissionSolver, TheCloudModelScalesTheCloudsDustToAllClouds) {
    CloudRun c(kTb, kWave);
    c.types({16.0f, 30.0f}, {0.6f, 0.4f}, {0.003f, 0.003f});
    c.run.parametri.emiflag = true;
    FakeSolver solver;
    solver.install(c.run);
    pallanolt96(c.run, kPm, 0.02f);
    ASSERT_EQ(solver.calls.size(), 2u);
    const auto log = c.log_added();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0].rfind(" Rsubl=", 0), 0u);
    EXPECT_EQ(log[1].rfind(" Rsubl=", 0), 0u);
    EXPECT_EQ(log[2], " ncloud,lumdus,lprima-ldopo,lprima,ldopo");
    const CloudSetup& gp = c.run.glopalla;
    double trap = 0.0;
    for (int f = 2; f <= gp.nlf; ++f)
        trap += 0.5 * (dbl(gp.lumdus(f)) + dbl(gp.lumdus(f - 1))) * (dbl(gp.farr(f)) - dbl(gp.farr(f - 1)));
    EXPECT_GT(gp.lumdusbol30, 0.0f);
    EXPECT_NEAR(trap / dbl(gp.ncloud) / dbl(gp.lumdusbol30), 1.0, 1e-5);
    EXPECT_NE(c.cc.out.str().find(" FATTO PALLANOLT96"), std::string::npos);
}

TEST(CloudDustEmissionSolver, WithoutEmiflagNothingOfTheStageRuns) {
    CloudRun c(kTb, kWave);
    c.types({16.0f, 30.0f}, {0.6f, 0.4f}, {0.003f, 0.003f});
    c.run.parametri.emiflag = false;
    int calls = 0;
    c.run.cloud_solver = [&](qv::Run&, int) { ++calls; };
    c.run.cloud_emulator = [&](qv::Run&, std::array<int, 2>, const std::vector<float>&, bool) { ++calls; };
    pallanolt96(c.run, kPm, 0.02f);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(files_in(c.tmp.path()), (std::vector<std::string>{"m.out", "m.par"}));
    EXPECT_TRUE(lines_starting(c.cc.out_lines(), " seed=").empty());
    EXPECT_TRUE(lines_starting(c.log_added(), " Rsubl=").empty());
    for (float x : c.run.glopalla.lumdus.storage()) EXPECT_EQ(x, 0.0f);
    EXPECT_EQ(c.run.glopalla.lumdusbol30, 0.0f);
}

// ---------------------------------------------------------------------------
// A stand-in for the cloud emulator: 120 wavelengths from 0.05 to 2000 micron
// and a broad hump, log10 lambda L_lambda = s - (log10 lambda - 2)^2 / 2
// (lambda in micron), with an arbitrary level s that depends on the inputs
// (the stage must not rely on the level).
struct FakeEmulator {
    struct Call {
        std::array<int, 2> arch{};
        std::vector<float> x;
        bool write_tmp = true;
    };
    std::vector<Call> calls;
    int points = 120;

    void install(qv::Run& run) {
        run.cloud_emulator = [this](qv::Run& r, std::array<int, 2> arch, const std::vector<float>& x, bool w) {
            calls.push_back({arch, x, w});
            SedEmulator& a = r.ann_qve;
            a.log_lam_mic_only.resize(points);
            a.log_l_mc_only.resize(points);
            const float s = 2.0f + 0.1f * x.at(0);
            for (int m = 1; m <= points; ++m) {
                const float ll = std::log10(0.05f) + static_cast<float>(m - 1) *
                                                         (std::log10(2000.0f) - std::log10(0.05f)) /
                                                         static_cast<float>(points - 1);
                a.log_lam_mic_only(m) = ll;
                a.log_l_mc_only(m) = s - 0.5f * (ll - 2.0f) * (ll - 2.0f);
            }
        };
    }
};

// A dust grid from the radio to the far ultraviolet (1e11 to 1e16 Hz), ascending.
void wide_dust_grid(CloudRun& c, int nlf) {
    CloudSetup& gp = c.run.glopalla;
    c.dust_grid(nlf);
    for (int i = 1; i <= nlf; ++i) {
        gp.lfarr(i) = 11.0f + 5.0f * static_cast<float>(i - 1) / static_cast<float>(nlf - 1);
        gp.farr(i) = std::pow(10.0f, gp.lfarr(i));
    }
    for (int i = 1; i <= nlf; ++i) gp.ws(nlf + 1 - i) = 3e18f / gp.farr(i);
}

// What one cloud of type i absorbs [1e30 erg/s], trapezoid over the SSP grid, in double.
double absorbed(CloudRun& c, int i) {
    const BirthGrid& r = c.run.remind;
    double a = 0.0;
    auto at = [&](int l) {
        const double t = dbl(c.run.mc_righe.tau_mc_arr(i)) * dbl(c.rel_ext(l));
        return (1.0 - (t < 30.0 ? std::exp(-t) : 0.0)) * dbl(c.run.mc_righe.ldentro_arr(l, i, 0));
    };
    for (int l = 2; l <= r.nlam; ++l)
        a += 0.5 * (at(l) + at(l - 1)) * (dbl(r.wave(l)) - dbl(r.wave(l - 1)));
    return a;
}

double nu_integral(const CloudSetup& gp, const Vec<float>& y) {
    double s = 0.0;
    for (int f = 2; f <= gp.nlf; ++f)
        s += 0.5 * (dbl(y(f)) + dbl(y(f - 1))) *
             (std::pow(10.0, dbl(gp.lfarr(f))) - std::pow(10.0, dbl(gp.lfarr(f - 1))));
    return s;
}

TEST(CloudDustEmissionEmulator, TheEmulatedCloudsReEmitWhatTheyAbsorb) {
    for (const int annflag : {1, 3}) {
        SCOPED_TRACE(annflag);
        CloudRun c(kTb, kWave);
        c.types({16.0f, 30.0f}, {0.6f, 0.4f}, {0.003f, 0.003f});
        embed_stars(c);
        wide_dust_grid(c, 90);
        c.run.parametri.annflag = annflag;
        FakeEmulator emu;
        emu.install(c.run);
        int solves = 0;
        c.run.cloud_solver = [&](qv::Run&, int) { ++solves; };
        cloud_dust_emission(c.run);
        EXPECT_EQ(solves, 0);

        const CloudTypes& mc = c.run.mc_righe;
        const CloudSetup& gp = c.run.glopalla;
        ASSERT_EQ(emu.calls.size(), 2u);
        double emitted = 0.0;
        for (int i = 1; i <= 2; ++i) {
            const auto& call = emu.calls[static_cast<std::size_t>(i - 1)];
            EXPECT_EQ(call.arch, (std::array<int, 2>{2, 20}));
            EXPECT_FALSE(call.write_tmp);
            ASSERT_EQ(call.x.size(), 2u);
            EXPECT_EQ(call.x[0], mc.tau_mc_arr(i));
            double lbol = 0.0;
            for (int l = 2; l <= c.run.remind.nlam; ++l)
                lbol += 0.5 * (dbl(mc.ldentro_arr(l, i, 0)) + dbl(mc.ldentro_arr(l - 1, i, 0))) *
                        (dbl(c.run.remind.wave(l)) - dbl(c.run.remind.wave(l - 1)));
            EXPECT_NEAR(dbl(call.x[1]) / (dbl(mc.r_mc_arr(i)) / (12.0 * std::sqrt(lbol / 1e16))), 1.0, 1e-5);
            emitted += dbl(mc.f_mc_arr(i)) * absorbed(c, i);
        }
        // The last type's cloud, and the fraction-weighted sum of both.
        EXPECT_NEAR(nu_integral(gp, mc.lumduswk) / absorbed(c, 2), 1.0, 1e-5);
        EXPECT_NEAR(nu_integral(gp, gp.lumdus) / emitted, 1.0, 1e-5);
        // Below the emulator's shortest wavelength (0.05 micron) nothing is emitted.
        int below = 0;
        for (int f = 1; f <= gp.nlf; ++f) {
            if (14.4771f - gp.lfarr(f) <= std::log10(0.05f)) {
                EXPECT_EQ(gp.lumdus(f), 0.0f) << f;
                ++below;
            } else {
                EXPECT_GT(gp.lumdus(f), 0.0f) << f;
            }
        }
        EXPECT_GT(below, 2);
        // The spectrum handed to the PAH profile step: L_lambda per Angstrom on
        // Angstrom, carrying what all the emulated clouds emit.
        const SedEmulator& a = c.run.ann_qve;
        double pah = 0.0;
        for (int m = 2; m <= a.log_lam_mic_only.extent(); ++m)
            pah += 0.5 * (dbl(a.log_l_mc_only(m)) + dbl(a.log_l_mc_only(m - 1))) *
                   (dbl(a.log_lam_mic_only(m)) - dbl(a.log_lam_mic_only(m - 1)));
        EXPECT_NEAR(a.log_lam_mic_only(1), 500.0, 1e-2);
        EXPECT_NEAR(a.log_lam_mic_only(a.log_lam_mic_only.extent()), 2e7, 50.0);
        EXPECT_NEAR(pah / (dbl(gp.ncloud) * emitted), 1.0, 1e-5);
        // The solver never ran: its radius is the record's 0.
        const auto rsubl = lines_starting(c.log_added(), " Rsubl=");
        ASSERT_EQ(rsubl.size(), 2u);
        EXPECT_EQ(numbers(rsubl[0].substr(7)), (std::vector<double>{0.0, 0.0}));
        EXPECT_EQ(files_in(c.tmp.path()), (std::vector<std::string>{"m.out", "m.par"}));
    }
}

// Through the extinction of the cloud model: the dust luminosity of one cloud
// equals the starlight it takes away.
TEST(CloudDustEmissionEmulator, TheCloudModelsBudgetCloses) {
    CloudRun c(kTb, kWave);
    c.types({16.0f, 30.0f}, {0.6f, 0.4f}, {0.003f, 0.003f});
    wide_dust_grid(c, 90);
    c.run.parametri.emiflag = true;
    c.run.parametri.annflag = 1;
    // With one star-formation rate the extinction's light before and after the
    // clouds is the same sum over the same steps as the clouds' inside light.
    c.run.remind.sfrate.fill(1.5f);
    FakeEmulator emu;
    emu.install(c.run);
    pallanolt96(c.run, kPm, 0.02f);
    const auto log = c.log_added();
    std::size_t k = 0;
    while (k < log.size() && log[k] != " ncloud,lumdus,lprima-ldopo,lprima,ldopo") ++k;
    ASSERT_LT(k + 1, log.size());
    const auto v = numbers(log[k + 1]);
    ASSERT_EQ(v.size(), 5u);
    EXPECT_GT(v[2], 0.0);
    EXPECT_NEAR(v[1] / v[2], 1.0, 1e-3) << log[k + 1];
}

TEST(CloudDustEmissionEmulator, AnEmulatorSpectrumThatCannotBeUsedStopsNamingTheType) {
    for (const int points : {0, 1}) {
        CloudRun c(kTb, kWave);
        c.types({16.0f}, {1.0f}, {0.003f});
        embed_stars(c);
        wide_dust_grid(c, 30);
        c.run.parametri.annflag = 1;
        FakeEmulator emu;
        emu.points = points;
        emu.install(c.run);
        try {
            cloud_dust_emission(c.run);
            ADD_FAILURE() << points << ": no stop";
        } catch (const Stop& s) {
            EXPECT_NE(s.lines.at(0).find("cloud type 1: "), std::string::npos) << s.lines[0];
        }
        EXPECT_EQ(files_in(c.tmp.path()), (std::vector<std::string>{"m.out", "m.par"}));
    }
}

}  // namespace
}  // namespace qv
