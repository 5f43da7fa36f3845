// The SED emulator: where its files are found, the auxiliary file, the input
// scaling, the range flags and their report, the cirrus network with its
// de-normalisation, the two cloud networks and their join, and its stops.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "core/stop.h"
#include "emulator/sed_emulator.h"
#include "emulator_fixture.h"
#include "io/format.h"

namespace qv {
namespace {

using test::AuxInput;
using test::EmulatorRun;

// ---------------------------------------------------------------------------
// Where the files are.

TEST(EmulatorFiles, FolderAnnFirstThenNamesBeginningAnnBackslash) {
    struct Case {
        const char* path;
        bool folder;  // data folder has ann/
        const char* want;
    } cases[] = {
        {"data/ann\\", true, "data/ann/f_aux_dis.dat"},
        {"data/ann\\", false, "data/ann\\f_aux_dis.dat"},
        {"ann\\", true, "ann/f_aux_dis.dat"},
        {"ann\\", false, "ann\\f_aux_dis.dat"},
        {"/no/such/place/ann\\", false, "/no/such/place/ann\\f_aux_dis.dat"},
        {"elsewhere/", false, "elsewhere/f_aux_dis.dat"},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        if (c.folder) std::filesystem::create_directories(std::string(c.path).substr(0, std::string(c.path).size() - 1));
        SedEmulator e;
        e.trained_ann_path = c.path;
        EXPECT_EQ(emulator_file(e, "f_aux_dis.dat"), c.want) << c.path << " folder " << c.folder;
    }
    // No length limit: a long data folder is kept whole.
    SedEmulator e;
    const std::string longdir(150, 'd');
    e.trained_ann_path = "/" + longdir + "/ann\\";
    EXPECT_EQ(emulator_file(e, "mc_fir.net"), "/" + longdir + "/ann\\mc_fir.net");
}

// ---------------------------------------------------------------------------
// The auxiliary file.

TEST(EmulatorAuxFile, ReadsOutputsAndInputsByTheirColumns) {
    test::TempDir dir;
    test::write_text("aux.dat",
                     "any title\n"
                     "1234567890                   3 ignored\n"
                     "-1.0 2.0 0.5\n"
                     "0.0, 3.0,\n-0.5\n"
                     "1.0 4.0 1.5 trailing words\n"
                     "skipped\nskipped\n"
                     // Columns 1-10, 11-23, 24-36, 37-49, 50-62.
                     "tau_cloud " "     -1000000" "  5.25 E+01  " "    0.2000000" "          1.5\n"
                     "radius        0.5\n");
    const EmulatorAux a = read_aux_file("aux.dat", 3, 2, 2);
    ASSERT_EQ(a.nout, 3);
    EXPECT_EQ(a.rows(2, 1), 0.0f);
    EXPECT_EQ(a.rows(2, 3), -0.5f);  // a record may run over lines
    EXPECT_EQ(a.rows(3, 3), 1.5f);
    ASSERT_EQ(a.inputs.size(), 2u);
    EXPECT_EQ(a.inputs[0].name, "tau_cloud ");
    EXPECT_EQ(a.inputs[0].xmin, -1.0f);  // no decimal point: the last six digits are decimals
    EXPECT_EQ(a.inputs[0].xmax, 52.5f);
    EXPECT_EQ(a.inputs[0].scale, 0.2f);
    EXPECT_EQ(a.inputs[0].offset, 1.5f);
    EXPECT_EQ(a.inputs[1].name, "radius    ");
    EXPECT_EQ(a.inputs[1].xmin, 0.5f);
    EXPECT_EQ(a.inputs[1].xmax, 0.0f);  // a short line: blank fields read 0
    EXPECT_TRUE(a.inputs[0].in_range);
}

struct AuxErrorCase {
    const char* what;
    const char* text;  // nullptr: no file
    bool stop;         // Stop (exit 1) rather than IoError (exit 2)
    const char* words;
};

TEST(EmulatorAuxFile, BadFilesStopWithAClearMessage) {
    const std::string head = "t\n          ";
    const AuxErrorCase cases[] = {
        {"missing", nullptr, false, "aux.dat"},
        {"nout 1", "t\n                   1\n0 1 0\nx\nx\nin         0 1 1 0\n", true, "at least two"},
        {"nout blank", "t\n\n", true, "at least two"},
        {"nout not a number", "t\n          abc\n", false, "aux.dat:2"},
        {"too few rows", "t\n                   3\n0 1 0\n1 1 0\n", false, "aux.dat"},
        {"row not a number", "t\n                   2\n0 1 0\n1 x 0\nx\nx\nin\n", false, "aux.dat:4"},
        {"row not finite", "t\n                   2\n0 1 0\n1 nan 0\nx\nx\nin\n", false, "aux.dat:4"},
        {"nout beyond the lines", "t\n           999999999\n0 1 0\n1 1 0\nx\nx\nin\n", false,
         "aux.dat:2: the number of outputs nout=999999999 needs at least 1000000004 lines; the file holds 7"},
        {"wavelengths descend", "t\n                   2\n1 1 0\n0 1 0\nx\nx\nin\n", true, "do not ascend"},
        {"output scale 0", "t\n                   2\n0 1 0\n1 0 0\nx\nx\nin\n", true, "output scale of 0"},
        {"too few input lines", "t\n                   2\n0 1\n0\n1 1 0\nx\nx\n", false, "input lines"},
        {"input field not finite", "t\n                   2\n0 1 0\n1 1 0\nx\nx\nname      inf\n", false,
         "aux.dat:7"},
        {"input field not a number", "t\n                   2\n0 1 0\n1 1 0\nx\nx\nname      1.0xx\n", false,
         "aux.dat:7"},
    };
    for (const AuxErrorCase& c : cases) {
        test::TempDir dir;
        if (c.text) test::write_text("aux.dat", c.text);
        try {
            read_aux_file("aux.dat", 3, 1, 2);
            ADD_FAILURE() << c.what << ": no error";
        } catch (const Stop& s) {
            EXPECT_TRUE(c.stop) << c.what << ": " << s.lines.front();
            EXPECT_NE(s.lines.front().find(c.words), std::string::npos) << c.what << ": " << s.lines.front();
            EXPECT_NE(s.lines.front().find("aux.dat"), std::string::npos) << c.what;
        } catch (const IoError& e) {
            EXPECT_FALSE(c.stop) << c.what << ": " << e.what();
            EXPECT_NE(std::string(e.what()).find(c.words), std::string::npos) << c.what << ": " << e.what();
        }
        EXPECT_EQ(std::filesystem::exists("aux.dat"), c.text != nullptr) << c.what;
    }
}

// The cirrus files carry the cloud network's scaling in columns 2 and 3, which
// no network uses: a zero or a NaN there is accepted; in the cirrus network's
// scale (column 4) it is refused.
TEST(EmulatorAuxFile, OnlyTheScaleTheNetworkUsesIsChecked) {
    test::TempDir dir;
    const std::string head = "t\n                   2\n";
    const std::string tail = "x\nx\nin\n";
    test::write_text("aux.dat", head + "0 0 nan 1 0\n1 0 0 2 0\n" + tail);
    const EmulatorAux a = read_aux_file("aux.dat", 5, 1, 4);
    EXPECT_EQ(a.rows(2, 4), 2.0f);
    test::write_text("aux.dat", head + "0 1 0 1 0\n1 1 0 0 0\n" + tail);
    try {
        read_aux_file("aux.dat", 5, 1, 4);
        ADD_FAILURE() << "a zero cirrus scale was accepted";
    } catch (const Stop& s) {
        EXPECT_NE(s.lines.front().find("output scale of 0 at output"), std::string::npos) << s.lines.front();
    }
    test::write_text("aux.dat", head + "0 1 0 1 0\n1 1 0 1 inf\n" + tail);
    EXPECT_THROW(read_aux_file("aux.dat", 5, 1, 4), IoError);
}

// ---------------------------------------------------------------------------
// The cirrus network.

// Output scaling of the cirrus files (a != 1 and of both signs).
const float kA[3] = {0.5f, 2.0f, -0.25f};
const float kB[3] = {0.3f, -0.2f, 1.0f};
const float kLogLam[3] = {0.0f, 1.0f, 2.5f};

// Cirrus input k (0-based within the cirrus inputs): range [-1 - k, 2 + k],
// scale 0.5 + 0.1 k, offset 0.2 - 0.05 k. The cloud inputs: range [0, 1].
std::vector<AuxInput> cirrus_inputs(int ncir) {
    std::vector<AuxInput> in = {{"tau_mc", 0.0f, 1.0f, 3.0f, -1.0f}, {"rad_mc", 0.0f, 1.0f, 0.5f, 0.5f}};
    for (int k = 0; k < ncir; ++k)
        in.push_back({"cir_" + std::to_string(k + 1), -1.0f - static_cast<float>(k), 2.0f + static_cast<float>(k),
                      0.5f + 0.1f * static_cast<float>(k), 0.2f - 0.05f * static_cast<float>(k)});
    return in;
}

// The hidden layer passes each scaled input to its own neuron (weight 0.5);
// output k adds them with weights (k + 1) (j - 2) / 10 and a bias that tells
// the two geometries apart.
struct CirrusNet {
    int ncir;
    double bias;
    std::vector<double> w1, b1, w2, b2;
    CirrusNet(int n, double geometry_bias) : ncir(n), bias(geometry_bias) {
        w1.assign(static_cast<std::size_t>(n * n), 0.0);
        for (int j = 0; j < n; ++j) w1[static_cast<std::size_t>(j + n * j)] = 0.5;
        b1.assign(static_cast<std::size_t>(n), 0.0);
        for (int j = 0; j < n; ++j)
            for (int k = 0; k < 3; ++k) w2.push_back((k + 1) * (j - 2) / 10.0);
        b2 = {bias, bias + 0.5, bias - 0.5};
    }
    // The de-normalised outputs, computed here from the definitions.
    std::vector<float> expected(const std::vector<float>& x) const {
        const std::vector<AuxInput> in = cirrus_inputs(ncir);
        std::vector<float> y;
        for (int k = 0; k < 3; ++k) {
            double o = b2[static_cast<std::size_t>(k)];
            for (int j = 0; j < ncir; ++j) {
                const AuxInput& a = in[static_cast<std::size_t>(j + 2)];
                const float xn = x[static_cast<std::size_t>(j + 2)] * a.scale + a.offset;
                o += w2[static_cast<std::size_t>(k + 3 * j)] * test::logistic2(0.5 * static_cast<double>(xn));
            }
            y.push_back((static_cast<float>(o) - kB[k]) / kA[k]);
        }
        return y;
    }
};

void write_cirrus_files(const EmulatorRun& r) {
    std::vector<std::vector<float>> rows;
    for (int k = 0; k < 3; ++k) rows.push_back({kLogLam[k], 7.0f, 9.0f, kA[k], kB[k]});
    r.write("f_aux_sph.dat", test::aux_text(rows, cirrus_inputs(7)));
    r.write("f_aux_dis.dat", test::aux_text(rows, cirrus_inputs(9)));
    const CirrusNet sph(7, 1.0), dis(9, 2.0);
    r.write("cirrus_sph.net", test::net_text(sph.w1, sph.b1, sph.w2, sph.b2));
    r.write("cirrus_dis.net", test::net_text(dis.w1, dis.b1, dis.w2, dis.b2));
}

std::vector<float> cirrus_x(int ncir) {
    std::vector<float> x = {0.25f, 0.75f};
    for (int k = 0; k < ncir; ++k) x.push_back(0.3f * static_cast<float>(k) - 0.7f);
    return x;
}

TEST(CirrusNetwork, GeometrySelectsTheFilesAndOutputsAreDeNormalised) {
    struct Case {
        float igeo;
        int ncir;
        const char* net;
    } cases[] = {{1.0f, 7, "data/ann/cirrus_sph.net"}, {2.0f, 9, "data/ann/cirrus_dis.net"},
                 {-1.0f, 9, "data/ann/cirrus_dis.net"}};
    for (const Case& c : cases) {
        EmulatorRun r;
        write_cirrus_files(r);
        const std::vector<float> x = cirrus_x(c.ncir);
        ann_quelvo(r.run, c.igeo, {2, 20}, {c.ncir, c.ncir}, x, 2, false);
        const SedEmulator& e = r.run.ann_qve;
        ASSERT_EQ(e.log_lam_mic.extent(), 3) << c.igeo;
        const std::vector<float> want = CirrusNet(c.ncir, c.ncir == 7 ? 1.0 : 2.0).expected(x);
        for (int k = 1; k <= 3; ++k) {
            EXPECT_EQ(e.log_lam_mic(k), kLogLam[k - 1]);
            EXPECT_FLOAT_EQ(e.log_l_cir(k), want[static_cast<std::size_t>(k - 1)]) << c.igeo << " output " << k;
        }
        const std::vector<std::string> out = r.cc.out_lines();
        EXPECT_NE(std::find(out.begin(), out.end(), std::string(" will read network from ") + c.net), out.end())
            << c.igeo;
        // The scaling arrays and the network live only within the call.
        EXPECT_FALSE(e.a_cir.allocated());
        EXPECT_FALSE(e.b_mc.allocated());
        EXPECT_FALSE(r.run.network.w1.allocated());
        EXPECT_FALSE(r.run.network.pb.allocated());
    }
}

TEST(CirrusNetwork, ScaledInputsArePrintedAllOfThem) {
    EmulatorRun r;
    write_cirrus_files(r);
    const std::vector<float> x = cirrus_x(7);
    ann_quelvo(r.run, 1.0f, {2, 20}, {7, 7}, x, 2, false);
    const std::vector<AuxInput> in = cirrus_inputs(7);
    std::vector<fio::Item> items;
    std::vector<float> xn;
    for (std::size_t i = 0; i < x.size(); ++i) xn.push_back(x[i] * in[i].scale + in[i].offset);
    for (float v : xn) items.emplace_back(v);
    const std::vector<std::string> out = r.cc.out_lines();
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.front(), fio::list_line(items));
    // The cloud inputs are scaled too: 0.25 * 3 - 1.
    EXPECT_EQ(xn[0], -0.25f);
}

struct FlagCase {
    const char* what;
    float value;  // of the first cirrus input, trained range [-1, 2]
    bool in_range;
};

TEST(CirrusNetwork, RangeFlagsAndTheWarning) {
    const FlagCase cases[] = {
        {"at the minimum", -1.0f, true},
        {"at the maximum", 2.0f, true},
        {"inside", 0.5f, true},
        {"just below", std::nextafter(-1.0f, -2.0f), false},
        {"just above", std::nextafter(2.0f, 3.0f), false},
        {"not a number", std::numeric_limits<float>::quiet_NaN(), false},
    };
    for (const FlagCase& c : cases) {
        EmulatorRun r;
        write_cirrus_files(r);
        std::vector<float> x = cirrus_x(9);
        x[0] = 1e9f;  // the cloud inputs are fed to no network: always T
        x[1] = -5.0f;
        x[2] = c.value;
        ann_quelvo(r.run, 2.0f, {2, 20}, {9, 9}, x, 2, false);
        const std::vector<std::string> out = r.cc.out_lines();
        const std::vector<std::string> report(out.end() - 11 - (c.in_range ? 0 : 1), out.end());
        EXPECT_EQ(report[0].substr(0, 10), "         T") << c.what;
        EXPECT_EQ(report[1].substr(0, 10), "         T") << c.what;
        EXPECT_EQ(report[2].substr(0, 10), c.in_range ? "         T" : "         F") << c.what;
        for (int i = 3; i < 11; ++i) EXPECT_EQ(report[static_cast<std::size_t>(i)].substr(0, 10), "         T") << c.what;
        EXPECT_EQ(out.back() == " SEVERE WARNING: some neuron outside ANN trained range", !c.in_range) << c.what;
        // The run goes on: the spectrum is there.
        EXPECT_EQ(r.run.ann_qve.log_l_cir.extent(), 3) << c.what;
    }
}

TEST(CirrusNetwork, ReportLinesAreL10A10G10) {
    std::vector<EmulatorInput> in(4);
    in[0].name = "f_abs     ";
    in[1].name = "tau_hom   ";
    in[1].in_range = false;
    in[2].name = "log_md_l  ";
    in[3].name = "zero      ";
    const std::vector<std::string> lines = ann_qve::report_lines(in, {-1.13f, 1.5e-5f, 123456.0f, 0.0f});
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "         T f_abs       -1.13    ");
    EXPECT_EQ(lines[1], "         F tau_hom     0.150E-04");
    EXPECT_EQ(lines[2], "         T log_md_l    0.123E+06");
    EXPECT_EQ(lines[3], "         T zero         0.00    ");
    EXPECT_EQ(lines[4], " SEVERE WARNING: some neuron outside ANN trained range");
}

