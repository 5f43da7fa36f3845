#include "clouds/cloud_dust_emission.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "clouds/co_lines.h"
#include "core/parfile.h"
#include "core/run.h"
#include "core/stop.h"
#include "dust/grain_mix.h"
#include "emulator/sed_emulator.h"
#include "io/format.h"
#include "io/textfile.h"
#include "numerics/search.h"
#include "solver/tutto.h"

namespace qv::pallanolt96_stages {

namespace {

constexpr int kStems = 10000;  // tmp0000 .. tmp9999
constexpr float kPcToCm = 3.086e18f;
// The cloud network: 2 inputs, 20 hidden neurons.
constexpr std::array<int, 2> kArchMc = {2, 20};

std::string stem_of(int n) {
    std::string s = "tmp0000";
    for (int d = 6; d >= 3; --d) {
        s[static_cast<std::size_t>(d)] = static_cast<char>('0' + n % 10);
        n /= 10;
    }
    return s;
}

[[noreturn]] void stop_type(const std::string& what, int i) {
    throw Stop(fio::list_line({"cloud dust emission, cloud type " + std::to_string(i) + ": " + what + ". stop."}));
}

bool all_finite(const float* v, int n) {
    for (int k = 0; k < n; ++k)
        if (!std::isfinite(v[k])) return false;
    return true;
}

void call_solver(Run& run) {
    if (run.cloud_solver)
        run.cloud_solver(run, 2);
    else
        tutto(run, 2);
}

void call_emulator(Run& run, const std::vector<float>& x) {
    if (run.cloud_emulator)
        run.cloud_emulator(run, kArchMc, x, false);
    else
        ann_quelvo_mc_only(run, kArchMc, x, false);
}

// Deletes the scratch files of the claimed stem when the stage ends, also when
// it ends by a stop, so that the claim never outlives the run.
struct ScratchClaim {
    std::string stem;
    ~ScratchClaim() { delete_scratch_files(stem); }
};

// One cloud of type i through the solver: the source spectrum file, the cloud's
// optical depth and outer radius, the solve, and its spectrum on the dust grid.
void solver_emission(Run& run, int i, const std::string& stem) {
    const CloudSetup& gp = run.glopalla;
    CloudTypes& mc = run.mc_righe;
    const BirthGrid& r = run.remind;
    SolverState& g = run.globals;

    // The solver reads the file back as written: 9 significant digits keep
    // every 4-byte value exactly.
    std::string text;
    text.reserve(static_cast<std::size_t>(r.nlam) * 36);
    const float* ld = mc.ldentro_arr.ptr(1, i, 0);
    for (int l = 1; l <= r.nlam; ++l) {
        text += fio::list_line({r.wave(l), ld[l - 1]});
        text += '\n';
    }
    write_file_atomic(stem + ".SSP", text);

    g.nom = stem;
    g.taue = mc.tau_mc_arr(i);
    g.rmsr0 = gp.rmsr0_flag ? mc.r_mc_arr(i) : mc.r_mc_arr(i) * kPcToCm;
    call_solver(run);

    const int nsol = g.lfarr.extent();
    if (!all_finite(g.lfarr.data(), nsol) || !all_finite(g.spdarr.col(1), nsol) || !std::isfinite(g.r0))
        stop_type("the solver's result is not finite", i);

    const int nlf = gp.nlf;
    for (int f = 1; f <= nlf; ++f) {
        const float y = nr_kelu::liin(run.nr_kelu, g.lfarr.data(), nsol, g.spdarr.col(1), gp.lfarr(f));
        mc.lumduswk(f) = y > 0.0f ? std::pow(10.0f, y - 30.0f) : 0.0f;
    }
}

// One cloud of type i through the emulator, normalised to the starlight that
// the cloud absorbs (rel_ext: the clouds' extinction relative to 1 micron at
// each SSP wavelength). Returns that absorbed luminosity [1e30 erg/s].
float emulator_emission(Run& run, int i, const std::vector<float>& rel_ext) {
    const CloudSetup& gp = run.glopalla;
    CloudTypes& mc = run.mc_righe;
    const BirthGrid& r = run.remind;
    const SedEmulator& ann = run.ann_qve;
    const int nlam = r.nlam;
    const float* ld = mc.ldentro_arr.ptr(1, i, 0);

    const float lbol = nr_kelu::arrint(r.wave.data(), nlam, ld, nlam);
    if (!(lbol > 0.0f) || !std::isfinite(lbol)) stop_type("the light of the inside stars is not positive", i);
    const float x1 = mc.tau_mc_arr(i);
    const float x2 = mc.r_mc_arr(i) / (12.0f * std::sqrt(lbol / 1e16f));
    call_emulator(run, {x1, x2});

    const int n = ann.log_lam_mic_only.extent();
    if (n < 2 || ann.log_l_mc_only.extent() != n || !all_finite(ann.log_lam_mic_only.data(), n) ||
        !all_finite(ann.log_l_mc_only.data(), n))
        stop_type("the emulator gave no usable spectrum", i);

    // The starlight absorbed inside one cloud, as the extinction of the clouds
    // takes it from the spectra: the light that does not leave the cloud.
    std::vector<float> absorbed(static_cast<std::size_t>(nlam));
    for (int l = 0; l < nlam; ++l) {
        const float t = x1 * rel_ext[static_cast<std::size_t>(l)];
        const float e = t < 30.0f ? std::exp(-t) : 0.0f;
        absorbed[static_cast<std::size_t>(l)] = (1.0f - e) * ld[l];
    }
    const float eabs = nr_kelu::arrint(r.wave.data(), nlam, absorbed.data(), nlam);

    const int nlf = gp.nlf;
    std::vector<float> nu(static_cast<std::size_t>(nlf));
    for (int f = 1; f <= nlf; ++f) {
        const float w = 14.4771f - gp.lfarr(f);  // log10 wavelength, micron
        const float y = w <= ann.log_lam_mic_only(1)
                            ? -77.0f
                            : nr_kelu::liin(run.nr_kelu, ann.log_lam_mic_only.data(), n,
                                            ann.log_l_mc_only.data(), w);
        mc.lumduswk(f) = std::pow(10.0f, y - gp.lfarr(f));  // lambda L_lambda / nu = L_nu
        nu[static_cast<std::size_t>(f - 1)] = std::pow(10.0f, gp.lfarr(f));
    }
    const float total = nr_kelu::arrint(nu.data(), nlf, mc.lumduswk.data(), nlf);
    if (!(total > 0.0f) || !std::isfinite(total)) stop_type("the emulated emission is not positive", i);
    const float scale = eabs / total;
    for (float& x : mc.lumduswk.storage()) x *= scale;
    return eabs;
}

// The emulator's spectrum of the last emulated type rewritten in place for the
// PAH profile step: linear L_lambda per Angstrom on wavelengths in Angstrom,
// whose integral is the luminosity emitted by all the emulated clouds.
void rewrite_emulator_spectrum(Run& run, float emitted) {
    SedEmulator& ann = run.ann_qve;
    const int n = ann.log_lam_mic_only.extent();
    Vec<float>& lam = ann.log_lam_mic_only;
    Vec<float>& lum = ann.log_l_mc_only;
    std::vector<float> xl(static_cast<std::size_t>(n)), yl(static_cast<std::size_t>(n));
    for (int m = 1; m <= n; ++m) {
        lum(m) = lum(m) - lam(m);  // log10 L_lambda per micron
        xl[static_cast<std::size_t>(m - 1)] = std::pow(10.0f, lam(m));
        yl[static_cast<std::size_t>(m - 1)] = std::pow(10.0f, lum(m));
    }
    const float i2 = nr_kelu::arrint(xl.data(), n, yl.data(), n);
    const float c = std::log10(run.glopalla.ncloud * emitted / i2);
    for (int m = 1; m <= n; ++m) {
        lum(m) = std::pow(10.0f, lum(m) - 4.0f + c);
        lam(m) = std::pow(10.0f, lam(m)) * 10000.0f;
    }
}

}  // namespace

float ran0(int& state) {
    constexpr int mask = 123459876;
    int s = state ^ mask;
    const int k = s / 127773;
    s = 16807 * (s - 127773 * k) - 2836 * k;
    if (s < 0) s += 2147483647;
    state = s ^ mask;
    return static_cast<float>(s) * 4.656613e-10f;
}

int scratch_seed(int clock_mmssms) {
    const int m = clock_mmssms / 100000;
    const int s = clock_mmssms / 1000 % 100;
    const int ms = clock_mmssms % 1000;
    return (60 * m + s + ms) % 1000;
}

std::string scratch_stem(int seed) {
    int state = seed;
    float r[6];
    for (float& x : r) x = ran0(state) * 10.0f;
    int n = 0;
    // A draw that rounds up to 1 would give the digit 10.
    for (int d = 0; d < 4; ++d) n = 10 * n + std::min(static_cast<int>(r[d]), 9);
    return stem_of(n);
}

std::string claim_scratch_stem(const std::string& first) {
    const int n0 = std::stoi(first.substr(3, 4));
    for (int t = 0; t < kStems; ++t) {
        const std::string stem = stem_of((n0 + t) % kStems);
        const std::string name = stem + ".SSP";
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return stem;
        }
        if (errno != EEXIST)
            throw_io_error(name, 0, std::string("cannot create file (") + std::strerror(errno) + ")");
    }
    throw Stop(fio::list_line({"cloud dust emission: every scratch name tmp0000.SSP to tmp9999.SSP "
                               "exists in the working folder; remove the leftover ones. stop."}));
}

