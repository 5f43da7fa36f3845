// The nebular lines of an HII region: the line table (modrighe), and the
// interpolation of the 114 line luminosities of one stellar population in the
// library models that inpila selected.
//
// At each metallicity the library is an irregular grid on three axes:
// x = log10 Q(H), y = Q(He)/Q(H), z = Q(O)/Q(He) (0 without helium-ionising
// photons), split by y into sub-grid 1 (y >= 0.05) and sub-grid 2. The
// population is interpolated on its sub-grid at both bracketing metallicities,
// then linearly in log Z.
#pragma once

#include <array>

#include "clouds/hii_library.h"

namespace qv {

struct Console;

namespace modrighe {

// Labels (11 characters) and vacuum wavelengths (Angstrom) of the 114 lines:
// 1-48 the hydrogen series, 49-54 neutral helium, 55-114 metal lines.
extern const std::array<const char*, kHiiLines> etic;
extern const std::array<float, kHiiLines> lam_righe;

}  // namespace modrighe

// Coordinates of a library model (or a population) on the three axes; y is 0
// without Q(H), z is 0 without Q(He).
struct HiiPoint {
    float x, y, z;
};
HiiPoint hii_coordinates(float qh, float qhe, float qo);

// 0 when (x0, y0, z0) may be interpolated among the m models, 1 when the
// population's lines are 0 (Q(H) below the grid, with three message lines);
// otherwise stops. Lower bounds inclusive, upper bounds exclusive.
float checkint(const Console& con, int m, const float* x, const float* y, const float* z, float x0, float y0,
               float z0);

// The eight models around (x0, y0, z0), in slot order (x, y, z each lo or up,
// z fastest): their coordinates and their positions 1..m in the list. Stops with
// a diagnostic unless every slot is filled.
struct Corners {
    std::array<float, 8> x{}, y{}, z{};
    std::array<int, 8> index{};
};
Corners ridxyz(int m, const float* x, const float* y, const float* z, float x0, float y0, float z0);

// Trilinear interpolation over the eight corners (each step uses the
// coordinates of the corners it combines).
float int3d(const Corners& c, float x0, float y0, float z0, const std::array<float, 8>& f);

// The n line luminosities of a population with photon numbers qh, qhe, qo at
// metallicity z, from the selection of inpila.
void interrighe(const HiiLibrary& lib, const Console& con, float qh, float qhe, float qo, int n, float* out,
                float z);

}  // namespace qv
