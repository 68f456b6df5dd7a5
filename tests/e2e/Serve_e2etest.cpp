// The picture watched from a browser (--serve): headless Chromium plays the page over
// WebRTC on loopback, driven by tests/e2e/browser/watch_page.py; plain requests check the
// tokens and the cap.
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "e2e/HostE2eSupport.h"
#include "support/PictureBytes.h"

namespace {

using e2e::Lines;
namespace fs = std::filesystem;
constexpr int columns = 8, rows = 6;

// Frames a page must decode in a second: the camera's 30, less what a loaded machine
// loses. Under the thread sanitizer the whole program runs at a few frames a second, so
// there a steady picture is all that can be asked.
#if defined(__SANITIZE_THREAD__)
constexpr int framesPerSecond = 0;
#else
constexpr int framesPerSecond = 12;
#endif

// A smooth picture with colour in both directions: an encoder keeps such a picture close.
std::string writeStill(const fs::path& folder) {
    constexpr int width = 640, height = 480;
    pictures::Bytes rgb(size_t(width) * height * 3);
    for (size_t i = 0; i < rgb.size(); i += 3)
        rgb[i] = uint8_t(40 + i / 3 % width * 180 / width),
        rgb[i + 1] = uint8_t(40 + i / 3 / width * 180 / height), rgb[i + 2] = 110;
    return pictures::save(folder / "still.png", pictures::encodePng(width, height, rgb));
}

// A run of the program that serves: started, and read until it names its address.
class ServedRun {
  public:
    ServedRun(const fs::path& folder, Lines args, const std::string& script = "wait 600s\n")
        : folder_(folder) {
        args.insert(args.end(), {"--headless", "--script", "-"});
        program_ = std::make_unique<e2e::Process>( // its memory is measured
            e2e::programCommand(folder, args, e2e::noDisplayAnd({e2e::smallQuarantine()}), script));
        pumpUntil([&] { return !url.empty() && (!wantsControl(args) || !controlUrl.empty()); });
    }
    ~ServedRun() {
        if (program_)
            program_->stop(SIGKILL);
    }

    // Reads standard error until `done` holds or the output ends (a minute at most).
    void pumpUntil(const std::function<bool()>& done) {
        const auto deadline = e2e::Clock::now() + std::chrono::seconds(60);
        while (!done() && e2e::Clock::now() < deadline &&
               program_->pump(std::chrono::seconds(1), [&](const std::string& line) { take(line); })) {
        }
    }
    // SIGTERM, as a service manager ends it; the rest of standard error is read.
    int end() {
        kill(program_->pid(), SIGTERM);
        while (program_->pump(std::chrono::seconds(30), [&](const std::string& line) { take(line); })) {
        }
        return std::exchange(program_, nullptr)->wait();
    }
    // What it said on standard error but its statistics, for a failure's message.
    std::string said() const {
        std::string text;
        for (const auto& line : errLines)
            if (!line.starts_with("stats: "))
                text += line + "\n";
        return text;
    }
    int port() const { return std::stoi(url.substr(url.rfind(':') + 1)); }
    std::string token() const { return url.substr(url.find("token=") + 6); }
    std::string controlToken() const { return controlUrl.substr(controlUrl.find("token=") + 6); }

    std::string url, controlUrl;
    Lines errLines, stats, ui;
    std::vector<long> resident; // kB, at each stats line

