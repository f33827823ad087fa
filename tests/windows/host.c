/*
 * A host program for the Ravelo library, the way a Windows application uses
 * it: it loads the library at run time, resolves the five exports, reads the
 * message texts and runs a list of conversion scenarios.
 *
 * The same source builds for Windows (LoadLibraryA, GetProcAddress by name
 * and by ordinal, the export directory of the loaded module) and for Linux
 * (dlopen, dlsym), so that both systems run exactly the same calls and their
 * outputs can be compared file by file.
 *
 *   host LIBRARY SCENARIOS INPUT_ROOT OUTPUT_ROOT TRANSCRIPT
 *
 * In the scenario file "$I" stands for INPUT_ROOT and "$W" for OUTPUT_ROOT;
 * paths use "\" as separator. Commands, one per line ("#" starts a comment):
 *   scenario NAME                 starts a scenario (a unit of pass/fail)
 *   mkdir PATH                    creates one folder level
 *   copy FROM TO                  copies a file
 *   init WORKFOLDER|- ID DAYCNTL  RaveloInit ("-" is a null pointer)
 *   daycntl N                     RaveloDayCntlTypeSet
 *   inidelete                     RaveloINIFileDelete
 *   proc Q38|- DEST|- KIND METHOD DIRECT   RaveloProc
 *   expect CODE                   the last result must be CODE
 *
 * The transcript holds only what must be equal on every system (results,
 * message bytes); the checks of the library's form (exports, ordinals) go to
 * standard output. The last line of standard output is "N passed, M failed".
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#include <errno.h>
#include <sys/stat.h>
#endif

#include "ravelo.h"

typedef void(RAVELO_CALL* DayCntlTypeSetFn)(int32_t);
typedef int32_t(RAVELO_CALL* ErrMsgGetFn)(int32_t, char*);
typedef int32_t(RAVELO_CALL* INIFileDeleteFn)(void);
typedef void(RAVELO_CALL* InitFn)(const char*, int32_t, int32_t);
typedef int32_t(RAVELO_CALL* ProcFn)(const char*, const char*, int32_t, int32_t, int32_t);

typedef void (*AnyFn)(void);

static const char* const kExportNames[5] = {"RaveloDayCntlTypeSet", "RaveloErrMsgGet",
                                            "RaveloINIFileDelete", "RaveloInit",
                                            "RaveloProc"};

/* Length in bytes (without the zero) of the message of each code 0..26. */
static const int kMessageLengths[27] = {10, 22, 35, 27, 33, 38, 30, 43, 43, 37, 51, 52, 51, 63,
                                        55, 55, 47, 53, 53, 59, 47, 40, 37, 35, 30, 34, 53};

static struct {
  DayCntlTypeSetFn dayCntlTypeSet;
  ErrMsgGetFn errMsgGet;
  INIFileDeleteFn iniFileDelete;
  InitFn init;
  ProcFn proc;
} api;

static int passed, failed;
static FILE* transcript;

static void Check(int ok, const char* what) {
  if (ok) {
    ++passed;
    printf("PASS %s\n", what);
  } else {
    ++failed;
    printf("FAIL %s\n", what);
  }
}

/* ---- Loading ------------------------------------------------------------ */

#ifdef _WIN32
static HMODULE library;

static AnyFn ByName(const char* name) { return (AnyFn)(void (*)(void))GetProcAddress(library, name); }

static AnyFn ByOrdinal(int ordinal) {
  return (AnyFn)(void (*)(void))GetProcAddress(library, MAKEINTRESOURCEA(ordinal));
}

/* The export directory of the loaded image: exactly the five names, at the
 * ordinals 1..5 in the order of kExportNames. */
