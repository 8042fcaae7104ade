#pragma once
// Files named by 8-bit strings, taken as UTF-8. POSIX C libraries pass such
// names through as bytes; the Windows C library would read them in the ANSI
// code page, where most non-ASCII names cannot even be spelled, so there
// they go through the wide-character calls.
#include <cstdio>

namespace dspfx {

// As std::fopen; null also for a name that is not valid UTF-8 on Windows.
std::FILE* openUtf8File(const char* name, const char* mode);
// As std::remove: true when the file was removed.
bool removeUtf8File(const char* name);

}  // namespace dspfx
