// Development stand-in of libusb-1.0: the calls the reader library makes,
// over a configurable list of devices. Production builds link the real one.
#include "qxsim_usb.h"

#include <libusb.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#define EXPORT extern "C" __attribute__((visibility("default")))

struct libusb_context {
    int unused;
};

struct libusb_device {
    int index;
    bool gone = false;  // pulled out
};

struct libusb_device_handle {
    libusb_device* device;
    qxsim::Bytes pending;  // reply waiting for the IN transfer
    unsigned pending_busy_us = 0;  // SAM's working time before that reply can be read
    bool pulled_mid_exchange = false;  // the reply it waits for will never come
};

namespace {

constexpr unsigned char kInEndpoint = 0x81;
constexpr unsigned char kOutEndpoint = 0x02;
constexpr unsigned char kControlLike = 0x83;  // listed first, must be skipped

std::mutex g_mutex;
std::vector<qxsim_usb_device> g_devices;
std::vector<libusb_device> g_device_objects;
bool g_configured = false;
int g_detached = 0, g_handles = 0, g_contexts = 0;
std::set<const libusb_device_handle*> g_claimed;  // handles holding interface 0
unsigned char g_last_in = 0, g_last_out = 0;
std::atomic<int> g_in_flight{0}, g_max_in_flight{0}, g_transfer_us{0};

// Counts transfers in progress; each may be made to last a while.
struct TransferScope {
    TransferScope()
    {
        int now = ++g_in_flight;
        int seen = g_max_in_flight.load();
        while (now > seen && !g_max_in_flight.compare_exchange_weak(seen, now)) {
        }
        if (int us = g_transfer_us.load())
            std::this_thread::sleep_for(std::chrono::microseconds(us));
    }
    ~TransferScope() { --g_in_flight; }
};

qxsim::SamSim& sam()
{
    static qxsim::SamSim instance;
    return instance;
}

void load_from_environment()
{
    g_devices.clear();
    const char* env = std::getenv("QXSIM_USB_DEVICES");
    std::string deviceList = env ? env : "0400:c35a";
    size_t pos = 0;
    while (pos < deviceList.size()) {
        size_t end = deviceList.find(',', pos);
        std::string item = deviceList.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        size_t colon = item.find(':');
        if (colon != std::string::npos) {
            qxsim_usb_device d;
            d.vid = static_cast<uint16_t>(std::strtoul(item.substr(0, colon).c_str(), nullptr, 16));
            d.pid = static_cast<uint16_t>(std::strtoul(item.substr(colon + 1).c_str(), nullptr, 16));
            g_devices.push_back(d);
        }
        if (end == std::string::npos)
            break;
        pos = end + 1;
    }
}

void ensure_configured()
{
    if (!g_configured) {
        load_from_environment();
        g_configured = true;
    }
    g_device_objects.resize(g_devices.size());
    for (size_t i = 0; i < g_devices.size(); i++)
        g_device_objects[i].index = static_cast<int>(i);
}

const qxsim_usb_device& config_of(const libusb_device* dev) { return g_devices[static_cast<size_t>(dev->index)]; }

int release_claim(const libusb_device_handle* handle)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_claimed.erase(handle);
    return 0;
}

}  // namespace

qxsim::SamSim& qxsim_usb_sam() { return sam(); }

EXPORT void qxsim_usb_set_devices(const qxsim_usb_device* devices, int count)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_devices.assign(devices, devices + count);
    g_configured = true;
    g_detached = 0;
    for (libusb_device& device : g_device_objects)
        device.gone = false;  // plugged in again
}

EXPORT int qxsim_usb_detach_count() { return g_detached; }
EXPORT int qxsim_usb_open_handles() { return g_handles; }
EXPORT int qxsim_usb_open_contexts() { return g_contexts; }
EXPORT int qxsim_usb_claimed_interfaces()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return static_cast<int>(g_claimed.size());
}
EXPORT unsigned char qxsim_usb_last_in_endpoint() { return g_last_in; }
EXPORT unsigned char qxsim_usb_last_out_endpoint() { return g_last_out; }
EXPORT void qxsim_usb_set_transfer_time_us(int us) { g_transfer_us = us; }
EXPORT int qxsim_usb_max_concurrent_transfers() { return g_max_in_flight.load(); }

EXPORT int libusb_init(libusb_context** ctx)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_contexts++;
    if (ctx)
        *ctx = new libusb_context{0};
    return 0;
}

EXPORT void libusb_exit(libusb_context* ctx)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_contexts--;
    delete ctx;
}

EXPORT ssize_t libusb_get_device_list(libusb_context*, libusb_device*** list)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    ensure_configured();
    auto** out = static_cast<libusb_device**>(std::calloc(g_device_objects.size() + 1, sizeof(libusb_device*)));
    size_t listed = 0;
    for (size_t i = 0; i < g_device_objects.size(); i++) {
        if (!g_device_objects[i].gone)
            out[listed++] = &g_device_objects[i];
    }
    *list = out;
    return static_cast<ssize_t>(listed);
}

EXPORT void libusb_free_device_list(libusb_device** list, int) { std::free(list); }
EXPORT libusb_device* libusb_ref_device(libusb_device* dev) { return dev; }
EXPORT void libusb_unref_device(libusb_device*) {}

EXPORT int libusb_get_device_descriptor(libusb_device* dev, struct libusb_device_descriptor* desc)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    std::memset(desc, 0, sizeof *desc);
    desc->bLength = LIBUSB_DT_DEVICE_SIZE;
    desc->bDescriptorType = LIBUSB_DT_DEVICE;
    desc->idVendor = config_of(dev).vid;
    desc->idProduct = config_of(dev).pid;
    desc->bNumConfigurations = 1;
    return 0;
}

