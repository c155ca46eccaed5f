/*
 * A C program that uses libkelvara as its clients do: it includes only kelvara.h, links only the
 * shared library, and passes blank-padded fixed-length texts with their lengths by value and
 * every number by address. It checks its own results and exits 1 on any mismatch.
 *
 * Usage: kelvara_client_c [folder for its scratch log file, default "."]
 */
#include <kelvara.h>

#include <math.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

static int checks = 0;
static int failures = 0;

static void check(int ok, const char *what) {
    ++checks;
    if (!ok) {
        ++failures;
        printf("FAIL: %s\n", what);
    }
}

/* Copies text into a field of size characters, padded with blanks (no terminating NUL). */
static void setField(char *field, size_t size, const char *text) {
    size_t n = strlen(text);
    if (n > size) n = size;
    memcpy(field, text, n);
    memset(field + n, ' ', size - n);
}

/* True when the size-character field holds text followed by blanks only. */
static int fieldIs(const char *field, size_t size, const char *text) {
    size_t n = strlen(text);
    size_t i;
    if (n > size || memcmp(field, text, n) != 0) return 0;
    for (i = n; i < size; ++i)
        if (field[i] != ' ') return 0;
    return 1;
}

/* A logical result is -1 or 0; its meaning is the lowest bit. */
static int truth(kelvara_logical value, int expected) {
    return (value == -1 || value == 0) && ((value & 1) != 0) == (expected != 0);
}

enum { FIELD = 60, GUARD = 4 };

/* ---- Routines with a result area and one text argument ---------------------------------- */

typedef void(KELVARA_CALL *TextRoutine)(char *, int32_t, const char *, int32_t);

static void textRoutines(void) {
    static const struct {
        TextRoutine routine;
        const char *name;
        const char *text;
        int32_t resultLen;
        const char *expected;
    } cases[] = {
        {UPPERCASE, "UPPERCASE", "Max_h.dat -b", 20, "MAX_H.DAT -B"},
        {LOWERCASE, "LOWERCASE", "C:\\Runs\\A.DAT", 20, "c:\\runs\\a.dat"},
        {TRIMF, "TRIMF", "   ab c  ", 8, "ab c"},
        {FILENAME, "FILENAME", "C:\\runs\\model_h.dat", 10, "model_h"},
        {FILENAME, "FILENAME cut at the result area", "C:\\runs\\model_h.dat", 3, "mod"},
        {FILENAME, "FILENAME of a dotted folder", "C:\\old.runs\\model", 10, "model"},
        {FILE___EXT, "FILE___EXT", "C:\\runs\\model_h.dat", 4, "_h"},
        {FILENAMENO_, "FILENAMENO_", "C:\\runs\\model_h.dat", 10, "model"},
        {FILENAMEPATH, "FILENAMEPATH", "C:\\runs\\model_h.dat", 20, "C:\\runs\\model_h"},
        {FILENAMEPATHNO_, "FILENAMEPATHNO_", "/runs/model_h.dat", 20, "/runs/model"},
        {FILEFOLDERPATH, "FILEFOLDERPATH", "C:\\runs\\model_h.dat", 20, "C:\\runs\\"},
        {FILEFOLDERPATH, "FILEFOLDERPATH without a folder", "model", 5, ""},
        {FILEEXT, "FILEEXT", "C:\\runs\\Model.DAT", 5, ".dat"},
        {REMOVEDOTDOT, "REMOVEDOTDOT", "C:\\a\\b\\..\\c\\.\\d", 20, "C:\\a\\c\\d"},
        {REMOVETABS, "REMOVETABS", "a\tb", 5, "ab"},
        {REMOVESPACES, "REMOVESPACES", " a b  c", 5, "abc"},
        {REMOVEQUOTES, "REMOVEQUOTES", "\"a'b\"", 5, "ab"},
        {DOUBLEQUOTE, "DOUBLEQUOTE", "say \"hi\"", 12, "say \"\"hi\"\""},
    };
    size_t i;
    for (i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        char text[FIELD];
        char result[FIELD + GUARD];
        setField(text, FIELD, cases[i].text);
        memset(result, '#', sizeof result);
        cases[i].routine(result, cases[i].resultLen, text, FIELD);
        check(fieldIs(result, (size_t)cases[i].resultLen, cases[i].expected), cases[i].name);
        check(result[cases[i].resultLen] == '#', cases[i].name); /* nothing past the area */
    }

    {
        /* CLEANPATH also writes the cleaned path back into its argument. */
        char path[20];
        char result[20];
        setField(path, sizeof path, "  C:\\a\\\\b//c");
        CLEANPATH(result, sizeof result, path, sizeof path);
        check(fieldIs(result, sizeof result, "C:\\a\\b/c"), "CLEANPATH result");
        check(fieldIs(path, sizeof path, "C:\\a\\b/c"), "CLEANPATH argument");
    }
    {
        char folder[20], name[20], result[30];
        setField(folder, sizeof folder, "C:\\runs");
        setField(name, sizeof name, "..\\in\\a.dat");
        ADDFOLDER(result, sizeof result, folder, sizeof folder, name, sizeof name);
        check(fieldIs(result, sizeof result, "C:\\in\\a.dat"), "ADDFOLDER");
    }
    {
        char text[30], oldWord[5], newWord[5], result[30];
        setField(text, sizeof text, "Read GIS Z");
        setField(oldWord, sizeof oldWord, "gis");
        setField(newWord, sizeof newWord, "MI");
        REPLACE(result, sizeof result, text, sizeof text, oldWord, sizeof oldWord, newWord,
                sizeof newWord);
        check(fieldIs(result, sizeof result, "Read MI Z"), "REPLACE");
    }
    {
        char text[16], result[4];
        int32_t n;
        static const char *const expected[] = {"a", "b", "c", ""};
        setField(text, sizeof text, "a, b,c");
        for (n = 1; n <= 4; ++n) {
            SUBSTRING(result, sizeof result, text, sizeof text, ",", 1, &n);
            check(fieldIs(result, sizeof result, expected[n - 1]), "SUBSTRING");
        }
    }
}

