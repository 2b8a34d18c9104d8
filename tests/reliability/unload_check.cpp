// A host that unloads a plug-in after threaded frames and then exits must
// exit cleanly: the OpenMP runtime's idle worker threads outlive the call.
//
//   unload_check PLUGIN.so         runs 12 child processes of itself, each
//                                  loading, running and unloading the
//                                  plug-in three times, and fails unless
//                                  every child exits with status 0
//   unload_check PLUGIN.so --child one such child
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "plugin_host.h"

namespace {

// This program does not link the OpenMP runtime itself: the plug-in brings
// it in, as it does into a host that knows nothing of OpenMP.
int Child(const std::string& path) {
  setenv("OMP_NUM_THREADS", "4", 1);  // idle workers even on a small machine
  for (int round = 0; round < 3; ++round) {
    std::string error;
    std::unique_ptr<host::PluginLibrary> library = host::PluginLibrary::Open(path, &error);
    if (!library) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 2;
    }
    host::FilterInstance instance(library->table());
    host::FrameBuffers buffers(160, 90);
    for (std::size_t i = 0; i < buffers.a.size(); ++i) {
      buffers.a[i] = PIXEL_YC{static_cast<short>(i * 37 + round), static_cast<short>(i % 512),
                              static_cast<short>(-static_cast<int>(i % 300))};
    }
    if (!host::RunFrame(instance, buffers, 160, 90).returned) return 3;
  }  // each round's library is closed here
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[2], "--child") == 0) return Child(argv[1]);
  if (argc != 2) {
    std::fprintf(stderr, "usage: unload_check PLUGIN.so [--child]\n");
    return 2;
  }
  int failures = 0;
  for (int run = 0; run < 12; ++run) {
    const pid_t pid = fork();
    if (pid == 0) {
      execl(argv[0], argv[0], argv[1], "--child", static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      ++failures;
      std::fprintf(stderr, "run %d: %s %d\n", run, WIFSIGNALED(status) ? "signal" : "exit status",
                   WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status));
    }
  }
  std::printf("%s: %d of 12 runs failed\n", argv[1], failures);
  return failures == 0 ? 0 : 1;
}
