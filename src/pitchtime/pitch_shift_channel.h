#pragma once
#include <array>
#include <cstdint>
#include <memory>

#include "pitchtime/grain_channel.h"
#include "dsp/biquad_cascade.h"

namespace dspfx {

// What a pitch change alters; held pending until the piece in progress ends.
struct PitchParams {
  bool bypass = false;
  // Input frames replayed per output frame: 2^(cents / 1200).
  float ratio = 1.0f;
  // Where a new grain starts reading, relative to the frame it starts at;
  // negative when the pitch goes up so a faster grain never overtakes the
  // input that has arrived.
  int32_t startOffset = 0;
};

// Granular pitch shifter for one channel: grains of N output frames replay
// the input at the pitch ratio, read between samples by linear or cubic
// interpolation, with an optional order-10 Chebyshev low-pass against
// aliasing (before the grains going up, after them going down).
class PitchShiftChannel : public GrainChannel<PitchGrainSlot, PitchParams> {
 public:
  static constexpr int32_t kFilterOrder = 10;
  // Longest grain whose phases get a table (40 bytes a frame); longer grains
  // interpolate every frame from scratch.
  static constexpr uint32_t kMaxTableFrames = 1u << 16;

  // Builds (or rebuilds, resetting grains and history) the shifter. False
  // with allocated false when the grain or hop is below one frame or memory
  // cannot be had.
  bool build(uint32_t sampleRate, float pitch, float outLevelDb, float grainTime, float hopTime,
             uint32_t interpolationMode, bool antiAliasOn);

  // Cents, clamped to -1200 .. 1200; exactly 0 passes the input through.
  // Writes the pending parameters: the filter follows from the next piece,
  // the grains from the one after.
  void setPitch(float pitch);
  void setOutLevel(float outLevelDb);

  // Takes over other's grains, history, filter and pending pitch; both must
  // have been built with the same rate, grain and hop.
  void followState(const PitchShiftChannel& other);

  // The end of a piece that another engine ran: the pending parameters take
  // over, as after a piece of the grains.
  void adoptPending();

  // Shifts frames frames from in to out (distinct buffers) in pieces.
  uint32_t process(const float* in, float* out, uint32_t frames);

  float pendingPitch = 0.0f;
  ChebyshevCascade filter;
  bool redesignPending = false;
  // 0: linear; anything else: four-point cubic.
  uint32_t interpolation = 0;
  bool antiAlias = false;
  // The filtered input of one piece when the pitch goes up.
  std::array<float, kMaxPieceFrames> scratch{};

 private:
  // Grains that start at read offset 0 under one ratio all pass through the
  // same offsets, so what depends on the offset alone is worked out once per
  // phase: the offset, the tap the interpolation is anchored at and the
  // weights (cubic) or fraction (linear). With an integer position and an
  // offset of 0 or at least 1/2, position plus offset is exact in double,
  // so these are bit for bit what the grain would compute itself. A grain is
  // on the table while its offset equals the table's at its phase; pre-rolled
  // grains and grains that lived through a change of ratio are not.
  struct PhaseTable {
    bool allocate(uint32_t frames);
    void fill(float ratio, uint32_t frames, uint32_t interpolation);

    uint32_t capacity = 0;
    bool valid = false;
    float ratio = 0.0f;
    // offset[p]: the read offset at phase p, p = 0 .. N.
    std::unique_ptr<float[]> offset;
    // anchor[p]: floor(offset - 2) (cubic) or floor(offset - 1) (linear).
    std::unique_ptr<int32_t[]> anchor;
    // weight[i][p]: cubic weights of the taps anchor - 1 .. anchor + 2;
    // weight[0] is the linear fraction.
    std::unique_ptr<double[]> weight[4];
  };

  void applyPitch(float pitch);
  void processPiece(const float* in, float* out, uint32_t n);
  // The grain engine over one piece of n frames.
  void runGrains(const float* in, float* out, uint32_t n);
  // Adds up the listed grains over one run of output frames.
  void mixGrains(const PieceSource& src, float* out, uint32_t frames, const uint32_t* list,
                 uint32_t count);
  // One grain's contribution to frames of sums through the phase table;
  // false when the grain is not on the table or its taps are not in one span.
  bool mixFromTable(const PieceSource& src, const PitchGrainSlot& g, uint32_t phase,
                    uint32_t frames, double* sum, double* weight) const;
  // Input at fractional position x of the current piece.
  double inputAt(const float* in, uint32_t n, double x) const;

  PhaseTable table_;
};

}  // namespace dspfx
