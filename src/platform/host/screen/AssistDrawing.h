#pragma once
// Drawing of the plot panels, switches and steppers, beside the composer's other views.
#include "media/CGGeometry.h"

class UIView;
struct ImDrawList;

namespace host {

// Draws `view` into `list` at `frame` (root points) when it is one of these kinds;
// false for any other view. Main thread, inside a composition.
bool drawAssistView(ImDrawList& list, const UIView& view, CGRect frame);

} // namespace host
