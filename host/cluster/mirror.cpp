// mirror.cpp - the applying side of cluster mode: a mirror follows the
// stream and makes each edit on its own scene through the canvas
// builder's commands, fetching files by content once, ticking video by
// the publisher's clock and reporting its lag.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <tcl.h>
#include <time.h>
#include <unistd.h>

#include <hiredis/hiredis.h>

#include <algorithm>
#include <set>

#include "canvas_builder.h"
#include "canvas_tcl.h"
#include "qvp_canvas_roots.h"
#include "cluster.h"
#include "compact.h"
#include "qvp_externs.h"
#include "qvp_globals.h"
#include "qvp_host.h"
#include "redis_link.h"

namespace qvpcl {

namespace {

// Set by the signal handler; the loop ends at its next turn.
volatile sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }

void warn(const std::string &msg) { QVF_LogWarningF(("mirror: " + msg).c_str(), __FILE__, __LINE__); }
void status(const std::string &msg) { QVF_LogStatusF(("mirror: " + msg).c_str(), __FILE__, __LINE__); }

double now_ms() {
    struct timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return t.tv_sec * 1e3 + t.tv_nsec * 1e-6;
}

void sleep_ms(int ms) {
    struct timespec t = {ms / 1000, (long)(ms % 1000) * 1000000L};
    nanosleep(&t, nullptr);
}

// The milliseconds part of a stream id "MS-SEQ".
double id_ms(const std::string &id) { return atof(id.c_str()); }

// Makes folder DIR (mode 0700) when it is missing and checks that it is
// this user's own and closed to others: a folder another user made
// first, or a link to one, would let them plant or read the files a
// mirror fetches. False with ERR set.
bool SafeFolder(const std::string &dir, std::string &err) {
    if (dir.empty()) {
        err = "no cache folder";
        return false;
    }
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        err = "cannot make the cache folder \"" + dir + "\": " + strerror(errno);
        return false;
    }
    struct stat st;
    if (lstat(dir.c_str(), &st) != 0) {
        err = "cannot look at the cache folder \"" + dir + "\": " + strerror(errno);
        return false;
    }
    const char *why = !S_ISDIR(st.st_mode) ? "is not a folder (a link?)"
                      : st.st_uid != geteuid() ? "belongs to another user"
                      : (st.st_mode & 077) ? "is open to other users (want mode 0700)"
                                             : nullptr;
    if (why) {
        err = "the cache folder \"" + dir + "\" " + why + "; choose another with -cache DIR";
        return false;
    }
    return true;
}

class Mirror {
public:
    explicit Mirror(const MirrorOptions &o) : o_(o) {}

