// Holds listening sockets open for the benchmarks: `bench_listeners SOCKETS [PROCESSES]` opens
// SOCKETS sockets on loopback, in this process or spread over PROCESSES child processes (TCP on
// IPv4 and IPv6, one in five UDP), prints "ready" and waits until its standard input closes; then
// its children end with it.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

bool openListener(int index)
{
    const bool udp = index % 5 == 4;
    const bool v6 = index % 2 == 1;
    const int fd = socket(v6 ? AF_INET6 : AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in6 address6{};
    address6.sin6_family = AF_INET6;
    address6.sin6_addr = in6addr_loopback;
    const int bound = v6 ? bind(fd, reinterpret_cast<sockaddr*>(&address6), sizeof address6)
                         : bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return bound == 0 && (udp || listen(fd, 1) == 0);
}

void waitForStdinToClose()
{
    char buffer[64];
    while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int processes = argc > 2 ? std::atoi(argv[2]) : 0;
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);

    if (processes <= 0) {
        for (int i = 0; i < count; ++i) {
            if (!openListener(i)) {
                std::fprintf(stderr, "could only open %d listening sockets\n", i);
                return 1;
            }
        }
        std::printf("ready\n");
        std::fflush(stdout);
        waitForStdinToClose();
        return 0;
    }

    // Each child says it is ready with one byte; a child that fails closes the pipe unsaid.
    int ready[2];
    if (pipe(ready) != 0)
        return 1;
    const pid_t parent = getpid();
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        const pid_t child = fork();
        if (child < 0)
            break;
        if (child == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent)
                _exit(1);
            close(ready[0]);
            const int null = open("/dev/null", O_RDWR);
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
            for (int i = p; i < count; i += processes) {
                if (!openListener(i))
                    _exit(1);
            }
            if (write(ready[1], "r", 1) != 1)
                _exit(1);
            close(ready[1]);
            for (;;)
                pause();
        }
        children.push_back(child);
    }
    close(ready[1]);
    size_t confirmed = 0;
    char byte;
    while (confirmed < children.size() && read(ready[0], &byte, 1) == 1)
        ++confirmed;
    const bool allReady = confirmed == static_cast<size_t>(processes);
    if (allReady) {
        std::printf("ready\n");
        std::fflush(stdout);
        waitForStdinToClose();
    } else {
        std::fprintf(stderr, "only %zu of %d processes opened their sockets\n", confirmed,
                     processes);
    }
    for (const pid_t child : children)
        kill(child, SIGKILL);
    for (const pid_t child : children)
        waitpid(child, nullptr, 0);
    return allReady ? 0 : 1;
}
