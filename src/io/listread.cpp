// List-directed input: a small scanner over the lines of one read, the value
// separators of Fortran (blanks, a comma or semicolon with blanks around it, a
// slash that ends the read), null values, repeat counts, and one parser per
// target type.
#include "io/listread.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string_view>
#include <vector>

#include "core/stop.h"

namespace qv::fio {

namespace {

inline bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
inline bool is_sep(char c) { return is_blank(c) || c == ',' || c == ';' || c == '/'; }
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }
inline char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The lines of one read: a file from its cursor on, or one string.
class Source {
public:
    explicit Source(TextFile* f) : file_(f) {}
    explicit Source(std::string_view s) : single_(s) {}

    bool next(std::string_view& line, long& number) {
        if (file_) {
            if (!file_->next(line)) return false;
            number = static_cast<long>(file_->position());
            return true;
        }
        if (used_) return false;
        used_ = true;
        line = single_;
        number = 1;
        return true;
    }
    long last_line() const { return file_ ? static_cast<long>(file_->position()) : 1; }

private:
    TextFile* file_ = nullptr;
    std::string_view single_;
    bool used_ = false;
};

enum class Cls { Int, Long, Float, Double, Str, Bool };

const char* cls_name(Cls c) {
    switch (c) {
    case Cls::Int:
    case Cls::Long:
        return "an integer";
    case Cls::Float:
    case Cls::Double:
        return "a real number";
    case Cls::Str:
        return "a text";
    case Cls::Bool:
        return "a logical";
    }
    return "";
}

struct Slot {
    Cls cls;
    void* p;
};

// A parsed value, held for a repeat count.
struct Value {
    Cls cls = Cls::Int;
    long long i = 0;
    float f = 0.0f;
    double d = 0.0;
    bool b = false;
    std::string s;
};

void store(const Slot& slot, const Value& v) {
    switch (slot.cls) {
    case Cls::Int:
        *static_cast<int*>(slot.p) = static_cast<int>(v.i);
        break;
    case Cls::Long:
        *static_cast<long*>(slot.p) = static_cast<long>(v.i);
        break;
    case Cls::Float:
        *static_cast<float*>(slot.p) = v.f;
        break;
    case Cls::Double:
        *static_cast<double*>(slot.p) = v.d;
        break;
    case Cls::Str:
        *static_cast<std::string*>(slot.p) = v.s;
        break;
    case Cls::Bool:
        *static_cast<bool*>(slot.p) = v.b;
        break;
    }
}

bool parse_int(std::string_view t, Cls cls, long long& out) {
    std::size_t i = 0;
    bool neg = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        neg = t[i] == '-';
        ++i;
    }
    if (i == t.size()) return false;
    const unsigned long long maxv =
        cls == Cls::Int ? 2147483647ULL : static_cast<unsigned long long>(std::numeric_limits<long>::max());
    const unsigned long long limit = neg ? maxv + 1 : maxv;
    unsigned long long v = 0;
    for (; i < t.size(); ++i) {
        if (!is_digit(t[i])) return false;
        v = v * 10 + static_cast<unsigned long long>(t[i] - '0');
        if (v > limit) return false;
    }
    out = neg ? static_cast<long long>(0ULL - v) : static_cast<long long>(v);
    return true;
}

bool equals_word(std::string_view s, std::string_view word) {
    if (s.size() != word.size()) return false;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (lower(s[i]) != word[i]) return false;
    return true;
}

template <class T>
bool convert(const char* b, const char* e, T& out) {
    auto r = std::from_chars(b, e, out, std::chars_format::general);
    if (r.ptr != e) return false;
    if (r.ec == std::errc()) return true;
    if (r.ec != std::errc::result_out_of_range) return false;
    // Overflow or underflow: the C library gives the infinity, subnormal or
    // zero that the runtime gives.
    std::string s(b, e);
    char* endp = nullptr;
    errno = 0;
    if constexpr (sizeof(T) == sizeof(float))
        out = std::strtof(s.c_str(), &endp);
    else
        out = std::strtod(s.c_str(), &endp);
    return endp == s.c_str() + s.size();
}

