// log.cpp - the host log: one line per message on stderr, and the recent
// lines kept in memory for tests and the viewer.
#include <stdarg.h>
#include <stdio.h>
#include <stdint.h>
#include <string.h>
#include <time.h>

#include <deque>
#include <mutex>
#include <set>
#include <string>

#include "qvp_externs.h"
#include "qvp_host.h"
#include "qvp_internal.h"

namespace {
// The kept lines, oldest first; appended by log_line, trimmed to
// QVH_LOG_KEEP, emptied by QVH_LogClear.
std::deque<QVH_LOGLINE> &lines() {
    static std::deque<QVH_LOGLINE> d;
    return d;
}
std::mutex g_log_mutex;
// Whether lines are copied to stderr; set by QVH_LogToStderr.
bool g_to_stderr = true;

// The clock of the repeat rule; set by QVH_LogSetClock.
double (*g_clock)(void) = nullptr;

double log_now() {
    if (g_clock) return g_clock();
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + t.tv_nsec * 1e-9;
}

// A call site whose lines are followed: when one was last written and
// how many have been held back since. Filled by repeat_rule, emptied by
// QVH_LogClear; QVH_LOG_REPEAT_SITES entries, the quietest replaced.
struct Repeat {
    uint64_t key = 0;
    double written = 0, seen = 0;
    long held = 0;
};
Repeat g_repeats[QVH_LOG_REPEAT_SITES];

// The key of a line: its level, source, line and words.
uint64_t repeat_key(int level, const char *source, int line, const char *text) {
    uint64_t h = 1469598103934665603ULL;
    auto mix = [&](unsigned char c) { h = (h ^ c) * 1099511628211ULL; };
    for (const char *p = source; *p; p++) mix((unsigned char)*p);
    mix((unsigned char)level);
    for (int v = line, k = 0; k < 4; k++, v >>= 8) mix((unsigned char)v);
    for (const char *p = text; *p; p++) mix((unsigned char)*p);
    return h ? h : 1;
}

// Whether the line with KEY is written now; sets HELD to the lines held
// back since the last one written. The caller holds g_log_mutex.
bool repeat_rule(uint64_t key, long &held) {
    double now = log_now();
    Repeat *quiet = &g_repeats[0];
    for (Repeat &r : g_repeats) {
        if (r.key == key) {
            r.seen = now;
            if (now - r.written < QVH_LOG_REPEAT_S) {
                r.held++;
                return false;
            }
            held = r.held;
            r.held = 0;
            r.written = now;
            return true;
        }
        if (quiet->key != 0 && (r.key == 0 || r.seen < quiet->seen)) quiet = &r;
    }
    // A site not followed yet takes the place of the one quiet longest
    // (an empty entry is the quietest of all).
    *quiet = Repeat();
    quiet->key = key;
    quiet->written = quiet->seen = now;
    held = 0;
    return true;
}

// Keeps MSG in the log, and copies it to stderr when ECHO and the copy is on.
void log_line(int level, const char *msg, const char *source, int line, bool echo = true) {
    QVH_LOGLINE l;
    memset(&l, 0, sizeof l);
    l.level = level;
    l.line = line;
    snprintf(l.source, sizeof l.source, "%s", source ? source : "?");
    snprintf(l.text, sizeof l.text, "%s", msg ? msg : "");
    // One message is one line: trailing newlines go, inner ones become blanks.
    size_t n = strlen(l.text);
    while (n && (l.text[n - 1] == '\n' || l.text[n - 1] == '\r')) l.text[--n] = '\0';
    for (size_t i = 0; i < n; i++)
        if (l.text[i] == '\n' || l.text[i] == '\r') l.text[i] = ' ';
    std::lock_guard<std::mutex> g(g_log_mutex);
    // The kept lines hold every line (they are bounded); what is written
    // out follows the repeat rule, so that a line a frame cannot flood it.
    long held = 0;
    if (g_to_stderr && echo && repeat_rule(repeat_key(level, l.source, line, l.text), held)) {
        char count[48] = "";
        if (held > 0) snprintf(count, sizeof count, " (repeated %ld times)", held);
        fprintf(stderr, "qvp %s [%s:%d] %s%s\n", level == QVH_LOG_WARNING ? "WARNING" : "STATUS", l.source, l.line,
                l.text, count);
    }
    auto &d = lines();
    d.push_back(l);
    while (d.size() > QVH_LOG_KEEP) d.pop_front();
}
}  // namespace

extern "C" void QVF_LogWarningF(const char *msg, const char *source, int line) {
    log_line(QVH_LOG_WARNING, msg, source, line);
}

extern "C" void QVF_LogStatusF(const char *msg, const char *source, int line) {
    log_line(QVH_LOG_STATUS, msg, source, line);
}

void qvp_log_missing(const char *kind, const char *name) {
    static std::set<std::string> told;
    std::string key = std::string(kind) + ":" + name;
    if (!told.insert(key).second) return;
    // A record looked for before anyone made it is normal: kept for
    // `hostlog`, not printed.
    char buf[256];
    snprintf(buf, sizeof buf, "%s data \"%s\" not found", kind, name);
    log_line(QVH_LOG_STATUS, buf, "qvp", 0, false);
}

void qvp_warnf(const char *fmt, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    log_line(QVH_LOG_WARNING, buf, "qvp", 0);
}

void qvp_statusf(const char *fmt, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    log_line(QVH_LOG_STATUS, buf, "qvp", 0);
}

extern "C" int QVH_LogCount(void) {
    std::lock_guard<std::mutex> g(g_log_mutex);
    return (int)lines().size();
}

extern "C" const QVH_LOGLINE *QVH_LogGet(int index) {
    std::lock_guard<std::mutex> g(g_log_mutex);
    auto &d = lines();
    if (index < 0 || (size_t)index >= d.size()) return nullptr;
    return &d[(size_t)index];
}

extern "C" void QVH_LogClear(void) {
    std::lock_guard<std::mutex> g(g_log_mutex);
    lines().clear();
    for (Repeat &r : g_repeats) r = Repeat();
}

extern "C" void QVH_LogSetClock(double (*now)(void)) {
    std::lock_guard<std::mutex> g(g_log_mutex);
    g_clock = now;
}

extern "C" void QVH_LogToStderr(int on) { g_to_stderr = on != 0; }
