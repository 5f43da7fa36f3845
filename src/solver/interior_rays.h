// Rays through the solver's dust sphere: the marcher shared by the interior
// rays of the diffuse field and the exterior rays of the emergent spectra, its
// test of the dust region and its interpolation on the grid; the interior rays
// (intray), the mean intensity and flux of one grid point (intmed) and the
// diffuse field of the whole grid (genjd).
#pragma once

#include "numerics/farray.h"

namespace qv {

struct SolverState;

// Sines and cosines of the current ray's direction and of the polar angle of
// its origin (protracor for the interior rays, protracod for the exterior ones).
struct RayAngles {
    double sinthe = 0.0, costhe = 1.0;
    double sinphi = 0.0, cosphi = 1.0;
    double sinct = 0.0, cosct = 1.0;
    void set_ray(double theta, double phi);
    void set_origin(double ct);
};

// How a ray reads the field. general: every point's polar angle is found and
// the field interpolated in radius and angle. shared: the field does not depend
// on the polar angle (the solver's spherical symmetry), so a point needs only
// its radius, and one intensity serves every azimuth and viewing direction of
// a ray. automatic: shared when the state is checked to be symmetric.
enum class RayPath { automatic, general, shared };

// True when the dust and the fields of the state do not depend on the polar
// angle: no dust-free cones, one inner edge for all angles, and the source
// function and extinction of every angle equal to those of angle 1.
bool field_is_angle_free(const SolverState& g);
// The path that `path` selects for this state.
bool use_shared_path(const SolverState& g, RayPath path);

// What the marcher reads at one frequency: the grids and two (40,24) planes.
struct RayField {
    const float* rarr = nullptr;   // 40 radii
    const float* ctarr = nullptr;  // 24 polar angles
    const float* rs = nullptr;     // inner edge of the dust per angle, rsgra(:,1)
    const float* s = nullptr;      // source function x 1e20, (ir, ict) plane
    const float* a = nullptr;      // extinction coefficient, (ir, ict) plane
    const SolverState* state = nullptr;  // its dust-free cones (theta_out)
    float rmax = 0.0f;
    bool shared = false;
    int k = 0;  // frequency index of the planes (0: not from the solver's grid)
};
RayField ray_field(const SolverState& g, int k, bool shared);

// A point is outside the dust when it lies in the dust-free cones, beyond
// rmax, inside 0.999 rarr(1), or inside 0.999 times the dust's inner edge at
// its angle (linear in ctarr). guess: the caller's search position in ctarr.
bool in_hole(const RayField& f, float r, float t, int& guess);

// Bilinear interpolation of the plane v at (r, t), with the caller's search
// positions ir (rarr) and it (ctarr), extrapolating from the edge cells.
float grid_value(const RayField& f, const float* v, float r, float t, int& ir, int& it);

// Sets array(1:na, 1:nb, 1:nc, 0:nd) to 0.
void clejd(FArray<float, 4>& array, int na, int nb, int nc, int nd);

// Intensity reaching grid point (rarr(ir), ctarr(ict)) at frequency k from the
// look direction (theta from the local outward radius, phi about it). The
// caller sets pr's origin (sinct, cosct) to ctarr(ict). component is 1.
float intray(const SolverState& g, int ir, int ict, int k, int component, float theta, float phi,
             RayAngles& pr, RayPath path = RayPath::automatic);
float intray(const SolverState& g, const RayField& f, int ir, int ict, float theta, float phi,
             RayAngles& pr);

// Intensity reaching an observer at distance D (cm) on the meridian at angle ct
// (rad) from the axis, along the ray (theta from the outward line through the
// observer, pi at the centre; phi about the line of sight), at frequency k;
// divisor shortens the steps (1 for spectra, 6 for maps).
float intrex(const SolverState& g, const RayField& f, float D, float ct, double theta,
             double phi, float divisor, RayAngles& pr);
float intrex(const SolverState& g, float D, float ct, int k, int component, double theta,
             double phi, float divisor, RayPath path = RayPath::automatic);

// Mean diffuse intensity J and net diffuse flux F at grid point (ir, ict) and
// frequency k; fills jdarr(ir, ict, k, 0..26).
void intmed(SolverState& g, int ir, int ict, int k, int component, float& J, float& F,
            RayPath path = RayPath::automatic);

// The diffuse field of the whole grid, and with it the total mean intensity
// jarr(..., 0) and the flux farr(..., 1..54).
void genjd(SolverState& g, RayPath path = RayPath::automatic);

}  // namespace qv
