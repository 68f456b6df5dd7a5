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

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <vector>

#include "support/EmulatedWebcam.h"

namespace {

// ---- The child's side.

void say(const std::string& key, const std::string& value) {
    std::printf("%s=%s\n", key.c_str(), value.c_str());
    std::fflush(stdout);
}

std::string errorName(int error) {
    return error ? strerrorname_np(error) : "0";
}

int call(int fd, unsigned long request, void* arg) {
    return v4l2_ioctl(fd, request, arg) == 0 ? 0 : errno;
}

std::string fourcc(uint32_t f) {
    return {char(f), char(f >> 8), char(f >> 16), char(f >> 24)};
}

std::string text(const uint8_t* name) {
    return reinterpret_cast<const char*>(name);
}

short pollFor(int fd, short events, int ms) {
    pollfd p{fd, events, 0};
    return poll(&p, 1, ms) < 0 ? -1 : p.revents;
}

// Buffers mapped through libv4l2 and queued, then streaming.
struct Stream {
    int fd;
    std::vector<uint8_t*> data;
    int start(uint32_t count) {
        v4l2_requestbuffers r{};
        r.count = count, r.type = V4L2_BUF_TYPE_VIDEO_CAPTURE, r.memory = V4L2_MEMORY_MMAP;
        if (int error = call(fd, VIDIOC_REQBUFS, &r))
            return error;
        for (uint32_t i = 0; i < r.count; ++i) {
            v4l2_buffer b = buffer(i);
            call(fd, VIDIOC_QUERYBUF, &b);
            data.push_back(static_cast<uint8_t*>(
                v4l2_mmap(nullptr, b.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, b.m.offset)));
            call(fd, VIDIOC_QBUF, &b);
        }
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        return call(fd, VIDIOC_STREAMON, &type);
    }
    static v4l2_buffer buffer(uint32_t index) {
        v4l2_buffer b{};
        b.index = index, b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE, b.memory = V4L2_MEMORY_MMAP;
        return b;
    }
    // The next frame, waited for with poll(); its buffer is queued again by the next call.
    int next(v4l2_buffer& b) {
        if (b.flags & V4L2_BUF_FLAG_DONE)
            call(fd, VIDIOC_QBUF, &b);
        b = buffer(0);
        if (!(pollFor(fd, POLLIN, 3000) & POLLIN))
            return ETIMEDOUT;
        return call(fd, VIDIOC_DQBUF, &b);
    }
};

int openNode(const char* path) {
    const int fd = v4l2_open(path, O_RDWR | O_NONBLOCK);
    return fd < 0 ? -errno : fd;
}

void describe() {
    std::vector<std::string> nodes, listed;
    DIR* dev = opendir("/dev");
    while (dirent* entry = readdir(dev))
        if (!std::strncmp(entry->d_name, "video", 5))
            nodes.push_back(entry->d_name);
    closedir(dev);
    for (auto& entry : std::filesystem::directory_iterator("/dev"))
        listed.push_back(entry.path().filename());
    std::sort(nodes.begin(), nodes.end());
    say("nodes", nodes.size() == 2 ? nodes[0] + "," + nodes[1] : std::to_string(nodes.size()));
    say("listed", std::to_string(std::count(listed.begin(), listed.end(), "video0")));
    struct stat s {};
    stat("/dev/video0", &s);
    say("stat", S_ISCHR(s.st_mode) ? "char " + std::to_string(major(s.st_rdev)) : "not a device");
    v4l2_capability cap{};
    const int meta = openNode("/dev/video1");
    call(meta, VIDIOC_QUERYCAP, &cap);
    say("video1", (cap.device_caps & V4L2_CAP_META_CAPTURE) && !(cap.device_caps & V4L2_CAP_VIDEO_CAPTURE) ? "meta" : "?");
    v4l2_close(meta);
    const int fd = openNode("/dev/video0");
    call(fd, VIDIOC_QUERYCAP, &cap);
    say("cap", text(cap.driver) + "|" + text(cap.card) + "|" + text(cap.bus_info) + "|" +
                   std::to_string(cap.device_caps & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_META_CAPTURE)));
    std::string list;
    for (v4l2_fmtdesc f{0, V4L2_BUF_TYPE_VIDEO_CAPTURE, {}, {}, 0, {}, {}}; call(fd, VIDIOC_ENUM_FMT, &f) == 0; ++f.index)
        list += fourcc(f.pixelformat) + ",";
    say("formats", list);
    list.clear();
    for (v4l2_frmsizeenum s{0, V4L2_PIX_FMT_MJPEG, 0, {}, {}}; call(fd, VIDIOC_ENUM_FRAMESIZES, &s) == 0; ++s.index)
        list += std::to_string(s.discrete.width) + "x" + std::to_string(s.discrete.height) + ",";
    say("sizes", list);
    list.clear();
    for (v4l2_frmivalenum i{0, V4L2_PIX_FMT_MJPEG, 1280, 720, 0, {}, {}}; call(fd, VIDIOC_ENUM_FRAMEINTERVALS, &i) == 0; ++i.index)
        list += std::to_string(i.discrete.numerator) + "/" + std::to_string(i.discrete.denominator) + ",";
    say("intervals", list);
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    f.fmt.pix.pixelformat = V4L2_PIX_FMT_MJPEG, f.fmt.pix.width = 1300, f.fmt.pix.height = 700;
    call(fd, VIDIOC_S_FMT, &f);
    say("format", fourcc(f.fmt.pix.pixelformat) + " " + std::to_string(f.fmt.pix.width) + "x" +
                      std::to_string(f.fmt.pix.height));
    v4l2_streamparm p{};
    p.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    p.parm.capture.timeperframe = {1, 6};
    call(fd, VIDIOC_S_PARM, &p);
    say("parm", std::to_string(p.parm.capture.timeperframe.numerator) + "/" +
                    std::to_string(p.parm.capture.timeperframe.denominator) + " " +
                    std::to_string(p.parm.capture.capability == V4L2_CAP_TIMEPERFRAME));
    Stream stream{fd, {}};
    say("streamon", errorName(stream.start(3)));
    say("show", webcamtest::EmulatedWebcam(getenv("FERNHOLD_EMULATED_DEV")).show("video0")["streaming"]);
    v4l2_buffer b{};
    double last = 0;
    for (int n = 0; n < 4; ++n) {
        const int error = stream.next(b);
        const double ms = b.timestamp.tv_sec * 1e3 + b.timestamp.tv_usec / 1e3;
        const uint8_t* jpeg = stream.data[b.index];
        say("frame", errorName(error) + " seq " + std::to_string(b.sequence) + " jpeg " +
                         std::to_string(b.bytesused > 1000 && jpeg[0] == 0xff && jpeg[1] == 0xd8) + " gap " +
                         std::to_string(n ? int(ms - last) : 0));
        last = ms;
    }
    v4l2_buffer none = Stream::buffer(0);
    say("again", errorName(call(fd, VIDIOC_DQBUF, &none)));
    v4l2_close(fd);
}

