#pragma once
// print-ui: the state of the screen's views as one line of JSON, keyed by the views'
// identifiers, so a script (or a test reading standard error) can check what a person
// would read off the screen.
#include <string>
#include <string_view>

class UIView;
class UIViewController;

namespace host {

// JSON text of a string, quotes included.
std::string jsonString(std::string_view text);
// JSON text of a number: the shortest form that reads back as the same value; null for
// NaN and infinities (JSON has no words for them).
std::string jsonNumber(double value);
std::string jsonNumber(float value);

// One object: labels {"text","hidden"}, sliders {"minimum","maximum","value","hidden"},
// segmented controls {"selectedSegmentIndex","hidden"}, stack views {"hidden"}, activity
// indicators {"animating","hidden"}, plot panels {"hidden"}, switches {"on","hidden"},
// steppers {"value","hidden"}, buttons {"hidden"}, each with its "frame" [x, y, width,
// height] in window points last, under its identifier in tree order (views without one
// are left out); then the window's own {"frame"} under "window"; then "hideControls" and
// "selectedFilterIndex" as the root controller reports them (null when it does not), and
// "scopes" where it reports one. Main thread.
std::string describeUi(const UIView& root, const UIViewController* controller);

} // namespace host
