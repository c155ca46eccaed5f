/*
 * A C program that runs kelvara command lines inside its own process through RUNCOMMANDLINE, as
 * a modelling program would: a run that fails, then one that succeeds, in one process. It
 * includes only kelvara.h, links only the shared library, and exits 1 on any mismatch.
 *
 * Usage: kelvara_run_c FOLDER (an empty scratch folder)
 */
#include <kelvara.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failures = 0;

static void check(int ok, const char *what) {
    if (!ok) {
        ++failures;
        printf("FAIL: %s\n", what);
    }
}

static void putInt(FILE *f, int32_t v) {
    unsigned char b[4];
    b[0] = (unsigned char)(v & 0xFF);
    b[1] = (unsigned char)((v >> 8) & 0xFF);
    b[2] = (unsigned char)((v >> 16) & 0xFF);
    b[3] = (unsigned char)((v >> 24) & 0xFF);
    fwrite(b, 1, 4, f);
}

static void putReal(FILE *f, float v) {
    int32_t bits;
    memcpy(&bits, &v, 4);
    putInt(f, bits);
}

/* A scalar dataset of two nodes and one cell with steps at times 1, 2 and 3. */
static void writeDataset(const char *path) {
    static const char name[40] = "run                                    ";
    FILE *f = fopen(path, "wb");
    int step;
    if (f == NULL) {
        printf("FAIL: cannot write %s\n", path);
        exit(1);
    }
    putInt(f, 3000);
    putInt(f, 100), putInt(f, 3);
    putInt(f, 110), putInt(f, 4);
    putInt(f, 120), putInt(f, 1);
    putInt(f, 130);
    putInt(f, 170), putInt(f, 2);
    putInt(f, 180), putInt(f, 1);
    putInt(f, 190);
    fwrite(name, 1, 40, f);
    for (step = 1; step <= 3; ++step) {
        putInt(f, 200);
        fputc(1, f);
        putReal(f, (float)step);
        fputc(1, f);
        putReal(f, (float)step);
        putReal(f, (float)step * 10.0f);
    }
    putInt(f, 210);
    fclose(f);
}

static long fileSize(const char *path) {
    FILE *f = fopen(path, "rb");
    long size;
    if (f == NULL) return -1;
    fseek(f, 0, SEEK_END);
    size = ftell(f);
    fclose(f);
    return size;
}

static int contains(const char *console, int32_t used, const char *part) {
    size_t n = strlen(part);
    int32_t i;
    for (i = 0; i + (int32_t)n <= used; ++i)
        if (memcmp(console + i, part, n) == 0) return 1;
    return 0;
}

/* Runs the NUL-separated arguments and returns the status. */
static int32_t run(const char *arguments, size_t length, char *console, int32_t size,
                   int32_t *used) {
    int32_t status = -9;
    RUNCOMMANDLINE(console, size, arguments, (int32_t)length, &status, used);
    return status;
}

int main(int argc, char **argv) {
    char input[1024], missing[1024], output[1024], arguments[2200];
    static char console[65536];
    int32_t used = 0;
    size_t n;
    if (argc < 2) return 2;
    sprintf(input, "%s/run_d.dat", argv[1]);
    sprintf(missing, "%s/gone_d.dat", argv[1]);
    sprintf(output, "%s/run_d(k2.).dat", argv[1]);
    writeDataset(input);
    remove(output);

    /* A missing input: status 1, its message, no output, and this process goes on. */
    n = (size_t)sprintf(arguments, "-k2%c%s", 0, missing);
    check(run(arguments, n, console, (int32_t)sizeof console, &used) == 1, "missing: status 1");
    check(contains(console, used, "cannot be found"), "missing: CHECK line");
    check(contains(console, used, "ERROR - "), "missing: ERROR line");
    check(fileSize(output) < 0, "missing: no output");
    {
        int32_t status = -9, code = -9;
        RUNCOMMANDLINECODE(console, (int32_t)sizeof console, arguments, (int32_t)n, &status, &used,
                           &code);
        check(status == 1 && code == 5, "missing: code 5 (a file that cannot be found)");
    }

    /* Then a run that works, its arguments ended by a NUL each. */
    n = (size_t)sprintf(arguments, "-k2%c%s%c", 0, input, 0);
    check(run(arguments, n, console, (int32_t)sizeof console, &used) == 0, "keep: status 0");
    check(contains(console, used, "Reading data for time 2."), "keep: progress line");
    check(contains(console, used, "\nFinished.\n"), "keep: Finished.");
    check(!contains(console, used, "Press Enter"), "keep: no pause");
    check(console[used] == ' ', "keep: console area blank-padded");
    check(fileSize(output) == 92 + 4 + 1 + 4 + 1 + 8 + 4, "keep: one step written");

    /* A console area too small: cut at its length, the whole length still told. */
    n = (size_t)sprintf(arguments, "-k2%c%s", 0, input);
    {
        char small[16];
        int32_t status = run(arguments, n, small, (int32_t)sizeof small, &used);
        check(status == 0, "small area: status 0");
        check(used > (int32_t)sizeof small, "small area: the whole length");
        check(memcmp(small, "\nBuild 2007-07-", 15) == 0, "small area: the start of the text");
    }

    /* No arguments at all: the usage text, status 0, no pause waited for. */
    check(run("", 0, console, (int32_t)sizeof console, &used) == 0, "usage: status 0");
    check(contains(console, used, "Performs various operations"), "usage: text");

    if (failures == 0) printf("run_in_process: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
