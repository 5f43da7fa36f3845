#include "solver/central_source.h"

#include <cmath>
#include <string>
#include <vector>

#include "core/run.h"
#include "core/stop.h"
#include "io/format.h"
#include "io/listread.h"
#include "io/textfile.h"
#include "numerics/search.h"
#include "solver/solver_output.h"

namespace qv {

std::string source_file_name(const Run& run) { return solver_stem(run.globals) + ".SSP"; }

namespace {

// The table value at lf: linear in log10 nu, extrapolated beyond the table.
float table_value(const SourceTable& t, float lf, int& jlo) {
    PoinhWork w;
    float y = 0.0f, dy = 0.0f;
    poinh(w, t.xbu.data(), t.ybu.data(), t.nbudin, 2, lf, y, dy, jlo);
    return y;
}

}  // namespace

void prejnssp(Run& run) {
    SolverState& g = run.globals;
    SourceTable& t = run.projnbu;
    const std::string name = source_file_name(run);

    // The pairs of the file, one read per line, up to the end of the file or the
    // first line that is not two reals.
    std::vector<float> wav, flux;
    {
        TextFile f = TextFile::open(name);
        for (;;) {
            float x = 0.0f, y = 0.0f;
            if (fio::list_read(f, {&x, &y}).status != fio::ReadStatus::Ok) break;
            if (!(x > 0.0f) || !std::isfinite(x) || !std::isfinite(y))
                throw Stop(std::vector<std::string>{
                    " prejnssp: bad entry in the source spectrum " + name,
                    fio::list_line({" entry", static_cast<int>(wav.size()) + 1, " wavelength =", x,
                                    " L_lambda =", y})});
            wav.push_back(x);
            flux.push_back(y);
        }
    }
    const int n = static_cast<int>(wav.size());
    if (n == 0) throw Stop(" prejnssp: the source spectrum " + name + " holds no entries");

    t.nbudin = n;
    t.xbu = Vec<float>(n);
    t.ybuori = Vec<float>(n);
    t.ybu = Vec<float>(n);
    t.loaded = false;
    t.jlo = 0;
    for (int i = 1; i <= n; ++i) {
        t.xbu(i) = wav[static_cast<std::size_t>(i - 1)];
        t.ybuori(i) = flux[static_cast<std::size_t>(i - 1)];
    }

    // Running mean of L_lambda over the table points from 0.9 to 1.1 lambda.
    int a = 0, b = 0;
    for (int j = 1; j <= n; ++j) {
        const float lam = t.xbu(j);
        hunt(t.xbu.data(), n, 0.9f * lam, a);
        if (a < 1) a = 1;
        hunt(t.xbu.data(), n, 1.1f * lam, b);
        if (b - 1 < a) {
            t.ybu(j) = 0.0f;
            continue;
        }
        float s = 0.0f;
        for (int k = a; k <= b - 1; ++k)
            s += 0.5f * (t.ybuori(k) + t.ybuori(k + 1)) * (t.xbu(k + 1) - t.xbu(k));
        t.ybu(j) = s / (t.xbu(b) - t.xbu(a));
    }

    SolverLines scr;
    scr.reserve(static_cast<std::size_t>(n));
    for (int j = 1; j <= n; ++j) scr.push_back(fio::list_line({t.xbu(j), t.ybu(j)}));
    write_solver_file("ssp.SCR", scr);

    for (int j = 1; j <= n; ++j) {
        t.xbu(j) = std::log10(3.0e18f / t.xbu(j));
        if (t.ybu(j) > 0.0f)
            t.ybu(j) = std::log10(t.ybu(j)) + 30.0f + 18.477f - 2.0f * t.xbu(j);
        else
            t.ybu(j) = -777.0f;
    }
    t.loaded = true;

    // The grid frequencies where the source is positive.
    int first = 0, last = 0;
    int jlo = 0;
    for (int k = 1; k <= kSolverNnu; ++k) {
        if (table_value(t, g.lfarr(k), jlo) > 0.0f) {
            if (first == 0) first = k;
            last = k;
        }
    }
    if (first == 0)
        throw Stop(std::vector<std::string>{
            " prejnssp: the source spectrum " + name + " has no positive flux",
            " on the solver's frequency grid (10^10.5 to 10^16.3 Hz)"});
    g.nlf1_ajn = first;
    g.nlf2_ajn = last;
}

float ajn_table(const SourceTable& t, float r, float lf, int& jlo) {
    const float y = table_value(t, lf, jlo);
    return std::pow(10.0f, y - 2.1984f - 2.0f * std::log10(r));
}

float ajn(Run& run, float r, float /*theta*/, float lf) {
    if (!run.projnbu.loaded) prejnssp(run);
    return ajn_table(run.projnbu, r, lf, run.projnbu.jlo);
}

float alint(Run& run, float x, float theta) {
    return std::exp(x) * std::sin(theta) * ajn(run, 1.0e15f, theta, x / 2.30258f);
}

}  // namespace qv
