// test_cluster.cpp - cluster mode on one machine: a redis-server of each
// test's own on a free loopback port, two scenes standing for two nodes,
// a viewer publishing its edits from scene A and qvp_mirror keeping
// scene B; a display on each must draw the same picture, through a
// killed mirror, a restarted Redis, 10,000 edits and malformed entries.
#include <hiredis/hiredis.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "canvas_builder.h"
#include "clip_util.h"
#include "cluster.h"
#include "redis_link.h"
#include "spawn_util.h"
#include "test_util.h"

namespace {

const std::string kBin = QVP_BINARY_DIR;
const std::string kDir = std::string(QVP_SOURCE_DIR) + "/tests/cluster/";


class Cluster : public ::testing::Test {
protected:
    void SetUp() override {
        if (access("/usr/bin/redis-server", X_OK) != 0) GTEST_SKIP() << "redis-server is not installed (scripts/setup installs it)";
        port_ = free_port();
        dir_ = "/tmp/" + unique_scene("redis");
        mkdir(dir_.c_str(), 0700);
        a_ = unique_scene("nodeA");
        b_ = unique_scene("nodeB");
        endpoint_ = "127.0.0.1:" + std::to_string(port_);
        StartRedis();
    }
    void TearDown() override {
        for (pid_t p : {mirror_, redis_})
            if (p > 0) {
                kill(p, SIGKILL);
                waitpid(p, nullptr, 0);
            }
        QVH_RemoveScene(a_.c_str());
        QVH_RemoveScene(b_.c_str());
        if (!dir_.empty()) system(("rm -rf " + dir_).c_str());
    }

    void StartRedis() {
        std::vector<std::string> args = {"/usr/bin/redis-server", "--port", std::to_string(port_), "--bind", "127.0.0.1",
                                         "--dir", dir_, "--save", "", "--appendonly", "yes", "--appendfsync", "always",
                                         "--daemonize", "no"};
        args.insert(args.end(), redis_args_.begin(), redis_args_.end());
        redis_ = spawn(args, {}, dir_ + "/redis.log");
        ASSERT_GT(redis_, 0);
        std::string err;
        for (int tries = 0; tries < 200; tries++) {
            if (link_.Connect("127.0.0.1", port_, 200, err)) {
                qvpcl::Reply r = link_.Command({"PING"}, err);
                if (r && qvpcl::ReplyString(r.get()) == "PONG") return;
            }
            usleep(25000);
        }
        FAIL() << "redis-server did not answer: " << err << read_file(dir_ + "/redis.log");
    }
    void StopRedis() {
        kill(redis_, SIGTERM);
        waitpid(redis_, nullptr, 0);
        redis_ = -1;
        link_.Drop();
    }
    void StartMirror() {
        mirror_ = spawn({kBin + "/qvp_mirror", "-scene", b_, "-redis", endpoint_, "-stream", "st", "-cache", dir_ + "/cache"},
                        {}, dir_ + "/mirror.log");
        ASSERT_GT(mirror_, 0);
    }
    // Runs SCRIPT of tests/cluster in a viewer on scene A that publishes its edits.
    int Publish(const std::string &script, const std::vector<std::string> &args = {}) {
        return PublishFile(kDir + script, args);
    }
    // The same for the Tcl text TCL.
    int PublishText(const std::string &tcl) {
        std::string path = dir_ + "/edit.tcl";
        FILE *f = fopen(path.c_str(), "w");
        fputs(tcl.c_str(), f);
        fclose(f);
        return PublishFile(path);
    }
    int PublishFile(const std::string &path, const std::vector<std::string> &args = {}) {
        std::vector<std::string> argv = {kBin + "/qvp_viewer", "-scene", a_, "-keep", "-size", "32x32",
                                         "-redis",           endpoint_, "-stream", "st", path};
        argv.insert(argv.end(), args.begin(), args.end());
        return wait_child(spawn(argv, {}, dir_ + "/publisher.log"), 60000);
    }
    // A redis field of the mirror's status hash.
    std::string Status(const std::string &field) {
        std::string err;
        if (!link_.Connected()) link_.Connect("127.0.0.1", port_, 200, err);
        qvpcl::Reply r = link_.Command({"HGET", "st:mirror:" + b_, field}, err);
        return r ? qvpcl::ReplyString(r.get()) : "";
    }
    // Waits until the mirror has applied every entry of the stream.
    bool Converged(int timeout_ms = 30000) {
        std::string err;
        for (int waited = 0; waited < timeout_ms; waited += 20) {
            qvpcl::Reply info = link_.Command({"XINFO", "STREAM", "st"}, err);
            std::string last = info ? qvpcl::ReplyField(info.get(), "last-generated-id") : "";
            // The video frames too: the mirror has shown the publisher's last clock.
            qvpcl::Reply clock = link_.Command({"GET", "st:clock"}, err);
            std::string t = clock ? qvpcl::ReplyString(clock.get()) : "";
            // ... as the mirror running now reports it (a killed one's report stays).
            if (!last.empty() && Status("last_id") == last && Status("lag_entries") == "0" && Status("clock") == t &&
                Status("pid") == std::to_string(mirror_))
                return true;
            usleep(20000);
        }
        return false;
    }
    // The picture a display of SCENE draws.
    std::vector<unsigned char> Shot(const std::string &scene) {
        std::string path = dir_ + "/" + scene + ".png";
        EXPECT_EQ(wait_child(spawn({kBin + "/qvp_viewer", "-scene", scene, "-size", "160x120", kDir + "shot.tcl", path}), 60000),
                  0);
        int w = 0, h = 0;
        std::vector<unsigned char> px;
        std::string err;
        EXPECT_TRUE(qvpc::ReadPng(path, w, h, px, err)) << err;
        return px;
    }
    void ExpectSamePicture(const char *when) {
        std::vector<unsigned char> a = Shot(a_), b = Shot(b_);
        ASSERT_EQ(a.size(), b.size());
        size_t differ = 0, first = 0;
        for (size_t i = 0; i < a.size(); i++)
            if (a[i] != b[i] && !differ++) first = i;
        EXPECT_EQ(differ, 0u) << when << ": first difference at pixel " << first / 4 << " ("
                              << read_file(dir_ + "/mirror.log").substr(0, 2000) << ")";
    }

