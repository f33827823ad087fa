/*
 * Ravelo: converts data-logger recordings (.Q38) into day or month CSV files.
 *
 * A host loads the library, calls RaveloInit once, RaveloINIFileDelete to
 * begin a conversion batch, RaveloProc once per logger file, and
 * RaveloErrMsgGet for the text of any nonzero result. All calls run on the
 * caller's thread; calls must not overlap.
 *
 * Texts are byte strings in the ANSI code page (code page 932 for the
 * messages). On 32-bit Windows the functions use __stdcall and are exported
 * under their plain names with ordinals 1 to 5.
 */
#ifndef RAVELO_H
#define RAVELO_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define RAVELO_CALL __stdcall
#else
#define RAVELO_CALL
#endif

#if defined(_WIN32)
#if defined(RAVELO_BUILDING_LIBRARY)
#define RAVELO_API __declspec(dllexport)
#else
#define RAVELO_API __declspec(dllimport)
#endif
#elif defined(RAVELO_BUILDING_LIBRARY)
#define RAVELO_API __attribute__((visibility("default")))
#else
#define RAVELO_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Ordinal 1. Sets the day control type for the following jobs. 1: a record
 * stamped 00:00:00 counts as 24:00:00 of the day before; any other value:
 * timestamps stay as recorded. */
RAVELO_API void RAVELO_CALL RaveloDayCntlTypeSet(int32_t dayCntlType);

/* Ordinal 2. Copies the message of result code 0..26 (code page 932, with
 * its terminating zero; at most 64 bytes, so 80 always suffice) into buffer
 * and returns 1. For any other code returns 0 and leaves buffer untouched. */
RAVELO_API int32_t RAVELO_CALL RaveloErrMsgGet(int32_t code, char* buffer);

/* Ordinal 3. Deletes the job attribute INI files of the current work folder
 * and id number, beginning a new conversion batch. Returns 0, or 24 when a
 * file exists and cannot be deleted. */
RAVELO_API int32_t RAVELO_CALL RaveloINIFileDelete(void);

/* Ordinal 4. Stores the work folder (where the INI files live; a null pointer
 * is stored as empty), the id number that goes into the INI file names, and
 * the day control type. Checks nothing and touches no file. */
RAVELO_API void RAVELO_CALL RaveloInit(const char* workFolder, int32_t idNumber,
                                       int32_t dayCntlType);

/* Ordinal 5. Converts one logger file. csvFileKind: 0 day files, 1 month
 * files. makeMethod: 0 replaces a file the first time the batch meets it and
 * merges afterwards, 1 always merges into an existing file. directOutput:
 * nonzero writes one file named after the logger file straight into
 * destFolder. Returns 0 or a result code 2..26. */
RAVELO_API int32_t RAVELO_CALL RaveloProc(const char* inputPath, const char* destFolder,
                                          int32_t csvFileKind, int32_t makeMethod,
                                          int32_t directOutput);

#ifdef __cplusplus
}
#endif

#endif /* RAVELO_H */
