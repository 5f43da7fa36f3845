#include "core/console.h"

#include <cctype>
#include <csignal>
#include <ctime>
#include <iostream>
#include <string>

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "core/stop.h"

namespace qv {

void throw_io_error(const std::string& file, long line, const std::string& what) {
    std::string msg = file;
    if (line > 0) msg += ":" + std::to_string(line);
    msg += ": " + what;
    throw IoError(msg);
}

namespace {

bool real_stdin_interactive() {
    if (isatty(STDIN_FILENO)) return true;
    struct stat st {};
    if (fstat(STDIN_FILENO, &st) == 0 && S_ISSOCK(st.st_mode)) return true;
    return false;
}

void real_wait_for_sigterm() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    int sig = 0;
    sigwait(&set, &sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

double real_cpu_seconds() {
    struct timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

double real_wall_seconds() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

int real_clock_mmssms() {
    struct timeval tv {};
    gettimeofday(&tv, nullptr);
    struct tm lt {};
    time_t secs = tv.tv_sec;
    localtime_r(&secs, &lt);
    return lt.tm_min * 100000 + lt.tm_sec * 1000 + static_cast<int>(tv.tv_usec / 1000);
}

}  // namespace

Console::Console()
    : out(&std::cout),
      err(&std::cerr),
      in(&std::cin),
      stdin_interactive(real_stdin_interactive),
      wait_for_sigterm(real_wait_for_sigterm),
      pid([] { return static_cast<long>(getpid()); }),
      cpu_seconds(real_cpu_seconds),
      wall_seconds(real_wall_seconds),
      clock_mmssms(real_clock_mmssms) {}

// Each line is flushed: standard output sent to a file is block-buffered, and
// a run that is killed would leave nothing of how far it got.
void Console::line(const std::string& s) const { *out << s << '\n' << std::flush; }
void Console::err_line(const std::string& s) const { *err << s << '\n' << std::flush; }

Console& process_console() {
    static Console c;
    return c;
}

void pause_point(const Console& con, const std::string& msg) {
    *con.out << msg << '\n';
    if (!con.stdin_interactive()) {
        *con.out << "To continue from background, execute 'kill -15 " << con.pid() << "'"
                 << std::endl;
        con.wait_for_sigterm();
        return;
    }
    *con.out << "PAUSE prompt> " << std::flush;
    std::string answer;
    if (!std::getline(*con.in, answer)) answer.clear();
    // Blanks around the answer are not part of it.
    while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back()))) answer.pop_back();
    std::size_t b = 0;
    while (b < answer.size() && std::isspace(static_cast<unsigned char>(answer[b]))) ++b;
    answer.erase(0, b);
    static const std::string word = "CONTINUE";
    bool go_on = answer.size() <= word.size();
    for (std::size_t i = 0; go_on && i < answer.size(); ++i)
        go_on = std::toupper(static_cast<unsigned char>(answer[i])) == word[i];
    if (!go_on) throw Stop(std::vector<std::string>{});
}

}  // namespace qv
