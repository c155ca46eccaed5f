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
#  if defined(KELVARA_BUILDING)
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
KELVARA_API void KELVARA_CALL FATALSTOP(void);

/* ---- Message log -------------------------------------------------------------------- */
/* (message log section) */

/* ---- Planar geometry ---------------------------------------------------------------- */
/* (geometry section) */

/* ---- Triangle and element interpolation --------------------------------------------- */
/* (interpolation section) */

/* ---- Text line reading and parsing -------------------------------------------------- */
/* (line parsing section) */

/* ---- Value extraction and number conversion ----------------------------------------- */
/* (value extraction section) */

#ifdef __cplusplus
}
#endif

#endif /* KELVARA_H */
