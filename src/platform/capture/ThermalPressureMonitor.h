#pragma once
// The machine's own thermal state as a system pressure level, read from the kernel's
// thermal zones (/sys/class/thermal/thermal_zone*/temp and their trip points).
//
// Per zone: at or above a passive trip (the kernel starts slowing the machine) the level
// is serious; at or above a hot or critical trip it is critical; within 10 °C below the
// zone's first trip (its lowest passive one, or when it has none its lowest hot or
// critical one) it is fair; otherwise nominal. The machine's level is its hottest zone's.
// Shutdown is never inferred: at the critical trip the kernel powers the machine off.
// A level falls back only once the temperatures are 2 °C clear of its threshold, so a
// zone hovering at a trip does not flap.
//
// The monitor reads every `interval` on a serial queue of its own and calls the reporter
// there, for level changes only, starting from nominal. Without thermal zones (containers,
// some virtual machines) it never reports.
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "capture/AVCaptureDevice.h"
#include "dispatch/DispatchQueue.h"

class ThermalPressureMonitor {
  public:
    using Reporter = std::function<void(const AVCaptureSystemPressureLevel& level)>;

    ThermalPressureMonitor(std::string root, Reporter reporter,
                           std::chrono::milliseconds interval = std::chrono::seconds(2));
    // Stops the readings; a report in progress finishes first.
    ~ThermalPressureMonitor();
    ThermalPressureMonitor(const ThermalPressureMonitor&) = delete;
    ThermalPressureMonitor& operator=(const ThermalPressureMonitor&) = delete;

    bool hasThermalZones() const { return !zones_.empty(); }
    // The level the zones show now, without the fall-back margin.
    AVCaptureSystemPressureLevel readLevel() const;

    // 0 (nominal) to 4 (shutdown); unknown levels rank as nominal.
    static int rank(const AVCaptureSystemPressureLevel& level);

  private:
    struct Trip {
        long milliCelsius;
        int rank; // the level reached at this trip
    };
    struct Reading {
        long milliCelsius;
        std::vector<Trip> trips;
    };
    std::vector<Reading> read() const;
    static int rankFor(const std::vector<Reading>& readings, long marginMilliCelsius);
    void check();

    const std::vector<std::string> zones_;
    const Reporter reporter_;
    const std::chrono::milliseconds interval_;
    int reportedRank_ = 0; // queue only
    std::atomic<bool> stopping_{false};
    DispatchQueue queue_{"thermal"}; // last: destroyed first
};
