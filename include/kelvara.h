/*
 * kelvara: the exported C interface of libkelvara.
 *
 * Calling convention, shared by every routine below:
 *  - C linkage; the symbol is the routine's upper-case name.
 *  - Every non-text argument is passed by pointer: integers and logicals as int32_t, single
 *    precision reals as float, double precision reals as double.
 *  - A text argument takes two positions: its address (char*) and then its declared length
 *    (int32_t, by value). Texts are fixed-length fields padded with blanks; trailing blanks
 *    are never significant.
 *  - A routine that returns text returns void and takes the caller's result area (char* and
 *    int32_t length) as its first two arguments. The result is written left-aligned, padded
 *    with blanks and cut at that length.
 *  - Logical results are int32_t: -1 (all bits set) for true, 0 for false; test the lowest bit.
 */
#ifndef KELVARA_H
#define KELVARA_H

#include <stdint.h>

#if defined(_WIN32) || defined(__CYGWIN__)
#  if defined(KELVARA_BUILDING) && defined(KELVARA_MODULE_DEFINITION)
     /* kelvara.dll: its module-definition file names every export, plain and decorated. */
#    define KELVARA_API
#  elif defined(KELVARA_BUILDING)
#    define KELVARA_API __declspec(dllexport)
#  else
#    define KELVARA_API __declspec(dllimport)
#  endif
#  define KELVARA_CALL __stdcall
#else
#  define KELVARA_API __attribute__((visibility("default")))
#  define KELVARA_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t kelvara_logical; /* -1 true, 0 false */

/* ---- Text routines ------------------------------------------------------------------ */

KELVARA_API kelvara_logical KELVARA_CALL FLAGEXISTS(const char *line, int32_t lineLen,
                                                     const char *flag, int32_t flagLen);
KELVARA_API void KELVARA_CALL UPPERCASE(char *result, int32_t resultLen, const char *text,
                                        int32_t textLen);
KELVARA_API void KELVARA_CALL LOWERCASE(char *result, int32_t resultLen, const char *text,
                                        int32_t textLen);
KELVARA_API void KELVARA_CALL TRIMF(char *result, int32_t resultLen, const char *text,
                                    int32_t textLen);
/* Position of the last character that is neither blank nor NUL (0 if none); when it is short
 * of the declared length, a NUL is written just after it. */
KELVARA_API int32_t KELVARA_CALL LENSL(char *text, int32_t textLen);
KELVARA_API void KELVARA_CALL AINTEGER(char *result, int32_t resultLen, const int32_t *value);
KELVARA_API void KELVARA_CALL AREAL(char *result, int32_t resultLen, const float *value);

/* ---- Path routines ------------------------------------------------------------------ */

KELVARA_API void KELVARA_CALL FILEEXT(char *result, int32_t resultLen, const char *path,
                                      int32_t pathLen);
KELVARA_API void KELVARA_CALL FILE___EXT(char *result, int32_t resultLen, const char *path,
                                         int32_t pathLen);
KELVARA_API void KELVARA_CALL FILENAME(char *result, int32_t resultLen, const char *path,
                                       int32_t pathLen);
KELVARA_API void KELVARA_CALL FILENAMENO_(char *result, int32_t resultLen, const char *path,
                                          int32_t pathLen);
KELVARA_API void KELVARA_CALL FILENAMEPATH(char *result, int32_t resultLen, const char *path,
                                           int32_t pathLen);
KELVARA_API void KELVARA_CALL FILENAMEPATHNO_(char *result, int32_t resultLen,
                                              const char *path, int32_t pathLen);
KELVARA_API void KELVARA_CALL FILEFOLDERPATH(char *result, int32_t resultLen,
                                             const char *path, int32_t pathLen);
/* Also writes the cleaned path back into its argument. */
KELVARA_API void KELVARA_CALL CLEANPATH(char *result, int32_t resultLen, char *path,
                                        int32_t pathLen);
KELVARA_API void KELVARA_CALL REMOVEDOTDOT(char *result, int32_t resultLen, const char *path,
                                           int32_t pathLen);
KELVARA_API void KELVARA_CALL ADDFOLDER(char *result, int32_t resultLen, const char *folder,
                                        int32_t folderLen, const char *name, int32_t nameLen);

/* ---- File units and console --------------------------------------------------------- */

