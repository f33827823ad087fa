// Test seam of the platform layer: makes chosen calls fail and replaces the
// clock. Compiled in only when RAVELO_FAULT_INJECTION is 1 (the engine built
// for the tests); the released library has none of it.
#pragma once

#include <cstdint>

#ifndef RAVELO_FAULT_INJECTION
#define RAVELO_FAULT_INJECTION 0
#endif

namespace ravelo::platform::fault {

// Every operation of platform.h that can fail, one counter each.
enum class Op {
  kOpenRead,
  kCreate,
  kRead,
  kWrite,
  kSeek,
  kFlush,
  kPathKind,  // a failure reads as "nothing there"
  kFolderCreate,
  kRemove,
  kRenameReplace,
  kFolderFlush,
  kIsHeld,        // a failure reads as "held by another program"
  kProfileRead,   // ProfileGetInt / ProfileGetString / ProfileFindNumberedKey: fail as a
                  // missing file
  kProfileWrite,
  kCount
};

#if RAVELO_FAULT_INJECTION

// Forgets every armed fault and counter, restores the real sleep.
void Reset();

// The nth call (1-based, counted from the last Reset) of any operation above
// fails.
void FailNthCall(uint64_t n);

// The process dies by SIGKILL at the start of the nth call (1-based) of any
// operation above, before the call does anything: a crash at that point.
void KillAtCall(uint64_t n);

// The nth call (1-based) of op fails. For kRead and kWrite, partialBytes >= 0
// makes the failing call report that many bytes done (a read that fails after
// delivering bytes, a short write); -1 reports none.
void FailOp(Op op, uint64_t nth, int32_t partialBytes = -1);

// Every call of op fails from now on (until Reset).
void FailOpAlways(Op op);

// Calls made since Reset, in all and of one operation.
uint64_t CallCount();
uint64_t CallCount(Op op);

// Replaces SleepMilliseconds; nullptr restores the real one.
using SleepHook = void (*)(uint32_t ms);
void SetSleepHook(SleepHook hook);

// Called with the system path between the open of a file by name and the
// taking of its lock (before a delete or rename, also of a file in the way
// of FileCreateFresh), so that a test can rename or release the file right
// there; nullptr for none.
using OpenedHook = void (*)(const char* systemPath);
void SetOpenedHook(OpenedHook hook);
OpenedHook ActiveOpenedHook();

// Called with each operation as it is counted, before it may fail, so that a
// test can see the order of the calls; nullptr for none.
using CallHook = void (*)(Op op);
void SetCallHook(CallHook hook);

// Called by the platform implementation at the top of each operation: counts
// the call and tells whether it must fail (*partialBytes gets the armed
// partial count, or -1).
bool ShouldFail(Op op, int32_t* partialBytes = nullptr);
SleepHook ActiveSleepHook();

#endif

// ---- The seam as the platform implementations reach it --------------------
// A fault point: `if (fault::Injected(fault::Op::kRead, &partial)) ...` at the
// top of an operation. In the released library it is always false.
// SleptByHook hands a wait to the test's sleep hook, and NotifyOpened a file
// opened by name to its opened hook; without the seam they do nothing.
#if RAVELO_FAULT_INJECTION
inline bool Injected(Op op, int32_t* partialBytes = nullptr) {
  return ShouldFail(op, partialBytes);
}
inline bool SleptByHook(uint32_t ms) {
  SleepHook hook = ActiveSleepHook();
  if (hook == nullptr) return false;
  hook(ms);
  return true;
}
inline void NotifyOpened(const char* systemPath) {
  if (OpenedHook hook = ActiveOpenedHook()) hook(systemPath);
}
#else
constexpr bool Injected(Op, int32_t* = nullptr) { return false; }
constexpr bool SleptByHook(uint32_t) { return false; }
inline void NotifyOpened(const char*) {}
#endif

}  // namespace ravelo::platform::fault
