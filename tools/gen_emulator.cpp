// The emulator part of the example data set, in the folder "ann/" of the data
// folder: the ANN auxiliary files and network weights files of the cirrus
// (spheroid and disk) and of one molecular cloud (mid and far infrared).
//
// How the networks are made. They are not trained on models: each is built to
// reproduce a chosen shape. Every network is a hidden layer of logistic
// neurons (slope 2) and a linear output layer, as the emulator runs them. Its
// outputs are o = a y + b, y being log10 of lambda L_lambda of a sum of modified
// blackbodies (nu L_nu ~ nu^(4+beta) / (exp(h nu / k T) - 1), each normalised
// to its peak) at the output wavelengths, and a, b the output scaling of the
// auxiliary file (a != 1, so that a missing de-normalisation shows). The
// temperature follows the scaled inputs xn through one driver,
// log10 T = c0 + sum_i g_i xn_i, with a coefficient g_i for every input the
// network takes: a slip in the scale or offset of any input moves the peak.
// Hidden neuron j responds to the driver around its own centre t_j
// (w1(j, i) = s g_i, b1(j) = s (c0 - t_j)); the output weights are the least-
// squares fit (normal equations, a small ridge term) of a y + b over 400
// driver values spanning the trained range and a margin beyond it. The fit is
// checked: no output misses its shape by more than 0.02 dex.
//
// Cirrus: cold dust at T (beta 2), warm dust at 2.5 T (8%), very small grains
// at 8 T (beta 1, 3%) and a hot continuum at 800 K (0.01%). The temperature
// falls with the dust mass per unit starlight (input "log_md_l", the strongest
// term: T goes as (L/M)^(1/6)) and rises with the absorbed fraction and the
// colour of the starlight. Clouds: dust at T (beta 1.5) with 20% at 3 T under a
// silicate absorption at 9.7 micron, and a hot continuum at 900 K; T falls with
// the cloud's optical depth and scaled radius. The mid-infrared network's
// spectrum is offset by +0.7 dex against the far-infrared one (the emulator
// joins them).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "generators.h"

