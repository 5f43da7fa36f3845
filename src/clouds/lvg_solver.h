// The LVG (escape-probability) solver of the CO rotational lines: the level
// populations of the 21 lowest rotational levels of 12CO in one cloud model, and
// the emission of its lines. Everything here is in 8-byte reals.
//
// Levels are numbered i = 1..21 for J = i - 1; transition i (i = 1..20) joins
// level i + 1 to level i.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "numerics/farray.h"

namespace qv {

struct Console;

inline constexpr int kLvgLevels = 21;

// The constants of one molecule: rotational constant B (Hz), Einstein
// coefficients A(1..21) (A(21) = 0), transition frequencies nu(1..21) (Hz), and
// the collision-fit triples cof(3k-2..3k) for Delta J = k = 1..10.
struct MoleculeRecord {
    double b = 0.0;
    Vec<double> a = Vec<double>(kLvgLevels);
    Vec<double> nu = Vec<double>(kLvgLevels);
    Vec<double> cof = Vec<double>(30);
    std::string name;
};

// The 12CO record.
MoleculeRecord molecule_12co();

// Where the level populations of the model are representable in 8-byte reals.
//
// Temperature: at a kinetic temperature T the collisions drive the populations
// towards p(J) ~ g(J) exp(-E(J)/kT). The top level (J = 20, E/k = 420 hB/k =
// 1163 K) is a normal double only while 41 exp(-E/kT) >= DBL_MIN, that is for
// T >= E/k / ln(41/DBL_MIN) = 1.634 K. Below it the collision rates of the fit
// (which grow as exp(c1 dE/kT)) also overflow the 4-byte totals at ordinary
// densities, and the rate matrix turns into Infinity and NaN.
double lvg_min_temperature();
// Background: the occupation number 1/(exp(h nu/kT_bg) - 1) of the 1-0 line,
// T_bg = 2.73 (1 + z), is resolved only while h nu/kT_bg >= DBL_EPSILON (beyond,
// exp(x) - 1 rounds to 0 and spontaneous emission is lost against the
// stimulated one): 1 + z <= (h nu_1 / 2.73 k) / DBL_EPSILON = 9.1e15.
double lvg_max_redshift();

// LvgState (lvgdatos): the molecule constants and the state and outcome of the
// current LVG model.
struct LvgState {
    // Only 12CO (kk = 1) is kept; the program treats no other molecule.
    std::vector<MoleculeRecord> mol{molecule_12co()};
    Vec<double> g = weights();  // statistical weights 2i - 1
    int kk = 1;
    double x12co = 0.0;  // CO abundance of the current model
    std::string mm;      // the caller's label of the current model (4 characters)
    double z = 0.0, nh2 = 0.0, tk = 0.0, r = 0.0, v = 0.0;
    // Outcome: 0-6 solved at the temperature offset of that attempt, 7 failed.
    int k_control = 0;
    Mat<double> col = Mat<double>(kLvgLevels, kLvgLevels);  // col(from, to), s^-1, times nh2
    Vec<double> col1 = Vec<double>(kLvgLevels);             // total rate out of each level
    Vec<double> ex1 = Vec<double>(kLvgLevels);              // background occupation number

    const MoleculeRecord& m() const { return mol[static_cast<std::size_t>(kk - 1)]; }

private:
    static Vec<double> weights() {
        Vec<double> g(kLvgLevels);
        for (int i = 1; i <= kLvgLevels; ++i) g(i) = 2.0 * i - 1.0;
        return g;
    }
};

// What lvgcalc keeps: the line emission of the last solved model and its work.
struct LvgWork {
    // Line emission per transition of the last solved model (erg/s/Hz per unit
    // area of the cloud's surface, over 4 pi); absent when no model was solved
    // since the caller last released it.
    std::optional<std::vector<double>> flu_quelvo;

