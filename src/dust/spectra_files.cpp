// The radio emission and the spectra files of the galaxy.
#include "dust/spectra_files.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "core/allocating.h"
#include "core/parfile.h"
#include "core/run.h"
#include "core/stop.h"
#include "dust/cirrus_phases.h"
#include "dust/pah_profiles.h"
#include "io/format.h"
#include "io/listread.h"
#include "io/textfile.h"
#include "numerics/roots_sort.h"
#include "numerics/search.h"

namespace qv::cirrus {

namespace {

constexpr int kHeaderLines = 15;

// What each column of a spectra row holds, for the messages.
constexpr const char* kColumnNames[9] = {"wavelength",
                                         "cirrus emission",
                                         "starlight extincted by MCs only",
                                         "starlight extincted",
                                         "MCs emission",
                                         "total",
                                         "starlight unextincted",
                                         "subcomponent unextincted",
                                         "subcomponent extincted"};
// The same for the radio rows (their other columns are 0).
constexpr const char* kRadioColumnNames[9] = {"radio wavelength", "", "", "", "", "radio emission", "", "", ""};

// The temporary name of a spectra file is the program's own. A file that
// already has it is replaced only when it is stale (stale_temporary_file);
// any other (the user's own, or one that a live run may be writing) is
// neither used nor replaced.
[[noreturn]] void temporary_name_taken(const std::string& path) {
    throw Stop(fio::list_line({"ERROR: file ", path,
                               " exists: it is the temporary name of a spectra file and is not overwritten;"
                               " remove or rename it"}));
}

// A value that is not finite stops the run before the file is written.
[[noreturn]] void not_finite(const std::string& file, int row, int col, float value, float wavelength,
                             const char* what) {
    const char* kind = std::isnan(value) ? "NaN" : "an infinity";
    std::string w = fio::edit_g(wavelength, 14, 7);
    w.erase(0, w.find_first_not_of(' '));
    w.erase(w.find_last_not_of(' ') + 1);
    throw Stop({fio::list_line({"ERROR: ", kind, " in spectra file ", file, ", data row ", std::to_string(row),
                                ", column ", std::to_string(col + 1), " (", what, "), at wavelength ", w, " A"}),
                fio::list_line({"the spectra file ", file, " is not written"})});
}

void add_row(std::string& text, const std::array<float, 9>& v, const std::string& file, int row,
             const char* const names[9]) {
    std::string line;
    int bad = -1;
    if (!spectra_row(v, line, bad)) not_finite(file, row, bad, v[static_cast<std::size_t>(bad)], v[0], names[bad]);
    text += line;
    text += '\n';
}

std::string header_text(const CirrusRun& cr, int d) {
    std::string t;
    for (const auto& l : spectra_header(cr, d)) {
        t += l;
        t += '\n';
    }
    return t;
}

bool exists_any(const std::string& path) {
    std::error_code ec;
    return std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found && !ec;
}

// The first bytes of a spectra file as the spectra writer starts it: the
// header's first line of the angle average or of a direction.
bool begins_as_spectra_file(const std::string& path) {
    static const std::string kFirst[] = {"# Angle average", "# Direction "};
    char buf[16] = {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    ssize_t n;
    do {
        n = ::read(fd, buf, sizeof buf);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n < 0) return false;
    const std::string head(buf, static_cast<std::size_t>(n));
    // A run killed at once leaves the file empty, or with part of that line.
    for (const std::string& f : kFirst) {
        const std::size_t k = std::min(head.size(), f.size());
        if (head.compare(0, k, f, 0, k) == 0) return true;
    }
    return false;
}

// Writes a file of the program's own (the temporary file of the PAH step) that
// must not exist yet: it is created exclusively, so that a file of the user's
// of that name is never replaced.
void write_new_file(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == EEXIST) temporary_name_taken(path);
        throw_io_error(path, 0, std::string("cannot create file (") + std::strerror(errno) + ")");
    }
    std::size_t done = 0;
    bool ok = true;
    int err = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            err = errno;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(path.c_str());
        throw_io_error(path, 0, std::string("cannot write file (") + std::strerror(err) + ")");
    }
}

