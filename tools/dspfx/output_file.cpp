#include "output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "cli.h"

namespace dspfx::tool {

OutputFile::OutputFile(std::string finalPath) : final_(std::move(finalPath)) {
  const size_t slash = final_.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : final_.substr(0, slash);
  const std::string base = slash == std::string::npos ? final_ : final_.substr(slash + 1);
  temp_ = dir + "/." + base + ".part-" + std::to_string(::getpid());
}

OutputFile::~OutputFile() {
  if (!committed_) std::remove(temp_.c_str());
}

void OutputFile::commit() {
  if (std::rename(temp_.c_str(), final_.c_str()) != 0) {
    throw FileError(final_ + ": cannot move the finished file into place");
  }
  committed_ = true;
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0) {
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  }
  return a == b;
}

}  // namespace dspfx::tool
