// Small emulator files written by hand for the tests: auxiliary files, weights
// files, and a run whose emulator directory is data/ann\ (the folder data/ann/).
#pragma once

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "core/run.h"
#include "io/format.h"
#include "support/test_support.h"

namespace qv::test {

struct AuxInput {
    std::string name;
    float xmin, xmax, scale, offset;
};

// An auxiliary file: a title, the number of outputs (10X,I20), the rows, two
// lines, and one (A10,4G13.6) line per input.
inline std::string aux_text(const std::vector<std::vector<float>>& rows, const std::vector<AuxInput>& in) {
    std::string t = "# test emulator\n" + fio::write_line("(10X,I20)", {static_cast<int>(rows.size())}) + "\n";
    for (const auto& r : rows) {
        std::vector<fio::Item> it;
        for (float v : r) it.emplace_back(v);
        t += fio::list_line(it) + "\n";
    }
    t += "two lines\nskipped\n";
    for (const AuxInput& x : in) {
        std::string name = x.name;
        name.resize(10, ' ');  // left-aligned in its ten columns
        t += fio::write_line("(A10,4G13.6)", {name, x.xmin, x.xmax, x.scale, x.offset}) + "\n";
    }
    return t;
}

// A weights file of two layers, each with its weights (column order) and its
// biases on lines of their own.
inline std::string net_text(const std::vector<double>& w1, const std::vector<double>& b1,
                            const std::vector<double>& w2, const std::vector<double>& b2) {
    std::string t;
    for (const std::vector<double>* v : {&w1, &b1, &w2, &b2}) {
        for (double x : *v) t += fio::list_line({x});
        t += "\n";
    }
    return t;
}

inline double logistic2(double net) { return 1.0 / (1.0 + std::exp(-2.0 * net)); }

// A temporary folder with data/ann/ and a run whose emulator directory is data/ann\.
struct EmulatorRun {
    TempDir dir;
    CapturedConsole cc;
    Run run{cc.con};
    EmulatorRun() {
        std::filesystem::create_directories("data/ann");
        run.ann_qve.trained_ann_path = "data/ann\\";
    }
    void write(const std::string& name, const std::string& text) const { write_text("data/ann/" + name, text); }
};

}  // namespace qv::test
