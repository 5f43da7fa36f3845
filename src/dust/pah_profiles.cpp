#include "dust/pah_profiles.h"

#include <algorithm>
#include <array>
#include <new>
#include <stdexcept>
#include <string_view>

#include "core/allocating.h"
#include "core/run.h"
#include "core/stop.h"
#include "dust/spectra_files.h"
#include "io/fields.h"
#include "io/format.h"
#include "numerics/roots_sort.h"
#include "numerics/search.h"

namespace qv::pahpro {

namespace {

constexpr int kBandPoints = kBandGridPoints * kPahBands;  // 888

bool is_separator(char ch) { return ch == ' ' || ch == '\t' || ch == ',' || ch == ';'; }

bool blank(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char ch) { return ch == ' ' || ch == '\t'; });
}

// One spectrum row: nine values separated by blanks or commas. A row written
// with 9G11.4 whose fields run together (a negative value in E form fills its
// eleven columns, "0.1000E+11-0.2000E+05") is read by those columns instead.
bool parse_row(std::string_view line, float* v) {
    int n = 0;
    std::size_t i = 0;
    bool ok = true;
    while (n < kSpectrumColumns) {
        while (i < line.size() && is_separator(line[i])) ++i;
        if (i >= line.size()) break;
        std::size_t j = i;
        while (j < line.size() && !is_separator(line[j])) ++j;
        const std::optional<float> x = fio::read_real4_field(line.substr(i, j - i), 0);
        if (!x) {
            ok = false;
            break;
        }
        v[n++] = *x;
        i = j;
    }
    if (ok && n == kSpectrumColumns) return true;

    constexpr std::size_t w = 11;
    if (line.size() < w * kSpectrumColumns) return false;
    for (int c = 0; c < kSpectrumColumns; ++c) {
        const std::string_view f = line.substr(w * static_cast<std::size_t>(c), w);
        if (blank(f)) return false;
        const std::optional<float> x = fio::read_real4_field(f, 4);
        if (!x) return false;
        v[c] = *x;
    }
    return true;
}

void count_lines(const TextFile& f, int& nrow, int& ninte) {
    nrow = 0;
    ninte = 0;
    for (std::size_t i = 0; i < f.line_count(); ++i) {
        const std::string_view l = f.line(i);
        if (!l.empty() && l.front() == '#')
            ++ninte;
        else
            ++nrow;
    }
}

std::string rtrim(const std::string& s) {
    const std::size_t e = s.find_last_not_of(' ');
    return e == std::string::npos ? std::string() : s.substr(0, e + 1);
}

// Band centres and widths in Angstrom; the measured luminosities cleared.
void band_centres(Run& run) {
    PahProfileWork& w = run.pahpro;
    if (w.lam.extent() != kPahBands) w.lam.resize(kPahBands);
    if (w.dlam.extent() != kPahBands) w.dlam.resize(kPahBands);
    for (int k = 1; k <= kPahBands; ++k) {
        w.lam(k) = 1e4f * run.glopah.lami(k);
        w.dlam(k) = 1e4f * run.glopah.dlami(k);
    }
    if (w.lumpah.extent(0) != kPahBands || w.lumpah.extent(1) != kSpectrumColumns)
        w.lumpah.resize(kPahBands, kSpectrumColumns);
    else
        w.lumpah.fill(0.0f);
}

// The band grid, once per run.
void band_grid(PahProfileWork& w) {
    if (w.wk.allocated()) return;
    allocating(fio::list_line({"ALLOCATION ERROR in gentablepro (wk)"}), [&] { w.wk.resize(kBandGridPoints, kPahBands); });
    for (int k = 1; k <= kPahBands; ++k)
        for (int i = 1; i <= kBandGridPoints; ++i)
            w.wk(i, k) = w.lam(k) + w.dlam(k) * (0.25f * static_cast<float>(i - 1) - 2.0f);
    const auto [lo, hi] = std::minmax_element(w.wk.storage().begin(), w.wk.storage().end());
    w.wk_min = *lo;
    w.wk_max = *hi;
}

// One row of the final file, by the spectra writer's own row rule (nine fields
// that always read apart); a value that is not finite stops the run.
std::string table_row(const Mat<float>& t, int r, const std::string& file) {
    std::array<float, kSpectrumColumns> v{};
    for (int c = 1; c <= kSpectrumColumns; ++c) v[static_cast<std::size_t>(c - 1)] = t(r, c);
    std::string line;
    int bad = -1;
    if (!cirrus::spectra_row(v, line, bad))
        throw Stop({fio::list_line({"ERROR: a value that is not finite in column ", bad + 1, " of spectra file ",
                                    file, " at wavelength ", v[0]}),
                    fio::list_line({"the spectra file ", file, " is not written"})});
    return line + "\n";
}

}  // namespace

float drude(float lam, float dlam, float w) {
    const float g = dlam / lam;
    const float x = w / lam - lam / w;
    return (2.0f * g / lam) / (3.141593f * (g * g + x * x));
}

