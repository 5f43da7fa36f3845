// Reading a spectra file back as a user would: "#" header lines, then rows of
// whitespace-separated numbers (what numpy.loadtxt accepts).
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace qv::test {

struct SpectraFile {
    std::vector<std::string> header;
    std::vector<std::string> lines;           // the data rows as written
    std::vector<std::array<double, 9>> rows;  // their values
    bool ok = true;                           // every row held nine numbers
};

// Loads a spectra file; a row that is not nine whitespace-separated numbers
// (or a "#" line after the data) is a test failure naming the line.
inline SpectraFile load_spectra(const std::string& path) {
    SpectraFile f;
    const std::vector<std::string> lines = read_lines(path);
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::string& l = lines[n];
        if (!l.empty() && l[0] == '#') {
            if (!f.rows.empty()) {
                ADD_FAILURE() << path << ":" << n + 1 << ": header line after the data";
                f.ok = false;
            }
            f.header.push_back(l);
            continue;
        }
        std::istringstream in(l);
        std::array<double, 9> v{};
        std::string tok;
        int k = 0;
        bool good = true;
        while (in >> tok) {
            char* end = nullptr;
            const double x = std::strtod(tok.c_str(), &end);
            if (end == tok.c_str() || *end != '\0' || k >= 9) {
                good = false;
                break;
            }
            v[static_cast<std::size_t>(k++)] = x;
        }
        if (!good || k != 9) {
            ADD_FAILURE() << path << ":" << n + 1 << ": not nine numbers: \"" << l << "\"";
            f.ok = false;
        }
        f.lines.push_back(l);
        f.rows.push_back(v);
    }
    return f;
}

// The 11-column field k (0-based) of a row written with 9G11.4.
inline std::string field(const std::string& row, int k) {
    return row.substr(static_cast<std::size_t>(11 * k), 11);
}

}  // namespace qv::test
