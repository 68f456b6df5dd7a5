// emulated_webcam_ctl: makes, breaks and inspects the emulated webcam's nodes from outside
// the program under test.
//   emulated_webcam_ctl DIR create videoN [--metadata] [--formats MJPG[,YUYV]]  (or RGB3; two at most)
//                     [--no-frame-rate-control] [--slow-default-interval]  (S_FMT falls back to the second)
//                     [--bus NAME]  (bus info, for a second camera of the same kind)
//                     [--serial TEXT]  (the USB device's serial number, as sysfs gives it)
//                     [--stepwise] [--damaged] [--bare-jpeg] [--padded-restarts] [--without focus]
//                     [--loopback [--exclusive-caps]]  (an output node, as v4l2loopback's)
//                     (see NodeState.h)
//   emulated_webcam_ctl DIR unplug|stall|resume|hiccup|busy|idle|deny|allow videoN
//   emulated_webcam_ctl DIR replug videoN [videoM]   back with its controls at their defaults,
//                                                     under another number when given
//   emulated_webcam_ctl DIR nospace videoN COUNT     the next COUNT STREAMONs fail with ENOSPC
//   emulated_webcam_ctl DIR busyfor videoN COUNT     the next COUNT S_FMTs fail with EBUSY
//   emulated_webcam_ctl DIR fail videoN EIO|ENODEV
//   emulated_webcam_ctl DIR show videoN       one line of key=value, controls as 0xID=value
//   emulated_webcam_ctl DIR set videoN ID VALUE
// `set` is another program's VIDIOC_S_CTRL on /dev/videoN (it prints the value G_CTRL reads
// back), so it runs with the emulator preloaded, as the program under test does. A node
// has udev's links, DIR/v4l/by-id and by-path, while it is plugged in; udev removes the
// folders that an unplug empties.
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "NodeState.h"

namespace {
using namespace webcam;
namespace fs = std::filesystem;

// A command or option that sets one field of the node.
template <typename Field> struct Setting {
    const char* name;
    Field NodeState::*field;
    uint32_t value;
};
template <typename Field, size_t n>
const Setting<Field>* named(const Setting<Field> (&table)[n], const std::string& name) {
    const auto* found = std::find_if(table, table + n, [&](auto& setting) { return name == setting.name; });
    return found == table + n ? nullptr : found;
}

// The switches, set by the commands so named.
constexpr Setting<std::atomic<uint32_t>> switches[] = {
    {"stall", &NodeState::stalled, 1},  {"resume", &NodeState::stalled, 0}, {"busy", &NodeState::busy, 1},
    {"idle", &NodeState::busy, 0},      {"deny", &NodeState::denied, 1},    {"allow", &NodeState::denied, 0},
    {"hiccup", &NodeState::stalled, 2}, // a stall that a restart of the stream cures
};

// The options of `create` that set one field of the node.
constexpr Setting<uint32_t> flags[] = {
    {"--metadata", &NodeState::metadata, 1},
    {"--no-frame-rate-control", &NodeState::frameRateControl, 0},
    {"--slow-default-interval", &NodeState::defaultInterval, 1},
    {"--stepwise", &NodeState::stepwise, 1},
    {"--damaged", &NodeState::damaged, 1},
    {"--bare-jpeg", &NodeState::bareJpeg, 1},
    {"--padded-restarts", &NodeState::paddedRestarts, 1},
    {"--loopback", &NodeState::loopback, 1},
    {"--exclusive-caps", &NodeState::exclusiveCaps, 1},
};

int usage() {
    std::fputs("usage: emulated_webcam_ctl DIR create|show|set|fail|unplug|replug|stall|...|allow videoN\n",
               stderr);
    return 2;
}

// udev's links to a node: by the camera's name and serial (here its bus), and by its port.
void makeLinks(const std::string& dir, const std::string& node, const NodeState& s) {
    const std::string bus = s.bus[0] ? s.bus : "usb-emulated-1", index = s.metadata ? "1" : "0";
    std::error_code ignored;
    for (const std::string kind : {"by-id/usb-Fernhold_Emulated_Webcam_", "by-path/platform-"}) {
        fs::create_directories(dir + "/v4l/" + kind.substr(0, kind.find('/')), ignored);
        fs::create_symlink("../../" + node, dir + "/v4l/" + kind + bus + "-video-index" + index, ignored);
    }
}

// And on unplug, the folders too once they are empty.
void removeLinks(const std::string& dir, const std::string& node) {
    std::error_code ignored;
    for (const char* folder : {"/v4l/by-id", "/v4l/by-path", "/v4l"}) {
        for (const auto& entry : fs::directory_iterator(dir + folder, ignored))
            if (fs::read_symlink(entry.path(), ignored) == "../../" + node)
                fs::remove(entry.path(), ignored);
        fs::remove(dir + folder, ignored);
    }
}

int create(const std::string& dir, const std::string& node, int argc, char** argv) {
    NodeState* s = mapNode(dir, node, true);
    if (!s)
        return std::perror("emulated_webcam_ctl: create"), 1;
    s->formats[0] = V4L2_PIX_FMT_MJPEG, s->formats[1] = V4L2_PIX_FMT_YUYV, s->frameRateControl = 1;
    for (int i = 0; i < argc; ++i) {
        const std::string option = argv[i];
        if (const auto* flag = named(flags, option))
            s->*flag->field = flag->value;
        else if (option == "--formats" && i + 1 < argc) { // fourccs; the first is the one S_FMT falls back to
            const std::string list = argv[++i] + std::string(",");
            for (size_t f = 0, at = 0; f < 2; ++f, at += 5)
                s->formats[f] = at + 4 < list.size()
                                    ? v4l2_fourcc(list[at], list[at + 1], list[at + 2], list[at + 3])
                                    : 0;
        } else if (option == "--without" && i + 1 < argc) // the controls whose names begin so
            for (size_t c = 0, length = std::strlen(argv[++i]); c < controlCount; ++c)
                s->absent |= strncasecmp(controls[c].name, argv[i], length) ? 0 : 1u << c;
        else if (option == "--bus" && i + 1 < argc)
            std::snprintf(s->bus, sizeof s->bus, "%s", argv[++i]);
        else if (option == "--serial" && i + 1 < argc)
            std::ofstream(dir + "/." + node + ".serial") << argv[++i] << "\n";
        else
            return usage();
    }
    for (size_t i = 0; i < controlCount; ++i)
        s->control[i].value = controls[i].defaultValue;
    s->fourcc = s->formats[0], s->width = s->stepwise ? steps.max_width : 640,
    s->height = s->stepwise ? steps.max_height : 480;
    s->numerator = s->intervalList()[s->defaultInterval][0],
    s->denominator = s->intervalList()[s->defaultInterval][1];
    std::ofstream(dir + "/" + node);
    makeLinks(dir, node, *s);
    std::ofstream(dir + "/." + node + ".uevent")
        << "MAJOR=81\nMINOR=" << node.substr(5) << "\nDEVNAME=" << node << "\n";
    return 0;
}

// Another program's write: a real open() and ioctl() on the node, through the emulator.
int setControl(const std::string& node, const char* id, const char* value) {
    const int fd = ::open(("/dev/" + node).c_str(), O_RDWR);
    v4l2_control c{uint32_t(std::strtoul(id, nullptr, 0)), int32_t(std::strtol(value, nullptr, 0))};
    const int error = fd < 0 || ::ioctl(fd, VIDIOC_S_CTRL, &c) || ::ioctl(fd, VIDIOC_G_CTRL, &c) ? errno : 0;
    ::close(fd);
    if (error)
        return std::fprintf(stderr, "emulated_webcam_ctl: set %s: %s (preloaded?)\n", id,
                            std::strerror(error)),
               1;
    return std::printf("%d\n", c.value), 0;
}

void show(const NodeState& s, bool plugged) {
    const uint32_t f = s.fourcc;
    std::printf("format=%c%c%c%c size=%ux%u streaming=%d interval=%u/%u frames=%llu plugged=%d stalled=%u "
                "failure=%s busy=%u denied=%u",
                char(f), char(f >> 8), char(f >> 16), char(f >> 24), s.width.load(), s.height.load(),
                s.held(), s.numerator.load(), s.denominator.load(), (unsigned long long)s.frames, plugged,
                s.stalled.load(), s.failure ? strerrorname_np(int(s.failure)) : "0", s.busy.load(),
                s.denied.load());
    for (size_t i = 0; i < controlCount; ++i)
        std::printf(" 0x%08x=%d", controls[i].id, s.control[i].value.load());
    std::printf("\n");
}
} // namespace

