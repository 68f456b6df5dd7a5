#include "capture/ThermalPressureMonitor.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <optional>

namespace {
namespace fs = std::filesystem;

constexpr long fairBelowFirstTrip = 10000; // m°C
constexpr long fallBackMargin = 2000;      // m°C

const std::array<const AVCaptureSystemPressureLevel*, 5> levelsByRank{
    &AVCaptureSystemPressureLevelNominal, &AVCaptureSystemPressureLevelFair,
    &AVCaptureSystemPressureLevelSerious, &AVCaptureSystemPressureLevelCritical,
    &AVCaptureSystemPressureLevelShutdown};

std::optional<long> readNumber(const fs::path& path) {
    std::ifstream in(path);
    long value = 0;
    if (!(in >> value))
        return std::nullopt;
    return value;
}

std::optional<std::string> readWord(const fs::path& path) {
    std::ifstream in(path);
    std::string word;
    if (!(in >> word))
        return std::nullopt;
    return word;
}

std::vector<std::string> findZones(const std::string& root) {
    std::vector<std::string> zones;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(root, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("thermal_zone", 0) == 0 && readNumber(entry.path() / "temp"))
            zones.push_back(entry.path());
    }
    std::sort(zones.begin(), zones.end());
    return zones;
}
} // namespace

ThermalPressureMonitor::ThermalPressureMonitor(std::string root, Reporter reporter,
                                               std::chrono::milliseconds interval)
    : zones_(findZones(root)), reporter_(std::move(reporter)), interval_(interval) {
    if (!zones_.empty())
        queue_.async([this] { check(); });
}

ThermalPressureMonitor::~ThermalPressureMonitor() {
    stopping_ = true;
}

int ThermalPressureMonitor::rank(const AVCaptureSystemPressureLevel& level) {
    for (size_t i = 0; i < levelsByRank.size(); ++i)
        if (*levelsByRank[i] == level)
            return int(i);
    return 0;
}

std::vector<ThermalPressureMonitor::Reading> ThermalPressureMonitor::read() const {
    std::vector<Reading> readings;
    for (const fs::path zone : zones_) {
        auto temperature = readNumber(zone / "temp");
        if (!temperature)
            continue; // some sensors fail to read at times
        Reading reading{*temperature, {}};
        for (int i = 0;; ++i) {
            const std::string prefix = "trip_point_" + std::to_string(i);
            auto type = readWord(zone / (prefix + "_type"));
            if (!type)
                break;
            auto at = readNumber(zone / (prefix + "_temp"));
            if (!at || *at <= 0)
                continue; // disabled trips read as 0 or below
            if (*type == "passive")
                reading.trips.push_back({*at, rank(AVCaptureSystemPressureLevelSerious)});
            else if (*type == "hot" || *type == "critical")
                reading.trips.push_back({*at, rank(AVCaptureSystemPressureLevelCritical)});
            // "active" trips only switch fans on: no pressure on the camera.
        }
        readings.push_back(std::move(reading));
    }
    return readings;
}

int ThermalPressureMonitor::rankFor(const std::vector<Reading>& readings, long margin) {
    int highest = 0;
    for (const Reading& r : readings) {
        const long t = r.milliCelsius + margin;
        int level = 0;
        std::optional<long> firstPassive, firstOther;
        for (const Trip& trip : r.trips) {
            if (t >= trip.milliCelsius)
                level = std::max(level, trip.rank);
            auto& first = trip.rank == rank(AVCaptureSystemPressureLevelSerious) ? firstPassive : firstOther;
            first = std::min(first.value_or(trip.milliCelsius), trip.milliCelsius);
        }
        const std::optional<long> first = firstPassive ? firstPassive : firstOther;
        if (level == 0 && first && t >= *first - fairBelowFirstTrip)
            level = rank(AVCaptureSystemPressureLevelFair);
        highest = std::max(highest, level);
    }
    return highest;
}

AVCaptureSystemPressureLevel ThermalPressureMonitor::readLevel() const {
    return *levelsByRank[rankFor(read(), 0)];
}

void ThermalPressureMonitor::check() {
    if (stopping_)
        return;
    const auto readings = read();
    int level = rankFor(readings, 0);
    if (level < reportedRank_)
        level = std::min(reportedRank_, std::max(level, rankFor(readings, fallBackMargin)));
    if (level != reportedRank_) {
        reportedRank_ = level;
        if (reporter_)
            reporter_(*levelsByRank[level]);
    }
    queue_.asyncAfter(interval_, [this] { check(); });
}
