#include "dust/grain_optics.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <string_view>

#include "core/run.h"
#include "core/stop.h"
#include "io/fields.h"
#include "io/listread.h"
#include "io/textfile.h"

namespace qv {

namespace {

// Up to three plain numbers of a line separated by blanks. False when the line
// holds fewer, or anything a list-directed read treats specially (commas, slashes,
// repeat counts, quotes, D exponents, signs), so that the caller falls back to the
// full list-directed read.
bool three_plain_numbers(std::string_view line, float& a, float& b, float& c) {
    float* out[3] = {&a, &b, &c};
    std::size_t i = 0;
    for (int k = 0; k < 3; ++k) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i == line.size()) return false;
        std::size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
        const char* first = line.data() + i;
        const char* last = line.data() + j;
        const auto r = std::from_chars(first, last, *out[k], std::chars_format::general);
        if (r.ec != std::errc() || r.ptr != last) return false;
        i = j;
    }
    return true;
}

// One row of a block: wavelength, Qabs, Qsca (further values ignored); the read
// may run over several lines as a list-directed read does.
void read_row(TextFile& f, float& w, float& qa, float& qs, int block, int row) {
    std::string_view line;
    if (f.next(line)) {
        if (three_plain_numbers(line, w, qa, qs)) return;
        f.backspace();
    }
    const fio::ListResult r = fio::list_read(f, {&w, &qa, &qs});
    if (r.status == fio::ReadStatus::End)
        throw_io_error(f.name(), static_cast<long>(f.position()),
                       "the table ends in block " + std::to_string(block) + " of " +
                           std::to_string(GrainTable::nrad) + " at wavelength row " +
                           std::to_string(row) + " of " + std::to_string(GrainTable::nwav));
    if (r.status == fio::ReadStatus::Error)
        throw_io_error(f.name(), static_cast<long>(f.position()), r.message);
}

void skip_line(TextFile& f, const std::string& what) {
    std::string_view line;
    if (!f.next(line))
        throw_io_error(f.name(), static_cast<long>(f.position()), "the table ends before " + what);
}

// True when v runs strictly in one direction.
bool strictly_monotonic(const std::vector<float>& v) {
    if (v.size() < 2) return false;
    const bool up = v.back() > v.front();
    for (std::size_t i = 1; i < v.size(); ++i)
        if (up ? !(v[i] > v[i - 1]) : !(v[i] < v[i - 1])) return false;
    return true;
}

bool positive(float v) { return v > 0.0f && std::isfinite(v); }

std::string num(float v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.7g", static_cast<double>(v));
    return buf;
}

GrainTable& loaded(Run& run, GrainTable& t, const char* name) {
    if (!t.loaded) q_draine::read_table(t, trim_right(run.modname.name_dir) + name);
    return t;
}

}  // namespace

namespace q_draine {

void read_table(GrainTable& t, const std::string& path) {
    constexpr int nr = GrainTable::nrad;
    constexpr int nw = GrainTable::nwav;
    TextFile f = TextFile::open(path);

    std::vector<float> rad(nr), wav(nw), qabs(static_cast<std::size_t>(nr) * nw),
        qsca(static_cast<std::size_t>(nr) * nw);
    std::vector<long> rad_line(nr), wav_line(nw);

    for (int i = 0; i < 5; ++i) skip_line(f, "the end of its five header lines");
    for (int j = 1; j <= nr; ++j) {
        const std::string blk = "block " + std::to_string(j);
        skip_line(f, blk + " of " + std::to_string(nr));
        std::string_view line;
        if (!f.next(line))
            throw_io_error(path, static_cast<long>(f.position()),
                           "the table ends before the radius line of " + blk);
        std::string field(line.substr(0, std::min<std::size_t>(line.size(), 10)));
        field.resize(10, ' ');
        const auto a = fio::read_real_field(field, 3);
        if (!a) f.fail("the radius field '" + field + "' of " + blk + " is not a number");
        rad[j - 1] = fio::as_real4(*a);
        rad_line[j - 1] = static_cast<long>(f.position());
        if (!positive(rad[j - 1])) f.fail("the grain radius of " + blk + " is not positive");
        skip_line(f, "the wavelength rows of " + blk);

        for (int k = 1; k <= nw; ++k) {
            float w = 0.0f, qa = 0.0f, qs = 0.0f;
            read_row(f, w, qa, qs, j, k);
            const long ln = static_cast<long>(f.position());
            if (!positive(w)) throw_io_error(path, ln, "wavelength " + num(w) + " is not a positive number");
            if (!positive(qa)) throw_io_error(path, ln, "Qabs " + num(qa) + " is not a positive number");
            if (!positive(qs)) throw_io_error(path, ln, "Qsca " + num(qs) + " is not a positive number");
            if (j == 1) {
                wav[k - 1] = w;
                wav_line[k - 1] = ln;
            } else if (w != wav[k - 1]) {
                throw_io_error(path, ln,
                               "wavelength " + num(w) + " of " + blk + " differs from " +
                                   num(wav[k - 1]) + " in the same row of block 1 (line " +
                                   std::to_string(wav_line[k - 1]) +
                                   "): every block must use one wavelength list");
            }
            const std::size_t idx = static_cast<std::size_t>(j - 1) + static_cast<std::size_t>(k - 1) * nr;
            qabs[idx] = qa;
            qsca[idx] = qs;
        }
    }

    for (float& v : rad) v = std::log10(v);
    for (float& v : wav) v = std::log10(v);
    for (float& v : qabs) v = std::log10(v);
    for (float& v : qsca) v = std::log10(v);
    // The interpolation needs both lists to run in one direction without repeats.
    if (!strictly_monotonic(rad))
        throw_io_error(path, rad_line[0], "the grain radii of the blocks do not run strictly in one direction");
    if (!strictly_monotonic(wav))
        throw_io_error(path, wav_line[0], "the wavelengths of a block do not run strictly in one direction");

    t.lrad = std::move(rad);
    t.lwav = std::move(wav);
    t.lqabs = std::move(qabs);
    t.lqsca = std::move(qsca);
    t.jrad = 0;
    t.jwav = 0;
    t.loaded = true;
}

GrainTable& sil_table(Run& run) { return loaded(run, run.q_draine.sil, "SIL_81"); }
GrainTable& gra_table(Run& run) { return loaded(run, run.q_draine.gra, "GRA_81"); }

}  // namespace q_draine

