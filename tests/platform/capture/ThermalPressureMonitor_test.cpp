// Pressure levels from a fake /sys/class/thermal tree: none without zones, trip types, the
// fair band below the first trip, the hottest zone winning, reports of changes only, and
// the fall-back margin that keeps a zone at a trip from flapping.
#include <gtest/gtest.h>

#include <fstream>

#include "CaptureTestSupport.h"
#include "TempDirectory.h"
#include "capture/ThermalPressureMonitor.h"

using namespace capturetest;
using namespace std::chrono_literals;

namespace {

class FakeThermalTree {
  public:
    // `trips` as (type, m°C) pairs, in the kernel's numbering.
    void zone(int n, long milliCelsius, const std::vector<std::pair<std::string, long>>& trips) {
        auto dir = root_.path() / ("thermal_zone" + std::to_string(n));
        std::filesystem::create_directories(dir);
        for (size_t i = 0; i < trips.size(); ++i) {
            write(dir / ("trip_point_" + std::to_string(i) + "_type"), trips[i].first);
            write(dir / ("trip_point_" + std::to_string(i) + "_temp"), std::to_string(trips[i].second));
        }
        setTemperature(n, milliCelsius);
    }
    void setTemperature(int n, long milliCelsius) {
        write(root_.path() / ("thermal_zone" + std::to_string(n)) / "temp", std::to_string(milliCelsius));
    }
    std::string root() const { return root_.path().string(); }

  private:
    static void write(const std::filesystem::path& path, const std::string& text) {
        // Replaced whole, as sysfs reads are: the monitor never sees half a number.
        auto temporary = path.string() + ".new";
        std::ofstream(temporary) << text << "\n";
        std::filesystem::rename(temporary, path);
    }
    TempDirectory root_;
};

// The levels a monitor reports, in order.
struct Reports : Recording<AVCaptureSystemPressureLevel> {
    ThermalPressureMonitor::Reporter reporter() {
        return [self = *this](const AVCaptureSystemPressureLevel& level) mutable { self.add(level); };
    }
};

const std::vector<std::pair<std::string, long>> laptopTrips{
    {"active", 60000}, {"passive", 85000}, {"hot", 100000}, {"critical", 105000}};

} // namespace

TEST(ThermalPressureMonitor, TripPointsDecideTheLevel) {
    FakeThermalTree tree;
    ThermalPressureMonitor none(tree.root(), nullptr, 1h);
    EXPECT_FALSE(none.hasThermalZones());
    EXPECT_EQ(none.readLevel(), AVCaptureSystemPressureLevelNominal);
    tree.zone(0, 45000, laptopTrips);
    ThermalPressureMonitor monitor(tree.root(), nullptr, 1h);
    ASSERT_TRUE(monitor.hasThermalZones());
    const std::vector<std::pair<long, AVCaptureSystemPressureLevel>> expected{
        {45000, AVCaptureSystemPressureLevelNominal},
        {65000, AVCaptureSystemPressureLevelNominal}, // past the fan trip
        {75000, AVCaptureSystemPressureLevelFair},
        {84999, AVCaptureSystemPressureLevelFair},
        {85000, AVCaptureSystemPressureLevelSerious},
        {99000, AVCaptureSystemPressureLevelSerious},
        {100000, AVCaptureSystemPressureLevelCritical},
        {110000, AVCaptureSystemPressureLevelCritical}};
    for (auto [temperature, level] : expected) {
        tree.setTemperature(0, temperature);
        EXPECT_EQ(monitor.readLevel(), level) << temperature;
    }

    // The hottest zone wins; a zone without a passive trip is fair near its critical one;
    // disabled trips (0) are ignored.
    tree.setTemperature(0, 45000);
    tree.zone(1, 92000, {{"passive", 0}, {"critical", 100000}});
    EXPECT_EQ(monitor.readLevel(), AVCaptureSystemPressureLevelNominal); // zones are found at start
    ThermalPressureMonitor both(tree.root(), nullptr, 1h);
    EXPECT_EQ(both.readLevel(), AVCaptureSystemPressureLevelFair);
    tree.setTemperature(1, 100500);
    EXPECT_EQ(both.readLevel(), AVCaptureSystemPressureLevelCritical);
}

TEST(ThermalPressureMonitor, ReportsChangesOnlyAndFallsBackWithAMargin) {
    FakeThermalTree tree;
    tree.zone(0, 50000, laptopTrips);
    Reports reports;
    ThermalPressureMonitor monitor(tree.root(), reports.reporter(), 20ms);
    EXPECT_FALSE(reports.waitFor(1, 150ms)); // nominal from the start: nothing to say

    tree.setTemperature(0, 90000);
    ASSERT_TRUE(reports.waitFor(1));
    tree.setTemperature(0, 84000); // below the trip, but within the margin
    EXPECT_FALSE(reports.waitFor(2, 150ms));
    tree.setTemperature(0, 80000);
    ASSERT_TRUE(reports.waitFor(2));
    tree.setTemperature(0, 40000);
    ASSERT_TRUE(reports.waitFor(3));
    EXPECT_EQ(reports.values(), (std::vector<AVCaptureSystemPressureLevel>{
                                    AVCaptureSystemPressureLevelSerious, AVCaptureSystemPressureLevelFair,
                                    AVCaptureSystemPressureLevelNominal}));
}
