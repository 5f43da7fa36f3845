// The grain mixtures: the MIXDIF and MIXMOL sections, "sigmapah_07.dat", the
// size bins and their weights, and the cross-sections per hydrogen atom.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "core/run.h"
#include "core/stop.h"
#include "dust/grain_fixture.h"
#include "dust/grain_mix.h"
#include "dust/grain_optics.h"
#include "support/test_support.h"

namespace qv {
namespace {

using test::MixKeys;

constexpr double kPi = 3.14159265358979323846;

double dbl(float x) { return x; }

// A run in a fresh working folder whose par file m.par holds the given text, with
// the plane grain tables (or another data folder) as its data directory.
struct MixRun {
    test::TempDir tmp;
    test::CapturedConsole cc;
    Run run{cc.con};
    explicit MixRun(const std::string& par, const std::string& dir = test::plane_grain_dir()) {
        test::write_text(tmp.file("m.par"), par);
        run.modname.name = "m";
        run.modname.name_dir = dir;
        run.mix.dsug = SolverGrainMix::dsugst;
    }
    std::vector<std::string> lines() const { return cc.out_lines(); }
};

std::string two_sections(const MixKeys& dif = MixKeys(), const MixKeys& mol = MixKeys()) {
    return dif.text("MIXDIF") + mol.text("MIXMOL");
}

std::string stop_text(const Stop& s) {
    std::string t;
    for (const auto& l : s.lines) t += l + "\n";
    return t;
}

// The analytic a^k-weighted integral of the broken power law dn/da ~ a^beta1 above
// ab and ab^(beta1-beta2) a^beta2 below it, from amin to amax (double precision).
double law_integral(double amin, double ab, double amax, double b1, double b2, int k) {
    auto seg = [](double lo, double hi, double p) {
        return std::fabs(p) < 1e-12 ? std::log(hi / lo) : (std::pow(hi, p) - std::pow(lo, p)) / p;
    };
    double s = seg(ab, amax, b1 + k + 1);
    if (ab > amin) s += std::pow(ab, b1 - b2) * seg(amin, ab, b2 + k + 1);
    return s;
}

int count_prefix(const std::vector<std::string>& lines, const std::string& p) {
    int n = 0;
    for (const auto& l : lines)
        if (l.rfind(p, 0) == 0) ++n;
    return n;
}

// ---------------------------------------------------------------------------

TEST(GrainMixture, DiffuseMixtureWeightsIntegrateTheSizeDistribution) {
    MixRun m(two_sections());
    mix::genmix(m.run);
    const GrainMix& g = m.run.mix;

    struct Material {
        const char* name;
        double amin, ab, amax, b1, b2, cor, a, offset, rho;
        const Vec<float>&wei, &aarr;
        int first;
    } mats[] = {
        {"graphite", g.amin_gr, g.ab_gr, g.amax_gr, g.beta1_gr, g.beta2_gr, g.corgra, g.a_gr, -25.16,
         2.26, g.wei_gr, g.aarr_gr, 1},
        {"silicate", g.amin_si, g.ab_si, g.amax_si, g.beta1_si, g.beta2_si, g.corsil, g.a_si, -25.11,
         3.3, g.wei_si, g.aarr_si, 21},
    };
    double dust_mass = 0.0;
    for (const Material& s : mats) {
        const double vol = law_integral(s.amin, s.ab, s.amax, s.b1, s.b2, 3);
        const double area = law_integral(s.amin, s.ab, s.amax, s.b1, s.b2, 2);
        double sum_wa = 0.0, sum_w = 0.0, mass = 0.0;
        for (int k = 1; k <= 20; ++k) {
            sum_wa += dbl(s.wei(k)) * dbl(s.aarr(k)) * 1e-4;
            sum_w += dbl(s.wei(k));
            const int j = s.first + k - 1;
            EXPECT_EQ(g.agra(j), s.aarr(k));
            mass += 4.0 / 3.0 * dbl(g.dgra(j)) * std::pow(10.0, s.a) * dbl(s.wei(k)) * dbl(g.agra(j)) * 1e-4;
        }
        // wei(k) a(k) integrates a^3 dn/da over the bin exactly; wei is the bin's
        // geometric cross-section pi a^2 dn.
        EXPECT_NEAR(sum_wa / (kPi * vol), 1.0, 2e-5) << s.name;
        EXPECT_NEAR(sum_w / (kPi * area), 1.0, 5e-3) << s.name;
        // The normalisation: 10^a M = 0.008585786 cor 10^offset.
        EXPECT_NEAR(std::pow(10.0, s.a) * vol / (0.008585786 * s.cor * std::pow(10.0, s.offset)), 1.0,
                    2e-5)
            << s.name;
        EXPECT_NEAR(mass / (4.0 / 3.0 * kPi * s.rho * 0.008585786 * s.cor * std::pow(10.0, s.offset)),
                    1.0, 2e-5)
            << s.name;
        dust_mass += mass;
    }
    // Standard abundance factors give a dust mass per hydrogen mass close to dsug.
    EXPECT_NEAR(dust_mass / 1.673e-24 / dbl(SolverGrainMix::dsugst), 1.0, 0.01);

    double xs = 0.0;
    for (int k = 1; k <= 40; ++k) {
        xs += dbl(g.xgra(k));
        EXPECT_EQ(g.dgra(k), k <= 20 ? 2.26f : 3.3f);
        EXPECT_EQ(g.mx(k), k <= 20 ? 12.0f : 169.0f);
        EXPECT_GT(g.bgra(k), 0.0f);
    }
    EXPECT_NEAR(xs, 1.0, 1e-6);
    EXPECT_FLOAT_EQ(g.agra(1), 1e4f * std::sqrt(g.barr_gr(1) * g.barr_gr(0)));
    EXPECT_FLOAT_EQ(g.barr_gr(0), g.amin_gr);
    EXPECT_NEAR(g.barr_gr(20) / g.amax_gr, 1.0f, 1e-5f);
}

TEST(GrainMixture, OutputLinesOfTheBuilder) {
    MixRun m(two_sections());
    mix::genmix(m.run);
    const auto out = m.lines();
    // "A_GR=", "A_SI=", then three (8G10.4) lines per material: 20 abundances,
    // their sum and its ratio to the reference abundance.
    ASSERT_EQ(out.size(), 8u);
    EXPECT_EQ(out[0].rfind(" A_GR=", 0), 0u) << out[0];
    EXPECT_EQ(out[1].rfind(" A_SI=", 0), 0u) << out[1];
    EXPECT_NEAR(std::stod(out[0].substr(6)), m.run.mix.a_gr, 1e-4);
    const GrainMix& g = m.run.mix;
    for (int half = 0; half < 2; ++half) {
        EXPECT_EQ(out[2 + 3 * half].size(), 80u);
        EXPECT_EQ(out[3 + 3 * half].size(), 80u);
        ASSERT_EQ(out[4 + 3 * half].size(), 60u);
        double s = 0.0;
        for (int k = 1; k <= 20; ++k) s += dbl(g.zeta(k + 20 * half));
        const std::string& last = out[4 + 3 * half];
        EXPECT_NEAR(std::stod(last.substr(40, 10)) / s, 1.0, 1e-3);
        EXPECT_NEAR(std::stod(last.substr(50, 10)) / (s / (half ? 3.6e-5 : 0.00048)), 1.0, 1e-3);
        EXPECT_NEAR(std::stod(out[2 + 3 * half].substr(0, 10)) / dbl(g.zeta(1 + 20 * half)), 1.0, 1e-3);
    }
}

TEST(GrainMixture, PahRecordFromTheFileAndTheSection) {
    MixRun m(two_sections(MixKeys().set("xh", "0.5")));
    m.run.mix.dsug = 2.0f * SolverGrainMix::dsugst;
    mix::genmix(m.run);
    const PahBands& p = m.run.glopah;
    EXPECT_FLOAT_EQ(p.sigmai_neu(1), 3.9f);
    EXPECT_FLOAT_EQ(p.sigmai_ion(1), 0.4f);
    EXPECT_FLOAT_EQ(p.sigmai_neu(24), 0.2f);
    EXPECT_FLOAT_EQ(p.sigmai_ion(24), 0.1f);
    for (int k = 1; k <= 24; ++k) EXPECT_EQ(p.sigmai(k), p.sigmai_neu(k));
    // The abundance factors follow dsug; xx takes the scaled graphite factor.
    EXPECT_FLOAT_EQ(m.run.mix.corgra, 2.0f);
    EXPECT_FLOAT_EQ(m.run.mix.corsil, 2.0f);
    EXPECT_FLOAT_EQ(p.xx, 7.5e-25f * 2.0f);
    EXPECT_FLOAT_EQ(p.xh, 0.5f);
    EXPECT_FLOAT_EQ(p.nh1, 6.8e15f * 0.5f);
    EXPECT_FLOAT_EQ(p.nc1, 1.23e16f);
    // The clouds' record is untouched.
    EXPECT_EQ(m.run.glopahtau.xx, 0.0f);
    EXPECT_EQ(m.run.glopahtau.nh1, 6.8e15f);
}

TEST(GrainMixture, DsugScalesTheNormalisation) {
    MixRun a(two_sections()), b(two_sections());
    b.run.mix.dsug = 0.5f * SolverGrainMix::dsugst;
    mix::genmix(a.run);
    mix::genmix(b.run);
    EXPECT_NEAR(a.run.mix.a_gr - b.run.mix.a_gr, std::log10(2.0), 1e-5);
    EXPECT_NEAR(a.run.mix.a_si - b.run.mix.a_si, std::log10(2.0), 1e-5);
    for (int k = 1; k <= 40; ++k) EXPECT_NEAR(a.run.mix.xgra(k), b.run.mix.xgra(k), 1e-6);
}

// ---------------------------------------------------------------------------
// The split of the bins at the break.

TEST(GrainMixture, BinSplitAtTheBreak) {
    MixRun m(two_sections(MixKeys()
                              .set("amin_gr", "1.0e-7")
                              .set("ab_gr", "1.0e-6")
                              .set("amax_gr", "1.0e-4")
                              .set("beta1_gr", "-3.5")
                              .set("beta2_gr", "-2.5")));
    mix::genmix(m.run);
    const GrainMix& g = m.run.mix;
    // L1/(L1+L2) = 2/3: n_up = nint(13.33) = 13, n_low = 7, and barr(7) = ab.
    EXPECT_EQ(g.barr_gr(7), g.ab_gr);
    EXPECT_FLOAT_EQ(g.ab_gr, 1.0e-6f);
    EXPECT_FLOAT_EQ(g.barr_gr(0), 1.0e-7f);
    for (int i = 1; i <= 6; ++i)
        EXPECT_NEAR(std::log10(g.barr_gr(i) / g.barr_gr(i - 1)), 1.0 / 7.0, 1e-5) << i;
    for (int i = 8; i <= 20; ++i)
        EXPECT_NEAR(std::log10(g.barr_gr(i) / g.barr_gr(i - 1)), 2.0 / 13.0, 1e-5) << i;
    EXPECT_NEAR(g.barr_gr(20) / 1.0e-4f, 1.0f, 1e-5f);
}

TEST(GrainMixture, BinsAboveTheBreakRoundToTheNearestInteger) {
    // L2 = 1 decade below the break, L1 = 2.125 above it: N L1/(L1+L2) = 13.6 gives
    // 14 bins above the break and 6 below.
    MixRun m(two_sections(MixKeys()
                              .set("amin_si", "1.0e-7")
                              .set("ab_si", "1.0e-6")
                              .set("amax_si", "1.33352e-4")
                              .set("beta1_si", "-3.5")
                              .set("beta2_si", "-2.0")));
    mix::genmix(m.run);
    const GrainMix& g = m.run.mix;
    EXPECT_EQ(g.barr_si(6), g.ab_si);
    EXPECT_NEAR(std::log10(g.barr_si(1) / g.barr_si(0)), 1.0 / 6.0, 1e-5);
    EXPECT_NEAR(std::log10(g.barr_si(20) / g.barr_si(19)), 2.125 / 14.0, 1e-4);
}

TEST(GrainMixture, AtLeastOneBinAboveTheBreak) {
    // N L1 / (L1 + L2) = 20 x 0.06 / 3 = 0.4 rounds to 0 but gives one bin.
    MixRun m(two_sections(MixKeys()
                              .set("amin_si", "1.0e-7")
                              .set("ab_si", "8.70964e-5")
                              .set("amax_si", "1.0e-4")
                              .set("beta1_si", "-3.5")
                              .set("beta2_si", "-3.0")));
    mix::genmix(m.run);
    const GrainMix& g = m.run.mix;
    EXPECT_EQ(g.barr_si(19), g.ab_si);
    EXPECT_NEAR(g.barr_si(20) / 1.0e-4f, 1.0f, 1e-5f);
    EXPECT_NEAR(std::log10(g.barr_si(1) / g.barr_si(0)), 2.94 / 19.0, 1e-4);
}

TEST(GrainMixture, EqualSlopesGiveEqualLogBinsFromAmin) {
    MixRun m(two_sections(MixKeys().set("beta1_gr", "-3.5").set("beta2_gr", "-3.5")));
    mix::genmix(m.run);
    const GrainMix& g = m.run.mix;
    EXPECT_EQ(g.ab_gr, g.amin_gr);
    const double d = std::log10(dbl(g.amax_gr) / dbl(g.amin_gr)) / 20.0;
    for (int i = 1; i <= 20; ++i) EXPECT_NEAR(std::log10(g.barr_gr(i) / g.barr_gr(i - 1)), d, 1e-5);
}

TEST(GrainMixture, BreakOutsideTheRangeUsesTheUpperSlopeAlone) {
    MixRun out(two_sections(MixKeys().set("ab_si", "1.0e-3").set("beta2_si", "-4.0")));
    MixRun single(two_sections(MixKeys().set("beta2_si", "-3.5")));
    mix::genmix(out.run);
    mix::genmix(single.run);
    EXPECT_EQ(out.run.mix.ab_si, out.run.mix.amin_si);
    EXPECT_EQ(out.run.mix.a_si, single.run.mix.a_si);
    for (int k = 0; k <= 20; ++k) EXPECT_EQ(out.run.mix.barr_si(k), single.run.mix.barr_si(k));
    for (int k = 1; k <= 20; ++k) EXPECT_EQ(out.run.mix.wei_si(k), single.run.mix.wei_si(k));
}

// ---------------------------------------------------------------------------
// Size distributions that cannot be integrated stop with the key.

struct BadLaw {
    const char* key;
    const char* value;
    const char* says;
    const char* key2 = nullptr;
    const char* value2 = nullptr;
};

const BadLaw kBadLaws[] = {
    {"beta1_gr", "-4.0", "beta1_gr = -4"},
    {"beta2_si", "-4.0", "beta2_si = -4"},
    {"amin_gr", "0.0", "amin_gr"},
    {"amin_si", "-1.0e-7", "amin_si"},
    {"amax_si", "0.0", "amax_si"},
    {"amin_gr", "2.5e-5", "amin_gr = 2.5e-05 must be below amax_gr"},
    {"amin_si", "3.0e-5", "amin_si = 3e-05 must be below amax_si"},
    {"corgra", "-1.0", "corgra"},
    {"corgra", "0.0", "corgra and corsil are both 0", "corsil", "0.0"},
    {"beta1_gr", "-40.0", "4-byte reals"},
};

TEST(GrainMixture, SizeDistributionsThatCannotBeIntegratedStopNamingTheKey) {
    for (bool cloud : {false, true})
        for (const BadLaw& b : kBadLaws) {
            MixKeys bad;
            bad.set(b.key, b.value);
            if (b.key2) bad.set(b.key2, b.value2);
            MixRun m(cloud ? two_sections(MixKeys(), bad) : two_sections(bad));
            try {
                if (cloud)
                    glopalla::mixpalla(m.run, 1.0f);
                else
                    mix::genmix(m.run);
                ADD_FAILURE() << b.key << " " << b.value << ": no stop";
            } catch (const Stop& s) {
                const std::string t = stop_text(s);
                EXPECT_NE(t.find(b.says), std::string::npos) << t;
                EXPECT_NE(t.find(cloud ? "MIXMOL" : "MIXDIF"), std::string::npos) << t;
            }
        }
}

TEST(GrainMixture, MinusFourBelowAnEmptyLowerPartIsFine) {
    // With the break reset to amin there is nothing below it to integrate.
    MixRun m(two_sections(MixKeys().set("ab_gr", "5.0e-7").set("beta2_gr", "-4.0")));
    mix::genmix(m.run);
    EXPECT_TRUE(std::isfinite(m.run.mix.a_gr));
    for (int k = 1; k <= 40; ++k) EXPECT_TRUE(std::isfinite(m.run.mix.xgra(k)));
}

TEST(GrainMixture, ZeroDustToGasRatioStopsNamingDsug) {
    MixRun m(two_sections());
    m.run.mix.dsug = 0.0f;
    try {
        mix::genmix(m.run);
        FAIL() << "no stop";
    } catch (const Stop& s) {
        EXPECT_NE(stop_text(s).find("dsug"), std::string::npos) << stop_text(s);
    }
}

TEST(GrainMixture, OneMaterialMayBeAbsent) {
    MixRun m(two_sections(MixKeys().set("corgra", "0.0")));
    mix::genmix(m.run);
    const GrainMix& g = m.run.mix;
    double s = 0.0;
    for (int k = 1; k <= 40; ++k) {
        EXPECT_EQ(g.xgra(k) == 0.0f, k <= 20) << k;
        s += dbl(g.xgra(k));
    }
    EXPECT_NEAR(s, 1.0, 1e-6);
    EXPECT_GT(mix::mixcold(m.run, 1.0f), 0.0f);
}

// Mixtures whose cross-section per hydrogen atom is beyond the 4-byte reals
// stop when they are built, naming the section and the keys that set it, and
// write no value that is not a finite number. The steep graphite law (dn/da ~
// a^3 from 5e-5 to 1e-4 cm) has so little mass that corgra 3e38 overflows its
// normalisation; grains down to 1e-40 cm overflow the factor of their bin.
struct OpaqueMix {
    const char* what;
    bool cloud;         // MIXMOL (built by mixpalla) or MIXDIF
    MixKeys keys;       // of the section built
    float dsug_ratio;   // MAIN dsug over the standard ratio
    bool pahflag;
    std::vector<std::string> says;  // empty: the mixture is built
};

MixKeys steep_graphite(const char* corgra) {
    return MixKeys()
        .set("amin_gr", "5.0e-5")
        .set("ab_gr", "5.0e-5")
        .set("amax_gr", "1.0e-4")
        .set("beta1_gr", "3.0")
        .set("beta2_gr", "3.0")
        .set("corgra", corgra);
}

const std::string kGrKeys = "amin_gr, amax_gr, ab_gr, beta1_gr, beta2_gr and corgra";
const std::string kSiKeys = "amin_si, amax_si, ab_si, beta1_si, beta2_si and corsil";

const OpaqueMix kOpaqueMixes[] = {
    {"graphite normalisation of the clouds", true, steep_graphite("3.0e38"), 1.0f, false,
     {" FATAL ERROR - section MIXMOL: the normalisation of the graphite size distribution is not a finite number",
      " it is set by the keys " + kGrKeys + " of section MIXMOL: "}},
    {"graphite normalisation of the cirrus", false, steep_graphite("3.0e38"), 1.0f, false,
     {" FATAL ERROR - section MIXDIF: the normalisation of the graphite size distribution",
      " it is set by the keys " + kGrKeys + " of section MIXDIF and by the MAIN key dsug"}},
    {"the same law with corgra 1e10", true, steep_graphite("1.0e10"), 1.0f, false, {}},
    {"an abundance factor that dsug scales beyond the reals", false, MixKeys().set("corsil", "3.0e38"), 4.0f,
     false,
     {" FATAL ERROR - section MIXDIF: the normalisation of the silicate size distribution is not a finite number",
      kSiKeys + " of section MIXDIF and by the MAIN key dsug"}},
    {"silicate grains down to 1e-40 cm", true, MixKeys().set("amin_si", "1.0e-40").set("corsil", "1.0e20"), 1.0f,
     false,
     {" FATAL ERROR - section MIXMOL: the cross-section factor of size bin 1 of the silicate grains is not a finite",
      kSiKeys + " of section MIXMOL"}},
    {"PAH cross-section of the clouds", true, MixKeys().set("xx", "1.0e38"), 1.0f, false,
     {" FATAL ERROR - section MIXMOL: the PAH cross-section per hydrogen atom at ",
      " it is set by the keys xx and corgra of section MIXMOL"}},
    {"PAH cross-section of the cirrus with its PAH bands", false, MixKeys().set("xx", "1.0e38"), 1.0f, true,
     {" FATAL ERROR - section MIXDIF: the PAH cross-section per hydrogen atom at ",
      " it is set by the keys xx and corgra of section MIXDIF and by the MAIN key dsug"}},
    // The cirrus adds no PAH term without the PAH bands.
    {"PAH cross-section of the cirrus without its PAH bands", false, MixKeys().set("xx", "1.0e38"), 1.0f, false, {}},
    // Finite at build, however opaque: the stages that overflow name the keys.
    {"the cirrus PAH abundance 1.0", false, MixKeys().set("xx", "1.0"), 1.0f, true, {}},
};

TEST(GrainMixture, CrossSectionsBeyondTheRealsStopWhenBuiltNamingTheKeys) {
    for (const OpaqueMix& c : kOpaqueMixes) {
        SCOPED_TRACE(c.what);
        MixRun m(c.cloud ? two_sections(MixKeys(), c.keys) : two_sections(c.keys));
        m.run.mix.dsug = c.dsug_ratio * SolverGrainMix::dsugst;
        m.run.modname.pahflag = c.pahflag;
        std::string stop;
        try {
            if (c.cloud)
                glopalla::mixpalla(m.run, 1.0f);
            else
                mix::genmix(m.run);
        } catch (const Stop& s) {
            stop = stop_text(s);
        }
        EXPECT_EQ(stop.empty(), c.says.empty()) << stop;
        for (const auto& w : c.says) EXPECT_NE(stop.find(w), std::string::npos) << "want: " << w << "\n" << stop;
        const std::string out = m.cc.out.str() + stop;
        for (const char* bad : {"NaN", "Infinity", "nan", "inf "})
            EXPECT_EQ(out.find(bad), std::string::npos) << bad << " in:\n" << out;
    }
}

// ---------------------------------------------------------------------------
// The keyed sections.

TEST(MixSection, MissingSectionStops) {
    MixRun m(MixKeys().text("MIXMOL"));
    try {
        mix::genmix(m.run);
        FAIL() << "no stop";
    } catch (const Stop& s) {
        ASSERT_EQ(s.lines.size(), 1u);
        EXPECT_EQ(s.lines[0], " Key MIXDIF not found in file " + std::string("m.par"));
    }
    MixRun c(MixKeys().text("MIXDIF"));
    try {
        glopalla::mixpalla(c.run, 1.0f);
        FAIL() << "no stop";
    } catch (const Stop& s) {
        EXPECT_EQ(s.lines.at(0), " Key MIXMOL not found in file " + std::string("m.par"));
    }
}

TEST(MixSection, EveryKeyMustBeFoundARepeatHidesNone) {
    struct C {
        const char* what;
        MixKeys keys;
        int found;
        const char* missing;
    } cases[] = {
        {"one key missing", MixKeys().drop("corsil"), 13, " corsil"},
        {"a key twice, another missing", MixKeys().drop("corsil").add("amin_gr", "8.0e-7"), 13,
         " corsil"},
        {"two missing, two repeats",
         MixKeys().drop("xx").drop("ab_gr").add("xh", "1.0").add("xh", "1.0"), 12, " ab_gr xx"},
        {"a key behind the next section key",
         [] {
             MixKeys k;
             k.drop("corsil");
             k.add("MC_LINE", "");
             k.add("corsil", "1.0");
             return k;
         }(),
         13, " corsil"},
    };
    for (const C& c : cases) {
        MixRun m(two_sections(c.keys));
        try {
            mix::genmix(m.run);
            ADD_FAILURE() << c.what << ": no stop";
        } catch (const Stop& s) {
            ASSERT_EQ(s.lines.size(), 2u) << c.what;
            char want[64];
            std::snprintf(want, sizeof want, ": found%3d expected 14", c.found);
            EXPECT_EQ(s.lines[0],
                      " FATAL ERROR: less keys than expected in file " + std::string("m.par") + want)
                << c.what;
            EXPECT_EQ(s.lines[1], std::string(" missing keys in section MIXDIF:") + c.missing) << c.what;
        }
    }
}

TEST(MixSection, XhEntersNh1OnceAndTheLastValueWins) {
    MixRun m(two_sections(MixKeys().set("xh", "3.0").add("xh", "0.25").add("xh", "0.5")));
    mix::genmix(m.run);
    EXPECT_FLOAT_EQ(m.run.glopah.xh, 0.5f);
    EXPECT_FLOAT_EQ(m.run.glopah.nh1, 6.8e15f * 0.5f);
}

TEST(MixSection, ValueFieldIsG10_3) {
    // Without a decimal point a value is read as thousandths; columns beyond 20 are
    // not read; blanks inside the field are ignored.
    std::string par = MixKeys().drop("corsil").drop("xh").drop("corgra").text("MIXDIF");
    par += "corsil    1000      read as 1.0\n";
    par += "xh        5\n";
    par += "corgra    1. 5      \n";
    par += MixKeys().text("MIXMOL");
    MixRun m(par);
    mix::genmix(m.run);
    EXPECT_FLOAT_EQ(m.run.mix.corsil, 1.0f);
    EXPECT_FLOAT_EQ(m.run.glopah.xh, 0.005f);
    EXPECT_FLOAT_EQ(m.run.mix.corgra, 1.5f);
}

TEST(MixSection, CommentsUnknownKeysAndBadValues) {
    std::string par = "MIXDIF\n% comment\n# comment\n corgra    9.0  indented: a comment\n\n";
    par += MixKeys().add("foo", "1.0").text("").substr(1);
    MixRun m(par);
    mix::genmix(m.run);
    EXPECT_FLOAT_EQ(m.run.mix.corgra, 1.0f);
    const auto out = m.lines();
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out[0], " WARNING: unknown key in file " + std::string("m.par") + ": foo       ");

