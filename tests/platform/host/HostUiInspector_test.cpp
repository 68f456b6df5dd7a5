// print-ui: the JSON line a script reads the screen from.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "host/UiInspector.h"
#include "ui/UIControls.h"
#include "ui/UIViewController.h"

namespace {

class InspectableController : public UIViewController {
  public:
    std::optional<std::string> inspectValueForKey(const std::string& key) const override {
        if (key == "hideControls")
            return "false";
        if (key == "selectedFilterIndex")
            return "3";
        return std::nullopt;
    }
};

TEST(UiInspector, WritesStringsAndNumbersAsJsonReadsThem) {
    EXPECT_EQ(host::jsonString("plain"), "\"plain\"");
    EXPECT_EQ(host::jsonString("a \"b\" \\ c\n\t\x01"), "\"a \\\"b\\\" \\\\ c\\n\\t\\u0001\"");
    EXPECT_EQ(host::jsonString("ISO 100 \xc2\xb5s"), "\"ISO 100 \xc2\xb5s\""); // UTF-8 stays as it is
    EXPECT_EQ(host::jsonNumber(0.1f), "0.1"); // the float's shortest form, not 0.10000000149
    EXPECT_EQ(host::jsonNumber(-8.0f), "-8");
    EXPECT_EQ(host::jsonNumber(1e-4), "1e-04");
    EXPECT_EQ(host::jsonNumber(std::nanf("")), "null");
    EXPECT_EQ(host::jsonNumber(std::numeric_limits<double>::infinity()), "null");
}

TEST(UiInspector, DescribesEachKindOfViewByIdentifierInTreeOrder) {
    auto root = std::make_shared<UIView>(CGRectMake(0, 0, 390, 844));
    auto panel = std::make_shared<UIStackView>();
    panel->setIdentifier("focusControlsView");
    panel->setHidden(true);
    auto label = std::make_shared<UILabel>();
    label->setIdentifier("zoomLabel");
    label->setText("Zoom \"2x\"");
    auto slider = std::make_shared<UISlider>();
    slider->setIdentifier("focusSlider");
    slider->setMinimumValue(-2);
    slider->setMaximumValue(2);
    slider->setValue(0.25f);
    auto segments = std::make_shared<UISegmentedControl>(std::vector<std::string>{"Locked", "Manual"});
    segments->setIdentifier("focusModeControl");
    segments->setSelectedSegmentIndex(1);
    auto spinner = std::make_shared<UIActivityIndicatorView>(UIActivityIndicatorViewStyle::large);
    spinner->setIdentifier("spinner");
    auto anonymous = std::make_shared<UILabel>();
    anonymous->setText("not listed");
    auto plain = std::make_shared<UIView>();
    plain->setIdentifier("renderView");
    panel->addSubview(segments);
    panel->addSubview(slider);
    root->addSubview(plain);
    root->addSubview(label);
    root->addSubview(panel);
    root->addSubview(spinner);
    root->addSubview(anonymous);

    UIView empty;
    UIViewController silent; // values it cannot get are null
    EXPECT_EQ(host::describeUi(empty, &silent), "{\"hideControls\":null,\"selectedFilterIndex\":null}");
    EXPECT_EQ(host::describeUi(empty, nullptr), "{\"hideControls\":null,\"selectedFilterIndex\":null}");
    InspectableController controller;
    EXPECT_EQ(host::describeUi(*root, &controller),
              "{\"zoomLabel\":{\"text\":\"Zoom \\\"2x\\\"\",\"hidden\":false},"
              "\"focusControlsView\":{\"hidden\":true},"
              "\"focusModeControl\":{\"selectedSegmentIndex\":1,\"hidden\":false},"
              "\"focusSlider\":{\"minimum\":-2,\"maximum\":2,\"value\":0.25,\"hidden\":false},"
              "\"spinner\":{\"animating\":false,\"hidden\":true},"
              "\"hideControls\":false,\"selectedFilterIndex\":3}");
}

} // namespace
