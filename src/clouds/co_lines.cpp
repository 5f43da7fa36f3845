#include "clouds/co_lines.h"

#include <array>
#include <cfloat>
#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "clouds/lvg_solver.h"
#include "core/parfile.h"
#include "core/run.h"
#include "core/stop.h"
#include "io/fields.h"
#include "io/format.h"
#include "io/textfile.h"
#include "numerics/search.h"

namespace qv {

namespace {

// The ten keys of the LVG section, in table order, with their fields.
constexpr int kLvgKeys = 10;
constexpr std::array<const char*, kLvgKeys> kLvgKeyNames = {"z_lvg",   "delt_tk", "inic_tk", "fini_tk",
                                                            "delt_vg", "inic_vg", "fini_vg", "delt_xo",
                                                            "inic_xo", "fini_xo"};

float* lvg_target(LvgGrid& p, int k) {
    float* t[kLvgKeys] = {&p.z_lvg,   &p.delt_tk, &p.inic_tk, &p.fini_tk, &p.delt_vg,
                          &p.inic_vg, &p.fini_vg, &p.delt_xo, &p.inic_xo, &p.fini_xo};
    return t[k];
}

constexpr const char* kNoLvg = "no LVG calculation";

// The grid axes must each give at least one value; a step of 0 gives none that
// can be counted.
void check_axis(const char* name, float first, float step, float last) {
    const std::string n(name);
    if (step == 0.0f)
        throw Stop(fio::list_line({"FATAL ERROR: the LVG step delt_" + n + " must not be 0"}));
    if (lvg_axis_count(first, step, last) < 1)
        throw Stop(fio::list_line({"FATAL ERROR: the LVG grid has no value from inic_" + n + " =", first,
                                   " to fini_" + n + " =", last, " by delt_" + n + " =", step}));
}

}  // namespace

int lvg_axis_count(float first, float step, float last) {
    const float q = (last - first) / step + 1.0f;
    // Compared before the conversion, so that no quotient can overflow it.
    if (!(q >= 1.0f)) return 0;
    if (!(q < 2147483520.0f)) return 2147483520;
    return static_cast<int>(q);
}

namespace {

// The most models the lvg file can number: its model counter has two columns.
constexpr int kMaxLvgModels = 99;
// The grains' temperatures in the dust solver lie in its search bracket, 0 to
// 1e4 K; the mean dust temperature of the clouds is therefore at most that.
constexpr double kMaxDustTemperature = 1e4;

[[noreturn]] void outside_domain(const std::string& key, float v, const std::string& why) {
    throw Stop(std::vector<std::string>{
        fio::list_line({"FATAL ERROR: LVG key " + key + " =", v, " is outside the domain of the LVG model"}),
        fio::list_line({why})});
}

// The values of the section for which the LVG model is defined (the domain of
// lvg_min_temperature and lvg_max_redshift): each grid axis of n_tk and n_xo
// values is checked at its first and last grid value, between which it is
// linear.
void check_domain(const LvgGrid& p, int n_tk, int n_xo) {
    const float last_tk = p.inic_tk + static_cast<float>(n_tk - 1) * p.delt_tk;
    const float last_xo = p.inic_xo + static_cast<float>(n_xo - 1) * p.delt_xo;

    // The kinetic temperatures are these multiples of the clouds' mean dust
    // temperature, itself at most kMaxDustTemperature: a multiple below
    // lvg_min_temperature() / kMaxDustTemperature gives a temperature below the
    // domain whatever the clouds.
    const double t_min = lvg_min_temperature();
    const float m_min = static_cast<float>(t_min / kMaxDustTemperature);
    const float m_max = static_cast<float>(static_cast<double>(FLT_MAX) / kMaxDustTemperature);
    const std::string tk_why = fio::list_line(
        {"the kinetic temperatures (multiples of the clouds' mean dust temperature, at most",
         static_cast<float>(kMaxDustTemperature), " K) must be at least", static_cast<float>(t_min),
         " K: every value from inic_tk to fini_tk must lie from", m_min, " to", m_max});
    for (const auto& [key, v] : {std::pair<const char*, float>{"inic_tk", p.inic_tk}, {"fini_tk", last_tk}})
        if (!(v >= m_min && v <= m_max)) outside_domain(key, key == std::string("inic_tk") ? v : p.fini_tk, tk_why);

    const float z_max = static_cast<float>(lvg_max_redshift());
    if (!(p.z_lvg <= z_max))
        outside_domain("z_lvg", p.z_lvg,
                       fio::list_line({"the background temperature 2.73 (1 + z_lvg) must leave the occupation "
                                       "number of the CO 1-0 line resolved: z_lvg must be at most",
                                       z_max}));

    // The abundance 10**log(X) is a 4-byte real of the grid.
    const float x_max = std::log10(FLT_MAX);
    for (const auto& [key, v] : {std::pair<const char*, float>{"inic_xo", p.inic_xo}, {"fini_xo", last_xo}})
        if (!std::isfinite(std::pow(10.0f, v)))
            outside_domain(key, key == std::string("inic_xo") ? v : p.fini_xo,
                           fio::list_line({"the CO/H2 abundance 10**log(X) must be a finite number: every value "
                                           "from inic_xo to fini_xo must be at most",
                                           x_max}));
}

}  // namespace

void read_lvg(Run& run, bool grid_can_run) {
    LvgGrid& p = run.lvgparam;
    const std::string par = par_file_name(run);
    TextFile f = open_par_file(run);
    if (!modname::search_key_in_file(f, "LVG")) {
        run.con.line(fio::list_line({"Key LVG not found in file ", par}));
        p.z_lvg = 0.0f;
        run.con.line(fio::list_line({kNoLvg}));
        return;
    }

    std::array<bool, kLvgKeys> seen{};
    // Keys whose last value was written without a decimal point (F10.6 reads
    // it with six implied decimals), for the message on a grid too large.
    std::array<bool, kLvgKeys> implied{};
    bool off = false;  // z_lvg given as 0: the section ends there
    read_keyed_section(
        f,
        [&](const std::string& key, std::string_view value) -> KeyLine {
            // The value field (F10.6) is converted as part of the line's read, whatever its key.
            const auto v = fio::read_real4_field(value, 6);
            if (!v)
                f.fail("the value field '" + std::string(value) + "' of key '" + key + "' is not a number");
            if (!std::isfinite(*v))
                throw Stop(fio::list_line({"FATAL ERROR: the value of key " + key + " in section LVG of file " +
                                               f.name() + ", line " + std::to_string(f.position()) +
                                               ", is not a finite number: " + trim_right(std::string(value))}));
            for (int k = 0; k < kLvgKeys; ++k) {
                if (key != kLvgKeyNames[k]) continue;
                *lvg_target(p, k) = *v;
                seen[k] = true;
                implied[k] = value.find('.') == std::string_view::npos;
                if (k == 0 && *v == 0.0f) {
                    off = true;
                    return KeyLine::End;
                }
                return KeyLine::Own;
            }
            return KeyLine::Other;
        },
        [&](const std::string& key) {
            run.con.line(fio::write_line("(' WARNING: unknown key in file ',A,': ',A)",
                                         {par, key_field(key)}));
            const std::string hint = fixed_column_hint(key);
            if (!hint.empty()) run.con.line(hint);
        });
    if (off) {
        p.z_lvg = 0.0f;
        run.con.line(fio::list_line({kNoLvg}));
        return;
    }

    // Every key must be given: a repeated key does not stand in for a missing one.
    int found = 0;
    std::string missing;
    for (int k = 0; k < kLvgKeys; ++k) {
        if (seen[k])
            ++found;
        else
            missing += std::string(" ") + kLvgKeyNames[k];
    }
    if (found < kLvgKeys)
        throw Stop(std::vector<std::string>{
            fio::write_line("(' FATAL ERROR: less keys than expected in file ',A,': found',I3,' expected',I3)",
                            {par, found, kLvgKeys}),
            fio::list_line({"missing keys in section LVG:" + missing})});

    // Checked here, before the clouds' solves, so that a bad grid stops the run
    // before the expensive work; a grid that will not run is not checked.
    if (p.z_lvg > 0.0f && grid_can_run) {
        check_axis("tk", p.inic_tk, p.delt_tk, p.fini_tk);
        check_axis("vg", p.inic_vg, p.delt_vg, p.fini_vg);
        check_axis("xo", p.inic_xo, p.delt_xo, p.fini_xo);
        const int n_tk = lvg_axis_count(p.inic_tk, p.delt_tk, p.fini_tk);
        const int n_vg = lvg_axis_count(p.inic_vg, p.delt_vg, p.fini_vg);
        const int n_xo = lvg_axis_count(p.inic_xo, p.delt_xo, p.fini_xo);
        // The column parameter and the line widths divide by the velocity.
        const float last_vg = p.inic_vg + static_cast<float>(n_vg - 1) * p.delt_vg;
        if (!(p.inic_vg > 0.0f) || !(last_vg > 0.0f))
            throw Stop(fio::list_line({"FATAL ERROR: the LVG velocity gradients must be >0, from", p.inic_vg,
                                       " to", last_vg}));
        check_domain(p, n_tk, n_xo);

        // The lvg file numbers its models in two columns.
        const double models = static_cast<double>(n_tk) * n_vg * n_xo;
        if (models > kMaxLvgModels) {
            std::vector<std::string> l;
            const std::string count = models < 1e18 ? std::to_string(static_cast<long long>(models))
                                                    : trim_right(fio::edit_e(models, 12, 5, 0, 1));
            l.push_back(fio::list_line({"FATAL ERROR: the LVG grid has " + count + " models (" +
                                        std::to_string(n_tk) + " x " + std::to_string(n_vg) + " x " +
                                        std::to_string(n_xo) + "), more than the " +
                                        std::to_string(kMaxLvgModels) + " that the lvg file can number"}));
            l.push_back(fio::list_line({"inic_tk=", p.inic_tk, "delt_tk=", p.delt_tk, "fini_tk=", p.fini_tk}));
            l.push_back(fio::list_line({"inic_vg=", p.inic_vg, "delt_vg=", p.delt_vg, "fini_vg=", p.fini_vg}));
            l.push_back(fio::list_line({"inic_xo=", p.inic_xo, "delt_xo=", p.delt_xo, "fini_xo=", p.fini_xo}));
            std::string nopoint;
            for (int k = 1; k < kLvgKeys; ++k)
                if (implied[k]) nopoint += std::string(" ") + kLvgKeyNames[k];
            if (!nopoint.empty())
                l.push_back(fio::list_line({"values written without a decimal point are read with six implied "
                                            "decimals (\"1\" is 0.000001):" + nopoint}));
            throw Stop(l);
        }
    }
}

float tmean_mc(const SolverState& g) {
    constexpr int nr = kSolverNr, nsp = kSolverNsp;
    // The species present at the outer radius; one that is absent there would
    // leave no radius to average over.
    std::array<bool, nsp + 1> present{};
    int npresent = 0;
    for (int s = 1; s <= nsp; ++s) {
        present[s] = g.tarr(nr, 1, s) != 0.0f;
        if (present[s]) ++npresent;
    }
    if (npresent == 0) return 0.0f;

    std::array<float, nr + 1> tm{};
    int rz = 0;
    for (int r = 1; r <= nr; ++r) {
        float sum = 0.0f;
        bool zero = false;
        for (int s = 1; s <= nsp; ++s) {
            if (!present[s]) continue;
            const float t = g.tarr(r, 1, s);
            if (t == 0.0f) zero = true;
            sum += t;
        }
        if (zero) {
            tm[r] = 0.0f;
            rz = r;
        } else {
            tm[r] = sum / static_cast<float>(npresent);
        }
    }
    const int m = nr - rz;
    if (m < 2) return tm[nr];  // one radius: its own mean

    std::array<float, nr> ya{}, yb{};
    for (int k = 0; k < m; ++k) {
        const int r = rz + 1 + k;
        const float u = 1e-20f * g.rarr(r);
        yb[static_cast<std::size_t>(k)] = u * u;
        ya[static_cast<std::size_t>(k)] = u * u * tm[r];
    }
    const float* x = g.rarr.ptr(rz + 1);
    const float a = nr_kelu::arrint(x, m, ya.data(), m);
    const float b = nr_kelu::arrint(x, m, yb.data(), m);
    return a / b;
}

namespace {

void default_lvgcalc(Run& run, double tk, double nh2, double v, double r, double z, const std::string& label,
                     double x) {
    lvgsubruti::lvgcalc(run.con, run.lvgdatos, run.lvgsubruti, tk, nh2, v, r, z, label, x);
}

// The records' layouts are (I2,3X,3(F7.3,3X),2(G15.4,2X),2(F15.6,2X)) and,
// for a failed model, the same with three blanks after each number; the F7.3
// fields go in as texts (A7), so that a value beyond them takes the exponent
// form of the same width instead of asterisks.
constexpr const char* kRecord = "(I2,3X,3(A7,3X),2(G15.4,2X),2(F15.6,2X))";
constexpr const char* kFailedRecord = "(I2,3X,3(A7,3X),2(G15.4,3X),2(F15.6,3X))";

std::string f73(double v) { return fio::edit_f_fit(v, 7, 3); }
std::string f73(float v) { return fio::edit_f_fit(v, 7, 3); }

}  // namespace

void lvgmain(Run& run) {
    const LvgGrid& p = run.lvgparam;
    if (!(p.z_lvg > 0.0f)) return;
    const CloudSetup& gp = run.glopalla;
    const CloudTypes& mc = run.mc_righe;
    Console& con = run.con;

    con.line(fio::list_line({p.delt_xo, p.inic_xo, p.fini_xo}));
    const int n_tk = lvg_axis_count(p.inic_tk, p.delt_tk, p.fini_tk);
    const int n_vg = lvg_axis_count(p.inic_vg, p.delt_vg, p.fini_vg);
    const int n_xo = lvg_axis_count(p.inic_xo, p.delt_xo, p.fini_xo);

    // The last cloud type's radius in pc; with rmsr0_flag its radius is a ratio,
    // and the solver's outer radius (cm) gives the size.
    const int nt = mc.n_tau_mc;
    const float r = gp.rmsr0_flag ? run.globals.rmax / 3.086e18f : mc.r_mc_arr(nt);
    if (!(r > 0.0f) || !std::isfinite(r)) {
        con.line(fio::list_line({"no LVG calculation: the clouds have no radius (no dust solve)"}));
        return;
    }
    const float tmean = tmean_mc(run.globals);
    if (!(tmean > 0.0f) || !std::isfinite(tmean)) {
        con.line(fio::list_line({"no LVG calculation: no dust temperature at the clouds' outer radius"}));
        return;
    }
    const float nh2 = 0.5f * 6.76158f * gp.mcloud / r / r / r;
    const float z = p.z_lvg;
    using Solver = std::function<void(Run&, double, double, double, double, double, const std::string&, double)>;
    const Solver solve = p.lvgcalc ? p.lvgcalc : Solver(default_lvgcalc);
    const std::string label = "12CO";
    const Vec<double>& nu = run.lvgdatos.m().nu;
    const double scale = static_cast<double>(r) * static_cast<double>(r) * static_cast<double>(gp.ncloud) *
                         static_cast<double>(mc.f_mc_arr(nt));

    std::string text;
    auto put = [&text](const std::string& rec) {
        text += rec;
        text += '\n';
    };
    // ('# NH21=  ',F15.3,/,'# R1=    ',F15.3,/,'# Ncloud=',F15.3), each value in
    // the exponent form of the same width when it does not fit.
    put("# NH21=  " + fio::edit_f_fit(nh2, 15, 3));
    put("# R1=    " + fio::edit_f_fit(r, 15, 3));
    put("# Ncloud=" + fio::edit_f_fit(gp.ncloud, 15, 3));
    put("#mol    TK     gradV    log(Xco)   nu[Hz]  lambda[mum] log(lum_max)[erg/s/Hz] log(lum)[erg/s]");

    int count = 0;
    std::vector<std::pair<int, double>> lines;  // transition, log L
    for (int i = 0; i < n_tk; ++i) {
        const float tk = (p.inic_tk + static_cast<float>(i) * p.delt_tk) * tmean;
        for (int j = 1; j <= n_vg; ++j) {
            const float v = (p.inic_vg + static_cast<float>(j - 1) * p.delt_vg) * r;
            for (int k = 0; k < n_xo; ++k) {
                const float logx = p.inic_xo + static_cast<float>(k) * p.delt_xo;
                const float x = std::pow(10.0f, logx);
                run.lvgdatos.k_control = 0;
                solve(run, static_cast<double>(tk), static_cast<double>(nh2), static_cast<double>(v),
                      static_cast<double>(r), static_cast<double>(z), label, static_cast<double>(x));
                const int kc = run.lvgdatos.k_control;
                const double tk_used = run.lvgdatos.tk;
                con.line(fio::list_line({"k_control qvmol =", kc}));
                ++count;

                // Luminosity of each line from all the clouds (log10, erg/s/Hz);
                // a line below 1e-30 (faint or inverted) is left out, and the
                // others keep their own transition numbers.
                lines.clear();
                if (kc != 7 && run.lvgsubruti.flu_quelvo) {
                    const std::vector<double>& flu = *run.lvgsubruti.flu_quelvo;
                    for (std::size_t jj = 0; jj < flu.size(); ++jj) {
                        const double l = flu[jj] * scale;
                        if (!(l >= 1e-30) || !std::isfinite(l)) continue;
                        lines.emplace_back(static_cast<int>(jj) + 1, std::log10(l) + 38.078003);
                    }
                }
                // A model without solution, or with no line to show, is one
                // failure record.
                if (lines.empty()) {
                    put(fio::write_line(kFailedRecord, {count, f73(tk_used), f73(v), f73(logx), nu(1), 3e14 / nu(1), -999.0,
                                                        -999.0}));
                }
                for (const auto& [jt, ll] : lines) {
                    const double f = nu(jt);
                    const double width = f * static_cast<double>(v) * 1e5 / 2.9979e10;
                    put(fio::write_line(kRecord, {count, f73(tk_used), f73(v), f73(logx), f, 3e14 / f, ll, std::log10(width) + ll}));
                }
                run.lvgsubruti.flu_quelvo.reset();
            }
        }
    }
    write_file_atomic(upto_blank(run.modname.name) + ".lvg", text);
    con.line(fio::list_line({"finlvg"}));
}

}  // namespace qv
