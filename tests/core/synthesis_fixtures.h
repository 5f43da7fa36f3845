// Small hand-made inputs for the SSP, history and synthesis tests: SSP table
// files written as text, libraries and histories filled in memory, and the
// driver's birth-time loop.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "core/run.h"
#include "core/synthesis.h"
#include "support/test_support.h"

namespace qv::test {

// One SSP table file in its text form.
struct SspTableText {
    std::string title = "test SSP table";
    std::string mass = "1.0";
    std::string z = "0.02";
    std::string counts;              // line 4; "" gives the count of wave_codes
    std::vector<int> wave_codes;     // positive count: codes in 20I6
    std::vector<std::string> wave_reals;  // negative count: free-format reals
    std::string extension_header;    // after the wavelengths (x < 0)
    std::vector<std::pair<double, std::vector<int>>> blocks;  // log10 age (yr), flux codes
    std::string block_extension;     // after every block's fluxes
    std::string tail;                // after the last block
};

inline std::string int_fields(const std::vector<int>& v, int w) {
    std::string out;
    char buf[32];
    for (std::size_t k = 0; k < v.size(); ++k) {
        std::snprintf(buf, sizeof buf, "%*d", w, v[k]);
        out += buf;
        if (k % 20 == 19 || k + 1 == v.size()) out += '\n';
    }
    return out;
}

inline std::string render(const SspTableText& t) {
    std::string out = t.title + "\n" + t.mass + "\n" + t.z + "\n";
    if (t.counts.empty())
        out += std::to_string(t.wave_reals.empty() ? static_cast<int>(t.wave_codes.size())
                                                   : -static_cast<int>(t.wave_reals.size())) +
               "\n";
    else
        out += t.counts + "\n";
    if (t.wave_reals.empty()) {
        out += int_fields(t.wave_codes, 6);
    } else {
        for (const auto& r : t.wave_reals) out += " " + r;
        out += "\n";
    }
    out += t.extension_header;
    int j = 0;
    for (const auto& b : t.blocks) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%4d %.6f %.6f block\n", ++j, b.first, 0.0);
        out += buf;
        out += int_fields(b.second, 5);
        out += t.block_extension;
    }
    out += t.tail;
    return out;
}

// The SSP section of a par file, with the MAIN section after it.
inline std::string ssp_section(const std::vector<std::pair<int, std::string>>& list) {
    std::string out = "SSP\n% type file\n% ---------\n";
    for (const auto& e : list) out += std::to_string(e.first) + " " + e.second + "\n";
    out += "MAIN\n";
    return out;
}

// An SSP library filled in memory: ntab tables of nlam wavelengths, tables in
// sorted order (type-1 first), ages in Gyr oldest first, fluxes from fl(l, j, i).
template <class F>
void fill_library(Run& run, const std::vector<int>& types, const std::vector<float>& z,
                  const std::vector<std::vector<float>>& ages, int nlam, F fl) {
    Glotauspe& g = run.glotauspe;
    const int ntab = static_cast<int>(types.size());
    g.ntab = ntab;
    g.imf_flag = types;
    g.ntab1 = 0;
    for (int i = 0; i < ntab; ++i)
        if (types[i] == 1) g.ntab1 = i + 1;
    g.ztab.resize(ntab);
    g.nmax.resize(ntab);
    g.ages.resize(SspLibrary::nages, ntab);
    g.fluxes.resize(nlam, SspLibrary::nages, ntab);
    run.remind.nlam = nlam;
    run.remind.wave.resize(nlam);
    for (int l = 1; l <= nlam; ++l) run.remind.wave(l) = 1000.0f * static_cast<float>(l);
    for (int i = 1; i <= ntab; ++i) {
        g.ztab(i) = z[i - 1];
        const auto& a = ages[i - 1];
        g.nmax(i) = static_cast<int>(a.size());
        for (int j = 1; j <= g.nmax(i); ++j) {
            g.ages(j, i) = a[j - 1];
            for (int l = 1; l <= nlam; ++l) g.fluxes(l, j, i) = fl(l, j, i);
        }
    }
}

// A tabulated history (istarfo 0) on the times t (Gyr) with the rates r and a
// constant gas fraction and metallicity.
inline void fill_history(Run& run, const std::vector<float>& t, const std::vector<float>& r,
                         float gas = 0.1f, float zeta = 0.02f) {
    SfhTables& g = run.glotauspe;
    const int n = static_cast<int>(t.size());
    g.istarfo = 0;
    g.nzsmax = n;
    g.agesf.resize(n);
    g.rsf.resize(n);
    g.gas.resize(n);
    g.zeta.resize(n);
    g.stars.resize(n);
    g.snrate.resize(n);
    for (int i = 1; i <= n; ++i) {
        g.agesf(i) = t[i - 1];
        g.rsf(i) = r[i - 1];
        g.gas(i) = gas;
        g.zeta(i) = zeta;
    }
}

// The driver's loop: birth-time arrays of the current capacity, kernel, and a
// capacity 1.25 times larger while the grid overflows. Returns the number of
// overflows.
inline int run_synthesis(Run& run) {
    BirthGrid& r = run.remind;
    int overflows = 0;
    bool overflow = true;
    while (overflow) {
        r.sfrate.resize(r.nz, r.ncom);
        r.flsspint.resize(r.nlam, r.nz, r.ncom);
        r.tbirth.resize(r.nz);
        r.alnorm.resize(r.nz, r.ncom);
        r.gasres.resize(r.nz);
        kernel(run, overflow);
        if (overflow) {
            ++overflows;
            r.sfrate.clear();
            r.flsspint.clear();
            r.tbirth.clear();
            r.alnorm.clear();
            r.gasres.clear();
            r.nz = static_cast<int>(1.25f * static_cast<float>(r.nz));
        }
    }
    return overflows;
}

// The birth times of a finished grid.
inline std::vector<float> birth_times(const Run& run) {
    std::vector<float> t;
    for (int i = 1; i <= run.remind.icall; ++i) t.push_back(run.remind.tbirth(i));
    return t;
}

}  // namespace qv::test
