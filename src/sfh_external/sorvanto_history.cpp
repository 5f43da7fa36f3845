#include "sfh_external/sorvanto_history.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/console.h"
#include "core/parfile.h"
#include "core/run.h"
#include "core/stop.h"
#include "io/format.h"
#include "io/textfile.h"
#include "sfh_external/history_files.h"

namespace qv::sorvanto {

namespace {

constexpr const char* kFiles[2] = {"QVmodl.disc.sf", "QVmodl.bulg.sf"};

// What one file gives: its header and the last row's values.
struct Component {
    bool present = false;
    float head[5] = {};  // line 2
    float mt = 0.0f, star = 0.0f, gas = 0.0f, sfr = 0.0f, zeta = 0.0f;  // last row
    std::vector<long> lines;  // the line (1-based) of each row
};

// The rows of one file, after its header lines (which must hold lines 1 and 2).
std::vector<std::size_t> data_rows(TextFile& f) {
    f.rewind();
    const int nhead = skip_lines_in_file(f, "#%!");
    if (nhead < 2)
        throw_io_error(f.name(), nhead + 1, "lines 1 and 2 must be header lines beginning with #, % or !");
    return sfh_external::content_lines(f, f.position());
}

// Reads the file of component c: header line 2, then its rows into agesf
// (only for the first file read), rsf, zeta, gas and stars.
void read_file(Run& run, TextFile& f, int c, bool first, Component& comp) {
    SfhTables& g = run.glotauspe;
    const int nhead = c == 1 ? 5 : 3;
    for (int k = 0; k < nhead; ++k) comp.head[k] = sfh_external::real_field(f, 1, static_cast<std::size_t>(1 + 14 * k), 14, 5, "a header value of line 2");
    const std::vector<std::size_t> rows = data_rows(f);
    const int n = static_cast<int>(rows.size());
    if (first) {
        if (n < 1) throw Stop(fio::list_line({"ERROR: " + f.name() + " holds no row. stop"}));
        try {
            g.nzsmax = n;
            g.agesf.resize(n);
            g.gas.resize(n);
            g.zeta.resize(n);
            g.rsf.resize(n);
            g.stars.resize(n);
            g.zeta_arr.resize(n, run.remind.ncom);
            g.ztav.resize(1);
            g.rsftav.resize(n, 1, run.remind.ncom);
            g.flswei.resize(1, run.remind.ncom);
        } catch (const std::bad_alloc&) {
            sfh_external::allocation_error("ALLOCATION ERROR in read_sorvanto");
        } catch (const std::length_error&) {
            sfh_external::allocation_error("ALLOCATION ERROR in read_sorvanto");
        }
    } else if (n != g.nzsmax) {
        throw Stop(fio::list_line({"ERROR: " + f.name() + " holds ", n, " rows, " + std::string(kFiles[0]) + " ",
                                   g.nzsmax, ": the bulge must be on the disc's times. stop"}));
    }
    float total = 0.0f;
    for (int k = 1; k <= n; ++k) {
        const std::size_t li = rows[static_cast<std::size_t>(k - 1)];
        float index = 0.0f, t = 0.0f;
        sfh_external::read_line_values(f, li, {&index, &t, &g.rsf(k), &g.zeta(k), &g.gas(k), &g.stars(k), &total});
        sfh_external::check_rate(f, li, g.rsf(k), "the star-formation rate");
        comp.lines.push_back(static_cast<long>(li) + 1);
        const float ty = t / 1e9f;
        if (first) {
            g.agesf(k) = ty;
            if (k > 1 && !(g.agesf(k) > g.agesf(k - 1)))
                throw_io_error(f.name(), static_cast<long>(li) + 1, "the times must increase from row to row");
        } else if (!(std::fabs(ty - g.agesf(k)) <= 1e-5f * std::max(std::fabs(ty), std::fabs(g.agesf(k))) + 1e-6f * std::fabs(g.agesf(n)))) {
            throw Stop(fio::list_line({"ERROR: row ", k, " of " + f.name() + " is at time ", t,
                                       " yr, not on the time of " + std::string(kFiles[0]) + " (", g.agesf(k) * 1e9f,
                                       " yr). stop"}));
        }
    }
    comp.present = true;
    comp.mt = total;
    comp.star = g.stars(n);
    comp.gas = g.gas(n);
    comp.sfr = g.rsf(n);
    comp.zeta = g.zeta(n);
}

}  // namespace

std::vector<std::string> history_files() {
    std::vector<std::string> files;
    for (const char* f : kFiles)
        if (file_exists(f)) files.emplace_back(f);
    return files;
}

void read_history(Run& run, float& ssp_mass, float& fgas, float& sfrt, float& zism) {
    SfhTables& g = run.glotauspe;
    RunParameters& p = run.parametri;
    BirthGrid& r = run.remind;
    const int ncom = r.ncom;
    Component comp[2];
    std::vector<float> disc_rsf, disc_zeta;  // the disc's columns, for one component of both

    // 1-5. The disc file, then the bulge file.
    g.ntav = 1;
    bool allocated = false;
    for (int c = 1; c <= 2; ++c) {
        const std::string name = kFiles[c - 1];
        if (!file_exists(name)) {
            run.con.line(fio::list_line({"manca il file ", name}));
            run.con.line(fio::list_line({c == 1 ? "no disk, only bulge" : "no bulge, only disk"}));
            continue;
        }
        TextFile f = TextFile::open(name);
        read_file(run, f, c, !allocated, comp[c - 1]);
        if (!allocated) {
            g.ztav(1) = 0.0f;
            p.tgal = g.agesf(g.nzsmax);
        }
        allocated = true;
        ssp_mass = comp[c - 1].head[0];
        const int n = g.nzsmax;
        const bool join = c == 2 && ncom == 1 && comp[0].present;
        for (int k = 1; k <= n; ++k) {
            if (join) {
                // One component of both: the rates add up, the metallicity is
                // weighted by them (the disc's when neither forms stars).
                const float rd = disc_rsf[static_cast<std::size_t>(k - 1)], rb = g.rsf(k);
                const float zd = disc_zeta[static_cast<std::size_t>(k - 1)], zb = g.zeta(k);
                g.rsftav(k, 1, 1) = rd + rb;
                g.zeta_arr(k, 1) = rd + rb != 0.0f ? (rd * zd + rb * zb) / (rd + rb) : zd;
            } else {
                const int cc = std::min(c, ncom);
                g.rsftav(k, 1, cc) = g.rsf(k);
                g.zeta_arr(k, cc) = g.zeta(k);
            }
        }
        if (c == 1) {
            disc_rsf.assign(g.rsf.data(), g.rsf.data() + n);
            disc_zeta.assign(g.zeta.data(), g.zeta.data() + n);
        }
    }
    if (!allocated)
        throw Stop(fio::list_line({"ERROR: no sorvanto history: neither ", kFiles[0], " nor ", kFiles[1],
                                   " is present. stop"}));
    const Component& d = comp[0];
    const Component& b = comp[1];

    // 6. Normalisation by the galaxy's total mass at the last time step.
    const float mass = d.mt + b.mt;
    if (!std::isfinite(mass))
        throw Stop(fio::list_line({"ERROR: " + std::string(kFiles[0]) + " line", d.lines.empty() ? 0L : d.lines.back(),
                                   "and " + std::string(kFiles[1]) + " line", b.lines.empty() ? 0L : b.lines.back(),
                                   ": the total masses", d.mt, b.mt,
                                   "Msun make the galaxy's mass not a finite number. stop"}));
    if (!(mass > 0.0f))
        throw Stop(fio::list_line({"ERROR: the sorvanto galaxy has no mass at its last time step: total mass ", mass,
                                   " Msun. stop"}));
    const float star_frac = (b.star + d.star) / mass;
    const float gas = d.gas + b.gas;
    if (gas <= 0.0f) {
        p.fmdifbul = 0.0f;
        run.glopalla.mmolfraz = -1.0f;
    } else {
        p.fmdifbul = b.gas / gas;
    }
    if (ncom == 1) p.fmdifbul = 0.0f;
    fgas = gas / mass;
    for (float& v : g.rsftav.storage()) v = v * 1e9f / mass;
    sfrt = (d.sfr + b.sfr) * 1e9f / mass;
    // Rates so large that they are not finite in Msun per Gyr name their row.
    for (int c = 1; c <= ncom; ++c)
        for (int k = 1; k <= g.nzsmax; ++k)
            if (!std::isfinite(g.rsftav(k, 1, c))) {
                const Component& f = comp[c - 1].present ? comp[c - 1] : comp[2 - c];
                const std::size_t u = static_cast<std::size_t>(k - 1);
                const bool disc = &f == &comp[0];
                const float raw = disc ? (u < disc_rsf.size() ? disc_rsf[u] : 0.0f) : g.rsf(k);
                sfh_external::mass_not_finite(disc ? kFiles[0] : kFiles[1], u < f.lines.size() ? f.lines[u] : 0, raw,
                                              "the star-formation rate");
            }
    if (!std::isfinite(sfrt))
        sfh_external::mass_not_finite(kFiles[0], d.lines.empty() ? 0 : d.lines.back(), d.sfr,
                                      "the last rates, with those of " + std::string(kFiles[1]) + ",");
    if (sfrt > 0.001f)
        zism = (d.sfr * d.zeta + b.sfr * b.zeta) / (d.sfr + b.sfr);
    else if (d.star + b.star != 0.0f)
        zism = (b.zeta * b.star + d.zeta * d.star) / (d.star + b.star);
    else if (gas > 0.0f)
        zism = (b.zeta * b.gas + d.zeta * d.gas) / gas;  // no stars either: the gas decides
    else
        zism = d.present ? d.zeta : b.zeta;
    r.primordial_mass = mass / 1e12f;

    // 7. The run log, and the geometry of the files that were read.
    std::vector<std::string> lines = {
        fio::list_line({"tgal=", p.tgal}),
        fio::list_line({"Galaxy  mass at tgal=", r.primordial_mass, " *10^12 Mo"}),
        fio::list_line({"frac Star tot=", star_frac, " frac Gas tot=", fgas}),
        fio::list_line({"Star disk=", d.star, " Star bulge=", b.star, " Mo"}),
        fio::list_line({"Gas disk=", d.gas, " Gas bulge=", b.gas, " Mo"}),
        fio::list_line({"f Mdif bulge=", p.fmdifbul}),
        fio::list_line({"zmet ISM=", zism}),
        fio::list_line({"SFR tot a Tgal=", sfrt * r.primordial_mass * 1000.0f, " Mo/yr"}),
        fio::list_line({"SFR disk e bulge=", d.sfr, b.sfr, " Mo/yr"}),
    };
    if (b.present) {
        p.rcstar = b.head[1];
        p.rcdiff = b.head[2];
        lines.push_back(fio::list_line({"rcstar,rcdiff= ", p.rcstar, p.rcdiff, " Kpc"}));
    }
    if (d.present) {
        p.rdstar = d.head[1];
        p.rddiff = d.head[2];
        // The header's heights are not used: a tenth of the scale length.
        p.zdstar = p.rdstar / 10.0f;
        p.zddiff = p.rdstar / 10.0f;
        lines.push_back(fio::list_line({"rdstar,rddiff= ", p.rdstar, p.rddiff, " Kpc"}));
        lines.push_back(fio::list_line({"zdstar,zddiff= ", p.zdstar, p.zddiff, " Kpc"}));
    }
    runlog_append(run, lines);

    // 8. Radii that a missing file could not give.
    if (p.rcstar == 0.0f) {
        p.rcdiff = p.rdstar / 10.0f;
        p.rcstar = p.rcdiff;
    } else if (p.rdstar == 0.0f) {
        p.rdstar = 10.0f * p.rcstar;
        p.zdstar = p.rcstar;
        p.zddiff = p.rcstar;
        p.rddiff = p.rdstar;
    }
    sfh_external::check_geometry(run, "sorvanto");
}

}  // namespace qv::sorvanto
