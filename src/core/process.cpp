#include "core/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace bc {
namespace {

struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int f) : fd(f) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }
  void reset() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

struct Pipe {
  Fd read, write;
  int open() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return errno;
    read.fd = fds[0];
    write.fd = fds[1];
    return 0;
  }
};

struct SpawnActions {
  posix_spawn_file_actions_t actions;
  SpawnActions() { posix_spawn_file_actions_init(&actions); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
};

int wait_child(pid_t pid, int* status) {
  for (;;) {
    if (::waitpid(pid, status, 0) >= 0) return 0;
    if (errno != EINTR) return errno;
  }
}

}  // namespace

Expected<ProcessResult> run_process(const ProcessSpec& job) {
  Pipe in, out, err;
  if (job.input == ProcessSpec::Input::Bytes) {
    if (int e = in.open()) return fail(system_error_text(e));
  }
  if (job.capture_output) {
    if (int e = out.open()) return fail(system_error_text(e));
    if (int e = err.open()) return fail(system_error_text(e));
  }

  SpawnActions sa;
  auto* a = &sa.actions;
  if (job.input == ProcessSpec::Input::Null) {
    posix_spawn_file_actions_addopen(a, 0, "/dev/null", O_RDONLY, 0);
  } else if (job.input == ProcessSpec::Input::Bytes) {
    posix_spawn_file_actions_adddup2(a, in.read.fd, 0);
  }
  if (job.capture_output) {
    posix_spawn_file_actions_adddup2(a, out.write.fd, 1);
    posix_spawn_file_actions_adddup2(a, err.write.fd, 2);
  }

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(job.program.c_str()));
  for (const auto& s : job.args) argv.push_back(const_cast<char*>(s.c_str()));
  argv.push_back(nullptr);

  // A child of a process that ignores SIGPIPE would inherit that; reset it
  // so tools behave as they do from a shell.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);

  pid_t pid = -1;
  int rc = ::posix_spawnp(&pid, job.program.c_str(), a, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return fail(system_error_text(rc));

  in.read.reset();
  out.write.reset();
  err.write.reset();

  ProcessResult result;
  size_t written = 0;
  if (job.input == ProcessSpec::Input::Bytes && job.input_bytes.empty()) in.write.reset();
  if (in.write.fd >= 0) ::fcntl(in.write.fd, F_SETFL, O_NONBLOCK);

  // A child that closes its stdin early must not kill us with SIGPIPE:
  // block it on this thread while we write and swallow any pending one.
  sigset_t pipe_set, old_mask;
  sigemptyset(&pipe_set);
  sigaddset(&pipe_set, SIGPIPE);
  const bool guard_pipe = in.write.fd >= 0;
  if (guard_pipe) pthread_sigmask(SIG_BLOCK, &pipe_set, &old_mask);

  using Clock = std::chrono::steady_clock;
  const auto deadline =
      job.time_limit ? Clock::now() + *job.time_limit : Clock::time_point::max();
  char buf[65536];
  while (out.read.fd >= 0 || err.read.fd >= 0 || in.write.fd >= 0) {
    pollfd fds[3];
    int n = 0;
    int idx_out = -1, idx_err = -1, idx_in = -1;
    if (out.read.fd >= 0) idx_out = n, fds[n++] = {out.read.fd, POLLIN, 0};
    if (err.read.fd >= 0) idx_err = n, fds[n++] = {err.read.fd, POLLIN, 0};
    if (in.write.fd >= 0) idx_in = n, fds[n++] = {in.write.fd, POLLOUT, 0};
    int timeout_ms = -1;
    if (job.time_limit) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) {
        result.timed_out = true;
        break;
      }
      timeout_ms = static_cast<int>(std::min<long long>(left.count() + 1, 1 << 30));
    }
    int ready = ::poll(fds, static_cast<nfds_t>(n), timeout_ms);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (ready == 0) continue;
    auto drain = [&](int idx, Fd& fd, std::string& sink) {
      if (idx < 0 || !(fds[idx].revents & (POLLIN | POLLHUP | POLLERR))) return;
      ssize_t got = ::read(fd.fd, buf, sizeof buf);
      if (got > 0) {
        sink.append(buf, static_cast<size_t>(got));
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        fd.reset();
      }
    };
    drain(idx_out, out.read, result.out);
    drain(idx_err, err.read, result.err);
    if (idx_in >= 0 && (fds[idx_in].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t put = ::write(in.write.fd, job.input_bytes.data() + written,
                            job.input_bytes.size() - written);
      if (put > 0) {
        written += static_cast<size_t>(put);
        if (written == job.input_bytes.size()) in.write.reset();
      } else if (put < 0 && errno != EINTR && errno != EAGAIN) {
        result.input_short = true;
        in.write.reset();
      }
    }
  }
  if (guard_pipe) {
    in.write.reset();
    timespec zero{0, 0};
    while (sigtimedwait(&pipe_set, nullptr, &zero) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  }
  int status = 0;
  bool reaped = false;
  if (job.time_limit && !result.timed_out) {
    // A child may close both pipes and keep running; the bound covers the
    // wait for its exit as well.
    auto pause = std::chrono::milliseconds(1);
    while (!reaped) {
      pid_t r = ::waitpid(pid, &status, WNOHANG);
      if (r == pid) {
        reaped = true;
      } else if (r < 0 && errno != EINTR) {
        return fail(system_error_text(errno));
      } else if (Clock::now() >= deadline) {
        result.timed_out = true;
        break;
      } else if (r == 0) {
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
      }
    }
  }
  if (result.timed_out) ::kill(pid, SIGKILL);
  if (!reaped) {
    if (int e = wait_child(pid, &status)) return fail(system_error_text(e));
  }
  if (WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

Expected<ProcessResult> run_captured(const std::string& program,
                                     const std::vector<std::string>& args) {
  ProcessSpec job;
  job.program = program;
  job.args = args;
  return run_process(job);
}

}  // namespace bc
