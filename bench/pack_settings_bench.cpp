// How long the launcher's settings loader takes to find and decode the
// settings of an executable: CSettingsLoader(true, path), as main builds it,
// timed in process CPU time and wall time; the median of RUNS runs per file.
//   pack_settings_bench RUNS EXECUTABLE...
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <vector>

#include "settings/settings_loader.h"

namespace {

double Seconds(clockid_t clock) {
    timespec ts;
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s RUNS EXECUTABLE...\n", argv[0]);
        return 2;
    }
    const int runs = atoi(argv[1]);
    printf("%-40s %12s %10s %10s\n", "executable", "size (MiB)", "cpu (ms)", "wall (ms)");
    for (int i = 2; i < argc; ++i) {
        struct stat st;
        if (stat(argv[i], &st) != 0) {
            fprintf(stderr, "cannot stat %s\n", argv[i]);
            return 1;
        }
        std::vector<double> cpu, wall;
        for (int r = 0; r < runs; ++r) {
            double c0 = Seconds(CLOCK_PROCESS_CPUTIME_ID), w0 = Seconds(CLOCK_MONOTONIC);
            CSettingsLoader loader(true, argv[i]);
            MyCString mainClass = loader.GetCommon("mainclass", true, false);
            double c1 = Seconds(CLOCK_PROCESS_CPUTIME_ID), w1 = Seconds(CLOCK_MONOTONIC);
            if (loader.RemarkEndOffset() <= 0 || mainClass.GetLength() == 0) {
                fprintf(stderr, "%s: the loader found no settings\n", argv[i]);
                return 1;
            }
            cpu.push_back((c1 - c0) * 1e3);
            wall.push_back((w1 - w0) * 1e3);
        }
        const char* name = strrchr(argv[i], '/');
        printf("%-40s %12.1f %10.3f %10.3f\n", name ? name + 1 : argv[i], static_cast<double>(st.st_size) / (1 << 20),
               Median(cpu), Median(wall));
    }
    return 0;
}
