// Column densities of the cirrus dust along straight rays (protrco), the
// optical-depth report of the cirrus, and the intrho cache of the pair columns.
//
// Lengths in kpc, densities in solar masses of hydrogen per pc^3; a column is
// the integral of rhodiffarr2d along the ray times 1000 (solar masses per pc^2).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qv {

struct Run;
struct CirrusGrid;

// The direction of the last ray (8-byte direction cosines), in the frame
// rotated so that the ray's start point lies on the polar axis.
struct RayDirection {
    double costhe = 0.0, sinthe = 0.0;  // polar angle of the direction
    double cosphi = 0.0, sinphi = 0.0;  // azimuth of the direction
    double cosct = 0.0, sinct = 0.0;    // the rotation: polar angle of the start point
};

namespace protrco {

// What the ray integrations read: the nodes and the density of the grid.
struct ColumnGrid {
    const float* rarr = nullptr;    // ndr radial nodes
    const float* thearr = nullptr;  // nthe polar nodes
    const float* rho = nullptr;     // rhodiffarr2d, ndr by nthe, first index fastest
    int ndr = 0;
    int nthe = 0;
};

// The view of the run's grid (glocold with remind::ndr).
ColumnGrid column_grid(const Run& run);

// Column between P1 = (rt, tt, azimuth phi) and P2 = (rs, ts, azimuth 0), in steps
// of one radial cell that end exactly at P1; 0 for a segment of length 0.
void intrho(Run& run, float rt, float tt, float rs, float ts, float phi, float& column);

// Column from P2 = (rs, ts, azimuth 0) towards P1 = (rt, tt, azimuth phi), on past
// P1, in steps of half a radial cell, up to the first step that ends at or
// beyond the radius rmax; 0 when rmax <= rs.
void intrhoext(Run& run, float rmax, float rt, float tt, float rs, float ts, float phi, float& column);

// The same integrals with the sines and cosines of the angles given (8-byte), for
// loops that visit the same angles many times (the pair loop takes them from the
// tables of CirrusGrid). Bit for bit the results of intrho and intrhoext.
float intrho_sc(const ColumnGrid& g, RayDirection& ray, float rt, double sin_tt, double cos_tt,
                float rs, double sin_ts, double cos_ts, double sin_phi, double cos_phi);
float intrhoext_sc(const ColumnGrid& g, RayDirection& ray, float rmax, float rt, double sin_tt,
                   double cos_tt, float rs, double sin_ts, double cos_ts, double sin_phi,
                   double cos_phi);

// The source cells of the pair loop, by their centres: the radius of each
// radial index, the sine and cosine of the azimuth of each azimuth index and of
// the polar angle of each polar index.
struct PairSources {
    int nr = 0, np = 0, nt = 0;  // radial, azimuth and polar source cells
    const float* rs = nullptr;   // nr radii
    const double* sin_phi = nullptr;
    const double* cos_phi = nullptr;  // np each
    const double* sin_the = nullptr;
    const double* cos_the = nullptr;  // nt each
    std::size_t pairs() const { return static_cast<std::size_t>(nr) * np * nt; }
};

// The columns from the target point (radius rt, polar angle with the given sine
// and cosine, azimuth phi) to every source cell, in the pair loop's visiting
// order (radial index outermost, then azimuth, then polar): out[q] for q from
// first to src.pairs() - 1, each as intrho_sc(g, ray, rt, sin_tt, cos_tt, rs,
// sin_the, cos_the, sin_phi, cos_phi) of its pair, bit for bit. ray ends as the
// direction of the last pair (untouched when there is none to compute).
//
// target_columns takes the vector lanes of the machine when it has them, and
// the scalar path otherwise; the two give the same bits.
void target_columns(const ColumnGrid& g, const PairSources& src, float rt, double sin_tt, double cos_tt,
                    std::size_t first, float* out, RayDirection& ray);
void target_columns_scalar(const ColumnGrid& g, const PairSources& src, float rt, double sin_tt,
                           double cos_tt, std::size_t first, float* out, RayDirection& ray);

// The march in vector lanes: several rays in flight, one per lane, each lane
// taking the next pair when its ray ends; the same operations in the same
// order and precision as intrho_sc, so the same bits. column_lanes_width is
// the widest lanes this machine has (x86-64: 8 doubles with AVX-512, 4 with
// AVX2; 0 without), column_lanes_available whether it has any.
// target_columns_lanes marches in lanes of the given width (0: the widest;
// a width the machine lacks: the next narrower it has); without lanes, or for
// a grid the lanes do not take, it is the scalar path.
int column_lanes_width();
bool column_lanes_available();
// The polar angles of the lanes' ray points: float(acos(arg)) for each of the
// n arguments in [-1, 1], as the march in lanes of the given width finds them
// (0: the widest); the width used, 0 when there are no lanes (std::acos).
std::size_t polar_angles_lanes(const double* arg, float* th, std::size_t n, int width);
void target_columns_lanes(const ColumnGrid& g, const PairSources& src, float rt, double sin_tt,
                          double cos_tt, std::size_t first, float* out, RayDirection& ray, int width = 0);

}  // namespace protrco