    int Run() {
        if (!CheckEndpoint(o_.endpoint, err_)) {
            fprintf(stderr, "qvp_mirror: %s\n", err_.c_str());
            return 1;
        }
        if (!qvpc::Attach(err_)) {
            fprintf(stderr, "qvp_mirror: %s\n", err_.c_str());
            return 1;
        }
        if (!SafeFolder(o_.cache_dir, err_)) {
            fprintf(stderr, "qvp_mirror: %s\n", err_.c_str());
            return 1;
        }
        interp_ = Tcl_CreateInterp();
        QvpCanvasRegisterCommands(interp_);
        Clear();
        signal(SIGINT, on_signal);
        signal(SIGTERM, on_signal);
        int backoff = 100;
        while (!g_stop) {
            if (!link_.Connected()) {
                if (!link_.ConnectTo(o_.endpoint, 1000, err_)) {
                    if (link_.AuthRefused()) {
                        fprintf(stderr, "qvp_mirror: %s\n", err_.c_str());
                        Tcl_DeleteInterp(interp_);
                        return 1;
                    }
                    if (!down_) warn(err_ + "; retrying with back-off");
                    down_ = true;
                    sleep_ms(backoff);
                    backoff = std::min(backoff * 2, 2000);
                    continue;
                }
                down_ = false;
                backoff = 100;
                if (!started_ && !Start()) continue;
                status("following stream \"" + o_.stream + "\" at " + o_.endpoint + " from entry " + last_id_);
            }
            if (!Step()) {
                warn("lost Redis at " + o_.endpoint + ": " + err_ + "; reconnecting");
                down_ = true;
            }
        }
        if (link_.Connected()) Report();
        Tcl_DeleteInterp(interp_);
        return 0;
    }

private:
    // Builds the scene from the newest snapshot, then goes on from the
    // entry it covers; without one, from the stream's first entry. False
    // when the link failed.
    bool Start() {
        last_id_ = "0-0";
        position_ = 0;
        snapshot_id_.clear();
        Reply r = link_.Command({"GET", o_.stream + ":snapshot"}, err_);
        if (!r) return false;
        started_ = true;
        incomplete_ = false;
        if (r->type == REDIS_REPLY_STRING) {
            std::string last, why;
            long long added = 0;
            std::vector<Entry> entries;
            if (ParseSnapshot(ReplyString(r.get()), last, added, entries, why)) {
                for (const Entry &e : entries)
                    if (!Apply("snapshot", std::to_string(kRecordVersion), e.op, e.id)) return false;
                last_id_ = snapshot_id_ = last;
                position_ = added;
                applied_ = 0;
                status("started from the snapshot of entry " + last + " (" + std::to_string(entries.size()) + " entries)");
                return true;
            }
            warn("the snapshot of stream \"" + o_.stream + "\" cannot be used: " + why + "; replaying what the stream holds");
        }
        // No snapshot: the stream must still hold its first entry.
        Reply info = link_.Command({"XINFO", "STREAM", o_.stream}, err_);
        if (!info) {
            started_ = false;
            return false;
        }
        long long added = atoll(ReplyField(info.get(), "entries-added").c_str());
        long long length = atoll(ReplyField(info.get(), "length").c_str());
        if (info->type == REDIS_REPLY_ARRAY && added > length) {
            // What is gone is known to be gone: go on from what is left.
            incomplete_ = true;
            position_ = added - length;
            warn("stream \"" + o_.stream + "\" was trimmed (" + std::to_string(added - length) +
                 " entries gone) and holds no snapshot: this node shows only what came after, not the whole show");
        }
        return true;
    }

    // Deletes exactly the canvases an earlier mirror made here (the
    // node's own canvases stay), so that the replay builds them anew:
    // first the links between them (parents, canvas elements), then the
    // canvases. The images it loaded are freed with them, their loader
    // having ended.
    void Clear() {
        std::vector<std::string> names = MadeNames();
        std::vector<QVP_CANVAS *> made;
        for (const std::string &n : names)
            if (QVP_CANVAS *c = qvpc::FindCanvas(n)) made.push_back(c);
        std::string e;
        for (QVP_CANVAS *c : made) {
            QVP_CANVAS desc;
            {
                qvpc::Lock lock;
                desc = *c;
            }
            if (desc.parent) {
                desc.parent = nullptr;
                qvpc::ConfigureCanvas(c, desc, false, {}, e);
            }
            for (bool again = true; again;) {
                again = false;
                QVP_CANVAS_ELEMENT *shows = nullptr;
                {
                    qvpc::Lock lock;
                    QVP_WALK(QVP_CANVAS_ELEMENT, k, c->elements) if (k->type == ELEMENT_CANVAS && !shows) shows = k;
                }
                if (shows) again = qvpc::DeleteElement(c, shows, e);
            }
        }
        size_t kept = 0;
        for (QVP_CANVAS *c : made)
            if (!qvpc::DeleteCanvas(c, e)) {
                warn("cannot remove canvas \"" + std::string(c->name) + "\" an earlier mirror made: " + e);
                kept++;
            }
        ForgetMade();
        // The images this mirror loaded itself go too (a start again from
        // the snapshot loads them anew); an earlier mirror's are freed by
        // CollectImages, their loader having ended.
        for (const std::string &name : qvpc::ImageNames()) qvpc::DeleteImage(name, e);
        if (!made.empty())
            status("removed " + std::to_string(made.size() - kept) + " canvases an earlier mirror of this scene made");
        qvpc::CollectImages(true);
    }

