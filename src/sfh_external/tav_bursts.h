// The starbursts of the tav model: its burst lists, and the refinement that
// merges each burst into the history tables as 22 extra time steps carrying the
// burst's exponentially declining rate, split over the two metallicity bins
// around its linearly rising metallicity.
//
// Burst list (bursts_disk.<S>, bursts_bulge.<S>): three header lines, then one
// burst per line, ten free-format reals: two ignored, the start as a lookback
// time (Gyr), the burst mass (h^-1 Msun), the e-folding time tau and the
// duration (Gyr), the metallicity at the start, its rise per e-folding time,
// the divisor of the burst's rate, and the burst's radius (h^-1 Mpc).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "numerics/farray.h"

namespace qv {
struct Run;
struct Console;
}  // namespace qv

namespace qv::tav {

struct TavBurst {
    std::array<float, 10> c{};  // the ten columns of its line
    long line = 0;              // 1-based line in its list
    float start() const { return c[2]; }
    float mass() const { return c[3]; }
    float tau() const { return c[4]; }
    float dur() const { return c[5]; }
    float z0() const { return c[6]; }
    float dz() const { return c[7]; }
    float divisor() const { return c[8]; }
    float radius() const { return c[9]; }
};

struct TavBurstList {
    std::string name;
    bool exists = false;
    std::vector<TavBurst> bursts;
};

// Reads a burst list. A missing file has no bursts; a file of fewer than 3
// lines is an IoError. Blank and comment lines are no bursts. A line that does
// not hold ten numbers ends the list there (a warning on standard output names
// it); a burst whose e-folding time, duration or divisor is not positive, or
// that holds a value that is not finite, stops the run naming it.
TavBurstList read_burst_list(const Console& con, const std::string& path);

// What the refinement hands back to the reader.
struct TavRefinement {
    float gas = 0.0f;   // gas left by the bursts under way at tgal
    float zgas = 0.0f;  // the same weighted by the bursts' metallicity
    const TavBurst* last = nullptr;  // the last burst merged
};

// Merges the bursts of the disk list (component 1) and the bulge list
// (component 2) into glotauspe's agesf and rsftav, whose first n rows are
// filled (times ascending); n grows by 22 per burst. Records t_bur, t_end_bur
// and current_burst. A burst under way at tgal (tb <= tgal <= tend) first moves
// every rate of component 1, the quiescent table's too, into component 2; it
// and every later burst then go to component 1.
TavRefinement refine_burst_grid(Run& run, const std::array<const TavBurstList*, 2>& lists, float tfin,
                                float tgal, int& n);

// Stable straight-insertion sort of arr(1..n) ascending, moving each slice
// brr(i, 1..m1, 1..m2) with its key.
void piksr2gl(int n, int m1, int m2, float* arr, FArray<float, 3>& brr);

}  // namespace qv::tav
