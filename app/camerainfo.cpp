#include "camerainfo.h"

CameraInfo::CameraInfo() = default;
