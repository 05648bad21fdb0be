// The identity-card dialog driven as a clerk drives it, on the simulated
// reader: opening failures and their warnings, a card shown field by field,
// its photo file, the saved card picture and the JSON sent for it, other
// card kinds, releasing the reader, and the main window's card button.
#include "cache.h"
#include "camerainfo.h"
#include "cardrecord.h"
#include "config.h"
#include "fakeclock.h"
#include "idcarddialog.h"
#include "mainwindowqcamera.h"
#include "photonaming.h"
#include "qxsim_usb.h"
#include "qxwlt_format.h"
#include "testenv.h"
#include "warningbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QMenu>
#include <QMutex>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>

// Readable QString values in failure messages.
void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

using qxsim::CardKind;
using qxsim::Fault;

constexpr int kWaitMs = 10000;

class IDCardDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(documents.isValid());
        ASSERT_TRUE(appDir.isValid());
        ASSERT_TRUE(userData.isValid());
        // The user's data directory of this test alone.
        previousDataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(userData.path()));
        testenv::resetConfig(documents);
        Cache::cameras->clear();
        Cache::config->appDir = appDir.path();
        Cache::config->saveType = 0;
        Cache::config->savePrefix = QStringLiteral("IMG");
        Cache::config->codec = QStringLiteral("jpg");
        Cache::config->saveNumber = 7;
        qxsim_usb_device reader;
        qxsim_usb_set_devices(&reader, 1);
        qxsim_usb_set_transfer_time_us(0);
        sam().set_fault(Fault::None);
        sam().set_card(CardKind::Resident);
        sam().set_realistic_timing(false);
        testenv::captureWarnings(warnings);
    }
    void TearDown() override
    {
        dialog.reset();
        WarningBox::setHandler({});
        wallClock.reset();
        // Read-only directories of a test must not outlive it.
        for (const QString &directory : {appDir.path(), appDir.path() + QStringLiteral("/data")})
            if (QFileInfo(directory).isDir())
                QFile::setPermissions(directory, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                     | QFileDevice::ExeOwner);
        if (previousDataHome.isNull())
            qunsetenv("XDG_DATA_HOME");
        else
            qputenv("XDG_DATA_HOME", previousDataHome);
    }

    static qxsim::SamSim &sam() { return qxsim_usb_sam(); }

    void openDialog()
    {
        if (!dialog)
            dialog = std::make_unique<IDCardDialog>();
        dialog->show();
        dialog->init();
    }
    template <typename T> T *child(const char *name)
    {
        T *widget = dialog->findChild<T *>(QLatin1String(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString text(const char *name) { return child<QLineEdit>(name)->text(); }
    QImage shownPhoto() { return child<QLabel>("lb_pic")->pixmap(Qt::ReturnByValue).toImage(); }
    bool waitForCard()
    {
        return testenv::waitFor([this] { return !text("lb_code").isEmpty() && !shownPhoto().isNull(); },
                                kWaitMs);
    }
    QString photoPath() const { return appDir.path() + QStringLiteral("/data/image.bmp"); }

    // The portrait the simulated card of `variant` carries, as the decoder draws it.
    static QRgb expectedPhotoPixel(int variant, int x, int y)
    {
        unsigned char indices[QXWLT_GRID_H][QXWLT_GRID_W];
        unsigned char palette[12];
        qxwlt_portrait(variant, indices, palette);
        const unsigned char *colour = palette + 3 * indices[y / 2][x / 2];
        return qRgb(colour[0], colour[1], colour[2]);
    }
    static void expectPortrait(const QImage &image, int variant)
    {
        ASSERT_EQ(image.size(), QSize(QXWLT_PIXELS_W, QXWLT_PIXELS_H));
        int mismatches = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if ((image.pixel(x, y) & 0xFFFFFF) != (expectedPhotoPixel(variant, x, y) & 0xFFFFFF))
                    ++mismatches;
        EXPECT_EQ(mismatches, 0);
    }

    // Where the photo goes when it cannot be kept beside the program.
    static QString userPhotoPath()
    {
        return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
               + QStringLiteral("/data/image.bmp");
    }
    static mode_t modeOf(const QString &path)
    {
        struct stat status = {};
        if (::stat(QFile::encodeName(path).constData(), &status) != 0)
            return 0;
        return status.st_mode & 07777;
    }
    // The photo the card record hands to web pages for `programDir`.
    static QImage photoOfTheCardRecord(const QString &programDir)
    {
        const QJsonObject info = QJsonDocument::fromJson(cardrecord::answer(QString(), programDir))
                                     .object()
                                     .value(QStringLiteral("IDCardInfo"))
                                     .toObject();
        return QImage::fromData(
            QByteArray::fromBase64(info.value(QStringLiteral("photoBase64")).toString().toLatin1()),
            "PNG");
    }
    // Reads the resident card with the program in `programDir`, which cannot
    // hold the photo: it lands, private, in the user's data directory, where
    // the card record finds it.
    void expectPhotoInTheUsersDirectory(const QString &programDir)
    {
        Cache::config->appDir = programDir;
        ASSERT_TRUE(userPhotoPath().startsWith(userData.path() + QLatin1Char('/')));
        const mode_t previousMask = ::umask(0);
        openDialog();
        ::umask(previousMask);
        ASSERT_TRUE(waitForCard());
        dialog->closeDriver();

        ASSERT_TRUE(QFileInfo::exists(userPhotoPath())) << userPhotoPath().toStdString();
        EXPECT_EQ(QFileInfo(userPhotoPath()).size(), 38862);
        expectPortrait(QImage(userPhotoPath()), 0);
        EXPECT_EQ(modeOf(userPhotoPath()), 0600u);
        EXPECT_EQ(modeOf(QFileInfo(userPhotoPath()).path()), 0700u);
        EXPECT_FALSE(QFileInfo::exists(programDir + QStringLiteral("/data/image.bmp")));
        expectPortrait(photoOfTheCardRecord(programDir), 0);
    }

    QTemporaryDir documents;
    QTemporaryDir appDir;
    QTemporaryDir userData;
    std::unique_ptr<FixedWallClock> wallClock;
    QByteArray previousDataHome;
    QStringList warnings;
    std::unique_ptr<IDCardDialog> dialog;
};

// Member names of a JSON object text in the order they are written.
QStringList keysInOrder(const QString &json)
{
    const QJsonObject object = QJsonDocument::fromJson(json.toUtf8()).object();
    QList<QPair<int, QString>> positions;
    for (const QString &key : object.keys())
        positions.append({int(json.indexOf(QLatin1Char('"') + key + QStringLiteral("\":"))), key});
    std::sort(positions.begin(), positions.end());
    QStringList keys;
    for (const auto &position : positions)
        keys.append(position.second);
    return keys;
}

TEST_F(IDCardDialogTest, FormHasTheCardPanelLayout)
{
    dialog = std::make_unique<IDCardDialog>();
    EXPECT_EQ(dialog->size(), QSize(550, 732));
    const struct {
        const char *name;
        QRect geometry;
        int points;
    } fields[] = {
        {"lb_name", {100, 50, 121, 25}, 12},     {"lb_sex", {100, 90, 31, 25}, 12},
        {"lb_nation", {220, 90, 61, 25}, 12},    {"lb_year", {100, 130, 51, 25}, 12},
        {"lb_month", {180, 130, 31, 25}, 12},    {"lb_day", {236, 130, 31, 25}, 12},
        {"lb_address", {100, 170, 254, 90}, 12}, {"lb_code", {170, 285, 211, 25}, 14},
        {"lb_authority", {210, 594, 231, 25}, 14}, {"lb_date", {210, 638, 231, 25}, 14},
        {"btnSaveIDCard", {410, 700, 123, 25}, 11},
    };
    for (const auto &field : fields) {
        QWidget *widget = child<QWidget>(field.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->geometry(), field.geometry) << field.name;
        EXPECT_EQ(widget->font().pointSize(), field.points) << field.name;
        EXPECT_FALSE(widget->font().bold()) << field.name;
    }
    EXPECT_EQ(child<QWidget>("widget")->geometry(), QRect(0, 0, 550, 692));
    EXPECT_EQ(child<QLabel>("lb_pic")->geometry(), QRect(370, 60, 151, 211));
    EXPECT_EQ(child<QLabel>("lb_pic")->alignment(), Qt::AlignCenter);
    EXPECT_EQ(child<QPushButton>("btnSaveIDCard")->text(), QStringLiteral("保存身份证信息"));
    EXPECT_EQ(dialog->portHandle(), -100);
    EXPECT_FALSE(dialog->isPolling());
}

TEST_F(IDCardDialogTest, PanelShowsTheCardBackgroundFromResources)
{
    ASSERT_TRUE(QFileInfo::exists(testenv::appDir() + QStringLiteral("/Resources/idcard.png")));
    Cache::config->appDir = testenv::appDir();
    qxsim_usb_set_devices(nullptr, 0);
    openDialog();
    QWidget *panel = child<QWidget>("widget");
    EXPECT_TRUE(panel->styleSheet().contains(testenv::appDir() + QStringLiteral("/Resources/idcard.png")));
    const QImage withBackground = panel->grab().toImage();

    Cache::config->appDir = appDir.path();   // no Resources/ there: fields only
    dialog->close();
    openDialog();
    const QImage plain = panel->grab().toImage();
    // The caption "姓名" left of the name field is drawn by the background only.
    int differing = 0;
    for (int y = 50; y < 75; ++y)
        for (int x = 30; x < 95; ++x)
            if (withBackground.pixel(x, y) != plain.pixel(x, y))
                ++differing;
    EXPECT_GT(differing, 40);
}

TEST_F(IDCardDialogTest, NoReaderWarnsWithTheInitCodeAndDoesNotPoll)
{
    qxsim_usb_device mouse;
    mouse.vid = 0x046d;
    mouse.pid = 0xc52b;
    qxsim_usb_set_devices(&mouse, 1);
    openDialog();
    EXPECT_EQ(warnings, QStringList{QStringLiteral("警告|身份证阅读器USB初始化失败,code:-2")});
    EXPECT_FALSE(dialog->isPolling());
    QTest::qWait(150);
    EXPECT_TRUE(text("lb_name").isEmpty());
    EXPECT_FALSE(QFileInfo::exists(photoPath()));
}

TEST_F(IDCardDialogTest, SilentSamIsAskedTwiceThenWarns)
{
    sam().set_fault(Fault::Silence, 0x11, 0xFF);
    sam().clear_requests();
    openDialog();
    EXPECT_EQ(warnings, QStringList{QStringLiteral("警告|身份证阅读器不能正常读取数据,port:0")});
    EXPECT_FALSE(dialog->isPolling());
    int statusRequests = 0;
    for (const qxsim::Bytes &request : sam().requests())
        if (request.size() > 8 && request[7] == 0x11 && request[8] == 0xFF)
            ++statusRequests;
    EXPECT_EQ(statusRequests, 2);

    // Closing and opening again is the user's retry.
    dialog->close();
    sam().set_fault(Fault::None);
    warnings.clear();
    openDialog();
    EXPECT_TRUE(warnings.isEmpty());
    EXPECT_TRUE(dialog->isPolling());
}

TEST_F(IDCardDialogTest, ResidentCardFillsThePanelAndItsPhotoIsKeptPrivate)
{
    const mode_t previousMask = ::umask(0);
    openDialog();
    ::umask(previousMask);
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(dialog->isPolling());
    ASSERT_TRUE(waitForCard());

    EXPECT_EQ(text("lb_name"), QStringLiteral("张伟民"));
    EXPECT_EQ(text("lb_sex"), QStringLiteral("男"));
    EXPECT_EQ(text("lb_nation"), QStringLiteral("汉"));
    EXPECT_EQ(text("lb_year"), QStringLiteral("1985"));
    EXPECT_EQ(text("lb_month"), QStringLiteral("03"));
    EXPECT_EQ(text("lb_day"), QStringLiteral("12"));
    EXPECT_EQ(child<QTextEdit>("lb_address")->toPlainText(),
              QStringLiteral("北京市东城区景山前街4号院3号楼2单元501室"));
    EXPECT_EQ(text("lb_code"), QStringLiteral("110101198503124018"));
    EXPECT_EQ(text("lb_authority"), QStringLiteral("北京市公安局东城分局"));
    EXPECT_EQ(text("lb_date"), QStringLiteral("20150620-20350620"));

    ASSERT_TRUE(QFileInfo::exists(photoPath()));
    EXPECT_EQ(QFileInfo(photoPath()).size(), 38862);
    expectPortrait(QImage(photoPath()), 0);
    expectPortrait(shownPhoto(), 0);
    struct stat file = {}, directory = {};
    ASSERT_EQ(::stat(QFile::encodeName(photoPath()).constData(), &file), 0);
    ASSERT_EQ(::stat(QFile::encodeName(appDir.path() + QStringLiteral("/data")).constData(), &directory), 0);
    EXPECT_EQ(file.st_mode & 07777, 0600u);
    EXPECT_EQ(directory.st_mode & 07777, 0700u);

    // A program directory that takes files keeps the photo beside the
    // program, and the card record reads it from there.
    EXPECT_TRUE(QDir(userData.path()).isEmpty());
    expectPortrait(photoOfTheCardRecord(appDir.path()), 0);
}

TEST_F(IDCardDialogTest, ProgramDirectoryUnderAFileSendsThePhotoToTheUsersDirectory)
{
    // Nothing can be created below a regular file, not even by root.
    const QString blocker = appDir.path() + QStringLiteral("/not-a-directory");
    {
        QFile file(blocker);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    expectPhotoInTheUsersDirectory(blocker + QStringLiteral("/bin"));
}

TEST_F(IDCardDialogTest, DataThatIsNoDirectorySendsThePhotoToTheUsersDirectory)
{
    const QString data = appDir.path() + QStringLiteral("/data");
    {
        QFile file(data);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("kept");
    }
    expectPhotoInTheUsersDirectory(appDir.path());
    QFile file(data);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("kept"));
}

TEST_F(IDCardDialogTest, ReadOnlyProgramDirectorySendsThePhotoToTheUsersDirectory)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "mode bits do not keep root out";
    ASSERT_TRUE(QFile::setPermissions(appDir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner
                                                         | QFileDevice::ReadGroup | QFileDevice::ExeGroup
                                                         | QFileDevice::ReadOther | QFileDevice::ExeOther));
    expectPhotoInTheUsersDirectory(appDir.path());
}

TEST_F(IDCardDialogTest, ReadOnlyDataDirectoryOfTheUserIsOpenedAgainAndKept)
{
    // The user's own directory only needs its mode put right.
    const QString data = appDir.path() + QStringLiteral("/data");
    ASSERT_TRUE(QDir().mkpath(data));
    ASSERT_TRUE(QFile::setPermissions(data, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    openDialog();
    ASSERT_TRUE(waitForCard());
    expectPortrait(QImage(photoPath()), 0);
    EXPECT_EQ(modeOf(data), 0700u);
    EXPECT_TRUE(QDir(userData.path()).isEmpty());
}

TEST_F(IDCardDialogTest, TheUsersPhotoDirectoryIsLoggedOnce)
{
    const QString programDir = appDir.path() + QStringLiteral("/not-a-directory");
    {
        QFile file(programDir);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    Cache::config->appDir = programDir + QStringLiteral("/bin");
    static QStringList *logged = nullptr;
    static QMutex loggedMutex;
    QStringList lines;
    logged = &lines;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &text) {
            QMutexLocker lock(&loggedMutex);
            if (logged)
                logged->append(text);
        });
    openDialog();
    const bool read = waitForCard();
    for (int request = 0; request < 3; ++request)
        photoOfTheCardRecord(Cache::config->appDir);
    qInstallMessageHandler(previous);
    {
        QMutexLocker lock(&loggedMutex);
        logged = nullptr;
    }
    ASSERT_TRUE(read);
    const QString directory = QFileInfo(userPhotoPath()).path();
    EXPECT_EQ(lines.filter(directory).size(), 1) << lines.join(QLatin1Char('\n')).toStdString();
}

TEST_F(IDCardDialogTest, PhotoFileLeftByAnOlderRunIsMadePrivate)
{
    QDir().mkpath(appDir.path() + QStringLiteral("/data"));
    QFile::setPermissions(appDir.path() + QStringLiteral("/data"), QFileDevice::Permissions(0x7755));
    {
        QFile old(photoPath());
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old");
    }
    QFile::setPermissions(photoPath(), QFileDevice::Permissions(0x6644));
    openDialog();
    ASSERT_TRUE(waitForCard());
    struct stat file = {}, directory = {};
    ASSERT_EQ(::stat(QFile::encodeName(photoPath()).constData(), &file), 0);
    ASSERT_EQ(::stat(QFile::encodeName(appDir.path() + QStringLiteral("/data")).constData(), &directory), 0);
    EXPECT_EQ(file.st_mode & 07777, 0600u);
    EXPECT_EQ(directory.st_mode & 07777, 0700u);
    EXPECT_EQ(QFileInfo(photoPath()).size(), 38862);
}

TEST_F(IDCardDialogTest, SavingWritesTheNumberedPictureSendsTheJsonOnceAndCloses)
{
    openDialog();
    ASSERT_TRUE(waitForCard());
    QSignalSpy jsonSpy(dialog.get(), &IDCardDialog::sendIdSignals);
    QSignalSpy pathsSpy(dialog.get(), &IDCardDialog::saveImageMergingSignals);
    QTest::mouseClick(child<QPushButton>("btnSaveIDCard"), Qt::LeftButton);

    const QString saved = documents.path() + QStringLiteral("/IMG_7.jpg");
    ASSERT_TRUE(QFileInfo::exists(saved));
    const QImage picture(saved);
    EXPECT_EQ(picture.size(), QSize(550, 692));
    EXPECT_EQ(Cache::config->saveNumber, 8);
    QSettings stored(Cache::config->fileName, QSettings::IniFormat);
    EXPECT_EQ(stored.value(QStringLiteral("save/number")).toInt(), 8);

    ASSERT_EQ(pathsSpy.count(), 1);
    EXPECT_EQ(pathsSpy.at(0).at(0).value<QList<QString>>(), QList<QString>{saved});
    EXPECT_EQ(pathsSpy.at(0).at(1).toInt(), 0);

    ASSERT_EQ(jsonSpy.count(), 1);
    const QString json = jsonSpy.at(0).at(0).toString();
    EXPECT_EQ(keysInOrder(json),
              (QStringList{"command", "result", "IDNumber", "Name", "Sex", "Nation", "Adress",
                           "BornYear", "BornMonth", "BournDay", "Mechanics", "VaildDate", "image",
                           "path"}));
    EXPECT_TRUE(json.startsWith(QStringLiteral("{\n    \"command\": 20008,\n")));
    const QJsonObject card = QJsonDocument::fromJson(json.toUtf8()).object();
    EXPECT_EQ(card.value("command").toVariant(), QVariant(20008));
    EXPECT_EQ(card.value("result").toBool(false), true);
    EXPECT_EQ(card.value("IDNumber").toString(), QStringLiteral("110101198503124018"));
    EXPECT_EQ(card.value("Name").toString(), QStringLiteral("张伟民"));
    EXPECT_EQ(card.value("Adress").toString(), QStringLiteral("北京市东城区景山前街4号院3号楼2单元501室"));
    EXPECT_EQ(card.value("BournDay").toString(), QStringLiteral("12"));
    EXPECT_EQ(card.value("VaildDate").toString(), QStringLiteral("20150620-20350620"));
    EXPECT_EQ(card.value("path").toString(), saved);
    const QString image = card.value("image").toString();
    EXPECT_FALSE(image.contains(QLatin1Char('\n')));
    QImage photo;
    ASSERT_TRUE(photo.loadFromData(QByteArray::fromBase64(image.toLatin1()), "PNG"));
    expectPortrait(photo, 0);

    EXPECT_FALSE(dialog->isVisible());
    EXPECT_FALSE(dialog->isPolling());
    EXPECT_EQ(qxsim_usb_open_handles(), 0);
    QTest::qWait(100);
    EXPECT_EQ(jsonSpy.count(), 1);
}

TEST_F(IDCardDialogTest, SavingNeverOverwritesAnExistingPicture)
{
    {
        QFile existing(documents.path() + QStringLiteral("/IMG_7.jpg"));
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
        existing.write("kept");
    }
    openDialog();
    ASSERT_TRUE(waitForCard());
    QSignalSpy pathsSpy(dialog.get(), &IDCardDialog::saveImageMergingSignals);
    dialog->on_btnSaveIDCard_clicked();
    QFile existing(documents.path() + QStringLiteral("/IMG_7.jpg"));
    ASSERT_TRUE(existing.open(QIODevice::ReadOnly));
    EXPECT_EQ(existing.readAll(), QByteArray("kept"));
    ASSERT_EQ(pathsSpy.count(), 1);
    EXPECT_EQ(pathsSpy.at(0).at(0).value<QList<QString>>(),
              QList<QString>{documents.path() + QStringLiteral("/IMG_8.jpg")});
    EXPECT_EQ(Cache::config->saveNumber, 9);
}

TEST_F(IDCardDialogTest, TimeNamedPictureWhenTheNameTypeIsTime)
{
    Cache::config->saveType = 1;
    wallClock = std::make_unique<FixedWallClock>(QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7, 89)));
    openDialog();
    QSignalSpy pathsSpy(dialog.get(), &IDCardDialog::saveImageMergingSignals);
    dialog->on_btnSaveIDCard_clicked();
    const QString saved = documents.path() + QStringLiteral("/2026_03_04 05_06_07.089.jpg");
    EXPECT_TRUE(QFileInfo::exists(saved));
    ASSERT_EQ(pathsSpy.count(), 1);
    EXPECT_EQ(pathsSpy.at(0).at(0).value<QList<QString>>(), QList<QString>{saved});
    EXPECT_EQ(Cache::config->saveNumber, 7);
}