KELVARA_API void KELVARA_CALL INITFILEUNITS(void);
/* kind: "BI", "UI", "I ", "BO", "UO", "O ", "F ", "A " or "IO". */
KELVARA_API void KELVARA_CALL OPENFILEUNIT(int32_t *unit, const char *kind, int32_t kindLen,
                                           const char *name, int32_t nameLen);
KELVARA_API void KELVARA_CALL CLOSEFILEUNIT(const int32_t *unit);
KELVARA_API void KELVARA_CALL PAUSECONSOLE(void);
/* Closes every unit in use, waits for Enter ("Press Enter to Close") and ends the process with
 * status 1. */
KELVARA_API void KELVARA_CALL FATALSTOP(void);

/* ---- A whole kelvara run inside this process ------------------------------------------ */

/* Runs one kelvara command line as the executable would, in batch mode, and returns its exit
 * status (0 finished or the plain usage text, 1 an error) in *status and its console text in
 * console (lines ended by a line feed, blank-padded, cut at consoleLen); *consoleUsed receives
 * the length of the whole text, which may exceed consoleLen. arguments holds the arguments
 * without the program name, each ended or separated by a NUL character ("-k5\0run_h.dat");
 * trailing blanks of the field are not significant. The run never reads standard input, never
 * pauses and never ends the calling process; a run that fails leaves no partial output and no
 * open file behind, so a failed run may be followed by another in the same process. Each run has
 * a context of its own (its console text, its batch mode, its files, numbered from 901 as in the
 * executable): calls from several threads run at the same time, each with its own console text
 * and outputs, and a run neither uses nor changes the file-unit table and console of the routines
 * above, which the program keeps for itself. */
KELVARA_API void KELVARA_CALL RUNCOMMANDLINE(char *console, int32_t consoleLen,
                                             const char *arguments, int32_t argumentsLen,
                                             int32_t *status, int32_t *consoleUsed);
/* As RUNCOMMANDLINE, and *code receives the kind of failure (0 when the run finished or showed
 * the usage text): 2 the command line, 3 an input that cannot be read, 4 inputs that do not suit
 * the operation or each other, 5 a file that cannot be found or opened, 6 an output that cannot
 * be written, 7 not enough memory, 8 the console, 9 an internal failure. */
KELVARA_API void KELVARA_CALL RUNCOMMANDLINECODE(char *console, int32_t consoleLen,
                                                 const char *arguments, int32_t argumentsLen,
                                                 int32_t *status, int32_t *consoleUsed,
                                                 int32_t *code);

/* ---- Message log -------------------------------------------------------------------- */
/* (message log section) */
/* The shared message record, read and written directly by callers: fill text line 1 (beginning
 * with "ERROR", "WARNING", "CHECK" or "UNSTABLE" and, optionally, a number), lines 2 and 3,
 * the extra fields, the prefix and the one-line flag as needed, then call DMESSAGE or
 * DMESSAGEXY; the texts are blanked again on return. Units are those of OPENFILEUNIT and are
 * written only when > 0 and open. Texts are blank-padded (trailing NULs count as padding too).
 * Packed, 7096 bytes, zero-filled at load. */
#pragma pack(push, 1)
typedef struct kelvara_dmessages {
    int32_t messageUnit;    /* message file */
    int32_t messageMifUnit; /* graphics (.mif) file of located errors and warnings */
    int32_t messageMidUnit; /* attribute (.mid) file of located errors and warnings */
    int32_t checkMifUnit;   /* graphics (.mif) file of located checks and other messages */
    int32_t checkMidUnit;   /* attribute (.mid) file of located checks and other messages */
    char text[4][1000];     /* text lines 1 to 4; line 4 is filled from the extra fields */
    char prefix[4];
    double labelWidth;      /* W: width of the label box of a located message */
    double labelOffset;     /* S: distance of the label box from the point */
    int32_t errorCount;
    int32_t warningCount;
    int32_t checkCount;
    int32_t xyErrorCount;
    int32_t xyWarningCount;
    int32_t xyCheckCount;
    int32_t messageNumber;
    int32_t severity;       /* 0 none, 1 ERROR, 2 WARNING, 3 CHECK, 4 UNSTABLE */
    char extra[3][1000];
    int32_t logUnit;        /* comma-separated log file */
    double x;               /* location; -99999.0 for none */
    double y;
    int32_t oneLine;        /* logical: the whole message on one line */
} kelvara_dmessages;
#pragma pack(pop)

