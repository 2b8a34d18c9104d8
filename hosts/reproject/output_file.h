// An output that appears under its name only when complete. On Linux it is
// written as an unnamed file in the output's folder (O_TMPFILE) and linked in
// place at the end, so a run killed at any moment leaves nothing; where the
// file system cannot do that, a hidden temporary name is used instead, and
// such names left by killed runs are removed by the next run in that folder.
#pragma once

#include <string>

namespace reproject {

class OutputFile {
 public:
  explicit OutputFile(std::string final_path);
  ~OutputFile();  // an output not committed is removed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens the file to write, which also proves the folder is writable.
  // False and a one-line *error on failure.
  bool Create(std::string* error);
  int fd() const { return fd_; }
  // Makes the finished file appear under its name; without `overwrite` an
  // existing file there is an error and is left untouched.
  bool Commit(bool overwrite, std::string* error);

 private:
  std::string final_path_;
  std::string folder_;
  std::string temp_path_;  // the hidden name, where there is one
  int fd_ = -1;
  bool committed_ = false;
};

// Makes SIGINT, SIGTERM and SIGHUP set a flag (see Interrupted); a second
// signal removes the hidden temporary file, if any, and exits at once. A
// file-size limit makes writes fail (reported) rather than ending the process.
void InstallInterruptHandlers();
bool Interrupted();

}  // namespace reproject