TEST_F(IDCardDialogTest, SavedPictureCarriesTheConfiguredWatermark)
{
    Cache::config->codec = QStringLiteral("png");
    sam().set_card(CardKind::None);
    openDialog();
    dialog->on_btnSaveIDCard_clicked();
    Cache::config->watermarkText = QStringLiteral("WATERMARK 2026");
    Cache::config->watermarkX = 50;
    Cache::config->watermarkY = 50;
    openDialog();
    dialog->on_btnSaveIDCard_clicked();
    const QImage plain(documents.path() + QStringLiteral("/IMG_7.png"));
    const QImage marked(documents.path() + QStringLiteral("/IMG_8.png"));
    ASSERT_EQ(plain.size(), marked.size());
    int differing = 0;
    for (int y = 0; y < plain.height(); ++y)
        for (int x = 0; x < plain.width(); ++x)
            if (plain.pixel(x, y) != marked.pixel(x, y))
                ++differing;
    EXPECT_GT(differing, 100);
}

TEST_F(IDCardDialogTest, PictureThatCannotBeWrittenIsNotReported)
{
    // A folder below a plain file can be made by nobody (a missing one is made again).
    QFile plain(documents.path() + QStringLiteral("/plain-file"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    Cache::config->documentsLocation = plain.fileName() + QStringLiteral("/folder");
    openDialog();
    ASSERT_TRUE(waitForCard());
    QSignalSpy jsonSpy(dialog.get(), &IDCardDialog::sendIdSignals);
    QSignalSpy pathsSpy(dialog.get(), &IDCardDialog::saveImageMergingSignals);
    dialog->on_btnSaveIDCard_clicked();
    EXPECT_EQ(jsonSpy.count(), 0);
    EXPECT_EQ(pathsSpy.count(), 0);
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings.first().startsWith(QStringLiteral("警告|")));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->isPolling());
    EXPECT_EQ(Cache::config->saveNumber, 7);   // no running number spent on it
}

