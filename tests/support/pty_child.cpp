// The child-process harness. See the header.
#include "tests/support/pty_child.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace zn::test {
namespace {

// The bound of every wait: long enough for a loaded machine, short enough to fail a hung test.
constexpr int kWaitMilliseconds = 10000;
constexpr int kPollStepMilliseconds = 5;

// The child's ends of the message pipes.
int child_from_test = -1;
int child_to_test = -1;

void PauseStep() {
  const timespec step{0, kPollStepMilliseconds * 1000000L};
  nanosleep(&step, nullptr);
}

bool ReadFull(int fd, void* data, size_t size, int timeout_ms) {
  char* bytes = static_cast<char*>(data);
  while (size > 0) {
    pollfd ready{fd, POLLIN, 0};
    const int polled = poll(&ready, 1, timeout_ms);
    if (polled < 0 && errno == EINTR) {
      continue;
    }
    if (polled <= 0) {
      return false;
    }
    const ssize_t got = read(fd, bytes, size);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      return false;
    }
    bytes += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

void WriteFull(int fd, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = write(fd, bytes, size);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return;
    }
    bytes += written;
    size -= static_cast<size_t>(written);
  }
}

[[noreturn]] void RunChild(const std::function<int()>& body, const PtyChildOptions& options,
                           int slave) {
  if (options.controlling_terminal) {
    setsid();
    ioctl(slave, TIOCSCTTY, 0);
  } else {
    setpgid(0, 0);
  }
  dup2(options.standard_input >= 0 ? options.standard_input : slave, STDIN_FILENO);
  dup2(options.standard_output >= 0 ? options.standard_output : slave, STDOUT_FILENO);
  if (options.stderr_to_terminal) {
    dup2(slave, STDERR_FILENO);
  } else if (options.quiet_stderr) {
    const int null_device = open("/dev/null", O_WRONLY);
    dup2(null_device, STDERR_FILENO);
    close(null_device);
  }
  if (slave > STDERR_FILENO) {
    close(slave);
  }
  // _exit: the test's own exit processing (its output, its leak check) belongs to the test.
  _exit(body());
}

}  // namespace

PtyChild::PtyChild(const std::function<int()>& body, const PtyChildOptions& options) {
  termios initial{};
  if (options.initial_attributes != nullptr) {
    initial = *options.initial_attributes;
  }
  if (openpty(&master_, &slave_, nullptr,
              options.initial_attributes != nullptr ? &initial : nullptr, nullptr) != 0) {
    return;
  }
  int to_child[2] = {-1, -1};
  int from_child[2] = {-1, -1};
  if (pipe(to_child) != 0 || pipe(from_child) != 0) {
    return;
  }
  pid_ = fork();
  if (pid_ == 0) {
    close(master_);
    close(to_child[1]);
    close(from_child[0]);
    child_from_test = to_child[0];
    child_to_test = from_child[1];
    RunChild(body, options, slave_);
  }
  close(to_child[0]);
  close(from_child[1]);
  to_child_ = to_child[1];
  from_child_ = from_child[0];
  if (pid_ > 0 && !options.controlling_terminal) {
    setpgid(pid_, pid_);  // the child does it too; whichever runs first wins the race
  }
}

PtyChild::~PtyChild() {
  if (pid_ > 0 && !ended_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : {master_, slave_, to_child_, from_child_}) {
    if (fd >= 0) {
      close(fd);
    }
  }
}

termios PtyChild::Attributes() const {
  termios attributes{};
  tcgetattr(slave_, &attributes);
  return attributes;
}

void PtyChild::SetAttributes(const termios& attributes) const {
  tcsetattr(slave_, TCSANOW, &attributes);
}

void PtyChild::Type(std::string_view bytes) const {
  WriteFull(master_, bytes.data(), bytes.size());
}

void PtyChild::WriteToTerminal(std::string_view bytes) const {
  WriteFull(slave_, bytes.data(), bytes.size());
}

int PtyChild::QueuedInput() const {
  int queued = -1;
  ioctl(slave_, FIONREAD, &queued);
  return queued;
}

