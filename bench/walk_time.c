/* Times the plain C walk of a recording, as a client reads it: every item
 * stepped and its record fetched (samples with velocities).  Prints the best
 * of N walks in seconds of processor time and the number of samples, for
 * bench/python_load.py.
 *
 *     vokapi_walk_time RECORDING.vok [N]
 */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "vokapi.h"

static void quiet(const char* text) { (void)text; }

static double now(void) {
#if defined(_WIN32)
    return (double)clock() / CLOCKS_PER_SEC;
#else
    struct timespec t;
    /* Processor time of the process: a busy machine does not stretch it. */
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
#endif
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s RECORDING.vok [N]\n", argv[0]);
        return 2;
    }
    const int rounds = argc > 2 ? atoi(argv[2]) : 3;
    vok_set_log_function(quiet);
    double best = 1e30;
    unsigned long samples = 0;
    double checksum = 0.0;
    for (int r = 0; r < rounds; ++r) {
        int err = 0;
        VOKFile* f = vok_open_file(argv[1], 0, 1, 1, &err);
        if (f == NULL) {
            fprintf(stderr, "cannot open %s\n", argv[1]);
            return 1;
        }
        samples = 0;
        const double start = now();
        int type;
        while ((type = vok_get_next_data(f)) != 0) {
            FloatData* d = vok_get_float_data(f);
            if (d != NULL && type == SAMPLE_TYPE) {
                ++samples;
                checksum += d->sample.gazeVelX[0];
            }
        }
        const double s = now() - start;
        if (s < best) best = s;
        vok_close_file(f);
    }
    printf("%.6f %lu %g\n", best, samples, checksum);
    return 0;
}
