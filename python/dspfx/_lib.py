"""The shared library and the prototypes of the exports the package calls.

ctypes releases the GIL for the duration of every foreign call made through
a CDLL, so the library's work runs in parallel across Python threads.
"""

import ctypes
import ctypes.util
import os
import threading

_u32, _i32, _f32, _u8 = ctypes.c_uint32, ctypes.c_int32, ctypes.c_float, ctypes.c_uint8
_ptr = ctypes.c_void_p


class GraphicEqBand(ctypes.Structure):
    _fields_ = [("frequency", _f32), ("gainDb", _f32), ("zeroRadius", _f32), ("poleRadius", _f32)]


class SliceRecord(ctypes.Structure):
    pass


SliceRecord._fields_ = [("next", ctypes.POINTER(SliceRecord)), ("prev", ctypes.POINTER(SliceRecord)),
                        ("start", _f32), ("end", _f32)]


class WavefileFormat(ctypes.Structure):
    _pack_ = 1
    _fields_ = [("formatTag", ctypes.c_uint16), ("channels", ctypes.c_uint16),
                ("samplesPerSec", _u32), ("avgBytesPerSec", _u32), ("blockAlign", ctypes.c_uint16),
                ("bitsPerSample", ctypes.c_uint16), ("extraSize", ctypes.c_uint16)]


class WavefileInHeader(ctypes.Structure):
    _pack_ = 1
    _fields_ = [("buffer", _ptr), ("dataBytes", _u32), ("bytesRead", _i32), ("reserved0", _u32),
                ("reserved1", _u32), ("reserved2", _u32), ("reserved3", ctypes.c_uint8 * 10),
                ("seconds", _f32)]


# name: (result, argument types). Optional exports (extensions a library build
# may lack) are bound only when present; see has().
_PROTOTYPES = {
    "dspEnableMmx": (None, [_i32]),
    "dspEnable3dnow": (None, [_i32]),
    "dspEnableSse": (None, [_i32]),
    "dspPcmEncode": (_u32, [_ptr, _ptr, _u32]),
    "fastmemGetAllocatedSize": (_u32, []),
    "dspCreate": (_ptr, [_u32, _u32, _u32]),
    "dspAdd": (_u32, [_ptr, _ptr, _u32]),
    "dspGetDstRate": (_u32, [_ptr]),
    "dspGetDstChannels": (_u32, [_ptr]),
    "dspGetDstSize": (_u32, [_ptr, _u32]),
    "dspSend": (_u32, [_ptr, _ptr, _ptr, _u32]),
    "dspSendFloat": (_u32, [_ptr, _ptr, _ptr, _u32]),
    "dspDestroy": (None, [_ptr]),
    "initShelvingEQ": (_ptr, [_u32, _u32, _u32, _u32, _ptr, _f32]),
    "initGraphicEQ": (_ptr, [_u32, _u32, _u32, _u32, _ptr, _f32]),
    "initIirFilter": (_ptr, [_u32, _u32, _u32, _i32, _f32, _i32]),
    "initFader": (_ptr, [_u32, _u32, _u32, _f32, _f32, _f32]),
    "setFaderAction": (_u32, [_ptr, _i32, _f32, _f32, _f32]),
    "initResampler": (_ptr, [_u32, _u32, _u32, _u32, _u32, _i32, _f32, _f32, _u8]),
    "initHqupsBySrcsize": (_ptr, [_u32, _u32, _u32, _u32, _f32, _f32, _u32, _i32, _f32, _f32, _i32, _u8]),
    "initStretch": (_ptr, [_u32, _u32, _u32, _f32, _f32, _f32, _f32]),
    "initPitchShift": (_ptr, [_u32, _u32, _u32, _f32, _f32, _f32, _f32, _u32, _u32]),
    "initChorus": (_ptr, [_u32, _u32, _u32, _u32, _f32, _f32, _f32, _f32, _f32]),
    "initWaveSlice": (_ptr, [_u32, _u32, _u32, _f32, _f32, _f32, _f32]),
    "doWaveSlice": (_u32, [_ptr, _ptr, _u32]),
    "getWaveSlice": (ctypes.POINTER(SliceRecord), [_ptr, _u32]),
    "stopWaveSlice": (_u32, [_ptr]),
    "termWaveSlice": (_u32, [_ptr]),
    "initFft": (_ptr, [_u32, _u32, _u32, _u32]),
    "doFft": (_u32, [_ptr, _ptr, _ptr, _u32]),
    "initFftAnalyze": (_ptr, [_u32, _u32, _u32, _u32]),
    "doFftAnalyze": (_u32, [_ptr, _ptr, _ptr, _u32]),
    "initEnvAnalyze": (_ptr, [_u32, _u32, _u32]),
    "doEnvAnalyze": (_u32, [_ptr, _ptr, _ptr, _u32]),
    "termFft": (_u32, [_ptr]),
    "initWavefileIn": (_ptr, [ctypes.c_char_p, _u32]),
    "getFormatWavefileIn": (ctypes.POINTER(WavefileFormat), [_ptr]),
    "getHeaderWavefileIn": (ctypes.POINTER(WavefileInHeader), [_ptr]),
    "readWavefileIn": (_i32, [_ptr, _ptr, _u32]),
    "termWavefileIn": (None, [_ptr]),
    "initWavefileOut": (_ptr, [ctypes.c_char_p, ctypes.POINTER(WavefileFormat)]),
    "writeWavefileOut": (_i32, [_ptr, _ptr, _i32]),
    "termWavefileOut": (_u32, [_ptr]),
}

