// An output written under a temporary name beside its final path and moved
// there only when complete, so a failed or interrupted run leaves nothing.
#pragma once

#include <string>

namespace reproject {

class PendingOutput {
 public:
  explicit PendingOutput(std::string final_path);
  ~PendingOutput();  // removes the temporary file unless Commit succeeded
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  // Creates the (empty) temporary file, which also proves the folder is
  // writable. False and a one-line *error on failure.
  bool Create(std::string* error);
  // Moves the temporary file to the final path; without `overwrite` an
  // existing file there is an error and is left untouched.
  bool Commit(bool overwrite, std::string* error);

  const std::string& temp_path() const { return temp_path_; }

 private:
  std::string final_path_;
  std::string temp_path_;
  bool created_ = false;
};

// Makes SIGINT, SIGTERM and SIGHUP set a flag (see Interrupted); a second
// signal removes the registered temporary file and exits at once.
void InstallInterruptHandlers();
bool Interrupted();

}  // namespace reproject
