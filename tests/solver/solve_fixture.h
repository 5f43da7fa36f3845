// One whole solve of the cloud solver: a working folder, a data folder with
// generated grain tables and output settings, the clouds' grain mixture, and a
// blackbody central source written as <stem>.SSP, as the cloud model prepares
// a solve.
#pragma once

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/run.h"
#include "dust/grain_fixture.h"
#include "dust/grain_mix.h"
#include "generators.h"
#include "solver/solver_state.h"
#include "support/test_support.h"

namespace qv::test {

inline constexpr double kSolveSigmaSB = 5.670374e-5;  // erg s^-1 cm^-2 K^-4
inline constexpr double kSolvePi = 3.14159265358979;
inline constexpr double kLsun = 3.827e33;             // erg/s

// B_lambda (erg s^-1 cm^-2 A^-1 sr^-1) at lambda in Angstrom.
inline double bb_lambda(double lam_a, double t) {
    const double lam = lam_a * 1e-8;
    const double x = 1.4387769 / (lam * t);
    if (x > 700.0) return 0.0;
    return 2.0 * 6.62607e-27 * 2.99792458e10 * 2.99792458e10 / std::pow(lam, 5.0) /
           std::expm1(x) * 1e-8;
}

// The output settings: flags (1-based list of those on), viewing directions,
// map wavelengths.
inline std::string solver_settings(const std::vector<int>& on, const std::vector<float>& dirs,
                                   const std::vector<float>& lams) {
    std::string s = " settings\n";
    for (int k = 1; k <= 14; ++k) {
        bool t = false;
        for (int f : on) t = t || f == k;
        s += t ? "         T\n" : "         F\n";
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%10d\n", static_cast<int>(dirs.size()));
    s += buf;
    for (float d : dirs) {
        std::snprintf(buf, sizeof buf, "%10.2f\n", static_cast<double>(d));
        s += buf;
    }
    std::snprintf(buf, sizeof buf, "%10d\n", static_cast<int>(lams.size()));
    s += buf;
    if (lams.empty()) s += "      0.00\n";
    for (float l : lams) {
        std::snprintf(buf, sizeof buf, "%10.2f\n", static_cast<double>(l));
        s += buf;
    }
    return s;
}

struct SolveFixture {
    TempDir tmp;
    CapturedConsole cc;
    Run run{cc.con};
    SolverState& g = run.globals;
    double lsrc = 0.0;  // erg/s

    // grains: the kind of grain tables; pah: the MIXMOL value xx.
    SolveFixture(const std::string& settings, qvgen::GrainTables grains, const char* xx = "0.0") {
        const std::string data = tmp.file("data");
        std::filesystem::create_directories(data);
        qvgen::write_grain_tables(data, grains);
        write_text(data + "/NOLT96.OF", settings);
        write_text(tmp.file("m.par"), MixKeys().set("xx", xx).text("MIXMOL"));
        run.modname.name = "m";
        run.modname.name_dir = data + "/";
        taumix::genmix(run, 2);
        g.tgra = 1500.0f;
        g.tsil = 1200.0f;
        g.nom = "tmp1234";
    }

    // A blackbody source of luminosity l (erg/s) at temperature t (K).
    void source(double l, double t = 2.5e4) {
        lsrc = l;
        std::string text;
        const int n = 600;
        for (int i = 0; i < n; ++i) {
            const double lam = 50.0 * std::pow(4e6, i / (n - 1.0));
            const double llam =
                l * kSolvePi * bb_lambda(lam, t) / (kSolveSigmaSB * t * t * t * t) / 1e30;
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.7e %.7e\n", lam, llam);
            text += buf;
        }
        write_text(tmp.file("tmp1234.SSP"), text);
    }

    std::vector<std::string> log() const { return read_lines(tmp.file("tmp1234.OUT")); }
};

// The values of every block of a given label in a solver file (one value per
// line: the second field of each row).
inline std::vector<std::vector<double>> list_blocks(const std::vector<std::string>& lines,
                                                   const std::string& label) {
    std::vector<std::vector<double>> out;
    const std::string head = "Array " + label + ":";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] != head) continue;
        std::vector<double> v;
        for (std::size_t j = i + 1; j < lines.size() && lines[j].size() >= 20 &&
                                    lines[j].substr(0, 5).find_first_not_of(' ') != std::string::npos;
             ++j) {
            int idx = 0;
            double x = 0.0;
            if (std::sscanf(lines[j].c_str(), "%d %lf", &idx, &x) != 2) break;
            v.push_back(x);
        }
        out.push_back(v);
    }
    return out;
}

}  // namespace qv::test
