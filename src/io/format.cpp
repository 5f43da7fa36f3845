// Formatted output, field by field as gfortran's runtime builds it: the digits
// come from a correctly rounded conversion of the exact binary value (ties to
// even, like the C library's printf that the runtime calls), then the field is
// laid out with its sign, optional leading zero, exponent and blanks.
#include "io/format.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

namespace qv::fio {

namespace {

std::string stars(int w) { return std::string(static_cast<std::size_t>(w > 0 ? w : 0), '*'); }

// Infinity and NaN under F, E and G: right-aligned "Infinity" when it fits,
// else "Inf"; a minus sign for negative infinity.
std::string write_infnan(double v, int w) {
    if (w < 3) return stars(w);
    std::string out(static_cast<std::size_t>(w), ' ');
    if (std::isnan(v)) {
        out.replace(static_cast<std::size_t>(w - 3), 3, "NaN");
        return out;
    }
    const bool neg = std::signbit(v);
    if (neg && w == 3) return stars(w);
    const int mark = neg ? 8 : 7;
    if (w > mark) {
        out.replace(static_cast<std::size_t>(w - 8), 8, "Infinity");
        if (neg) out[static_cast<std::size_t>(w - 9)] = '-';
    } else {
        out.replace(static_cast<std::size_t>(w - 3), 3, "Inf");
        if (neg) out[static_cast<std::size_t>(w - 4)] = '-';
    }
    return out;
}

// Scratch space for a conversion: on the stack for the usual precisions.
struct Buf {
    char stack[512];
    std::string heap;
    char* p = stack;
    std::size_t n = sizeof stack;
    explicit Buf(std::size_t need) {
        if (need > n) {
            heap.resize(need);
            p = heap.data();
            n = need;
        }
    }
};

// The magnitude a in scientific notation with prec digits after the point:
// fills digits (prec + 1 of them) and returns the decimal exponent of the first.
int sci_digits(double a, int prec, std::string& digits) {
    Buf b(static_cast<std::size_t>(prec) + 32);
    auto r = std::to_chars(b.p, b.p + b.n, a, std::chars_format::scientific, prec);
    const char* s = b.p;
    const char* end = r.ptr;
    digits.clear();
    const char* q = s;
    for (; q < end && *q != 'e'; ++q)
        if (*q != '.') digits.push_back(*q);
    int ex = 0;
    if (q < end) std::from_chars(q[1] == '+' ? q + 2 : q + 1, end, ex);
    return ex;
}

// The magnitude a in fixed notation with prec digits after the point: the
// integer part (at least "0") and the fraction.
void fixed_digits(double a, int prec, std::string& ipart, std::string& frac) {
    Buf b(static_cast<std::size_t>(prec) + 340);
    auto r = std::to_chars(b.p, b.p + b.n, a, std::chars_format::fixed, prec);
    std::string_view s(b.p, static_cast<std::size_t>(r.ptr - b.p));
    auto dot = s.find('.');
    if (dot == std::string_view::npos) {
        ipart.assign(s);
        frac.clear();
    } else {
        ipart.assign(s.substr(0, dot));
        frac.assign(s.substr(dot + 1));
    }
}

void scale_error() { throw FormatError("scale factor out of range in an E or D edit descriptor"); }

// Fw.d under the scale factor p (the value is written times 10^p).
std::string format_f(double v, int w, int d, int p) {
    if (!std::isfinite(v)) return write_infnan(v, w);
    if (d < 0 || w < 0) throw FormatError("bad F edit descriptor");
    const bool neg = std::signbit(v);
    const double a = std::fabs(v);
    // The digits of a x 10^(d+p) rounded to an integer: the last d of them are
    // the fraction of the field.
    std::string ip, fr;
    const int prec = d + p;
    if (prec >= 0) {
        fixed_digits(a, prec, ip, fr);
    } else {
        // Beyond what the decimal conversion gives (a scale factor below -d):
        // the value is scaled first, as the runtime rounds such fields itself.
        fixed_digits(a * std::pow(10.0, static_cast<double>(prec)), 0, ip, fr);
    }
    if (p != 0) {
        std::string all = ip + fr;
        if (all.size() < static_cast<std::size_t>(d)) all.insert(0, static_cast<std::size_t>(d) - all.size(), '0');
        ip = all.substr(0, all.size() - static_cast<std::size_t>(d));
        fr = all.substr(all.size() - static_cast<std::size_t>(d));
    }
    std::size_t lead = 0;
    while (lead < ip.size() && ip[lead] == '0') ++lead;
    ip.erase(0, lead);
    const int nbefore = static_cast<int>(ip.size());
    int nblanks = w - ((neg ? 1 : 0) + nbefore + 1 + d);
    bool leadzero = false;
    if (nbefore == 0 && nblanks > 0) {
        leadzero = true;
        --nblanks;
    }
    if (nblanks < 0 || w == 1 || (w == 2 && neg)) return stars(w);
    std::string out;
    out.reserve(static_cast<std::size_t>(w));
    out.append(static_cast<std::size_t>(nblanks), ' ');
    if (neg) out.push_back('-');
    if (leadzero) out.push_back('0');
    out.append(ip);
    out.push_back('.');
    out.append(fr);
    return out;
}

int decimal_digits(int v) {
    int n = 1;
    for (v = std::abs(v); v >= 10; v /= 10) ++n;
    return n;
}

// Ew.d[Ee] (expchar 'E'), Dw.d ('D') under the scale factor p; ESw.d[Ee] with es.
std::string format_e(double v, int w, int d, int e, int p, char expchar, bool es) {
    if (!std::isfinite(v)) return write_infnan(v, w);
    if (d < 0 || w < 0) throw FormatError("bad E edit descriptor");
    if (!es && (p <= -d || p >= d + 2)) scale_error();
    const bool neg = std::signbit(v);
    const double a = std::fabs(v);
    const int prec = es ? d : (p <= 0 ? d - 1 + p : d);
    std::string digits;
    const int x = sci_digits(a, prec, digits);
    int nbefore, nzero, nafter, ex;
    if (es) {
        nbefore = 1;
        nzero = 0;
        nafter = d;
        ex = a == 0.0 ? 0 : x;
    } else {
        ex = a == 0.0 ? 0 : x + 1 - p;
        if (p < 0) {
            nbefore = 0;
            nzero = -p;
            nafter = d + p;
        } else if (p > 0) {
            nbefore = p;
            nzero = 0;
            nafter = d - p + 1;
        } else {
            nbefore = 0;
            nzero = 0;
            nafter = d;
        }
    }
    // The exponent part: E+dd (or +ddd past 99) without Ee, E+ then e digits with it.
    char expbuf[32];
    int elen;
    const char esign = ex < 0 ? '-' : '+';
    const int eabs = std::abs(ex);
    if (e <= 0) {
        if (eabs > 999) return stars(w);
        if (eabs > 99)
            elen = std::snprintf(expbuf, sizeof expbuf, "%c%03d", esign, eabs);
        else
            elen = std::snprintf(expbuf, sizeof expbuf, "%c%c%02d", expchar, esign, eabs);
    } else {
        if (decimal_digits(eabs) > e) return stars(w);
        elen = std::snprintf(expbuf, sizeof expbuf, "%c%c%0*d", expchar, esign, e, eabs);
    }
    int nblanks = w - ((neg ? 1 : 0) + nbefore + nzero + nafter + 1 + elen);
    bool leadzero = false;
    if (nbefore == 0 && nblanks > 0) {
        leadzero = true;
        --nblanks;
    }
    if (nblanks < 0 || w == 1 || (w == 2 && neg)) return stars(w);
    std::string out;
    out.reserve(static_cast<std::size_t>(w));
    out.append(static_cast<std::size_t>(nblanks), ' ');
    if (neg) out.push_back('-');
    if (leadzero) out.push_back('0');
    out.append(digits, 0, static_cast<std::size_t>(nbefore));
    out.push_back('.');
    out.append(static_cast<std::size_t>(nzero), '0');
    out.append(digits, static_cast<std::size_t>(nbefore), static_cast<std::size_t>(nafter));
    out.append(expbuf, static_cast<std::size_t>(elen));
    return out;
}

// 10^d in the arithmetic of T, as the runtime computes it.
template <class T>
T calc_exp(int d) {
    T r = 1;
    for (int i = 0; i < (d >= 0 ? d : -d); ++i) r *= 10;
    if (d < 0) r = static_cast<T>(1.0 / static_cast<double>(r));
    return r;
}

// Gw.d[Ee] under the scale factor p (which acts on the E form only), for a real
// of kind T. comp_d = 1 is the list-directed variant (d significant digits in
// both forms, the E form written 1PEw.(d-1)).
template <class T>
std::string format_g(T value, int w, int d, int e, int p, int comp_d) {
    const double v = static_cast<double>(value);
    if (!std::isfinite(v)) return write_infnan(v, w);
    if (d <= 0) throw FormatError("G edit descriptor needs d > 0");
    const T m = value < 0 ? -value : value;
    const T r = static_cast<T>(0.5);
    const T exp_d = calc_exp<T>(d);
    const T r_sc = static_cast<T>(1 - r / exp_d);
    volatile T temp = static_cast<T>(0.1 * static_cast<double>(r_sc));
    if (m > 0 && (m < temp || r >= exp_d - m)) {
        return format_e(v, w, d - comp_d, e, comp_d != 0 ? comp_d : p, 'E', false);
    }
    int mid = 0, low = 0, high = d + 1, lbound = 0, ubound = d + 1;
    while (low <= high) {
        mid = (low + high) / 2;
        temp = static_cast<T>(calc_exp<T>(mid - 1) * r_sc);
        if (m < temp) {
            ubound = mid;
            if (ubound == lbound + 1) break;
            high = mid - 1;
        } else if (m > temp) {
            lbound = mid;
            if (ubound == lbound + 1) {
                ++mid;
                break;
            }
            low = mid + 1;
        } else {
            ++mid;
            break;
        }
    }
    int npad = e <= 0 ? 4 : e + 2;
    if (npad >= w) npad = w - 1;
    const int fd = m == 0 ? d - 1 : d + 1 - mid;
    std::string f = format_f(v, w - npad, fd, 0);
    if (!f.empty() && f[0] == '*') return stars(w);
    f.append(static_cast<std::size_t>(npad), ' ');
    return f;
}

std::string format_g_any(double v, bool single, int w, int d, int e, int p) {
    if (single) return format_g<float>(static_cast<float>(v), w, d, e, p, 0);
    return format_g<double>(v, w, d, e, p, 0);
}

}  // namespace

// ---------------------------------------------------------------------------
// Single edit descriptors

std::string edit_i(long long v, int w, int m) {
    const bool neg = v < 0;
    // Magnitude without overflow for the most negative value.
    unsigned long long mag = neg ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    std::string digits;
    if (!(m == 0 && mag == 0)) digits = std::to_string(mag);
    if (m > 0 && static_cast<int>(digits.size()) < m)
        digits.insert(0, static_cast<std::size_t>(m) - digits.size(), '0');
    std::string body = neg ? "-" + digits : digits;
    if (w == 0) return body.empty() ? std::string("0") : body;
    if (static_cast<int>(body.size()) > w) return stars(w);
    return std::string(static_cast<std::size_t>(w) - body.size(), ' ') + body;
}

std::string edit_f(double v, int w, int d) { return format_f(v, w, d, 0); }
std::string edit_f(float v, int w, int d) { return format_f(static_cast<double>(v), w, d, 0); }

std::string edit_f_fit(double v, int w, int d) {
    std::string f = format_f(v, w, d, 0);
    if (f.find('*') == std::string::npos) return f;
    // sign, one digit, the point, the digits, and E+dd (+ddd past 99).
    const int digits = w - 6 - (std::signbit(v) ? 1 : 0);
    if (digits < 0) return f;
    return format_e(v, w, digits, 0, 0, 'E', true);
}
std::string edit_f_fit(float v, int w, int d) { return edit_f_fit(static_cast<double>(v), w, d); }

std::string edit_e(double v, int w, int d, int e, int p) { return format_e(v, w, d, e, p, 'E', false); }
std::string edit_e(float v, int w, int d, int e, int p) {
    return format_e(static_cast<double>(v), w, d, e, p, 'E', false);
}

std::string edit_g(double v, int w, int d, int e) { return format_g<double>(v, w, d, e, 0, 0); }
std::string edit_g(float v, int w, int d, int e) { return format_g<float>(v, w, d, e, 0, 0); }

std::string edit_l(bool v, int w) {
    if (w <= 0) w = 1;
    std::string out(static_cast<std::size_t>(w - 1), ' ');
    out.push_back(v ? 'T' : 'F');
    return out;
}

std::string edit_a(std::string_view v, int w) {
    if (w < 0) return std::string(v);
    if (v.size() >= static_cast<std::size_t>(w)) return std::string(v.substr(0, static_cast<std::size_t>(w)));
    return std::string(static_cast<std::size_t>(w) - v.size(), ' ') + std::string(v);
}

// ---------------------------------------------------------------------------
// Format strings

namespace {

struct Node {
    enum class Type { Data, Literal, X, Slash, Colon, Scale, Group };
    Type type = Type::Data;
    int repeat = 1;
    char code = 0;  // I F E D S(ES) G L A
    int w = -1, d = -1, e = 0;
    std::string text;
    std::vector<Node> children;
};

class Parser {
public:
    explicit Parser(std::string_view f) : s_(f) {}

