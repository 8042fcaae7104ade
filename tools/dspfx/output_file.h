#pragma once
// Where an output goes, chosen so that a failed or interrupted run never
// leaves a partial file and never disturbs what the path names:
//  - a regular file (or a new name) is written beside itself under a
//    temporary name and renamed into place only on success;
//  - a symbolic link to a regular file is written through: the file it
//    names is replaced the same way and the link stays;
//  - anything else (a pipe, a terminal, a device) is written directly, as a
//    stream, since renaming a file over it would destroy it;
//  - "-" is standard output, and /dev/stdout and its kin are written in
//    place whatever they lead to.
// SIGINT, SIGTERM, SIGHUP and SIGPIPE remove the temporary files of every
// OutputFile still alive before the process dies of the signal.
#include <string>

namespace dspfx::tool {

class OutputFile {
 public:
  // Throws FileError naming userPath when it cannot be written.
  explicit OutputFile(std::string userPath);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // The path as the user gave it: the one every message names.
  const std::string& path() const { return user_; }
  // Where to write: the temporary file, or the target itself for a stream.
  const std::string& tempPath() const { return temp_; }
  // False for pipes, terminals and devices: the output must be written in
  // one pass from start to end.
  bool seekable() const { return mode_ != Mode::stream; }
  // Standard output ("-").
  bool isStdout() const { return stdout_; }
  // Renames the temporary file into place; throws FileError on failure.
  void commit();

 private:
  enum class Mode { replace, inPlace, stream };
  std::string user_, target_, temp_;
  Mode mode_ = Mode::replace;
  bool stdout_ = false;
  bool committed_ = false;
  int slot_ = -1;
};

// Same file (by device and inode when both exist, else by path).
bool sameFile(const std::string& a, const std::string& b);

// "path: what (reason from errno)".
std::string systemError(const std::string& path, const std::string& what);

}  // namespace dspfx::tool
