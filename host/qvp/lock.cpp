// lock.cpp - cross-process locks on robust, process-shared mutexes, and
// the nesting suspension of the host's asynchronous signals.
#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <string.h>
#include <time.h>

#include "qvp_externs.h"
#include "qvp_host.h"
#include "qvp_internal.h"

int qvp_init_robust_mutex(pthread_mutex_t *m, int recursive) {
    pthread_mutexattr_t at;
    if (pthread_mutexattr_init(&at) != 0) return 0;
    int rc = pthread_mutexattr_setpshared(&at, PTHREAD_PROCESS_SHARED);
    // PTHREAD_MUTEX_ROBUST is an enum in glibc: set it unconditionally.
    if (rc == 0) rc = pthread_mutexattr_setrobust(&at, PTHREAD_MUTEX_ROBUST);
    if (rc == 0)
        rc = pthread_mutexattr_settype(&at, recursive ? PTHREAD_MUTEX_RECURSIVE
                                                      : PTHREAD_MUTEX_ERRORCHECK);
    if (rc == 0) rc = pthread_mutex_init(m, &at);
    pthread_mutexattr_destroy(&at);
    if (rc != 0) qvp_warnf("cannot initialise a shared lock: %s", strerror(rc));
    return rc == 0;
}

int qvp_lock_robust(pthread_mutex_t *m, const char *what) { return qvp_lock_robust_ex(m, what, nullptr); }

int qvp_lock_robust_ex(pthread_mutex_t *m, const char *what, int *recovered) {
    if (recovered) *recovered = 0;
    // Waits are bounded: a wake-up that gets lost costs one slice of
    // kSliceMs, and a wait past a second is reported once.
    const long kSliceMs = 100;
    long waited_ms = 0;
    bool reported = false;
    int rc;
    for (;;) {
        struct timespec until;
        clock_gettime(CLOCK_REALTIME, &until);
        until.tv_nsec += kSliceMs * 1000000L;
        if (until.tv_nsec >= 1000000000L) {
            until.tv_sec++;
            until.tv_nsec -= 1000000000L;
        }
        rc = pthread_mutex_timedlock(m, &until);
        if (rc != ETIMEDOUT) break;
        waited_ms += kSliceMs;
        if (waited_ms >= 1000 && !reported) {
            reported = true;
            qvp_warnf("%s: waited more than 1 s for it; still waiting", what);
        }
    }
    if (rc == 0) return 1;
    if (rc == EOWNERDEAD) {
        // The owner died holding it. Every list edit, and every element
        // edit, is published by one pointer store, so what the lists reach
        // is whole records. The plain values of a canvas or a node are
        // written field by field: after a dead editor some fields may be
        // from before its edit and some from after, each one whole.
        pthread_mutex_consistent(m);
        qvp_warnf("%s: previous owner died holding it; lock recovered", what);
        if (recovered) *recovered = 1;
        return 1;
    }
    qvp_warnf("%s: cannot take it: %s", what, strerror(rc));
    return 0;
}

void qvp_unlock_robust(pthread_mutex_t *m) {
    int rc = pthread_mutex_unlock(m);
    if (rc != 0) qvp_warnf("cannot release a shared lock: %s", strerror(rc));
}

extern "C" QVS_SMLOCK *QVF_NewLock(QVS_SMHANDLE *arena) {
    if (!arena || arena != qvp_arena()) {
        qvp_warnf("QVF_NewLock: not the open scene's arena");
        return nullptr;
    }
    struct Both {
        QVS_SMLOCK lock;
        pthread_mutex_t mutex;
    };
    Both *b = (Both *)QVH_Alloc(sizeof(Both));
    if (!b) return nullptr;
    b->lock.is_shared = 1;
    b->lock.id = &b->mutex;
    return &b->lock;
}

extern "C" int QVF_InitLock(QVS_SMLOCK *lock) {
    if (!lock || !lock->id) {
        qvp_warnf("QVF_InitLock: no lock");
        return 0;
    }
    return qvp_init_robust_mutex((pthread_mutex_t *)lock->id, 0);
}

// A thread that takes a lock again within kHandoffSeconds of releasing
// it, while another waits for it, first lets the other have it (waiting
// up to kHandoffSeconds for that): a display walking its passes back to
// back then lets a waiting editor in after the pass in progress, not
// after the next. An editor that takes the lock now and then never waits.
const double kHandoffSeconds = 200e-6;

// The lock this thread released last and when; set by QVF_UnsetLock.
thread_local const void *t_released = nullptr;
thread_local struct timespec t_released_at;

double seconds_since(const struct timespec &a) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)(t.tv_sec - a.tv_sec) + (double)(t.tv_nsec - a.tv_nsec) * 1e-9;
}

// Whether glibc's robust mutex M has a waiter blocked on it: the futex
// word's FUTEX_WAITERS bit (glibc keeps the owner's thread id in the
// rest of the word).
bool has_waiters(pthread_mutex_t *m) {
    return (__atomic_load_n(&m->__data.__lock, __ATOMIC_RELAXED) & 0x80000000u) != 0;
}

extern "C" int QVF_SetLock(QVS_SMLOCK *lock) {
    if (!lock || !lock->id) {
        qvp_warnf("QVF_SetLock: no lock");
        return 0;
    }
    pthread_mutex_t *m = (pthread_mutex_t *)lock->id;
    if (t_released == m && has_waiters(m) && seconds_since(t_released_at) < kHandoffSeconds) {
        struct timespec t0;
        clock_gettime(CLOCK_MONOTONIC, &t0);
        while (__atomic_load_n(&m->__data.__owner, __ATOMIC_ACQUIRE) == 0 && has_waiters(m) &&
               seconds_since(t0) < kHandoffSeconds)
            sched_yield();
    }
    return qvp_lock_robust(m, "shared lock");
}

extern "C" int QVF_UnsetLock(QVS_SMLOCK *lock) {
    if (!lock || !lock->id) {
        qvp_warnf("QVF_UnsetLock: no lock");
        return 0;
    }
    int rc = pthread_mutex_unlock((pthread_mutex_t *)lock->id);
    if (rc != 0) {
        qvp_warnf("QVF_UnsetLock: %s", strerror(rc));
        return 0;
    }
    t_released = lock->id;
    clock_gettime(CLOCK_MONOTONIC, &t_released_at);
    return 1;
}

/* ---- signals ---- */

// Nesting depth and the mask to restore at the outermost resume; per
// thread, set by QVF_SuspendSignals and QVF_ResumeSignals.
static thread_local int t_sig_depth = 0;
static thread_local sigset_t t_sig_saved;

extern "C" void QVF_SuspendSignals(void) {
    if (t_sig_depth++ > 0) return;
    sigset_t set;
    sigfillset(&set);
    // Synchronous faults must still reach their handlers.
    sigdelset(&set, SIGSEGV);
    sigdelset(&set, SIGBUS);
    sigdelset(&set, SIGFPE);
    sigdelset(&set, SIGILL);
    pthread_sigmask(SIG_BLOCK, &set, &t_sig_saved);
}

extern "C" void QVF_ResumeSignals(void) {
    if (t_sig_depth == 0) {
        qvp_warnf("QVF_ResumeSignals without a matching suspend");
        return;
    }
    if (--t_sig_depth == 0) pthread_sigmask(SIG_SETMASK, &t_sig_saved, nullptr);
}

extern "C" int QVH_SignalDepth(void) { return t_sig_depth; }
