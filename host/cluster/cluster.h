/* cluster.h - canvases mirrored to every render node of a display
 * cluster through a Redis stream.
 *
 * The process that edits canvases publishes each change its font, image
 * and canvas commands make as one stream entry: fields "v" (the record
 * version, 1), "op" (the command's words as a Tcl list) and, for
 * "canvas add", "id" (the element id it got). Files the words name
 * (-file) travel by content: the entry names "qvp-file:SHA256.EXT" and
 * the bytes sit once in key STREAM:file:SHA256. The publisher also keeps
 * the display's run_time in STREAM:clock, the clock video frames follow,
 * and each time one of its clips starts, is sought, paused, resumed or
 * changes rate, the exact play state that results, as "canvas
 * itemconfigure C ID -play {POSITION AT RATE PAUSED}" (AT on that clock).
 *
 * A mirror (qvp_mirror) on each node applies the stream to its own scene
 * in order, through the same commands, and reports how far behind it is
 * in the hash STREAM:mirror:SCENE. */
#ifndef QVP_CLUSTER_H
#define QVP_CLUSTER_H

#include <string>
#include <vector>

namespace qvpcl {

/* Takes the credentials every link of this process signs in with: from
 * FILE when given (one line, "USER PASSWORD" or "PASSWORD"), else from
 * the environment (QVP_REDIS_PASSWORD, and QVP_REDIS_USER for a Redis 6
 * ACL user), else none. Never from the command line, which every local
 * user can read. False with ERR set when FILE cannot be read or says
 * nothing. */
bool UseRedisAuth(const std::string &file, std::string &err);

/* The entry format this build writes and reads. */
const int kRecordVersion = 1;

/* Every this many entries the publisher writes a snapshot of what it
 * published, STREAM:snapshot ("qvp-snapshot 1 LAST {OP ID} ...": the
 * entries that rebuild the state, covering the stream up to entry LAST),
 * and trims the entries before it; 0 never does. */
const long kCompactEvery = 10000;

/* Starts publishing this process's canvas edits to STREAM at
 * HOST:PORT ("HOST:PORT" in ENDPOINT). False with ERR set when Redis
 * cannot be reached now; later failures are logged, the entries kept
 * and sent once Redis is back. */
bool StartPublishing(const std::string &endpoint, const std::string &stream, std::string &err,
                     long compact = kCompactEvery);
void StopPublishing();

/* Publishes one edit given as command words (what the journal does for
 * each command): queued at once, in order, for the publisher's sender
 * thread, so no frame or edit waits on Redis; false when this process
 * does not publish. */
bool PublishWords(const std::vector<std::string> &words, const std::string &element_id = "");

/* Publishes the display's RUN_TIME as the cluster's video clock (the
 * newest one, after the entries queued before it). */
void PublishClock(double run_time);

/* Commands queued and not yet sent (Redis away, slow, or just busy). */
size_t PendingEntries();

struct MirrorOptions {
    std::string endpoint;       /* HOST:PORT */
    std::string stream;
    std::string scene;          /* the scene applied to (open already) */
    std::string cache_dir;      /* where fetched files are kept */
};

/* Applies the stream to the open scene until SIGINT or SIGTERM: first
 * clears what an earlier mirror of this scene left, replays the stream
 * from its start, then follows its tail; reconnects with back-off when
 * Redis goes away. Returns the exit status. */
int RunMirror(const MirrorOptions &o);

/* The status a running mirror of SCENE reports, as one line; false with
 * ERR set when Redis cannot be asked, no mirror has reported, or the
 * mirror is not following (it stopped, or has not reported for 5 s: ERR
 * then holds the last status and why). */
bool MirrorStatus(const std::string &endpoint, const std::string &stream, const std::string &scene, std::string &line,
                  std::string &err);

}  // namespace qvpcl

#endif