    // The canvases mirrors made in this scene, kept in the scene itself
    // (scene data "QVP_MIRROR_MADE": a count and an arena array of names)
    // so that the next mirror removes exactly those. At most kMostMade.
    static const int kMostMade = 65536;
    struct MadeList {
        uint32_t magic;
        int count, cap;
        char (*names)[120];
    };
    static constexpr uint32_t kMadeMagic = 0x4d4d5651;  // "QVMM"
    MadeList *Made() {
        MadeList *m = (MadeList *)QVH_FindSceneData("QVP_MIRROR_MADE");
        if (!m) m = (MadeList *)QVF_AddDataToScene(QVV_scene, "QVP_MIRROR_MADE", sizeof(MadeList));
        if (m && m->magic != kMadeMagic) {
            memset(m, 0, sizeof *m);
            m->magic = kMadeMagic;
        }
        return m;
    }
    std::vector<std::string> MadeNames() {
        std::vector<std::string> v;
        qvpc::Lock lock;
        MadeList *m = Made();
        if (!m || !m->names || !QVH_InArena(m->names)) return v;
        for (int i = 0; i < m->count && i < m->cap; i++) v.push_back(std::string(m->names[i], strnlen(m->names[i], 120)));
        return v;
    }
    void NoteMade(const std::string &name) {
        qvpc::Lock lock;
        MadeList *m = Made();
        if (!m) return;
        if (m->count >= kMostMade) {
            if (!made_full_) warn("more than " + std::to_string(kMostMade) + " canvases: a restart will not remove the rest");
            made_full_ = true;
            return;
        }
        if (m->count >= m->cap) {
            // A larger array, filled before it is published.
            int cap = std::max(64, m->cap * 2);
            char(*grown)[120] = (char(*)[120])QVH_Alloc((size_t)cap * 120);
            if (!grown) return;
            if (m->names && m->count) memcpy(grown, m->names, (size_t)m->count * 120);
            char(*old)[120] = m->names;
            __atomic_store_n(&m->names, grown, __ATOMIC_RELEASE);
            m->cap = cap;
            QVH_Free(old);
        }
        snprintf(m->names[m->count], 120, "%s", name.c_str());
        __atomic_store_n(&m->count, m->count + 1, __ATOMIC_RELEASE);
    }
    void ForgetMadeName(const std::string &name) {
        qvpc::Lock lock;
        MadeList *m = Made();
        if (!m || !m->names) return;
        for (int i = 0; i < m->count; i++)
            if (strncmp(m->names[i], name.c_str(), 120) == 0) {
                memcpy(m->names[i], m->names[m->count - 1], 120);
                m->count--;
                return;
            }
    }
    void ForgetMade() {
        qvpc::Lock lock;
        MadeList *m = Made();
        if (!m) return;
        m->count = 0;
    }

    // Reads and applies what is new, ticks the video clock and reports;
    // false when the link failed.
    bool Step() {
        Reply r = link_.Command({"XREAD", "COUNT", "1000", "BLOCK", "20", "STREAMS", o_.stream, last_id_}, err_);
        if (!r) return false;
        if (r->type == REDIS_REPLY_ARRAY && r->elements > 0 && r->element[0]->elements == 2) {
            // Entries after the last one applied trimmed away, or a stream
            // made anew (Redis lost its data): start again from the snapshot.
            Reply info = link_.Command({"XINFO", "STREAM", o_.stream}, err_);
            if (!info) return false;
            long long added = atoll(ReplyField(info.get(), "entries-added").c_str());
            long long length = atoll(ReplyField(info.get(), "length").c_str());
            const char *why = added - length > position_
                                  ? "entries after the last one applied were trimmed before this mirror read them"
                              : added < seen_added_ ? "the stream went backwards (made anew: Redis lost its data?)"
                                                    : nullptr;
            if (why) {
                warn(std::string(why) + "; starting again from the snapshot");
                seen_added_ = 0;
                Clear();
                return Start();
            }
            seen_added_ = added;
            redisReply *entries = r->element[0]->element[1];
            for (size_t i = 0; i < entries->elements; i++) {
                redisReply *e = entries->element[i];
                if (e->type != REDIS_REPLY_ARRAY || e->elements != 2) continue;
                std::string id = ReplyString(e->element[0]);
                // The publisher found entries lost (a failover, a Redis
                // that lost its data) and wrote a fresh snapshot before this.
                if (ReplyField(e->element[1], "resync") == "1") {
                    if (CompareIds(id, resynced_) > 0) {
                        resynced_ = id;
                        warn("the publisher asks for a start again from its snapshot (entries were lost)");
                        Clear();
                        return Start();
                    }
                    last_id_ = id;
                    position_++;
                    continue;
                }
                if (!Apply(id, e->element[1])) return false;
                last_id_ = id;
                applied_++;
                position_++;
                if (!link_.Connected()) return false;
            }
        }
        if (!Tick()) return false;
        if (now_ms() - reported_ >= 200) return Report();
        return true;
    }

