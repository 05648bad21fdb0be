// The fingerprint dialog as an operator drives it, on the simulated sensor
// with the test double of the algorithm library: opening and closing, the
// id checks, enrolment with three presses, identification after a reopen,
// delete and clear, and the template store file.
#include "algorithm_teststub.h"
#include "base64.h"
#include "dialog.h"
#include "fingertest.h"
#include "testenv.h"
#include "workdirtest.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>

#include <memory>
#include <vector>

using namespace fingertest;

namespace {

const QString kEnrolPrompt = QStringLiteral("请按压同一手指3次!");
const QString kTwoMore = QStringLiteral("您还需要按压2次手指.");
const QString kOneMore = QStringLiteral("您还需要按压1次手指.");
const QString kNotIdentified = QStringLiteral("识别失败");
const QString kInvalidId = QStringLiteral("无效指纹ID,ID必须>0!");
const QString kNotConnected = QStringLiteral("设备未连接!");

constexpr int kFingerA = 1;
constexpr int kFingerB = 4;

QString enrolled(int id)
{
    return QStringLiteral("登记成功，指纹ID:%1").arg(id);
}

bool identifiedAs(const QString &message, int id)
{
    return message.startsWith(QStringLiteral("识别成功，指纹id=%1, 分数=").arg(id));
}

// Rows of the store file, read straight from SQLite: id -> template text.
std::vector<std::pair<int, std::string>> storedRows()
{
    std::vector<std::pair<int, std::string>> rows;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2("qxfinger.db", &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, "select id, template from template10 order by id", -1, &stmt, nullptr) == SQLITE_OK)
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            const unsigned char *text = sqlite3_column_text(stmt, 1);
            rows.emplace_back(sqlite3_column_int(stmt, 0), text ? reinterpret_cast<const char *>(text) : "");
        }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

void insertRow(const char *sql)
{
    sqlite3 *db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open("qxfinger.db", &db));
    char *error = nullptr;
    EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, sql, nullptr, nullptr, &error)) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

int fileMode(const char *path)
{
    struct stat info {};
    return stat(path, &info) == 0 ? int(info.st_mode & 0777) : -1;
}

QStringList &logLines()
{
    static QStringList lines;
    return lines;
}

void recordLog(QtMsgType, const QMessageLogContext &, const QString &text)
{
    logLines().append(text);
}

class FingerDialogTest : public SensorTest
{
protected:
    void SetUp() override
    {
        SensorTest::SetUp();
        if (HasFatalFailure())
            return;
        qxfpstub_reset();
        dialog = std::make_unique<Dialog>();
    }
    void TearDown() override
    {
        SensorTest::TearDown();
        EXPECT_EQ(0, qxfpstub_live_handles());
        qxfpstub_reset();
    }

    void openDialog()
    {
        dialog->show();
        dialog->init();
        ASSERT_EQ(QStringLiteral("连接成功!"), message(*dialog));
    }
    void reopenDialog()
    {
        dialog = std::make_unique<Dialog>();
        openDialog();
    }

    // The whole enrolment of `id` with three presses of one finger.
    void enrol(int id, int fingerId)
    {
        typeId(*dialog, QString::number(id));
        click(*dialog, "btnRegister");
        ASSERT_EQ(kEnrolPrompt, message(*dialog));
        ASSERT_EQ(kTwoMore, press(*dialog, sensor, fingerId));
        ASSERT_EQ(kOneMore, press(*dialog, sensor, fingerId));
        ASSERT_EQ(enrolled(id), press(*dialog, sensor, fingerId));
    }
};

TEST_F(FingerDialogTest, WithoutSensorNothingOpensAndEveryActionSaysSo)
{
    qxsim_reset();
    dialog->init();
    // Enumeration found nothing; the open that follows has nothing to open.
    EXPECT_EQ(QStringLiteral("请选择设备!"), message(*dialog));
    EXPECT_EQ(0, dialog->findChild<QComboBox *>(QStringLiteral("comboBox"))->count());
    click(*dialog, "btnEnum");
    EXPECT_EQ(QStringLiteral("找不到设备!"), message(*dialog));
    for (const char *button : {"btnRegister", "btnDelete", "btnClear", "btnClose"}) {
        click(*dialog, button);
        EXPECT_EQ(kNotConnected, message(*dialog)) << button;
    }
    EXPECT_FALSE(QFile::exists(QStringLiteral("qxfinger.db")));
}

