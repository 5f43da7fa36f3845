// NeuralNetwork (network): one feed-forward network of at most three layers,
// read from a weights file and evaluated in 8-byte reals. The emulator sets the
// layer sizes and activations, then for each evaluation allocates the network,
// reads its weights, runs the forward pass and frees it again.
#pragma once

#include <array>
#include <string>

#include "numerics/farray.h"

namespace qv {
struct Console;

struct NeuralNetwork {
    // ima(0) inputs, ima(1..3) neurons of layers 1 to 3 (0: layer absent).
    std::array<int, 4> ima{};
    int nl = 0;                       // number of layers, set by allocate_network
    std::array<int, 3> ifuna{};       // activation of each layer: 1 linear, 2 logistic
    std::array<double, 3> funcoa{};   // slope of each layer's activation

    // Layer m: weights w(i, j) from neuron (or input) j of layer m-1 to neuron
    // i of layer m, biases and activations after the last forward pass.
    Mat<double> w1, w2, w3;
    Vec<double> b1, b2, b3;
    Vec<double> a1, a2, a3;
    Vec<double> a0;  // the input vector of the last forward pass
    Mat<double> pb;  // (ima(0), 1) the input vector handed in by the emulator

    // The current layer: its weights, biases and activations, the activations
    // of the layer before it (a0 for layer 1), its activation and number.
    Mat<double>* w = nullptr;
    Vec<double>* b = nullptr;
    Vec<double>* a = nullptr;
    Vec<double>* am = nullptr;
    int ifun = 0;
    double funco = 0.0;
    int current_layer = 0;
};

namespace network {

// Allocates a0 and the arrays of layer 1, of layer 2 when ima(2) > 0, and of
// layer 3 when ima(2) > 0 and ima(3) > 0; sets nl to 1, 2 or 3.
void allocate_network(NeuralNetwork& nn);

// Reads the weights and biases of every layer from a weights file: for each
// layer, starting on a new line, its ima(m)*ima(m-1) weights in column order
// (all leaving input 1, then all leaving input 2, ...) and its ima(m) biases,
// free format over any number of lines. Prints " will read network from "
// and the name. A missing file, missing values, text that is not a number or
// a value that is not finite throw IoError naming the file (the file is never
// created).
void read_network(const Console& con, NeuralNetwork& nn, const std::string& name);

// Makes layer m (1..nl) the current layer.
void point_layer(NeuralNetwork& nn, int m);

// The forward pass; x, when given, supplies the ima(0) inputs (otherwise the
// values in a0 are used). Afterwards nn.a refers to the outputs.
void forward_model(NeuralNetwork& nn, const double* x = nullptr);

// Frees a0 and every layer's arrays.
void deallocate_network(NeuralNetwork& nn);

}  // namespace network
}  // namespace qv
