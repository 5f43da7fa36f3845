// A small galaxy for the cloud model: a few birth times and SSP wavelengths,
// one component unless asked, a short dust grid, the clouds' grain mixture from
// the plane grain tables, and cloud types filled by hand. Everything the cloud
// model reads is set here as the synthesis and the dust preparation would leave it.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "clouds/cloud_extinction.h"
#include "clouds/young_stars.h"
#include "core/run.h"
#include "dust/grain_fixture.h"
#include "dust/grain_mix.h"
#include "support/test_support.h"

namespace qv::test {

inline constexpr float kPm = 0.01f;  // primordial mass, 1e12 solar masses
inline const std::string kLogHead = " USEFUL CHECKING NUMBERS FOLLOW";

// Double-precision views of the arrays, for the tests' reference sums.
struct Dbl {
    const Run& run;
    double tb(int j) const { return run.remind.tbirth(j); }
    double dt(int j) const { return tb(j) - tb(j - 1); }
    double sf(int j, int c) const { return run.remind.sfrate(j, c); }
    double fl(int l, int j, int c) const { return run.remind.flsspint(l, j, c); }
    double w(int l) const { return run.remind.wave(l); }
    double fs(int k, int i) const { return run.mc_righe.f_sources_arr(k, i); }
    double ld(int l, int i, int b) const { return run.mc_righe.ldentro_arr(l, i, b); }
    double md(int i, int b) const { return run.mc_righe.mdentro_arr(i, b); }
    double ncloud() const { return run.glopalla.ncloud; }
};

struct CloudRun {
    TempDir tmp;
    CapturedConsole cc;
    Run run{cc.con};

    // tbirth ascending; the galaxy's age is the last birth time unless tgal is given.
    explicit CloudRun(const std::vector<float>& tbirth,
                      const std::vector<float>& wave = {1500.0f, 3000.0f, 6000.0f, 12000.0f, 24000.0f},
                      int ncom = 1, float tgal = -1.0f) {
        write_text(tmp.file("m.par"), "MAIN\nistarfo   0\n" + MixKeys().text("MIXMOL"));
        write_text(tmp.file("m.out"), kLogHead + "\n");
        run.modname.name = "m";
        run.modname.name_res = "m";
        run.modname.name_dir = plane_grain_dir();
        run.mix.dsug = 0.0089f;
        run.parametri.tgal = tgal >= 0.0f ? tgal : tbirth.back();

        BirthGrid& r = run.remind;
        r.nlam = static_cast<int>(wave.size());
        r.wave.resize(r.nlam);
        for (int l = 1; l <= r.nlam; ++l) r.wave(l) = wave[static_cast<std::size_t>(l - 1)];
        r.icall = static_cast<int>(tbirth.size());
        r.nz = r.icall + 3;  // the arrays hold more birth times than are used
        r.ncom = ncom;
        r.primordial_mass = kPm;
        r.tbirth.resize(r.nz);
        r.sfrate.resize(r.nz, ncom);
        r.flsspint.resize(r.nlam, r.nz, ncom);
        r.alnorm.resize(r.nz, ncom);
        for (int j = 1; j <= r.icall; ++j) {
            r.tbirth(j) = tbirth[static_cast<std::size_t>(j - 1)];
            for (int c = 1; c <= ncom; ++c) {
                r.sfrate(j, c) = 1.0f + 0.25f * static_cast<float>(j % 7) + 0.5f * static_cast<float>(c);
                for (int l = 1; l <= r.nlam; ++l)
                    r.flsspint(l, j, c) = (3.0f + static_cast<float>((j * 5 + l * 3) % 11)) /
                                          static_cast<float>(l) * static_cast<float>(c);
            }
        }

        CloudSetup& gp = run.glopalla;
        gp.mmol = 1.0e-3f;
        gp.mcloud = 1.0e6f;
        gp.ncloud = gp.mmol / gp.mcloud * 1e12f;  // 1000 clouds
        gp.tau1 = 1.0f;
        gp.vout = 200.0f;
        gp.hiiflag = false;
        dust_grid(8);

        types({16.0f}, {1.0f}, {0.003f});
    }

    // An equally spaced dust grid from 1e-4 to 3 micron-ish frequencies, as the dust
    // preparation leaves it, with the spectra after the clouds zeroed.
    void dust_grid(int nlf) {
        CloudSetup& gp = run.glopalla;
        const BirthGrid& r = run.remind;
        gp.nlf = nlf;
        gp.lfarr.resize(nlf);
        gp.farr.resize(nlf);
        gp.ws.resize(nlf);
        for (int i = 1; i <= nlf; ++i) {
            gp.lfarr(i) = 14.0f + 1.2f * static_cast<float>(i - 1) / static_cast<float>(nlf - 1);
            gp.farr(i) = std::pow(10.0f, gp.lfarr(i));
        }
        for (int i = 1; i <= nlf; ++i) gp.ws(nlf + 1 - i) = 3e18f / gp.farr(i);
        gp.lumdus.resize(nlf);
        gp.l_sta.resize(r.nlam, r.ncom);
        gp.l_stamc.resize(r.nlam, r.ncom);
        gp.lumsta.resize(nlf, r.ncom);
        gp.lumstamc.resize(nlf, r.ncom);
        for (Vec<float>* v : {&gp.somcom, &gp.f1com, &gp.f2com, &gp.flscom}) v->resize(r.ncom);
    }

    void types(const std::vector<float>& radius, const std::vector<float>& frac,
               const std::vector<float>& t0) {
        CloudTypes& mc = run.mc_righe;
        mc.n_tau_mc = static_cast<int>(radius.size());
        mc.r_mc_arr.resize(mc.n_tau_mc);
        mc.f_mc_arr.resize(mc.n_tau_mc);
        mc.t0_arr.resize(mc.n_tau_mc);
        for (int i = 1; i <= mc.n_tau_mc; ++i) {
            const auto k = static_cast<std::size_t>(i - 1);
            mc.r_mc_arr(i) = radius[k];
            mc.f_mc_arr(i) = frac[k];
            mc.t0_arr(i) = t0[k];
        }
    }

    // Stages 1 to 6 by hand for the extinction: the per-type arrays, optical
    // depths and inside shares given, both HII factors 1.
    template <class Share>
    void embed(const std::vector<float>& tau, Share share) {
        using namespace pallanolt96_stages;
        cloud_arrays_allocate(run);
        CloudTypes& mc = run.mc_righe;
        const int ns = std::min(run.remind.icall, max_steps);
        for (int i = 1; i <= mc.n_tau_mc; ++i) {
            mc.tau_mc_arr(i) = tau[static_cast<std::size_t>(i - 1)];
            mc.nsoudin_arr(i) = ns;
            for (int k = 1; k <= ns; ++k) mc.f_sources_arr(k, i) = share(k, i);
        }
        mc.ldentro_old_arr.fill(1.0f);
        mc.lfuori_old.fill(1.0f);
    }

    // r(l): the clouds' extinction at SSP wavelength l relative to 1 micron.
    float rel_ext(int l) {
        return glopalla::mixpalla(run, run.remind.wave(l) / 1e4f) / glopalla::mixpalla(run, 1.0f);
    }

    std::vector<float> flsspint_copy() const { return run.remind.flsspint.storage(); }

    // The lines the run appended to its log.
    std::vector<std::string> log_added() const {
        std::vector<std::string> l = read_lines(tmp.file("m.out"));
        EXPECT_FALSE(l.empty());
        if (!l.empty()) {
            EXPECT_EQ(l.front(), kLogHead);
            l.erase(l.begin());
        }
        return l;
    }
};

}  // namespace qv::test
