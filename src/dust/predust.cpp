#include "dust/predust.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/allocating.h"
#include "core/run.h"
#include "core/stop.h"
#include "dust/dust_grid.h"
#include "dust/grain_mix.h"
#include "dust/grain_optics.h"
#include "io/format.h"

namespace qv {

namespace {

// Step 1: the arrays of the dust stages, all 0.
void allocate(Run& run) {
    CloudSetup& gp = run.glopalla;
    const BirthGrid& r = run.remind;
    const int nlf = gp.nlf;
    allocating(fio::list_line({"ALLOCATION ERROR in PREDUST"}), [&] { gp.l_stamc.resize(r.nlam, r.ncom); });
    allocating(fio::list_line({"ALLOCATION ERROR IN PREDUST"}), [&] {
        gp.lumsta.resize(nlf, r.ncom);
        gp.ws.resize(nlf);
        gp.farr.resize(nlf);
        gp.lfarr.resize(nlf);
        gp.lumdus.resize(nlf);
        gp.lumstamc.resize(nlf, r.ncom);
        gp.l_sta.resize(r.nlam, r.ncom);
        gp.somcom.resize(r.ncom);
        gp.f1com.resize(r.ncom);
        gp.f2com.resize(r.ncom);
        gp.flscom.resize(r.ncom);
        run.mc_righe.lumduswk.resize(nlf);
    });
}

// Step 6: the tav model gives the scale lengths of its galaxy; the par file's
// geometry is in units of them.
void tav_geometry(Run& run) {
    RunParameters& p = run.parametri;
    SfhTables& g = run.glotauspe;
    if (g.rctav == 0.0f) g.rctav = g.rdtav == 0.0f ? 0.15f : g.rdtav / 15.0f;
    p.zdstar = p.zdstar * g.rdtav;
    p.rcdiff = p.rcdiff * g.rctav;
    p.rdstar = g.rdtav;
    p.rddiff = p.rddiff * g.rdtav;
    p.zddiff = p.zddiff * p.rddiff;
    p.rcstar = g.rctav;
}

// Step 7: the galaxy radius (kpc) and the relative scale lengths of the cirrus.
void galaxy_radius(Run& run) {
    RunParameters& p = run.parametri;
    const SfhTables& g = run.glotauspe;
    if (p.intrho_w_r == 0) {
        standard_galaxy_radius(run);
        return;
    }
    switch (p.igeo) {
        case -1:
            p.rgal = (g.f_tgal != 0.0f || g.current_burst) ? 60.0f * p.rddiff : 10.0f * p.rddiff;
            p.rsur = p.rddiff / p.rgal;
            p.zsur = p.zddiff / p.rgal;
            break;
        case 1:
        case 5:
            p.rgal = 158.48933f * p.rcdiff;
            p.rsur = p.rcdiff / p.rgal;
            break;
        case 2:
            p.rgal = 10.0f * p.rddiff;
            p.rsur = p.rddiff / p.rgal;
            p.zsur = p.zddiff / p.rgal;
            break;
        default:
            p.rgal = 10.0f * p.rddiff;
            p.rsur = p.rddiff / p.rgal;
            break;
    }
    p.rgalpc = 1000.0f * p.rgal;
}

// Step 15: the trapezoid integral over the SSP wavelengths of the summed components.
float bolometric(const BirthGrid& r, const Mat<float>& l) {
    const int n = r.nlam;
    if (n < 2) return 0.0f;
    auto s = [&](int i) {
        float v = 0.0f;
        for (int c = 1; c <= r.ncom; ++c) v += l(i, c);
        return v;
    };
    float mid = 0.0f;
    for (int i = 2; i <= n - 1; ++i) mid += (r.wave(i + 1) - r.wave(i - 1)) * s(i);
    return 0.5f * ((r.wave(2) - r.wave(1)) * s(1) + mid + (r.wave(n) - r.wave(n - 1)) * s(n));
}

std::string num(float v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", static_cast<double>(v));
    return buf;
}

// A value that the formulas below cannot take: the key, its value and why.
[[noreturn]] void bad_value(const char* key, float v, const std::string& why) {
    throw Stop(fio::list_line({std::string("FATAL ERROR: ") + key + " = " + num(v) + " " + why}));
}

}  // namespace

void standard_galaxy_radius(Run& run) {
    RunParameters& p = run.parametri;
    switch (p.igeo) {
        case -1:
            p.rgal = std::max(158.48933f * p.rcstar, 6.0f * std::max(p.rdstar, p.rddiff));
            break;
        case 1:
        case 5:
            p.rgal = 158.48933f * p.rcstar;
            break;
        case 2:
            p.rgal = 6.0f * std::max(p.rdstar, p.rddiff);
            break;
        default:
            p.rgal = 10.0f * p.rdstar;
            break;
    }
    p.rgalpc = 1000.0f * p.rgal;
}

void predust(Run& run, float fgas, float primordial_mass, float zism) {
    CloudSetup& gp = run.glopalla;
    RunParameters& p = run.parametri;
    GrainMix& mx = run.mix;
    BirthGrid& r = run.remind;
    const int istarfo = run.glotauspe.istarfo;

    // The key nlf decides every array size of the dust grid: check it first.
    dust_grid_key_points(run);

    // 1. Arrays.
    allocate(run);

    // 2. PAH band grid, with or without pahflag.
    pah_band_grid(run.glopah);

    // 3. Dust-to-gas ratio scaled with the gas metallicity.
    if (p.idz == 1) mx.dsug = mx.dsug * zism;

    // 4. The cirrus mixture and its cross-sections at 1 micron (no gas: none).
    if (gp.mmolfraz >= 0.0f) {
        mix::genmix(run);
        const float ngr = std::pow(10.0f, mx.a_gr);
        const float nsi = std::pow(10.0f, mx.a_si);
        float klam = 0.0f;
        for (int k = 1; k <= 20; ++k) {
            const float qe = q_gra_81(run, 1.0f, mx.agra(k), 0) + q_gra_81(run, 1.0f, mx.agra(k), 1);
            klam += ngr * mx.wei_gr(k) * qe;
        }
        for (int k = 21; k <= 40; ++k) {
            const float qe = q_sil_81(run, 1.0f, mx.agra(k), 0) + q_sil_81(run, 1.0f, mx.agra(k), 1);
            klam += nsi * mx.wei_si(k - 20) * qe;
        }
        gp.klam = klam;
        gp.klama = mix::mixcold(run, 1.0f);
    }

    // 5. The clouds' cross-section per gram of gas at 1 micron (builds their mixture).
    const float kappa1 = glopalla::mixpalla(run, 1.0f) / 1.673e-24f;

    // 6-7. Geometry.
    if (istarfo == 4) tav_geometry(run);
    galaxy_radius(run);

    // 8. Polar optical depth of the cirrus.
    float tau_gal = 0.0f;
    if (fgas > 0.0f) {
        if (!(p.rdstar > 0.0f))
            bad_value("rdstar", p.rdstar,
                      istarfo == 4 ? "(stellar disk scale length, kpc, from the history's rdtav) must be "
                                     "positive: the polar cirrus optical depth divides by its square"
                                   : "(stellar disk scale length, kpc) must be positive: the polar cirrus "
                                     "optical depth divides by its square");
        tau_gal = (1.0f - gp.mmolfraz) * mx.dsug * 1.35e-6f * fgas * primordial_mass * 1e12f /
                  (6.283186f * (p.rdstar * p.rdstar)) * mx.hsug;
    }
    run.con.line(fio::list_line({"polar TAU_GAL =", tau_gal}));

    // 9. Too much cirrus for the tav model: more of the gas goes into clouds,
    // the stars leave them later, and the clouds' optical depth follows the cirrus.
    if (tau_gal > gp.tau_gal_max && istarfo == 4) {
        if (!(tau_gal > 0.0f))
            bad_value("taugalmax", gp.tau_gal_max,
                      "must not be negative: the cloud optical depth of the reset takes log10 of TAU_GAL = 0");
        run.con.line(fio::list_line({"TAU CIRRUS TOO HIGH: RESET MMOLFRAZ TESCAPE TAU_1_MC"}));
        gp.mmolfraz = 1.0f - (1.0f - gp.mmolfraz) * gp.tau_gal_max / tau_gal;
        gp.mmolfraz = std::min(std::max(gp.mmolfraz, 0.0f), 1.0f);
        run.con.line(fio::list_line({"mmolfraz=", gp.mmolfraz}));
        gp.etastart = gp.n_tstart * gp.etastart;
        gp.mcloud = -std::pow(10.0f, 0.188f * std::log10(tau_gal) + 0.251f);
        gp.cirrus_reset = true;
    }

    // 10. Cloud types.
    mc_righe::read_mc_line(run);
    if (gp.cirrus_reset) {
        Vec<float>& t0 = run.mc_righe.t0_arr;
        for (int i = 1; i <= t0.extent(); ++i) t0(i) = gp.etastart;
    }

    // 11. A cloud mass given as minus the cloud's optical depth at 1 micron.
    float rad = gp.rcloud;
    if (gp.mcloud < 0.0f) {
        if (run.mc_righe.n_tau_mc > 1) throw Stop(fio::list_line({"mcloud must be >0 if n_tau_mc>1"}));
        rad = gp.rmsr0_flag ? 10.0f : gp.rcloud;
        if (!(rad > 0.0f))
            bad_value("rcloud", rad, "(cloud radius, pc) must be positive: the cloud mass and density need it");
        if (!(mx.dsug > 0.0f))
            bad_value("dsug", mx.dsug, "(dust-to-gas ratio) must be positive to turn a cloud optical depth "
                                       "(mcloud < 0) into a mass");
        if (!(mx.hsug > 0.0f))
            bad_value("hsug", mx.hsug, "(hydrogen mass fraction) must be positive to turn a cloud optical "
                                       "depth (mcloud < 0) into a mass");
        gp.mcloud = (-gp.mcloud) * 6.15e22f * (rad * rad) * SolverGrainMix::dsugst /
                    (kappa1 * 3.086e18f * mx.dsug * mx.hsug);
        const std::string line = fio::write_line("(A,G12.4)", {"Mass of molecular clouds [Msun] =", gp.mcloud});
        run.con.line(line);
        runlog_append(run, line);
    } else if (!(rad > 0.0f)) {
        bad_value("rcloud", rad, "(cloud radius, pc) must be positive: the cloud density divides by its cube");
    }

    // 12. Molecular gas and number of clouds.
    if (gp.mcloud == 0.0f)
        bad_value("mcloud", gp.mcloud, "(mass of one molecular cloud, Msun) must not be 0: the number of clouds "
                                      "divides by it");
    gp.mmol = gp.mmolfraz * fgas * primordial_mass;
    gp.ncloud = gp.mmol / gp.mcloud * 1e12f;
    run.con.line(fio::list_line({"ncloud=", gp.ncloud}));
    const float too_few = istarfo == 4 ? 1.0f : 0.01f;
    if (gp.mmolfraz >= 0.0f && gp.ncloud < too_few && !gp.cirrus_reset && !gp.rmsr0_flag) {
        run.con.line(fio::list_line({"WARNING: ncloud too low, resetting Mmolfraz=0"}));
        gp.mmol = 0.0f;
        gp.mmolfraz = 0.0f;
        gp.ncloud = 0.0f;
    }

    // 13. Density and optical depth of one cloud.
    gp.rho = gp.mcloud * 1.625e-23f / (rad * rad * rad);
    gp.tau1 = rad * kappa1 * gp.rho * 3.086e18f * (mx.dsug / SolverGrainMix::dsugst) * mx.hsug;
    if (!std::isfinite(gp.rho) || !std::isfinite(gp.tau1))
        bad_value("rcloud", rad, "(cloud radius, pc) is too small: the clouds' optical depth at 1 micron is not finite");
    {
        const std::string line = fio::list_line({"tau palla a 1 micron=", gp.tau1});
        run.con.line(line);
        runlog_append(run, line);
    }

    // 14-15. The stellar spectrum and the total stellar luminosity.
    stellar_spectrum(run, primordial_mass, gp.l_sta);
    r.e1 = bolometric(r, gp.l_sta);

    // 16-17. The dust frequency grid and the stellar spectrum on it.
    build_dust_grid(run);
    rebin_to_dust_grid(run, gp.l_sta, gp.lumsta);

    // 18. The light after the clouds equals the stellar light until the cloud
    // model replaces it.
    gp.l_stamc = gp.l_sta;
    gp.lumstamc = gp.lumsta;
}

}  // namespace qv