// A Fortran real text: [sign] digits [. digits] [exponent], at least one digit,
// the exponent a letter E, D or Q with an optional sign, or a bare sign, then
// digits; or inf, infinity, nan, nan(...).
template <class T>
bool parse_real(std::string_view t, T& out) {
    if (t.empty()) return false;
    // The common case: a text the C++ conversion takes as it is.
    if (t[0] != '+' && convert(t.data(), t.data() + t.size(), out)) return true;
    std::size_t i = 0;
    bool neg = false;
    if (t[i] == '+' || t[i] == '-') {
        neg = t[i] == '-';
        ++i;
    }
    std::string_view rest = t.substr(i);
    if (!rest.empty() && (lower(rest[0]) == 'i' || lower(rest[0]) == 'n')) {
        if (equals_word(rest, "inf") || equals_word(rest, "infinity")) {
            out = neg ? -std::numeric_limits<T>::infinity() : std::numeric_limits<T>::infinity();
            return true;
        }
        if (rest.size() >= 3 && equals_word(rest.substr(0, 3), "nan") &&
            (rest.size() == 3 || (rest[3] == '(' && rest.back() == ')'))) {
            out = std::numeric_limits<T>::quiet_NaN();
            return true;
        }
        return false;
    }
    std::string c;
    c.reserve(t.size() + 4);
    if (neg) c.push_back('-');
    std::size_t ndig = 0;
    bool dp = false;
    for (; i < t.size(); ++i) {
        char ch = t[i];
        if (is_digit(ch)) {
            c.push_back(ch);
            ++ndig;
        } else if (ch == '.' && !dp) {
            dp = true;
            c.push_back('.');
        } else {
            break;
        }
    }
    if (ndig == 0) return false;
    if (i < t.size()) {
        char l = lower(t[i]);
        if (l == 'e' || l == 'd' || l == 'q')
            ++i;
        else if (l != '+' && l != '-')
            return false;
        c.push_back('e');
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
            if (t[i] == '-') c.push_back('-');
            ++i;
        }
        if (i == t.size()) return false;
        for (; i < t.size(); ++i) {
            if (!is_digit(t[i])) return false;
            c.push_back(t[i]);
        }
    }
    return convert(c.data(), c.data() + c.size(), out);
}

bool parse_logical(std::string_view t, bool& out) {
    std::size_t i = 0;
    if (i < t.size() && t[i] == '.') ++i;
    if (i == t.size()) return false;
    switch (t[i]) {
    case 't':
    case 'T':
        out = true;
        return true;
    case 'f':
    case 'F':
        out = false;
        return true;
    default:
        return false;
    }
}

struct Failure {
    ReadStatus status = ReadStatus::Ok;
    std::string what;
    long line = 0;
};

class Reader {
public:
    Reader(Source& src, std::vector<Slot> slots) : src_(src), slots_(std::move(slots)) {}