// Linear interpolation in the ascending table xa(1..n) at x, extended linearly
// beyond the table's ends (a file's wavelengths, read back with four digits, land
// just outside the tables they came from), floored at 0: an extension must not
// turn a luminosity negative.
inline float extended_nonneg(NrKelu& st, const float* xa, int n, const float* ya, float x, int& guess) {
    if (n < 1) return 0.0f;
    const float v = n == 1 ? ya[0] : nr_kelu::liin(st, xa, n, ya, x, &guess);
    return v < 0.0f ? 0.0f : v;  // a NaN passes on to the row check
}

// The data rows of a spectra file written by this program (or its PAH step):
// the first kHeaderLines lines are skipped and nrow rows of nine values read.
std::vector<std::array<float, 9>> read_spectra_rows(const std::string& file, int nrow) {
    TextFile f = TextFile::open(file);
    for (int k = 0; k < kHeaderLines; ++k) fio::list_read_or_throw(f, {});
    std::vector<std::array<float, 9>> rows(static_cast<std::size_t>(nrow > 0 ? nrow : 0));
    for (auto& r : rows) fio::list_read_or_throw(f, {std::span<float>(r.data(), r.size())});
    return rows;
}

}  // namespace

std::string direction_suffix(float degrees) {
    const long n = std::lround(degrees);
    return fio::edit_i(n, n < 10 ? 1 : 2);
}

std::string spectra_file_name(const Run& run, int d, bool ssp_grid) {
    const std::string base = upto_blank(run.modname.name_res) + (ssp_grid ? ".ssp." : ".");
    return base + (d == 0 ? std::string("spe") : direction_suffix(run.cirrus.DIRARR(d)));
}

bool stale_temporary_file(const Run& run, const std::string& path) {
    if (!run.modname.result_locked) return false;
    std::error_code ec;
    if (std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::regular || ec) return false;
    return begins_as_spectra_file(path);
}

std::vector<float> spectra_section_directions(const Run& run) {
    std::vector<float> dirs;
    try {
        TextFile f = TextFile::open(par_file_name(run));
        if (!modname::search_key_in_file(f, RunNames::seckeys[0])) return {};
        if (fio::list_read(f, {}).status != fio::ReadStatus::Ok) return {};
        int ndir = 0;
        if (fio::list_read(f, {&ndir}).status != fio::ReadStatus::Ok || ndir < 1) return {};
        // One record per direction: a count beyond the file's lines ends at its end.
        for (int d = 1; d <= ndir; ++d) {
            float a = 0.0f;
            if (fio::list_read(f, {&a}).status != fio::ReadStatus::Ok) return {};
            if (!valid_inclination(a)) return {};
            dirs.push_back(a);
        }
    } catch (const IoError&) {
        return {};
    }
    return dirs;
}

void check_temporary_names(const Run& run) {
    const std::string base = upto_blank(run.modname.name_res) + ".";
    // Only the names this run will write: the angle average and the SPECTRA
    // directions (the emulator's own directions get no file). A file at any
    // other name is not the run's business.
    std::vector<std::string> names = {base + "spe.tmp"};
    for (const float deg : spectra_section_directions(run)) names.push_back(base + direction_suffix(deg) + ".tmp");
    for (const std::string& t : names)
        if (exists_any(t) && !stale_temporary_file(run, t)) temporary_name_taken(t);
}

bool gets_file(const CirrusRun& cr, int d) { return d == 0 || cr.ADDED_DIR(d) < 0.5f; }

