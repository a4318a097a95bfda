// The child-process harness of the tests: runs a piece of code in a child process whose standard
// input and output are the slave side of a fresh pseudo-terminal, while the test drives the master
// side (types keys, reads what the child wrote) and reads the terminal's attributes and input
// queue from the slave side. Two pipes carry short messages between the test and the child, so
// that every step waits for the other side instead of sleeping. `ChildRun` is the short form for
// a child fed from a pipe whose output is all the test wants.
//
// Every wait is bounded (a few seconds) so that a broken child fails the test instead of hanging
// it; nothing is measured.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace zn::test {

struct PtyChildOptions {
  // The child starts a session of its own with the terminal as its controlling terminal, so that
  // a typed Ctrl-C signals it. Otherwise it runs in a process group of its own in the test's
  // session, where a stop signal really stops it.
  bool controlling_terminal = false;
  // The child's standard error goes to /dev/null (for children that end by a reported crash).
  bool quiet_stderr = false;
  // The child's standard error goes to the terminal too, so that the test sees all it prints.
  bool stderr_to_terminal = false;
  // When not negative, the child's standard input is this descriptor instead of the terminal.
  int standard_input = -1;
  // When not negative, the child's standard output is this descriptor instead of the terminal.
  int standard_output = -1;
  // When not null, the terminal starts with these attributes.
  const termios* initial_attributes = nullptr;
};

class PtyChild {
 public:
  // Forks; the child runs `body` and ends with its result as exit status.
  explicit PtyChild(const std::function<int()>& body, const PtyChildOptions& options = {});
  ~PtyChild();
  PtyChild(const PtyChild&) = delete;
  PtyChild& operator=(const PtyChild&) = delete;

  pid_t Pid() const { return pid_; }

  // The terminal's current attributes.
  termios Attributes() const;
  // Sets the terminal's attributes, as the user's shell does while the child is stopped.
  void SetAttributes(const termios& attributes) const;
  // Writes bytes to the master side, as if typed at the terminal.
  void Type(std::string_view bytes) const;
  // Writes bytes to the slave side, as another program on the terminal would; they reach the
  // master side behind everything the child wrote before.
  void WriteToTerminal(std::string_view bytes) const;
  // Bytes waiting in the terminal's input queue, not yet read by anyone.
  int QueuedInput() const;
  // Waits until at least `count` bytes are queued; false when they never arrive.
  bool WaitQueuedInput(int count) const;
  // Reads the master side until `marker` has arrived or the wait runs out; returns everything
  // read up to the marker (the marker included, so that its absence shows in a comparison).
  std::string ReadOutputUntil(std::string_view marker);

  // Receives `size` bytes that the child sent; false when the child stopped sending first.
  bool Receive(void* data, size_t size) const;
  // One message byte from the child, or '\0' when none came.
  char Receive() const;
  // One message byte from the child if it comes within `milliseconds`, else '\0'.
  char ReceiveWithin(int milliseconds) const;
  // Sends a message byte to the child.
  void Send(char message = 'g') const;

  void Signal(int number) const;
  // Waits for the child to stop, continue or end (waitpid with WUNTRACED | WCONTINUED); returns
  // the status, or -1 when nothing happened in time.
  int WaitChange();
  // Waits for the child to end; its wait status, or -1 when it did not end in time.
  int WaitEnd();

 private:
  pid_t pid_ = -1;
  bool ended_ = false;
  int master_ = -1;
  int slave_ = -1;
  int to_child_ = -1;
  int from_child_ = -1;
};

// In the child: sends bytes or a message byte to the test.
void ChildSend(const void* data, size_t size);
void ChildSend(char message);
// In the child: waits for the test's next message byte.
char ChildReceive();

// The outcome of a child run by ChildRun: its wait status and all it wrote on standard output.
struct ChildOutcome {
  bool ended = false;  // false when it was still running at the deadline and had to be killed
  int status = 0;
  std::string output;
};

// ChildRun: runs `body` in a child whose standard input is a pipe holding `input` and then its
// end, and whose standard output goes to a file. A body that returns makes the child exit with
// kChildReturned; a child that does not end within the harness's wait is killed.
inline constexpr int kChildReturned = 97;
ChildOutcome ChildRun(std::string_view input, const std::function<void()>& body);

// A wait status in words, for failure messages ("exited with 3", "killed by signal 2").
std::string DescribeStatus(int status);

}  // namespace zn::test
