// Readers of the tabulated star-formation histories.
//
// The sf file (istarfo 0): a title line, a line holding the SSP mass in
// columns 2-16, further comment lines, then one row per history time: index,
// age (yr), star-formation rate (Msun/yr), metallicity, gas mass, stellar mass,
// total mass (Msun), supernova rate. The optional ele file beside it holds
// rows of age (yr), a value not used and the hydrogen mass of the gas.
//
// The time-series sf file (istarfo 1): comment lines, then rows of age (Gyr),
// metallicity, star-formation rate, gas mass and eight element masses, the
// first of which is hydrogen.
//
// Both readers leave the tables per unit primordial mass (rates per Gyr) on an
// ascending time grid in Gyr that reaches tgal, and the values at tgal.
#include "core/sfh_tabulated.h"

#include <cmath>
#include <initializer_list>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/parfile.h"
#include "core/run.h"
#include "core/stop.h"
#include "io/fields.h"
#include "io/format.h"
#include "io/listread.h"
#include "io/textfile.h"

namespace qv {

namespace {

bool is_comment_char(char c) { return c == '#' || c == '%' || c == '!'; }

bool is_blank(std::string_view s) {
    for (char c : s)
        if (c != ' ' && c != '\t' && c != '\r') return false;
    return true;
}

// Rows after the leading comment lines, counted by their content: a line of
// blanks (a blank line at the end of a file, say) is not a row. The cursor is
// left on the first row.
int count_rows(TextFile& f) {
    f.rewind();
    skip_lines_in_file(f, "#%!");
    int n = 0;
    for (std::size_t i = f.position(); i < f.line_count(); ++i)
        if (!is_blank(f.line(i))) ++n;
    return n;
}

void need_rows(const std::string& file, int n) {
    if (n < 2)
        throw Stop(fio::list_line(
            {"ERROR: file ", file, " holds " + std::to_string(n) + " row(s) of data; at least 2 are needed"}));
}

// Every value of a row is a finite number. A negative rate is taken: the
// synthesis forms no stars where the rate is below 0, and chemical-evolution
// codes write rounding noise such as -1e-12 for a rate of 0.
void check_row(const TextFile& f, std::initializer_list<float> values) {
    int k = 0;
    for (float v : values) {
        ++k;
        if (!std::isfinite(v)) f.fail("value " + std::to_string(k) + " of the row is not a finite number");
    }
}

// mmolfraz above 1 is the present rate (Msun/yr) from which the molecular
// fraction is 1, and the fraction becomes the present rate over it: a negative
// present rate would give a negative fraction, which means a galaxy without
// gas. The synthesis floors the rate, but that step takes it as it is.
void check_present_rate(const Run& run, float sfrt) {
    const float mmolfraz = run.glopalla.mmolfraz;
    if (sfrt < 0.0f && mmolfraz > 1.0f)
        throw Stop(fio::list_line({"ERROR: the star-formation rate at tgal in " + upto_blank(run.modname.name_sf) +
                                       ".sf is",
                                   sfrt * 1000.0f * run.remind.primordial_mass,
                                   "Mo/yr: it cannot be negative with mmolfraz=", mmolfraz,
                                   "(above 1: the molecular fraction is the present rate over it)"}));
}

// A rate that is not finite once per Gyr and per unit mass names its line.
void check_scaled_rates(const TextFile& f, const Vec<float>& rsf, const std::vector<long>& line_of,
                        const std::vector<float>& raw) {
    for (int i = 1; i <= rsf.extent(); ++i)
        if (!std::isfinite(rsf(i)))
            throw Stop(fio::list_line({"ERROR: " + f.name() + " line " + std::to_string(line_of[i - 1]) +
                                           ": the star-formation rate",
                                       raw[i - 1], "is too large: per Gyr and per unit mass it is not finite"}));
}

// The history times must increase from row to row.
void check_ascending(const TextFile& f, const Vec<float>& t, const std::vector<long>& line_of) {
    for (int i = 2; i <= t.extent(); ++i)
        if (!(t(i) > t(i - 1)))
            throw_io_error(f.name(), line_of[i - 1],
                           "the times must increase from row to row (row " + std::to_string(i) + ")");
}

// Linear interpolation at x, extrapolating beyond the table's ends.
float at(Run& run, const Vec<float>& xa, const float* ya, int n, float x) {
    float y = 0.0f, dy = 0.0f;
    int jlo = 0;
    poinh(run.poinh_work, xa.data(), ya, n, 2, x, y, dy, jlo);
    return y;
}

// True when the last history time reaches tgal. A last time that falls a few
// units in the last place short of tgal (years turned into Gyr in 4-byte reals:
// 1.3e10 yr becomes 12.999999 Gyr) is taken as tgal and set to it.
bool reaches_tgal(float& last, float tgal) {
    if (last >= tgal) return true;
    const float tol = 4.0f * std::numeric_limits<float>::epsilon() * std::fabs(tgal);
    if (tgal - last <= tol) {
        last = tgal;
        return true;
    }
    return false;
}

[[noreturn]] void tgal_beyond(const Run& run) {
    throw Stop(fio::list_line({"ERROR: required tgal exceeds tabulation in ",
                               upto_blank(run.modname.name_sf) + ".sf"}));
}

// The six history tables with n entries, all 0.
void create_tables(SfhTables& g, int n) {
    g.nzsmax = n;
    g.agesf.resize(n);
    g.rsf.resize(n);
    g.gas.resize(n);
    g.zeta.resize(n);
    g.stars.resize(n);
    g.snrate.resize(n);
}

}  // namespace

void read_che_evo(Run& run, float& ssp_mass, float& fgas, float& sfrt, float& zism, float& snratet,
                  std::string& sf_name) {
    SfhTables& g = run.glotauspe;
    const std::string sf = trim_right(sf_name);

    // 1. The SSP mass from line 2, (1X,G15.5).
    TextFile f = TextFile::open(sf);
    std::string_view line;
    if (!f.next(line) || !is_comment_char(first_token(line).c_str()[0]))
        f.fail("line 1 must be a comment line beginning with #, % or !");
    if (!f.next(line) || !is_comment_char(line.empty() ? ' ' : line[0]))
        f.fail("line 2 must begin with #, % or ! and hold the SSP mass in columns 2-16");
    {
        std::string field(line.size() > 1 ? line.substr(1, 15) : std::string_view());
        field.resize(15, ' ');
        const auto v = fio::read_real_field(field, 5);
        if (!v) f.fail("the SSP mass in columns 2-16 is not a number: '" + field + "'");
        ssp_mass = fio::as_real4(*v);
    }

    // 2-4. The rows.
    const int n = count_rows(f);
    need_rows(sf, n);
    create_tables(g, n);
    std::vector<long> line_of(n);
    float total = 0.0f;
    for (int i = 1; i <= n; ++i) {
        int index = 0;
        fio::list_read_or_throw(f, {&index, &g.agesf(i), &g.rsf(i), &g.zeta(i), &g.gas(i), &g.stars(i),
                                    &total, &g.snrate(i)});
        check_row(f, {0.0f, g.agesf(i), g.rsf(i), g.zeta(i), g.gas(i), g.stars(i), total, g.snrate(i)});
        line_of[i - 1] = static_cast<long>(f.position());
    }
    const std::vector<float> raw_rsf(g.rsf.data(), g.rsf.data() + n);
    const float m = total;
    if (!(m > 0.0f)) f.fail("the total mass of the last row must be positive");
    if (g.agesf(1) <= 1e-20f) g.agesf(1) = 0.0f;

    // 5. The ele file.
    const std::string ele = upto_blank(run.modname.name_sf) + ".ele";
    sf_name = ele;
    Vec<float> etime, emass;
    int ne = 0;
    if (nrighe_file(ele) > 0) {
        TextFile e = TextFile::open(ele);
        ne = count_rows(e);
        need_rows(ele, ne);
        etime.resize(ne);
        emass.resize(ne);
        std::vector<long> eline(ne);
        for (int i = 1; i <= ne; ++i) {
            float unused = 0.0f;
            fio::list_read_or_throw(e, {&etime(i), &unused, &emass(i)});
            check_row(e, {etime(i), unused, emass(i)});
            eline[i - 1] = static_cast<long>(e.position());
        }
        for (int i = 1; i <= ne; ++i) {
            etime(i) = etime(i) / 1e9f;
            emass(i) = emass(i) / m;
        }
        check_ascending(e, etime, eline);
    }

    // 6. Per unit primordial mass, times in Gyr, rates per Gyr.
    for (int i = 1; i <= n; ++i) {
        g.gas(i) = g.gas(i) / m;
        g.stars(i) = g.stars(i) / m;
        g.agesf(i) = g.agesf(i) / 1e9f;
        g.rsf(i) = g.rsf(i) * 1e9f / m;
    }
    check_ascending(f, g.agesf, line_of);
    check_scaled_rates(f, g.rsf, line_of, raw_rsf);
    run.remind.primordial_mass = m / 1e12f;

    // 7. Values at tgal.
    const float tgal = run.parametri.tgal;
    if (!reaches_tgal(g.agesf(n), tgal)) tgal_beyond(run);
    float e_at = 0.0f;
    if (g.agesf(n) == tgal) {
        fgas = g.gas(n);
        sfrt = g.rsf(n);
        zism = g.zeta(n);
        snratet = g.snrate(n);
        if (ne > 0) e_at = emass(ne);
    } else {
        fgas = at(run, g.agesf, g.gas.data(), n, tgal);
        sfrt = at(run, g.agesf, g.rsf.data(), n, tgal);
        zism = at(run, g.agesf, g.zeta.data(), n, tgal);
        snratet = at(run, g.agesf, g.snrate.data(), n, tgal);
        if (ne > 0) e_at = at(run, etime, emass.data(), ne, tgal);
    }

    // 8. Molecular gas needs gas; the hydrogen fraction of the gas.
    if (fgas == 0.0f)
        run.glopalla.mmolfraz = -1.0f;
    else if (ne > 0)
        run.mix.hsug = e_at / fgas;
    check_present_rate(run, sfrt);
}

void read_chem_evo_ts(Run& run, float& ssp_mass, float& fgas, float& sfrt, float& zism,
                      const std::string& sf_name) {
    SfhTables& g = run.glotauspe;
    const std::string sf = trim_right(sf_name);
    constexpr float kMass = 5.8e11f;  // primordial mass of the time series, Msun

    // 1-2.
    TextFile f = TextFile::open(sf);
    const int n = count_rows(f);
    run.con.line(fio::list_line({sf}));
    run.con.line(fio::list_line({nrighe_file(sf)}));
    run.con.line(fio::list_line({n}));
    ssp_mass = 5.203f;
    need_rows(sf, n);
    create_tables(g, n);
    Mat<float> el(n, 8);

    // 3. The rows.
    std::vector<long> line_of(n);
    for (int i = 1; i <= n; ++i) {
        fio::list_read_or_throw(f, {&g.agesf(i), &g.zeta(i), &g.rsf(i), &g.gas(i), &el(i, 1), &el(i, 2),
                                    &el(i, 3), &el(i, 4), &el(i, 5), &el(i, 6), &el(i, 7), &el(i, 8)});
        check_row(f, {g.agesf(i), g.zeta(i), g.rsf(i), g.gas(i), el(i, 1), el(i, 2), el(i, 3), el(i, 4), el(i, 5),
                      el(i, 6), el(i, 7), el(i, 8)});
        line_of[i - 1] = static_cast<long>(f.position());
    }
    const std::vector<float> raw_rsf(g.rsf.data(), g.rsf.data() + n);
    g.agesf(1) = 0.0f;
    check_ascending(f, g.agesf, line_of);

    // 4. A mean rate of 4 Msun/yr over the 30 rows around 13 Gyr.
    int k = 0;
    hunt(g.agesf.data(), n, 13.0f, k);
    if (k - 28 < 1 || k + 1 > n)
        throw Stop(fio::list_line({"ERROR: the time series in file ", sf,
                                   " needs 28 rows before and 1 row after 13 Gyr for its normalisation"}));
    float sum = 0.0f;
    for (int i = k - 28; i <= k + 1; ++i) sum += g.rsf(i);
    if (!(sum > 0.0f))
        throw Stop(fio::list_line({"ERROR: the time series in file ", sf,
                                   " forms no stars in the 30 rows around 13 Gyr"}));
    if (!std::isfinite(sum))
        throw Stop(fio::list_line({"ERROR: the time series in file ", sf,
                                   " has rates around 13 Gyr whose sum is not a finite number"}));
    const float fnorm = (4.0f / (sum / 30.0f)) * 1e9f;
    for (int i = 1; i <= n; ++i) {
        g.rsf(i) = g.rsf(i) * fnorm / kMass;
        g.gas(i) = g.gas(i) * fnorm / kMass;
        el(i, 1) = el(i, 1) * fnorm / kMass;
    }
    check_scaled_rates(f, g.rsf, line_of, raw_rsf);

    // 5.
    run.remind.primordial_mass = kMass / 1e12f;

    // 6. Values at tgal.
    const float tgal = run.parametri.tgal;
    if (!reaches_tgal(g.agesf(n), tgal)) tgal_beyond(run);
    float h_at = 0.0f;
    if (g.agesf(n) == tgal) {
        fgas = g.gas(n);
        sfrt = g.rsf(n);
        zism = g.zeta(n);
        h_at = el(n, 1);
    } else {
        fgas = at(run, g.agesf, g.gas.data(), n, tgal);
        sfrt = at(run, g.agesf, g.rsf.data(), n, tgal);
        zism = at(run, g.agesf, g.zeta.data(), n, tgal);
        h_at = at(run, g.agesf, el.col(1), n, tgal);
    }

    // 7.
    if (fgas == 0.0f)
        run.glopalla.mmolfraz = -1.0f;
    else
        run.mix.hsug = h_at / fgas;
    check_present_rate(run, sfrt);
}

}  // namespace qv
