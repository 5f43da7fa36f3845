#include "clouds/hii_regions.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "clouds/hii_library.h"
#include "clouds/hii_lines.h"
#include "clouds/nebular_continuum.h"
#include "core/run.h"
#include "core/run_names.h"
#include "core/stop.h"
#include "dust/grain_mix.h"
#include "io/format.h"
#include "io/textfile.h"
#include "numerics/search.h"

namespace qv {

namespace modhii {

float photons_above(int n, const float* nu, const float* lnu, float t) {
    if (n < 1 || !(nu[0] >= t)) return 0.0f;  // the grid does not reach the threshold
    auto p = [&](int i) { return lnu[i - 1] / (6.6262e7f * nu[i - 1]); };
    auto f = [&](int i) { return nu[i - 1]; };
    // K: the last point at or above the threshold.
    int k = 1;
    while (k < n && f(k + 1) >= t) ++k;
    float s = 0.0f;
    if (k >= 2) {
        s = (f(1) - f(2)) * p(1);
        for (int i = 2; i <= k - 1; ++i) s += (f(i - 1) - f(i + 1)) * p(i);
        s += (f(k - 1) - f(k)) * p(k);
        s = 0.5f * s;
    }
    if (k < n) {
        const float pt = p(k) + (p(k + 1) - p(k)) * (t - f(k)) / (f(k + 1) - f(k));
        s += 0.5f * (f(k) - t) * (p(k) + pt);
    }
    return s;
}

PhotonCounts calcs(int n, const float* nu, const float* lnu) {
    PhotonCounts q;
    q.qh = photons_above(n, nu, lnu, kNuH);
    q.qhe = photons_above(n, nu, lnu, kNuHe);
    q.qhep = photons_above(n, nu, lnu, kNuHep);
    q.qo = photons_above(n, nu, lnu, kNuO);
    return q;
}

CaseB strom(int n, const float* nu, const float* lnu) {
    CaseB c;
    c.qh = photons_above(n, nu, lnu, kNuH);
    c.hbeta = c.qh * 0.060189374f / 12.565684f;
    c.halpha = 2.87f * c.hbeta;
    return c;
}

namespace {

// The coefficient table on decreasing frequencies, as log10 (-10 for none).
struct LogTable {
    std::array<float, modcontneb::kContinuumPoints> nuc{};
    std::array<std::array<float, modcontneb::kContinuumPoints>, 4> lg{};
    LogTable() {
        const std::array<const std::array<float, modcontneb::kContinuumPoints>*, 4> g = {
            &modcontneb::g1, &modcontneb::g2, &modcontneb::g3, &modcontneb::g4};
        for (int k = 0; k < modcontneb::kContinuumPoints; ++k) {
            const auto u = static_cast<std::size_t>(k);
            nuc[u] = 29979.0f / modcontneb::lam_cn[u];
            for (std::size_t t = 0; t < 4; ++t) {
                const float v = (*g[t])[u];
                lg[t][u] = v > 1e-10f ? std::log10(v) : -10.0f;
            }
        }
    }
};

const LogTable& log_table() {
    static const LogTable t;
    return t;
}

}  // namespace

void contneb(NrKelu& st, const float* nu, const float* lnu, float* cont, int n, float f) {
    const PhotonCounts q = calcs(n, nu, lnu);
    const LogTable& t = log_table();
    constexpr int nc = modcontneb::kContinuumPoints;
    int guess = 0;
    for (int i = 0; i < n; ++i) {
        if (nu[i] <= t.nuc[nc - 1] || nu[i] >= t.nuc[0]) {
            cont[i] = 0.0f;
            continue;
        }
        float a[4];
        for (std::size_t k = 0; k < 4; ++k)
            a[k] = std::pow(10.0f, nr_kelu::liin(st, t.nuc.data(), nc, t.lg[k].data(), nu[i], &guess));
        cont[i] = f * (q.qh * (a[0] + a[1]) / 0.002585f + q.qhe * a[2] / 0.00273f + q.qhep * a[3] / 0.01533f);
    }
}

char itochar(int i) { return i >= 0 && i <= 9 ? static_cast<char>('0' + i) : '0'; }

}  // namespace modhii

std::string pan_file_name(const std::string& name, int nnh, int v) {
    if (nnh < 2) return name + ".pan";
    return name + "_" + modhii::itochar(v) + ".pan";
}

void hii(Run& run, const float* nu, const float* lnu, int n, float* lines, float z, const std::string& set,
         int& loaded) {
    if (loaded == 0) {
        modhii::leggirighe(run, set);
        loaded = 1;
    }
    HiiLibrary& lib = run.modhii;
    inpila(lib, run.con, z);
    for (float& x : lib.righe_rid.storage()) x *= 1e-10f;
    const modhii::PhotonCounts q = modhii::calcs(n, nu, lnu);
    const HiiPoint p = hii_coordinates(q.qh, q.qhe, q.qo);
    run.con.line(fio::write_line("(A,F6.3,A,F6.5,A,F6.5)",
                                 {"Log(Q_H)=", p.x + 50.0f, "  Q_He/Q_H=", p.y, "  Q_O/Q_He=", p.z}));
    interrighe(lib, run.con, q.qh, q.qhe, q.qo, kHiiLines, lines, z);
}

namespace {

const char* const kPanHeader =
    "#  nomeriga lambda,  lines_MC(1:n_tau_mc), lines_fuo, tau_den(1:n_tau_mc),  lines_MC*e^(-t)(1:n_tau_mc)";

}  // namespace

std::string pan_text(Run& run, const std::string& file, const HiiSetSums& s) {
    const CloudTypes& mc = run.mc_righe;
    const int n = mc.n_tau_mc;
    std::string out = fio::write_line("(A,A)", {"# file     =", file.substr(0, file.size() - 4)}) + "\n";
    for (int j = 1; j <= n + 1; ++j) {
        out += fio::write_line("(A,G12.3)", {"# L_Ha(str)=", s.ha(j)}) + "\n";
        out += fio::write_line("(A,G12.3)", {"# L_Hb(str)=", s.hb(j)}) + "\n";
        out += fio::write_line("(A,G12.3)", {"# Q(H)     =", s.qh(j)}) + "\n";
    }
    out += fio::write_line("(A)", {kPanHeader}) + "\n";
    const float k1 = glopalla::mixpalla(run, 1.0f);
    for (int k = 1; k <= kHiiLines; ++k) {
        const auto u = static_cast<std::size_t>(k - 1);
        const float r = glopalla::mixpalla(run, modrighe::lam_righe[u] / 1e4f) / k1;
        std::vector<fio::Item> items;
        items.emplace_back(modrighe::etic[u]);
        items.emplace_back(modrighe::lam_righe[u]);
        for (int i = 1; i <= n; ++i) items.emplace_back(s.lines_mc(k, i));
        items.emplace_back(s.lines_fuo(k));
        for (int i = 1; i <= n; ++i) items.emplace_back(mc.tau_mc_arr(i) * r);
        for (int i = 1; i <= n; ++i) {
            const float tr = mc.tau_mc_arr(i) * r;
            items.emplace_back(s.lines_mc(k, i) * (tr > 30.0f ? 0.0f : std::exp(-tr)));
        }
        out += fio::write_line("(A11,1X,F9.1,100(1P,E11.4))", items) + "\n";
    }
    return out;
}

namespace {

[[noreturn]] void lin_mass_out_of_range(const Run& run, float mass, int row, int v, int bin) {
    const HiiLibrary& lib = run.modhii;
    std::string where = lib.lin_file;
    const auto r = static_cast<std::size_t>(row - 1);
    if (r < lib.lin_lines.size()) {
        const auto [first, last] = lib.lin_lines[r];
        where += first == last ? " line " + std::to_string(first)
                               : " lines " + std::to_string(first) + "-" + std::to_string(last);
    }
    throw Stop(std::vector<std::string>{
        fio::list_line({"HII model list " + where + ": the stellar mass of set " + std::to_string(v) + " of row " +
                            std::to_string(row) + ", massamod=",
                        run.mc_righe.massamod(row, v)}),
        fio::list_line({"is so far from the mass of the stars of age bin " + std::to_string(bin) + ",", mass,
                        "Msun, that their HII lines are not finite numbers. stop"})});
}

}  // namespace

void hiitot(Run& run, float zgas, const std::string& name) {
    CloudTypes& mc = run.mc_righe;
    const BirthGrid& r = run.remind;
    const int n = mc.n_tau_mc;
    const int nnh = mc.nnh_hii;
    const int nd = run.glopalla.ndt_hii;
    const int nlam = r.nlam;
    constexpr float F = kHiiAbsorbed;

    // The pan records divide by the clouds' cross-section at 1 micron.
    const float k1 = glopalla::mixpalla(run, 1.0f);
    if (!(k1 > 0.0f) || !std::isfinite(k1))
        throw Stop(fio::list_line(
            {"cloud model: the clouds' cross-section at 1 micron must be >0, mixpalla(1.0)=", k1}));

    mc.ldentro_old_arr.fill(1.0f);
    mc.lfuori_old.fill(1.0f);
    std::vector<float> nu(static_cast<std::size_t>(nlam)), tonu(nu.size());
    for (int l = 1; l <= nlam; ++l) {
        const auto u = static_cast<std::size_t>(l - 1);
        nu[u] = 29979.0f / r.wave(l);
        tonu[u] = 29979.0f / (nu[u] * nu[u]);
    }
    std::vector<HiiSetSums> sums(static_cast<std::size_t>(nnh));
    for (HiiSetSums& s : sums) {
        s.lines_mc.resize(kHiiLines, n);
        s.lines_fuo.resize(kHiiLines);
        s.ha.resize(n + 1);
        s.hb.resize(n + 1);
        s.qh.resize(n + 1);
    }
    std::vector<float> lnu(nu.size()), lines(kHiiLines);

    // One population: lnu is its spectrum, ratio its mass in library-model masses.
    // A library mass so far from the stars' mass that the ratio, the spectrum
    // divided by it or the lines multiplied by it leave the range of 4-byte
    // reals stops, naming the mass in the model list.
    auto population = [&](float mass, float ratio, int row, int v, int bin, float* into, int& loaded) {
        if (!(ratio > 0.0f)) return;  // no stars in this bin
        bool finite = std::isfinite(ratio);
        if (finite)
            for (float& x : lnu) {
                x /= ratio;
                finite = finite && std::isfinite(x);
            }
        if (!finite) lin_mass_out_of_range(run, mass, row, v, bin);
        const modhii::CaseB cb = modhii::strom(nlam, nu.data(), lnu.data());
        if (!std::isfinite(cb.qh)) lin_mass_out_of_range(run, mass, row, v, bin);
        hii(run, nu.data(), lnu.data(), nlam, lines.data(), zgas, upto_blank(mc.nomemodello(row, v)), loaded);
        for (int k = 0; k < kHiiLines; ++k) {
            into[k] += lines[static_cast<std::size_t>(k)] * F * ratio;
            if (!std::isfinite(into[k])) lin_mass_out_of_range(run, mass, row, v, bin);
        }
        HiiSetSums& s = sums[static_cast<std::size_t>(v - 1)];
        s.ha(row) += cb.halpha * ratio;
        s.hb(row) += cb.hbeta * ratio;
        s.qh(row) += cb.qh * ratio;
        if (!std::isfinite(s.ha(row)) || !std::isfinite(s.qh(row))) lin_mass_out_of_range(run, mass, row, v, bin);
    };

    // Lines of the stars inside the clouds, type by type.
    for (int i = 1; i <= n; ++i)
        for (int v = 1; v <= nnh; ++v) {
            int loaded = 0;
            for (int b = 1; b <= nd; ++b) {
                const float* ld = mc.ldentro_arr.ptr(1, i, b);
                const float fmc = mc.f_mc_arr(i);
                for (std::size_t l = 0; l < lnu.size(); ++l) lnu[l] = ld[l] * fmc * tonu[l];
                population(mc.mdentro_arr(i, b), mc.mdentro_arr(i, b) / mc.massamod(i, v), i, v, b,
                           sums[static_cast<std::size_t>(v - 1)].lines_mc.col(i), loaded);
            }
        }
    // Lines of the stars that have left the clouds.
    for (int v = 1; v <= nnh; ++v) {
        int loaded = 0;
        for (int b = 1; b <= nd; ++b) {
            const float* lf = mc.lfuori.ptr(1, b);
            for (std::size_t l = 0; l < lnu.size(); ++l) lnu[l] = lf[l] * tonu[l];
            population(mc.mfuori(b), mc.mfuori(b) / mc.massamod(n + 1, v), n + 1, v, b,
                       sums[static_cast<std::size_t>(v - 1)].lines_fuo.data(), loaded);
        }
    }
    modhii::scaricamem(run.modhii);

    for (int v = 1; v <= nnh; ++v) {
        const std::string file = pan_file_name(name, nnh, v);
        write_file_atomic(file, pan_text(run, file, sums[static_cast<std::size_t>(v - 1)]));
    }

    // The nebular continuum. It is added to the age bins 1..ndt_hii of the
    // spectrum it comes from, which carries no mass fraction of its cloud type;
    // bin 0, all ages, keeps the stars alone. The factor on the light that leaves
    // the clouds, 1 + C/S, takes S from that bin 0, so that the continuum reaches
    // the galaxy once.
    std::vector<float> cont(nu.size()), csum(nu.size());
    auto continuum = [&](auto bin, float* old) {
        std::fill(csum.begin(), csum.end(), 0.0f);
        for (int b = 1; b <= nd; ++b) {
            float* sp = bin(b);
            for (std::size_t l = 0; l < lnu.size(); ++l) lnu[l] = sp[l] * tonu[l];
            modhii::contneb(run.nr_kelu, nu.data(), lnu.data(), cont.data(), nlam, F);
            for (int l = 1; l <= nlam; ++l) {
                const auto u = static_cast<std::size_t>(l - 1);
                const float cl = nu[u] * nu[u] * cont[u] / 2.9979f;
                if (r.wave(l) > 911.8f) {
                    sp[u] += cl;
                    csum[u] += cl;
                } else {
                    sp[u] *= 1.0f - F;
                }
            }
        }
        const float* s0 = bin(0);
        for (int l = 1; l <= nlam; ++l) {
            const auto u = static_cast<std::size_t>(l - 1);
            if (r.wave(l) <= 911.8f)
                old[u] = 1.0f - F;
            else
                old[u] = s0[u] > 0.0f ? 1.0f + csum[u] / s0[u] : 1.0f;
        }
    };
    for (int i = 1; i <= n; ++i)
        continuum([&](int b) { return mc.ldentro_arr.ptr(1, i, b); }, mc.ldentro_old_arr.col(i));
    continuum([&](int b) { return mc.lfuori.ptr(1, b); }, mc.lfuori_old.data());
}

}  // namespace qv
