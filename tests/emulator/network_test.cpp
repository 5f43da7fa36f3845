// The feed-forward network: its weights file (column order of the weights,
// each layer's read on a new line), the forward pass in 8-byte reals, the
// layer count, and the errors of missing or malformed weights files.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "core/stop.h"
#include "emulator/neural_network.h"
#include "support/test_support.h"

namespace qv {
namespace {

double logistic2(double net) { return 1.0 / (1.0 + std::exp(-2.0 * net)); }

// A network with ima = (2, 3, 1, 0): a logistic hidden layer of slope 2 and a
// linear output layer, as the emulator sets them.
struct Net231 {
    test::TempDir dir;
    test::CapturedConsole cc;
    NeuralNetwork nn;
    Net231() {
        nn.ima = {2, 3, 1, 0};
        nn.ifuna = {2, 1, 0};
        nn.funcoa = {2.0, 1.0, 0.0};
    }
};

// Layer 1: w(1,1) w(2,1) w(3,1) w(1,2) w(2,2) w(3,2), then the three biases
// (on the line of the last weights, followed by numbers that belong to no
// layer); layer 2 on a new line: w(1,1) w(1,2) w(1,3) and its bias.
const char* kFile231 =
    "0.1 0.2 0.3\n"
    "-0.4 0.5 -0.6 0.05\n"
    "-0.1 0.15 99.0 98.0\n"
    "0.7 -0.8 0.9 0.25\n";

TEST(Network, HandSetWeightsGiveTheHandComputedOutput) {
    Net231 t;
    test::write_text("n.net", kFile231);
    network::allocate_network(t.nn);
    EXPECT_EQ(t.nn.nl, 2);
    network::read_network(t.cc.con, t.nn, "n.net   ");
    EXPECT_EQ(t.cc.out.str(), " will read network from n.net\n");
    // Column order: the second value is the weight from input 1 to neuron 2.
    EXPECT_EQ(t.nn.w1(2, 1), 0.2);
    EXPECT_EQ(t.nn.w1(1, 2), -0.4);
    EXPECT_EQ(t.nn.b1(3), 0.15);
    EXPECT_EQ(t.nn.w2(1, 3), 0.9);
    EXPECT_EQ(t.nn.b2(1), 0.25);

    const double x[2] = {1.0, 2.0};
    network::forward_model(t.nn, x);
    // Hidden nets: 0.1 - 0.8 + 0.05, 0.2 + 1.0 - 0.1, 0.3 - 1.2 + 0.15.
    const double h1 = logistic2(-0.65), h2 = logistic2(1.1), h3 = logistic2(-0.75);
    ASSERT_NE(t.nn.a, nullptr);
    EXPECT_EQ(t.nn.a, &t.nn.a2);  // the view ends on the outputs
    EXPECT_NEAR((*t.nn.a)(1), 0.7 * h1 - 0.8 * h2 + 0.9 * h3 + 0.25, 1e-15);
    // Weights read row by row (w(1,1), w(1,2), w(2,1), ...) would give another value.
    const double g1 = logistic2(0.1 + 0.4 + 0.05), g2 = logistic2(0.3 - 0.8 - 0.1), g3 = logistic2(0.5 - 1.2 + 0.15);
    EXPECT_GT(std::fabs((*t.nn.a)(1) - (0.7 * g1 - 0.8 * g2 + 0.9 * g3 + 0.25)), 1e-3);
    EXPECT_EQ(t.nn.a0(2), 2.0);
}

TEST(Network, ZeroFirstLayerGivesHalfActivations) {
    Net231 t;
    test::write_text("z.net", "0 0 0 0 0 0\n0 0 0\n0.3 -1.1 2.5\n-0.75\n");
    network::allocate_network(t.nn);
    network::read_network(t.cc.con, t.nn, "z.net");
    const double x[2] = {123.0, -7.0};
    network::forward_model(t.nn, x);
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(t.nn.a1(i), 0.5);
    EXPECT_NEAR(t.nn.a2(1), -0.75 + 0.5 * (0.3 - 1.1 + 2.5), 1e-15);
}

TEST(Network, ForwardPassWithoutInputsUsesTheLastOnes) {
    Net231 t;
    test::write_text("n.net", kFile231);
    network::allocate_network(t.nn);
    network::read_network(t.cc.con, t.nn, "n.net");
    const double x[2] = {1.0, 2.0};
    network::forward_model(t.nn, x);
    const double first = t.nn.a2(1);
    t.nn.a2(1) = 0.0;
    network::forward_model(t.nn);
    EXPECT_EQ(t.nn.a2(1), first);
}

struct LayerCase {
    std::array<int, 4> ima;
    int nl;
};

TEST(Network, LayerCountAndSizes) {
    const LayerCase cases[] = {
        {{2, 3, 0, 0}, 1}, {{2, 3, 0, 5}, 1}, {{2, 3, 1, 0}, 2}, {{2, 3, 4, 1}, 3}, {{9, 35, 70, 0}, 2},
    };
    for (const LayerCase& c : cases) {
        NeuralNetwork nn;
        nn.ima = c.ima;
        network::allocate_network(nn);
        EXPECT_EQ(nn.nl, c.nl) << c.ima[1] << " " << c.ima[2] << " " << c.ima[3];
        EXPECT_EQ(nn.a0.extent(), c.ima[0]);
        EXPECT_EQ(nn.w1.extent(0), c.ima[1]);
        EXPECT_EQ(nn.w1.extent(1), c.ima[0]);
        EXPECT_EQ(nn.w2.allocated(), c.nl >= 2);
        EXPECT_EQ(nn.w3.allocated(), c.nl == 3);
        if (c.nl == 3) {
            EXPECT_EQ(nn.w3.extent(0), c.ima[3]);
            EXPECT_EQ(nn.w3.extent(1), c.ima[2]);
        }
        network::deallocate_network(nn);
        EXPECT_FALSE(nn.w1.allocated());
        EXPECT_FALSE(nn.a0.allocated());
        EXPECT_EQ(nn.a, nullptr);
    }
}

TEST(Network, ThreeLinearLayers) {
    test::TempDir dir;
    test::CapturedConsole cc;
    NeuralNetwork nn;
    nn.ima = {1, 2, 2, 1};
    nn.ifuna = {1, 1, 1};
    nn.funcoa = {1.0, 0.5, 3.0};
    // Layer 1: 2 x 1 weights, 2 biases; layer 2: 2 x 2 in column order, 2 biases; layer 3: 1 x 2, 1 bias.
    test::write_text("l3.net", "2 -1 0.5 1\n1 2 3 4\n0 0\n1 1 -2\n");
    network::allocate_network(nn);
    network::read_network(cc.con, nn, "l3.net");
    const double x[1] = {2.0};
    network::forward_model(nn, x);
    // Layer 1: (4.5, -1); layer 2 (slope 0.5): w = [[1,3],[2,4]]: (0.5*(4.5-3), 0.5*(9-4)) = (0.75, 2.5);
    // layer 3 (slope 3): 3*(0.75 + 2.5 - 2).
    EXPECT_DOUBLE_EQ(nn.a1(1), 4.5);
    EXPECT_DOUBLE_EQ(nn.a2(1), 0.75);
    EXPECT_DOUBLE_EQ(nn.a2(2), 2.5);
    EXPECT_DOUBLE_EQ(nn.a3(1), 3.75);
}

struct BadFileCase {
    const char* what;
    const char* text;  // nullptr: no file
};

TEST(Network, MissingOrMalformedWeightsFilesAreErrorsNamingTheFile) {
    const BadFileCase cases[] = {
        {"missing", nullptr},
        {"empty", ""},
        {"too few values in layer 2", "0.1 0.2 0.3 -0.4 0.5 -0.6 0.05 -0.1 0.15\n0.7 -0.8 0.9\n"},
        {"layer 2 cut off by the skipped rest of layer 1's line", "0.1 0.2 0.3 -0.4 0.5 -0.6 0.05 -0.1 0.15 0.7 -0.8 0.9 0.25\n"},
        {"text", "0.1 0.2 x 0.3\n"},
    };
    for (const BadFileCase& c : cases) {
        Net231 t;
        if (c.text) test::write_text("bad.net", c.text);
        network::allocate_network(t.nn);
        try {
            network::read_network(t.cc.con, t.nn, "bad.net");
            ADD_FAILURE() << c.what << ": no error";
        } catch (const IoError& e) {
            EXPECT_NE(std::string(e.what()).find("bad.net"), std::string::npos) << c.what << ": " << e.what();
        }
        // Reading never creates the file.
        EXPECT_EQ(std::filesystem::exists("bad.net"), c.text != nullptr) << c.what;
    }
}

}  // namespace
}  // namespace qv
