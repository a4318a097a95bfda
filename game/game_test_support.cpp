// Test support for the game: output capture and the reference screen bytes.
#include "game/game_test_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace zn::game::testsupport {
namespace {

std::string FileRead(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string bytes;
  char chunk[4096];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    bytes.append(chunk, got);
  }
  return bytes;
}

std::string Repeat(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) {
    text += piece;
  }
  return text;
}

}  // namespace

const char* const kHandNames[4] = {"", "Rock", "Paper", "Scissors"};

const char* const kHandLines[4][6] = {
    {"", "", "", "", "", ""},
    {"    _______", "---'   ____)", "      (_____)", "      (_____)", "      (____)",
     "---.__(___)"},
    {"    ________", "---'    ____)___", "          ______)", "          _______)",
     "         _______)", "---.__________)"},
    {"    __________", "---'   ____)__)", "          ______)", "       __________)", "      (____)",
     "---.__(___)"},
};

std::string At(int64_t column, int64_t row, const std::string& text) {
  return "\x1b[" + std::to_string(row) + ";" + std::to_string(column) + "f" + text;
}

std::string StdoutCapture(const std::function<void()>& body) {
  std::fflush(stdout);
  std::FILE* sink = std::tmpfile();
  if (sink == nullptr) {
    return "<no temporary file>";
  }
  const int saved = ::dup(STDOUT_FILENO);
  ::dup2(::fileno(sink), STDOUT_FILENO);
  body();
  std::fflush(stdout);
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  std::string bytes = FileRead(sink);
  std::fclose(sink);
  return bytes;
}

StdinFromNull::StdinFromNull() : saved_(::dup(STDIN_FILENO)) {
  const int null = ::open("/dev/null", O_RDONLY);
  ::dup2(null, STDIN_FILENO);
  ::close(null);
  std::clearerr(stdin);
}

StdinFromNull::~StdinFromNull() {
  ::dup2(saved_, STDIN_FILENO);
  ::close(saved_);
  std::clearerr(stdin);
}

std::string ExpectedTitleBar() {
  const std::string edge = Repeat("━", 78);
  return At(1, 1, "┏" + edge + "┓") + At(1, 2, "┃") + At(80, 2, "┃") + At(1, 3, "┗" + edge + "┛") +
         At(2, 2, std::string(78, ' ')) + At(3, 2, "Rock, Paper, Scissors");
}

std::string ExpectedTitleScreen() {
  return "\x1b[2J" + ExpectedTitleBar() + At(61, 2, "Press ESC to Quit.");
}

std::string ExpectedInstructions() {
  return At(10, 20, "Choose: 1 = Rock, 2 = Paper, 3 = Scissors") +
         At(10, 22, "Rock defeats Scissors. Scissors defeats Paper. Paper defeats Rock.");
}

std::string ExpectedRound(int64_t player, int64_t computer) {
  std::string bytes;
  for (int row = 4; row <= 25; ++row) {
    bytes += At(0, row, std::string(80, ' '));
  }
  bytes += At(5, 6, kHandNames[player]) + At(45, 6, kHandNames[computer]);
  for (int line = 0; line < 6; ++line) {
    bytes +=
        At(5, 8 + line, kHandLines[player][line]) + At(45, 8 + line, kHandLines[computer][line]);
  }
  return bytes;
}

std::string ExpectedClosing() {
  // The cursor is left at the start of the row below, where the shell's prompt goes.
  return "\x1b[2J" + At(56, 22, "Thanks for playing!") + At(1, 23, "");
}

int64_t ReferenceWinner(int64_t player, int64_t computer) {
  const int64_t ahead = ((player - computer) % 3 + 3) % 3;
  return ahead == 0 ? 0 : (ahead == 1 ? 1 : -1);
}

}  // namespace zn::game::testsupport
