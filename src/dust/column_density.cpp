#include "dust/predust.h"
#include "dust/column_density.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/parfile.h"
#include "core/run.h"
#include "core/stop.h"
#include "dust/cirrus_grid.h"
#include "io/format.h"
#include "dust/column_ray.h"
#include "numerics/search.h"

namespace qv {

// ---------------------------------------------------------------------------
// Ray integrations.

namespace protrco {

using namespace ray;

ColumnGrid column_grid(const Run& run) {
    const CirrusGrid& g = run.glocold;
    ColumnGrid v;
    v.rarr = g.rarr.data();
    v.thearr = g.thearr.data();
    v.rho = g.rhodiffarr2d.data();
    v.ndr = run.remind.ndr;
    v.nthe = g.nthearr;
    return v;
}

float intrho_sc(const ColumnGrid& g, RayDirection& ray, float rt, double sin_tt, double cos_tt,
                float rs, double sin_ts, double cos_ts, double sin_phi, double cos_phi) {
    const float d = static_cast<float>(set_direction(ray, rt, sin_tt, cos_tt, rs, sin_ts, cos_ts, sin_phi, cos_phi));
    if (!(d > 0.0f)) return 0.0f;
    const RayPoints pts(ray, rs);
    const float* rarr = g.rarr;
    float s = 0.0f, r = rs, th = 0.0f, col = 0.0f;
    int jr = 0, j1 = 0, j2 = 0;
    do {
        jr = clamp_cell(hunt_up(rarr, g.ndr, r, jr), g.ndr);
        const float delta = std::min(rarr[jr] - rarr[jr - 1], d - s);
        s = s + delta;
        pts.at(s, r, th);
        col = col + density(g, r, th, j1, j2) * delta;
    } while (s < d);
    return col * 1000.0f;
}

float intrhoext_sc(const ColumnGrid& g, RayDirection& ray, float rmax, float rt, double sin_tt,
                   double cos_tt, float rs, double sin_ts, double cos_ts, double sin_phi,
                   double cos_phi) {
    set_direction(ray, rt, sin_tt, cos_tt, rs, sin_ts, cos_ts, sin_phi, cos_phi);
    if (rmax <= rs) return 0.0f;
    const RayPoints pts(ray, rs);
    const float* rarr = g.rarr;
    float s = 0.0f, r = rs, th = 0.0f, col = 0.0f;
    int jr = 0, j1 = 0, j2 = 0;
    do {
        jr = clamp_cell(hunt_up(rarr, g.ndr, r, jr), g.ndr);
        const float delta = 0.5f * (rarr[jr] - rarr[jr - 1]);
        s = s + delta;
        pts.at(s, r, th);
        col = col + density(g, r, th, j1, j2) * delta;
    } while (r < rmax);
    return col * 1000.0f;
}

void target_columns_scalar(const ColumnGrid& g, const PairSources& src, float rt, double sin_tt,
                           double cos_tt, std::size_t first, float* out, RayDirection& ray) {
    const std::size_t per_r = static_cast<std::size_t>(src.np) * src.nt;
    const std::size_t n = src.pairs();
    for (std::size_t q = first; q < n; ++q) {
        const std::size_t ir = q / per_r, rem = q % per_r;
        const std::size_t ip = rem / src.nt, ith = rem % src.nt;
        out[q] = intrho_sc(g, ray, rt, sin_tt, cos_tt, src.rs[ir], src.sin_the[ith], src.cos_the[ith],
                           src.sin_phi[ip], src.cos_phi[ip]);
    }
}

void target_columns(const ColumnGrid& g, const PairSources& src, float rt, double sin_tt, double cos_tt,
                    std::size_t first, float* out, RayDirection& ray) {
    if (column_lanes_available())
        target_columns_lanes(g, src, rt, sin_tt, cos_tt, first, out, ray);
    else
        target_columns_scalar(g, src, rt, sin_tt, cos_tt, first, out, ray);
}

namespace {
inline double dsin(float a) { return std::sin(static_cast<double>(a)); }
inline double dcos(float a) { return std::cos(static_cast<double>(a)); }
}  // namespace

void intrho(Run& run, float rt, float tt, float rs, float ts, float phi, float& column) {
    column = intrho_sc(column_grid(run), run.protrco, rt, dsin(tt), dcos(tt), rs, dsin(ts), dcos(ts),
                       dsin(phi), dcos(phi));
}

void intrhoext(Run& run, float rmax, float rt, float tt, float rs, float ts, float phi, float& column) {
    column = intrhoext_sc(column_grid(run), run.protrco, rmax, rt, dsin(tt), dcos(tt), rs, dsin(ts),
                          dcos(ts), dsin(phi), dcos(phi));
}

}  // namespace protrco

// ---------------------------------------------------------------------------
// The optical-depth report.

namespace cirrus {

void optical_depth_report(Run& run, std::vector<std::string>& lines) {
    CirrusRun& cr = run.cirrus;
    const CloudSetup& gp = run.glopalla;
    const float rlast = run.glocold.rarr(run.remind.ndr);
    auto emit = [&](const std::vector<std::string>& recs) {
        for (const auto& l : recs) {
            lines.push_back(l);
            run.con.line(l);
        }
    };

    float cp = 0.0f;
    protrco::intrhoext(run, rlast, 10.0f * rlast, 0.0f, 0.0f, 0.0f, 0.0f, cp);
    cr.taup1 = gp.klama / 1.673e-24f * 2.0f * cp * 0.0002222f;
    cr.taup044 = mix::mixcold(run, 0.44f) / 1.673e-24f * 2.0f * cp * 0.0002222f;
    emit(fio::write_records("(/' Polar tau cirrus at 1 and 0.44 micron =',G12.4,G12.4)", {cr.taup1, cr.taup044}));

    float ce = 0.0f;
    protrco::intrhoext(run, rlast, 10.0f * rlast, 1.5707964f, 0.0f, 0.0f, 0.0f, ce);
    cr.taue = gp.klama / 1.673e-24f * 2.0f * ce * 0.0002222f;
    emit(fio::write_records("(' Equatorial tau cirrus at 1 micron =',G12.4)", {cr.taue}));

    const float rgalpc = run.parametri.rgalpc;
    cr.tauh = 3.0f * cr.Mdiff * 1e12f * 0.5f / 3.1415927f / (rgalpc * rgalpc) * gp.klama / 1.673e-24f / 3.086e18f *
              2e33f / 3.086e18f;
    emit(fio::write_records("(' Tau cirrus at 1 micron if it were homogeneous =',G12.4)", {cr.tauh}));

    // 0 when the dust has no absorption at 1 micron (the ratio has no value).
    emit(fio::write_records("(' Conversion factor to tau_extinction =',G12.4)",
                            {gp.klama != 0.0f ? gp.klam / gp.klama : 0.0f}));
}

}  // namespace cirrus

// ---------------------------------------------------------------------------
// The intrho cache.

namespace {

constexpr char kMagic[8] = {'Q', 'V', 'I', 'N', 'T', 'R', 'H', 'O'};
constexpr std::int32_t kVersion = 1;
constexpr std::size_t kSigFixed = 8 + 4 + 8 + 12;  // magic, version, pair count, three sizes
constexpr float kDepTolerance = 1e-4f;

void put_u32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}
std::uint32_t get_u32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void put_i32(unsigned char* p, std::int32_t v) { put_u32(p, static_cast<std::uint32_t>(v)); }
std::int32_t get_i32(const unsigned char* p) { return static_cast<std::int32_t>(get_u32(p)); }
void put_f32(unsigned char* p, float v) { put_u32(p, std::bit_cast<std::uint32_t>(v)); }
float get_f32(const unsigned char* p) { return std::bit_cast<float>(get_u32(p)); }
void put_i64(unsigned char* p, std::int64_t v) {
    const auto u = static_cast<std::uint64_t>(v);
    put_u32(p, static_cast<std::uint32_t>(u));
    put_u32(p + 4, static_cast<std::uint32_t>(u >> 32));
}
std::int64_t get_i64(const unsigned char* p) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(get_u32(p)) |
                                     (static_cast<std::uint64_t>(get_u32(p + 4)) << 32));
}