/* ---- Logical routines ------------------------------------------------------------------- */

typedef kelvara_logical(KELVARA_CALL *CompareRoutine)(const char *, int32_t, const char *,
                                                       int32_t);
typedef kelvara_logical(KELVARA_CALL *InPlaceRoutine)(char *, int32_t);

static void logicalRoutines(void) {
    static const struct {
        CompareRoutine routine;
        const char *name;
        const char *a;
        const char *b;
        int expected;
    } compares[] = {
        {FLAGEXISTS, "FLAGEXISTS MAX max", "kelvara -MAX run_h.dat", "-max", 1},
        {FLAGEXISTS, "FLAGEXISTS maxmax xm", "maxmax", "xm", 1},
        {FLAGEXISTS, "FLAGEXISTS con dur", "con", "dur", 0},
        {FLAGEXISTS, "FLAGEXISTS blank flag", "con", "", 1},
        {ASAME, "ASAME", "  Depth", "DEPTH", 1},
        {ASAMECS, "ASAMECS", "  Depth", "DEPTH", 0},
    };
    static const struct {
        InPlaceRoutine routine;
        const char *name;
        const char *text;
        int expected;
        const char *after;
    } inPlace[] = {
        {COMMENTLINE, "COMMENTLINE note", "   ! note", 1, ""},
        {COMMENTLINE, "COMMENTLINE value", "Depth == 2.5 ! m", 0, "Depth == 2.5"},
        {NUMBERLINE, "NUMBERLINE -3", "  -3", 1, "-3"},
        {NUMBERLINE, "NUMBERLINE +3", "+3", 0, "+3"},
        {POSITIVEINTEGERNUMBER, "POSITIVEINTEGERNUMBER 42", "  42", 1, "42"},
        {POSITIVEINTEGERNUMBER, "POSITIVEINTEGERNUMBER 4 2", "4 2", 0, "4 2"},
        {BLANK, "BLANK tabs", " \t ", 1, ""},
    };
    size_t i;
    for (i = 0; i < sizeof compares / sizeof compares[0]; ++i) {
        char a[FIELD], b[20];
        setField(a, sizeof a, compares[i].a);
        setField(b, sizeof b, compares[i].b);
        check(truth(compares[i].routine(a, sizeof a, b, sizeof b), compares[i].expected),
              compares[i].name);
    }
    for (i = 0; i < sizeof inPlace / sizeof inPlace[0]; ++i) {
        char text[FIELD];
        setField(text, sizeof text, inPlace[i].text);
        check(truth(inPlace[i].routine(text, sizeof text), inPlace[i].expected),
              inPlace[i].name);
        check(fieldIs(text, sizeof text, inPlace[i].after), inPlace[i].name);
    }
    {
        /* LENSL treats NUL as padding and terminates the text in place. */
        char text[6] = {'a', 'b', ' ', '\0', ' ', ' '};
        check(LENSL(text, sizeof text) == 2 && text[2] == '\0', "LENSL");
    }
}

