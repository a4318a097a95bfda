// The game's data: the frame characters and the three hands' ASCII art.
//
// Both live for the whole game; the game releases them before its closing screen. The hands are a
// string array of four elements so that the choice (1 rock, 2 paper, 3 scissors) indexes it
// directly; element 0 stays empty.
#include <cstdint>

#include "game/game.h"
#include "runtime/memory/memory.h"
#include "runtime/memory/structures.h"
#include "runtime/strings/strings.h"

namespace zn::game {
namespace {

StringValue box_chars = nullptr;
StringValue* hand_art = nullptr;

// One string field at offset 0: each element owns its text, so freeing the array frees them.
constexpr int64_t kHandArtLayout[] = {0, kLayoutEnd};
constexpr uint64_t kHandArtElementSize = 8;
constexpr int64_t kHandArtCount = 4;
constexpr int32_t kStringArrayType = 8;

// Six lines each, joined by a single line feed, none after the last; leading spaces count.
constexpr char16_t kRockArt[] =
    u"    _______\n"
    u"---'   ____)\n"
    u"      (_____)\n"
    u"      (_____)\n"
    u"      (____)\n"
    u"---.__(___)";
constexpr char16_t kPaperArt[] =
    u"    ________\n"
    u"---'    ____)___\n"
    u"          ______)\n"
    u"          _______)\n"
    u"         _______)\n"
    u"---.__________)";
constexpr char16_t kScissorsArt[] =
    u"    __________\n"
    u"---'   ____)__)\n"
    u"          ______)\n"
    u"       __________)\n"
    u"      (____)\n"
    u"---.__(___)";

}  // namespace

StringValue& BoxChars() {
  return box_chars;
}

StringValue*& HandArt() {
  return hand_art;
}

void GameDataInit() {
  StringAssign(&box_chars, u"┏|━|┓|┃|┗|┛|╋");
  ArrayCreate(kHandArtElementSize, kHandArtCount, kStringArrayType, kHandArtLayout, &hand_art);
  // Without the array there is nothing to draw a hand from; the game cannot go on.
  if (hand_art == nullptr) {
    FatalExit("out of memory (hand art)");
  }
  StringAssign(&hand_art[1], kRockArt);
  StringAssign(&hand_art[2], kPaperArt);
  StringAssign(&hand_art[3], kScissorsArt);
}

void GameDataRelease() {
  ArrayFree(hand_art);
  hand_art = nullptr;
  StringAssign(&box_chars, nullptr);
}

}  // namespace zn::game
