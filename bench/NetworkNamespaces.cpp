// Network namespaces for the benchmarks, built with the ip and nft tools.
#include "bench/NetworkNamespaces.h"

#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace tarnwick::bench {
namespace {

bool Run(std::vector<std::string> arguments) {
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    std::string line;
    for (const std::string& argument : arguments)
        line += argument + " ";
    std::fprintf(stderr, "namespaces: failed: %s\n", line.c_str());
    return false;
}

} // namespace

NamespacePair::~NamespacePair() {
    if (farHolder_ > 0) {
        kill(farHolder_, SIGKILL);
        waitpid(farHolder_, nullptr, 0);
    }
}

bool NamespacePair::Create() {
    int ready[2];
    if (pipe(ready) != 0)
        return false;
    const pid_t parent = getpid();
    farHolder_ = fork();
    if (farHolder_ < 0)
        return false;
    if (farHolder_ == 0) {
        // Holds the far namespace until the benchmark ends or dies.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const char made = getppid() == parent && unshare(CLONE_NEWNET) == 0 ? 1 : 0;
        (void)write(ready[1], &made, 1);
        if (made)
            pause();
        _exit(0);
    }
    close(ready[1]);
    char made = 0;
    const bool farReady = read(ready[0], &made, 1) == 1 && made == 1;
    close(ready[0]);
    if (!farReady || unshare(CLONE_NEWNET) != 0)
        return false;

    const std::string far = std::to_string(farHolder_);
    const std::vector<std::string> inFar{"nsenter", "-t", far, "-n"};
    const auto farCommand = [&inFar](std::vector<std::string> command) {
        command.insert(command.begin(), inFar.begin(), inFar.end());
        return Run(command);
    };
    if (!Run({"ip", "link", "set", "lo", "up"}) ||
        !Run({"ip", "link", "add", "bench-near", "type", "veth", "peer", "name", "bench-far",
              "netns", far}) ||
        !Run({"ip", "address", "add", "10.200.0.1/30", "dev", "bench-near"}) ||
        !Run({"ip", "link", "set", "bench-near", "up"}) ||
        !farCommand({"ip", "link", "set", "lo", "up"}) ||
        !farCommand({"ip", "address", "add", "10.200.0.2/30", "dev", "bench-far"}) ||
        !farCommand({"ip", "link", "set", "bench-far", "up"}) ||
        !farCommand({"nft", "add table inet bench; add chain inet bench input { type filter "
                            "hook input priority 0; }; add rule inet bench input icmp type "
                            "echo-request drop"}))
        return false;

    // Sysctls under /proc/sys/net belong to the namespace of the process that opens them.
    std::ofstream range("/proc/sys/net/ipv4/ping_group_range");
    range << "0 2147483647\n";
    range.close();
    return static_cast<bool>(range);
}

} // namespace tarnwick::bench
