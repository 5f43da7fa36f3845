// The intrho cache of the pair columns: its file layout, the pre-check, the
// header checks, and the safety rules (stale, truncated and foreign files, a
// stopped run, a failed write).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/run.h"
#include "core/stop.h"
#include "dust/predust.h"
#include "dust/cirrus_fixture.h"
#include "dust/cirrus_grid.h"
#include "dust/column_density.h"
#include "io/format.h"
#include "support/test_support.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using test::contains;
using test::index_of;
using test::stop_lines;

// A file name as the messages show it after their text: after one blank.
std::string named(const std::string& s) { return " " + s; }

std::vector<unsigned char> bytes_of(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

void write_bytes(const std::string& path, const std::vector<unsigned char>& b) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

std::uint32_t u32(const std::vector<unsigned char>& b, std::size_t at) {
    return std::uint32_t(b[at]) | (std::uint32_t(b[at + 1]) << 8) | (std::uint32_t(b[at + 2]) << 16) |
           (std::uint32_t(b[at + 3]) << 24);
}
float f32(const std::vector<unsigned char>& b, std::size_t at) {
    const std::uint32_t u = u32(b, at);
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}

// Columns read back from the cache: the stored quotient times N0.
void expect_same_columns(const std::vector<float>& got, const std::vector<float>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t k = 0; k < got.size(); ++k)
        ASSERT_NEAR(got[k], want[k], 2e-7f * std::fabs(want[k]) + 1e-30f) << k;
}

// Files of the working folder whose names start with prefix.
std::vector<std::string> files_starting(const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(fs::current_path()))
        if (e.path().filename().string().rfind(prefix, 0) == 0) out.push_back(e.path().filename().string());
    return out;
}

// One model's pass through the cache steps of the cirrus model, in their order:
// pre-check, opening, header, grid sizes, grid record, grid and densities,
// dependencies; then the pair loop and the completion.
struct CacheModel {
    test::CapturedConsole cc;
    Run run{cc.con};
    float mdiff = 0.01f;
    CacheModel(int igeo, int mode, int ndr = 6) {
        test::set_geometry(run, igeo, mode);
        run.remind.ndr = ndr;
    }
    CacheModel(CacheModel&&) = delete;
    void start(float fgas = 0.1f) {
        CirrusRun& cr = run.cirrus;
        cr.Mdiff = mdiff;
        cirrus::cache_precheck(run, fgas);
        cr.cache.open(run);
        cr.cache.header_geometry(run);
        cirrus::grid_sizes(run);
        cr.cache.header_grid(run);
        cirrus::allocate_grids(run);
        cirrus::grid_nodes(run);
        cirrus::densities(run);
        cirrus::normalise(run);
        cr.cache.dependencies(run, cirrus::cache_pairs_needed(run));
    }
    std::vector<float> pairs() { return test::pair_columns(run); }
    void finish() { run.cirrus.cache.finish(run); }
    std::vector<float> full(float fgas = 0.1f) {
        start(fgas);
        auto c = pairs();
        finish();
        return c;
    }
    std::vector<std::string> out() const { return cc.out_lines(); }
    int mode() const { return run.parametri.intrho_w_r; }
};

// The small disk: zddiff = rddiff / 2 gives a grid of 10 radial and 13 polar nodes.
void make_small_disk(CacheModel& m) {
    m.run.parametri.zddiff = 2.5f;
    m.run.parametri.zsur = m.run.parametri.zddiff / m.run.parametri.rgal;
}

// ---------------------------------------------------------------------------

