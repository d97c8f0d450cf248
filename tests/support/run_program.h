#pragma once
// Runs a program to its end as a child process and keeps what it printed.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace lumora::test {

struct ProgramResult {
    int exitCode = -1;  // 128 + signal when a signal ended it; -1 when it did not end in time
    std::string out, err;
};

// Runs args[0] with args in cwd (empty: this process's), with the variables
// of unset taken out of its environment. A program still running after
// timeoutSeconds is killed.
inline ProgramResult RunProgram(std::vector<std::string> args, const std::string& cwd = "",
                                const std::vector<std::string>& unset = {}, int timeoutSeconds = 30) {
    const std::string folder = std::filesystem::temp_directory_path().string();
    std::string outName = folder + "/lumora_run_out_XXXXXX";
    std::string errName = folder + "/lumora_run_err_XXXXXX";
    const int outFd = ::mkstemp(outName.data());
    const int errFd = ::mkstemp(errName.data());
    ProgramResult r;
    const pid_t pid = outFd >= 0 && errFd >= 0 ? ::fork() : -1;
    if (pid == 0) {
        ::dup2(outFd, 1);
        ::dup2(errFd, 2);
        const int in = ::open("/dev/null", O_RDONLY);
        if (in >= 0) ::dup2(in, 0);
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
        for (const std::string& name : unset) ::unsetenv(name.c_str());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (pid > 0) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
        int status = 0;
        pid_t done = 0;
        while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (done == pid) {
            r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        } else {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    auto slurp = [](const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    r.out = slurp(outName);
    r.err = slurp(errName);
    for (int fd : {outFd, errFd})
        if (fd >= 0) ::close(fd);
    ::unlink(outName.c_str());
    ::unlink(errName.c_str());
    return r;
}

}  // namespace lumora::test
