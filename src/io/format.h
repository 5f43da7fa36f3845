// Formatted output as a Fortran runtime writes it: edit descriptors (Iw, Iw.m,
// Fw.d, Ew.d, Ew.dEe, kPEw.d, Gw.d, Aw, A, Lw, nX, 'text', "/", repeat counts
// and parenthesised groups such as 9G11.4 or 3(1X,F7.2)), and free-format
// (list-directed) lines.
//
// Reals are formatted from the exact binary value they hold, rounded to nearest
// (ties to even) as the runtime does. A float and the double converted from it
// give the same field under F and E; under G the choice between the F and the E
// form is made, as the runtime makes it, in the arithmetic of the real's own
// kind, so the float overloads (and 4-byte items) write what a REAL(4) gives
// and the double ones what a REAL(8) gives (they differ only for values within
// a rounding error of a form boundary, e.g. G11.4 of 0.99995f is "  1.000    ").
//
// A field too narrow for its value is w asterisks; an exponent beyond two
// digits under Ew.d drops its letter ("0.100-100"); Infinity and NaN are written
// as "Infinity"/"Inf"/"NaN" right-aligned; a negative value that rounds to zero
// keeps its minus sign ("-0.000"), as does a negative zero.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace qv::fio {

// One value to write.
struct Item {
    enum class Kind { Int, Real, Str, Logical };
    Kind kind;
    long long i = 0;
    double r = 0.0;
    bool single = true;  // a 4-byte real (free-format field, G's choice of form)
    std::string_view s;
    bool b = false;

    Item(int v) : kind(Kind::Int), i(v) {}
    Item(long v) : kind(Kind::Int), i(v) {}
    Item(long long v) : kind(Kind::Int), i(v) {}
    Item(float v) : kind(Kind::Real), r(static_cast<double>(v)), single(true) {}
    Item(double v) : kind(Kind::Real), r(v), single(false) {}
    Item(bool v) : kind(Kind::Logical), b(v) {}
    Item(const char* v) : kind(Kind::Str), s(v) {}
    Item(std::string_view v) : kind(Kind::Str), s(v) {}
    Item(const std::string& v) : kind(Kind::Str), s(v) {}
};

// Single edit descriptors. e = 0: no Ee part; p: the scale factor kP. Iw with
// w = 0 (I0) writes the minimal width. A descriptor that the runtime refuses
// (Ew.0 without a positive scale factor, Gw.0, a scale factor out of range for
// E) throws FormatError.
std::string edit_i(long long v, int w, int m = -1);                 // Iw, Iw.m
std::string edit_f(double v, int w, int d);                         // Fw.d
std::string edit_e(double v, int w, int d, int e = 0, int p = 0);   // Ew.d, Ew.dEe, kPEw.d
std::string edit_g(double v, int w, int d, int e = 0);              // Gw.d, Gw.dEe
std::string edit_l(bool v, int w);                                  // Lw
std::string edit_a(std::string_view v, int w = -1);                 // Aw, A (w < 0)

// The same for 4-byte reals (no promotion warning at the call; G as a REAL(4)).
std::string edit_f(float v, int w, int d);
std::string edit_e(float v, int w, int d, int e = 0, int p = 0);
std::string edit_g(float v, int w, int d, int e = 0);

// Fw.d, or, when the value does not fit the field (w asterisks under F), the
// exponent form ESw.e of the same width with as many digits after the point as
// fit (e = w - 6, one less for a negative value): a finite value is never
// written as asterisks. A value that fits gives exactly what Fw.d gives.
std::string edit_f_fit(double v, int w, int d);
std::string edit_f_fit(float v, int w, int d);

// Writes items by a format such as "(1X,G15.5)" or "(' text ',A,': ',I3)".
// Returns the records, one per "/" or format reversion, without line ends.
//
// Descriptors: Iw[.m], Fw.d, Ew.d[Ee], Dw.d, ESw.d[Ee], Gw.d[Ee], Lw, A[w],
// nX, kP, 'text' and "text" (doubled quotes inside), "/" (optionally r/), ":",
// repeat counts and parenthesised groups; blanks and letter case do not
// matter, commas between descriptors are optional. G also writes an integer
// (as Iw), a logical (Lw) or a text (Aw). Output stops at the first data
// descriptor (or ":") met when the items are used up, or at the end of the
// format; when items remain at the end, a new record begins and the format
// starts again at its last top-level group (with that group's repeat count),
// or at its beginning when it has none. nX only moves the position: blanks
// that no later text follows in the record are not written.
// FormatError: a format that does not parse, an item that its descriptor
// cannot write (a real under I, ...), or items left that no data descriptor
// of the reverted format can take.
std::vector<std::string> write_records(std::string_view format, std::initializer_list<Item> items);
std::vector<std::string> write_records(std::string_view format, const std::vector<Item>& items);

// The same, for a format known to produce exactly one record (the records are
// joined with '\n' otherwise).
std::string write_line(std::string_view format, std::initializer_list<Item> items);
std::string write_line(std::string_view format, const std::vector<Item>& items);

// A free-format output line. It begins with exactly one blank (a first text item
// that already begins with a blank supplies it); text items follow one another
// without separator; every other item is preceded by one blank, and so is a
// text item that follows a number. Numbers take the field of gfortran's
// list-directed output: an integer right-aligned in 11 columns (20 when it
// does not fit a 4-byte integer); a 4-byte real in 16 columns with 9
// significant digits, as F (0.1 <= |x| < 1e9, four trailing blanks, so 2.5f is
// "  2.50000000    ") or as 1PE16.8E2 ("  1.00000000E+10"); an 8-byte real
// the same with 17 digits in 25 columns (1PE25.16E3 beyond 0.1 <= |x| < 1e17,
// five trailing blanks in the F form); a logical as T or F. No items: an empty
// line.
std::string list_line(std::initializer_list<Item> items);
std::string list_line(const std::vector<Item>& items);

// Thrown for a format string that cannot be parsed or does not fit its items
// (a programming fault, never a user's input).
struct FormatError : std::exception {
    std::string msg;
    explicit FormatError(std::string m) : msg(std::move(m)) {}
    const char* what() const noexcept override { return msg.c_str(); }
};

}  // namespace qv::fio
