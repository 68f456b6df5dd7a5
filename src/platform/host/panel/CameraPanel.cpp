#include "host/panel/CameraPanel.h"

#include <cmath>

#include "dispatch/DispatchQueue.h"
#include "foundation/Print.h"
#include "host/script/ViewSearch.h"
#include "ui/UISwitchAndStepper.h"

namespace host {
namespace {

constexpr double headingHeight = 20, captionHeight = 16, sliderHeight = 22, rowHeight = 26;
constexpr double greyed = 0.4;

template <typename View, typename... Args> View* addRow(UIStackView& stack, double height, Args&&... args) {
    auto view = std::make_shared<View>(std::forward<Args>(args)...);
    view->setFrame(CGRectMake(0, 0, 10, height));
    View* raw = view.get();
    stack.addSubview(std::move(view));
    return raw;
}

UILabel* addText(UIStackView& stack, const std::string& text, double height, double points,
                 UIColor colour = UIColor::whiteColor()) {
    auto* label = addRow<UILabel>(stack, height);
    label->setText(text);
    label->setFontSize(points);
    label->setTextColor(colour);
    return label;
}

std::string caption(const CameraControl& c) {
    return c.name + ": " + std::to_string(c.value);
}

} // namespace

std::shared_ptr<CameraPanel> CameraPanel::connect(UIView& root, std::shared_ptr<OpenedDevice> device,
                                                  std::function<void()> changed) {
    auto* view = findView<UIStackView>(root, "cameraPanelView");
    auto* button = findView<UIButton>(root, "cameraPanelButton");
    if (!view || !button)
        return nullptr;
    std::shared_ptr<CameraPanel> panel(new CameraPanel(*view, std::move(device), std::move(changed)));
    std::weak_ptr<CameraPanel> weak = panel;
    button->addTarget(
        [weak](UIControl&) {
            if (auto self = weak.lock())
                self->toggle();
        },
        UIControlEvents::touchUpInside);
    return panel;
}

CameraPanel::CameraPanel(UIStackView& view, std::shared_ptr<OpenedDevice> device,
                         std::function<void()> changed)
    : view_(view), device_(std::move(device)), changed_(std::move(changed)) {}

void CameraPanel::toggle() {
    if (view_.isHidden())
        build();
    view_.setHidden(!view_.isHidden());
    if (view_.superview())
        view_.superview()->layoutSubviews();
    changed_();
}

void CameraPanel::build() {
    auto device = device_->get();
    auto controls = device ? device->cameraControls() : nullptr;
    if (controls == controls_ && !view_.subviews().empty())
        return;
    while (!view_.subviews().empty())
        view_.subviews().back()->removeFromSuperview();
    rows_.clear();
    controls_ = controls;
    view_.spacing = 3;
    addText(view_, "Camera", headingHeight, 15);
    if (!controls_) {
        addText(view_, "This camera has no further controls.", captionHeight, 12);
        return;
    }
    std::string group;
    for (const CameraControl& c : controls_->controls()) {
        if (c.group != group)
            addText(view_, group = c.group, headingHeight, 13, {0.78, 0.78, 0.8, 1});
        Row row;
        const uint32_t id = c.id;
        switch (c.kind) {
        case CameraControlKind::integer: {
            row.caption = addText(view_, caption(c), captionHeight, 12);
            auto* slider = addRow<UISlider>(view_, sliderHeight);
            slider->setMinimumValue(float(c.minimum));
            slider->setMaximumValue(float(c.maximum));
            row.control = slider;
            break;
        }
        case CameraControlKind::boolean:
            row.control = addRow<UISwitch>(view_, rowHeight, c.name);
            break;
        case CameraControlKind::menu:
        case CameraControlKind::integerMenu: {
            row.caption = addText(view_, c.name, captionHeight, 12);
            std::vector<std::string> titles;
            for (const auto& item : c.menu)
                titles.push_back(item.label);
            row.control = addRow<UISegmentedControl>(view_, rowHeight, titles);
            break;
        }
        case CameraControlKind::button:
            row.control = addRow<UIButton>(view_, rowHeight, c.name);
            break;
        }
        std::weak_ptr<CameraPanel> weak = weak_from_this();
        row.control->addTarget(
            [weak, id](UIControl& sender) {
                auto self = weak.lock();
                if (!self)
                    return;
                auto control = self->controls_->find(std::to_string(id));
                if (!control)
                    return;
                if (auto* slider = dynamic_cast<UISlider*>(&sender))
                    self->set(id, control->minimum + std::llround((slider->value() - control->minimum) /
                                                                  double(control->step)) *
                                                         control->step);
                else if (auto* toggle = dynamic_cast<UISwitch*>(&sender))
                    self->set(id, toggle->isOn() ? 1 : 0);
                else if (auto* menu = dynamic_cast<UISegmentedControl*>(&sender)) {
                    const int index = menu->selectedSegmentIndex();
                    if (index >= 0 && size_t(index) < control->menu.size())
                        self->set(id, control->menu[size_t(index)].index);
                }
            },
            UIControlEvents::valueChanged);
        if (c.kind == CameraControlKind::button)
            row.control->addTarget(
                [weak, id](UIControl&) {
                    if (auto self = weak.lock())
                        self->set(id, 1);
                },
                UIControlEvents::touchUpInside);
        rows_[id] = row;
    }
    auto* reset = addRow<UIButton>(view_, rowHeight, "Reset");
    reset->setIdentifier("cameraPanelResetButton");
    std::weak_ptr<CameraPanel> weak = weak_from_this();
    reset->addTarget(
        [weak](UIControl&) {
            if (auto self = weak.lock(); self && self->controls_)
                self->controls_->resetToDefaults();
        },
        UIControlEvents::touchUpInside);
    controls_->addChangeHandler([weak] {
        DispatchQueue::main().async([weak] {
            if (auto self = weak.lock())
                self->refresh();
        });
    });
    refresh();
}

void CameraPanel::refresh() {
    if (!controls_)
        return;
    for (const CameraControl& c : controls_->controls()) {
        auto found = rows_.find(c.id);
        if (found == rows_.end())
            continue;
        const Row& row = found->second;
        const bool usable = c.writable() && !c.inactive;
        row.control->setEnabled(usable);
        row.control->setAlpha(usable ? 1 : greyed);
        if (row.caption) {
            row.caption->setAlpha(usable ? 1 : greyed);
            if (c.kind == CameraControlKind::integer)
                row.caption->setText(caption(c));
        }
        if (auto* slider = dynamic_cast<UISlider*>(row.control))
            slider->setValue(float(c.value));
        else if (auto* toggle = dynamic_cast<UISwitch*>(row.control))
            toggle->setOn(c.value != 0);
        else if (auto* menu = dynamic_cast<UISegmentedControl*>(row.control)) {
            int selected = UISegmentedControl::noSegment;
            for (size_t i = 0; i < c.menu.size(); ++i)
                if (c.menu[i].index == c.value)
                    selected = int(i);
            menu->setSelectedSegmentIndex(selected);
        }
    }
    changed_();
}

void CameraPanel::set(uint32_t id, int64_t value) {
    if (const std::string why = controls_->setValue(id, value); !why.empty())
        foundation::logError("camera panel: cannot set control " + std::to_string(id) + " to " +
                             std::to_string(value) + ": " + why);
    refresh();
}

} // namespace host
