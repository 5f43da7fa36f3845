#include "sfh_external/tav_bursts.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <span>
#include <vector>

#include "core/console.h"
#include "core/run.h"
#include "core/stop.h"
#include "io/format.h"
#include "io/listread.h"
#include "io/textfile.h"
#include "numerics/search.h"
#include "sfh_external/history_files.h"

namespace qv::tav {

namespace {

[[noreturn]] void bad_burst(const TavBurstList& list, const TavBurst& b, const std::string& what) {
    throw Stop(fio::list_line({"ERROR: the burst on line " + std::to_string(b.line) + " of " + list.name + " " + what +
                               ". stop"}));
}

void check_burst(const TavBurstList& list, const TavBurst& b) {
    for (float v : b.c)
        if (!std::isfinite(v)) bad_burst(list, b, "holds a value that is not a finite number");
    if (!(b.tau() > 0.0f)) bad_burst(list, b, "has a non-positive e-folding time (column 5)");
    if (!(b.dur() > 0.0f)) bad_burst(list, b, "has a non-positive duration (column 6)");
    if (!(b.divisor() > 0.0f)) bad_burst(list, b, "has a non-positive divisor of its rate (column 9)");
}

}  // namespace

TavBurstList read_burst_list(const Console& con, const std::string& path) {
    TavBurstList list;
    list.name = path;
    if (!file_exists(path)) return list;
    list.exists = true;
    const TextFile f = TextFile::open(path);
    if (f.line_count() < 3) throw_io_error(path, static_cast<long>(f.line_count()), "a burst list begins with 3 header lines");
    for (std::size_t i : sfh_external::content_lines(f, 3)) {
        TavBurst b;
        b.line = static_cast<long>(i) + 1;
        const fio::ListResult r = fio::list_read_string(f.line(i), {std::span<float>(b.c.data(), b.c.size())});
        if (r.status != fio::ReadStatus::Ok) {
            con.line(fio::list_line({"WARNING: burst list " + path + " ends at line " + std::to_string(b.line) +
                                     ": it does not hold the ten numbers of a burst"}));
            break;
        }
        check_burst(list, b);
        list.bursts.push_back(b);
    }
    return list;
}

void piksr2gl(int n, int m1, int m2, float* arr, FArray<float, 3>& brr) {
    if (n < 2) return;
    std::vector<float> w(static_cast<std::size_t>(m1) * static_cast<std::size_t>(m2));
    for (int j = 2; j <= n; ++j) {
        const float a = arr[j - 1];
        for (int m = 1; m <= m2; ++m)
            for (int l = 1; l <= m1; ++l) w[static_cast<std::size_t>((m - 1) * m1 + (l - 1))] = brr(j, l, m);
        int i = j - 1;
        while (i >= 1 && arr[i - 1] > a) {
            arr[i] = arr[i - 1];
            for (int m = 1; m <= m2; ++m)
                for (int l = 1; l <= m1; ++l) brr(i + 1, l, m) = brr(i, l, m);
            --i;
        }
        arr[i] = a;
        for (int m = 1; m <= m2; ++m)
            for (int l = 1; l <= m1; ++l) brr(i + 1, l, m) = w[static_cast<std::size_t>((m - 1) * m1 + (l - 1))];
    }
}

TavRefinement refine_burst_grid(Run& run, const std::array<const TavBurstList*, 2>& lists, float tfin,
                                float tgal, int& n) {
    SfhTables& g = run.glotauspe;
    const int ncom = run.remind.ncom;
    const int ntav = g.ntav;
    const int cap = g.agesf.extent();
    const int capq = g.agesfqui.extent();
    TavRefinement out;

    std::array<float, 20> tburst{};
    FArray<float, 3> sfq(20, ntav, ncom);
    Mat<float> sfq1(ntav, ncom), sfq2(ntav, ncom);
    int ib = 0;
    int jz = 0;  // guess of the metallicity search, carried from burst to burst

    auto at = [&](const float* ya, float x) {
        float y = 0.0f, dy = 0.0f;
        int jlo = 0;
        poinh(run.poinh_work, g.agesf.data(), ya, n, 2, x, y, dy, jlo);
        return y;
    };

    for (int c = 1; c <= ncom && c <= 2; ++c) {
        const TavBurstList& list = *lists[static_cast<std::size_t>(c - 1)];
        for (const TavBurst& b : list.bursts) {
            if (n + 22 > cap) throw std::logic_error("tav burst refinement: no room for the burst's rows");
            // 1. The burst's times and its 20 samples, the last exactly at its end.
            const float dur = b.dur();
            const float tb = tfin - b.start();
            const float tend = tb + dur;
            const float x1 = tb - 0.005f * dur;
            const float x22 = 1.005f * dur + tb;
            ++ib;
            g.t_bur(ib) = tb;
            g.t_end_bur(ib) = tend;
            tburst[0] = tb;
            for (int k = 1; k <= 18; ++k) tburst[static_cast<std::size_t>(k)] = tb + static_cast<float>(k) * dur / 19.0f;
            tburst[19] = tend;

            // 2. A burst under way at tgal: component 1 becomes the burst's own.
            if (tb <= tgal && tgal <= tend) {
                g.current_burst = true;
                for (int j = 1; j <= ntav; ++j) {
                    for (int i = 1; i <= cap; ++i) {
                        g.rsftav(i, j, 2) += g.rsftav(i, j, 1);
                        g.rsftav(i, j, 1) = 0.0f;
                    }
                    for (int i = 1; i <= capq; ++i) {
                        g.rsftavqui(i, j, 2) += g.rsftavqui(i, j, 1);
                        g.rsftavqui(i, j, 1) = 0.0f;
                    }
                }
                const float x = (tgal - tb) / b.tau();
                const float gm = b.mass() * std::exp(-x);
                out.gas += gm;
                out.zgas += (b.z0() + b.dz() * x) * gm;
            }

            // 3. The table's rates around and inside the burst.
            for (int c2 = 1; c2 <= ncom; ++c2)
                for (int j = 1; j <= ntav; ++j) {
                    const float* col = g.rsftav.col(j, c2);
                    sfq1(j, c2) = at(col, x1);
                    sfq2(j, c2) = at(col, x22);
                    for (int k = 1; k <= 20; ++k) {
                        const float v = at(col, tburst[static_cast<std::size_t>(k - 1)]);
                        sfq(k, j, c2) = v < 0.0f ? 0.0f : v;
                    }
                }

            // 4-5. The 22 rows, sorted into the table.
            g.agesf(n + 1) = x1;
            for (int k = 1; k <= 20; ++k) g.agesf(n + 1 + k) = tburst[static_cast<std::size_t>(k - 1)];
            g.agesf(n + 22) = x22;
            for (int c2 = 1; c2 <= ncom; ++c2)
                for (int j = 1; j <= ntav; ++j) {
                    g.rsftav(n + 1, j, c2) = sfq1(j, c2);
                    for (int k = 1; k <= 20; ++k) g.rsftav(n + 1 + k, j, c2) = sfq(k, j, c2);
                    g.rsftav(n + 22, j, c2) = sfq2(j, c2);
                }
            piksr2gl(n + 22, ntav, ncom, g.agesf.data(), g.rsftav);
            n += 22;

            // 6-8. The burst's rate on every row it covers, split between the
            // two bins around its metallicity.
            const int cb = g.current_burst ? 1 : c;
            const float rate0 = b.mass() / b.tau() / b.divisor();
            for (int i = 1; i <= n; ++i) {
                const float t = g.agesf(i);
                if (t < tb || t > tend) continue;
                const float r = rate0 * std::exp(-(t - tb) / b.tau());
                const float z = (t - tb) * b.dz() / b.tau() + b.z0();
                hunt(g.ztav.data(), ntav, z, jz);
                if (jz <= 0 || jz >= ntav) {
                    g.rsftav(i, std::max(jz, 1), cb) += r;
                } else {
                    const float dzb = g.ztav(jz + 1) - g.ztav(jz);
                    g.rsftav(i, jz, cb) += r * (g.ztav(jz + 1) - z) / dzb;
                    g.rsftav(i, jz + 1, cb) += r * (z - g.ztav(jz)) / dzb;
                }
            }
            out.last = &b;
        }
    }
    return out;
}

}  // namespace qv::tav
