#include "clouds/young_stars.h"

#include <cmath>
#include <new>
#include <stdexcept>
#include <string>

#include "clouds/cloud_dust_emission.h"
#include "clouds/cloud_extinction.h"
#include "clouds/hii_library.h"
#include "clouds/hii_regions.h"
#include "core/run.h"
#include "core/run_names.h"
#include "core/stop.h"
#include "io/format.h"

namespace qv {

namespace pallanolt96_stages {

namespace {

[[noreturn]] void stop_on_value(const std::string& what, float v) {
    throw Stop(fio::list_line({what, v}));
}

}  // namespace

int age_bin_count() {
    const float q = CloudSetup::t_hii / CloudSetup::dt_hii + 1.0f;
    return static_cast<int>(q);
}

int age_bin(float t_last, float tb, int nbins) {
    const float q = (t_last - tb) / CloudSetup::dt_hii + 1.0f;
    // Compared before the conversion so that no value can overflow it.
    if (!(q >= 1.0f) || !(q < static_cast<float>(nbins + 1))) return 0;
    return static_cast<int>(q);
}

void cloud_arrays_allocate(Run& run) {
    CloudSetup& gp = run.glopalla;
    CloudTypes& mc = run.mc_righe;
    const BirthGrid& r = run.remind;

    // The cloud mass and number enter as divisors and as the clouds' optical
    // depth: a value that is not positive and finite would spread through every
    // spectrum as an infinity or NaN.
    if (!(gp.mcloud > 0.0f) || !std::isfinite(gp.mcloud))
        stop_on_value("cloud model: the mass of one cloud must be >0, mcloud=", gp.mcloud);
    if (!(gp.ncloud > 0.0f) || !std::isfinite(gp.ncloud))
        stop_on_value("cloud model: the number of clouds must be >0, ncloud=", gp.ncloud);
    const int n = mc.n_tau_mc;
    if (n < 1 || mc.r_mc_arr.extent() != n || mc.f_mc_arr.extent() != n || mc.t0_arr.extent() != n)
        throw Stop(fio::list_line({"cloud model: the cloud types are not read, n_tau_mc=", n}));

    gp.ndt_hii = age_bin_count();
    const int nd = gp.ndt_hii;
    const int nlam = r.nlam;
    try {
        mc.ldentro_arr.reshape({Bounds{1, nlam}, Bounds{1, n}, Bounds{0, nd}});
        mc.ldentro_old_arr.resize(nlam, n);
        mc.mfuori.reshape({Bounds{0, nd}});
        mc.lfuori.reshape({Bounds{1, nlam}, Bounds{0, nd}});
        mc.lfuori_old.resize(nlam);
        mc.tau_mc_arr.resize(n);
        mc.mdentro_arr.reshape({Bounds{1, n}, Bounds{0, nd}});
        mc.c_f_sources.resize(n);
        mc.nsoudin_arr.resize(n);
        mc.f_sources_arr.resize(max_steps, n);
    } catch (const std::bad_alloc&) {
        throw Stop(fio::list_line({"ALLOCATION ERROR IN QVMOL"}));
    } catch (const std::length_error&) {
        throw Stop(fio::list_line({"ALLOCATION ERROR IN QVMOL"}));
    }
}

void inside_fractions(Run& run) {
    CloudSetup& gp = run.glopalla;
    CloudTypes& mc = run.mc_righe;
    const BirthGrid& r = run.remind;
    const int n = mc.n_tau_mc;
    const float tgal = run.parametri.tgal;

    // With several types each escapes at 1/t0 of its own; a t0 of 0 would make
    // that rate infinite, a negative one an inside share above 1. With one type
    // the escape rate of the par file must be finite and not negative for the
    // same reasons.
    for (int i = 1; i <= n; ++i) {
        const float t0 = mc.t0_arr(i);
        if (!std::isfinite(t0) || (n > 1 && !(t0 > 0.0f)))
            stop_on_value("cloud model: the escape age of cloud type " + std::to_string(i) +
                              " must be >0 with several types, t0_arr=",
                          t0);
    }
    if (n == 1 && (!(gp.vout >= 0.0f) || !std::isfinite(gp.vout)))
        stop_on_value("cloud model: the escape rate must be finite and >=0, vout=", gp.vout);

    for (int i = 1; i <= n; ++i) {
        if (n > 1) gp.vout = 1.0f / mc.t0_arr(i);
        const float t0 = mc.t0_arr(i);
        const float vout = gp.vout;
        float* fs = mc.f_sources_arr.col(i);
        for (int j = r.icall, k = 1; j >= 1 && k <= max_steps; --j, ++k) {
            const float a = tgal - r.tbirth(j);
            mc.nsoudin_arr(i) = k;
            float f = 1.0f;
            if (!(a < t0)) {
                f = 1.0f - (a - t0) * vout;
                if (f <= 0.0f) f = 0.0f;
            }
            fs[k - 1] = f;
        }
    }
}

void inside_spectra(Run& run, float primordial_mass) {
    const CloudSetup& gp = run.glopalla;
    CloudTypes& mc = run.mc_righe;
    const BirthGrid& r = run.remind;
    const int n = mc.n_tau_mc;
    const int nd = gp.ndt_hii;
    const int nlam = r.nlam;
    const int icall = r.icall;
    if (icall < 2) return;  // no birth interval: everything stays 0
    const float t_last = r.tbirth(icall);

    for (int i = 1; i <= n; ++i) {
        const float fmc = mc.f_mc_arr(i);
        if (!(fmc > 0.0f)) continue;
        const int ns = mc.nsoudin_arr(i);
        float* l0 = mc.ldentro_arr.ptr(1, i, 0);
        for (int j = icall - ns + 2; j <= icall; ++j) {
            const int k = icall + 1 - j;
            const float dt = r.tbirth(j) - r.tbirth(j - 1);
            const float fk = mc.f_sources_arr(k, i);
            const float fk1 = mc.f_sources_arr(k + 1, i);
            const int b = age_bin(t_last, r.tbirth(j), nd);
            float* lb = b > 0 ? mc.ldentro_arr.ptr(1, i, b) : nullptr;
            for (int l = 1; l <= nlam; ++l) {
                float s = 0.0f;
                for (int c = 1; c <= r.ncom; ++c)
                    s += r.sfrate(j, c) * r.flsspint(l, j, c) * fk +
                         r.sfrate(j - 1, c) * r.flsspint(l, j - 1, c) * fk1;
                const float inc = dt * s;
                l0[l - 1] += inc;
                if (lb) lb[l - 1] += inc;
            }
            if (t_last - r.tbirth(j) < CloudSetup::t_hii) {
                float s = 0.0f;
                for (int c = 1; c <= r.ncom; ++c) s += r.sfrate(j, c) * fk + r.sfrate(j - 1, c) * fk1;
                const float inc = dt * s * fmc;
                mc.mdentro_arr(i, 0) += inc;
                if (b > 0) mc.mdentro_arr(i, b) += inc;
            }
        }
        // The 0.5 completes the trapezoid rule; each type's entries are scaled once.
        for (int b = 0; b <= nd; ++b) {
            float* lb = mc.ldentro_arr.ptr(1, i, b);
            for (int l = 0; l < nlam; ++l) lb[l] = lb[l] * primordial_mass * 1e12f * 0.5f;
            mc.mdentro_arr(i, b) = mc.mdentro_arr(i, b) * primordial_mass * 1e12f * 0.5f;
        }
    }
}

void escaped_spectra(Run& run, float primordial_mass) {
    CloudTypes& mc = run.mc_righe;
    const BirthGrid& r = run.remind;
    const int n = mc.n_tau_mc;
    const int nd = run.glopalla.ndt_hii;
    const int nlam = r.nlam;
    const int icall = r.icall;
    if (icall < 2) return;  // no birth interval: nothing has left
    const float t_last = r.tbirth(icall);
    for (int j = 2; j <= icall; ++j) {
        const int k = icall + 1 - j;
        // The escaped weight of step k serves both ends of the interval.
        for (int i = 1; i <= n; ++i)
            mc.c_f_sources(i) = k <= mc.nsoudin_arr(i) ? (1.0f - mc.f_sources_arr(k, i)) * mc.f_mc_arr(i) : 0.0f;
        const float dt = r.tbirth(j) - r.tbirth(j - 1);
        const int b = age_bin(t_last, r.tbirth(j), nd);
        float* l0 = mc.lfuori.ptr(1, 0);
        float* lb = b > 0 ? mc.lfuori.ptr(1, b) : nullptr;
        for (int l = 1; l <= nlam; ++l) {
            float s = 0.0f;
            for (int c = 1; c <= r.ncom; ++c)
                s += r.sfrate(j, c) * r.flsspint(l, j, c) + r.sfrate(j - 1, c) * r.flsspint(l, j - 1, c);
            float inc = 0.0f;
            for (int i = 1; i <= n; ++i) inc += mc.c_f_sources(i) * dt * s;
            l0[l - 1] += inc;
            if (lb) lb[l - 1] += inc;
        }
        float s = 0.0f;
        for (int c = 1; c <= r.ncom; ++c) s += r.sfrate(j, c) + r.sfrate(j - 1, c);
        float inc = 0.0f;
        for (int i = 1; i <= n; ++i) inc += mc.c_f_sources(i) * dt * s;
        mc.mfuori(0) += inc;
        if (b > 0) mc.mfuori(b) += inc;
    }
    for (float& x : mc.lfuori.storage()) x = x * primordial_mass * 1e12f * 0.5f;
    for (float& x : mc.mfuori.storage()) x = x * primordial_mass * 1e12f * 0.5f;
}

void hii_regions(Run& run, float primordial_mass, float zgas) {
    CloudTypes& mc = run.mc_righe;
    if (!run.glopalla.hiiflag) {
        mc.ldentro_old_arr.fill(1.0f);
        mc.lfuori_old.fill(1.0f);
        return;
    }
    run.con.line(fio::list_line({"Computing HII regions emission."}));
    mc_righe::read_file_lin(run);
    escaped_spectra(run, primordial_mass);
    hiitot(run, zgas, upto_blank(run.modname.name));
    run.con.line(fio::list_line({"HII regions computation completed."}));
}

void per_cloud(Run& run) {
    CloudTypes& mc = run.mc_righe;
    const float ncloud = run.glopalla.ncloud;
    for (float& x : mc.ldentro_arr.storage()) x = x / ncloud;
    for (float& x : mc.lfuori.storage()) x = x / ncloud;
}

}  // namespace pallanolt96_stages

void pallanolt96(Run& run, float primordial_mass, float zgas) {
    using namespace pallanolt96_stages;
    if (run.glopalla.mmol > 0.0f) {
        cloud_arrays_allocate(run);                    // 1
        mc_righe::set_mc_arr(run);                     // 2
        inside_fractions(run);                         // 3
        inside_spectra(run, primordial_mass);          // 4
        hii_regions(run, primordial_mass, zgas);       // 5
        per_cloud(run);                                // 6
        if (run.parametri.emiflag) cloud_dust_emission(run);  // 7
        const CloudLuminosities lum = cloud_extinction(run, primordial_mass);  // 8
        cloud_results(run, lum);                       // 9
    }
    stellar_spectra_after_clouds(run, primordial_mass);  // 10
}

}  // namespace qv