extern KELVARA_API kelvara_dmessages DMESSAGES;

/* n >= 0: n empty lines and the message on the console and in the message file; n = -1: the
 * message file only; n <= -2: neither. The log line is written whatever n is. */
KELVARA_API void KELVARA_CALL DMESSAGE(const int32_t *n);
/* Also writes a labelled text object at (x, y) to the .mif/.mid pair of its severity. */
KELVARA_API void KELVARA_CALL DMESSAGEXY(const int32_t *n, const double *x, const double *y);
KELVARA_API void KELVARA_CALL DMESSAGECLEAR(void);
KELVARA_API void KELVARA_CALL DMESSAGERESETCOUNTERS(void);
/* 80 underscores on the console, and in the unit when it is > 0. */
KELVARA_API void KELVARA_CALL DLINE(const int32_t *unit);

/* ---- Planar geometry ---------------------------------------------------------------- */
/* Single precision unless stated; a routine ending in _8 takes double coordinates. Arrays are
 * indexed from 1 as a Fortran caller sees them.
 * A region (INSIDE_POLYGON) holds closed rings in parallel arrays x, y of n entries: a ring of
 * m vertices occupies m + 2 entries V1, V2, ..., Vm, V1, V2 and the next ring follows directly;
 * ringEnds(j) is the index of the entry holding the repeated V1 of ring j. A triangle is
 * n = 5, ringEnds = (4), ringCount = 1. */

/* Angle in degrees (0 to 180) between line 1 (point 1 to 2) and line 2 (point 3 to 4); 0 when
 * either line is vertical (|dx| < 1.0E-6). */
KELVARA_API float KELVARA_CALL ANGLE2D(const double *x1, const double *y1, const double *x2,
                                       const double *y2, const double *x3, const double *y3,
                                       const double *x4, const double *y4);
/* Distance between two points; exactly 0 when both differences are below 1.0E-6. The _8 twin
 * rounds the differences to single precision; its result is single. */
KELVARA_API float KELVARA_CALL DISTANCE(const float *x1, const float *y1, const float *x2,
                                        const float *y2);
KELVARA_API float KELVARA_CALL DISTANCE_8(const double *x1, const double *y1, const double *x2,
                                          const double *y2);
/* True when |x1 - x2| < tolerance and |y1 - y2| < tolerance (strictly). */
KELVARA_API kelvara_logical KELVARA_CALL SAME_POINT(const float *x1, const float *y1,
                                                    const float *x2, const float *y2,
                                                    const float *tolerance);
KELVARA_API kelvara_logical KELVARA_CALL SAME_POINT_8(const double *x1, const double *y1,
                                                      const double *x2, const double *y2,
                                                      const double *tolerance);
/* Product of the side values of test points a and b against the line through points 1 and 2:
 * > 0 same side, < 0 opposite sides, 0 when either is on the line. The _8 twin rounds the
 * direction and the point offsets to single precision before the products. */
KELVARA_API float KELVARA_CALL SAME_SIDE(const float *x1, const float *y1, const float *x2,
                                         const float *y2, const float *xa, const float *ya,
                                         const float *xb, const float *yb);
KELVARA_API float KELVARA_CALL SAME_SIDE_8(const double *x1, const double *y1, const double *x2,
                                           const double *y2, const double *xa,
                                           const double *ya, const double *xb,
                                           const double *yb);
/* True when point p lies exactly on the infinite line through points 1 and 2. */
KELVARA_API kelvara_logical KELVARA_CALL INTERSECT_POINT(const float *x1, const float *y1,
                                                         const float *x2, const float *y2,
                                                         const float *xp, const float *yp);
/* True when segments 1-2 and 3-4 cross or touch (collinear segments always count). */
KELVARA_API kelvara_logical KELVARA_CALL INTERSECT_LINE(const float *x1, const float *y1,
                                                        const float *x2, const float *y2,
                                                        const float *x3, const float *y3,
                                                        const float *x4, const float *y4);
KELVARA_API kelvara_logical KELVARA_CALL INTERSECT_LINE_8(const double *x1, const double *y1,
                                                          const double *x2, const double *y2,
                                                          const double *x3, const double *y3,
                                                          const double *x4, const double *y4);
