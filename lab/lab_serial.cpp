// The serial readers over a real tty: two USB serial (ACM) functions of one
// gadget on the guest's virtual USB pair; the simulated SAM and the simulated
// Mifare module answer on the gadget's ttys, the library opens the host's
// ttyACM nodes with its own termios settings. Runs inside the lab only.
#include "guestkernel.h"
#include "mifare_pty.h"
#include "pty_sim.h"
#include "qxident.h"
#include "sam_sim.h"
#include "usbgadget.h"

#include <QDir>
#include <QFile>
#include <QMap>

#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <memory>

namespace {

using qxsim::CardKind;

// The card dialog polls for a card every 33 ms; one find may miss its 100 ms
// reply window on an emulated, busy machine, as a poll on a real one may.
int findCardPolling(int fd)
{
    int ret = -1;
    for (int poll = 0; poll < 30 && ret != 0; ++poll) {
        ret = QXID_StartFindIDCard(fd, nullptr, 0);
        if (ret != 0)
            usleep(33000);
    }
    return ret;
}

// Host tty of each ACM function, by the function's interface number (the
// first function linked into the configuration has the lowest).
QStringList hostTtysInInterfaceOrder()
{
    QMap<int, QString> byInterface;
    const QDir ttys(QStringLiteral("/sys/class/tty"));
    for (const QString &name : ttys.entryList({QStringLiteral("ttyACM*")})) {
        QFile number(ttys.filePath(name) + QStringLiteral("/device/bInterfaceNumber"));
        if (number.open(QIODevice::ReadOnly))
            byInterface.insert(number.readAll().trimmed().toInt(nullptr, 16), QStringLiteral("/dev/") + name);
    }
    return byInterface.values();
}

std::string gadgetTty(const std::string &function)
{
    std::ifstream portNumber("/sys/kernel/config/usb_gadget/qxserial/functions/" + function + "/port_num");
    int port = -1;
    portNumber >> port;
    return port < 0 ? std::string() : "/dev/ttyGS" + std::to_string(port);
}

class AcmGadgetLines : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!guestkernel::inGuest())
            GTEST_SKIP() << "runs inside the hardware lab only";
        ASSERT_TRUE(guestkernel::load(QStringLiteral("dummy_hcd")));
        ASSERT_TRUE(guestkernel::load(QStringLiteral("usb_f_acm")));
        ASSERT_TRUE(guestkernel::load(QStringLiteral("cdc_acm")));
        const auto controllers = UsbGadget::controllers();
        ASSERT_FALSE(controllers.empty());
        gadget = std::make_unique<UsbGadget>("qxserial", 0x1d6b, 0x0104);
        ASSERT_TRUE(gadget->create());
        ASSERT_TRUE(gadget->addFunction("acm", "reader"));
        ASSERT_TRUE(gadget->addFunction("acm", "mifare"));
        const std::string readerLine = gadgetTty("acm.reader");
        const std::string mifareLine = gadgetTty("acm.mifare");
        ASSERT_FALSE(readerLine.empty());
        ASSERT_FALSE(mifareLine.empty());
        ASSERT_TRUE(gadget->plug(controllers.front()));
        ASSERT_TRUE(testenv_waitForHostTtys(2));
        const QStringList host = hostTtysInInterfaceOrder();
        readerTty = host.at(0).toStdString();
        mifareTty = host.at(1).toStdString();
        samLine = std::make_unique<qxsim::PtySim>(sam, readerLine);
        ASSERT_TRUE(samLine->ok()) << readerLine;
        mifareLine_ = std::make_unique<mfsim::PtyMifareSim>(mifareLine);
    }
    void TearDown() override
    {
        if (fd >= 0)
            QXID_ClosePort(fd);
        if (gadget)
            gadget->unplug();
        samLine.reset();
        mifareLine_.reset();
        gadget.reset();
        if (guestkernel::inGuest()) {
            guestkernel::unload(QStringLiteral("cdc_acm"));
            guestkernel::unload(QStringLiteral("usb_f_acm"));
            guestkernel::unload(QStringLiteral("dummy_hcd"));
        }
    }
    static bool testenv_waitForHostTtys(int count)
    {
        for (int waited = 0; waited < 20000; waited += 20) {
            const QStringList ttys = hostTtysInInterfaceOrder();
            if (ttys.size() >= count && QFile::exists(ttys.at(count - 1)))
                return true;
            usleep(20000);
        }
        return false;
    }

    qxsim::SamSim sam;
    std::unique_ptr<UsbGadget> gadget;
    std::unique_ptr<qxsim::PtySim> samLine;
    std::unique_ptr<mfsim::PtyMifareSim> mifareLine_;
    std::string readerTty;
    std::string mifareTty;
    int fd = -1;   // the port a test opened, closed after it
};

