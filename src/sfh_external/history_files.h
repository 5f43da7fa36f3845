// Helpers shared by the readers of the external models' files.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "io/listread.h"
#include "io/textfile.h"
#include "numerics/farray.h"

namespace qv {
struct Run;
}

namespace qv::sfh_external {

// A line that holds data: not blank, and not a comment (its first non-blank
// character is none of "#", "%", "!"). Rows and bursts are counted this way, so
// that a blank or comment line (at the end of a file, say) is no row.
bool is_content(std::string_view line);

// The 0-based indices of the content lines of f from line `from` (0-based) on.
std::vector<std::size_t> content_lines(const TextFile& f, std::size_t from);

// Reads the values of one line (0-based index i) free-format into the targets;
// a line that holds fewer values, a value its target cannot take, or a real
// that is not finite is an IoError naming the file and line.
void read_line_values(const TextFile& f, std::size_t i, std::initializer_list<fio::Target> targets);

// Stops, naming the file and line (0-based index i), when a star-formation
// rate read there is negative; what names the value.
void check_rate(const TextFile& f, std::size_t i, float rate, const std::string& what);

// Stops, naming the file and line (1-based), where a rate so large that the
// galaxy's mass, or the rates in Msun per Gyr, are not finite was read.
[[noreturn]] void mass_not_finite(const std::string& file, long line, float rate, const std::string& what);

// Line i (0-based) of f; a file that ends before it is an IoError.
std::string_view need_line(const TextFile& f, std::size_t i, const std::string& what);

// A real in columns [start, start + width) (0-based start) under an edit
// descriptor with d decimals; a field that is not a finite number is an IoError.
float real_field(const TextFile& f, std::size_t i, std::size_t start, std::size_t width, int d,
                 const std::string& what);
// An integer field, likewise (blank reads 0).
int int_field(const TextFile& f, std::size_t i, std::size_t start, std::size_t width, const std::string& what);

// The trapezoid sum 0.5 [(t2 - t1) r1 + sum_k (t(k+1) - t(k-1)) r(k) + (tn - t(n-1)) rn]
// over t(1..n); r(k) is value(k). 0 for fewer than 2 times.
template <class F>
float trapezoid(const Vec<float>& t, int n, F value) {
    if (n < 2) return 0.0f;
    float s = (t(2) - t(1)) * value(1);
    for (int k = 2; k <= n - 1; ++k) s += (t(k + 1) - t(k - 1)) * value(k);
    s += (t(n) - t(n - 1)) * value(n);
    return 0.5f * s;
}


// Stops the run when a geometry value that reaches the dust model is negative
// (a relative value that this history does not resolve), naming the key.
void check_geometry(const Run& run, const std::string& history);

// Stops the run on an allocation failure with the reader's message.
[[noreturn]] void allocation_error(const std::string& message);

}  // namespace qv::sfh_external
