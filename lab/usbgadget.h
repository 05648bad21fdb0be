#pragma once

#include <string>
#include <vector>

// A USB gadget put together in the guest kernel's configfs: device
// descriptor, one configuration, functions linked into it, and the device
// controller of the virtual host it is plugged into. Everything built is
// taken down again by the destructor.
class UsbGadget
{
public:
    UsbGadget(std::string name, unsigned vendor, unsigned product);
    ~UsbGadget();
    UsbGadget(const UsbGadget &) = delete;
    UsbGadget &operator=(const UsbGadget &) = delete;

    // Mounts configfs (once) and creates the gadget's directories.
    bool create();
    // Adds "<kind>.<instance>" (e.g. "ffs.reader", "acm.0") to the configuration.
    bool addFunction(const std::string &kind, const std::string &instance);
    // Plugs the gadget into `controller` (a name under /sys/class/udc) or
    // unplugs it with an empty name.
    bool plug(const std::string &controller);
    bool unplug() { return plug(std::string()); }

    static std::vector<std::string> controllers();
    static bool writeText(const std::string &path, const std::string &text);

private:
    std::string dir(const std::string &sub = std::string()) const;
    void remove();

    std::string name_;
    unsigned vendor_;
    unsigned product_;
    bool created_ = false;
    std::vector<std::string> functions_;
};