EXPORT libusb_device_handle* libusb_open_device_with_vid_pid(libusb_context*, uint16_t vid, uint16_t pid)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    ensure_configured();
    for (size_t i = 0; i < g_devices.size(); i++) {
        if (g_devices[i].vid == vid && g_devices[i].pid == pid && !g_device_objects[i].gone) {
            if (g_devices[i].open_fails)
                return nullptr;
            g_handles++;
            return new libusb_device_handle{&g_device_objects[i], {}};
        }
    }
    return nullptr;
}

EXPORT libusb_device* libusb_get_device(libusb_device_handle* handle) { return handle->device; }

EXPORT void libusb_close(libusb_device_handle* handle)
{
    if (!handle)
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_handles--;
    g_claimed.erase(handle);  // closing a handle gives its interface back, as libusb does
    delete handle;
}

EXPORT int libusb_get_config_descriptor(libusb_device* dev, uint8_t index, struct libusb_config_descriptor** config)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (index != 0)
        return LIBUSB_ERROR_NOT_FOUND;
    bool with_in = !config_of(dev).no_in_endpoint;
    auto* endpoints = static_cast<libusb_endpoint_descriptor*>(std::calloc(3, sizeof(libusb_endpoint_descriptor)));
    int n = 0;
    endpoints[n].bEndpointAddress = kControlLike;
    endpoints[n++].bmAttributes = LIBUSB_TRANSFER_TYPE_CONTROL;
    if (with_in) {
        endpoints[n].bEndpointAddress = kInEndpoint;
        endpoints[n++].bmAttributes = LIBUSB_TRANSFER_TYPE_BULK;
    }
    endpoints[n].bEndpointAddress = kOutEndpoint;
    endpoints[n++].bmAttributes = LIBUSB_TRANSFER_TYPE_BULK;
    auto* alt = static_cast<libusb_interface_descriptor*>(std::calloc(1, sizeof(libusb_interface_descriptor)));
    alt->bNumEndpoints = static_cast<uint8_t>(n);
    alt->endpoint = endpoints;
    auto* itf = static_cast<libusb_interface*>(std::calloc(1, sizeof(libusb_interface)));
    itf->altsetting = alt;
    itf->num_altsetting = 1;
    auto* cfg = static_cast<libusb_config_descriptor*>(std::calloc(1, sizeof(libusb_config_descriptor)));
    cfg->bNumInterfaces = 1;
    cfg->interface = itf;
    *config = cfg;
    return 0;
}

EXPORT void libusb_free_config_descriptor(struct libusb_config_descriptor* config)
{
    if (!config)
        return;
    std::free(const_cast<libusb_endpoint_descriptor*>(config->interface[0].altsetting[0].endpoint));
    std::free(const_cast<libusb_interface_descriptor*>(config->interface[0].altsetting));
    std::free(const_cast<libusb_interface*>(config->interface));
    std::free(config);
}

EXPORT int libusb_kernel_driver_active(libusb_device_handle* handle, int)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return config_of(handle->device).kernel_driver ? 1 : 0;
}

EXPORT int libusb_detach_kernel_driver(libusb_device_handle*, int)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_detached++;
    return 0;
}

EXPORT int libusb_claim_interface(libusb_device_handle* handle, int)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    int error = config_of(handle->device).claim_error;
    if (!error)
        g_claimed.insert(handle);
    return error;
}

EXPORT int libusb_release_interface(libusb_device_handle* handle, int) { return release_claim(handle); }

EXPORT int libusb_bulk_transfer(libusb_device_handle* handle, unsigned char endpoint, unsigned char* data, int length,
                                int* transferred, unsigned int timeout)
{
    TransferScope scope;
    *transferred = 0;
    if (!(endpoint & 0x80)) {
        int error;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            g_last_out = endpoint;
            error = config_of(handle->device).write_error;
        }
        if (error)
            return error;
        if (handle->device->gone)
            return LIBUSB_ERROR_NO_DEVICE;
        qxsim::Reply reply = sam().handle(qxsim::Bytes(data, data + length));
        if (length > 7 && data[7] == config_of(handle->device).unplug_on_command) {
            std::lock_guard<std::mutex> lock(g_mutex);
            handle->device->gone = true;
            handle->pulled_mid_exchange = true;
            *transferred = length;
            return 0;
        }
        handle->pending = reply.bytes;
        handle->pending_busy_us = reply.busy_us;
        *transferred = length;
        return 0;
    }
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_last_in = endpoint;
    }
    if (handle->device->gone) {
        const bool waited = handle->pulled_mid_exchange;
        handle->pulled_mid_exchange = false;
        return waited ? LIBUSB_ERROR_IO : LIBUSB_ERROR_NO_DEVICE;
    }
    if (handle->pending.empty())
        return LIBUSB_ERROR_TIMEOUT;
    // With realistic timing the reply is ready only after the SAM's working
    // time; a read that gives up earlier times out and the reply stays.
    if (unsigned busy = handle->pending_busy_us) {
        const unsigned limit = timeout ? timeout * 1000u : busy;
        const unsigned wait = std::min(busy, limit);
        std::this_thread::sleep_for(std::chrono::microseconds(wait));
        handle->pending_busy_us = busy - wait;
        if (handle->pending_busy_us)
            return LIBUSB_ERROR_TIMEOUT;
    }
    int n = std::min(length, static_cast<int>(handle->pending.size()));
    std::memcpy(data, handle->pending.data(), static_cast<size_t>(n));
    bool overflow = static_cast<size_t>(n) < handle->pending.size();
    handle->pending.clear();
    *transferred = n;
    return overflow ? LIBUSB_ERROR_OVERFLOW : 0;
}
