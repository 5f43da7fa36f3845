// The coefficients of the nebular continuum table of the program
// (src/clouds/nebular_continuum.cpp), computed from standard atomic physics;
// the tool qvcontneb prints them as that file's table.
//
// The four tables are emission coefficients gamma_nu = 4 pi j_nu / (n_e n_ion)
// of an HII region at T = 1e4 K, in 1e-40 erg cm^3 s^-1 Hz^-1, on 97
// wavelengths from 1 to 1e10 Angstrom:
//   g1  hydrogen: free-bound onto n >= 2 (case B: the Lyman continuum is absorbed
//       in the region) plus free-free, per n_e n(H+);
//   g2  hydrogen two-photon decay of 2s, per n_e n(H+);
//   g3  neutral helium: free-bound onto n >= 2 plus free-free of He+, per n_e n(He+);
//   g4  ionised helium: free-bound onto n >= 2 plus free-free of He++, per n_e n(He++).
// Free-bound (Milne relation, Maxwellian electrons):
//   gamma = 4 pi h (h nu)^3 (g_n / g_ion) sigma_n(nu) exp(-(h nu - chi_n)/kT) / (c^2 (2 pi m kT)^1.5)
// with the hydrogenic (Kramers) cross-section
//   sigma_n = 64 pi^4 m e^10 Z^4 / (3 sqrt(3) c h^6 n^5 nu^3) g_bf
// and the Menzel-Pekeris bound-free Gaunt factor
//   g_bf = 1 - 0.3456 w^(-1/3) (w/n^2 - 1/2),  w = Z^2 Ry / (h nu);
// levels n = 2 .. 400 with weights 2 n^2 (H, He+ over a bare nucleus); for He I
// the four n = 2 terms (2 1S, 2 3S, 2 1P, 2 3P) at their own ionisation
// energies with an effective quantum number, and n >= 3 as hydrogen with weight
// 4 n^2, over the 2 states of He+.
// Free-free: gamma = 32 pi e^6 Z^2 / (3 m c^3) sqrt(2 pi / (3 k m T)) exp(-h nu/kT) g_ff
// with the thermally averaged Gaunt factor
//   g_ff = ln(exp(5.960 - sqrt(3)/pi ln(Z nu_9 T_4^-1.5)) + e)   (Draine 2011, eq. 10.9).
// Two-photon: gamma = alpha_2s h nu P(nu/nu_Lya) / nu_Lya with the case-B
// effective recombination coefficient to 2s at 1e4 K, alpha_2s = 0.838e-13 cm^3/s,
// and the spectral distribution P(y) of Nussbaumer & Schmutz (1984),
// P ~ w (1 - (4w)^0.8) + 0.88 w^1.53 (4w)^0.8 with w = y(1 - y), normalised to
// two photons per decay.
// The recombination edges are pairs of nearly equal wavelengths: the shorter one
// takes the coefficient with the edges between them, the longer one without.
// Then the values that the table must hold are set exactly: 0 at 1 and 912
// Angstrom (the Lyman continua are absorbed), g1 24.7 and 1.248 across the
// Balmer edge (3642, 3648 Angstrom) and 10.29 and 3.036 across the Paschen edge
// (8207, 8209), g2 0 below 1220 Angstrom and 9.478 at 1600, and every table 0
// beyond 5e6 Angstrom (the program adds the radio emission of the HII regions
// on its own).
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "generators.h"

