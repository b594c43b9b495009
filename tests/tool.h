// Runs the iniplace tool as a program, behind the emulator when the tests
// run on another machine: its exit status and what it printed.
#pragma once

#include "helpers.h"

#include <algorithm>
#include <fcntl.h>
#include <spawn.h>

extern char **environ;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// The tool, behind the emulator when the tests run on another machine.
inline std::vector<std::string> tool_command() {
    std::vector<std::string> command;
    std::string runner = INIPLACE_TOOL_RUNNER;
    for (std::size_t start = 0, end; !runner.empty() && start <= runner.size(); start = end + 1) {
        end = std::min(runner.find('|', start), runner.size());
        command.push_back(runner.substr(start, end - start));
    }
    command.push_back(INIPLACE_TOOL);
    return command;
}

// Starts the tool on descriptors 0, 1 and 2; a negative one is closed.
inline pid_t spawn(const std::vector<std::string> &args, int in_fd, int out_fd, int err_fd) {
    std::vector<std::string> command = tool_command();
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &arg : command)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int fds[] = {in_fd, out_fd, err_fd};
    for (int target = 0; target < 3; ++target)
        (void)(fds[target] < 0 ? posix_spawn_file_actions_addclose(&actions, target)
                               : posix_spawn_file_actions_adddup2(&actions, fds[target], target));
    pid_t pid = -1;
    posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

inline std::string drain(int fd) {
    std::string bytes;
    char chunk[4096];
    for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;)
        bytes.append(chunk, static_cast<std::size_t>(n));
    close(fd);
    return bytes;
}

inline constexpr int capture = -2; // standard output or error read by the test

inline Outcome run(const std::vector<std::string> &args, const std::string &input = "",
                   int out_fd = capture, int err_fd = capture) {
    int in[2], out[2], err[2];
    EXPECT_EQ(pipe2(in, O_CLOEXEC) | pipe2(out, O_CLOEXEC) | pipe2(err, O_CLOEXEC), 0);
    EXPECT_EQ(write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    close(in[1]);
    const pid_t pid = spawn(args, in[0], out_fd == capture ? out[1] : out_fd,
                            err_fd == capture ? err[1] : err_fd);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    Outcome result{-1, drain(out[0]), drain(err[0])};
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}