TEST(IntrhoCache, WrittenInModeOneAndReadInModeTwoGivesTheSameColumns) {
    test::TempDir tmp;
    for (int igeo : {2, 1}) {
        SCOPED_TRACE(igeo);
        fs::remove("quelvo.intrho");
        CacheModel w(igeo, 1, igeo == 1 ? 12 : 6);
        if (igeo == 2) make_small_disk(w);
        const std::vector<float> written = w.full();
        const std::int64_t needed = cirrus::cache_pairs_needed(w.run);
        ASSERT_EQ(static_cast<std::int64_t>(written.size()), needed);
        EXPECT_GT(needed, igeo == 2 ? 65536 : 10000);  // the disk's pairs fill more than one block
        EXPECT_EQ(w.run.cirrus.cache.pairs_done(), needed);
        EXPECT_TRUE(contains(w.out(), "Writing new quelvo.intrho to" + named("quelvo.intrho")));
        ASSERT_TRUE(fs::exists("quelvo.intrho"));
        EXPECT_TRUE(files_starting("quelvo.intrho.tmp").empty());

        CacheModel r(igeo, 2, igeo == 1 ? 12 : 6);
        if (igeo == 2) make_small_disk(r);
        r.start();
        EXPECT_EQ(r.mode(), 2);
        EXPECT_TRUE(contains(r.out(), "Trying to use existing intrho file" + named("quelvo.intrho")));
        const std::vector<float> read = r.pairs();
        r.finish();
        // No ray was traced: the columns all came from the file.
        EXPECT_EQ(r.run.protrco.cosct, 0.0);
        EXPECT_EQ(r.run.cirrus.cache.pairs_done(), needed);
        expect_same_columns(read, written);
    }
}

TEST(IntrhoCache, ReusedForAnotherDustMassWithColumnsScaled) {
    test::TempDir tmp;
    CacheModel w(1, 1, 8);
    const auto a = w.full();
    CacheModel r(1, 2, 8);
    r.mdiff = 3.0f * w.mdiff;
    r.start();
    EXPECT_FALSE(contains(r.out(), "WARNING"));
    const auto b = r.pairs();
    r.finish();
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t k = 0; k < a.size(); ++k) ASSERT_NEAR(b[k], 3.0f * a[k], 1e-5f * std::fabs(a[k]) + 1e-30f);
}

TEST(IntrhoCache, FileKeepsTheUnformattedRecordLayout) {
    test::TempDir tmp;
    CacheModel w(2, 1);
    make_small_disk(w);
    w.run.parametri.emiflag = false;  // no cell loop: the header records only
    w.full();
    std::vector<unsigned char> b = bytes_of("quelvo.intrho");
    // igeo, rsur, zsur, then the grid sizes, each framed by its byte count.
    ASSERT_GE(b.size(), 56u);
    EXPECT_EQ(u32(b, 0), 4u);
    EXPECT_EQ(static_cast<std::int32_t>(u32(b, 4)), 2);
    EXPECT_EQ(u32(b, 8), 4u);
    EXPECT_EQ(u32(b, 12), 4u);
    EXPECT_EQ(f32(b, 16), w.run.parametri.rsur);
    EXPECT_EQ(u32(b, 20), 4u);
    EXPECT_EQ(u32(b, 24), 4u);
    EXPECT_EQ(f32(b, 28), w.run.parametri.zsur);
    EXPECT_EQ(u32(b, 32), 4u);
    EXPECT_EQ(u32(b, 36), 12u);
    EXPECT_EQ(static_cast<int>(u32(b, 40)), w.run.remind.ndr);
    EXPECT_EQ(static_cast<int>(u32(b, 44)), w.run.glocold.nthearr);
    EXPECT_EQ(static_cast<int>(u32(b, 48)), 20);
    EXPECT_EQ(u32(b, 52), 12u);
    // The signature record closes the file: "QVINTRHO", the version, no pairs.
    const std::uint32_t sig = u32(b, b.size() - 4);
    ASSERT_EQ(b.size(), 56u + sig + 8u);
    EXPECT_EQ(u32(b, 56), sig);
    EXPECT_EQ(std::string(b.begin() + 60, b.begin() + 68), "QVINTRHO");
    EXPECT_EQ(u32(b, 68), 1u);
    EXPECT_EQ(u32(b, 72), 0u);

    // A spheroid has no zsur record; each pair is one framed 4-byte real, the
    // column over N0.
    fs::remove("quelvo.intrho");
    CacheModel s(1, 1, 5);
    const auto cols = s.full();
    b = bytes_of("quelvo.intrho");
    EXPECT_EQ(static_cast<std::int32_t>(u32(b, 4)), 1);
    EXPECT_EQ(u32(b, 24), 12u);
    EXPECT_EQ(static_cast<int>(u32(b, 28)), 5);
    ASSERT_EQ(u32(b, 40), 12u);
    for (std::size_t k = 0; k < cols.size(); ++k) {
        const std::size_t at = 44 + 12 * k;
        ASSERT_EQ(u32(b, at), 4u);
        ASSERT_EQ(u32(b, at + 8), 4u);
        ASSERT_EQ(f32(b, at + 4), cols[k] / s.run.cirrus.N0);
    }
    EXPECT_EQ(b.size(), 44 + 12 * cols.size() + u32(b, b.size() - 4) + 8);
}

