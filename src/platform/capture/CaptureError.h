#pragma once
// The errors the capture devices hand out. Descriptions read well after "Could not
// initialize rendering pipeline: ".
#include <string>

#include "foundation/NSError.h"

inline const std::string CaptureErrorDomain = "FernholdCaptureErrorDomain";

enum class CaptureErrorCode : int {
    unreadableFile = 1,    // missing, unreadable or empty
    notAnImage = 2,        // neither PNG nor JPEG
    imageTooLarge = 3,     // over the size limits; not decoded
    damagedImage = 4,      // truncated or corrupt
    unknownSource = 5,     // the source names nothing we can open
    deviceUnavailable = 6, // the webcam could not be opened or set up
    deviceFailed = 7,      // the webcam failed while streaming
};

inline NSError makeCaptureError(CaptureErrorCode code, std::string description) {
    return NSError(CaptureErrorDomain, int(code), std::move(description));
}
