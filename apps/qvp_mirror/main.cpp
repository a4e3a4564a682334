// main.cpp - qvp_mirror: keeps one node's scene in step with a cluster's
// canvas stream, or reports how far a running mirror is behind.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "cluster.h"
#include "redis_link.h"
#include "qvp_host.h"

namespace {

const char *kUsage =
    "usage: qvp_mirror -scene NAME -redis HOST:PORT -stream NAME ?-redis-auth FILE? ?-arena MiB? ?-cache DIR? ?-status?\n"
    "  the Redis password comes from -redis-auth FILE (\"USER PASSWORD\" or \"PASSWORD\")\n"
    "  or QVP_REDIS_PASSWORD (and QVP_REDIS_USER), never from the command line\n";

[[noreturn]] void die(const std::string &msg, int status = 1) {
    fprintf(stderr, "qvp_mirror: %s\n", msg.c_str());
    exit(status);
}

}  // namespace

int main(int argc, char **argv) {
    qvpcl::MirrorOptions o;
    bool show_status = false;
    std::string auth_file;
    size_t arena = 0;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        bool has_val = i + 1 < argc;
        if (a == "-scene" && has_val) o.scene = argv[++i];
        else if (a == "-redis" && has_val) o.endpoint = argv[++i];
        else if (a == "-stream" && has_val) o.stream = argv[++i];
        else if (a == "-cache" && has_val) o.cache_dir = argv[++i];
        else if (a == "-redis-auth" && has_val) auth_file = argv[++i];
        else if (a == "-arena" && has_val) {
            char *end;
            long mib = strtol(argv[++i], &end, 10);
            if (*end || mib < 1 || mib > 65536) die(std::string("bad -arena \"") + argv[i] + "\": want MiB, 1 to 65536", 2);
            arena = (size_t)mib << 20;
        } else if (a == "-status") show_status = true;
        else if (a == "-h" || a == "-help" || a == "--help") {
            fputs(kUsage, stdout);
            return 0;
        } else {
            fprintf(stderr, "qvp_mirror: unknown or incomplete option \"%s\"\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    if (o.scene.empty() || o.endpoint.empty() || o.stream.empty()) {
        fputs(kUsage, stderr);
        return 2;
    }
    std::string auth_err;
    if (!qvpcl::UseRedisAuth(auth_file, auth_err)) die(auth_err);
    if (show_status) {
        std::string line, err;
        if (!qvpcl::MirrorStatus(o.endpoint, o.stream, o.scene, line, err)) die(err);
        printf("%s\n", line.c_str());
        return 0;
    }
    // The user's own cache folder: XDG's, else ~/.cache, else a checked
    // folder of its own in /tmp.
    if (o.cache_dir.empty()) {
        const char *xdg = getenv("XDG_CACHE_HOME"), *home = getenv("HOME");
        if (xdg && *xdg == '/') o.cache_dir = std::string(xdg) + "/qvp-mirror";
        else if (home && *home == '/') {
            std::string cache = std::string(home) + "/.cache";
            mkdir(cache.c_str(), 0700);
            o.cache_dir = cache + "/qvp-mirror";
        } else {
            o.cache_dir = "/tmp/qvp-mirror-" + std::to_string(getuid());
        }
    }
    char err[512];
    // The node's scene: made here when its displays have not made it yet.
    if (!QVH_OpenScene(o.scene.c_str(), arena, QVH_SCENE_CREATE | QVH_SCENE_ATTACH, err, sizeof err)) die(err);
    int rc = qvpcl::RunMirror(o);
    QVH_CloseScene();
    return rc;
}