std::vector<std::string> spectra_header(const CirrusRun& cr, int d) {
    std::vector<std::string> h;
    h.reserve(kHeaderLines);
    h.push_back(d == 0 ? std::string("# Angle average")
                       : fio::write_line("('# Direction ',G10.3,' degrees')", {cr.DIRARR(d)}));
    h.push_back("# (1): Wavelength in Angstrom");
    h.push_back("# (2): Cirrus emssion");
    h.push_back("# (3): Starlight extincted by MCs only");
    h.push_back("# (4): Starlight extincted");
    h.push_back("# (5): MCs emission");
    h.push_back("# (6): Total");
    h.push_back("# (7): Starlight unextincted");
    h.push_back("# (8): Subcomponent unextincted");
    h.push_back("# (9): Subcomponent extincted");
    h.push_back("# Notes:");
    h.push_back("# 1. luminosities in 1e30 erg/s/A");
    h.push_back(std::string("# 2. subcomponent in cols. 8,9 is bulge for") + " composite models");
    h.push_back("# otherwise = cols. 7,4 resp.");
    h.push_back(fio::write_line("('#',4X,I1,5X,20(4X,I2,5X))", {1, 2, 3, 4, 5, 6, 7, 8, 9}));
    return h;
}

bool spectra_row(const std::array<float, 9>& v, std::string& out, int& bad) {
    out.clear();
    for (int k = 0; k < 9; ++k) {
        if (!std::isfinite(v[static_cast<std::size_t>(k)])) {
            bad = k;
            out.clear();
            return false;
        }
    }
    bad = -1;
    out.reserve(99);
    for (int k = 0; k < 9; ++k) {
        const float x = v[static_cast<std::size_t>(k)];
        std::string f = fio::edit_g(x, 11, 4);
        // G11.4 leaves a blank in front of every field but one: a negative value
        // in the exponent form fills all 11 columns ("-0.1234E-04") and would run
        // into the field before it. Such a value (never a luminosity the model
        // produces, but a negative SSP flux can bring one) is written with one
        // significant digit less, E11.3 ("-0.123E-04"), so that the row still
        // reads as nine whitespace-separated numbers in the same columns.
        if (f[0] != ' ') f = fio::edit_e(x, 11, 3);
        out += f;
    }
    return true;
}

void radioflux(Run& run, float snratet) {
    CirrusRun& cr = run.cirrus;
    const CloudSetup& gp = run.glopalla;
    const int nlf = gp.nlf;
    const float* ws = gp.ws.data();

    int j = 0;
    nr_kelu::hunt90(ws, nlf, 1e6f, j);
    cr.IRADIO = 1 + j;
    cr.NWRADIO = nlf - cr.IRADIO + 11;
    allocating(fio::list_line({"ALLOCATION ERROR in radioflux"}), [&] {
        cr.WRADIO.resize(cr.NWRADIO);
        cr.FRADIO.resize(cr.NWRADIO);
    });
    const int nin = nlf - cr.IRADIO + 1;  // dust-grid points of the table
    for (int k = 1; k <= nin; ++k) cr.WRADIO(k) = gp.ws(cr.IRADIO + k - 1);
    const float wlast = 1.01f * gp.ws(nlf);
    cr.WRADIO(nin + 1) = wlast;
    const float q = std::pow(1e10f / wlast, 1.0f / 9.0f);
    for (int k = nin + 2; k <= cr.NWRADIO; ++k) cr.WRADIO(k) = cr.WRADIO(k - 1) * q;
    // The table ends exactly at 1e10 A (the products round).
    cr.WRADIO(cr.NWRADIO) = 1e10f;
    for (int k = 1; k <= cr.NWRADIO; ++k) {
        const float w = cr.WRADIO(k);
        cr.FRADIO(k) = snratet * 1.0218e11f * std::pow(w, -1.2f) * (1.0f + 1.0f / (2.323e-6f * std::pow(w, 0.7f)));
    }
}