float q_sil_81(Run& run, float lambda, float a, int isca) {
    GrainTable& t = run.q_draine.sil;
    if (!t.loaded) q_draine::sil_table(run);
    return q_draine::eval(t, run.trucco, lambda, a, isca);
}

float q_gra_81(Run& run, float lambda, float a, int isca) {
    GrainTable& t = run.q_draine.gra;
    if (!t.loaded) q_draine::gra_table(run);
    return q_draine::eval(t, run.trucco, lambda, a, isca);
}

namespace {

// PAH ultraviolet cross-section, lambda descending in micron, in 1e-18 cm^2.
constexpr std::array<float, 37> kPahLam = {
    0.5f,      0.416667f, 0.35714f,  0.3125f,   0.277778f, 0.25f,     0.227273f, 0.208333f,
    0.192308f, 0.178571f, 0.166667f, 0.15625f,  0.147059f, 0.138889f, 0.131579f, 0.125f,
    0.119048f, 0.113636f, 0.108696f, 0.104167f, 0.1f,      0.096154f, 0.092593f, 0.089286f,
    0.086207f, 0.083333f, 0.080645f, 0.078125f, 0.075758f, 0.073529f, 0.071429f, 0.069444f,
    0.067567f, 0.065789f, 0.064103f, 0.0625f,   0.05f};
constexpr std::array<float, 37> kPahSig = {
    0.0f,     0.133528f, 0.35662f, 1.58953f, 3.76778f, 6.37639f, 7.01808f, 7.18864f,
    7.06918f, 6.56105f,  4.97698f, 4.28791f, 4.17245f, 4.64364f, 5.72368f, 6.653f,
    7.41848f, 8.1337f,   8.87908f, 9.73504f, 10.782f,  12.1004f, 13.7707f, 15.8548f,
    18.0101f, 19.93f,    22.0959f, 25.068f,  28.5235f, 31.4803f, 32.6212f, 31.4386f,
    29.1485f, 26.6528f,  24.1822f, 21.8602f, 0.0f};

}  // namespace

float sigma_pah_c(float lambda) {
    if (lambda > 0.5f || lambda < 0.05f) return 0.0f;
    NrKelu local;  // the search guess is not kept between calls
    int guess = 0;
    return nr_kelu::liin_s(local, kPahLam.data(), kPahSig.data(), static_cast<int>(kPahLam.size()),
                           lambda, &guess) *
           1e-18f;
}

float planck(float x, float t) {
    if (t <= 0.0f) return 0.0f;
    const float nu = x < 100.0f ? std::pow(10.0f, x) : x;
    const float u = 4.79928e-11f * nu / t;
    if (u > 100.0f) return 0.0f;
    const float n14 = nu / 1e14f;
    return 1.474524e-5f * (n14 * n14 * n14) / (std::exp(u) - 1.0f);
}

}  // namespace qv
