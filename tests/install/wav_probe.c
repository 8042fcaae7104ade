/*
 * Writes the test signal for the install test and checks what the examples
 * made of it, through the library's wave file functions:
 *
 *   wav_probe write FILE RATE CHANNELS FRAMES
 *       a 440 Hz sine at half scale on every channel
 *   wav_probe check FILE RATE CHANNELS MINFRAMES MAXFRAMES
 *       16-bit PCM at RATE Hz with CHANNELS channels and a frame count in
 *       range, whose first channel still carries 440 Hz
 */
#include <dspfx/dspfx.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define TONE_HZ 440.0

static int writeTone(const char* name, uint32_t rate, uint32_t channels, uint32_t frames) {
  WavefileFormat format = {1, (uint16_t)channels, rate, rate * 2u * channels,
                           (uint16_t)(2u * channels), 16, 0};
  WavefileOut* writer = initWavefileOut(name, &format);
  if (!writer) {
    fprintf(stderr, "%s: cannot be created\n", name);
    return 1;
  }
  int16_t frame[2];
  const double pi = 3.14159265358979323846;
  for (uint32_t i = 0; i < frames; ++i) {
    const double s = 16384.0 * sin(2.0 * pi * TONE_HZ * i / rate);
    frame[0] = frame[1] = (int16_t)s;
    writeWavefileOut(writer, frame, (int32_t)(2u * channels));
  }
  if (termWavefileOut(writer) != frames * 2u * channels) {
    fprintf(stderr, "%s: short write\n", name);
    return 1;
  }
  return 0;
}

static int checkFile(const char* name, uint32_t rate, uint32_t channels, uint32_t minFrames,
                     uint32_t maxFrames) {
  WavefileIn* reader = initWavefileIn(name, 0);
  if (!reader) {
    fprintf(stderr, "%s: missing or not a WAV file\n", name);
    return 1;
  }
  const WavefileFormat* f = getFormatWavefileIn(reader);
  const uint32_t frames = getHeaderWavefileIn(reader)->dataBytes / (2u * f->channels);
  int bad = f->formatTag != 1 || f->bitsPerSample != 16 || f->samplesPerSec != rate ||
            f->channels != channels || frames < minFrames || frames > maxFrames;
  if (bad) {
    fprintf(stderr,
            "%s: format %u, %u bits, %u Hz, %u channels, %u frames; expected 16-bit PCM, %u Hz,"
            " %u channels, %u ... %u frames\n",
            name, f->formatTag, f->bitsPerSample, f->samplesPerSec, f->channels, frames, rate,
            channels, minFrames, maxFrames);
    termWavefileIn(reader);
    return 1;
  }

  int16_t* pcm = malloc((size_t)frames * 2u * channels + 1);
  const int32_t got = pcm ? readWavefileIn(reader, pcm, frames) : -1;
  termWavefileIn(reader);
  if (got != (int32_t)(frames * 2u * channels)) {
    fprintf(stderr, "%s: read %d bytes of %u\n", name, got, frames * 2u * channels);
    free(pcm);
    return 1;
  }
  /* Counted from 0.1 s on, past the filters' start-up. Sign changes of a
   * tone come at twice its frequency; the chorus sweep moves the pitch by
   * under 2 %, and a wrong rate in the header would move it by the ratio of
   * the rates (8.8 % or more here), so 5 % tells them apart. */
  const uint32_t skip = rate / 10;
  uint32_t changes = 0;
  int16_t peak = 0;
  for (uint32_t i = skip + 1; i < frames; ++i) {
    const int16_t a = pcm[(size_t)(i - 1) * channels], b = pcm[(size_t)i * channels];
    if ((a < 0) != (b < 0)) ++changes;
    if (b > peak) peak = b;
  }
  free(pcm);
  const double seconds = (double)(frames - skip - 1) / rate;
  const double hz = seconds > 0 ? changes / (2.0 * seconds) : 0.0;
  if (fabs(hz - TONE_HZ) > 0.05 * TONE_HZ || peak < 4096) {
    fprintf(stderr, "%s: first channel at %.1f Hz with peak %d; expected %.0f Hz, peak >= 4096\n",
            name, hz, peak, TONE_HZ);
    return 1;
  }
  printf("%s: %u Hz, %u channels, %u frames, tone at %.1f Hz\n", name, rate, channels, frames, hz);
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 6 && strcmp(argv[1], "write") == 0) {
    return writeTone(argv[2], (uint32_t)atoi(argv[3]), (uint32_t)atoi(argv[4]),
                     (uint32_t)atoi(argv[5]));
  }
  if (argc == 7 && strcmp(argv[1], "check") == 0) {
    return checkFile(argv[2], (uint32_t)atoi(argv[3]), (uint32_t)atoi(argv[4]),
                     (uint32_t)atoi(argv[5]), (uint32_t)atoi(argv[6]));
  }
  fprintf(stderr, "usage: wav_probe write FILE RATE CHANNELS FRAMES\n"
                  "       wav_probe check FILE RATE CHANNELS MINFRAMES MAXFRAMES\n");
  return 2;
}
