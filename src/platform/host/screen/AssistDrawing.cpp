#include "host/screen/AssistDrawing.h"

#include <imgui.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "host/screen/ViewPainters.h"
#include "ui/UIPlotView.h"
#include "ui/UISwitchAndStepper.h"

namespace host {
namespace {

constexpr float titlePoints = 13, captionPoints = 11;
constexpr ImU32 panel = colour(0, 0, 0, 120);

ImU32 colourOf(const UIColor& c, double alpha) {
    auto byte = [](double v) { return static_cast<int>(std::clamp(v, 0.0, 1.0) * 255 + 0.5); };
    return IM_COL32(byte(c.red), byte(c.green), byte(c.blue), byte(c.alpha * alpha));
}

void centredText(ImDrawList& list, float size, CGRect f, const std::string& text) {
    const ImVec2 extent = textSize(size, text);
    drawText(list, size,
             point(f.origin.x + (f.size.width - extent.x) / 2, f.origin.y + (f.size.height - extent.y) / 2),
             white, text, nullptr);
}

void drawPlot(ImDrawList& list, const UIPlotView& plot, CGRect f) {
    const double left = f.origin.x, bottom = f.origin.y + f.size.height;
    list.AddRectFilled(point(left, f.origin.y), point(left + f.size.width, bottom), panel, 6);
    const auto& density = plot.density();
    if (density.columns && density.rows) {
        const double w = f.size.width / double(density.columns), h = f.size.height / double(density.rows);
        const ImU32 base = colourOf(density.color, 1.0);
        for (size_t row = 0; row < density.rows; ++row)
            for (size_t column = 0; column < density.columns; ++column) {
                const float value = density.at(column, row);
                if (value < 1.0f / 64) // too faint to see: leave it out of the draw list
                    continue;
                const ImU32 cell = (base & ~IM_COL32_A_MASK) | (ImU32(value * 255) << IM_COL32_A_SHIFT);
                const double x = left + double(column) * w, y = bottom - double(row + 1) * h;
                list.AddRectFilled(point(x, y), point(x + w, y + h), cell);
            }
    }
    for (const auto& bars : plot.bars()) {
        if (bars.heights.empty())
            continue;
        const double w = f.size.width / double(bars.heights.size());
        const ImU32 fill = colourOf(bars.color, 1.0);
        for (size_t i = 0; i < bars.heights.size(); ++i) {
            const double height = std::clamp(double(bars.heights[i]), 0.0, 1.0) * f.size.height;
            if (height > 0)
                list.AddRectFilled(point(left + double(i) * w, bottom - height),
                                   point(left + double(i + 1) * w, bottom), fill);
        }
    }
    for (float fraction : plot.graticule()) {
        const double y = bottom - std::clamp(double(fraction), 0.0, 1.0) * f.size.height;
        list.AddLine(point(left, y), point(left + f.size.width, y), IM_COL32(255, 255, 255, 110));
    }
    const auto& caption = plot.caption();
    for (size_t i = 0; i < caption.size(); ++i) {
        const CGRect line = CGRectMake(f.origin.x + f.size.width * 0.45, f.origin.y + 3 + 14.0 * double(i),
                                       f.size.width * 0.55, 14);
        centredText(list, captionPoints, line, caption[i]);
    }
}

void drawSwitch(ImDrawList& list, const UISwitch& button, CGRect f) {
    list.AddRectFilled(point(f.origin.x, f.origin.y),
                       point(f.origin.x + f.size.width, f.origin.y + f.size.height),
                       button.isOn() ? tint : IM_COL32(118, 118, 128, 110), 7);
    centredText(list, titlePoints, f, button.title());
}

void drawStepper(ImDrawList& list, const UIStepper& stepper, CGRect f) {
    list.AddRectFilled(point(f.origin.x, f.origin.y),
                       point(f.origin.x + f.size.width, f.origin.y + f.size.height),
                       IM_COL32(118, 118, 128, 110), 7);
    char text[32];
    std::snprintf(text, sizeof text, "- %.0f%% +", stepper.value());
    centredText(list, titlePoints, f, text);
}

} // namespace

bool drawAssistView(ImDrawList& list, const UIView& view, CGRect frame) {
    if (auto* plot = dynamic_cast<const UIPlotView*>(&view))
        drawPlot(list, *plot, frame);
    else if (auto* button = dynamic_cast<const UISwitch*>(&view))
        drawSwitch(list, *button, frame);
    else if (auto* stepper = dynamic_cast<const UIStepper*>(&view))
        drawStepper(list, *stepper, frame);
    else
        return false;
    return true;
}

} // namespace host