// libv4l2 decodes the frames into RGB24: the picture's dark corner, its light one and the
// bright square must be there.
void convert(const char* path) {
    const int fd = openNode(path);
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    f.fmt.pix.pixelformat = V4L2_PIX_FMT_RGB24, f.fmt.pix.width = 640, f.fmt.pix.height = 480;
    call(fd, VIDIOC_S_FMT, &f);
    Stream stream{fd, {}};
    stream.start(2);
    v4l2_buffer b{};
    const int error = stream.next(b) ? -1 : stream.next(b);
    const uint8_t* rgb = stream.data[b.index];
    auto at = [&](uint32_t x, uint32_t y) { return rgb + y * f.fmt.pix.bytesperline + x * 3; };
    int peak = 0;
    for (uint32_t i = 0; i < 640 * 480; ++i)
        peak = std::max(peak, (rgb[i * 3] + rgb[i * 3 + 1] + rgb[i * 3 + 2]) / 3);
    say("rgb", fourcc(f.fmt.pix.pixelformat) + " " + errorName(error) + " " + std::to_string(b.bytesused));
    say("corner", std::to_string(at(2, 2)[0] + at(2, 2)[1] + at(2, 2)[2]));
    say("far", std::to_string(at(637, 450)[0] + at(637, 450)[1] + at(637, 450)[2]));
    say("peak", std::to_string(peak));
}

