#include "dust/cirrus_light.h"

#include <cmath>

#include "core/run.h"
#include "io/format.h"
#include "numerics/search.h"

namespace qv::cirrus {

int cloud_component(const Run& run) {
    return (run.remind.ncom >= 2 && run.glotauspe.bsut == 1.0f) ? 2 : 1;
}

void stellar_mass_per_interval(Run& run, int c) {
    const BirthGrid& r = run.remind;
    Vec<float>& m = run.cirrus.MSSPTZ;
    const float fac = 1e12f * r.primordial_mass * 0.5f;
    for (int k = 2; k <= r.icall; ++k)
        m(k) = fac * (r.sfrate(k - 1, c) + r.sfrate(k, c)) * (r.tbirth(k) - r.tbirth(k - 1));
}

void starlight_on_dust_grid(Run& run) {
    const BirthGrid& r = run.remind;
    const CloudSetup& gp = run.glopalla;
    CirrusRun& cr = run.cirrus;
    const int nlf = gp.nlf, nlam = r.nlam;
    const float* wave = r.wave.data();  // wave(i) = wave[i - 1]
    for (int c = 1; c <= r.ncom; ++c) {
        stellar_mass_per_interval(run, c);
        const float* mass = cr.MSSPTZ.data();  // MSSPTZ(k) = mass[k - 1]
        // The window brackets are kept from one grid point to the next as guesses.
        int g1 = 0, g2 = 0;
        for (int e = 1; e <= nlf; ++e) {
            const float w = gp.ws(e);
            float acc = 0.0f;
            hunt(wave, nlam, 0.97f * w, g1);
            int j1 = g1 < 1 ? 1 : g1;
            hunt(wave, nlam, 1.03f * w, g2);
            const int j2 = g2;
            const bool narrow = j2 - j1 < 3;
            if (narrow && j1 > nlam - 1) j1 = nlam - 1;
            for (int k = 2; k <= r.icall; ++k) {
                const float* f = r.flsspint.ptr(1, k, c);      // f[i - 1] = flsspint(i, k, c)
                const float* g = r.flsspint.ptr(1, k - 1, c);  // g[i - 1] = flsspint(i, k - 1, c)
                float value;
                if (narrow) {
                    if (f[j1 - 1] < 0.0f) run.con.line(fio::list_line({" PROBLEMINO", j1, k, c, f[j1 - 1]}));
                    const float m1 = 0.5f * (f[j1 - 1] + 1e-30f + g[j1 - 1]);
                    const float m2 = 0.5f * (f[j1] + 1e-30f + g[j1]);
                    const float y1 = m1 > 0.0f ? std::log10(m1) : -30.0f;
                    const float y2 = m2 > 0.0f ? std::log10(m2) : -30.0f;
                    const float x0 = wave[j1 - 1], x1 = wave[j1];
                    value = std::pow(10.0f, y1 + (y2 - y1) * (w - x0) / (x1 - x0));
                } else {
                    float sum = 0.0f;
                    for (int i = j1; i <= j2 - 1; ++i)
                        sum += 0.25f * (g[i - 1] + g[i] + f[i - 1] + f[i]) * (wave[i] - wave[i - 1]);
                    value = sum / (wave[j2 - 1] - wave[j1 - 1]);
                }
                acc += value * mass[k - 1];
            }
            cr.FORMASTA(e, c) = acc;
        }
    }
}

void cloud_light_on_dust_grid(Run& run) {
    const CloudSetup& gp = run.glopalla;
    CirrusRun& cr = run.cirrus;
    const int nlf = gp.nlf;
    for (int i = 1; i <= nlf; ++i) {
        const float w = gp.ws(i);
        cr.LUMMC(i) = 3e18f * gp.lumdus(nlf + 1 - i) / (w * w);
    }
    if (run.modname.pahflag) {
        // Each pass computes its 24 values from the spectrum before the pass and
        // then stores them in band order (a later band wins a shared point).
        const Vec<int>& idx = run.glopah.indpah;
        const Vec<float>& tot = run.globals.totepahtau;
        for (int off : {0, 1, -1}) {
            float v[kPahBands];
            for (int k = 1; k <= kPahBands; ++k) v[k - 1] = cr.LUMMC(idx(k) + off) + tot(k);
            for (int k = 1; k <= kPahBands; ++k) cr.LUMMC(idx(k) + off) = v[k - 1];
        }
    }
    for (int i = 1; i <= nlf; ++i) cr.FORMAMC(i) = cr.LUMMC(i);
}

void light_entering_cirrus(Run& run) {
    CirrusRun& cr = run.cirrus;
    const int nlf = run.glopalla.nlf;
    for (int c = 1; c <= run.remind.ncom; ++c)
        for (int i = 1; i <= nlf; ++i) cr.FORMA(i, c) = cr.FORMASTA(i, c);
    const int cmc = cloud_component(run);
    for (int i = 1; i <= nlf; ++i) cr.FORMA(i, cmc) += cr.LUMMC(i);
}

void light_on_dust_grid(Run& run) {
    starlight_on_dust_grid(run);
    cloud_light_on_dust_grid(run);
    light_entering_cirrus(run);
}

void cross_sections(Run& run) {
    const CloudSetup& gp = run.glopalla;
    const PahBands& pah = run.glopah;
    CirrusRun& cr = run.cirrus;
    const bool pahflag = run.modname.pahflag;
    for (int i = 1; i <= gp.nlf; ++i) {
        const float lam = gp.ws(i) * 1e-4f;
        float t = mix::mixcold(run, lam);
        cr.TXY1(i) = gp.klama != 0.0f ? t / gp.klama : 0.0f;  // 0 for dust-free cirrus
        t = t / 1.673e-24f;
        if (pahflag && lam > 0.05f && lam < 0.5f) t += sigma_pah_c(lam) * pah.nc1 * 4836.0f * pah.xx / 1.673e-24f;
        cr.TXY(i) = 2e33f * t / 3.086e18f / 3.086e18f;
    }
}

void grain_efficiencies(Run& run) {
    const CloudSetup& gp = run.glopalla;
    CirrusRun& cr = run.cirrus;
    Mat<float>& qabsw = run.tequi.qabsw;
    const int isca = run.remind.isca;
    for (int j = 1; j <= 40; ++j) {
        const float a = run.mix.agra(j);
        for (int i = 1; i <= gp.nlf; ++i) {
            const float lam = gp.ws(i) * 1e-4f;
            if (j <= 20) {
                qabsw(i, j) = q_gra_81(run, lam, a, 0);
                cr.QEFFW(i, j) = q_gra_81(run, lam, a, isca);
            } else {
                qabsw(i, j) = q_sil_81(run, lam, a, 0);
                cr.QEFFW(i, j) = q_sil_81(run, lam, a, isca);
            }
        }
    }
}

}  // namespace qv::cirrus