    std::vector<Node> parse() {
        skip_blanks();
        if (!eat('(')) fail("a format begins with '('");
        std::vector<Node> list = parse_list();
        skip_blanks();
        if (pos_ != s_.size()) fail("text after the closing parenthesis");
        return list;
    }

private:
    std::string_view s_;
    std::size_t pos_ = 0;

    [[noreturn]] void fail(const std::string& what) const {
        throw FormatError("bad format \"" + std::string(s_) + "\": " + what);
    }
    void skip_blanks() {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t')) ++pos_;
    }
    bool eat(char c) {
        skip_blanks();
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    char peek_upper() {
        skip_blanks();
        if (pos_ >= s_.size()) return 0;
        char c = s_[pos_];
        return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    bool digit_next() {
        skip_blanks();
        return pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9';
    }
    int number() {
        skip_blanks();
        if (!(pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9')) fail("a number was expected");
        long v = 0;
        while (true) {
            skip_blanks();
            if (!(pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9')) break;
            v = v * 10 + (s_[pos_] - '0');
            if (v > 100000000) fail("number too large");
            ++pos_;
        }
        return static_cast<int>(v);
    }

    std::vector<Node> parse_list() {
        std::vector<Node> list;
        while (true) {
            skip_blanks();
            if (pos_ >= s_.size()) fail("missing ')'");
            if (eat(')')) return list;
            if (eat(',')) continue;
            parse_item(list);
        }
    }

    void parse_item(std::vector<Node>& list) {
        Node n;
        char c = peek_upper();
        if (c == '\'' || c == '"') {
            n.type = Node::Type::Literal;
            n.text = quoted();
            list.push_back(std::move(n));
            return;
        }
        if (c == '/') {
            ++pos_;
            n.type = Node::Type::Slash;
            list.push_back(std::move(n));
            return;
        }
        if (c == ':') {
            ++pos_;
            n.type = Node::Type::Colon;
            list.push_back(std::move(n));
            return;
        }
        bool negative = false;
        if (c == '-' || c == '+') {
            negative = c == '-';
            ++pos_;
            if (!digit_next()) fail("a scale factor was expected");
        }
        int count = -1;
        if (digit_next()) count = number();
        c = peek_upper();
        if (negative && c != 'P') fail("a scale factor was expected");
        switch (c) {
        case 'P':
            ++pos_;
            if (count < 0) fail("P needs a scale factor");
            n.type = Node::Type::Scale;
            n.w = negative ? -count : count;
            list.push_back(std::move(n));
            return;
        case 'X':
            ++pos_;
            n.type = Node::Type::X;
            n.w = count < 0 ? 1 : count;
            list.push_back(std::move(n));
            return;
        case '/':
            ++pos_;
            n.type = Node::Type::Slash;
            n.repeat = count < 0 ? 1 : count;
            list.push_back(std::move(n));
            return;
        case '(':
            ++pos_;
            n.type = Node::Type::Group;
            n.repeat = count < 0 ? 1 : count;
            n.children = parse_list();
            list.push_back(std::move(n));
            return;
        case '\'':
        case '"':
            if (count >= 0) fail("a repeat count before a literal");
            break;
        default:
            break;
        }
        if (count == 0) fail("a repeat count of 0");
        n.repeat = count < 0 ? 1 : count;
        n.type = Node::Type::Data;
        switch (c) {
        case 'I':
        case 'L':
            ++pos_;
            n.code = c;
            n.w = number();
            if (c == 'I' && eat('.')) n.d = number();
            if (c == 'L' && n.w == 0) fail("L0");
            break;
        case 'A':
            ++pos_;
            n.code = 'A';
            n.w = digit_next() ? number() : -1;
            if (n.w == 0) fail("A0");
            break;
        case 'F':
        case 'E':
        case 'D':
        case 'G': {
            ++pos_;
            n.code = c;
            if (c == 'E' && peek_upper() == 'S') {
                ++pos_;
                n.code = 'S';
            } else if (c == 'E' && peek_upper() == 'N') {
                fail("EN editing is not supported");
            }
            n.w = number();
            if (n.w == 0) fail("a field width of 0");
            if (!eat('.')) fail("a real edit descriptor needs .d");
            n.d = number();
            if (n.code != 'F' && n.code != 'D' && peek_upper() == 'E') {
                ++pos_;
                n.e = number();
                if (n.e == 0) fail("an exponent width of 0");
            }
            break;
        }
        default:
            fail(std::string("unknown edit descriptor at '") + std::string(s_.substr(pos_, 1)) + "'");
        }
        list.push_back(std::move(n));
    }

    std::string quoted() {
        const char q = s_[pos_++];
        std::string t;
        while (true) {
            if (pos_ >= s_.size()) fail("unterminated literal");
            char c = s_[pos_++];
            if (c == q) {
                if (pos_ < s_.size() && s_[pos_] == q) {
                    t.push_back(q);
                    ++pos_;
                    continue;
                }
                return t;
            }
            t.push_back(c);
        }
    }
};

// The state of one formatted write.
class Writer {
public:
    Writer(std::string_view format, const Item* items, std::size_t n)
        : format_(format), items_(items), n_(n) {}

    std::vector<std::string> run(const std::vector<Node>& top) {
        // Where a format reversion starts: the last top-level group, or the start.
        std::size_t revert = 0;
        for (std::size_t i = 0; i < top.size(); ++i)
            if (top[i].type == Node::Type::Group) revert = i;
        bool go = run_list(top, 0);
        while (go && next_ < n_) {
            if (!used_since_start_) {
                throw FormatError("format \"" + std::string(format_) +
                                  "\" has no data edit descriptor for the items left");
            }
            end_record();
            used_since_start_ = false;
            go = run_list(top, revert);
        }
        records_.push_back(std::move(cur_));
        return std::move(records_);
    }

private:
    std::string_view format_;
    const Item* items_;
    std::size_t n_;
    std::size_t next_ = 0;
    bool used_since_start_ = false;
    int scale_ = 0;
    int pending_ = 0;
    std::string cur_;
    std::vector<std::string> records_;

    void put(const std::string& s) {
        cur_.append(static_cast<std::size_t>(pending_), ' ');
        pending_ = 0;
        cur_.append(s);
    }
    void end_record() {
        records_.push_back(std::move(cur_));
        cur_.clear();
        pending_ = 0;
    }
    [[noreturn]] void mismatch(const Node& n, const Item& it) const {
        static const char* kinds[] = {"an integer", "a real", "a text", "a logical"};
        std::string d(1, n.code == 'S' ? 'E' : n.code);
        if (n.code == 'S') d = "ES";
        throw FormatError("format \"" + std::string(format_) + "\": item " + std::to_string(next_) + " is " +
                          kinds[static_cast<int>(it.kind)] + ", which " + d + " editing cannot write");
    }

    void write_item(const Node& n, const Item& it) {
        switch (n.code) {
        case 'I':
            if (it.kind != Item::Kind::Int) mismatch(n, it);
            put(edit_i(it.i, n.w, n.d));
            return;
        case 'F':
            if (it.kind != Item::Kind::Real) mismatch(n, it);
            put(format_f(it.r, n.w, n.d, scale_));
            return;
        case 'E':
        case 'D':
        case 'S':
            if (it.kind != Item::Kind::Real) mismatch(n, it);
            put(format_e(it.r, n.w, n.d, n.e, scale_, n.code == 'D' ? 'D' : 'E', n.code == 'S'));
            return;
        case 'G':
            switch (it.kind) {
            case Item::Kind::Real:
                put(format_g_any(it.r, it.single, n.w, n.d, n.e, scale_));
                return;
            case Item::Kind::Int:
                put(edit_i(it.i, n.w));
                return;
            case Item::Kind::Logical:
                put(edit_l(it.b, n.w));
                return;
            case Item::Kind::Str:
                put(edit_a(it.s, n.w));
                return;
            }
            return;
        case 'L':
            if (it.kind != Item::Kind::Logical) mismatch(n, it);
            put(edit_l(it.b, n.w));
            return;
        case 'A':
            if (it.kind != Item::Kind::Str) mismatch(n, it);
            put(edit_a(it.s, n.w));
            return;
        default:
            throw FormatError("internal: unknown descriptor");
        }
    }

    // Runs list[from..]; false when output has stopped (items used up at a data
    // descriptor or a colon).
    bool run_list(const std::vector<Node>& list, std::size_t from) {
        for (std::size_t i = from; i < list.size(); ++i) {
            const Node& n = list[i];
            switch (n.type) {
            case Node::Type::Data:
                for (int k = 0; k < n.repeat; ++k) {
                    if (next_ >= n_) return false;
                    write_item(n, items_[next_]);
                    ++next_;
                    used_since_start_ = true;
                }
                break;
            case Node::Type::Literal:
                put(n.text);
                break;
            case Node::Type::X:
                pending_ += n.w;
                break;
            case Node::Type::Slash:
                for (int k = 0; k < n.repeat; ++k) end_record();
                break;
            case Node::Type::Colon:
                if (next_ >= n_) return false;
                break;
            case Node::Type::Scale:
                scale_ = n.w;
                break;
            case Node::Type::Group:
                for (int k = 0; k < n.repeat; ++k)
                    if (!run_list(n.children, 0)) return false;
                break;
            }
        }
        return true;
    }
};

std::vector<std::string> write_impl(std::string_view format, const Item* items, std::size_t n) {
    std::vector<Node> top = Parser(format).parse();
    return Writer(format, items, n).run(top);
}

std::string join(std::vector<std::string> recs) {
    std::string out = std::move(recs[0]);
    for (std::size_t i = 1; i < recs.size(); ++i) {
        out.push_back('\n');
        out.append(recs[i]);
    }
    return out;
}

// One list-directed number field.
std::string list_field(const Item& it) {
    switch (it.kind) {
    case Item::Kind::Int: {
        const bool narrow = it.i >= std::numeric_limits<std::int32_t>::min() &&
                            it.i <= std::numeric_limits<std::int32_t>::max();
        return edit_i(it.i, narrow ? 11 : 20);
    }
    case Item::Kind::Real:
        if (it.single) return format_g<float>(static_cast<float>(it.r), 16, 9, 2, 0, 1);
        return format_g<double>(it.r, 25, 17, 3, 0, 1);
    case Item::Kind::Logical:
        return it.b ? "T" : "F";
    case Item::Kind::Str:
        return std::string(it.s);
    }
    return {};
}

std::string list_impl(const Item* items, std::size_t n) {
    std::string out;
    if (n == 0) return out;
    bool prev_str = false;
    for (std::size_t k = 0; k < n; ++k) {
        const Item& it = items[k];
        const bool is_str = it.kind == Item::Kind::Str;
        if (k == 0) {
            if (!(is_str && !it.s.empty() && it.s.front() == ' ')) out.push_back(' ');
        } else if (!(is_str && prev_str)) {
            out.push_back(' ');
        }
        out.append(list_field(it));
        prev_str = is_str;
    }
    return out;
}

}  // namespace

std::vector<std::string> write_records(std::string_view format, std::initializer_list<Item> items) {
    return write_impl(format, items.begin(), items.size());
}
std::vector<std::string> write_records(std::string_view format, const std::vector<Item>& items) {
    return write_impl(format, items.data(), items.size());
}

std::string write_line(std::string_view format, std::initializer_list<Item> items) {
    return join(write_impl(format, items.begin(), items.size()));
}
std::string write_line(std::string_view format, const std::vector<Item>& items) {
    return join(write_impl(format, items.data(), items.size()));
}

std::string list_line(std::initializer_list<Item> items) { return list_impl(items.begin(), items.size()); }
std::string list_line(const std::vector<Item>& items) { return list_impl(items.data(), items.size()); }

}  // namespace qv::fio
