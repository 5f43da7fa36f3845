#include "solver/dust_geometry.h"

#include <cmath>
#include <string>
#include <vector>

#include "core/run.h"
#include "core/stop.h"
#include "io/format.h"
#include "numerics/quadrature.h"
#include "numerics/search.h"
#include "solver/solver_grains.h"
#include "solver/solver_state.h"

namespace qv {

bool theta_out(const SolverState& g, float theta) {
    return theta < g.cthe1 || theta > 3.141593f - g.cthe1;
}

float rhomod(float r, float theta, float rho1, float r1, float alpha, float beta, int /*irho*/) {
    return rho1 * std::pow(r1 / r, beta) * std::exp(-alpha * std::fabs(std::cos(theta)));
}

void genrho(SolverState& g) {
    for (int ict = 1; ict <= kSolverNct; ++ict) {
        for (int ir = 1; ir <= kSolverNr; ++ir) {
            float rho;
            if (ict <= g.nctmez)
                rho = theta_out(g, g.ctarr(ict))
                          ? 0.0f
                          : rhomod(g.rarr(ir), g.ctarr(ict), g.rho1, g.r1, g.alpha, g.beta, g.irho);
            else
                rho = g.simequ ? g.rhoarr(ir, kSolverNct + 1 - ict) : 0.0f;
            g.rhoarr(ir, ict) = rho;
        }
    }
}

float rhoint(const Run& run, float r) {
    const SolverState& g = run.globals;
    return rhomod(r, run.protau.theta, g.rho1, g.r1, g.alpha, g.beta, g.irho);
}

void taurad(Run& run, float lf, float theta, float /*cthe1*/, const Vec<float>& ctarr,
            const Vec<float>& agra, const Vec<float>& dgra, const Vec<float>& xgra,
            const Mat<float>& rsgra, int nsp, int ngr, int nct, float& tau) {
    const SolverState& g = run.globals;
    tau = 0.0f;
    run.protau.theta = theta;
    if (theta_out(g, theta)) return;
    for (int k = 1; k <= nsp; ++k) {
        const float q = qa(run, lf, k, agra, nsp, ngr) + qs(run, lf, k, agra, nsp, ngr);
        const float rin = nr_kelu::liin_s(run.nr_kelu, ctarr.data(), rsgra.col(1 + k), nct, theta);
        const float ra = std::max(rin, g.r0);
        // A species whose inner edge lies at or beyond the outer radius holds no dust
        // along this direction.
        if (!(ra < g.rmax)) continue;
        const float integral =
            qtrap(run.con, [&run](float r) { return rhoint(run, r); }, ra, g.rmax, 0.001f);
        tau = tau + q * 7500.0f * xgra(k) * integral / agra(k) / dgra(k);
    }
}

float taurad_reference(Run& run) {
    SolverState& g = run.globals;
    float tau = 0.0f;
    taurad(run, std::log10(3.0e14f / g.altau), 1.5707964f, g.cthe1, g.ctarr, run.taumix.agra,
           run.taumix.dgra, run.taumix.xgra, g.rsgra, kSolverNsp, kSolverNgr, kSolverNct, tau);
    return tau;
}

void shape_factor(SolverState& g) {
    float mu[kSolverNct + 1];
    for (int j = 1; j <= kSolverNct; ++j) mu[j] = std::cos(g.ctarr(j));
    float ni[kSolverNr + 1], di[kSolverNr + 1];
    for (int i = 1; i <= kSolverNr; ++i) {
        float n = 0.0f, d = 0.0f;
        for (int j = 1; j <= kSolverNct - 1; ++j) {
            const float r0 = g.rhoarr(i, j), r1 = g.rhoarr(i, j + 1);
            const float dmu = mu[j + 1] - mu[j];
            n += (mu[j] * mu[j] * r0 + mu[j + 1] * mu[j + 1] * r1) * dmu;
            d += (r0 + r1) * dmu;
        }
        ni[i] = n;
        di[i] = d;
    }
    float n = 0.0f, d = 0.0f;
    for (int i = 1; i <= kSolverNr - 1; ++i) {
        const float dr = g.rarr(i + 1) - g.rarr(i);
        n += dr * (ni[i] + ni[i + 1]);
        d += dr * (di[i] + di[i + 1]);
    }
    if (d != 0.0f) g.shafac = n / d;
}

namespace {

void push(SolverLines& log, std::vector<std::string> records) {
    for (std::string& l : records) log.push_back(std::move(l));
}

[[noreturn]] void no_depth(float tau) {
    throw Stop(std::vector<std::string>{
        fio::list_line({" optical depth of the dust at the reference wavelength =", tau}),
        " the dust has no optical depth there: no density gives TAUE"});
}

}  // namespace

void normalise_density(Run& run, SolverLines& log) {
    SolverState& g = run.globals;
    if (!(g.taue > 0.0f))
        throw Stop(std::vector<std::string>{fio::list_line({" TAUE =", g.taue}),
                                            " TAUE, the optical depth of the cloud, must be positive"});
    g.rho1 = 1.0f;
    const float tau = taurad_reference(run);
    if (!(tau > 0.0f) || !std::isfinite(tau)) no_depth(tau);
    g.rho1 = g.taue / tau;
    push(log, fio::write_records("(/'Pongo RHO1 = ',G15.4)", {g.rho1}));
}

void renormalise_density(Run& run, SolverLines& log) {
    SolverState& g = run.globals;
    const float tau = taurad_reference(run);
    push(log, fio::write_records("(/'TAUE = ',G15.4,'a ',F10.3,' micron')", {tau, g.altau}));
    if (!(tau > 0.0f) || !std::isfinite(tau)) no_depth(tau);
    g.rho1 = g.rho1 * g.taue / tau;
    push(log, fio::write_records("(/'Pongo RHO1 = ',G15.4)", {g.rho1}));
    genrho(g);
}

}  // namespace qv
