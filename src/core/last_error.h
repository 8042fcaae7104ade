#pragma once
#include <cstdint>

namespace dspfx {

// The codes behind dspGetLastError; the header spells them DSP_ERROR_*.
enum ErrorCode : int32_t {
  kErrorNone = 0,
  kErrorBadHandle = 1,
  kErrorWrongFamily = 2,
  kErrorBadArgument = 3,
  kErrorNoMemory = 4,
  kErrorChainOwned = 5,
  kErrorFile = 6,
  kErrorInternal = 7,
};

// Per thread, so a host's threads never see each other's failures.
void setLastError(int32_t code) noexcept;
int32_t lastError() noexcept;
// Allocators note a failure here, so that a call which then fails can tell
// no memory from a refused argument.
void noteAllocationFailure() noexcept;
bool allocationFailed() noexcept;
// Starts a call: no error, no failed allocation.
void clearCallState() noexcept;

const char* errorString(int32_t code) noexcept;

}  // namespace dspfx