TEST_F(AcmGadgetLines, SerialReaderOpensWithRawTermiosAndReadsACard)
{
    sam.set_card(CardKind::Permit);
    fd = QXID_OpenPortEx(readerTty.c_str());
    ASSERT_GE(fd, 0) << readerTty;

    // What the library left on the real line discipline.
    termios line{};
    ASSERT_EQ(tcgetattr(fd, &line), 0);
    EXPECT_EQ(cfgetospeed(&line), speed_t(B115200));
    EXPECT_EQ(cfgetispeed(&line), speed_t(B115200));
    EXPECT_EQ(line.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(line.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(line.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF | ISTRIP), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);

    ASSERT_EQ(QXID_GetSAMStatus(fd, 0), 0);
    ASSERT_EQ(findCardPolling(fd), 0);
    ASSERT_EQ(QXID_SelectIDCard(fd, nullptr, 0), 0);
    unsigned char text[256] = {}, photo[1024] = {};
    unsigned int textLength = 0, photoLength = 0;
    ASSERT_EQ(QXID_ReadBaseMsg(fd, text, &textLength, photo, &photoLength, 0), 0);
    // Every byte value crosses the line unchanged (the photo holds them all).
    EXPECT_EQ(qxsim::Bytes(text, text + 256), qxsim::card_text_record(CardKind::Permit));
    EXPECT_EQ(qxsim::Bytes(photo, photo + 1024), qxsim::card_photo(CardKind::Permit));
    char kind = 0;
    GetCardType(text, &kind);
    EXPECT_EQ(kind, 'J');
    EXPECT_EQ(QXID_ClosePort(fd), 0);
    fd = -1;
}

TEST_F(AcmGadgetLines, MifareModuleOnASecondLine)
{
    constexpr uint32_t kUid = 0xA1B2C3D4;
    mifareLine_->with([](mfsim::MifareModule &module) { module.insertCard(mfsim::MifareCard::fresh(kUid)); });
    fd = QXID_OpenPortEx(mifareTty.c_str());
    ASSERT_GE(fd, 0) << mifareTty;
    ASSERT_EQ(QXID_MFInit(fd), 0);

    unsigned int number = 0;
    ASSERT_EQ(QXID_Mifare_REQA(fd, mfsim::kModeWakeAll), 0);
    ASSERT_EQ(QXID_Mifare_AnticollA(fd, &number), 0);
    EXPECT_EQ(number, kUid);
    ASSERT_EQ(QXID_Mifare_SelectA(fd, number), 0);

    unsigned char key[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    unsigned char written[32];
    for (int i = 0; i < 32; ++i)
        written[i] = static_cast<unsigned char>(i * 37 + 0x0D);   // CR, XON, XOFF and friends
    unsigned int uid = 0;
    ASSERT_EQ(QXID_Mifare_Write(fd, 8, 2, key, 0, mfsim::kModeWakeAll, written, &uid, 1), 0);
    unsigned char back[32] = {};
    ASSERT_EQ(QXID_Mifare_Read(fd, 8, 2, key, 0, mfsim::kModeWakeAll, back, &uid), 0);
    EXPECT_EQ(std::memcmp(back, written, sizeof written), 0);
    const mfsim::MifareCard card = mifareLine_->with([](mfsim::MifareModule &module) { return module.card(); });
    EXPECT_EQ(std::memcmp(card.blocks[8].data(), written, 16), 0);
    EXPECT_EQ(QXID_ClosePort(fd), 0);
    fd = -1;
}

} // namespace
