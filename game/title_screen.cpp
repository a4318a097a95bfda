// The title screen: the console mode, the framed 80-column title bar over rows 1 to 3, and the
// note at its right-hand end.
//
// The frame is cut out of one separated text of box-drawing characters, so the same procedure
// draws any frame from any such set.
#include <cstdint>

#include "game/game.h"
#include "runtime/console/console.h"
#include "runtime/strings/strings.h"

namespace zn::game {
namespace {

constexpr char16_t kFieldSeparator[] = u"|";

// The fields of a frame-characters text.
constexpr int32_t kTopLeft = 1;
constexpr int32_t kHorizontal = 2;
constexpr int32_t kTopRight = 3;
constexpr int32_t kVertical = 4;
constexpr int32_t kBottomLeft = 5;
constexpr int32_t kBottomRight = 6;

// Appends field `n` at the position, so the text being built there grows by the field.
void FrameFieldAppend(const char16_t* frame, int32_t n) {
  TempTextPush();
  TempTextPush();
  StringFieldAt(frame, n, kFieldSeparator, TempTextPop());
  TempTextPop();
}

// An edge line: the `first` corner, a horizontal edge for each i from 0 up to and including
// span - 2 (none when the span is below 2), the `last` corner; taken into `line`.
void FrameLineTake(StringValue* line, const char16_t* frame, int32_t first, int64_t span,
                   int32_t last) {
  TempTextScope text;
  FrameFieldAppend(frame, first);
  for (int64_t i = 0; i <= span - 2; ++i) {
    FrameFieldAppend(frame, kHorizontal);
  }
  FrameFieldAppend(frame, last);
  TempTextTakeInto(line, text.Start());
}

}  // namespace

void DrawFrame(const char16_t* frame_chars, int8_t left, int8_t top, int8_t right, int8_t bottom) {
  StringValue frame = nullptr;
  StringDuplicate(&frame, frame_chars);
  // Computed as a signed integer wider than the coordinates, so no loop below can wrap.
  const int64_t span = static_cast<int64_t>(right) - left;
  StringValue top_line = nullptr;
  StringValue bottom_line = nullptr;
  StringValue side = nullptr;
  FrameLineTake(&top_line, frame, kTopLeft, span, kTopRight);
  FrameLineTake(&bottom_line, frame, kBottomLeft, span, kBottomRight);
  {
    TempTextScope field;
    StringFieldAt(frame, kVertical, kFieldSeparator, field.Start());
    TempTextTakeInto(&side, field.Start());
  }

  PrintAt(top_line, left, top);
  for (int row = top + 1; row <= bottom - 1; ++row) {
    PrintAt(side, left, static_cast<int8_t>(row));
    PrintAt(side, right, static_cast<int8_t>(row));
  }
  PrintAt(bottom_line, left, bottom);

  StringRelease(side);
  StringRelease(bottom_line);
  StringRelease(top_line);
  StringRelease(frame);
}

void DrawTitleBar(const char16_t* title, int64_t clear_first) {
  StringValue own = nullptr;
  StringDuplicate(&own, title);
  if (clear_first == 1) {
    ConsoleClear();
  }
  DrawFrame(BoxChars(), 1, 1, 80, 3);
  {
    // Blanks the bar between its two vertical edges.
    TempTextScope spaces;
    TempTextAppendSpaces(78, spaces.Start());
    PrintAt(TempTextAddress(spaces.Start()), 2, 2);
  }
  PrintAt(own, 3, 2);
  StringRelease(own);
}

void ShowTitleScreen(const char16_t* title) {
  StringValue own = nullptr;
  StringDuplicate(&own, title);
  ConsoleOpen();
  // Until cursor control is on, clearing and cursor placement write nothing.
  ConsoleSetCursorControl(1);
  ConsoleClear();
  if (StringEqual(own, u"") == 0) {
    DrawTitleBar(own, 0);
  }
  StringRelease(own);
}

void PrintOnTitleBarRight(const char16_t* text) {
  StringValue own = nullptr;
  StringDuplicate(&own, text);
  // The last character stands in column 78, just inside the frame.
  PrintAt(own, static_cast<int8_t>(79 - StringLength(own)), 2);
  StringRelease(own);
}

}  // namespace zn::game
