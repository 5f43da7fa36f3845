// A solver state for the ray tests: the solver's grids on a sphere from r0 to
// rmax, and a source function and extinction laid on it by hand.
#pragma once

#include <cmath>
#include <functional>

#include "solver/solver_state.h"

namespace qv::test {

struct RayFixture {
    SolverState g;

    RayFixture(float r0, float rmax) {
        g.simsfe = true;
        g.simequ = true;
        g.nctmez = 12;
        g.cthe1 = 0.0f;
        g.r0 = r0;
        g.rmax = rmax;
        // Geometric radial grid, its last point just inside rmax.
        for (int i = 0; i < kSolverNr; ++i)
            g.rarr(i + 1) = r0 * std::pow(rmax / r0, static_cast<float>(i) / 39.0f);
        g.rarr(kSolverNr) = 0.9999f * rmax;
        // Polar cell centres crowding toward the equator, mirrored.
        const int m = 12;
        const float h = 0.9442158f / static_cast<float>(m);
        float b[25];
        for (int j = 0; j <= m; ++j) b[j] = 2.5707965f - std::exp(h * static_cast<float>(m - j));
        for (int i = m + 1; i <= 24; ++i) b[i] = 3.141593f - b[24 - i];
        for (int j = 1; j <= 24; ++j) g.ctarr(j) = (b[j - 1] + b[j]) / 2.0f;
        // The frequency grid: the fixed frequencies with the closely spaced ones between.
        static const float close[29] = {13.077f, 13.102f, 13.127f, 13.152f, 13.177f, 13.202f,
                                        13.227f, 13.252f, 13.2771f, 13.302f, 13.327f, 13.352f,
                                        13.377f, 13.401f, 13.427f, 13.452f, 13.477f, 13.502f,
                                        13.527f, 13.552f, 13.577f, 13.602f, 13.627f, 13.652f,
                                        13.677f, 13.702f, 13.727f, 13.752f, 13.777f};
        int k = 1;
        for (int i = 1; i <= 9; ++i) g.lfarr(k++) = g.lflocg(i);
        for (float v : close) g.lfarr(k++) = v;
        for (int i = 10; i <= 25; ++i) g.lfarr(k++) = g.lflocg(i);
        // The dust starts at r0 at every angle, for the dust and every species.
        for (int c = 1; c <= kSolverNsp + 1; ++c)
            for (int j = 1; j <= kSolverNct; ++j) g.rsgra(j, c) = r0;
    }

    // Source function S(r, k) (erg/s/cm2/Hz/sr, stored times 1e20) and
    // extinction a(r, k) (1/cm) at every grid point.
    void lay(const std::function<float(float r, int k)>& s,
             const std::function<float(float r, int k)>& a) {
        for (int k = 1; k <= kSolverNnu; ++k)
            for (int j = 1; j <= kSolverNct; ++j)
                for (int i = 1; i <= kSolverNr; ++i) {
                    g.sarr(i, j, k) = 1.0e20f * s(g.rarr(i), k);
                    g.alfarr(i, j, k) = a(g.rarr(i), k);
                }
    }
    void uniform(float s, float a) {
        lay([s](float, int) { return s; }, [a](float, int) { return a; });
    }
};

}  // namespace qv::test