std::string errtext(int e) { return std::strerror(e); }

bool disk_geometry(int igeo) { return igeo != 0 && igeo != 1; }

// Reads n bytes at offset; false when the file is shorter or cannot be read.
bool read_at(int fd, unsigned char* p, std::size_t n, std::int64_t off) {
    while (n > 0) {
        const ssize_t k = ::pread(fd, p, n, static_cast<off_t>(off));
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        p += k;
        n -= static_cast<std::size_t>(k);
        off += k;
    }
    return true;
}

bool write_all_fd(int fd, const unsigned char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t k = ::write(fd, p, n);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return true;
}

enum class FileKind { Missing, Empty, Cache, Foreign };

// What a file under the cache's name is. An intrho file begins with the framed
// records of igeo (a geometry -1..5) and rsur.
FileKind classify(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno == ENOENT ? FileKind::Missing : FileKind::Foreign;
    if (!S_ISREG(st.st_mode)) return FileKind::Foreign;
    if (st.st_size == 0) return FileKind::Empty;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return FileKind::Foreign;
    unsigned char b[24] = {};
    const std::size_t n = static_cast<std::size_t>(std::min<off_t>(st.st_size, 24));
    const bool ok = read_at(fd, b, n, 0);
    ::close(fd);
    if (!ok) return FileKind::Foreign;
    // Each check applies to the bytes the file has.
    auto marker_ok = [&](std::size_t at) { return at + 4 > n || get_u32(b + at) == 4u; };
    if (!marker_ok(0) || !marker_ok(8) || !marker_ok(12) || !marker_ok(20)) return FileKind::Foreign;
    if (n >= 8) {
        const std::int32_t ig = get_i32(b + 4);
        if (ig < -1 || ig > 5) return FileKind::Foreign;
    }
    // A marker is 4 bytes: fewer cannot be recognised.
    return n >= 4 ? FileKind::Cache : FileKind::Foreign;
}

