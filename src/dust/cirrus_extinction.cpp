// Extinction per viewing direction, the angle average, the energies and the
// energy budget of the cirrus.
#include "dust/cirrus_extinction.h"

#include <algorithm>
#include <exception>
#include <cmath>
#include <numeric>
#include <string>
#include <vector>

#include "core/run.h"
#include "dust/cirrus_emulator.h"
#include "dust/cirrus_light.h"
#include "dust/cirrus_phases.h"
#include "dust/column_density.h"
#include "io/format.h"

namespace qv::cirrus {

namespace {

// The wavelength loops of the extinction run over blocks of a fixed width and
// a remainder: the compiler vectorises a loop of known trip count at the
// optimisation level of the build (-O2), where it leaves one of unknown count
// scalar. Each element gets the same operations either way.
constexpr int kBlock = 8;

// dst(i) += a * src(i) * att(i): one cell's share of a spectrum, attenuated.
inline void add_attenuated(float* __restrict dst, const float* __restrict src, const float* __restrict att,
                           float a, int n) {
    int i = 0;
    for (; i + kBlock <= n; i += kBlock)
        for (int k = 0; k < kBlock; ++k) dst[i + k] += a * src[i + k] * att[i + k];
    for (; i < n; ++i) dst[i] += a * src[i] * att[i];
}

// tau(i) = col * txy(i): the optical depth along the ray.
inline void depths(float* __restrict tau, const float* __restrict txy, float col, int n) {
    int i = 0;
    for (; i + kBlock <= n; i += kBlock)
        for (int k = 0; k < kBlock; ++k) tau[i + k] = col * txy[i + k];
    for (; i < n; ++i) tau[i] = col * txy[i];
}

}  // namespace

float trapezoid(const float* ws, const float* f, int nlf) {
    float s = 0.0f;
    for (int i = 0; i + 1 < nlf; ++i) s += 0.5f * (f[i] + f[i + 1]) * (ws[i + 1] - ws[i]);
    return s;
}

void angle_average(CirrusRun& cr, int nlf, int ncom) {
    const int nd = cr.ndir_total;
    for (int c = 1; c <= ncom; ++c) std::fill_n(cr.LUMSTA_E.col(0, c), nlf, 0.0f);
    std::fill_n(cr.LUMMC_E.col(0), nlf, 0.0f);
    if (nd < 1) return;
    if (nd < 2) {
        for (int c = 1; c <= ncom; ++c) std::copy_n(cr.LUMSTA_E.col(1, c), nlf, cr.LUMSTA_E.col(0, c));
        std::copy_n(cr.LUMMC_E.col(1), nlf, cr.LUMMC_E.col(0));
        return;
    }
    // The directions in ascending order of inclination (equal ones keep their
    // order): a SPECTRA section listed from edge-on to face-on gives the same
    // average as one listed the other way.
    std::vector<int> order(static_cast<std::size_t>(nd));
    std::iota(order.begin(), order.end(), 1);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return cr.DIRARR(a) < cr.DIRARR(b); });
    auto accumulate = [&](float* x0, const float* xa, const float* xb, float w) {
        for (int i = 0; i < nlf; ++i) x0[i] += w * (xa[i] + xb[i]);
    };
    for (int k = 0; k + 1 < nd; ++k) {
        const int a = order[static_cast<std::size_t>(k)], b = order[static_cast<std::size_t>(k + 1)];
        const float w = std::cos(cr.DIRARR(a) * kDegree) - std::cos(cr.DIRARR(b) * kDegree);
        for (int c = 1; c <= ncom; ++c)
            accumulate(cr.LUMSTA_E.col(0, c), cr.LUMSTA_E.col(a, c), cr.LUMSTA_E.col(b, c), w);
        accumulate(cr.LUMMC_E.col(0), cr.LUMMC_E.col(a), cr.LUMMC_E.col(b), w);
    }
    for (int c = 1; c <= ncom; ++c) {
        float* x = cr.LUMSTA_E.col(0, c);
        for (int i = 0; i < nlf; ++i) x[i] = 0.5f * x[i];
    }
    float* x = cr.LUMMC_E.col(0);
    for (int i = 0; i < nlf; ++i) x[i] = 0.5f * x[i];
}