// ---------------------------------------------------------------------------
// The pre-check of igeo -1.

struct PrecheckCase {
    const char* what;
    float rddiff, rcstar;
    float fgas, f_tgal;
    bool burst;
    float magbsut;
    int mode;
    bool ok;
};

TEST(IntrhoCache, PrecheckRangesOfTheHistory) {
    const PrecheckCase cases[] = {
        {"in range, writing", 5.0f, 1.0f, 0.1f, 0.0f, false, 0.0f, 1, true},
        {"in range, reading", 5.0f, 1.0f, 0.1f, 0.0f, false, 0.0f, 2, true},
        {"below 4 with gas", 3.9f, 1.0f, 0.1f, 0.0f, false, 0.0f, 1, false},
        {"above 1 without gas", 3.9f, 1.0f, 0.005f, 0.0f, false, 0.0f, 1, true},
        {"below 1 without gas", 0.9f, 1.0f, 0.005f, 0.0f, false, 0.0f, 2, false},
        {"0.5 with an age offset", 0.5f, 1.0f, 0.1f, 1.0f, false, 0.0f, 1, true},
        {"0.3 during a burst", 0.3f, 1.0f, 0.1f, 0.0f, true, 0.0f, 1, false},
        {"up to 300 with a small bulge", 300.0f, 1.0f, 0.1f, 0.0f, false, 0.05f, 1, true},
        {"above 50 with a big bulge", 51.0f, 1.0f, 0.1f, 0.0f, false, 0.2f, 1, false},
    };
    for (const PrecheckCase& c : cases) {
        SCOPED_TRACE(c.what);
        test::CapturedConsole cc;
        qv::Run run{cc.con};
        test::set_geometry(run, -1, c.mode);
        run.parametri.rddiff = c.rddiff;
        run.parametri.rcstar = c.rcstar;
        run.glotauspe.f_tgal = c.f_tgal;
        run.glotauspe.current_burst = c.burst;
        run.glotauspe.magbsut = c.magbsut;
        const float rgal_cache = run.parametri.rgal;
        cirrus::cache_precheck(run, c.fgas);
        const auto out = cc.out_lines();
        ASSERT_GE(out.size(), 1u);
        const float q = c.rddiff / c.rcstar;
        const std::string head = " rddiff/rcstar = " + fio::edit_g(q, 10, 2);
        if (c.ok) {
            ASSERT_EQ(out.size(), 1u);
            EXPECT_EQ(out[0], head + (c.mode == 1 ? " OK, se ho gas genero nuovo file quelvo.intrho"
                                                  : " OK, provo ad usare il file quelvo.intrho esistente"));
            EXPECT_EQ(run.parametri.intrho_w_r, c.mode);
            EXPECT_EQ(run.parametri.rgal, rgal_cache);
        } else {
            ASSERT_EQ(out.size(), 2u);
            const float lo = c.f_tgal == 0.0f && !c.burst ? (c.fgas < 0.01f ? 1.0f : 4.0f) : 0.5f;
            const float hi = c.magbsut < 0.1f ? 300.0f : 50.0f;
            EXPECT_EQ(out[0], head + fio::list_line({" fuori range", lo, hi, " per usare intrho=", c.mode}));
            EXPECT_EQ(out[1], " forzo intrho a 0 e faccio calcolo standard.");
            EXPECT_EQ(run.parametri.intrho_w_r, 0);
        }
    }
}

