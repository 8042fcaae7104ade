#include "core/last_error.h"

namespace dspfx {

const char* errorString(int32_t code) noexcept {
  switch (code) {
    case kErrorNone: return "no error";
    case kErrorBadHandle: return "null, destroyed or unknown handle";
    case kErrorWrongFamily: return "handle of another kind or effect family";
    case kErrorBadArgument: return "argument out of range, missing buffer or block the object cannot take";
    case kErrorNoMemory: return "out of memory";
    case kErrorChainOwned: return "effect owned by a chain";
    case kErrorFile: return "file cannot be opened, read, written or understood";
    case kErrorInternal: return "internal failure";
    default: return "unknown error code";
  }
}

}  // namespace dspfx
