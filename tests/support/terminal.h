// Test support: the terminal (standard output, unit 6) captured in a file,
// for records written while the program goes on and for its error stops.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>

#include "support/scratch.h"

namespace ecodyn::test {

// Sends everything written to the terminal to a file in the working
// directory while the object lives.
class TerminalCapture {
 public:
  explicit TerminalCapture(std::string path = "terminal.txt") : path_(std::move(path)) {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    const int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, STDOUT_FILENO);
    close(fd);
  }
  ~TerminalCapture() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
  TerminalCapture(const TerminalCapture&) = delete;
  TerminalCapture& operator=(const TerminalCapture&) = delete;

  // Returns what has been written to the terminal so far.
  std::string text() const {
    std::fflush(stdout);
    return read_file(path_);
  }

 private:
  std::string path_;
  int saved_ = -1;
};

// Runs f and returns what it wrote to the terminal.
template <class F>
std::string terminal_output(F&& f) {
  TerminalCapture capture;
  f();
  return capture.text();
}

}  // namespace ecodyn::test

// Expects the statement to end the program with an error stop (status 1)
// after writing exactly `terminal_text` to the terminal. It runs in a child
// process; files it writes stay in the working directory for inspection.
#define EXPECT_ERROR_STOP(statement, terminal_text)                                 \
  do {                                                                              \
    std::fflush(nullptr);                                                           \
    EXPECT_EXIT(                                                                    \
        {                                                                           \
          if (std::freopen("stop-terminal.txt", "w", stdout) == nullptr) _exit(99); \
          statement;                                                                \
        },                                                                          \
        testing::ExitedWithCode(1), "");                                            \
    EXPECT_EQ(terminal_text, ::ecodyn::test::read_file("stop-terminal.txt"));       \
  } while (0)
