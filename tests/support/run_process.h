#pragma once

// Runs a program as the user would: in a given directory, with standard input empty, capturing
// its standard output, standard error and exit status. A program still running after a minute (or
// the limit given) is ended: a run that hangs fails its test instead of the suite.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

constexpr unsigned kRunLimitSeconds = 60;

struct ProcessResult {
    std::string out;
    std::string err;
    int exitStatus = -1;  // -1 when the program did not exit normally
};

inline ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                                const std::filesystem::path& dir,
                                unsigned limitSeconds = kRunLimitSeconds) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return {};
    // Standard error goes to a file: read after the exit, it can never block the program.
    std::FILE* errFile = std::tmpfile();
    if (errFile == nullptr) return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        dup2(fileno(errFile), STDERR_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        std::FILE* devNull = std::freopen("/dev/null", "r", stdin);
        (void)devNull;
        if (chdir(dir.c_str()) != 0) _exit(127);
        alarm(limitSeconds);  // kept across exec
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    ProcessResult result;
    char block[4096];
    ssize_t got;
    while ((got = read(pipeFds[0], block, sizeof block)) > 0) {
        result.out.append(block, static_cast<size_t>(got));
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::rewind(errFile);
    size_t errGot;
    while ((errGot = std::fread(block, 1, sizeof block, errFile)) > 0)
        result.err.append(block, errGot);
    std::fclose(errFile);
    return result;
}
