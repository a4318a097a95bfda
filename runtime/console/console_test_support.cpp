// Test support for the console: attributes to start from and compare with, child steps.
#include "runtime/console/console_test_support.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include "runtime/console/console.h"
#include "runtime/strings/strings.h"

namespace zn::test {

termios UnusualUserAttributes() {
  termios attributes{};
  int master = -1;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) == 0) {
    tcgetattr(slave, &attributes);
    close(master);
    close(slave);
  }
  attributes.c_iflag ^= IXANY;
  attributes.c_oflag ^= OCRNL;
  attributes.c_lflag &= ~static_cast<tcflag_t>(ECHOE);
  attributes.c_lflag |= ICANON | ECHO | ISIG;
  attributes.c_cc[VMIN] = 3;
  attributes.c_cc[VTIME] = 4;
  attributes.c_cc[VERASE] = 0x08;
  attributes.c_cc[VKILL] = 0x0B;
  cfsetispeed(&attributes, B9600);
  cfsetospeed(&attributes, B9600);
  return attributes;
}

termios StandardInputAttributes() {
  termios attributes{};
  tcgetattr(STDIN_FILENO, &attributes);
  return attributes;
}

void ExpectSameAttributes(const termios& actual, const termios& expected) {
  EXPECT_EQ(actual.c_iflag, expected.c_iflag) << "input flags";
  EXPECT_EQ(actual.c_oflag, expected.c_oflag) << "output flags";
  EXPECT_EQ(actual.c_cflag, expected.c_cflag) << "control flags";
  EXPECT_EQ(actual.c_lflag, expected.c_lflag) << "local flags";
  EXPECT_EQ(actual.c_line, expected.c_line) << "line discipline";
  for (int i = 0; i < NCCS; ++i) {
    EXPECT_EQ(actual.c_cc[i], expected.c_cc[i]) << "control character " << i;
  }
  EXPECT_EQ(cfgetispeed(&actual), cfgetispeed(&expected)) << "input speed";
  EXPECT_EQ(cfgetospeed(&actual), cfgetospeed(&expected)) << "output speed";
}

void ExpectConsoleMode(const termios& mode, const termios& user) {
  EXPECT_EQ(mode.c_lflag & (ICANON | ECHO), 0u) << "line editing and echo are off";
  EXPECT_EQ(mode.c_lflag & ISIG, user.c_lflag & ISIG) << "the signal keys are as the user had them";
  EXPECT_EQ(mode.c_cc[VMIN], 0) << "a read returns without a byte";
  EXPECT_EQ(mode.c_cc[VTIME], 0) << "a read does not wait";
  termios expected = user;
  expected.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  expected.c_cc[VMIN] = 0;
  expected.c_cc[VTIME] = 0;
  ExpectSameAttributes(mode, expected);
}

void ChildStartRuntime() {
  TempTextInit();
  ConsoleStartup();
}

KeyRead ChildReadKey() {
  KeyRead read{};
  const int32_t depth = TempTextStackDepth();
  TempTextPush();
  TempTextPush();
  const int32_t offset = TempTextPop();
  ConsoleReadKey(offset);
  read.piece_bytes = static_cast<int32_t>(TempTextPosition() - offset);
  StringValue key = nullptr;
  TempTextTakeInto(&key, TempTextPop());
  read.unit = key != nullptr ? key[0] : 0;
  read.length = StringLength(key);
  read.stack_change = TempTextStackDepth() - depth;
  StringRelease(key);
  return read;
}

char16_t ChildReadKeyUnit() {
  return ChildReadKey().unit;
}

}  // namespace zn::test