struct StopCase {
    const char* what;
    float igeo;
    std::size_t nx;
    int inet;
    const char* message;
};

TEST(CirrusNetwork, StopsOnStandardError) {
    const StopCase cases[] = {
        {"one input too many", 2.0f, 12, 2, "number of input parameters for ANNs do not match"},
        {"one input too few", 1.0f, 8, 2, "number of input parameters for ANNs do not match"},
        {"igeo 0", 0.0f, 11, 2, "wrong igeo in ann_quelvo"},
        {"igeo 3", 3.0f, 11, 2, "wrong igeo in ann_quelvo"},
        {"inet 1", 2.0f, 11, 1, "ann_quelvo: inet="},
    };
    for (const StopCase& c : cases) {
        EmulatorRun r;
        write_cirrus_files(r);
        const int ncir = c.igeo == 1.0f ? 7 : 9;
        try {
            ann_quelvo(r.run, c.igeo, {2, 20}, {ncir, 35}, std::vector<float>(c.nx, 0.0f), c.inet, false);
            ADD_FAILURE() << c.what << ": no stop";
        } catch (const Stop& s) {
            ASSERT_EQ(s.lines.size(), 1u) << c.what;
            EXPECT_EQ(s.lines[0].find(c.message), s.lines[0].find_first_not_of(' ')) << c.what << ": " << s.lines[0];
            EXPECT_TRUE(s.on_stderr) << c.what;
        }
        EXPECT_FALSE(r.run.ann_qve.log_l_cir.allocated()) << c.what;
    }
}

