#include "chain_runner.h"
#include "commands.h"
#include "output_file.h"
#include "progress.h"

namespace dspfx::tool {

int cmdProcess(Args args, const GlobalOptions& g) {
  if (args.size() < 3) throw UsageError("usage: dspfx process IN.wav OUT.wav EFFECT [EFFECT ...]");
  const std::string inPath = args[0], outPath = args[1];
  std::vector<EffectArg> effects;
  for (size_t i = 2; i < args.size(); ++i) effects.push_back(parseEffect(args[i], effectTable()));
  if (sameFile(inPath, outPath)) throw UsageError(outPath + ": the output must not be the input file");

  WavReader reader(inPath, g.blockFrames);
  ChainRunner runner(reader.format(), g.blockFrames, reader.frames(), effects);
  std::vector<int16_t> in(size_t{g.blockFrames} * reader.format().channels);
  OutputFile output(outPath);
  WavWriter writer(output.tempPath(), runner.outFormat());
  Progress progress("process", reader.frames(), g.quiet);
  uint64_t done = 0;
  while (const uint32_t frames = reader.read(in.data(), g.blockFrames)) {
    uint32_t produced = 0;
    const int16_t* out = runner.run(in.data(), frames, produced);
    writer.write(out, produced);
    done += frames;
    progress.update(done);
  }
  writer.close();
  output.commit();
  return 0;
}

}  // namespace dspfx::tool