void extinction(Run& run) {
    CirrusRun& cr = run.cirrus;
    const CirrusGrid& g = run.glocold;
    const int nlf = run.glopalla.nlf, ncom = run.remind.ncom, nd = cr.ndir_total;
    const int ndr = run.remind.ndr, nthe = g.nthearr, nphi = g.nphiarr;
    const int cmc = cloud_component(run);
    const protrco::ColumnGrid cg = protrco::column_grid(run);
    const float rmax = g.rarr(ndr);
    const float rfar = 10.0f * rmax;

    // The directions are independent: each in a thread, with its own work
    // arrays and ray, writing its own columns of LUMSTA_E and LUMMC_E. The
    // records keep the optical depths and the ray of the last ray traced.
    struct Last {
        bool traced = false;
        RayDirection ray;
        std::vector<float> tau;
    };
    std::vector<Last> last(static_cast<std::size_t>(nd) + 1);
    const float* __restrict txy = cr.TXY.data();
    std::exception_ptr error;
#pragma omp parallel for schedule(dynamic, 1)
    for (int d = 1; d <= nd; ++d) {
        try {
            std::vector<float> tauv(static_cast<std::size_t>(nlf)), att(static_cast<std::size_t>(nlf));
            std::vector<float> share(static_cast<std::size_t>(ncom) + 1);
            float* __restrict tau = tauv.data();
            float* __restrict at = att.data();
            Last& mine = last[static_cast<std::size_t>(d)];
            const float inc = cr.DIRARR(d) * kDegree;
            const double sin_i = std::sin(static_cast<double>(inc)), cos_i = std::cos(static_cast<double>(inc));
            float* lmc = cr.LUMMC_E.col(d);
            for (int is = 2; is <= ndr; ++is) {
                const float rs = 0.5f * (g.rarr(is) + g.rarr(is - 1));
                for (int ks = 2; ks <= nphi; ++ks) {
                    const float dphi = g.phiarr(ks) - g.phiarr(ks - 1);
                    const double sin_p = g.sin_phic(ks), cos_p = g.cos_phic(ks);
                    for (int js = 2; js <= nthe; ++js) {
                        // The cell's share of each component's light (a cell without
                        // stars adds nothing and needs no ray).
                        bool lit = false;
                        for (int c = 1; c <= ncom; ++c) {
                            share[static_cast<std::size_t>(c)] = dphi * cr.NORMA(is, js, c);
                            lit = lit || share[static_cast<std::size_t>(c)] != 0.0f;
                        }
                        if (!lit) continue;
                        // The column from the cell centre towards the observer, to the
                        // edge of the grid.
                        const float col = protrco::intrhoext_sc(cg, mine.ray, rmax, rfar, sin_i, cos_i, rs,
                                                                g.sin_thec(js), g.cos_thec(js), sin_p, cos_p);
                        mine.traced = true;
                        depths(tau, txy, col, nlf);
                        // The exact exponential where the depth exceeds the threshold.
                        for (int i = 0; i < nlf; ++i) at[i] = tau[i] > kTauThreshold ? std::exp(-tau[i]) : 1.0f;
                        for (int c = 1; c <= ncom; ++c)
                            add_attenuated(cr.LUMSTA_E.col(d, c), cr.FORMASTA.col(c), at,
                                           share[static_cast<std::size_t>(c)], nlf);
                        add_attenuated(lmc, cr.FORMAMC.data(), at, share[static_cast<std::size_t>(cmc)], nlf);
                    }
                }
            }
            // The mirror half of the azimuth.
            for (int c = 1; c <= ncom; ++c) {
                float* x = cr.LUMSTA_E.col(d, c);
                for (int i = 0; i < nlf; ++i) x[i] = 2.0f * x[i];
            }
            for (int i = 0; i < nlf; ++i) lmc[i] = 2.0f * lmc[i];
            if (mine.traced) mine.tau = std::move(tauv);
        } catch (...) {
#pragma omp critical(qv_extinction_error)
            if (!error) error = std::current_exception();
        }
    }
    if (error) std::rethrow_exception(error);
    for (int d = nd; d >= 1; --d) {
        const Last& l = last[static_cast<std::size_t>(d)];
        if (!l.traced) continue;
        run.protrco = l.ray;
        std::copy(l.tau.begin(), l.tau.end(), cr.TAUXY.data());
        break;
    }
    angle_average(cr, nlf, ncom);
}

void no_diffuse_gas(Run& run) {
    CirrusRun& cr = run.cirrus;
    const CloudSetup& gp = run.glopalla;
    const int nlf = gp.nlf, ncom = run.remind.ncom;
    run.con.line(fio::list_line({"non c`e` gas diffuso"}));
    runlog_append(run, fio::list_line({"tau cirrus = ", 0}));
    for (int d = 0; d <= cr.ndir_total; ++d) {
        for (int c = 1; c <= ncom; ++c) std::copy_n(gp.lumstamc.col(c), nlf, cr.LUMSTA_E.col(d, c));
        std::copy_n(cr.LUMMC.data(), nlf, cr.LUMMC_E.col(d));
    }
    cr.ETOT.fill(0.0f);
}

