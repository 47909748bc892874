// posix_spawn reports a failed exec to the caller; a detached thread reaps the child later.
#include "platform/linux/DetachedSpawn.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace tarnwick::platform {
namespace {

// Owns the spawn attributes and file actions for one start.
class SpawnSettings {
public:
    SpawnSettings() {
        posix_spawnattr_init(&attributes_);
        posix_spawn_file_actions_init(&actions_);
    }
    ~SpawnSettings() {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attributes_);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    int Prepare(const char* directory) {
        // The child starts with no blocked signals and default dispositions, in a session
        // of its own so that closing our terminal does not end it.
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (const int signal : {SIGPIPE, SIGCHLD, SIGHUP, SIGINT, SIGQUIT, SIGTERM})
            sigaddset(&defaults, signal);
        int error = posix_spawnattr_setsigmask(&attributes_, &none);
        if (error == 0)
            error = posix_spawnattr_setsigdefault(&attributes_, &defaults);
        if (error == 0)
            error = posix_spawnattr_setflags(
                &attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
        if (error == 0)
            error =
                posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        if (error == 0 && directory != nullptr)
            error = posix_spawn_file_actions_addchdir_np(&actions_, directory);
        return error;
    }

    posix_spawnattr_t attributes_;
    posix_spawn_file_actions_t actions_;
};

} // namespace

int SpawnDetached(const std::vector<std::string>& arguments, const char* directory, pid_t& pid) {
    if (arguments.empty() || arguments.front().empty())
        return ENOENT;
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    SpawnSettings settings;
    int error = settings.Prepare(directory);
    if (error != 0)
        return error;
    error = posix_spawnp(&pid, argv[0], &settings.actions_, &settings.attributes_, argv.data(),
                         environ);
    if (error != 0)
        return error;
    std::thread([child = pid] {
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return 0;
}

} // namespace tarnwick::platform
