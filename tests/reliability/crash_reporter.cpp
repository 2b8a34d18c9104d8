#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "plugin_cases.h"

namespace reliability {
namespace {

char current_case[1024] = "(no case)";
struct sigaction previous_segv;
struct sigaction previous_bus;

void Report(int signal_number) {
  const char* head = signal_number == SIGBUS ? "\n*** SIGBUS in case: " : "\n*** SIGSEGV in case: ";
  ssize_t ignored = write(STDERR_FILENO, head, std::strlen(head));
  ignored = write(STDERR_FILENO, current_case, std::strlen(current_case));
  ignored = write(STDERR_FILENO, "\n", 1);
  (void)ignored;
  // Put the previous handler back; returning re-runs the faulting access,
  // which that handler then reports (or the default action ends the process).
  sigaction(signal_number, signal_number == SIGBUS ? &previous_bus : &previous_segv, nullptr);
}

}  // namespace

void InstallCrashReporter() {
  struct sigaction action;
  std::memset(&action, 0, sizeof(action));
  action.sa_handler = Report;
  sigemptyset(&action.sa_mask);
  sigaction(SIGSEGV, &action, &previous_segv);
  sigaction(SIGBUS, &action, &previous_bus);
}

void SetCurrentCase(const std::string& description) {
  const std::size_t n = description.size() < sizeof(current_case) - 1 ? description.size()
                                                                        : sizeof(current_case) - 1;
  std::memcpy(current_case, description.data(), n);
  current_case[n] = '\0';
}

}  // namespace reliability
