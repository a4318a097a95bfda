// The game's own procedures: its data, the winner rule, the screens and the polling loop. The
// program's body (main.cpp) is GamePlay; tests call the procedures one by one.
//
// Coordinates are terminal columns and rows counted from 1 and handed to the console unchanged;
// in PrintAt and DrawFrame they are signed 8-bit values, and a computed column is truncated to 8
// bits before it is used. Every procedure that takes a string works on a private copy made on
// entry and released on every exit. The choices are numbered 1 rock, 2 paper, 3 scissors
// everywhere.
#pragma once

#include <cstdint>

#include "runtime/strings/strings.h"

namespace zn::game {

// ---------------------------------------------------------------------------------------------
// The game's data, which lives for the whole run.

// BoxChars: the frame characters, seven fields separated by "|": top-left corner, horizontal
// edge, top-right corner, vertical edge, bottom-left corner, bottom-right corner, and a cross the
// game does not draw.
StringValue& BoxChars();

// HandArt: a string array with indices 0 to 3; index 1 rock, 2 paper, 3 scissors, each six lines
// joined by a line feed; index 0 stays empty.
StringValue*& HandArt();

// GameDataInit: BoxChars gets the frame characters; HandArt is created afresh (the array it held
// is freed first) and filled with the three hands.
void GameDataInit();

// GameDataRelease: frees HandArt with its strings and BoxChars, and forgets both. The game calls
// it before its closing screen, so that nothing of its own is left to the exit.
void GameDataRelease();

// ---------------------------------------------------------------------------------------------
// The winner rule and the computer's hand.

// DecideWinner: 0 for a tie, 1 when the player wins, -1 when the computer wins.
int64_t DecideWinner(int64_t player_choice, int64_t computer_choice);

// PickComputerChoice: 1, 2 or 3, each about a third of the time.
int64_t PickComputerChoice();

// ---------------------------------------------------------------------------------------------
// Screens.

// PrintAt: the cursor to (column, row), then the text.
void PrintAt(const char16_t* text, int8_t column, int8_t row);

// ShowTitleScreen: applies the console mode, turns cursor control on, clears the screen and,
// unless the title is empty, draws the framed title bar.
void ShowTitleScreen(const char16_t* title);

// DrawTitleBar: clears the screen first when the flag is 1; the 80-column frame over rows 1 to
// 3, its inside blanked, the title from column 3 of row 2.
void DrawTitleBar(const char16_t* title, int64_t clear_first);

// DrawFrame: a frame over columns left to right and rows top to bottom, inclusive, from the
// characters of a BoxChars-shaped text. Right - left - 1 horizontal edges on each edge line (none
// below 2); vertical edges only on the rows strictly between top and bottom.
void DrawFrame(const char16_t* frame_chars, int8_t left, int8_t top, int8_t right, int8_t bottom);

// PrintOnTitleBarRight: the text on row 2, ending in column 78.
void PrintOnTitleBarRight(const char16_t* text);

// ClearArea: `width` spaces from `column` on each row from `first_row` to first_row +
// extra_rows.
void ClearArea(int64_t column, int64_t first_row, int64_t width, int64_t extra_rows);

// HandName: "Rock", "Paper" or "Scissors" for 1 to 3, the empty text for anything else, written at
// `offset` of the TempStringBuffer by the result-offset convention; returns its address.
char16_t* HandName(int64_t choice, int32_t offset);

// DrawRound: blanks rows 4 to 25 and draws both hands side by side with their names, the
// player's from column 5, the computer's from column 45. Choices from 1 to 3.
void DrawRound(int64_t player_choice, int64_t computer_choice);

// ShowClosingScreen: clears the screen, prints the text ending in column 74 of row 22 and leaves
// the cursor at the start of row 23, so that the shell's prompt starts on a line of its own;
// closes the console and ends the program (which gives the terminal back). In a window smaller
// than the layout the text stands from column 1 of row 1, cut to the width, and the cursor goes
// to row 2. Does not return.
[[noreturn]] void ShowClosingScreen(const char16_t* text);

// ---------------------------------------------------------------------------------------------
// The window. The layout needs at least 80 x 25; a window whose size cannot be read counts as
// large enough.

// WindowSizeRead: reads the window's size; at start and after each change of it.
void WindowSizeRead();

// WindowLargeEnough: 1 when the window last read has at least 80 columns and 25 rows, or its size
// is unknown; else 0.
int32_t WindowLargeEnough();

// PrintFitted: the text from column 1 of the row, cut to the window's width.
void PrintFitted(const char16_t* text, int8_t row);

// WindowRequestShow: clears the screen and asks, in one line from column 1 of row 1 that fits the
// window's width, for a window of at least 80 x 25.
void WindowRequestShow();

// ---------------------------------------------------------------------------------------------
// The flow.

// GameSetUp: the data, the title screen with its right-hand note, and a fresh score.
void GameSetUp();

// GameTurn: one turn of the polling loop: the whole screen drawn again first when the console
// asks for it (after a stop and continue, or a change of the window's size); the instruction
// lines, at most one key read, a round when the key is "1", "2" or "3", and the pause. ESC, or a
// standard input that can give no more keys, asks to quit. While the window is too small, only
// ESC (or the end of input) counts and nothing is drawn.
void GameTurn();

// ScreenRedraw: reads the window's size and draws the whole screen as it stands: the title bar
// and its note, the last round's hands, result and score if a round was played (the turn prints
// the instruction lines next); or the request for a larger window.
void ScreenRedraw();

// GameCanStart: 1 when the terminal can show the game; otherwise writes one line saying why on
// standard error and returns 0, having changed nothing on the terminal.
int32_t GameCanStart();

// GamePlay: set-up, turns until one asks to quit, then the closing screen, which ends the
// program; on a terminal that cannot place the cursor, ends the program with status 1 at once.
// Does not return.
[[noreturn]] void GamePlay();

}  // namespace zn::game
