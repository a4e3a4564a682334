// publish.cpp - the publishing side of cluster mode: the canvas
// commands' journal turned into stream entries, files named by content,
// and the video clock.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <tcl.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include <hiredis/hiredis.h>

#include "canvas_builder.h"
#include "canvas_tcl.h"
#include "cluster.h"
#include "compact.h"
#include "qvp_externs.h"
#include "redis_link.h"

namespace qvpcl {

namespace {

// Files above this travel by path only: the nodes must share it.
const size_t kMaxFileBytes = (size_t)256 << 20;
// Commands kept while Redis is away or slow; older ones are dropped past it.
const size_t kMaxPending = 1000000;
// Commands sent in one pipeline.
const size_t kBatch = 512;
// Seconds a stopping publisher keeps trying to send what is queued.
const double kStopPatience = 15;

double now_s() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + t.tv_nsec * 1e-9;
}

void warn(const std::string &msg) { QVF_LogWarningF(("cluster: " + msg).c_str(), __FILE__, __LINE__); }

// The publisher of this process; made by StartPublishing. Frames and
// edits only queue: a sender thread of its own talks to Redis, so that a
// Redis that is slow, frozen or gone never holds up the show.
struct Publisher {
    std::string endpoint, stream;
    RedisLink link;                      // the sender thread's
    std::set<std::string> sent_files;    // content hashes queued or in Redis (the caller's)
    std::mutex m;                        // guards what follows
    std::condition_variable cv;
    std::deque<std::vector<std::string>> pending;  // commands not yet sent, in order
    std::string clock;                   // the newest clock not yet sent, "" none
    size_t sending = 0;                  // commands of the pipeline in flight
    bool stop = false;
    std::thread sender;
    // The sender's own: the state sent so far as the entries that rebuild
    // it, the entries sent since the last snapshot, and how many make one
    // (0: never).
    Compactor model;
    long since_snapshot = 0, compact_every = 0;
    // The file each content hash was read from (guarded by m): sent again
    // if Redis loses its data. One per file published.
    std::map<std::string, std::string> file_paths;
    std::string last_sent;   // the sender's: the id of the last entry Redis took
};
Publisher *g_pub = nullptr;

void recover_lost_stream();
void write_snapshot(const std::string &last, long long added, bool resync);

// Connects the sender's link; says once that Redis is away and once
// that it is back.
bool ensure_link(bool &warned) {
    if (g_pub->link.Connected()) return true;
    std::string err;
    if (g_pub->link.ConnectTo(g_pub->endpoint, 500, err)) {
        if (warned) QVF_LogStatusF("cluster: Redis is back, sending the queued edits", __FILE__, __LINE__);
        warned = false;
        recover_lost_stream();
        return g_pub->link.Connected();
    }
    if (!warned) warn(err + " (edits go on here and are queued)");
    warned = true;
    return false;
}

// Writes a snapshot of the state sent so far, covering stream entries up
// to LAST, and trims the entries before it, in one transaction; then
// deletes the files neither the snapshot nor a queued command names.
// With RESYNC an entry after it ("resync" 1) tells every mirror to start
// again from it (entries it had were lost).
void write_snapshot(const std::string &last, long long added, bool resync) {
    std::string err;
    std::vector<std::vector<std::string>> tx = {{"MULTI"},
                                                {"SET", g_pub->stream + ":snapshot",
                                                 SnapshotText(last, added, g_pub->model.Entries())},
                                                {"XTRIM", g_pub->stream, "MINID", last}};
    if (resync) tx.push_back({"XADD", g_pub->stream, "*", "v", std::to_string(kRecordVersion), "resync", "1"});
    tx.push_back({"EXEC"});
    std::vector<Reply> replies;
    if (!g_pub->link.Pipeline(tx, replies, err)) return;
    g_pub->since_snapshot = 0;
    std::set<std::string> keep = g_pub->model.Files();
    {
        std::lock_guard<std::mutex> g(g_pub->m);
        // Files of commands not sent yet: their SET, or an entry naming them.
        for (const auto &cmd : g_pub->pending) {
            if (cmd.size() > 1 && cmd[0] == "SET" && cmd[1].size() > 64) keep.insert(cmd[1].substr(cmd[1].size() - 64));
            for (const std::string &w : cmd)
                for (size_t at = w.find("qvp-file:"); at != std::string::npos; at = w.find("qvp-file:", at + 9))
                    keep.insert(w.substr(at + 9, 64));
        }
    }
    std::string cursor = "0", prefix = g_pub->stream + ":file:";
    do {
        Reply r = g_pub->link.Command({"SCAN", cursor, "MATCH", prefix + "*", "COUNT", "1000"}, err);
        if (!r || r->type != REDIS_REPLY_ARRAY || r->elements != 2) return;
        cursor = ReplyString(r->element[0]);
        for (size_t i = 0; i < r->element[1]->elements; i++) {
            std::string key = ReplyString(r->element[1]->element[i]);
            if (key.size() == prefix.size() + 64 && !keep.count(key.substr(prefix.size())))
                g_pub->link.Command({"DEL", key}, err);
        }
    } while (cursor != "0");
}

// Follows the entries BATCH sent (REPLIES their ids) into the model, and
// writes a snapshot every compact_every entries.
void follow_sent(const std::vector<std::vector<std::string>> &batch, const std::vector<Reply> &replies) {
    std::string last;
    for (size_t i = 0; i < batch.size() && i < replies.size(); i++) {
        const std::vector<std::string> &cmd = batch[i];
        if (cmd.size() < 7 || cmd[0] != "XADD" || !replies[i] || replies[i]->type != REDIS_REPLY_STRING) continue;
        g_pub->model.Take(Entry{cmd[6], cmd.size() >= 9 ? cmd[8] : ""});
        last = g_pub->last_sent = ReplyString(replies[i].get());
        g_pub->since_snapshot++;
    }
    if (g_pub->compact_every > 0 && g_pub->since_snapshot >= g_pub->compact_every && !last.empty()) {
        // This thread alone adds to the stream, so the count now is LAST's.
        std::string err;
        Reply info = g_pub->link.Command({"XINFO", "STREAM", g_pub->stream}, err);
        if (info && info->type == REDIS_REPLY_ARRAY)
            write_snapshot(last, atoll(ReplyField(info.get(), "entries-added").c_str()), false);
    }
}

// After a reconnect: when the stream is gone (a Redis restarted without
// its data, or the stream deleted), sends the files again and a fresh
// snapshot of everything published, so that mirrors start again from it.
void recover_lost_stream() {
    if (g_pub->model.Size() == 0) return;
    std::string err;
    Reply r = g_pub->link.Command({"EXISTS", g_pub->stream}, err);
    if (!r || r->type != REDIS_REPLY_INTEGER) return;
    if (r->integer != 0) {
        // A master promoted after a failover may lack the last entries
        // the old one took: a fresh snapshot, and every mirror told.
        Reply info = g_pub->link.Command({"XINFO", "STREAM", g_pub->stream}, err);
        if (!info || info->type != REDIS_REPLY_ARRAY) return;
        std::string last = ReplyField(info.get(), "last-generated-id");
        if (g_pub->last_sent.empty() || CompareIds(last, g_pub->last_sent) >= 0) return;
        warn("Redis lacks the entries after " + last + " (a failover lost them): sending a fresh snapshot of the show");
        write_snapshot(last, atoll(ReplyField(info.get(), "entries-added").c_str()), true);
        return;
    }
    warn("stream \"" + g_pub->stream + "\" is gone from Redis (did it lose its data?): sending a fresh snapshot of the show");
    std::map<std::string, std::string> paths;
    {
        std::lock_guard<std::mutex> g(g_pub->m);
        paths = g_pub->file_paths;
    }
    for (const std::string &hash : g_pub->model.Files()) {
        auto it = paths.find(hash);
        std::string bytes;
        FILE *f = it == paths.end() ? nullptr : fopen(it->second.c_str(), "rb");
        if (f) {
            char buf[65536];
            size_t n;
            while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
            fclose(f);
        }
        if (!f || Sha256Hex(bytes.data(), bytes.size()) != hash) {
            warn("file " + hash + " cannot be sent again (gone or changed since): mirrors will lack it");
            continue;
        }
        g_pub->link.Command({"SET", g_pub->stream + ":file:" + hash, bytes, "NX"}, err);
    }
    write_snapshot("0-0", 0, true);
}

// The sender thread: sends the queued commands in order, in pipelines,
// then the newest clock; reconnects with back-off. At stop it sends what
// is queued while Redis answers, then ends.
void send_loop() {
    bool warned = false;
    int backoff = 100;
    double stop_at = 0;
    for (;;) {
        std::vector<std::vector<std::string>> batch;
        std::string clock;
        {
            std::unique_lock<std::mutex> g(g_pub->m);
            g_pub->cv.wait(g, [] { return g_pub->stop || !g_pub->pending.empty() || !g_pub->clock.empty(); });
            if (g_pub->pending.empty() && g_pub->clock.empty()) return;  // stopped, all sent
            for (size_t i = 0; i < g_pub->pending.size() && i < kBatch; i++) batch.push_back(g_pub->pending[i]);
            g_pub->sending = batch.size();
            if (batch.empty()) clock.swap(g_pub->clock);
        }
        bool ok = ensure_link(warned);
        std::string err;
        if (ok && !batch.empty()) {
            std::vector<Reply> replies;
            ok = g_pub->link.Pipeline(batch, replies, err);
            // A master that became a replica (a failover) refuses writes:
            // find the master again, the entries still queued.
            for (size_t i = 0; ok && i < replies.size(); i++)
                if (replies[i] && replies[i]->type == REDIS_REPLY_ERROR && strncmp(replies[i]->str, "READONLY", 8) == 0) {
                    err = "Redis at the address is a replica now";
                    g_pub->link.Drop();
                    ok = false;
                }
            if (!ok && !warned) warn("lost Redis: " + err + " (edits are queued)");
            if (!ok) warned = true;
            if (ok) follow_sent(batch, replies);
        } else if (ok && !clock.empty()) {
            ok = g_pub->link.Command({"SET", g_pub->stream + ":clock", clock}, err) != nullptr;
        }
        std::unique_lock<std::mutex> g(g_pub->m);
        g_pub->sending = 0;
        if (ok) {
            for (size_t i = 0; i < batch.size() && !g_pub->pending.empty(); i++) g_pub->pending.pop_front();
            backoff = 100;
            continue;
        }
        // Redis is away: retry with back-off; a stop gives the rest
        // kStopPatience to get through (a failover takes seconds).
        if (g_pub->stop) {
            if (stop_at == 0) stop_at = now_s();
            if (now_s() - stop_at > kStopPatience) {
                warn("Redis did not come back: " + std::to_string(g_pub->pending.size()) + " edits were not sent");
                return;
            }
        }
        g_pub->cv.wait_for(g, std::chrono::milliseconds(backoff));
        backoff = std::min(backoff * 2, 2000);
    }
}

// Queues one command for the sender; past kMaxPending the oldest goes.
void queue(std::vector<std::string> cmd) {
    std::lock_guard<std::mutex> g(g_pub->m);
    if (g_pub->pending.size() >= kMaxPending + g_pub->sending) {
        g_pub->pending.erase(g_pub->pending.begin() + (long)g_pub->sending);
        warn("more than a million edits queued: the oldest is dropped, mirrors will differ");
    }
    g_pub->pending.push_back(std::move(cmd));
    g_pub->cv.notify_one();
}

// The word that stands for file PATH on every node: its content, stored
// once under STREAM:file:HASH (queued before the entry that names it).
// PATH itself when it cannot be read or is too large (then the nodes
// must share the path).
std::string file_word(const std::string &path) {
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return path;
    std::string bytes;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0 && bytes.size() <= kMaxFileBytes) bytes.append(buf, n);
    fclose(f);
    if (bytes.size() > kMaxFileBytes) return path;
    std::string hash = Sha256Hex(bytes.data(), bytes.size());
    size_t dot = path.rfind('.'), slash = path.rfind('/');
    std::string ext = dot != std::string::npos && (slash == std::string::npos || dot > slash) ? path.substr(dot) : "";
    if (g_pub->sent_files.insert(hash).second) {
        {
            std::lock_guard<std::mutex> g(g_pub->m);
            g_pub->file_paths[hash] = path;
        }
        queue({"SET", g_pub->stream + ":file:" + hash, std::move(bytes), "NX"});
    }
    return "qvp-file:" + hash + ext;
}

