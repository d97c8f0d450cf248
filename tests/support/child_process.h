#pragma once
// Running lumora-cli (or any program) as a child process that the test talks
// to while it runs. support/run_program.h runs one to its end.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "support/waits.h"

namespace lumora::test {

struct Child {
    pid_t pid = -1;
    int out = -1;  // its stdout
};

// Runs args[0] in cwd; its stderr goes to errPath. A file size limit (bytes)
// makes every file it writes behave like a disk that is full at that size.
inline Child Spawn(const std::string& cwd, std::vector<std::string> args, const std::string& errPath = "/dev/null",
                   rlim_t fileSizeLimit = RLIM_INFINITY) {
    int fds[2];
    if (::pipe(fds) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (fileSizeLimit != RLIM_INFINITY) {
            ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
            rlimit limit{fileSizeLimit, RLIM_INFINITY};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        ::dup2(fds[1], 1);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err >= 0) ::dup2(err, 2);
        ::close(fds[0]);
        if (::chdir(cwd.c_str()) != 0) ::_exit(126);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    return {pid, fds[0]};
}

// One line of the child's stdout, or "" after timeoutSeconds.
inline std::string ReadLine(int fd, int timeoutSeconds) {
    std::string line;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (std::chrono::steady_clock::now() < until) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        char c;
        if (::read(fd, &c, 1) != 1) break;
        if (c == '\n') return line;
        line += c;
    }
    return {};
}

// Exit status, or -1 (and the child killed) when it did not end in time.
inline int WaitExit(pid_t pid, int timeoutSeconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (std::chrono::steady_clock::now() < until) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
}

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace lumora::test
