// process.cpp - process data blocks by name, and the small string and
// matrix helpers of libqvp.
#include <ctype.h>
#include <dlfcn.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "qvp_externs.h"
#include "qvp_host.h"
#include "qvp_internal.h"

namespace {

// Process data blocks by name; filled by QVF_AddDataToProcess, kept for
// the life of the process (QVH_ClearProcessData empties it for tests).
std::map<std::string, void *> &process_data() {
    static std::map<std::string, void *> m;
    return m;
}

}  // namespace

/* ---- process identity ---- */

extern "C" uint64_t QVH_ProcessStart(int pid) {
    if (pid <= 0) return 0;
    char path[64], buf[1024];
    snprintf(path, sizeof path, "/proc/%d/stat", pid);
    FILE *f = fopen(path, "r");
    if (!f) return 0;
    size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    buf[n] = 0;
    // The command name may hold spaces and parentheses: fields count
    // from the last ')'. Start time is field 22; field 3 follows the ')'.
    const char *p = strrchr(buf, ')');
    if (!p) return 0;
    p++;
    for (int field = 3; field < 22 && *p; field++) {
        while (*p == ' ') p++;
        while (*p && *p != ' ') p++;
    }
    return strtoull(p, nullptr, 10);
}

extern "C" int QVH_ProcessAlive(int pid, uint64_t start) {
    uint64_t now = QVH_ProcessStart(pid);
    return now != 0 && now == start;
}

/* ---- process data ---- */

extern "C" void *QVH_FindProcessData(const char *name) {
    if (!name) return nullptr;
    auto &m = process_data();
    auto it = m.find(name);
    return it == m.end() ? nullptr : it->second;
}

extern "C" void *QVF_GetDataFromProcess(const char *name) {
    void *p = QVH_FindProcessData(name);
    if (!p && name) qvp_log_missing("process", name);
    return p;
}

extern "C" void *QVF_AddDataToProcess(const char *name, size_t size) {
    if (!name || !*name) {
        qvp_warnf("QVF_AddDataToProcess: no name");
        return nullptr;
    }
    auto &m = process_data();
    if (m.count(name)) {
        qvp_warnf("QVF_AddDataToProcess: process data \"%s\" already exists", name);
        return nullptr;
    }
    void *p = calloc(1, size ? size : 1);
    if (!p) {
        qvp_warnf("QVF_AddDataToProcess: out of memory for \"%s\"", name);
        return nullptr;
    }
    m[name] = p;
    return p;
}

extern "C" void QVH_ClearProcessData(void) {
    // The blocks are not freed: callers may still hold them.
    process_data().clear();
}

/* ---- helpers ---- */

extern "C" int QVF_strcmpi(const char *a, const char *b) {
    if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
    for (;; a++, b++) {
        int ca = tolower((unsigned char)*a), cb = tolower((unsigned char)*b);
        if (ca != cb) return ca - cb;
        if (!ca) return 0;
    }
}

extern "C" void QVH_MatIdentity(double m[4][4]) {
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) m[i][j] = i == j ? 1.0 : 0.0;
}

extern "C" void QVH_MatMul(double r[4][4], const double a[4][4], const double b[4][4]) {
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) {
            double s = 0;
            for (int k = 0; k < 4; k++) s += a[i][k] * b[k][j];
            r[i][j] = s;
        }
}

extern "C" int QVH_MatInverse(double dst[4][4], const double src[4][4]) {
    // Gauss-Jordan with partial pivoting on an augmented copy.
    double a[4][8];
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) {
            a[i][j] = src[i][j];
            a[i][j + 4] = i == j ? 1.0 : 0.0;
        }
    for (int c = 0; c < 4; c++) {
        int piv = c;
        for (int r = c + 1; r < 4; r++)
            if (fabs(a[r][c]) > fabs(a[piv][c])) piv = r;
        if (fabs(a[piv][c]) < 1e-300) {
            QVH_MatIdentity(dst);
            return 0;
        }
        if (piv != c)
            for (int j = 0; j < 8; j++) {
                double t = a[c][j];
                a[c][j] = a[piv][j];
                a[piv][j] = t;
            }
        double inv = 1.0 / a[c][c];
        for (int j = 0; j < 8; j++) a[c][j] *= inv;
        for (int r = 0; r < 4; r++) {
            if (r == c) continue;
            double f = a[r][c];
            if (f == 0) continue;
            for (int j = 0; j < 8; j++) a[r][j] -= f * a[c][j];
        }
    }
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) dst[i][j] = a[i][j + 4];
    return 1;
}

extern "C" void QVF_FastInverseMat(QVT_MATRIX dst, QVT_MATRIX src) {
    double s[4][4], d[4][4];
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) s[i][j] = src[i][j];
    QVH_MatInverse(d, s);
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) dst[i][j] = (float)d[i][j];
}