void scrivispettri(Run& run) {
    const CirrusRun& cr = run.cirrus;
    const CloudSetup& gp = run.glopalla;
    const int nlf = gp.nlf, ncom = run.remind.ncom, nd = cr.ndir_total;
    const bool via_tmp = run.modname.pahflag || run.parametri.annflag != 0;

    struct Pending {
        std::string name, tmp, text;
    };
    std::vector<Pending> files;

    // Every file is composed (and checked) before any is written.
    for (int d = 0; d <= nd; ++d) {
        if (!gets_file(cr, d)) continue;
        Pending p;
        p.name = spectra_file_name(run, d);
        if (via_tmp) p.tmp = p.name + ".tmp";
        std::string& t = p.text;
        t = header_text(cr, d);
        t.reserve(t.size() + static_cast<std::size_t>(nlf + 10) * 100);
        for (int i = 1; i <= nlf; ++i) {
            float smc = 0.0f, se = 0.0f, s0 = 0.0f;
            for (int c = 1; c <= ncom; ++c) {
                smc += gp.lumstamc(i, c);
                se += cr.LUMSTA_E(i, d, c);
                s0 += gp.lumsta(i, c);
            }
            float tot = cr.ETOT(i) + se + cr.LUMMC_E(i, d);
            if (i >= cr.IRADIO) tot += cr.FRADIO(i - cr.IRADIO + 1);
            add_row(t, {gp.ws(i), cr.ETOT(i), smc, se, cr.LUMMC_E(i, d), tot, s0, gp.lumsta(i, ncom),
                        cr.LUMSTA_E(i, d, ncom)},
                    p.name, i, kColumnNames);
        }
        // The radio rows beyond the dust grid (real zeros, so that every row
        // has the same fields).
        for (int k = nlf - cr.IRADIO + 2; k <= cr.NWRADIO; ++k)
            add_row(t, {cr.WRADIO(k), 0.0f, 0.0f, 0.0f, 0.0f, cr.FRADIO(k), 0.0f, 0.0f, 0.0f}, p.name,
                    nlf + k - (nlf - cr.IRADIO + 1), kRadioColumnNames);
        files.push_back(std::move(p));
    }

    if (via_tmp) {
        std::vector<std::string> stale;
        for (const Pending& p : files)
            if (exists_any(p.tmp)) {
                if (!stale_temporary_file(run, p.tmp)) temporary_name_taken(p.tmp);
                stale.push_back(p.tmp);
            }
        // A file that stays (it cannot be removed) stops the run when its
        // name is created.
        for (const std::string& t : stale) {
            run.con.line(fio::list_line({"replacing the stale temporary file " + t + " of an earlier run"}));
            std::remove(t.c_str());
        }
    }

    for (const Pending& p : files) {
        if (!via_tmp) {
            write_file_atomic(p.name, p.text);
            continue;
        }
        write_new_file(p.tmp, p.text);
        try {
            pahpro::pahpro_tutto(run, p.tmp, p.name);
        } catch (...) {
            std::remove(p.tmp.c_str());
            throw;
        }
        std::remove(p.tmp.c_str());
    }
}

