// A small tav galaxy (galaxy 7, model name tav7) written into a test's folder,
// with values that are easy to follow by hand:
//   disk rows at lookback 3, 2, 1, 0 Gyr with the rates (1e9, 3e9), (2e9, 2e9),
//   (3e9, 1e9), (4e9, 0) in the bins Z = 0.004 and 0.02; the bulge (1e9, 0),
//   (1e9, 0), (0, 1e9), (0, 1e9); imf.dat of three lines ending with upsilon 2;
//   prop.dat: disk 3e10, Rd 0.005, bulge 1e10, Rb 0.002, gas 1e10, Z 0.01;
//   prop2.dat: B-band ratio 0.3, stellar mass 4e10; littleh 0.5, beta 2.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/run.h"
#include "sfh_external/external_histories.h"
#include "io/format.h"
#include "support/test_support.h"

namespace qv::test {

struct TavRow {
    float lookback;
    std::vector<float> rates;
};

inline std::string tav_table(const std::vector<TavRow>& rows, const std::vector<int>& bins = {1, 2},
                             const std::vector<float>& z = {0.004f, 0.02f}) {
    std::string s = "# tav table\n#\n#\n#\n";
    std::string b = "bins  ", zs = "zbin  ";
    for (int v : bins) b += fio::edit_i(v, 14);
    for (float v : z) zs += fio::edit_g(v, 14, 4);
    s += b + "\n" + zs + "\n#\n#\n";
    int k = 0;
    for (const auto& r : rows) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%4d %4d %8.4f 0.5 0.5", k + 1, 60 - k, static_cast<double>(r.lookback));
        ++k;
        s += buf;
        for (float v : r.rates) {
            std::snprintf(buf, sizeof buf, " %.7g", static_cast<double>(v));
            s += buf;
        }
        s += "\n";
    }
    return s;
}

inline std::vector<TavRow> tav_disk_rows() {
    return {{3.0f, {1e9f, 3e9f}}, {2.0f, {2e9f, 2e9f}}, {1.0f, {3e9f, 1e9f}}, {0.0f, {4e9f, 0.0f}}};
}
inline std::vector<TavRow> tav_bulge_rows() {
    return {{3.0f, {1e9f, 0.0f}}, {2.0f, {1e9f, 0.0f}}, {1.0f, {0.0f, 1e9f}}, {0.0f, {0.0f, 1e9f}}};
}

inline const char* kTavBurstHead = "# bursts\n# a b start Mb tau dur Z0 dZ c9 c10\n#\n";

struct TavFixture : ::testing::Test {
    TempDir dir;
    CapturedConsole cc;
    qv::Run run{cc.con};
    float fgas = -1.0f, sfrt = -1.0f, zism = -1.0f;

    TavFixture() {
        run.modname.name = "tav7";
        run.modname.name_res = "tav7";
        run.remind.ncom = 2;
        run.parametri.igeo = -1;
        run.parametri.tgal = 5.0f;
        Glotauspe& g = run.glotauspe;
        g.istarfo = 4;
        g.littleh = 0.5f;
        g.beta = 2.0f;
        g.ntab = 2;
        g.imf_flag = {1, 1};
        write_text("tav7.out", " USEFUL CHECKING NUMBERS FOLLOW\n");
        write_text("tav_disk.7", tav_table(tav_disk_rows()));
        write_text("tav_bulge.7", tav_table(tav_bulge_rows()));
        write_text("imf.dat", "# IMF\nupsilon  9.999\nupsilon  2.000\n");
        write_text("prop.dat", "# properties\n#\n"
                               "  6  1.0e10 0.0 0.001 1.0e9 0.0 0.001 1.0e9 0.02 1.0\n"
                               "  7  3.0e10 0.0 0.005 1.0e10 0.0 0.002 1.0e10 0.01 5.0\n"
                               "  7  9.0e10 0.0 0.009 9.0e10 0.0 0.009 9.0e10 0.09 9.0\n");
        write_text("prop2.dat", "# properties 2\n#\n"
                                "  6  0.0 0.1 1.0e10 0 0 0 0 0 0\n"
                                "  7  0.0 0.3 4.0e10 0 0 0 0 0 0\n");
    }
    void read() { readtav_disk_bulge(run, fgas, sfrt, zism); }
    std::vector<std::string> log() const { return read_lines("tav7.out"); }
};

}  // namespace qv::test