/* Segments 1-2 and 3-4 by their parameters (0 < u <= 1 is on a segment): -1 the lines
 * coincide, 0 parallel, 3 the crossing is on both segments, 1 on 1-2 only, 2 on 3-4 only,
 * 4 on neither. */
KELVARA_API int32_t KELVARA_CALL INTERSECT_LINE_V2(const float *x1, const float *y1,
                                                   const float *x2, const float *y2,
                                                   const float *x3, const float *y3,
                                                   const float *x4, const float *y4);
/* Intersection (xi, yi) of the infinite lines 1-2 and 3-4; false for two vertical lines or
 * equal slopes, and then xi, yi are not written. The _8 twin is double throughout. */
KELVARA_API kelvara_logical KELVARA_CALL INTERSECTION_POINT(const float *x1, const float *y1,
                                                            const float *x2, const float *y2,
                                                            const float *x3, const float *y3,
                                                            const float *x4, const float *y4,
                                                            float *xi, float *yi);
KELVARA_API kelvara_logical KELVARA_CALL INTERSECTION_POINT_8(
    const double *x1, const double *y1, const double *x2, const double *y2, const double *x3,
    const double *y3, const double *x4, const double *y4, double *xi, double *yi);
/* True when point (xp, yp) is inside the region x(n), y(n), ringEnds(ringCount) (even-odd
 * rule along a horizontal probe from xmin - 10; xmin is normally the region's smallest x).
 * Ends the process (status 1) with an "ERROR - Invalid number of polygons" message when the
 * rings are used up before the entries. The _8 twin is double throughout. */
KELVARA_API kelvara_logical KELVARA_CALL INSIDE_POLYGON(const float *xp, const float *yp,
                                                        const float *x, const float *y,
                                                        const int32_t *n, const float *xmin,
                                                        const int32_t *ringEnds,
                                                        const int32_t *ringCount);
KELVARA_API kelvara_logical KELVARA_CALL INSIDE_POLYGON_8(const double *xp, const double *yp,
                                                          const double *x, const double *y,
                                                          const int32_t *n, const double *xmin,
                                                          const int32_t *ringEnds,
                                                          const int32_t *ringCount);
/* u(i), v(i) = point i of x(n), y(n) in the frame with origin (x0, y0) whose u axis points
 * along theta (radians), in single precision. n <= 0 does nothing. */
KELVARA_API void KELVARA_CALL GEO_SHIFT(const double *x, const double *y, const int32_t *n,
                                        const double *x0, const double *y0, const float *theta,
                                        float *u, float *v);
/* Grid window of the polygon x(n), y(n) in grid-local coordinates (column i covers x from
 * (i-1)*cellSize to i*cellSize): its extremes and the first/last row and column it touches;
 * the first ones are raised to 0, the last ones lowered to rowLimit / columnLimit. n <= 0
 * writes nothing. */
KELVARA_API void KELVARA_CALL SET_SUB_GRID_AREA(const float *x, const float *y, const int32_t *n,
                                                const float *cellSize, const int32_t *rowLimit,
                                                const int32_t *columnLimit, int32_t *firstRow,
                                                int32_t *firstColumn, int32_t *lastRow,
                                                int32_t *lastColumn, float *xmin, float *ymin,
                                                float *xmax, float *ymax);
/* Flow area, surface width and wetted perimeter below waterLevel of the cross-section segment
 * (x1, z1)-(x2, z2) (x across the section, z the bed); all 0 when factor <= 0. Width and area
 * take the sign of x2 - x1. */
KELVARA_API void KELVARA_CALL HYD_PARAM(const float *x1, const float *z1, const float *x2,
                                        const float *z2, const float *waterLevel,
                                        const float *factor, float *area, float *width,
                                        float *perimeter);
/* HYD_PARAM for the two halves of the segment, split at its midpoint, each with its factor. */
KELVARA_API void KELVARA_CALL HYD_PARAM2(const float *x1, const float *z1, const float *factor1,
                                         const float *x2, const float *z2, const float *factor2,
                                         const float *waterLevel, float *area1, float *area2,
                                         float *width1, float *width2, float *perimeter1,
                                         float *perimeter2);
