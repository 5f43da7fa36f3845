// The stellar part of the synthetic example data set: SSP tables and the
// example model's star-formation histories. A set for trying the program, not
// for science.
//
// SSP tables (data folder). Each table is a population of 1 solar mass of one
// metallicity seen at 48 ages from 1 Myr to 14 Gyr (equal steps in log age,
// written oldest first), on 300 wavelengths from 91 Angstrom to 9e7 Angstrom
// (equal steps in log wavelength). The grid stops short of 1e8 Angstrom so that
// the program adds the supernova radio emission itself: these spectra hold none.
// The light of a population is two blackbodies:
//   - the bolometric luminosity fades with age t as L = 1500 Lsun (t / 1 Myr)^-0.8;
//   - the hot stars near the turn-off have T = 45000 K (t / 1 Myr)^-0.22, at
//     least 4500 K; the giants have 4000 K and a share of the light that grows
//     from 0.1 at 1 Myr to 0.6 at 14 Gyr;
//   - metallicity Z makes the stars a little cooler and fainter:
//     L x (Z/0.02)^-0.1, T x (Z/0.02)^-0.04 (hot) and (Z/0.02)^-0.03 (giants).
// The burst table (type 2) is the Z = 0.02 population with the light of its
// youngest stars raised by 1 + 2 exp(-t / 10 Myr).
// A table stores F = L_nu / 4 in 1e30 erg/s/Hz (the program turns it into
// L_lambda = 4 c F / lambda^2) as flux codes i with ln F = i/1000 - 100, 0 for
// no flux (below 1e-36); with 1 solar mass per table every code fits in 5
// columns. Wavelengths are codes i with lambda = exp(i/10000) x 10 Angstrom, or
// in the real-valued table wavelength / 10.
//
// Table files: qv_ssp_z004.dat, qv_ssp_z008.dat, qv_ssp_z020.dat (with an
// extension block, its values read past by the program), qv_ssp_z050.dat, the
// burst table qv_ssp_burst_z020.dat, and qv_ssp_real_z020.dat, the Z = 0.02
// table with real wavelengths (a negative count), which the example lists as
// switched off (type 0): tables of one library share the wavelength encoding.
//
// Histories (model folder):
//   - example.sf and example.ele: a closed box of 1e11 Msun of gas at t = 0
//     with a star-formation rate proportional to the gas, psi = g / 2.8 Gyr, and
//     30% of the mass formed returned at once, so that the gas and the rate fall
//     as exp(-t / 4 Gyr); metallicity Z = 1e-4 + 0.01 ln(M0 / g); stellar mass
//     M0 - g; supernova rate 0.01 per solar mass formed; rows every 0.1 Gyr
//     from 0 to 14 Gyr. The ele file holds the helium and hydrogen masses of the
//     gas, hydrogen X = 0.75 - 2.5 Z.
//   - example_ts.sf: a time series for istarfo 1 with a delayed exponential rate
//     psi = A t exp(-t / 3 Gyr) (the program rescales it), the gas left by a
//     closed box of 5.8e11 Msun with the same return fraction, and eight element
//     masses of the gas (H, He, C, N, O, Ne, Mg, Fe), masses in 1e9 Msun; rows
//     every 0.1 Gyr to 14 Gyr.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "core/ssp_library.h"
#include "generators.h"
#include "io/format.h"
#include "io/textfile.h"

