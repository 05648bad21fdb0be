#include "fpsensor.h"

#include "dynamiclibrary.h"

namespace {
const char kSensorLibrary[] = "libqxfpcap.so";
} // namespace

FPSensor::~FPSensor()
{
    FreeSensorLibrary();
}

bool FPSensor::LoadSensorLibrary()
{
    if (library)
        return true;
    library = dynamiclibrary::open(kSensorLibrary);
    if (!library)
        return false;
    dynamiclibrary::bind(library, "sensorEnumDevices", fnEnumDevices);
    dynamiclibrary::bind(library, "sensorOpen", fnOpen);
    dynamiclibrary::bind(library, "sensorClose", fnClose);
    dynamiclibrary::bind(library, "sensorRebootEx", fnRebootEx);
    dynamiclibrary::bind(library, "sensorCapture", fnCapture);
    dynamiclibrary::bind(library, "sensorGetParameter", fnGetParameter);
    dynamiclibrary::bind(library, "sensorSetParameter", fnSetParameter);
    dynamiclibrary::bind(library, "sensorGetParameterEx", fnGetParameterEx);
    dynamiclibrary::bind(library, "sensorSetParameterEx", fnSetParameterEx);
    dynamiclibrary::bind(library, "sensorReboot", fnReboot);
    dynamiclibrary::bind(library, "sensorStatus", fnStatus);
    if (!fnEnumDevices || !fnOpen) {
        FreeSensorLibrary();
        return false;
    }
    return true;
}

void FPSensor::FreeSensorLibrary()
{
    dynamiclibrary::close(library);
    library = nullptr;
    fnEnumDevices = nullptr;
    fnOpen = nullptr;
    fnClose = nullptr;
    fnRebootEx = nullptr;
    fnCapture = nullptr;
    fnGetParameter = nullptr;
    fnSetParameter = nullptr;
    fnGetParameterEx = nullptr;
    fnSetParameterEx = nullptr;
    fnReboot = nullptr;
    fnStatus = nullptr;
}

int FPSensor::sensorEnmuDevices(_XUSBDevice *devices, int capacity)
{
    return ensureLoaded() ? fnEnumDevices(devices, capacity) : 0;
}

void *FPSensor::sensorOpen(_XUSBDevice *device)
{
    return ensureLoaded() ? fnOpen(device) : nullptr;
}

// Entry points other than enumeration and open may be missing from a
// plug-in; such a call reports failure instead of jumping through null.
int FPSensor::sensorClose(void *handle)
{
    return ensureLoaded() && fnClose ? fnClose(handle) : -1;
}

int FPSensor::sensorRebootEx(_XUSBDevice *device)
{
    return ensureLoaded() && fnRebootEx ? fnRebootEx(device) : -1;
}

int FPSensor::sensorCapture(void *handle, unsigned char *image, int capacity)
{
    return ensureLoaded() && fnCapture ? fnCapture(handle, image, capacity) : -1;
}

int FPSensor::sensorGetParameter(void *handle, int code)
{
    return ensureLoaded() && fnGetParameter ? fnGetParameter(handle, code) : -1;
}

int FPSensor::sensorSetParameter(void *handle, int code, int value)
{
    return ensureLoaded() && fnSetParameter ? fnSetParameter(handle, code, value) : -1;
}

int FPSensor::sensorGetParameterEx(void *handle, int code, char *buffer, int *length)
{
    return ensureLoaded() && fnGetParameterEx ? fnGetParameterEx(handle, code, buffer, length) : -1;
}

int FPSensor::sensorSetParameterEx(void *handle, int code, char *buffer, int length)
{
    return ensureLoaded() && fnSetParameterEx ? fnSetParameterEx(handle, code, buffer, length) : -1;
}

int FPSensor::sensorReboot(void *handle)
{
    return ensureLoaded() && fnReboot ? fnReboot(handle) : -1;
}

int FPSensor::sensorStatus(void *handle)
{
    return ensureLoaded() && fnStatus ? fnStatus(handle) : -1;
}