TEST_F(IDCardDialogTest, TextsTheClerkCorrectedAreSentVerbatim)
{
    openDialog();
    ASSERT_TRUE(waitForCard());
    dialog->closeDriver();   // keep the corrections on screen
    child<QLineEdit>("lb_name")->setText(QStringLiteral("王\"小\\明</b>"));
    child<QTextEdit>("lb_address")->setPlainText(QStringLiteral("第一行\n\t第二行 \u0001"));
    QSignalSpy jsonSpy(dialog.get(), &IDCardDialog::sendIdSignals);
    dialog->on_btnSaveIDCard_clicked();
    ASSERT_EQ(jsonSpy.count(), 1);
    QJsonParseError error;
    const QJsonObject card =
        QJsonDocument::fromJson(jsonSpy.at(0).at(0).toString().toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError);
    EXPECT_EQ(card.value("Name").toString(), QStringLiteral("王\"小\\明</b>"));
    EXPECT_EQ(card.value("Adress").toString(), QStringLiteral("第一行\n\t第二行 \u0001"));
}

TEST_F(IDCardDialogTest, SavingBeforeAnyCardSendsNoImage)
{
    sam().set_card(CardKind::None);
    openDialog();
    EXPECT_TRUE(dialog->isPolling());
    QTest::qWait(200);
    QSignalSpy jsonSpy(dialog.get(), &IDCardDialog::sendIdSignals);
    dialog->on_btnSaveIDCard_clicked();
    ASSERT_EQ(jsonSpy.count(), 1);
    const QString json = jsonSpy.at(0).at(0).toString();
    EXPECT_EQ(keysInOrder(json),
              (QStringList{"command", "result", "IDNumber", "Name", "Sex", "Nation", "Adress",
                           "BornYear", "BornMonth", "BournDay", "Mechanics", "VaildDate", "path"}));
    const QJsonObject card = QJsonDocument::fromJson(json.toUtf8()).object();
    EXPECT_EQ(card.value("Name").toString(), QString());
    EXPECT_TRUE(QFileInfo::exists(documents.path() + QStringLiteral("/IMG_7.jpg")));
}

