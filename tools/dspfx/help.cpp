#include "help.h"

namespace dspfx::tool {

const char* const kGlobalOptionsText =
    "Options every command takes, anywhere on the line:\n"
    "  --block FRAMES   frames per processing block, 16 ... 1048576 (default 4096)\n"
    "  --simd FORM      off, sse or 3dnow: the processor forms of the inner loops (default sse)\n"
    "  --quiet, -q      no progress line\n"
    "  --help, -h       this page\n"
    "Numbers take a k for thousands: 2k is 2000, 1.5k is 1500.\n";

const std::vector<const char*> kGlobalOptions = {"--block FRAMES", "--simd FORM", "--quiet", "-q", "--help", "-h"};

const std::vector<CommandHelp>& commandHelp() {
  static const std::vector<CommandHelp> table = {
      {"info", "FILE", "format, duration, peak and RMS per channel",
       "Prints the file's format, its length in seconds and frames, and for each\n"
       "channel the peak and RMS level in dBFS (0 dBFS is full scale).\n"
       "\n"
       "Example:\n"
       "  dspfx info song.wav\n",
       {}},
      {"process", "IN OUT EFFECT [EFFECT ...]", "run effects in order as one chain",
       "Runs IN through the effects in the order given, as one processing chain, block\n"
       "by block in constant memory, and writes OUT. Each EFFECT is a name, or\n"
       "name:key=value,key=value with the keys of that effect; a key left out keeps\n"
       "its default. Every value is checked against its range before anything runs;\n"
       "a key given twice, an empty item (a stray or trailing comma) and an unknown\n"
       "key are refused. 'dspfx help effects' lists every effect and key.\n"
       "\n"
       "IN and OUT may be WAV, FLAC, AIFF or Ogg Vorbis files, or - for standard input\n"
       "or output (a WAV stream). OUT is written under a temporary name beside it and\n"
       "moved into place only when complete, so a failed run leaves an existing OUT\n"
       "untouched. OUT may not be IN.\n"
       "\n"
       "Options:\n"
       "  --bits N        write N-bit PCM (8, 16, 24 or 32); default: as the input\n"
       "  --float         write float samples, 32-bit (or 64 with --bits 64)\n"
       "  --no-dither     no TPDF dither; by default output of 16 bits or fewer is\n"
       "                  dithered (digital silence stays silent)\n"
       "Samples beyond full scale are clipped and counted on standard error.\n"
       "\n"
       "Examples:\n"
       "  dspfx process in.wav out.wav resample:rate=48k eq:low=4,high=-3 fade:in=0.5,out=2\n"
       "  dspfx process in.wav slow.wav stretch:ratio=1.5\n"
       "  dspfx process in.wav up.wav pitch:semitones=3 chorus:voices=3,depth=4\n",
       {"--bits N", "--float", "--no-dither"}},
      {"crossfade", "A B OUT --at SECONDS --length SECONDS [--curve a,b,c,d]",
       "A, then an overlap fading from A to B, then the rest of B",
       "OUT plays A up to --at, then both files over --length seconds while the mix\n"
       "moves from A alone to B alone, then the rest of B. A and B need the same\n"
       "sample rate and channel count.\n"
       "\n"
       "Options:\n"
       "  --at SECONDS      where in A the overlap starts (required)\n"
       "  --length SECONDS  how long the overlap lasts (required)\n"
       "  --curve a,b,c,d   the cross-fade law (default -1,-40,0.05,0.8). Across the\n"
       "                    overlap the mix moves evenly from A alone (+1) through the\n"
       "                    middle (0) to B alone (-1); c and d are distances from the\n"
       "                    middle, 0 ... 1:\n"
       "                      a  level of both files at the middle, dB\n"
       "                      c  past this distance the louder file plays at 0 dB\n"
       "                      b  level of the quieter file at distance d, dB; beyond d\n"
       "                         it is silent\n"
       "                    a and b lie in -50 ... 50 dB. With the defaults both play at\n"
       "                    -1 dB halfway, the incoming file is at 0 dB from 52.5 % of\n"
       "                    the overlap, and the outgoing one falls to -40 dB at 90 %.\n"
       "  --bits N, --float, --no-dither\n"
       "                    the output's samples, as for process\n"
       "\n"
       "Example:\n"
       "  dspfx crossfade a.wav b.wav out.wav --at 10 --length 4\n",
       {"--at SECONDS", "--length SECONDS", "--curve a,b,c,d", "--bits N", "--float", "--no-dither"}},
      {"spectrogram", "IN [--png FILE] [--csv FILE] [--fft N] [--log] [--range DB] ...",
       "levels over time and frequency, as a picture or a table",
       "Sliding spectra of IN: a Hann window of --fft frames every --fft/4 frames,\n"
       "the first centred on the start of the file and the last at or past its end.\n"
       "Levels are in dBFS: a full-scale sine reads 0 dBFS. The channels are analysed\n"
       "apart and averaged by power, in the picture and the table alike, so a\n"
       "full-scale sine in every channel reads 0 dBFS and one in only one of two\n"
       "channels reads -3 dBFS. 'spectrum' is another name for this command.\n"
       "\n"
       "The picture has time across, frequency up and level as colour, with a colour\n"
       "bar giving the dB scale. Each pixel shows the loudest spectrum value it\n"
       "covers, so narrow tones and short events keep their level in a long file.\n"
       "Memory stays the same whatever the length of the file.\n"
       "\n"
       "Options:\n"
       "  --png FILE        write the picture (PNG)\n"
       "  --csv FILE        write the spectra: a time_s column (window centre, s), then\n"
       "                    one column per bin from --min-freq to --max-freq, headed by\n"
       "                    its frequency in Hz, values in dBFS\n"
       "  --fft N           window length, a power of two 16 ... 32768 (default 2048)\n"
       "  --log             logarithmic frequency axis (from 20 Hz unless --min-freq)\n"
       "  --range DB        dynamic range shown, 10 ... 200 dB below 0 dBFS (default 100)\n"
       "  --min-freq HZ     lowest frequency shown and written (default 0, or 20 with --log)\n"
       "  --max-freq HZ     highest frequency shown and written (default half the rate)\n"
       "  --width PIXELS    picture width, 320 ... 8000 (default 1200)\n"
       "  --height PIXELS   picture height, 200 ... 8000 (default 600)\n"
       "Without --png or --csv it prints the number of spectra and the loudest value.\n"
       "\n"
       "Examples:\n"
       "  dspfx spectrogram in.wav --png spec.png\n"
       "  dspfx spectrogram in.wav --log --max-freq 8k --range 80 --png voice.png\n"
       "  dspfx spectrogram in.wav --fft 4096 --csv spec.csv\n",
       {"--png FILE", "--csv FILE", "--fft N", "--log", "--range DB", "--min-freq HZ", "--max-freq HZ",
        "--width PIXELS", "--height PIXELS"}},
      {"envelope", "IN [--png FILE] [--csv FILE] [--rate N] [--db] [--range DB] ...",
       "level over time, as a picture or a table",
       "Follows the level of each channel of IN: the peak over the last millisecond,\n"
       "smoothed by a 33 Hz low-pass, as a share of full scale (1 = 0 dBFS). Channels\n"
       "are shown apart. Memory stays the same whatever the length of the file.\n"
       "\n"
       "Options:\n"
       "  --png FILE       write the picture (PNG): one trace per channel\n"
       "  --csv FILE       write a time_s column (start of the row, s) and one column\n"
       "                   per channel (level, or left and right); each row holds the\n"
       "                   peak of the envelope over its stretch of time\n"
       "  --rate N         rows per second in the CSV, up to the sample rate\n"
       "                   (default 100)\n"
       "  --db             levels in dBFS: a dB axis in the picture, dB values in the\n"
       "                   CSV (-inf for digital silence); default linear\n"
       "  --range DB       with --db, the picture shows 0 down to -DB dBFS, 10 ... 200\n"
       "                   (default 60)\n"
       "  --width PIXELS   picture width, 320 ... 8000 (default 1200)\n"
       "  --height PIXELS  picture height, 200 ... 8000 (default 400)\n"
       "Without --png or --csv it prints the envelope's peak per channel.\n"
       "\n"
       "Examples:\n"
       "  dspfx envelope in.wav --png env.png --db\n"
       "  dspfx envelope in.wav --csv env.csv --rate 20\n",
       {"--png FILE", "--csv FILE", "--rate N", "--db", "--range DB", "--width PIXELS", "--height PIXELS"}},
      {"slices", "IN [--open DB|auto] [--close DB] [--rise PERCENT|auto] [--min SECONDS] ...",
       "find the attacks in IN and list or export the slices between them",
       "Follows the level of IN (channels mixed to mono) and opens a slice where it\n"
       "rises steeply enough from a valley above the opening level, closes it when the\n"
       "level falls below the closing level, and cuts a slice in two where a new\n"
       "attack comes while one is open.\n"
       "\n"
       "Options:\n"
       "  --open DB|auto    opening level in dBFS, at most 0; auto (the default) puts\n"
       "                    it 20 dB below the peak of the file's mono mix, so quiet\n"
       "                    and loud recordings slice alike\n"
       "  --close DB        closing level in dBFS, at most 0 (default 15 dB below the\n"
       "                    opening level)\n"
       "  --rise PERCENT|auto\n"
       "                    how steep a rise counts as an attack, in percent of full\n"
       "                    scale, 0 ... 100; auto (the default) is 30 % of the file's\n"
       "                    peak, so the slow beating of a held chord is no attack\n"
       "  --min SECONDS     shortest slice, 0 ... 3600 (default 0.05)\n"
       "  --json            print the slices as JSON\n"
       "  --csv             print the slices as CSV: index,start_s,end_s\n"
       "  --split DIR       also write each slice as DIR/slice_NNN, in the input's format\n"
       "\n"
       "Examples:\n"
       "  dspfx slices drums.wav\n"
       "  dspfx slices drums.wav --open -30 --close -45 --json --split slices/\n",
       {"--open DB", "--close DB", "--rise PERCENT", "--min SECONDS", "--json", "--csv", "--split DIR"}},
      {"demo", "[--out DIR]", "run every effect on a built-in test piece",
       "Synthesises eight seconds of a stereo test piece (percussive hits, a chord, a\n"
       "sweep and a quiet passage), runs it through every effect family and writes the\n"
       "results, spectrograms and an envelope with the slices found into DIR, with a\n"
       "table of levels and speeds on standard output.\n"
       "\n"
       "Options:\n"
       "  --out DIR   where to write (default ./dspfx-demo)\n",
       {"--out DIR"}},
      {"help", "[COMMAND | EFFECT | effects]", "more about a command or an effect",
       "'dspfx help' gives the overview, 'dspfx help COMMAND' (or 'dspfx COMMAND\n"
       "--help') a command's page, 'dspfx help EFFECT' one effect's keys and\n"
       "'dspfx help effects' every effect with its keys.\n",
       {}},
  };
  return table;
}

const CommandHelp* findCommand(const std::string& name) {
  const std::string wanted = name == "spectrum" ? "spectrogram" : name;
  for (const CommandHelp& c : commandHelp()) {
    if (wanted == c.name) return &c;
  }
  return nullptr;
}

std::string overviewText() {
  std::string out = "usage: dspfx COMMAND [ARGS] [--block FRAMES] [--simd off|sse|3dnow] [--quiet]\n\ncommands:\n";
  for (const CommandHelp& c : commandHelp()) {
    std::string head = std::string("  ") + c.name;
    head.resize(16, ' ');
    out += head + c.summary + "\n";
  }
  out +=
      "\n"
      "EFFECT is name or name:key=value,key=value; see 'dspfx help effects'.\n"
      "'dspfx help COMMAND' or 'dspfx COMMAND --help' tells more about a command.\n";
  return out;
}

std::string commandText(const CommandHelp& c) {
  std::string out = std::string("usage: dspfx ") + c.name + " " + c.synopsis + "\n\n" + c.summary + ".\n\n" + c.page;
  return out + "\n" + kGlobalOptionsText;
}

}  // namespace dspfx::tool