/* ---- Numbers to text and back ----------------------------------------------------------- */

static void numberTexts(void) {
    static const struct {
        float value;
        const char *expected;
    } reals[] = {{2.0f, "2."}, {0.0f, "0."}, {0.005f, "0.005"}, {3.14159f, "3.142"},
                 {-12.5f, "-12.5"}, {1234.56f, "1235."}};
    static const struct {
        double value;
        const char *expected;
    } doubles[] = {{5.0, "5."}, {0.25, "0.25"}, {123.456, "123.456"}, {2.0e9, "2000000000."}};
    static const struct {
        int32_t value;
        int32_t digits;
        const char *expected;
    } padded[] = {{5, 3, "005"}, {1234, 3, "1234"}, {-5, 3, "-5"}};
    char result[20];
    size_t i;
    for (i = 0; i < sizeof reals / sizeof reals[0]; ++i) {
        AREAL(result, sizeof result, &reals[i].value);
        check(fieldIs(result, sizeof result, reals[i].expected), "AREAL");
    }
    for (i = 0; i < sizeof doubles / sizeof doubles[0]; ++i) {
        AREAL8(result, sizeof result, &doubles[i].value);
        check(fieldIs(result, sizeof result, doubles[i].expected), "AREAL8");
    }
    for (i = 0; i < sizeof padded / sizeof padded[0]; ++i) {
        int64_t wide = padded[i].value;
        AINTEGERPREC0(result, sizeof result, &padded[i].value, &padded[i].digits);
        check(fieldIs(result, sizeof result, padded[i].expected), "AINTEGERPREC0");
        AINTEGER8PREC0(result, sizeof result, &wide, &padded[i].digits);
        check(fieldIs(result, sizeof result, padded[i].expected), "AINTEGER8PREC0");
    }
    {
        const int32_t unit = 901, negative = -12, decimals = 3;
        const float value = 2.5f;
        AINTEGER(result, sizeof result, &unit);
        check(fieldIs(result, sizeof result, "901"), "AINTEGER 901");
        AINTEGER(result, sizeof result, &negative);
        check(fieldIs(result, sizeof result, "-12"), "AINTEGER -12");
        AREALD(result, sizeof result, &value, &decimals);
        check(fieldIs(result, sizeof result, "2.500"), "AREALD");
    }
}

/* ---- Comma-separated lines and value extraction ----------------------------------------- */

static void lineParsing(void) {
    char line[FIELD], lower[FIELD], name[10], result[10];
    const int32_t zero = 0, two = 2, three = 3, fallback = -1;
    const float realFallback = -1.0f;
    float value = -1.0f;

    setField(line, sizeof line, "X, Y ,Depth");
    setField(name, sizeof name, "y");
    check(CSVCOLUMN(line, sizeof line, name, sizeof name, &fallback) == 2, "CSVCOLUMN y");
    setField(name, sizeof name, "Z");
    check(CSVCOLUMN(line, sizeof line, name, sizeof name, &fallback) == -1, "CSVCOLUMN Z");

    setField(line, sizeof line, "1, 2 5");
    check(truth(CSVVALUE(line, sizeof line, &two, &value), 1) && value == 25.0f, "CSVVALUE 2");
    setField(line, sizeof line, "1,2,abc");
    check(truth(CSVVALUE(line, sizeof line, &three, &value), 0) && value == 0.0f,
          "CSVVALUE abc");

    setField(line, sizeof line, "1.5 2e3,-4 ! x");
    check(NUMBEROFNUMBERS(line, sizeof line) == 3, "NUMBEROFNUMBERS 3");
    setField(line, sizeof line, "1 2 x");
    check(NUMBEROFNUMBERS(line, sizeof line) == -2, "NUMBEROFNUMBERS -2");

    setField(line, sizeof line, "Depth = 2.5, Width = \"3\", Count = 12");
    setField(lower, sizeof lower, "depth = 2.5, width = \"3\", count = 12");
    setField(name, sizeof name, "WIDTH");
    EXTRACTSTRING(result, sizeof result, line, sizeof line, lower, sizeof lower, name,
                  sizeof name, &zero);
    check(fieldIs(result, sizeof result, "3"), "EXTRACTSTRING keyed");
    setField(name, sizeof name, "depth");
    check(EXTRACTREAL(line, sizeof line, lower, sizeof lower, name, sizeof name, &zero,
                      &realFallback) == 2.5f,
          "EXTRACTREAL keyed");
    setField(name, sizeof name, "count");
    check(EXTRACTINTEGER(line, sizeof line, lower, sizeof lower, name, sizeof name, &zero,
                         &fallback) == 12,
          "EXTRACTINTEGER keyed");

    {
        char right[10], left[12], keyword[20];
        setField(line, sizeof line, "Timestep == 2");
        setField(keyword, sizeof keyword, "timestep");
        check(truth(CHECKLINE(line, sizeof line, keyword, sizeof keyword, "==", 2, &zero, right,
                              sizeof right, left, sizeof left),
                    1) &&
                  fieldIs(left, sizeof left, "Timestep") && fieldIs(right, sizeof right, " 2"),
              "CHECKLINE");
    }
}

