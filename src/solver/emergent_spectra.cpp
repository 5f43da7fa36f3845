#include "solver/emergent_spectra.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/console.h"
#include "core/run.h"
#include "io/format.h"
#include "numerics/search.h"
#include "solver/central_source.h"
#include "solver/dust_geometry.h"
#include "solver/solver_output.h"
#include "solver/solver_state.h"

namespace qv {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr int kRays = 81;
// Spectra are floored where the flux is at most this.
constexpr float kFluxFloor = 1.0e-35f;

// Ray l = 1..81 of the spectra: from the ray grazing 0.99 rmax (l = 1) to the
// central ray (l = 81), packed toward the centre.
void exterior_rays(const SolverState& g, float D, double* theta, double* mu) {
    const double a = std::asin(0.99 * static_cast<double>(g.rmax) / static_cast<double>(D));
    const double gq = std::log((kPi - a) / kPi) / 6400.0;
    for (int l = 1; l <= kRays; ++l) {
        const double e = static_cast<double>((kRays - l) * (kRays - l));
        theta[l] = kPi * std::exp(e * gq);
        mu[l] = std::cos(theta[l]);
    }
}

// The mean intensity of ray l over its azimuths, seen from viewing angle ct.
float ray_mean(const SolverState& g, const RayField& f, float D, float ct, double theta,
               bool last_ray, RayAngles& pr) {
    if (ct < 0.017453294f || ct > 3.1241393f)
        return intrex(g, f, D, ct, theta, 0.0, 1.0f, pr);
    if (last_ray) {
        const float a = intrex(g, f, D, ct, theta, 0.0, 1.0f, pr);
        const float b = intrex(g, f, D, ct, theta, kPi, 1.0f, pr);
        return (a + b) / 2.0f;
    }
    float sum = 0.0f;
    float wsum = 0.0f;
    for (int j = 0; j <= 12; ++j) {
        const float w = (j == 0 || j == 12) ? 1.0f : 2.0f;
        sum += w * intrex(g, f, D, ct, theta, static_cast<double>(j) * kPi / 12.0, 1.0f, pr);
        wsum += w;
    }
    return sum / wsum;
}

float log_or(float flux, float off) { return flux > kFluxFloor ? std::log10(flux) + off : -123.0f; }

}  // namespace

float direction_sum(const SolverState& g, const std::function<float(int i)>& v, float factor,
                    float deg) {
    if (g.ncted < 2) return 0.0f;
    float s = 0.0f;
    for (int i = 1; i <= g.ncted - 1; ++i)
        s += (std::pow(10.0f, v(i) - 46.0f) + std::pow(10.0f, v(i + 1) - 46.0f)) *
             (std::cos(deg * g.dirarr(i)) - std::cos(deg * g.dirarr(i + 1)));
    return factor * s;
}

