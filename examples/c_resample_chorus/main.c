/*
 * Converts a 16-bit PCM WAV file to another sample rate and adds a chorus:
 *
 *   c_resample_chorus IN.wav OUT.wav [RATE]     (RATE in Hz, default 48000)
 *
 * The file is read and written with the library's own wave file functions,
 * one block of input at a time; nothing is held in memory beyond two blocks.
 */
#include <dspfx/dspfx.h>

#include <stdio.h>
#include <stdlib.h>

/* The resampler restarts its interpolation every 4096 input frames, so
 * blocks of that size give the smoothest result. */
#define BLOCK_FRAMES 4096u

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    fprintf(stderr, "usage: %s IN.wav OUT.wav [RATE]\n", argv[0]);
    return 2;
  }
  const char* inName = argv[1];
  const char* outName = argv[2];
  const unsigned long dstRate = argc == 4 ? strtoul(argv[3], NULL, 10) : 48000ul;
  if (dstRate < 1000ul || dstRate > 384000ul) {
    fprintf(stderr, "%s: rate must be 1000 ... 384000 Hz\n", argc == 4 ? argv[3] : "");
    return 2;
  }

  int status = 1;
  DspEffect* resampler = NULL;
  DspEffect* chorus = NULL;
  WavefileOut* writer = NULL;
  int16_t* block = NULL;

  WavefileIn* reader = initWavefileIn(inName, BLOCK_FRAMES);
  if (!reader) {
    fprintf(stderr, "%s: cannot be read as a WAV file\n", inName);
    return 1;
  }
  const WavefileFormat* format = getFormatWavefileIn(reader);
  WavefileInHeader* header = getHeaderWavefileIn(reader);
  const uint32_t channels = format->channels;
  const uint32_t srcRate = format->samplesPerSec;
  const uint32_t frameBytes = 2u * channels;
  if (format->formatTag != 1 || format->bitsPerSample != 16 || channels > 2) {
    fprintf(stderr, "%s: only 16-bit PCM with one or two channels is handled\n", inName);
    goto done;
  }

  /* Cubic interpolation; the anti-alias low-pass reaches 60 dB at half the
   * lower rate, falling 60 dB per octave towards it. */
  resampler = initResampler(BLOCK_FRAMES, channels, channels, srcRate, (uint32_t)dstRate, 1,
                            60.0f, 60.0f, 1);
  const uint32_t outFrames = resampler ? getResamplerDstSize(resampler, BLOCK_FRAMES) : 0;
  /* Three voices 20 ms +- 5 ms behind the dry signal, one sweep per 2 s. */
  chorus = outFrames ? initChorus(outFrames, channels, (uint32_t)dstRate, 3, 20.0f, 5.0f, 2.0f,
                                  25.0f, 70.0f)
                     : NULL;
  block = malloc((size_t)(outFrames ? outFrames : 1) * frameBytes);
  if (!resampler || !chorus || !block) {
    fprintf(stderr, "%s: cannot set up the effects for %u Hz -> %lu Hz\n", inName, srcRate, dstRate);
    goto done;
  }

  WavefileFormat outFormat = *format;
  outFormat.samplesPerSec = (uint32_t)dstRate;
  outFormat.blockAlign = (uint16_t)frameBytes;
  outFormat.avgBytesPerSec = (uint32_t)dstRate * frameBytes;
  outFormat.extraSize = 0;
  writer = initWavefileOut(outName, &outFormat);
  if (!writer) {
    fprintf(stderr, "%s: cannot be created\n", outName);
    goto done;
  }

  /* Reads run on past the "data" chunk, so the count of bytes it declares
   * is what ends the loop. */
  uint32_t left = header->dataBytes;
  uint32_t written = 0;
  while (left >= frameBytes) {
    const int32_t got = readWavefileIn(reader, NULL, BLOCK_FRAMES);
    if (got < 0) {
      fprintf(stderr, "%s: read error\n", inName);
      goto done;
    }
    if (got == 0) break;
    uint32_t bytes = (uint32_t)got < left ? (uint32_t)got : left;
    left -= bytes;
    bytes -= bytes % frameBytes;
    const uint32_t outBytes = doResampler(resampler, (const int16_t*)header->buffer, block, bytes);
    if (outBytes == 0) continue; /* a block too short to give one output frame */
    if (!doChorus(chorus, block, block, outBytes) ||
        writeWavefileOut(writer, block, (int32_t)outBytes) != (int32_t)outBytes) {
      fprintf(stderr, "%s: write error\n", outName);
      goto done;
    }
    written += outBytes;
  }

  const uint32_t recorded = termWavefileOut(writer);
  writer = NULL;
  if (recorded != written) {
    fprintf(stderr, "%s: could not be finished\n", outName);
    goto done;
  }
  printf("%s: %u frames at %u Hz -> %s: %u frames at %lu Hz\n", inName,
         header->dataBytes / frameBytes, srcRate, outName, written / frameBytes, dstRate);
  status = 0;

done:
  if (writer) termWavefileOut(writer);
  free(block);
  termChorus(chorus);
  termResampler(resampler);
  termWavefileIn(reader);
  return status;
}
