// NebularContinuumTable (modcontneb): the emission coefficients of the nebular
// continuum of an HII region at 1e4 K, on 97 wavelengths from 1 to 1e10
// Angstrom, in 1e-40 erg cm^3 s^-1 Hz^-1 per electron and ion: g1 hydrogen
// free-bound and free-free, g2 hydrogen two-photon, g3 He I and g4 He II
// recombination. A recombination edge is a pair of nearly equal wavelengths
// across which a coefficient jumps.
#pragma once

#include <array>

namespace qv::modcontneb {

inline constexpr int kContinuumPoints = 97;

extern const std::array<float, kContinuumPoints> lam_cn;
extern const std::array<float, kContinuumPoints> g1;
extern const std::array<float, kContinuumPoints> g2;
extern const std::array<float, kContinuumPoints> g3;
extern const std::array<float, kContinuumPoints> g4;

}  // namespace qv::modcontneb
