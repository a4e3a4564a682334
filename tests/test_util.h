// test_util.h - shared helpers of the test suites: unique scene names,
// bounded waits on child processes, and piglit-style pixel probes.
#ifndef QVP_TEST_UTIL_H
#define QVP_TEST_UTIL_H

#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "qvp_host.h"

// A scene name no other test process uses.
inline std::string unique_scene(const char *tag) {
    static int n = 0;
    return std::string("t-") + tag + "-" + std::to_string(getpid()) + "-" + std::to_string(n++);
}

// Opens a fresh scene for a test and removes it afterwards.
class SceneFixture : public ::testing::Test {
protected:
    void SetUp() override {
        name_ = unique_scene("s");
        char err[256];
        QVH_LogToStderr(0);
        QVH_LogClear();
        ASSERT_NE(QVH_OpenScene(name_.c_str(), 8u << 20, QVH_SCENE_CREATE, err, sizeof err), nullptr) << err;
    }
    void TearDown() override {
        QVH_CloseScene();
        QVH_RemoveScene(name_.c_str());
    }
    std::string name_;
};

// True when scene NAME's shared-memory segment exists.
inline bool segment_exists(const std::string &name) {
    struct stat st;
    return stat(("/dev/shm/qvp_" + name).c_str(), &st) == 0;
}

// Runs BODY in a forked child and returns its pid once BODY is done; the
// child then exits, or stays paused (alive) when KEEP_ALIVE. A child
// that exits is waited for here.
inline pid_t run_in_child(const std::function<void()> &body, bool keep_alive) {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        body();
        (void)!write(ready[1], "x", 1);
        if (keep_alive) pause();
        _exit(0);
    }
    char c;
    EXPECT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    close(ready[1]);
    if (!keep_alive) waitpid(pid, nullptr, 0);
    return pid;
}

// Waits up to TIMEOUT_MS for child PID; kills it on timeout. Returns its
// exit status, or -1 when it had to be killed or did not exit normally.
inline int wait_child(pid_t pid, int timeout_ms) {
    for (int waited = 0; waited <= timeout_ms; waited += 10) {
        int st = 0;
        pid_t r = waitpid(pid, &st, WNOHANG);
        if (r == pid) return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

// Starts the helper program with ARGS, its stdout on a pipe. Returns the
// pid; *OUT_FD receives the read end.
inline pid_t spawn_helper(const std::vector<std::string> &args, int *out_fd) {
    *out_fd = -1;
    int fds[2];
    if (pipe(fds) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        std::vector<char *> av;
        std::string prog = QVP_TEST_HELPER;
        av.push_back((char *)prog.c_str());
        for (auto &a : args) av.push_back((char *)a.c_str());
        av.push_back(nullptr);
        execv(prog.c_str(), av.data());
        _exit(127);
    }
    close(fds[1]);
    *out_fd = fds[0];
    return pid;
}

// Reads one line from FD, waiting at most TIMEOUT_MS.
inline std::string read_line(int fd, int timeout_ms) {
    std::string s;
    for (int waited = 0; waited < timeout_ms;) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(fd, &set);
        struct timeval tv = {0, 20000};
        if (select(fd + 1, &set, nullptr, nullptr, &tv) > 0) {
            char c;
            if (read(fd, &c, 1) != 1) break;
            if (c == '\n') return s;
            s += c;
        } else {
            waited += 20;
        }
    }
    return s;
}

// True when some kept log line contains TEXT.
inline bool log_has(const char *text) {
    for (int i = 0; i < QVH_LogCount(); i++)
        if (strstr(QVH_LogGet(i)->text, text)) return true;
    return false;
}

#endif