bool PtyChild::WaitQueuedInput(int count) const {
  for (int waited = 0; waited < kWaitMilliseconds; waited += kPollStepMilliseconds) {
    if (QueuedInput() >= count) {
      return true;
    }
    PauseStep();
  }
  return false;
}

std::string PtyChild::ReadOutputUntil(std::string_view marker) {
  std::string output;
  for (;;) {
    pollfd ready{master_, POLLIN, 0};
    const int polled = poll(&ready, 1, kWaitMilliseconds);
    if (polled < 0 && errno == EINTR) {
      continue;
    }
    if (polled <= 0) {
      return output;
    }
    char chunk[256];
    const ssize_t got = read(master_, chunk, sizeof chunk);
    if (got <= 0) {
      return output;
    }
    output.append(chunk, static_cast<size_t>(got));
    if (output.find(marker) != std::string::npos) {
      return output;
    }
  }
}

bool PtyChild::Receive(void* data, size_t size) const {
  return ReadFull(from_child_, data, size, kWaitMilliseconds);
}

char PtyChild::Receive() const {
  char message = '\0';
  return Receive(&message, 1) ? message : '\0';
}

char PtyChild::ReceiveWithin(int milliseconds) const {
  char message = '\0';
  return ReadFull(from_child_, &message, 1, milliseconds) ? message : '\0';
}

void PtyChild::Send(char message) const {
  WriteFull(to_child_, &message, 1);
}

void PtyChild::Signal(int number) const {
  kill(pid_, number);
}

int PtyChild::WaitChange() {
  for (int waited = 0; waited < kWaitMilliseconds; waited += kPollStepMilliseconds) {
    int status = 0;
    const pid_t changed = waitpid(pid_, &status, WNOHANG | WUNTRACED | WCONTINUED);
    if (changed == pid_) {
      ended_ = WIFEXITED(status) || WIFSIGNALED(status);
      return status;
    }
    if (changed < 0) {
      return -1;
    }
    PauseStep();
  }
  return -1;
}

int PtyChild::WaitEnd() {
  for (;;) {
    const int status = WaitChange();
    if (status == -1 || WIFEXITED(status) || WIFSIGNALED(status)) {
      return status;
    }
  }
}

void ChildSend(const void* data, size_t size) {
  WriteFull(child_to_test, data, size);
}

void ChildSend(char message) {
  ChildSend(&message, 1);
}

char ChildReceive() {
  char message = '\0';
  return ReadFull(child_from_test, &message, 1, -1) ? message : '\0';
}

ChildOutcome ChildRun(std::string_view input, const std::function<void()>& body) {
  ChildOutcome outcome;
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) {
    return outcome;
  }
  // The whole input fits the pipe, so it can be written before the child starts reading.
  const auto written = write(pipe_ends[1], input.data(), input.size());
  close(pipe_ends[1]);
  std::FILE* sink = std::tmpfile();
  if (written != static_cast<ssize_t>(input.size()) || sink == nullptr) {
    close(pipe_ends[0]);
    if (sink != nullptr) {
      std::fclose(sink);
    }
    return outcome;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  {
    PtyChildOptions options;
    options.standard_input = pipe_ends[0];
    options.standard_output = fileno(sink);
    PtyChild child(
        [&] {
          body();
          std::fflush(stdout);
          return kChildReturned;
        },
        options);
    const int status = child.WaitEnd();
    outcome.ended = status != -1;
    outcome.status = status;
  }
  close(pipe_ends[0]);
  std::fflush(sink);
  std::rewind(sink);
  char chunk[4096];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, sink)) > 0) {
    outcome.output.append(chunk, got);
  }
  std::fclose(sink);
  return outcome;
}

std::string DescribeStatus(int status) {
  if (status == -1) {
    return "no change in time";
  }
  if (WIFEXITED(status)) {
    return "exited with " + std::to_string(WEXITSTATUS(status));
  }
  if (WIFSIGNALED(status)) {
    return "killed by signal " + std::to_string(WTERMSIG(status));
  }
  if (WIFSTOPPED(status)) {
    return "stopped by signal " + std::to_string(WSTOPSIG(status));
  }
  return "continued";
}

}  // namespace zn::test