TEST_F(FingerDialogTest, OpensListsClosesAndReleasesTheSensor)
{
    openDialog();
    EXPECT_EQ(QStringLiteral("指纹识别"), dialog->windowTitle());
    auto *devices = dialog->findChild<QComboBox *>(QStringLiteral("comboBox"));
    ASSERT_EQ(1, devices->count());
    EXPECT_TRUE(devices->itemText(0).startsWith(QStringLiteral("6997_292_"))) << devices->itemText(0).toStdString();
    EXPECT_TRUE(dialog->isDeviceOpen());
    EXPECT_EQ(1, qxsim_open_connections());

    click(*dialog, "btnOpen");
    EXPECT_EQ(QStringLiteral("设备已连接!"), message(*dialog));
    click(*dialog, "btnClose");
    EXPECT_EQ(QStringLiteral("断开连接成功!"), message(*dialog));
    EXPECT_EQ(0, qxsim_open_connections());
    EXPECT_EQ(0, qxfpstub_live_handles());
    click(*dialog, "btnClose");
    EXPECT_EQ(kNotConnected, message(*dialog));

    // A failing sensor open is reported and leaves the dialog closed.
    qxsim_set_open_fails(sensor, 1);
    click(*dialog, "btnOpen");
    EXPECT_EQ(QStringLiteral("设备连接失败!"), message(*dialog));
    EXPECT_FALSE(dialog->isDeviceOpen());
}

TEST_F(FingerDialogTest, CapturedImageIsShownInGreyAndEmitted)
{
    openDialog();
    QSignalSpy images(dialog.get(), &Dialog::sendFGSignals);
    EXPECT_EQ(kNotIdentified, press(*dialog, sensor, kFingerA));
    ASSERT_GE(images.count(), 1);
    const QPixmap sent = images.first().first().value<QPixmap>();
    auto *label = dialog->findChild<QLabel *>(QStringLiteral("labelImage"));
    // Scaled into the label, the sensor's 256 x 360 proportions kept.
    EXPECT_LE(sent.width(), label->width());
    EXPECT_LE(sent.height(), label->height());
    EXPECT_TRUE(sent.width() == label->width() || sent.height() == label->height());
    EXPECT_NEAR(256.0 / 360.0, double(sent.width()) / sent.height(), 0.02);
    const QPixmap onLabel = label->pixmap(Qt::ReturnByValue);
    ASSERT_FALSE(onLabel.isNull());
    EXPECT_EQ(sent.size(), onLabel.size());
    const QImage shown = sent.toImage();
    int darkest = 255, brightest = 0;
    for (int y = 0; y < shown.height(); y += 3)
        for (int x = 0; x < shown.width(); x += 3) {
            const QRgb p = shown.pixel(x, y);
            ASSERT_TRUE(qRed(p) == qGreen(p) && qGreen(p) == qBlue(p)) << x << "," << y;
            darkest = qMin(darkest, qRed(p));
            brightest = qMax(brightest, qRed(p));
        }
    EXPECT_GT(brightest - darkest, 60); // ridges, not a blank frame
}

TEST_F(FingerDialogTest, IdThatIsNotAPositiveNumberIsRefused)
{
    openDialog();
    for (const QString &text : {QStringLiteral("0"), QStringLiteral("-3"), QStringLiteral("abc"), QString()}) {
        typeId(*dialog, text);
        click(*dialog, "btnRegister");
        EXPECT_EQ(kInvalidId, message(*dialog)) << text.toStdString();
        EXPECT_FALSE(dialog->isRegistering());
        click(*dialog, "btnDelete");
        EXPECT_EQ(kInvalidId, message(*dialog)) << text.toStdString();
    }
}

TEST_F(FingerDialogTest, ThreePressesOfOneFingerEnrolAndIdentify)
{
    openDialog();
    enrol(7, kFingerA);
    EXPECT_FALSE(dialog->isRegistering());
    const auto rows = storedRows();
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(7, rows[0].first);

    EXPECT_TRUE(identifiedAs(press(*dialog, sensor, kFingerA), 7));
    EXPECT_EQ(kNotIdentified, press(*dialog, sensor, kFingerB));

    // The id is taken, and so is the finger.
    typeId(*dialog, QStringLiteral("7"));
    click(*dialog, "btnRegister");
    EXPECT_EQ(QStringLiteral("当前ID已经登记!"), message(*dialog));
    EXPECT_FALSE(dialog->isRegistering());
    typeId(*dialog, QStringLiteral("8"));
    click(*dialog, "btnRegister");
    EXPECT_EQ(kEnrolPrompt, message(*dialog));
    EXPECT_EQ(QStringLiteral("登记失败，当前手指已登记！"), press(*dialog, sensor, kFingerA));
    EXPECT_FALSE(dialog->isRegistering());
    EXPECT_EQ(1u, storedRows().size());
}

