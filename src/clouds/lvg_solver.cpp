#include "clouds/lvg_solver.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "core/console.h"

namespace qv {

MoleculeRecord molecule_12co() {
    MoleculeRecord m;
    m.b = 5.77e10;
    // Frequencies and Einstein coefficients are tabulated to 4-byte precision.
    for (int i = 1; i <= kLvgLevels; ++i) {
        m.nu(i) = static_cast<double>(static_cast<float>(1.154e11 * i));
        const double i4 = static_cast<double>(i) * i * i * i;
        m.a(i) = i < kLvgLevels
                     ? static_cast<double>(static_cast<float>(7.4565608e-8 * 3.0 * i4 / (2.0 * i + 1.0)))
                     : 0.0;
    }
    static constexpr double cof[30] = {
        0.10386, 1.70281, 2.96413, 0.02982, 1.1772,  3.20203, 0.20669, 1.92905, 2.42609, 0.11351,
        1.51292, 2.1554,  0.231,   2.26465, 2.19851, 0.15563, 1.8739,  1.54635, 0.2379,  2.52822,
        1.89568, 0.18979, 2.2434,  1.31805, 0.24855, 2.79879, 1.6571,  0.22879, 2.68223, 1.31148};
    for (int k = 1; k <= 30; ++k) m.cof(k) = cof[k - 1];
    m.name = "12CO";
    return m;
}

double lvg_min_temperature() {
    const MoleculeRecord m = molecule_12co();
    const double j = kLvgLevels - 1;
    const double e_top = m.b * 4.79971025e-11 * j * (j + 1.0);  // E(J=20)/k, K
    const double g_top = 2.0 * kLvgLevels - 1.0;
    return e_top / (std::log(g_top) - std::log(DBL_MIN));
}

double lvg_max_redshift() {
    const MoleculeRecord m = molecule_12co();
    // h nu_1 / (2.73 k) with the background's own constants.
    const double x0 = m.nu(1) * 6.6260755e-27 / 3.769196366333962e-16;
    return x0 / DBL_EPSILON - 1.0;
}

namespace lvgsubruti {

void background(LvgState& s) {
    const MoleculeRecord& m = s.m();
    // h / (k T_bg) with T_bg = 2.73 (1 + z).
    const double hk = 6.6260755e-27 / ((s.z + 1.0) * 3.769196366333962e-16);
    for (int i = 1; i <= kLvgLevels; ++i) s.ex1(i) = 1.0 / (std::exp(m.nu(i) * hk) - 1.0);
}

void coef_exct(LvgState& s, Mat<double>& col, Vec<double>& col1) {
    const MoleculeRecord& m = s.m();
    const Vec<double>& g = s.g;
    col.fill(0.0);
    for (int k = 1; k <= 10; ++k) {
        const double c1 = m.cof(3 * k - 2), c2 = m.cof(3 * k - 1), c3 = m.cof(3 * k);
        for (int u = k + 1; u <= kLvgLevels; ++u) {
            const int l = u - k;
            const double ju = u - 1, jl = l - 1;
            const double x = m.b * 4.79971025e-11 * (ju * (ju + 1.0) - jl * (jl + 1.0)) / s.tk;
            col(u, l) = 1e-11 * (1.0 + x) * (g(l) / g(u)) * std::exp(c3 + c1 * x - c2 * std::sqrt(x));
            col(l, u) = col(u, l) * (g(u) / g(l)) * std::exp(-x);
        }
    }
    for (double& v : col.storage()) v *= s.nh2;
    for (int i = 1; i <= kLvgLevels; ++i) {
        float sum = 0.0f;  // the totals are accumulated in 4-byte reals
        for (int j = 1; j <= kLvgLevels; ++j) sum = static_cast<float>(static_cast<double>(sum) + col(i, j));
        col1(i) = static_cast<double>(sum);
    }
}

void rate_matrix(const LvgState& s, LvgWork& w, int n, const Vec<double>& jbar) {
    const MoleculeRecord& m = s.m();
    const Vec<double>& g = s.g;
    const Mat<double>& col = s.col;
    Mat<double>& a = w.a;
    for (int i = 1; i <= n; ++i) {
        w.b(i) = 0.0;
        if (i == n) {
            for (int j = 1; j <= n; ++j) a(i, j) = 1.0;  // the populations sum to 1
            continue;
        }
        for (int j = 1; j <= n; ++j) a(i, j) = col(j, i);
        if (i == 1) {
            a(1, 1) = -(s.col1(1) + 3.0 * m.a(1) * jbar(1));
            a(1, 2) = (1.0 + jbar(1)) * m.a(1) + col(2, 1);
        } else {
            a(i, i - 1) = (g(i) / g(i - 1)) * m.a(i - 1) * jbar(i - 1) + col(i - 1, i);
            a(i, i) = -((g(i + 1) / g(i)) * m.a(i) * jbar(i) + (1.0 + jbar(i - 1)) * m.a(i - 1) + s.col1(i));
            a(i, i + 1) = (1.0 + jbar(i)) * m.a(i) + col(i + 1, i);
        }
    }
    w.b(n) = 1.0;
}

bool solve_rates(const Console& con, const LvgState& s, LvgWork& w, int n, const Vec<double>& jbar) {
    rate_matrix(s, w, n, jbar);
    // Rates that are not finite make no model: the attempt fails (a matrix of
    // Infinity and NaN would only look singular).
    for (int j = 1; j <= n; ++j)
        for (int i = 1; i <= n; ++i)
            if (!std::isfinite(w.a(i, j))) return false;
    bool sing = false;
    qrdcmp(w.a, n, w.c, w.d, sing);
    if (sing) {
        // The user may stop here; going on, the solve is counted as failed
        // instead of dividing by the zero pivot.
        pause_point(con, "");
        return false;
    }
    qrsolv(w.a, n, w.c, w.d, w.b);
    return true;
}

double thin_emission(const LvgState& s, const Vec<double>& p, int i, double cdv) {
    const double e = s.ex1(i);
    return ((1.0 + e) * p(i + 1) - (s.g(i + 1) / s.g(i)) * e * p(i)) * s.m().a(i) * 6.6260755e-27 * cdv *
           2.9979e10 * 0.5;
}

namespace {

// The column factor of the emission shares of the level cut. The shares do not
// depend on it, and without a column (cdv = 0) they would be 0/0 and cut
// nothing, leaving levels whose populations are rounding noise.
double share_cdv(double cdv) { return cdv == 0.0 ? 1.0 : cdv; }

// The smallest transition i (1..n-1) carrying less than tol percent of total;
// n when there is none.
int level_cut(const LvgState& s, const Vec<double>& p, int n, double cdv, double total, double tol) {
    int cut = n;
    for (int i = n - 1; i >= 1; --i) {
        const double share = 100.0 * thin_emission(s, p, i, cdv) / total;
        if (share < tol) cut = i;
    }
    return cut;
}

}  // namespace

bool inicio(const Console& con, const LvgState& s, LvgWork& w, Vec<double>& np, int& n, double cdv,
            int k, double& ft) {
    if (!solve_rates(con, s, w, n, s.ex1)) return false;
    if (k == 0) {
        ft = 0.0;
        for (int i = 1; i <= n - 1; ++i) ft += thin_emission(s, w.b, i, share_cdv(cdv));
        n = level_cut(s, w.b, n, share_cdv(cdv), ft, 1e-5);
    }
    np.fill(0.0);
    for (int i = 1; i <= n; ++i) np(i) = w.b(i);
    return true;
}

void calculo(const Console& con, const LvgState& s, LvgWork& w, int& n, Vec<double>& np, double x,
             double ftot, double cdv, bool& fail, double alpha, double tol, Vec<double>& tau) {
    const MoleculeRecord& m = s.m();
    const Vec<double>& g = s.g;
    fail = false;
    Vec<double>& p1 = w.p1;
    Vec<double>& p2 = w.p2;
    p1.fill(0.0);
    p2.fill(0.0);
    w.iterations = 0;
    for (int it = 0;; ++it) {
        for (int i = 1; i <= kLvgLevels; ++i) {
            p2(i) = p1(i);
            p1(i) = np(i);
        }
        if (it > 0) {
            for (int i = 1; i <= n; ++i) {
                np(i) = std::pow(p1(i), 1.0 + alpha) / std::pow(p2(i), alpha);
                // A population that is not finite and positive cannot recover:
                // the attempt has failed.
                if (!(np(i) > 0.0) || !std::isfinite(np(i))) {
                    fail = true;
                    return;
                }
            }
        }
        for (int i = 1; i <= n - 1; ++i) {
            const double gr = g(i + 1) / g(i);
            const double nu = m.nu(i);
            const double t = 3.308319832e43 * x * m.a(i) * (gr * np(i) - np(i + 1)) / (nu * nu * nu);
            tau(i) = t;
            double beta;
            if (t < 1e-12) {
                beta = 1.0;
            } else if (t > 100.0) {
                beta = 1.0 / t;
            } else {
                beta = (1.0 - std::exp(-t)) / t;
                if (beta > 1.0) beta = 1.0;
            }
            const double sfun = 1.0 / ((g(i + 1) * np(i)) / (g(i) * np(i + 1)) - 1.0);
            w.jbar(i) = beta * s.ex1(i) + (1.0 - beta) * sfun;
        }
        ++w.iterations;
        if (!solve_rates(con, s, w, n, w.jbar)) {
            fail = true;
            return;
        }
        for (int i = 1; i <= n; ++i) np(i) = w.b(i);

        double d1 = 0.0;
        for (int i = 1; i <= n; ++i) d1 = std::max(d1, std::fabs(np(i) - p1(i)) / p1(i));
        if (it > 0) {
            double d2 = 0.0;
            for (int i = 1; i <= n; ++i) d2 = std::max(d2, std::fabs(p1(i) - p2(i)) / p2(i));
            if (d1 >= 50.0 * d2) {
                fail = true;
                return;
            }
        }
        if (d1 < 1e-8) {
            n = level_cut(s, np, n, share_cdv(cdv), ftot, tol);
            return;
        }
        if (it + 1 > 550) {
            fail = true;
            return;
        }
    }
}

void qrdcmp(Mat<double>& a, int n, Vec<double>& c, Vec<double>& d, bool& sing) {
    sing = false;
    for (int k = 1; k <= n - 1; ++k) {
        double scale = 0.0;
        for (int i = k; i <= n; ++i) scale = std::max(scale, std::fabs(a(i, k)));
        if (scale == 0.0) {
            sing = true;
            c(k) = 0.0;
            d(k) = 0.0;
            continue;
        }
        for (int i = k; i <= n; ++i) a(i, k) /= scale;
        double sum = 0.0;
        for (int i = k; i <= n; ++i) sum += a(i, k) * a(i, k);
        const double sigma = std::copysign(std::sqrt(sum), a(k, k));
        a(k, k) += sigma;
        c(k) = sigma * a(k, k);
        d(k) = -scale * sigma;
        for (int j = k + 1; j <= n; ++j) {
            sum = 0.0;
            for (int i = k; i <= n; ++i) sum += a(i, k) * a(i, j);
            const double t = sum / c(k);
            for (int i = k; i <= n; ++i) a(i, j) -= t * a(i, k);
        }
    }
    d(n) = a(n, n);
    if (d(n) == 0.0) sing = true;
}

void qrsolv(const Mat<double>& a, int n, const Vec<double>& c, const Vec<double>& d, Vec<double>& b) {
    for (int j = 1; j <= n - 1; ++j) {
        double sum = 0.0;
        for (int i = j; i <= n; ++i) sum += a(i, j) * b(i);
        const double t = sum / c(j);
        for (int i = j; i <= n; ++i) b(i) -= t * a(i, j);
    }
    b(n) /= d(n);
    for (int i = n - 1; i >= 1; --i) {
        double sum = 0.0;
        for (int j = i + 1; j <= n; ++j) sum += a(i, j) * b(j);
        b(i) = (b(i) - sum) / d(i);
    }
}

void flujo(const LvgState& s, LvgWork& w, const Vec<double>& np, int n, const Vec<double>& tau) {
    const MoleculeRecord& m = s.m();
    const Vec<double>& g = s.g;
    std::vector<double>& flu = w.flu_quelvo.emplace(static_cast<std::size_t>(std::max(n - 1, 0)), 0.0);
    for (int i = 1; i <= n - 1; ++i) {
        const double sfun = g(i) * np(i + 1) / (g(i + 1) * np(i) - g(i) * np(i + 1));
        const double t = tau(i);
        double e;
        if (t > 100.0)
            e = 1.0;
        else if (t < 1e-9)
            e = t;
        else
            e = 1.0 - std::exp(-t);
        const double nu = m.nu(i);
        // 4/3 pi times 2 h nu^3 / c^2 times the excess over the background.
        flu[static_cast<std::size_t>(i - 1)] = 1.3333333730697632 * 3.1415927410125732 * 1.4745248835e-47 *
                                               (nu * nu * nu) * (sfun - s.ex1(i)) * e;
    }
}

void lvgcalc(const Console& con, LvgState& s, LvgWork& w, double tk, double nh2, double v, double r,
             double z, const std::string& label, double x) {
    static constexpr double offset[7] = {0.0, 1.0, -1.0, 2.0, -2.0, 3.0, -3.0};
    s.nh2 = nh2;
    s.r = r;
    s.v = v;
    s.z = z;
    s.mm = label.substr(0, 4);
    s.mm.resize(4, ' ');
    s.kk = 1;
    s.k_control = 0;
    s.tk = tk;
    w.flu_quelvo.reset();
    background(s);

    for (; s.k_control < 7; ++s.k_control) {
        s.tk = tk + offset[s.k_control];
        s.x12co = x;
        const double cdv = nh2 * x * r / v;
        // A column that is not finite (a velocity that rounds to 0) has no
        // continuation to reach it.
        if (!std::isfinite(cdv)) continue;
        coef_exct(s, s.col, s.col1);
        int n = kLvgLevels;
        w.np.fill(0.0);
        w.ftot = 0.0;
        if (!inicio(con, s, w, w.np, n, cdv, 0, w.ft)) continue;
        w.ftot = w.ft;
        if (!inicio(con, s, w, w.np, n, cdv, 1, w.ft)) continue;

        double xc = 1e-8;
        double alpha = static_cast<double>(0.1f);
        const double tol = 5e-5;
        for (int i = 1; i <= kLvgLevels; ++i) w.npold(i) = w.np(i);
        int n_ok = n;
        const double dx = (cdv - 1e-8) / 3.0;
        for (;;) {
            bool fail = false;
            calculo(con, s, w, n, w.np, xc, w.ftot, cdv, fail, alpha, tol, w.tau);
            if (fail) {
                n = n_ok;
                for (int i = 1; i <= kLvgLevels; ++i) w.np(i) = w.npold(i);
                alpha += static_cast<double>(0.01f);
                if (alpha >= 1.0) break;  // give up this temperature
                continue;
            }
            // The model is done once the column reaches cdv (at once for cdv = 0).
            const bool done = cdv == 0.0 ? xc > 0.0 : xc / cdv >= 1.0;
            if (done) {
                flujo(s, w, w.np, n, w.tau);
                return;
            }
            n_ok = n;
            xc += dx;
            for (int i = 1; i <= kLvgLevels; ++i) w.npold(i) = w.np(i);
        }
    }
    // Failed at every temperature: tk stays at the last one tried.
}

}  // namespace lvgsubruti

}  // namespace qv