TEST_F(IDCardDialogTest, PhotoThatDoesNotDecodeSendsNoImage)
{
    openDialog();
    ASSERT_TRUE(waitForCard());
    // A photo block that fails its check: the old photo stays, but it no
    // longer counts as this card's photo.
    QByteArray broken(1024, '\x55');
    dialog->writePhoto(reinterpret_cast<unsigned char *>(broken.data()), broken.size());
    dialog->closeDriver();
    EXPECT_FALSE(shownPhoto().isNull());
    QSignalSpy jsonSpy(dialog.get(), &IDCardDialog::sendIdSignals);
    dialog->on_btnSaveIDCard_clicked();
    ASSERT_EQ(jsonSpy.count(), 1);
    EXPECT_FALSE(QJsonDocument::fromJson(jsonSpy.at(0).at(0).toString().toUtf8())
                     .object()
                     .contains(QStringLiteral("image")));
}

TEST_F(IDCardDialogTest, ACardOfAnotherKindNeverKeepsThePreviousHoldersTexts)
{
    openDialog();
    ASSERT_TRUE(waitForCard());
    sam().set_card(CardKind::Permanent);
    ASSERT_TRUE(
        testenv::waitFor([this] { return text("lb_code") == QStringLiteral("USA110085031534"); }, kWaitMs));
    ASSERT_TRUE(testenv::waitFor([this] { return !shownPhoto().isNull(); }, kWaitMs));
    expectPortrait(shownPhoto(), 1);
    EXPECT_EQ(text("lb_name"), QStringLiteral("史密斯"));
    EXPECT_EQ(text("lb_sex"), QStringLiteral("男"));
    EXPECT_EQ(text("lb_nation"), QStringLiteral("USA"));
    EXPECT_EQ(text("lb_year") + text("lb_month") + text("lb_day"), QStringLiteral("19850315"));
    EXPECT_EQ(text("lb_date"), QStringLiteral("20190815-20290815"));
    // No address and no authority on this kind: nothing of the resident card's.
    EXPECT_EQ(child<QTextEdit>("lb_address")->toPlainText(), QString());
    EXPECT_EQ(text("lb_authority"), QString());

    QSignalSpy jsonSpy(dialog.get(), &IDCardDialog::sendIdSignals);
    dialog->on_btnSaveIDCard_clicked();
    ASSERT_EQ(jsonSpy.count(), 1);
    const QJsonObject card = QJsonDocument::fromJson(jsonSpy.at(0).at(0).toString().toUtf8()).object();
    EXPECT_EQ(card.value("Name").toString(), QStringLiteral("史密斯"));
    EXPECT_EQ(card.value("IDNumber").toString(), QStringLiteral("USA110085031534"));
    EXPECT_EQ(card.value("Adress").toString(), QString());
    EXPECT_EQ(card.value("Mechanics").toString(), QString());
    EXPECT_TRUE(card.contains(QStringLiteral("image")));

    sam().set_card(CardKind::Permit);
    openDialog();
    ASSERT_TRUE(testenv::waitFor([this] { return text("lb_name") == QStringLiteral("陈家明"); }, kWaitMs));
    ASSERT_TRUE(testenv::waitFor([this] { return !shownPhoto().isNull(); }, kWaitMs));
    expectPortrait(shownPhoto(), 2);
    EXPECT_EQ(text("lb_sex"), QStringLiteral("女"));
    EXPECT_EQ(text("lb_nation"), QString());
    EXPECT_EQ(text("lb_code").size(), 18);
    EXPECT_TRUE(text("lb_code").startsWith(QStringLiteral("81000019920315452")));
    EXPECT_EQ(child<QTextEdit>("lb_address")->toPlainText(),
              QStringLiteral("广东省深圳市福田区福华三路88号"));
    EXPECT_EQ(text("lb_authority"), QStringLiteral("深圳市公安局"));
    EXPECT_EQ(text("lb_date"), QStringLiteral("20200101-20250101"));
}

