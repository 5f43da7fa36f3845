// Fixed-column field readers. A real field is rewritten as a canonical decimal
// text (sign, digits with a point, exponent adjusted for the implied decimal
// point) and converted with one correctly rounded conversion to the target kind.
#include "io/fields.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace qv::fio {

namespace {

inline char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Case-insensitive comparison of s with a lower-case word.
bool equals_word(std::string_view s, std::string_view word) {
    if (s.size() != word.size()) return false;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (lower(s[i]) != word[i]) return false;
    return true;
}

enum class Kind { Number, Zero, Inf, NaN, Bad };

struct Canon {
    Kind kind = Kind::Bad;
    bool neg = false;
    std::string_view text;  // the canonical decimal text (Number)
};

// Output space of the canonical text: on the stack for usual fields.
class Out {
public:
    explicit Out(std::size_t need) {
        if (need > sizeof stack_) {
            heap_.resize(need);
            p_ = heap_.data();
        }
    }
    void push(char c) { p_[n_++] = c; }
    std::size_t size() const { return n_; }
    std::string_view view() const { return {p_, n_}; }

private:
    char stack_[256];
    std::string heap_;
    char* p_ = stack_;
    std::size_t n_ = 0;
};

// An infinity or NaN text after the sign (blanks around already removed from the
// end): inf, infinity, nan, nan(...).
Kind infnan(std::string_view s) {
    if (equals_word(s, "inf") || equals_word(s, "infinity")) return Kind::Inf;
    if (s.size() >= 3 && equals_word(s.substr(0, 3), "nan")) {
        if (s.size() == 3) return Kind::NaN;
        if (s[3] == '(' && s.back() == ')') {
            for (std::size_t i = 4; i + 1 < s.size(); ++i) {
                char c = s[i];
                if (!(is_digit(c) || (lower(c) >= 'a' && lower(c) <= 'z') || c == '_')) return Kind::Bad;
            }
            return Kind::NaN;
        }
    }
    return Kind::Bad;
}

// Reads a real field as the runtime does (blanks are null), into out.
Canon parse_real(std::string_view f, int d, Out& out) {
    Canon c;
    std::size_t i = 0;
    const std::size_t n = f.size();
    while (i < n && f[i] == ' ') ++i;
    if (i == n) {
        c.kind = Kind::Zero;
        return c;
    }
    if (f[i] == '+' || f[i] == '-') {
        c.neg = f[i] == '-';
        ++i;
        while (i < n && f[i] == ' ') ++i;
        if (i == n) {
            c.kind = Kind::Zero;  // a sign alone reads as (positive) zero
            c.neg = false;
            return c;
        }
    }
    {
        char l = lower(f[i]);
        if (l == 'i' || l == 'n') {
            std::size_t e = n;
            while (e > i && f[e - 1] == ' ') --e;
            c.kind = infnan(f.substr(i, e - i));
            return c;
        }
    }
    if (c.neg) out.push('-');
    bool seen_dp = false, seen_int = false, seen_dec = false;
    long exponent = 0;
    bool has_exp = false;
    for (; i < n; ++i) {
        const char ch = f[i];
        if (is_digit(ch)) {
            out.push(ch);
            if (seen_dp)
                seen_dec = true;
            else
                seen_int = true;
            continue;
        }
        if (ch == ' ') continue;
        if (ch == '.') {
            if (seen_dp) return c;  // Bad
            if (!seen_int) out.push('0');
            out.push('.');
            seen_dp = true;
            continue;
        }
        if (ch == '+' || ch == '-') {
            has_exp = true;
            break;  // the sign begins the exponent
        }
        const char l = lower(ch);
        if (l == 'e' || l == 'd' || l == 'q') {
            ++i;
            has_exp = true;
            break;
        }
        return c;  // Bad
    }
    if (has_exp) {
        while (i < n && f[i] == ' ') ++i;
        int esign = 1;
        if (i < n && (f[i] == '+' || f[i] == '-')) {
            if (f[i] == '-') esign = -1;
            ++i;
        }
        long ev = 0;
        bool edigit = false;
        for (; i < n; ++i) {
            const char ch = f[i];
            if (ch == ' ') continue;
            if (!is_digit(ch)) return c;  // Bad
            edigit = true;
            if (ev < 100000000) ev = ev * 10 + (ch - '0');
        }
        if (!edigit) return c;  // an exponent without digits: Bad
        exponent = esign * ev;
    }
    if (!seen_dp) exponent -= d;
    // The runtime takes exponents of at most four digits (after the shift by d).
    if (exponent >= 10000 || exponent <= -10000) return c;  // Bad
    if (seen_dp && !seen_dec)
        out.push('0');
    else if (!seen_int && !seen_dec)
        out.push('0');
    // The exponent.
    out.push('e');
    char eb[24];
    auto r = std::to_chars(eb, eb + sizeof eb, exponent);
    for (char* q = eb; q < r.ptr; ++q) out.push(*q);
    c.kind = Kind::Number;
    c.text = out.view();
    return c;
}

template <class T>
std::optional<T> read_real_t(std::string_view field, int d) {
    Out out(field.size() + 32);
    Canon c = parse_real(field, d, out);
    switch (c.kind) {
    case Kind::Bad:
        return std::nullopt;
    case Kind::Zero:
        return c.neg ? -T(0) : T(0);
    case Kind::Inf:
        return c.neg ? -std::numeric_limits<T>::infinity() : std::numeric_limits<T>::infinity();
    case Kind::NaN:
        return std::numeric_limits<T>::quiet_NaN();
    case Kind::Number:
        break;
    }
    T v{};
    const char* b = c.text.data();
    const char* e = b + c.text.size();
    auto r = std::from_chars(b, e, v, std::chars_format::general);
    if (r.ec == std::errc() && r.ptr == e) return v;
    // Out of range (an overflow or a result in or below the subnormals): the C
    // library gives the infinity, subnormal or zero that the runtime gives.
    std::string s(c.text);
    char* endp = nullptr;
    errno = 0;
    if constexpr (sizeof(T) == sizeof(float))
        v = std::strtof(s.c_str(), &endp);
    else
        v = std::strtod(s.c_str(), &endp);
    if (endp != s.c_str() + s.size()) return std::nullopt;
    return v;
}

}  // namespace