int main(int argc, char** argv) {
    if (argc < 4)
        return usage();
    const std::string dir = argv[1], command = argv[2], node = argv[3], file = dir + "/" + node;
    setenv("FERNHOLD_EMULATED_DEV", dir.c_str(), 1);
    if (command == "create")
        return create(dir, node, argc - 4, argv + 4);
    NodeState* s = mapNode(dir, node, false);
    if (!s)
        return std::fprintf(stderr, "emulated_webcam_ctl: no node %s in %s\n", node.c_str(), dir.c_str()), 1;
    if (const auto* flip = named(switches, command)) {
        (s->*flip->field) = flip->value;
        if (flip->field == &NodeState::denied) // as udev's new permissions, seen by inotify
            ::chmod(file.c_str(), flip->value ? 0600 : 0660);
    } else if (command == "unplug") // the node's handles die first, then its file goes
        s->unplugged = 1, s->streaming = 0, ::unlink(file.c_str()), removeLinks(dir, node);
    else if (command == "replug" && argc <= 5) { // a fresh node, as a reset camera's: old handles stay dead
        const std::string name = argc == 5 ? argv[4] : node;
        s->failure = 0, s->stalled = 0, s->streaming = 0, s->generation.fetch_add(1);
        for (size_t i = 0; i < controlCount; ++i) // a camera powers up with its defaults
            s->control[i].value = controls[i].defaultValue;
        ::unlink(file.c_str());
        if (name != node)
            for (const char* kept : {".state", ".serial"})
                std::rename((dir + "/." + node + kept).c_str(), (dir + "/." + name + kept).c_str());
        removeLinks(dir, node);
        s->unplugged = 0, std::ofstream{dir + "/" + name}, makeLinks(dir, name, *s);
    } else if ((command == "nospace" || command == "busyfor") && argc == 5)
        (command == "nospace" ? s->bandwidthShort : s->busyShort) =
            uint32_t(std::strtoul(argv[4], nullptr, 10));
    else if (command == "fail" && argc == 5 &&
             (!std::strcmp(argv[4], "EIO") || !std::strcmp(argv[4], "ENODEV")))
        s->failure = std::strcmp(argv[4], "EIO") ? ENODEV : EIO;
    else if (command == "set" && argc == 6)
        return setControl(node, argv[4], argv[5]);
    else if (command == "show")
        show(*s, access(file.c_str(), F_OK) == 0);
    else
        return usage();
    s->ring();
    return 0;
}
