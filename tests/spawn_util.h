/* spawn_util.h - starting the project's programs as a user would, for
 * the tests that drive whole processes (window, recording, cluster). */
#ifndef QVP_SPAWN_UTIL_H
#define QVP_SPAWN_UTIL_H

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

extern char **environ;

namespace {

// Starts ARGS with extra environment ENV (NAME=VALUE words); stdout and
// stderr go to LOG when given. Returns the pid, or -1.
[[maybe_unused]] pid_t spawn(const std::vector<std::string> &args, const std::vector<std::string> &env = {},
            const std::string &log = "") {
    std::vector<char *> argv, envp;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string &e : env) envp.push_back(const_cast<char *>(e.c_str()));
    for (char **e = environ; *e; e++) {
        bool replaced = false;
        for (const std::string &x : env) replaced = replaced || strncmp(*e, x.c_str(), x.find('=') + 1) == 0;
        if (!replaced) envp.push_back(*e);
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (!log.empty()) {
        posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&fa, 1, 2);
    }
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

// Writes TEXT to PATH, replacing it; false when it cannot.
[[maybe_unused]] bool write_file(const std::string &path, const std::string &text) {
    FILE *f = fopen(path.c_str(), "w");
    if (!f) return false;
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    return fclose(f) == 0 && ok;
}

[[maybe_unused]] std::string read_file(const std::string &path) {
    FILE *f = fopen(path.c_str(), "rb");
    std::string s;
    if (!f) return s;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    fclose(f);
    return s;
}

// A loopback TCP port free at the time of asking.
[[maybe_unused]] int free_port() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, (sockaddr *)&a, sizeof a);
    socklen_t n = sizeof a;
    getsockname(s, (sockaddr *)&a, &n);
    close(s);
    return ntohs(a.sin_port);
}

}  // namespace

#endif