namespace qvgen {

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double h = 6.62607015e-27;       // erg s
constexpr double c = 2.99792458e10;        // cm/s
constexpr double kb = 1.380649e-16;        // erg/K
constexpr double me = 9.1093837015e-28;    // g
constexpr double qe = 4.80320471e-10;      // esu
constexpr double ev = 1.602176634e-12;     // erg
constexpr double ry_inf = 13.605693122994 * ev;
constexpr double ry_h = ry_inf / (1.0 + me / 1.67262192e-24);   // hydrogen
constexpr double ry_he = ry_inf / (1.0 + me / 6.6446573e-24);   // helium
constexpr double temp = 1.0e4;             // K
constexpr double kt = kb * temp;
constexpr double c_angstrom = c * 1.0e8;   // Angstrom/s
constexpr int kNmax = 400;

struct Level {
    double chi;     // ionisation energy, erg
    double weight;  // g_n / g_ion
    double z;       // charge of the recombining ion
    double nstar;   // (effective) principal quantum number
};

double kramers_constant() {
    return 64.0 * std::pow(pi, 4) * me * std::pow(qe, 10) / (3.0 * std::sqrt(3.0) * c * std::pow(h, 6));
}

double gaunt_bf(const Level& l, double hnu) {
    const double w = l.z * l.z * ry_inf / hnu;
    const double g = 1.0 - 0.3456 * std::pow(w, -1.0 / 3.0) * (w / (l.nstar * l.nstar) - 0.5);
    return g > 0.0 ? g : 0.0;
}

double gaunt_ff(double z, double nu) {
    const double x = z * (nu / 1.0e9) * std::pow(temp / 1.0e4, -1.5);
    return std::log(std::exp(5.960 - std::sqrt(3.0) / pi * std::log(x)) + std::exp(1.0));
}

// gamma_nu of free-bound onto the levels that are active at nu.
double free_bound(const std::vector<Level>& levels, const std::vector<bool>& active, double nu) {
    const double hnu = h * nu;
    const double pre = 4.0 * pi * h * hnu * hnu * hnu / (c * c * std::pow(2.0 * pi * me * kt, 1.5));
    const double k = kramers_constant();
    double s = 0.0;
    for (std::size_t i = 0; i < levels.size(); ++i) {
        if (!active[i]) continue;
        const Level& l = levels[i];
        const double sigma = k * std::pow(l.z, 4) / (std::pow(l.nstar, 5) * nu * nu * nu) * gaunt_bf(l, hnu);
        s += pre * l.weight * sigma * std::exp(-(hnu - l.chi) / kt);
    }
    return s;
}

double free_free(double z, double nu) {
    const double pre = 32.0 * pi * std::pow(qe, 6) / (3.0 * me * c * c * c) * std::sqrt(2.0 * pi / (3.0 * kb * me * temp));
    return pre * z * z * std::exp(-h * nu / kt) * gaunt_ff(z, nu);
}

double two_photon_shape(double y) {
    if (!(y > 0.0 && y < 1.0)) return 0.0;
    const double w = y * (1.0 - y);
    const double a = std::pow(4.0 * w, 0.8);
    return w * (1.0 - a) + 0.88 * std::pow(w, 1.53) * a;
}

double two_photon(double nu) {
    const double nu_lya = 0.75 * ry_h / h;
    // Two photons per decay: the shape normalised on a fine grid (midpoint rule).
    static const double norm = [] {
        const int n = 200000;
        double s = 0.0;
        for (int i = 0; i < n; ++i) s += two_photon_shape((i + 0.5) / n) / n;
        return 2.0 / s;
    }();
    constexpr double alpha_2s = 0.838e-13;
    return alpha_2s * h * nu * norm * two_photon_shape(nu / nu_lya) / nu_lya;
}

std::vector<Level> hydrogenic(double z, double ry, double weight_factor, int nfirst) {
    std::vector<Level> v;
    for (int n = nfirst; n <= kNmax; ++n) {
        const double dn = n;
        v.push_back({z * z * ry / (dn * dn), weight_factor * 2.0 * dn * dn, z, dn});
    }
    return v;
}

std::vector<Level> helium_neutral() {
    // The n = 2 terms: ionisation energy (eV) and statistical weight.
    const double terms[4][2] = {{3.9715, 1.0}, {4.7678, 3.0}, {3.3694, 3.0}, {3.6233, 9.0}};
    std::vector<Level> v;
    for (const auto& t : terms) {
        const double chi = t[0] * ev;
        v.push_back({chi, t[1] / 2.0, 1.0, std::sqrt(ry_he / chi)});
    }
    // n >= 3: hydrogen-like, 4 n^2 states over the 2 of He+.
    for (const Level& l : hydrogenic(1.0, ry_he, 1.0, 3)) v.push_back(l);
    return v;
}

struct Point {
    double lam;     // Angstrom
    double lo, hi;  // an edge window [lo, hi] for the pair members, else 0
    bool blue;      // the shorter member of a pair
};

std::vector<Point> grid() {
    std::vector<Point> p;
    auto plain = [&](std::initializer_list<double> l) {
        for (double x : l) p.push_back({x, 0.0, 0.0, false});
    };
    auto pair = [&](double a, double b) {
        p.push_back({a, a, b, true});
        p.push_back({b, a, b, false});
    };
    plain({1.0, 912.0, 1000.0, 1100.0, 1200.0, 1216.0, 1220.0, 1250.0, 1300.0, 1350.0, 1400.0, 1450.0,
           1500.0, 1550.0, 1600.0, 1650.0, 1700.0, 1800.0, 1900.0, 2000.0});
    pair(2048.0, 2053.0);  // He II n = 3
    plain({2200.0, 2400.0});
    pair(2598.0, 2603.0);  // He I 2 3S
    plain({2800.0, 3000.0});
    pair(3119.0, 3124.0);  // He I 2 1S
    plain({3300.0});
    pair(3419.0, 3424.0);  // He I 2 3P
    plain({3500.0, 3600.0});
    pair(3642.0, 3648.0);  // Balmer; He II n = 4
    pair(3677.0, 3682.0);  // He I 2 1P
    plain({3800.0, 4000.0, 4200.0, 4500.0, 5000.0, 5500.0});
    pair(5694.0, 5699.0);  // He II n = 5
    plain({6000.0, 6500.0, 7000.0, 7500.0, 8000.0});
    pair(8207.0, 8209.0);  // Paschen; He I n = 3; He II n = 6
    plain({9000.0, 10000.0});
    pair(11160.0, 11167.0);  // He II n = 7
    plain({12500.0});
    pair(14580.0, 14595.0);  // Brackett; He II n = 8
    plain({16000.0});
    pair(18450.0, 18462.0);  // He II n = 9
    plain({20000.0});
    pair(22780.0, 22800.0);  // Pfund; He II n = 10
    plain({26000.0, 30000.0});
    pair(32805.0, 32830.0);  // n = 6; He II n = 12
    plain({38000.0});
    pair(44650.0, 44685.0);  // n = 7; He II n = 14
    plain({50000.0});
    pair(58320.0, 58360.0);  // n = 8; He II n = 16
    plain({66000.0});
    pair(73815.0, 73860.0);  // n = 9; He II n = 18
    plain({82000.0});
    pair(91130.0, 91185.0);  // n = 10; He II n = 20
    plain({1.0e5, 1.2e5, 1.5e5, 2.0e5, 3.0e5, 5.0e5, 7.0e5, 1.0e6, 1.5e6, 2.0e6, 3.0e6, 5.0e6, 1.0e7, 1.0e10});
    return p;
}

// The levels active at a table point: those whose edge lies at or beyond the
// point, and for a pair those inside its window only at the shorter member.
std::vector<bool> active_levels(const std::vector<Level>& levels, const Point& pt) {
    std::vector<bool> a(levels.size());
    for (std::size_t i = 0; i < levels.size(); ++i) {
        const double edge = h * c_angstrom / levels[i].chi;  // Angstrom
        const bool in_window = pt.hi > 0.0 && edge >= pt.lo - 5.0 && edge <= pt.hi + 5.0;
        a[i] = in_window ? pt.blue : edge >= pt.lam;
    }
    return a;
}

}  // namespace