TEST(IntrhoCache, SwitchedOffByThePrecheckTheRunIsTheStandardCalculation) {
    test::TempDir tmp;
    // q = rddiff / rcstar = 0.3: out of range.
    CacheModel m(-1, 1);
    m.run.parametri.rddiff = 0.3f;
    m.run.parametri.rgal = 10.0f * 0.3f;
    m.run.parametri.emiflag = false;
    m.start();
    EXPECT_EQ(m.mode(), 0);
    // The galaxy radius and the grid of a run without the cache.
    CacheModel s(-1, 0);
    s.run.parametri.rddiff = 0.3f;
    standard_galaxy_radius(s.run);
    s.run.parametri.emiflag = false;
    s.start();
    EXPECT_EQ(m.run.parametri.rgal, s.run.parametri.rgal);
    EXPECT_EQ(m.run.parametri.rgal, 158.48933f * m.run.parametri.rcstar);
    EXPECT_EQ(m.run.parametri.rgalpc, 1000.0f * m.run.parametri.rgal);
    EXPECT_EQ(cirrus::grid_zd(m.run), std::min(m.run.parametri.zddiff, m.run.parametri.zdstar));
    EXPECT_EQ(cirrus::grid_rd(m.run), 0.3f);
    EXPECT_EQ(m.run.remind.ndr, s.run.remind.ndr);
    EXPECT_EQ(m.run.glocold.nthearr, s.run.glocold.nthearr);
    for (int i = 1; i <= m.run.remind.ndr; ++i) EXPECT_EQ(m.run.glocold.rarr(i), s.run.glocold.rarr(i));
    m.finish();
    EXPECT_FALSE(fs::exists("quelvo.intrho"));
}

// ---------------------------------------------------------------------------
// Opening and header outcomes.

TEST(IntrhoCache, MissingFileInModeTwoIsWrittenAfresh) {
    test::TempDir tmp;
    CacheModel m(1, 2, 5);
    m.run.modname.name_intrho = "my.cache";
    m.full();
    EXPECT_EQ(m.mode(), 1);
    const auto out = m.out();
    const int w = index_of(out, "WARNING: intrho_w_r = 2 but no file" + named("my.cache"));
    ASSERT_GE(w, 0);
    EXPECT_EQ(out[w + 1], fio::list_line({"I force intrho to 1 and write new quelvo.intrho to", named("my.cache")}));
    EXPECT_EQ(out[w + 2], fio::list_line({"Writing new quelvo.intrho to", named("my.cache")}));
    EXPECT_TRUE(fs::exists("my.cache"));
    // The next run reads it.
    CacheModel r(1, 2, 5);
    r.run.modname.name_intrho = "my.cache";
    r.start();
    EXPECT_EQ(r.mode(), 2);
    EXPECT_FALSE(contains(r.out(), "WARNING"));
    r.pairs();
    r.finish();
}

