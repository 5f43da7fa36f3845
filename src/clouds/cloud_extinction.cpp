#include "clouds/cloud_extinction.h"

#include <cmath>
#include <string>
#include <vector>

#include "clouds/young_stars.h"
#include "core/run.h"
#include "core/stop.h"
#include "dust/dust_grid.h"
#include "dust/grain_mix.h"
#include "io/format.h"

namespace qv::pallanolt96_stages {

namespace {

// A free-format record: a label followed by the values of an array.
std::string labelled_values(const char* label, const Vec<float>& v) {
    std::vector<fio::Item> items;
    items.reserve(v.size() + 1);
    items.emplace_back(label);
    for (std::size_t m = 0; m < v.size(); ++m) items.emplace_back(v.data()[m]);
    return fio::list_line(items);
}

}  // namespace

float interval_luminosity(Run& run, float primordial_mass, float divisor) {
    BirthGrid& r = run.remind;
    const int nlam = r.nlam;
    const float* w = r.wave.data();
    float total = 0.0f;
    for (int j = 2; j <= r.icall; ++j) {
        const float dt = r.tbirth(j) - r.tbirth(j - 1);
        for (int c = 1; c <= r.ncom; ++c) {
            const float* f0 = r.flsspint.ptr(1, j - 1, c);
            const float* f1 = r.flsspint.ptr(1, j, c);
            float s = 0.0f;
            for (int l = 0; l < nlam - 1; ++l)
                s += (f1[l + 1] + f1[l] + f0[l + 1] + f0[l]) * (w[l + 1] - w[l]) * 0.25f;
            const float a = (r.sfrate(j - 1, c) + r.sfrate(j, c)) * 0.5f * dt * primordial_mass *
                            1e12f * s / divisor;
            r.alnorm(j, c) = a;
            total += a;
        }
    }
    return total;
}

CloudLuminosities cloud_extinction(Run& run, float primordial_mass) {
    CloudSetup& gp = run.glopalla;
    const CloudTypes& mc = run.mc_righe;
    BirthGrid& r = run.remind;
    const int n = mc.n_tau_mc;
    const int nlam = r.nlam;
    CloudLuminosities lum;

    // 8a. Luminosity of one cloud's share of the stars before the clouds.
    lum.lprima = interval_luminosity(run, primordial_mass, gp.ncloud);

    // 8b. Attenuation. ext(l, i): the light of type i's inside stars that leaves
    // one cloud, times the type's mass fraction.
    const float k1 = glopalla::mixpalla(run, 1.0f);
    if (!(k1 > 0.0f) || !std::isfinite(k1))
        throw Stop(fio::list_line(
            {"cloud model: the clouds' cross-section at 1 micron must be >0, mixpalla(1.0)=", k1}));
    Mat<float> ext(nlam, n);
    for (int l = 1; l <= nlam; ++l) {
        const float rl = glopalla::mixpalla(run, r.wave(l) / 1e4f) / k1;
        for (int i = 1; i <= n; ++i) {
            const float t = mc.tau_mc_arr(i) * rl;
            ext(l, i) = t < 30.0f ? std::exp(-t) * mc.f_mc_arr(i) : 0.0f;
        }
    }
    std::vector<float> wfac(static_cast<std::size_t>(nlam));
    for (int k = 1; k <= r.icall; ++k) {
        bool inside = false;
        for (int i = 1; i <= n; ++i) inside = inside || mc.nsoudin_arr(i) >= k;
        if (!inside) continue;  // older than the youngest steps: factor 1
        const int j = r.icall + 1 - k;
        for (int l = 1; l <= nlam; ++l) {
            float a = 0.0f, b = 0.0f;
            for (int i = 1; i <= n; ++i) {
                if (mc.nsoudin_arr(i) < k) continue;
                const float fs = mc.f_sources_arr(k, i);
                a += ext(l, i) * fs * mc.ldentro_old_arr(l, i);
                b += (1.0f - fs) * mc.f_mc_arr(i);
            }
            wfac[static_cast<std::size_t>(l - 1)] = a + b * mc.lfuori_old(l);
        }
        for (int c = 1; c <= r.ncom; ++c) {
            float* f = r.flsspint.ptr(1, j, c);
            for (int l = 0; l < nlam; ++l) f[l] *= wfac[static_cast<std::size_t>(l)];
        }
    }

    // 8c. After the clouds.
    gp.e2inpdiftru = gp.ncloud;
    lum.ldopo = interval_luminosity(run, primordial_mass, gp.e2inpdiftru);
    gp.e2inpdiftru = gp.ncloud * lum.ldopo;

    // 8d. Dust luminosity of one cloud: trapezoid over frequency.
    const int nf = gp.nlf;
    float s = 0.0f;
    if (nf >= 2) {
        const Vec<float>& x = gp.farr;
        const Vec<float>& y = gp.lumdus;
        for (int f = 2; f <= nf - 1; ++f) s += (x(f + 1) - x(f - 1)) * y(f);
        s += (x(nf) - x(nf - 1)) * y(nf) + (x(2) - x(1)) * y(1);
    }
    gp.lumdusbol30 = 0.5f * s;
    return lum;
}

void cloud_results(Run& run, const CloudLuminosities& lum) {
    CloudSetup& gp = run.glopalla;
    CloudTypes& mc = run.mc_righe;

    std::vector<std::string> rec;
    rec.push_back(fio::list_line({"ncloud,lumdus,lprima-ldopo,lprima,ldopo"}));
    rec.push_back(fio::write_line(
        "(5G15.5)", {gp.ncloud, gp.lumdusbol30, lum.lprima - lum.ldopo, lum.lprima, lum.ldopo}));
    rec.push_back(fio::list_line({"n_tau_mc=", mc.n_tau_mc, " numero tau e t0 per MC"}));
    rec.push_back(labelled_values("tau1=", mc.tau_mc_arr));
    if (gp.rmsr0_flag)
        rec.push_back(fio::list_line({"rcloud[pc]=", run.globals.rmax / 3.086e18f}));
    else
        rec.push_back(labelled_values("rcloud[pc]=", mc.r_mc_arr));
    rec.push_back(labelled_values("f_mc_arr=", mc.f_mc_arr));
    rec.push_back(labelled_values("t0_arr[Gyr]=", mc.t0_arr));
    runlog_append(run, rec);

    for (float& x : gp.lumdus.storage()) x *= gp.ncloud;
    for (float& x : run.globals.totepahtau.storage()) x *= gp.ncloud;

    mc.ldentro_arr.clear();
    mc.ldentro_old_arr.clear();
    mc.tau_mc_arr.clear();
    mc.lfuori.clear();
    mc.lfuori_old.clear();
    mc.mfuori.clear();
    mc.mdentro_arr.clear();
    mc.c_f_sources.clear();
    mc.nsoudin_arr.clear();
    mc.f_sources_arr.clear();
}

void stellar_spectra_after_clouds(Run& run, float primordial_mass) {
    CloudSetup& gp = run.glopalla;
    CloudTypes& mc = run.mc_righe;
    const BirthGrid& r = run.remind;

    gp.l_stamc.resize(r.nlam, r.ncom);
    gp.lumstamc.resize(gp.nlf, r.ncom);
    stellar_spectrum(run, primordial_mass, gp.l_stamc);
    // The same rebinning as the dust preparation's; it starts its window search
    // afresh, so the result does not depend on the guesses left in klo and khi.
    rebin_to_dust_grid(run, gp.l_stamc, gp.lumstamc);

    mc.r_mc_arr.clear();
    mc.f_mc_arr.clear();
    mc.t0_arr.clear();
    gp.somcom.clear();
    gp.f1com.clear();
    gp.f2com.clear();
    gp.flscom.clear();
    run.con.line(fio::list_line({"FATTO PALLANOLT96"}));
}

}  // namespace qv::pallanolt96_stages
