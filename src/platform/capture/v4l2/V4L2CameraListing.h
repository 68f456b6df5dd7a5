#pragma once
// `fernhold --list-cameras`: every /dev/video* node that captures video, with the card's
// name, where it is attached and each mode it offers (pixel format, size, frame rates),
// as a table for a person to read. Nodes that are not video capture devices (a UVC
// camera's metadata node, a codec) are left out; a node that cannot be opened is listed
// with the reason.
#include <string>

std::string describeCameras(const std::string& deviceDirectory = "/dev");