[[noreturn]] void refuse_foreign(const std::string& path) {
    throw Stop(std::vector<std::string>{
        fio::list_line({"ERROR: file ", path, " is not an intrho file: it is neither read nor overwritten"}),
        fio::list_line({"(check the intrho file name, command-line key nameintrho)"})});
}

}  // namespace

namespace cirrus {

void check_cache_file(const Run& run) {
    const int mode = run.parametri.intrho_w_r;
    if (mode != 1 && mode != 2) return;
    const std::string path = trim_right(run.modname.name_intrho);
    if (classify(path) == FileKind::Foreign) refuse_foreign(path);
}

}  // namespace cirrus

IntrhoCache::~IntrhoCache() { abandon(); }

void IntrhoCache::close_fd() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    rpos_ = rlen_ = 0;  // nothing read ahead outlives the file
}

void IntrhoCache::abandon() {
    close_fd();
    if (mode_ == 1 && !finished_ && !tmp_.empty()) ::unlink(tmp_.c_str());
    if (!finished_) mode_ = 0;
    tmp_.clear();
}

void IntrhoCache::put_record4(unsigned char* p, float v) {
    put_u32(p, 4u);
    put_f32(p + 4, v);
    put_u32(p + 8, 4u);
}

float IntrhoCache::get_record4(const unsigned char* p) {
    if (get_u32(p) != 4u || get_u32(p + 8) != 4u) {
        bad_record_ = true;
        failed_ = true;
        return 0.0f;
    }
    return get_f32(p + 4);
}

void IntrhoCache::append_record(const unsigned char* p, std::size_t n) {
    unsigned char m[4];
    put_u32(m, static_cast<std::uint32_t>(n));
    auto add = [&](const unsigned char* q, std::size_t k) {
        while (k > 0) {
            if (wlen_ == wbuf_.size()) flush_block();
            if (failed_) return;
            const std::size_t c = std::min(k, wbuf_.size() - wlen_);
            std::memcpy(wbuf_.data() + wlen_, q, c);
            wlen_ += c;
            q += c;
            k -= c;
        }
    };
    add(m, 4);
    add(p, n);
    add(m, 4);
}