std::string event(int fd) {
    v4l2_event e{};
    if (int error = call(fd, VIDIOC_DQEVENT, &e))
        return errorName(error);
    return std::to_string(e.id) + ":" + std::to_string(e.u.ctrl.changes) + ":" + std::to_string(e.u.ctrl.value) +
           ":" + std::to_string((e.u.ctrl.flags & V4L2_CTRL_FLAG_INACTIVE) != 0);
}

void events() {
    const int fd = openNode("/dev/video0");
    std::string ids;
    for (v4l2_queryctrl q{V4L2_CTRL_FLAG_NEXT_CTRL, {}, {}, 0, 0, 0, 0, 0, {}};
         call(fd, VIDIOC_QUERYCTRL, &q) == 0; q.id |= V4L2_CTRL_FLAG_NEXT_CTRL)
        ids += std::to_string(q.id) + ",";
    say("controls", ids);
    std::string menu;
    for (v4l2_querymenu m{V4L2_CID_EXPOSURE_AUTO, 0, {}, 0}; m.index < 4; ++m.index)
        if (call(fd, VIDIOC_QUERYMENU, &m) == 0)
            menu += std::to_string(m.index) + " " + text(m.name) + ",";
    say("menu", menu);
    for (uint32_t id : {V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_EXPOSURE_AUTO}) {
        v4l2_event_subscription s{V4L2_EVENT_CTRL, id, id == V4L2_CID_EXPOSURE_ABSOLUTE ? V4L2_EVENT_SUB_FL_SEND_INITIAL : 0u, {}};
        call(fd, VIDIOC_SUBSCRIBE_EVENT, &s);
    }
    say("initial", event(fd));
    say("pending", event(fd));
    v4l2_control c{V4L2_CID_EXPOSURE_ABSOLUTE, 500};
    say("write_while_auto", errorName(call(fd, VIDIOC_S_CTRL, &c)));
    webcamtest::EmulatedWebcam webcam(getenv("FERNHOLD_EMULATED_DEV"));
    say("ctl", webcam.ctl("set video0 " + std::to_string(V4L2_CID_EXPOSURE_AUTO) + " 1"));
    say("pri", std::to_string(pollFor(fd, POLLPRI, 3000)));
    for (std::string e; (e = event(fd)) != "ENOENT";)
        say("event", e);
    c = {V4L2_CID_EXPOSURE_ABSOLUTE, 5000};
    const int error = call(fd, VIDIOC_S_CTRL, &c);
    c.value = 0;
    call(fd, VIDIOC_G_CTRL, &c);
    say("clamped", errorName(error) + " " + std::to_string(c.value));
    say("own", std::to_string(pollFor(fd, POLLPRI, 200)));
    say("show", webcam.show("video0")["0x009a0902"]);
    v4l2_close(fd);
}

void faults() {
    webcamtest::EmulatedWebcam webcam(getenv("FERNHOLD_EMULATED_DEV"));
    webcam.ctl("deny video0");
    say("denied", errorName(-openNode("/dev/video0")));
    webcam.ctl("allow video0");
    const int fd = openNode("/dev/video0");
    webcam.ctl("busy video0");
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    call(fd, VIDIOC_G_FMT, &f);
    say("busy", errorName(call(fd, VIDIOC_S_FMT, &f)));
    webcam.ctl("idle video0");
    Stream stream{fd, {}};
    stream.start(4);
    v4l2_buffer b{};
    say("streaming", errorName(stream.next(b)));
    webcam.ctl("stall video0");
    while (call(fd, VIDIOC_DQBUF, &b) == 0) // what was done before the stall
        call(fd, VIDIOC_QBUF, &b);
    say("stalled", std::to_string(pollFor(fd, POLLIN, 300)));
    webcam.ctl("resume video0");
    say("resumed", std::to_string(pollFor(fd, POLLIN, 3000)));
    webcam.ctl("fail video0 EIO");
    say("failed", std::to_string(pollFor(fd, POLLIN, 3000)) + " " + errorName(call(fd, VIDIOC_DQBUF, &b)));
    webcam.ctl("unplug video0");
    v4l2_capability cap{};
    const std::string revents = std::to_string(pollFor(fd, POLLIN | POLLPRI, 3000));
    const std::string queried = errorName(call(fd, VIDIOC_QUERYCAP, &cap));
    const std::string closed = std::to_string(v4l2_close(fd));
    say("unplugged", revents + " " + queried + " " + closed + " " + errorName(-openNode("/dev/video0")));
    webcam.ctl("replug video0");
    const int again = openNode("/dev/video0");
    say("replugged", errorName(again < 0 ? -again : call(again, VIDIOC_QUERYCAP, &cap)));
}