// Card records as the reader hands them over: UTF-16LE, space padded.
template <typename Record>
void putText(Record &record, std::size_t offset, std::size_t width, const QString &text)
{
    auto *bytes = reinterpret_cast<unsigned char *>(&record);
    for (std::size_t i = 0; i < width / 2; ++i) {
        const ushort unit = int(i) < text.size() ? text.at(int(i)).unicode() : ushort(' ');
        bytes[offset + 2 * i] = uchar(unit & 0xFF);
        bytes[offset + 2 * i + 1] = uchar(unit >> 8);
    }
}
#define PUT(record, member, text)                                                                            \
    putText(record, offsetof(decltype(record), member), sizeof(record.member), text)

template <typename Record> Record blankRecord()
{
    Record record;
    std::memset(&record, 0, sizeof record);
    putText(record, 0, sizeof record, QString());
    return record;
}

// `count` wide characters, none repeated next to its neighbour.
QString wideText(int count)
{
    const QString pool =
        QStringLiteral("新疆维吾尔自治区伊犁哈萨克州阿勒泰地区布尔津县喀纳斯湖景区管理委员会");
    QString text;
    for (int i = 0; i < count; ++i)
        text += pool.at(i % pool.size());
    return text;
}

// A field shows its whole text when moving the cursor from its start to
// its end scrolls nothing: a cut text would slide over to show its end.
bool showsWholeText(QWidget *widget)
{
    if (auto *line = qobject_cast<QLineEdit *>(widget)) {
        line->setCursorPosition(0);
        const QImage atStart = line->grab().toImage();
        line->setCursorPosition(line->text().size());
        const QImage atEnd = line->grab().toImage();
        line->setCursorPosition(0);
        return atStart == atEnd;
    }
    auto *block = qobject_cast<QTextEdit *>(widget);
    block->grab(); // lays the text out
    return block->verticalScrollBar()->maximum() == 0 && block->horizontalScrollBar()->maximum() == 0;
}

