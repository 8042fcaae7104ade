#include "core/sample_convert.h"

// Placeholder until the SIMD forms land: both forms run the scalar kernels.
namespace dspfx {
const ConvertKernels kSseKernels = kScalarKernels;
const ConvertKernels kAmd3dnowKernels = kScalarKernels;
}  // namespace dspfx
