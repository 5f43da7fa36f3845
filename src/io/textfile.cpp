#include "io/textfile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/stop.h"

namespace qv {

namespace {

std::string errno_text(int err) { return std::strerror(err); }

// Reads the whole of an open descriptor into text; false with errno on failure.
bool read_all(int fd, std::string& text) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return false;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    std::size_t cap = st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0;
    text.resize(cap > 0 ? cap : 4096);
    std::size_t got = 0;
    while (true) {
        if (got == text.size()) text.resize(text.size() * 2);
        ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    return true;
}

// Writes all of text to fd; false with errno on failure.
bool write_all(int fd, const std::string& text) {
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

TextFile TextFile::open(const std::string& path) {
    TextFile f;
    f.name_ = path;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw_io_error(path, 0, "cannot open file (" + errno_text(errno) + ")");
    if (!read_all(fd, f.text_)) {
        int err = errno;
        ::close(fd);
        throw_io_error(path, 0, "cannot read file (" + errno_text(err) + ")");
    }
    ::close(fd);
    f.split();
    return f;
}

TextFile TextFile::from_string(std::string name, std::string text) {
    TextFile f;
    f.name_ = std::move(name);
    f.text_ = std::move(text);
    f.split();
    return f;
}

void TextFile::split() {
    lines_.clear();
    pos_ = 0;
    const char* base = text_.data();
    const std::size_t n = text_.size();
    std::size_t start = 0;
    while (start < n) {
        const void* nl = std::memchr(base + start, '\n', n - start);
        std::size_t end = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - base) : n;
        std::size_t len = end - start;
        if (len > 0 && base[start + len - 1] == '\r') --len;
        lines_.push_back(Span{start, len});
        start = end + 1;
    }
}

bool TextFile::next(std::string_view& line) {
    if (pos_ >= lines_.size()) return false;
    line = this->line(pos_++);
    return true;
}

bool TextFile::peek(std::string_view& line) const {
    if (pos_ >= lines_.size()) return false;
    line = this->line(pos_);
    return true;
}

void TextFile::fail(const std::string& what) const {
    long ln = 0;
    if (pos_ > 0)
        ln = static_cast<long>(pos_ > lines_.size() ? lines_.size() : pos_);
    else if (!lines_.empty())
        ln = 1;
    throw_io_error(name_, ln, what);
}

bool file_exists(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    ::close(fd);
    return ok;
}

void write_file_atomic(const std::string& path, const std::string& text) {
    std::random_device rd;
    std::string tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmp = path + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(rd() % 1000000u);
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) throw_io_error(path, 0, "cannot create file (" + errno_text(errno) + ")");
    bool ok = write_all(fd, text);
    int err = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && std::rename(tmp.c_str(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        throw_io_error(path, 0, "cannot write file (" + errno_text(err) + ")");
    }
}

void append_existing(const std::string& path, const std::string& text) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) throw_io_error(path, 0, "cannot open file for appending (" + errno_text(errno) + ")");
    bool ok = write_all(fd, text);
    int err = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) throw_io_error(path, 0, "cannot append to file (" + errno_text(err) + ")");
}

}  // namespace qv