static int ExportDirectoryIsExact(void) {
  const unsigned char* base = (const unsigned char*)library;
  const IMAGE_DOS_HEADER* dos = (const IMAGE_DOS_HEADER*)base;
  const IMAGE_NT_HEADERS* nt = (const IMAGE_NT_HEADERS*)(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY* dir = &nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (dir->VirtualAddress == 0) return 0;
  const IMAGE_EXPORT_DIRECTORY* exp = (const IMAGE_EXPORT_DIRECTORY*)(base + dir->VirtualAddress);
  printf("export directory: base %lu, %lu functions, %lu names\n", (unsigned long)exp->Base,
         (unsigned long)exp->NumberOfFunctions, (unsigned long)exp->NumberOfNames);
  if (exp->Base != 1 || exp->NumberOfFunctions != 5 || exp->NumberOfNames != 5) return 0;
  const DWORD* names = (const DWORD*)(base + exp->AddressOfNames);
  const WORD* ordinals = (const WORD*)(base + exp->AddressOfNameOrdinals);
  int ok = 1;
  for (DWORD i = 0; i < exp->NumberOfNames; ++i) {
    const char* name = (const char*)(base + names[i]);
    int ordinal = (int)ordinals[i] + (int)exp->Base;
    printf("  export %-22s ordinal %d\n", name, ordinal);
    if (ordinal < 1 || ordinal > 5 || strcmp(name, kExportNames[ordinal - 1]) != 0) ok = 0;
  }
  return ok;
}

#if defined(__i386__)
/* A __stdcall function removes its arguments from the stack before it
 * returns. A library built with another calling convention leaves them
 * there, and this host, built with the header's __stdcall, would go on with
 * its stack pointer moved by every call. Each export that takes arguments is
 * called once, with values that change nothing (the defaults after load, a
 * missing logger file), by a probe that reads the stack pointer before and
 * after the call; its frame pointer keeps the probe's own locals and its
 * return sound either way. */
#define READ_STACK_POINTER(sp) __asm__ volatile("movl %%esp, %0" : "=r"(sp) : : "memory")
#define STACK_PROBE __attribute__((noinline, optimize("no-omit-frame-pointer", "no-defer-pop")))

static STACK_PROBE long LeftByDayCntlTypeSet(void) {
  uintptr_t before, after;
  READ_STACK_POINTER(before);
  api.dayCntlTypeSet(0);
  READ_STACK_POINTER(after);
  return (long)(before - after);
}

static STACK_PROBE long LeftByErrMsgGet(void) {
  char buffer[80];
  uintptr_t before, after;
  READ_STACK_POINTER(before);
  api.errMsgGet(0, buffer);
  READ_STACK_POINTER(after);
  return (long)(before - after);
}

static STACK_PROBE long LeftByInit(void) {
  uintptr_t before, after;
  READ_STACK_POINTER(before);
  api.init("", 1, 0);
  READ_STACK_POINTER(after);
  return (long)(before - after);
}

static STACK_PROBE long LeftByProc(void) {
  uintptr_t before, after;
  READ_STACK_POINTER(before);
  api.proc(NULL, NULL, 0, 0, 0);
  READ_STACK_POINTER(after);
  return (long)(before - after);
}

static int ExportsAreStdcall(void) {
  long left[4] = {LeftByDayCntlTypeSet(), LeftByErrMsgGet(), LeftByInit(), LeftByProc()};
  static const char* const names[4] = {"RaveloDayCntlTypeSet", "RaveloErrMsgGet", "RaveloInit",
                                       "RaveloProc"};
  int ok = 1;
  for (int i = 0; i < 4; ++i) {
    if (left[i] != 0) {
      printf("  %s left %ld bytes of arguments on the stack (not __stdcall)\n", names[i], left[i]);
      ok = 0;
    }
  }
  return ok;
}
#endif

static int Load(const char* path) {
  library = LoadLibraryA(path);
  if (library == NULL) {
    printf("LoadLibraryA(%s) failed: error %lu\n", path, (unsigned long)GetLastError());
    return 0;
  }
  Check(ExportDirectoryIsExact(), "export directory: five plain names at ordinals 1..5");
  AnyFn fns[5];
  int all = 1, same = 1;
  for (int i = 0; i < 5; ++i) {
    fns[i] = ByName(kExportNames[i]);
    AnyFn byOrdinal = ByOrdinal(i + 1);
    if (fns[i] == NULL) all = 0;
    if (fns[i] != byOrdinal) same = 0;
  }
  Check(all, "every export resolves by name");
  Check(same, "each export by ordinal 1..5 is the export of that name");
  Check(ByOrdinal(6) == NULL && ByName("_RaveloProc@20") == NULL && ByName("RaveloProc@20") == NULL,
        "no sixth export, no decorated name");
  if (!all) return 0;
  api.dayCntlTypeSet = (DayCntlTypeSetFn)fns[0];
  api.errMsgGet = (ErrMsgGetFn)fns[1];
  api.iniFileDelete = (INIFileDeleteFn)fns[2];
  api.init = (InitFn)fns[3];
  api.proc = (ProcFn)fns[4];
#if defined(__i386__)
  int stdcall = ExportsAreStdcall();
  Check(stdcall, "every export removes its own arguments from the stack (__stdcall)");
  if (!stdcall) return 0;
#endif
  return 1;
}

static void Unload(void) { FreeLibrary(library); }

static int MakeFolder(const char* path) { return CreateDirectoryA(path, NULL) != 0; }

static int CopyOne(const char* from, const char* to) { return CopyFileA(from, to, FALSE) != 0; }

#else
static void* library;

static AnyFn Sym(const char* name) {
  void* p = dlsym(library, name);
  AnyFn fn;
  memcpy(&fn, &p, sizeof fn);
  return fn;
}

static int Load(const char* path) {
  library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) {
    printf("dlopen(%s) failed: %s\n", path, dlerror());
    return 0;
  }
  AnyFn fns[5];
  int all = 1;
  for (int i = 0; i < 5; ++i) {
    fns[i] = Sym(kExportNames[i]);
    if (fns[i] == NULL) all = 0;
  }
  Check(all, "every export resolves by name");
  if (!all) return 0;
  api.dayCntlTypeSet = (DayCntlTypeSetFn)fns[0];
  api.errMsgGet = (ErrMsgGetFn)fns[1];
  api.iniFileDelete = (INIFileDeleteFn)fns[2];
  api.init = (InitFn)fns[3];
  api.proc = (ProcFn)fns[4];
  return 1;
}