    Failure run() {
        if (slots_.empty()) {
            // A read without targets passes over one line.
            std::string_view l;
            if (!src_.next(l, lineno_)) return end_of_file(0);
            return {};
        }
        const std::size_t n = slots_.size();
        std::size_t k = 0;
        while (k < n) {
            if (repeat_left_ > 0) {
                if (!repeat_null_) {
                    if (slots_[k].cls != repeated_.cls) return mismatch(k);
                    store(slots_[k], repeated_);
                }
                --repeat_left_;
                ++k;
                continue;
            }
            // The separator after the previous value is taken only when another
            // value is wanted, so that a read ends on the line of its last value.
            if (need_sep_) {
                consume_separator();
                need_sep_ = false;
            }
            if (slash_) return {};
            int c = skip_blanks();
            if (c < 0) return end_of_file(k);
            if (c == ',' || c == ';') {
                ++pos_;  // a null value; this comma is its separator
                ++k;
                continue;
            }
            if (c == '/') return {};
            // A repeat count r*: digits followed by '*'.
            std::size_t q = pos_;
            while (q < line_.size() && is_digit(line_[q])) ++q;
            if (q > pos_ && q < line_.size() && line_[q] == '*') {
                long long r = 0;
                for (std::size_t j = pos_; j < q; ++j)
                    r = std::min<long long>(r * 10 + (line_[j] - '0'), 1LL << 40);
                if (r == 0) return error(k, "a repeat count of zero");
                pos_ = q + 1;
                repeat_left_ = r;
                repeat_null_ = pos_ >= line_.size() || is_sep(line_[pos_]);
                if (!repeat_null_) {
                    Failure f = parse_value(k, repeated_);
                    if (f.status != ReadStatus::Ok) return f;
                }
                need_sep_ = true;
                continue;
            }
            Value v;
            Failure f = parse_value(k, v);
            if (f.status != ReadStatus::Ok) return f;
            store(slots_[k], v);
            ++k;
            need_sep_ = true;
        }
        return {};
    }

    long last_line() const { return lineno_; }

private:
    Source& src_;
    std::vector<Slot> slots_;
    std::string_view line_;
    std::size_t pos_ = 0;
    bool have_line_ = false;
    long lineno_ = 0;
    bool slash_ = false;
    bool need_sep_ = false;
    long long repeat_left_ = 0;
    bool repeat_null_ = false;
    Value repeated_;

    // The next character that is not a blank, loading lines as needed; -1 at
    // the end of the input.
    int skip_blanks() {
        while (true) {
            if (!have_line_) {
                if (!src_.next(line_, lineno_)) return -1;
                have_line_ = true;
                pos_ = 0;
            }
            while (pos_ < line_.size() && is_blank(line_[pos_])) ++pos_;
            if (pos_ < line_.size()) return static_cast<unsigned char>(line_[pos_]);
            have_line_ = false;
        }
    }

    // The separator after a value: blanks (and line ends) with at most one comma
    // or semicolon; a slash ends the read.
    void consume_separator() {
        int c = skip_blanks();
        if (c == ',' || c == ';') {
            ++pos_;
        } else if (c == '/') {
            ++pos_;
            slash_ = true;
        }
    }

    Failure end_of_file(std::size_t k) {
        Failure f;
        f.status = ReadStatus::End;
        f.line = lineno_ > 0 ? lineno_ : src_.last_line();
        f.what = "end of file before item " + std::to_string(k + 1) + " of " + std::to_string(slots_.size());
        return f;
    }
    Failure error(std::size_t k, const std::string& what) {
        Failure f;
        f.status = ReadStatus::Error;
        f.line = lineno_;
        f.what = what + " for item " + std::to_string(k + 1);
        return f;
    }
    Failure bad_value(std::size_t k, std::string_view text) {
        return error(k, "bad value \"" + std::string(text) + "\"");
    }
    Failure mismatch(std::size_t k) { return error(k, "a repeated value of another type or kind"); }

    std::string_view token() {
        std::size_t b = pos_;
        while (pos_ < line_.size() && !is_sep(line_[pos_])) ++pos_;
        return line_.substr(b, pos_ - b);
    }

    // A quoted string from the current position (the opening quote); it may run
    // over line ends, which are not part of it. The end of the input ends it.
    bool quoted(std::string& out) {
        const char q = line_[pos_++];
        out.clear();
        while (true) {
            if (pos_ >= line_.size()) {
                if (!src_.next(line_, lineno_)) {
                    have_line_ = false;
                    return true;
                }
                pos_ = 0;
                continue;
            }
            char c = line_[pos_++];
            if (c == q) {
                if (pos_ < line_.size() && line_[pos_] == q) {
                    out.push_back(q);
                    ++pos_;
                    continue;
                }
                return pos_ >= line_.size() || is_sep(line_[pos_]);
            }
            out.push_back(c);
        }
    }

