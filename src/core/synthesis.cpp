// The stellar synthesis: the adaptive birth-time grid (kernel), the rates at a
// birth time (birth), the SSP spectrum of the stars born then (integrando,
// fluxmetal). Every quantity is a 4-byte real and the order of operations is
// the one that fixes the grid: the steps follow the star-formation rate.
#include "core/synthesis.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "core/allocating.h"
#include "core/run.h"
#include "core/stop.h"
#include "dust/dust_grid.h"
#include "io/format.h"
#include "numerics/search.h"

namespace qv {

namespace {

// Linear interpolation at x in xa(1..n) (extrapolating beyond its ends).
float at(Run& run, const float* xa, const float* ya, int n, float x, int& guess) {
    float y = 0.0f, dy = 0.0f;
    poinh(run.poinh_work, xa, ya, n, 2, x, y, dy, guess);
    return y;
}

// The same interpolation for a column whose entries are computed (value(i) for
// i = 1..n): the points are those poinh takes, so the result is the same as
// poinh on the filled column.
template <class F>
float at_computed(const float* xa, int n, float x, int& guess, F value) {
    const int mm = std::min(2, n);
    nr_kelu::hunt90(xa, n, x, guess);
    const int k = poinh_window(guess, n, mm);
    float xs[2], ys[2];
    for (int i = 0; i < mm; ++i) {
        xs[i] = xa[k - 1 + i];
        ys[i] = value(k + i);
    }
    float y = 0.0f, dy = 0.0f;
    neville(xs, ys, mm, x, y, dy);
    return y;
}

// The bulge's share of the rate at t: the law interpolated as every history
// column is, except where the two points around t share their time (t_bst 0
// puts the law's first two points at 0). That interval of zero width is passed
// over for the one before it, or at the law's start for the one after, so the
// share at 0 is the law's first value and just after it follows the fall.
float bulge_law_at(Run& run, const SfhTables& g, float t, int& guess) {
    const float* x = g.tbst.data();
    const float* y = g.bst.data();
    const int n = g.nbst;
    int j = guess;
    nr_kelu::hunt90(x, n, t, j);
    int k = poinh_window(j, n, std::min(2, n));
    if (n < 2 || x[k - 1] != x[k]) return at(run, x, y, n, t, guess);
    guess = j;
    if (k > 1)
        --k;
    else if (k + 1 < n)
        ++k;
    if (x[k - 1] == x[k]) return y[k - 1];
    return y[k - 1] + (t - x[k - 1]) * (y[k] - y[k - 1]) / (x[k] - x[k - 1]);
}

// The tabulated histories and the sorvanto model end where their table ends.
void check_inside(const SfhTables& g, float t) {
    if (t < 0.0f || t > g.agesf(g.nzsmax))
        throw Stop(fio::write_line("(1X,'subroutine birth esce tabelle time=',F10.3)", {t}));
}

// Rates per component from the multi-bin tables, and the share of each bin.
void rates_from_bins(Run& run, float t) {
    SfhTables& g = run.glotauspe;
    BirthGrid& r = run.remind;
    SynthWork& w = run.prointegrando;
    const int n = g.nzsmax;
    // A history that begins after t = 0 forms no stars before its first time.
    if (t < g.agesf(1)) {
        for (int c = 1; c <= r.ncom; ++c) {
            r.sfrate(r.icall, c) = 0.0f;
            for (int j = 1; j <= g.ntav; ++j) g.flswei(j, c) = 0.0f;
        }
        g.sfr = 0.0f;
        return;
    }
    float total = 0.0f;
    for (int c = 1; c <= r.ncom; ++c) {
        const float s = at_computed(g.agesf.data(), n, t, w.agesf_guess, [&](int i) {
            float sum = 0.0f;
            for (int j = 1; j <= g.ntav; ++j) sum += g.rsftav(i, j, c);
            return sum;
        });
        r.sfrate(r.icall, c) = s;
        for (int j = 1; j <= g.ntav; ++j)
            g.flswei(j, c) =
                s == 0.0f ? 0.0f : at(run, g.agesf.data(), g.rsftav.col(j, c), n, t, w.agesf_guess) / s;
        total += s;
    }
    g.sfr = total;
}

// The spectrum of one table at the given age: 0 when the age is beyond the
// table's oldest block, the youngest block below its youngest, otherwise linear
// in age between the two bracketing blocks.
void ssp_at_age(const SspLibrary& lib, int nlam, int i, float age, float* out) {
    const float* ag = lib.ages.col(i);
    const int nm = lib.nmax(i);
    if (age > ag[0]) {
        std::fill(out, out + nlam, 0.0f);
        return;
    }
    const float a = std::max(age, ag[nm - 1]);
    int k = 0;
    hunt(ag, nm, a, k);
    k = std::clamp(k, 1, nm - 1);
    const float wt = (a - ag[k - 1]) / (ag[k] - ag[k - 1]);
    const float* f1 = lib.fluxes.ptr(1, k, i);
    const float* f2 = lib.fluxes.ptr(1, k + 1, i);
    for (int l = 0; l < nlam; ++l) out[l] = (1.0f - wt) * f1[l] + wt * f2[l];
}

}  // namespace

void fluxmetal(Run& run, bool quiescent) {
    const SspLibrary& lib = run.glotauspe;
    const SfhTables& g = run.glotauspe;
    const BirthGrid& r = run.remind;
    SynthWork& w = run.prointegrando;
    const int nlam = r.nlam;
    if (w.varflu.extent() != nlam || !w.varflu.allocated())
        allocating(fio::list_line({"ALLOCATION ERROR in fluxmetal"}), [&] {
            w.varflu.resize(nlam);
            w.flu.resize(nlam);
            w.work.resize(nlam, 2);
        });

    const float tb = r.tbirth(r.icall);
    const float age = run.parametri.tgal - tb;

    // The quiescent tables, or the burst tables for a birth time inside a burst.
    int first = 1, last = lib.ntab1;
    if (!quiescent && lib.ntab != lib.ntab1 && g.n_bur != 0) {
        for (int b = 1; b <= g.n_bur; ++b)
            if (g.t_bur(b) < tb && tb < g.t_end_bur(b)) {
                first = lib.ntab1 + 1;
                last = lib.ntab;
                break;
            }
    }
    const int n = last - first + 1;

    // The bracketing metallicities; no extrapolation beyond the end tables.
    int j = 0;
    hunt(lib.ztab.ptr(first), n, g.zzeta, j);
    int lo, up;
    if (j <= 0) {
        lo = up = first;
    } else if (j >= n) {
        lo = up = last;
    } else {
        lo = first + j - 1;
        up = lo + 1;
    }

    float* out = w.varflu.data();
    if (lo == up) {
        ssp_at_age(lib, nlam, lo, age, out);
        return;
    }
    float* fl = w.work.col(1);
    float* fu = w.work.col(2);
    ssp_at_age(lib, nlam, lo, age, fl);
    ssp_at_age(lib, nlam, up, age, fu);
    const float dz = g.zzeta - lib.ztab(lo);
    const float dzt = lib.ztab(up) - lib.ztab(lo);
    for (int l = 0; l < nlam; ++l) out[l] = fl[l] + (fu[l] - fl[l]) * dz / dzt;
}

float compute_fraqui(Run& run, int c, int m) {
    SfhTables& g = run.glotauspe;
    SynthWork& w = run.prointegrando;
    const float t = run.remind.tbirth(run.remind.icall);
    const float s = at(run, g.agesf.data(), g.rsftav.col(m, c), g.nzsmax, t, w.agesf_guess);
    if (s <= 0.0f) return 1.0f;
    const float sq = at(run, g.agesfqui.data(), g.rsftavqui.col(m, c), g.nzqui, t, w.agesfqui_guess);
    return std::max(0.0f, sq / s);
}

void birth(Run& run) {
    SfhTables& g = run.glotauspe;
    BirthGrid& r = run.remind;
    SynthWork& w = run.prointegrando;
    const float t = r.tbirth(r.icall);
    const int n = g.nzsmax;

    switch (g.istarfo) {
        case 0:
        case 1: {
            check_inside(g, t);
            const float s = std::max(0.0f, at(run, g.agesf.data(), g.rsf.data(), n, t, w.agesf_guess));
            if (run.parametri.igeo == -1) {
                if (g.nbst < 1) throw std::logic_error("birth: the bulge law is missing");
                // The share is a fraction whatever the law's extrapolation gives.
                const float b = std::clamp(bulge_law_at(run, g, t, w.tbst_guess), 0.0f, 1.0f);
                r.sfrate(r.icall, 1) = (1.0f - b) * s;
                r.sfrate(r.icall, 2) = b * s;
            } else {
                for (int c = 1; c <= r.ncom; ++c) r.sfrate(r.icall, c) = s;
            }
            g.sfr = s;
            g.gg = std::max(0.0f, at(run, g.agesf.data(), g.gas.data(), n, t, w.agesf_guess));
            g.zzeta = std::max(0.0f, at(run, g.agesf.data(), g.zeta.data(), n, t, w.agesf_guess));
            r.gasres(r.icall) = g.gg;
            break;
        }
        case 4:
        case 6:
            rates_from_bins(run, t);
            break;
        case 7:
            check_inside(g, t);
            rates_from_bins(run, t);
            break;
        default:
            throw std::logic_error("birth: no synthesis for istarfo " + std::to_string(g.istarfo));
    }
}

void integrando(Run& run) {
    birth(run);

    SfhTables& g = run.glotauspe;
    BirthGrid& r = run.remind;
    SynthWork& w = run.prointegrando;
    const int nlam = r.nlam;
    const int ic = r.icall;
    const float* v = w.varflu.data();

    switch (g.istarfo) {
        case 0:
        case 1:
            fluxmetal(run, true);
            v = w.varflu.data();
            for (int c = 1; c <= r.ncom; ++c) std::copy(v, v + nlam, r.flsspint.ptr(1, ic, c));
            break;
        case 6:
            for (int c = 1; c <= r.ncom; ++c) std::fill_n(r.flsspint.ptr(1, ic, c), nlam, 0.0f);
            for (int m = 1; m <= g.ntav; ++m) {
                bool any = false;
                for (int c = 1; c <= r.ncom; ++c) any = any || g.flswei(m, c) != 0.0f;
                if (!any) continue;  // adds nothing
                g.zzeta = g.ztav(m);
                fluxmetal(run, true);
                v = w.varflu.data();
                for (int c = 1; c <= r.ncom; ++c) {
                    const float fw = g.flswei(m, c);
                    if (fw == 0.0f) continue;
                    float* out = r.flsspint.ptr(1, ic, c);
                    for (int l = 0; l < nlam; ++l) out[l] += fw * v[l];
                }
            }
            break;
        case 4:
            for (int c = 1; c <= r.ncom; ++c) {
                float* out = r.flsspint.ptr(1, ic, c);
                std::fill_n(out, nlam, 0.0f);
                for (int m = 1; m <= g.ntav; ++m) {
                    const float fw = g.flswei(m, c);
                    if (fw == 0.0f) continue;  // adds nothing
                    g.zzeta = g.ztav(m);
                    const float q = compute_fraqui(run, c, m);
                    if (q < 1.0f) {
                        // Quiescent and burst spectra in the proportion of their rates.
                        fluxmetal(run, true);
                        std::copy(w.varflu.data(), w.varflu.data() + nlam, w.flu.data());
                        fluxmetal(run, false);
                        const float* fq = w.flu.data();
                        const float* fb = w.varflu.data();
                        for (int l = 0; l < nlam; ++l) out[l] += fw * (q * fq[l] + (1.0f - q) * fb[l]);
                    } else {
                        fluxmetal(run, true);
                        v = w.varflu.data();
                        for (int l = 0; l < nlam; ++l) out[l] += fw * v[l];
                    }
                }
            }
            break;
        case 7: {
            const float t = r.tbirth(ic);
            for (int c = 1; c <= r.ncom; ++c) {
                g.zzeta = at(run, g.agesf.data(), g.zeta_arr.col(c), g.nzsmax, t, w.agesf_guess);
                fluxmetal(run, true);
                v = w.varflu.data();
                std::copy(v, v + nlam, r.flsspint.ptr(1, ic, c));
            }
            break;
        }
        default:
            throw std::logic_error("integrando: no synthesis for istarfo " + std::to_string(g.istarfo));
    }
}

void kernel(Run& run, bool& overflow) {
    BirthGrid& r = run.remind;
    SfhTables& g = run.glotauspe;
    const float tgal = run.parametri.tgal;
    const bool hii = run.glopalla.hiiflag;
    constexpr float dtcurmin = SfhTables::dtcurmin;
    constexpr float dtcurmax = SfhTables::dtcurmax;
    constexpr float rsfmin = SfhTables::rsfmin;
    constexpr float t_hii = CloudSetup::t_hii;
    constexpr float dt_hii = CloudSetup::dt_hii;

    // 1. The first birth time.
    float dtcur = dtcurmin;
    float dt = dtcurmin / 100.0f;
    r.icall = 1;
    r.tbirth(1) = 0.0f;
    float t = 0.0f;
    integrando(run);
    float prev = g.sfr;
    int initial = 0;
    bool last = false;
    int jt = 0;  // guess in agesf, kept from step to step

    // 2. The following birth times.
    for (;;) {
        ++r.icall;
        t = t + dt;
        if (r.icall > r.nz) {
            run.con.line(fio::list_line({"nz =", r.nz, " too low. I increase and try again"}));
            overflow = true;
            return;
        }
        const bool near = t >= tgal - 0.4f;
        if (t >= tgal) {
            t = tgal;
            last = true;
        }
        r.tbirth(r.icall) = t;
        integrando(run);

        // The step scale follows the relative change of the rate.
        const float sfr = g.sfr;
        if (initial < 2) {
            dtcur = dtcurmin;
            ++initial;
        } else if (sfr != 0.0f || prev != 0.0f) {
            dtcur = dtcur * std::fabs(sfr + prev) * 0.5f * 0.1f / (std::fabs(sfr - prev) + 1e-20f);
            if (!(dtcur > dtcurmin)) dtcur = dtcurmin;
            if (!(dtcur < dtcurmax)) dtcur = dtcurmax;
        } else {
            dtcur = dtcurmax;
        }
        dt = dtcur / 10.0f;
        prev = sfr;

        // Fine steps for the young stars seen at tgal.
        if (near && sfr > rsfmin) dt = 0.0005f;
        if (hii && t >= tgal - t_hii - dt_hii) dt = std::min(dt_hii / 10.0f, 0.0005f);

        // Never step over a history time.
        if (t < tgal) {
            hunt(g.agesf.data(), g.nzsmax, t, jt);
            // An exact hit may land below the entry: the next time is the first
            // one after t (a history that begins after 0 is met at its first time).
            while (jt < g.nzsmax && g.agesf(jt + 1) <= t) ++jt;
            if (jt < g.nzsmax && t + dt > g.agesf(jt + 1)) dt = g.agesf(jt + 1) - t;
        }
        if (last) break;
    }

    // 3.
    run.con.line(fio::list_line({"Number of time steps =", r.icall}));
    overflow = false;
}

float stellar_light(Run& run) {
    const BirthGrid& r = run.remind;
    Mat<float> l;
    stellar_spectrum(run, r.primordial_mass, l);
    // The trapezoid sum over the wavelengths that gives the bolometric luminosity.
    const int n = r.nlam;
    auto s = [&](int i) {
        float v = 0.0f;
        for (int c = 1; c <= r.ncom; ++c) v += l(i, c);
        return v;
    };
    for (int i = 1; i <= n; ++i)
        if (!std::isfinite(s(i))) return std::numeric_limits<float>::quiet_NaN();
    if (n < 2) return n == 1 ? s(1) : 0.0f;
    float mid = 0.0f;
    for (int i = 2; i <= n - 1; ++i) mid += (r.wave(i + 1) - r.wave(i - 1)) * s(i);
    return 0.5f * ((r.wave(2) - r.wave(1)) * s(1) + mid + (r.wave(n) - r.wave(n - 1)) * s(n));
}

void check_stellar_light(Run& run, const std::vector<std::string>& files) {
    const float light = stellar_light(run);
    if (std::isfinite(light) && light > 0.0f) return;
    std::string names;
    for (const std::string& f : files) names += (names.empty() ? "" : ", ") + f;
    const std::string mass = fio::list_line({"(galaxy mass", run.remind.primordial_mass, "*10^12 Mo)"});
    if (!std::isfinite(light)) {
        // The light is the rates per unit mass times the galaxy's mass: either
        // may be too large. The time-series reader gives every galaxy one mass.
        const int istarfo = run.glotauspe.istarfo;
        std::string what = "The star-formation rates of the history in " + names;
        if (istarfo == 0)
            what += ", or its masses (the mass columns, whose last total is the galaxy mass),";
        else if (istarfo != 1)
            what += ", or the galaxy mass they give,";
        throw Stop(std::vector<std::string>{
            fio::list_line({"ERROR: the stellar luminosity at tgal is not a finite number" + mass + "."}),
            fio::list_line({what + " are too large: change them there. stop"})});
    }
    throw Stop(std::vector<std::string>{
        fio::list_line({"ERROR: the stars give no light at tgal" + mass + "."}),
        fio::list_line({"The history in " + names +
                        " forms no stars that shine at tgal: give it star formation there. stop"})});
}

}  // namespace qv
