// PAH feature profiles in the spectra files: the spike measurement, the Drude
// profiles, the merge of the fine grid into the spectrum rows, the column lists
// by annflag, the PAH feature file, the header copy, the temporary name and
// the errors of unreadable spectrum files.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/run.h"
#include "core/stop.h"
#include "dust/dust_grid.h"
#include "dust/pah_profiles.h"
#include "dust/spectra_files.h"
#include "io/format.h"
#include "support/test_support.h"

namespace qv {
namespace {

using Row = std::array<float, 9>;
using DRow = std::array<double, 9>;

double dbl(float x) { return x; }

// The fifteen header lines of a spectrum file.
std::string spectrum_header(const std::string& first = "# Angle average") {
    std::vector<std::string> h = {first,
                                  "# (1): Wavelength in Angstrom",
                                  "# (2): Cirrus emssion",
                                  "# (3): Starlight extincted by MCs only",
                                  "# (4): Starlight extincted",
                                  "# (5): MCs emission",
                                  "# (6): Total",
                                  "# (7): Starlight unextincted",
                                  "# (8): Subcomponent unextincted",
                                  "# (9): Subcomponent extincted",
                                  "# Notes:",
                                  "# 1. luminosities in 1e30 erg/s/A",
                                  "# 2. subcomponent in cols. 8,9 is bulge for composite models",
                                  "# otherwise = cols. 7,4 resp.",
                                  fio::write_line("('#',4X,I1,5X,20(4X,I2,5X))", {1, 2, 3, 4, 5, 6, 7, 8, 9})};
    std::string t;
    for (const std::string& l : h) t += l + "\n";
    return t;
}

std::string row_line(const Row& r) {
    std::vector<fio::Item> it;
    for (float v : r) it.emplace_back(v);
    return fio::write_line("(9G11.4)", it);
}

std::string spectrum_text(const std::vector<Row>& rows, const std::string& header = spectrum_header()) {
    std::string t = header;
    for (const Row& r : rows) t += row_line(r) + "\n";
    return t;
}

std::vector<double> numbers(const std::string& line) {
    std::istringstream s(line);
    std::vector<double> v;
    double x;
    while (s >> x) v.push_back(x);
    return v;
}

// The data rows of a spectrum file's lines (after the 15 header lines).
std::vector<DRow> data_rows(const std::vector<std::string>& lines) {
    std::vector<DRow> rows;
    for (std::size_t i = 15; i < lines.size(); ++i) {
        const std::vector<double> v = numbers(lines[i]);
        EXPECT_EQ(v.size(), 9u) << "line " << i + 1 << ": " << lines[i];
        DRow r{};
        for (std::size_t c = 0; c < 9 && c < v.size(); ++c) r[c] = v[c];
        rows.push_back(r);
    }
    return rows;
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream s(text);
    std::string l;
    while (std::getline(s, l)) out.push_back(l);
    return out;
}

// Linear interpolation in column c of rows on column 0, by the last row at or
// below x (extended beyond the ends).
double interp(const std::vector<DRow>& t, std::size_t c, double x) {
    std::size_t j = 0;
    while (j + 2 < t.size() && t[j + 1][0] <= x) ++j;
    const DRow& a = t[j];
    const DRow& b = t[j + 1];
    return a[c] + (x - a[0]) * (b[c] - a[c]) / (b[0] - a[0]);
}

double drude_d(double lam, double dlam, double w) {
    const double g = dlam / lam;
    const double x = w / lam - lam / w;
    return (2.0 * g / lam) / (std::numbers::pi * (g * g + x * x));
}

std::string what_of(const std::exception& e) { return e.what(); }

// The first fine row at wavelength x (0: none).
int fine_index(const PahProfileWork& w, float x) {
    for (int q = 1; q <= w.npro; ++q)
        if (w.wpro(q) == x) return q;
    return 0;
}

// Heights of the spikes laid on the flat baselines of columns 2 and 5, by band.
double h2(int k) { return 0.25 + 0.05 * k; }
double h5(int k) { return 0.5 + 0.1 * k; }
constexpr float kBase2 = 2.0f, kBase5 = 5.0f;

// The bands of heights h (times their widths) as Drude profiles at x.
double profiles(const Run& run, double (*h)(int), double x) {
    double s = 0;
    for (int k = 1; k <= 24; ++k) {
        const double lam = 1e4 * dbl(run.glopah.lami(k)), dl = 1e4 * dbl(run.glopah.dlami(k));
        s += h(k) * dl * drude_d(lam, dl, x);
    }
    return s;
}

// A run with the dust grid of the example's SSP range (key nlf 100, PAH band
// points), and spectrum rows on it: flat baselines with five-point spikes in
// columns 2 and 5, smooth starlight in the other columns.
struct ProRun {
    test::CapturedConsole cc;
    qv::Run run{cc.con};

