#include "gnuplot.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace ecodyn::plot {
namespace {

// Returns the text as a gnuplot string in single quotes.
std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += '\'';
    q += c;
  }
  return q + "'";
}

// Writes all of text to fd; false if gnuplot stopped reading.
bool write_all(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Runs gnuplot on the commands; returns its wait status, or -1 with errno
// when it could not be started.
int run_gnuplot(const std::string& gnuplot, const std::string& commands) {
  int pipe_fd[2];
  if (pipe(pipe_fd) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fd[0], 0);
  posix_spawn_file_actions_addclose(&actions, pipe_fd[0]);
  posix_spawn_file_actions_addclose(&actions, pipe_fd[1]);
  // gnuplot gets the signals in their usual way, whatever this program
  // does with them.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ}) sigaddset(&defaults, sig);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  char* argv[] = {const_cast<char*>(gnuplot.c_str()), nullptr};
  pid_t pid;
  const int spawned = posix_spawn(&pid, gnuplot.c_str(), &actions, &attr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ::close(pipe_fd[0]);
  if (spawned != 0) {
    ::close(pipe_fd[1]);
    errno = spawned;
    return -1;
  }
  // A gnuplot that stops reading early makes the write fail (the broken
  // pipe is not allowed to end this program); its status tells why.
  const auto previous = std::signal(SIGPIPE, SIG_IGN);
  write_all(pipe_fd[1], commands);
  ::close(pipe_fd[1]);
  std::signal(SIGPIPE, previous);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

}  // namespace

std::string find_gnuplot() {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  std::size_t from = 0;
  for (;;) {
    const std::size_t colon = dirs.find(':', from);
    std::string candidate =
        dirs.substr(from, colon == std::string::npos ? std::string::npos : colon - from);
    candidate.append(candidate.empty() ? "./gnuplot" : "/gnuplot");
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0)
      return candidate;
    if (colon == std::string::npos) return "";
    from = colon + 1;
  }
}

bool render(const std::string& gnuplot, const std::string& script, const std::string& output,
            std::string& error) {
  struct stat st;
  const bool exists = stat(output.c_str(), &st) == 0;
  const std::size_t slash = output.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : output.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? output : output.substr(slash + 1);
  std::string temp = dir + "." + base + ".ecodyn-XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) {
    error = "cannot write " + output + ": " + std::strerror(errno);
    return false;
  }
  // The picture gets the mode of the file it replaces, or that of a new file.
  mode_t mode = 0;
  if (exists) {
    mode = st.st_mode & 07777;
  } else {
    mode = umask(0);
    umask(mode);
    mode = 0666 & ~mode;
  }
  fchmod(fd, mode);
  ::close(fd);

  // An interrupt while gnuplot draws waits until the temporary file is
  // gone; gnuplot itself is interrupted as usual.
  sigset_t stops, previous;
  sigemptyset(&stops);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&stops, sig);
  sigprocmask(SIG_BLOCK, &stops, &previous);
  const int status = run_gnuplot(gnuplot, "outfile = " + quoted(temp) + "\n" + script);
  const int spawn_error = errno;
  bool ok = false;
  if (status < 0) {
    error = "cannot run " + gnuplot + ": " + std::strerror(spawn_error);
  } else if (WIFSIGNALED(status)) {
    error = "gnuplot ended by signal " + std::to_string(WTERMSIG(status)) + "; " + output +
            " is not written";
  } else if (WEXITSTATUS(status) != 0) {
    error = "gnuplot failed (status " + std::to_string(WEXITSTATUS(status)) + "); " + output +
            " is not written";
  } else if (stat(temp.c_str(), &st) != 0 || st.st_size == 0) {
    error = "gnuplot wrote nothing; " + output + " is not written";
  } else if (std::rename(temp.c_str(), output.c_str()) != 0) {
    error = "cannot write " + output + ": " + std::strerror(errno);
  } else {
    ok = true;
  }
  if (!ok) unlink(temp.c_str());
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  return ok;
}

}  // namespace ecodyn::plot