    // Starts steady.tcl publishing through ENDPOINT in the background and
    // waits until its show has started; its output goes to publisher.log.
    pid_t StartShow(const std::string &endpoint) {
        std::string log = dir_ + "/publisher.log";
        pid_t pub = spawn({kBin + "/qvp_viewer", "-scene", a_, "-keep", "-size", "32x32", "-redis", endpoint, "-stream", "st",
                           kDir + "steady.tcl"},
                          {}, log);
        for (int waited = 0; waited < 30000 && read_file(log).find("started") == std::string::npos; waited += 10) usleep(10000);
        EXPECT_NE(read_file(log).find("started"), std::string::npos) << read_file(log);
        return pub;
    }
    // The canvases of SCENE with their elements, as listing.tcl writes them.
    std::string Listing(const std::string &scene) {
        std::string path = dir_ + "/" + scene + ".txt";
        EXPECT_EQ(wait_child(spawn({kBin + "/qvp_viewer", "-scene", scene, "-size", "32x32", kDir + "listing.tcl", path}), 60000), 0);
        return read_file(path);
    }

    int port_ = 0;
    std::vector<std::string> redis_args_;  // more options for redis-server
    pid_t redis_ = -1, mirror_ = -1;
    std::string dir_, a_, b_, endpoint_;
    qvpcl::RedisLink link_;
};

TEST_F(Cluster, TwoNodes_SamePictureThroughAKilledMirrorAndTenThousandEdits) {
    StartMirror();
    ASSERT_EQ(Publish("build.tcl"), 0) << read_file(dir_ + "/publisher.log");
    ASSERT_TRUE(Converged()) << read_file(dir_ + "/mirror.log");
    ExpectSamePicture("after the build");
    // The image travelled by content, once.
    std::string err;
    qvpcl::Reply keys = link_.Command({"KEYS", "st:file:*"}, err);
    ASSERT_TRUE(keys);
    EXPECT_EQ(keys->elements, 1u);

    // 10,000 edits at full speed; the mirror killed among them and started again.
    pid_t editor = spawn({kBin + "/qvp_viewer", "-scene", a_, "-keep", "-size", "32x32", "-redis", endpoint_, "-stream", "st",
                          kDir + "edits.tcl", "10000"},
                         {}, dir_ + "/publisher.log");  // in the background: the mirror is killed meanwhile
    for (int waited = 0; waited < 20000 && atoll(Status("applied").c_str()) < 2000; waited += 10) usleep(10000);
    kill(mirror_, SIGKILL);
    waitpid(mirror_, nullptr, 0);
    ASSERT_EQ(wait_child(editor, 60000), 0) << read_file(dir_ + "/publisher.log");
    auto t0 = std::chrono::steady_clock::now();
    StartMirror();
    ASSERT_TRUE(Converged(60000)) << read_file(dir_ + "/mirror.log");
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    printf("restarted mirror replayed %s entries in %.2f s\n", Status("applied").c_str(), s);
    ExpectSamePicture("after 10,000 edits and a killed mirror");
    // The status command reports the lag.
    std::string out = dir_ + "/status.txt";
    ASSERT_EQ(wait_child(spawn({kBin + "/qvp_mirror", "-scene", b_, "-redis", endpoint_, "-stream", "st", "-status"}, {}, out),
                         10000),
              0);
    EXPECT_NE(read_file(out).find("lag 0 entries, 0 ms"), std::string::npos) << read_file(out);
    // A mirror that stopped is not following: -status says so and fails,
    // for systemd or a monitoring check.
    kill(mirror_, SIGTERM);
    EXPECT_EQ(wait_child(mirror_, 10000), 0);
    mirror_ = -1;
    EXPECT_EQ(wait_child(spawn({kBin + "/qvp_mirror", "-scene", b_, "-redis", endpoint_, "-stream", "st", "-status"}, {}, out),
                         10000),
              1);
    EXPECT_NE(read_file(out).find("the mirror stopped"), std::string::npos) << read_file(out);
}

TEST_F(Cluster, RedisRestart_MirrorReconnectsAndCatchesUp) {
    StartMirror();
    ASSERT_EQ(Publish("build.tcl"), 0) << read_file(dir_ + "/publisher.log");
    ASSERT_TRUE(Converged());
    StopRedis();
    // 2026-12-08: a fixed 0.3 s with Redis down was not always long enough
    // for a loaded mirror to notice; it is now given until it says so.
    bool noticed = false;
    for (int waited = 0; waited < 20000 && !noticed; waited += 20) {
        noticed = read_file(dir_ + "/mirror.log").find("lost Redis") != std::string::npos;
        if (!noticed) usleep(20000);
    }
    EXPECT_TRUE(noticed) << read_file(dir_ + "/mirror.log");
    StartRedis();
    ASSERT_EQ(PublishText("canvas configure board -bg {0 0.4 0}\ncanvas add board rect 100 40 150 60 -fill white\n"), 0);
    ASSERT_TRUE(Converged()) << read_file(dir_ + "/mirror.log");
    ExpectSamePicture("after Redis restarted");
}

TEST_F(Cluster, MalformedEntries_LoggedSkippedNothingLostAfter) {
    StartMirror();
    ASSERT_EQ(Publish("build.tcl"), 0);
    std::string err;
    for (auto &fields : std::vector<std::vector<std::string>>{{"v", "1", "op", "canvas create {oops"},
                                                              {"v", "99", "op", "canvas create later"},
                                                              {"junk", "1"},
                                                              {"v", "1", "op", "exec rm -rf /tmp/nothing"},
                                                              {"v", "1", "op", "canvas add board rect 1 2"},
                                                              {"v", "1", "op", "image create x -file qvp-file:00ff.png"}}) {
        std::vector<std::string> cmd = {"XADD", "st", "*"};
        cmd.insert(cmd.end(), fields.begin(), fields.end());
        ASSERT_TRUE(link_.Command(cmd, err)) << err;
    }
    ASSERT_EQ(PublishText("canvas configure board -bg {0.4 0 0}\n"), 0);
    ASSERT_TRUE(Converged()) << read_file(dir_ + "/mirror.log");
    EXPECT_EQ(Status("skipped"), "6");
    ExpectSamePicture("after malformed entries");
    std::string log = read_file(dir_ + "/mirror.log");
    EXPECT_NE(log.find("is not a command"), std::string::npos) << log;
    EXPECT_NE(log.find("record version 99"), std::string::npos) << log;
    EXPECT_NE(log.find("no record version"), std::string::npos) << log;
    EXPECT_NE(log.find("\"exec\" is not a canvas command"), std::string::npos) << log;
    EXPECT_NE(log.find("is not in Redis"), std::string::npos) << log;
}

// A mirror shows the publisher's frame of each clip after a pause, seeks
// and a change of rate: the publisher sends the exact play state each
// change leads to, on the clock the mirror follows.
TEST_F(Cluster, Transport_MirrorShowsThePublishersFrameAfterPauseAndSeek) {
    ClipRecipe grey;
    grey.paint = [](int k, int, int, unsigned char *p) {
        p[0] = p[1] = p[2] = (unsigned char)(10 + 4 * k);
        p[3] = 255;
    };
    // 60 frames a second, as the publisher's display: a clip started one
    // display frame off shows another frame.
    std::string clip = dir_ + "/grey.mkv";
    ASSERT_EQ(write_clip(clip, 50, 32, 24, 60, grey).size(), 50u);
    // The mirror starts after the show and replays it all at once: its
    // clock is then the publisher's last, long after each change.
    ASSERT_EQ(Publish("transport.tcl", {clip}), 0) << read_file(dir_ + "/publisher.log");
    StartMirror();
    ASSERT_TRUE(Converged()) << read_file(dir_ + "/mirror.log");
    ExpectSamePicture("after pause and seeks");
    // The publisher shows what the script asked for: the paused clip at
    // frame 30 (0.51 s) and the other at 0.21 s + 2 x 6/60 s, frame 24.
    std::vector<unsigned char> a = Shot(a_);
    auto count = [&](int grey) {
        int n = 0;
        for (size_t i = 0; i + 3 < a.size(); i += 4) n += abs(a[i] - grey) <= 1 && a[i + 1] == a[i] && a[i + 2] == a[i];
        return n;
    };
    EXPECT_GT(count(10 + 4 * 30), 100) << "the paused clip's frame";
    EXPECT_GT(count(10 + 4 * 24), 100) << "the sped-up clip's frame";
    EXPECT_EQ(Status("skipped"), "0") << read_file(dir_ + "/mirror.log");
}

// A mirror restarted on a used scene removes exactly what an earlier
// mirror made, nested canvases and their links included, and replays
// with nothing skipped; the node's own canvas stays. A canvas on a node
// the mirror's node makes only later waits for it. (2026-12-08: the
// restart logged "canvas kid already exists" and skipped entries, the
// node's own canvas was deleted, and the node-placed canvas was lost.)
TEST_F(Cluster, Restart_NestedAndNodePlacedCanvasesReplayWithNothingSkipped) {
    ASSERT_EQ(Publish("nested.tcl"), 0) << read_file(dir_ + "/publisher.log");
    StartMirror();
    ASSERT_TRUE(Converged()) << read_file(dir_ + "/mirror.log");
    EXPECT_NE(read_file(dir_ + "/mirror.log").find("canvas tag waits for node box"), std::string::npos)
        << read_file(dir_ + "/mirror.log");
    // The node's layout runs after the replay: the label is placed.
    std::string layout_log = dir_ + "/layout.log";
    ASSERT_EQ(wait_child(spawn({kBin + "/qvp_viewer", "-scene", b_, "-keep", "-size", "32x32", kDir + "layout.tcl"}, {}, layout_log),
                         60000),
              0)
        << read_file(layout_log);
    bool placed = false;
    for (int waited = 0; waited < 10000 && !placed; waited += 20) {
        placed = read_file(dir_ + "/mirror.log").find("canvas tag placed on node box") != std::string::npos;
        if (!placed) usleep(20000);
    }
    EXPECT_TRUE(placed) << read_file(dir_ + "/mirror.log");
    // The listing without the node's own canvas, which stays through restarts.
    auto without_local = [](const std::string &l) {
        std::string out;
        for (size_t at = 0; at < l.size();) {
            size_t end = l.find('\n', at);
            std::string line = l.substr(at, end == std::string::npos ? std::string::npos : end - at + 1);
            if (line.compare(0, 10, "local_hud ") != 0) out += line;
            at = end == std::string::npos ? l.size() : end + 1;
        }
        return out;
    };
    std::string a = Listing(a_), b = Listing(b_);
    EXPECT_NE(b.find("local_hud"), std::string::npos) << b;
    EXPECT_EQ(without_local(b), a);
    for (int restart = 0; restart < 2; restart++) {
        kill(mirror_, SIGKILL);
        waitpid(mirror_, nullptr, 0);
        StartMirror();
        ASSERT_TRUE(Converged()) << read_file(dir_ + "/mirror.log");
        EXPECT_EQ(Status("skipped"), "0") << "restart " << restart << ": " << read_file(dir_ + "/mirror.log");
        std::string now = Listing(b_);
        EXPECT_NE(now.find("local_hud"), std::string::npos) << "restart " << restart << ": the node's own canvas is gone";
        EXPECT_EQ(without_local(now), a) << "restart " << restart;
    }
    EXPECT_EQ(read_file(dir_ + "/mirror.log").find("already exists"), std::string::npos) << read_file(dir_ + "/mirror.log");
    ExpectSamePicture("after two restarts");
}

// Redis AUTH: the password comes from the environment or a file, never
// the command line; without it, or with a wrong one, each program says
// so and exits 1.
TEST_F(Cluster, Auth_PasswordFromTheEnvironmentOrAFileNeverTheCommandLine) {
    StopRedis();
    redis_args_ = {"--requirepass", "s3cret"};
    setenv("QVP_REDIS_PASSWORD", "s3cret", 1);
    std::string err;
    ASSERT_TRUE(qvpcl::UseRedisAuth("", err)) << err;  // this test's own link
    StartRedis();
    std::string log = dir_ + "/publisher.log";
    std::vector<std::string> pub = {kBin + "/qvp_viewer", "-scene", a_, "-keep", "-size", "32x32", "-redis", endpoint_,
                                    "-stream", "st", kDir + "build.tcl"};
    EXPECT_EQ(wait_child(spawn(pub, {"QVP_REDIS_PASSWORD="}, log), 60000), 1);
    EXPECT_NE(read_file(log).find("wants a password: set QVP_REDIS_PASSWORD"), std::string::npos) << read_file(log);
    EXPECT_EQ(wait_child(spawn(pub, {"QVP_REDIS_PASSWORD=wrong"}, log), 60000), 1);
    EXPECT_NE(read_file(log).find("Redis refused the password for user default"), std::string::npos) << read_file(log);
    write_file(dir_ + "/bad-auth", "nobody s3cret\n");
    std::string out = dir_ + "/status.txt";
    EXPECT_EQ(wait_child(spawn({kBin + "/qvp_mirror", "-scene", b_, "-redis", endpoint_, "-stream", "st", "-status",
                                "-redis-auth", dir_ + "/bad-auth"},
                               {}, out),
                         10000),
              1);
    EXPECT_NE(read_file(out).find("Redis refused the password for user nobody"), std::string::npos) << read_file(out);
    // The right password: from a file for the mirror, the environment for the publisher.
    write_file(dir_ + "/auth", "s3cret\n");
    chmod((dir_ + "/auth").c_str(), 0600);
    mirror_ = spawn({kBin + "/qvp_mirror", "-scene", b_, "-redis", endpoint_, "-stream", "st", "-cache", dir_ + "/cache",
                     "-redis-auth", dir_ + "/auth"},
                    {"QVP_REDIS_PASSWORD="}, dir_ + "/mirror.log");
    EXPECT_EQ(wait_child(spawn(pub, {}, log), 60000), 0) << read_file(log);
    EXPECT_TRUE(Converged()) << read_file(dir_ + "/mirror.log");
    ExpectSamePicture("signed in");
    unsetenv("QVP_REDIS_PASSWORD");
    ASSERT_TRUE(qvpcl::UseRedisAuth("", err)) << err;
}

// The mirror's file cache on a shared machine: a folder that is not the
// user's own and closed is refused, a cached copy that does not match
// its hash is fetched again, and an entry naming a path outside the
// folder is skipped. (2026-12-08: another user's folder was used, and a
// link planted at the temporary name was written through.)
TEST_F(Cluster, Cache_OwnClosedFolderFilesCheckedAgainstTheirHash) {
    auto mirror_says = [&](const std::string &cache) {
        std::string out = dir_ + "/refused.log";
        EXPECT_EQ(wait_child(spawn({kBin + "/qvp_mirror", "-scene", b_, "-redis", endpoint_, "-stream", "st", "-cache", cache}, {},
                                   out),
                             10000),
                  1);
        return read_file(out);
    };
    std::string open_dir = dir_ + "/open";
    mkdir(open_dir.c_str(), 0755);
    chmod(open_dir.c_str(), 0755);
    EXPECT_NE(mirror_says(open_dir).find("is open to other users"), std::string::npos);
    std::string link = dir_ + "/link";
    ASSERT_EQ(symlink(open_dir.c_str(), link.c_str()), 0);
    EXPECT_NE(mirror_says(link).find("is not a folder (a link?)"), std::string::npos);

    ASSERT_EQ(Publish("build.tcl"), 0) << read_file(dir_ + "/publisher.log");
    std::string err;
    qvpcl::Reply keys = link_.Command({"KEYS", "st:file:*"}, err);
    ASSERT_TRUE(keys && keys->elements == 1u);
    std::string hash = qvpcl::ReplyString(keys->element[0]).substr(8);
    // A copy planted in the cache under the image's name, with other bytes.
    std::string cache = dir_ + "/cache";
    mkdir(cache.c_str(), 0700);
    write_file(cache + "/" + hash + ".png", "not the picture");
    std::vector<std::string> bad = {"XADD", "st", "*", "v", "1", "op", "image create y -file qvp-file:" + hash + "/../../escaped.png"};
    ASSERT_TRUE(link_.Command(bad, err)) << err;
    StartMirror();
    ASSERT_TRUE(Converged()) << read_file(dir_ + "/mirror.log");
    ExpectSamePicture("with a planted copy in the cache");
    std::string have;
    ASSERT_TRUE(qvpcl::Sha256File(cache + "/" + hash + ".png", have));
    EXPECT_EQ(have, hash) << "the planted copy was replaced";
    EXPECT_EQ(Status("skipped"), "1") << read_file(dir_ + "/mirror.log");
    EXPECT_NE(access((dir_ + "/escaped.png").c_str(), F_OK), 0);
}

// A Redis that is frozen rather than dead (SIGSTOP, as a stalled host or
// network does) never holds up the publisher's frames: its edits queue
// and go out once Redis answers again. (2026-12-08: a 12-s freeze made
// a 12,025 ms gap between the master's frames.)
TEST_F(Cluster, FrozenRedis_PublisherFramesNeverWait) {
    StartMirror();
    std::string log = dir_ + "/publisher.log";
    pid_t pub = StartShow(endpoint_);
    kill(redis_, SIGSTOP);
    usleep(3000000);  // the freeze itself, not a wait for anything
    kill(redis_, SIGCONT);
    ASSERT_EQ(wait_child(pub, 60000), 0) << read_file(log);
    std::string text = read_file(log);
    size_t at = text.find("worst gap ");
    ASSERT_NE(at, std::string::npos) << text;
    long worst = atol(text.c_str() + at + 10);
    EXPECT_LT(worst, 1000) << "the longest gap between the publisher's frames, in ms";
    ASSERT_TRUE(Converged()) << read_file(dir_ + "/mirror.log");
    ExpectSamePicture("after a frozen Redis");
}

// Compaction: every 500 entries the publisher writes a snapshot and
// trims the stream, so the stream stays bounded; a mirror started after
// trims starts from the snapshot, and one that slept through a trim
// notices and starts again from it; each ends with the publisher's
// picture and element order, nothing skipped.
TEST_F(Cluster, Compaction_StreamBoundedMirrorsStartFromTheSnapshot) {
    auto publish = [&](const std::string &script, const std::vector<std::string> &args) {
        std::vector<std::string> argv = {kBin + "/qvp_viewer", "-scene", a_, "-keep", "-size", "32x32", "-redis", endpoint_,
                                         "-stream", "st", "-compact", "500", kDir + script};
        argv.insert(argv.end(), args.begin(), args.end());
        return wait_child(spawn(argv, {}, dir_ + "/publisher.log"), 60000);
    };
    auto xlen = [&] {
        std::string err;
        qvpcl::Reply r = link_.Command({"XLEN", "st"}, err);
        return r ? (long long)r->integer : -1;
    };
    ASSERT_EQ(publish("build.tcl", {}), 0) << read_file(dir_ + "/publisher.log");
    StartMirror();
    ASSERT_TRUE(Converged()) << read_file(dir_ + "/mirror.log");
    // The mirror sleeps through 3,000 edits and the trims among them.
    kill(mirror_, SIGSTOP);
    ASSERT_EQ(publish("edits.tcl", {"3000"}), 0) << read_file(dir_ + "/publisher.log");
    EXPECT_LE(xlen(), 1000) << "at most two compaction periods in the stream";
    kill(mirror_, SIGCONT);
    ASSERT_TRUE(Converged()) << read_file(dir_ + "/mirror.log");
    EXPECT_NE(read_file(dir_ + "/mirror.log").find("were trimmed before this mirror read them"), std::string::npos)
        << read_file(dir_ + "/mirror.log");
    EXPECT_EQ(Status("skipped"), "0") << read_file(dir_ + "/mirror.log");
    ExpectSamePicture("after sleeping through trims");
    EXPECT_EQ(Listing(b_), Listing(a_));
    // A mirror started afresh after more edits: from the snapshot.
    kill(mirror_, SIGKILL);
    waitpid(mirror_, nullptr, 0);
    ASSERT_EQ(publish("edits.tcl", {"2000"}), 0);
    EXPECT_LE(xlen(), 1000);
    StartMirror();
    ASSERT_TRUE(Converged()) << read_file(dir_ + "/mirror.log");
    EXPECT_NE(read_file(dir_ + "/mirror.log").find("started from the snapshot of entry"), std::string::npos);
    EXPECT_EQ(Status("skipped"), "0") << read_file(dir_ + "/mirror.log");
    ExpectSamePicture("a mirror started from the snapshot");
    EXPECT_EQ(Listing(b_), Listing(a_));
    // The files neither the snapshot nor an entry names are gone; the image stays.
    std::string err;
    qvpcl::Reply keys = link_.Command({"KEYS", "st:file:*"}, err);
    ASSERT_TRUE(keys);
    EXPECT_EQ(keys->elements, 1u);
}

// A Redis that comes back without its data (restarted without
// persistence): the publisher sends its files again and a fresh snapshot
// of its show, and the mirror, meeting a stream that went backwards,
// starts again from it. (2026-12-08: the node was left empty, with only
// "skipped entry ...: unknown canvas board" as a trace.)
TEST_F(Cluster, RedisLostItsData_PublisherSendsASnapshotMirrorStartsAgain) {
    StartMirror();
    std::string log = dir_ + "/publisher.log";
    pid_t pub = StartShow(endpoint_);
    for (int waited = 0; waited < 10000 && atoll(Status("applied").c_str()) < 50; waited += 10) usleep(10000);
    StopRedis();
    ASSERT_EQ(system(("rm -rf " + dir_ + "/appendonlydir " + dir_ + "/dump.rdb").c_str()), 0);
    StartRedis();
    ASSERT_EQ(wait_child(pub, 60000), 0) << read_file(log);
    EXPECT_NE(read_file(log).find("is gone from Redis (did it lose its data?)"), std::string::npos) << read_file(log);
    ASSERT_TRUE(Converged()) << read_file(dir_ + "/mirror.log");
    EXPECT_NE(read_file(dir_ + "/mirror.log").find("the stream went backwards"), std::string::npos)
        << read_file(dir_ + "/mirror.log");
    ExpectSamePicture("after Redis lost its data");
}

// A snapshot that is truncated or of another version is said so, and the
// mirror replays what the stream holds; a trimmed stream without a usable
// snapshot is reported incomplete, never shown as the whole show.
TEST_F(Cluster, BadSnapshot_SaidAndTheStreamReplayed) {
    ASSERT_EQ(Publish("build.tcl"), 0) << read_file(dir_ + "/publisher.log");
    std::string err;
    for (const char *bad : {"qvp-snapshot 1 {unclosed", "qvp-snapshot 9 1-0 5"}) {
        ASSERT_TRUE(link_.Command({"SET", "st:snapshot", bad}, err)) << err;
        StartMirror();
        ASSERT_TRUE(Converged()) << read_file(dir_ + "/mirror.log");
        ExpectSamePicture(bad);
        std::string log = read_file(dir_ + "/mirror.log");
        EXPECT_NE(log.find("cannot be used: "), std::string::npos) << log;
        kill(mirror_, SIGKILL);
        waitpid(mirror_, nullptr, 0);
    }
    EXPECT_NE(read_file(dir_ + "/mirror.log").find("of version 9 (this mirror reads 1)"), std::string::npos);
    // Trimmed, with the snapshot still bad: the status says incomplete.
    ASSERT_TRUE(link_.Command({"XTRIM", "st", "MAXLEN", "2"}, err)) << err;
    StartMirror();
    for (int waited = 0; waited < 10000 && Status("state") != "incomplete"; waited += 20) usleep(20000);
    EXPECT_EQ(Status("state"), "incomplete") << read_file(dir_ + "/mirror.log");
    std::string out = dir_ + "/status.txt";
    EXPECT_EQ(wait_child(spawn({kBin + "/qvp_mirror", "-scene", b_, "-redis", endpoint_, "-stream", "st", "-status"}, {}, out),
                         10000),
              1);
    EXPECT_NE(read_file(out).find("does not show the whole show"), std::string::npos) << read_file(out);
}

// A display cluster driven from another language: the example publisher
// in Python (redis-py) writes the stream, and a mirror builds its canvas.
TEST_F(Cluster, PythonPublisher_DrivesAMirror) {
    if (access("/usr/bin/python3", X_OK) != 0 ||
        system("/usr/bin/python3 -c 'import redis' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3-redis is not installed (scripts/setup installs it)";
    StartMirror();
    std::string log = dir_ + "/python.log";
    ASSERT_EQ(wait_child(spawn({"/usr/bin/python3", std::string(QVP_SOURCE_DIR) + "/examples/cluster/publisher.py", "--redis",
                                endpoint_, "--stream", "st", "--steps", "20", "--pace", "0"},
                               {}, log),
                         60000),
              0)
        << read_file(log);
    ASSERT_TRUE(Converged()) << read_file(dir_ + "/mirror.log");
    EXPECT_EQ(Status("skipped"), "0") << read_file(dir_ + "/mirror.log");
    EXPECT_EQ(Listing(b_), "py_board  {1 text} {2 text} {3 circle}\n");
    std::string out = dir_ + "/text.tcl";
    write_file(out, "set f [open [lindex $argv 0] w]; puts -nonewline $f [canvas itemcget py_board 2 -text]; close $f\n");
    std::string got = dir_ + "/got.txt";
    ASSERT_EQ(wait_child(spawn({kBin + "/qvp_viewer", "-scene", b_, "-size", "32x32", out, got}), 60000), 0);
    EXPECT_EQ(read_file(got), "step 20");
}

// High availability through Redis Sentinel: a master, a replica and three
// sentinels on loopback ports; the master killed in the middle of a show.
// Publisher and mirror follow the failover to the promoted replica, and
// the node converges on the publisher's picture.
TEST_F(Cluster, Sentinel_FailoverMidShowNodeConverges) {
    std::vector<pid_t> extra;
    auto server = [&](const std::vector<std::string> &args, const std::string &name) {
        pid_t p = spawn(args, {}, dir_ + "/" + name + ".log");
        extra.push_back(p);
        return p;
    };
    // The servers go on any way out of the test, a failed assertion too.
    struct Reaper {
        std::vector<pid_t> &pids;
        ~Reaper() {
            for (pid_t p : pids)
                if (p > 0) {
                    kill(p, SIGKILL);
                    waitpid(p, nullptr, 0);
                }
        }
    } reaper{extra};
    int replica = free_port();
    mkdir((dir_ + "/replica").c_str(), 0700);
    server({"/usr/bin/redis-server", "--port", std::to_string(replica), "--bind", "127.0.0.1", "--dir", dir_ + "/replica",
            "--save", "", "--replicaof", "127.0.0.1", std::to_string(port_)},
           "replica");
    std::string sentinels;
    std::vector<int> sentinel_ports;
    for (int i = 0; i < 3; i++) {
        int sp = free_port();
        sentinel_ports.push_back(sp);
        std::string conf = dir_ + "/sentinel" + std::to_string(i) + ".conf";
        write_file(conf, "port " + std::to_string(sp) + "\nbind 127.0.0.1\ndir " + dir_ +
                             "\nsentinel monitor show 127.0.0.1 " + std::to_string(port_) +
                             " 2\nsentinel down-after-milliseconds show 800\nsentinel failover-timeout show 4000\n");
        server({"/usr/bin/redis-server", conf, "--sentinel"}, "sentinel" + std::to_string(i));
        sentinels += (i ? "," : "") + std::string("127.0.0.1:") + std::to_string(sp);
    }
    std::string endpoint = "sentinel:" + sentinels + "/show";
    // The replica is in sync, and every sentinel knows the master, the
    // replica and the two other sentinels. A sentinel learns of replicas
    // from the master's INFO, every 10 s, and of its peers through the
    // master's hello channel: a master killed before then leaves nothing
    // to promote, or no quorum to elect a leader.
    // (2026-12-09: failed in CI with the replica not yet known to the
    // sentinels; the wait had only asked where the master was.)
    auto sentinels_ready = [&](std::string &why) {
        for (int sp : sentinel_ports) {
            qvpcl::RedisLink s;
            std::string e;
            if (!s.Connect("127.0.0.1", sp, 200, e)) {
                why = "sentinel " + std::to_string(sp) + ": " + e;
                return false;
            }
            qvpcl::Reply m = s.Command({"SENTINEL", "MASTER", "show"}, e);
            if (!m || qvpcl::ReplyField(m.get(), "port") != std::to_string(port_) ||
                atoi(qvpcl::ReplyField(m.get(), "num-slaves").c_str()) < 1 ||
                atoi(qvpcl::ReplyField(m.get(), "num-other-sentinels").c_str()) < 2) {
                why = "sentinel " + std::to_string(sp) + " does not yet know the replica and its peers";
                return false;
            }
        }
        return true;
    };
    std::string host, err;
    int at = 0;
    bool ready = false;
    for (int waited = 0; waited < 30000 && !ready; waited += 100) {
        qvpcl::Reply info = link_.Command({"INFO", "replication"}, err);
        ready = info && qvpcl::ReplyString(info.get()).find("connected_slaves:1") != std::string::npos &&
                qvpcl::ReplyString(info.get()).find("state=online") != std::string::npos && sentinels_ready(err);
        if (!ready) usleep(100000);
    }
    ASSERT_TRUE(ready) << err;
    mirror_ = spawn({kBin + "/qvp_mirror", "-scene", b_, "-redis", endpoint, "-stream", "st", "-cache", dir_ + "/cache"}, {},
                    dir_ + "/mirror.log");
    std::string log = dir_ + "/publisher.log";
    pid_t pub = StartShow(endpoint);
    for (int waited = 0; waited < 10000 && atoll(Status("applied").c_str()) < 50; waited += 10) usleep(10000);
    kill(redis_, SIGKILL);
    waitpid(redis_, nullptr, 0);
    redis_ = -1;
    link_.Drop();
    // The sentinels promote the replica.
    bool promoted = false;
    for (int waited = 0; waited < 30000 && !promoted; waited += 100) {
        promoted = qvpcl::ResolveEndpoint(endpoint, 200, host, at, err) && at == replica;
        if (!promoted) usleep(100000);
    }
    ASSERT_TRUE(promoted) << err << "\n" << read_file(dir_ + "/sentinel0.log");
    EXPECT_EQ(wait_child(pub, 60000), 0) << read_file(log);
    port_ = replica;
    ASSERT_TRUE(link_.Connect("127.0.0.1", port_, 1000, err)) << err;
    EXPECT_TRUE(Converged(30000)) << read_file(dir_ + "/mirror.log") << read_file(log);
    ExpectSamePicture("after a failover");
}

}  // namespace