std::optional<double> read_real_field(std::string_view field, int d) { return read_real_t<double>(field, d); }

std::optional<float> read_real4_field(std::string_view field, int d) { return read_real_t<float>(field, d); }

std::optional<long long> read_int_field(std::string_view field) {
    std::size_t i = 0;
    const std::size_t n = field.size();
    while (i < n && field[i] == ' ') ++i;
    if (i == n) return 0LL;
    bool neg = false;
    if (field[i] == '+' || field[i] == '-') {
        neg = field[i] == '-';
        ++i;
    }
    // The limit of a 4-byte integer (one more for a negative value).
    const long long maxv = neg ? 2147483648LL : 2147483647LL;
    long long v = 0;
    bool digit = false;
    for (; i < n; ++i) {
        const char ch = field[i];
        if (ch == ' ') continue;
        if (!is_digit(ch)) return std::nullopt;
        digit = true;
        v = v * 10 + (ch - '0');
        if (v > maxv) return std::nullopt;
    }
    if (!digit) return std::nullopt;  // a sign alone
    return neg ? -v : v;
}

std::optional<bool> read_logical_field(std::string_view field) {
    std::size_t i = 0;
    const std::size_t n = field.size();
    while (i < n && field[i] == ' ') ++i;
    if (i == n) return false;
    if (field[i] == '.') {
        ++i;
        if (i == n) return std::nullopt;
    }
    switch (field[i]) {
    case 't':
    case 'T':
        return true;
    case 'f':
    case 'F':
        return false;
    default:
        return std::nullopt;
    }
}

}  // namespace qv::fio
