// What the code under test writes to file descriptor 2 while this lives,
// whichever way it writes it (stdio, iostreams or write(2)). Qt Test logs Qt's
// own messages to standard output, so they do not mix in.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

namespace mirtolk::testing {

class CaptureStderr {
 public:
  CaptureStderr() : file_(std::tmpfile()) {
    Flush();
    if (file_ != nullptr) saved_ = dup(STDERR_FILENO);
    if (saved_ >= 0) dup2(fileno(file_), STDERR_FILENO);
  }
  ~CaptureStderr() {
    Restore();
    if (file_ != nullptr) std::fclose(file_);
  }
  CaptureStderr(const CaptureStderr&) = delete;
  CaptureStderr& operator=(const CaptureStderr&) = delete;

  // Ends the capture and gives what was written.
  std::string text() {
    Restore();
    if (file_ == nullptr) return "(no temporary file to capture standard error in)";
    std::string text;
    std::rewind(file_);
    for (int c; (c = std::fgetc(file_)) != EOF;) text += static_cast<char>(c);
    return text;
  }

 private:
  static void Flush() {
    std::cerr.flush();
    std::fflush(stderr);
  }
  void Restore() {
    if (saved_ < 0) return;
    Flush();
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    saved_ = -1;
  }

  std::FILE* file_;
  int saved_ = -1;
};

}  // namespace mirtolk::testing