namespace qvgen {

namespace {

constexpr double kHcK = 14387.77;  // h c / k in micron K

std::string sci(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.12E", v);
    return buf;
}

// nu L_nu of a modified blackbody of emissivity index beta at lambda (micron),
// normalised to 1 at its peak.
double mbb(double lam, double t, double beta) {
    const double p = 4.0 + beta;
    // The peak in u = h nu / k T solves u = p (1 - exp(-u)).
    double u = p;
    for (int k = 0; k < 60; ++k) u = p * (1.0 - std::exp(-u));
    const double peak = std::pow(u, p) / std::expm1(u);
    const double x = kHcK / (lam * t);
    if (x > 700.0) return 0.0;
    return std::pow(x, p) / std::expm1(x) / peak;
}

double cirrus_shape(double lam, double logt) {
    const double t = std::pow(10.0, logt);
    return std::log10(mbb(lam, t, 2.0) + 0.08 * mbb(lam, 2.5 * t, 2.0) + 0.03 * mbb(lam, 8.0 * t, 1.0) +
                      1e-4 * mbb(lam, 800.0, 0.0));
}

double cloud_shape(double lam, double logt) {
    const double t = std::pow(10.0, logt);
    const double g = (lam - 9.7) / 1.5;
    const double silicate = std::exp(-1.2 * std::exp(-0.5 * g * g));
    return std::log10(mbb(lam, t, 1.5) + 0.2 * mbb(lam, 3.0 * t, 1.5) * silicate + 1e-3 * mbb(lam, 900.0, 0.0));
}

struct Input {
    const char* name;
    double xmin, xmax;
    double g;  // its term in the driver (per unit scaled input)
    double scale() const { return 2.0 / (xmax - xmin); }
    double offset() const { return -(xmax + xmin) / (xmax - xmin); }
};

struct Net {
    int nin = 0, nhid = 0, nout = 0;
    std::vector<double> w1, b1, w2, b2;  // w1(j, i) at j + nhid i, w2(k, j) at k + nout j
};

// Solves the symmetric positive system m x = r (n by n, r with nr columns) by
// Cholesky, in place.
void cholesky_solve(std::vector<double>& m, std::vector<double>& r, int n, int nr) {
    for (int j = 0; j < n; ++j) {
        double d = m[j + n * j];
        for (int k = 0; k < j; ++k) d -= m[j + n * k] * m[j + n * k];
        if (!(d > 0.0)) throw std::runtime_error("emulator fit: the normal equations are singular");
        d = std::sqrt(d);
        m[j + n * j] = d;
        for (int i = j + 1; i < n; ++i) {
            double s = m[i + n * j];
            for (int k = 0; k < j; ++k) s -= m[i + n * k] * m[j + n * k];
            m[i + n * j] = s / d;
        }
    }
    for (int c = 0; c < nr; ++c) {
        double* x = &r[static_cast<std::size_t>(n) * c];
        for (int i = 0; i < n; ++i) {
            double s = x[i];
            for (int k = 0; k < i; ++k) s -= m[i + n * k] * x[k];
            x[i] = s / m[i + n * i];
        }
        for (int i = n - 1; i >= 0; --i) {
            double s = x[i];
            for (int k = i + 1; k < n; ++k) s -= m[k + n * i] * x[k];
            x[i] = s / m[i + n * i];
        }
    }
}

double logistic2(double net) { return 1.0 / (1.0 + std::exp(-2.0 * net)); }

Net build(const std::vector<Input>& in, double c0, int nhid, const std::vector<double>& loglam,
          const std::vector<double>& a, const std::vector<double>& b, double extra,
          const std::function<double(double, double)>& shape) {
    Net n;
    n.nin = static_cast<int>(in.size());
    n.nhid = nhid;
    n.nout = static_cast<int>(loglam.size());
    double span = 0.0;
    for (const Input& x : in) span += std::fabs(x.g);
    const double tlo = c0 - 1.3 * span, thi = c0 + 1.3 * span;
    const double step = (thi - tlo) / nhid;
    const double s = 1.2 / step;  // neighbouring neurons overlap
    n.w1.assign(static_cast<std::size_t>(nhid * n.nin), 0.0);
    n.b1.assign(static_cast<std::size_t>(nhid), 0.0);
    std::vector<double> centre(static_cast<std::size_t>(nhid));
    for (int j = 0; j < nhid; ++j) {
        centre[j] = tlo + (j + 0.5) * step;
        for (int i = 0; i < n.nin; ++i) n.w1[j + nhid * i] = s * in[i].g;
        n.b1[j] = s * (c0 - centre[j]);
    }
    // Samples of the driver, the hidden activations (and 1) and the targets.
    const int ns = 400, nb = nhid + 1;
    std::vector<double> h(static_cast<std::size_t>(ns * nb)), y(static_cast<std::size_t>(ns * n.nout));
    for (int q = 0; q < ns; ++q) {
        const double t = tlo + (thi - tlo) * q / (ns - 1);
        for (int j = 0; j < nhid; ++j) h[q + ns * j] = logistic2(s * (t - centre[j]));
        h[q + ns * nhid] = 1.0;
        for (int k = 0; k < n.nout; ++k)
            y[q + ns * k] = a[k] * (shape(std::pow(10.0, loglam[k]), t) + extra) + b[k];
    }
    std::vector<double> m(static_cast<std::size_t>(nb * nb)), r(static_cast<std::size_t>(nb * n.nout));
    for (int i = 0; i < nb; ++i)
        for (int j = 0; j < nb; ++j) {
            double acc = 0.0;
            for (int q = 0; q < ns; ++q) acc += h[q + ns * i] * h[q + ns * j];
            m[i + nb * j] = acc + (i == j ? 1e-9 * ns : 0.0);
        }
    for (int k = 0; k < n.nout; ++k)
        for (int i = 0; i < nb; ++i) {
            double acc = 0.0;
            for (int q = 0; q < ns; ++q) acc += h[q + ns * i] * y[q + ns * k];
            r[i + nb * k] = acc;
        }
    cholesky_solve(m, r, nb, n.nout);
    n.w2.assign(static_cast<std::size_t>(n.nout * nhid), 0.0);
    n.b2.assign(static_cast<std::size_t>(n.nout), 0.0);
    for (int k = 0; k < n.nout; ++k) {
        for (int j = 0; j < nhid; ++j) n.w2[k + n.nout * j] = r[j + nb * k];
        n.b2[k] = r[nhid + nb * k];
    }
    // The fit over the trained range of the driver.
    for (int q = 0; q < ns; ++q) {
        const double t = tlo + (thi - tlo) * q / (ns - 1);
        if (t < c0 - span || t > c0 + span) continue;
        for (int k = 0; k < n.nout; ++k) {
            double o = n.b2[k];
            for (int j = 0; j < nhid; ++j) o += n.w2[k + n.nout * j] * logistic2(s * (t - centre[j]));
            if (std::fabs((o - b[k]) / a[k] - y[q + ns * k] / a[k] + b[k] / a[k]) > 0.02)
                throw std::runtime_error("emulator fit: output " + std::to_string(k + 1) + " misses its shape");
        }
    }
    return n;
}

void write(const std::filesystem::path& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary);
    f << text;
    if (!f) throw std::runtime_error("cannot write " + path.string());
}

// Weights file: each layer's weights in column order, then its biases, five
// values a line; each layer starts on a new line.
std::string weights_text(const Net& n) {
    std::string t;
    auto layer = [&](const std::vector<double>& w, const std::vector<double>& b) {
        std::vector<double> v(w);
        v.insert(v.end(), b.begin(), b.end());
        for (std::size_t i = 0; i < v.size(); ++i) t += sci(v[i]) + ((i + 1) % 5 == 0 || i + 1 == v.size() ? "\n" : "  ");
    };
    layer(n.w1, n.b1);
    layer(n.w2, n.b2);
    return t;
}

std::string g13(double v) {
    char buf[20];
    std::snprintf(buf, sizeof buf, "%13.6E", v);
    return buf;
}

// Auxiliary file: a title, the number of outputs (10X,I20), the output rows,
// two lines, then one line per input (A10,4G13.6).
std::string aux_text(const std::string& title, const std::vector<std::vector<double>>& rows,
                     const std::vector<Input>& in) {
    char buf[64];
    std::string t = title + "\n";
    std::snprintf(buf, sizeof buf, "nout      %20zu\n", rows.size());
    t += buf;
    for (const auto& r : rows) {
        for (std::size_t c = 0; c < r.size(); ++c) t += (c ? "  " : "") + sci(r[c]);
        t += "\n";
    }
    t += "inputs: name, trained minimum and maximum, scale and offset (x scale + offset)\n";
    t += "name      minimum      maximum      scale        offset\n";
    for (const Input& x : in) {
        std::snprintf(buf, sizeof buf, "%-10.10s", x.name);
        t += buf + g13(x.xmin) + g13(x.xmax) + g13(x.scale()) + g13(x.offset()) + "\n";
    }
    return t;
}

std::vector<double> log_grid(double lo, double hi, int n) {
    std::vector<double> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) v[i] = lo + (hi - lo) * i / (n - 1);
    return v;
}

