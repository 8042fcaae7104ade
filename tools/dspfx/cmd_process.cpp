#include "chain_runner.h"
#include "commands.h"
#include "output_file.h"
#include "progress.h"
#include "wav.h"

namespace dspfx::tool {

int cmdProcess(Args args, const GlobalOptions& g) {
  const WriteOptions options = takeWriteOptions(args);
  if (args.size() < 2) {
    throw UsageError("usage: dspfx process IN OUT [EFFECT ...] [--bits N] [--float] [--no-dither]");
  }
  const std::string inPath = args[0], outPath = args[1];
  std::vector<EffectArg> effects;
  for (size_t i = 2; i < args.size(); ++i) effects.push_back(parseEffect(args[i], effectTable()));
  if (sameFile(inPath, outPath)) throw UsageError(outPath + ": the output must not be the input file");

  // A fade-out is placed against the end, so a pipe's length must be known.
  bool needLength = false;
  for (const EffectArg& e : effects) needLength = needLength || (std::string(e.info->name) == "fade" && e["out"] > 0);
  SoundReader reader(inPath, needLength);
  const Encoding encoding = outputEncoding(outPath, reader.encoding(), options);
  std::unique_ptr<SoundWriter> writer;
  ChainRunner runner({reader.format(), reader.frames(), reader.lengthKnown()}, g.blockFrames, effects,
                     [&](const float* frames, uint32_t n) { writer->write(frames, n); });
  // Dither only where quantising loses something: a chain that only cuts
  // or reorders 16-bit samples writes them back exactly.
  const bool finer = integerBits(reader.encoding()) == 0 || integerBits(reader.encoding()) > integerBits(encoding);
  writer = std::make_unique<SoundWriter>(outPath, runner.out().format, encoding,
                                         options.dither && (runner.altersSamples() || finer));
  Progress progress("process", reader.lengthKnown() ? reader.frames() : 0, g.quiet);
  std::vector<float> in(size_t{g.blockFrames} * reader.format().channels);
  uint64_t done = 0;
  while (const uint32_t frames = reader.read(in.data(), g.blockFrames)) {
    runner.put(in.data(), frames);
    done += frames;
    progress.update(done);
  }
  runner.finish();
  writer->close();
  return 0;
}

}  // namespace dspfx::tool
