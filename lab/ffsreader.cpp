#include "ffsreader.h"

#include <endian.h>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

namespace {

struct InterfaceDescriptors
{
    usb_interface_descriptor interface;
    usb_endpoint_descriptor_no_audio in;
    usb_endpoint_descriptor_no_audio out;
} __attribute__((packed));

struct Descriptors
{
    usb_functionfs_descs_head_v2 header;
    __le32 fullSpeedCount;
    __le32 highSpeedCount;
    InterfaceDescriptors fullSpeed;
    InterfaceDescriptors highSpeed;
} __attribute__((packed));

struct Strings
{
    usb_functionfs_strings_head header;
    __le16 language;
    char interfaceName[sizeof "QX-ID reader"];
} __attribute__((packed));

InterfaceDescriptors readerInterface(uint16_t maxPacket)
{
    InterfaceDescriptors d{};
    d.interface.bLength = sizeof d.interface;
    d.interface.bDescriptorType = USB_DT_INTERFACE;
    d.interface.bNumEndpoints = 2;
    d.interface.bInterfaceClass = USB_CLASS_VENDOR_SPEC;
    d.interface.iInterface = 1;
    d.in.bLength = sizeof d.in;
    d.in.bDescriptorType = USB_DT_ENDPOINT;
    d.in.bEndpointAddress = 1 | USB_DIR_IN;
    d.in.bmAttributes = USB_ENDPOINT_XFER_BULK;
    d.in.wMaxPacketSize = htole16(maxPacket);
    d.out = d.in;
    d.out.bEndpointAddress = 2 | USB_DIR_OUT;
    return d;
}

// Wakes a thread blocked in endpoint I/O (the handler does nothing; the
// interrupted call returns EINTR).
void onWake(int) {}

void installWakeHandler()
{
    struct sigaction action{};
    action.sa_handler = onWake;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, nullptr);
}

} // namespace

FfsReader::FfsReader(qxsim::SamSim &sam) : sam_(sam) {}

FfsReader::~FfsReader()
{
    stop();
}

bool FfsReader::writeDescriptors()
{
    Descriptors descriptors{};
    descriptors.header.magic = htole32(FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    descriptors.header.flags = htole32(FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
    descriptors.header.length = htole32(sizeof descriptors);
    descriptors.fullSpeedCount = htole32(3);
    descriptors.highSpeedCount = htole32(3);
    descriptors.fullSpeed = readerInterface(64);
    descriptors.highSpeed = readerInterface(512);
    if (write(ep0_, &descriptors, sizeof descriptors) != static_cast<ssize_t>(sizeof descriptors))
        return false;

    Strings strings{};
    strings.header.magic = htole32(FUNCTIONFS_STRINGS_MAGIC);
    strings.header.length = htole32(sizeof strings);
    strings.header.str_count = htole32(1);
    strings.header.lang_count = htole32(1);
    strings.language = htole16(0x0409);
    std::snprintf(strings.interfaceName, sizeof strings.interfaceName, "QX-ID reader");
    return write(ep0_, &strings, sizeof strings) == static_cast<ssize_t>(sizeof strings);
}

bool FfsReader::start(const std::string &instance, const std::string &mountPoint)
{
    mountPoint_ = mountPoint;
    mkdir(mountPoint.c_str(), 0755);
    if (mount(instance.c_str(), mountPoint.c_str(), "functionfs", 0, nullptr) != 0) {
        std::perror("functionfs mount");
        mountPoint_.clear();
        return false;
    }
    ep0_ = open((mountPoint + "/ep0").c_str(), O_RDWR);
    if (ep0_ < 0 || !writeDescriptors()) {
        std::perror("functionfs descriptors");
        return false;
    }
    // The endpoint files appear once the descriptors are accepted.
    in_ = open((mountPoint + "/ep1").c_str(), O_RDWR);
    out_ = open((mountPoint + "/ep2").c_str(), O_RDWR);
    if (in_ < 0 || out_ < 0) {
        std::perror("functionfs endpoints");
        return false;
    }
    installWakeHandler();
    stopping_ = false;
    requestsDone_ = false;
    events_ = std::thread(&FfsReader::serveEvents, this);
    requests_ = std::thread(&FfsReader::serveRequests, this);
    return true;
}

void FfsReader::stop()
{
    stopping_ = true;
    holdReplies(false);
    if (requests_.joinable()) {
        // Endpoint I/O waits for the host; a signal ends the wait.
        while (true) {
            pthread_kill(requests_.native_handle(), SIGUSR1);
            std::unique_lock<std::mutex> lock(holdMutex_);
            if (holdChanged_.wait_for(lock, std::chrono::milliseconds(50), [this] { return requestsDone_; }))
                break;
        }
        requests_.join();
    }
    if (events_.joinable())
        events_.join();
    for (int *fd : {&in_, &out_, &ep0_}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
    if (!mountPoint_.empty()) {
        umount(mountPoint_.c_str());
        rmdir(mountPoint_.c_str());
        mountPoint_.clear();
    }
}

void FfsReader::holdReplies(bool hold)
{
    {
        std::lock_guard<std::mutex> lock(holdMutex_);
        hold_ = hold;
    }
    holdChanged_.notify_all();
}

void FfsReader::serveEvents()
{
    // Bind, enable, disable, unbind and set-up events must be read for the
    // function to go on; the reader has no control requests of its own.
    while (!stopping_) {
        pollfd p{ep0_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0 || !(p.revents & POLLIN))
            continue;
        usb_functionfs_event event;
        if (read(ep0_, &event, sizeof event) < 0)
            continue;
        if (event.type == FUNCTIONFS_SETUP) {
            // Stall: a read on ep0 for an IN request (or the reverse) does it.
            char none;
            if (event.u.setup.bRequestType & USB_DIR_IN)
                (void)!read(ep0_, &none, 0);
            else
                (void)!write(ep0_, &none, 0);
        }
    }
}

void FfsReader::answer(const qxsim::Bytes &request)
{
    const qxsim::Reply reply = sam_.handle(request);
    {
        std::unique_lock<std::mutex> lock(holdMutex_);
        if (hold_) {
            ++held_;
            holdChanged_.wait(lock, [this] { return !hold_ || stopping_; });
            return;   // a held request is never answered
        }
    }
    if (reply.busy_us)
        std::this_thread::sleep_for(std::chrono::microseconds(reply.busy_us));
    if (!reply.bytes.empty() && write(in_, reply.bytes.data(), reply.bytes.size()) > 0)
        ++answered_;
}

void FfsReader::serveRequests()
{
    qxsim::Bytes pending;
    uint8_t buffer[4096];
    while (!stopping_) {
        const ssize_t n = read(out_, buffer, sizeof buffer);
        if (n <= 0) {
            // Not yet plugged, unplugged, or woken to stop.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        pending.insert(pending.end(), buffer, buffer + n);
        for (;;) {
            const qxsim::Bytes request = qxsim::take_request_frame(pending);
            if (request.empty())
                break;
            answer(request);
        }
    }
    std::lock_guard<std::mutex> lock(holdMutex_);
    requestsDone_ = true;
    holdChanged_.notify_all();
}
