// The export dialog with the page switches and their settings: separator
// sheets split a batch into documents named after them, blank pages are left
// out only when asked, a searchable PDF carries the pages' Chinese and
// English text as pdftotext reads it and looks like the plain export, can be
// cancelled, and without language data the switch is disabled with a note
// and the export still keeps every page as a plain PDF.
#include "cache.h"
#include "config.h"
#include "imageprocessing.h"
#include "imagesavepdfortiffdialog.h"
#include "pagemaker.h"
#include "pageprogress.h"
#include "searchablepdf.h"
#include "settingdialog.h"
#include "testenv.h"
#include "warningbox.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

const QSize kPage(620, 877);

QString run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

int pdfPages(const QString &path)
{
    for (const QString &line : run(QStringLiteral("pdfinfo"), {path}).split('\n'))
        if (line.startsWith(QLatin1String("Pages:")))
            return line.mid(6).trimmed().toInt();
    return -1;
}

// Width and height in points of every page.
QList<QSizeF> pdfPageSizes(const QString &path, int pages)
{
    QList<QSizeF> sizes;
    const QRegularExpression size(QStringLiteral("^Page +\\d+ size: +([0-9.]+) x ([0-9.]+)"));
    const QString info = run(QStringLiteral("pdfinfo"), {QStringLiteral("-f"), QStringLiteral("1"),
                                                         QStringLiteral("-l"), QString::number(pages), path});
    for (const QString &line : info.split('\n')) {
        const QRegularExpressionMatch match = size.match(line);
        if (match.hasMatch())
            sizes.append(QSizeF(match.captured(1).toDouble(), match.captured(2).toDouble()));
    }
    return sizes;
}

bool nearly(const QSizeF &a, const QSizeF &b)
{
    return qAbs(a.width() - b.width()) < 1.0 && qAbs(a.height() - b.height()) < 1.0;
}

QString withoutSpaces(QString text)
{
    text.remove(QRegularExpression(QStringLiteral("\\s")));
    return text;
}

// Characters inserted, dropped or changed to turn `read` into `truth`.
class ExportExtras : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(documents.isValid());
        ASSERT_TRUE(sources.isValid());
        testenv::resetConfig(documents);
        Config &config = *Cache::config;
        config.saveType = 0;
        config.savePrefix = QStringLiteral("DOC");
        config.saveNumber = 1;
        testenv::captureWarnings(warnings);
        dialog = std::make_unique<ImageSavePDFOrTiffDialog>();
        dialog->init();
        dialog->show();
        QObject::connect(dialog.get(), &ImageSavePDFOrTiffDialog::statusMessage,
                         [this](QString text) { notes.append(text); });
        QObject::connect(dialog.get(), &ImageSavePDFOrTiffDialog::saveImageMergingSignals,
                         [this](QList<QString> paths, int) { written.append(paths); });
    }
    void TearDown() override
    {
        dialog.reset();
        WarningBox::setHandler({});
        searchablepdf::setDataDirectory(QString());
        pageprogress::setDelay(1000);
    }

    QString save(const QImage &image, const QString &name)
    {
        const QString path = sources.filePath(name);
        EXPECT_TRUE(image.save(path, "jpg", 85));
        return path;
    }
    QString textPage(unsigned seed) { return save(pagemaker::textPage(seed, kPage, 4).image, QStringLiteral("p%1.jpg").arg(seed)); }

    QTemporaryDir documents;
    QTemporaryDir sources;
    QStringList warnings;
    QStringList notes;
    QStringList written;
    std::unique_ptr<ImageSavePDFOrTiffDialog> dialog;
};

