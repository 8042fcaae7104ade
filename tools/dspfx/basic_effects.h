#pragma once
// The effects the tool runs itself, between library effects: level, cuts,
// channel layout and order in time. Each is made for the stream that
// reaches it and says what it passes on.
#include <memory>
#include <string>

#include "cli.h"
#include "stage.h"

namespace dspfx::tool {

bool isBasicEffect(const std::string& name);
// A new stage for the effect; info becomes what it passes on. Throws
// UsageError when the effect cannot take this stream.
std::unique_ptr<Stage> makeBasicStage(const EffectArg& arg, StreamInfo& info);
// Whether the stage leaves every sample value as it was (cuts, order and
// copies only), so that quantising its output needs no dither.
bool keepsSampleValues(const EffectArg& arg, const StreamInfo& in);

// Multiplies a fade's first fadeIn and last fadeOut frames by a straight
// ramp from (and to) zero, so a fade starts and ends in digital silence.
std::unique_ptr<Stage> makeFadeEdges(const StreamInfo& info, uint64_t fadeIn, uint64_t fadeOut);

}  // namespace dspfx::tool
