// publish.cpp - the publishing side of cluster mode: the canvas
// commands' journal turned into stream entries, files named by content,
// and the video clock.
#include <stdio.h>
#include <string.h>
#include <tcl.h>

#include <deque>
#include <set>

#include "canvas_builder.h"
#include "canvas_tcl.h"
#include "cluster.h"
#include "qvp_externs.h"
#include "redis_link.h"

namespace qvpcl {

namespace {

// The publisher of this process; made by StartPublishing.
struct Publisher {
    std::string host, stream;
    int port = 0;
    RedisLink link;
    std::set<std::string> sent_files;   // content hashes already in Redis
    std::deque<std::vector<std::string>> pending;  // XADDs not yet sent
    bool warned = false;
};
Publisher *g_pub = nullptr;

// Files above this travel by path only: the nodes must share it.
const size_t kMaxFileBytes = (size_t)256 << 20;
// Entries kept while Redis is away; older ones are dropped past it.
const size_t kMaxPending = 1000000;

void warn(const std::string &msg) { QVF_LogWarningF(("cluster: " + msg).c_str(), __FILE__, __LINE__); }

bool ensure_link() {
    if (g_pub->link.Connected()) return true;
    std::string err;
    if (g_pub->link.Connect(g_pub->host, g_pub->port, 500, err)) {
        if (g_pub->warned) QVF_LogStatusF("cluster: Redis is back, sending the queued edits", __FILE__, __LINE__);
        g_pub->warned = false;
        return true;
    }
    if (!g_pub->warned) warn(err + " (edits go on here and are queued)");
    g_pub->warned = true;
    return false;
}

// The word that stands for file PATH on every node: its content, stored
// once under STREAM:file:HASH. PATH itself when it cannot be read or is
// too large (then the nodes must share the path).
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
    if (!g_pub->sent_files.count(hash) && ensure_link()) {
        std::string err;
        Reply r = g_pub->link.Command({"SET", g_pub->stream + ":file:" + hash, bytes, "NX"}, err);
        if (r) g_pub->sent_files.insert(hash);
        else warn("cannot store file \"" + path + "\": " + err);
    }
    return "qvp-file:" + hash + ext;
}

// Sends the queued entries in order; false when Redis is away.
bool flush() {
    while (!g_pub->pending.empty()) {
        if (!ensure_link()) return false;
        std::vector<std::vector<std::string>> batch;
        for (size_t i = 0; i < g_pub->pending.size() && i < 512; i++) batch.push_back(g_pub->pending[i]);
        std::vector<Reply> replies;
        std::string err;
        if (!g_pub->link.Pipeline(batch, replies, err)) {
            warn("lost Redis: " + err + " (edits are queued)");
            g_pub->warned = true;
            return false;
        }
        for (size_t i = 0; i < batch.size(); i++) g_pub->pending.pop_front();
    }
    return true;
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

}  // namespace

bool StartPublishing(const std::string &endpoint, const std::string &stream, std::string &err) {
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
    if (!ParseEndpoint(endpoint, g_pub->host, g_pub->port, err) ||
        !g_pub->link.Connect(g_pub->host, g_pub->port, 2000, err)) {
        StopPublishing();
        return false;
    }
    QvpCanvasSetJournal(journal, nullptr);
    qvpc::SetPlayAnchorHook(publish_play, nullptr);
    return true;
}

void StopPublishing() {
    QvpCanvasSetJournal(nullptr, nullptr);
    qvpc::SetPlayAnchorHook(nullptr, nullptr);
    if (g_pub) flush();
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
    if (g_pub->pending.size() >= kMaxPending) {
        g_pub->pending.pop_front();
        warn("more than a million edits queued: the oldest is dropped, mirrors will differ");
    }
    g_pub->pending.push_back(xadd);
    return flush();
}

void PublishClock(double run_time) {
    if (!g_pub || !g_pub->pending.empty() || !g_pub->link.Connected()) {
        if (g_pub) flush();
        return;
    }
    char t[64];
    snprintf(t, sizeof t, "%.9g", run_time);
    std::string err;
    if (!g_pub->link.Command({"SET", g_pub->stream + ":clock", t}, err)) warn("lost Redis: " + err);
}

size_t PendingEntries() { return g_pub ? g_pub->pending.size() : 0; }

}  // namespace qvpcl
