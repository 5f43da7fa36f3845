// The pieces of one ray of the column integrals, shared by the scalar march
// (column_density.cpp) and the march in vector lanes (column_lanes.cpp): the
// searches, the density, the direction of a segment and the points along it.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "dust/column_density.h"
#include "numerics/search.h"

namespace qv::protrco::ray {

// Bracketing search by the hunt rules in an ascending table xx(1..n) (the
// radial and polar nodes), with the guess jlo; the same result as qv::hunt.
inline int hunt_up(const float* xx, int n, float x, int jlo) {
    return search_detail::bracket<false, true>(xx, n, x, jlo);
}

inline int clamp_cell(int j, int n) { return j < 1 ? 1 : (j > n - 1 ? n - 1 : j); }

// The density at (r, theta): bilinear in the node table, extrapolated from the
// edge cells; j1, j2 are the search guesses (the same value as qv::biliin).
inline float density(const ColumnGrid& g, float r, float th, int& j1, int& j2) {
    j1 = hunt_up(g.rarr, g.ndr, r, j1);
    j2 = hunt_up(g.thearr, g.nthe, th, j2);
    const int j = clamp_cell(j1, g.ndr);
    const int k = clamp_cell(j2, g.nthe);
    const float* x1 = g.rarr;
    const float* x2 = g.thearr;
    const float t = (r - x1[j - 1]) / (x1[j] - x1[j - 1]);
    const float u = (th - x2[k - 1]) / (x2[k] - x2[k - 1]);
    const float* c0 = g.rho + static_cast<std::ptrdiff_t>(k - 1) * g.ndr;  // column k
    const float* c1 = c0 + g.ndr;                                           // column k + 1
    return (1.0f - t) * ((1.0f - u) * c0[j - 1] + u * c1[j - 1]) + t * ((1.0f - u) * c0[j] + u * c1[j]);
}

// The ray from P2 = (rs, ts, 0) towards P1 = (rt, tt, phi) in the frame rotated
// by ts (P2 on the polar axis). Sets the direction record and returns the
// length P2 -> P1.
inline double set_direction(RayDirection& ray, float rt, double sin_tt, double cos_tt, float rs,
                            double sin_ts, double cos_ts, double sin_phi, double cos_phi) {
    const double x = static_cast<double>(rt) * sin_tt * cos_phi;
    const double y = static_cast<double>(rt) * sin_tt * sin_phi;
    const double z = static_cast<double>(rt) * cos_tt;
    const double t = cos_ts * x - sin_ts * z;
    const double m = sin_ts * x + cos_ts * z - static_cast<double>(rs);
    const double h = -y;
    double d = std::sqrt(t * t + h * h + m * m);
    // Two points that coincide but for the rounding of their coordinates make a
    // segment of length 0 (and no direction).
    if (d <= 1e-12 * (static_cast<double>(rt) + static_cast<double>(rs))) d = 0.0;
    ray.cosct = cos_ts;
    ray.sinct = sin_ts;
    // theta_r = acos(m/d) and phi_r = acos(q), held as their cosines and sines.
    ray.costhe = 1.0;
    ray.sinthe = 0.0;
    ray.cosphi = 1.0;
    ray.sinphi = 0.0;
    if (d > 0.0) {
        const double c = std::clamp(m / d, -1.0, 1.0);
        ray.costhe = c;
        ray.sinthe = std::sqrt(1.0 - c * c);
        if (std::fabs(ray.sinthe) > 0.001) {
            const double q = t / (d * ray.sinthe);
            if (q < -1.0) {
                ray.cosphi = -1.0;
            } else if (q <= 1.0) {
                ray.cosphi = q;
                ray.sinphi = std::sqrt(1.0 - q * q);
            }
        }
    }
    return d;
}

// The point at distance s from P2 along the ray: its radius and polar angle in
// the galaxy frame. The direction (ax, ay, az) is a unit vector of the frame in
// which P2 lies on the axis at rs, so the radius follows from the law of
// cosines, rho^2 = s^2 + 2 rs az s + rs^2, and the height above the plane from
// the rotation, Z = (cosct az - sinct ax) s + cosct rs.
struct RayPoints {
    double b, c, kz, z0;
    RayPoints(const RayDirection& ray, float r2) {
        const double rs = static_cast<double>(r2);
        const double ax = ray.sinthe * ray.cosphi, az = ray.costhe;
        b = 2.0 * rs * az;
        c = rs * rs;
        kz = ray.cosct * az - ray.sinct * ax;
        z0 = ray.cosct * rs;
    }
    inline void at(float s, float& r, float& th) const {
        const double sd = static_cast<double>(s);
        const double rho = std::sqrt(std::max(0.0, sd * (sd + b) + c));
        const double Z = kz * sd + z0;
        r = static_cast<float>(rho);
        th = rho > 0.0 ? static_cast<float>(std::acos(std::clamp(Z / rho, -1.0, 1.0))) : 0.0f;
    }
};

}  // namespace qv::protrco::ray