    Vec<double> np = Vec<double>(kLvgLevels);     // populations
    Vec<double> npold = Vec<double>(kLvgLevels);  // last accepted populations
    Vec<double> tau = Vec<double>(kLvgLevels - 1);  // optical depths
    double ftot = 0.0;  // total optically thin emission
    double ft = 0.0;    // its work copy
    int iterations = 0; // rate-matrix solves of the last calculo

    // Work of the rate-matrix solves and of calculo (kept to avoid allocating
    // inside the iteration).
    Mat<double> a = Mat<double>(kLvgLevels, kLvgLevels);
    Vec<double> c = Vec<double>(kLvgLevels), d = Vec<double>(kLvgLevels);
    Vec<double> b = Vec<double>(kLvgLevels), jbar = Vec<double>(kLvgLevels);
    Vec<double> p1 = Vec<double>(kLvgLevels), p2 = Vec<double>(kLvgLevels);
};

namespace lvgsubruti {

// Collision rates at s.tk, times s.nh2, into col(from, to), and the totals col1.
void coef_exct(LvgState& s, Mat<double>& col, Vec<double>& col1);

// Background occupation numbers at the transition frequencies for redshift s.z
// (background temperature 2.73 (1 + z)).
void background(LvgState& s);

// Builds the rate matrix of n levels with the line occupation numbers
// jbar(1..n-1) into w.a, and the right-hand side b (0, except b(n) = 1).
void rate_matrix(const LvgState& s, LvgWork& w, int n, const Vec<double>& jbar);

// Solves the rate equations of n levels (rate_matrix, then qrdcmp and qrsolv)
// into w.b(1..n). A matrix with a rate that is not finite (the model is outside
// the domain above) returns false at once. A singular matrix of finite rates
// pauses the run for a line on standard input; going on from the pause returns
// false without solving.
bool solve_rates(const Console& con, const LvgState& s, LvgWork& w, int n, const Vec<double>& jbar);

// Optically thin emission of transition i from the populations p.
double thin_emission(const LvgState& s, const Vec<double>& p, int i, double cdv);

// Optically thin populations, background radiation only. With k = 0 also the
// total emission ft and the level count cut where a transition carries less than
// 1e-5 percent of it. False when the rate matrix was singular.
bool inicio(const Console& con, const LvgState& s, LvgWork& w, Vec<double>& np, int& n, double cdv,
            int k, double& ft);

// The escape-probability iteration at column parameter x, with power
// extrapolation of exponent alpha; on convergence the level count is cut at the
// first transition below tol percent of ftot. fail: no convergence (a fifty-fold
// growth of the change, 550 iterations, a singular matrix, or extrapolated
// populations that are not finite and positive).
void calculo(const Console& con, const LvgState& s, LvgWork& w, int& n, Vec<double>& np, double x,
             double ftot, double cdv, bool& fail, double alpha, double tol, Vec<double>& tau);

// Householder QR decomposition of the n x n matrix a (Fortran order); sing is
// set when a column of zeros or a zero last diagonal element is met.
void qrdcmp(Mat<double>& a, int n, Vec<double>& c, Vec<double>& d, bool& sing);
// Solves a x = b in place of b with the factors of qrdcmp (which must not have
// reported a singular matrix).
void qrsolv(const Mat<double>& a, int n, const Vec<double>& c, const Vec<double>& d, Vec<double>& b);

// Line emission of the converged populations into w.flu_quelvo (n - 1 values).
void flujo(const LvgState& s, LvgWork& w, const Vec<double>& np, int n, const Vec<double>& tau);

// Solves one cloud model: kinetic temperature tk (K), H2 density nh2 (cm^-3),
// velocity v (km/s), radius r (pc), redshift z, abundance x. Tries tk, tk + 1,
// tk - 1, ... tk - 3; the outcome is in s.k_control (7: failed), s.tk and, when
// solved, w.flu_quelvo.
void lvgcalc(const Console& con, LvgState& s, LvgWork& w, double tk, double nh2, double v, double r,
             double z, const std::string& label, double x);

}  // namespace lvgsubruti

}  // namespace qv
