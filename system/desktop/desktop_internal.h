// Internal to the desktop model: what its files share (the singletons each file owns, released by
// the test reset, and the image failure switch). Not installed.
#pragma once

#include <cstdint>

namespace zn::desktop::internal {

// The live-object count, kept by every object's construction and destruction.
void LiveObjectsAdd(int64_t delta);

// Each file's singletons go back to their first state (released where they are objects).
void FoundationReset();
void ApplicationReset();
void ScreenReset();
void ImagesReset();
void PoolsReset();
void ProcessReset();

// ImageCreationRefused: true when the failure switch refuses this image or bitmap creation.
bool ImageCreationRefused();

}  // namespace zn::desktop::internal