void genspe(SolverState& g, const EmergentSource& src, int verbose_level, const Console& con,
            RayPath path) {
    const bool shared = use_shared_path(g, path);
    const float D = 100.0f * g.rmax;
    const float off = 2.0f * std::log10(D) - 44.90079f;
    double theta[kRays + 1];
    double mu[kRays + 1];
    exterior_rays(g, D, theta, mu);

    // Under the symmetry one intensity per (ray, frequency) and one optical
    // depth per frequency serve every viewing direction and azimuth.
    std::vector<float> ir_shared;
    std::vector<float> tu_shared;
    if (shared) {
        ir_shared.assign(static_cast<std::size_t>(kSolverNnu * (kRays + 1)), 0.0f);
        tu_shared.assign(kSolverNnu + 1, 0.0f);
        RayAngles pr;
        for (int nu = 1; nu <= kSolverNnu; ++nu) {
            const RayField f = ray_field(g, nu, true);
            for (int l = 1; l <= kRays; ++l)
                ir_shared[static_cast<std::size_t>((nu - 1) * (kRays + 1) + l)] =
                    intrex(g, f, D, 1.5707964f, theta[l], 0.0, 1.0f, pr);
            tu_shared[static_cast<std::size_t>(nu)] =
                src.tau(g.lfarr(nu), g.ncted > 0 ? g.dirarr(1) * 0.0174533f : 1.5707964f);
        }
    }

    for (int i = 1; i <= g.ncted; ++i) {
        const float ct = g.dirarr(i) * 0.0174533f;
        float lc_sum = 0.0f;
        float ld_sum = 0.0f;
        RayAngles pr;
        for (int nu = 1; nu <= kSolverNnu; ++nu) {
            float dlf;
            if (nu == 1)
                dlf = g.lfarr(2) - g.lfarr(1);
            else if (nu == kSolverNnu)
                dlf = g.lfarr(kSolverNnu) - g.lfarr(kSolverNnu - 1);
            else
                dlf = (g.lfarr(nu + 1) - g.lfarr(nu - 1)) / 2.0f;

            float irl[kRays + 1];
            if (shared) {
                for (int l = 1; l <= kRays; ++l)
                    irl[l] = ir_shared[static_cast<std::size_t>((nu - 1) * (kRays + 1) + l)];
            } else {
                const RayField f = ray_field(g, nu, false);
                for (int l = 1; l <= kRays; ++l)
                    irl[l] = ray_mean(g, f, D, ct, theta[l], l == kRays, pr);
            }
            double fd = 0.0;
            for (int l = 1; l < kRays; ++l)
                fd += static_cast<double>(irl[l] + irl[l + 1]) *
                      (mu[l] * mu[l] - mu[l + 1] * mu[l + 1]);
            const float Fd = static_cast<float>(-(kPi / 2.0) * fd);

            const float tu = shared ? tu_shared[static_cast<std::size_t>(nu)]
                                    : src.tau(g.lfarr(nu), ct);
            g.tuarr(nu, i) = tu;
            const float Fs = 12.566372f * src.j_source(D, g.lfarr(nu));
            const float Fc = Fs * std::exp(-tu);

            const float lc = log_or(Fc, off);
            const float ls = log_or(Fs, off);
            const float ld = log_or(Fd, off);
            const float lt = log_or(Fc + Fd, off);
            if (Fc > kFluxFloor) lc_sum += std::pow(10.0f, lc + g.lfarr(nu)) * dlf;
            if (Fd > kFluxFloor) ld_sum += std::pow(10.0f, ld + g.lfarr(nu)) * dlf;
            g.sptarr(nu, i) = lt + 46.0f;
            g.spcarr(nu, i) = lc + 46.0f;
            g.spsarr(nu, i) = ls + 46.0f;
            g.spdarr(nu, i) = ld + 46.0f;
            if (verbose_level == 1)
                con.line(fio::write_line("(I3,3F8.2,7G10.3)",
                                         {nu, g.spcarr(nu, i), g.spdarr(nu, i), g.sptarr(nu, i),
                                          0.0f, 0.0f, 0.0f}));
        }
        // An empty sum (no frequency with flux) takes the floor of the spectra.
        g.lcarr(i) = lc_sum > 0.0f ? std::log10(2.3025f * lc_sum) + 46.0f : -77.0f;
        g.ldarr(i) = ld_sum > 0.0f ? std::log10(2.3025f * ld_sum) + 46.0f : -77.0f;
    }

    // Column 0: the average over the viewing directions.
    Mat<float>* spectra[4] = {&g.sptarr, &g.spdarr, &g.spcarr, &g.spsarr};
    for (Mat<float>* a : spectra)
        for (int nu = 1; nu <= kSolverNnu; ++nu) {
            if (g.ncted < 2) {
                (*a)(nu, 0) = (*a)(nu, 1);
                continue;
            }
            const float s =
                direction_sum(g, [&](int i) { return (*a)(nu, i); }, 0.25f, 0.0174533f);
            (*a)(nu, 0) = s < kFluxFloor ? -77.0f : std::log10(s) + 46.0f;
        }
}

void genspe(Run& run, RayPath path) {
    SolverState& g = run.globals;
    EmergentSource src;
    src.j_source = [&run](float r, float lf) { return ajn(run, r, 0.0f, lf); };
    src.tau = [&run, &g](float lf, float ct) {
        float tau = 0.0f;
        taurad(run, lf, ct, g.cthe1, g.ctarr, run.taumix.agra, run.taumix.dgra, run.taumix.xgra,
               g.rsgra, kSolverNsp, kSolverNgr, kSolverNct, tau);
        return tau;
    };
    genspe(g, src, run.modname.verbose_level, run.con, path);
}

std::vector<std::string> outspe(const SolverState& g) {
    std::vector<std::string> out;
    auto table = [&](int col) {
        for (int nu = 1; nu <= kSolverNnu; ++nu) {
            const float lf = g.lfarr(nu);
            out.push_back(fio::write_line(
                "(5F8.3)", {lf, lf + g.sptarr(nu, col), lf + g.spdarr(nu, col),
                            lf + g.spcarr(nu, col), lf + g.spsarr(nu, col)}));
        }
    };
    for (int i = 1; i <= g.ncted; ++i) {
        out.push_back(fio::write_line(
            "('## Theta = ',F10.2,'  DEGREES (lognu,tot,dust,pri ass,pri (nu lnu), Pt, Pd, "
            "(Q/I)d:')",
            {g.dirarr(i)}));
        table(i);
    }
    out.push_back(
        "## Theta = media sugli angoli richiesti (lognu,tot,dust,pri ass,pri (nu lnu):");
    table(0);
    return out;
}

