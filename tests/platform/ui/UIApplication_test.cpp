// Start-up: from delegate names, through the class registry, to the host's main loop.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/UIApplication.h"

namespace {
std::vector<std::string> journal;

struct Unrelated {
    virtual ~Unrelated() = default;
    int padding = 42;
};

struct TestAppDelegate : UIApplicationDelegate {
    void applicationDidBecomeActive(UIApplication&) override { journal.push_back("app.didBecomeActive"); }
    void applicationWillEnterForeground(UIApplication&) override {
        journal.push_back("app.willEnterForeground");
    }
    void applicationWillResignActive(UIApplication&) override { journal.push_back("app.willResignActive"); }
    void applicationDidEnterBackground(UIApplication&) override {
        journal.push_back("app.didEnterBackground");
    }
    void applicationWillTerminate(UIApplication&) override { journal.push_back("app.willTerminate"); }
};

// Another base first, so the scene delegate part does not start where the object does:
// the registry must hand start-up the real base.
struct TestSceneDelegate : Unrelated, UIWindowSceneDelegate {
    std::shared_ptr<UIWindow> window() const override { return window_; }
    void setWindow(std::shared_ptr<UIWindow> w) override {
        journal.push_back("scene.setWindow");
        window_ = std::move(w);
    }
    void sceneWillConnectToSession(UIScene&) override { journal.push_back("scene.willConnect"); }
    void sceneWillEnterForeground(UIScene&) override { journal.push_back("scene.willEnterForeground"); }
    void sceneDidBecomeActive(UIScene&) override { journal.push_back("scene.didBecomeActive"); }
    std::shared_ptr<UIWindow> window_;
};

struct TestController : UIViewController {
    void viewDidLoad() override { journal.push_back("viewDidLoad"); }
    void viewWillAppear(bool) override { journal.push_back("viewWillAppear"); }
};

struct TestHost : UIApplicationHost {
    void sceneDidLoad(const std::shared_ptr<UIWindow>& w) override {
        journal.push_back("host.sceneDidLoad");
        window = w;
    }
    int runMainLoop() override {
        journal.push_back("host.runMainLoop");
        return 7;
    }
    std::shared_ptr<UIWindow> window;
};

FERNHOLD_REGISTER_CLASS(TestAppDelegate, "FernholdTests.AppDelegate");
FERNHOLD_REGISTER_CLASS(TestSceneDelegate, "FernholdTests.SceneDelegate");

class ApplicationMain : public testing::Test {
  protected:
    void SetUp() override {
        journal.clear();
        UISetSceneConfiguration({"FernholdTests.SceneDelegate", [this] {
                                     controller = std::make_shared<TestController>();
                                     return controller;
                                 }});
        UISetApplicationHost(host);
    }
    void TearDown() override {
        UISetApplicationHost(nullptr);
        UISetSceneConfiguration({});
    }
    std::shared_ptr<TestHost> host = std::make_shared<TestHost>();
    std::shared_ptr<TestController> controller;
};

TEST_F(ApplicationMain, BuildsTheSceneInOrderAndReturnsTheHostsStatus) {
    char name[] = "fernhold";
    char* argv[] = {name, nullptr};
    EXPECT_EQ(UIApplicationMain(1, argv, nullptr, NSStringFromClass<TestAppDelegate>()), 7);
    EXPECT_EQ(journal, (std::vector<std::string>{
                           "viewDidLoad", "viewWillAppear", "scene.setWindow", "scene.willConnect",
                           "scene.willEnterForeground", "scene.didBecomeActive", "app.willEnterForeground",
                           "app.didBecomeActive", "host.sceneDidLoad", "host.runMainLoop"}));
    auto& app = UIApplication::sharedApplication();
    ASSERT_NE(host->window, nullptr);
    EXPECT_EQ(app.keyWindow(), host->window);
    EXPECT_EQ(host->window->rootViewController(), controller);
    ASSERT_EQ(host->window->subviews().size(), 1u);
    EXPECT_EQ(host->window->subviews().front(), controller->view());
    EXPECT_EQ(controller->view()->frame(), CGRectMake(0, 0, 390, 844));
}

TEST_F(ApplicationMain, MissingPiecesEndStartUpWithStatusOne) {
    EXPECT_EQ(UIApplicationMain(0, nullptr, nullptr, "FernholdTests.Nothing"), 1);
    // A registered class of the wrong kind is no better than none.
    EXPECT_EQ(UIApplicationMain(0, nullptr, nullptr, "FernholdTests.SceneDelegate"), 1);
    UISetSceneConfiguration({"FernholdTests.AppDelegate", [] { return std::make_shared<TestController>(); }});
    EXPECT_EQ(UIApplicationMain(0, nullptr, nullptr, "FernholdTests.AppDelegate"), 1);
    UISetApplicationHost(nullptr);
    EXPECT_EQ(UIApplicationMain(0, nullptr, nullptr, "FernholdTests.AppDelegate"), 1);
    EXPECT_TRUE(journal.empty()) << "nothing may run once start-up has failed";
}
} // namespace