static void Unload(void) { dlclose(library); }

/* The host's own file operations take the "\" paths of the scenario file. */
static void ToNative(const char* path, char* out, size_t size) {
  snprintf(out, size, "%s", path);
  for (char* p = out; *p; ++p)
    if (*p == '\\') *p = '/';
}

static int MakeFolder(const char* path) {
  char native[1024];
  ToNative(path, native, sizeof native);
  return mkdir(native, 0777) == 0;
}

static int CopyOne(const char* from, const char* to) {
  char a[1024], b[1024];
  ToNative(from, a, sizeof a);
  ToNative(to, b, sizeof b);
  FILE* in = fopen(a, "rb");
  if (!in) return 0;
  FILE* out = fopen(b, "wb");
  if (!out) {
    fclose(in);
    return 0;
  }
  char buf[8192];
  size_t n;
  int ok = 1;
  while ((n = fread(buf, 1, sizeof buf, in)) > 0)
    if (fwrite(buf, 1, n, out) != n) ok = 0;
  fclose(in);
  if (fclose(out) != 0) ok = 0;
  return ok;
}
#endif

/* ---- Messages ----------------------------------------------------------- */

static void CheckMessages(void) {
  int ok = 1;
  for (int code = -1; code <= 27; ++code) {
    char buffer[80];
    memset(buffer, 0xA5, sizeof buffer);
    int32_t result = api.errMsgGet(code, buffer);
    fprintf(transcript, "message %d -> %d:", code, (int)result);
    if (code < 0 || code > 26) {
      int untouched = 1;
      for (size_t i = 0; i < sizeof buffer; ++i)
        if ((unsigned char)buffer[i] != 0xA5) untouched = 0;
      if (result != 0 || !untouched) {
        ok = 0;
        printf("  code %d: result %d, buffer %s\n", code, (int)result,
               untouched ? "untouched" : "written");
      }
      fprintf(transcript, "\n");
      continue;
    }
    size_t length = 0;
    while (length < sizeof buffer && buffer[length] != '\0') ++length;
    for (size_t i = 0; i < length; ++i) fprintf(transcript, " %02X", (unsigned char)buffer[i]);
    fprintf(transcript, "\n");
    /* Only the text and its zero are copied: the byte after stays. */
    int rest = length + 1 < sizeof buffer && (unsigned char)buffer[length + 1] == 0xA5;
    if (result != 1 || (int)length != kMessageLengths[code] || !rest) {
      ok = 0;
      printf("  code %d: result %d, %d bytes (want %d)%s\n", code, (int)result, (int)length,
             kMessageLengths[code], rest ? "" : ", buffer written past the zero");
    }
  }
  Check(ok, "messages: codes 0..26 give their texts, -1 and 27 give 0 and leave the buffer");
}

/* ---- Scenarios ---------------------------------------------------------- */

#define MAX_TOKENS 8
#define PATH_MAX_LEN 1024

static const char* inputRoot;
static const char* outputRoot;

/* Expands "$I" and "$W" at the start of a token. "-" stays "-". */
static void Expand(const char* token, char* out, size_t size) {
  if (token[0] == '$' && token[1] == 'I')
    snprintf(out, size, "%s%s", inputRoot, token + 2);
  else if (token[0] == '$' && token[1] == 'W')
    snprintf(out, size, "%s%s", outputRoot, token + 2);
  else
    snprintf(out, size, "%s", token);
}

static int ParseInt(const char* text, int32_t* value) {
  char* end;
  long v = strtol(text, &end, 10);
  if (end == text || *end != '\0') return 0;
  *value = (int32_t)v;
  return 1;
}

static char scenarioName[128];
static int scenarioOk;
static int inScenario;

