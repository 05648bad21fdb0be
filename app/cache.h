#pragma once

#include <QList>

class Config;
class CameraInfo;

// Process-wide pointers, set once by static initialisation and never deleted.
class Cache
{
public:
    static Config *config;
    static QList<CameraInfo> *cameras;
};