void IntrhoCache::flush_block() {
    if (mode_ != 1 || failed_ || fd_ < 0) {
        wlen_ = 0;
        return;
    }
    if (wlen_ > 0 && !write_all_fd(fd_, wbuf_.data(), wlen_)) {
        failed_ = true;
        failed_errno_ = errno;
    }
    wlen_ = 0;
}

bool IntrhoCache::fill_block() {
    if (mode_ != 2 || failed_ || fd_ < 0) return false;
    const std::int64_t left = file_pairs_ - pairs_buffered_;
    if (left <= 0) return false;
    const std::int64_t n = std::min<std::int64_t>(left, static_cast<std::int64_t>(kBlock / 12));
    const std::size_t bytes = static_cast<std::size_t>(n) * 12;
    if (rbuf_.size() < bytes) rbuf_.resize(kBlock);
    if (!read_at(fd_, rbuf_.data(), bytes, pair_offset_ + pairs_buffered_ * 12)) {
        failed_ = true;
        failed_errno_ = errno;
        return false;
    }
    pairs_buffered_ += n;
    rpos_ = 0;
    rlen_ = bytes;
    return true;
}

void IntrhoCache::start_new_file(Run& run) {
    close_fd();
    std::random_device rd;
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        tmp_ = path_ + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(rd() % 1000000u);
        fd_ = ::open(tmp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) {
        const int e = errno;
        tmp_.clear();
        throw_io_error(path_, 0, "cannot create the intrho file beside it (" + errtext(e) + ")");
    }
    mode_ = 1;
    run.parametri.intrho_w_r = 1;
    failed_ = false;
    finished_ = false;
    pairs_done_ = 0;
    wbuf_.assign(kBlock, 0);
    wlen_ = 0;
    run.con.line(fio::list_line({"Writing new quelvo.intrho to ", path_}));
}

void IntrhoCache::write_geometry_records() {
    unsigned char b[4];
    put_i32(b, igeo_);
    append_record(b, 4);
    put_f32(b, rsur_);
    append_record(b, 4);
    if (disk_) {
        put_f32(b, zsur_);
        append_record(b, 4);
    }
}

void IntrhoCache::write_grid_record() {
    unsigned char b[12];
    put_i32(b, ndr_);
    put_i32(b + 4, nthe_);
    put_i32(b + 8, nphi_);
    append_record(b, 12);
}

void IntrhoCache::write_header_records() {
    if (have_geometry_) write_geometry_records();
    if (have_grid_) write_grid_record();
}

