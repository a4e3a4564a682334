/* bench_util.h - what every side-by-side benchmark needs: a monotonic
 * clock and the median of a run's repetitions. */
#ifndef QVP_BENCH_UTIL_H
#define QVP_BENCH_UTIL_H

#include <stdio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

/* Seconds on the monotonic clock. */
inline double BenchNow() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + t.tv_nsec * 1e-9;
}

/* Resident memory of this process in KiB (0 when /proc cannot say). */
inline long BenchRssKib() {
    long pages = 0, resident = 0;
    FILE *f = fopen("/proc/self/statm", "r");
    if (f) {
        if (fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

/* The median of V (the mean of the middle two for an even count); 0 for
 * none. */
inline double BenchMedian(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

#endif
