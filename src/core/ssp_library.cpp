// The SSP library: the SSP section's list of tables and the table files.
//
// A table file is text: a title, the IMF mass of the table, its metallicity, a
// line of counts (nlam, optionally an extension marker x and a third count),
// the wavelengths (nlam > 0: codes in 20I6; nlam < 0: reals), an extension
// header when x < 0, then age blocks from the oldest to the youngest, each a
// title line (its second value is log10 of the age in years) and nlam flux
// codes in 20I5. Tables can be large, so each file is read into memory once and
// its integer fields are decoded by hand.
#include "core/ssp_library.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/parfile.h"
#include "core/run.h"
#include "core/stop.h"
#include "io/count_check.h"
#include "io/format.h"
#include "io/listread.h"
#include "io/textfile.h"
#include "numerics/roots_sort.h"

namespace qv {

namespace {

bool is_blank(std::string_view s) {
    for (char c : s)
        if (c != ' ' && c != '\t' && c != '\r') return false;
    return true;
}

struct ListEntry {
    int type = 0;
    std::string file;
};

// The SSP section: the key line, two lines passed over, then records of an SSP
// type and a file name. The list ends at the first record that does not read as
// an integer and a name, or at the end of the file. Types 1 and 2 are kept.
std::vector<ListEntry> read_ssp_list(Run& run) {
    TextFile f = open_par_file(run);
    if (!modname::search_key_in_file(f, "SSP"))
        throw Stop(fio::list_line({"Key SSP not found in file ", par_file_name(run)}));
    std::string_view skipped;
    for (int i = 0; i < 2; ++i) f.next(skipped);

    std::vector<ListEntry> list;
    int records = 0;
    for (;;) {
        int type = 0;
        std::string name;
        const fio::ListResult res = fio::list_read(f, {&type, &name});
        if (res.status != fio::ReadStatus::Ok || name.empty()) break;
        // The library holds at most max_tables records; a longer list is refused
        // rather than cut silently.
        if (records == SspLibrary::max_tables)
            throw Stop(fio::list_line({"ERROR: more than " + std::to_string(SspLibrary::max_tables) +
                                           " records in the SSP section of file ",
                                       par_file_name(run)}));
        ++records;
        // The name is kept whole: a long name opens the file it names.
        if (type == 1 || type == 2) list.push_back({type, name});
    }
    return list;
}

// Line 1 to 4 of a table.
struct SspHeader {
    float m = 0.0f;   // IMF mass of the table
    float z = 0.0f;   // metallicity
    int nlam = 0;     // wavelength count, negative for real wavelengths
    int x = 0;        // extension marker: negative when an extension follows
};

// Values on a line as a free-format read sees them: runs of characters between
// blanks and commas.
int count_values(std::string_view line) {
    int n = 0;
    bool in = false;
    for (char c : line) {
        const bool sep = c == ' ' || c == ',' || c == '\t' || c == '\r';
        if (!sep && !in) ++n;
        in = !sep;
    }
    return n;
}

// Reads the header from the start of the file. Line 4 is read by the number of
// its values: one value is nlam alone; two or more are nlam and x, and the third
// count that follows a negative x is read and not used.
SspHeader read_header(TextFile& f) {
    SspHeader h;
    std::string_view line;
    if (!f.next(line)) f.fail("end of file: the title line is missing");
    fio::list_read_or_throw(f, {&h.m});
    fio::list_read_or_throw(f, {&h.z});
    if (!f.next(line)) f.fail("end of file: the line of counts is missing");
    line = line.substr(0, std::min<std::size_t>(line.size(), 80));
    const int nv = count_values(line);
    fio::ListResult res;
    if (nv == 0) f.fail("the line of counts holds no value");
    if (nv == 1) {
        res = fio::list_read_string(line, {&h.nlam});
    } else {
        res = fio::list_read_string(line, {&h.nlam, &h.x});
        if (res.status == fio::ReadStatus::Ok && h.x < 0 && nv >= 3) {
            int third = 0;
            res = fio::list_read_string(line, {&h.nlam, &h.x, &third});
        }
    }
    if (res.status != fio::ReadStatus::Ok)
        f.fail("the line of counts does not read as integers: " + res.message);
    if (h.nlam == 0) f.fail("the table holds no wavelengths (nlam is 0)");
    return h;
}

// The first lines of a file, enough for its header; the rest is not read.
TextFile open_head(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text, l;
    for (int i = 0; i < 64 && std::getline(in, l); ++i) {
        text += l;
        text += '\n';
    }
    return TextFile::from_string(path, std::move(text));
}

// One integer field under an Iw edit descriptor: blanks are ignored, an all-blank
// field is 0, a sign may lead the digits.
inline bool int_field(std::string_view s, int& v) {
    long acc = 0;
    bool neg = false, sign = false, any = false;
    for (char c : s) {
        if (c == ' ' || c == '\r') continue;
        if (c >= '0' && c <= '9') {
            acc = acc * 10 + (c - '0');
            any = true;
        } else if ((c == '-' || c == '+') && !sign && !any) {
            neg = c == '-';
            sign = true;
        } else {
            return false;
        }
    }
    if (sign && !any) return false;
    v = static_cast<int>(neg ? -acc : acc);
    return true;
}

// n integers in (per_line I width): per_line fields to a line, each read starting
// on a new line; a short line reads as blank fields (0). A read of no values
// still passes over one line, as a formatted read of an empty list does.
void read_int_fields(TextFile& f, int n, int width, int per_line, int* out) {
    std::string_view line;
    if (n <= 0) {
        if (!f.next(line)) f.fail("end of file inside the table");
        return;
    }
    int done = 0;
    while (done < n) {
        if (!f.next(line)) f.fail("end of file: " + std::to_string(n - done) + " of " +
                                  std::to_string(n) + " integer values are missing");
        const int cnt = std::min(per_line, n - done);
        for (int q = 0; q < cnt; ++q) {
            const std::size_t at = static_cast<std::size_t>(q) * static_cast<std::size_t>(width);
            std::string_view field;
            if (at < line.size()) field = line.substr(at, std::min<std::size_t>(width, line.size() - at));
            if (!int_field(field, out[done + q]))
                f.fail("bad integer field '" + std::string(field) + "' in columns " +
                       std::to_string(at + 1) + "-" + std::to_string(at + width));
        }
        done += cnt;
    }
}

// A count of the extension read just before: n free-format values, or n
// integers at 20 to a line, must fit in what the file still holds.
void check_reals_count(const TextFile& f, const std::string& what, long long n) {
    if (n > 0 && n > fio::list_values_left(f))
        throw_io_error(f.name(), static_cast<long>(f.position()),
                       what + "=" + std::to_string(n) + " needs more values than the rest of the file holds");
}
void check_ints_count(const TextFile& f, const std::string& what, long long n) {
    const auto pos = static_cast<long long>(f.position());
    fio::check_count(f.name(), static_cast<long>(pos), what, n, pos + fio::lines_for(n, 20),
                     static_cast<long long>(f.line_count()));
}

// n free-format reals whose values are not used; a read of no values passes
// over one line.
void skip_reals(TextFile& f, int n, std::vector<float>& buf) {
    if (n <= 0) {
        std::string_view line;
        if (!f.next(line)) f.fail("end of file inside the table");
        return;
    }
    buf.assign(static_cast<std::size_t>(n), 0.0f);
    fio::list_read_or_throw(f, {std::span<float>(buf)});
}

void skip_ints(TextFile& f, int n, std::vector<int>& buf) {
    buf.assign(static_cast<std::size_t>(std::max(n, 0)), 0);
    read_int_fields(f, n, 5, 20, buf.data());
}

// The counts of a table's extension, which is read past.
struct Extension {
    int n_add = 0, n_a = 0, n_b = 0;
};

Extension read_extension_header(TextFile& f) {
    Extension e;
    std::vector<float> rb;
    std::vector<int> ib;
    fio::list_read_or_throw(f, {&e.n_add});
    fio::list_read_or_throw(f, {&e.n_a, &e.n_b});
    if (e.n_add > 0) {
        // Every age block repeats n_b groups of n_a integers, each on lines of its own.
        check_ints_count(f, "the extension count n_b", e.n_b);
        check_ints_count(f, "the extension count n_a", e.n_a);
        check_reals_count(f, "the extension count 4*n_b", 4LL * e.n_b);
    }
    skip_reals(f, 7, rb);
    int n_c = 0;
    fio::list_read_or_throw(f, {&n_c});
    check_reals_count(f, "the extension count n_c", std::llabs(static_cast<long long>(n_c)));
    skip_reals(f, std::abs(n_c), rb);
    skip_reals(f, 4, rb);
    int n_d = 0;
    fio::list_read_or_throw(f, {&n_d});
    check_reals_count(f, "the extension count 4*n_d", 4LL * n_d);
    check_ints_count(f, "the extension count n_d*n_d", static_cast<long long>(n_d) * n_d);
    skip_reals(f, 4 * n_d, rb);
    skip_ints(f, n_d * n_d, ib);
    check_reals_count(f, "the extension count n_a", e.n_a);
    skip_reals(f, e.n_a, rb);
    return e;
}

void read_extension_block(TextFile& f, const Extension& e) {
    if (e.n_add <= 0) return;
    std::vector<float> rb;
    std::vector<int> ib;
    skip_reals(f, 4 * e.n_b, rb);
    for (int g = 0; g < e.n_b; ++g) skip_ints(f, e.n_a, ib);
}

// The wavelength grid of a table, in Angstrom.
void read_wavelengths(TextFile& f, int nlam_signed, std::vector<float>& w) {
    const int n = std::abs(nlam_signed);
    w.assign(static_cast<std::size_t>(n), 0.0f);
    if (nlam_signed > 0) {
        std::vector<int> codes(static_cast<std::size_t>(n));
        read_int_fields(f, n, 6, 20, codes.data());
        for (int k = 0; k < n; ++k) w[k] = ssp_code::wavelength(codes[k]);
    } else {
        fio::list_read_or_throw(f, {std::span<float>(w)});
        for (int k = 0; k < n; ++k) w[k] = w[k] * 10.0f;
    }
}

// Two grids are the same when every wavelength agrees to rounding.
int first_difference(const std::vector<float>& a, const std::vector<float>& b) {
    for (std::size_t k = 0; k < a.size(); ++k)
        if (!(std::fabs(a[k] - b[k]) <= 1e-5f * std::fabs(a[k]))) return static_cast<int>(k) + 1;
    return 0;
}

bool rest_is_blank(const TextFile& f) {
    for (std::size_t i = f.position(); i < f.line_count(); ++i)
        if (!is_blank(f.line(i))) return false;
    return true;
}

}  // namespace

void readflussi_asci(Run& run, float ssp_mass, bool tables) {
    SspLibrary& lib = run.glotauspe;
    BirthGrid& r = run.remind;

    const std::vector<ListEntry> list = read_ssp_list(run);
    lib.ntab = static_cast<int>(list.size());
    lib.imf_flag.clear();
    lib.ssp_files.clear();
    for (const auto& e : list) {
        lib.imf_flag.push_back(e.type);
        lib.ssp_files.push_back(e.file);
    }
    if (!tables) return;

    const int ntab = lib.ntab;
    if (std::count(lib.imf_flag.begin(), lib.imf_flag.end(), 1) == 0)
        throw Stop(fio::list_line({"ERROR: the SSP section of file ", par_file_name(run),
                                   " lists no SSP table of type 1"}));
    if (!(ssp_mass > 0.0f))
        throw Stop(fio::list_line({"ERROR: the SSP mass must be positive, it is ", ssp_mass}));

    const std::string dir = trim_right(run.modname.name_dir);
    auto path_of = [&](const std::string& file) { return dir + file; };

    // 1. Header pass, in list order.
    std::vector<float> s(ntab), z(ntab);
    std::vector<int> x(ntab);
    int nlam_signed = 0;
    for (int k = 0; k < ntab; ++k) {
        const std::string path = path_of(lib.ssp_files[k]);
        if (!file_exists(path))
            throw Stop(std::vector<std::string>{
                fio::list_line({"ERROR in opening required SSP file ", path}),
                fio::list_line({"May be you are using a wrong-old format of SSP section in .par"}),
                data_folder_line(run.modname)});
        TextFile f = open_head(path);
        const SspHeader h = read_header(f);
        {
            // The wavelengths and an age block (a title and the flux codes at
            // 20 to a line) must fit in the file.
            const long long n = std::llabs(static_cast<long long>(h.nlam));
            const long long codes = fio::lines_for(n, 20);
            fio::check_count(path, 4, "the number of wavelengths nlam", n, 4 + (h.nlam > 0 ? codes : 1) + 1 + codes,
                             static_cast<long long>(fio::count_file_lines(path)));
        }
        s[k] = lib.imf_flag[k] == 1 ? h.m / ssp_mass : 1.0f;
        z[k] = h.z;
        x[k] = h.x;
        if (k == 0)
            nlam_signed = h.nlam;
        else if (h.nlam != nlam_signed)
            qverror("required SSP files have different wavelenghts");
    }

    // 2. Tables made for different IMFs.
    for (int k = 1; k < ntab; ++k)
        if (s[k] != s[0]) {
            run.con.line(fio::list_line({"WARNING: you are using SSPs with different IMFs"}));
            break;
        }

    // 3. Order by type, then by metallicity within each type (the pair, so that a
    // metallicity of 1 or more cannot move a table into the other type).
    std::vector<int> order;
    for (int type = 1; type <= 2; ++type) {
        std::vector<int> members;
        std::vector<float> keys;
        for (int k = 0; k < ntab; ++k)
            if (lib.imf_flag[k] == type) {
                members.push_back(k);
                keys.push_back(z[k]);
            }
        if (members.empty()) continue;
        std::vector<int> idx(members.size());
        indexx(static_cast<int>(members.size()), keys.data(), idx.data());
        for (int i : idx) order.push_back(members[i - 1]);
    }
    {
        std::vector<float> s2(ntab), z2(ntab);
        std::vector<int> x2(ntab), t2(ntab);
        std::vector<std::string> f2(ntab);
        for (int i = 0; i < ntab; ++i) {
            const int k = order[i];
            s2[i] = s[k];
            z2[i] = z[k];
            x2[i] = x[k];
            t2[i] = lib.imf_flag[k];
            f2[i] = lib.ssp_files[k];
        }
        s = s2;
        z = z2;
        x = x2;
        lib.imf_flag = t2;
        lib.ssp_files = f2;
    }
    lib.ztab.resize(ntab);
    for (int i = 0; i < ntab; ++i) lib.ztab(i + 1) = z[i];

    // 4. Type-1 tables come first.
    lib.ntab1 = 0;
    for (int i = 0; i < ntab; ++i)
        if (lib.imf_flag[i] == 1) lib.ntab1 = i + 1;

    // 5. The library's arrays.
    const int nlam = std::abs(nlam_signed);
    r.nlam = nlam;
    r.wave.resize(nlam);
    lib.fluxes.resize(nlam, SspLibrary::nages, ntab);
    lib.ages.resize(SspLibrary::nages, ntab);
    lib.nmax.resize(ntab);

    // 6. Data pass, in sorted order.
    std::vector<float> grid, first_grid;
    std::vector<int> codes(static_cast<std::size_t>(nlam));
    for (int i = 1; i <= ntab; ++i) {
        const std::string path = path_of(lib.ssp_files[i - 1]);
        TextFile f = TextFile::open(path);
        read_header(f);
        read_wavelengths(f, nlam_signed, grid);
        if (i == 1) {
            first_grid = grid;
        } else if (const int k = first_difference(first_grid, grid)) {
            qverror("required SSP files have different wavelenghts: wavelength " + std::to_string(k) +
                    " of " + path + " differs from that of " + path_of(lib.ssp_files[0]));
        }
        // Every table writes the grid; all share it.
        std::copy(grid.begin(), grid.end(), r.wave.data());
        Extension ext;
        if (x[i - 1] < 0) ext = read_extension_header(f);

        const float scale = s[i - 1];
        const float* wave = r.wave.data();
        int j = 0;
        std::string_view title;
        while (f.next(title)) {
            if (is_blank(title)) {
                // Blank lines after the last block end the table.
                if (rest_is_blank(f)) break;
                f.fail("blank line where the title of an age block is expected");
            }
            if (j == SspLibrary::nages) throw Stop(fio::list_line({" recompile with greater NAGES"}));
            ++j;
            float v1 = 0.0f, v2 = 0.0f, v3 = 0.0f;
            const fio::ListResult res = fio::list_read_string(title, {&v1, &v2, &v3});
            if (res.status != fio::ReadStatus::Ok)
                f.fail("the title of age block " + std::to_string(j) +
                       " does not begin with three numbers: " + res.message);
            const float age = std::pow(10.0f, v2) / 1e9f;
            if (!std::isfinite(age)) f.fail("the age of block " + std::to_string(j) + " is out of range");
            if (j > 1 && !(age < lib.ages(j - 1, i)))
                f.fail("age blocks must come in order of decreasing age (block " + std::to_string(j) +
                       ")");
            lib.ages(j, i) = age;

            read_int_fields(f, nlam, 5, 20, codes.data());
            float* out = lib.fluxes.ptr(1, j, i);
            for (int k = 0; k < nlam; ++k)
                out[k] = ssp_code::flux(codes[k]) * scale * 4.0f * ssp_code::c_angstrom / wave[k] / wave[k];
            read_extension_block(f, ext);
        }
        if (j < 2)
            throw Stop(fio::list_line({"ERROR: SSP file ", path, " holds " + std::to_string(j) +
                                                                    " age block(s); at least 2 are needed"}));
        lib.nmax(i) = j;
    }
}

}  // namespace qv
