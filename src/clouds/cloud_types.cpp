#include "clouds/cloud_types.h"

#include <cmath>
#include <cstdio>
#include <new>
#include <span>
#include <stdexcept>
#include <string>

#include "core/parfile.h"
#include "core/run.h"
#include "core/stop.h"
#include "dust/grain_mix.h"
#include "io/count_check.h"
#include "io/format.h"
#include "io/listread.h"
#include "io/textfile.h"

namespace qv {

namespace {

void allocate(CloudTypes& mc, int n) {
    try {
        const int m = n > 0 ? n : 0;
        mc.r_mc_arr.resize(m);
        mc.f_mc_arr.resize(m);
        mc.t0_arr.resize(m);
    } catch (const std::bad_alloc&) {
        throw Stop(fio::list_line({"ALLOCATION ERROR IN QVMOL"}));
    } catch (const std::length_error&) {
        throw Stop(fio::list_line({"ALLOCATION ERROR IN QVMOL"}));
    }
}

// Skips one line of the section's free text; the section ending there is an
// unreadable section.
void skip_free_text(TextFile& f) {
    std::string_view line;
    if (!f.next(line))
        throw_io_error(f.name(), static_cast<long>(f.position()),
                       "section MC_LINE ends before its two text lines");
}

std::string num(float v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", static_cast<double>(v));
    return buf;
}

[[noreturn]] void bad_mc_value(const std::string& par, const std::string& what, int i, float v,
                               const std::string& why) {
    throw Stop(fio::list_line({"FATAL ERROR - section MC_LINE of file " + par + ": " + what + " of cloud type " +
                               std::to_string(i) + " = " + num(v) + " " + why}));
}

// Stops when a cloud radius is one the cloud model cannot use: not a positive
// finite number, or so small or large that the clouds' solver radius, optical
// depth or density (in g/cm^3, and of H2 molecules for the CO lines) would not
// be finite. In pc (ratio false) the radius also
// gives the solver's outer radius in cm; a ratio of outer to inner radius must
// be at least the 1.01 that the solver's radial grid needs (above 1e6 the
// solver takes it as the thickness of the shell in cm).
void check_radius(const std::string& par, int i, float r, bool ratio, float mcloud) {
    const char* what = ratio ? "ratio of radii" : "radius (pc)";
    if (!std::isfinite(r)) bad_mc_value(par, what, i, r, "is not a finite number");
    if (!(r > 0.0f))
        bad_mc_value(par, what, i, r,
                     ratio ? "must be positive: it is the ratio of the outer to the inner radius of the clouds"
                           : "must be positive");
    if (ratio) {
        if (r <= 1.0e6f && !(r >= 1.01f))
            bad_mc_value(par, what, i, r,
                         "must be at least 1.01: the cloud solver's radial grid needs an outer radius of at "
                         "least 1.01 times the inner one");
        return;
    }
    const float r2 = r * r;
    const float r3 = r2 * r;
    const bool finite = std::isfinite(r * 3.086e18f) && r2 > 0.0f && std::isfinite(r3) &&
                        std::isfinite(1.0f / r2) &&
                        (!(mcloud > 0.0f) ||
                         (r3 > 0.0f && std::isfinite(mcloud * 1.625e-23f / r3) &&
                          std::isfinite(0.5f * 6.76158f * mcloud / r / r / r) &&
                          std::isfinite(mcloud * 4.987064e-5f / r / r)));
    if (!finite)
        bad_mc_value(par, what, i, r,
                     std::string("is so ") + (r < 1.0f ? "small" : "large") +
                         " that the clouds' size, optical depth or density is not a finite number");
}

}  // namespace

namespace mc_righe {

void read_mc_line(Run& run) {
    CloudTypes& mc = run.mc_righe;
    TextFile f = open_par_file(run);
    if (modname::search_key_in_file(f, RunNames::seckeys[5])) {
        skip_free_text(f);
        skip_free_text(f);
        fio::list_read_or_throw(f, {&mc.n_tau_mc});
        const int n = mc.n_tau_mc;
        const std::string par = par_file_name(run);
        // The count sizes three lists. The radii, which must all be given (a
        // radius left unset by a "/" would be 0), bound it by the values the rest
        // of the file can hold; a section that ends early is unreadable, as its
        // reads would find.
        if (n > 0) {
            const long long avail = fio::list_values_left(f);
            if (n > avail)
                throw_io_error(f.name(), static_cast<long>(f.position()),
                               "section MC_LINE counts " + std::to_string(n) + " cloud types, whose " +
                                   std::to_string(n) + " radii the lines after the count cannot hold (at most " +
                                   std::to_string(avail) + " values)");
        }
        allocate(mc, n);
        if (n > 0) {
            fio::list_read_or_throw(f, {std::span<float>(mc.r_mc_arr.data(), mc.r_mc_arr.size())});
            fio::list_read_or_throw(f, {std::span<float>(mc.f_mc_arr.data(), mc.f_mc_arr.size())});
            fio::list_read_or_throw(f, {std::span<float>(mc.t0_arr.data(), mc.t0_arr.size())});
        }
        // Every value is checked here, before any stage uses it.
        for (int i = 1; i <= n; ++i)
            check_radius(par, i, mc.r_mc_arr(i), run.glopalla.rmsr0_flag, run.glopalla.mcloud);
        for (int i = 1; i <= n; ++i) {
            const float fr = mc.f_mc_arr(i);
            if (!(fr >= 0.0f && fr <= 1.0f))
                bad_mc_value(par, "mass fraction", i, fr, "must lie between 0 and 1");
        }
        for (int i = 1; i <= n; ++i)
            if (!std::isfinite(mc.t0_arr(i)))
                bad_mc_value(par, "age (Gyr) at which stars begin to leave", i, mc.t0_arr(i),
                             "is not a finite number");
        float sum = 0.0f;
        for (int i = 1; i <= n; ++i) sum += mc.f_mc_arr(i);
        if (sum > 1.000001f || sum < 0.999999f)
            throw Stop(fio::list_line({"controlla f_mc_arr: sum(f_mc_arr)= ", sum}));
    } else {
        run.con.line(fio::list_line({"Key MC_LINE not found in file ", par_file_name(run)}));
        run.con.line(fio::list_line({"use one MC"}));
        const int n = mc.n_tau_mc;
        allocate(mc, n);
        for (int i = 1; i <= n; ++i) {
            mc.r_mc_arr(i) = run.glopalla.rcloud;
            mc.f_mc_arr(i) = 1.0f;
            mc.t0_arr(i) = run.glopalla.etastart;
        }
    }
}

void set_mc_arr(Run& run) {
    CloudTypes& mc = run.mc_righe;
    const int n = mc.n_tau_mc;
    // The cloud model allocates tau_mc_arr; a missing or mis-sized one is made here.
    if (mc.tau_mc_arr.extent() != (n > 0 ? n : 0)) mc.tau_mc_arr.resize(n > 0 ? n : 0);
    const float k1 = glopalla::mixpalla(run, 1.0f);
    const float hsug = run.mix.hsug;
    const float dsug = run.mix.dsug;
    const float mcloud = run.glopalla.mcloud;
    for (int i = 1; i <= n; ++i) {
        const float r = mc.r_mc_arr(i);
        mc.tau_mc_arr(i) =
            hsug * (k1 * dsug / SolverGrainMix::dsugst / 1.673e-24f * mcloud * 4.987064e-5f) / r / r;
        // The radii were checked where they were read; with the cloud mass the
        // dust preparation derived they must still give an optical depth.
        if (!std::isfinite(mc.tau_mc_arr(i)))
            throw Stop(fio::list_line({"FATAL ERROR - the optical depth of cloud type " + std::to_string(i) +
                                       " is not a finite number: cloud radius " + num(r) + ", cloud mass " +
                                       num(mcloud) + " Msun"}));
    }
    if (n == 1) {
        const float tau1 = run.glopalla.tau1;
        if (std::fabs(mc.tau_mc_arr(1) / tau1 - 1.0f) > 0.01f) {
            run.con.line(fio::list_line({"I tau1 non coincidono: uso quello settato in predust"}));
            for (int i = 1; i <= n; ++i) mc.tau_mc_arr(i) = tau1;
        }
    }
}

}  // namespace mc_righe

}  // namespace qv