// Runs the scenario the parent asked for, then leaves without running any test.
[[maybe_unused]] const int child = [] {
    const char* scenario = getenv("EMULATED_WEBCAM_PROBE");
    if (!scenario)
        return 0;
    unsetenv("LD_PRELOAD"); // the control tool gets its own; its shell needs none
    const std::string which = scenario;
    if (which == "describe")
        describe();
    else if (which == "events")
        events();
    else if (which == "faults")
        faults();
    else
        convert(scenario);
    std::fflush(stdout);
    _exit(0);
}();

// ---- The parent's side.

struct Report {
    std::multimap<std::string, std::string> lines;
    std::string all;
    std::string operator[](const std::string& key) const {
        auto it = lines.find(key);
        return it == lines.end() ? "(none)" : it->second;
    }
    std::vector<std::string> each(const std::string& key) const {
        std::vector<std::string> values;
        for (auto [it, end] = lines.equal_range(key); it != end; ++it)
            values.push_back(it->second);
        return values;
    }
};

Report probe(const webcamtest::EmulatedWebcam& webcam, const std::string& scenario) {
    const std::string command = webcam.environment() + " EMULATED_WEBCAM_PROBE='" + scenario + "' '" +
                                std::filesystem::read_symlink("/proc/self/exe").string() + "' 2>&1";
    Report report;
    FILE* pipe = popen(command.c_str(), "r");
    for (int c; pipe && (c = fgetc(pipe)) != EOF;)
        report.all += char(c);
    EXPECT_EQ(pclose(pipe), 0) << report.all;
    std::istringstream text(report.all);
    for (std::string line; std::getline(text, line);)
        if (auto eq = line.find('='); eq != std::string::npos)
            report.lines.emplace(line.substr(0, eq), line.substr(eq + 1));
    return report;
}

TEST(EmulatedWebcam, DescribesItselfAsAUvcCameraAndStreamsAtTheIntervalSet) {
    webcamtest::EmulatedWebcam webcam;
    webcam.ctl("create video0");
    webcam.ctl("create video1 --metadata");
    const Report r = probe(webcam, "describe");
    EXPECT_EQ(r["nodes"], "video0,video1") << r.all;
    EXPECT_EQ(r["listed"], "1");
    EXPECT_EQ(r["stat"], "char 81");
    EXPECT_EQ(r["video1"], "meta");
    EXPECT_EQ(r["cap"], "uvcvideo|Fernhold Emulated Webcam|usb-emulated-1|" +
                            std::to_string(V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING));
    EXPECT_TRUE(r["formats"].starts_with("MJPG,YUYV,")) << r["formats"]; // then libv4l2's own conversions
    EXPECT_EQ(r["sizes"], "640x480,1280x720,1920x1080,");
    EXPECT_EQ(r["intervals"], "1/30,1/15,1/10,1/5,");
    EXPECT_EQ(r["format"], "MJPG 1280x720");
    EXPECT_EQ(r["parm"], "1/5 1");
    EXPECT_EQ(r["streamon"], "0");
    EXPECT_EQ(r["show"], "1");
    const auto frames = r.each("frame");
    ASSERT_EQ(frames.size(), 4u) << r.all;
    for (size_t n = 0; n < frames.size(); ++n) {
        int seq = -1, jpeg = 0, gap = -1;
        char error[16] = {};
        ASSERT_EQ(std::sscanf(frames[n].c_str(), "%15s seq %d jpeg %d gap %d", error, &seq, &jpeg, &gap), 4);
        EXPECT_STREQ(error, "0");
        EXPECT_EQ(jpeg, 1) << frames[n];
        EXPECT_EQ(seq, int(n)) << frames[n];
        // One frame each 200 ms, give or take a loaded machine.
        EXPECT_TRUE(n == 0 || (gap >= 150 && gap <= 400)) << frames[n];
    }
    EXPECT_EQ(r["again"], "EAGAIN");
    auto shown = webcam.show("video0");
    EXPECT_EQ(shown["format"], "MJPG");
    EXPECT_EQ(shown["size"], "1280x720");
    EXPECT_EQ(shown["interval"], "1/5");
    EXPECT_EQ(shown["streaming"], "0");
    EXPECT_GE(std::stoi(shown["frames"]), 4);
}

