// Test seam of the platform layer (see fault.h). Only the engine built for
// the tests has it; the released library compiles this file to nothing.
#include "platform/fault.h"

#include <csignal>

#if RAVELO_FAULT_INJECTION

namespace ravelo::platform::fault {
namespace {

constexpr int kOpCount = static_cast<int>(Op::kCount);

struct ArmedOp {
  uint64_t nth;          // 0: not armed
  int32_t partialBytes;  // -1: none
  bool always;
};

struct State {
  uint64_t calls;
  uint64_t failNthCall;  // 0: not armed
  uint64_t killAtCall;   // 0: not armed
  uint64_t opCalls[kOpCount];
  ArmedOp armed[kOpCount];
  SleepHook sleepHook;
  OpenedHook openedHook;
  CallHook callHook;
};

State state = {};

void Clear() {
  state = State{};
  for (ArmedOp& a : state.armed) a.partialBytes = -1;
}

bool ValidOp(Op op) {
  int i = static_cast<int>(op);
  return i >= 0 && i < kOpCount;
}

}  // namespace

// Read through SleptByHook (fault.h).
SleepHook ActiveSleepHook() { return state.sleepHook; }

void Reset() { Clear(); }

void FailNthCall(uint64_t n) { state.failNthCall = n; }

void KillAtCall(uint64_t n) { state.killAtCall = n; }

void FailOp(Op op, uint64_t nth, int32_t partialBytes) {
  if (!ValidOp(op)) return;
  ArmedOp& a = state.armed[static_cast<int>(op)];
  a.nth = nth;
  a.partialBytes = partialBytes < 0 ? -1 : partialBytes;
}

void FailOpAlways(Op op) {
  if (!ValidOp(op)) return;
  state.armed[static_cast<int>(op)].always = true;
}

uint64_t CallCount() { return state.calls; }

uint64_t CallCount(Op op) { return ValidOp(op) ? state.opCalls[static_cast<int>(op)] : 0; }

void SetSleepHook(SleepHook hook) { state.sleepHook = hook; }

void SetOpenedHook(OpenedHook hook) { state.openedHook = hook; }

OpenedHook ActiveOpenedHook() { return state.openedHook; }

void SetCallHook(CallHook hook) { state.callHook = hook; }

bool ShouldFail(Op op, int32_t* partialBytes) {
  if (partialBytes != nullptr) *partialBytes = -1;
  if (!ValidOp(op)) return false;
  const int i = static_cast<int>(op);
  const uint64_t call = ++state.calls;
  const uint64_t opCall = ++state.opCalls[i];
  if (state.callHook != nullptr) state.callHook(op);
  if (state.killAtCall != 0 && call == state.killAtCall) std::raise(SIGKILL);
  const ArmedOp& a = state.armed[i];
  if (a.nth != 0 && opCall == a.nth) {
    if (partialBytes != nullptr) *partialBytes = a.partialBytes;
    return true;
  }
  return a.always || (state.failNthCall != 0 && call == state.failNthCall);
}

}  // namespace ravelo::platform::fault

#endif  // RAVELO_FAULT_INJECTION
