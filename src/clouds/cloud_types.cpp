#include "clouds/cloud_types.h"

#include <cmath>
#include <new>
#include <span>
#include <stdexcept>
#include <string>

#include "core/parfile.h"
#include "core/run.h"
#include "core/stop.h"
#include "dust/grain_mix.h"
#include "io/format.h"
#include "io/listread.h"
#include "io/textfile.h"

namespace qv {

namespace {

std::string pad(std::string s, std::size_t w) {
    if (s.size() < w) s.resize(w, ' ');
    return s;
}

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

}  // namespace

namespace mc_righe {

void read_mc_line(Run& run) {
    CloudTypes& mc = run.mc_righe;
    const std::string name84 = pad(par_file_name(run), 84);
    TextFile f = open_par_file(run);
    if (modname::search_key_in_file(f, RunNames::seckeys[5])) {
        skip_free_text(f);
        skip_free_text(f);
        fio::list_read_or_throw(f, {&mc.n_tau_mc});
        const int n = mc.n_tau_mc;
        allocate(mc, n);
        if (n > 0) {
            fio::list_read_or_throw(f, {std::span<float>(mc.r_mc_arr.data(), mc.r_mc_arr.size())});
            fio::list_read_or_throw(f, {std::span<float>(mc.f_mc_arr.data(), mc.f_mc_arr.size())});
            fio::list_read_or_throw(f, {std::span<float>(mc.t0_arr.data(), mc.t0_arr.size())});
        }
        float sum = 0.0f;
        for (int i = 1; i <= n; ++i) sum += mc.f_mc_arr(i);
        if (sum > 1.000001f || sum < 0.999999f)
            throw Stop(fio::list_line({"controlla f_mc_arr: sum(f_mc_arr)= ", sum}));
    } else {
        run.con.line(fio::list_line({"Key MC_LINE not found in file ", name84}));
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