void delete_scratch_files(const std::string& stem) {
    for (const char* ext : {".OUT", ".SPE", ".SSP", ".PAR"}) delfile(stem + ext);
}

void cloud_dust_emission(Run& run) {
    CloudSetup& gp = run.glopalla;
    CloudTypes& mc = run.mc_righe;
    const BirthGrid& r = run.remind;
    const int n = mc.n_tau_mc;
    const int nlf = gp.nlf;
    const bool emulator = run.parametri.annflag == 1 || run.parametri.annflag == 3;

    const int seed = scratch_seed(run.con.clock_mmssms());
    run.con.line(fio::list_line({"seed=", seed}));
    const ScratchClaim claim{claim_scratch_stem(scratch_stem(seed))};
    run.con.line(fio::list_line({"scratch files ", claim.stem}));

    // The LVG section is checked before the solves, which take most of the time.
    // Its grid takes the temperatures of the dust solver: it can run only when
    // the solver treats a type, one that holds stars with light and has a
    // positive mass fraction.
    auto treated = [&](int i) {
        const float* ld = mc.ldentro_arr.ptr(1, i, 0);
        float s = 0.0f;
        for (int l = 0; l < r.nlam; ++l) s += ld[l];
        return mc.f_mc_arr(i) > 0.0f && s > 0.0f;
    };
    bool solves = false;
    for (int i = 1; i <= n && !emulator && !solves; ++i) solves = treated(i);
    read_lvg(run, solves);

    // The clouds' extinction relative to 1 micron on the SSP grid, for the
    // light that the emulated clouds absorb.
    std::vector<float> rel_ext;
    if (emulator) {
        const float k1 = glopalla::mixpalla(run, 1.0f);
        rel_ext.resize(static_cast<std::size_t>(r.nlam));
        for (int l = 1; l <= r.nlam; ++l)
            rel_ext[static_cast<std::size_t>(l - 1)] = glopalla::mixpalla(run, r.wave(l) / 1e4f) / k1;
    }

    gp.lumdus.resize(nlf);
    if (mc.lumduswk.extent() != nlf) mc.lumduswk.resize(nlf);
    float emitted = 0.0f;  // by all emulated types, per cloud, fraction-weighted
    bool emulated = false;
    for (int i = 1; i <= n; ++i) {
        if (!treated(i)) continue;

        if (emulator) {
            emitted += emulator_emission(run, i, rel_ext) * mc.f_mc_arr(i);
            emulated = true;
        } else {
            solver_emission(run, i, claim.stem);
        }
        for (int f = 1; f <= nlf; ++f) gp.lumdus(f) += mc.lumduswk(f) * mc.f_mc_arr(i);

        const float r0 = run.globals.r0;
        runlog_append(run, fio::list_line({"Rsubl=", r0, "[cm]=", r0 / 3.0857e18f, "[pc]"}));
    }
    if (emulated) rewrite_emulator_spectrum(run, emitted);

    lvgmain(run);
    // The scratch files go with the claim, here or on a stop.
}

}  // namespace qv::pallanolt96_stages
