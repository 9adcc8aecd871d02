// The qx480 tool's tests against the simulated device on a pseudo-terminal
// (POSIX): in-process through RunQx480, and the real program through the
// shell for its exit statuses and streams.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "simulated_device.h"
#include "tool_json.h"
#include "tool_output.h"

extern char** environ;

namespace tooltest {

class ToolOnSimulator : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.Start()) << sim.Error();
        port = sim.Path();
    }

    // The tool in-process with --port naming the simulated device.
    Result Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", port});
        return RunTool(args);
    }

    // The records of a --json run on the simulated device, each checked to be one.
    std::vector<json> RunJson(std::vector<std::string> args, int expectedStatus) {
        args.insert(args.begin(), "--json");
        const Result r = Run(args);
        EXPECT_EQ(r.status, expectedStatus) << r.err;
        return Records(r.out);
    }

    // Faults from the device's next request on.
    void SetFaults(void (*set)(qx480::sim::Faults&)) {
        qx480::sim::Faults faults;
        set(faults);
        ASSERT_TRUE(sim.SetFaults(faults));
    }

    qx480::sim::SimulatedDevice sim;
    std::string port;
};

// What the real program did: its exit status, or the signal that ended it.
struct ProgramResult {
    int status = -1;  // -1 when a signal ended it
    int signal = 0;
    std::string out;
    std::string err;
};

// `text` in single quotes for the shell.
inline std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The qx480 program with `arguments` (shell words), for a shell command line.
inline std::string Qx480(const std::string& arguments) { return ShellQuoted(QX480_TOOL_PROGRAM) + " " + arguments; }

// A file for a child's standard error, one per process and call (ctest runs cases in parallel).
inline std::string ErrorFile() {
    static std::atomic<int> calls{0};
    return testing::TempDir() + "qx480_tool_stderr_" + std::to_string(getpid()) + "_" + std::to_string(++calls) +
           ".txt";
}

inline void Conclude(int wait, const std::string& errFile, ProgramResult& r) {
    if (WIFEXITED(wait)) r.status = WEXITSTATUS(wait);
    if (WIFSIGNALED(wait)) r.signal = WTERMSIG(wait);
    r.err = ReadFile(errFile);
    std::remove(errFile.c_str());
}

// Runs `command` with /bin/sh, its standard output read through a pipe and
// the standard error of its last simple command kept.
inline ProgramResult RunShell(const std::string& command) {
    const std::string errFile = ErrorFile();
    ProgramResult r;
    FILE* pipe = popen((command + " 2>" + ShellQuoted(errFile)).c_str(), "r");
    if (pipe == nullptr) return r;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) r.out.append(buffer, n);
    Conclude(pclose(pipe), errFile, r);
    return r;
}

// Runs `command` with /bin/sh, its standard output a pipe whose reading end
// is already closed, with SIGPIPE as the system sets it by default.
inline ProgramResult RunIntoClosedPipe(const std::string& command) {
    const std::string errFile = ErrorFile();
    ProgramResult r;
    int ends[2];
    if (pipe(ends) != 0) return r;
    close(ends[0]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, ends[1]);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &pipeSignal);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    const std::string line = command + " 2>" + ShellQuoted(errFile);
    char sh[] = "/bin/sh";
    char dashC[] = "-c";
    std::vector<char> text(line.begin(), line.end());
    text.push_back('\0');
    char* argv[] = {sh, dashC, text.data(), nullptr};
    pid_t child = -1;
    const int spawned = posix_spawn(&child, sh, &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(ends[1]);
    int wait = 0;
    if (spawned == 0 && waitpid(child, &wait, 0) == child) Conclude(wait, errFile, r);
    return r;
}

}  // namespace tooltest