    MixRun bad(two_sections(MixKeys().set("ab_si", "1.0e-6x")));
    try {
        mix::genmix(bad.run);
        FAIL() << "no error";
    } catch (const IoError& e) {
        // m.par: MIXDIF, the comment line, then ab_si as the tenth key.
        EXPECT_EQ(std::string(e.what()).rfind("m.par:12:", 0), 0u) << e.what();
    }
}

// ---------------------------------------------------------------------------
// "sigmapah_07.dat".

TEST(SigmaPahFile, MissingOrShortFileIsAnError) {
    test::TempDir data;
    for (const char* n : {"SIL_81", "GRA_81"})
        std::filesystem::copy_file(test::plane_grain_dir() + n, data.file(n));
    const std::string dir = data.path().string() + "/";
    {
        MixRun m(two_sections(), dir);
        try {
            mix::genmix(m.run);
            FAIL() << "no error";
        } catch (const IoError& e) {
            EXPECT_NE(std::string(e.what()).find(dir + "sigmapah_07.dat"), std::string::npos);
        }
        EXPECT_FALSE(std::filesystem::exists(dir + "sigmapah_07.dat"));
    }
    auto rows = test::read_lines(test::plane_grain_dir() + "sigmapah_07.dat");
    ASSERT_EQ(rows.size(), 26u);
    rows.pop_back();
    std::string text;
    for (const auto& r : rows) text += r + "\n";
    test::write_text(dir + "sigmapah_07.dat", text);
    MixRun m(two_sections(), dir);
    try {
        glopalla::mixpalla(m.run, 1.0f);
        FAIL() << "no error";
    } catch (const IoError& e) {
        EXPECT_NE(std::string(e.what()).find("holds 23 of the 24 PAH band rows"), std::string::npos)
            << e.what();
    }
}

// ---------------------------------------------------------------------------
// Cross-sections per hydrogen atom.

double plane(const test::Plane& p, double lam, double a) { return p.q(lam, a); }

TEST(GrainMixture, MixcoldSumsTheBinsInTheRunsEfficiencyMode) {
    for (int isca : {0, 2}) {
        MixRun m(two_sections());
        m.run.remind.isca = isca;
        mix::genmix(m.run);
        const GrainMix& g = m.run.mix;
        for (float lam : {0.1f, 1.0f, 55.0f}) {
            double want = 0.0;
            for (int k = 1; k <= 40; ++k) {
                const bool gr = k <= 20;
                const double a = g.agra(k);
                const double qa = plane(gr ? test::kGraAbs : test::kSilAbs, lam, a);
                const double qs = plane(gr ? test::kGraSca : test::kSilSca, lam, a);
                const double qq = isca == 2 ? std::sqrt(qa * (qa + qs)) : qa;
                want += std::pow(10.0, dbl(gr ? g.a_gr : g.a_si)) * dbl(gr ? g.wei_gr(k) : g.wei_si(k - 20)) * qq;
            }
            EXPECT_NEAR(dbl(mix::mixcold(m.run, lam)) / want, 1.0, 1e-5) << isca << " " << lam;
        }
    }
}

TEST(GrainMixture, MixpallaBuildsTheCloudMixtureOnceAndUsesExtinction) {
    MixRun m(two_sections(MixKeys(), MixKeys().set("amax_gr", "1.0e-4").set("corgra", "2.0")));
    m.run.mix.dsug = 3.0f * SolverGrainMix::dsugst;  // no effect on the clouds' mixture
    const float k1 = glopalla::mixpalla(m.run, 1.0f);
    const auto first = m.lines();
    // "A_GR=", "A_SI=", then two (8G10.4) lines per material: 10 abundances, sum, ratio.
    ASSERT_EQ(first.size(), 6u);
    EXPECT_EQ(count_prefix(first, " A_GR="), 1);
    EXPECT_EQ(first[2].size(), 80u);
    EXPECT_EQ(first[3].size(), 40u);
    EXPECT_TRUE(m.run.glopalla.mixpalla_built);
    EXPECT_EQ(glopalla::mixpalla(m.run, 1.0f), k1);
    EXPECT_EQ(m.lines().size(), first.size());

    const SolverGrainMix& t = m.run.taumix;
    EXPECT_EQ(t.dsug, SolverGrainMix::dsugst);
    EXPECT_FLOAT_EQ(t.corgra, 2.0f);
    EXPECT_FLOAT_EQ(m.run.glopahtau.xx, 7.5e-25f * 2.0f);
    EXPECT_FLOAT_EQ(m.run.glopahtau.nh1, 6.8e15f);
    EXPECT_FLOAT_EQ(m.run.glopahtau.sigmai(4), 3.0f);
    double xs = 0.0;
    for (int k = 1; k <= 20; ++k) xs += dbl(t.xgra(k));
    EXPECT_NEAR(xs, 1.0, 1e-6);
    EXPECT_FLOAT_EQ(t.agra(1), 1e4f * std::sqrt(t.barr_gr(1) * t.barr_gr(0)));
    EXPECT_NEAR(t.barr_gr(10) / 1.0e-4f, 1.0f, 1e-5f);
    // The diffuse mixture is not built by it.
    EXPECT_EQ(m.run.mix.agra(1), 0.0f);

    auto want_at = [&](double lam, double tail_from, double tail_exp) {
        double s = 0.0;
        for (int k = 1; k <= 20; ++k) {
            const bool gr = k <= 10;
            const double a = t.agra(k);
            const double la = lam > tail_from ? tail_from : lam;
            double qa = plane(gr ? test::kGraAbs : test::kSilAbs, la, a);
            if (lam > tail_from) qa *= std::pow(tail_from / lam, tail_exp);
            const double qs = plane(gr ? test::kGraSca : test::kSilSca, lam, a);
            s += std::pow(10.0, dbl(gr ? t.a_gr : t.a_si)) * dbl(gr ? t.wei_gr(k) : t.wei_si(k - 10)) * (qa + qs);
        }
        return s;
    };
    EXPECT_NEAR(dbl(k1) / want_at(1.0, 1e30, 2.0), 1.0, 1e-5);
    EXPECT_NEAR(dbl(glopalla::mixpalla(m.run, 0.2f)) / want_at(0.2, 1e30, 2.0), 1.0, 1e-5);
    // The absorption part follows the long-wavelength tail.
    m.run.trucco.lam_trucco = 100.0f;
    m.run.trucco.exp_trucco = 2.0f;
    EXPECT_NEAR(dbl(glopalla::mixpalla(m.run, 1000.0f)) / want_at(1000.0, 100.0, 2.0), 1.0, 1e-5);
}

}  // namespace
}  // namespace qv
