// Test support for the game: capturing what the screens write, and an independent description
// of the screen's bytes to compare against.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tests/support/pty_child.h"

namespace zn::game::testsupport {

// At: the bytes of PrintAt at (column, row): the cursor placement, row first, then the text.
std::string At(int64_t column, int64_t row, const std::string& text);

// StdoutCapture: runs `body` with standard output sent to a temporary file and returns the bytes
// it wrote.
std::string StdoutCapture(const std::function<void()>& body);

// StdinFromNull: standard input reads /dev/null while the guard lives, so that nothing a test
// does can change the attributes of the terminal the tests were started from.
class StdinFromNull {
 public:
  StdinFromNull();
  ~StdinFromNull();
  StdinFromNull(const StdinFromNull&) = delete;
  StdinFromNull& operator=(const StdinFromNull&) = delete;

 private:
  int saved_;
};

// Children run through the kit's harness (ChildRun: input from a pipe, output to a file).
using test::ChildOutcome;
using test::ChildRun;
using test::kChildReturned;

// The screen as the game should draw it, written out independently of the game's code.
extern const char* const kHandNames[4];
extern const char* const kHandLines[4][6];
std::string ExpectedTitleBar();      // the frame, the blanked bar and the title
std::string ExpectedTitleScreen();   // clear, title bar and the note on the right
std::string ExpectedInstructions();  // the two lines every turn prints
std::string ExpectedRound(int64_t player, int64_t computer);  // DrawRound's bytes
std::string ExpectedClosing();  // clear, the closing text, the cursor to the row below

// ReferenceWinner: the winner rule written differently: the player wins when his hand is one
// step ahead of the computer's in the cycle rock, paper, scissors.
int64_t ReferenceWinner(int64_t player, int64_t computer);

}  // namespace zn::game::testsupport