TEST(IntrhoCache, HeaderMismatchesStopOrDropTheCache) {
    test::TempDir tmp;
    {
        CacheModel d(2, 1);
        make_small_disk(d);
        d.run.parametri.emiflag = false;
        d.full();
    }
    const std::string shown = named("quelvo.intrho");
    {
        SCOPED_TRACE("another geometry");
        CacheModel m(-1, 2);
        m.run.parametri.emiflag = false;
        const auto s = stop_lines([&] { m.start(); });
        ASSERT_EQ(s.size(), 1u);
        EXPECT_EQ(s[0], fio::list_line({"ERROR: intrho_w_r = 2 but different geometry", " (IGEO) in intrho file", shown}));
    }
    const float rsur = 0.1f;
    {
        SCOPED_TRACE("another rsur");
        CacheModel m(2, 2);
        make_small_disk(m);
        m.run.parametri.rsur = 0.12f;
        const auto s = stop_lines([&] { m.start(); });
        ASSERT_EQ(s.size(), 2u);
        EXPECT_EQ(s[0], fio::list_line({"ERROR: intrho_w_r = 2 rdiff/rgal mismatch", " in intrho file", shown}));
        EXPECT_EQ(s[1], fio::list_line({rsur, " in file but now is", 0.12f}));
        // |r0/rsur - 1| on standard output first.
        EXPECT_TRUE(contains(m.out(), fio::list_line({std::fabs(rsur / 0.12f - 1.0f)})));
    }
    {
        SCOPED_TRACE("another zsur");
        CacheModel m(2, 2);
        make_small_disk(m);
        m.run.parametri.zsur = 0.06f;
        const auto s = stop_lines([&] { m.start(); });
        ASSERT_EQ(s.size(), 2u);
        EXPECT_EQ(s[0], fio::list_line({"ERROR: intrho_w_r = 2 zdiff/rgal mismatch", " in intrho file", shown}));
        EXPECT_EQ(s[1], fio::list_line({0.05f, " in file but now is", 0.06f}));
    }
    {
        SCOPED_TRACE("another grid");
        CacheModel m(2, 2);
        make_small_disk(m);
        m.run.parametri.rddiff = 4.0f;  // rgal/min(2 zd, rd) = 12.5: 13 radial nodes instead of 10
        const auto s = stop_lines([&] { m.start(); });
        ASSERT_EQ(s.size(), 3u);
        EXPECT_EQ(s[0], fio::list_line({"ERROR: intrho_w_r = 2 but grid dimension mismatch", " in intrho file", shown}));
        EXPECT_EQ(s[1], fio::list_line({10, 13, 20, " in file"}));
        EXPECT_EQ(s[2], fio::list_line({13, 13, 20, " now"}));
    }
    const std::vector<unsigned char> before = bytes_of("quelvo.intrho");
    {
        SCOPED_TRACE("another rsur with a history of the tav model");
        CacheModel m(2, 2);
        make_small_disk(m);
        m.run.glotauspe.istarfo = 4;
        m.run.parametri.rsur = 0.12f;
        m.run.parametri.emiflag = false;
        m.start();
        const auto out = m.out();
        const int w = index_of(out, "WARNING: intrho_w_r = 2 rdiff/rgal mismatch");
        ASSERT_GE(w, 0);
        EXPECT_EQ(out[w], fio::list_line({"WARNING: intrho_w_r = 2 rdiff/rgal mismatch", " in intrho file", shown}));
        EXPECT_EQ(out[w + 1], fio::list_line({rsur, " in file but now is", 0.12f}));
        EXPECT_EQ(out[w + 2], " I force intrho to 0 and proceed");
        EXPECT_EQ(m.mode(), 0);
        // The standard calculation: its own galaxy radius and scales.
        EXPECT_EQ(m.run.parametri.rgal, 6.0f * std::max(m.run.parametri.rdstar, m.run.parametri.rddiff));
        EXPECT_EQ(cirrus::grid_zd(m.run), std::min(m.run.parametri.zddiff, m.run.parametri.zdstar));
        m.finish();
    }
    EXPECT_EQ(bytes_of("quelvo.intrho"), before);
}

// ---------------------------------------------------------------------------
// Safety of the cache.

