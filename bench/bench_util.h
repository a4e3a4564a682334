/* bench_util.h - what every side-by-side benchmark needs: a monotonic
 * clock and the median of a run's repetitions. */
#ifndef QVP_BENCH_UTIL_H
#define QVP_BENCH_UTIL_H

#include <time.h>

#include <algorithm>
#include <vector>

/* Seconds on the monotonic clock. */
inline double BenchNow() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + t.tv_nsec * 1e-9;
}

/* The median of V (the mean of the middle two for an even count); 0 for
 * none. */
inline double BenchMedian(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

#endif