// Through the call that picks the columns: in f_aux_dis.dat the cloud
// network's output scale (column 2) is not used, so a 0 there runs; the cirrus
// network's (column 4) divides the outputs, so a 0 there stops naming the file.
TEST(CirrusNetwork, OnlyTheCirrusOutputScaleOfTheDiskFileMustNotBeZero) {
    const struct {
        const char* what;
        int zero_col;  // of output row 2
        bool stops;
    } cases[] = {{"cloud scale 0", 2, false}, {"cirrus scale 0", 4, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EmulatorRun r;
        write_cirrus_files(r);
        std::vector<std::vector<float>> rows;
        for (int k = 0; k < 3; ++k) rows.push_back({kLogLam[k], 7.0f, 9.0f, kA[k], kB[k]});
        rows[1][static_cast<std::size_t>(c.zero_col - 1)] = 0.0f;
        r.write("f_aux_dis.dat", test::aux_text(rows, cirrus_inputs(9)));
        const std::vector<float> x = cirrus_x(9);
        try {
            ann_quelvo(r.run, 2.0f, {2, 20}, {9, 9}, x, 2, false);
            EXPECT_FALSE(c.stops) << "no stop";
            const std::vector<float> want = CirrusNet(9, 2.0).expected(x);
            ASSERT_EQ(r.run.ann_qve.log_l_cir.extent(), 3);
            for (int k = 1; k <= 3; ++k)
                EXPECT_FLOAT_EQ(r.run.ann_qve.log_l_cir(k), want[static_cast<std::size_t>(k - 1)]) << k;
        } catch (const Stop& s) {
            EXPECT_TRUE(c.stops) << s.lines.front();
            ASSERT_FALSE(s.lines.empty());
            EXPECT_NE(s.lines.front().find("data/ann/f_aux_dis.dat"), std::string::npos) << s.lines.front();
            EXPECT_NE(s.lines.front().find("output scale of 0 at output"), std::string::npos) << s.lines.front();
        }
    }
}

TEST(CirrusNetwork, MissingFilesAreErrorsNamingThePathAndAreNotCreated) {
    for (const char* missing : {"f_aux_dis.dat", "cirrus_dis.net"}) {
        EmulatorRun r;
        write_cirrus_files(r);
        std::filesystem::remove(std::string("data/ann/") + missing);
        try {
            ann_quelvo(r.run, 2.0f, {2, 20}, {9, 35}, cirrus_x(9), 2, false);
            ADD_FAILURE() << missing << ": no error";
        } catch (const IoError& e) {
            EXPECT_NE(std::string(e.what()).find(std::string("data/ann/") + missing), std::string::npos) << e.what();
        }
        EXPECT_FALSE(std::filesystem::exists(std::string("data/ann/") + missing));
    }
}

TEST(CirrusNetwork, BlankDataFolderReadsNamesBeginningAnnBackslash) {
    test::TempDir dir;
    test::CapturedConsole cc;
    qv::Run run(cc.con);
    run.ann_qve.trained_ann_path = "ann\\";
    std::vector<std::vector<float>> rows;
    for (int k = 0; k < 3; ++k) rows.push_back({kLogLam[k], 7.0f, 9.0f, kA[k], kB[k]});
    test::write_text("ann\\f_aux_dis.dat", test::aux_text(rows, cirrus_inputs(9)));
    const CirrusNet dis(9, 2.0);
    test::write_text("ann\\cirrus_dis.net", test::net_text(dis.w1, dis.b1, dis.w2, dis.b2));
    const std::vector<float> x = cirrus_x(9);
    ann_quelvo(run, 2.0f, {2, 20}, {9, 9}, x, 2, false);
    EXPECT_FLOAT_EQ(run.ann_qve.log_l_cir(2), dis.expected(x)[1]);
}

TEST(CirrusNetwork, DataFolderPathsLongerThanEightyCharactersAreReadWhole) {
    test::TempDir dir;
    test::CapturedConsole cc;
    qv::Run run(cc.con);
    const std::string data = std::string(60, 'a') + "/" + std::string(60, 'b') + "/";
    std::filesystem::create_directories(data + "ann");
    run.ann_qve.trained_ann_path = data + "ann\\";
    std::vector<std::vector<float>> rows;
    for (int k = 0; k < 3; ++k) rows.push_back({kLogLam[k], 7.0f, 9.0f, kA[k], kB[k]});
    test::write_text(data + "ann/f_aux_dis.dat", test::aux_text(rows, cirrus_inputs(9)));
    const CirrusNet dis(9, 2.0);
    test::write_text(data + "ann/cirrus_dis.net", test::net_text(dis.w1, dis.b1, dis.w2, dis.b2));
    const std::vector<float> x = cirrus_x(9);
    ann_quelvo(run, 2.0f, {2, 20}, {9, 9}, x, 2, false);
    EXPECT_FLOAT_EQ(run.ann_qve.log_l_cir(3), dis.expected(x)[2]);
    EXPECT_EQ(run.ann_qve.netout, data + "ann/cirrus_dis.net");
}

// ---------------------------------------------------------------------------
// The cloud networks.

// Networks that ignore their inputs: every weight 0, output i = its bias.
std::string constant_net(int nin, int nhid, const std::vector<double>& out) {
    return test::net_text(std::vector<double>(static_cast<std::size_t>(nin * nhid), 0.0),
                          std::vector<double>(static_cast<std::size_t>(nhid), 0.0),
                          std::vector<double>(out.size() * static_cast<std::size_t>(nhid), 0.0), out);
}

// Files of a mid-infrared curve fm on lm and a far-infrared curve ff on lf,
// with output scaling a = 2, b = 1 (a network output o stands for (o - 1)/2).
void write_cloud_files(const EmulatorRun& r, const std::vector<float>& lm, const std::vector<float>& fm,
                       const std::vector<float>& lf, const std::vector<float>& ff,
                       const std::vector<AuxInput>& mir_in, const std::vector<AuxInput>& fir_in) {
    auto files = [&](const char* aux, const char* net, const std::vector<float>& l, const std::vector<float>& f,
                     const std::vector<AuxInput>& in) {
        std::vector<std::vector<float>> rows;
        std::vector<double> o;
        for (std::size_t i = 0; i < l.size(); ++i) {
            rows.push_back({l[i], 2.0f, 1.0f});
            o.push_back(2.0 * static_cast<double>(f[i]) + 1.0);
        }
        r.write(aux, test::aux_text(rows, in));
        r.write(net, constant_net(2, 3, o));
    };
    files("f_aux_mc_mir.dat", "mc_mir.net", lm, fm, mir_in);
    files("f_aux_mc_fir.dat", "mc_fir.net", lf, ff, fir_in);
}

const std::vector<AuxInput> kMirIn = {{"mir_tau", 0.0f, 10.0f, 1.0f, 0.0f}, {"mir_rad", 0.0f, 10.0f, 1.0f, 0.0f}};
const std::vector<AuxInput> kFirIn = {{"fir_tau", 0.0f, 100.0f, 1.0f, 0.0f}, {"fir_rad", 0.0f, 100.0f, 1.0f, 0.0f}};

struct JoinCase {
    const char* what;
    std::vector<float> lm, fm, lf, ff;
    std::vector<float> want;
};

TEST(CloudNetworks, MidInfraredShiftedOntoTheFarInfraredAtItsLastWavelength) {
    const JoinCase cases[] = {
        // lm ends on an lf point: shift 12 - 3 = 9; lf -0.5 lies below lm(1)
        // (linear extrapolation), 0.75 between, 1.0 the join itself (the
        // far-infrared value), 1.5 and 2.0 keep the far-infrared values.
        {"end on a far-infrared point", {0.0f, 0.5f, 1.0f}, {1.0f, 2.0f, 3.0f}, {-0.5f, 0.75f, 1.0f, 1.5f, 2.0f},
         {10.0f, 11.0f, 12.0f, 13.0f, 14.0f}, {9.0f, 11.5f, 12.0f, 13.0f, 14.0f}},
        // lm ends between lf points: y = 12 + 0.4 * 1 = 12.4 at 1.2, shift 9.4.
        {"end between far-infrared points", {0.0f, 0.6f, 1.2f}, {1.0f, 2.0f, 3.0f}, {0.3f, 1.0f, 1.5f, 2.0f},
         {10.0f, 12.0f, 13.0f, 14.0f}, {10.9f, 12.0667f, 13.0f, 14.0f}},
    };
    for (const JoinCase& c : cases) {
        EmulatorRun r;
        write_cloud_files(r, c.lm, c.fm, c.lf, c.ff, kMirIn, kFirIn);
        ann_quelvo_mc_only(r.run, {2, 3}, {1.0f, 1.0f}, false);
        const SedEmulator& e = r.run.ann_qve;
        ASSERT_EQ(e.log_lam_mic_only.extent(), static_cast<int>(c.lf.size())) << c.what;
        for (std::size_t i = 0; i < c.lf.size(); ++i) {
            EXPECT_EQ(e.log_lam_mic_only(static_cast<int>(i + 1)), c.lf[i]) << c.what;
            EXPECT_NEAR(e.log_l_mc_only(static_cast<int>(i + 1)), c.want[i], 2e-4f) << c.what << " point " << i + 1;
        }
    }
}

TEST(CloudNetworks, InputsScaledAndDeNormalisedPassByPass) {
    // One hidden neuron per input (weight 1); the single output of a pass adds
    // them with weights 1 and -2.
    EmulatorRun r;
    const std::vector<AuxInput> mir = {{"t", 0.0f, 10.0f, 0.5f, -1.0f}, {"r", 0.0f, 10.0f, 2.0f, 0.25f}};
    const std::vector<AuxInput> fir = {{"t", 0.0f, 10.0f, -1.0f, 3.0f}, {"r", 0.0f, 10.0f, 0.1f, 0.0f}};
    r.write("f_aux_mc_mir.dat", test::aux_text({{0.0f, 2.0f, 0.5f}, {1.0f, 2.0f, 0.5f}}, mir));
    r.write("f_aux_mc_fir.dat", test::aux_text({{1.0f, 4.0f, -1.0f}, {2.0f, 0.5f, 0.0f}}, fir));
    const std::string net = test::net_text({1, 0, 0, 1}, {0, 0}, {1, 1, -2, -2}, {0, 0.25});
    r.write("mc_mir.net", net);
    r.write("mc_fir.net", net);
    const std::vector<float> x = {3.0f, 1.5f};
    ann_quelvo_mc_only(r.run, {2, 2}, x, false);
    auto outputs = [&](const std::vector<AuxInput>& in) {
        const double h1 = test::logistic2(static_cast<double>(x[0] * in[0].scale + in[0].offset));
        const double h2 = test::logistic2(static_cast<double>(x[1] * in[1].scale + in[1].offset));
        return std::vector<float>{static_cast<float>(h1 - 2.0 * h2), static_cast<float>(h1 - 2.0 * h2 + 0.25)};
    };
    const std::vector<float> om = outputs(mir), of = outputs(fir);
    const float ff1 = (of[0] + 1.0f) / 4.0f, ff2 = (of[1] - 0.0f) / 0.5f;
    const float fm2 = (om[1] - 0.5f) / 2.0f;
    const SedEmulator& e = r.run.ann_qve;
    // Point 2 (log lambda 2) keeps the far-infrared value; point 1 lies on
    // the end of the mid-infrared table, which is shifted onto ff1 there.
    EXPECT_FLOAT_EQ(e.log_l_mc_only(2), ff2);
    EXPECT_FLOAT_EQ(e.log_l_mc_only(1), fm2 + (ff1 - fm2));
    EXPECT_NE(ff1, fm2);
}

TEST(CloudNetworks, FlagsOfBothPassesAddUpAndTheNamesAreTheSecondFiles) {
    struct Case {
        const char* what;
        std::vector<float> x;
        std::vector<bool> flags;
    } cases[] = {
        {"inside both", {5.0f, 10.0f}, {true, true}},
        {"outside the mid-infrared range only", {50.0f, 1.0f}, {false, true}},
        {"outside the far-infrared range", {1.0f, 101.0f}, {true, false}},
    };
    for (const Case& c : cases) {
        EmulatorRun r;
        write_cloud_files(r, {0.0f, 1.0f}, {1.0f, 2.0f}, {0.5f, 2.0f}, {3.0f, 4.0f}, kMirIn, kFirIn);
        ann_quelvo_mc_only(r.run, {2, 3}, c.x, false);
        const std::vector<std::string> out = r.cc.out_lines();
        const bool warned = !c.flags[0] || !c.flags[1];
        const std::vector<std::string> report(out.end() - 2 - (warned ? 1 : 0), out.end());
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(report[i].substr(0, 10), c.flags[i] ? "         T" : "         F") << c.what;
            EXPECT_EQ(report[i].substr(11, 10), i == 0 ? "fir_tau   " : "fir_rad   ") << c.what;
        }
        EXPECT_EQ(out.back() == " SEVERE WARNING: some neuron outside ANN trained range", warned) << c.what;
    }
}

