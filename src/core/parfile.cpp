#include "core/parfile.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "core/run.h"
#include "core/stop.h"
#include "io/format.h"

namespace qv {

namespace {

std::string_view rtrim(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool is_blank_char(char c) { return c == ' ' || c == '\t'; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The end of an exponent (a letter, an optional sign, digits) that t holds
// from k on; k itself when there is none.
std::size_t exponent_end(std::string_view t, std::size_t k) {
    if (k >= t.size() || std::string_view("eEdDqQ").find(t[k]) == std::string_view::npos) return k;
    std::size_t e = k + 1;
    if (e < t.size() && (t[e] == '+' || t[e] == '-')) ++e;
    std::size_t d = e;
    while (d < t.size() && is_digit(t[d])) ++d;
    return d > e ? d : k;
}

// The end of the number that t holds from i on (a sign, digits with at most one
// decimal point, an exponent); i itself when no number begins there.
std::size_t number_end(std::string_view t, std::size_t i) {
    std::size_t k = i;
    if (k < t.size() && (t[k] == '+' || t[k] == '-')) ++k;
    std::size_t digits = 0;
    for (; k < t.size() && is_digit(t[k]); ++k) ++digits;
    if (k < t.size() && t[k] == '.')
        for (++k; k < t.size() && is_digit(t[k]); ++k) ++digits;
    if (digits == 0) return i;
    return exponent_end(t, k);
}

std::string column_rule_line() {
    return fio::list_line({"keys take columns 1-10 and values columns 11-20 of a par-file line"});
}

// Reads the first token of the next line, taking it from the following line when
// a line holds none (as a free-format read does). False at end of file.
bool next_token(TextFile& f, std::string& tok) {
    std::string_view line;
    while (f.next(line)) {
        std::size_t i = 0;
        while (i < line.size() && is_blank_char(line[i])) ++i;
        if (i == line.size()) continue;  // no token: the read goes on to the next line
        tok = first_token(line);
        return true;
    }
    return false;
}

}  // namespace

std::string par_file_name(const Run& run) { return upto_blank(run.modname.name) + ".par"; }

TextFile open_par_file(const Run& run) { return TextFile::open(par_file_name(run)); }

std::string first_token(std::string_view line) {
    std::size_t i = 0;
    while (i < line.size() && is_blank_char(line[i])) ++i;
    if (i == line.size()) return {};
    const char q = line[i];
    if (q == '\'' || q == '"') {
        std::string out;
        for (std::size_t k = i + 1; k < line.size(); ++k) {
            if (line[k] == q) {
                if (k + 1 < line.size() && line[k + 1] == q) {
                    out += q;
                    ++k;
                    continue;
                }
                break;
            }
            out += line[k];
        }
        return out;
    }
    std::size_t k = i;
    while (k < line.size() && !is_blank_char(line[k]) && line[k] != ',' && line[k] != '/') ++k;
    return std::string(line.substr(i, k - i));
}

namespace modname {

bool search_key_in_file(TextFile& f, std::string_view key) {
    const std::string_view want = rtrim(key);
    std::string tok;
    while (next_token(f, tok)) {
        if (tok.size() > 80) tok.resize(80);
        if (rtrim(tok) == want) return true;
    }
    return false;
}

}  // namespace modname

std::string key_field(std::string_view key) {
    std::string k(key.substr(0, std::min<std::size_t>(key.size(), 10)));
    k.resize(10, ' ');
    return k;
}

bool is_section_key(std::string_view key) {
    const std::string_view k = rtrim(key);
    for (const char* s : RunNames::seckeys)
        if (k == s) return true;
    return false;
}

void read_keyed_section(TextFile& f,
                        const std::function<KeyLine(const std::string& key, std::string_view value)>& own,
                        const std::function<void(const std::string& key)>& unknown, ValueRead how) {
    std::string_view line;
    while (f.next(line)) {
        if (line.empty() || line[0] == '%' || line[0] == '#' || line[0] == ' ' || line[0] == '\t')
            continue;
        std::string padded(line.substr(0, std::min<std::size_t>(line.size(), 20)));
        padded.resize(20, ' ');
        const std::string key(rtrim(std::string_view(padded).substr(0, 10)));
        // The next section's key line ends this one, whatever the reader would
        // make of it.
        if (is_section_key(key)) return;
        const std::string_view value = std::string_view(padded).substr(10, 10);
        // Where the value begins: the first character of columns 11-20 that is
        // not a blank (npos for a blank field).
        const std::size_t first = line.size() > 10 ? line.find_first_not_of(" \t", 10) : std::string_view::npos;
        const bool in_field = first != std::string_view::npos && first < 20;
        // The reader's own key is known only from its answer below; the comma
        // rule needs to know whether the key takes a whole number.
        auto comma_in = [&](bool whole) {
            return in_field ? decimal_comma_value(line.substr(10), how, whole, key) : std::optional<CommaValue>();
        };
        // A value that goes on past column 20 would be read cut short
        // ("1.00000e+06" as "1.00000e+0").
        bool cut = false;
        if (how == ValueRead::Edited) {
            cut = line.size() > 20 && !is_blank_char(line[19]) && !is_blank_char(line[20]);
        } else if (in_field) {
            const std::size_t item_end = line.find_first_of(" \t,;/", first);
            cut = item_end == std::string_view::npos ? line.size() > 20 : item_end > 20;
        }
        // A value's own conversion error gives way to the stop that says why.
        KeyLine kl = KeyLine::Other;
        std::optional<CommaValue> comma;
        try {
            kl = own(key, value);
        } catch (const IoError&) {
            // The edited sections' keys all take reals.
            comma = comma_in(false);
            if (!cut && !comma) throw;
            kl = KeyLine::Own;
        }
        if (kl.kind == KeyLine::Other) {
            unknown(key);
            continue;
        }
        if (!comma) comma = comma_in(kl.whole_number);
        const std::string place = "key " + key + " in file " + f.name() + ", line " + std::to_string(f.position());
        if (comma) decimal_comma_stop(place + ",", std::string(line), *comma);
        if (cut) {
            throw Stop(std::vector<std::string>{
                fio::list_line({"FATAL ERROR - the value of " + place + ", runs past column 20: " + std::string(line)}),
                column_rule_line()});
        }
        if (kl.kind == KeyLine::End) return;
    }
}

std::optional<CommaValue> decimal_comma_value(std::string_view text, ValueRead how, bool whole_number,
                                              std::string_view key) {
    std::size_t i = 0;
    while (i < text.size() && is_blank_char(text[i])) ++i;
    const std::size_t end = number_end(text, i);
    if (end == i || end + 1 >= text.size() || text[end] != ',' || !is_digit(text[end + 1])) return std::nullopt;
    const std::string base = "numbers take a decimal point, not a comma";
    const std::string_view before = text.substr(i, end - i);
    if (before.find_first_not_of("+-0123456789") != std::string_view::npos) {
        // A number with its decimal point or exponent is complete: a
        // free-format read takes it and the rest is a comment ("13.0,12.0" is
        // 13.0). An edit descriptor cannot read the comma at all.
        if (how == ValueRead::FreeFormat) return std::nullopt;
        return CommaValue{"a decimal comma", base};
    }
    // The groups of digits after each comma, then a fraction and an exponent.
    std::vector<std::string_view> groups;
    std::size_t k = end;
    while (k + 1 < text.size() && text[k] == ',' && is_digit(text[k + 1])) {
        std::size_t e = k + 1;
        while (e < text.size() && is_digit(text[e])) ++e;
        groups.push_back(text.substr(k + 1, e - k - 1));
        k = e;
    }
    std::size_t t = k;
    const bool fraction = t < text.size() && text[t] == '.';
    if (fraction) {
        ++t;
        while (t < text.size() && is_digit(text[t])) ++t;
    }
    t = exponent_end(text, t);
    const std::string tail(text.substr(k, t - k));
    const std::string written(text.substr(i, t - i));
    // Thousands separators: one to three digits (not a leading 0), then groups
    // of three. A decimal comma: one group, no decimal point after it.
    const std::string_view digits = before.substr(before.find_first_of("0123456789"));
    bool thousands = digits.size() <= 3 && digits[0] != '0';
    for (const std::string_view g : groups) thousands = thousands && g.size() == 3;
    const bool decimal = groups.size() == 1 && !fraction;
    std::string plain(before);
    for (const std::string_view g : groups) plain += g;
    plain += tail;
    const std::string as_decimal = decimal ? std::string(before) + "." + std::string(groups[0]) + tail : std::string();
    if (thousands && !decimal) return CommaValue{"thousands separators", base + ": write " + plain};
    if (thousands) return CommaValue{"a decimal comma", base + ": write " + as_decimal + " or " + plain + ", as meant"};
    if (decimal && !whole_number) return CommaValue{"a decimal comma", base + ": write " + as_decimal};
    if (decimal)
        return CommaValue{"a decimal comma", base + ": " + written + " reads as " + as_decimal + " or as the two values " +
                                                 std::string(before) + " and " + std::string(groups[0]) + ", and " +
                                                 std::string(key) + " takes one whole number"};
    return CommaValue{"a decimal comma", base + ", and " + std::string(key) + " takes one value"};
}

void decimal_comma_stop(const std::string& place, const std::string& shown, const CommaValue& c) {
    throw Stop(std::vector<std::string>{
        fio::list_line({"FATAL ERROR - the value of " + place + " has " + c.what + ": " + shown}),
        fio::list_line({c.advice})});
}

std::string fixed_column_hint(std::string_view key) {
    if (key.find_first_of(" \t=") == std::string_view::npos) return {};
    return column_rule_line();
}

int skip_lines_in_file(TextFile& f, std::string_view set) {
    if (set.empty()) return 0;
    char cur = set[0];
    int count = 0;
    std::string tok;
    while (set.find(cur) != std::string_view::npos) {
        if (!next_token(f, tok)) return count;
        cur = tok.empty() ? ' ' : tok[0];
        ++count;
    }
    f.backspace();
    return count - 1;
}

int nrighe_file(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) return 0;
    int n = 0;
    std::string l;
    while (std::getline(in, l)) ++n;
    return n;
}

void delfile(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

void qverror(const std::string& msg) { throw Stop(fio::list_line({"qverror: " + msg})); }

}  // namespace qv