// The output scaling of output k (1-based): a about 0.5, b about -1, varying.
double scale_a(int k) { return 0.45 + 0.1 * std::sin(0.7 * k); }
double scale_b(int k) { return -1.0 + 0.2 * std::cos(0.3 * k); }

// The cloud network's inputs, first in every file.
const std::vector<Input> kCloudInputs = {
    {"tau_mc", 0.01, 200.0, -0.06},
    {"rad_mc", 0.1, 5000.0, -0.10},
};

void write_cirrus(const std::filesystem::path& dir, bool disk) {
    std::vector<Input> cirrus = {
        {"f_abs", -4.0, 0.0, 0.03},   {"tau_eq", 0.0, 40.0, -0.02}, {"tau_pol", 0.0, 10.0, -0.01},
        {"tau_hom", 0.0, 20.0, -0.01}, {"log_md_l", -9.0, -4.0, -0.12},
    };
    if (disk) {
        cirrus.push_back({"rd_ratio", 0.2, 5.0, 0.01});
        cirrus.push_back({"zd_star", 0.01, 0.5, 0.01});
        cirrus.push_back({"zd_dust", 0.01, 0.5, -0.01});
    } else {
        cirrus.push_back({"rc_ratio", 0.2, 5.0, 0.01});
    }
    cirrus.push_back({"colour", -3.0, 3.0, 0.03});
    const std::vector<double> loglam = log_grid(0.0, std::log10(2000.0), 70);
    std::vector<double> a, b;
    for (int k = 1; k <= 70; ++k) {
        a.push_back(scale_a(k));
        b.push_back(scale_b(k));
    }
    const Net n = build(cirrus, std::log10(21.0), 35, loglam, a, b, 0.0, cirrus_shape);
    std::vector<std::vector<double>> rows;
    for (int k = 0; k < 70; ++k) rows.push_back({loglam[k], 0.5, 0.1, a[k], b[k]});
    std::vector<Input> all = kCloudInputs;
    all.insert(all.end(), cirrus.begin(), cirrus.end());
    const std::string g = disk ? "dis" : "sph";
    write(dir / ("f_aux_" + g + ".dat"),
          aux_text(std::string("# cirrus emulator, ") + (disk ? "disk" : "spheroid") +
                       " geometry: log10 lambda[micron], a_mc, b_mc, a_cir, b_cir (qvgen: modified "
                       "blackbodies whose temperature follows the inputs)",
                   rows, all));
    write(dir / ("cirrus_" + g + ".net"), weights_text(n));
}