    explicit ProRun(int n0 = 100) {
        BirthGrid& r = run.remind;
        r.nlam = 300;
        r.wave.resize(r.nlam);
        for (int k = 1; k <= r.nlam; ++k)
            r.wave(k) = static_cast<float>(91.0 * std::pow(9e7 / 91.0, (k - 1) / 299.0));
        run.modname.pahflag = true;
        run.glopalla.nlf = n0 + 18 + 120;
        pah_band_grid(run.glopah);
        build_dust_grid(run);
    }

    // The spike of band k's five points at row i (centre h, neighbours h/2).
    float spike(int i, double (*h)(int)) const {
        for (int k = 1; k <= 24; ++k) {
            const int c = run.glopah.indpah(k);
            if (i == c) return static_cast<float>(h(k));
            if (i == c - 1 || i == c + 1) return static_cast<float>(h(k) / 2);
        }
        return 0.0f;
    }

    std::vector<Row> rows(int radio_rows = 0) const {
        std::vector<Row> out;
        const CloudSetup& gp = run.glopalla;
        auto add = [&](float w, float s2, float s5) {
            const float star = 10.0f / std::sqrt(w / 1e4f);
            Row r{w, kBase2 + s2, star, 0.8f * star, kBase5 + s5, 0.0f, 1.2f * star, 0.3f * star, 0.25f * star};
            r[5] = r[1] + r[3] + r[4];
            out.push_back(r);
        };
        for (int i = 1; i <= gp.nlf; ++i) add(gp.ws(i), spike(i, h2), spike(i, h5));
        for (int k = 1; k <= radio_rows; ++k) add(gp.ws(gp.nlf) * std::pow(10.0f, static_cast<float>(k)), 0, 0);
        return out;
    }
};

// ---------------------------------------------------------------------------
// The spike measurement.

struct SpikeCase {
    const char* what;
    float left, inner_l, centre, inner_r, right;  // the five points
    double lum_per_width;                         // expected lumpah / dlam
    float mean;                                   // the new centre and the outer mean
};

TEST(PahProfile, SpikesGiveHeightTimesWidthAndDipsGiveZero) {
    const SpikeCase cases[] = {
        {"five-point spike on a flat baseline", 3.0f, 3.5f, 4.25f, 3.5f, 3.0f, 1.25, 3.0f},
        {"spike at the centre only", 3.0f, 3.0f, 3.5f, 3.0f, 3.0f, 0.5, 3.0f},
        {"dip", 3.0f, 2.5f, 2.0f, 2.5f, 3.0f, 0.0, 3.0f},
        {"flat", 3.0f, 3.0f, 3.0f, 3.0f, 3.0f, 0.0, 3.0f},
        {"sloped baseline", 2.0f, 2.5f, 5.0f, 3.5f, 4.0f, 2.0, 3.0f},
        {"centre on the outer mean", 2.0f, 9.0f, 3.0f, 9.0f, 4.0f, 0.0, 3.0f},
    };
    constexpr int ncase = sizeof cases / sizeof cases[0];
    test::CapturedConsole cc;
    qv::Run run{cc.con};
    PahProfileWork& w = run.pahpro;
    // 24 bands of five rows each (band k on rows 5k-4 .. 5k), a row before and after.
    w.nrow = 122;
    w.table.resize(w.nrow, 9);
    w.lam.resize(24);
    w.dlam.resize(24);
    w.lumpah.resize(24, 9);
    for (int k = 1; k <= 24; ++k) {
        w.dlam(k) = 100.0f * static_cast<float>(k);
        const int c = 5 * k - 1;
        run.glopah.indpah(k) = c;
        const SpikeCase& s = cases[(k - 1) % ncase];
        const float v[5] = {s.left, s.inner_l, s.centre, s.inner_r, s.right};
        for (int m = 0; m < 5; ++m) w.table(c - 2 + m, 5) = v[m];
        w.table(c, 2) = 99.0f;  // another column is left alone
    }
    w.table(1, 5) = -7.0f;
    w.table(122, 5) = -8.0f;

    pahpro::profile(run, 5);

    for (int k = 1; k <= 24; ++k) {
        const SpikeCase& s = cases[(k - 1) % ncase];
        const int c = 5 * k - 1;
        EXPECT_NEAR(dbl(w.lumpah(k, 5)), s.lum_per_width * 100.0 * k, 1e-4 * 100.0 * k) << s.what;
        EXPECT_EQ(w.table(c - 2, 5), s.left) << s.what;
        EXPECT_EQ(w.table(c - 1, 5), s.left) << s.what;
        EXPECT_EQ(w.table(c, 5), s.mean) << s.what;
        EXPECT_EQ(w.table(c + 1, 5), s.right) << s.what;
        EXPECT_EQ(w.table(c + 2, 5), s.right) << s.what;
        EXPECT_EQ(w.table(c, 2), 99.0f);
        EXPECT_EQ(w.lumpah(k, 2), 0.0f);
    }
    EXPECT_EQ(w.table(1, 5), -7.0f);
    EXPECT_EQ(w.table(122, 5), -8.0f);
}

TEST(PahProfile, ABandOutsideTheRowsStops) {
    test::CapturedConsole cc;
    qv::Run run{cc.con};
    PahProfileWork& w = run.pahpro;
    w.nrow = 130;
    w.table.resize(w.nrow, 9);
    w.dlam.resize(24);
    w.lumpah.resize(24, 9);
    for (int k = 1; k <= 24; ++k) run.glopah.indpah(k) = 5 * k;
    for (int bad : {2, 129, 0}) {
        run.glopah.indpah(7) = bad;
        try {
            pahpro::profile(run, 2);
            FAIL() << "no stop for centre row " << bad;
        } catch (const Stop& s) {
            EXPECT_NE(s.lines[0].find("PAH band 7"), std::string::npos) << s.lines[0];
        }
    }
}

// ---------------------------------------------------------------------------
// The Drude profiles.

TEST(PahProfile, EachDrudeProfileIntegratesToOne) {
    PahBands pah;
    const int n = 300000;
    for (int k = 1; k <= 24; ++k) {
        const float lam = 1e4f * pah.lami(k), dlam = 1e4f * pah.dlami(k);
        // Trapezoid on a log grid from lam/200 to 1e4 lam.
        const double a = std::log(dbl(lam) / 200), b = std::log(dbl(lam) * 1e4);
        double sum = 0, wprev = 0, dprev = 0;
        for (int i = 0; i <= n; ++i) {
            const double w = std::exp(a + (b - a) * i / n);
            const double d = pahpro::drude(lam, dlam, static_cast<float>(w));
            if (i > 0) sum += 0.5 * (d + dprev) * (w - wprev);
            wprev = w;
            dprev = d;
        }
        EXPECT_NEAR(sum, 1.0, 2e-4) << "band " << k;
        // Its peak at the centre is 2 / (pi g lam).
        const double g = dbl(dlam) / dbl(lam);
        EXPECT_NEAR(dbl(pahpro::drude(lam, dlam, lam)), 2.0 / (std::numbers::pi * g * dbl(lam)), 1e-5 / (g * dbl(lam)));
    }
}

// ---------------------------------------------------------------------------
// The column lists.

struct MaskCase {
    int annflag;
    std::vector<int> mask, mask_ann;
};

TEST(PahProfile, ColumnListsByAnnflag) {
    const MaskCase cases[] = {
        {0, {2, 5}, {}}, {1, {2}, {5}}, {2, {5}, {2}}, {3, {}, {2, 5}}, {4, {}, {}}, {-1, {}, {}},
    };
    for (const MaskCase& c : cases) {
        PahProfileWork w;
        w.mask = {9};
        w.mask_ann = {9};
        pahpro::set_masks(w, c.annflag);
        EXPECT_EQ(w.mask, c.mask) << "annflag " << c.annflag;
        EXPECT_EQ(w.mask_ann, c.mask_ann) << "annflag " << c.annflag;
        EXPECT_EQ(w.nmask, static_cast<int>(c.mask.size()));
        EXPECT_EQ(w.nmask_ann, static_cast<int>(c.mask_ann.size()));
    }
}

// ---------------------------------------------------------------------------
// Whole files.

struct Done {
    std::vector<std::string> in_lines, out_lines;
    std::vector<DRow> in_rows, out_rows;
};

Done process(ProRun& p, const std::vector<Row>& rows, const std::string& in = "m1.spe.tmp",
             const std::string& out = "m1.spe") {
    const std::string text = spectrum_text(rows);
    test::write_text(in, text);
    pahpro::pahpro_tutto(p.run, in, out);
    Done d;
    d.in_lines = split_lines(text);
    d.out_lines = test::read_lines(out);
    d.in_rows = data_rows(d.in_lines);
    d.out_rows = data_rows(d.out_lines);
    return d;
}

TEST(PahProfileFile, HeaderCopiedByteForByte) {
    test::TempDir dir;
    ProRun p;
    // Trailing blanks and a tab in a header line stay as they are.
    std::string header = spectrum_header("# Direction   45.0     degrees");
    header.insert(header.find("# Notes:") + 8, "  \t ");
    const std::string text = spectrum_text(p.rows(), header);
    test::write_text("m1.45.tmp", text);
    pahpro::pahpro_tutto(p.run, "m1.45.tmp", "m1.45");
    const std::string out = test::read_text("m1.45");
    EXPECT_EQ(out.substr(0, header.size()), header);
    EXPECT_EQ(split_lines(header).back().size(), 94u);
    EXPECT_EQ(p.run.pahpro.ninte, 15);
    EXPECT_EQ(p.run.pahpro.nrow, p.run.glopalla.nlf);
}

TEST(PahProfileFile, RowsOutsideTheFineGridPassThroughAndTheFineRowsAscend) {
    test::TempDir dir;
    ProRun p;
    const Done d = process(p, p.rows(10));
    const PahProfileWork& w = p.run.pahpro;
    const double wk_min = 1e4 * 3.3 - 2 * 1e4 * 0.0396;       // band 1, 2 widths below
    const double wk_max = 1e4 * 18.92 + 7 * 1e4 * 1.892;      // band 24, 7 widths above
    EXPECT_NEAR(dbl(w.wk_min), wk_min, 0.05);
    EXPECT_NEAR(dbl(w.wk_max), wk_max, 0.05);

    // Rows below the band grid come first, as read.
    std::size_t below = 0;
    while (d.in_rows[below][0] < wk_min) ++below;
    for (std::size_t i = 0; i < below; ++i) EXPECT_EQ(d.out_lines[15 + i], d.in_lines[15 + i]);
    EXPECT_NEAR(d.out_rows[below][0], wk_min, 1e-4 * wk_min);  // four significant digits

    // The first two rows above the largest band-grid point join the fine grid;
    // the rows after them follow as read, the radio rows among them.
    std::size_t above1 = below;
    while (d.in_rows[above1][0] <= wk_max) ++above1;
    const std::size_t tail = d.in_rows.size() - (above1 + 2);
    ASSERT_GT(tail, 10u);
    for (std::size_t i = 0; i < tail; ++i)
        EXPECT_EQ(d.out_lines[d.out_lines.size() - tail + i], d.in_lines[d.in_lines.size() - tail + i]);
    EXPECT_EQ(d.out_rows[d.out_rows.size() - tail - 1][0], d.in_rows[above1 + 1][0]);

    // Fine rows: all 888 band points and the table rows they span, each
    // wavelength once, ascending throughout the file (two fine wavelengths
    // closer than the four written digits may print alike).
    EXPECT_EQ(w.npro, 888 + static_cast<int>(above1 + 2 - below));
    for (std::size_t i = 1; i < d.out_rows.size(); ++i)
        ASSERT_GE(d.out_rows[i][0], d.out_rows[i - 1][0]) << "row " << i;
    std::set<float> distinct(w.wpro.storage().begin(), w.wpro.storage().end());
    EXPECT_EQ(d.out_rows.size(), below + distinct.size() + tail);
    std::size_t line = 15 + below;
    for (int q = 1; q <= w.npro; ++q) {
        if (q > 1 && w.wpro(q) == w.wpro(q - 1)) continue;
        Row r;
        for (int c = 1; c <= 9; ++c) r[static_cast<std::size_t>(c - 1)] = w.tablepro(q, c);
        ASSERT_LT(line, d.out_lines.size());
        EXPECT_EQ(d.out_lines[line++], row_line(r)) << "fine row " << q;
    }
}

TEST(PahProfileFile, DuplicateFineWavelengthsAreWrittenOnce) {
    // The band centre 3.3 micron is a band-grid point, and the dust-grid row
    // at the band centre reads back as 0.3300E+05: the fine grid holds 33000 twice.
    test::TempDir dir;
    ProRun p;
    const Done d = process(p, p.rows());
    const PahProfileWork& w = p.run.pahpro;
    const long twice = std::count(w.wpro.storage().begin(), w.wpro.storage().end(), 33000.0f);
    EXPECT_EQ(twice, 2);
    const long in_file = std::count_if(d.out_rows.begin(), d.out_rows.end(),
                                       [](const DRow& r) { return r[0] == 33000.0; });
    EXPECT_EQ(in_file, 1);
}

TEST(PahProfileFile, FineRowsCarryTheProfilesOnTheInterpolatedSpectrum) {
    test::TempDir dir;
    ProRun p;
    const Done d = process(p, p.rows());
    const PahProfileWork& w = p.run.pahpro;
    for (int q = 1; q <= w.npro; ++q) {
        const double x = w.wpro(q);
        EXPECT_EQ(w.tablepro(q, 1), w.wpro(q));
        const double want2 = dbl(kBase2) + profiles(p.run, h2, x);
        const double want5 = dbl(kBase5) + profiles(p.run, h5, x);
        EXPECT_NEAR(dbl(w.tablepro(q, 2)), want2, 1e-5 * want2) << "w " << x;
        EXPECT_NEAR(dbl(w.tablepro(q, 5)), want5, 1e-5 * want5) << "w " << x;
        for (int c : {3, 4, 7, 8, 9}) {
            const double want = interp(d.in_rows, static_cast<std::size_t>(c - 1), x);
            EXPECT_NEAR(dbl(w.tablepro(q, c)), want, 1e-5 * std::fabs(want)) << "w " << x << " column " << c;
        }
        EXPECT_NEAR(dbl(w.tablepro(q, 6)), dbl(w.tablepro(q, 2)) + dbl(w.tablepro(q, 4)) + dbl(w.tablepro(q, 5)),
                    1e-6 * dbl(w.tablepro(q, 6)));
    }
    // A band's profile peaks at 2/pi of its spike's height.
    EXPECT_GT(dbl(w.tablepro(fine_index(w, w.lam(1)), 5)), dbl(kBase5) + 0.6 * h5(1));
}

// Which columns get profiles and whether the PAH feature file is written, by
// annflag, pahflag and istarfo.
struct FlagCase {
    int annflag;
    bool pahflag;
    int istarfo;
    std::vector<int> profiled;
    int pah_column;  // column of the PAH feature file, 0: no file
};

TEST(PahProfileFile, MasksPahflagAndThePahFeatureFile) {
    const FlagCase cases[] = {
        {0, true, 0, {2, 5}, 5}, {0, false, 0, {}, 0}, {1, true, 0, {2}, 2},   {1, false, 0, {}, 0},
        {2, true, 0, {5}, 5},    {2, false, 0, {}, 0}, {3, true, 0, {}, 0},     {3, false, 0, {}, 0},
        {0, true, 1, {2, 5}, 0}, {0, true, 4, {2, 5}, 0}, {6, true, 0, {}, 0},
    };
    for (const FlagCase& fc : cases) {
        const std::string tag = "annflag " + std::to_string(fc.annflag) + " pahflag " +
                                std::to_string(fc.pahflag) + " istarfo " + std::to_string(fc.istarfo);
        test::TempDir dir;
        ProRun p;
        p.run.parametri.annflag = fc.annflag;
        p.run.modname.pahflag = fc.pahflag;
        p.run.glotauspe.istarfo = fc.istarfo;
        const Done d = process(p, p.rows());
        const PahProfileWork& w = p.run.pahpro;

        // At each band centre's wavelength, a profiled column holds the
        // baseline plus the profiles, another column the spikes as read,
        // interpolated (band points closer than the four written digits of
        // the wavelength read back alike).
        for (int col : {2, 5}) {
            const bool prof = std::count(fc.profiled.begin(), fc.profiled.end(), col) > 0;
            double (*h)(int) = col == 2 ? h2 : h5;
            const double base = col == 2 ? dbl(kBase2) : dbl(kBase5);
            for (int k = 1; k <= 24; ++k) {
                const float x = w.table(p.run.glopah.indpah(k), 1);
                const int q = fine_index(w, x);
                ASSERT_GT(q, 0) << tag << " band " << k;
                const double want = prof ? base + profiles(p.run, h, x)
                                         : interp(d.in_rows, static_cast<std::size_t>(col - 1), x);
                EXPECT_NEAR(dbl(w.tablepro(q, col)), want, 1e-5 * want) << tag << " column " << col << " band " << k;
                EXPECT_EQ(w.lumpah(k, col) > 0.0f, prof) << tag << " column " << col << " band " << k;
            }
        }
        EXPECT_TRUE(w.mask.empty());  // the masks live for one call

        const bool pah_file = std::filesystem::exists("m1.spe.pah");
        EXPECT_EQ(pah_file, fc.pah_column != 0) << tag;
        if (!pah_file || fc.pah_column == 0) continue;
        const std::vector<std::string> pl = test::read_lines("m1.spe.pah");
        ASSERT_EQ(pl.size(), 25u) << tag;
        EXPECT_EQ(pl[0], " # lam/A  L_pah/1e30 erg/s");
        double (*h)(int) = fc.pah_column == 2 ? h2 : h5;
        for (int k = 1; k <= 24; ++k) {
            const std::vector<double> v = numbers(pl[static_cast<std::size_t>(k)]);
            ASSERT_EQ(v.size(), 2u) << pl[static_cast<std::size_t>(k)];
            EXPECT_EQ(pl[static_cast<std::size_t>(k)][0], ' ');
            EXPECT_NEAR(v[0], 1e4 * dbl(p.run.glopah.lami(k)), 1e-6 * v[0]) << tag << " band " << k;
            const double dl = 1e4 * dbl(p.run.glopah.dlami(k));
            EXPECT_NEAR(v[1], h(k) * dl, 2e-5 * h(k) * dl) << tag << " band " << k;
        }
    }
}

// ---------------------------------------------------------------------------
// The temporary name, the whole-file writes and the errors.

std::set<std::string> folder_files() {
    std::set<std::string> s;
    for (const auto& e : std::filesystem::directory_iterator(".")) s.insert(e.path().filename().string());
    return s;
}

TEST(PahProfileFile, AnyTemporaryNameIsReadAndLeftAlone) {
    test::TempDir dir;
    ProRun p;
    // A file of the user's that happens to be named like the writer's temporary.
    test::write_text("m1.spe.tmp", "the user's notes\n");
    const std::string in_text = spectrum_text(p.rows());
    test::write_text("m1.spe.tmp123-456", in_text);
    pahpro::pahpro_tutto(p.run, "m1.spe.tmp123-456", "m1.spe");
    EXPECT_EQ(test::read_text("m1.spe.tmp"), "the user's notes\n");
    EXPECT_EQ(test::read_text("m1.spe.tmp123-456"), in_text);
    EXPECT_EQ(folder_files(), (std::set<std::string>{"m1.spe", "m1.spe.pah", "m1.spe.tmp", "m1.spe.tmp123-456"}));

    // The same text from memory gives the same files, with no temporary on disk.
    const std::string spe = test::read_text("m1.spe"), pah = test::read_text("m1.spe.pah");
    ProRun q;
    test::TempDir dir2;
    pahpro::pahpro_tutto(q.run, TextFile::from_string("m1.spe (in memory)", in_text), "m1.spe");
    EXPECT_EQ(test::read_text("m1.spe"), spe);
    EXPECT_EQ(test::read_text("m1.spe.pah"), pah);
    EXPECT_EQ(folder_files(), (std::set<std::string>{"m1.spe", "m1.spe.pah"}));
}

TEST(PahProfileFile, AnUnreadableRowLeavesNoFileHalfWritten) {
    test::TempDir dir;
    ProRun p;
    std::vector<std::string> lines = split_lines(spectrum_text(p.rows()));
    struct BadCase {
        const char* what;
        std::size_t line;  // 1-based line to spoil
        std::string text;
    };
    const BadCase cases[] = {
        {"eight values", 40, "  1000.    2.000    3.000    4.000    5.000    6.000    7.000    8.000"},
        {"a word", 100, "  1000.    2.000    3.000    4.000    five     6.000    7.000    8.000    9.000"},
        {"an empty line", 20, ""},
        {"a header line among the rows", 150, "# a comment"},
    };
    for (const BadCase& c : cases) {
        std::vector<std::string> bad = lines;
        bad[c.line - 1] = c.text;
        std::string text;
        for (const std::string& l : bad) text += l + "\n";
        test::write_text("m1.spe.tmp", text);
        test::write_text("m1.spe", "the earlier run's spectrum\n");
        try {
            pahpro::pahpro_tutto(p.run, "m1.spe.tmp", "m1.spe");
            FAIL() << "no error for " << c.what;
        } catch (const IoError& e) {
            EXPECT_NE(what_of(e).find("m1.spe.tmp:" + std::to_string(c.line) + ":"), std::string::npos)
                << c.what << ": " << e.what();
        }
        EXPECT_EQ(test::read_text("m1.spe"), "the earlier run's spectrum\n") << c.what;
        EXPECT_EQ(folder_files(), (std::set<std::string>{"m1.spe", "m1.spe.tmp"})) << c.what;
    }
}

TEST(PahProfileFile, MissingOrNearlyEmptyFilesAreErrors) {
    test::TempDir dir;
    ProRun p;
    try {
        pahpro::pahpro_tutto(p.run, "nothere.tmp", "m1.spe");
        FAIL() << "no error";
    } catch (const IoError& e) {
        EXPECT_NE(what_of(e).find("nothere.tmp"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(folder_files().empty());

    test::write_text("one.tmp", spectrum_header() + row_line(p.rows()[0]) + "\n");
    try {
        pahpro::pahpro_tutto(p.run, "one.tmp", "one");
        FAIL() << "no error";
    } catch (const IoError& e) {
        EXPECT_NE(what_of(e).find("one.tmp: holds 1 spectrum row(s)"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists("one"));
}

TEST(PahProfileFile, RunTogetherFieldsOfTheRowFormatAreRead) {
    // A negative value in E form fills all eleven columns of its field: the
    // row still reads by the columns it was written in.
    test::TempDir dir;
    ProRun p;
    p.run.modname.pahflag = false;
    const std::vector<Row> rows = {
        {1000.0f, 1e5f, -2e-5f, -3e-15f, 4.0f, -5e-20f, 6.0f, 7.0f, 8.0f},
        {1e4f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f, 8.0f},
        {1e6f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f, 8.0f},
        {1e7f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f, 8.0f},
    };
    const std::string first = row_line(rows[0]);
    ASSERT_NE(first.find("0.1000E+06-0.2000E-04-0.3000E-14"), std::string::npos) << first;
    test::write_text("m1.spe.tmp", spectrum_text(rows));
    pahpro::pahpro_tutto(p.run, "m1.spe.tmp", "m1.spe");
    const std::vector<std::string> out = test::read_lines("m1.spe");
    // Written back by the spectra files' own row rule, whose fields keep a blank
    // in front of them.
    std::string again;
    int bad = -1;
    ASSERT_TRUE(cirrus::spectra_row(rows[0], again, bad));
    EXPECT_EQ(out[15], again);
    EXPECT_NE(again.find(" -0.200E-04 -0.300E-14"), std::string::npos) << again;
    EXPECT_EQ(out[16], row_line(rows[1]));
    EXPECT_EQ(p.run.pahpro.table(1, 3), -2e-5f);
    EXPECT_EQ(p.run.pahpro.npro, 888 + 2);  // rows 3 and 4 span the band grid
}

TEST(PahProfileFile, WorkArraysAreReusedAndCarryNothingOver) {
    test::TempDir dir;
    ProRun p;
    const std::vector<Row> a = p.rows(), b = p.rows(10);
    process(p, a, "a.tmp", "a1");
    const float* table = p.run.pahpro.table.data();
    const float* wpro = p.run.pahpro.wpro.data();
    const float* tablepro = p.run.pahpro.tablepro.data();
    const float* wk = p.run.pahpro.wk.data();
    process(p, a, "a.tmp", "a2");
    EXPECT_EQ(p.run.pahpro.table.data(), table);
    EXPECT_EQ(p.run.pahpro.wpro.data(), wpro);
    EXPECT_EQ(p.run.pahpro.tablepro.data(), tablepro);
    EXPECT_EQ(test::read_text("a1"), test::read_text("a2"));

    // A longer file, then the first again: each as a fresh run writes it.
    process(p, b, "b.tmp", "b1");
    process(p, a, "a.tmp", "a3");
    EXPECT_EQ(p.run.pahpro.wk.data(), wk);  // the band grid is made once
    EXPECT_EQ(test::read_text("a3"), test::read_text("a1"));
    EXPECT_EQ(test::read_text("a3.pah"), test::read_text("a1.pah"));
    ProRun fresh;
    process(fresh, b, "b.tmp", "b2");
    EXPECT_EQ(test::read_text("b1"), test::read_text("b2"));
    EXPECT_EQ(test::read_text("b1.pah"), test::read_text("b2.pah"));
}

// ---------------------------------------------------------------------------
// Line counts.

TEST(PahProfileRows, CountsRowsAndHeaderLinesWithoutCreatingFiles) {
    test::TempDir dir;
    int nrow = -1, ninte = -1;
    pahpro::nrows_file("absent.spe", nrow, ninte);
    EXPECT_EQ(nrow, 0);
    EXPECT_EQ(ninte, 0);
    EXPECT_FALSE(std::filesystem::exists("absent.spe"));

    std::filesystem::create_directory("adir");
    nrow = ninte = -1;
    pahpro::nrows_file("adir", nrow, ninte);
    EXPECT_EQ(nrow, 0);
    EXPECT_EQ(ninte, 0);

    // "#" only as the first character marks a header line; an empty line is a row.
    test::write_text("f.spe", "# one\n#two\n 1 2\n\n # not a header\n3 4");
    pahpro::nrows_file("f.spe", nrow, ninte);
    EXPECT_EQ(nrow, 4);
    EXPECT_EQ(ninte, 2);

    test::write_text("empty.spe", "");
    pahpro::nrows_file("empty.spe", nrow, ninte);
    EXPECT_EQ(nrow, 0);
    EXPECT_EQ(ninte, 0);
}

// ---------------------------------------------------------------------------
// The emulator columns: each takes its emulator's spectrum on the fine grid,
// only when the cirrus emulator's spectrum exists and only when its own
// spectrum exists (with the cirrus solved, column 5 keeps the file's own
// attenuated cloud emission).

struct EmulatorColumnCase {
    int annflag;
    bool cirrus, cloud;              // which emulator spectra exist
    bool col2_emulated, col5_emulated;
};

TEST(PahProfileFile, EmulatorColumnsTakeTheSpectraThatExist) {
    const EmulatorColumnCase cases[] = {
        {2, true, false, true, false},  {2, false, false, false, false}, {3, true, true, true, true},
        {3, true, false, true, false},  {3, false, true, false, false},  {1, false, true, false, false},
        {1, true, true, false, true},   {0, true, true, false, false},
    };
    // Cirrus: L = 1e3 lambda[A]^-1 on 2e4..3e5 A; cloud: L = 7 + lambda/1e4 on
    // 1e4..1e6 A (both linear tables, linear in between).
    auto cir = [](double x) { return 1e3 / x; };
    auto mc = [](double x) { return 7.0 + x / 1e4; };
    for (const EmulatorColumnCase& ec : cases) {
        const std::string tag = "annflag " + std::to_string(ec.annflag) + " cirrus " + std::to_string(ec.cirrus) +
                                " cloud " + std::to_string(ec.cloud);
        test::TempDir dir;
        // The same file without any emulator spectrum: what a column not
        // replaced must hold.
        ProRun ref;
        ref.run.parametri.annflag = ec.annflag;
        process(ref, ref.rows());
        ProRun p;
        p.run.parametri.annflag = ec.annflag;
        PahProfileWork& w = p.run.pahpro;
        if (ec.cirrus) {
            w.lam_ang.resize(200);
            w.l_cir.resize(200);
            for (int k = 1; k <= 200; ++k) {
                w.lam_ang(k) = 2e4f + 1500.0f * static_cast<float>(k - 1);
                w.l_cir(k) = static_cast<float>(cir(w.lam_ang(k)));
            }
        }
        if (ec.cloud) {
            SedEmulator& e = p.run.ann_qve;
            e.log_lam_mic_only.resize(3);
            e.log_l_mc_only.resize(3);
            const float xs[3] = {1e4f, 3e5f, 1e6f};
            for (int k = 1; k <= 3; ++k) {
                e.log_lam_mic_only(k) = xs[k - 1];
                e.log_l_mc_only(k) = static_cast<float>(mc(xs[k - 1]));
            }
        }
        process(p, p.rows());
        const PahProfileWork& wr = ref.run.pahpro;
        ASSERT_EQ(w.npro, wr.npro) << tag;
        for (int q = 1; q <= w.npro; ++q) {
            const double x = w.wpro(q);
            const bool inside = x >= 2.5e4 && x <= 2.9e5;  // inside both emulator tables
            if (ec.col2_emulated) {
                // Linear interpolation of 1/x between nodes 1500 A apart.
                if (inside) {
                    EXPECT_NEAR(dbl(w.tablepro(q, 2)), cir(x), 2e-3 * cir(x)) << tag << " w " << x;
                }
            } else {
                EXPECT_EQ(w.tablepro(q, 2), wr.tablepro(q, 2)) << tag << " w " << x;
            }
            if (ec.col5_emulated) {
                if (inside) {
                    EXPECT_NEAR(dbl(w.tablepro(q, 5)), mc(x), 1e-5 * mc(x)) << tag << " w " << x;
                }
            } else {
                EXPECT_EQ(w.tablepro(q, 5), wr.tablepro(q, 5)) << tag << " w " << x;
            }
            EXPECT_NEAR(dbl(w.tablepro(q, 6)), dbl(w.tablepro(q, 2)) + dbl(w.tablepro(q, 4)) + dbl(w.tablepro(q, 5)),
                        1e-6 * dbl(w.tablepro(q, 6)))
                << tag;
        }
    }
}

}  // namespace
}  // namespace qv