namespace qvgen {

namespace {

constexpr int kNlam = 300;
constexpr int kNages = 48;
constexpr double kLamMin = 91.0;   // Angstrom
constexpr double kLamMax = 9.0e7;  // Angstrom
constexpr double kAgeMin = 1.0e6;  // yr
constexpr double kAgeMax = 1.4e10; // yr

constexpr double h_planck = 6.62607015e-27;  // erg s
constexpr double k_boltz = 1.380649e-16;     // erg/K
constexpr double c_light = 2.99792458e10;    // cm/s
constexpr double sigma_sb = 5.670374e-5;     // erg/cm^2/s/K^4
constexpr double lsun = 3.828e33;            // erg/s
constexpr double pi = 3.14159265358979323846;

std::string fmt(const char* f, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}

std::string fmti(const char* f, long v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}

// Integers in (20Iw), 20 to a line.
void put_ints(std::string& out, const std::vector<int>& v, int w) {
    char spec[8];
    std::snprintf(spec, sizeof spec, "%%%dd", w);
    for (std::size_t k = 0; k < v.size(); ++k) {
        out += fmti(spec, v[k]);
        if (k % 20 == 19 || k + 1 == v.size()) out += '\n';
    }
    if (v.empty()) out += '\n';
}

// Free-format reals, n to a line.
void put_reals(std::string& out, const std::vector<double>& v, int per_line) {
    for (std::size_t k = 0; k < v.size(); ++k) {
        out += fmt(" %.9g", v[k]);
        if (static_cast<int>(k % per_line) == per_line - 1 || k + 1 == v.size()) out += '\n';
    }
}

// The wavelength codes of the grid.
std::vector<int> wavelength_codes() {
    std::vector<int> codes(kNlam);
    for (int k = 0; k < kNlam; ++k) {
        const double lam = kLamMin * std::pow(kLamMax / kLamMin, static_cast<double>(k) / (kNlam - 1));
        codes[k] = static_cast<int>(std::lround(1.0e4 * std::log(lam / 10.0)));
    }
    return codes;
}

// Ages in years, oldest first.
std::vector<double> ages_oldest_first() {
    std::vector<double> a(kNages);
    for (int j = 0; j < kNages; ++j)
        a[j] = kAgeMax * std::pow(kAgeMin / kAgeMax, static_cast<double>(j) / (kNages - 1));
    return a;
}

// L_nu of a blackbody of bolometric luminosity l (erg/s) and temperature t, at nu.
double blackbody_lnu(double l, double t, double nu) {
    const double x = h_planck * nu / (k_boltz * t);
    if (x > 700.0) return 0.0;
    const double bnu = 2.0 * h_planck * nu * nu * nu / (c_light * c_light) / std::expm1(x);
    return l * pi * bnu / (sigma_sb * t * t * t * t);
}

// L_nu (erg/s/Hz) of one solar mass of the population of metallicity z at age
// (yr); burst raises the light of the youngest stars.
double population_lnu(double z, double age, double lam_angstrom, bool burst) {
    const double zr = z / 0.02;
    const double tm = age / 1.0e6;
    double lbol = 1500.0 * std::pow(tm, -0.8) * std::pow(zr, -0.1) * lsun;
    if (burst) lbol *= 1.0 + 2.0 * std::exp(-age / 1.0e7);
    const double thot = std::max(4500.0, 45000.0 * std::pow(tm, -0.22) * std::pow(zr, -0.04));
    const double tgiant = 4000.0 * std::pow(zr, -0.03);
    const double fg = 0.1 + 0.5 * std::log10(tm) / std::log10(kAgeMax / 1.0e6);
    const double nu = c_light * 1.0e8 / lam_angstrom;
    return blackbody_lnu((1.0 - fg) * lbol, thot, nu) + blackbody_lnu(fg * lbol, tgiant, nu);
}

// The flux code of L_nu: ln F = i/1000 - 100 with F = L_nu / 4 in 1e30 erg/s/Hz.
int flux_code(double lnu) {
    const double f = lnu / 4.0 / 1.0e30;
    if (!(f > 1.0e-36)) return 0;
    const double code = std::round((std::log(f) + 100.0) * 1000.0);
    return static_cast<int>(std::clamp(code, 0.0, 99999.0));
}

enum class Form { Plain, TwoCounts, Extension, RealWavelengths };

// One SSP table file.
std::string ssp_table(double z, bool burst, Form form) {
    const std::vector<int> wcodes = wavelength_codes();
    std::vector<float> lam(kNlam);
    for (int k = 0; k < kNlam; ++k) lam[k] = qv::ssp_code::wavelength(wcodes[k]);

    std::string out;
    out += "qvgen synthetic SSP (two blackbodies), Z =" + fmt("%7.4f", z) +
           (burst ? ", burst" : ", quiescent") + " - an example, not for science\n";
    out += "  1.0000     mass of the population, Msun\n";
    out += fmt("%8.4f", z) + "     metallicity\n";
    switch (form) {
        case Form::Plain:
            out += fmti("%6ld", kNlam) + "\n";
            break;
        case Form::TwoCounts:
            out += fmti("%6ld", kNlam) + "     1     0\n";
            break;
        case Form::Extension:
            out += fmti("%6ld", kNlam) + "    -1     7\n";
            break;
        case Form::RealWavelengths:
            out += fmti("%6ld", -kNlam) + "\n";
            break;
    }
    if (form == Form::RealWavelengths) {
        // The same wavelengths as the codes give, divided by 10 and written with
        // all the digits of a 4-byte real.
        std::vector<double> v(kNlam);
        for (int k = 0; k < kNlam; ++k)
            v[k] = static_cast<double>(std::exp(static_cast<float>(wcodes[k]) / 10000.0f));
        put_reals(out, v, 8);
    } else {
        put_ints(out, wcodes, 6);
    }
    if (form == Form::Extension) {
        // Extension header: one block record, 3 values in 2 groups, then the
        // description of the population (Y, X, mass limits of the IMF, slope).
        out += "    1\n";
        out += "    3    2\n";
        put_reals(out, {z, 0.24 + 1.5 * z, 0.76 - 2.5 * z, 0.1, 100.0, 1.35, 0.3}, 7);
        out += "   -4\n";
        put_reals(out, {0.1, 1.0, 10.0, 100.0}, 4);
        put_reals(out, {1.0, 0.0, 0.0, 0.0}, 4);
        out += "    2\n";
        put_reals(out, {0.1, 1.0, 1.0, 100.0, -2.35, -2.35, 1.0, 1.0}, 8);
        put_ints(out, {1, 2, 3, 4}, 5);
        put_reals(out, {1.0, 2.0, 3.0}, 3);
    }

    const std::vector<double> ages = ages_oldest_first();
    std::vector<int> codes(kNlam);
    for (int j = 0; j < kNages; ++j) {
        const double a = ages[j];
        out += fmti("%5ld", j + 1) + fmt("%12.6f", std::log10(a)) + fmt("%14.6e", a / 1.0e9) +
               "   block: index, log10 age (yr), age (Gyr)\n";
        for (int k = 0; k < kNlam; ++k)
            codes[k] = flux_code(population_lnu(z, a, static_cast<double>(lam[k]), burst));
        put_ints(out, codes, 5);
        if (form == Form::Extension) {
            // Per block: the mass in living stars and in remnants, the gas
            // returned and the light per unit mass for each group, then counts.
            const double alive = 1.0 - 0.3 * std::min(1.0, std::log10(a / 1.0e6) / 3.0);
            put_reals(out, {alive, 1.0 - alive, 0.3, 1.0, alive, 1.0 - alive, 0.3, 1.0}, 4);
            put_ints(out, {j + 1, 1, 2}, 5);
            put_ints(out, {j + 1, 3, 4}, 5);
        }
    }
    return out;
}

void write(const std::string& dir, const std::string& name, const std::string& text) {
    std::string path = dir;
    if (!path.empty() && path.back() != '/') path += '/';
    qv::write_file_atomic(path + name, text);
}

}  // namespace

void write_ssp_tables(const std::string& data_dir) {
    write(data_dir, "qv_ssp_z004.dat", ssp_table(0.004, false, Form::Plain));
    write(data_dir, "qv_ssp_z008.dat", ssp_table(0.008, false, Form::TwoCounts));
    write(data_dir, "qv_ssp_z020.dat", ssp_table(0.02, false, Form::Extension));
    write(data_dir, "qv_ssp_z050.dat", ssp_table(0.05, false, Form::Plain));
    write(data_dir, "qv_ssp_burst_z020.dat", ssp_table(0.02, true, Form::Plain));
    write(data_dir, "qv_ssp_real_z020.dat", ssp_table(0.02, false, Form::RealWavelengths));
}

void write_histories(const std::string& model_dir) {
    // Closed box: example.sf and example.ele.
    {
        constexpr double m0 = 1.0e11;     // Msun
        constexpr double tau_sf = 2.8;    // Gyr: psi = g / tau_sf
        constexpr double ret = 0.3;       // mass fraction returned at once
        constexpr double yield = 0.01;
        std::string sf, ele;
        sf += "# qvgen example history: closed box, psi = gas / 2.8 Gyr, gas e-folding 4 Gyr (not for science)\n";
        sf += "#" + qv::fio::edit_g(1.0, 15, 5) + " SSP mass (Msun)\n";
        sf += "# index  age(yr)  SFR(Msun/yr)  Z  gas(Msun)  stars(Msun)  total(Msun)  SN rate(1/yr)\n";
        ele += "# qvgen example history: gas composition of example.sf\n";
        ele += "# age(yr)  helium mass(Msun)  hydrogen mass(Msun)\n";
        for (int i = 0; i <= 140; ++i) {
            const double t = 0.1 * i;  // Gyr
            const double g = m0 * std::exp(-(1.0 - ret) * t / tau_sf);
            const double psi = g / tau_sf / 1.0e9;  // Msun/yr
            const double z = 1.0e-4 + yield * std::log(m0 / g);
            const double x = 0.75 - 2.5 * z;
            sf += fmti("%5ld", i + 1) + fmt(" %14.6e", t * 1.0e9) + fmt(" %14.6e", psi) + fmt(" %12.6e", z) +
                  fmt(" %14.6e", g) + fmt(" %14.6e", m0 - g) + fmt(" %14.6e", m0) + fmt(" %12.6e", 0.01 * psi) +
                  "\n";
            ele += fmt(" %14.6e", t * 1.0e9) + fmt(" %14.6e", g * (1.0 - x - z)) + fmt(" %14.6e", g * x) + "\n";
        }
        write(model_dir, "example.sf", sf);
        write(model_dir, "example.ele", ele);
    }

    // Time series for istarfo 1: example_ts.sf.
    {
        constexpr double m0 = 5.8e11;  // Msun
        constexpr double tau = 3.0;    // Gyr
        constexpr double ret = 0.3;
        constexpr double a = 0.8 * m0 / (tau * tau);  // Msun/Gyr^2
        const double share[6] = {0.18, 0.05, 0.44, 0.09, 0.04, 0.07};  // C N O Ne Mg Fe of Z
        std::string ts;
        ts += "# qvgen example time series: delayed exponential rate, tau 3 Gyr (not for science)\n";
        // The program scales the rates and the masses by one factor, so the masses
        // are in the unit that the rate builds in a Gyr: 1e9 Msun.
        ts += "# age(Gyr) Z SFR(Msun/yr) gas(1e9 Msun) H He C N O Ne Mg Fe (1e9 Msun)\n";
        for (int i = 0; i <= 140; ++i) {
            const double t = 0.1 * i;
            const double psi = a * t * std::exp(-t / tau);                            // Msun/Gyr
            const double formed = a * tau * (tau - (tau + t) * std::exp(-t / tau));  // Msun
            const double g = m0 - (1.0 - ret) * formed;
            const double z = 1.0e-4 + 0.01 * std::log(m0 / g);
            const double g9 = g / 1.0e9;
            ts += fmt("%7.3f", t) + fmt(" %12.6e", z) + fmt(" %14.6e", psi / 1.0e9) + fmt(" %14.6e", g9);
            ts += fmt(" %14.6e", g9 * (0.75 - 2.5 * z)) + fmt(" %14.6e", g9 * (0.25 + 1.5 * z));
            for (double s : share) ts += fmt(" %14.6e", g9 * z * s);
            ts += "\n";
        }
        write(model_dir, "example_ts.sf", ts);
    }
}

}  // namespace qvgen
