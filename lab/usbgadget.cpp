#include "usbgadget.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

const std::string kConfigfs = "/sys/kernel/config";

std::string hex4(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value & 0xffff);
    return text;
}

bool makeDir(const std::string &path)
{
    return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

} // namespace

UsbGadget::UsbGadget(std::string name, unsigned vendor, unsigned product)
    : name_(std::move(name)), vendor_(vendor), product_(product)
{
}

UsbGadget::~UsbGadget()
{
    remove();
}

std::string UsbGadget::dir(const std::string &sub) const
{
    return kConfigfs + "/usb_gadget/" + name_ + (sub.empty() ? "" : "/" + sub);
}

bool UsbGadget::writeText(const std::string &path, const std::string &text)
{
    const int fd = open(path.c_str(), O_WRONLY);
    if (fd < 0)
        return false;
    // configfs takes one write; an empty UDC name needs a newline to count.
    const std::string line = text.empty() ? "\n" : text;
    const bool written = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    close(fd);
    return written;
}

bool UsbGadget::create()
{
    if (access((kConfigfs + "/usb_gadget").c_str(), F_OK) != 0
        && mount("none", kConfigfs.c_str(), "configfs", 0, nullptr) != 0 && errno != EBUSY)
        return false;
    if (!makeDir(dir()))
        return false;
    created_ = true;
    return writeText(dir("idVendor"), hex4(vendor_)) && writeText(dir("idProduct"), hex4(product_))
        && writeText(dir("bcdUSB"), "0x0200") && makeDir(dir("strings/0x409"))
        && writeText(dir("strings/0x409/manufacturer"), "docstation lab")
        && writeText(dir("strings/0x409/product"), name_)
        && writeText(dir("strings/0x409/serialnumber"), "LAB0001") && makeDir(dir("configs/c.1"))
        && makeDir(dir("configs/c.1/strings/0x409"))
        && writeText(dir("configs/c.1/strings/0x409/configuration"), "lab")
        && writeText(dir("configs/c.1/MaxPower"), "100");
}

bool UsbGadget::addFunction(const std::string &kind, const std::string &instance)
{
    const std::string function = kind + "." + instance;
    if (!makeDir(dir("functions/" + function)))
        return false;
    functions_.push_back(function);
    return symlink(dir("functions/" + function).c_str(), dir("configs/c.1/" + function).c_str()) == 0;
}

bool UsbGadget::plug(const std::string &controller)
{
    return writeText(dir("UDC"), controller);
}

std::vector<std::string> UsbGadget::controllers()
{
    std::vector<std::string> names;
    if (DIR *udc = opendir("/sys/class/udc")) {
        while (dirent *entry = readdir(udc)) {
            if (entry->d_name[0] != '.')
                names.emplace_back(entry->d_name);
        }
        closedir(udc);
    }
    return names;
}

void UsbGadget::remove()
{
    if (!created_)
        return;
    created_ = false;
    unplug();
    for (const std::string &function : functions_) {
        unlink(dir("configs/c.1/" + function).c_str());
        rmdir(dir("functions/" + function).c_str());
    }
    rmdir(dir("configs/c.1/strings/0x409").c_str());
    rmdir(dir("configs/c.1").c_str());
    rmdir(dir("strings/0x409").c_str());
    rmdir(dir().c_str());
}