/* Water-surface width of a circle of the given radius filled to depth; 0 within 1.0E-5 of
 * empty or full. */
KELVARA_API float KELVARA_CALL CIRCLE_WIDTH(const float *radius, const float *depth);

/* ---- Triangle and element interpolation --------------------------------------------- */
/* Value at (xp, yp) in the triangle x(3), y(3) with vertex values z(3), interpolated along the
 * line from vertex 3 through the point to the edge 1-2. False, with -99999.0 in result, when
 * that line is parallel to the edge. Points outside are not extrapolated linearly. The _8 twin
 * takes double coordinates; z and result stay single. */
KELVARA_API kelvara_logical KELVARA_CALL INTERPOLATE_TRIANGLE(const float *xp, const float *yp,
                                                              const float *x, const float *y,
                                                              const float *z, float *result);
KELVARA_API kelvara_logical KELVARA_CALL INTERPOLATE_TRIANGLE_8(const double *xp,
                                                                const double *yp,
                                                                const double *x,
                                                                const double *y, const float *z,
                                                                float *result);
/* Value at (xp, yp) in a mesh element of vertexCount (3 or 4) vertices x(4), y(4) with values
 * z(4), a quadrilateral in boundary order; xmin is the element's smallest x. A triangle: false
 * and result untouched when the point is outside. A quadrilateral: the mean over the triangles
 * of three of its vertices that hold the point (two inside a convex one), or false and
 * -99999.0 when none does. Other vertex counts: false, result untouched. */
KELVARA_API kelvara_logical KELVARA_CALL INTERPOLATE_ELEMENT_8(
    const double *xp, const double *yp, const double *x, const double *y, const float *z,
    const int32_t *vertexCount, const double *xmin, float *result);

/* ---- Text line reading and parsing -------------------------------------------------- */
/* (line parsing section) */
/* Lines are looked at in 10000-character working copies (words in ASAME/ASAMECS in 1000).
 * Routines marked "in place" write their changed argument back into it. */

/* The text as a 256-character value. */
KELVARA_API void KELVARA_CALL SS256(char *result, int32_t resultLen, const char *text,
                                    int32_t textLen);
/* Reads one line of a text unit opened with OPENFILEUNIT into line (in place: tabs removed,
 * left-adjusted, comment cut off). True when it holds text that does not start like a number.
 * A read error or the end of the file ends the run through DMESSAGE and FATALSTOP. */
KELVARA_API kelvara_logical KELVARA_CALL READLINE(const int32_t *unit, char *line,
                                                  int32_t lineLen);
/* In place: left-adjusted, cut before the first "#" or "!". True for a blank or comment line. */
KELVARA_API kelvara_logical KELVARA_CALL COMMENTLINE(char *line, int32_t lineLen);
/* In place: left-adjusted. True when blank or starting with a digit, "-" or ".". */
KELVARA_API kelvara_logical KELVARA_CALL NUMBERLINE(char *line, int32_t lineLen);
/* In place: left-adjusted. True when non-blank and all digits. */
KELVARA_API kelvara_logical KELVARA_CALL POSITIVEINTEGERNUMBER(char *text, int32_t textLen);
/* In place: tabs removed. True when then blank. */
KELVARA_API kelvara_logical KELVARA_CALL BLANK(char *text, int32_t textLen);
/* Same word once tabs and leading blanks are dropped; ASAME ignores case, ASAMECS keeps it. */
KELVARA_API kelvara_logical KELVARA_CALL ASAME(const char *a, int32_t aLen, const char *b,
                                               int32_t bLen);
KELVARA_API kelvara_logical KELVARA_CALL ASAMECS(const char *a, int32_t aLen, const char *b,
                                                 int32_t bLen);
/* Splits line at separator (its whole declared length, trailing blanks included) or, when the
 * separator is blank or not found and column is not 0, after column. True when the keyword is
 * blank or found in the left part (case ignored) and the left part is non-blank, or column is
 * 0 and the separator was not found or not given. */
KELVARA_API kelvara_logical KELVARA_CALL CHECKLINE(const char *line, int32_t lineLen,
                                                   const char *keyword, int32_t keywordLen,
                                                   const char *separator, int32_t separatorLen,
                                                   const int32_t *column, char *right,
                                                   int32_t rightLen, char *left,
                                                   int32_t leftLen);
