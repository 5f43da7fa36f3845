#include "emulator/sed_emulator.h"

#include <cmath>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/run.h"
#include "core/stop.h"
#include "emulator/neural_network.h"
#include "io/count_check.h"
#include "io/fields.h"
#include "io/format.h"
#include "io/listread.h"
#include "io/textfile.h"
#include "numerics/search.h"

namespace qv {

namespace {

constexpr const char* kCountMismatch = "number of input parameters for ANNs do not match";

// The activations of every emulator network: a logistic hidden layer of slope
// 2 and a linear output layer.
void set_activations(NeuralNetwork& nn) {
    nn.ifuna = {2, 1, 0};
    nn.funcoa = {2.0, 1.0, 0.0};
}

std::string trim_blanks(const std::string& s) {
    const std::size_t e = s.find_last_not_of(' ');
    return e == std::string::npos ? std::string() : s.substr(0, e + 1);
}

// Scaled inputs x*scale + offset, printed on one free-format line.
std::vector<float> scaled_inputs(Run& run, const std::vector<EmulatorInput>& in, const std::vector<float>& x) {
    std::vector<float> xn(x.size());
    std::vector<fio::Item> items;
    for (std::size_t i = 0; i < x.size(); ++i) {
        xn[i] = x[i] * in[i].scale + in[i].offset;
        items.emplace_back(xn[i]);
    }
    run.con.line(fio::list_line(items));
    return xn;
}

// A value at or between the bounds is inside (a NaN is not).
void range_check(EmulatorInput& in, float x) {
    if (!(x >= in.xmin && x <= in.xmax)) in.in_range = false;
}

void print_report(Run& run, const std::vector<EmulatorInput>& inputs, const std::vector<float>& x) {
    for (const std::string& l : ann_qve::report_lines(inputs, x)) run.con.line(l);
}

// One network run on the scaled inputs xn[first .. first + n - 1]; returns its
// outputs rounded to 4-byte reals. The network is freed again.
std::vector<float> evaluate(Run& run, const std::vector<float>& xn, std::size_t first, int n, int nhidden,
                            int nout, const std::string& weights) {
    NeuralNetwork& nn = run.network;
    nn.ima = {n, nhidden, nout, 0};
    run.ann_qve.netout = weights;
    nn.pb.resize(n, 1);
    for (int i = 1; i <= n; ++i) nn.pb(i, 1) = static_cast<double>(xn[first + static_cast<std::size_t>(i - 1)]);
    ann_qve::run_ann(run);
    nn.pb.clear();
    std::vector<float> o(static_cast<std::size_t>(nout));
    for (int i = 1; i <= nout; ++i) o[static_cast<std::size_t>(i - 1)] = static_cast<float>((*nn.a)(i));
    network::deallocate_network(nn);
    return o;
}

void resize_result(Vec<float>& v, int n) {
    if (v.extent() != n) v.resize(n);
}

}  // namespace

std::string emulator_file(const SedEmulator& e, const std::string& name) {
    const std::string base = trim_blanks(e.trained_ann_path);
    if (base.size() >= 4 && base.compare(base.size() - 4, 4, "ann\\") == 0) {
        const std::string dir = base.substr(0, base.size() - 1) + "/";
        std::error_code ec;
        if (std::filesystem::is_directory(dir, ec)) return dir + name;
    }
    return base + name;
}

std::string existing_emulator_file(const SedEmulator& e, const std::string& name) {
    const std::string path = emulator_file(e, name);
    if (file_exists(path)) return path;
    const std::string base = trim_blanks(e.trained_ann_path);
    if (base.size() >= 4 && base.compare(base.size() - 4, 4, "ann\\") == 0) {
        const std::string dir = base.substr(0, base.size() - 1) + "/";
        std::error_code ec;
        if (!std::filesystem::is_directory(dir, ec))
            throw_io_error(dir, 0,
                           "the emulator folder is missing: neither " + dir + name + " nor " + path + " exists");
    }
    return path;
}

EmulatorAux read_aux_file(const std::string& path, int ncol, int ninputs, int scale_col) {
    TextFile f = TextFile::open(path);
    EmulatorAux aux;
    std::string_view l;
    if (!f.next(l)) f.fail("the ANN auxiliary file is empty");
    if (!f.next(l)) f.fail("the ANN auxiliary file ends before the number of outputs (line 2)");
    const std::optional<long long> n = fio::read_int_field(fio::field_at(l, 10, 20));
    if (!n) f.fail("the number of outputs (columns 11-30) is not an integer");
    if (*n < 2)
        throw Stop(fio::list_line({"ERROR: the ANN auxiliary file ", path, " gives", static_cast<int>(*n),
                                   " outputs: a spectrum needs at least two"}));
    // Every output row begins on a line of its own, and the two skipped lines
    // and the input lines follow them.
    fio::check_count(path, 2, "the number of outputs nout", *n, 2 + *n + 2 + ninputs,
                     static_cast<long long>(f.line_count()));
    aux.nout = static_cast<int>(*n);
    aux.rows.resize(aux.nout, ncol);
    std::vector<float> row(static_cast<std::size_t>(ncol));
    for (int r = 1; r <= aux.nout; ++r) {
        fio::list_read_or_throw(f, {std::span<float>(row)});
        for (int c = 1; c <= ncol; ++c) aux.rows(r, c) = row[static_cast<std::size_t>(c - 1)];
        // The wavelength and the scaling that the network uses (a, by which the
        // outputs are divided, and b); the cloud network's pair in front of
        // the cirrus network's is read and not used.
        for (int c : {1, scale_col, scale_col + 1})
            if (!std::isfinite(aux.rows(r, c)))
                f.fail("output " + std::to_string(r) + ": value " + std::to_string(c) + " is not a finite number");
        if (r > 1 && !(aux.rows(r, 1) > aux.rows(r - 1, 1)))
            throw Stop(fio::list_line({"ERROR: the wavelengths of the ANN auxiliary file ", path,
                                       " do not ascend at output", r}));
        if (aux.rows(r, scale_col) == 0.0f)
            throw Stop(fio::list_line({"ERROR: the ANN auxiliary file ", path, " gives an output scale of 0 at output",
                                       r}));
    }
    for (int k = 0; k < 2; ++k)
        if (!f.next(l)) f.fail("the ANN auxiliary file ends before its input lines");
    for (int i = 1; i <= ninputs; ++i) {
        if (!f.next(l))
            f.fail("the ANN auxiliary file ends after " + std::to_string(i - 1) + " of the " +
                   std::to_string(ninputs) + " input lines");
        EmulatorInput in;
        in.name = std::string(fio::field_at(l, 0, 10));
        in.name.resize(10, ' ');
        float v[4];
        for (int k = 0; k < 4; ++k) {
            const std::optional<float> x = fio::read_real4_field(fio::field_at(l, 10 + 13 * static_cast<std::size_t>(k), 13), 6);
            if (!x || !std::isfinite(*x))
                f.fail("field " + std::to_string(k + 2) + " of input " + std::to_string(i) + " is not a number");
            v[k] = *x;
        }
        in.xmin = v[0];
        in.xmax = v[1];
        in.scale = v[2];
        in.offset = v[3];
        aux.inputs.push_back(in);
    }
    return aux;
}

namespace ann_qve {

void run_ann(Run& run) {
    NeuralNetwork& nn = run.network;
    network::allocate_network(nn);
    network::read_network(run.con, nn, run.ann_qve.netout);
    network::forward_model(nn, nn.pb.col(1));
}

std::vector<std::string> report_lines(const std::vector<EmulatorInput>& inputs, const std::vector<float>& x) {
    std::vector<std::string> lines;
    bool all = true;
    for (std::size_t i = 0; i < x.size(); ++i) {
        lines.push_back(fio::write_line("(L10,1X,A10,1X,G10.3)", {inputs[i].in_range, inputs[i].name, x[i]}));
        all = all && inputs[i].in_range;
    }
    if (!all) lines.push_back(fio::list_line({"SEVERE WARNING: some neuron outside ANN trained range"}));
    return lines;
}

}  // namespace ann_qve

void ann_quelvo(Run& run, float igeo, std::array<int, 2> arch_mc, std::array<int, 2> arch_cir,
                const std::vector<float>& x, int inet, bool /*write_tmp: no scratch files are written*/) {
    SedEmulator& e = run.ann_qve;
    const int nmc = arch_mc[0], ncir = arch_cir[0];
    if (nmc < 0 || ncir < 1 || x.size() != static_cast<std::size_t>(nmc + ncir)) throw Stop(kCountMismatch, true);
    // The cirrus network is the only one this routine runs.
    if (inet != 2)
        throw Stop(fio::list_line({"ann_quelvo: inet=", inet, " is not available: only the cirrus network (inet 2) runs"}),
                   true);
    set_activations(run.network);
    const char* aux_name = nullptr;
    const char* net_name = nullptr;
    if (igeo == 1.0f) {
        aux_name = "f_aux_sph.dat";
        net_name = "cirrus_sph.net";
    } else if (igeo == 2.0f || igeo == -1.0f) {
        aux_name = "f_aux_dis.dat";
        net_name = "cirrus_dis.net";
    } else {
        throw Stop("wrong igeo in ann_quelvo", true);
    }

    EmulatorAux aux = read_aux_file(existing_emulator_file(e, aux_name), 5, nmc + ncir, 4);
    const int nout = aux.nout;
    for (Vec<float>* v : {&e.a_cir, &e.b_cir, &e.a_mc, &e.b_mc}) v->resize(nout);
    resize_result(e.log_lam_mic, nout);
    resize_result(e.log_l_cir, nout);
    for (int i = 1; i <= nout; ++i) {
        e.log_lam_mic(i) = aux.rows(i, 1);
        e.a_mc(i) = aux.rows(i, 2);
        e.b_mc(i) = aux.rows(i, 3);
        e.a_cir(i) = aux.rows(i, 4);
        e.b_cir(i) = aux.rows(i, 5);
    }
    e.inputs = aux.inputs;
    const std::vector<float> xn = scaled_inputs(run, e.inputs, x);
    // Only the cirrus inputs are fed to a network and checked against their ranges.
    for (int i = nmc; i < nmc + ncir; ++i) range_check(e.inputs[static_cast<std::size_t>(i)], x[static_cast<std::size_t>(i)]);
    const std::vector<float> o =
        evaluate(run, xn, static_cast<std::size_t>(nmc), ncir, arch_cir[1], nout, existing_emulator_file(e, net_name));
    for (int i = 1; i <= nout; ++i) e.log_l_cir(i) = (o[static_cast<std::size_t>(i - 1)] - e.b_cir(i)) / e.a_cir(i);
    for (Vec<float>* v : {&e.a_cir, &e.b_cir, &e.a_mc, &e.b_mc}) v->clear();
    print_report(run, e.inputs, x);
}

void ann_quelvo_mc_only(Run& run, std::array<int, 2> arch, const std::vector<float>& x,
                        bool /*write_tmp: no scratch files are written*/) {
    SedEmulator& e = run.ann_qve;
    const int n = arch[0];
    if (n < 1 || x.size() != static_cast<std::size_t>(n)) throw Stop(kCountMismatch, true);
    set_activations(run.network);

    std::vector<bool> inside(x.size(), true);
    // One pass: the wavelengths and the de-normalised curve of one network.
    auto pass = [&](const char* aux_name, const char* net_name, std::vector<float>& lam, std::vector<float>& curve) {
        EmulatorAux aux = read_aux_file(existing_emulator_file(e, aux_name), 3, n, 2);
        const int nout = aux.nout;
        e.a_mc.resize(nout);
        e.b_mc.resize(nout);
        lam.resize(static_cast<std::size_t>(nout));
        for (int i = 1; i <= nout; ++i) {
            lam[static_cast<std::size_t>(i - 1)] = aux.rows(i, 1);
            e.a_mc(i) = aux.rows(i, 2);
            e.b_mc(i) = aux.rows(i, 3);
        }
        e.inputs = aux.inputs;
        const std::vector<float> xn = scaled_inputs(run, e.inputs, x);
        for (std::size_t i = 0; i < x.size(); ++i) {
            range_check(e.inputs[i], x[i]);
            // A flag once false stays false over both passes.
            inside[i] = inside[i] && e.inputs[i].in_range;
            e.inputs[i].in_range = inside[i];
        }
        const std::vector<float> o = evaluate(run, xn, 0, n, arch[1], nout, existing_emulator_file(e, net_name));
        curve.resize(static_cast<std::size_t>(nout));
        for (int i = 1; i <= nout; ++i) curve[static_cast<std::size_t>(i - 1)] = (o[static_cast<std::size_t>(i - 1)] - e.b_mc(i)) / e.a_mc(i);
        e.a_mc.clear();
        e.b_mc.clear();
    };

    std::vector<float> lm, fm, lf, ff;
    pass("f_aux_mc_mir.dat", "mc_mir.net", lm, fm);
    pass("f_aux_mc_fir.dat", "mc_fir.net", lf, ff);
    const int nmir = static_cast<int>(lm.size()), nfir = static_cast<int>(lf.size());

    resize_result(e.log_lam_mic_only, nfir);
    resize_result(e.log_l_mc_only, nfir);
    for (int i = 1; i <= nfir; ++i) {
        e.log_lam_mic_only(i) = lf[static_cast<std::size_t>(i - 1)];
        e.log_l_mc_only(i) = ff[static_cast<std::size_t>(i - 1)];
    }

    // The mid-infrared curve, shifted to end on the far-infrared one.
    const float lend = lm[static_cast<std::size_t>(nmir - 1)];
    const float y = nr_kelu::liin(run.nr_kelu, lf.data(), nfir, ff.data(), lend);
    const float shift = y - fm[static_cast<std::size_t>(nmir - 1)];
    for (float& v : fm) v += shift;
    for (int i = 1; i <= nfir; ++i)
        if (e.log_lam_mic_only(i) <= lend)
            e.log_l_mc_only(i) = nr_kelu::liin(run.nr_kelu, lm.data(), nmir, fm.data(), e.log_lam_mic_only(i));

    print_report(run, e.inputs, x);
}

}  // namespace qv
