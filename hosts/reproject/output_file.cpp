#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace reproject {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;
// The temporary file of the running job, for the signal handler (which may
// only use async-signal-safe calls, hence a plain buffer).
char g_temp_path[4096] = {0};

void OnSignal(int) {
  if (g_interrupted) {
    if (g_temp_path[0] != '\0') unlink(g_temp_path);
    _exit(130);
  }
  g_interrupted = 1;
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
}

bool Interrupted() { return g_interrupted != 0; }

PendingOutput::PendingOutput(std::string final_path) : final_path_(std::move(final_path)) {
  const size_t slash = final_path_.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : final_path_.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? final_path_ : final_path_.substr(slash + 1);
  temp_path_ = dir + "." + base + ".reproject-" + std::to_string(getpid()) + ".part";
}

PendingOutput::~PendingOutput() {
  if (created_) {
    unlink(temp_path_.c_str());
    g_temp_path[0] = '\0';
  }
}

bool PendingOutput::Create(std::string* error) {
  const int fd = open(temp_path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    const size_t slash = final_path_.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : final_path_.substr(0, slash + 1);
    *error = final_path_ + ": cannot write in folder " + dir + ": " + std::strerror(errno);
    return false;
  }
  close(fd);
  created_ = true;
  if (temp_path_.size() < sizeof(g_temp_path)) std::memcpy(g_temp_path, temp_path_.c_str(), temp_path_.size() + 1);
  return true;
}

bool PendingOutput::Commit(bool overwrite, std::string* error) {
  if (overwrite) {
    if (rename(temp_path_.c_str(), final_path_.c_str()) != 0) {
      *error = final_path_ + ": cannot move the finished file into place: " + std::strerror(errno);
      return false;
    }
  } else if (link(temp_path_.c_str(), final_path_.c_str()) == 0) {
    unlink(temp_path_.c_str());  // link() never replaces an existing file
  } else if (errno == EEXIST) {
    *error = final_path_ + ": already exists (use -y to overwrite)";
    return false;
  } else {
    // File systems without hard links: check, then rename.
    struct stat st;
    if (stat(final_path_.c_str(), &st) == 0) {
      *error = final_path_ + ": already exists (use -y to overwrite)";
      return false;
    }
    if (rename(temp_path_.c_str(), final_path_.c_str()) != 0) {
      *error = final_path_ + ": cannot move the finished file into place: " + std::strerror(errno);
      return false;
    }
  }
  created_ = false;
  g_temp_path[0] = '\0';
  return true;
}

}  // namespace reproject