void write_cloud(const std::filesystem::path& dir, bool mir) {
    const int nout = mir ? 40 : 60;
    const std::vector<double> loglam = mir ? log_grid(0.0, std::log10(40.0), nout)
                                           : log_grid(std::log10(3.0), std::log10(2000.0), nout);
    std::vector<double> a, b;
    for (int k = 1; k <= nout; ++k) {
        a.push_back(scale_a(k + (mir ? 0 : 3)));
        b.push_back(scale_b(k + (mir ? 0 : 3)));
    }
    const Net n = build(kCloudInputs, std::log10(50.0), 20, loglam, a, b, mir ? 0.7 : 0.0, cloud_shape);
    std::vector<std::vector<double>> rows;
    for (int k = 0; k < nout; ++k) rows.push_back({loglam[k], a[k], b[k]});
    const std::string g = mir ? "mir" : "fir";
    write(dir / ("f_aux_mc_" + g + ".dat"),
          aux_text("# molecular-cloud emulator, " + std::string(mir ? "mid" : "far") +
                       " infrared: log10 lambda[micron], a, b (qvgen: modified blackbodies whose "
                       "temperature follows the inputs)",
                   rows, kCloudInputs));
    write(dir / ("mc_" + g + ".net"), weights_text(n));
}

}  // namespace

void write_emulator_files(const std::string& data_dir) {
    const std::filesystem::path dir = std::filesystem::path(data_dir) / "ann";
    std::filesystem::create_directories(dir);
    write_cirrus(dir, false);
    write_cirrus(dir, true);
    write_cloud(dir, true);
    write_cloud(dir, false);
}

}  // namespace qvgen
