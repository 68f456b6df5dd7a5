#include "host/screen/ViewPainters.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>

#include "ui/UIControls.h"

namespace host {
namespace {
constexpr float titlePoints = 13, smallestTitlePoints = 9, buttonPoints = 13;
constexpr ImU32 shadow = colour(0, 0, 0, 160);

ImU32 colourOf(const UIColor& c, double alpha) {
    auto byte = [](double v) { return static_cast<int>(std::clamp(v, 0.0, 1.0) * 255 + 0.5); };
    return IM_COL32(byte(c.red), byte(c.green), byte(c.blue), byte(c.alpha * alpha));
}

// A view's own opacity times its ancestors'.
double opacity(const UIView& view) {
    double alpha = 1;
    for (const UIView* v = &view; v; v = v->superview())
        alpha *= std::clamp(v->alpha(), 0.0, 1.0);
    return alpha;
}

ImVec4 clipOf(CGRect f) {
    return ImVec4(static_cast<float>(f.origin.x), static_cast<float>(f.origin.y),
                  static_cast<float>(f.origin.x + f.size.width),
                  static_cast<float>(f.origin.y + f.size.height));
}
} // namespace

void drawText(ImDrawList& list, float size, ImVec2 at, ImU32 colour, const std::string& text,
              const ImVec4* clip) {
    ImFont* font = ImGui::GetFont();
    list.AddText(font, size, ImVec2(at.x + 1, at.y + 1), shadow, text.c_str(), text.c_str() + text.size(), 0,
                 clip);
    list.AddText(font, size, at, colour, text.c_str(), text.c_str() + text.size(), 0, clip);
}

ImVec2 textSize(float size, const std::string& text) {
    return ImGui::GetFont()->CalcTextSizeA(size, 1e9f, 0, text.c_str(), text.c_str() + text.size());
}

void drawLabel(ImDrawList& list, const UILabel& label, CGRect f) {
    const double alpha = opacity(label);
    if (label.backgroundColor().alpha > 0)
        list.AddRectFilled(point(f.origin.x, f.origin.y),
                           point(f.origin.x + f.size.width, f.origin.y + f.size.height),
                           colourOf(label.backgroundColor(), alpha), 6);
    if (label.text().empty())
        return;
    const auto points = static_cast<float>(label.fontSize());
    const ImVec2 size = textSize(points, label.text());
    double x = f.origin.x;
    if (label.textAlignment() == NSTextAlignment::center)
        x += (f.size.width - size.x) / 2;
    else if (label.textAlignment() == NSTextAlignment::right)
        x += f.size.width - size.x;
    const ImVec4 clip = clipOf(f);
    drawText(list, points, point(std::max(x, f.origin.x), f.origin.y + (f.size.height - size.y) / 2),
             colourOf(label.textColor(), alpha), label.text(), &clip);
}

// Idle, a red dot in a ring; recording, a red stop square with the time recorded beside it.
void drawRecordButton(ImDrawList& list, const UIButton& button, CGRect f) {
    const ImU32 red = colour(255, 59, 48);
    const double side = std::min(f.size.height, 44.0);
    const ImVec2 centre = point(f.origin.x + side / 2, f.origin.y + f.size.height / 2);
    list.AddCircle(centre, static_cast<float>(side / 2 - 2), white, 32, 2);
    if (!button.isSelected()) {
        list.AddCircleFilled(centre, static_cast<float>(side / 2 - 7), red, 32);
        return;
    }
    const float half = static_cast<float>(side / 5);
    list.AddRectFilled(ImVec2(centre.x - half, centre.y - half), ImVec2(centre.x + half, centre.y + half),
                       red, 3);
    const ImVec2 size = textSize(buttonPoints, button.title());
    const ImVec4 clip = clipOf(f);
    drawText(list, buttonPoints, point(f.origin.x + side + 4, f.origin.y + (f.size.height - size.y) / 2), red,
             button.title(), &clip);
}

void drawButton(ImDrawList& list, const UIButton& button, CGRect f) {
    if (button.style() == UIButtonStyle::shutter) {
        const double radius = std::min(f.size.width, f.size.height) / 2;
        const ImVec2 centre = point(f.origin.x + f.size.width / 2, f.origin.y + f.size.height / 2);
        list.AddCircle(centre, static_cast<float>(radius - 2), white, 48, 3);
        list.AddCircleFilled(centre, static_cast<float>(radius - 7), white, 48);
        return;
    }
    if (button.style() == UIButtonStyle::record)
        return drawRecordButton(list, button, f);
    list.AddRectFilled(point(f.origin.x, f.origin.y),
                       point(f.origin.x + f.size.width, f.origin.y + f.size.height),
                       colour(118, 118, 128, 140), 7);
    const ImVec2 size = textSize(buttonPoints, button.title());
    const ImVec4 clip = clipOf(f);
    drawText(list, buttonPoints,
             point(f.origin.x + std::max(0.0, (f.size.width - size.x) / 2),
                   f.origin.y + (f.size.height - size.y) / 2),
             white, button.title(), &clip);
}

void drawSlider(ImDrawList& list, const UISlider& slider, CGRect f) {
    const double range = slider.maximumValue() - slider.minimumValue();
    const double fraction =
        range > 0 ? std::clamp((slider.value() - slider.minimumValue()) / range, 0.0, 1.0) : 0.0;
    const double y = f.origin.y + f.size.height / 2, left = f.origin.x, right = f.origin.x + f.size.width;
    const double thumbX = left + fraction * (right - left);
    list.AddRectFilled(point(left, y - 2), point(right, y + 2), colour(120, 120, 128, 200), 2);
    // One the camera cannot follow is grey through: no accent, no white thumb to take hold of.
    const bool enabled = slider.isEnabled();
    if (enabled)
        list.AddRectFilled(point(left, y - 2), point(thumbX, y + 2), tint, 2);
    list.AddCircleFilled(point(thumbX, y + 1), 11, colour(0, 0, 0, 90));
    list.AddCircleFilled(point(thumbX, y), 10, enabled ? white : colour(110, 110, 116));
}

void drawSegments(ImDrawList& list, const UISegmentedControl& control, CGRect f) {
    const int count = control.numberOfSegments();
    const ImVec2 topLeft = point(f.origin.x, f.origin.y),
                 bottomRight = point(f.origin.x + f.size.width, f.origin.y + f.size.height);
    list.AddRectFilled(topLeft, bottomRight, colour(118, 118, 128, 110), 7);
    if (count <= 0)
        return;
    const double width = f.size.width / count;
    for (int i = 0; i < count; ++i) {
        const double x = f.origin.x + i * width;
        if (i == control.selectedSegmentIndex())
            list.AddRectFilled(point(x + 2, f.origin.y + 2),
                               point(x + width - 2, f.origin.y + f.size.height - 2), colour(99, 99, 102), 6);
        else if (i > 0 && i - 1 != control.selectedSegmentIndex())
            list.AddLine(point(x, f.origin.y + 6), point(x, f.origin.y + f.size.height - 6),
                         colour(200, 200, 200, 90));
        // A title too long for its segment is drawn smaller, as far as it stays readable.
        const std::string& title = control.titleForSegment(i);
        const double room = width - 8, natural = textSize(titlePoints, title).x;
        const auto points = static_cast<float>(
            natural > room ? std::max<double>(smallestTitlePoints, titlePoints * room / natural)
                           : titlePoints);
        const ImVec2 size = textSize(points, title);
        const ImVec4 clip(static_cast<float>(x), static_cast<float>(f.origin.y),
                          static_cast<float>(x + width), static_cast<float>(f.origin.y + f.size.height));
        drawText(list, points, point(x + (width - size.x) / 2, f.origin.y + (f.size.height - size.y) / 2),
                 white, title, &clip);
    }
}

void drawStackPanel(ImDrawList& list, const UIStackView& stack, CGRect f) {
    list.AddRectFilled(point(f.origin.x - 6, f.origin.y - 6),
                       point(f.origin.x + f.size.width + 6, f.origin.y + f.size.height + 6),
                       colour(0, 0, 0, 110), 10);
    const double content = stack.scrolls ? stack.heightForWidth(f.size.width) : 0;
    if (content <= f.size.height || f.size.height <= 0)
        return;
    // In the panel's margin: how much of the content shows, and where.
    const double x = f.origin.x + f.size.width + 3,
                 top = f.origin.y + f.size.height * stack.contentOffset() / content;
    list.AddLine(point(x, top), point(x, top + f.size.height * f.size.height / content),
                 colour(255, 255, 255, 140), 3);
}

void drawSpinner(ImDrawList& list, const UIActivityIndicatorView& spinner, CGRect f) {
    const UIColor c = spinner.color();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    const int lead = static_cast<int>(std::fmod(seconds * 12, 12));
    const double cx = f.origin.x + f.size.width / 2, cy = f.origin.y + f.size.height / 2;
    const double outer = std::min(f.size.width, f.size.height) / 2, inner = outer * 0.45;
    for (int spoke = 0; spoke < 12; ++spoke) {
        const double angle = spoke * (2 * std::numbers::pi / 12) - std::numbers::pi / 2;
        const int age = (lead - spoke + 12) % 12; // the leading spoke is brightest
        const int alpha = static_cast<int>(255 * c.alpha * (1.0 - age / 14.0));
        list.AddLine(point(cx + inner * std::cos(angle), cy + inner * std::sin(angle)),
                     point(cx + outer * std::cos(angle), cy + outer * std::sin(angle)),
                     colour(static_cast<int>(c.red * 255), static_cast<int>(c.green * 255),
                            static_cast<int>(c.blue * 255), alpha),
                     std::max(2.0, outer / 6));
    }
}

} // namespace host
