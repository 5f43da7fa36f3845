#include "solver/solver_output.h"

#include <cmath>
#include <string>
#include <vector>

#include "core/run_names.h"
#include "core/stop.h"
#include "io/fields.h"
#include "io/format.h"
#include "io/textfile.h"
#include "solver/solver_state.h"

namespace qv {

std::string solver_stem(const SolverState& g) { return upto_blank(g.nom); }

void write_solver_file(const std::string& path, const SolverLines& lines) {
    std::string text;
    for (const std::string& l : lines) {
        text += l;
        text += '\n';
    }
    write_file_atomic(path, text);
}

void inppa2(SolverState& g) {
    g.igeo = 0;
    g.r1 = 1.0e10f;
    g.irho = 0;
    g.cthe1 = 0.0f;
    g.alpha = 0.0f;
    g.beta = 0.0f;
    g.altau = 1.0f;
    g.icen = 3;
    g.perrif = 0.0f;
    g.ncic = 2;
    g.iini = 0;
    g.jpflag = true;
    g.suflag = true;
    g.simsfe = true;
    g.grflag = 1;
    g.scaani = false;
    g.stokes = false;
    g.simequ = true;
}

std::string nolt96_path(const RunNames& modname) { return trim_right(modname.name_dir) + "NOLT96.OF"; }

namespace {

// The next line of the settings file, or an IoError naming what was expected.
std::string_view next_line(TextFile& f, const std::string& what) {
    std::string_view line;
    if (!f.next(line)) f.fail("end of file: expected " + what);
    return line;
}

int read_count(TextFile& f, const std::string& what) {
    const std::string_view line = next_line(f, what + " (I10)");
    const auto v = fio::read_int_field(fio::field_at(line, 0, 10));
    if (!v) f.fail("not an integer in columns 1-10 (" + what + "): \"" + std::string(line) + "\"");
    return static_cast<int>(*v);
}

float read_f102(TextFile& f, const std::string& what) {
    const std::string_view line = next_line(f, what + " (F10.2)");
    const auto v = fio::read_real4_field(fio::field_at(line, 0, 10), 2);
    if (!v || !std::isfinite(*v))
        f.fail("not a number in columns 1-10 (" + what + "): \"" + std::string(line) + "\"");
    return *v;
}

[[noreturn]] void bad_count(const std::string& path, const std::string& what, int n,
                            const std::string& why) {
    throw Stop(std::vector<std::string>{" Output settings " + path + ":",
                fio::list_line({" " + what + " =", n}) + " " + why});
}

}  // namespace

void inpof(const RunNames& modname, std::array<bool, 15>& flags, int nflags, Vec<float>& dirs,
           int maxdirs, int& ndirs, Vec<float>& lams, int maxlams, int& nlams, int /*mode*/) {
    const std::string path = nolt96_path(modname);
    TextFile f = TextFile::open(path);
    next_line(f, "a title line");
    for (int i = 1; i <= nflags; ++i) {
        const std::string_view line = next_line(f, "output flag " + std::to_string(i) + " (L10)");
        const auto v = fio::read_logical_field(fio::field_at(line, 0, 10));
        if (!v)
            f.fail("not a logical in columns 1-10 (output flag " + std::to_string(i) + "): \"" +
                   std::string(line) + "\"");
        flags[static_cast<std::size_t>(i)] = *v;
    }

    const int nd = read_count(f, "number of viewing directions");
    if (nd < 1) bad_count(path, "number of viewing directions", nd, "(at least 1 is needed)");
    if (nd > maxdirs)
        bad_count(path, "number of viewing directions", nd, "(at most " + std::to_string(maxdirs) + ")");
    for (int i = 1; i <= nd; ++i) dirs(i) = read_f102(f, "viewing direction " + std::to_string(i));
    ndirs = nd;

    const int nl = read_count(f, "number of map wavelengths");
    if (nl < 0) bad_count(path, "number of map wavelengths", nl, "(it cannot be negative)");
    if (nl > maxlams)
        bad_count(path, "number of map wavelengths", nl, "(at most " + std::to_string(maxlams) + ")");
    if (nl == 0)
        next_line(f, "a line after the count 0 of map wavelengths");
    else
        for (int i = 1; i <= nl; ++i) lams(i) = read_f102(f, "map wavelength " + std::to_string(i));
    nlams = nl;

    if (nflags >= 13 && !flags[13])
        throw Stop(std::vector<std::string>{" Output settings " + path + ":",
                    " output flag 13 (the emergent spectra) is off: the cloud model reads the dust "
                    "spectrum of the first viewing direction"});
}

void outpar(const SolverState& g, SolverLines& file) {
    auto i8 = [&file](const char* label, int v) { file.push_back(fio::write_line("(A8,I10)", {label, v})); };
    auto r8 = [&file](const char* label, float v) { file.push_back(fio::write_line("(A8,G10.3)", {label, v})); };
    auto l8 = [&file](const char* label, bool v) { file.push_back(fio::write_line("(A8,L10)", {label, v})); };
    file.emplace_back();
    file.push_back(fio::write_line("(A8,I10,A20)", {"IGEO  = ", g.igeo, " 0 = toro - 1 = coni"}));
    r8("TGRA  = ", g.tgra);
    r8("TSIL  = ", g.tsil);
    r8("R1    = ", g.r1);
    r8("RMSR0 = ", g.rmsr0);
    i8("IRHO  = ", g.irho);
    r8("CTHE1 = ", g.cthe1);
    r8("ALPHA = ", g.alpha);
    r8("BETA  = ", g.beta);
    r8("TAUE  = ", g.taue);
    r8("ALTAU = ", g.altau);
    i8("ICEN  = ", g.icen);
    r8("RC    = ", g.rc);
    r8("TC    = ", g.tc);
    r8("PERRIF= ", g.perrif);
    i8("NCIC  = ", g.ncic);
    i8("IINI  = ", g.iini);
    l8("JPFLAG= ", g.jpflag);
    l8("SUFLAG= ", g.suflag);
    l8("SIMSFE= ", g.simsfe);
    i8("GRFLAG= ", g.grflag);
    l8("SCAANI= ", g.scaani);
    l8("STOKES= ", g.stokes);
    l8("SIMEQU= ", g.simequ);
}

namespace {

void block_head(SolverLines& file, std::string_view label) {
    for (std::string& l : fio::write_records("(/'Array ',A6,':')", {label})) file.push_back(std::move(l));
}

}  // namespace

void outarr(const Vec<float>& v, int n, SolverLines& file, std::string_view label, bool flag) {
    if (!flag) return;
    block_head(file, label);
    for (int i = 1; i <= n; ++i) file.push_back(fio::write_line("(I5,G15.5)", {i, v(i)}));
}

void outar2(const Mat<float>& a, int na, int nb, SolverLines& file, std::string_view label,
            bool flag) {
    if (!flag) return;
    block_head(file, label);
    const int lo = a.lbound(1);
    std::vector<fio::Item> row;
    for (int i = 1; i <= na; ++i) {
        row.clear();
        for (int j = lo; j < lo + nb; ++j) row.emplace_back(a(i, j));
        file.push_back(fio::write_line("(100G11.4)", row));
    }
}

void outas2(const Mat<float>& a, int na, int /*nb*/, SolverLines& file, std::string_view label,
            bool flag) {
    if (!flag) return;
    block_head(file, label);
    for (int i = 1; i <= na; ++i) file.push_back(fio::write_line("(100G10.3)", {a(i, 1)}));
}

void outas3(const FArray<float, 3>& a, int na, int /*nb*/, int nc, SolverLines& file,
            std::string_view label, bool flag) {
    if (!flag) return;
    block_head(file, label);
    const int lo = a.lbound(2);
    std::vector<fio::Item> row;
    for (int i = 1; i <= na; ++i) {
        row.clear();
        for (int k = lo; k < lo + nc; ++k) row.emplace_back(a(i, 1, k));
        file.push_back(fio::write_line("(100G10.4)", row));
    }
}

}  // namespace qv