TEST_F(IDCardDialogTest, EveryFieldShowsTheLongestTextOfEachCardKindWhole)
{
    Cache::config->codec = QStringLiteral("png");
    Tidentify_info resident = blankRecord<Tidentify_info>();
    PUT(resident, name, wideText(15));
    PUT(resident, gender, QStringLiteral("2"));
    PUT(resident, national, QStringLiteral("29")); // 柯尔克孜, the longest name
    PUT(resident, birthday, QStringLiteral("19881228"));
    PUT(resident, address, wideText(35));
    PUT(resident, id, QStringLiteral("65432119881228888X"));
    PUT(resident, maker, wideText(15));
    PUT(resident, start_date, QStringLiteral("20181228"));
    PUT(resident, end_date, QStringLiteral("20381228"));

    Treside_info reside = blankRecord<Treside_info>();
    PUT(reside, englishName, QStringLiteral("WOLFESCHLEGELSTEINHAUSEN, HUBERT BLAINE"));
    PUT(reside, gender, QStringLiteral("1"));
    PUT(reside, id, QStringLiteral("DEU440088121899"));
    PUT(reside, areaCode, QStringLiteral("DEU"));
    PUT(reside, chineseName, wideText(15));
    PUT(reside, start_date, QStringLiteral("20231228"));
    PUT(reside, end_date, QStringLiteral("20331228"));
    PUT(reside, birthday, QStringLiteral("19881228"));
    PUT(reside, cardType, QStringLiteral("I"));

    Tgangaotai_info permit = blankRecord<Tgangaotai_info>();
    PUT(permit, name, wideText(5));
    PUT(permit, gender, QStringLiteral("1"));
    PUT(permit, birthday, QStringLiteral("19881228"));
    PUT(permit, address, wideText(35));
    PUT(permit, id, QStringLiteral("83000019881228888X"));
    PUT(permit, maker, wideText(15));
    PUT(permit, start_date, QStringLiteral("20231228"));
    PUT(permit, end_date, QStringLiteral("20281228"));
    PUT(permit, passNumber, QStringLiteral("H12345678"));
    PUT(permit, cardType, QStringLiteral("J"));

    const char *const fields[] = {"lb_name", "lb_sex",  "lb_nation",  "lb_year",      "lb_month",
                                  "lb_day",  "lb_code", "lb_address", "lb_authority", "lb_date"};
    dialog = std::make_unique<IDCardDialog>();
    const std::function<void()> cards[] = {
        [&] { dialog->read_identfy_info(resident); },
        [&] { dialog->read_reside_info(reside); },
        [&] { dialog->read_gangaotai_info(permit); },
    };
    for (std::size_t kind = 0; kind < 3; ++kind) {
        dialog->show();
        cards[kind]();
        for (const char *name : fields)
            EXPECT_TRUE(showsWholeText(child<QWidget>(name))) << "card " << kind << " " << name;
    }
    dialog->read_identfy_info(resident);
    EXPECT_EQ(text("lb_code"), QStringLiteral("65432119881228888X"));
    EXPECT_EQ(text("lb_name").size(), 15);
    EXPECT_EQ(text("lb_nation"), QStringLiteral("柯尔克孜"));
    // Texts that fit keep the form's font.
    for (const char *name : {"lb_sex", "lb_year", "lb_month", "lb_day"})
        EXPECT_EQ(child<QWidget>(name)->font().pointSizeF(), 12.0) << name;

    // The saved card picture, the clerk's record of the card, shows every
    // field as the screen does: the number with its check character.
    QSignalSpy saved(dialog.get(), &IDCardDialog::saveImageMergingSignals);
    dialog->on_btnSaveIDCard_clicked();
    ASSERT_EQ(saved.count(), 1);
    const QImage picture =
        QImage(saved.at(0).at(0).value<QList<QString>>().value(0)).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(picture.size(), QSize(550, 692));
    for (const char *name : fields) {
        QWidget *field = child<QWidget>(name);
        EXPECT_EQ(picture.copy(field->geometry()),
                  field->grab().toImage().convertToFormat(QImage::Format_RGB32))
            << name;
    }
}

