#include "output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace reproject {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;
// The hidden temporary file of the running job, for the signal handler
// (which may only use async-signal-safe calls, hence a plain buffer).
char g_temp_path[4096] = {0};

void OnSignal(int) {
  if (g_interrupted) {
    if (g_temp_path[0] != '\0') unlink(g_temp_path);
    _exit(130);
  }
  g_interrupted = 1;
}

const char kTempMark[] = ".reproject-";

std::string Folder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Base(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Hidden names of the form .<name>.reproject-<pid>.part (or .link) whose
// process is gone: left by runs that were killed.
void RemoveLeftovers(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    const std::size_t mark = name.rfind(kTempMark);
    if (name[0] != '.' || mark == std::string::npos) continue;
    const std::string tail = name.substr(mark + sizeof(kTempMark) - 1);
    char* end = nullptr;
    const long pid = std::strtol(tail.c_str(), &end, 10);
    if (pid <= 0 || (std::strcmp(end, ".part") != 0 && std::strcmp(end, ".link") != 0)) continue;
    if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    unlink((folder + "/" + name).c_str());
  }
  closedir(dir);
}

}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action;
  std::memset(&action, 0, sizeof(action));
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  signal(SIGXFSZ, SIG_IGN);
}

bool Interrupted() { return g_interrupted != 0; }

OutputFile::OutputFile(std::string final_path)
    : final_path_(std::move(final_path)), folder_(Folder(final_path_)) {}

OutputFile::~OutputFile() {
  if (fd_ >= 0) close(fd_);
  if (!committed_ && !temp_path_.empty()) {
    unlink(temp_path_.c_str());
    g_temp_path[0] = '\0';
  }
}

bool OutputFile::Create(std::string* error) {
  fd_ = open(folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  if (fd_ < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    // No unnamed files here: a hidden name, removed at the end either way.
    RemoveLeftovers(folder_);
    temp_path_ = folder_ + "/." + Base(final_path_) + kTempMark + std::to_string(getpid()) + ".part";
    fd_ = open(temp_path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0) {
      temp_path_.clear();
    } else if (temp_path_.size() < sizeof(g_temp_path)) {
      std::memcpy(g_temp_path, temp_path_.c_str(), temp_path_.size() + 1);
    }
  }
  if (fd_ < 0) {
    *error = final_path_ + ": cannot write in folder " + folder_ + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool OutputFile::Commit(bool overwrite, std::string* error) {
  if (fsync(fd_) != 0 && errno != EINVAL) {
    *error = final_path_ + ": cannot write: " + std::strerror(errno);
    return false;
  }
  const std::string exists = final_path_ + ": already exists (use -y to overwrite)";
  if (temp_path_.empty()) {
    // The unnamed file gets its name. link() never replaces a file, so with
    // -y it is linked under a hidden name first and renamed over the old one.
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    const std::string target =
        overwrite ? folder_ + "/." + Base(final_path_) + kTempMark + std::to_string(getpid()) + ".link" : final_path_;
    if (overwrite) unlink(target.c_str());
    int rc = linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW);
    if (rc != 0 && errno == ENOENT) rc = linkat(fd_, "", AT_FDCWD, target.c_str(), AT_EMPTY_PATH);
    if (rc != 0) {
      *error = errno == EEXIST ? exists
                               : final_path_ + ": cannot put the finished file in place: " + std::strerror(errno);
      return false;
    }
    if (overwrite && rename(target.c_str(), final_path_.c_str()) != 0) {
      const int saved = errno;
      unlink(target.c_str());
      *error = final_path_ + ": cannot put the finished file in place: " + std::strerror(saved);
      return false;
    }
  } else if (overwrite) {
    if (rename(temp_path_.c_str(), final_path_.c_str()) != 0) {
      *error = final_path_ + ": cannot put the finished file in place: " + std::strerror(errno);
      return false;
    }
  } else if (link(temp_path_.c_str(), final_path_.c_str()) == 0) {
    unlink(temp_path_.c_str());  // link() never replaces an existing file
  } else if (errno == EEXIST) {
    *error = exists;
    return false;
  } else {
    // File systems without hard links: check, then rename.
    struct stat st;
    if (stat(final_path_.c_str(), &st) == 0) {
      *error = exists;
      return false;
    }
    if (rename(temp_path_.c_str(), final_path_.c_str()) != 0) {
      *error = final_path_ + ": cannot put the finished file in place: " + std::strerror(errno);
      return false;
    }
  }
  committed_ = true;
  g_temp_path[0] = '\0';
  return true;
}

}  // namespace reproject