TEST(IntrhoCache, StaleCacheOfAnotherDustDistributionIsWrittenAfresh) {
    test::TempDir tmp;
    // The same geometry, scale lengths and grid, but another share of the dust
    // in the bulge: the header cannot tell them apart, the densities can.
    CacheModel a(-1, 1);
    a.run.parametri.emiflag = false;
    a.full();
    const auto first = bytes_of("quelvo.intrho");

    CacheModel b(-1, 2);
    b.run.parametri.emiflag = false;
    b.run.parametri.fmdifbul = 0.6f;
    b.start();
    const auto out = b.out();
    EXPECT_EQ(b.mode(), 1);
    const int w = index_of(out, "WARNING: intrho_w_r = 2 but the grid or the dust densities of this model differ");
    ASSERT_GE(w, 0);
    EXPECT_NE(out[w].find("quelvo.intrho"), std::string::npos);
    EXPECT_EQ(out[w + 1], fio::list_line({"I force intrho to 1 and write new quelvo.intrho to", named("quelvo.intrho")}));
    EXPECT_EQ(out[w + 2], fio::list_line({"Writing new quelvo.intrho to", named("quelvo.intrho")}));
    b.finish();
    EXPECT_NE(bytes_of("quelvo.intrho"), first);

    // The new file serves the new model.
    CacheModel c(-1, 2);
    c.run.parametri.emiflag = false;
    c.run.parametri.fmdifbul = 0.6f;
    c.start();
    EXPECT_EQ(c.mode(), 2);
    EXPECT_FALSE(contains(c.out(), "WARNING"));
    c.finish();
}

TEST(IntrhoCache, CacheWithoutThePairsThisRunNeedsIsWrittenAfresh) {
    test::TempDir tmp;
    CacheModel a(1, 1, 5);
    a.run.parametri.emiflag = false;  // the cell loop did not run: no pairs
    a.full();
    CacheModel b(1, 2, 5);
    b.start();
    EXPECT_EQ(b.mode(), 1);
    const std::int64_t needed = cirrus::cache_pairs_needed(b.run);
    EXPECT_TRUE(contains(b.out(), fio::list_line({"WARNING: intrho_w_r = 2 but intrho file ", "quelvo.intrho", " holds",
                                                  std::int64_t{0}, " pair records and this run needs", needed})));
    const auto cols = b.pairs();
    b.finish();
    CacheModel c(1, 2, 5);
    c.start();
    EXPECT_EQ(c.mode(), 2);
    expect_same_columns(c.pairs(), cols);
    c.finish();
}

TEST(IntrhoCache, TruncatedCacheIsTreatedAsMissing) {
    test::TempDir tmp;
    CacheModel w(1, 1, 6);
    const auto cols = w.full();
    const auto whole = bytes_of("quelvo.intrho");
    struct Cut {
        const char* what;
        std::size_t size;
    } cuts[] = {
        {"inside a pair record", whole.size() / 2 + 5},
        {"at a pair record boundary", 44 + 12 * 100},
        {"after the last pair, without the signature", 44 + 12 * cols.size()},
        {"inside the header", 30},
        {"one byte short", whole.size() - 1},
    };
    for (const Cut& c : cuts) {
        SCOPED_TRACE(c.what);
        write_bytes("quelvo.intrho", std::vector<unsigned char>(whole.begin(), whole.begin() + long(c.size)));
        CacheModel r(1, 2, 6);
        r.start();
        EXPECT_EQ(r.mode(), 1);
        const auto out = r.out();
        const int k = index_of(out, "WARNING: intrho file quelvo.intrho is incomplete");
        ASSERT_GE(k, 0);
        EXPECT_EQ(out[k + 1], fio::list_line({"I force intrho to 1 and write new quelvo.intrho to", named("quelvo.intrho")}));
        const auto again = r.pairs();
        r.finish();
        EXPECT_EQ(again, cols);
        EXPECT_EQ(bytes_of("quelvo.intrho"), whole);
    }
}

