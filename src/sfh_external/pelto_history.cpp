#include "sfh_external/pelto_history.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/console.h"
#include "core/run.h"
#include "core/stop.h"
#include "io/format.h"
#include "io/textfile.h"
#include "numerics/search.h"
#include "sfh_external/history_files.h"

namespace qv::pelto {

namespace {

using sfh_external::content_lines;
using sfh_external::real_field;

constexpr const char* kFiles[2] = {"gasoline_disk.sf", "gasoline_bulge.sf"};

// One file of the model, as read.
struct PeltoFile {
    bool present = false;
    int n = 0;                     // rows
    int ntav = 0;                  // bins its header gives
    std::vector<float> time;       // yr
    std::vector<float> rate;       // (ntav per row), Msun/yr
    float max_rate = 0.0f;         // the largest rate and its line (1-based)
    long max_line = 0;
};

// Reads the header and the rows of one file, or finds it missing (no row).
PeltoFile read_file(Run& run, int c, float& rdisk, float& zdisk, float& rdiskg, float& zdiskg, float& rbulge,
                    float& gas, float& z) {
    PeltoFile pf;
    const std::string name = kFiles[c - 1];
    if (!file_exists(name)) {
        run.con.line(fio::list_line({"No file: ", name}));
        return pf;
    }
    const TextFile f = TextFile::open(name);
    const std::vector<std::size_t> rows = content_lines(f, 4);
    if (f.line_count() < 4 || rows.empty()) {
        run.con.line(fio::list_line({"No file: ", name}));
        return pf;
    }
    pf.present = true;
    pf.n = static_cast<int>(rows.size());
    run.parametri.ssp_mass = real_field(f, 1, 1, 7, 2, "the SSP mass");
    if (c == 1) {
        rdisk = real_field(f, 2, 8, 7, 2, "the disk scale length");
        zdisk = real_field(f, 2, 15, 7, 2, "the disk scale height");
        rdiskg = real_field(f, 2, 22, 7, 2, "the gas-disk scale length");
        zdiskg = real_field(f, 2, 29, 7, 2, "the gas-disk scale height");
        gas = real_field(f, 2, 36, 7, 2, "the gas mass");
        z = real_field(f, 2, 43, 7, 2, "the gas metallicity");
        pf.ntav = sfh_external::int_field(f, 2, 50, 7, "the number of bins");
    } else {
        rbulge = real_field(f, 2, 8, 7, 2, "the bulge radius");
        pf.ntav = sfh_external::int_field(f, 2, 15, 7, "the number of bins");
    }
    if (pf.ntav < 1 || pf.ntav > 11)
        throw Stop(fio::list_line({"ERROR: " + name + " gives ntav=", pf.ntav,
                                   "; the pelto model has 1 to 11 metallicity bins. stop"}));
    pf.time.resize(static_cast<std::size_t>(pf.n));
    pf.rate.resize(static_cast<std::size_t>(pf.n) * static_cast<std::size_t>(pf.ntav));
    for (int k = 0; k < pf.n; ++k) {
        const std::size_t li = rows[static_cast<std::size_t>(k)];
        sfh_external::read_line_values(
            f, li,
            {&pf.time[static_cast<std::size_t>(k)],
             std::span<float>(pf.rate.data() + static_cast<std::size_t>(k) * static_cast<std::size_t>(pf.ntav),
                              static_cast<std::size_t>(pf.ntav))});
        if (k > 0 && !(pf.time[static_cast<std::size_t>(k)] > pf.time[static_cast<std::size_t>(k - 1)]))
            throw_io_error(name, static_cast<long>(li) + 1, "the times must increase from row to row");
        for (int j = 1; j <= pf.ntav; ++j) {
            const float v = pf.rate[static_cast<std::size_t>(k) * static_cast<std::size_t>(pf.ntav) +
                                    static_cast<std::size_t>(j - 1)];
            sfh_external::check_rate(f, li, v, "the rate of bin " + std::to_string(j));
            if (v > pf.max_rate) {
                pf.max_rate = v;
                pf.max_line = static_cast<long>(li) + 1;
            }
        }
    }
    return pf;
}

// Times that no longer differ once in Gyr are one time step (the first row
// of them is kept): the grid ascends strictly. Returns the number of steps.
int merge_equal_times(SfhTables& g, int ncom) {
    const int n = g.nzsmax;
    std::vector<int> keep{1};
    for (int i = 2; i <= n; ++i)
        if (g.agesf(i) > g.agesf(keep.back())) keep.push_back(i);
    const int m = static_cast<int>(keep.size());
    if (m == n) return n;
    Vec<float> t(m);
    FArray<float, 3> rates(m, g.ntav, ncom);
    for (int k = 1; k <= m; ++k) {
        const int i = keep[static_cast<std::size_t>(k - 1)];
        t(k) = g.agesf(i);
        for (int c = 1; c <= ncom; ++c)
            for (int j = 1; j <= g.ntav; ++j) rates(k, j, c) = g.rsftav(i, j, c);
    }
    g.agesf = std::move(t);
    g.rsftav = std::move(rates);
    g.nzsmax = m;
    return m;
}

}  // namespace

std::vector<std::string> history_files() {
    std::vector<std::string> files;
    for (const char* f : kFiles)
        if (file_exists(f)) files.emplace_back(f);
    return files;
}

void read_history(Run& run, float& fgas, float& sfrt, float& zism) {
    SfhTables& g = run.glotauspe;
    RunParameters& p = run.parametri;
    BirthGrid& r = run.remind;
    const int ncom = r.ncom;

    // 1-2. Headers and rows of both files.
    fgas = 0.0f;
    zism = 0.0f;
    float rdisk = 0.0f, zdisk = 0.0f, rdiskg = 0.0f, zdiskg = 0.0f, rbulge = 0.0f;
    PeltoFile files[2];
    for (int c = 1; c <= 2; ++c) files[c - 1] = read_file(run, c, rdisk, zdisk, rdiskg, zdiskg, rbulge, fgas, zism);
    if (!files[0].present && !files[1].present)
        throw Stop(fio::list_line({"ERROR: no pelto history: neither ", kFiles[0], " nor ", kFiles[1],
                                   " holds a row. stop"}));
    if (files[0].present && files[1].present && files[0].ntav != files[1].ntav)
        throw Stop(fio::list_line({"ERROR: the headers of ", kFiles[0], " and ", kFiles[1],
                                   " give different numbers of bins, ntav=", files[0].ntav, files[1].ntav, ". stop"}));

    // 3-5. Bins and the merged time grid; a time that both files hold once.
    const int ntav = files[1].present ? files[1].ntav : files[0].ntav;
    std::vector<float> times;
    for (int c = 2; c >= 1; --c) times.insert(times.end(), files[c - 1].time.begin(), files[c - 1].time.end());
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    int n = static_cast<int>(times.size());
    try {
        g.ntav = ntav;
        g.ztav.resize(ntav);
        for (int j = 1; j <= ntav; ++j) g.ztav(j) = zgrid[j - 1];
        g.nzsmax = n;
        g.rsftav.resize(n, ntav, ncom);
        g.flswei.resize(ntav, ncom);
        g.agesf.resize(n);
    } catch (const std::bad_alloc&) {
        sfh_external::allocation_error("ALLOCATION ERROR in read_pelto");
    } catch (const std::length_error&) {
        sfh_external::allocation_error("ALLOCATION ERROR in read_pelto");
    }
    for (int i = 1; i <= n; ++i) g.agesf(i) = times[static_cast<std::size_t>(i - 1)];

    // 6. Rates on the grid: 0 outside a file's own span, linear inside it. With
    // one component the bulge's rates join the disk's.
    for (int c = 1; c <= 2; ++c) {
        const PeltoFile& pf = files[c - 1];
        if (!pf.present) continue;
        const int cc = std::min(c, ncom);
        std::vector<float> col(static_cast<std::size_t>(pf.n));
        for (int j = 1; j <= ntav; ++j) {
            for (int k = 0; k < pf.n; ++k)
                col[static_cast<std::size_t>(k)] =
                    pf.rate[static_cast<std::size_t>(k) * static_cast<std::size_t>(ntav) + static_cast<std::size_t>(j - 1)];
            int guess = 0;
            for (int i = 1; i <= n; ++i) {
                const float t = g.agesf(i);
                if (t < pf.time.front() || t > pf.time.back()) continue;
                const float v = pf.n == 1 ? col[0] : nr_kelu::liin(run.nr_kelu, pf.time.data(), pf.n, col.data(), t, &guess);
                g.rsftav(i, j, cc) += v;
            }
        }
    }

    // 7. Gyr from the first time, rates per Gyr.
    for (int i = 1; i <= n; ++i) g.agesf(i) = g.agesf(i) / 1e9f;
    const float t0 = g.agesf(1);
    for (int i = 1; i <= n; ++i) g.agesf(i) = g.agesf(i) - t0;
    n = merge_equal_times(g, ncom);
    p.tgal = g.agesf(n);
    for (float& v : g.rsftav.storage()) v = v * 1e9f;

    // 8. Stellar mass formed and the primordial mass.
    if (zism == 0.0f && fgas == 0.0f) zism = 0.02f;
    const float mstar = sfh_external::trapezoid(g.agesf, n, [&](int i) {
        float s = 0.0f;
        for (int c = 1; c <= ncom; ++c)
            for (int j = 1; j <= ntav; ++j) s += g.rsftav(i, j, c);
        return s;
    });
    // Rates in Msun per Gyr and the mass they form must stay finite.
    bool finite = std::isfinite(mstar);
    for (float v : g.rsftav.storage()) finite = finite && std::isfinite(v);
    if (!finite) {
        const PeltoFile& big = files[0].max_rate >= files[1].max_rate ? files[0] : files[1];
        sfh_external::mass_not_finite(&big == &files[0] ? kFiles[0] : kFiles[1], big.max_line, big.max_rate,
                                      "the star-formation rate");
    }
    const float mass = fgas + mstar;
    if (!std::isfinite(mass))
        throw Stop(fio::list_line({"ERROR: " + std::string(kFiles[0]) + " line 3: the gas mass", fgas,
                                   "Msun and the stars formed", mstar,
                                   "Msun make the galaxy's mass not a finite number. stop"}));
    if (!(mass > 0.0f))
        throw Stop(fio::list_line({"ERROR: the pelto galaxy has no mass: gas ", fgas, " and stars formed ", mstar,
                                   " Msun. stop"}));
    const float star_frac = mstar / mass;
    fgas = fgas / mass;
    for (float& v : g.rsftav.storage()) v = v / mass;

    // 9. Geometry, primordial mass, present rate.
    p.rdstar = rdisk;
    p.zdstar = zdisk;
    p.rddiff = rdiskg;
    p.zddiff = zdiskg;
    r.primordial_mass = mass / 1e12f;
    {
        float s = 0.0f;
        for (int c = 1; c <= ncom; ++c)
            for (int j = 1; j <= ntav; ++j) s += g.rsftav(n, j, c);
        sfrt = s;
    }
    p.rcstar = rbulge / 14.63f;

    // 10. The run log.
    runlog_append(run, {
                           fio::list_line({"tgal=", p.tgal}),
                           fio::list_line({"Galaxy  mass at tfin=", r.primordial_mass, " *10^12 Mo"}),
                           fio::list_line({"Star=", star_frac, " Gas=", fgas}),
                           fio::list_line({"zmet ISM=", zism}),
                           fio::list_line({"rcstar=", p.rcstar, " Kpc"}),
                           fio::list_line({"rdstar=", p.rdstar, " Kpc"}),
                           fio::list_line({"rddiff=", p.rddiff, " Kpc"}),
                           fio::list_line({"zdstar=", p.zdstar, " Kpc"}),
                           fio::list_line({"zddiff=", p.zddiff, " Kpc"}),
                       });

    // 11. Radii that one of the files could not give.
    if (rbulge == 0.0f) {
        p.rcdiff = p.rdstar / 10.0f;
        p.rcstar = p.rcdiff;
    } else if (rdisk == 0.0f) {
        p.rdstar = 10.0f * p.rcstar;
        p.zdstar = p.rcstar;
        p.zddiff = p.rcstar;
        p.rddiff = p.rdstar;
    }
    sfh_external::check_geometry(run, "pelto");
}

}  // namespace qv::pelto
