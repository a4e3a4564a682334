// log.cpp - the host log: one line per message on stderr, and the recent
// lines kept in memory for tests and the viewer.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

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
    if (g_to_stderr && echo)
        fprintf(stderr, "qvp %s [%s:%d] %s\n", level == QVH_LOG_WARNING ? "WARNING" : "STATUS",
                l.source, l.line, l.text);
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
}

extern "C" void QVH_LogToStderr(int on) { g_to_stderr = on != 0; }
