#pragma once
// Two small controls for a panel of buttons: a switch that turns something on and off,
// shown as a button with its title, and a stepper whose minus and plus halves step a
// value. As with the other controls, a person's change sends the value-changed action
// and a change from code sends nothing.
#include <string>

#include "ui/UIControls.h"

class UISwitch : public UIControl {
  public:
    explicit UISwitch(std::string title);
    const std::string& title() const;
    bool isOn() const;
    void setOn(bool on); // from code: no action
    // A person flipping it to `on`: sends the action when that changes it.
    void flipTo(bool on);
    // A touch that lifts inside the frame flips it.
    void touchEnded(CGPoint p) override;
    const char* className() const override { return "UISwitch"; }

  private:
    std::string title_;
    bool on_ = false;
};

class UIStepper : public UIControl {
  public:
    UIStepper(double minimum, double maximum, double step, double value);
    double minimumValue() const;
    double maximumValue() const;
    double stepValue() const;
    double value() const;
    void setValue(double v); // from code: clamped, no action
    // A person setting `v` (clamped): sends the action when the value changes.
    void touchValue(double v);
    // A person pressing minus (steps < 0) or plus.
    void stepBy(int steps) { touchValue(value() + steps * stepValue()); }
    // A touch that lifts on the left half steps down, on the right half up.
    void touchEnded(CGPoint p) override;
    const char* className() const override { return "UIStepper"; }

  private:
    double minimum_, maximum_, step_, value_;
};
