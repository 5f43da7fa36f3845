#include "emulator/neural_network.h"

#include <cmath>
#include <span>
#include <stdexcept>
#include <string>

#include "core/console.h"
#include "core/stop.h"
#include "io/format.h"
#include "io/listread.h"
#include "io/textfile.h"

namespace qv::network {

namespace {

Mat<double>& weights(NeuralNetwork& nn, int m) { return m == 1 ? nn.w1 : m == 2 ? nn.w2 : nn.w3; }
Vec<double>& biases(NeuralNetwork& nn, int m) { return m == 1 ? nn.b1 : m == 2 ? nn.b2 : nn.b3; }
Vec<double>& activations(NeuralNetwork& nn, int m) { return m == 1 ? nn.a1 : m == 2 ? nn.a2 : nn.a3; }

void allocate_layer(NeuralNetwork& nn, int m) {
    const int n = nn.ima[static_cast<std::size_t>(m)], nprev = nn.ima[static_cast<std::size_t>(m - 1)];
    weights(nn, m).resize(n, nprev);
    biases(nn, m).resize(n);
    activations(nn, m).resize(n);
}

}  // namespace

void allocate_network(NeuralNetwork& nn) {
    for (int m = 0; m <= 3; ++m)
        if (nn.ima[static_cast<std::size_t>(m)] < 0)
            throw std::invalid_argument("network: negative layer size ima(" + std::to_string(m) + ")");
    nn.a0.resize(nn.ima[0]);
    allocate_layer(nn, 1);
    nn.nl = 1;
    if (nn.ima[2] > 0) {
        allocate_layer(nn, 2);
        nn.nl = 2;
        if (nn.ima[3] > 0) {
            allocate_layer(nn, 3);
            nn.nl = 3;
        }
    }
}

void read_network(const Console& con, NeuralNetwork& nn, const std::string& name) {
    const std::string file = name.substr(0, name.find_last_not_of(' ') + 1);
    con.line(fio::list_line({"will read network from ", file}));
    TextFile f = TextFile::open(file);
    for (int m = 1; m <= nn.nl; ++m) {
        Mat<double>& w = weights(nn, m);
        Vec<double>& b = biases(nn, m);
        // Column-major storage is the file's column order of the weights.
        fio::list_read_or_throw(f, {std::span<double>(w.data(), w.size()), std::span<double>(b.data(), b.size())});
        const std::size_t nw = w.size();
        for (std::size_t k = 0; k < nw + b.size(); ++k) {
            const double v = k < nw ? w.data()[k] : b.data()[k - nw];
            if (!std::isfinite(v))
                throw_io_error(file, static_cast<long>(f.position()),
                               "layer " + std::to_string(m) + ": " +
                                   (k < nw ? "weight " + std::to_string(k + 1) : "bias " + std::to_string(k - nw + 1)) +
                                   " is not a finite number");
        }
    }
}

void point_layer(NeuralNetwork& nn, int m) {
    if (m < 1 || m > nn.nl) throw std::invalid_argument("network: no layer " + std::to_string(m));
    nn.w = &weights(nn, m);
    nn.b = &biases(nn, m);
    nn.a = &activations(nn, m);
    nn.am = m == 1 ? &nn.a0 : &activations(nn, m - 1);
    nn.ifun = nn.ifuna[static_cast<std::size_t>(m - 1)];
    nn.funco = nn.funcoa[static_cast<std::size_t>(m - 1)];
    nn.current_layer = m;
}

void forward_model(NeuralNetwork& nn, const double* x) {
    if (x && nn.ima[0] > 0)
        for (int j = 1; j <= nn.ima[0]; ++j) nn.a0(j) = x[j - 1];
    for (int m = 1; m <= nn.nl; ++m) {
        point_layer(nn, m);
        const Mat<double>& w = *nn.w;
        const Vec<double>& b = *nn.b;
        const Vec<double>& am = *nn.am;
        Vec<double>& a = *nn.a;
        const int n = nn.ima[static_cast<std::size_t>(m)], nprev = nn.ima[static_cast<std::size_t>(m - 1)];
        const double s = nn.funco;
        if (nn.ifun != 1 && nn.ifun != 2)
            throw std::invalid_argument("network: activation code " + std::to_string(nn.ifun) + " of layer " +
                                        std::to_string(m) + " is neither 1 (linear) nor 2 (logistic)");
        for (int i = 1; i <= n; ++i) {
            double net = 0.0;
            for (int j = 1; j <= nprev; ++j) net += w(i, j) * am(j);
            net = net + b(i);
            a(i) = nn.ifun == 1 ? s * net : 1.0 / (1.0 + std::exp(-s * net));
        }
    }
}

void deallocate_network(NeuralNetwork& nn) {
    nn.a0.clear();
    for (int m = 1; m <= 3; ++m) {
        weights(nn, m).clear();
        biases(nn, m).clear();
        activations(nn, m).clear();
    }
    nn.w = nullptr;
    nn.b = nullptr;
    nn.a = nullptr;
    nn.am = nullptr;
    nn.current_layer = 0;
}

}  // namespace qv::network