KELVARA_API void KELVARA_CALL REMOVETABS(char *result, int32_t resultLen, const char *text,
                                         int32_t textLen);
KELVARA_API void KELVARA_CALL REMOVESPACES(char *result, int32_t resultLen, const char *text,
                                           int32_t textLen);
/* Without double and single quotes. */
KELVARA_API void KELVARA_CALL REMOVEQUOTES(char *result, int32_t resultLen, const char *text,
                                           int32_t textLen);
/* Every double quote doubled. */
KELVARA_API void KELVARA_CALL DOUBLEQUOTE(char *result, int32_t resultLen, const char *text,
                                          int32_t textLen);
/* The first occurrence of oldWord (case ignored) replaced by newWord. */
KELVARA_API void KELVARA_CALL REPLACE(char *result, int32_t resultLen, const char *text,
                                      int32_t textLen, const char *oldWord, int32_t oldLen,
                                      const char *newWord, int32_t newLen);
/* Column number (from 1) of name in a comma-separated header, else *defaultColumn. */
KELVARA_API int32_t KELVARA_CALL CSVCOLUMN(const char *header, int32_t headerLen,
                                           const char *name, int32_t nameLen,
                                           const int32_t *defaultColumn);
/* The number in a column of a comma-separated line; false with *value = 0 when there is none. */
KELVARA_API kelvara_logical KELVARA_CALL CSVVALUE(const char *line, int32_t lineLen,
                                                  const int32_t *column, float *value);
/* Field *n (from 1) of text split at delimiter (its whole declared length), left-adjusted;
 * blank when missing. */
KELVARA_API void KELVARA_CALL SUBSTRING(char *result, int32_t resultLen, const char *text,
                                        int32_t textLen, const char *delimiter,
                                        int32_t delimiterLen, const int32_t *n);
/* Numbers on the line before any comment; negative when other text is met. */
KELVARA_API int32_t KELVARA_CALL NUMBEROFNUMBERS(const char *line, int32_t lineLen);

/* ---- Value extraction and number conversion ----------------------------------------- */
/* (value extraction section) */
/* A field of a comma-separated data line: found by name in lowerLine, the caller's lower-case
 * copy of line ("name = value", ending at the next comma), or, when name is blank or no "="
 * follows it in the rest of the line, taken by its column (from 1; 0 or less gives blank).
 * Quotes are removed and leading blanks dropped. */
KELVARA_API void KELVARA_CALL EXTRACTSTRING(char *result, int32_t resultLen, const char *line,
                                            int32_t lineLen, const char *lowerLine,
                                            int32_t lowerLineLen, const char *name,
                                            int32_t nameLen, const int32_t *column);
/* The field as a number; a blank field gives the default. A field that cannot be read prints
 * " Could not convert ..." and ends the run through FATALSTOP. */
KELVARA_API int32_t KELVARA_CALL EXTRACTINTEGER(const char *line, int32_t lineLen,
                                                const char *lowerLine, int32_t lowerLineLen,
                                                const char *name, int32_t nameLen,
                                                const int32_t *column,
                                                const int32_t *defaultValue);
KELVARA_API float KELVARA_CALL EXTRACTREAL(const char *line, int32_t lineLen,
                                           const char *lowerLine, int32_t lowerLineLen,
                                           const char *name, int32_t nameLen,
                                           const int32_t *column, const float *defaultValue);
/* Non-negative values zero-padded to at least *digits digits (at most 20). */
KELVARA_API void KELVARA_CALL AINTEGERPREC0(char *result, int32_t resultLen,
                                            const int32_t *value, const int32_t *digits);
KELVARA_API void KELVARA_CALL AINTEGER8PREC0(char *result, int32_t resultLen,
                                             const int64_t *value, const int32_t *digits);
/* Fixed point with *decimals decimals (negative counts as 0); 20 asterisks when too wide. */
KELVARA_API void KELVARA_CALL AREALD(char *result, int32_t resultLen, const float *value,
                                     const int32_t *decimals);
/* At most ten significant places, trailing zeros removed ("5." for 5). */
KELVARA_API void KELVARA_CALL AREAL8(char *result, int32_t resultLen, const double *value);

#ifdef __cplusplus
}
#endif

#endif /* KELVARA_H */