TEST_F(IDCardDialogTest, ClosingReleasesTheReaderAndASecondOpenReadsAgain)
{
    openDialog();
    ASSERT_TRUE(waitForCard());
    EXPECT_EQ(dialog->portHandle(), 0);
    dialog->close();
    EXPECT_FALSE(dialog->isPolling());
    EXPECT_EQ(dialog->portHandle(), -100);
    EXPECT_EQ(qxsim_usb_open_handles(), 0);
    EXPECT_EQ(qxsim_usb_open_contexts(), 0);

    QFile::remove(photoPath());
    sam().clear_requests();
    openDialog();
    EXPECT_TRUE(warnings.isEmpty());
    EXPECT_TRUE(dialog->isPolling());
    EXPECT_TRUE(testenv::waitFor([this] { return QFileInfo::exists(photoPath()); }, kWaitMs));
    EXPECT_FALSE(sam().requests().empty());
}

TEST_F(IDCardDialogTest, EscapeClosesAndReleasesTheReader)
{
    openDialog();
    ASSERT_TRUE(waitForCard());
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_FALSE(dialog->isPolling());
    EXPECT_EQ(qxsim_usb_open_handles(), 0);
    openDialog();
    EXPECT_TRUE(dialog->isPolling());
    EXPECT_TRUE(warnings.isEmpty());
}