void IntrhoCache::open(Run& run) {
    RunParameters& p = run.parametri;
    abandon();  // whatever an earlier call left open
    mode_ = 0;
    finished_ = false;
    if (p.intrho_w_r != 1 && p.intrho_w_r != 2) return;
    path_ = trim_right(run.modname.name_intrho);
    mode_ = 0;
    finished_ = false;
    failed_ = false;
    bad_record_ = false;
    have_geometry_ = have_grid_ = have_dep_ = false;
    pairs_done_ = 0;
    file_pairs_ = 0;
    pairs_buffered_ = 0;
    rpos_ = rlen_ = 0;

    const FileKind kind = classify(path_);
    if (kind == FileKind::Foreign) refuse_foreign(path_);

    if (p.intrho_w_r == 1) {
        start_new_file(run);
        return;
    }

    if (kind == FileKind::Missing) {
        run.con.line(fio::list_line({"WARNING: intrho_w_r = 2 but no file ", path_}));
        run.con.line(fio::list_line({"I force intrho to 1 and write new quelvo.intrho to ", path_}));
        start_new_file(run);
        return;
    }
    fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        run.con.line(fio::list_line({"WARNING: intrho_w_r = 2 but no file ", path_}));
        run.con.line(fio::list_line({"I force intrho to 1 and write new quelvo.intrho to ", path_}));
        start_new_file(run);
        return;
    }
    mode_ = 2;
    run.con.line(fio::list_line({"Trying to use existing intrho file ", path_}));

    // Is the file complete? Header, pair records, signature, and nothing more.
    std::string why;
    auto parse = [&]() -> bool {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) {
            why = "it cannot be read";
            return false;
        }
        const std::int64_t size = st.st_size;
        unsigned char h[56] = {};
        const std::int64_t hn = std::min<std::int64_t>(size, 56);
        if (!read_at(fd_, h, static_cast<std::size_t>(hn), 0)) {
            why = "it cannot be read";
            return false;
        }
        auto rec = [&](std::int64_t at, std::uint32_t len) {
            return at + 8 + len <= hn && get_u32(h + at) == len && get_u32(h + at + 4 + len) == len;
        };
        if (!rec(0, 4) || !rec(12, 4)) {
            why = "it ends inside its header";
            return false;
        }
        f_igeo_ = get_i32(h + 4);
        f_rsur_ = get_f32(h + 16);
        std::int64_t at = 24;
        if (disk_geometry(f_igeo_)) {
            if (!rec(24, 4)) {
                why = "it ends inside its header";
                return false;
            }
            f_zsur_ = get_f32(h + 28);
            at = 36;
        }
        if (!rec(at, 12)) {
            why = "it ends inside its header";
            return false;
        }
        f_ndr_ = get_i32(h + at + 4);
        f_nthe_ = get_i32(h + at + 8);
        f_nphi_ = get_i32(h + at + 12);
        pair_offset_ = at + 20;
        if (f_ndr_ < 1 || f_nthe_ < 1 || f_nphi_ < 1 || f_ndr_ > 100000 || f_nthe_ > 100000 || f_nphi_ > 100000) {
            why = "its grid sizes are not valid";
            return false;
        }
        const std::int64_t ndep = static_cast<std::int64_t>(f_ndr_) + f_nthe_ + f_nphi_ +
                                  static_cast<std::int64_t>(f_ndr_) * f_nthe_;
        const std::int64_t sig = static_cast<std::int64_t>(kSigFixed) + 4 * ndep;
        if (size < pair_offset_ + sig + 8) {
            why = "it has no signature record (written by an unfinished run or by another program)";
            return false;
        }
        std::vector<unsigned char> s(static_cast<std::size_t>(sig + 8));
        if (!read_at(fd_, s.data(), s.size(), size - sig - 8) || get_u32(s.data()) != static_cast<std::uint32_t>(sig) ||
            get_u32(s.data() + 4 + sig) != static_cast<std::uint32_t>(sig) ||
            std::memcmp(s.data() + 4, kMagic, 8) != 0) {
            why = "it has no signature record (written by an unfinished run or by another program)";
            return false;
        }
        const unsigned char* q = s.data() + 4 + 8;
        if (get_i32(q) != kVersion) {
            why = "its signature record is of another format version";
            return false;
        }
        file_pairs_ = get_i64(q + 4);
        if (get_i32(q + 12) != f_ndr_ || get_i32(q + 16) != f_nthe_ || get_i32(q + 20) != f_nphi_ || file_pairs_ < 0) {
            why = "its signature does not match its header";
            return false;
        }
        if (size != pair_offset_ + 12 * file_pairs_ + sig + 8) {
            why = "its size does not match the number of pair records it declares";
            return false;
        }
        f_dep_.resize(static_cast<std::size_t>(ndep));
        for (std::size_t k = 0; k < f_dep_.size(); ++k) f_dep_[k] = get_f32(q + 24 + 4 * k);
        // The first and the last pair record are framed as 4-byte reals.
        if (file_pairs_ > 0) {
            unsigned char r[12];
            for (std::int64_t at2 : {pair_offset_, pair_offset_ + 12 * (file_pairs_ - 1)}) {
                if (!read_at(fd_, r, 12, at2) || get_u32(r) != 4u || get_u32(r + 8) != 4u) {
                    why = "its pair records are not framed as 4-byte reals";
                    return false;
                }
            }
        }
        return true;
    };
    if (!parse()) {
        run.con.line(fio::list_line({"WARNING: intrho file ", path_, " is incomplete: ", why}));
        run.con.line(fio::list_line({"I force intrho to 1 and write new quelvo.intrho to ", path_}));
        start_new_file(run);
    }
}

