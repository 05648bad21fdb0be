#include "cache.h"

#include "camerainfo.h"
#include "config.h"

// Defined in this order in one translation unit: the record (which loads
// "system.ini") first, then the empty camera list.
Config *Cache::config = new Config();
QList<CameraInfo> *Cache::cameras = new QList<CameraInfo>();
