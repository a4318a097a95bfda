// Tests of the drawing state: the slot, and a reset that ends a drawing and gives every platform
// object, buffer and saved item back.
#include <gtest/gtest.h>

#include <cstdint>

#include "runtime/images/images.h"
#include "runtime/memory/memory.h"
#include "system/desktop/desktop_testing.h"
#include "system/desktop/object.h"
#include "system/desktop/screens.h"
#include "tests/support/heap_checks.h"

namespace zn {
namespace {

namespace dk = desktop;

int end_hook_calls = 0;
DrawingState* end_hook_state = nullptr;

void CountEndHook(DrawingState* state) {
  ++end_hook_calls;
  end_hook_state = state;
  EXPECT_NE(state->context, nullptr) << "the hook sees the context still set";
}

TEST(DrawingStateInit, CreatesOneZeroedStateOnce) {
  DrawingStateInit();
  DrawingState* state = DrawingStateCurrent();
  ASSERT_NE(state, nullptr);
  DrawingStateInit();
  EXPECT_EQ(DrawingStateCurrent(), state) << "a second start keeps the first block";
}

TEST(DrawingStateReset, EndsTheDrawingAndReleasesEverything) {
  DrawingStateInit();
  DrawingState* state = DrawingStateCurrent();
  ASSERT_NE(state, nullptr);
  const int64_t objects = dk::DesktopLiveObjects();
  const test::LiveBlockGuard blocks;

  dk::CGColorSpace* space = dk::CGColorSpaceCreateDeviceRGB();
  dk::CGContext* context = dk::CGBitmapContextCreate(nullptr, 4, 4, 8, 16, space, 0);
  // Handed to the state before any check, so that a failed check leaves them to the reset.
  state->context = context;
  state->colour_space = space;
  ASSERT_NE(context, nullptr);
  state->saved_text_matrix = dk::CGAffineTransform{2, 0, 0, 2, 5, 6};
  state->end_hook = CountEndHook;
  state->end_hook_value = &end_hook_calls;
  state->gradient = dk::CGGradientCreateWithColorComponents(space, nullptr, nullptr, 0);
  state->image = dk::CGImageCreateForSize(3, 3);
  state->buffers[0] = SizedAlloc(32);
  state->buffers[1] = SizedAlloc(8);
  for (int i = 0; i < 3; ++i) {
    auto* item = static_cast<SavedDrawingItem*>(SizedAllocZeroed(sizeof(SavedDrawingItem)));
    ASSERT_NE(item, nullptr);
    item->image = i == 1 ? nullptr : dk::CGImageCreateForSize(1, 1);
    item->buffers[0] = SizedAlloc(4);
    item->next = state->saved_items;
    state->saved_items = item;
  }
  state->transforms[2].a = 7;
  state->sixth_transform.ty = 9;
  state->transform_flag = 1;
  state->transform_value = state;
  state->image_flag = state->image_value_flag = state->buffer_flag = state->final_flag = 1;
  state->image_value = state->context_value = state->hook_after_value = state;
  state->drawing_values[43] = 1;
  dk::objc_retain(context);  // to look at it after the reset

  end_hook_calls = 0;
  DrawingStateReset(state);
  EXPECT_EQ(end_hook_calls, 1);
  EXPECT_EQ(end_hook_state, state);
  EXPECT_EQ(context->flushCount(), 1);
  EXPECT_TRUE(dk::CGAffineTransformEqualToTransform(context->textMatrix(),
                                                    dk::CGAffineTransform{2, 0, 0, 2, 5, 6}));
  // The context belongs to whoever started the drawing: the reset lets it go, without a release.
  dk::CGContextRelease(context);
  dk::CGContextRelease(context);
  EXPECT_EQ(dk::DesktopLiveObjects(), objects) << "every graphics object released";
  EXPECT_EQ(blocks.Change(), 0) << "every buffer and saved item freed";
  EXPECT_EQ(state->context, nullptr);
  EXPECT_EQ(state->end_hook, nullptr);
  EXPECT_EQ(state->end_hook_value, nullptr);
  EXPECT_EQ(state->colour_space, nullptr);
  EXPECT_EQ(state->gradient, nullptr);
  EXPECT_EQ(state->image, nullptr);
  EXPECT_EQ(state->saved_items, nullptr);
  EXPECT_EQ(state->buffers[0], nullptr);
  EXPECT_EQ(state->buffers[1], nullptr);
  for (const dk::CGAffineTransform& t : state->transforms) {
    EXPECT_TRUE(dk::CGAffineTransformEqualToTransform(t, dk::CGAffineTransformIdentity));
  }
  EXPECT_TRUE(
      dk::CGAffineTransformEqualToTransform(state->sixth_transform, dk::CGAffineTransformIdentity));
  EXPECT_EQ(state->transform_flag, 0);
  EXPECT_EQ(state->transform_value, nullptr);
  EXPECT_EQ(state->image_flag + state->image_value_flag + state->buffer_flag + state->final_flag,
            0);
  EXPECT_EQ(state->image_value, nullptr);
  EXPECT_EQ(state->context_value, nullptr);
  EXPECT_EQ(state->hook_after_value, nullptr);
  EXPECT_EQ(state->drawing_values[43], 0);

  // A second reset finds nothing to release and calls no hook.
  DrawingStateReset(state);
  EXPECT_EQ(end_hook_calls, 1);
  DrawingStateReset(nullptr);
}

TEST(DrawingStateClearFill, ReleasesTheGradientAndTheImageOnly) {
  DrawingStateInit();
  DrawingState* state = DrawingStateCurrent();
  ASSERT_NE(state, nullptr);
  const int64_t objects = dk::DesktopLiveObjects();
  dk::CGColorSpace* space = dk::CGColorSpaceCreateDeviceRGB();
  state->colour_space = space;
  state->gradient = dk::CGGradientCreateWithColorComponents(space, nullptr, nullptr, 0);
  state->image = dk::CGImageCreateForSize(2, 2);
  state->image_flag = state->buffer_flag = state->image_value_flag = 1;
  state->transform_value = state->image_value = state;
  DrawingStateClearFill(state);
  EXPECT_EQ(state->gradient, nullptr);
  EXPECT_EQ(state->image, nullptr);
  EXPECT_EQ(state->image_flag + state->buffer_flag + state->image_value_flag, 0);
  EXPECT_EQ(state->transform_value, nullptr);
  EXPECT_EQ(state->image_value, nullptr);
  EXPECT_EQ(state->colour_space, space) << "the colour space stays";
  EXPECT_EQ(dk::DesktopLiveObjects(), objects + 1);
  DrawingStateReset(state);
  EXPECT_EQ(dk::DesktopLiveObjects(), objects);
}

}  // namespace
}  // namespace zn