static void EndScenario(void) {
  if (!inScenario) return;
  char what[200];
  snprintf(what, sizeof what, "scenario %s", scenarioName);
  Check(scenarioOk, what);
  inScenario = 0;
}

static int RunScenarios(const char* path) {
  FILE* f = fopen(path, "r");
  if (!f) {
    printf("cannot read %s\n", path);
    return 0;
  }
  char line[2048];
  int lineNumber = 0;
  int32_t last = -1;
  while (fgets(line, sizeof line, f)) {
    ++lineNumber;
    char* tokens[MAX_TOKENS];
    int count = 0;
    for (char* t = strtok(line, " \t\r\n"); t && count < MAX_TOKENS; t = strtok(NULL, " \t\r\n"))
      tokens[count++] = t;
    if (count == 0 || tokens[0][0] == '#') continue;
    const char* cmd = tokens[0];
    char a[PATH_MAX_LEN], b[PATH_MAX_LEN];
    int32_t n1, n2, n3;
    int bad = 0;
    if (strcmp(cmd, "scenario") == 0 && count == 2) {
      EndScenario();
      snprintf(scenarioName, sizeof scenarioName, "%s", tokens[1]);
      scenarioOk = 1;
      inScenario = 1;
      fprintf(transcript, "scenario %s\n", scenarioName);
    } else if (strcmp(cmd, "mkdir") == 0 && count == 2) {
      Expand(tokens[1], a, sizeof a);
      if (!MakeFolder(a)) {
        printf("  line %d: cannot create %s\n", lineNumber, a);
        scenarioOk = 0;
      }
    } else if (strcmp(cmd, "copy") == 0 && count == 3) {
      Expand(tokens[1], a, sizeof a);
      Expand(tokens[2], b, sizeof b);
      if (!CopyOne(a, b)) {
        printf("  line %d: cannot copy %s to %s\n", lineNumber, a, b);
        scenarioOk = 0;
      }
    } else if (strcmp(cmd, "init") == 0 && count == 4 && ParseInt(tokens[2], &n1) &&
               ParseInt(tokens[3], &n2)) {
      Expand(tokens[1], a, sizeof a);
      api.init(strcmp(a, "-") == 0 ? NULL : a, n1, n2);
      fprintf(transcript, "init %s %d %d\n", tokens[1], (int)n1, (int)n2);
    } else if (strcmp(cmd, "daycntl") == 0 && count == 2 && ParseInt(tokens[1], &n1)) {
      api.dayCntlTypeSet(n1);
      fprintf(transcript, "daycntl %d\n", (int)n1);
    } else if (strcmp(cmd, "inidelete") == 0 && count == 1) {
      last = api.iniFileDelete();
      fprintf(transcript, "inidelete -> %d\n", (int)last);
    } else if (strcmp(cmd, "proc") == 0 && count == 6 && ParseInt(tokens[3], &n1) &&
               ParseInt(tokens[4], &n2) && ParseInt(tokens[5], &n3)) {
      Expand(tokens[1], a, sizeof a);
      Expand(tokens[2], b, sizeof b);
      last = api.proc(strcmp(a, "-") == 0 ? NULL : a, strcmp(b, "-") == 0 ? NULL : b, n1, n2, n3);
      fprintf(transcript, "proc %s %s %d %d %d -> %d\n", tokens[1], tokens[2], (int)n1, (int)n2,
              (int)n3, (int)last);
    } else if (strcmp(cmd, "expect") == 0 && count == 2 && ParseInt(tokens[1], &n1)) {
      if (last != n1) {
        printf("  %s line %d: got %d, expected %d\n", scenarioName, lineNumber, (int)last,
               (int)n1);
        scenarioOk = 0;
      }
    } else {
      bad = 1;
    }
    if (bad) {
      printf("  line %d: cannot understand \"%s\"\n", lineNumber, cmd);
      scenarioOk = 0;
      if (!inScenario) ++failed;
    }
    fflush(transcript);
  }
  EndScenario();
  fclose(f);
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: %s LIBRARY SCENARIOS INPUT_ROOT OUTPUT_ROOT TRANSCRIPT\n", argv[0]);
    return 2;
  }
  setvbuf(stdout, NULL, _IONBF, 0);
  inputRoot = argv[3];
  outputRoot = argv[4];
  transcript = fopen(argv[5], "wb");
  if (!transcript) {
    printf("cannot write %s\n", argv[5]);
    return 2;
  }
  if (Load(argv[1])) {
    CheckMessages();
    RunScenarios(argv[2]);
    Unload();
  } else {
    ++failed;
  }
  fclose(transcript);
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