void IntrhoCache::header_geometry(Run& run) {
    RunParameters& p = run.parametri;
    igeo_ = p.igeo;
    rsur_ = p.rsur;
    zsur_ = p.zsur;
    disk_ = disk_geometry(p.igeo);
    have_geometry_ = true;
    if (mode_ == 1) {
        write_geometry_records();
        return;
    }
    if (mode_ != 2) return;

    if (f_igeo_ != p.igeo)
        throw Stop(fio::list_line({"ERROR: intrho_w_r = 2 but different geometry", " (IGEO) in intrho file ", path_}));

    const float r0 = f_rsur_;
    const float dr = std::fabs(r0 / p.rsur - 1.0f);
    run.con.line(fio::list_line({dr}));
    if (dr > 1e-4f) {
        const int istarfo = run.glotauspe.istarfo;
        if (istarfo == 4 || istarfo == 5) {
            run.con.line(fio::list_line({"WARNING: intrho_w_r = 2 rdiff/rgal mismatch", " in intrho file ", path_}));
            run.con.line(fio::list_line({r0, " in file but now is", p.rsur}));
            run.con.line(fio::list_line({"I force intrho to 0 and proceed"}));
            close_fd();
            mode_ = 0;
            p.intrho_w_r = 0;
            // The run goes on as the standard calculation.
            standard_galaxy_radius(run);
            return;
        }
        throw Stop(std::vector<std::string>{
            fio::list_line({"ERROR: intrho_w_r = 2 rdiff/rgal mismatch", " in intrho file ", path_}),
            fio::list_line({r0, " in file but now is", p.rsur})});
    }
    if (disk_) {
        const float z0 = f_zsur_;
        if (std::fabs(z0 / p.zsur - 1.0f) > 1e-4f)
            throw Stop(std::vector<std::string>{
                fio::list_line({"ERROR: intrho_w_r = 2 zdiff/rgal mismatch", " in intrho file ", path_}),
                fio::list_line({z0, " in file but now is", p.zsur})});
    }
}

void IntrhoCache::header_grid(Run& run) {
    ndr_ = run.remind.ndr;
    nthe_ = run.glocold.nthearr;
    nphi_ = run.glocold.nphiarr;
    have_grid_ = true;
    if (mode_ == 1) {
        write_grid_record();
        return;
    }
    if (mode_ != 2) return;
    if (f_ndr_ != ndr_ || f_nthe_ != nthe_ || f_nphi_ != nphi_)
        throw Stop(std::vector<std::string>{
            fio::list_line({"ERROR: intrho_w_r = 2 but grid dimension mismatch", " in intrho file ", path_}),
            fio::list_line({f_ndr_, f_nthe_, f_nphi_, " in file"}),
            fio::list_line({ndr_, nthe_, nphi_, " now"})});
}

void IntrhoCache::dependencies(Run& run, std::int64_t pairs_needed) {
    if (mode_ != 1 && mode_ != 2) return;
    const CirrusGrid& g = run.glocold;
    const float n0 = run.cirrus.N0;
    dep_.clear();
    dep_.reserve(static_cast<std::size_t>(ndr_ + nthe_ + nphi_ + ndr_ * nthe_));
    for (int i = 1; i <= ndr_; ++i) dep_.push_back(g.rarr(i));
    for (int j = 1; j <= nthe_; ++j) dep_.push_back(g.thearr(j));
    for (int k = 1; k <= nphi_; ++k) dep_.push_back(g.phiarr(k));
    for (int j = 1; j <= nthe_; ++j)
        for (int i = 1; i <= ndr_; ++i) dep_.push_back(g.rhodiffarr2d(i, j) / n0);
    have_dep_ = true;
    if (mode_ != 2) return;

    // Nodes agree to a relative 1e-4; densities too, except where they are below
    // 1e-12 of the peak (those add nothing to a column, and their last digits
    // depend on the dust mass).
    bool same = f_dep_.size() == dep_.size();
    const std::size_t first_density = static_cast<std::size_t>(ndr_ + nthe_ + nphi_);
    float peak = 0.0f;
    for (std::size_t k = first_density; k < dep_.size(); ++k) peak = std::max(peak, std::fabs(dep_[k]));
    for (std::size_t k = 0; same && k < dep_.size(); ++k) {
        const float a = dep_[k], b = f_dep_[k];
        const float floor = k >= first_density ? 1e-12f * peak : 0.0f;
        same = a == b || std::fabs(a - b) <= kDepTolerance * std::max(std::fabs(a), std::fabs(b)) + floor;
    }
    const bool enough = pairs_needed == 0 || pairs_needed == file_pairs_;
    if (same && enough) {
        rpos_ = rlen_ = 0;
        pairs_buffered_ = 0;
        pairs_done_ = 0;
        return;
    }
    if (!same)
        run.con.line(fio::list_line({"WARNING: intrho_w_r = 2 but the grid or the dust densities of this model differ from those of intrho file ",
                                     path_}));
    else
        run.con.line(fio::list_line({"WARNING: intrho_w_r = 2 but intrho file ", path_, " holds", file_pairs_,
                                     " pair records and this run needs", pairs_needed}));
    run.con.line(fio::list_line({"I force intrho to 1 and write new quelvo.intrho to ", path_}));
    start_new_file(run);
    write_header_records();
}