TEST_F(FingerDialogTest, ScoreFiftyIsTheSameFingerAndFortyNineIsNot)
{
    openDialog();
    typeId(*dialog, QStringLiteral("3"));
    click(*dialog, "btnRegister");
    EXPECT_EQ(kTwoMore, press(*dialog, sensor, kFingerA));
    // A second press of the enrol button while enrolling changes nothing.
    click(*dialog, "btnRegister");
    EXPECT_EQ(kTwoMore, message(*dialog));
    qxfpstub_force_verify_score(49);
    EXPECT_EQ(QStringLiteral("登记失败，请按压同一个手指."), press(*dialog, sensor, kFingerA));
    EXPECT_FALSE(dialog->isRegistering());
    EXPECT_TRUE(storedRows().empty());

    click(*dialog, "btnRegister");
    qxfpstub_force_verify_score(-1);
    EXPECT_EQ(kTwoMore, press(*dialog, sensor, kFingerA));
    qxfpstub_force_verify_score(50);
    EXPECT_EQ(kOneMore, press(*dialog, sensor, kFingerB));
}

TEST_F(FingerDialogTest, DeleteOneAndClearAll)
{
    openDialog();
    enrol(7, kFingerA);
    enrol(9, kFingerB);

    typeId(*dialog, QStringLiteral("7"));
    click(*dialog, "btnDelete");
    EXPECT_EQ(QStringLiteral("删除完成!"), message(*dialog));
    EXPECT_EQ(kNotIdentified, press(*dialog, sensor, kFingerA));
    EXPECT_TRUE(identifiedAs(press(*dialog, sensor, kFingerB), 9));
    click(*dialog, "btnDelete");
    EXPECT_EQ(QStringLiteral("当前ID未登记!"), message(*dialog));
    ASSERT_EQ(1u, storedRows().size());
    EXPECT_EQ(9, storedRows()[0].first);

    click(*dialog, "btnClear");
    EXPECT_EQ(QStringLiteral("清空完成!"), message(*dialog));
    EXPECT_EQ(kNotIdentified, press(*dialog, sensor, kFingerB));
    EXPECT_TRUE(storedRows().empty());
    reopenDialog();
    EXPECT_EQ(0, qxfpstub_db_size());
}

