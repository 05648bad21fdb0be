#pragma once

#include "camerainfo.h"

#include <QList>
#include <QString>

#include <memory>

class VirtualSource;

// Virtual cameras named by the environment variable DOCSTATION_VIRTUAL_CAMERAS:
// entries separated by ';', each "synthetic[:options]", "video:PATH",
// "image:PATH" or "images:PATTERN". Each becomes one CameraInfo after the
// real ones, with a device number from firstIndex upwards.
namespace VirtualCameras {

constexpr int firstIndex = 1000;
constexpr const char *environmentVariable = "DOCSTATION_VIRTUAL_CAMERAS";

// Parses the variable, or a string of the same form, into camera records.
QList<CameraInfo> fromEnvironment();
QList<CameraInfo> parse(const QString &entries);

bool isVirtual(int deviceNumber);

// A new source for a device number handed out by the last parse(), or null.
std::unique_ptr<VirtualSource> createSource(int deviceNumber);

} // namespace VirtualCameras