  private:
    static bool wantsControl(const Lines& args) {
        return std::find(args.begin(), args.end(), "--serve-control") != args.end();
    }
    void take(const std::string& line) {
        errLines.push_back(line);
        if (line.starts_with("fernhold: watch at "))
            url = line.substr(19);
        else if (line.starts_with("fernhold: watch and control at "))
            controlUrl = line.substr(31);
        else if (line.starts_with("stats: produced")) {
            stats.push_back(line);
            std::ifstream status("/proc/" + std::to_string(program_->pid()) + "/status");
            for (std::string key; status >> key;)
                if (key == "VmRSS:" && status >> key)
                    resident.push_back(std::stol(key));
        } else if (line.starts_with("{\""))
            ui.push_back(line);
    }
    fs::path folder_;
    std::unique_ptr<e2e::Process> program_;
};

// What the browser harness reports: one object per viewer, in the order they joined.
struct Watched {
    std::string json;
    std::vector<std::string> viewers; // each viewer's object
    std::string afterKill;
};

Watched watch(const std::string& url, const Lines& args) {
    Lines command{FERNHOLD_SOURCE_DIR "/tests/e2e/browser/watch_page.py", url};
    command.insert(command.end(), args.begin(), args.end());
    e2e::Process harness(e2e::quoted(command).substr(1) + " 2>&1");
    Watched watched;
    watched.json += harness.rest(std::chrono::seconds(120));
    harness.wait();
    // Each viewer's object is flat: from the brace before its "framesInWindow" to the next.
    for (size_t at = 0; (at = watched.json.find("\"framesInWindow\"", at)) != std::string::npos; ++at) {
        const size_t start = watched.json.rfind('{', at);
        watched.viewers.push_back(watched.json.substr(start, watched.json.find('}', at) - start + 1));
    }
    if (const size_t at = watched.json.find("\"afterKill\""); at != std::string::npos)
        watched.afterKill = watched.json.substr(at);
    return watched;
}

// A response's status, or -1 when none came (the program gone).
int statusOf(const httplib::Result& result) {
    return result ? result->status : -1;
}

std::string textField(const std::string& json, const std::string& key) {
    const size_t at = json.find("\"" + key + "\": \"");
    if (at == std::string::npos)
        return "<none>";
    const size_t start = at + key.size() + 5;
    return json.substr(start, json.find('"', start) - start);
}

std::vector<double> numbersIn(const std::string& json, const std::string& key) {
    std::vector<double> numbers;
    const size_t at = json.find("\"" + key + "\": [");
    if (at == std::string::npos)
        return numbers;
    std::istringstream list(json.substr(at + key.size() + 5, json.find(']', at) - at - key.size() - 5));
    for (std::string item; std::getline(list, item, ',');)
        numbers.push_back(std::stod(item));
    return numbers;
}

// The mean colour of each block of a capture, as the harness measures the video.
std::vector<double> blockMeans(const e2e::Picture& picture) {
    std::vector<double> means;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            double sum[3] = {}, n = 0;
            for (int y = r * picture.height / rows; y < (r + 1) * picture.height / rows; y += 2)
                for (int x = c * picture.width / columns; x < (c + 1) * picture.width / columns; x += 2, ++n)
                    for (int k = 0; k < 3; ++k)
                        sum[k] += picture.rgba[(size_t(y) * picture.width + x) * 4 + k];
            for (double s : sum)
                means.push_back(s / n);
        }
    return means;
}

std::string labelText(const std::string& ui, const std::string& identifier) {
    const size_t at = ui.find("\"" + identifier + "\"");
    const size_t text = ui.find("\"text\":\"", at);
    return at == std::string::npos || text == std::string::npos
               ? "<none>"
               : ui.substr(text + 8, ui.find('"', text + 8) - text - 8);
}

// The page with the token plays the picture as the program shows it, in colour within the
// encoder's error, at the camera's rate, with the readouts the screen has.
TEST(Serve, ThePageWithTheTokenPlaysThePictureAsShownWithItsReadouts) {
    const auto folder = e2e::scratchFolder("serve-page");
    ServedRun run(folder, {"--camera", writeStill(folder), "--serve", "0"},
                  "wait 5 frames\ncapture shown.png\nprint-ui\nwait 600s\n");
    ASSERT_FALSE(run.url.empty()) << ::testing::PrintToString(run.errLines);
    EXPECT_TRUE(run.url.starts_with("http://127.0.0.1:")) << run.url;
    EXPECT_EQ(run.token().size(), 32u) << "128 random bits";
    run.pumpUntil([&] { return !run.ui.empty(); });
    ASSERT_EQ(run.ui.size(), 1u);
    EXPECT_NE(run.ui[0].find("\"serve\":{\"url\":\"" + run.url + "\",\"viewers\":0}"), std::string::npos)
        << run.ui[0];

    const auto watched = watch(run.url, {"--seconds", "5", "--grid", "8x6"});
    ASSERT_EQ(watched.viewers.size(), 1u) << watched.json;
    const std::string& viewer = watched.viewers[0];
    EXPECT_GE(*e2e::jsonNumberField(viewer, "framesInWindow"), 5 * framesPerSecond + 1) << viewer;
    EXPECT_EQ(textField(viewer, "filter"), "Normal") << viewer;
    EXPECT_NE(viewer.find("\"answerAddresses\": [\"127.0.0.1\"]"), std::string::npos)
        << "the address served, nothing else: " << viewer;
    EXPECT_EQ(textField(viewer, "luminosity"), labelText(run.ui[0], "luminosityLabel")) << run.ui[0];
    const auto seen = numbersIn(viewer, "blocks");
    const auto shown = blockMeans(e2e::readPng(folder / "shown.png"));
    ASSERT_EQ(seen.size(), shown.size()) << viewer;
    double worst = 0;
    for (size_t i = 0; i < seen.size(); ++i)
        worst = std::max(worst, std::abs(seen[i] - shown[i]));
    EXPECT_LT(worst, 12) << "the largest difference of a block's mean channel";
    EXPECT_EQ(run.end(), 0) << run.said();
}

