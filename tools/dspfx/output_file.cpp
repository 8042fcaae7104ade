#include "output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli.h"

namespace dspfx::tool {
namespace {

// Temporary names the signal handler removes. Fixed storage: the handler may
// only touch memory that is never reallocated, and only call unlink.
constexpr int kSlots = 32;
char gTempNames[kSlots][PATH_MAX];
volatile sig_atomic_t gTempUsed[kSlots];
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

extern "C" void removeTempsAndDie(int sig) {
  for (int i = 0; i < kSlots; ++i) {
    if (gTempUsed[i]) ::unlink(gTempNames[i]);
  }
  // Die of the same signal, so the parent sees how the run ended.
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

// Runs with the signals held, so the handler never sees a half-written slot.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kSignals) sigaddset(&set, s);
    sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &old_, nullptr); }

 private:
  sigset_t old_;
};

void installHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int s : kSignals) {
    struct sigaction now {}, before {};
    sigaction(s, nullptr, &before);
    // A signal the caller chose to ignore (nohup) stays ignored.
    if (before.sa_handler == SIG_IGN) continue;
    now.sa_handler = removeTempsAndDie;
    sigemptyset(&now.sa_mask);
    for (int t : kSignals) sigaddset(&now.sa_mask, t);
    sigaction(s, &now, nullptr);
  }
}

int claimSlot(const std::string& temp) {
  if (temp.size() >= PATH_MAX) return -1;
  SignalsHeld held;
  installHandlers();
  for (int i = 0; i < kSlots; ++i) {
    if (!gTempUsed[i]) {
      std::memcpy(gTempNames[i], temp.c_str(), temp.size() + 1);
      gTempUsed[i] = 1;
      return i;
    }
  }
  return -1;
}

void releaseSlot(int slot) {
  if (slot < 0) return;
  SignalsHeld held;
  gTempUsed[slot] = 0;
}

}  // namespace

std::string systemError(const std::string& path, const std::string& what) {
  return path + ": " + what + " (" + std::strerror(errno) + ")";
}

OutputFile::OutputFile(std::string userPath) : user_(std::move(userPath)), target_(user_) {
  if (user_ == "-") {
    stdout_ = true;
    struct stat st {};
    const bool file = ::fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode);
    mode_ = file && ::lseek(STDOUT_FILENO, 0, SEEK_CUR) == 0 ? Mode::inPlace : Mode::stream;
    temp_ = "/dev/stdout";
    return;
  }
  struct stat st {};
  if (::stat(user_.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) throw FileError(user_ + ": is a directory");
    // A pipe, a terminal or a device is written in place, never replaced;
    // so is a file reached through the system's own links to open
    // descriptors (/dev/stdout when the shell redirected it to a file).
    if (!S_ISREG(st.st_mode) || user_.rfind("/dev/", 0) == 0 || user_.rfind("/proc/", 0) == 0) {
      mode_ = S_ISREG(st.st_mode) ? Mode::inPlace : Mode::stream;
      temp_ = user_;
      return;
    }
    struct stat link {};
    if (::lstat(user_.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      char resolved[PATH_MAX];
      if (!::realpath(user_.c_str(), resolved)) throw FileError(systemError(user_, "cannot follow the link"));
      target_ = resolved;
    }
  } else if (errno != ENOENT) {
    throw FileError(systemError(user_, "cannot reach the file"));
  } else {
    struct stat link {};
    if (::lstat(user_.c_str(), &link) == 0) throw FileError(user_ + ": is a link to a file that does not exist");
  }
  const size_t slash = target_.find_last_of('/');
  // Empty for a file in the root directory.
  const std::string dir = slash == std::string::npos ? "." : target_.substr(0, slash);
  const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
  temp_ = dir + "/." + base + ".part-" + std::to_string(::getpid());
  slot_ = claimSlot(temp_);
  // Created now, so a missing directory or a read-only one is reported
  // before any work is done; an existing target lends it its permissions.
  const int fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) {
    const int err = errno;
    releaseSlot(slot_);
    slot_ = -1;
    errno = err;
    throw FileError(systemError(user_, "cannot create the file"));
  }
  struct stat old {};
  if (::stat(target_.c_str(), &old) == 0 && ::fchmod(fd, old.st_mode & 07777) != 0) {
    // Not fatal: the file keeps the default permissions.
  }
  ::close(fd);
}

OutputFile::~OutputFile() {
  if (mode_ == Mode::replace && !committed_) ::unlink(temp_.c_str());
  releaseSlot(slot_);
}

void OutputFile::commit() {
  if (committed_) return;
  if (mode_ == Mode::replace && std::rename(temp_.c_str(), target_.c_str()) != 0) {
    throw FileError(systemError(user_, "cannot move the finished file into place"));
  }
  committed_ = true;
}

bool sameFile(const std::string& a, const std::string& b) {
  if (a == "-" || b == "-") return false;
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0) {
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  }
  return a == b;
}

}  // namespace dspfx::tool