TEST(CloudNetworks, EachCallWritesLogValuesSizedByItsOwnFiles) {
    EmulatorRun r;
    write_cloud_files(r, {0.0f, 1.0f}, {1.0f, 2.0f}, {0.5f, 1.5f, 2.0f}, {3.0f, 4.0f, 5.0f}, kMirIn, kFirIn);
    ann_quelvo_mc_only(r.run, {2, 3}, {1.0f, 1.0f}, false);
    SedEmulator& e = r.run.ann_qve;
    ASSERT_EQ(e.log_l_mc_only.extent(), 3);
    const float first3 = e.log_l_mc_only(3);
    // The caller turns the arrays into linear values, as the cloud model does.
    for (int i = 1; i <= 3; ++i) {
        e.log_lam_mic_only(i) = std::pow(10.0f, e.log_lam_mic_only(i)) * 1e4f;
        e.log_l_mc_only(i) = std::pow(10.0f, e.log_l_mc_only(i));
    }
    ann_quelvo_mc_only(r.run, {2, 3}, {1.0f, 1.0f}, false);
    EXPECT_EQ(e.log_lam_mic_only(1), 0.5f);
    EXPECT_EQ(e.log_l_mc_only(3), first3);
    // Files with another output count give arrays of that count.
    write_cloud_files(r, {0.0f, 1.0f}, {1.0f, 2.0f}, {0.5f, 1.5f, 2.0f, 2.5f, 3.0f}, {3.0f, 4.0f, 5.0f, 6.0f, 7.0f},
                      kMirIn, kFirIn);
    ann_quelvo_mc_only(r.run, {2, 3}, {1.0f, 1.0f}, false);
    ASSERT_EQ(e.log_lam_mic_only.extent(), 5);
    ASSERT_EQ(e.log_l_mc_only.extent(), 5);
    EXPECT_EQ(e.log_l_mc_only(5), 7.0f);
}

TEST(CloudNetworks, WrongInputCountStopsOnStandardError) {
    for (std::size_t n : {1u, 3u}) {
        EmulatorRun r;
        write_cloud_files(r, {0.0f, 1.0f}, {1.0f, 2.0f}, {0.5f, 2.0f}, {3.0f, 4.0f}, kMirIn, kFirIn);
        try {
            ann_quelvo_mc_only(r.run, {2, 20}, std::vector<float>(n, 1.0f), false);
            ADD_FAILURE() << n << ": no stop";
        } catch (const Stop& s) {
            ASSERT_EQ(s.lines.size(), 1u);
            EXPECT_EQ(s.lines[0], "number of input parameters for ANNs do not match");
            EXPECT_TRUE(s.on_stderr);
        }
    }
}

}  // namespace
}  // namespace qv
