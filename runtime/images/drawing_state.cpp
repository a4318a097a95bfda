// The drawing library's output state and its reset.
//
// The reset is the one place where drawing gives its platform objects back: everything a drawing
// operation stores in the state is owned by it, so after a reset the state holds no platform
// object and no heap memory and can be used again.
#include <cstdint>
#include <cstring>

#include "runtime/containers/containers.h"
#include "runtime/images/images.h"
#include "runtime/memory/memory.h"
#include "system/desktop/screens.h"

namespace zn {
namespace {

ThreadSlot drawing_slot = nullptr;

// The slot's destructor, run when the slot is freed.
void DrawingStateSlotDestructor(void* block) {
  DrawingStateReset(static_cast<DrawingState*>(block));
}

void DrawingStateReleaseItems(DrawingState* state) {
  while (state->saved_items != nullptr) {
    SavedDrawingItem* item = state->saved_items;
    state->saved_items = item->next;
    if (item->image != nullptr) {
      desktop::CGImageRelease(item->image);
    }
    SizedFree(item->buffers[0]);
    SizedFree(item->buffers[1]);
    SizedFree(item);
  }
}

}  // namespace

void DrawingStateInit() {
  if (drawing_slot != nullptr) {
    return;  // the block lives until the library ends
  }
  drawing_slot = ThreadSlotCreate(static_cast<int32_t>(sizeof(DrawingState)), nullptr,
                                  DrawingStateSlotDestructor);
}

void DrawingStateEnd() {
  ThreadSlotFree(drawing_slot);
  drawing_slot = nullptr;
}

DrawingState* DrawingStateCurrent() {
  return drawing_slot == nullptr ? nullptr
                                 : static_cast<DrawingState*>(ThreadSlotGet(drawing_slot));
}

void DrawingStateClearFill(DrawingState* state) {
  if (state->gradient != nullptr) {
    desktop::CGGradientRelease(state->gradient);
    state->gradient = nullptr;
  }
  if (state->image != nullptr) {
    desktop::CGImageRelease(state->image);
    state->image = nullptr;
  }
  state->transform_value = nullptr;
  state->buffer_flag = 0;
  state->image_flag = 0;
  state->image_value = nullptr;
  state->image_value_flag = 0;
}

void DrawingStateReset(DrawingState* state) {
  if (state == nullptr) {
    return;
  }
  DrawingStateClearFill(state);
  if (state->context != nullptr) {
    // Ending the drawing: what was drawn goes out, and the context gets its text matrix back
    // before the starter's hook sees it.
    desktop::CGContextFlush(state->context);
    desktop::CGContextSetTextMatrix(state->context, state->saved_text_matrix);
    if (state->end_hook != nullptr) {
      state->end_hook(state);
    }
    state->context = nullptr;
    state->end_hook = nullptr;
    state->end_hook_value = nullptr;
  }
  DrawingStateReleaseItems(state);
  if (state->colour_space != nullptr) {
    desktop::CGColorSpaceRelease(state->colour_space);
    state->colour_space = nullptr;
  }
  for (void*& buffer : state->buffers) {
    SizedFree(buffer);
    buffer = nullptr;
  }
  state->context_value = nullptr;
  state->hook_after_value = nullptr;
  for (desktop::CGAffineTransform& transform : state->transforms) {
    transform = desktop::CGAffineTransformIdentity;
  }
  state->sixth_transform = desktop::CGAffineTransformIdentity;
  state->transform_flag = 0;
  state->final_flag = 0;
  std::memset(state->drawing_values, 0, sizeof state->drawing_values);
}

}  // namespace zn
