// events: binding callbacks to events, posting and dispatching them, and unbinding during a
// dispatch, in a small scripted session of a text editor's events.
//
//   events
//
// Prints one line for every callback that runs. Three event types: a key typed into the editor
// (subtype: the character; a callback filtered on Escape runs for that key only), a file saved
// (data: the file name, owned by the event) and the window closing.
//
// What it shows of the runtime: EventBind with and without a subtype filter and for one window;
// immediate events, whose callbacks run inside EventPost; deferred events, queued and run at
// EventFetch; data that the event owns and frees through its free callback; a callback that
// unbinds itself during the dispatch that runs it (it runs once), and one that unbinds another
// callback of the same dispatch (that one does not run).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/core/core.h"
#include "runtime/events/events.h"

namespace {

constexpr int32_t kKeyTyped = 1000;
constexpr int32_t kFileSaved = 1001;
constexpr int32_t kWindowClosing = 1002;
constexpr int64_t kWindow = 7;
constexpr int64_t kEditor = 1;  // the object the keys are typed into

void OnAnyKey() {
  const zn::CurrentEvent& event = zn::EventCurrent();
  const auto window = static_cast<long long>(event.window);
  if (event.subtype > ' ' && event.subtype < 127) {
    std::printf("key '%c' typed in window %lld\n", static_cast<char>(event.subtype), window);
  } else {
    std::printf("key %lld typed in window %lld\n", static_cast<long long>(event.subtype), window);
  }
}

void OnEscape() {
  std::printf("escape: leaving insert mode\n");
}

// Runs for the first key only: it unbinds itself while the dispatch that runs it goes on.
void OnFirstKey() {
  std::printf("first key of the session\n");
  zn::EventUnbind(kKeyTyped, OnFirstKey);
}

void OnSaved() {
  std::printf("saved %s\n", static_cast<const char*>(zn::EventCurrent().data));
}

void FreeFileName(void* data) {
  std::printf("file name %s freed\n", static_cast<char*>(data));
  std::free(data);
}

void OnClosingAskToSave() {
  std::printf("window %lld closing: nothing left to save\n",
              static_cast<long long>(zn::EventCurrent().window));
}

// Bound before OnClosingAskToSave on a more specific key, so it runs first in the dispatch and
// unbinds the other, which then does not run.
void OnClosingDiscard() {
  std::printf("window %lld closing: discarding changes\n",
              static_cast<long long>(zn::EventCurrent().window));
  zn::EventUnbind(kWindowClosing, OnClosingAskToSave);
}

char* Copy(const char* text) {
  const size_t size = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(std::malloc(size));
  if (copy != nullptr) {
    std::memcpy(copy, text, size);
  }
  return copy;
}

}  // namespace

int main() {
  zn::RuntimeGuard runtime;

  const bool bound = zn::EventBind(kKeyTyped, OnAnyKey, -1, -1, -1) == 1 &&
                     zn::EventBind(kKeyTyped, OnFirstKey, -1, -1, -1) == 1 &&
                     zn::EventBind(kKeyTyped, OnEscape, -1, kEditor, 27) == 1 &&
                     zn::EventBind(kFileSaved, OnSaved, -1, -1, -1) == 1 &&
                     zn::EventBind(kWindowClosing, OnClosingDiscard, kWindow, -1, -1) == 1 &&
                     zn::EventBind(kWindowClosing, OnClosingAskToSave, -1, -1, -1) == 1;
  if (!bound) {
    std::fputs("events: could not bind the callbacks\n", stderr);
    return 1;
  }

  // Immediate events: the callbacks run inside EventPost.
  std::printf("-- typing\n");
  for (const char key : {'h', 'i', '\x1b'}) {
    zn::EventPostSimple(kKeyTyped, kEditor, kWindow, key);
  }

  // Immediate events are queued as well, for a program that looks at them afterwards; their
  // callbacks have run, and fetching them does not run them again.
  std::printf("%lld events queued\n", static_cast<long long>(zn::EventQueueLength()));
  while (zn::EventFetch() != zn::EventTypeNone) {
  }

  // Deferred events wait in the queue until the program fetches them.
  std::printf("-- queueing\n");
  zn::EventPost(kFileSaved, 0, kWindow, 0, Copy("notes.txt"), FreeFileName, zn::EventDeferred);
  zn::EventPost(kKeyTyped, kEditor, kWindow, 'x', nullptr, nullptr, zn::EventDeferred);
  zn::EventPost(kWindowClosing, 0, kWindow, 0, nullptr, nullptr, zn::EventDeferred);
  std::printf("%lld events queued\n", static_cast<long long>(zn::EventQueueLength()));
  std::printf("-- fetching\n");
  while (zn::EventFetch() != zn::EventTypeNone) {
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