void energies(Run& run) {
    CirrusRun& cr = run.cirrus;
    const int nlf = run.glopalla.nlf, ncom = run.remind.ncom;
    const float* ws = run.glopalla.ws.data();
    std::vector<float> sum(static_cast<std::size_t>(nlf));
    // The sum over the components of a spectrum (nlf, ncom) at trailing index.
    auto component_sum = [&](auto column) {
        std::fill(sum.begin(), sum.end(), 0.0f);
        for (int c = 1; c <= ncom; ++c) {
            const float* x = column(c);
            for (int i = 0; i < nlf; ++i) sum[static_cast<std::size_t>(i)] += x[i];
        }
        return trapezoid(ws, sum.data(), nlf);
    };

    cr.Lin = component_sum([&](int c) { return cr.FORMA.col(c); });
    cr.Lmc = trapezoid(ws, cr.LUMMC.data(), nlf);
    cr.Lstar = cr.Lin - cr.Lmc;
    for (int d = 0; d <= cr.ndir_total; ++d) {
        cr.E2STA_E(d) = component_sum([&](int c) { return cr.LUMSTA_E.col(d, c); });
        cr.E2MC_E(d) = trapezoid(ws, cr.LUMMC_E.col(d), nlf);
    }
    // With the emulator the cirrus emission comes from its network.
    if (emulator_branch_runs(run, cr.Mdiff)) emulator_branch(run);
    cr.Ecir = trapezoid(ws, cr.ETOT.data(), nlf);

    cr.imin = 1;
    for (int i = 1; i <= nlf; ++i) {
        float tot = 0.0f;
        for (int c = 1; c <= ncom; ++c) tot += cr.LUMSTA_E(i, 0, c);
        tot = tot + cr.LUMMC(i) + cr.ETOT(i);
        if (tot > 0.0f && cr.ETOT(i) / tot < 0.1f) cr.imin = i;
    }
}

void energy_budget(Run& run) {
    const CirrusRun& cr = run.cirrus;
    const float e1 = run.remind.e1;
    std::vector<std::string> log;
    auto both = [&](const std::string& l) {
        log.push_back(l);
        run.con.line(l);
    };

    log.push_back(fio::list_line({}));
    if (cr.Mdiff > 0.0f) {
        log.push_back(fio::write_line("(' Min wl [micron] where cirrus emits more than 10% = ',G12.3)",
                                      {run.glopalla.ws(cr.imin) / 1e4f}));
        log.push_back(fio::write_line("(' tau(this wl)/tau(1 micron) = ',G12.3)", {cr.TXY1(cr.imin)}));
    }
    both(fio::write_line("(' Output energy / Input (stars) energy',G12.3)",
                         {(cr.E2STA_E(0) + cr.E2MC_E(0) + cr.Ecir) / e1}));
    if (cr.Mdiff != 0.0f) {
        const float absorbed = cr.Lin - cr.E2STA_E(0) - cr.E2MC_E(0);
        both(fio::write_line("(' Energy emitted by cirrus / Energy absorbed by cirrus',G12.3)", {cr.Ecir / absorbed}));
        both(fio::write_line("(' Fraction of total energy absorbed by cirrus',G12.3)", {std::fabs(absorbed) / e1}));
    }
    log.push_back(fio::write_line("(' Luminosities are given in 1e30 erg/s')", {}));
    log.push_back(fio::list_line({"L stars unextincted = ", e1}));
    log.push_back(fio::list_line({"L stars extincted only by MCs = ", cr.Lstar}));
    log.push_back(fio::list_line({"L MCs not extincted by cirrus = ", cr.Lmc}));
    log.push_back(fio::list_line({}));
    log.push_back(fio::list_line({"L cirrus = ", cr.Ecir}));
    log.push_back(fio::list_line({}));
    for (int d = cr.ndir_total < 2 ? 1 : 0; d <= cr.ndir_total; ++d) {
        log.push_back(d == 0 ? fio::list_line({"Angle average "})
                             : fio::write_line("(' Direction',F6.2,' degrees')", {cr.DIRARR(d)}));
        log.push_back(fio::list_line({"L stars extincted  = ", cr.E2STA_E(d)}));
        log.push_back(fio::list_line({"L MCs extincted = ", cr.E2MC_E(d)}));
        log.push_back(fio::list_line({"L total = ", cr.E2STA_E(d) + cr.Ecir + cr.E2MC_E(d)}));
    }
    runlog_append(run, log);
}

}  // namespace qv::cirrus