void IntrhoCache::finish(Run& run) {
    if (finished_) return;
    if (mode_ == 2) {
        close_fd();
        finished_ = true;
        if (failed_)
            run.con.line(fio::list_line({"WARNING: intrho file ", path_, " could not be read after", pairs_done_,
                                         " pair records; the other columns were computed"}));
        return;
    }
    if (mode_ != 1) return;
    // The signature record: what the columns depend on and how many pairs there are.
    if (have_grid_ && have_dep_ && !failed_) {
        std::vector<unsigned char> s(kSigFixed + 4 * dep_.size());
        std::memcpy(s.data(), kMagic, 8);
        put_i32(s.data() + 8, kVersion);
        put_i64(s.data() + 12, pairs_done_);
        put_i32(s.data() + 20, ndr_);
        put_i32(s.data() + 24, nthe_);
        put_i32(s.data() + 28, nphi_);
        for (std::size_t k = 0; k < dep_.size(); ++k) put_f32(s.data() + kSigFixed + 4 * k, dep_[k]);
        append_record(s.data(), s.size());
    } else if (!failed_) {
        failed_ = true;
        failed_errno_ = 0;
    }
    flush_block();
    bool ok = !failed_;
    int err = failed_errno_;
    if (fd_ >= 0 && ::close(fd_) != 0 && ok) {
        ok = false;
        err = errno;
    }
    fd_ = -1;
    if (ok && std::rename(tmp_.c_str(), path_.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(tmp_.c_str());
        run.con.line(fio::list_line({"WARNING: intrho file ", path_, " not written (",
                                     err != 0 ? errtext(err) : std::string("incomplete"),
                                     "); the run goes on without it"}));
    }
    tmp_.clear();
    finished_ = true;
    wbuf_.clear();
    wbuf_.shrink_to_fit();
}

// ---------------------------------------------------------------------------
// The pre-check.

namespace cirrus {

void cache_precheck(Run& run, float fgas) {
    RunParameters& p = run.parametri;
    if (p.igeo != -1 || p.intrho_w_r == 0) return;
    const Glotauspe& g = run.glotauspe;
    const float q = p.rddiff / p.rcstar;
    const std::string head = " rddiff/rcstar = " + fio::edit_g(q, 10, 2);
    float lo = 0.5f;
    if (g.f_tgal == 0.0f && !g.current_burst) lo = fgas < 0.01f ? 1.0f : 4.0f;
    const float hi = g.magbsut < 0.1f ? 300.0f : 50.0f;
    const std::string name = trim_right(run.modname.name_intrho);
    if (lo <= q && q <= hi) {
        if (p.intrho_w_r == 1)
            run.con.line(head + " OK, se ho gas genero nuovo file " + name);
        else
            run.con.line(head + " OK, provo ad usare il file " + name + " esistente");
        return;
    }
    run.con.line(head + fio::list_line({" fuori range", lo, hi, " per usare intrho=", p.intrho_w_r}));
    run.con.line(fio::list_line({" forzo intrho a 0 e faccio calcolo standard."}));
    p.intrho_w_r = 0;
    // The standard calculation has its own galaxy radius.
    standard_galaxy_radius(run);
}

}  // namespace cirrus

}  // namespace qv
