// bench_mirror.cpp - cluster mode's figures on one machine: the time from
// publishing an edit to the changed pixel on a display of the mirrored
// scene (median and 99th percentile), with one mirror and with ten on
// the stream; the edits per second a mirror applies when they come at
// full speed; and, with --history N, a long run of N edits under
// compaction: the stream's length and Redis's memory as it goes, and how
// long a mirror started afresh takes to catch up, against the history.
// It starts its own redis-server on a free loopback port and its own
// qvp_mirror processes; this process publishes and is one node's display.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "cluster.h"
#include "qvp_host.h"
#include "qvpdisp_host.h"
#include "redis_link.h"
#include "spawn_util.h"

namespace {

double now_s() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }


[[noreturn]] void die(const std::string &msg) {
    fprintf(stderr, "bench_mirror: %s\n", msg.c_str());
    exit(1);
}

}  // namespace

int main(int argc, char **argv) {
    int probes = 200, burst = 10000, mirrors = 10;
    long history = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--probes") probes = atoi(argv[i + 1]);
        else if (a == "--edits") burst = atoi(argv[i + 1]);
        else if (a == "--mirrors") mirrors = std::max(1, atoi(argv[i + 1]));
        else if (a == "--history") history = atol(argv[i + 1]);
    }
    int port = free_port();
    std::string endpoint = "127.0.0.1:" + std::to_string(port), dir = "/tmp/bench-mirror-" + std::to_string(getpid());
    std::string scene = "bench-mirror-" + std::to_string(getpid());
    mkdir(dir.c_str(), 0700);
    pid_t redis = spawn({"/usr/bin/redis-server", "--port", std::to_string(port), "--bind", "127.0.0.1", "--dir", dir,
                         "--save", "", "--appendonly", "no"},
                        {}, dir + "/redis.log");
    qvpcl::RedisLink link;
    std::string err;
    for (int tries = 0; tries < 200 && !link.Connect("127.0.0.1", port, 200, err); tries++) usleep(25000);
    if (!link.Connected()) die("redis-server did not start: " + err);

    char buf[512];
    if (!QVH_OpenScene(scene.c_str(), 64u << 20, QVH_SCENE_CREATE, buf, sizeof buf)) die(buf);
    if (!QVH_OpenDisplay("display", 64, 64, 0, buf, sizeof buf)) die(buf);
    const char *plugin_argv[] = {QVP_PLUGIN_MODULE};
    if (QVH_LoadPlugin(QVP_PLUGIN_MODULE, 1, plugin_argv) != 1) die("cannot load the plugin");
    QVH_LogToStderr(0);
    pid_t mirror = spawn({std::string(QVP_BINARY_DIR) + "/qvp_mirror", "-scene", scene, "-redis", endpoint, "-stream", "st"},
                         {}, dir + "/mirror.log");
    if (!qvpcl::StartPublishing(endpoint, "st", err)) die(err);
    qvpcl::PublishWords({"canvas", "create", "probe", "-mapping", "DEFAULT:channel1", "-org", "0 1 0", "-colvec",
                         "1 0 0", "-rowvec", "0 -1 0", "-cols", "1", "-rows", "1", "-anchor", "colstart rowstart",
                         "-bg", "1 0 0"});

    // Edit to pixel: each edit flips the overlay's colour; the display
    // renders frames until the probe pixel shows it.
    auto wait_pixel = [](int want_red, double deadline) {
        unsigned char px[4];
        while (now_s() < deadline) {
            QVH_RunFrames(1);
            QVH_ReadPixel(32, 32, px);
            if ((px[0] > 128) == (want_red != 0) && (px[2] > 128) == (want_red == 0)) return true;
        }
        return false;
    };
    if (!wait_pixel(1, now_s() + 20)) die("the mirror never drew the probe canvas (see " + dir + "/mirror.log)");
    double frame0 = now_s();
    for (int i = 0; i < 50; i++) QVH_RunFrames(1);
    double frame_ms = (now_s() - frame0) / 50 * 1e3;
    auto probe = [&](std::vector<double> &lat) {
        for (int k = 0; k < probes; k++) {
            int red = k % 2;
            double t0 = now_s();
            qvpcl::PublishWords({"canvas", "configure", "probe", "-bg", red ? "1 0 0" : "0 0 1"});
            if (!wait_pixel(red, t0 + 5)) die("an edit did not show within 5 s");
            lat.push_back((now_s() - t0) * 1e3);
        }
        std::sort(lat.begin(), lat.end());
    };
    std::vector<double> lat, lat_many;
    probe(lat);
    // The same with more mirrors on the stream, each keeping a scene of its own.
    std::vector<pid_t> others;
    std::vector<std::string> other_scenes;
    for (int m = 1; m < mirrors; m++) {
        other_scenes.push_back(scene + "-" + std::to_string(m));
        others.push_back(spawn({std::string(QVP_BINARY_DIR) + "/qvp_mirror", "-scene", other_scenes.back(), "-redis", endpoint,
                                "-stream", "st", "-cache", dir + "/cache" + std::to_string(m)},
                               {}, dir + "/mirror" + std::to_string(m) + ".log"));
    }
    if (mirrors > 1) {
        usleep(500000);
        probe(lat_many);
    }
    auto pct = [](const std::vector<double> &v, double p) { return v[std::min(v.size() - 1, (size_t)(v.size() * p))]; };

    // Full speed: a burst of edits, and the time until the mirror has them all.
    qvpcl::Reply info = link.Command({"XINFO", "STREAM", "st"}, err);
    long long before = atoll(qvpcl::ReplyField(info.get(), "entries-added").c_str());
    double t0 = now_s();
    for (int k = 0; k < burst; k++)
        qvpcl::PublishWords({"canvas", "configure", "probe", "-opacity", k % 2 ? "0.9" : "1"});
    double published = now_s() - t0;
    (void)before;
    while (qvpcl::PendingEntries() > 0) usleep(1000);
    qvpcl::Reply last_info = link.Command({"XINFO", "STREAM", "st"}, err);
    std::string want = qvpcl::ReplyField(last_info.get(), "last-generated-id");
    for (;;) {
        // Caught up when it has applied the stream's last entry (a mirror
        // that falls behind a trim starts again from the snapshot).
        qvpcl::Reply r = link.Command({"HGET", "st:mirror:" + scene, "last_id"}, err);
        if (r && qvpcl::ReplyString(r.get()) == want) break;
        if (now_s() - t0 > 120) die("the mirror did not catch up in 120 s");
        usleep(2000);
    }
    double applied = now_s() - t0;
    qvpcl::Reply mem = link.Command({"MEMORY", "USAGE", "st", "SAMPLES", "0"}, err);
    qvpcl::Reply len = link.Command({"XLEN", "st"}, err);
    double entries = atof(qvpcl::ReplyString(len.get()).c_str());
    double per_entry = entries > 0 ? atof(qvpcl::ReplyString(mem.get()).c_str()) / entries : 0;

    printf("cluster mode on one machine (loopback Redis 7, a %.2f ms frame of a 64x64 display):\n", frame_ms);
    printf("  edit to pixel, %d edits, 1 mirror: median %.2f ms, 99th percentile %.2f ms, worst %.2f ms\n", probes,
           lat[lat.size() / 2], pct(lat, 0.99), lat.back());
    if (mirrors > 1)
        printf("  edit to pixel, %d edits, %d mirrors: median %.2f ms, 99th percentile %.2f ms, worst %.2f ms\n", probes,
               mirrors, lat_many[lat_many.size() / 2], pct(lat_many, 0.99), lat_many.back());
    printf("  %d edits at full speed (%d mirrors): queued in %.3f s, all applied by the display's mirror after %.2f s"
           " (%.0f edits/s through it)\n",
           burst, mirrors, published, applied, burst / applied);
    printf("  stream memory: %.0f bytes an entry (the edit's words plus Redis's own)\n", per_entry);
    for (pid_t p : others) kill(p, SIGTERM);
    for (pid_t p : others) waitpid(p, nullptr, 0);
    for (const std::string &s : other_scenes) QVH_RemoveScene(s.c_str());

    // A long run under compaction, then mirrors started afresh.
    auto caught_up = [&](const std::string &node, const std::string &log) {
        pid_t m = spawn({std::string(QVP_BINARY_DIR) + "/qvp_mirror", "-scene", node, "-redis", endpoint, "-stream", "st",
                         "-cache", dir + "/cache-late"},
                        {}, log);
        double t0 = now_s();
        qvpcl::Reply last = link.Command({"XINFO", "STREAM", "st"}, err);
        std::string want = qvpcl::ReplyField(last.get(), "last-generated-id");
        for (;;) {
            qvpcl::Reply r = link.Command({"HGET", "st:mirror:" + node, "last_id"}, err);
            if (r && qvpcl::ReplyString(r.get()) == want) break;
            if (now_s() - t0 > 60) die("a late mirror did not catch up in 60 s");
            usleep(1000);
        }
        double s = now_s() - t0;
        kill(m, SIGTERM);
        waitpid(m, nullptr, 0);
        QVH_RemoveScene(node.c_str());
        return s;
    };
    if (history > 0) {
        printf("  a long run of %ld edits, a snapshot every %ld entries:\n", history, qvpcl::kCompactEvery);
        printf("  %10s %12s %14s %16s\n", "edits", "stream len", "used_memory", "late mirror (s)");
        long step = std::max(1L, history / 10);
        for (long k = 1; k <= history; k++) {
            qvpcl::PublishWords({"canvas", "configure", "probe", "-opacity", k % 2 ? "0.9" : "1"});
            while (qvpcl::PendingEntries() > 20000) usleep(1000);
            if (k % step == 0) {
                while (qvpcl::PendingEntries() > 0) usleep(1000);
                qvpcl::Reply len = link.Command({"XLEN", "st"}, err);
                qvpcl::Reply mem = link.Command({"INFO", "memory"}, err);
                std::string m = qvpcl::ReplyString(mem.get());
                size_t at = m.find("used_memory:");
                long long used = at == std::string::npos ? 0 : atoll(m.c_str() + at + 12);
                double late = k == step || k == history ? caught_up(scene + "-late", dir + "/late.log") : -1;
                if (late >= 0) printf("  %10ld %12s %14lld %16.3f\n", k, qvpcl::ReplyString(len.get()).c_str(), used, late);
                else printf("  %10ld %12s %14lld %16s\n", k, qvpcl::ReplyString(len.get()).c_str(), used, "");
                fflush(stdout);
            }
        }
    }

    qvpcl::StopPublishing();
    kill(mirror, SIGTERM);
    waitpid(mirror, nullptr, 0);
    kill(redis, SIGTERM);
    waitpid(redis, nullptr, 0);
    QVH_ShutdownPlugins();
    QVH_CloseDisplay();
    QVH_CloseScene();
    QVH_RemoveScene(scene.c_str());
    system(("rm -rf " + dir).c_str());
    return 0;
}