TEST(IntrhoCache, FileThatIsNotACacheIsNeverOverwritten) {
    test::TempDir tmp;
    const std::string par = "MAIN\nigeo      1\n";
    test::write_text("m.par", par);
    fs::create_directory("somedir");
    for (const char* name : {"m.par", "somedir"})
        for (int mode : {1, 2}) {
            SCOPED_TRACE(std::string(name) + " mode " + std::to_string(mode));
            CacheModel m(1, mode, 5);
            m.run.modname.name_intrho = name;
            const auto s = stop_lines([&] { m.start(); });
            ASSERT_EQ(s.size(), 2u);
            EXPECT_EQ(s[0], fio::list_line({"ERROR: file ", name, " is not an intrho file: it is neither read nor overwritten"}));
            // Stopped before any work: no grid was built.
            EXPECT_FALSE(m.run.glocold.allocated());
            EXPECT_EQ(test::read_text("m.par"), par);
            EXPECT_TRUE(files_starting(std::string(name) + ".tmp").empty());
        }
    // The same check on its own, as a caller can make it before any work.
    CacheModel early(1, 1, 5);
    early.run.modname.name_intrho = "m.par";
    EXPECT_THROW(cirrus::check_cache_file(early.run), Stop);
    early.run.parametri.intrho_w_r = 0;
    EXPECT_NO_THROW(cirrus::check_cache_file(early.run));
    early.run.parametri.intrho_w_r = 1;
    early.run.modname.name_intrho = "absent.cache";
    EXPECT_NO_THROW(cirrus::check_cache_file(early.run));
    // An empty file holds nothing to lose.
    test::write_text("empty.cache", "");
    CacheModel e(1, 1, 5);
    e.run.modname.name_intrho = "empty.cache";
    e.full();
    EXPECT_GT(fs::file_size("empty.cache"), 0u);
}

TEST(IntrhoCache, StoppedRunLeavesTheOldCacheAndNoPartialFile) {
    test::TempDir tmp;
    CacheModel a(1, 1, 5);
    a.full();
    const auto old = bytes_of("quelvo.intrho");
    {
        CacheModel b(1, 1, 5);
        b.run.parametri.rcdiff = 2.0f;
        b.start();
        for (int k = 0; k < 100; ++k) b.run.cirrus.cache.write_pair(1.0f);
        // The run stops here (the cirrus model drops the file it was writing).
        b.run.cirrus.cache.abandon();
        EXPECT_TRUE(files_starting("quelvo.intrho.tmp").empty());
    }
    EXPECT_EQ(bytes_of("quelvo.intrho"), old);
    {
        // Destroyed without finishing: the same.
        CacheModel c(1, 1, 5);
        c.start();
        c.run.cirrus.cache.write_pair(1.0f);
    }
    EXPECT_TRUE(files_starting("quelvo.intrho.tmp").empty());
    EXPECT_EQ(bytes_of("quelvo.intrho"), old);
}

TEST(IntrhoCache, FailedWriteAfterTheWorkIsReportedAndTheRunGoesOn) {
    test::TempDir tmp;
    fs::create_directory("d");
    CacheModel m(1, 1, 5);
    m.run.modname.name_intrho = "d/c.intrho";
    m.start();
    m.pairs();
    fs::remove_all("d");
    EXPECT_NO_THROW(m.finish());
    EXPECT_TRUE(contains(m.out(), "WARNING: intrho file d/c.intrho not written ("));
    EXPECT_FALSE(fs::exists("d/c.intrho"));
}

TEST(IntrhoCache, UnreadablePairsFallBackToComputing) {
    test::TempDir tmp;
    CacheModel w(1, 1, 5);
    const auto cols = w.full();
    // Break the framing of one pair record in the middle of the file, keeping
    // its size: the file looks complete, the damaged record is not used.
    auto b = bytes_of("quelvo.intrho");
    const std::size_t bad = 40 + 12 * 300;
    b[bad] = 9;
    write_bytes("quelvo.intrho", b);
    CacheModel r(1, 2, 5);
    r.start();
    ASSERT_EQ(r.mode(), 2);
    const auto got = r.pairs();
    r.finish();
    expect_same_columns(got, cols);
    EXPECT_TRUE(contains(r.out(), "could not be read after"));
}

}  // namespace
}  // namespace qv
