/* A sensor plug-in that can enumerate but lacks sensorOpen, as a broken or
 * foreign library of the same name would. */
#include "qxfpcap.h"

__attribute__((visibility("default"))) int sensorEnumDevices(_XUSBDevice *devices, int capacity)
{
    (void)devices;
    (void)capacity;
    return 1;
}