// Nobody gets in without the token, a view link cannot work the controls, and one viewer
// more than allowed is told "busy"; a control link's buttons change the filter.
TEST(Serve, TokensGuardEveryRequestAndTheCapSaysBusy) {
    const auto folder = e2e::scratchFolder("serve-tokens");
    const std::string fixed = "a-fixed-token-for-the-test";
    std::ofstream(folder / "token") << "  " << fixed << "\n";
    std::ofstream(folder / "short") << "abc\n";
    ServedRun run(folder, {"--serve", "0", "--serve-token-file", (folder / "token").string(),
                           "--serve-control", "--serve-viewers", "1", "--stats"});
    ASSERT_FALSE(run.controlUrl.empty()) << ::testing::PrintToString(run.errLines);
    EXPECT_EQ(run.token(), fixed);
    EXPECT_NE(run.controlToken(), fixed);

    httplib::Client client("127.0.0.1", run.port());
    const std::string view = "?token=" + fixed, control = "?token=" + run.controlToken();
    const std::string offer = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nt=0 0\r\n";
    EXPECT_EQ(statusOf(client.Get("/")), 403);
    EXPECT_EQ(statusOf(client.Get("/?token=wrong")), 403);
    EXPECT_EQ(statusOf(client.Post("/whep", offer, "application/sdp")), 403);
    EXPECT_EQ(statusOf(client.Post("/whep?token=" + run.controlToken().substr(1), offer, "application/sdp")),
              403);
    EXPECT_EQ(statusOf(client.Get("/events")), 403);
    EXPECT_EQ(statusOf(client.Post("/control" + view, "swipe left", "text/plain")), 403);
    EXPECT_EQ(statusOf(client.Delete("/whep/0123456789abcdef")), 403);
    EXPECT_EQ(statusOf(client.Post("/control" + control, "quit", "text/plain")), 400)
        << "only the page's buttons";
    auto page = client.Get("/" + view);
    ASSERT_EQ(statusOf(page), 200);
    EXPECT_NE(page->body.find("const withControls = false;"), std::string::npos);
    auto controlPage = client.Get("/" + control);
    ASSERT_EQ(statusOf(controlPage), 200);
    EXPECT_NE(controlPage->body.find("const withControls = true;"), std::string::npos);
    run.pumpUntil([&] { return run.stats.size() >= 2; });
    ASSERT_FALSE(run.stats.empty());
    EXPECT_NE(run.stats.back().find("viewers 0, sent 0 bytes"), std::string::npos) << "no media flowed";

    EXPECT_EQ(statusOf(client.Post("/control" + control, "swipe left", "text/plain")), 204);
    const auto watched = watch(run.url, {"--viewers", "2", "--seconds", "2"});
    ASSERT_EQ(watched.viewers.size(), 2u) << watched.json;
    EXPECT_GE(*e2e::jsonNumberField(watched.viewers[0], "framesInWindow"), 2 * framesPerSecond + 1)
        << watched.viewers[0];
    EXPECT_NE(textField(watched.viewers[0], "filter"), "Normal") << "the control swiped to the next filter";
    EXPECT_EQ(textField(watched.viewers[1], "status"), "busy") << watched.viewers[1];
    EXPECT_EQ(*e2e::jsonNumberField(watched.viewers[1], "frames"), 0) << watched.viewers[1];
    EXPECT_EQ(run.end(), 0) << run.said();

    // A token file that is no token, and an address already taken: one line, status 1.
    auto weak = e2e::runProgram(folder, {"--headless", "--serve", "0", "--serve-token-file",
                                         (folder / "short").string(), "--seconds", "5"});
    EXPECT_EQ(weak.status, 1);
    ASSERT_EQ(weak.errLines.size(), 1u) << weak.err;
    EXPECT_NE(weak.err.find("must be at least 16"), std::string::npos) << weak.err;
    const int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(holder, 1), 0);
    ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const int taken = ntohs(address.sin_port);
    auto busy = e2e::runProgram(folder, {"--headless", "--serve", std::to_string(taken), "--seconds", "5"});
    close(holder);
    EXPECT_EQ(busy.status, 1);
    ASSERT_EQ(busy.errLines.size(), 1u) << busy.err;
    EXPECT_NE(busy.err.find("cannot serve on 127.0.0.1:" + std::to_string(taken)), std::string::npos)
        << busy.err;
}

