/* Benchmark program: writes the moment it starts (Unix seconds) to the file
   named in QSFX_BENCH_MARK (bench/launcher.sh, bench/sweep.sh). */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>
int main(void)
{
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const unsigned long long t = ((unsigned long long)now.dwHighDateTime << 32) | now.dwLowDateTime;
    const char *path = getenv("QSFX_BENCH_MARK");
    FILE *f = path ? fopen(path, "w") : NULL;
    if (!f)
        return 1;
    fprintf(f, "%.6f\n", (double)(t - 116444736000000000ULL) / 1e7);
    fclose(f);
    return 0;
}
