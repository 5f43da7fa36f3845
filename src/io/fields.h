// Fixed-column input of single fields, as a Fortran runtime reads them under an
// edit descriptor: blanks inside the field are ignored, an exponent (E, D, Q, or
// a bare sign as in "1.5-3") is accepted, a value without a decimal point is an
// integer scaled by 10^-d (also when an exponent follows: "5e2" under G10.3 is
// 0.5), an all-blank field reads 0, "Infinity", "Inf" and "NaN" (any case,
// signed) read as such.
//
// The readers allocate nothing for fields of up to 200 characters and convert
// with correct rounding: read_real_field rounds the decimal value once to a
// double, read_real4_field once to a float (what a Fortran REAL(4) variable
// receives; rounding the double again could differ in the last bit).
#pragma once

#include <cmath>
#include <limits>
#include <optional>
#include <string_view>

namespace qv::fio {

// Fw.d, Ew.d, Gw.d, Dw.d: the value, or nothing when the field is not a number.
// A value beyond the double range reads as an infinity, as the runtime gives it;
// callers treat an infinite value as bad input.
std::optional<double> read_real_field(std::string_view field, int d);

// The same for a 4-byte real: the float nearest to the decimal value (an
// infinity beyond the float range).
std::optional<float> read_real4_field(std::string_view field, int d);

// Iw: the value, or nothing when the field is not an integer (or does not fit a
// 4-byte integer).
std::optional<long long> read_int_field(std::string_view field);

// Lw: optional blanks, an optional ".", then T or F (any case) and anything
// after; or nothing when the field is not a logical. An all-blank field is
// false.
std::optional<bool> read_logical_field(std::string_view field);

// Rounds as a 4-byte real of the value read (the variable the field is read
// into). A value beyond the float range gives an infinity of its sign (a value
// that rounds to the largest float gives that float), without undefined
// behaviour; callers treat an infinite value as bad input. Prefer
// read_real4_field, which rounds the decimal text once.
inline float as_real4(double v) {
    constexpr double fmax = static_cast<double>(std::numeric_limits<float>::max());
    // Halfway between the largest float and 2^128: at or beyond it, the float
    // rounding is an infinity.
    constexpr double limit = 340282356779733661637539395458142568448.0;  // 2^128 - 2^103
    if (std::isnan(v)) return std::numeric_limits<float>::quiet_NaN();
    if (v > fmax || v < -fmax) {
        const float inf = std::numeric_limits<float>::infinity();
        if (v >= limit) return inf;
        if (v <= -limit) return -inf;
        return v > 0 ? std::numeric_limits<float>::max() : -std::numeric_limits<float>::max();
    }
    return static_cast<float>(v);
}

// The columns [start, start + width) of a line (0-based start), cut short where
// the line is shorter: a record padded with blanks reads the same.
inline std::string_view field_at(std::string_view line, std::size_t start, std::size_t width) {
    if (start >= line.size()) return {};
    return line.substr(start, width);
}

}  // namespace qv::fio
