#include "sfh_external/history_files.h"

#include <cmath>
#include <variant>

#include "core/run.h"
#include "core/stop.h"
#include "io/fields.h"
#include "io/format.h"

namespace qv::sfh_external {

bool is_content(std::string_view line) {
    for (char c : line) {
        if (c == ' ' || c == '\t' || c == '\r') continue;
        return c != '#' && c != '%' && c != '!';
    }
    return false;
}

std::vector<std::size_t> content_lines(const TextFile& f, std::size_t from) {
    std::vector<std::size_t> rows;
    for (std::size_t i = from; i < f.line_count(); ++i)
        if (is_content(f.line(i))) rows.push_back(i);
    return rows;
}

void read_line_values(const TextFile& f, std::size_t i, std::initializer_list<fio::Target> targets) {
    const fio::ListResult r = fio::list_read_string(f.line(i), targets);
    const long line = static_cast<long>(i) + 1;
    if (r.status == fio::ReadStatus::End)
        throw_io_error(f.name(), line, "the line holds fewer values than a row of this file");
    if (r.status != fio::ReadStatus::Ok) throw_io_error(f.name(), line, r.message);
    int k = 0;
    auto check = [&](float v) {
        ++k;
        if (!std::isfinite(v))
            throw_io_error(f.name(), line, "value " + std::to_string(k) + " of the row is not a finite number");
    };
    for (const fio::Target& t : targets) {
        if (const auto* p = std::get_if<float*>(&t))
            check(**p);
        else if (const auto* sp = std::get_if<std::span<float>>(&t))
            for (float v : *sp) check(v);
        else
            ++k;
    }
}

void check_rate(const TextFile& f, std::size_t i, float rate, const std::string& what) {
    if (rate < 0.0f)
        throw Stop(fio::list_line({"ERROR: " + f.name() + " line " + std::to_string(i + 1) + ": " + what + " is",
                                   rate, ": a star-formation rate cannot be negative. stop"}));
}

void mass_not_finite(const std::string& file, long line, float rate, const std::string& what) {
    throw Stop(fio::list_line({"ERROR: " + file + " line " + std::to_string(line) + ": " + what, rate,
                               "Msun/yr makes the galaxy's mass or its rates per Gyr not finite numbers. stop"}));
}

std::string_view need_line(const TextFile& f, std::size_t i, const std::string& what) {
    if (i >= f.line_count())
        throw_io_error(f.name(), static_cast<long>(i) + 1, "the file ends before " + what);
    return f.line(i);
}

float real_field(const TextFile& f, std::size_t i, std::size_t start, std::size_t width, int d,
                 const std::string& what) {
    const std::string_view field = fio::field_at(need_line(f, i, what), start, width);
    const auto v = fio::read_real4_field(field, d);
    if (!v || !std::isfinite(*v))
        throw_io_error(f.name(), static_cast<long>(i) + 1,
                       what + " in columns " + std::to_string(start + 1) + "-" + std::to_string(start + width) +
                           " is not a number: '" + std::string(field) + "'");
    return *v;
}

int int_field(const TextFile& f, std::size_t i, std::size_t start, std::size_t width, const std::string& what) {
    const std::string_view field = fio::field_at(need_line(f, i, what), start, width);
    const auto v = fio::read_int_field(field);
    if (!v)
        throw_io_error(f.name(), static_cast<long>(i) + 1,
                       what + " in columns " + std::to_string(start + 1) + "-" + std::to_string(start + width) +
                           " is not an integer: '" + std::string(field) + "'");
    return static_cast<int>(*v);
}

void check_geometry(const Run& run, const std::string& history) {
    const RunParameters& p = run.parametri;
    const struct {
        const char* key;
        float v;
    } geo[] = {{"rcstar", p.rcstar}, {"rcdiff", p.rcdiff}, {"rdstar", p.rdstar},
               {"rddiff", p.rddiff}, {"zdstar", p.zdstar}, {"zddiff", p.zddiff}};
    for (const auto& g : geo)
        if (g.v < 0.0f)
            throw Stop(fio::list_line({std::string("ERROR: ") + g.key + "=", g.v,
                                       " kpc: the " + history +
                                           " history does not set this length and takes no relative"
                                           " (negative) value; give it in kpc. stop"}));
}

void allocation_error(const std::string& message) { throw Stop(fio::list_line({message})); }

}  // namespace qv::sfh_external
