#include "clouds/hii_library.h"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core/console.h"
#include "core/run.h"
#include "core/run_names.h"
#include "core/stop.h"
#include "io/fields.h"
#include "io/format.h"
#include "io/listread.h"
#include "io/textfile.h"

namespace qv {

namespace {

// The rows and sets that the name table nomemodello holds.
constexpr int kMaxRows = 10;
constexpr int kMaxSets = 10;

[[noreturn]] void stop_list(const std::string& path, const std::string& what, const fio::Item& v) {
    throw Stop(fio::list_line({"HII model list " + path + ": " + what, v}));
}

}  // namespace

namespace mc_righe {

void read_file_lin(Run& run) {
    CloudTypes& mc = run.mc_righe;
    const std::string path = upto_blank(run.modname.name) + ".lin";
    TextFile f = TextFile::open(path);
    int nnh = 0;
    fio::list_read_or_throw(f, {&nnh});
    if (nnh < 1 || nnh > kMaxSets)
        stop_list(path, "the number of library sets must be 1 to 10, nnh_hii=", nnh);
    const int rows = mc.n_tau_mc + 1;
    if (mc.n_tau_mc < 1 || rows > kMaxRows)
        stop_list(path, "HII regions take 1 to 9 cloud types, n_tau_mc=", mc.n_tau_mc);

    mc.nnh_hii = nnh;
    mc.massamod.resize(rows, nnh);
    run.modhii.lin_file = path;
    run.modhii.lin_lines.clear();
    for (int i = 1; i <= rows; ++i) {
        // A read that ends early ("/") leaves its targets as they are: a mass
        // that stays NaN and a name that stays empty are caught below.
        std::vector<float> mass(static_cast<std::size_t>(nnh), std::numeric_limits<float>::quiet_NaN());
        std::vector<std::string> name(static_cast<std::size_t>(nnh));
        std::vector<fio::Target> targets;
        for (std::size_t v = 0; v < mass.size(); ++v) {
            targets.emplace_back(&mass[v]);
            targets.emplace_back(&name[v]);
        }
        const long first = static_cast<long>(f.position()) + 1;
        fio::list_read_targets_or_throw(f, targets);
        run.modhii.lin_lines.emplace_back(first, static_cast<long>(f.position()));
        for (int v = 1; v <= nnh; ++v) {
            const auto k = static_cast<std::size_t>(v - 1);
            const std::string where = "set " + std::to_string(v) + " of row " + std::to_string(i);
            if (!(mass[k] > 0.0f) || !std::isfinite(mass[k]))
                stop_list(path, "the stellar mass of " + where + " must be >0, massamod=", mass[k]);
            // A name cut to its field would open another library file.
            if (name[k].size() > modhii::kNameLength)
                stop_list(path, "the model name of " + where + " is longer than 40 characters: ", name[k]);
            if (upto_blank(name[k]).empty())
                stop_list(path, "the model name of " + where + " is missing", std::string_view());
            mc.massamod(i, v) = mass[k];
            mc.nomemodello(i, v) = name[k];
        }
    }
}

}  // namespace mc_righe

namespace modhii {

namespace {

// Column starts (0-based) and widths of the model line.
constexpr std::size_t kGridnAt = 14, kZgasAt = 16, kQhiAt = 29, kQxAt = 38, kQheiAt = 47, kQoAt = 56;
constexpr std::size_t kCodesAt = 65, kCodeWidth = 5;

float real_field(std::string_view line, std::size_t at, std::size_t w, int d, const char* what,
                 const std::string& file, long lineno) {
    const std::string_view fld = fio::field_at(line, at, w);
    const std::optional<float> v = fio::read_real4_field(fld, d);
    if (!v || !std::isfinite(*v))
        throw_io_error(file, lineno,
                       std::string("bad ") + what + " \"" + std::string(fld) + "\" in columns " +
                           std::to_string(at + 1) + "-" + std::to_string(at + w));
    return *v;
}

int int_field(std::string_view line, std::size_t at, std::size_t w, const char* what, const std::string& file,
              long lineno) {
    const std::string_view fld = fio::field_at(line, at, w);
    const std::optional<long long> v = fio::read_int_field(fld);
    if (!v)
        throw_io_error(file, lineno,
                       std::string("bad ") + what + " \"" + std::string(fld) + "\" in columns " +
                           std::to_string(at + 1) + "-" + std::to_string(at + w));
    return static_cast<int>(*v);
}

// 10^value; a value of -33 or less means none.
float photons(float v) { return std::pow(10.0f, v); }
float photons_or_none(float v) { return v <= -33.0f ? 0.0f : std::pow(10.0f, v); }

}  // namespace

ModelLine read_model_line(std::string_view line, const std::string& file, long lineno) {
    ModelLine m;
    m.gridn = int_field(line, kGridnAt, 1, "sub-grid number", file, lineno);
    m.zgas = real_field(line, kZgasAt, 5, 4, "metallicity", file, lineno);
    m.lqhi = real_field(line, kQhiAt, 8, 4, "log Q(H)", file, lineno);
    m.lqx = real_field(line, kQxAt, 8, 4, "fourth photon value", file, lineno);
    m.lqhei = real_field(line, kQheiAt, 8, 4, "log Q(He)", file, lineno);
    m.lqo = real_field(line, kQoAt, 8, 4, "log Q(O)", file, lineno);
    for (std::size_t k = 0; k < m.codes.size(); ++k)
        m.codes[k] = int_field(line, kCodesAt + kCodeWidth * k, kCodeWidth, "line code", file, lineno);
    return m;
}

float line_luminosity(int code) {
    if (code == 0) return 0.0f;
    return std::exp(static_cast<float>(code) / 1000.0f - 50.0f);
}

void scaricamem(HiiLibrary& lib) {
    lib.zgas.clear();
    lib.qhi.clear();
    lib.qx.clear();
    lib.qhei.clear();
    lib.qo.clear();
    lib.gridn.clear();
    lib.righe.clear();
    lib.n_mod = 0;
}

void load(HiiLibrary& lib, const TextFile& f) {
    const int lines = static_cast<int>(f.line_count());
    const int n = lines > 1 ? lines - 1 : 0;
    scaricamem(lib);
    lib.n_mod = n;
    lib.gridn.resize(n);
    lib.zgas.resize(n);
    lib.qhi.resize(n);
    lib.qx.resize(n);
    lib.qhei.resize(n);
    lib.qo.resize(n);
    lib.righe.resize(kHiiLines, n);
    for (int m = 1; m <= n; ++m) {
        const ModelLine ml = read_model_line(f.line(static_cast<std::size_t>(m)), f.name(), m + 1);
        lib.gridn(m) = ml.gridn;
        lib.zgas(m) = ml.zgas;
        lib.qhi(m) = photons(ml.lqhi);
        lib.qx(m) = photons(ml.lqx);
        lib.qhei(m) = photons_or_none(ml.lqhei);
        lib.qo(m) = photons_or_none(ml.lqo);
        float* r = lib.righe.col(m);
        for (int k = 0; k < kHiiLines; ++k) r[k] = line_luminosity(ml.codes[static_cast<std::size_t>(k)]);
    }
}

void leggirighe(Run& run, const std::string& model) {
    run.con.line(fio::write_line("(A)", {"reading HII library " + model + ".dat ...."}));
    const TextFile f = TextFile::open(trim_right(run.modname.name_dir) + model + ".dat");
    load(run.modhii, f);
    run.con.line(fio::list_line({"OK!"}));
}

}  // namespace modhii

MetallicityBracket hii_bracket(float z) {
    // The grid metallicities of the library; each bracket is closed at the top.
    static constexpr float grid[] = {0.0008f, 0.004f, 0.008f, 0.015f, 0.02f, 0.03f, 0.04f, 0.05f};
    if (z <= grid[0]) return {0, grid[0], grid[0]};
    for (std::size_t k = 1; k < std::size(grid); ++k)
        if (z <= grid[k]) return {1, grid[k], grid[k - 1]};
    // Above the grid, and a metallicity that is not a number.
    return {0, grid[std::size(grid) - 1], grid[std::size(grid) - 1]};
}

void inpila(HiiLibrary& lib, const Console& con, float z) {
    lib.gridn_rid.clear();
    lib.qhi_rid.clear();
    lib.qx_rid.clear();
    lib.qhei_rid.clear();
    lib.qo_rid.clear();
    lib.righe_rid.clear();

    const MetallicityBracket b = hii_bracket(z);
    lib.diz = b.diz;
    lib.zup = b.zup;
    lib.zlow = b.zlow;
    con.line(fio::list_line({"Z_max=", z, "Z_up=", lib.zup, "Z_low=", lib.zlow}));

    auto at = [](float zm, float zg) { return std::fabs(zm - zg) / zg < 1e-5f; };
    std::vector<int> up, low;
    for (int m = 1; m <= lib.n_mod; ++m) {
        if (lib.diz == 1) {
            if (at(lib.zgas(m), lib.zup))
                up.push_back(m);
            else if (at(lib.zgas(m), lib.zlow))
                low.push_back(m);
        } else if (at(lib.zgas(m), lib.zup)) {
            up.push_back(m);
            low.push_back(m);
        }
    }
    lib.kk1 = static_cast<int>(up.size());
    lib.kk2 = static_cast<int>(low.size());
    if (lib.kk1 == 0 || lib.kk2 == 0)
        throw Stop(std::vector<std::string>{
            fio::list_line({"attenzione! Non trovo record relativi ad una"}),
            fio::list_line({"di queste metallicita':", lib.zup, lib.zlow})});

    const int nk = lib.kk1 + lib.kk2;
    lib.gridn_rid.resize(nk);
    lib.qhi_rid.resize(nk);
    lib.qx_rid.resize(nk);
    lib.qhei_rid.resize(nk);
    lib.qo_rid.resize(nk);
    lib.righe_rid.resize(kHiiLines, nk);
    int r = 0;
    for (const std::vector<int>* set : {&up, &low}) {
        for (int m : *set) {
            ++r;
            lib.gridn_rid(r) = lib.gridn(m);
            lib.qhi_rid(r) = lib.qhi(m);
            lib.qx_rid(r) = lib.qx(m);
            lib.qhei_rid(r) = lib.qhei(m);
            lib.qo_rid(r) = lib.qo(m);
            const float* src = lib.righe.col(m);
            float* dst = lib.righe_rid.col(r);
            for (int k = 0; k < kHiiLines; ++k) dst[k] = src[k];
        }
    }
}

}  // namespace qv
