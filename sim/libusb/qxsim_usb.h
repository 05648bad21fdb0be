// Control of the libusb-1.0 stand-in: which devices it presents and how
// they behave. Bulk endpoints of every reader lead to one simulated SAM.
#pragma once

#include <cstdint>

#include "sam_sim.h"

struct qxsim_usb_device {
    uint16_t vid = 0x0400;
    uint16_t pid = 0xC35A;
    bool kernel_driver = false;  // a kernel driver is bound to interface 0
    int claim_error = 0;         // libusb error returned by claim_interface
    int write_error = 0;         // libusb error returned by OUT transfers
    bool open_fails = false;
    bool no_in_endpoint = false;
    // The reader is pulled out right after a request with this command byte
    // reaches it (-1: never). As the kernel reports it, the read waiting for
    // that reply fails with LIBUSB_ERROR_IO, every later transfer with
    // LIBUSB_ERROR_NO_DEVICE, and the device is listed no more until the next
    // qxsim_usb_set_devices().
    int unplug_on_command = -1;
};

extern "C" {
// Replaces the device list. Without a call the list comes from the
// environment variable QXSIM_USB_DEVICES ("vid:pid,vid:pid", hex), and
// without that it holds one reader 0400:C35A.
void qxsim_usb_set_devices(const qxsim_usb_device* devices, int count);
int qxsim_usb_detach_count();
int qxsim_usb_open_handles();
int qxsim_usb_open_contexts();
// Interfaces claimed and not yet released (closing a handle releases its own).
int qxsim_usb_claimed_interfaces();
// Endpoint addresses of the last IN and OUT transfers.
unsigned char qxsim_usb_last_in_endpoint();
unsigned char qxsim_usb_last_out_endpoint();
// Time each bulk transfer takes (default 0), to widen overlaps in tests.
void qxsim_usb_set_transfer_time_us(int us);
// Most bulk transfers that were ever in progress at the same time.
int qxsim_usb_max_concurrent_transfers();
}

// The simulated SAM behind every reader.
__attribute__((visibility("default"))) qxsim::SamSim& qxsim_usb_sam();
