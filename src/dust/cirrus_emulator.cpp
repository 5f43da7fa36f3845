#include "dust/cirrus_emulator.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>

#include "core/run.h"
#include "core/stop.h"
#include "dust/cirrus.h"
#include "emulator/sed_emulator.h"
#include "io/format.h"
#include "numerics/search.h"

namespace qv::cirrus {

namespace {

constexpr std::array<int, 2> kArchMc = {2, 20};
constexpr float kTiny = 1.1754944e-37f;  // keeps the logarithm of a zero finite

bool has_cirrus_network(int igeo) { return igeo == 1 || igeo == 2 || igeo == -1; }

}  // namespace

bool emulator_branch_runs(const Run& run, float mdiff) { return mdiff != 0.0f && run.parametri.annflag >= 2; }

void check_emulator_geometry(const Run& run, float fgas) {
    const RunParameters& p = run.parametri;
    if (!emulator_branch_runs(run, diffuse_gas_mass(run, fgas)) || has_cirrus_network(p.igeo)) return;
    throw Stop(fio::list_line({"ERROR: annflag=" + std::to_string(p.annflag) +
                               " (cirrus emulator) needs igeo 1, 2 or -1, the geometries with a cirrus network: igeo=" +
                               std::to_string(p.igeo)}));
}

std::vector<float> emulator_inputs(Run& run) {
    CirrusRun& cr = run.cirrus;
    const RunParameters& p = run.parametri;
    const CloudSetup& gp = run.glopalla;
    const int nlf = gp.nlf, ncom = run.remind.ncom;

    const float absorbed = cr.Lin - cr.E2STA_E(0) - cr.E2MC_E(0);
    const float fabs_ = std::log10(absorbed / cr.Lstar);
    const float lmd = std::log10(cr.Mdust / cr.Lstar);
    std::vector<float> s(static_cast<std::size_t>(nlf), 0.0f);
    for (int c = 1; c <= ncom; ++c)
        for (int i = 1; i <= nlf; ++i) s[static_cast<std::size_t>(i - 1)] += gp.lumstamc(i, c);
    const float l3000 = nr_kelu::liin(run.nr_kelu, gp.ws.data(), nlf, s.data(), 3000.0f);
    const float l10000 = nr_kelu::liin(run.nr_kelu, gp.ws.data(), nlf, s.data(), 10000.0f);
    const float colour = std::log10(l3000 + 1e-30f) - std::log10(l10000 + 1e-30f);

    if (p.igeo == 1) {
        std::array<float, 9>& x = cr.ann_x_spheroid;
        x[2] = fabs_;
        x[3] = cr.taue;
        x[4] = cr.taup1;
        x[5] = cr.tauh;
        x[6] = lmd;
        x[7] = p.rcstar / p.rcdiff;
        x[8] = colour;
        return {x.begin(), x.end()};
    }
    if (p.igeo == -1 || p.igeo == 2) {
        std::array<float, 11>& x = cr.ann_x_disk;
        x[2] = fabs_;
        x[3] = cr.taue;
        x[4] = cr.taup1;
        x[5] = cr.tauh;
        x[6] = lmd;
        x[7] = p.rdstar / p.rddiff;
        x[8] = p.zdstar / p.rdstar;
        x[9] = p.zddiff / p.rddiff;
        x[10] = colour;
        return {x.begin(), x.end()};
    }
    return {};
}

void emulator_branch(Run& run) {
    CirrusRun& cr = run.cirrus;
    const CloudSetup& gp = run.glopalla;
    SedEmulator& e = run.ann_qve;
    PahProfileWork& pp = run.pahpro;
    const int nlf = gp.nlf;

    cr.ETOT.fill(0.0f);
    const std::vector<float> x = emulator_inputs(run);
    if (x.empty()) {
        // No network covers this geometry: the cirrus emits nothing.
        run.con.line(fio::list_line({"wrong igeo to run ann at present...."}));
        return;
    }
    const bool spheroid = run.parametri.igeo == 1;
    const float igeo = static_cast<float>(run.parametri.igeo);
    const std::array<int, 2> arch_cir = {spheroid ? 7 : 9, 35};
    if (e.ann_quelvo_seam)
        e.ann_quelvo_seam(run, igeo, kArchMc, arch_cir, x, 2, false);
    else
        ann_quelvo(run, igeo, kArchMc, arch_cir, x, 2, false);

    const int nout = e.log_lam_mic.extent();
    try {
        cr.LAM_ANN.resize(nout);
        cr.L_ANN.resize(nout);
        pp.l_cir.resize(nout);
        pp.lam_ang.resize(nout);
    } catch (const std::bad_alloc&) {
        throw Stop(fio::list_line({"Allocation error in colddust-ann"}));
    } catch (const std::length_error&) {
        throw Stop(fio::list_line({"Allocation error in colddust-ann"}));
    }
    for (int k = 1; k <= nout; ++k) {
        cr.LAM_ANN(k) = std::pow(10.0f, e.log_lam_mic(k)) * 1e4f;
        cr.L_ANN(k) = std::pow(10.0f, e.log_l_cir(k) - e.log_lam_mic(k));
    }
    // The spectrum carries the energy absorbed by the cirrus (angle average).
    const float absorbed = cr.Lin - cr.E2STA_E(0) - cr.E2MC_E(0);
    const float area = nr_kelu::arrint(cr.LAM_ANN.data(), nout, cr.L_ANN.data(), nout);
    if (!(area > 0.0f) || !std::isfinite(area))
        throw Stop(fio::list_line({"ERROR: the cirrus emulator's spectrum integrates to", area,
                                   ": it cannot be scaled to the absorbed energy", absorbed}));
    for (int k = 1; k <= nout; ++k) cr.L_ANN(k) = cr.L_ANN(k) * absorbed / area;
    for (int k = 1; k <= nout; ++k) {
        pp.l_cir(k) = std::pow(10.0f, std::log10(cr.L_ANN(k) + kTiny));
        pp.lam_ang(k) = cr.LAM_ANN(k);
    }

    // On the dust grid: nothing below the emulator's wavelengths, linear inside,
    // the log-log continuation of the last interval beyond them.
    std::vector<float> loglam(static_cast<std::size_t>(nout)), logl(static_cast<std::size_t>(nout));
    for (int k = 1; k <= nout; ++k) {
        loglam[static_cast<std::size_t>(k - 1)] = std::log10(cr.LAM_ANN(k));
        logl[static_cast<std::size_t>(k - 1)] = std::log10(pp.l_cir(k));
    }
    const float first = cr.LAM_ANN(1), last = cr.LAM_ANN(nout);
    for (int i = 1; i <= nlf; ++i) {
        const float w = gp.ws(i);
        if (w <= first)
            cr.ETOT(i) = 0.0f;
        else if (w <= last)
            cr.ETOT(i) = nr_kelu::liin(run.nr_kelu, cr.LAM_ANN.data(), nout, cr.L_ANN.data(), w);
        else
            cr.ETOT(i) = std::pow(10.0f, nr_kelu::liin(run.nr_kelu, loglam.data(), nout, logl.data(), std::log10(w)));
    }
    cr.LAM_ANN.clear();
    cr.L_ANN.clear();
}

}  // namespace qv::cirrus