void set_masks(PahProfileWork& w, int annflag) {
    switch (annflag) {
        case 0: w.mask = {2, 5}; w.mask_ann = {}; break;
        case 1: w.mask = {2}; w.mask_ann = {5}; break;
        case 2: w.mask = {5}; w.mask_ann = {2}; break;
        case 3: w.mask = {}; w.mask_ann = {2, 5}; break;
        default: w.mask = {}; w.mask_ann = {}; break;
    }
    w.nmask = static_cast<int>(w.mask.size());
    w.nmask_ann = static_cast<int>(w.mask_ann.size());
}

void profile(Run& run, int m) {
    PahProfileWork& w = run.pahpro;
    const Vec<int>& ind = run.glopah.indpah;
    for (int k = 1; k <= kPahBands; ++k) {
        const int c = ind(k);
        if (c - 2 < 1 || c + 2 > w.nrow)
            throw Stop(fio::list_line({"FATAL ERROR: the five points of PAH band " + std::to_string(k) +
                                       " (rows " + std::to_string(c - 2) + " to " + std::to_string(c + 2) +
                                       ") lie outside the " + std::to_string(w.nrow) +
                                       " rows of the spectrum"}));
    }
    float* t = w.table.col(m);
    auto T = [t](int r) -> float& { return t[r - 1]; };

    // Each step for all bands, reading every band's values before writing any.
    float peak[kPahBands], v[kPahBands];
    for (int k = 0; k < kPahBands; ++k) peak[k] = T(ind(k + 1));
    for (int k = 0; k < kPahBands; ++k) v[k] = T(ind(k + 1) - 2);
    for (int k = 0; k < kPahBands; ++k) T(ind(k + 1) - 1) = v[k];
    for (int k = 0; k < kPahBands; ++k) v[k] = T(ind(k + 1) + 2);
    for (int k = 0; k < kPahBands; ++k) T(ind(k + 1) + 1) = v[k];
    for (int k = 0; k < kPahBands; ++k) v[k] = (T(ind(k + 1) - 1) + T(ind(k + 1) + 1)) / 2.0f;
    for (int k = 0; k < kPahBands; ++k) T(ind(k + 1)) = v[k];
    for (int k = 1; k <= kPahBands; ++k) {
        float l = (peak[k - 1] - T(ind(k))) * w.dlam(k);
        if (l < 0.0f) l = 0.0f;
        w.lumpah(k, m) = l;
    }
}

void gentablepro(Run& run) {
    PahProfileWork& w = run.pahpro;
    band_grid(w);
    const int nrow = w.nrow;
    const float* x = w.table.col(1);

    // The table rows from the first above the smallest band-grid point to the
    // second above the largest, kept within the table.
    int jlo = 0, jhi = 0;
    hunt(x, nrow, w.wk_min, jlo);
    hunt(x, nrow, w.wk_max, jhi);
    const int r1 = std::max(1, jlo + 1);
    const int r2 = std::min(nrow, jhi + 2);
    const int nrows_in = std::max(0, r2 - r1 + 1);

    w.npro = kBandPoints + nrows_in;
    if (w.tablepro.extent(0) != w.npro || w.tablepro.extent(1) != kSpectrumColumns)
        allocating(fio::list_line({"ALLOCATION ERROR in gentablepro (tablepro)"}),
                   [&] { w.tablepro.resize(w.npro, kSpectrumColumns); });
    if (w.wpro.extent() != w.npro)
        allocating(fio::list_line({"ALLOCATION ERROR in gentablepro (wpro)"}), [&] { w.wpro.resize(w.npro); });

    float* wp = w.wpro.data();
    std::copy(w.wk.storage().begin(), w.wk.storage().end(), wp);  // band by band
    for (int r = r1; r <= r2; ++r) wp[kBandPoints + r - r1] = x[r - 1];
    sort(w.npro, wp);

    const int npro = w.npro;
    std::copy(wp, wp + npro, w.tablepro.col(1));
    for (int c = 2; c <= kSpectrumColumns; ++c) {
        const float* y = w.table.col(c);
        float* out = w.tablepro.col(c);
        int guess = 0;
        for (int p = 0; p < npro; ++p) out[p] = nr_kelu::liin(run.nr_kelu, x, nrow, y, wp[p], &guess);
    }

    for (int m : w.mask) {
        float* out = w.tablepro.col(m);
        for (int p = 0; p < npro; ++p) {
            float s = 0.0f;
            for (int k = 1; k <= kPahBands; ++k) s += w.lumpah(k, m) * drude(w.lam(k), w.dlam(k), wp[p]);
            out[p] += s;
        }
    }

    // The emulator columns take the emulator spectra only when the cirrus
    // emulator ran, and each column only where its own spectrum exists (the
    // cloud model rewrites its spectrum in Angstrom and L_lambda); otherwise
    // the column keeps the interpolated table. So with the cirrus solved,
    // column 5 keeps each direction's attenuated cloud emission.
    const bool cirrus_emulated = w.lam_ang.allocated() && w.l_cir.extent() == w.lam_ang.extent();
    if (cirrus_emulated) {
        for (int m : w.mask_ann) {
            const Vec<float>* xs = nullptr;
            const Vec<float>* ys = nullptr;
            if (m == 2) {
                xs = &w.lam_ang;
                ys = &w.l_cir;
            } else if (m == 5 && run.ann_qve.log_lam_mic_only.allocated() &&
                       run.ann_qve.log_l_mc_only.extent() == run.ann_qve.log_lam_mic_only.extent()) {
                xs = &run.ann_qve.log_lam_mic_only;
                ys = &run.ann_qve.log_l_mc_only;
            }
            if (!xs) continue;
            float* out = w.tablepro.col(m);
            int guess = 0;
            for (int p = 0; p < npro; ++p)
                out[p] = nr_kelu::liin(run.nr_kelu, xs->data(), xs->extent(), ys->data(), wp[p], &guess);
        }
    }

    float* c6 = w.tablepro.col(6);
    const float* c2 = w.tablepro.col(2);
    const float* c4 = w.tablepro.col(4);
    const float* c5 = w.tablepro.col(5);
    for (int p = 0; p < npro; ++p) c6[p] = c2[p] + c4[p] + c5[p];
}