/* ---- Geometry and interpolation --------------------------------------------------------- */

static int near(double a, double b, double tolerance) { return fabs(a - b) <= tolerance; }

static void geometry(void) {
    {
        const float x0 = 0, y0 = 0, x3 = 3, y4 = 4, tiny = 1.0e-7f;
        const double dx0 = 0, dy0 = 0, dx3 = 3, dy4 = 4;
        check(DISTANCE(&x0, &y0, &x3, &y4) == 5.0f, "DISTANCE");
        check(DISTANCE(&x0, &y0, &tiny, &tiny) == 0.0f, "DISTANCE below the tolerance");
        check(DISTANCE_8(&dx0, &dy0, &dx3, &dy4) == 5.0f, "DISTANCE_8");
    }
    {
        /* Directions of 10 and -10 degrees are 20 degrees apart. */
        const double pi = 3.14159265358979323846;
        const double o = 0, c = cos(10 * pi / 180), s = sin(10 * pi / 180), ms = -s;
        check(near(ANGLE2D(&o, &o, &c, &s, &o, &o, &c, &ms), 20.0, 1.0e-4), "ANGLE2D");
    }
    {
        const float o = 0, half = 0.5f, quarter = 0.25f;
        const double d0 = 0, d1 = 1.0, dTolerance = 1.0;
        check(truth(SAME_POINT(&o, &o, &half, &o, &half), 0), "SAME_POINT at the tolerance");
        check(truth(SAME_POINT(&o, &o, &quarter, &quarter, &half), 1), "SAME_POINT inside");
        check(truth(SAME_POINT_8(&d0, &d0, &d1, &d0, &dTolerance), 0), "SAME_POINT_8");
    }
    {
        /* Collinear disjoint segments count as crossing; (0,0)-(2,2) and (0,2)-(2,0) cross. */
        const float s[8] = {0, 0, 1, 0, 2, 0, 3, 0};
        const float x[8] = {0, 0, 2, 2, 0, 2, 2, 0};
        const double d[8] = {0, 0, 2, 2, 0, 2, 2, 0};
        double xi = 0, yi = 0;
        check(truth(INTERSECT_LINE(&s[0], &s[1], &s[2], &s[3], &s[4], &s[5], &s[6], &s[7]), 1),
              "INTERSECT_LINE collinear");
        check(INTERSECT_LINE_V2(&x[0], &x[1], &x[2], &x[3], &x[4], &x[5], &x[6], &x[7]) == 3,
              "INTERSECT_LINE_V2");
        check(truth(INTERSECTION_POINT_8(&d[0], &d[1], &d[2], &d[3], &d[4], &d[5], &d[6], &d[7],
                                         &xi, &yi),
                    1) &&
                  xi == 1.0 && yi == 1.0,
              "INTERSECTION_POINT_8");
    }
    {
        /* The unit square as one ring of N = 6 entries ending at entry 5. */
        const float x[6] = {0, 1, 1, 0, 0, 1}, y[6] = {0, 0, 1, 1, 0, 0};
        const double dx[6] = {0, 1, 1, 0, 0, 1}, dy[6] = {0, 0, 1, 1, 0, 0};
        const int32_t n = 6, ends[1] = {5}, rings = 1;
        const float xmin = 0, inside = 0.5f, outside = 1.5f;
        const double dxmin = 0, dInside = 0.5;
        check(truth(INSIDE_POLYGON(&inside, &inside, x, y, &n, &xmin, ends, &rings), 1),
              "INSIDE_POLYGON inside");
        check(truth(INSIDE_POLYGON(&outside, &inside, x, y, &n, &xmin, ends, &rings), 0),
              "INSIDE_POLYGON outside");
        check(truth(INSIDE_POLYGON_8(&dInside, &dInside, dx, dy, &n, &dxmin, ends, &rings), 1),
              "INSIDE_POLYGON_8");
    }
    {
        const float radius = 1, depth = 1;
        const float x1 = 0, z = 0, x2 = 2, level = 1, factor = 1;
        float area = -1, width = -1, perimeter = -1;
        check(CIRCLE_WIDTH(&radius, &depth) == 2.0f, "CIRCLE_WIDTH");
        HYD_PARAM(&x1, &z, &x2, &z, &level, &factor, &area, &width, &perimeter);
        check(area == 2.0f && width == 2.0f && perimeter == 2.0f, "HYD_PARAM");
    }
    {
        const double x[2] = {11, 9}, y[2] = {22, 20}, x0 = 10, y0 = 20;
        const int32_t n = 2;
        const float theta = 0;
        float u[2] = {0, 0}, v[2] = {0, 0};
        GEO_SHIFT(x, y, &n, &x0, &y0, &theta, u, v);
        check(u[0] == 1.0f && v[0] == 2.0f && u[1] == -1.0f && v[1] == 0.0f, "GEO_SHIFT");
    }
    {
        const double x[3] = {0, 1, 0}, y[3] = {0, 0, 1}, p = 1.0 / 3;
        const float z[3] = {0, 0, 3};
        float result = 0;
        check(truth(INTERPOLATE_TRIANGLE_8(&p, &p, x, y, z, &result), 1) &&
                  near(result, 1.0, 1.0e-6),
              "INTERPOLATE_TRIANGLE_8 at the centroid");
    }
}

