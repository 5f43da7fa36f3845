#include "solver/solver_grains.h"

#include <cmath>

#include "core/run.h"
#include "dust/grain_optics.h"

namespace qv {

void ntilde(const Vec<float>& agra, const Vec<float>& dgra, const Vec<float>& xgra,
            Vec<float>& ntil, int n) {
    for (int k = 1; k <= n; ++k) {
        const float a = agra(k);
        ntil(k) = xgra(k) * 0.23873238f / (a * a * a * 1.0e-12f) / dgra(k);
    }
}

namespace {

float efficiency(Run& run, float lf, int k, const Vec<float>& agra, int ngr, int isca) {
    const float lambda = 3.0e14f / std::pow(10.0f, lf);
    return k <= ngr ? q_gra_81(run, lambda, agra(k), isca) : q_sil_81(run, lambda, agra(k), isca);
}

}  // namespace

float qa(Run& run, float lf, int k, const Vec<float>& agra, int /*nsp*/, int ngr) {
    return efficiency(run, lf, k, agra, ngr, 0);
}

float qs(Run& run, float lf, int k, const Vec<float>& agra, int /*nsp*/, int ngr) {
    return efficiency(run, lf, k, agra, ngr, 1);
}

void genq(Run& run) {
    SolverState& g = run.globals;
    const Vec<float>& agra = run.taumix.agra;
    for (int nu = 1; nu <= kSolverNnu; ++nu) {
        for (int k = 1; k <= kSolverNsp; ++k) {
            g.qaarr(nu, k) = qa(run, g.lfarr(nu), k, agra, kSolverNsp, kSolverNgr);
            g.qsarr(nu, k) = qs(run, g.lfarr(nu), k, agra, kSolverNsp, kSolverNgr);
            g.qearr(nu, k) = g.qaarr(nu, k) + g.qsarr(nu, k);
        }
    }
}

}  // namespace qv
