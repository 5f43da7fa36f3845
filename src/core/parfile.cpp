#include "core/parfile.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
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

bool is_section_key(std::string_view key) {
    const std::string_view k = rtrim(key);
    for (const char* s : RunNames::seckeys)
        if (k == s) return true;
    return false;
}

void read_keyed_section(TextFile& f,
                        const std::function<bool(const std::string& key, std::string_view value)>& own,
                        const std::function<void(const std::string& key)>& unknown) {
    std::string_view line;
    while (f.next(line)) {
        if (line.empty() || line[0] == '%' || line[0] == '#' || line[0] == ' ' || line[0] == '\t')
            continue;
        std::string padded(line.substr(0, std::min<std::size_t>(line.size(), 20)));
        padded.resize(20, ' ');
        const std::string key(rtrim(std::string_view(padded).substr(0, 10)));
        const std::string_view value = std::string_view(padded).substr(10, 10);
        // A value that goes on past column 20 would be read cut short
        // ("1.00000e+06" as "1.00000e+0"): its own conversion error, if any,
        // gives way to the stop that says why.
        const bool cut = line.size() > 20 && !is_blank_char(line[19]) && !is_blank_char(line[20]);
        bool mine = false;
        try {
            mine = own(key, value);
        } catch (const IoError&) {
            if (!cut) throw;
            mine = true;
        }
        if (mine) {
            if (cut) {
                throw Stop(std::vector<std::string>{
                    fio::list_line({"FATAL ERROR - the value of key " + key + " in file " + f.name() + ", line " +
                                    std::to_string(f.position()) + ", runs past column 20: " + std::string(line)}),
                    column_rule_line()});
            }
            continue;
        }
        if (is_section_key(key)) return;
        unknown(key);
    }
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
