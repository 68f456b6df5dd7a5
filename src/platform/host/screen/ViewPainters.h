#pragma once
// How each kind of view looks: the painters the screen composer calls for the views of the
// tree, in root points, onto a Dear ImGui draw list. They read the views' models and keep
// nothing between frames.
#include <imgui.h>

#include <string>

#include "media/CGGeometry.h"

class UILabel;
class UIButton;
class UISlider;
class UISegmentedControl;
class UIStackView;
class UIActivityIndicatorView;

namespace host {

constexpr ImU32 colour(int r, int g, int b, int a = 255) {
    return IM_COL32(r, g, b, a);
}
constexpr ImU32 white = colour(255, 255, 255), black = colour(0, 0, 0);
constexpr ImU32 tint = colour(10, 132, 255); // the controls' accent blue

inline ImVec2 point(double x, double y) {
    return ImVec2(static_cast<float>(x), static_cast<float>(y));
}

// Text with a soft shadow, readable over any picture; `clip` may be null.
void drawText(ImDrawList& list, float size, ImVec2 at, ImU32 colour, const std::string& text,
              const ImVec4* clip);
ImVec2 textSize(float size, const std::string& text);

void drawLabel(ImDrawList& list, const UILabel& label, CGRect frame);
// A titled button, or the camera's shutter: a white disc inside a ring.
void drawButton(ImDrawList& list, const UIButton& button, CGRect frame);
void drawSlider(ImDrawList& list, const UISlider& slider, CGRect frame);
void drawSegments(ImDrawList& list, const UISegmentedControl& control, CGRect frame);
// A panel's backdrop, with where a scrolling one stands.
void drawStackPanel(ImDrawList& list, const UIStackView& stack, CGRect frame);
void drawSpinner(ImDrawList& list, const UIActivityIndicatorView& spinner, CGRect frame);

} // namespace host