namespace cirrus {

// The optical-depth report (polar, equatorial, homogeneous and the conversion
// factor): each line is appended to lines (for the run log) and written on
// standard output; the depths are kept in the cirrus record.
void optical_depth_report(Run& run, std::vector<std::string>& lines);

}  // namespace cirrus

// The intrho cache: the pair columns of the radiation field divided by N0, kept
// in an unformatted sequential file (every record framed by its length in
// bytes as a 4-byte little-endian integer before and after it; integers and
// reals 4-byte little-endian):
//
//   igeo | rsur | zsur (disk geometries only) | ndr, nthearr, nphiarr |
//   one record per pair, one real each | the signature record
//
// The signature record, last in the file, makes a cache checkable: the text
// "QVINTRHO", a format version (4-byte integer), the number of pair records
// (8-byte integer), ndr, nthe, nphi, then the radial, polar and azimuth nodes and
// rhodiffarr2d / N0 at the nodes (4-byte reals). A file is complete when its size
// is exactly what its header, pair count and signature say; a complete file is
// used only for a run whose nodes and normalised densities agree with it to a
// relative 1e-4 and which needs the pairs it holds.
//
// A new cache is written to a temporary file beside the target and takes the
// target's name only when it is complete, so a stopped run never leaves a
// truncated cache; a file under the cache's name that is not an intrho file is
// never overwritten. Pair records are buffered in large blocks both ways.
//
// Use by the pair loop, one call per pair in the loop's visiting order:
//   mode 2 (parametri::intrho_w_r): cache.read_pair(q) gives the column as
//     q * N0; when it returns false (the file could not be read on) the column
//     is computed instead;
//   mode 1: the column is computed and cache.write_pair(column / N0) stores it;
//   mode 0: the column is computed.
class IntrhoCache {
public:
    IntrhoCache() = default;
    ~IntrhoCache();
    IntrhoCache(const IntrhoCache&) = delete;
    IntrhoCache& operator=(const IntrhoCache&) = delete;

    // Opening (the run has diffuse gas; after the pre-check). Mode 1 prepares a
    // new file; mode 2 opens the existing one and checks that it is complete,
    // falling back to mode 1 when it is missing or incomplete. A file under the
    // cache's name that is not an intrho file stops the run in either mode.
    void open(Run& run);

    // Header records: igeo, rsur, zsur. Mode 1 writes them; mode 2 compares them
    // with the file's (stops on a mismatch, or for the tav histories drops the
    // cache on an rsur mismatch: mode 0).
    void header_geometry(Run& run);
    // The grid-size record (after the grid sizes are known).
    void header_grid(Run& run);

    // What the columns depend on, once the densities are normalised: mode 1
    // keeps it for the signature; mode 2 compares it with the file's and falls
    // back to mode 1 (a new file) when the grid, the densities or the number of
    // pairs this run needs differ.
    void dependencies(Run& run, std::int64_t pairs_needed);

