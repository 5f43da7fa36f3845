// Opacities and the direct field of the cloud solver.
#include "solver/opacities.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "core/run.h"
#include "dust/grain_optics.h"
#include "solver/central_source.h"

namespace qv {

namespace {

constexpr int NR = kSolverNr;
constexpr int NCT = kSolverNct;
constexpr int NNU = kSolverNnu;
constexpr int NSP = kSolverNsp;

// Angles above the mirror index take the values of angle 25 - ict with the
// equatorial symmetry, 0 without it; v(ir, ict, j) for j = lo..hi.
void mirror(const SolverState& g, FArray<float, 3>& v, int nr, int nct, int lo, int hi) {
    for (int j = lo; j <= hi; ++j)
        for (int ict = g.nctmez + 1; ict <= nct; ++ict) {
            float* dst = v.col(ict, j);
            if (g.simequ)
                std::copy_n(v.col(25 - ict, j), nr, dst);
            else
                std::fill_n(dst, nr, 0.0f);
        }
}

}  // namespace

void gensig(const Run& run, FArray<float, 3>& sig, const Mat<float>& rho, const Vec<float>& agra,
            const Vec<float>& ntil, const Vec<float>& rarr, const Mat<float>& rsgra, int nr, int nct,
            int nsp) {
    const SolverState& g = run.globals;
    const int m = g.nctmez < nct ? g.nctmez : nct;
    for (int k = 1; k <= nsp; ++k) {
        const float c = 3.141593f * (agra(k) * agra(k)) * 1e12f;
        for (int ict = 1; ict <= m; ++ict)
            for (int ir = 1; ir <= nr; ++ir)
                sig(ir, ict, k) = rarr(ir) > rsgra(ict, 1 + k) ? c * rho(ir, ict) * ntil(k) : 0.0f;
    }
    mirror(g, sig, nr, nct, 1, nsp);
}

void genalf(Run& run, int mode) {
    SolverState& g = run.globals;
    const int m = g.nctmez;
    // The PAH term per unit dust density at each frequency (0 outside its window).
    std::array<float, NNU> pah{};
    if (mode == 2) {
        const SolverPahBands& p = run.glopahtau;
        for (int nu = 1; nu <= NNU; ++nu) {
            const float lam = 3e14f / std::pow(10.0f, g.lfarr(nu));
            if (lam > 0.05f && lam < 0.5f)
                pah[nu - 1] = sigma_pah_c(lam) * p.nc1 * 4836.0f * p.xx / run.taumix.dsug / 1.673e-24f;
        }
    }
    // The grains' sum over the species in their order, a column of radii at a time.
    for (int nu = 1; nu <= NNU; ++nu)
        for (int ict = 1; ict <= m; ++ict) {
            float* a = g.alfarr.col(ict, nu);
            for (int ir = 0; ir < NR; ++ir) a[ir] = 0.0f;
            for (int k = 1; k <= NSP; ++k) {
                const float qe = g.qearr(nu, k);
                const float* sig = g.sigarr.col(ict, k);
                for (int ir = 0; ir < NR; ++ir) a[ir] += qe * sig[ir] / 1e20f;
            }
            if (pah[nu - 1] != 0.0f) {
                const float* rho = g.rhoarr.col(ict);
                for (int ir = 0; ir < NR; ++ir) a[ir] += pah[nu - 1] * rho[ir];
            }
        }
    mirror(g, g.alfarr, NR, NCT, 1, NNU);
}

void gentau(Run& run) {
    SolverState& g = run.globals;
    const float* r = g.rarr.data();
    for (int nu = 1; nu <= NNU; ++nu)
        for (int ict = 1; ict <= g.nctmez; ++ict) {
            const float* a = g.alfarr.col(ict, nu);
            float* t = g.tauarr.col(ict, nu);
            t[0] = 0.0f;
            for (int i = 1; i < NR; ++i) t[i] = t[i - 1] + 0.5f * (r[i] - r[i - 1]) * (a[i - 1] + a[i]);
        }
    mirror(g, g.tauarr, NR, NCT, 1, NNU);
}

void genjn(Run& run) {
    SolverState& g = run.globals;
    const int nct = g.simsfe ? 1 : NCT;
    const float pi4 = 4.0f * 3.141593f;
    for (int nu = 1; nu <= NNU; ++nu) {
        const float lf = g.lfarr(nu);
        for (int ict = 1; ict <= nct; ++ict) {
            const float* tau = g.tauarr.col(ict, nu);
            float* jn = g.jnarr.col(ict, nu);
            float* j[3] = {g.jarr.col(ict, nu, 0), g.jarr.col(ict, nu, 1), g.jarr.col(ict, nu, 2)};
            const float* jd[3] = {g.jdarr.col(ict, nu, 0), g.jdarr.col(ict, nu, 1), g.jdarr.col(ict, nu, 2)};
            for (int ir = 1; ir <= NR; ++ir) {
                const int i = ir - 1;
                const float v = ajn(run, g.rarr(ir), g.ctarr(ict), lf) * std::exp(-tau[i]);
                jn[i] = v;
                j[0][i] = jd[0][i] + v;
                for (int d = 1; d <= 2; ++d) j[d][i] = jd[d][i] + 0.25f * (pi4 * v) / g.omespi(d);
            }
        }
        if (g.simsfe)
            for (int ict = 2; ict <= NCT; ++ict) {
                std::copy_n(g.jnarr.col(1, nu), NR, g.jnarr.col(ict, nu));
                for (int d = 0; d <= 2; ++d) std::copy_n(g.jarr.col(1, nu, d), NR, g.jarr.col(ict, nu, d));
            }
    }
}

void inif(FArray<float, 3>& farr, const FArray<float, 3>& jnarr, int nr, int nct, int nnu) {
    for (int k = 1; k <= nnu; ++k)
        for (int ict = 1; ict <= nct; ++ict)
            for (int ir = 1; ir <= nr; ++ir) farr(ir, ict, k) = 4.0f * 3.141593f * jnarr(ir, ict, k);
}

}  // namespace qv
