#pragma once

// Small figures the benchmarks print: a median and the load average.

#include <algorithm>
#include <cstdio>
#include <vector>

namespace bench {

// The middle value (the upper of the two for an even count); -1 without values.
inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

// The one-minute load average, -1 where it cannot be read.
inline double loadAverage()
{
    double load = -1;
    if (FILE *f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1)
            load = -1;
        std::fclose(f);
    }
    return load;
}

} // namespace bench
