// The card reader over real USB: the guest kernel's virtual host and device
// controller pair, a FunctionFS gadget answered by the simulated SAM, and the
// library talking to it through the system's libusb. Runs inside the lab only.
#include "ffsreader.h"
#include "guestkernel.h"
#include "qxident.h"
#include "sam_sim.h"
#include "usbgadget.h"

#include <QDir>
#include <QFile>

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <libusb.h>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>

namespace {

using qxsim::CardKind;

// True while a device with the reader's vendor is on the virtual bus.
bool readerOnBus()
{
    const QDir devices(QStringLiteral("/sys/bus/usb/devices"));
    for (const QString &entry : devices.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile vendor(devices.filePath(entry) + QStringLiteral("/idVendor"));
        if (vendor.open(QIODevice::ReadOnly) && vendor.readAll().trimmed() == "0400")
            return true;
    }
    return false;
}

bool waitForReader(bool present)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (readerOnBus() != present) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // The device node follows the sysfs entry.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return true;
}

std::string fieldOf(void (*accessor)(Tidentify_info, char *), const unsigned char *text)
{
    Tidentify_info info;
    std::memcpy(&info, text, sizeof info);
    char out[256] = {};
    accessor(info, out);
    return out;
}

class UsbGadgetReader : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!guestkernel::inGuest())
            GTEST_SKIP() << "runs inside the hardware lab only";
        ASSERT_TRUE(guestkernel::load(QStringLiteral("dummy_hcd")));
        ASSERT_TRUE(guestkernel::load(QStringLiteral("usb_f_fs")));
        const auto controllers = UsbGadget::controllers();
        ASSERT_FALSE(controllers.empty()) << "the virtual device controller did not come up";
        controller = controllers.front();
        gadget = std::make_unique<UsbGadget>("qxreader", 0x0400, 0xc35a);
        ASSERT_TRUE(gadget->create());
        ASSERT_TRUE(gadget->addFunction("ffs", "reader"));
        reader = std::make_unique<FfsReader>(sam);
        ASSERT_TRUE(reader->start("reader", "/tmp/ffs-reader"));
        ASSERT_TRUE(gadget->plug(controller));
        ASSERT_TRUE(waitForReader(true)) << "the host side never saw the reader";
    }
    void TearDown() override
    {
        QXID_Free();
        if (gadget)
            gadget->unplug();
        if (reader)
            reader->stop();
        gadget.reset();
        if (guestkernel::inGuest()) {
            guestkernel::unload(QStringLiteral("usb_f_fs"));
            guestkernel::unload(QStringLiteral("dummy_hcd"));
        }
    }
    void readUpToSelect(int port)
    {
        ASSERT_EQ(QXID_GetSAMStatus(port, 0), 0);
        ASSERT_EQ(QXID_StartFindIDCard(port, nullptr, 0), 0);
        ASSERT_EQ(QXID_SelectIDCard(port, nullptr, 0), 0);
    }

    qxsim::SamSim sam;
    std::string controller;
    std::unique_ptr<UsbGadget> gadget;
    std::unique_ptr<FfsReader> reader;
};

TEST_F(UsbGadgetReader, TheSystemLibusbReadsACardWithFieldsAndPhoto)
{
    // The stand-in must not be what answers here.
    Dl_info where{};
    ASSERT_NE(dladdr(reinterpret_cast<void *>(&libusb_init), &where), 0);
    const std::string libusbPath = where.dli_fname;
    const std::string build = qEnvironmentVariable("LAB_BUILD").toStdString();
    EXPECT_EQ(libusbPath.find(build), std::string::npos) << libusbPath;
    EXPECT_NE(libusbPath.find("libusb-1.0.so"), std::string::npos) << libusbPath;

    ASSERT_EQ(QXID_Init(), 1);
    ASSERT_EQ(QXID_OpenPort(0), 0);
    char samId[128] = {};
    EXPECT_EQ(QXID_GetSAMIDToStr(0, samId, 0), 0);
    EXPECT_GT(std::strlen(samId), 0u);
    readUpToSelect(0);

    unsigned char text[256] = {}, photo[1024] = {};
    unsigned int textLength = 0, photoLength = 0;
    ASSERT_EQ(QXID_ReadBaseMsg(0, text, &textLength, photo, &photoLength, 0), 0);
    EXPECT_EQ(textLength, 256u);
    EXPECT_EQ(photoLength, 1024u);
    EXPECT_EQ(qxsim::Bytes(text, text + 256), qxsim::card_text_record(CardKind::Resident));
    EXPECT_EQ(qxsim::Bytes(photo, photo + 1024), qxsim::card_photo(CardKind::Resident));
    char kind = 0;
    GetCardType(text, &kind);
    EXPECT_EQ(kind, ' ') << "a resident card";
    EXPECT_EQ(fieldOf(getIDName, text), "张伟民");
    EXPECT_EQ(fieldOf(getIDCardNumber, text), "110101198503124018");
    EXPECT_EQ(fieldOf(getIDAddress, text), "北京市东城区景山前街4号院3号楼2单元501室");
    EXPECT_EQ(QXID_ClosePort(0), 0);
}

TEST_F(UsbGadgetReader, UnplugDuringAReadFailsWithoutHangingAndTheReaderIsFoundAgain)
{
    ASSERT_EQ(QXID_Init(), 1);
    ASSERT_EQ(QXID_OpenPort(0), 0);
    readUpToSelect(0);

    reader->holdReplies(true);
    auto reading = std::async(std::launch::async, [] {
        unsigned char text[256], photo[1024];
        unsigned int textLength = 0, photoLength = 0;
        return QXID_ReadBaseMsg(0, text, &textLength, photo, &photoLength, 0);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (reader->heldRequests() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_GT(reader->heldRequests(), 0) << "the read request never reached the reader";
    ASSERT_TRUE(gadget->unplug());
    ASSERT_EQ(reading.wait_for(std::chrono::seconds(30)), std::future_status::ready) << "the read hangs";
    // The waiting read ends with an I/O error and no reply; the dead port
    // then answers every exchange with "no device", not a hang.
    EXPECT_EQ(reading.get(), QXID_EFRAME);
    EXPECT_TRUE(waitForReader(false));
    EXPECT_EQ(QXID_GetSAMStatus(0, 0), QXID_EFRAME);
    EXPECT_EQ(QXID_ResetSAM(0, 0), LIBUSB_ERROR_NO_DEVICE - 1000);

    reader->holdReplies(false);
    ASSERT_TRUE(gadget->plug(controller));
    ASSERT_TRUE(waitForReader(true));
    ASSERT_EQ(QXID_Init(), 1);
    ASSERT_EQ(QXID_OpenPort(0), 0);
    readUpToSelect(0);
    unsigned char text[256], photo[1024];
    unsigned int textLength = 0, photoLength = 0;
    ASSERT_EQ(QXID_ReadBaseMsg(0, text, &textLength, photo, &photoLength, 0), 0);
    EXPECT_EQ(qxsim::Bytes(text, text + 256), qxsim::card_text_record(CardKind::Resident));
}

} // namespace