void scrivispettrissp(Run& run) {
    CirrusRun& cr = run.cirrus;
    const CloudSetup& gp = run.glopalla;
    const BirthGrid& rm = run.remind;
    NrKelu& st = run.nr_kelu;
    const int nlf = gp.nlf, ncom = rm.ncom, nlam = rm.nlam, nd = cr.ndir_total;
    const bool pah = run.modname.pahflag;

    // The wavelengths of the first direction's file and the SSP wavelengths.
    int d1 = 1;
    for (int d = 1; d <= nd; ++d)
        if (gets_file(cr, d)) {
            d1 = d;
            break;
        }
    const std::string first = spectra_file_name(run, d1);
    int nrow = 0, ninte = 0;
    pahpro::nrows_file(first, nrow, ninte);
    std::vector<float> grid;
    grid.reserve(static_cast<std::size_t>(nrow + nlam));
    for (const auto& r : read_spectra_rows(first, nrow)) grid.push_back(r[0]);
    for (int i = 1; i <= nlam; ++i) grid.push_back(rm.wave(i));
    const int ng = static_cast<int>(grid.size());
    sort(ng, grid.data());

    std::vector<float> W, E, M;
    std::vector<std::pair<std::string, std::string>> files;  // name, text
    for (int d = 0; d <= nd; ++d) {
        if (!gets_file(cr, d)) continue;
        // The attenuation of the starlight after the clouds by the cirrus.
        for (int c = 1; c <= ncom; ++c)
            for (int i = 1; i <= nlf; ++i)
                cr.ATT(i, c) = gp.lumstamc(i, c) > 0.0f ? cr.LUMSTA_E(i, d, c) / gp.lumstamc(i, c) : 0.0f;
        // The emission tables: read back with pahflag (the PAH profiles are in
        // the file), else those of the dust grid.
        if (pah) {
            const auto rows = read_spectra_rows(spectra_file_name(run, d), nrow);
            W.resize(rows.size());
            E.resize(rows.size());
            M.resize(rows.size());
            for (std::size_t k = 0; k < rows.size(); ++k) {
                W[k] = rows[k][0];
                E[k] = rows[k][1];
                M[k] = rows[k][4];
            }
        } else {
            W.assign(gp.ws.data(), gp.ws.data() + nlf);
            E.assign(cr.ETOT.data(), cr.ETOT.data() + nlf);
            M.assign(cr.LUMMC_E.col(d), cr.LUMMC_E.col(d) + nlf);
        }
        const int nw = static_cast<int>(W.size());

        const std::string name = spectra_file_name(run, d, true);
        std::string text = header_text(cr, d);
        text.reserve(text.size() + static_cast<std::size_t>(ng) * 100);
        int gw = 0, gs = 0, gl = 0, gr = 0;  // search guesses
        std::vector<int> gc(static_cast<std::size_t>(ncom) * 2, 0);
        for (int k = 0; k < ng; ++k) {
            const float w = grid[static_cast<std::size_t>(k)];
            const float e = extended_nonneg(st, W.data(), nw, E.data(), w, gw);
            float s3 = 0.0f, s4 = 0.0f, s7 = 0.0f;
            float lmc_last = 0.0f, att_last = 0.0f, l0_last = 0.0f;
            for (int c = 1; c <= ncom; ++c) {
                int& g1 = gc[static_cast<std::size_t>(2 * (c - 1))];
                int& g2 = gc[static_cast<std::size_t>(2 * (c - 1) + 1)];
                const float lmc = extended_nonneg(st, rm.wave.data(), nlam, gp.l_stamc.col(c), w, g1);
                const float att = extended_nonneg(st, gp.ws.data(), nlf, cr.ATT.col(c), w, g2);
                const float l0 = extended_nonneg(st, rm.wave.data(), nlam, gp.l_sta.col(c), w, gl);
                s3 += lmc;
                s4 += att * lmc;
                s7 += l0;
                if (c == ncom) {
                    lmc_last = lmc;
                    att_last = att;
                    l0_last = l0;
                }
            }
            const float m = extended_nonneg(st, W.data(), nw, M.data(), w, gs);
            float tot = e + s4 + m;
            if (cr.RADIO) tot += extended_nonneg(st, cr.WRADIO.data(), cr.NWRADIO, cr.FRADIO.data(), w, gr);
            add_row(text, {w, e, s3, s4, m, tot, s7, l0_last, lmc_last * att_last}, name, k + 1, kColumnNames);
        }
        files.emplace_back(name, std::move(text));
    }
    for (const auto& f : files) write_file_atomic(f.first, f.second);
}

void radio_and_spectra(Run& run, float snratet) {
    CirrusRun& cr = run.cirrus;
    const BirthGrid& rm = run.remind;
    float wmax = 0.0f;
    for (int i = 1; i <= rm.nlam; ++i) wmax = std::max(wmax, rm.wave(i));
    cr.RADIO = run.glotauspe.istarfo == 0 && snratet != 0.0f && wmax < 1e8f;
    if (cr.RADIO) {
        run.con.line(fio::list_line({"calcolo radio da quelvo"}));
        radioflux(run, snratet);
    } else {
        run.con.line(fio::list_line({"radio presente nelle ssp"}));
        cr.NWRADIO = 0;
        cr.IRADIO = run.glopalla.nlf + 1;
        cr.WRADIO.clear();
        cr.FRADIO.clear();
    }
    run.con.line(fio::list_line({cr.RADIO}));
    scrivispettri(run);
    if (run.parametri.wavsspout) scrivispettrissp(run);
}

}  // namespace qv::cirrus
