#include "io/count_check.h"

#include <cstdio>
#include <cstring>

#include "core/stop.h"
#include "io/textfile.h"

namespace qv::fio {

std::size_t count_file_lines(const std::string& path) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) return 0;
    char buf[1 << 16];
    std::size_t lines = 0, got = 0;
    char last = '\n';
    while ((got = std::fread(buf, 1, sizeof buf, in)) > 0) {
        for (const char* p = buf; (p = static_cast<const char*>(std::memchr(p, '\n', buf + got - p))); ++p) ++lines;
        last = buf[got - 1];
    }
    std::fclose(in);
    return last == '\n' ? lines : lines + 1;
}

long long list_values_left(const TextFile& f) {
    long long n = 0;
    for (std::size_t i = f.position(); i < f.line_count(); ++i) {
        const std::string_view l = f.line(i);
        std::size_t k = 0;
        while (k < l.size()) {
            const char c = l[k];
            if (c == ' ' || c == '\t' || c == '\r' || c == '/') {
                ++k;
                continue;
            }
            if (c == ',' || c == ';') {
                ++n;
                ++k;
                continue;
            }
            std::size_t e = k;
            while (e < l.size() && l[e] != ' ' && l[e] != '\t' && l[e] != '\r' && l[e] != ',' && l[e] != ';' &&
                   l[e] != '/')
                ++e;
            const std::string_view tok = l.substr(k, e - k);
            const std::size_t star = tok.find('*');
            long long r = 1;
            if (star != std::string_view::npos && star > 0 &&
                tok.substr(0, star).find_first_not_of("0123456789") == std::string_view::npos) {
                r = 0;
                for (std::size_t d = 0; d < star && r < (1LL << 40); ++d) r = r * 10 + (tok[d] - '0');
            }
            n += r;
            if (n > (1LL << 40)) return n;
            k = e;
        }
    }
    return n;
}

long long lines_for(long long n, long long per_line) { return n <= 0 ? 0 : (n + per_line - 1) / per_line; }

void check_count(const std::string& file, long line, const std::string& what, long long count, long long need,
                 long long found) {
    if (count >= 0 && need <= found) return;
    std::string msg = what + "=" + std::to_string(count);
    if (count < 0)
        msg += " is negative";
    else
        msg += " needs at least " + std::to_string(need) + " lines; the file holds " + std::to_string(found);
    throw_io_error(file, line, msg);
}

}  // namespace qv::fio