// Three viewers at once, one of whose browsers is killed: the others play on, the program
// drops the lost one within seconds, and its rate and memory stay level.
TEST(Serve, ThreeViewersOneKilledTheOthersPlayOnAndTheProgramStaysLevel) {
    const auto folder = e2e::scratchFolder("serve-three");
    ServedRun run(folder, {"--serve", "0", "--stats"});
    ASSERT_FALSE(run.url.empty()) << ::testing::PrintToString(run.errLines);
    const auto watched = watch(run.url, {"--viewers", "3", "--seconds", "5", "--kill-one", "--grid", "1x1"});
    ASSERT_EQ(watched.viewers.size(), 3u) << watched.json;
    for (const auto& viewer : watched.viewers)
        EXPECT_GE(*e2e::jsonNumberField(viewer, "framesInWindow"), 5 * framesPerSecond + 1) << viewer;
    const auto after = numbersIn(watched.afterKill, "afterKill");
    ASSERT_EQ(after.size(), 2u) << watched.json;
    for (double frames : after)
        EXPECT_GE(frames, 5 * framesPerSecond + 1) << "frames in 5 s after the third viewer was killed";
    // The two left closed their pages with the harness: the program drops them too.
    run.pumpUntil(
        [&] { return !run.stats.empty() && run.stats.back().find("viewers 0,") != std::string::npos; });
    EXPECT_EQ(run.end(), 0) << run.said();

    // Each stats line: the rate and the viewers then.
    std::vector<std::pair<double, int>> lines;
    for (const auto& line : run.stats) {
        const size_t fps = line.find(" fps"), viewers = line.find("viewers ");
        if (fps != std::string::npos && viewers != std::string::npos)
            lines.emplace_back(std::stod(line.substr(line.rfind(", ", fps) + 2)),
                               std::stoi(line.substr(viewers + 8)));
    }
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](auto& l) { return l.second == 3; }) >= 3, true)
        << ::testing::PrintToString(run.stats);
    EXPECT_EQ(lines.back().second, 0) << "every viewer dropped once their browsers went";
    // Level: the rate with two viewers left is the rate with three (the median second of
    // each, so that one second the machine lent elsewhere does not decide).
    auto median = [&](int viewers) {
        std::vector<double> rates;
        for (const auto& [fps, watching] : lines)
            if (watching == viewers)
                rates.push_back(fps);
        std::sort(rates.begin(), rates.end());
        return rates.empty() ? 0.0 : rates[rates.size() / 2];
    };
    if (framesPerSecond > 0) { // a rate of a few frames a second moves by a third with one frame
        EXPECT_GE(median(2), 0.8 * median(3)) << ::testing::PrintToString(run.stats);
    }
    ASSERT_GE(run.resident.size(), 6u);
    EXPECT_LT(run.resident.back() - run.resident[2], 24 * 1024)
        << "kB grown from the third second to the last";
}

} // namespace
