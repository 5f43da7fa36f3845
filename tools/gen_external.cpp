// The example galaxies of the external galaxy-formation models, each written
// into its own folder with the file names and layouts that the model's reader
// expects. Sets for trying the readers, not for science.
//
// tav model, galaxy 42 (model name tav42; masses in h^-1 Msun, h = 0.7):
//   - tav_disk.42 and tav_bulge.42: 51 rows at lookback times 12.5 to 0 Gyr in
//     steps of 0.25 Gyr, five metallicity bins (0.001, 0.004, 0.008, 0.02,
//     0.05). The disk forms stars as psi = 6e9 t exp(-t / 4 Gyr) per Gyr (t the
//     time since the first row), the bulge as 8e9 exp(-t / 1 Gyr); each rate
//     goes to the two bins around the gas metallicity of the time,
//     Z = 0.001 + 0.02 (1 - exp(-t / 3 Gyr)).
//   - bursts_disk.42: one burst that ended long ago (6 Gyr before the end,
//     0.3 Gyr long); bursts_bulge.42: one burst under way at the end of the
//     table (started 0.05 Gyr before it, 0.1 Gyr long), so that the galaxy is
//     seen during a burst.
//   - prop.dat and prop2.dat: three galaxies (41, 42, 43); imf.dat and
//     imf_bursts.dat: the IMF factors of the quiescent and the burst tables.
// pelto model: gasoline_disk.sf (rows every 0.1 Gyr from 0.5 to 13 Gyr) and
//   gasoline_bulge.sf (every 0.25 Gyr over the same span, so that the times of
//   every half Gyr are in both files), nine bins of the model's fixed
//   metallicity grid.
// sorvanto model: QVmodl.disc.sf and QVmodl.bulg.sf, rows every 0.1 Gyr from
//   1 to 13 Gyr (the history begins after t = 0), a closed box of 6e10 Msun
//   for the disc and of 2e10 Msun for the bulge.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "generators.h"
#include "io/format.h"
#include "io/textfile.h"

