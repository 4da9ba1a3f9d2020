// Fuzz target for the whole program: one input holds a network file and the
// answers typed at the terminal, separated by the first line that is exactly
// "%%". Without that line the whole input is the network file and the
// terminal input is empty.
//
//   ecodyn_target [INPUT]      (standard input when no file is given)
//
// The program runs in a private working directory: the one named by
// ECODYN_FUZZ_WORKDIR (a fixed directory per fuzzer instance, whose fort.*
// files are overwritten on every run), or else a fresh directory under
// /dev/shm that is removed when the program exits. The program may end
// anywhere inside (every stop exits the process), so the clean-up is an
// atexit handler.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "run/cycle.h"  // the program's entry, as src/run/main.cpp includes it

namespace {

// Larger network parts are refused: a full 75-compartment exchange matrix
// fits in well under this, and more text only makes runs slower.
constexpr std::size_t network_limit = 64 * 1024;
constexpr std::size_t input_limit = 2 * network_limit;

char temporary_dir[] = "/dev/shm/ecodyn-fuzz.XXXXXX";
bool remove_dir_at_exit = false;

void remove_file(const std::string& dir, const char* name) {
  unlink((dir + "/" + name).c_str());
}

// The files the program can leave behind.
void clear_dir(const std::string& dir) {
  for (const char* name : {"fort.7", "fort.8", "fort.18", "answers"}) remove_file(dir, name);
}

void remove_temporary_dir() {
  if (!remove_dir_at_exit) return;
  clear_dir(temporary_dir);
  rmdir(temporary_dir);
}

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "ecodyn_target: %s: %s\n", what, std::strerror(errno));
  std::exit(99);
}

// Reads all of a descriptor with read(2), so that the stdio buffer of
// standard input stays untouched for the program.
std::string read_all(int fd) {
  std::string text;
  char buffer[8192];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail("read");
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    if (text.size() > input_limit) break;
  }
  return text;
}

void write_file(const std::string& path, std::string_view text) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) fail(path.c_str());
  while (!text.empty()) {
    const ssize_t n = write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(path.c_str());
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  close(fd);
}

// Splits at the first line that is exactly "%%" (with LF or CRLF).
void split(std::string_view input, std::string_view& network, std::string_view& answers) {
  network = input;
  answers = {};
  std::size_t start = 0;
  while (start < input.size()) {
    std::size_t eol = input.find('\n', start);
    const std::size_t end = eol == std::string_view::npos ? input.size() : eol;
    std::string_view line = input.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line == "%%") {
      network = input.substr(0, start);
      answers = eol == std::string_view::npos ? std::string_view{} : input.substr(eol + 1);
      return;
    }
    if (eol == std::string_view::npos) break;
    start = eol + 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string input;
  if (argc > 1) {
    const int fd = open(argv[1], O_RDONLY);
    if (fd < 0) fail(argv[1]);
    input = read_all(fd);
    close(fd);
  } else {
    input = read_all(0);
  }
  if (input.size() > input_limit) return 0;
  std::string_view network, answers;
  split(input, network, answers);
  if (network.size() > network_limit) return 0;

  std::string dir;
  if (const char* fixed = std::getenv("ECODYN_FUZZ_WORKDIR"); fixed && *fixed) {
    dir = fixed;
    mkdir(dir.c_str(), 0700);
    clear_dir(dir);
  } else {
    if (!mkdtemp(temporary_dir)) fail("mkdtemp");
    dir = temporary_dir;
    remove_dir_at_exit = true;
    std::atexit(remove_temporary_dir);
  }

  write_file(dir + "/fort.7", network);
  write_file(dir + "/answers", answers);
  const int answers_fd = open((dir + "/answers").c_str(), O_RDONLY);
  if (answers_fd < 0 || dup2(answers_fd, 0) < 0) fail("answers");
  close(answers_fd);
  if (chdir(dir.c_str()) != 0) fail(dir.c_str());

  // The program, run as src/run/main.cpp runs it.
  return ecodyn::run_program();
}