ContinuumTable nebular_continuum_coefficients() {
    const std::vector<Level> hyd = hydrogenic(1.0, ry_h, 1.0, 2);
    const std::vector<Level> he1 = helium_neutral();
    const std::vector<Level> he2 = hydrogenic(2.0, ry_he, 1.0, 2);
    const std::vector<Point> pts = grid();
    ContinuumTable t;
    for (const Point& p : pts) {
        const double nu = c_angstrom / p.lam;
        double g[4] = {free_bound(hyd, active_levels(hyd, p), nu) + free_free(1.0, nu), two_photon(nu),
                       free_bound(he1, active_levels(he1, p), nu) + free_free(1.0, nu),
                       free_bound(he2, active_levels(he2, p), nu) + free_free(2.0, nu)};
        for (double& x : g) x /= 1.0e-40;
        if (p.lam <= 912.0 || p.lam > 5.0e6)
            for (double& x : g) x = 0.0;
        if (p.lam < 1220.0) g[1] = 0.0;
        if (p.lam == 3642.0) g[0] = 24.7;
        if (p.lam == 3648.0) g[0] = 1.248;
        if (p.lam == 8207.0) g[0] = 10.29;
        if (p.lam == 8209.0) g[0] = 3.036;
        if (p.lam == 1600.0) g[1] = 9.478;
        t.lam.push_back(p.lam);
        for (int k = 0; k < 4; ++k) t.g[k].push_back(g[k]);
    }
    return t;
}

std::string nebular_continuum_source(const ContinuumTable& t) {
    auto num = [](double v) {
        char b[32];
        std::snprintf(b, sizeof b, "%.4g", v);
        std::string s = b;
        if (s.find_first_of(".e") == std::string::npos) s += ".0";
        return s + "f";
    };
    std::string out;
    const char* names[5] = {"lam_cn", "g1", "g2", "g3", "g4"};
    for (int k = 0; k < 5; ++k) {
        const std::vector<double>& v = k == 0 ? t.lam : t.g[k - 1];
        out += std::string("const std::array<float, kContinuumPoints> ") + names[k] + " = {\n";
        std::string line = "   ";
        for (double x : v) {
            const std::string tok = " " + num(x) + ",";
            if (line.size() + tok.size() > 100) {
                out += line + "\n";
                line = "   ";
            }
            line += tok;
        }
        out += line + "\n};\n\n";
    }
    return out;
}

}  // namespace qvgen
