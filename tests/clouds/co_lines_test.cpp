// The CO-line step: the LVG section, the clouds' mean dust temperature, the grid
// of LVG models and the lvg file.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "clouds/co_lines.h"
#include "clouds/lvg_solver.h"
#include "core/run.h"
#include "core/stop.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

namespace qv {
namespace {

std::string stop_text(const Stop& s) {
    std::string t;
    for (const auto& l : s.lines) t += l + "\n";
    return t;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string t;
    for (const auto& l : lines) t += l + "\n";
    return t;
}

int count_containing(const std::vector<std::string>& lines, const std::string& p) {
    int n = 0;
    for (const auto& l : lines)
        if (l.find(p) != std::string::npos) ++n;
    return n;
}

// A key line of a keyed section: key in columns 1-10, value from column 11.
std::string key_line(const std::string& key, const std::string& value) {
    std::string l = key;
    l.resize(10, ' ');
    return l + value + "\n";
}

struct LvgKeys {
    std::vector<std::pair<std::string, std::string>> keys = {
        {"z_lvg", "1.0"},   {"delt_tk", "1.0"}, {"inic_tk", "1.0"}, {"fini_tk", "2.0"},
        {"delt_vg", "1.0"}, {"inic_vg", "0.5"}, {"fini_vg", "0.5"}, {"delt_xo", "1.0"},
        {"inic_xo", "-5.0"}, {"fini_xo", "-4.0"}};
    LvgKeys& set(const std::string& k, const std::string& v) {
        for (auto& kv : keys)
            if (kv.first == k) {
                kv.second = v;
                return *this;
            }
        keys.emplace_back(k, v);
        return *this;
    }
    LvgKeys& drop(const std::string& k) {
        std::erase_if(keys, [&](const auto& kv) { return kv.first == k; });
        return *this;
    }
    LvgKeys& add(const std::string& k, const std::string& v) {
        keys.emplace_back(k, v);
        return *this;
    }
    std::string text() const {
        std::string s = "LVG\n% key     value\n";
        for (const auto& [k, v] : keys) s += key_line(k, v);
        return s;
    }
};

// A run in a fresh folder with the par file m.par, two cloud types (radii 10 and
// 20 pc, mass fractions 0.6 and 0.4), clouds of 1e5 solar masses, 100 clouds,
// and a solved cloud whose dust is at 16 K everywhere.
struct CoRun {
    test::TempDir tmp;
    test::CapturedConsole cc;
    Run run{cc.con};
    explicit CoRun(const std::string& par = LvgKeys().text()) {
        test::write_text(tmp.file("m.par"), par);
        run.modname.name = "m";
        CloudTypes& mc = run.mc_righe;
        mc.n_tau_mc = 2;
        mc.r_mc_arr = Vec<float>(2);
        mc.f_mc_arr = Vec<float>(2);
        mc.r_mc_arr(1) = 10.0f;
        mc.r_mc_arr(2) = 20.0f;
        mc.f_mc_arr(1) = 0.6f;
        mc.f_mc_arr(2) = 0.4f;
        run.glopalla.mcloud = 1e5f;
        run.glopalla.ncloud = 100.0f;
        set_temperature(16.0f);
    }
    void set_temperature(float t) {
        SolverState& g = run.globals;
        for (int r = 1; r <= kSolverNr; ++r) {
            g.rarr(r) = 1e18f * static_cast<float>(r);
            for (int s = 1; s <= kSolverNsp; ++s) g.tarr(r, 1, s) = t;
        }
    }
    std::vector<std::string> lines() const { return cc.out_lines(); }
    std::string lvg_file() const { return tmp.file("m.lvg"); }
};

// ---------------------------------------------------------------------------
// The LVG section

TEST(ReadLvg, ReadsTheSection) {
    CoRun c(LvgKeys().text());
    read_lvg(c.run);
    const LvgGrid& p = c.run.lvgparam;
    EXPECT_EQ(p.z_lvg, 1.0f);
    EXPECT_EQ(p.inic_tk, 1.0f);
    EXPECT_EQ(p.fini_tk, 2.0f);
    EXPECT_EQ(p.inic_vg, 0.5f);
    EXPECT_EQ(p.inic_xo, -5.0f);
    EXPECT_EQ(p.fini_xo, -4.0f);
    EXPECT_TRUE(c.lines().empty());
}

// The cases of the section reader: what it prints, whether it stops, and the
// z_lvg it leaves.
TEST(ReadLvg, CasesOfTheSection) {
    struct Case {
        const char* what;
        std::string par;
        bool stops;
        std::vector<std::string> expect;  // texts found in the output (or the stop)
        float z_lvg;
    };
    // The par file is named as it is, without the blanks of its field.
    const std::string par = "m.par";
    const std::vector<Case> cases = {
        // Whole lines: the file's name is not padded.
        {"missing section", "MAIN\nistarfo   0\n", false,
         {" Key LVG not found in file " + par + "\n no LVG calculation\n"}, 0.0f},
        {"z_lvg 0 with the other keys missing", "LVG\nz_lvg     0.0\n", false, {" no LVG calculation"}, 0.0f},
        {"z_lvg 0 first, a bad line after it", "LVG\nz_lvg     0.0\ndelt_tk   abc\nfoo       1.0\n", false,
         {" no LVG calculation"}, 0.0f},
        {"nine keys", LvgKeys().drop("fini_vg").text(), true,
         {" FATAL ERROR: less keys than expected in file " + par + ": found  9 expected 10",
          "missing keys in section LVG: fini_vg"},
         0.0f},
        {"a repeated key does not replace a missing one", LvgKeys().drop("fini_vg").add("inic_vg", "0.5").text(),
         true, {"found  9 expected 10"}, 0.0f},
        {"a repeated key keeps its last value", LvgKeys().add("z_lvg", "2.0").text(), false, {}, 2.0f},
        {"an unknown key", LvgKeys().add("z_lvgx", "3.0").text(), false,
         {" WARNING: unknown key in file " + par + ": z_lvgx    "}, 1.0f},
        {"a section key ends the section", "LVG\nz_lvg     1.0\ndelt_tk   1.0\nSPECTRA\ninic_tk   1.0\n", true,
         {"found  2 expected 10"}, 1.0f},
        {"comment lines and an indented key are passed over",
         "LVG\n% a comment\n# another\n z_lvg    5.0\n\n" + LvgKeys().text().substr(4), false, {}, 1.0f},
        {"a negative z_lvg is read like any value", LvgKeys().set("z_lvg", "-1.0").set("delt_tk", "0.0").text(),
         false, {}, -1.0f},
        {"a step of 0", LvgKeys().set("delt_vg", "0.0").text(), true,
         {"FATAL ERROR: the LVG step delt_vg must not be 0"}, 1.0f},
        {"an axis without values", LvgKeys().set("inic_tk", "3.0").text(), true,
         {"FATAL ERROR: the LVG grid has no value from inic_tk ="}, 1.0f},
        {"a velocity gradient of 0", LvgKeys().set("inic_vg", "0.0").text(), true,
         {"FATAL ERROR: the LVG velocity gradients must be >0"}, 1.0f},
    };
    for (const Case& cs : cases) {
        SCOPED_TRACE(cs.what);
        CoRun c(cs.par);
        c.run.lvgparam.z_lvg = 99.0f;
        std::string out;
        bool stopped = false;
        try {
            read_lvg(c.run);
        } catch (const Stop& s) {
            stopped = true;
            out = stop_text(s);
        }
        out = joined(c.lines()) + out;
        EXPECT_EQ(stopped, cs.stops) << out;
        for (const auto& e : cs.expect) EXPECT_NE(out.find(e), std::string::npos) << "want: " << e << "\n" << out;
        if (!cs.stops) {
            EXPECT_EQ(c.run.lvgparam.z_lvg, cs.z_lvg);
        }
    }
}

// F10.6: a value without a decimal point is an integer scaled by 1e-6, also
// with an exponent; blanks inside the field are ignored. Here the temperature
// step of 5e-7 makes a grid too large for the lvg file, which stops the run
// with the values as read.
TEST(ReadLvg, ImpliedDecimals) {
    CoRun c(LvgKeys().set("z_lvg", "5").set("inic_xo", "-5").set("fini_xo", "-4").set("delt_xo", "1")
                .set("fini_tk", "2 . 5").set("delt_tk", "5e-1")
                .text());
    try {
        read_lvg(c.run);
        ADD_FAILURE() << "no stop";
    } catch (const Stop& s) {
        const std::string t = stop_text(s);
        EXPECT_NE(t.find("models (3000001 x 1 x 1)"), std::string::npos) << t;
        EXPECT_NE(t.find("delt_tk=   4.99999999E-07"), std::string::npos) << t;
        EXPECT_NE(t.find("implied decimals (\"1\" is 0.000001): delt_tk delt_xo inic_xo fini_xo"),
                  std::string::npos)
            << t;
    }
    const LvgGrid& p = c.run.lvgparam;
    EXPECT_EQ(p.z_lvg, 5e-6f);
    EXPECT_EQ(p.inic_xo, -5e-6f);
    EXPECT_EQ(p.fini_xo, -4e-6f);
    EXPECT_EQ(p.delt_xo, 1e-6f);
    EXPECT_EQ(p.fini_tk, 2.5f);
    EXPECT_EQ(p.delt_tk, 5e-7f);
}

// A field that is not a number is an I/O error; a number that is not finite
// is a stop naming the key, the file and line, and the value.
TEST(ReadLvg, ValueThatIsNotANumberOrNotFinite) {
    for (const char* v : {"1.0x", "abc"}) {
        CoRun c(LvgKeys().set("inic_tk", v).text());
        try {
            read_lvg(c.run);
            ADD_FAILURE() << v << ": no error";
        } catch (const IoError& e) {
            EXPECT_NE(std::string(e.what()).find("m.par"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("inic_tk"), std::string::npos) << e.what();
        }
    }
    for (const char* v : {"Infinity", "NaN", "-Inf", "1.0e39"}) {
        CoRun c(LvgKeys().set("fini_vg", v).text());
        try {
            read_lvg(c.run);
            ADD_FAILURE() << v << ": no stop";
        } catch (const Stop& s) {
            EXPECT_EQ(stop_text(s), std::string(" FATAL ERROR: the value of key fini_vg in section LVG of file m.par,"
                                                " line 9, is not a finite number: ") +
                                        v + "\n");
        }
    }
}

TEST(ReadLvg, MissingParFileIsAnErrorThatNamesIt) {
    CoRun c;
    std::filesystem::remove(c.tmp.file("m.par"));
    EXPECT_THROW(read_lvg(c.run), IoError);
    EXPECT_FALSE(std::filesystem::exists(c.tmp.file("m.par")));
}

// The example model's LVG section reads and asks for a small grid.
TEST(ReadLvg, ExampleSection) {
    CoRun c(test::example_par_text());
    read_lvg(c.run);
    const LvgGrid& p = c.run.lvgparam;
    EXPECT_GT(p.z_lvg, 0.0f);
    const int models = lvg_axis_count(p.inic_tk, p.delt_tk, p.fini_tk) *
                       lvg_axis_count(p.inic_vg, p.delt_vg, p.fini_vg) *
                       lvg_axis_count(p.inic_xo, p.delt_xo, p.fini_xo);
    EXPECT_GE(models, 2);
    EXPECT_LE(models, 12);
    EXPECT_TRUE(c.lines().empty()) << joined(c.lines());
}

TEST(LvgGridAxis, CountsAsFourByteReals) {
    struct Case {
        float first, step, last;
        int n;
    };
    for (const Case& c : {Case{0.1f, 0.1f, 1.5f, 15}, Case{1.0f, 1.0f, 1.0f, 1}, Case{-5.0f, 1.0f, -3.0f, 3},
                          Case{0.5f, 0.25f, 1.0f, 3}, Case{1.5f, -0.1f, 0.1f, 15}, Case{0.3f, 0.1f, 0.6f, 4},
                          Case{2.0f, 1.0f, 1.0f, 0}, Case{1.0f, 1.0f, 2.9f, 2}})
        EXPECT_EQ(lvg_axis_count(c.first, c.step, c.last), c.n)
            << c.first << " to " << c.last << " by " << c.step;
}

// ---------------------------------------------------------------------------
// The mean dust temperature

TEST(TmeanMc, RadiusWeightedMeanOverTheDustPresent) {
    SolverState g;
    // Species 1 sublimated inside radius 10, species 7 absent everywhere; the
    // others at T = 100 + r + s.
    for (int r = 1; r <= kSolverNr; ++r) {
        g.rarr(r) = 1e17f * static_cast<float>(r * r);
        for (int s = 1; s <= kSolverNsp; ++s) {
            float t = 100.0f + static_cast<float>(r + s);
            if ((s == 1 && r <= 10) || s == 7) t = 0.0f;
            g.tarr(r, 1, s) = t;
            g.tarr(r, 2, s) = 1e4f;  // other polar angles are not read
        }
    }
    // Independent r^2-weighted trapezoid mean over radii 11..40 of the mean of
    // the 19 species present.
    double a = 0.0, b = 0.0;
    auto tm = [](int r) {
        double s = 0.0;
        for (int k = 1; k <= kSolverNsp; ++k)
            if (k != 7) s += 100.0 + r + k;
        return s / 19.0;
    };
    for (int r = 11; r < kSolverNr; ++r) {
        const double r1 = 1e17 * r * r, r2 = 1e17 * (r + 1) * (r + 1);
        a += 0.5 * (r2 - r1) * (r1 * r1 * tm(r) + r2 * r2 * tm(r + 1));
        b += 0.5 * (r2 - r1) * (r1 * r1 + r2 * r2);
    }
    EXPECT_NEAR(tmean_mc(g), a / b, 1e-4 * a / b);
}

TEST(TmeanMc, EdgeCases) {
    struct Case {
        const char* what;
        std::function<void(SolverState&)> setup;
        float want;
    };
    const std::vector<Case> cases = {
        {"uniform dust", [](SolverState&) {}, 50.0f},
        {"no dust at the outer radius", [](SolverState& g) {
             for (int s = 1; s <= kSolverNsp; ++s) g.tarr(kSolverNr, 1, s) = 0.0f;
         }, 0.0f},
        {"one radius beyond the last gap", [](SolverState& g) {
             g.tarr(39, 1, 5) = 0.0f;
             g.tarr(40, 1, 3) = 70.0f;
         }, 51.0f},
    };
    for (const Case& c : cases) {
        SolverState g;
        for (int r = 1; r <= kSolverNr; ++r) {
            g.rarr(r) = 1e18f * static_cast<float>(r);
            for (int s = 1; s <= kSolverNsp; ++s) g.tarr(r, 1, s) = 50.0f;
        }
        c.setup(g);
        EXPECT_FLOAT_EQ(tmean_mc(g), c.want) << c.what;
    }
}

// ---------------------------------------------------------------------------
// The grid and the lvg file

// A stand-in for the LVG solver: each call takes the next outcome of a list.
struct Outcome {
    int k_control;
    double tk_offset;
    std::vector<double> flu;  // empty with k_control 7: none
};

struct FakeSolver {
    std::vector<Outcome> outcomes;
    struct Call {
        double tk, nh2, v, r, z, x;
        std::string label;
    };
    std::vector<Call> calls;
    void install(Run& run) {
        run.lvgparam.lvgcalc = [this](Run& rn, double tk, double nh2, double v, double r, double z,
                                      const std::string& label, double x) {
            calls.push_back({tk, nh2, v, r, z, x, label});
            const Outcome& o = outcomes[(calls.size() - 1) % outcomes.size()];
            rn.lvgdatos.k_control = o.k_control;
            rn.lvgdatos.tk = tk + o.tk_offset;
            if (o.k_control != 7) rn.lvgsubruti.flu_quelvo = o.flu;
        };
    }
};

// Four models: solved; failed; solved at the second temperature with a faint
// second line; solved with one level left (no line).
FakeSolver four_outcomes() {
    FakeSolver f;
    f.outcomes = {{0, 0.0, {1e-20, 2e-20, 5e-21}},
                  {7, -3.0, {}},
                  {1, 1.0, {3e-20, 1e-60, 4e-21}},
                  {0, 0.0, {}}};
    return f;
}

// Reads the section and runs the grid with f in place of the LVG solver.
void run_grid(CoRun& c, FakeSolver& f) {
    read_lvg(c.run);
    f.install(c.run);
    lvgmain(c.run);
}

TEST(LvgFile, ByteForByte) {
    CoRun c;
    FakeSolver f = four_outcomes();
    run_grid(c, f);
    const std::string want =
        "# NH21=           42.260\n"
        "# R1=             20.000\n"
        "# Ncloud=        100.000\n"
        "#mol    TK     gradV    log(Xco)   nu[Hz]  lambda[mum] log(lum_max)[erg/s/Hz] log(lum)[erg/s]\n"
        " 1    16.000    10.000    -5.000        0.1154E+12        2600.            22.282123        28.867512\n"
        " 1    16.000    10.000    -5.000        0.2308E+12        1300.            22.583153        29.469572\n"
        " 1    16.000    10.000    -5.000        0.3462E+12        866.6            21.981093        29.043603\n"
        " 2    13.000    10.000    -4.000        0.1154E+12         2600.           -999.000000       -999.000000\n"
        " 3    33.000    10.000    -5.000        0.1154E+12        2600.            22.759244        29.344633\n"
        " 3    33.000    10.000    -5.000        0.3462E+12        866.6            21.884183        28.946693\n"
        " 4    32.000    10.000    -4.000        0.1154E+12         2600.           -999.000000       -999.000000\n";
    EXPECT_EQ(test::read_text(c.lvg_file()), want);

    // The solver's arguments: the temperatures are multiples of the dust's
    // 16 K, the velocity is the gradient times the last type's radius, the
    // abundance innermost.
    ASSERT_EQ(f.calls.size(), 4u);
    const double tks[4] = {16.0, 16.0, 32.0, 32.0};
    const double xs[4] = {1e-5, 1e-4, 1e-5, 1e-4};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(f.calls[i].tk, tks[i]);
        EXPECT_NEAR(f.calls[i].x / xs[i], 1.0, 1e-6);
        EXPECT_EQ(f.calls[i].v, 10.0);
        EXPECT_EQ(f.calls[i].r, 20.0);
        EXPECT_EQ(f.calls[i].z, 1.0);
        EXPECT_NEAR(f.calls[i].nh2, 42.259872, 1e-5);
        EXPECT_EQ(f.calls[i].label.size(), 4u);
    }
    // The line emission of each model is released before the next.
    EXPECT_FALSE(c.run.lvgsubruti.flu_quelvo.has_value());

    const std::vector<std::string> out = c.lines();
    ASSERT_FALSE(out.empty());
    // The abundance axis first: its step, first and last value.
    const std::size_t p1 = out.front().find(" 1.00000000"), p2 = out.front().find("-5.00000000"),
                      p3 = out.front().find("-4.00000000");
    EXPECT_TRUE(p1 < p2 && p2 < p3 && p3 != std::string::npos) << out.front();
    EXPECT_EQ(count_containing(out, "k_control qvmol ="), 4);
    EXPECT_NE(out[2].find("k_control qvmol =           7"), std::string::npos) << out[2];
    EXPECT_EQ(out.back(), " finlvg");
}

// The luminosities are those of all the clouds: they scale with the number of
// clouds and with the last type's mass fraction.
TEST(LvgFile, LuminosityScalesWithTheNumberOfClouds) {
    auto log_lums = [](float ncloud, float f_last) {
        CoRun c;
        c.run.glopalla.ncloud = ncloud;
        c.run.mc_righe.f_mc_arr(2) = f_last;
        FakeSolver f;
        f.outcomes = {{0, 0.0, {1e-20, 2e-20}}};
        run_grid(c, f);
        std::vector<double> v;
        for (const auto& l : test::read_lines(c.lvg_file())) {
            if (l.empty() || l[0] == '#') continue;
            v.push_back(std::stod(l.substr(69, 15)));
            v.push_back(std::stod(l.substr(86, 15)));
        }
        return v;
    };
    const std::vector<double> base = log_lums(100.0f, 0.4f);
    const std::vector<double> more = log_lums(1000.0f, 0.4f);
    const std::vector<double> half = log_lums(100.0f, 0.2f);
    ASSERT_EQ(base.size(), 16u);  // four models, two lines, two columns
    ASSERT_EQ(more.size(), base.size());
    ASSERT_EQ(half.size(), base.size());
    for (std::size_t i = 0; i < base.size(); ++i) {
        EXPECT_NEAR(more[i] - base[i], 1.0, 2e-6) << i;
        EXPECT_NEAR(half[i] - base[i], std::log10(0.5), 2e-6) << i;
    }
}

// With radius ratios (rmsr0_flag) the cloud size is the solver's outer radius.
TEST(LvgFile, RadiusRatioUsesTheSolversOuterRadius) {
    CoRun c;
    c.run.glopalla.rmsr0_flag = true;
    c.run.mc_righe.r_mc_arr(2) = 300.0f;  // a ratio of radii
    c.run.globals.rmax = 3.086e19f;       // 10 pc
    FakeSolver f;
    f.outcomes = {{0, 0.0, {1e-20}}};
    run_grid(c, f);
    const std::vector<std::string> l = test::read_lines(c.lvg_file());
    ASSERT_GE(l.size(), 2u);
    EXPECT_EQ(l[1], "# R1=             10.000");
    ASSERT_FALSE(f.calls.empty());
    EXPECT_NEAR(f.calls[0].r, 10.0, 1e-5);
    EXPECT_NEAR(f.calls[0].v, 5.0, 1e-5);
}

// Conditions under which no grid runs and no lvg file is written.
TEST(LvgFile, NoGrid) {
    struct Case {
        const char* what;
        std::function<void(CoRun&)> setup;
        const char* message;  // nullptr: silent
    };
    const std::vector<Case> cases = {
        {"z_lvg 0", [](CoRun& c) { c.run.lvgparam.z_lvg = 0.0f; }, nullptr},
        {"z_lvg negative", [](CoRun& c) { c.run.lvgparam.z_lvg = -1.0f; }, nullptr},
        {"no solver radius (radius ratios, no solve)",
         [](CoRun& c) {
             c.run.glopalla.rmsr0_flag = true;
             c.run.globals.rmax = 0.0f;
         },
         " no LVG calculation: the clouds have no radius"},
        {"no dust at the outer radius",
         [](CoRun& c) {
             for (int s = 1; s <= kSolverNsp; ++s) c.run.globals.tarr(kSolverNr, 1, s) = 0.0f;
         },
         " no LVG calculation: no dust temperature"},
    };
    for (const Case& cs : cases) {
        SCOPED_TRACE(cs.what);
        CoRun c;
        read_lvg(c.run);
        FakeSolver f = four_outcomes();
        f.install(c.run);
        cs.setup(c);
        lvgmain(c.run);
        EXPECT_TRUE(f.calls.empty());
        EXPECT_FALSE(std::filesystem::exists(c.lvg_file()));
        const std::vector<std::string> out = c.lines();
        if (cs.message) {
            EXPECT_EQ(count_containing(out, cs.message), 1) << joined(out);
        } else {
            EXPECT_TRUE(out.empty()) << joined(out);
        }
    }
}

// The background bound of z_lvg (9.13636e15, where h nu / k T_bg of the CO 1-0
// line reaches the 8-byte epsilon) on both sides, through the section and the
// grid as the run takes them: just below it the grid runs at that redshift,
// just above it the run stops naming z_lvg.
TEST(LvgFile, RedshiftBoundOnBothSides) {
    ASSERT_NEAR(lvg_max_redshift(), 9.13636e15, 1e10);
    const struct {
        const char* z;
        bool stops;
    } cases[] = {{"9.13635e15", false}, {"9.13638e15", true}};  // about 9 float steps either side
    for (const auto& cs : cases) {
        SCOPED_TRACE(cs.z);
        CoRun c(LvgKeys().set("z_lvg", cs.z).text());
        FakeSolver f = four_outcomes();
        f.install(c.run);
        try {
            read_lvg(c.run);
            lvgmain(c.run);
            EXPECT_FALSE(cs.stops) << "no stop";
            ASSERT_EQ(f.calls.size(), 4u);
            EXPECT_EQ(f.calls[0].z, static_cast<double>(std::stof(cs.z)));
            EXPECT_TRUE(std::filesystem::exists(c.lvg_file()));
        } catch (const Stop& s) {
            EXPECT_TRUE(cs.stops) << stop_text(s);
            EXPECT_NE(stop_text(s).find("LVG key z_lvg ="), std::string::npos) << stop_text(s);
            EXPECT_NE(stop_text(s).find("z_lvg must be at most"), std::string::npos) << stop_text(s);
            EXPECT_TRUE(f.calls.empty());
            EXPECT_FALSE(std::filesystem::exists(c.lvg_file()));
        }
    }
}

// A value beyond its fixed field (as the H2 density of clouds given by a ratio
// of radii can be) takes the exponent form of the same width: no field is
// asterisks.
TEST(LvgFile, ValuesBeyondTheirFieldsTakeTheExponentForm) {
    CoRun c;
    c.run.glopalla.mcloud = 1e15f;  // H2 density 4.2e11 cm^-3
    c.run.glopalla.ncloud = -2e10f;
    c.set_temperature(2000.0f);    // kinetic temperatures of 2000 and 4000 K
    FakeSolver f;
    f.outcomes = {{0, 0.0, {1e-20}}, {7, -3.0, {}}};
    run_grid(c, f);
    const std::vector<std::string> l = test::read_lines(c.lvg_file());
    ASSERT_GE(l.size(), 6u);
    EXPECT_EQ(l[0], "# NH21=  4.225987379E+11");
    EXPECT_EQ(l[1], "# R1=             20.000");
    EXPECT_EQ(l[2], "# Ncloud=-2.00000000E+10");
    EXPECT_EQ(l[4].substr(0, 35), " 1   2.0E+03    10.000    -5.000   ");
    EXPECT_EQ(l[5].substr(0, 35), " 2   2.0E+03    10.000    -4.000   ");
    for (const auto& r : l) EXPECT_EQ(r.find('*'), std::string::npos) << r;
}

// The model counter has two columns: 99 models are written, 100 stop the run
// when the section is read.
TEST(LvgFile, CounterOfTwoColumns) {
    {
        CoRun c(LvgKeys().set("fini_tk", "9.0").set("fini_xo", "5.0").text());  // 9 x 1 x 11
        FakeSolver f;
        f.outcomes = {{0, 0.0, {1e-20}}};
        run_grid(c, f);
        const std::vector<std::string> l = test::read_lines(c.lvg_file());
        ASSERT_EQ(l.size(), 103u);
        EXPECT_EQ(l[102].substr(0, 2), "99");
    }
    CoRun c(LvgKeys().set("fini_tk", "10.0").set("fini_xo", "4.0").text());  // 10 x 1 x 10
    try {
        read_lvg(c.run);
        ADD_FAILURE() << "no stop";
    } catch (const Stop& s) {
        EXPECT_EQ(stop_text(s),
                  " FATAL ERROR: the LVG grid has 100 models (10 x 1 x 10), more than the 99 that the lvg file can"
                  " number\n"
                  " inic_tk=   1.00000000     delt_tk=   1.00000000     fini_tk=   10.0000000    \n"
                  " inic_vg=  0.500000000     delt_vg=   1.00000000     fini_vg=  0.500000000    \n"
                  " inic_xo=  -5.00000000     delt_xo=   1.00000000     fini_xo=   4.00000000    \n");
    }
    EXPECT_FALSE(std::filesystem::exists(c.lvg_file()));
}

// The real solver on a small grid with hand-set dust temperatures: every
// model is in the file, with finite values.
TEST(LvgFile, RealSolverOnASmallGrid) {
    CoRun c(LvgKeys().set("inic_tk", "1.0").set("fini_tk", "2.0").set("inic_vg", "1.0").set("fini_vg", "1.0")
                .set("z_lvg", "0.5").text());
    c.set_temperature(12.0f);
    read_lvg(c.run);
    lvgmain(c.run);
    const std::vector<std::string> l = test::read_lines(c.lvg_file());
    ASSERT_GT(l.size(), 4u);
    std::vector<int> models;
    for (std::size_t i = 4; i < l.size(); ++i) {
        const std::string& r = l[i];
        ASSERT_GE(r.size(), 100u) << r;
        EXPECT_EQ(r.find_first_of("*NnIi"), std::string::npos) << r;
        const int m = std::stoi(r.substr(0, 2));
        if (models.empty() || models.back() != m) models.push_back(m);
        const double logl = std::stod(r.substr(70, 15));
        EXPECT_TRUE(std::isfinite(logl));
        if (logl != -999.0) {
            EXPECT_GT(logl, 15.0) << r;
            EXPECT_LT(logl, 40.0) << r;
        }
    }
    EXPECT_EQ(models, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(count_containing(c.lines(), "k_control qvmol ="), 4);
}

}  // namespace
}  // namespace qv