void journal(int objc, Tcl_Obj *const objv[], int element_id, void *) {
    std::vector<std::string> words;
    for (int i = 0; i < objc; i++) words.push_back(Tcl_GetString(objv[i]));
    PublishWords(words, element_id > 0 ? std::to_string(element_id) : "");
}

// A clip's play state fixed by this process's producer: sent as the
// exact state, so that every mirror shows the frame shown here.
void publish_play(const std::string &canvas, int id, const qvpc::PlayState &s, void *) {
    char play[160];
    snprintf(play, sizeof play, "%.17g %.17g %.17g %d", s.position, s.at, s.rate, s.paused ? 1 : 0);
    PublishWords({"canvas", "itemconfigure", canvas, std::to_string(id), "-play", play});
}

// Fills the model from the stream's snapshot and the entries after it;
// false with ERR set when Redis fails meanwhile.
bool load_published(std::string &err) {
    std::string from = "-";
    Reply snap = g_pub->link.Command({"GET", g_pub->stream + ":snapshot"}, err);
    if (!snap) return false;
    if (snap->type == REDIS_REPLY_STRING) {
        std::string last, why;
        long long added = 0;
        std::vector<Entry> entries;
        if (ParseSnapshot(ReplyString(snap.get()), last, added, entries, why)) {
            for (const Entry &e : entries) g_pub->model.Take(e);
            from = "(" + last;
        } else {
            warn("the stream's snapshot cannot be used (" + why + "); the next one is made from the stream");
        }
    }
    for (;;) {
        Reply r = g_pub->link.Command({"XRANGE", g_pub->stream, from, "+", "COUNT", "1000"}, err);
        if (!r) return false;
        if (r->type != REDIS_REPLY_ARRAY || r->elements == 0) return true;
        for (size_t i = 0; i < r->elements; i++) {
            const redisReply *e = r->element[i];
            if (e->type != REDIS_REPLY_ARRAY || e->elements != 2) continue;
            g_pub->model.Take(Entry{ReplyField(e->element[1], "op"), ReplyField(e->element[1], "id")});
            g_pub->since_snapshot++;
            from = "(" + ReplyString(e->element[0]);
        }
    }
}

}  // namespace

