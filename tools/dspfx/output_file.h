#pragma once
// An output written beside its final path under a temporary name and renamed
// into place only on success, so a failed run never leaves a partial file or
// touches an existing one.
#include <string>

namespace dspfx::tool {

class OutputFile {
 public:
  explicit OutputFile(std::string finalPath);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  const std::string& tempPath() const { return temp_; }
  // Renames the temporary file into place; throws FileError on failure.
  void commit();

 private:
  std::string final_;
  std::string temp_;
  bool committed_ = false;
};

// Same file (by device and inode when both exist, else by path).
bool sameFile(const std::string& a, const std::string& b);

}  // namespace dspfx::tool