    // Next stored quotient (mode 2); false when there is none to read.
    bool read_pair(float& q) {
        if (rpos_ + 12 > rlen_ && !fill_block()) return false;
        q = get_record4(rbuf_.data() + rpos_);
        if (bad_record_) return false;
        rpos_ += 12;
        ++pairs_done_;
        return true;
    }
    // Stores one quotient (mode 1).
    void write_pair(float q) {
        if (mode_ != 1 || failed_ || finished_) return;
        if (wlen_ + 12 > wbuf_.size()) {
            flush_block();
            if (failed_ || wlen_ + 12 > wbuf_.size()) return;
        }
        put_record4(wbuf_.data() + wlen_, q);
        wlen_ += 12;
        ++pairs_done_;
    }

    // Completes the cache: mode 1 writes the signature and gives the file its
    // name; mode 2 closes it. A failure to write is reported on standard output
    // and the run goes on. Safe to call more than once.
    void finish(Run& run);
    // Drops an unfinished new file (a stopped run) and closes everything.
    void abandon();

    bool active() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }
    std::int64_t pairs_done() const { return pairs_done_; }
    std::int64_t pairs_in_file() const { return file_pairs_; }

private:
    static constexpr std::size_t kBlock = std::size_t(12) << 16;  // bytes per block: 65536 records

    // One framed record of a 4-byte real (12 bytes).
    static void put_record4(unsigned char* p, float v);
    float get_record4(const unsigned char* p);
    bool fill_block();
    void flush_block();
    void append_record(const unsigned char* p, std::size_t n);
    void start_new_file(Run& run);
    void write_geometry_records();  // igeo, rsur and (disk-like) zsur
    void write_grid_record();       // ndr, nthearr, nphiarr
    void write_header_records();    // those of the header known so far
    void close_fd();

    std::string path_;  // the cache's name (modname::name_intrho)
    std::string tmp_;   // the file being written (mode 1)
    int fd_ = -1;
    int mode_ = 0;  // 1 writing, 2 reading, 0 closed
    bool failed_ = false;
    int failed_errno_ = 0;
    bool bad_record_ = false;
    bool finished_ = false;
    std::int64_t pairs_done_ = 0;

    // Header values of this run (for a new file).
    int igeo_ = 0;
    float rsur_ = 0.0f, zsur_ = 0.0f;
    bool disk_ = false, have_geometry_ = false, have_grid_ = false;
    int ndr_ = 0, nthe_ = 0, nphi_ = 0;
    std::vector<float> dep_;  // nodes and normalised densities
    bool have_dep_ = false;

    // The existing file (mode 2).
    int f_igeo_ = 0;
    float f_rsur_ = 0.0f, f_zsur_ = 0.0f;
    int f_ndr_ = 0, f_nthe_ = 0, f_nphi_ = 0;
    std::vector<float> f_dep_;
    std::int64_t file_pairs_ = 0;
    std::int64_t pair_offset_ = 0;  // byte offset of the first pair record

    std::vector<unsigned char> wbuf_;  // pending output, wlen_ bytes used
    std::size_t wlen_ = 0;
    std::vector<unsigned char> rbuf_;  // block of pair records read ahead
    std::size_t rpos_ = 0, rlen_ = 0;
    std::int64_t pairs_buffered_ = 0;  // pairs read from the file into rbuf_ so far
};

namespace cirrus {

// Stops the run when the cache is switched on (intrho 1 or 2) and a file under
// its name exists that is not an intrho file (a mistyped nameintrho naming the
// par file, say): it is neither read nor overwritten. The opening of the cache
// makes the same check; a caller may make it earlier, before any work.
void check_cache_file(const Run& run);

// The cache pre-check of igeo -1 (the ratio rddiff/rcstar against the range of
// the history); a ratio out of range switches the cache off and the run goes on
// as the standard calculation (its own galaxy radius).
void cache_precheck(Run& run, float fgas);

}  // namespace cirrus

}  // namespace qv