bool StartPublishing(const std::string &endpoint, const std::string &stream, std::string &err, long compact) {
    StopPublishing();
    if (stream.empty()) {
        err = "the stream needs a name";
        return false;
    }
    // Entries are Tcl lists: Tcl's objects need its subsystems, also in a
    // process with no interpreter.
    Tcl_FindExecutable(nullptr);
    g_pub = new Publisher();
    g_pub->stream = stream;
    g_pub->compact_every = compact > 0 ? compact : 0;
    g_pub->endpoint = endpoint;
    if (!CheckEndpoint(endpoint, err) || !g_pub->link.ConnectTo(endpoint, 2000, err)) {
        delete g_pub;
        g_pub = nullptr;
        return false;
    }
    // What earlier publishers of the stream sent is part of the state
    // this one's snapshots hold: the newest snapshot, then the entries after it.
    if (!load_published(err)) {
        delete g_pub;
        g_pub = nullptr;
        return false;
    }
    g_pub->sender = std::thread(send_loop);
    QvpCanvasSetJournal(journal, nullptr);
    qvpc::SetPlayAnchorHook(publish_play, nullptr);
    return true;
}

void StopPublishing() {
    QvpCanvasSetJournal(nullptr, nullptr);
    qvpc::SetPlayAnchorHook(nullptr, nullptr);
    if (!g_pub) return;
    {
        std::lock_guard<std::mutex> g(g_pub->m);
        g_pub->stop = true;
        g_pub->cv.notify_one();
    }
    g_pub->sender.join();
    delete g_pub;
    g_pub = nullptr;
}

