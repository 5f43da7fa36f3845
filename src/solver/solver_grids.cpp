#include "solver/solver_grids.h"

#include <cmath>
#include <string>

#include "core/stop.h"
#include "io/format.h"
#include "numerics/roots_sort.h"
#include "solver/solver_state.h"

namespace qv {

namespace {

// The closely spaced frequencies of the mid-infrared part of the grid.
constexpr float kMidIr[29] = {13.077f, 13.102f, 13.127f, 13.152f, 13.177f, 13.202f, 13.227f,
                              13.252f, 13.2771f, 13.302f, 13.327f, 13.352f, 13.377f, 13.401f,
                              13.427f, 13.452f, 13.477f, 13.502f, 13.527f, 13.552f, 13.577f,
                              13.602f, 13.627f, 13.652f, 13.677f, 13.702f, 13.727f, 13.752f,
                              13.777f};

}  // namespace

void fgrid(SolverState& g, float /*tc*/, int grflag) {
    if (grflag == 0) throw Stop(" fgrid: only the fixed frequency grid (GRFLAG 1) is built");
    for (int i = 1; i <= 25; ++i) g.lfarr(i) = g.lflocg(i);
    for (int i = 0; i < 29; ++i) g.lfarr(26 + i) = kMidIr[i];
    sort(kSolverNnu, g.lfarr.data());
}

void rgrid(Vec<float>& rarr, int n, float r0, float rmax, float beta) {
    const float y = (beta + 2.0f) / 2.0f;
    const float d = std::log(rmax / r0) / std::pow(static_cast<float>(n - 1), y);
    for (int i = 0; i <= n - 1; ++i) rarr(i + 1) = r0 * std::exp(std::pow(static_cast<float>(i), y) * d);
    rarr(n) = 0.9999f * rmax;
    for (int i = 1; i < n; ++i) {
        if (!(rarr(i + 1) > rarr(i)))
            throw Stop(std::vector<std::string>{" rgrid: the radial grid does not ascend",
                        fio::list_line({" R0 =", r0, " RMAX =", rmax, " BETA =", beta})});
    }
}

void ctgrid(const SolverState& g, Vec<float>& ctarr, int n, int flag) {
    const int m = g.nctmez;
    const float h = 0.9442158f / static_cast<float>(m);
    Vec<float> b;
    b.reshape({Bounds{0, n}});
    for (int j = 0; j <= m; ++j) {
        if (flag != 0)
            b(j) = 2.5707965f - std::exp(h * static_cast<float>(m - j));
        else
            b(j) = 1.5707965f * static_cast<float>(j) / static_cast<float>(m);
    }
    for (int i = m + 1; i <= n; ++i) b(i) = 3.141593f - b(n - i);
    for (int j = 1; j <= n; ++j) ctarr(j) = (b(j - 1) + b(j)) / 2.0f;
}

float outer_radius(float r0, float rmsr0) {
    if (!(rmsr0 > 0.0f))
        throw Stop(std::vector<std::string>{fio::list_line({" RMSR0 =", rmsr0}),
                    " RMSR0 must be positive: it is the outer-to-inner radius ratio (up to 1e6) or "
                    "the thickness of the dust shell in cm"});
    const float rmax = rmsr0 <= 1.0e6f ? r0 * rmsr0 : r0 + rmsr0;
    if (!(rmax >= 1.01f * r0))
        throw Stop(std::vector<std::string>{fio::list_line({" RMSR0 =", rmsr0, " R0 =", r0, " RMAX =", rmax}),
                    " RMSR0 gives an outer radius below 1.01 times the inner radius: the radial "
                    "grid would not ascend"});
    return rmax;
}

}  // namespace qv
