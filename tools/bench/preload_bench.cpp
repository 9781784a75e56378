// preload_bench: what the launcher's interposition library costs a program that
// makes many ioctl calls on descriptors that are not virtual ports. Each round runs
// the same child twice, once plainly and once through quorlinvcp-run (the order
// alternating from round to round), and the child times its own loop; the figures
// are medians over the rounds.
//   preload_bench [--rounds N] [--calls N]
// Loops: FIONREAD on a pipe (a request the library passes on at once); on a
// pseudo-terminal that is no port, the TCGETS ioctl, tcgetattr, and tcsetattr of
// the settings it holds (settings calls are the ones the library looks at).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// The child: the loop's time in nanoseconds on stdout.
int child(const char* kind, long calls)
{
    int fd = -1;
    unsigned long request = 0;
    int fds[2];
    if (!std::strcmp(kind, "fionread")) {
        if (::pipe(fds) != 0)
            return 1;
        fd = fds[0];
        request = FIONREAD;
    } else {
        fd = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0)
            return 1;
        fd = ::open(::ptsname(fd), O_RDWR | O_NOCTTY);
        request = TCGETS;
    }
    termios t{};
    if (request != FIONREAD && ::tcgetattr(fd, &t) != 0)
        return 1;
    int pending = 0;
    void* arg = request == FIONREAD ? static_cast<void*>(&pending) : static_cast<void*>(&t);
    const auto start = std::chrono::steady_clock::now();
    if (!std::strcmp(kind, "tcgetattr")) {
        for (long i = 0; i < calls; ++i)
            if (::tcgetattr(fd, &t) != 0)
                return 1;
    } else if (!std::strcmp(kind, "tcsetattr")) {
        for (long i = 0; i < calls; ++i)
            if (::tcsetattr(fd, TCSANOW, &t) != 0)
                return 1;
    } else {
        for (long i = 0; i < calls; ++i)
            if (::ioctl(fd, request, arg) != 0)
                return 1;
    }
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count();
    std::printf("%lld\n", static_cast<long long>(ns));
    return 0;
}

std::string ownFolder()
{
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    const std::string exe(path, n > 0 ? static_cast<std::size_t>(n) : 0);
    return exe.substr(0, exe.rfind('/'));
}

// Runs the child and gives back its time in ms, or a negative value on failure.
double timed(const std::string& command)
{
    FILE* out = ::popen(command.c_str(), "r");
    if (!out)
        return -1;
    long long ns = -1;
    if (std::fscanf(out, "%lld", &ns) != 1)
        ns = -1;
    return ::pclose(out) == 0 && ns >= 0 ? static_cast<double>(ns) / 1e6 : -1;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && !std::strcmp(argv[1], "--child"))
        return child(argv[2], std::atol(argv[3]));
    int rounds = 11;
    long calls = 1000000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--calls"))
            calls = std::max(1L, std::atol(argv[i + 1]));
    }
    const std::string folder = ownFolder();
    const std::string launcher = folder + "/quorlinvcp-run ";
    for (const char* kind : {"fionread", "tcgets", "tcgetattr", "tcsetattr"}) {
        const std::string plain = folder + "/preload_bench --child " + kind + " " + std::to_string(calls);
        std::vector<double> without, with;
        for (int r = 0; r < rounds; ++r) {
            const bool launcherFirst = r % 2;
            const double a = timed(launcherFirst ? launcher + plain : plain);
            const double b = timed(launcherFirst ? plain : launcher + plain);
            if (a < 0 || b < 0) {
                std::fprintf(stderr, "preload_bench: the %s child failed\n", kind);
                return 1;
            }
            (launcherFirst ? with : without).push_back(a);
            (launcherFirst ? without : with).push_back(b);
        }
        const double m0 = median(without), m1 = median(with);
        std::printf("%-9s %ld calls: without %.1f ms, with the launcher %.1f ms (%+.1f %%), median of %d\n", kind, calls,
                    m0, m1, (m1 / m0 - 1) * 100, rounds);
    }
    return 0;
}
