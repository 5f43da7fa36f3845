#include "sfh_external/tav_history.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/console.h"
#include "core/run.h"
#include "core/stop.h"
#include "io/format.h"
#include "io/listread.h"
#include "io/textfile.h"
#include "numerics/search.h"
#include "sfh_external/history_files.h"
#include "sfh_external/tav_bursts.h"

namespace qv::tav {

namespace {

using sfh_external::content_lines;
using sfh_external::need_line;
using sfh_external::read_line_values;

struct TavNames {
    int igal = 0;
    std::string disk, bulge, bursts_disk, bursts_bulge;
};

// The galaxy's file names from the model name: its first three characters and
// the galaxy index that follows them.
TavNames tav_names(const std::string& model) {
    const std::string name = trim_right(model);
    const std::string p = name.substr(0, std::min<std::size_t>(3, name.size()));
    const std::string s = name.size() > 3 ? name.substr(3, 197) : std::string();
    TavNames n;
    const fio::ListResult r = fio::list_read_string(s, {&n.igal});
    if (r.status != fio::ReadStatus::Ok)
        throw Stop(fio::list_line({"ERROR: model name " + name +
                                   ": for the tav model its characters after the first three are the galaxy index,"
                                   " an integer. stop"}));
    n.disk = p + "_disk." + s;
    n.bulge = p + "_bulge." + s;
    n.bursts_disk = "bursts_disk." + s;
    n.bursts_bulge = "bursts_bulge." + s;
    return n;
}

// The row of a property table for galaxy igal: the ten values of the first
// row whose index matches. A row that cannot be read before it, or a missing
// or incomplete matching row, stops the run.
// The matching row's values must be finite numbers; line is set to its line.
std::array<float, 9> property_row(const std::string& file, int igal, long& line) {
    const TextFile f = TextFile::open(file);
    need_line(f, 1, "its two header lines");
    const std::string missing = "galaxy index missing in " + file;
    for (std::size_t i : content_lines(f, 2)) {
        int index = 0;
        std::array<float, 9> v{};
        const fio::ListResult r = fio::list_read_string(f.line(i), {&index, std::span<float>(v.data(), v.size())});
        if (r.status == fio::ReadStatus::Error) throw Stop(fio::list_line({missing}));
        if (r.status == fio::ReadStatus::End) throw Stop(fio::list_line({missing}));
        if (index != igal) continue;
        line = static_cast<long>(i) + 1;
        for (std::size_t k = 0; k < v.size(); ++k)
            if (!std::isfinite(v[k]))
                throw Stop(fio::list_line({"ERROR: " + file + " line " + std::to_string(line) + ": value " +
                                           std::to_string(k + 2) + " of galaxy", igal,
                                           "is not a finite number. stop"}));
        return v;
    }
    throw Stop(fio::list_line({missing}));
}

// The line of the burst whose interval holds time t, or of the quiescent row
// at or after it, for a message on a rate that is not finite there.
std::pair<std::string, long> rate_source(const std::array<const TavBurstList*, 2>& lists, float tfin, float t,
                                         const SfhTables& g, const std::string& disk,
                                         const std::vector<std::size_t>& disk_rows) {
    for (const TavBurstList* l : lists)
        for (const TavBurst& b : l->bursts) {
            const float tb = tfin - b.start();
            if (tb <= t && t <= tb + b.dur()) return {l->name, b.line};
        }
    std::size_t k = 0;
    while (k + 1 < disk_rows.size() && g.agesfqui(static_cast<int>(k) + 1) < t) ++k;
    return {disk, disk_rows.empty() ? 0L : static_cast<long>(disk_rows[k]) + 1};
}

// Formed stellar mass of each component: the trapezoid sums of the rates
// summed over bins, over the first n rows of the grid.
std::array<float, 2> formed_mass(const SfhTables& g, int n) {
    std::array<float, 2> m{};
    for (int c = 1; c <= 2; ++c)
        m[static_cast<std::size_t>(c - 1)] = sfh_external::trapezoid(g.agesf, n, [&](int k) {
            float s = 0.0f;
            for (int j = 1; j <= g.ntav; ++j) s += g.rsftav(k, j, c);
            return s;
        });
    return m;
}

bool same_time(float a, float b) { return std::fabs(a - b) <= 1e-4f * std::max({std::fabs(a), std::fabs(b), 1e-3f}); }

void allocate(SfhTables& g, int ncom) {
    try {
        g.ztav.resize(g.ntav);
        g.rsftav.resize(g.nzsmax + 1, g.ntav, ncom);
        g.flswei.resize(g.ntav, ncom);
        g.agesf.resize(g.nzsmax + 1);
        g.rsftavqui.resize(g.nzqui + 1, g.ntav, ncom);
        g.agesfqui.resize(g.nzqui + 1);
        if (g.n_bur > 0) {
            g.t_bur.resize(g.n_bur);
            g.t_end_bur.resize(g.n_bur);
        } else {
            g.t_bur.clear();
            g.t_end_bur.clear();
        }
    } catch (const std::bad_alloc&) {
        sfh_external::allocation_error("ALLOCATION ERROR in readtav_disk_bulge");
    } catch (const std::length_error&) {
        sfh_external::allocation_error("ALLOCATION ERROR in readtav_disk_bulge");
    }
}

// Reads the quiescent rows of one component's table into rsftav and
// rsftavqui; the disk table (c = 1) also gives the lookback times, which the
// bulge table (c = 2) must repeat.
void read_quiescent(SfhTables& g, const TextFile& f, const std::vector<std::size_t>& rows, int nzquiet, int c,
                    std::vector<float>& raw_t, const std::string& disk_name) {
    std::vector<float> rate(static_cast<std::size_t>(g.ntav));
    for (int k = 1; k <= nzquiet; ++k) {
        const std::size_t li = rows[static_cast<std::size_t>(k - 1)];
        float ign[4] = {};
        float t = 0.0f;
        read_line_values(f, li, {&ign[0], &ign[1], &t, &ign[2], &ign[3], std::span<float>(rate)});
        if (!std::isfinite(t)) throw_io_error(f.name(), static_cast<long>(li) + 1, "the lookback time is not finite");
        if (c == 1) {
            raw_t[static_cast<std::size_t>(k - 1)] = t;
            const float a = std::max(t, 0.0f);
            if (k > 1 && !(a < g.agesf(k - 1)))
                throw_io_error(f.name(), static_cast<long>(li) + 1,
                               "the lookback times must decrease from row to row (and stay above 0 but for the last)");
            g.agesf(k) = a;
            g.agesfqui(k) = a;
        } else if (!same_time(t, raw_t[static_cast<std::size_t>(k - 1)])) {
            throw Stop(fio::list_line({"ERROR: row ", k, " of " + f.name() + " is at lookback time ", t,
                                       " Gyr, not on the time of " + disk_name + " (", raw_t[static_cast<std::size_t>(k - 1)],
                                       " Gyr). stop"}));
        }
        for (int j = 1; j <= g.ntav; ++j) {
            g.rsftav(k, j, c) = rate[static_cast<std::size_t>(j - 1)];
            g.rsftavqui(k, j, c) = rate[static_cast<std::size_t>(j - 1)];
        }
    }
}

}  // namespace

std::vector<std::string> history_files(const std::string& model) {
    const TavNames n = tav_names(model);
    std::vector<std::string> files;
    for (const std::string* f : {&n.disk, &n.bulge, &n.bursts_disk, &n.bursts_bulge})
        if (file_exists(*f)) files.push_back(*f);
    return files;
}

float read_imf(const Console& con, const std::string& name) {
    if (!file_exists(name)) {
        const float ups = 1.0f;
        con.line(fio::list_line({"WARNING: file " + trim_right(name) + " not present"}));
        con.line(fio::list_line({"setting corresponding upsilon to", ups}));
        return ups;
    }
    const TextFile f = TextFile::open(name);
    // The last line that holds anything: a blank line at the end is none.
    int count = 0;
    std::size_t last = 0;
    for (std::size_t i = 0; i < f.line_count(); ++i) {
        const std::string_view l = f.line(i);
        if (l.find_first_not_of(" \t\r") == std::string_view::npos) continue;
        ++count;
        last = i;
    }
    con.line(fio::list_line({"number of lines in IMF file", count}));
    if (count == 0) throw Stop(fio::list_line({"ERROR: IMF file " + trim_right(name) + " holds no line. stop"}));
    const float ups = sfh_external::real_field(f, last, 9, 10, 3, "the IMF factor");
    con.line(fio::list_line({"upsilon=", ups, " in ", trim_right(name)}));
    if (!(ups > 0.0f))
        throw Stop(fio::list_line({"ERROR: the IMF factor upsilon=", ups, " in " + trim_right(name) +
                                                                            " must be positive. stop"}));
    return ups;
}

void read_history(Run& run, float& fgas, float& sfrt, float& zism) {
    SfhTables& g = run.glotauspe;
    const SspLibrary& lib = run.glotauspe;
    RunParameters& p = run.parametri;
    BirthGrid& r = run.remind;
    const Console& con = run.con;
    if (r.ncom != 2) throw std::logic_error("readtav_disk_bulge: the tav model needs two components (igeo -1)");
    if (!(g.littleh > 0.0f))
        throw Stop(fio::list_line({"ERROR: littleh=", g.littleh,
                                   ": the Hubble parameter h of the tav model must be positive. stop"}));
    const TavNames names = tav_names(run.modname.name);

    // 1. IMF normalisation of the quiescent and, for a mixed library, the burst tables.
    bool mixed = false;
    for (int i = 1; i < lib.ntab && i < static_cast<int>(lib.imf_flag.size()); ++i)
        mixed = mixed || lib.imf_flag[static_cast<std::size_t>(i)] != lib.imf_flag[0];
    const float ups_b = mixed ? read_imf(con, "imf_bursts.dat") : 0.0f;
    const float ups = read_imf(con, "imf.dat");

    // 2. Sizes: the bursts and quiescent rows the files hold.
    const TavBurstList bursts_disk = read_burst_list(con, names.bursts_disk);
    const TavBurstList bursts_bulge = read_burst_list(con, names.bursts_bulge);
    g.n_bur = static_cast<int>(bursts_disk.bursts.size() + bursts_bulge.bursts.size());
    const TextFile disk = TextFile::open(names.disk);
    need_line(disk, 7, "its eight header lines");
    const std::vector<std::size_t> disk_rows = content_lines(disk, 8);
    const int nzquiet = static_cast<int>(disk_rows.size());
    con.line(fio::list_line({"nzquiet= ", nzquiet}));
    if (nzquiet < 1) throw Stop(fio::list_line({"ERROR: the tav table " + names.disk + " holds no row. stop"}));
    g.nzqui = nzquiet;
    g.nzsmax = 22 * g.n_bur + nzquiet;

    // 3. Bins: the largest of the bin numbers in the first 200 columns of line 5.
    {
        const std::string_view l5 = need_line(disk, 4, "its line of bin numbers");
        const TextFile five = TextFile::from_string(disk.name(), std::string(l5.substr(0, std::min<std::size_t>(200, l5.size()))));
        int ntav = 0;
        for (int k = 0; k < 20; ++k)
            ntav = std::max(ntav, sfh_external::int_field(five, 0, static_cast<std::size_t>(6 + 14 * k), 14,
                                                          "a bin number on line 5"));
        con.line(fio::list_line({ntav}));
        if (ntav < 1 || ntav > 20)
            throw Stop(fio::list_line({"ERROR: the tav table " + names.disk + " numbers its bins up to ", ntav,
                                       "; there must be 1 to 20 bins. stop"}));
        g.ntav = ntav;
    }

    // 4. The tables, all 0.
    allocate(g, r.ncom);
    g.current_burst = false;

    // 5. Bin metallicities.
    for (int j = 1; j <= g.ntav; ++j)
        g.ztav(j) = sfh_external::real_field(disk, 5, static_cast<std::size_t>(6 + 14 * (j - 1)), 14, 4,
                                             "the metallicity of bin " + std::to_string(j));

    // 6. The quiescent rows of the disk, then of the bulge.
    std::vector<float> raw_t(static_cast<std::size_t>(nzquiet));
    read_quiescent(g, disk, disk_rows, nzquiet, 1, raw_t, names.disk);
    {
        const TextFile bulge = TextFile::open(names.bulge);
        need_line(bulge, 7, "its eight header lines");
        const std::vector<std::size_t> rows = content_lines(bulge, 8);
        if (static_cast<int>(rows.size()) < nzquiet)
            throw_io_error(bulge.name(), static_cast<long>(bulge.line_count()),
                           "the table holds " + std::to_string(rows.size()) + " rows, fewer than the " +
                               std::to_string(nzquiet) + " of " + names.disk);
        read_quiescent(g, bulge, rows, nzquiet, 2, raw_t, names.disk);
    }

    // 7. Time from the first tabulated epoch.
    g.f_tgal = p.tgal >= 0.0f ? 0.0f : -p.tgal;
    const float tfin = g.agesf(1);
    for (int i = 1; i <= g.agesf.extent(); ++i) g.agesf(i) = tfin - g.agesf(i);
    for (int i = 1; i <= g.agesfqui.extent(); ++i) g.agesfqui(i) = tfin - g.agesfqui(i);

    // 8. The galaxy's age: the end of the table, or f_tgal e-folding times
    // after the start of the last bulge burst.
    float tb_last = 0.0f;
    float tgal = tfin;
    if (g.f_tgal != 0.0f) {
        if (!bursts_bulge.bursts.empty()) {
            const TavBurst& b = bursts_bulge.bursts.back();
            tb_last = tfin - b.start();
            tgal = g.f_tgal * b.tau() + tb_last;
        } else {
            tb_last = tfin;
        }
    }
    p.tgal = tgal;
    if (!(tgal > g.agesf(1)))
        throw Stop(fio::list_line({"ERROR: tgal=", tgal, " Gyr is at or before the first time of the history in " +
                                                            names.disk + ", 0 Gyr. stop"}));

    // 9. The bursts.
    int n = nzquiet;
    const TavRefinement ref = refine_burst_grid(run, {&bursts_disk, &bursts_bulge}, tfin, tgal, n);

    // 10. No negative rates.
    for (float& v : g.rsftav.storage()) v = std::max(v, 0.0f);
    for (float& v : g.rsftavqui.storage()) v = std::max(v, 0.0f);
    // A burst's rate, or an interpolated one, that is not finite names its line.
    for (int c = 1; c <= r.ncom; ++c)
        for (int j = 1; j <= g.ntav; ++j)
            for (int k = 1; k <= n; ++k)
                if (!std::isfinite(g.rsftav(k, j, c))) {
                    const auto [file, line] =
                        rate_source({&bursts_disk, &bursts_bulge}, tfin, g.agesf(k), g, names.disk, disk_rows);
                    sfh_external::mass_not_finite(file, line, g.rsftav(k, j, c), "the star-formation rate");
                }

    // 11. The closing time step.
    {
        const float last = g.agesf(g.nzsmax);
        if (tgal <= last || g.istarfo != 4) {
            g.agesf(g.nzsmax + 1) = 1.001f * last;
            g.agesfqui(g.nzqui + 1) = 1.001f * g.agesfqui(g.nzqui);
        } else {
            const std::string l = fio::list_line({"tgal>last timestep!!!"});
            runlog_append(run, l);
            con.line(l);
            runlog_append(run, fio::list_line({"last timestep=", last}));
            g.agesf(g.nzsmax + 1) = tgal;
            g.agesfqui(g.nzqui + 1) = tgal;
        }
        // A quiescent grid of a single row at time 0 closes with the grid.
        if (!(g.agesfqui(g.nzqui + 1) > g.agesfqui(g.nzqui))) g.agesfqui(g.nzqui + 1) = g.agesf(g.nzsmax + 1);
        for (int c = 1; c <= r.ncom; ++c)
            for (int j = 1; j <= g.ntav; ++j) {
                g.rsftav(g.nzsmax + 1, j, c) = g.rsftav(g.nzsmax, j, c);
                g.rsftavqui(g.nzqui + 1, j, c) = g.rsftavqui(g.nzqui, j, c);
            }
        ++g.nzsmax;
        ++g.nzqui;
    }

    // The stars the history forms, when they give the masses, must be finite:
    // the rate with the largest share names its line.
    auto formed_finite = [&](const std::array<float, 2>& m) {
        if (std::isfinite(m[0] + m[1])) return;
        int kbig = 1;
        float big = -1.0f;
        for (int k = 1; k <= g.nzsmax; ++k)
            for (int c = 1; c <= r.ncom; ++c)
                for (int j = 1; j <= g.ntav; ++j)
                    if (g.rsftav(k, j, c) > big) {
                        big = g.rsftav(k, j, c);
                        kbig = k;
                    }
        const auto [file, line] =
            rate_source({&bursts_disk, &bursts_bulge}, tfin, g.agesf(kbig), g, names.disk, disk_rows);
        sfh_external::mass_not_finite(file, line, big, "the star-formation rate");
    };

    // 12. The galaxy's properties.
    long prop_line = 0, prop2_line = 0;
    const std::array<float, 9> pr = property_row("prop.dat", names.igal, prop_line);
    const float mdisk = pr[0], rd_prop = pr[2], mbulge = pr[3], rb_prop = pr[5];
    const float gas_prop = pr[6];
    zism = pr[7];
    sfrt = pr[8];
    if (zism == 0.0f && gas_prop == 0.0f) zism = 0.02f;
    if (mdisk + mbulge != 0.0f) {
        g.bsut = mbulge / (mdisk + mbulge);
    } else {
        // No masses in the table: the bulge's share of the stars the history forms.
        const std::array<float, 2> m = formed_mass(g, g.nzsmax);
        formed_finite(m);
        g.bsut = m[0] + m[1] > 0.0f ? m[1] / (m[0] + m[1]) : 0.0f;
    }
    const std::array<float, 9> pr2 = property_row("prop2.dat", names.igal, prop2_line);
    g.magbsut = pr2[1];

    // 13. Masses and radii: the galaxy's, or those of the burst under way.
    float gas = gas_prop, mstar = pr2[2], rd_h = rd_prop, rb_h = rb_prop;
    if (g.current_burst) {
        if (ref.gas > 0.0f) zism = ref.zgas / ref.gas;
        gas = ref.gas;
        const std::array<float, 2> m = formed_mass(g, g.nzsmax);
        formed_finite(m);
        mstar = m[0] + m[1];
        g.bsut = mstar > 0.0f ? m[1] / mstar : 0.0f;
        rd_h = g.beta * ref.last->radius();
        rb_h = ref.last->radius();
    }
    const float mass = mstar + gas;
    if (!std::isfinite(mass)) {
        // Inside a burst the gas is the bursts' own; otherwise both masses are the property tables'.
        std::string where = "prop.dat line " + std::to_string(prop_line) + " and prop2.dat line " +
                            std::to_string(prop2_line);
        if (g.current_burst && ref.last) {
            const bool disk = !bursts_disk.bursts.empty() && ref.last >= &bursts_disk.bursts.front() &&
                              ref.last <= &bursts_disk.bursts.back();
            where = (disk ? bursts_disk.name : bursts_bulge.name) + " line " + std::to_string(ref.last->line);
        }
        throw Stop(fio::list_line({"ERROR: " + where + ": the stellar mass", mstar, "and the gas mass", gas,
                                   "(h^-1 Msun) make the galaxy's mass not a finite number. stop"}));
    }
    if (!(mass > 0.0f))
        throw Stop(fio::list_line({"ERROR: galaxy ", names.igal, " of the tav model has no mass: stars ", mstar,
                                   " and gas ", gas, " (h^-1 Msun). stop"}));
    const float star_frac = mstar / mass;
    fgas = gas / mass;
    for (float& v : g.rsftav.storage()) v = v / mass;
    for (float& v : g.rsftavqui.storage()) v = v / mass;

    // 14. The IMF normalisation; inside a burst the quiescent part and the
    // burst's own part each take their own.
    if (mixed && g.n_bur >= 1) {
        int jq = 0;
        for (int k = 1; k <= g.nzsmax; ++k) {
            const float t = g.agesf(k);
            bool inside = false;
            for (int b = 1; b <= g.n_bur && !inside; ++b) inside = g.t_bur(b) < t && t < g.t_end_bur(b);
            for (int c = 1; c <= r.ncom; ++c)
                for (int j = 1; j <= g.ntav; ++j) {
                    float& v = g.rsftav(k, j, c);
                    if (!inside) {
                        v = v / ups;
                        continue;
                    }
                    float q = 0.0f, dq = 0.0f;
                    poinh(run.poinh_work, g.agesfqui.data(), g.rsftavqui.col(j, c), g.nzqui, 2, t, q, dq, jq);
                    q = std::max(q, 0.0f);
                    v = std::max(q / ups + (v - q) / ups_b, 0.0f);
                }
        }
    } else {
        for (int k = 1; k <= g.nzsmax; ++k)
            for (int c = 1; c <= r.ncom; ++c)
                for (int j = 1; j <= g.ntav; ++j) g.rsftav(k, j, c) = g.rsftav(k, j, c) / ups;
    }
    for (int k = 1; k <= g.nzqui; ++k)
        for (int c = 1; c <= r.ncom; ++c)
            for (int j = 1; j <= g.ntav; ++j) g.rsftavqui(k, j, c) = g.rsftavqui(k, j, c) / ups;

    // 15. The primordial mass in 1e12 Msun.
    r.primordial_mass = mass / g.littleh / 1e12f;

    // 16. The present rate: the last row before tgal (at tfin, the first at or after it).
    {
        int j = 0;
        for (int k = 1; k <= g.nzsmax; ++k)
            if (g.agesf(k) < tgal) ++j;
        if (tgal == tfin) j = std::min(j + 1, g.nzsmax);
        float s = 0.0f;
        for (int c = 1; c <= r.ncom; ++c)
            for (int jb = 1; jb <= g.ntav; ++jb) s += g.rsftav(j, jb, c);
        sfrt = s;
    }

    // 17. Radii in kpc.
    g.rdtav = rd_h / g.littleh * 1000.0f / 1.678f;
    g.rctav = rb_h / g.littleh * 1000.0f / 14.63f;

    // 18. The run log.
    runlog_append(run, {
                           fio::list_line({"tgal=", tgal}),
                           fio::list_line({"tfin=", tfin}),
                           fio::list_line({"t last burst=", tb_last}),
                           fio::list_line({"Galaxy  mass at tfin=", r.primordial_mass, " *10^12 Mo"}),
                           fio::list_line({"Star=", star_frac, " Gas=", fgas}),
                           fio::list_line({"zmet ISM=", zism}),
                           fio::list_line({"Bulge/tot in massa=", g.bsut}),
                           fio::list_line({"Bulge/tot in B    =", g.magbsut}),
                           fio::list_line({"rc=", g.rctav, " Kpc"}),
                           fio::list_line({"rd=", g.rdtav, " Kpc"}),
                       });

    // 19. istarfo 5 exports the history and ends the run.
    if (g.istarfo == 5) {
        write_history_exports(run);
        throw EndOfRun{};
    }
}

void write_history_exports(const Run& run) {
    const SfhTables& g = run.glotauspe;
    const std::string n = upto_blank(run.modname.name);
    const float f = run.remind.primordial_mass * 1000.0f;
    auto total = [&](int k, int c) {
        float s = 0.0f;
        for (int j = 1; j <= g.ntav; ++j) s += g.rsftav(k, j, c);
        return f * s;
    };
    std::string sft = "# age, SFR disk, SFR bulge\n";
    for (int k = 1; k <= g.nzsmax; ++k) sft += fio::write_line("(3G10.4)", {g.agesf(k), total(k, 1), total(k, 2)}) + "\n";

    auto bins = [&](int c, const char* head) {
        std::string s = std::string(head) + "\n";
        std::vector<fio::Item> z;
        for (int j = 1; j <= g.ntav; ++j) z.emplace_back(g.ztav(j));
        s += fio::write_line("(10X,20G10.3)", z) + "\n";
        for (int k = 1; k <= g.nzsmax; ++k) {
            std::vector<fio::Item> row;
            row.emplace_back(g.agesf(k));
            for (int j = 1; j <= g.ntav; ++j) row.emplace_back(f * g.rsftav(k, j, c));
            s += fio::write_line("(100G10.4)", row) + "\n";
        }
        return s;
    };
    const std::string sfd = bins(1, "#first line zbin, then age, SFR disk");
    const std::string sfb = bins(2, "#first line zbin, then age, SFR bulge");
    write_file_atomic(n + ".sft", sft);
    write_file_atomic(n + ".sfd", sfd);
    write_file_atomic(n + ".sfb", sfb);
}

}  // namespace qv::tav