    // Applies one entry; a malformed or refused one is logged and skipped.
    // False when the link failed while it fetched a file: the entry is
    // applied again after the reconnect, never skipped for that.
    bool Apply(const std::string &id, const redisReply *fields) {
        return Apply(id, ReplyField(fields, "v"), ReplyField(fields, "op"), ReplyField(fields, "id"));
    }
    bool Apply(const std::string &id, const std::string &v, const std::string &op, const std::string &want_id) {
        if (v != std::to_string(kRecordVersion)) {
            Skip(id, v.empty() ? "no record version" : "record version " + v + " (this mirror reads " +
                                                           std::to_string(kRecordVersion) + ")");
            return true;
        }
        Tcl_Obj *list = Tcl_NewStringObj(op.data(), (int)op.size());
        Tcl_IncrRefCount(list);
        int n = 0;
        Tcl_Obj **words = nullptr;
        if (Tcl_ListObjGetElements(nullptr, list, &n, &words) != TCL_OK || n < 2) {
            Skip(id, "its op is not a command: \"" + op.substr(0, 80) + "\"");
            Tcl_DecrRefCount(list);
            return true;
        }
        std::string cmd = Tcl_GetString(words[0]), sub = Tcl_GetString(words[1]),
                    name = n >= 3 ? Tcl_GetString(words[2]) : "";
        if (cmd != "font" && cmd != "image" && cmd != "canvas") {
            Skip(id, "\"" + cmd + "\" is not a canvas command");
            Tcl_DecrRefCount(list);
            return true;
        }
        std::vector<Tcl_Obj *> objs(words, words + n);
        // An element gets the id it got at the publisher.
        if (!want_id.empty() && cmd == "canvas") {
            objs.push_back(Tcl_NewStringObj("-id", -1));
            objs.push_back(Tcl_NewStringObj(want_id.c_str(), -1));
        }
        for (Tcl_Obj *&w : objs) {
            const char *s = Tcl_GetString(w);
            if (strncmp(s, "qvp-file:", 9) == 0) {
                std::string path;
                bool lost = false;
                if (!Fetch(s + 9, path, lost)) {
                    // The words made here (not the list's own) go too.
                    for (Tcl_Obj *o : objs)
                        if (std::find(words, words + n, o) == words + n) {
                            Tcl_IncrRefCount(o);
                            Tcl_DecrRefCount(o);
                        }
                    Tcl_DecrRefCount(list);
                    if (lost) return false;
                    Skip(id, "file " + std::string(s) + " is not in Redis");
                    return true;
                }
                w = Tcl_NewStringObj(path.c_str(), -1);
            }
        }
        for (Tcl_Obj *w : objs) Tcl_IncrRefCount(w);
        int rc = Tcl_EvalObjv(interp_, (int)objs.size(), objs.data(), TCL_EVAL_GLOBAL);
        std::string result = Tcl_GetStringResult(interp_);
        for (Tcl_Obj *w : objs) Tcl_DecrRefCount(w);
        Tcl_DecrRefCount(list);
        if (rc != TCL_OK) {
            // A font made by an earlier mirror of this scene is still there.
            if (cmd == "font" && result.find("already exists") != std::string::npos) return true;
            Skip(id, result);
            return true;
        }
        if (!want_id.empty() && result != want_id)
            warn("entry " + id + ": element id " + result + " here, " + want_id + " at the publisher");
        if (cmd == "canvas" && sub == "create") NoteMade(name);
        if (cmd == "canvas" && sub == "delete") ForgetMadeName(name);
        return true;
    }