TEST_F(ExportExtras, SeparatorSheetsSplitFivePagesIntoTwoNamedDocuments)
{
    const QString first = save(pagemaker::codePage(pagemaker::Code::Qr, "批次/A", kPage), "s1.jpg");
    const QString second = save(pagemaker::codePage(pagemaker::Code::Code128, "BATCH-B", kPage), "s2.jpg");
    const QStringList batch{first, textPage(1), textPage(2), second, textPage(3), textPage(4), textPage(5)};

    dialog->setImage(batch);
    Cache::config->barcodeSeparator = false;   // off: one document of every page
    QMetaObject::invokeMethod(dialog.get(), "on_btnSavePDF_clicked");
    ASSERT_EQ(written.size(), 1);
    EXPECT_EQ(pdfPages(written[0]), 7);

    written.clear();
    Cache::config->barcodeSeparator = true;
    dialog->setImage(batch);
    QMetaObject::invokeMethod(dialog.get(), "on_btnSavePDF_clicked");
    ASSERT_EQ(written.size(), 2) << warnings.join('\n').toStdString();
    EXPECT_EQ(QFileInfo(written[0]).fileName(), QStringLiteral("批次_A.pdf"));
    EXPECT_EQ(pdfPages(written[0]), 2);
    EXPECT_EQ(QFileInfo(written[1]).fileName(), QStringLiteral("BATCH-B.pdf"));
    EXPECT_EQ(pdfPages(written[1]), 3);
    EXPECT_EQ(dialog->imageCount(), 0);
    ASSERT_FALSE(notes.isEmpty());
    EXPECT_TRUE(notes.last().contains(QStringLiteral("2 个文件"))) << notes.last().toStdString();

    // Same batch again as TIFF: the names are taken, suffixes are added.
    written.clear();
    dialog->setImage(batch);
    QMetaObject::invokeMethod(dialog.get(), "on_btnSaveTiff_clicked");
    ASSERT_EQ(written.size(), 2);
    EXPECT_EQ(QFileInfo(written[0]).fileName(), QStringLiteral("批次_A.tiff"));
    written.clear();
    dialog->setImage(batch);
    QMetaObject::invokeMethod(dialog.get(), "on_btnSavePDF_clicked");
    ASSERT_EQ(written.size(), 2);
    EXPECT_EQ(QFileInfo(written[1]).fileName(), QStringLiteral("BATCH-B_1.pdf"));
}

TEST_F(ExportExtras, AFormCarryingACodeIsAPageNotASeparator)
{
    Cache::config->barcodeSeparator = true;
    const QString form = save(pagemaker::formWithCode(pagemaker::Code::Qr, "FORM-9", kPage), "form.jpg");
    dialog->setImage({textPage(1), form, textPage(2)});
    QMetaObject::invokeMethod(dialog.get(), "on_btnSavePDF_clicked");
    ASSERT_EQ(written.size(), 1);
    EXPECT_EQ(QFileInfo(written[0]).fileName(), QStringLiteral("DOC_1.pdf"));
    EXPECT_EQ(pdfPages(written[0]), 3);
}

TEST_F(ExportExtras, BlankPagesAreLeftOutOnlyWhenSwitchedOn)
{
    const QString blank = save(pagemaker::blankPage(3, kPage), "blank.jpg");
    const QString signature = save(pagemaker::signaturePage(3, kPage), "signed.jpg");
    const QStringList pages{textPage(1), blank, signature};
    dialog->setImage(pages);
    QMetaObject::invokeMethod(dialog.get(), "on_btnSavePDF_clicked");
    ASSERT_EQ(written.size(), 1);
    EXPECT_EQ(pdfPages(written[0]), 3);
    EXPECT_TRUE(notes.isEmpty());

    Cache::config->dropBlankPages = true;
    dialog->setImage(pages);
    QMetaObject::invokeMethod(dialog.get(), "on_btnSavePDF_clicked");
    ASSERT_EQ(written.size(), 2);
    EXPECT_EQ(pdfPages(written[1]), 2);
    ASSERT_EQ(notes.size(), 1);
    EXPECT_TRUE(notes[0].contains(QStringLiteral("空白页 1 张"))) << notes[0].toStdString();

    // Nothing but blank pages: told, nothing written, the list kept.
    dialog->setImage({blank, blank});
    QMetaObject::invokeMethod(dialog.get(), "on_btnSavePDF_clicked");
    EXPECT_EQ(written.size(), 2);
    EXPECT_EQ(warnings.size(), 1);
    EXPECT_EQ(dialog->imageCount(), 2);
}

