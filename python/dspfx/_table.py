"""The effects a chain can hold and their parameters: names, units, ranges
and defaults exactly as the command-line tool states them, so an effect
written for one works unchanged in the other. Written by tools/gen_table.py
from `dspfx help effects`; tests compare it with the tool's help text."""

from collections import namedtuple

Param = namedtuple("Param", "name unit min max default help")
Family = namedtuple("Family", "name summary params")


FAMILIES = (
    Family('resample', 'sample-rate conversion', (
        Param('rate', 'Hz', 1000, 384000, 48000, 'output sample rate'),
        Param('cubic', '0/1', 0, 1, 1, '1: four-point cubic interpolation, 0: linear'),
        Param('stopband', 'dB', 1, 200, 60, 'anti-alias attenuation at half the lower rate'),
        Param('slope', 'dB/oct', 1, 400, 60, 'anti-alias steepness'),
        Param('antialias', '0/1', 0, 1, 1, '1: run the anti-alias low-pass'),
        Param('quality', '0/1/2', 0, 2, 2, '2: band-limited; 1: the converter above, exact across blocks; 0: block-wise'),
    )),
    Family('hqups', 'upsample to 48000 Hz adding synthetic top-octave harmonics', (
        Param('harmonics', '', -0.9, 0.9, 0.3, 'curve displacement (0: none)'),
        Param('mix', '%', 0, 400, 30, 'harmonic level'),
        Param('highpass', 'Hz', 1000, 23000, 11000, 'lower edge of the band that is bent'),
        Param('adaptive', '0/1', 0, 1, 1, '1: keep harmonics only above the detected band edge'),
        Param('quality', '0/1/2', 0, 2, 2, 'converter: 2 band-limited, 1 cubic exact across blocks, 0 block-wise'),
    )),
    Family('eq', 'linear-phase three-zone equaliser', (
        Param('low', 'dB', -40, 20, 0, 'gain below lowfreq'),
        Param('mid', 'dB', -40, 20, 0, 'gain between lowfreq and highfreq'),
        Param('high', 'dB', -40, 20, 0, 'gain above highfreq'),
        Param('lowfreq', 'Hz', 20, 20000, 250, 'low/mid boundary'),
        Param('highfreq', 'Hz', 20, 20000, 4000, 'mid/high boundary'),
        Param('bands', '', 16, 1024, 128, 'frequency resolution, a power of two'),
        Param('level', 'dB', -40, 20, 0, 'output level'),
        Param('mode', '0/1', 0, 1, 1, '1: fast convolution, 0: direct form (same filter)'),
    )),
    Family('geq', 'resonant boosts at ten octave centres (31 Hz ... 16 kHz) over the dry signal', (
        Param('g31', 'dB', 0, 15, 0, '31 Hz boost'),
        Param('g62', 'dB', 0, 15, 0, '62 Hz boost'),
        Param('g125', 'dB', 0, 15, 0, '125 Hz boost'),
        Param('g250', 'dB', 0, 15, 0, '250 Hz boost'),
        Param('g500', 'dB', 0, 15, 0, '500 Hz boost'),
        Param('g1k', 'dB', 0, 15, 0, '1 kHz boost'),
        Param('g2k', 'dB', 0, 15, 0, '2 kHz boost'),
        Param('g4k', 'dB', 0, 15, 0, '4 kHz boost'),
        Param('g8k', 'dB', 0, 15, 0, '8 kHz boost'),
        Param('g16k', 'dB', 0, 15, 0, '16 kHz boost'),
        Param('master', 'dB', -40, 20, 0, 'master gain'),
    )),
    Family('lowpass', 'Chebyshev low-pass, 1 dB ripple', (
        Param('freq', 'Hz', 1, 200000, 1000, 'cutoff (below half the sample rate)'),
        Param('order', '', 1, 64, 4, 'filter order'),
    )),
    Family('highpass', 'Chebyshev high-pass, 1 dB ripple', (
        Param('freq', 'Hz', 1, 200000, 200, 'cutoff (below half the sample rate)'),
        Param('order', '', 1, 64, 4, 'filter order'),
    )),
    Family('fade', 'fade in at the start and out at the end: the level moves in a straight line in dB between floor and 0 dB, multiplied by a straight ramp from zero, so the first and last samples are digital silence', (
        Param('in', 's', 0, 3600, 1, 'fade-in length (0: none)'),
        Param('out', 's', 0, 3600, 1, 'fade-out length (0: none)'),
        Param('floor', 'dB', -50, 0, -50, 'level the dB line starts from and ends at'),
    )),
    Family('stretch', 'change duration, keep pitch', (
        Param('ratio', 'x', 0.25, 4, 2, 'output duration / input duration'),
        Param('grain', 's', 0.005, 0.5, 0.04, 'grain length (mode 0)'),
        Param('hop', 's', 0.001, 0.5, 0.01, 'grain spacing (mode 0)'),
        Param('level', 'dB', -40, 20, 0, 'output level'),
        Param('mode', '0/1', 0, 1, 1, '1: aligned grains that keep tones in tune, 0: fixed grains'),
    )),
    Family('pitch', 'change pitch, keep duration', (
        Param('cents', 'cents', -1200, 1200, 0, 'shift in cents (100 per semitone)'),
        Param('semitones', 'st', -12, 12, 0, 'shift in semitones, added to cents'),
        Param('grain', 's', 0.005, 0.5, 0.04, 'grain length (mode 0)'),
        Param('hop', 's', 0.001, 0.5, 0.01, 'grain spacing (mode 0)'),
        Param('cubic', '0/1', 0, 1, 1, '1: cubic interpolation, 0: linear (mode 0)'),
        Param('antialias', '0/1', 0, 1, 1, '1: run the anti-alias low-pass'),
        Param('level', 'dB', -40, 20, 0, 'output level'),
        Param('mode', '0/1', 0, 1, 1, '1: aligned grains that keep tones in tune, 0: fixed grains'),
    )),
    Family('chorus', 'swept delayed voices added to the signal', (
        Param('voices', '', 1, 64, 3, 'number of voices'),
        Param('delay', 'ms', 1, 500, 20, 'base delay'),
        Param('depth', 'ms', 0, 200, 5, 'sweep depth either side of the base delay'),
        Param('period', 's', 0, 60, 2, 'seconds per sweep (0: no sweep)'),
        Param('mix', '%', 0, 200, 50, 'level of each voice'),
        Param('dry', '%', 0, 200, 100, 'level of the dry signal'),
    )),
    Family('gain', 'change the level', (
        Param('db', 'dB', -120, 60, 0, 'gain (negative: quieter)'),
    )),
    Family('norm', 'scale the whole stream so its highest peak reaches the level (reads it all first)', (
        Param('level', 'dBFS', -120, 0, 0, 'peak level to reach'),
    )),
    Family('trim', 'keep only part of the stream', (
        Param('start', 's', 0, 1000000, 0, 'where the kept part starts'),
        Param('length', 's', 0, 1000000, 0, 'how long it is (0: to the end)'),
    )),
    Family('channels', 'mono to stereo (copies the channel) or to mono (averages the channels)', (
        Param('count', '', 1, 2, 2, 'channels out: 1 or 2'),
    )),
    Family('reverse', 'play the stream backwards (reads it all first)', (
    )),
)

BY_NAME = {f.name: f for f in FAMILIES}
# Steps the tool runs itself, with no library object behind them.
TOOL_ONLY = ("gain", "norm", "trim", "channels", "reverse")