    void Skip(const std::string &id, const std::string &why) {
        skipped_++;
        warn("skipped entry " + id + ": " + why);
    }

    // The local copy of the file with content HASH.EXT: fetched once into
    // the cache folder and checked against its hash (the copy already
    // there too, once per run). LOST is set when the link failed, so that
    // the entry is tried again after the reconnect.
    bool Fetch(const std::string &ref, std::string &path, bool &lost) {
        lost = false;
        size_t dot = ref.find('.');
        std::string hash = ref.substr(0, dot), ext = dot == std::string::npos ? "" : ref.substr(dot);
        if (hash.size() != 64 || hash.find_first_not_of("0123456789abcdef") != std::string::npos) return false;
        if (ext.size() > 16 || ext.find_first_not_of(".abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789") !=
                                   std::string::npos || ext.find('.', 1) != std::string::npos)
            return false;
        path = o_.cache_dir + "/" + hash + ext;
        if (verified_.count(hash)) return true;
        std::string have;
        if (Sha256File(path, have) && have == hash) {
            if (verified_.size() < kMostVerified) verified_.insert(hash);
            return true;
        }
        Reply r = link_.Command({"GET", o_.stream + ":file:" + hash}, err_);
        if (!r) {
            lost = true;
            return false;
        }
        if (r->type != REDIS_REPLY_STRING) return false;
        if (Sha256Hex(r->str, r->len) != hash) {
            warn("file " + hash + " in Redis does not have that hash: not used");
            return false;
        }
        // Written under a fresh name of this process's own, never through
        // a link someone planted, then renamed into place.
        std::string tmp = path + ".part" + std::to_string(getpid()) + "-" + std::to_string(++parts_);
        int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        bool ok = fd >= 0;
        for (size_t done = 0; ok && done < r->len;) {
            ssize_t n = write(fd, r->str + done, r->len - done);
            if (n <= 0) ok = false;
            else done += (size_t)n;
        }
        if (fd >= 0) ok = close(fd) == 0 && ok;
        ok = ok && rename(tmp.c_str(), path.c_str()) == 0;
        if (!ok) {
            warn("cannot keep file " + hash + " in " + o_.cache_dir + ": " + strerror(errno));
            unlink(tmp.c_str());
        } else if (verified_.size() < kMostVerified) {
            verified_.insert(hash);
        }
        return ok;
    }

    // Places canvases waiting for a node the node's layout has made since,
    // and shows the video frames for the publisher's clock.
    bool Tick() {
        qvpc::PlaceWaitingCanvases();
        Reply r = link_.Command({"GET", o_.stream + ":clock"}, err_);
        if (!r) return false;
        if (r->type == REDIS_REPLY_STRING) {
            clock_text_ = ReplyString(r.get());
            double t = atof(clock_text_.c_str());
            // Every turn: an element made since the clock last moved must
            // show the clock's frame too (a producer skips a frame it shows).
            qvpc::TickVideo(t);
        }
        return true;
    }

