#include "wavefile/utf8_file.h"

#if defined(_WIN32)
#include <windows.h>

#include <memory>
#include <new>
#endif

namespace dspfx {

#if defined(_WIN32)

namespace {

// Null for invalid UTF-8 rather than a name with replacement characters,
// which could open some other file.
std::unique_ptr<wchar_t[]> widen(const char* utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
  if (n <= 0) return nullptr;
  std::unique_ptr<wchar_t[]> wide(new (std::nothrow) wchar_t[n]);
  if (wide && MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, wide.get(), n) != n) {
    wide.reset();
  }
  return wide;
}

}  // namespace

std::FILE* openUtf8File(const char* name, const char* mode) {
  if (!name || !mode) return nullptr;
  wchar_t wideMode[8];
  size_t i = 0;
  for (; mode[i] && i + 1 < sizeof wideMode / sizeof wideMode[0]; ++i) {
    wideMode[i] = static_cast<unsigned char>(mode[i]);
  }
  wideMode[i] = L'\0';
  const auto wideName = widen(name);
  return wideName ? _wfopen(wideName.get(), wideMode) : nullptr;
}

bool removeUtf8File(const char* name) {
  if (!name) return false;
  const auto wideName = widen(name);
  return wideName && _wremove(wideName.get()) == 0;
}

#else

std::FILE* openUtf8File(const char* name, const char* mode) {
  return name && mode ? std::fopen(name, mode) : nullptr;
}

bool removeUtf8File(const char* name) { return name && std::remove(name) == 0; }

#endif

}  // namespace dspfx
