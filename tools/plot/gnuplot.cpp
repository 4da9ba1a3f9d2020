#include "gnuplot.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <string_view>

#include "common/diagnostics.h"
#include "common/replaceable.h"
#include "fio/fio.h"
#include "script.h"

extern char** environ;

namespace ecodyn::plot {
namespace {

// The signals that end this program. While gnuplot draws they are held
// back, so that the unfinished picture can be removed first.
sigset_t stop_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&set, sig);
  return set;
}

// Returns true if one of the held-back signals has arrived.
bool stop_pending() {
  sigset_t pending;
  sigpending(&pending);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
    if (sigismember(&pending, sig)) return true;
  return false;
}

// Writes all of text to fd, in pieces; false if gnuplot stopped reading or
// a signal to stop has arrived.
bool write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    if (stop_pending()) return false;
    const ssize_t n = ::write(fd, text.data(), std::min<std::size_t>(text.size(), 16384));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Writes the settings and then the script into fd; false as write_all.
bool write_script(int fd, const std::string& settings, tools::Spool& script) {
  if (!write_all(fd, settings)) return false;
  script.rewind();
  char buf[65536];
  while (const std::size_t n = script.read(buf, sizeof buf))
    if (!write_all(fd, {buf, n})) return false;
  return true;
}

// Runs gnuplot on the settings and then the script; returns its wait
// status, or -1 with errno when it could not be started. gnuplot runs in a
// process group of its own, so that an interrupt from the terminal reaches
// this program alone (gnuplot would take it as the end of a command and read
// on); a signal to stop ends gnuplot, and interrupted tells of it. A script
// that cannot be read back ends gnuplot, with the reason in failure.
int run_gnuplot(const std::string& gnuplot, const std::string& settings, tools::Spool& script,
                bool& interrupted, std::string& failure) {
  int pipe_fd[2];
  if (pipe(pipe_fd) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fd[0], 0);
  posix_spawn_file_actions_addclose(&actions, pipe_fd[0]);
  posix_spawn_file_actions_addclose(&actions, pipe_fd[1]);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, defaults = stop_signals();
  sigemptyset(&none);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGXFSZ);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
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
  try {
    write_script(pipe_fd[1], settings, script);
  } catch (const std::runtime_error& e) {
    failure = e.what();
    kill(pid, SIGTERM);
  }
  ::close(pipe_fd[1]);
  std::signal(SIGPIPE, previous);
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) break;
    if (!interrupted && stop_pending()) {
      interrupted = true;
      kill(pid, SIGTERM);
    }
    const timespec tick{0, 20'000'000};
    nanosleep(&tick, nullptr);
  }
  return status;
}

// Writes the content of the file from into the device or pipe to; false
// with errno set on failure.
bool copy_into(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY);
  if (in < 0) return false;
  const int out = ::open(to.c_str(), O_WRONLY);
  if (out < 0) {
    const int e = errno;
    ::close(in);
    errno = e;
    return false;
  }
  char buf[65536];
  ssize_t n;
  bool ok = true;
  while (ok && (n = ::read(in, buf, sizeof buf)) != 0) {
    if (n < 0) {
      ok = errno == EINTR;
      continue;
    }
    for (ssize_t done = 0; ok && done < n;) {
      const ssize_t w = ::write(out, buf + done, static_cast<std::size_t>(n - done));
      if (w > 0)
        done += w;
      else
        ok = w < 0 && errno == EINTR;
    }
  }
  const int e = errno;
  ::close(in);
  if (::close(out) != 0 && ok) return false;
  errno = e;
  return ok;
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

bool render(const std::string& gnuplot, tools::Spool& script, const std::string& output,
            std::string& error) {
  fio::check_signal();  // a signal that came before: nothing is begun
  struct stat st;
  const bool exists = stat(output.c_str(), &st) == 0;
  // A character device or a pipe gets the finished picture written into
  // it; gnuplot draws into a temporary file elsewhere. A file is replaced
  // by the temporary file beside it, a link staying a link.
  const bool direct = exists && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode));
  const std::string target = tools::link_target(output);
  const std::size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  const char* tmpdir = std::getenv("TMPDIR");
  std::string temp = direct ? std::string(tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp") +
                                  "/ecodyn-plot-XXXXXX"
                            : dir + "." + base + ".ecodyn-XXXXXX";
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

  // A signal to stop while gnuplot draws ends gnuplot and waits until the
  // temporary file is gone; then the record layer acts on it.
  const sigset_t stops = stop_signals();
  sigset_t previous;
  sigprocmask(SIG_BLOCK, &stops, &previous);
  bool interrupted = false;
  std::string failure;
  const int status =
      run_gnuplot(gnuplot, "outfile = " + quoted(temp) + "\n", script, interrupted, failure);
  const int spawn_error = errno;
  bool ok = false;
  if (interrupted) {
    error = output + " is not written";
  } else if (!failure.empty()) {
    error = failure + "; " + output + " is not written";
  } else if (status < 0) {
    error = "cannot run " + gnuplot + ": " + std::strerror(spawn_error);
  } else if (WIFSIGNALED(status)) {
    error = "gnuplot ended by signal " + std::to_string(WTERMSIG(status)) + "; " + output +
            " is not written";
  } else if (WEXITSTATUS(status) != 0) {
    error = "gnuplot failed (status " + std::to_string(WEXITSTATUS(status)) + "); " + output +
            " is not written";
  } else if (stat(temp.c_str(), &st) != 0 || st.st_size == 0) {
    error = "gnuplot wrote nothing; " + output + " is not written";
  } else if (direct ? !copy_into(temp, output) : std::rename(temp.c_str(), target.c_str()) != 0) {
    error = "cannot write " + output + ": " + std::strerror(errno);
  } else {
    ok = true;
  }
  if (!ok || direct) unlink(temp.c_str());
  if (interrupted) tools::complain(error);
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  fio::check_signal();
  return ok;
}

}  // namespace ecodyn::plot
