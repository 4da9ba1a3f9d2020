// The program at a real terminal (a pseudo-terminal) and at the end of a
// pipe, answered only after each prompt has appeared: every prompt must be
// out before its answer is awaited.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "support/network_text.h"
#include "support/scratch.h"

namespace {

using namespace ecodyn::test;

// A child running ecodyn, its output read as it comes.
class Session {
 public:
  // with_pty: on a pseudo-terminal; otherwise on two pipes.
  Session(const std::string& dir, bool with_pty) {
    if (with_pty) {
      pid_ = forkpty(&out_, nullptr, nullptr, nullptr);
      if (pid_ == 0) exec(dir);
      in_ = out_;
    } else {
      int to_child[2], from_child[2];
      if (pipe(to_child) != 0 || pipe(from_child) != 0) return;
      pid_ = fork();
      if (pid_ == 0) {
        dup2(to_child[0], 0);
        dup2(from_child[1], 1);
        close(to_child[1]);
        close(from_child[0]);
        exec(dir);
      }
      close(to_child[0]);
      close(from_child[1]);
      in_ = to_child[1];
      out_ = from_child[0];
    }
  }
  ~Session() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // Waits up to five seconds for text to appear in the output; true if it did.
  bool expect(const std::string& text) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (seen_.find(text, cursor_) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
      char buf[4096];
      const ssize_t n = read(out_, buf, sizeof buf);
      if (n <= 0) return false;
      seen_.append(buf, static_cast<std::size_t>(n));
    }
    cursor_ = seen_.find(text, cursor_) + text.size();
    return true;
  }

  void answer(const std::string& line) {
    const std::string s = line + "\n";
    ASSERT_EQ(static_cast<ssize_t>(s.size()), write(in_, s.data(), s.size()));
  }

  int wait_status() {
    int raw = 0;
    waitpid(pid_, &raw, 0);
    pid_ = -1;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

  const std::string& seen() const { return seen_; }

 private:
  [[noreturn]] static void exec(const std::string& dir) {
    if (chdir(dir.c_str()) == 0) execl(ECODYN_BINARY, "ecodyn", static_cast<char*>(nullptr));
    _exit(127);
  }

  pid_t pid_ = -1;
  int in_ = -1, out_ = -1;
  std::string seen_;
  std::size_t cursor_ = 0;
};

void converse(bool with_pty) {
  ScratchDir dir;
  write_file("fort.7", two_compartments());
  Session s(dir.path(), with_pty);
  const std::pair<const char*, const char*> dialogue[] = {
      {"3. DAMPED LOTKA - VOLTERRA", "2"},
      {"START TIME?", "0"},
      {"END TIME?", "4"},
      {"PRINT INTERVAL?", "2"},
      {"SNAPSHOT INTERVAL? (DEFAULT [0] SNAPS ONLY AT END.)", "0"},
      {"DO YOU WISH TO PERTURB A PARAMETER? (Y/N)", "y"},
      {"5. INTERNAL EXCHANGE", "1"},
      {"WHICH COMPARTMENT?", "1"},
      {"NEW VALUE?", "8"},
      {"DO YOU WISH TO PERTURB A PARAMETER? (Y/N)", "n"},
  };
  for (const auto& [prompt, reply] : dialogue) {
    ASSERT_TRUE(s.expect(prompt)) << "no prompt \"" << prompt << "\" before the answer; saw:\n"
                                  << s.seen();
    s.answer(reply);
  }
  ASSERT_TRUE(s.expect("     4.000")) << s.seen();
  EXPECT_EQ(0, s.wait_status());
  EXPECT_NE(std::string::npos, read_file("fort.8").find(" BIOMASS IN  1 =  .8000E+01"));
}

TEST(Terminal, EveryPromptAppearsBeforeItsAnswerIsAwaited) { converse(true); }

TEST(Terminal, PromptsReachAPipeBeforeTheAnswerIsAwaited) { converse(false); }

}  // namespace