int map_frequency_index(const SolverState& g, float lam) {
    const float x = lam > 0.0f ? std::log10(3.0e14f / lam) : 13.47f;
    int k = 0;
    hunt(g.lfarr.ptr(1), kSolverNnu, x, k);
    // Beyond either end of the grid the end interval decides.
    k = std::clamp(k, 1, kSolverNnu - 1);
    if (g.lfarr(k + 1) - x < x - g.lfarr(k)) ++k;
    return k;
}

SolverMap mapvis(const SolverState& g, float D, float ct, int k, RayPath path) {
    SolverMap m;
    const bool shared = use_shared_path(g, path);
    const RayField f = ray_field(g, k, shared);
    const double a = std::asin(0.99 * static_cast<double>(g.rmax) / static_cast<double>(D));
    for (int i = 1; i <= 20; ++i) {
        const double e = static_cast<double>((i - 1) * (i - 1));
        m.thearr[i - 1] = kPi * std::exp(e * std::log((kPi - a) / kPi) / 361.0);
        m.phiarr[i - 1] = 0.01 + static_cast<double>(i - 1) * 3.121592654447035 / 19.0;
    }
    RayAngles pr;
    for (int i = 0; i < 20; ++i) {
        // Under the symmetry a ray's intensity does not depend on its azimuth.
        float shared_i = 0.0f;
        if (shared) shared_i = intrex(g, f, D, ct, m.thearr[i], m.phiarr[0] + kPi, 6.0f, pr);
        for (int j = 0; j < 20; ++j) {
            const float I =
                shared ? shared_i : intrex(g, f, D, ct, m.thearr[i], m.phiarr[j] + kPi, 6.0f, pr);
            m.iarr(i + 1, j + 1) = I > 0.0f ? std::log10(I) : -77.7f;
        }
        m.rmap(i + 1) = static_cast<float>(std::sin(kPi - m.thearr[i]) * static_cast<double>(D) /
                                       static_cast<double>(g.rmax));
        m.phimap(i + 1) = static_cast<float>(m.phiarr[i]);
    }
    return m;
}

std::vector<std::string> map_blocks(const SolverMap& m) {
    SolverLines out;
    outarr(m.rmap, 20, out, "RMAP  ", true);
    outarr(m.phimap, 20, out, "PHIMAP", true);
    outar2(m.iarr, 20, 20, out, "IARR  ", true);
    return out;
}

std::string map_file_text(const SolverState& g, RayPath path) {
    std::string text;
    const float D = 100.0f * g.rmax;
    for (int i = 1; i <= g.ncted; ++i)
        for (int j = 1; j <= g.nmapd; ++j) {
            const int k = map_frequency_index(g, g.lamarr(j));
            text += "#\n";
            text += fio::write_line("('#:',I2,' MAPPA A',F8.3,' MICRON IN DIR.',F7.2,' GRADI')",
                                    {(i - 1) * g.nmapd + j,
                                     3.0e14f / std::pow(10.0f, g.lfarr(k)), g.dirarr(i)}) +
                    "\n";
            const SolverMap m = mapvis(g, D, 0.017453294f * g.dirarr(i), k, path);
            for (const std::string& l : map_blocks(m)) text += l + "\n";
        }
    return text;
}

std::string spectrum_file_text(const SolverState& g, float tau_altau) {
    std::string text;
    text += std::string("         Tau      lambda log(L/Lsun)         Te") +
            "          Ro        RHOo     MDdot15\n";
    text += std::string("                [micron]                       ") +
            "        [cm]     [g/cm^3]    [Msun/y]\n";
    const double mdot = 12.566372 * static_cast<double>(g.r0) * static_cast<double>(g.r0) *
                        static_cast<double>(g.rhoarr(1, 1)) * 1.5e6 / 6.303e25;
    text += fio::write_line("(2F12.2,F12.3,F12.2,3E12.3)",
                            {tau_altau, g.altau, std::log10(g.al46tru / 3.827e-13f), g.tc, g.r0,
                             g.rhoarr(1, 12), static_cast<float>(mdot)}) +
            "\n";
    SolverLines lines;
    outarr(g.lcarr, g.ncted, lines, "#LCARR", true);
    outarr(g.ldarr, g.ncted, lines, "#LDARR", true);
    for (const std::string& l : outspe(g)) lines.push_back(l);
    for (const std::string& l : lines) text += l + "\n";
    return text;
}

}  // namespace qv