/* ---- The message log through the shared record ------------------------------------------ */

static void messageLog(const char *folder) {
    char path[1000];
    char name[1000];
    char line[300];
    const char *expected =
        " 2012, 1,      -99999.000,      -99999.000, \"ERROR 2012 - bad value\", \"\", \"\", "
        "\"f3\"";
    const int32_t logOnly = -2;
    int32_t unit = 0;
    FILE *log;

    check(sizeof(kelvara_dmessages) == 7096, "DMESSAGES size");
    check(offsetof(kelvara_dmessages, prefix) == 4020 &&
              offsetof(kelvara_dmessages, labelWidth) == 4024 &&
              offsetof(kelvara_dmessages, extra) == 4072 &&
              offsetof(kelvara_dmessages, logUnit) == 7072 &&
              offsetof(kelvara_dmessages, x) == 7076 &&
              offsetof(kelvara_dmessages, oneLine) == 7092,
          "DMESSAGES layout");

    snprintf(path, sizeof path, "%s/kelvara_client_c.log", folder);
    remove(path);
    setField(name, sizeof name, path);
    OPENFILEUNIT(&unit, "O ", 2, name, sizeof name);
    check(unit > 900 && unit <= 1000, "OPENFILEUNIT unit number");

    DMESSAGECLEAR();
    DMESSAGERESETCOUNTERS();
    DMESSAGES.logUnit = unit;
    setField(DMESSAGES.text[0], sizeof DMESSAGES.text[0], "ERROR 2012 - bad value");
    setField(DMESSAGES.extra[2], sizeof DMESSAGES.extra[2], "f3");
    DMESSAGE(&logOnly);
    DMESSAGES.logUnit = 0;
    CLOSEFILEUNIT(&unit);

    check(DMESSAGES.errorCount == 1 && DMESSAGES.messageNumber == 2012 &&
              DMESSAGES.severity == 1,
          "DMESSAGE counts and classifies");
    check(fieldIs(DMESSAGES.text[0], sizeof DMESSAGES.text[0], "") &&
              fieldIs(DMESSAGES.extra[2], sizeof DMESSAGES.extra[2], "") &&
              DMESSAGES.x == -99999.0,
          "DMESSAGE clears the record");

    log = fopen(path, "r");
    check(log != NULL, "log file written");
    if (log != NULL) {
        if (fgets(line, sizeof line, log) == NULL) line[0] = '\0';
        line[strcspn(line, "\r\n")] = '\0';
        check(strcmp(line, expected) == 0, "log line");
        if (strcmp(line, expected) != 0)
            printf("  got      [%s]\n  expected [%s]\n", line, expected);
        fclose(log);
        remove(path);
    }
}

int main(int argc, char **argv) {
    textRoutines();
    logicalRoutines();
    numberTexts();
    lineParsing();
    geometry();
    messageLog(argc > 1 ? argv[1] : ".");
    printf("C client: %d checks, %d failed\n", checks, failures);
    return failures == 0 ? 0 : 1;
}
