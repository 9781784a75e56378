// preload_bench: what the launcher costs a program that makes many ioctl calls on
// descriptors that are not virtual ports. Each round runs the same child every way
// in turn (the order rotating from round to round), and the child times its own
// loop; the figures are medians over the rounds. A dynamically linked child runs
// plainly, through `quorlinvcp-run --no-supervisor` (the interposition library
// alone) and through `quorlinvcp-run` (library and supervisor); a statically
// linked one (preload_bench_static, this program built with -static), which only
// the supervisor reaches, plainly and through `quorlinvcp-run`.
//   preload_bench [--rounds N] [--calls N]
// Loops: FIONREAD on a pipe (a request passed on at once: by the library, and by
// the supervisor's filter in the kernel); on a pseudo-terminal that is no port, the
// TCGETS ioctl, tcgetattr, and tcsetattr of the settings it holds (settings calls
// are the ones the library looks at, and the supervisor is handed).
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
    const char* supervised = std::getenv("QUORLINVCP_SUPERVISED");
    std::printf("%lld %d\n", static_cast<long long>(ns), supervised && !std::strcmp(supervised, "1"));
    return 0;
}

std::string ownFolder()
{
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    const std::string exe(path, n > 0 ? static_cast<std::size_t>(n) : 0);
    return exe.substr(0, exe.rfind('/'));
}

// Runs the child and gives back its time in ms, or a negative value on failure;
// `supervised` tells whether it ran under the supervisor.
double timed(const std::string& command, bool& supervised)
{
    FILE* out = ::popen(command.c_str(), "r");
    if (!out)
        return -1;
    long long ns = -1;
    int flag = 0;
    if (std::fscanf(out, "%lld %d", &ns, &flag) != 2)
        ns = -1;
    supervised = flag == 1;
    return ::pclose(out) == 0 && ns >= 0 ? static_cast<double>(ns) / 1e6 : -1;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// One way of running a child: what goes before its command line.
struct Way {
    const char* name;
    std::string prefix;
    bool supervised;
};

// Every loop of one child, each way in turn; false when a child failed.
bool compare(const char* child, const std::string& program, const std::vector<Way>& ways, int rounds, long calls)
{
    for (const char* kind : {"fionread", "tcgets", "tcgetattr", "tcsetattr"}) {
        const std::string command = program + " --child " + kind + " " + std::to_string(calls);
        std::vector<std::vector<double>> times(ways.size());
        for (int r = 0; r < rounds; ++r) {
            for (std::size_t turn = 0; turn < ways.size(); ++turn) {
                const std::size_t w = (turn + static_cast<std::size_t>(r)) % ways.size();
                bool supervised = false;
                const double ms = timed(ways[w].prefix + command, supervised);
                if (ms < 0) {
                    std::fprintf(stderr, "preload_bench: the %s %s child failed (%s)\n", child, kind, ways[w].name);
                    return false;
                }
                if (supervised != ways[w].supervised)
                    std::fprintf(stderr, "preload_bench: the %s %s child ran %s the supervisor (%s)\n", child, kind,
                                 supervised ? "under" : "without", ways[w].name);
                times[w].push_back(ms);
            }
        }
        const double plain = median(times[0]);
        std::printf("| %-7s | %-9s | %7.1f ms |", child, kind, plain);
        for (std::size_t w = 1; w < ways.size(); ++w) {
            const double m = median(times[w]);
            std::printf(" %s %.1f ms (%+.0f %%) |", ways[w].name, m, (m / plain - 1) * 100);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    return true;
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
    std::printf("%ld calls, medians of %d rounds\n", calls, rounds);
    std::printf("| child | loop | plain | ... |\n|---|---|---|---|\n");
    const std::vector<Way> dynamicWays{
        {"plain", "", false}, {"--no-supervisor", launcher + "--no-supervisor ", false}, {"launcher", launcher, true}};
    if (!compare("dynamic", folder + "/preload_bench", dynamicWays, rounds, calls))
        return 1;
    const std::string staticChild = folder + "/preload_bench_static";
    if (::access(staticChild.c_str(), X_OK) != 0) {
        std::printf("(no %s: build the preload_bench_static target for the static child)\n", staticChild.c_str());
        return 0;
    }
    const std::vector<Way> staticWays{{"plain", "", false}, {"launcher", launcher, true}};
    return compare("static", staticChild, staticWays, rounds, calls) ? 0 : 1;
}