    Failure parse_value(std::size_t k, Value& v) {
        const Cls cls = slots_[k].cls;
        v.cls = cls;
        if (cls == Cls::Str) {
            if (pos_ < line_.size() && (line_[pos_] == '\'' || line_[pos_] == '"')) {
                const char q = line_[pos_];
                if (!quoted(v.s)) {
                    // Text right after the closing quote.
                    return bad_value(k, std::string(1, q) + v.s + q + std::string(token()));
                }
                return {};
            }
            v.s.assign(token());
            return {};
        }
        std::string_view t = token();
        bool ok = false;
        switch (cls) {
        case Cls::Int:
        case Cls::Long:
            ok = parse_int(t, cls, v.i);
            break;
        case Cls::Float:
            ok = parse_real(t, v.f);
            break;
        case Cls::Double:
            ok = parse_real(t, v.d);
            break;
        case Cls::Bool:
            ok = parse_logical(t, v.b);
            break;
        case Cls::Str:
            break;
        }
        if (!ok) {
            Failure f = bad_value(k, t);
            f.what += std::string(" (") + cls_name(cls) + ")";
            return f;
        }
        return {};
    }
};

std::vector<Slot> flatten(std::span<const Target> targets) {
    std::vector<Slot> slots;
    slots.reserve(targets.size());
    for (const Target& t : targets) {
        std::visit(
            [&](auto&& x) {
                using X = std::decay_t<decltype(x)>;
                if constexpr (std::is_same_v<X, int*>)
                    slots.push_back({Cls::Int, x});
                else if constexpr (std::is_same_v<X, long*>)
                    slots.push_back({Cls::Long, x});
                else if constexpr (std::is_same_v<X, float*>)
                    slots.push_back({Cls::Float, x});
                else if constexpr (std::is_same_v<X, double*>)
                    slots.push_back({Cls::Double, x});
                else if constexpr (std::is_same_v<X, std::string*>)
                    slots.push_back({Cls::Str, x});
                else if constexpr (std::is_same_v<X, bool*>)
                    slots.push_back({Cls::Bool, x});
                else if constexpr (std::is_same_v<X, std::span<int>>)
                    for (int& e : x) slots.push_back({Cls::Int, &e});
                else if constexpr (std::is_same_v<X, std::span<float>>)
                    for (float& e : x) slots.push_back({Cls::Float, &e});
                else if constexpr (std::is_same_v<X, std::span<double>>)
                    for (double& e : x) slots.push_back({Cls::Double, &e});
            },
            t);
    }
    return slots;
}

Failure read_list(Source& src, std::span<const Target> targets) {
    Reader r(src, flatten(targets));
    return r.run();
}

std::span<const Target> as_span(std::initializer_list<Target> targets) {
    return {targets.begin(), targets.size()};
}

ListResult to_result(const Failure& f) {
    ListResult r;
    r.status = f.status;
    r.line = f.line;
    if (f.status != ReadStatus::Ok) {
        r.message = f.what;
        if (f.line > 0) r.message += " on line " + std::to_string(f.line);
    }
    return r;
}

}  // namespace

ListResult list_read(TextFile& f, std::initializer_list<Target> targets) {
    Source src(&f);
    return to_result(read_list(src, as_span(targets)));
}

void list_read_or_throw(TextFile& f, std::initializer_list<Target> targets) {
    list_read_targets_or_throw(f, as_span(targets));
}

void list_read_targets_or_throw(TextFile& f, std::span<const Target> targets) {
    Source src(&f);
    Failure r = read_list(src, targets);
    if (r.status != ReadStatus::Ok) throw_io_error(f.name(), r.line, r.what);
}

ListResult list_read_string(std::string_view text, std::initializer_list<Target> targets) {
    Source src(text);
    return to_result(read_list(src, as_span(targets)));
}

}  // namespace qv::fio