void nrows_file(const std::string& name, int& nrow, int& ninte) {
    nrow = 0;
    ninte = 0;
    if (!file_exists(name)) return;
    try {
        count_lines(TextFile::open(name), nrow, ninte);
    } catch (const IoError&) {
        nrow = 0;
        ninte = 0;
    }
}

void pahpro_tutto(Run& run, const std::string& infile, const std::string& outfile) {
    pahpro_tutto(run, TextFile::open(infile), outfile);
}

void pahpro_tutto(Run& run, const TextFile& in, const std::string& outfile) {
    PahProfileWork& w = run.pahpro;
    const bool pahflag = run.modname.pahflag;
    set_masks(w, run.parametri.annflag);
    band_centres(run);

    count_lines(in, w.nrow, w.ninte);
    if (w.nrow < 2)
        throw_io_error(in.name(), 0,
                       "holds " + std::to_string(w.nrow) + " spectrum row(s); at least two are needed");
    if (w.table.extent(0) != w.nrow || w.table.extent(1) != kSpectrumColumns)
        allocating(fio::list_line({"ALLOCATION ERROR in pahpro_tutto"}), [&] { w.table.resize(w.nrow, kSpectrumColumns); });

    // The header lines unchanged, then the rows.
    std::string text;
    const std::size_t nlines = in.line_count();
    const std::size_t nhead = static_cast<std::size_t>(w.ninte);
    for (std::size_t i = 0; i < nhead; ++i) {
        text += in.line(i);
        text += '\n';
    }
    for (int r = 1; r <= w.nrow; ++r) {
        const std::size_t i = nhead + static_cast<std::size_t>(r - 1);
        if (i >= nlines)
            throw_io_error(in.name(), static_cast<long>(nlines),
                           "the file ends after " + std::to_string(r - 1) + " of its " +
                               std::to_string(w.nrow) + " spectrum rows");
        float v[kSpectrumColumns];
        if (!parse_row(in.line(i), v))
            throw_io_error(in.name(), static_cast<long>(i + 1), "a spectrum row needs nine numbers");
        for (int c = 1; c <= kSpectrumColumns; ++c) w.table(r, c) = v[c - 1];
    }

    if (pahflag)
        for (int m : w.mask) profile(run, m);

    if (run.glotauspe.istarfo == 0 && pahflag && w.nmask != 0) {
        const int m = w.mask.back();
        std::string pah = fio::list_line({"# lam/A  L_pah/1e30 erg/s"}) + "\n";
        for (int k = 1; k <= kPahBands; ++k) pah += fio::list_line({w.lam(k), w.lumpah(k, m)}) + "\n";
        write_file_atomic(rtrim(outfile) + ".pah", pah);
    }

    gentablepro(run);

    // Rows below the fine grid, the fine rows (each wavelength once), the rows above.
    const float* x = w.table.col(1);
    const float* wp = w.tablepro.col(1);
    const int npro = w.npro;
    for (int r = 1; r <= w.nrow && x[r - 1] < wp[0]; ++r) text += table_row(w.table, r, outfile);
    for (int p = 1; p <= npro; ++p)
        if (p == 1 || wp[p - 1] > wp[p - 2]) text += table_row(w.tablepro, p, outfile);
    for (int r = 1; r <= w.nrow; ++r)
        if (x[r - 1] > wp[npro - 1]) text += table_row(w.table, r, outfile);

    write_file_atomic(outfile, text);

    w.mask.clear();
    w.mask_ann.clear();
    w.nmask = 0;
    w.nmask_ann = 0;
}

}  // namespace qv::pahpro