_OPTIONAL = {
    "setResamplerQuality": (_u32, [_ptr, _u32]),
    "setHqupsQuality": (_u32, [_ptr, _u32]),
    "setStretchMode": (_u32, [_ptr, _u32]),
    "setPitchShiftMode": (_u32, [_ptr, _u32]),
    "setShelvingEQMode": (_u32, [_ptr, _u32]),
}


def _candidates():
    env = os.environ.get("DSPFX_LIBRARY")
    if env:
        yield env
        return
    here = os.path.dirname(os.path.abspath(__file__))
    for name in ("libdspfx.so", "libdspfx.so.0", "libdspfx.dylib", "dspfx.dll", "libdspfx.dll"):
        yield os.path.join(here, name)
    found = ctypes.util.find_library("dspfx")
    if found:
        yield found


def _load():
    tried = []
    for path in _candidates():
        if os.path.isabs(path) and not os.path.exists(path):
            tried.append(path)
            continue
        try:
            return ctypes.CDLL(path)
        except OSError as e:
            tried.append(f"{path} ({e})")
    raise ImportError("dspfx: cannot load the dspfx shared library; set DSPFX_LIBRARY to its path. Tried: "
                      + "; ".join(tried or ["nothing"]))


lib = _load()
for _name, (_res, _args) in _PROTOTYPES.items():
    _fn = getattr(lib, _name)
    _fn.restype, _fn.argtypes = _res, _args
_present = set(_PROTOTYPES)
for _name, (_res, _args) in _OPTIONAL.items():
    if hasattr(lib, _name):
        _fn = getattr(lib, _name)
        _fn.restype, _fn.argtypes = _res, _args
        _present.add(_name)


def has(name):
    """True when the loaded library exports name."""
    return name in _present


# The terminating call of every family that can stand outside a chain: an
# init that succeeded but whose object never reached a chain is freed here.
_TERM = {}
for _name in ("ShelvingEQ", "GraphicEQ", "IirFilter", "Fader", "Resampler", "Hqups", "Stretch",
              "PitchShift", "Chorus"):
    _fn = getattr(lib, "term" + _name)
    _fn.restype, _fn.argtypes = _u32, [_ptr]
    _TERM[_name] = _fn

_simd_lock = threading.Lock()
_simd = None

SIMD_MODES = ("off", "sse", "3dnow")


def set_simd(mode):
    """Selects the library's kernel forms for the whole process: "off" (the
    scalar forms that define the results), "sse" (the tool's default) or
    "3dnow". Results can differ between forms in the last bit."""
    global _simd
    if mode not in SIMD_MODES:
        raise ValueError(f"simd must be one of {', '.join(SIMD_MODES)}, not {mode!r}")
    with _simd_lock:
        lib.dspEnableMmx(int(mode != "off"))
        lib.dspEnableSse(int(mode == "sse"))
        lib.dspEnable3dnow(int(mode == "3dnow"))
        _simd = mode


def get_simd():
    return _simd


# The same forms as the command-line tool unless the host says otherwise, so
# that the package and the tool agree bit for bit out of the box.
set_simd(os.environ.get("DSPFX_SIMD", "sse"))
