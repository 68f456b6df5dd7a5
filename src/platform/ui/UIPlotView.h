#pragma once
// A translucent panel that plots measurements: bar series rising from its bottom edge, a
// density grid (brighter where more falls), horizontal graticule lines and a caption.
// The application fills it from its model; the host draws it. Main thread only.
#include <cstddef>
#include <string>
#include <vector>

#include "ui/UIView.h"

class UIPlotView : public UIView {
  public:
    using UIView::UIView;

    // Heights from 0 (nothing) to 1 (the panel's height), spread evenly across the width.
    struct Bars {
        std::vector<float> heights;
        UIColor color;
    };
    // Intensities from 0 to 1, `columns` across and `rows` up, bottom row first.
    struct Density {
        size_t columns = 0, rows = 0;
        std::vector<float> cells;
        UIColor color;
        float at(size_t column, size_t row) const { return cells[row * columns + column]; }
    };

    const std::vector<Bars>& bars() const;
    void setBars(std::vector<Bars> bars);
    const Density& density() const;
    void setDensity(Density density);
    // Heights of the graticule lines, as fractions of the panel's height from its bottom.
    const std::vector<float>& graticule() const;
    void setGraticule(std::vector<float> fractions);
    const std::vector<std::string>& caption() const;
    void setCaption(std::vector<std::string> lines);

    const char* className() const override { return "UIPlotView"; }

  private:
    std::vector<Bars> bars_;
    Density density_;
    std::vector<float> graticule_;
    std::vector<std::string> caption_;
};