namespace qvgen {

namespace {

void write(const std::string& dir, const std::string& name, const std::string& text) {
    std::string path = dir;
    if (!path.empty() && path.back() != '/') path += '/';
    qv::write_file_atomic(path + name, text);
}

std::string e(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, " %13.6e", v);
    return buf;
}

// The shares of a rate in the bins z (ascending) for metallicity zz: the two
// bins around it, linearly; below the first or above the last, that bin.
std::vector<double> bin_shares(const std::vector<double>& z, double zz) {
    std::vector<double> w(z.size(), 0.0);
    if (zz <= z.front()) {
        w.front() = 1.0;
    } else if (zz >= z.back()) {
        w.back() = 1.0;
    } else {
        std::size_t j = 0;
        while (z[j + 1] < zz) ++j;
        const double f = (zz - z[j]) / (z[j + 1] - z[j]);
        w[j] = 1.0 - f;
        w[j + 1] = f;
    }
    return w;
}

double z_gas(double t) { return 0.001 + 0.02 * (1.0 - std::exp(-t / 3.0)); }

void write_tav(const std::string& dir) {
    const std::vector<double> z = {0.001, 0.004, 0.008, 0.02, 0.05};
    constexpr double tfin = 12.5;
    for (int c = 0; c < 2; ++c) {
        std::string s;
        s += c == 0 ? "# qvgen tav example galaxy 42: quiescent disk (not for science)\n"
                    : "# qvgen tav example galaxy 42: quiescent bulge (not for science)\n";
        s += "# rates in h^-1 Msun/Gyr per metallicity bin\n#\n#\n";
        std::string bins = "bins  ", zs = "zbin  ";
        for (std::size_t j = 0; j < z.size(); ++j) {
            bins += qv::fio::edit_i(static_cast<long long>(j + 1), 14);
            zs += qv::fio::edit_g(z[j], 14, 4);
        }
        s += bins + "\n" + zs + "\n";
        s += "# step  snap  lookback(Gyr)  a  b  SFR of the bins\n#\n";
        for (int k = 0; k <= 50; ++k) {
            const double lb = tfin - 0.25 * k;
            const double t = tfin - lb;
            const double psi = c == 0 ? 6.0e9 * t * std::exp(-t / 4.0) : 8.0e9 * std::exp(-t / 1.0);
            char head[64];
            std::snprintf(head, sizeof head, "%5d %5d %9.4f %6.3f %6.3f", k + 1, 60 - k, lb, 1.0 / (1.0 + 0.1 * k), 0.0);
            s += head;
            for (double w : bin_shares(z, z_gas(t))) s += e(psi * w);
            s += "\n";
        }
        write(dir, c == 0 ? "tav_disk.42" : "tav_bulge.42", s);
    }
    const std::string burst_head = "# qvgen tav example galaxy 42: bursts\n"
                                   "# columns: a b start(lookback Gyr) Mb(h^-1 Msun) tau(Gyr) dur(Gyr) Z0 dZ divisor radius(h^-1 Mpc)\n"
                                   "#\n";
    write(dir, "bursts_disk.42",
          burst_head + "  42  1  6.0   2.0e9  0.1   0.3  0.010  0.002  0.9502  0.0020\n");
    write(dir, "bursts_bulge.42",
          burst_head + "  42  2  0.05  5.0e9  0.05  0.1  0.020  0.002  0.8647  0.0015\n");
    const std::string prop_head = "# qvgen tav example: galaxy properties\n# columns as the tav model writes them\n";
    write(dir, "prop.dat",
          prop_head + "  41  2.0e10  0.0  0.003  5.0e9  0.0  0.001  4.0e9  0.012  0.8\n"
                      "  42  3.0e10  0.0  0.004  1.2e10 0.0  0.0015 5.0e9  0.015  1.0\n"
                      "  43  1.0e10  0.0  0.002  0.0    0.0  0.0    2.0e9  0.008  0.3\n");
    write(dir, "prop2.dat",
          prop_head + "  41  0.0  0.15  2.5e10  0.0  0.0  0.0  0.0  0.0  0.0\n"
                      "  42  0.0  0.22  4.2e10  0.0  0.0  0.0  0.0  0.0  0.0\n"
                      "  43  0.0  0.00  1.0e10  0.0  0.0  0.0  0.0  0.0  0.0\n");
    write(dir, "imf.dat", "# IMF factor of the quiescent tables\nupsilon    1.000\n");
    write(dir, "imf_bursts.dat", "# IMF factor of the burst tables\nupsilon    0.800\n");
}

const double kZgrid[11] = {0.0001, 0.0002, 0.0004, 0.0008, 0.0016, 0.0032, 0.0065, 0.0125, 0.025, 0.05, 0.1};

void write_pelto(const std::string& dir) {
    constexpr int ntav = 9;
    const std::vector<double> z(kZgrid, kZgrid + ntav);
    auto f72 = [](double v) { return qv::fio::edit_f(v, 7, 2); };
    for (int c = 0; c < 2; ++c) {
        std::string s = c == 0 ? "# qvgen pelto example: disk (not for science)\n"
                               : "# qvgen pelto example: bulge (not for science)\n";
        s += " " + f72(1.0) + "\n";
        if (c == 0)
            s += " " + f72(0.0) + f72(3.5) + f72(0.35) + f72(4.0) + f72(0.2) + qv::fio::edit_e(8.0e9, 7, 2) + " 0.0140" +
                 qv::fio::edit_i(ntav, 7) + "\n";
        else
            s += " " + f72(0.0) + f72(1.2) + qv::fio::edit_i(ntav, 7) + "\n";
        s += "# time(yr) SFR of the bins (Msun/yr)\n";
        const double step = c == 0 ? 0.1 : 0.25;
        const int n = c == 0 ? 125 : 50;
        for (int k = 0; k <= n; ++k) {
            const double t = 0.5 + step * k;  // Gyr
            const double psi = c == 0 ? 1.2 * t * std::exp(-t / 5.0) : 6.0 * std::exp(-t / 1.5);  // Msun/yr
            s += e(t * 1.0e9);
            for (double w : bin_shares(z, z_gas(t))) s += e(psi * w);
            s += "\n";
        }
        write(dir, c == 0 ? "gasoline_disk.sf" : "gasoline_bulge.sf", s);
    }
}

void write_sorvanto(const std::string& dir) {
    for (int c = 0; c < 2; ++c) {
        const double m0 = c == 0 ? 6.0e10 : 2.0e10;
        const double tau = c == 0 ? 5.0 : 1.0;  // gas e-folding time, Gyr
        std::string s = c == 0 ? "# qvgen sorvanto example: disc (not for science)\n"
                               : "# qvgen sorvanto example: bulge (not for science)\n";
        if (c == 0)
            s += "#" + qv::fio::write_line("(5G14.5)", {1.0f, 3.5f, 4.0f, 0.5f, 0.3f}) + "\n";
        else
            s += "#" + qv::fio::write_line("(3G14.5)", {1.0f, 0.8f, 0.8f}) + "\n";
        s += "# index time(yr) SFR(Msun/yr) Z gas stars total(Msun)\n";
        for (int k = 0; k <= 120; ++k) {
            const double t = 1.0 + 0.1 * k;  // Gyr
            const double x = t - 1.0;
            const double gas = m0 * std::exp(-x / tau);
            const double psi = gas / (0.7 * tau) / 1.0e9;  // Msun/yr
            const double zz = 0.002 + 0.01 * std::log(m0 / gas) / (1.0 + 0.1 * x);
            char head[16];
            std::snprintf(head, sizeof head, "%5d", k + 1);
            s += head + e(t * 1.0e9) + e(psi) + e(zz) + e(gas) + e(m0 - gas) + e(m0) + "\n";
        }
        write(dir, c == 0 ? "QVmodl.disc.sf" : "QVmodl.bulg.sf", s);
    }
}

}  // namespace

void write_external_galaxy(const std::string& model, const std::string& dir) {
    std::filesystem::create_directories(dir);
    if (model == "tav")
        write_tav(dir);
    else if (model == "pelto")
        write_pelto(dir);
    else if (model == "sorvanto")
        write_sorvanto(dir);
    else
        throw std::invalid_argument("no example galaxy of the model " + model);
}

}  // namespace qvgen
