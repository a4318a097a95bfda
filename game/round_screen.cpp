// The play area of a round: rows 4 to 25 blanked, both hands drawn side by side with their names,
// the player's on the left, the computer's on the right, both pointing the same way.
#include <cstdint>

#include "game/game.h"
#include "runtime/strings/strings.h"

namespace zn::game {
namespace {

constexpr int8_t kPlayerColumn = 5;
constexpr int8_t kComputerColumn = 45;
constexpr int8_t kNameRow = 6;
constexpr int8_t kFirstArtRow = 8;
constexpr int32_t kArtLines = 6;

void PrintHandName(int64_t choice, int8_t column) {
  TempTextScope name;
  PrintAt(HandName(choice, name.Start()), column, kNameRow);
}

// Line `n` (1 = first) of a hand's art. A choice that names no hand has no art: its lines are
// empty rather than read from outside the array.
void PrintArtLine(int64_t choice, int32_t n, int8_t column) {
  const bool known = HandArt() != nullptr && choice >= 1 && choice <= 3;
  const char16_t* art = known ? HandArt()[choice] : nullptr;
  TempTextScope line;
  StringFieldAt(art, n, u"\n", line.Start());
  PrintAt(TempTextAddress(line.Start()), column, static_cast<int8_t>(kFirstArtRow + n - 1));
}

}  // namespace

void ClearArea(int64_t column, int64_t first_row, int64_t width, int64_t extra_rows) {
  for (int64_t k = 0; k <= extra_rows; ++k) {
    TempTextScope spaces;
    TempTextAppendSpaces(static_cast<int32_t>(width), spaces.Start());
    // The row is truncated to 8 bits; summed unsigned so that no row number can overflow.
    const uint64_t row = static_cast<uint64_t>(first_row) + static_cast<uint64_t>(k);
    PrintAt(TempTextAddress(spaces.Start()), static_cast<int8_t>(column), static_cast<int8_t>(row));
  }
}

char16_t* HandName(int64_t choice, int32_t offset) {
  TempTextCut(offset);
  TempTextPush();
  switch (choice) {
    case 1:
      TempTextAppend(u"Rock");
      break;
    case 2:
      TempTextAppend(u"Paper");
      break;
    case 3:
      TempTextAppend(u"Scissors");
      break;
    default:
      // Not a hand: the empty text, already terminated by the cut.
      break;
  }
  return TempTextPopPiece();
}

void DrawRound(int64_t player_choice, int64_t computer_choice) {
  // Column 0 is the terminal's column 1: the whole width of rows 4 to 25.
  ClearArea(0, 4, 80, 21);
  PrintHandName(player_choice, kPlayerColumn);
  PrintHandName(computer_choice, kComputerColumn);
  for (int32_t n = 1; n <= kArtLines; ++n) {
    PrintArtLine(player_choice, n, kPlayerColumn);
    PrintArtLine(computer_choice, n, kComputerColumn);
  }
}

}  // namespace zn::game
