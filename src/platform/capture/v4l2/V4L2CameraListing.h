#pragma once
// `fernhold --list-cameras`: every /dev/video* node that captures video, with the card's
// name, where it is attached and each mode it offers (pixel format, size, frame rates),
// as a table for a person to read. Nodes that are not video capture devices (a UVC
// camera's metadata node, a codec) are left out; a node that cannot be opened is listed
// with the reason. Below a camera's line come udev's stable links to it
// (/dev/v4l/by-id/…), where udev made them. Video output nodes (v4l2loopback's) are
// listed as outputs, on one line each, and are never a camera.
#include <optional>
#include <string>

std::string describeCameras(const std::string& deviceDirectory = "/dev");

// The camera a run uses when none is named: the video capture node with the lowest number.
struct CaptureNode {
    std::string path;     // "/dev/video0"
    std::string cardName; // the driver's name for it
};
std::optional<CaptureNode> firstCaptureNode(const std::string& deviceDirectory = "/dev");