bool PublishWords(const std::vector<std::string> &in, const std::string &element_id) {
    if (!g_pub) return false;
    // Viewports a canvas leaves out are this process's own: not sent.
    std::vector<std::string> words;
    for (size_t i = 0; i < in.size(); i++) {
        if (i >= 3 && in[i] == "-exclude" && i + 1 < in.size()) {
            i++;
            continue;
        }
        if (i >= 3 && in[i] == "-file" && i + 1 < in.size()) {
            words.push_back(in[i]);
            words.push_back(file_word(in[++i]));
            continue;
        }
        words.push_back(in[i]);
    }
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(list);
    for (const std::string &w : words) Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(w.data(), (int)w.size()));
    std::vector<std::string> xadd = {"XADD", g_pub->stream, "*", "v", std::to_string(kRecordVersion), "op", Tcl_GetString(list)};
    Tcl_DecrRefCount(list);
    if (!element_id.empty()) {
        xadd.push_back("id");
        xadd.push_back(element_id);
    }
    queue(std::move(xadd));
    return true;
}

void PublishClock(double run_time) {
    if (!g_pub) return;
    char t[64];
    snprintf(t, sizeof t, "%.9g", run_time);
    std::lock_guard<std::mutex> g(g_pub->m);
    g_pub->clock = t;
    g_pub->cv.notify_one();
}

size_t PendingEntries() {
    if (!g_pub) return 0;
    std::lock_guard<std::mutex> g(g_pub->m);
    return g_pub->pending.size();
}

}  // namespace qvpcl