    // Writes the lag to STREAM:mirror:SCENE.
    bool Report() {
        reported_ = now_ms();
        // The lag is the entries the stream took after the last one applied
        // (its entries-added count against the entries this mirror has
        // gone past), and how long the first of those has waited.
        Reply info = link_.Command({"XINFO", "STREAM", o_.stream}, err_);
        if (!info) return false;
        long long lag = info->type == REDIS_REPLY_ARRAY
                            ? std::max(0LL, atoll(ReplyField(info.get(), "entries-added").c_str()) - position_)
                            : 0;
        double lag_ms = 0;
        if (lag > 0) {
            Reply next = link_.Command({"XRANGE", o_.stream, "(" + last_id_, "+", "COUNT", "1"}, err_);
            if (!next) return false;
            if (next->type == REDIS_REPLY_ARRAY && next->elements == 1 && next->element[0]->elements == 2)
                lag_ms = std::max(0.0, now_ms() - id_ms(ReplyString(next->element[0]->element[0])));
        }
        char ms[32];
        snprintf(ms, sizeof ms, "%.0f", lag_ms);
        Reply r = link_.Command({"HSET", o_.stream + ":mirror:" + o_.scene, "applied", std::to_string(applied_), "skipped",
                                 std::to_string(skipped_), "last_id", last_id_, "lag_entries", std::to_string(lag),
                                 "lag_ms", ms, "clock", clock_text_, "updated_ms", std::to_string((long long)now_ms()), "pid",
                                 std::to_string(getpid()), "state", g_stop ? "stopped" : incomplete_ ? "incomplete" : "following",
                                 "snapshot", snapshot_id_.empty() ? "none" : snapshot_id_},
                                err_);
        return r != nullptr;
    }

    MirrorOptions o_;
    std::string err_, last_id_ = "0-0";
    std::string clock_text_;  // the publisher's clock as last applied
    RedisLink link_;
    Tcl_Interp *interp_ = nullptr;
    long long applied_ = 0, skipped_ = 0;
    double reported_ = 0;
    bool down_ = false;
    bool made_full_ = false;
    bool started_ = false;      // built from the snapshot (or the start) since the last Clear
    bool incomplete_ = false;   // the stream was trimmed and had no snapshot
    std::string snapshot_id_;   // the entry the snapshot it started from covers
    long long seen_added_ = 0;  // the stream's entries-added at the last read
    long long position_ = 0;    // entries of the stream (ever added) up to the last one applied
    std::string resynced_ = "0-0";  // the last "resync" entry acted on
    // The files whose cached copy was checked against its hash this run;
    // at most kMostVerified (past it, files are checked at each use).
    static const size_t kMostVerified = 100000;
    std::set<std::string> verified_;
    long parts_ = 0;  // temporary files made, for their names
};

}  // namespace

int RunMirror(const MirrorOptions &o) {
    Mirror m(o);
    return m.Run();
}

bool MirrorStatus(const std::string &endpoint, const std::string &stream, const std::string &scene, std::string &line,
                  std::string &err) {
    RedisLink link;
    if (!CheckEndpoint(endpoint, err) || !link.ConnectTo(endpoint, 2000, err)) return false;
    Reply r = link.Command({"HGETALL", stream + ":mirror:" + scene}, err);
    if (!r) return false;
    if (r->type != REDIS_REPLY_ARRAY || r->elements == 0) {
        err = "no mirror of scene \"" + scene + "\" has reported on stream \"" + stream + "\"";
        return false;
    }
    double age = now_ms() - atof(ReplyField(r.get(), "updated_ms").c_str());
    std::string state = ReplyField(r.get(), "state");
    char buf[512];
    std::string snapshot = ReplyField(r.get(), "snapshot");
    snprintf(buf, sizeof buf,
             "applied %s, lag %s entries, %s ms, skipped %s, last entry %s, reported %.0f ms ago (pid %s), started from %s",
             ReplyField(r.get(), "applied").c_str(), ReplyField(r.get(), "lag_entries").c_str(),
             ReplyField(r.get(), "lag_ms").c_str(), ReplyField(r.get(), "skipped").c_str(),
             ReplyField(r.get(), "last_id").c_str(), age, ReplyField(r.get(), "pid").c_str(),
             snapshot.empty() || snapshot == "none" ? "the stream's start" : ("the snapshot of entry " + snapshot).c_str());
    line = buf;
    if (state == "incomplete") {
        err = line + "; the stream was trimmed and held no snapshot: this node does not show the whole show";
        return false;
    }
    // A mirror reports five times a second while it follows: one silent
    // for 5 s, or one that said it stopped, is not following.
    if (state == "stopped") {
        err = line + "; the mirror stopped";
        return false;
    }
    if (age > 5000) {
        err = line + "; no report for over 5 s: the mirror is not running or cannot reach Redis";
        return false;
    }
    return true;
}

}  // namespace qvpcl
