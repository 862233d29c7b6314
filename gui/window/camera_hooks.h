// The camera face's way into the window layer.
//
// The camera layer (gui/camera, above this one) fills these at start-up;
// until then they are null and a `camera` face is an empty window. A
// camera face's window is of class KivCamera, whose procedure the camera
// layer registers: it lists the devices into the face's `data` and opens
// `selected` at WM_CREATE, closes the device at WM_DESTROY and takes each
// ready frame into the face's `image` at WM_USER + 1, a message its
// capture thread posts (queue::post_from_thread). The update path and
// face-to-image call the other two:
//   select  the face's `selected` changed: none closes the device, an
//           integer n opens device n and starts its preview (access
//           cannot-open for a number outside the device list);
//   grab    face-to-image of a camera face: a new image! of the next frame
//           in *out, none when no frame came within 3 seconds.
// The window layer's painting calls the third:
//   fit     the place of the preview in a client area of width x height
//           for a video of aspect ratio `aspect` (width / height): as
//           large as fits, centred. Until it is set the image fills the
//           face.
// After a new frame reached the face's `image` the camera layer
// invalidates the window (paint::invalidate).
#pragma once

#include <cstdint>

#include "gui/window/messages.h"
#include "runtime/cell.h"

namespace kiv::gui::camera_hooks {

inline void (*select)(Hwnd, const Cell* selected) = nullptr;
inline void (*grab)(Hwnd, Cell* out) = nullptr;
struct Placement {
    int32_t x, y, width, height;
};
inline Placement (*fit)(double aspect, int32_t width, int32_t height) = nullptr;

}  // namespace kiv::gui::camera_hooks