TEST_F(IDCardDialogTest, ReadsDoNotHoldUpTheWindowAndCloseWaitsForThem)
{
    // Each transfer takes a while, as on a real reader, so a read is in
    // flight for a good part of a second.
    qxsim_usb_set_transfer_time_us(150000);
    openDialog();
    ASSERT_TRUE(dialog->isPolling());
    bool tickedDuringRead = false;
    bool readStillRunning = false;
    QTimer::singleShot(40, [&] {
        // The first polling step has started; the window still gets here.
        tickedDuringRead = true;
        readStillRunning = text("lb_code").isEmpty();
    });
    ASSERT_TRUE(testenv::waitFor([&] { return tickedDuringRead; }, kWaitMs));
    EXPECT_TRUE(readStillRunning);
    dialog->close();   // waits for the exchange in flight, then closes the port
    EXPECT_EQ(qxsim_usb_open_handles(), 0);
    EXPECT_EQ(qxsim_usb_max_concurrent_transfers(), 1);
    // A result of the abandoned step never reaches the closed dialog.
    QTest::qWait(100);
    EXPECT_TRUE(text("lb_code").isEmpty());
}

TEST_F(IDCardDialogTest, TrayHelpersShowAndHideTheDialog)
{
    dialog = std::make_unique<IDCardDialog>();
    dialog->on_activatedSysTrayIcon(QSystemTrayIcon::Trigger);   // no tray icon: nothing happens
    EXPECT_FALSE(dialog->isVisible());
    dialog->on_activatedSysTrayIcon(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(dialog->isVisible());
    dialog->hideWindow();
    EXPECT_FALSE(dialog->isVisible());
    dialog->on_showMainAction();
    EXPECT_TRUE(dialog->isVisible());

    dialog->createActions();
    dialog->createMenu();
    QMenu *menu = dialog->findChild<QMenu *>();
    ASSERT_NE(menu, nullptr);
    const QList<QAction *> entries = menu->actions();
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries.at(0)->text(), QStringLiteral("显示主界面"));
    EXPECT_TRUE(entries.at(1)->isSeparator());
    EXPECT_EQ(entries.at(2)->text(), QStringLiteral("退出"));
    dialog->hideWindow();
    entries.at(0)->trigger();
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(IDCardDialogTest, MainWindowButtonOpensTheDialogAndSavedPicturesReachTheThumbnails)
{
    Cache::config->gnShenfenz = true;
    MainWindowQCamera window;
    IDCardDialog *cards = window.findChild<IDCardDialog *>();
    ASSERT_NE(cards, nullptr);
    EXPECT_FALSE(cards->isVisible());
    window.on_btnIDCard_clicked();
    EXPECT_TRUE(cards->isVisible());
    EXPECT_TRUE(cards->isPolling());
    QLineEdit *code = cards->findChild<QLineEdit *>(QStringLiteral("lb_code"));
    ASSERT_TRUE(testenv::waitFor([code] { return !code->text().isEmpty(); }, kWaitMs));
    cards->on_btnSaveIDCard_clicked();
    EXPECT_FALSE(cards->isVisible());
    EXPECT_EQ(window.slotPath(1), documents.path() + QStringLiteral("/IMG_7.jpg"));
    EXPECT_EQ(window.nextSlot(), 2);
    EXPECT_EQ(qxsim_usb_open_handles(), 0);
}

} // namespace
