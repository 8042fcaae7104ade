#pragma once

namespace dspfx {

// Root of every class that owns buffers.
class DspObject {
 public:
  DspObject() = default;
  virtual ~DspObject() = default;
  DspObject(const DspObject&) = delete;
  DspObject& operator=(const DspObject&) = delete;

  bool allocated = false;
};

}  // namespace dspfx