TEST_F(ExportExtras, SearchablePdfCarriesTheChineseAndEnglishTextOfItsPages)
{
    if (!searchablepdf::available())
        GTEST_SKIP() << "no language data in " << searchablepdf::dataDirectory().toStdString();
    Cache::config->searchablePdf = true;
    QImage page(kPage, QImage::Format_RGB32);
    page.fill(Qt::white);
    {
        QPainter painter(&page);
        QFont font(QStringLiteral("WenQuanYi Micro Hei"));
        font.setPixelSize(34);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(60, 140, QStringLiteral("存款凭证核对"));
        painter.drawText(60, 220, QStringLiteral("Account number"));
    }
    const QString landscape = save(pagemaker::blankPage(9, QSize(500, 300)), "wide.jpg");
    dialog->setImage({save(page, "text.jpg"), landscape});
    QMetaObject::invokeMethod(dialog.get(), "on_btnSavePDF_clicked");
    ASSERT_EQ(written.size(), 1) << warnings.join('\n').toStdString();
    const QString text = withoutSpaces(run(QStringLiteral("pdftotext"), {written[0], QStringLiteral("-")}));
    EXPECT_TRUE(text.contains(QStringLiteral("存款凭证核对"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Accountnumber"))) << text.toStdString();
    // The photos' JPEG data goes in unchanged.
    QFile document(written[0]);
    ASSERT_TRUE(document.open(QIODevice::ReadOnly));
    const QByteArray documentBytes = document.readAll();
    for (const QString &photo : {sources.filePath("text.jpg"), landscape}) {
        QFile file(photo);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(documentBytes.contains(file.readAll())) << photo.toStdString();
    }
    // The pages as the plain export lays them out: A4, turned like the image.
    const QList<QSizeF> searchable = pdfPageSizes(written[0], 2);
    Cache::config->searchablePdf = false;
    dialog->setImage({sources.filePath("text.jpg"), landscape});
    QMetaObject::invokeMethod(dialog.get(), "on_btnSavePDF_clicked");
    ASSERT_EQ(written.size(), 2);
    const QList<QSizeF> plain = pdfPageSizes(written[1], 2);
    ASSERT_EQ(searchable.size(), 2);
    ASSERT_EQ(plain.size(), 2);
    EXPECT_TRUE(nearly(searchable[0], plain[0])) << searchable[0].width() << " " << plain[0].width();
    EXPECT_TRUE(nearly(searchable[1], plain[1])) << searchable[1].width() << " " << plain[1].width();
    EXPECT_GT(plain[1].width(), plain[1].height());
}

// A sheet photographed on the table in black and white keeps specks of its
// edge and of the table; the text layer still reads the page line by line.
TEST_F(ExportExtras, SearchablePdfOfABlackAndWhitePhotoReadsThePageLines)
{
    if (!searchablepdf::available())
        GTEST_SKIP() << "no language data";
    Config &config = *Cache::config;
    config.codec = QStringLiteral("jpg");
    config.quality = 80;
    config.correctionMode = 0;
    config.gnIswhite = false;   // the table around the sheet stays as photographed
    const pagemaker::TextPage page = pagemaker::textPage(2, QSize(1654, 2339), 10);
    ImageProcessing camera;
    camera.shootType = 2;
    camera.correction = 1;
    camera.setCurrentFrame(pagemaker::photograph(page.image, cv::Size(3264, 2448), 2));
    const QStringList photos = camera.takePhotoPaths();
    ASSERT_EQ(photos.size(), 1);
    config.searchablePdf = true;
    dialog->setImage(photos);
    QMetaObject::invokeMethod(dialog.get(), "on_btnSavePDF_clicked");
    ASSERT_EQ(written.size(), 1) << warnings.join('\n').toStdString();
    const QString read = run(QStringLiteral("pdftotext"), {written[0], QStringLiteral("-")});
    EXPECT_FALSE(read.contains(QLatin1Char('|'))) << read.toStdString();
    const QString truth = withoutSpaces(page.text);
    EXPECT_LE(pagemaker::editDistance(truth, withoutSpaces(read)), truth.size() / 50)
        << page.text.toStdString() << "\n---\n" << read.toStdString();
}

TEST_F(ExportExtras, CancellingASearchablePdfWritesNothingAndKeepsThePages)
{
    if (!searchablepdf::available())
        GTEST_SKIP() << "no language data";
    Cache::config->searchablePdf = true;
    pageprogress::setDelay(0);
    const QStringList pages{textPage(1), textPage(2), textPage(3), textPage(4)};
    dialog->setImage(pages);
    QTimer cancelWhenShown;
    QObject::connect(&cancelWhenShown, &QTimer::timeout, [] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *progress = qobject_cast<QProgressDialog *>(widget);
            if (progress == nullptr || !progress->isVisible())
                continue;
            for (QPushButton *button : progress->findChildren<QPushButton *>())
                if (button->text() == QStringLiteral("取消"))
                    button->click();
        }
    });
    cancelWhenShown.start(20);
    QMetaObject::invokeMethod(dialog.get(), "on_btnSavePDF_clicked");
    cancelWhenShown.stop();
    EXPECT_TRUE(written.isEmpty());
    EXPECT_TRUE(QDir(documents.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_EQ(dialog->pagePaths(), pages);
    ASSERT_FALSE(notes.isEmpty());
    EXPECT_TRUE(notes.last().contains(QStringLiteral("取消")));
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
}

TEST_F(ExportExtras, WithoutLanguageDataTheSwitchIsDisabledAndPagesStillExportPlain)
{
    QTemporaryDir empty;
    searchablepdf::setDataDirectory(empty.path());
    Cache::config->searchablePdf = true;
    SettingDialog settings;
    settings.init();
    auto *box = settings.findChild<QCheckBox *>(QStringLiteral("cbSearchablePdf"));
    auto *note = settings.findChild<QLabel *>(QStringLiteral("lbSearchablePdfNote"));
    ASSERT_TRUE(box && note);
    EXPECT_FALSE(box->isEnabled());
    EXPECT_FALSE(note->isHidden());

    dialog->setImage({textPage(1)});
    QMetaObject::invokeMethod(dialog.get(), "on_btnSavePDF_clicked");
    ASSERT_EQ(written.size(), 1);
    EXPECT_EQ(pdfPages(written[0]), 1);
    EXPECT_TRUE(withoutSpaces(run(QStringLiteral("pdftotext"), {written[0], QStringLiteral("-")})).isEmpty());
    ASSERT_FALSE(notes.isEmpty());
    EXPECT_TRUE(notes.first().contains(QStringLiteral("普通PDF")));

    searchablepdf::setDataDirectory(QString());
    settings.init();
    EXPECT_EQ(box->isEnabled(), searchablepdf::available());
    EXPECT_TRUE(note->isHidden() == searchablepdf::available());
}

TEST_F(ExportExtras, SettingsDialogLoadsAndSavesTheSixSwitches)
{
    SettingDialog settings;
    settings.init();
    const char *const names[] = {"cbSearchablePdf", "cbBarcodeNaming", "cbBarcodeSeparator",
                                 "cbDropBlankPages", "cbKnowPages", "cbAnyTable"};
    for (const char *name : names) {
        auto *box = settings.findChild<QCheckBox *>(QLatin1String(name));
        ASSERT_TRUE(box) << name;
        EXPECT_FALSE(box->isChecked()) << name;
        EXPECT_FALSE(box->text().isEmpty());
        if (box->isEnabled())
            box->setChecked(true);
    }
    QMetaObject::invokeMethod(&settings, "on_saveSetting_clicked");
    const QSettings stored(Cache::config->fileName, QSettings::IniFormat);
    const bool recognition = searchablepdf::available();
    EXPECT_EQ(stored.value("extra/searchablePdf").toBool(), recognition);
    for (const char *key : {"extra/barcodeNaming", "extra/barcodeSeparator", "extra/dropBlankPages",
                            "extra/knowPages", "extra/anyTable"})
        EXPECT_TRUE(stored.value(key).toBool()) << key;
    EXPECT_TRUE(Cache::config->knowPages && Cache::config->dropBlankPages && Cache::config->anyTable);
    settings.init();
    EXPECT_TRUE(settings.findChild<QCheckBox *>(QStringLiteral("cbKnowPages"))->isChecked());
    EXPECT_TRUE(settings.findChild<QCheckBox *>(QStringLiteral("cbAnyTable"))->isChecked());
}

} // namespace
