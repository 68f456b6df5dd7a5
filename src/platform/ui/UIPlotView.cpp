#include "ui/UIPlotView.h"

const std::vector<UIPlotView::Bars>& UIPlotView::bars() const {
    UIRequireMainThread("UIPlotView.bars");
    return bars_;
}

void UIPlotView::setBars(std::vector<Bars> bars) {
    UIRequireMainThread("UIPlotView.setBars");
    bars_ = std::move(bars);
}

const UIPlotView::Density& UIPlotView::density() const {
    UIRequireMainThread("UIPlotView.density");
    return density_;
}

void UIPlotView::setDensity(Density density) {
    UIRequireMainThread("UIPlotView.setDensity");
    if (density.cells.size() != density.columns * density.rows)
        density = Density{}; // a grid that does not add up shows nothing
    density_ = std::move(density);
}

const std::vector<float>& UIPlotView::graticule() const {
    UIRequireMainThread("UIPlotView.graticule");
    return graticule_;
}

void UIPlotView::setGraticule(std::vector<float> fractions) {
    UIRequireMainThread("UIPlotView.setGraticule");
    graticule_ = std::move(fractions);
}

const std::vector<std::string>& UIPlotView::caption() const {
    UIRequireMainThread("UIPlotView.caption");
    return caption_;
}

void UIPlotView::setCaption(std::vector<std::string> lines) {
    UIRequireMainThread("UIPlotView.setCaption");
    caption_ = std::move(lines);
}