TEST(EmulatedWebcam, ItsMjpegAndYuyvFramesDecodeInLibv4l2) {
    webcamtest::EmulatedWebcam webcam;
    webcam.ctl("create video2 --formats mjpeg");
    webcam.ctl("create video3 --formats yuyv --no-frame-rate-control");
    for (const char* node : {"/dev/video2", "/dev/video3"}) {
        const Report r = probe(webcam, node);
        EXPECT_EQ(r["rgb"], "RGB3 0 " + std::to_string(640 * 480 * 3)) << node << "\n" << r.all;
        EXPECT_LT(std::stoi(r["corner"]), 150) << node;
        EXPECT_GT(std::stoi(r["far"]), 400) << node;
        EXPECT_GT(std::stoi(r["peak"]), 200) << node;
    }
}

TEST(EmulatedWebcam, AnotherProgramsControlChangeArrivesAsAnEvent) {
    webcamtest::EmulatedWebcam webcam;
    webcam.ctl("create video0");
    const Report r = probe(webcam, "events");
    std::string ids;
    for (uint32_t id : {V4L2_CID_BRIGHTNESS, V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CID_GAIN, V4L2_CID_EXPOSURE_AUTO,
                        V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_FOCUS_ABSOLUTE, V4L2_CID_FOCUS_AUTO, V4L2_CID_ZOOM_ABSOLUTE})
        ids += std::to_string(id) + ",";
    EXPECT_EQ(r["controls"], ids) << r.all;
    EXPECT_EQ(r["menu"], "1 Manual Mode,3 Aperture Priority Mode,");
    const std::string exposure = std::to_string(V4L2_CID_EXPOSURE_ABSOLUTE) + ":";
    EXPECT_EQ(r["initial"], exposure + "3:166:1"); // value and flags; inactive while exposure is automatic
    EXPECT_EQ(r["pending"], "ENOENT");
    EXPECT_EQ(r["write_while_auto"], "EACCES");
    EXPECT_EQ(r["ctl"], "1");
    EXPECT_EQ(r["pri"], std::to_string(POLLPRI));
    EXPECT_EQ(r.each("event"),
              (std::vector<std::string>{std::to_string(V4L2_CID_EXPOSURE_AUTO) + ":1:1:0", exposure + "2:166:0"}));
    EXPECT_EQ(r["clamped"], "0 2047");
    EXPECT_EQ(r["own"], "0"); // a handle hears nothing of its own change
    EXPECT_EQ(r["show"], "2047");
}

TEST(EmulatedWebcam, FaultsReachTheProgramAsTheKernelReportsThem) {
    webcamtest::EmulatedWebcam webcam;
    webcam.ctl("create video0");
    const Report r = probe(webcam, "faults");
    EXPECT_EQ(r["denied"], "EACCES") << r.all;
    EXPECT_EQ(r["busy"], "EBUSY");
    EXPECT_EQ(r["streaming"], "0");
    EXPECT_EQ(r["stalled"], "0");
    EXPECT_EQ(r["resumed"], std::to_string(POLLIN));
    EXPECT_EQ(r["failed"], std::to_string(POLLERR) + " EIO");
    EXPECT_EQ(r["unplugged"], std::to_string(POLLERR | POLLHUP) + " ENODEV 0 ENOENT");
    EXPECT_EQ(r["replugged"], "0");
    EXPECT_EQ(webcam.show("video0")["plugged"], "1");
}

} // namespace
