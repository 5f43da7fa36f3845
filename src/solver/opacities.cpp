// Opacities and the direct field of the cloud solver.
#include "solver/opacities.h"

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
        for (int ict = g.nctmez + 1; ict <= nct; ++ict)
            for (int ir = 1; ir <= nr; ++ir) v(ir, ict, j) = g.simequ ? v(ir, 25 - ict, j) : 0.0f;
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
    for (int nu = 1; nu <= NNU; ++nu) {
        for (int ict = 1; ict <= m; ++ict)
            for (int ir = 1; ir <= NR; ++ir) {
                float a = 0.0f;
                for (int k = 1; k <= NSP; ++k) a += g.qearr(nu, k) * g.sigarr(ir, ict, k) / 1e20f;
                if (pah[nu - 1] != 0.0f) a += pah[nu - 1] * g.rhoarr(ir, ict);
                g.alfarr(ir, ict, nu) = a;
            }
    }
    mirror(g, g.alfarr, NR, NCT, 1, NNU);
}

void gentau(Run& run) {
    SolverState& g = run.globals;
    for (int nu = 1; nu <= NNU; ++nu)
        for (int ict = 1; ict <= g.nctmez; ++ict) {
            g.tauarr(1, ict, nu) = 0.0f;
            for (int ir = 2; ir <= NR; ++ir)
                g.tauarr(ir, ict, nu) = g.tauarr(ir - 1, ict, nu) + 0.5f * (g.rarr(ir) - g.rarr(ir - 1)) *
                                                                        (g.alfarr(ir - 1, ict, nu) + g.alfarr(ir, ict, nu));
        }
    mirror(g, g.tauarr, NR, NCT, 1, NNU);
}

void genjn(Run& run) {
    SolverState& g = run.globals;
    const int nct = g.simsfe ? 1 : NCT;
    const float pi4 = 4.0f * 3.141593f;
    for (int nu = 1; nu <= NNU; ++nu) {
        const float lf = g.lfarr(nu);
        for (int ict = 1; ict <= nct; ++ict)
            for (int ir = 1; ir <= NR; ++ir) {
                const float jn = ajn(run, g.rarr(ir), g.ctarr(ict), lf) * std::exp(-g.tauarr(ir, ict, nu));
                g.jnarr(ir, ict, nu) = jn;
                g.jarr(ir, ict, nu, 0) = g.jdarr(ir, ict, nu, 0) + jn;
                for (int d = 1; d <= 2; ++d)
                    g.jarr(ir, ict, nu, d) = g.jdarr(ir, ict, nu, d) + 0.25f * (pi4 * jn) / g.omespi(d);
            }
        if (g.simsfe)
            for (int ict = 2; ict <= NCT; ++ict)
                for (int ir = 1; ir <= NR; ++ir) {
                    g.jnarr(ir, ict, nu) = g.jnarr(ir, 1, nu);
                    for (int d = 0; d <= 2; ++d) g.jarr(ir, ict, nu, d) = g.jarr(ir, 1, nu, d);
                }
    }
}

void inif(FArray<float, 3>& farr, const FArray<float, 3>& jnarr, int nr, int nct, int nnu) {
    for (int k = 1; k <= nnu; ++k)
        for (int ict = 1; ict <= nct; ++ict)
            for (int ir = 1; ir <= nr; ++ir) farr(ir, ict, k) = 4.0f * 3.141593f * jnarr(ir, ict, k);
}

}  // namespace qv
