// Reading the reference tables of the formatted-I/O tests: tab-separated rows,
// "#" comment lines, fields written between | marks.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace qv::test {

struct Row {
    int line = 0;  // 1-based line in the table
    std::vector<std::string> cols;
};

inline std::vector<Row> load_table(const std::string& rel) {
    std::vector<Row> rows;
    std::vector<std::string> lines = read_lines(data_path(rel));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        if (l.empty() || l[0] == '#') continue;
        Row r;
        r.line = static_cast<int>(i + 1);
        std::size_t start = 0;
        while (true) {
            std::size_t tab = l.find('\t', start);
            r.cols.push_back(l.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        rows.push_back(std::move(r));
    }
    return rows;
}

// The text between the | marks of a column.
inline std::string unbar(const std::string& s) {
    if (s.size() >= 2 && s.front() == '|' && s.back() == '|') return s.substr(1, s.size() - 2);
    return s;
}

inline float float_from_bits(long long b) {
    std::uint32_t u = static_cast<std::uint32_t>(static_cast<std::int32_t>(b));
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}
inline double double_from_bits(long long b) {
    std::uint64_t u = static_cast<std::uint64_t>(b);
    double d;
    std::memcpy(&d, &u, sizeof d);
    return d;
}
inline long long bits_of(float f) {
    std::int32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}
inline long long bits_of(double d) {
    std::int64_t u;
    std::memcpy(&u, &d, sizeof u);
    return u;
}

}  // namespace qv::test