// Another connection holding the store's write lock, as a second station
// program or a backup would: every write of the dialog fails, reads go on.
class StoreWriteLock {
public:
    StoreWriteLock()
    {
        if (sqlite3_open("qxfinger.db", &db) == SQLITE_OK)
            locked = sqlite3_exec(db, "begin immediate", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~StoreWriteLock()
    {
        sqlite3_exec(db, "rollback", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    bool locked = false;

private:
    sqlite3 *db = nullptr;
};

TEST_F(FingerDialogTest, StoreFailuresAreShownAndMemoryStaysWithTheStore)
{
    openDialog();
    enrol(7, kFingerA);
    {
        StoreWriteLock lock;
        ASSERT_TRUE(lock.locked);

        // An enrolment the store did not take is no enrolment.
        typeId(*dialog, QStringLiteral("9"));
        click(*dialog, "btnRegister");
        press(*dialog, sensor, kFingerB);
        press(*dialog, sensor, kFingerB);
        EXPECT_EQ(QStringLiteral("登记失败，指纹未能保存!"), press(*dialog, sensor, kFingerB));
        EXPECT_EQ(kNotIdentified, press(*dialog, sensor, kFingerB));

        // A delete or clear the store refused leaves the finger enrolled.
        typeId(*dialog, QStringLiteral("7"));
        click(*dialog, "btnDelete");
        EXPECT_EQ(QStringLiteral("删除失败，指纹库未能更新!"), message(*dialog));
        EXPECT_TRUE(identifiedAs(press(*dialog, sensor, kFingerA), 7));
        click(*dialog, "btnClear");
        EXPECT_EQ(QStringLiteral("清空失败，指纹库未能更新!"), message(*dialog));
        EXPECT_TRUE(identifiedAs(press(*dialog, sensor, kFingerA), 7));
    }
    ASSERT_EQ(1u, storedRows().size());
    reopenDialog();
    EXPECT_TRUE(identifiedAs(press(*dialog, sensor, kFingerA), 7));
    EXPECT_EQ(kNotIdentified, press(*dialog, sensor, kFingerB));
    // With the store free again, the id is enrolled as usual.
    enrol(9, kFingerB);
    EXPECT_EQ(2u, storedRows().size());
}

TEST_F(FingerDialogTest, StoreFileIsForItsOwnerOnlyWhateverTheUmask)
{
    const mode_t previous = umask(0);
    openDialog();
    umask(previous);
    EXPECT_EQ(0600, fileMode("qxfinger.db"));
    enrol(7, kFingerA);
    EXPECT_EQ(0600, fileMode("qxfinger.db"));

    // A store left readable by others is closed to them at the next open.
    dialog.reset();
    ASSERT_EQ(0, chmod("qxfinger.db", 0644));
    reopenDialog();
    EXPECT_EQ(0600, fileMode("qxfinger.db"));
    EXPECT_TRUE(identifiedAs(press(*dialog, sensor, kFingerA), 7));
}

TEST_F(FingerDialogTest, LongestTemplateSurvivesTheStoreWhole)
{
    qxfpstub_set_enrol_length(2048);
    openDialog();
    enrol(7, kFingerA);
    std::vector<unsigned char> original(2048);
    ASSERT_EQ(2048, qxfpstub_db_template(7, original.data(), 2048));
    const auto rows = storedRows();
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(2732u, rows[0].second.size());
    EXPECT_EQ(rows[0].second, base64::encodeUnbroken(original.data(), 2048));

    reopenDialog();
    std::vector<unsigned char> reloaded(2048);
    ASSERT_EQ(2048, qxfpstub_db_template(7, reloaded.data(), 2048));
    EXPECT_EQ(original, reloaded);
    EXPECT_TRUE(identifiedAs(press(*dialog, sensor, kFingerA), 7));
}

TEST_F(FingerDialogTest, RowsThatDoNotDecodeAreSkippedAndLogged)
{
    openDialog();
    enrol(7, kFingerA);
    dialog.reset();
    insertRow("insert into template10 values(5, 'not Base64 at all!')");
    insertRow("insert into template10 values(6, '')");
    insertRow("insert into template10 values(8, 'QUJD=')");
    // A template text with quotes would have broken a formatted statement.
    insertRow("insert into template10 values(11, 'it''s; drop table template10; --')");

    logLines().clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordLog);
    reopenDialog();
    qInstallMessageHandler(previous);
    EXPECT_EQ(1, qxfpstub_db_size());
    for (int id : {5, 6, 8, 11})
        EXPECT_EQ(1, logLines().filter(QStringLiteral("skipped id %1 ").arg(id)).size()) << id;
    EXPECT_TRUE(identifiedAs(press(*dialog, sensor, kFingerA), 7));
    EXPECT_EQ(5u, storedRows().size());
}

TEST_F(FingerDialogTest, AlgorithmFailuresAreReportedWithTheirCode)
{
    openDialog();
    qxfpstub_set_gen_error(-7);
    typeId(*dialog, QStringLiteral("7"));
    click(*dialog, "btnRegister");
    press(*dialog, sensor, kFingerA);
    press(*dialog, sensor, kFingerA);
    EXPECT_EQ(QStringLiteral("生成登记模板失败，错误代码 = -7"), press(*dialog, sensor, kFingerA));

    qxfpstub_set_gen_error(0);
    qxfpstub_set_add_error(-5);
    click(*dialog, "btnRegister");
    press(*dialog, sensor, kFingerA);
    press(*dialog, sensor, kFingerA);
    EXPECT_EQ(QStringLiteral("添加指纹失败，错误代码 = -5"), press(*dialog, sensor, kFingerA));
    EXPECT_TRUE(storedRows().empty());
}

TEST_F(FingerDialogTest, WithoutAStoreFingersAreStillEnrolledInMemory)
{
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("qxfinger.db"))); // cannot be opened as a store
    openDialog();
    enrol(7, kFingerA);
    EXPECT_TRUE(identifiedAs(press(*dialog, sensor, kFingerA), 7));
    // Nothing to look the id up in: deleting goes to the algorithm only.
    click(*dialog, "btnDelete");
    EXPECT_EQ(QStringLiteral("删除完成!"), message(*dialog));
    EXPECT_EQ(kNotIdentified, press(*dialog, sensor, kFingerA));
}

} // namespace
