// Runs another program to its end for a test. Not QProcess: Qt starts children
// through clone() with the parent's memory shared, and ThreadSanitizer's clone
// interceptor then undoes its own bookkeeping twice, leaving the calling thread
// with every lock of the rest of the run unseen. posix_spawn clones inside libc,
// out of any interceptor's reach.
#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace velmora::test {

struct ChildResult {
    // The exit status, or nullopt when the program could not start, was killed
    // by a signal or outlived the timeout.
    std::optional<int> exitCode;
    // Standard output and error together, when captured.
    std::string output;
};

// `environment` replaces or adds variables of this process's environment.
inline ChildResult runChild(const std::string& program, const std::vector<std::string>& arguments,
                            const std::map<std::string, std::string>& environment = {},
                            bool captureOutput = true,
                            std::chrono::seconds timeout = std::chrono::seconds(120)) {
    std::vector<std::string> strings;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        if (!environment.contains(variable.substr(0, variable.find('=')))) {
            strings.push_back(variable);
        }
    }
    for (const auto& [name, value] : environment) {
        strings.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (auto& s : strings) {
        envp.push_back(s.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    ChildResult result;
    int pipeFds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (captureOutput) {
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
            posix_spawn_file_actions_destroy(&actions);
            return result;
        }
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    }
    pid_t child = -1;
    const int spawned =
        ::posix_spawnp(&child, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (captureOutput) {
        ::close(pipeFds[1]);
    }
    if (spawned != 0) {
        if (captureOutput) {
            ::close(pipeFds[0]);
        }
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool timedOut = false;
    if (captureOutput) {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd readable{pipeFds[0], POLLIN, 0};
            const int ready = left.count() > 0 ? ::poll(&readable, 1, int(left.count())) : 0;
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready <= 0) {
                timedOut = ready == 0;
                break;
            }
            char buffer[4096];
            const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            result.output.append(buffer, size_t(n));
        }
        ::close(pipeFds[0]);
    }
    int status = 0;
    while (!timedOut && ::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            timedOut = true;
            break;
        }
        ::usleep(10'000);
    }
    if (timedOut) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        return result;
    }
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    return result;
}

} // namespace velmora::test
