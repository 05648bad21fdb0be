#pragma once

#include "qxfpcap.h"

// The fingerprint sensor plug-in, loaded by name on first use. Without the
// plug-in every call answers with its failure value, and the next call tries
// to load it again.
class FPSensor
{
public:
    FPSensor() = default;
    ~FPSensor();
    FPSensor(const FPSensor &) = delete;
    FPSensor &operator=(const FPSensor &) = delete;

    // Opens "libqxfpcap.so" (lazy binding, the loader's search path) and
    // looks up its entry points; false unless both enumeration and open exist.
    bool LoadSensorLibrary();
    void FreeSensorLibrary();
    bool isLoaded() const { return library != nullptr; }

    int sensorEnmuDevices(_XUSBDevice *devices, int capacity);
    void *sensorOpen(_XUSBDevice *device);
    int sensorClose(void *handle);
    int sensorRebootEx(_XUSBDevice *device);
    int sensorCapture(void *handle, unsigned char *image, int capacity);
    int sensorGetParameter(void *handle, int code);
    int sensorSetParameter(void *handle, int code, int value);
    int sensorGetParameterEx(void *handle, int code, char *buffer, int *length);
    int sensorSetParameterEx(void *handle, int code, char *buffer, int length);
    int sensorReboot(void *handle);
    int sensorStatus(void *handle);

private:
    bool ensureLoaded() { return library != nullptr || LoadSensorLibrary(); }

    using EnumDevicesFn = int (*)(_XUSBDevice *, int);
    using OpenFn = void *(*)(_XUSBDevice *);
    using HandleFn = int (*)(void *);
    using RebootExFn = int (*)(_XUSBDevice *);
    using CaptureFn = int (*)(void *, unsigned char *, int);
    using GetParameterFn = int (*)(void *, int);
    using SetParameterFn = int (*)(void *, int, int);
    using GetParameterExFn = int (*)(void *, int, char *, int *);
    using SetParameterExFn = int (*)(void *, int, char *, int);

    void *library = nullptr;
    EnumDevicesFn fnEnumDevices = nullptr;
    OpenFn fnOpen = nullptr;
    HandleFn fnClose = nullptr;
    RebootExFn fnRebootEx = nullptr;
    CaptureFn fnCapture = nullptr;
    GetParameterFn fnGetParameter = nullptr;
    SetParameterFn fnSetParameter = nullptr;
    GetParameterExFn fnGetParameterEx = nullptr;
    SetParameterExFn fnSetParameterEx = nullptr;
    HandleFn fnReboot = nullptr;
    HandleFn fnStatus = nullptr;
};
