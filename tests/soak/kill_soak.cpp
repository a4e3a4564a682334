// kill_soak.cpp - kills display and editor viewers sharing one scene at
// random moments, even while they hold the canvas lock, and checks that
// nobody freezes and no list tears.
//
//   kill_soak VIEWER PLUGIN SCRIPTS_DIR [--kills N] [--seed S] [--editor-only]
//
// Two displays render in a loop and one editor changes canvases and
// elements of every kind in a loop; each prints a count after every
// round. After each kill (and restart of the victim), every process must
// print again within 5 s, and a fresh viewer must attach, walk every
// canvas and element and render a frame within 5 s, and the fixed
// canvases (curved, nested, mapped: drawn through a local copy of their
// records) must read exactly as the editor made them. Prints the kills,
// hangs, crashes, failed checks and the longest recovery. The arena's
// free bytes are sampled after each editor restart: killed editors leave
// images and canvases behind, which the next ones must take back, so the
// last quarter of the samples may lie at most 512 KiB below the first.
// --editor-only kills the editor alone.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "qvp_host.h"

namespace {

double now() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + t.tv_nsec * 1e-9;
}

struct Child {
    std::string script;
    pid_t pid = -1;
    int out = -1;
    long rounds = 0;  // lines read since it started
};

std::string g_viewer, g_plugin, g_dir, g_scene;

void start(Child &c) {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        close(fds[0]);
        close(fds[1]);
        std::string script = g_dir + "/" + c.script;
        execl(g_viewer.c_str(), g_viewer.c_str(), "-scene", g_scene.c_str(), "-size", "64x48", script.c_str(),
              g_plugin.c_str(), (char *)nullptr);
        _exit(127);
    }
    close(fds[1]);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    c.pid = pid;
    c.out = fds[0];
    c.rounds = 0;
}

// Reads what C printed; returns the number of new lines.
long drain(Child &c) {
    char buf[4096];
    long lines = 0;
    for (;;) {
        ssize_t n = read(c.out, buf, sizeof buf);
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; i++) lines += buf[i] == '\n';
    }
    c.rounds += lines;
    return lines;
}

void stop(Child &c) {
    if (c.pid > 0) {
        kill(c.pid, SIGKILL);
        waitpid(c.pid, nullptr, 0);
    }
    if (c.out >= 0) close(c.out);
    c.pid = -1;
    c.out = -1;
}

// True when every child printed a new line within SECONDS; *WHEN gets
// the time it took.
bool all_advance(std::vector<Child> &cs, double seconds, double *when, int *dead) {
    double t0 = now();
    std::vector<long> base;
    for (Child &c : cs) base.push_back(c.rounds + drain(c) * 0);
    for (size_t i = 0; i < cs.size(); i++) base[i] = cs[i].rounds;
    while (now() - t0 < seconds) {
        bool all = true;
        for (size_t i = 0; i < cs.size(); i++) {
            drain(cs[i]);
            int st;
            if (waitpid(cs[i].pid, &st, WNOHANG) == cs[i].pid) {
                (*dead)++;
                start(cs[i]);  // counted, and replaced
                base[i] = 0;
            }
            if (cs[i].rounds <= base[i]) all = false;
        }
        if (all) {
            *when = now() - t0;
            return true;
        }
        usleep(5000);
    }
    *when = now() - t0;
    return false;
}

