#pragma once
// Touch sequences as a finger makes them, for the script player and the window's keys:
// the gesture recognizers judge them by their timestamps, so a whole sequence can be sent
// at once and still read as a 0.15 s swipe or two taps 0.1 s apart.
#include <vector>

#include "media/CGGeometry.h"
#include "ui/UIGestureRecognizer.h"

namespace host {

// One finger moving 150 points through `centre` within 0.2 s: began, moved, ended.
std::vector<UIEvent> swipeEvents(CGPoint centre, UISwipeGestureRecognizerDirection direction,
                                 double startTime);
// A finger down and up again at `centre`, 0.05 s later.
std::vector<UIEvent> tapEvents(CGPoint centre, double startTime);
// Two taps whose downs are 0.1 s apart.
std::vector<UIEvent> doubleTapEvents(CGPoint centre, double startTime);
// Two fingers 100 points apart around `centre` moving apart (or together) over six moves
// until their distance is `scale` times the first, then lifting.
std::vector<UIEvent> pinchEvents(CGPoint centre, double scale, double startTime);

// How long each sequence lasts by its timestamps.
double sequenceDuration(const std::vector<UIEvent>& events);

// The timestamps of every touch the host sends, real or made up, from one clock that
// never runs backwards: a made-up sequence may end "in the future", and the real touches
// after it are then moved later, all by the same amount, so the gaps between them (which
// the tap recognizers judge) stay as they were.
class TouchClock {
  public:
    // A real touch that happened at `time` (seconds of the steady clock).
    double stamp(double time);
    // The start of a made-up sequence that begins now and lasts `duration` seconds.
    double reserve(double duration);
    // Seconds of the steady clock.
    static double now();

  private:
    double last_ = 0, shift_ = 0;
};

} // namespace host
