// The camera face: devices listed into the face's `data`, the selected
// device previewed into its `image`, frames grabbed as image! values.
//
// A camera face's window (class KivCamera) owns one camera record here,
// kept by window number: the devices found when the window was made, the
// stream of the open device and its frame (capture.h). Frames reach the
// GUI thread as WM_FRAME_READY messages posted by the capture thread; the
// window procedure takes each into the face's `image` (a new image! when
// `image` is none or holds a frame of another size, else written into the
// one the camera put there; an image the program put there is left alone)
// and wants the next one while the preview runs, so frames keep coming.
//
// install() registers the KivCamera procedure, a widget row that makes a
// `camera` face a KivCamera window, and the window layer's camera hooks
// (gui/window/camera_hooks.h). TABLE is the routine object
// `routine-table 'camera`: devices, select, run, grab and info over a
// camera window.
#pragma once

#include <cstdint>

#include "gui/window/camera_hooks.h"
#include "library/routine_table.h"

namespace kiv::gui::camera {

void install();

// The place of the preview in a client area of width x height for a video
// of aspect ratio `aspect` (width / height): as large as fits, centred.
using Placement = camera_hooks::Placement;
Placement fit(double aspect, int32_t width, int32_t height);

extern const routine::Table TABLE;

}  // namespace kiv::gui::camera