// Runs the checking viewer; true when it printed "ok" within 5 s, else
// *WHY says what happened.
bool check_attach(std::string *why) {
    Child c;
    c.script = "check.tcl";
    start(c);
    std::string out;
    double t0 = now();
    int st = 0;
    bool exited = false;
    while (now() - t0 < 5) {
        char buf[256];
        ssize_t n = read(c.out, buf, sizeof buf);
        if (n > 0) out.append(buf, (size_t)n);
        if (waitpid(c.pid, &st, WNOHANG) == c.pid) {
            exited = true;
            break;
        }
        usleep(5000);
    }
    if (!exited) {
        kill(c.pid, SIGKILL);
        waitpid(c.pid, nullptr, 0);
    } else {
        char buf[256];
        ssize_t n;
        while ((n = read(c.out, buf, sizeof buf)) > 0) out.append(buf, (size_t)n);
    }
    close(c.out);
    bool ok = exited && WIFEXITED(st) && WEXITSTATUS(st) == 0 && out.compare(0, 2, "ok") == 0;
    if (!ok) {
        if (!exited) *why = "no answer within 5 s";
        else if (WIFSIGNALED(st)) *why = "killed by signal " + std::to_string(WTERMSIG(st));
        else *why = "exit " + std::to_string(WEXITSTATUS(st)) + ", said: " + out;
    }
    return ok;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: kill_soak VIEWER PLUGIN SCRIPTS_DIR [--kills N] [--seed S] [--editor-only]\n");
        return 2;
    }
    g_viewer = argv[1];
    g_plugin = argv[2];
    g_dir = argv[3];
    int kills = 20;
    unsigned seed = (unsigned)time(nullptr);
    bool editor_only = false;
    for (int i = 4; i < argc; i++) {
        if (strcmp(argv[i], "--editor-only") == 0) editor_only = true;
        else if (i + 1 < argc && strcmp(argv[i], "--kills") == 0) kills = atoi(argv[++i]);
        else if (i + 1 < argc && strcmp(argv[i], "--seed") == 0) seed = (unsigned)strtoul(argv[++i], nullptr, 10);
    }
    srand(seed);
    signal(SIGPIPE, SIG_IGN);
    g_scene = "soak-" + std::to_string(getpid());
    char err[256];
    QVH_LogToStderr(0);
    if (!QVH_OpenScene(g_scene.c_str(), 0, QVH_SCENE_CREATE, err, sizeof err)) {
        fprintf(stderr, "kill_soak: %s\n", err);
        return 2;
    }
    // Where the editor writes the fixed canvases as it made them.
    std::string fixed = "/tmp/" + g_scene + "-fixed.txt";
    unlink(fixed.c_str());
    setenv("QVP_SOAK_FIXED", fixed.c_str(), 1);
    std::vector<Child> cs(3);
    cs[0].script = "editor.tcl";
    cs[1].script = cs[2].script = "display.tcl";
    for (Child &c : cs) start(c);
    double t;
    int dead = 0, hangs = 0, failed_checks = 0;
    double longest = 0;
    std::vector<size_t> free_after;
    if (!all_advance(cs, 20, &t, &dead)) fprintf(stderr, "kill_soak: the processes never started\n");
    for (int k = 0; k < kills; k++) {
        usleep((useconds_t)(10000 + rand() % 200000));
        size_t victim = editor_only || rand() % 10 < 6 ? 0 : 1 + (size_t)(rand() % 2);
        stop(cs[victim]);
        start(cs[victim]);
        if (!all_advance(cs, 5, &t, &dead)) {
            hangs++;
            printf("HANG after kill %d (of %s)\n", k + 1, cs[victim].script.c_str());
            for (Child &c : cs) {
                stop(c);
                start(c);
            }
        }
        if (t > longest) longest = t;
        if (victim == 0) free_after.push_back(QVH_ArenaFreeBytes());
        std::string why;
        if (!check_attach(&why)) {
            failed_checks++;
            printf("CHECK FAILED after kill %d (of %s): %s\n", k + 1, cs[victim].script.c_str(), why.c_str());
        }
        fflush(stdout);
    }
    for (Child &c : cs) stop(c);
    // Medians of the first and last quarters of the samples.
    bool leaks = false;
    size_t q = free_after.size() / 4;
    if (q >= 2) {
        std::vector<size_t> first(free_after.begin(), free_after.begin() + (long)q),
            last(free_after.end() - (long)q, free_after.end());
        std::sort(first.begin(), first.end());
        std::sort(last.begin(), last.end());
        size_t a = first[q / 2], b = last[q / 2];
        leaks = b + (512u << 10) < a;
        printf("kill_soak: free bytes after %zu editor restarts: first quarter %zu, last quarter %zu (%+lld)%s\n",
               free_after.size(), a, b, (long long)b - (long long)a, leaks ? ": LEAK" : "");
    }
    unlink(fixed.c_str());
    QVH_CloseScene();
    QVH_RemoveScene(g_scene.c_str());
    printf("kill_soak: %d kills (seed %u): %d hangs, %d crashed survivors, %d failed checks, longest recovery %.2f s\n",
           kills, seed, hangs, dead, failed_checks, longest);
    return hangs || dead || failed_checks || leaks ? 1 : 0;
}
