// The emulated webcam, driven as the program drives a real camera: through the real
// libv4l2, in a child process (this executable again) that has the emulator preloaded.
// The child reports what it saw as key=value lines; the tests hold it to what uvcvideo
// and the kernel would have answered.
#include <dirent.h>
#include <fcntl.h>
#include <libv4l2.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <numeric>
#include <set>
#include <vector>

#include "support/EmulatedWebcam.h"

namespace {
using std::to_string;

// ---- The child's side.

int lastError = 0;

template <typename T> T ask(int fd, unsigned long request, T arg) {
    lastError = v4l2_ioctl(fd, request, &arg) == 0 ? 0 : errno;
    return arg;
}

std::string name(int error = lastError) {
    return error ? strerrorname_np(error) : "0";
}

void say(const std::string& key, const std::string& value) {
    std::printf("%s=%s\n", key.c_str(), value.c_str());
    std::fflush(stdout);
}

// Every answer of an enumerating ioctl, from `arg`'s index on.
template <typename T, typename Show> std::string every(int fd, unsigned long request, T arg, Show show) {
    std::string list;
    for (; v4l2_ioctl(fd, request, &arg) == 0; ++arg.index)
        list += show(arg) + ",";
    return list;
}

std::string fourcc(uint32_t f) {
    return {char(f), char(f >> 8), char(f >> 16), char(f >> 24)};
}

std::string text(const uint8_t* name) {
    return reinterpret_cast<const char*>(name);
}

std::string pollFor(int fd, short events, int ms) {
    pollfd p{fd, events, 0};
    return to_string(poll(&p, 1, ms) < 0 ? -1 : p.revents);
}

int openNode(const char* path) {
    const int fd = v4l2_open(path, O_RDWR | O_NONBLOCK);
    lastError = fd < 0 ? errno : 0;
    return fd;
}

v4l2_format format(uint32_t fourcc, uint32_t w, uint32_t h) {
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    f.fmt.pix.pixelformat = fourcc, f.fmt.pix.width = w, f.fmt.pix.height = h;
    return f;
}

v4l2_buffer buffer(uint32_t index) {
    v4l2_buffer b{};
    b.index = index, b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE, b.memory = V4L2_MEMORY_MMAP;
    return b;
}

// Buffers mapped through libv4l2 and queued, then streaming; next() waits for a frame
// with poll() and queues the one before again.
struct Stream {
    int fd;
    std::vector<uint8_t*> data;
    v4l2_buffer last = buffer(0);
    Stream(int fd, uint32_t count) : fd(fd) {
        v4l2_requestbuffers r{};
        r.count = count, r.type = V4L2_BUF_TYPE_VIDEO_CAPTURE, r.memory = V4L2_MEMORY_MMAP;
        r = ask(fd, VIDIOC_REQBUFS, r);
        for (uint32_t i = 0; i < r.count; ++i) {
            const v4l2_buffer b = ask(fd, VIDIOC_QUERYBUF, buffer(i));
            data.push_back(static_cast<uint8_t*>(
                v4l2_mmap(nullptr, b.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, b.m.offset)));
            ask(fd, VIDIOC_QBUF, b);
        }
        ask(fd, VIDIOC_STREAMON, int(V4L2_BUF_TYPE_VIDEO_CAPTURE));
    }
    int next() {
        if (last.flags & V4L2_BUF_FLAG_DONE)
            ask(fd, VIDIOC_QBUF, last);
        if (pollFor(fd, POLLIN, 3000) != to_string(POLLIN))
            return ETIMEDOUT;
        last = ask(fd, VIDIOC_DQBUF, buffer(0));
        return lastError;
    }
};

void describe() {
    std::set<std::string> nodes, listed;
    DIR* dev = opendir("/dev");
    while (dirent* entry = readdir(dev))
        if (std::string(entry->d_name).starts_with("video"))
            nodes.insert(entry->d_name);
    closedir(dev);
    for (auto& entry : std::filesystem::directory_iterator("/dev"))
        if (entry.path().filename().string().starts_with("video"))
            listed.insert(entry.path().filename());
    say("nodes", std::accumulate(nodes.begin(), nodes.end(), std::string(),
                                 [](auto a, auto& b) { return a + b + ","; }));
    say("listed", to_string(listed == nodes));
    struct stat s {};
    stat("/dev/video0", &s);
    say("stat", S_ISCHR(s.st_mode) ? "char " + to_string(major(s.st_rdev)) : "not a device");
    const int meta = openNode("/dev/video1");
    say("video1", to_string(ask(meta, VIDIOC_QUERYCAP, v4l2_capability{}).device_caps));
    v4l2_close(meta);
    const int fd = openNode("/dev/video0");
    const auto cap = ask(fd, VIDIOC_QUERYCAP, v4l2_capability{});
    say("cap", text(cap.driver) + "|" + text(cap.card) + "|" + text(cap.bus_info) + "|" +
                   to_string(cap.device_caps &
                             (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_META_CAPTURE)));
    say("formats", every(fd, VIDIOC_ENUM_FMT, v4l2_fmtdesc{0, V4L2_BUF_TYPE_VIDEO_CAPTURE, {}, {}, 0, {}, {}},
                         [](auto& f) { return fourcc(f.pixelformat); }));
    say("sizes",
        every(fd, VIDIOC_ENUM_FRAMESIZES, v4l2_frmsizeenum{0, V4L2_PIX_FMT_MJPEG, 0, {}, {}},
              [](auto& s) { return to_string(s.discrete.width) + "x" + to_string(s.discrete.height); }));
    say("intervals", every(fd, VIDIOC_ENUM_FRAMEINTERVALS,
                           v4l2_frmivalenum{0, V4L2_PIX_FMT_MJPEG, 1280, 720, 0, {}, {}}, [](auto& i) {
                               return to_string(i.discrete.numerator) + "/" +
                                      to_string(i.discrete.denominator);
                           }));
    const auto f = ask(fd, VIDIOC_S_FMT, format(V4L2_PIX_FMT_MJPEG, 1300, 700));
    say("format",
        fourcc(f.fmt.pix.pixelformat) + " " + to_string(f.fmt.pix.width) + "x" + to_string(f.fmt.pix.height));
    v4l2_streamparm p{};
    p.type = V4L2_BUF_TYPE_VIDEO_CAPTURE, p.parm.capture.timeperframe = {1, 6};
    const auto c = ask(fd, VIDIOC_S_PARM, p).parm.capture;
    say("parm", to_string(c.timeperframe.numerator) + "/" + to_string(c.timeperframe.denominator) + " " +
                    to_string(c.capability == V4L2_CAP_TIMEPERFRAME));
    Stream stream(fd, 3);
    say("streamon", name());
    say("show", webcamtest::EmulatedWebcam(getenv("FERNHOLD_EMULATED_DEV")).show("video0")["streaming"]);
    double last = 0;
    for (int n = 0; n < 4; ++n) {
        const int error = stream.next();
        const double ms = stream.last.timestamp.tv_sec * 1e3 + stream.last.timestamp.tv_usec / 1e3;
        const uint8_t* jpeg = stream.data[stream.last.index];
        say("frame", name(error) + " " + to_string(stream.last.sequence) + " " +
                         to_string(stream.last.bytesused > 1000 && jpeg[0] == 0xff && jpeg[1] == 0xd8) + " " +
                         to_string(n ? int(ms - last) : 200));
        last = ms;
    }
    ask(fd, VIDIOC_DQBUF, buffer(0));
    say("again", name());
}

// libv4l2 decodes the frames into RGB24: the picture's dark corner, its light one and the
// bright square must be there.
void convert(const char* path) {
    const int fd = openNode(path);
    const auto f = ask(fd, VIDIOC_S_FMT, format(V4L2_PIX_FMT_RGB24, 640, 480));
    Stream stream(fd, 2);
    const int error = stream.next() ? -1 : stream.next();
    const uint8_t* rgb = stream.data[stream.last.index];
    auto at = [&](uint32_t x, uint32_t y) {
        const uint8_t* p = rgb + y * f.fmt.pix.bytesperline + x * 3;
        return p[0] + p[1] + p[2];
    };
    int peak = 0;
    for (uint32_t y = 0; y < 480; ++y)
        for (uint32_t x = 0; x < 640; ++x)
            peak = std::max(peak, at(x, y));
    say("rgb", fourcc(f.fmt.pix.pixelformat) + " " + name(error) + " " + to_string(stream.last.bytesused));
    say("light", to_string(at(2, 2)) + " " + to_string(at(637, 450)) + " " + to_string(peak));
}

std::string event(int fd) {
    const auto e = ask(fd, VIDIOC_DQEVENT, v4l2_event{});
    return lastError ? name()
                     : to_string(e.id) + ":" + to_string(e.u.ctrl.changes) + ":" + to_string(e.u.ctrl.value) +
                           ":" + to_string((e.u.ctrl.flags & V4L2_CTRL_FLAG_INACTIVE) != 0);
}

void events() {
    const int fd = openNode("/dev/video0");
    std::string ids;
    for (v4l2_queryctrl q{V4L2_CTRL_FLAG_NEXT_CTRL, {}, {}, 0, 0, 0, 0, 0, {}};
         v4l2_ioctl(fd, VIDIOC_QUERYCTRL, &q) == 0; q.id |= V4L2_CTRL_FLAG_NEXT_CTRL)
        ids += to_string(q.id) + ",";
    say("controls", ids);
    std::string menu;
    for (uint32_t i = 0; i < 4; ++i) {
        const auto m = ask(fd, VIDIOC_QUERYMENU, v4l2_querymenu{V4L2_CID_EXPOSURE_AUTO, i, {}, 0});
        menu += (lastError ? name() : text(m.name)) + ",";
    }
    say("menu", menu);
    ask(fd, VIDIOC_SUBSCRIBE_EVENT,
        v4l2_event_subscription{
            V4L2_EVENT_CTRL, V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_EVENT_SUB_FL_SEND_INITIAL, {}});
    ask(fd, VIDIOC_SUBSCRIBE_EVENT, v4l2_event_subscription{V4L2_EVENT_CTRL, V4L2_CID_EXPOSURE_AUTO, 0, {}});
    say("initial", event(fd));
    say("pending", event(fd));
    ask(fd, VIDIOC_S_CTRL, v4l2_control{V4L2_CID_EXPOSURE_ABSOLUTE, 500});
    say("write_while_auto", name());
    webcamtest::EmulatedWebcam webcam(getenv("FERNHOLD_EMULATED_DEV"));
    say("ctl", webcam.ctl("set video0 " + to_string(V4L2_CID_EXPOSURE_AUTO) + " 1"));
    say("pri", pollFor(fd, POLLPRI, 3000));
    for (std::string e; (e = event(fd)) != "ENOENT";)
        say("event", e);
    ask(fd, VIDIOC_S_CTRL, v4l2_control{V4L2_CID_EXPOSURE_ABSOLUTE, 5000});
    say("clamped",
        name() + " " + to_string(ask(fd, VIDIOC_G_CTRL, v4l2_control{V4L2_CID_EXPOSURE_ABSOLUTE, 0}).value));
    say("own", pollFor(fd, POLLPRI, 200));
    say("show", webcam.show("video0")["0x009a0902"]);
}

void faults() {
    webcamtest::EmulatedWebcam webcam(getenv("FERNHOLD_EMULATED_DEV"));
    webcam.ctl("deny video0");
    openNode("/dev/video0");
    say("denied", name());
    webcam.ctl("allow video0");
    const int fd = openNode("/dev/video0");
    webcam.ctl("busy video0");
    ask(fd, VIDIOC_S_FMT, ask(fd, VIDIOC_G_FMT, format(0, 0, 0)));
    say("busy", name());
    webcam.ctl("idle video0");
    Stream stream(fd, 4);
    say("streaming", name(stream.next()));
    webcam.ctl("stall video0");
    for (v4l2_buffer b = buffer(0); v4l2_ioctl(fd, VIDIOC_DQBUF, &b) == 0;) // done before the stall
        v4l2_ioctl(fd, VIDIOC_QBUF, &b);
    say("stalled", pollFor(fd, POLLIN, 300));
    webcam.ctl("resume video0");
    say("resumed", pollFor(fd, POLLIN, 3000));
    webcam.ctl("fail video0 EIO");
    const std::string failed = pollFor(fd, POLLIN, 3000);
    ask(fd, VIDIOC_DQBUF, buffer(0));
    say("failed", failed + " " + name());
    webcam.ctl("unplug video0");
    const std::string unplugged = pollFor(fd, POLLIN | POLLPRI, 3000);
    ask(fd, VIDIOC_QUERYCAP, v4l2_capability{});
    const std::string queried = name(), closed = to_string(v4l2_close(fd));
    openNode("/dev/video0");
    say("unplugged", unplugged + " " + queried + " " + closed + " " + name());
    webcam.ctl("replug video0");
    ask(openNode("/dev/video0"), VIDIOC_QUERYCAP, v4l2_capability{});
    say("replugged", name());
}

// Runs the scenario the parent asked for, then leaves without running any test.
[[maybe_unused]] const int child = [] {
    const char* scenario = getenv("EMULATED_WEBCAM_PROBE");
    if (!scenario)
        return 0;
    unsetenv("LD_PRELOAD"); // the control tool gets its own; its shell needs none
    const std::string which = scenario;
    which == "describe" ? describe()
    : which == "events" ? events()
    : which == "faults" ? faults()
                        : convert(scenario);
    std::fflush(stdout);
    _exit(0);
}();

// ---- The parent's side.

// The child's report: each key's values, in order, joined by " / ".
std::map<std::string, std::string> probe(const webcamtest::EmulatedWebcam& webcam,
                                         const std::string& scenario) {
    const std::string command = webcam.environment() + " EMULATED_WEBCAM_PROBE='" + scenario + "' '" +
                                std::filesystem::read_symlink("/proc/self/exe").string() + "'";
    std::string all;
    FILE* pipe = popen(command.c_str(), "r");
    for (int c; pipe && (c = fgetc(pipe)) != EOF;)
        all += char(c);
    EXPECT_EQ(pclose(pipe), 0) << all;
    std::map<std::string, std::string> report;
    std::istringstream lines(all);
    for (std::string line; std::getline(lines, line);)
        if (auto eq = line.find('='); eq != std::string::npos)
            report[line.substr(0, eq)] +=
                (report.count(line.substr(0, eq)) ? " / " : "") + line.substr(eq + 1);
    return report;
}

TEST(EmulatedWebcam, DescribesItselfAsAUvcCameraAndStreamsAtTheIntervalSet) {
    webcamtest::EmulatedWebcam webcam;
    webcam.ctl("create video0");
    webcam.ctl("create video1 --metadata");
    auto r = probe(webcam, "describe");
    EXPECT_EQ(r["nodes"], "video0,video1,");
    EXPECT_EQ(r["listed"], "1");
    EXPECT_EQ(r["stat"], "char 81");
    EXPECT_EQ(r["video1"], to_string(V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING));
    EXPECT_EQ(r["cap"], "uvcvideo|Fernhold Emulated Webcam|usb-emulated-1|" +
                            to_string(V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING));
    EXPECT_TRUE(r["formats"].starts_with("MJPG,YUYV,")) << r["formats"]; // then libv4l2's own conversions
    EXPECT_EQ(r["sizes"], "640x480,1280x720,1920x1080,");
    EXPECT_EQ(r["intervals"], "1/30,1/15,1/10,1/5,");
    EXPECT_EQ(r["format"], "MJPG 1280x720");
    EXPECT_EQ(r["parm"], "1/5 1");
    EXPECT_EQ(r["streamon"] + " " + r["show"], "0 1");
    std::istringstream frames(r["frame"]);
    for (int n = 0; n < 4; ++n) {
        std::string error, separator;
        int sequence = -1, jpeg = 0, gap = -1;
        frames >> error >> sequence >> jpeg >> gap >> separator;
        EXPECT_EQ(error + " " + to_string(sequence) + " " + to_string(jpeg), "0 " + to_string(n) + " 1")
            << r["frame"];
        EXPECT_TRUE(gap >= 150 && gap <= 400) << r["frame"]; // 200 ms apart, give or take a loaded machine
    }
    EXPECT_EQ(r["again"], "EAGAIN");
    auto shown = webcam.show("video0");
    EXPECT_EQ(shown["format"] + " " + shown["size"] + " " + shown["interval"] + " " + shown["streaming"],
              "MJPG 1280x720 1/5 0");
    EXPECT_GE(std::stoi(shown["frames"]), 4);
}

TEST(EmulatedWebcam, ItsMjpegAndYuyvFramesDecodeInLibv4l2) {
    webcamtest::EmulatedWebcam webcam;
    webcam.ctl("create video2 --formats mjpeg");
    webcam.ctl("create video3 --formats yuyv --no-frame-rate-control");
    for (const char* node : {"/dev/video2", "/dev/video3"}) {
        auto r = probe(webcam, node);
        EXPECT_EQ(r["rgb"], "RGB3 0 " + to_string(640 * 480 * 3)) << node;
        int dark = 0, light = 0, peak = 0;
        std::istringstream(r["light"]) >> dark >> light >> peak;
        EXPECT_TRUE(dark < 150 && light > 400 && peak > 600) << node << ": " << r["light"];
    }
}

TEST(EmulatedWebcam, AnotherProgramsControlChangeArrivesAsAnEvent) {
    webcamtest::EmulatedWebcam webcam;
    webcam.ctl("create video0");
    auto r = probe(webcam, "events");
    std::string ids;
    for (uint32_t id :
         {V4L2_CID_BRIGHTNESS, V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CID_GAIN, V4L2_CID_EXPOSURE_AUTO,
          V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_FOCUS_ABSOLUTE, V4L2_CID_FOCUS_AUTO, V4L2_CID_ZOOM_ABSOLUTE})
        ids += to_string(id) + ",";
    EXPECT_EQ(r["controls"], ids);
    EXPECT_EQ(r["menu"], "EINVAL,Manual Mode,EINVAL,Aperture Priority Mode,"); // a menu with gaps
    const std::string exposure = to_string(V4L2_CID_EXPOSURE_ABSOLUTE) + ":";
    EXPECT_EQ(r["initial"], exposure + "3:166:1"); // value and flags; inactive under auto exposure
    EXPECT_EQ(r["pending"], "ENOENT");
    EXPECT_EQ(r["write_while_auto"], "EACCES");
    EXPECT_EQ(r["ctl"], "1");
    EXPECT_EQ(r["pri"], to_string(POLLPRI));
    EXPECT_EQ(r["event"], to_string(V4L2_CID_EXPOSURE_AUTO) + ":1:1:0 / " + exposure + "2:166:0");
    EXPECT_EQ(r["clamped"], "0 2047");
    EXPECT_EQ(r["own"], "0"); // a handle hears nothing of its own change
    EXPECT_EQ(r["show"], "2047");
}

TEST(EmulatedWebcam, FaultsReachTheProgramAsTheKernelReportsThem) {
    webcamtest::EmulatedWebcam webcam;
    webcam.ctl("create video0");
    auto r = probe(webcam, "faults");
    EXPECT_EQ(r["denied"] + " " + r["busy"] + " " + r["streaming"], "EACCES EBUSY 0");
    EXPECT_EQ(r["stalled"] + " " + r["resumed"], "0 " + to_string(POLLIN));
    EXPECT_EQ(r["failed"], to_string(POLLERR) + " EIO");
    EXPECT_EQ(r["unplugged"], to_string(POLLERR | POLLHUP) + " ENODEV 0 ENOENT");
    EXPECT_EQ(r["replugged"], "0");
    EXPECT_EQ(webcam.show("video0")["plugged"], "1");
}

} // namespace
