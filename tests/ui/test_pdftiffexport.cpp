// The PDF and TIFF export dialog: the page list and its insertion requests,
// the documents it writes (pages, orientation, filled pages, TIFF pages),
// names and running numbers, and what happens when a page cannot be read or
// the document cannot be written.
#include "cache.h"
#include "documentwriter.h"
#include "config.h"
#include "fakeclock.h"
#include "imagesavepdfortiffdialog.h"
#include "pageprogress.h"
#include "documentdialogfixture.h"
#include "testenv.h"
#include "ui_imagesavepdfortiffdialog.h"
#include "warningbox.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QListWidget>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include <opencv2/imgcodecs.hpp>

#include <tiffio.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

class ExportTest : public uitest::DocumentDialogFixture<ImageSavePDFOrTiffDialog>
{
protected:
    void SetUp() override
    {
        DocumentDialogFixture::SetUp();
        if (HasFatalFailure())
            return;
        openDialog(7);
    }
    void TearDown() override
    {
        DocumentDialogFixture::TearDown();
        wallClock.reset();
        pageprogress::setDelay(1000);
    }

    // A JPEG photo of one colour with the given size.
    QString photo(const QString &name, int width, int height, QColor colour)
    {
        return sourcePicture(name, width, height, colour, "jpg", 95);
    }

    // Files in the working directory, hidden ones too.
    QStringList documentFiles() const
    {
        return QDir(documents.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    std::unique_ptr<FixedWallClock> wallClock;
};

QString runTool(const QString &program, const QStringList &arguments)
{
    QProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForFinished(30000) || tool.exitCode() != 0)
        return QString();
    return QString::fromUtf8(tool.readAllStandardOutput());
}

// A picture with detail in it, so that its compression shows.
QImage pattern(int width, int height, QImage::Format format)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = qRgb((x * 7 + y) % 256, (y * 5) % 256, (x * y) % 256);
    }
    return image.convertToFormat(format);
}

// Black strokes on white, as the station's black-and-white photos are:
// a colour JPEG.
QImage blackAndWhitePage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 20; y + 10 < height; y += 30)
        for (int x = 20; x + 40 < width; x += 60)
            for (int dy = 0; dy < 8; ++dy)
                for (int dx = 0; dx < 40; ++dx)
                    image.setPixel(x + dx, y + dy, qRgb(0, 0, 0));
    return image;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int pdfPageCount(const QString &path)
{
    QProcess info;
    info.start(QStringLiteral("pdfinfo"), {path});
    if (!info.waitForFinished(20000))
        return -1;
    for (const QString &line : QString::fromUtf8(info.readAllStandardOutput()).split('\n'))
        if (line.startsWith(QLatin1String("Pages:")))
            return line.mid(6).trimmed().toInt();
    return -1;
}

// Every page of the PDF rendered at 20 dots per inch.
std::vector<QImage> renderPages(const QString &pdf, const QString &directory)
{
    QProcess render;
    render.start(QStringLiteral("pdftoppm"),
                 {QStringLiteral("-r"), QStringLiteral("20"), QStringLiteral("-png"), pdf,
                  directory + QStringLiteral("/page")});
    std::vector<QImage> pages;
    if (!render.waitForFinished(30000) || render.exitCode() != 0)
        return pages;
    const QStringList files =
        QDir(directory).entryList({QStringLiteral("page-*.png")}, QDir::Files, QDir::Name);
    for (const QString &file : files)
        pages.emplace_back(QDir(directory).filePath(file));
    return pages;
}

bool near(QRgb pixel, QColor expected)
{
    return qAbs(qRed(pixel) - expected.red()) < 40 && qAbs(qGreen(pixel) - expected.green()) < 40
           && qAbs(qBlue(pixel) - expected.blue()) < 40;
}

// The colour reaches every edge: no margin, no letterbox band.
bool fills(const QImage &page, QColor colour)
{
    const int w = page.width();
    const int h = page.height();
    const QPoint probes[] = {{1, 1},         {w - 2, 1},     {1, h - 2},     {w - 2, h - 2},
                             {w / 2, 1},     {w / 2, h - 2}, {1, h / 2},     {w - 2, h / 2},
                             {w / 2, h / 2}};
    for (const QPoint &probe : probes)
        if (!near(page.pixel(probe), colour))
            return false;
    return true;
}

TEST_F(ExportTest, InitSetsUpTheIconList)
{
    QListWidget *list = dialog->pageList();
    EXPECT_EQ(list->viewMode(), QListView::IconMode);
    EXPECT_EQ(list->flow(), QListView::LeftToRight);
    EXPECT_EQ(list->iconSize(), QSize(150, 150));
    EXPECT_EQ(list->spacing(), 8);
    EXPECT_EQ(list->movement(), QListView::Static);
    EXPECT_EQ(list->contextMenuPolicy(), Qt::CustomContextMenu);
    dialog->setImage({photo("a.jpg", 400, 300, Qt::red)});
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->sizeHint(), QSize(150, 150));
    EXPECT_TRUE(testenv::waitFor([&] { return !list->item(0)->icon().isNull(); }, 10000));
    EXPECT_EQ(dialog->imageCount(), 1);
    EXPECT_EQ(dialog->form()->btnSavePDF->text(), QStringLiteral("合并PDF"));
    EXPECT_EQ(dialog->form()->btnSaveTiff->text(), QStringLiteral("合并TIFF"));
    EXPECT_EQ(dialog->form()->btnDel->text(), QStringLiteral("删除"));
    EXPECT_EQ(dialog->form()->btnClose->text(), QStringLiteral("关闭"));
}

TEST_F(ExportTest, InsertBeforeAndAfterTheCurrentImage)
{
    const QString a = photo("a.jpg", 40, 30, Qt::red);
    const QString b = photo("b.jpg", 40, 30, Qt::green);
    const QString c = photo("c.jpg", 40, 30, Qt::blue);
    const QString d = photo("d.jpg", 40, 30, Qt::yellow);
    const QString e = photo("e.jpg", 40, 30, Qt::cyan);
    dialog->setImage({a});
    dialog->setImage({b});
    dialog->setImage({c});

    dialog->pageList()->setCurrentRow(1);
    dialog->findChild<QAction *>(QStringLiteral("actionInsertBefore"))->trigger();
    dialog->setImage({d});
    EXPECT_EQ(dialog->pagePaths(), QStringList({a, d, b, c}));

    dialog->pageList()->setCurrentRow(2);   // b
    dialog->findChild<QAction *>(QStringLiteral("actionInsertAfter"))->trigger();
    dialog->setImage({e});
    EXPECT_EQ(dialog->pagePaths(), QStringList({a, d, b, e, c}));

    // The request is used up: the next photo goes to the end.
    dialog->setImage({a});
    EXPECT_EQ(dialog->pagePaths().last(), a);

    dialog->pageList()->setCurrentRow(0);
    dialog->findChild<QAction *>(QStringLiteral("actionDeleteImage"))->trigger();
    EXPECT_EQ(dialog->pagePaths(), QStringList({d, b, e, c, a}));
    EXPECT_EQ(dialog->imageCount(), 5);
}

TEST_F(ExportTest, DeleteRemovesTheLastImageAndDoesNothingOnAnEmptyList)
{
    dialog->form()->btnDel->click();
    EXPECT_EQ(dialog->pageList()->count(), 0);
    EXPECT_EQ(dialog->imageCount(), 0);
    const QString a = photo("a.jpg", 40, 30, Qt::red);
    const QString b = photo("b.jpg", 40, 30, Qt::green);
    dialog->setImage({a, b});
    dialog->form()->btnDel->click();
    EXPECT_EQ(dialog->pagePaths(), QStringList({a}));
    EXPECT_EQ(dialog->imageCount(), 1);
}

TEST_F(ExportTest, EmptyListWarnsAndWritesNothing)
{
    dialog->form()->btnSavePDF->click();
    dialog->form()->btnSaveTiff->click();
    EXPECT_EQ(warnings, QStringList({QStringLiteral("警告|没有图像"), QStringLiteral("警告|没有图像")}));
    EXPECT_TRUE(documentFiles().isEmpty());
    EXPECT_TRUE(reported->isEmpty());
    EXPECT_EQ(Cache::config->saveNumber, 7);
}

TEST_F(ExportTest, PdfHasOnePageEachTurnedLikeItsImageAndFilledByIt)
{
    dialog->setImage({photo("p1.jpg", 300, 400, Qt::red)});
    dialog->setImage({photo("l2.jpg", 400, 300, Qt::green)});
    dialog->setImage({photo("p3.jpg", 200, 400, Qt::blue)});
    QSignalSpy photoRequests(dialog.get(), &ImageSavePDFOrTiffDialog::takePhotoSignals);
    dialog->form()->btnPhoto->click();
    EXPECT_EQ(photoRequests.count(), 1);

    dialog->form()->btnSavePDF->click();
    ASSERT_TRUE(warnings.isEmpty()) << warnings.join(';').toStdString();
    const QString pdf = QDir(documents.path()).filePath(QStringLiteral("IMG_7.pdf"));
    ASSERT_EQ(reported->count(), 1);
    EXPECT_EQ(reportedPath(), pdf);
    EXPECT_EQ(reported->last().at(1).toInt(), 1);
    EXPECT_EQ(Cache::config->saveNumber, 8);
    EXPECT_EQ(documentFiles(), QStringList({QStringLiteral("IMG_7.pdf")}));   // no leftovers
    // Readable by others like every photo, not private like a temporary file.
    EXPECT_TRUE(QFileInfo(pdf).permissions().testFlag(QFileDevice::ReadOther));
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->pageList()->count(), 0);

    EXPECT_EQ(pdfPageCount(pdf), 3);
    QTemporaryDir rendered;
    const std::vector<QImage> pages = renderPages(pdf, rendered.path());
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_LT(pages[0].width(), pages[0].height());
    EXPECT_GT(pages[1].width(), pages[1].height());
    EXPECT_LT(pages[2].width(), pages[2].height());
    // A4 at 20 dpi: 165 x 234 points of paper.
    EXPECT_NEAR(pages[0].width(), 165, 2);
    EXPECT_NEAR(pages[1].width(), 234, 2);
    EXPECT_TRUE(fills(pages[0], Qt::red));
    EXPECT_TRUE(fills(pages[1], Qt::green));
    EXPECT_TRUE(fills(pages[2], Qt::blue));
}

TEST_F(ExportTest, FirstLandscapeImageGivesALandscapeFirstPage)
{
    dialog->setImage({photo("l1.jpg", 500, 200, Qt::magenta), photo("p2.jpg", 200, 500, Qt::cyan)});
    dialog->form()->btnSavePDF->click();
    const QString pdf = reportedPath();
    ASSERT_FALSE(pdf.isEmpty());
    QTemporaryDir rendered;
    const std::vector<QImage> pages = renderPages(pdf, rendered.path());
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_GT(pages[0].width(), pages[0].height());
    EXPECT_LT(pages[1].width(), pages[1].height());
    EXPECT_TRUE(fills(pages[0], Qt::magenta));
    EXPECT_TRUE(fills(pages[1], Qt::cyan));
}

TEST_F(ExportTest, TiffHoldsEveryImageAtItsSize)
{
    dialog->setImage({photo("a.jpg", 320, 240, Qt::red), photo("b.jpg", 200, 500, Qt::green),
                      photo("c.jpg", 64, 48, Qt::blue)});
    dialog->form()->btnSaveTiff->click();
    ASSERT_TRUE(warnings.isEmpty()) << warnings.join(';').toStdString();
    const QString tiff = QDir(documents.path()).filePath(QStringLiteral("IMG_7.tiff"));
    EXPECT_EQ(reportedPath(), tiff);
    EXPECT_EQ(Cache::config->saveNumber, 8);
    std::vector<cv::Mat> pages;
    ASSERT_TRUE(cv::imreadmulti(tiff.toStdString(), pages, cv::IMREAD_COLOR));
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0].size(), cv::Size(320, 240));
    EXPECT_EQ(pages[1].size(), cv::Size(200, 500));
    EXPECT_EQ(pages[2].size(), cv::Size(64, 48));
    const cv::Vec3b centre = pages[1].at<cv::Vec3b>(250, 100);   // BGR
    EXPECT_GT(centre[1], 200);
    EXPECT_LT(centre[2], 60);
}

TEST_F(ExportTest, DocumentsNeverReplaceExistingFilesAndTakeTimeNamesWithSaveTypeOne)
{
    // Someone's IMG_7.pdf and IMG_8.pdf are already there.
    for (const char *name : {"IMG_7.pdf", "IMG_8.pdf"}) {
        QFile existing(QDir(documents.path()).filePath(QLatin1String(name)));
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
        existing.write("keep me");
    }
    const QString a = photo("a.jpg", 60, 40, Qt::red);
    dialog->setImage({a});
    dialog->form()->btnSavePDF->click();
    EXPECT_EQ(QFileInfo(reportedPath()).fileName(), QStringLiteral("IMG_9.pdf"));
    EXPECT_EQ(Cache::config->saveNumber, 10);
    for (const char *name : {"IMG_7.pdf", "IMG_8.pdf"}) {
        QFile existing(QDir(documents.path()).filePath(QLatin1String(name)));
        ASSERT_TRUE(existing.open(QIODevice::ReadOnly));
        EXPECT_EQ(existing.readAll(), QByteArray("keep me"));
    }

    Cache::config->saveType = 1;
    wallClock = std::make_unique<FixedWallClock>(QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7, 89)));
    dialog->setImage({a});
    dialog->form()->btnSaveTiff->click();
    EXPECT_EQ(QFileInfo(reportedPath()).fileName(), QStringLiteral("2026_03_04 05_06_07.089.tiff"));
    dialog->setImage({a});
    dialog->form()->btnSaveTiff->click();
    EXPECT_EQ(QFileInfo(reportedPath()).fileName(), QStringLiteral("2026_03_04 05_06_07.089_1.tiff"));
    EXPECT_EQ(Cache::config->saveNumber, 10);
}

TEST_F(ExportTest, UnreadableImageWarnsWritesNoDocumentAndKeepsTheList)
{
    const QString a = photo("a.jpg", 60, 40, Qt::red);
    const QString broken = sources.filePath(QStringLiteral("broken.jpg"));
    {
        QFile file(broken);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("this is not a picture");
    }
    const QString c = photo("c.jpg", 60, 40, Qt::blue);
    dialog->setImage({a, broken, c});

    for (QPushButton *button : {dialog->form()->btnSavePDF, dialog->form()->btnSaveTiff}) {
        warnings.clear();
        button->click();
        ASSERT_EQ(warnings.size(), 1);
        EXPECT_TRUE(warnings.first().startsWith(QStringLiteral("警告|")));
        EXPECT_TRUE(warnings.first().contains(broken));
        EXPECT_TRUE(documentFiles().isEmpty()) << documentFiles().join(',').toStdString();
        EXPECT_TRUE(reported->isEmpty());
        EXPECT_EQ(dialog->pagePaths(), QStringList({a, broken, c}));
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(Cache::config->saveNumber, 7);
    }
}

TEST_F(ExportTest, UnwritableWorkingDirectoryWarnsAndReportsNothing)
{
    // A directory below a plain file cannot be made, whoever runs the test.
    QFile blocker(QDir(documents.path()).filePath(QStringLiteral("plain")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Cache::config->documentsLocation = blocker.fileName() + QStringLiteral("/photos");
    dialog->setImage({photo("a.jpg", 60, 40, Qt::red)});
    for (QPushButton *button : {dialog->form()->btnSavePDF, dialog->form()->btnSaveTiff}) {
        warnings.clear();
        button->click();
        ASSERT_EQ(warnings.size(), 1);
        EXPECT_TRUE(reported->isEmpty());
        EXPECT_EQ(dialog->pageList()->count(), 1);
    }
    EXPECT_EQ(Cache::config->saveNumber, 7);
}

TEST_F(ExportTest, LongExportShowsPagesWhileTheEventLoopRunsAndOnlyTheCompleteFileGetsItsName)
{
    pageprogress::setDelay(0);
    // PNG pages, which are decoded and compressed again: JPEG photos are
    // only copied, too quickly for a long export.
    QStringList images;
    for (int i = 0; i < 6; ++i) {
        const QString page = sources.filePath(QStringLiteral("page%1.png").arg(i));
        ASSERT_TRUE(pattern(1600, 1200, QImage::Format_RGB32).save(page, "png"));
        images.append(page);
    }
    dialog->setImage(images);

    int ticks = 0;
    bool progressShown = false;
    QString pageLabel;
    bool finalNameEarly = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        ++ticks;
        for (QProgressDialog *progress : dialog->findChildren<QProgressDialog *>()) {
            if (progress->isVisible()) {
                progressShown = true;
                pageLabel = progress->labelText();
            }
        }
        if (reported->isEmpty() && QFileInfo::exists(QDir(documents.path()).filePath("IMG_7.pdf")))
            finalNameEarly = true;
    });
    watcher.start(5);
    dialog->form()->btnSavePDF->click();
    watcher.stop();

    EXPECT_TRUE(progressShown);
    EXPECT_TRUE(pageLabel.contains(QStringLiteral("共 6 页"))) << pageLabel.toStdString();
    EXPECT_GT(ticks, 1);   // the GUI thread kept handling events
    EXPECT_FALSE(finalNameEarly);
    ASSERT_EQ(reported->count(), 1);
    EXPECT_EQ(pdfPageCount(reportedPath()), 6);
    EXPECT_EQ(documentFiles(), QStringList({QStringLiteral("IMG_7.pdf")}));
}

// The export runs in a nested event loop: a photo arriving meanwhile
// (automatic capture, a photo in flight) joins the list and must still be
// there afterwards; only the exported pages leave it.
TEST_F(ExportTest, APhotoTakenWhileTheExportRunsStaysInTheList)
{
    pageprogress::setDelay(0);
    QStringList images;
    for (int i = 0; i < 4; ++i)
        images.append(photo(QStringLiteral("page%1.jpg").arg(i), 1600, 1200, QColor(50 * i, 90, 160)));
    dialog->setImage(images);
    const QString late = photo(QStringLiteral("late.jpg"), 800, 600, Qt::yellow);

    QTimer arrival;
    arrival.setSingleShot(true);
    QObject::connect(&arrival, &QTimer::timeout, [&] { dialog->setImage({late}); });
    arrival.start(0);
    dialog->form()->btnSavePDF->click();

    ASSERT_FALSE(arrival.isActive()) << "the photo did not arrive during the export";
    ASSERT_EQ(reported->count(), 1);
    EXPECT_EQ(pdfPageCount(reportedPath()), 4);
    EXPECT_EQ(dialog->pagePaths(), QStringList{late});
    EXPECT_EQ(dialog->imageCount(), 1);
    EXPECT_TRUE(dialog->isVisible());

    // The next export writes that photo alone.
    dialog->form()->btnSavePDF->click();
    ASSERT_EQ(reported->count(), 2);
    EXPECT_EQ(pdfPageCount(reportedPath()), 1);
    EXPECT_EQ(dialog->pageList()->count(), 0);
    EXPECT_FALSE(dialog->isVisible());
}

// JPEG photos go into the PDF byte for byte (no second compression, no
// growth); other pictures losslessly; a full disk is a failure, not a file.
TEST_F(ExportTest, PdfCarriesEachJpegAsItStandsAndOtherPicturesLosslessly)
{
    const QString colour = sources.filePath(QStringLiteral("colour.jpg"));
    const QString grey = sources.filePath(QStringLiteral("grey.jpg"));
    const QString png = sources.filePath(QStringLiteral("lossless.png"));
    ASSERT_TRUE(pattern(400, 300, QImage::Format_RGB32).save(colour, "jpg", 80));
    ASSERT_TRUE(pattern(300, 400, QImage::Format_Grayscale8).save(grey, "jpg", 80));
    const QImage lossless = pattern(200, 150, QImage::Format_RGB32);
    ASSERT_TRUE(lossless.save(png, "png"));
    dialog->setImage({colour, grey, png});
    dialog->form()->btnSavePDF->click();
    const QString pdf = reportedPath();
    ASSERT_FALSE(pdf.isEmpty()) << warnings.join(';').toStdString();

    const QByteArray document = fileBytes(pdf);
    EXPECT_TRUE(document.contains(fileBytes(colour)));
    EXPECT_TRUE(document.contains(fileBytes(grey)));
    // Each photo once, and little else: the document is about the photos' size.
    const qint64 photos = fileBytes(colour).size() + fileBytes(grey).size();
    EXPECT_LT(document.size(), photos + fileBytes(png).size() * 3 + 3 * 2048);

    const QStringList listed = runTool(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf})
                                   .split('\n', Qt::SkipEmptyParts)
                                   .mid(2);
    ASSERT_EQ(listed.size(), 3);
    const auto columns = [&](int row) { return listed.at(row).simplified().split(' '); };
    EXPECT_EQ(columns(0).mid(3, 6), QStringList({"400", "300", "rgb", "3", "8", "jpeg"}));
    EXPECT_EQ(columns(1).mid(3, 6), QStringList({"300", "400", "gray", "1", "8", "jpeg"}));
    EXPECT_EQ(columns(2).mid(3, 6), QStringList({"200", "150", "rgb", "3", "8", "image"}));

    QTemporaryDir extracted;
    runTool(QStringLiteral("pdfimages"), {QStringLiteral("-png"), QStringLiteral("-f"), QStringLiteral("3"),
                                          pdf, extracted.filePath(QStringLiteral("img"))});
    const QImage back = QImage(extracted.filePath(QStringLiteral("img-000.png"))).convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(back, lossless);

    EXPECT_FALSE(documentwriter::writePdf({colour, png}, QStringLiteral("/dev/full"), {}).written);
    EXPECT_FALSE(documentwriter::writeTiff({colour, png}, QStringLiteral("/dev/full"), {}).written);
}

// Each TIFF page compressed for what it shows, its resolution tagged, and
// readable by the usual readers.
TEST_F(ExportTest, TiffPagesAreCompressedByKindAndReadBack)
{
    const QString bw = sources.filePath(QStringLiteral("bw.jpg"));
    const QString colour = sources.filePath(QStringLiteral("colour.jpg"));
    const QString grey = sources.filePath(QStringLiteral("grey.jpg"));
    const QString png = sources.filePath(QStringLiteral("lossless.png"));
    // A width that is no whole number of bytes, with ink in the last byte.
    QImage bwPage = blackAndWhitePage(317, 240);
    for (int y = 100; y < 116; ++y)
        for (int x = 309; x < 317; ++x)
            bwPage.setPixel(x, y, qRgb(0, 0, 0));
    bwPage.setDotsPerMeterX(7874);   // 200 dpi
    bwPage.setDotsPerMeterY(7874);
    ASSERT_TRUE(bwPage.save(bw, "jpg", 80));
    ASSERT_TRUE(pattern(300, 200, QImage::Format_RGB32).save(colour, "jpg", 80));
    ASSERT_TRUE(pattern(160, 240, QImage::Format_Grayscale8).save(grey, "jpg", 80));
    QImage lossless = pattern(120, 90, QImage::Format_RGB32);
    lossless.setDotsPerMeterX(5906);   // 150 dpi
    lossless.setDotsPerMeterY(5906);
    ASSERT_TRUE(lossless.save(png, "png"));
    dialog->setImage({bw, colour, grey, png});
    dialog->form()->btnSaveTiff->click();
    const QString tiffPath = reportedPath();
    ASSERT_FALSE(tiffPath.isEmpty()) << warnings.join(';').toStdString();

    struct Page { uint16_t compression; uint16_t photometric; float resolution; };
    std::vector<Page> pages;
    TIFF *tiff = TIFFOpen(QFile::encodeName(tiffPath).constData(), "r");
    ASSERT_NE(tiff, nullptr);
    do {
        Page page{};
        TIFFGetField(tiff, TIFFTAG_COMPRESSION, &page.compression);
        TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &page.photometric);
        TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &page.resolution);
        pages.push_back(page);
    } while (TIFFReadDirectory(tiff));
    TIFFClose(tiff);
    ASSERT_EQ(pages.size(), 4u);
    EXPECT_EQ(pages[0].compression, COMPRESSION_CCITTFAX4);
    EXPECT_EQ(pages[0].photometric, PHOTOMETRIC_MINISWHITE);
    EXPECT_EQ(pages[1].compression, COMPRESSION_JPEG);
    EXPECT_EQ(pages[1].photometric, PHOTOMETRIC_YCBCR);
    EXPECT_EQ(pages[2].compression, COMPRESSION_JPEG);
    EXPECT_EQ(pages[2].photometric, PHOTOMETRIC_MINISBLACK);
    EXPECT_EQ(pages[3].compression, COMPRESSION_ADOBE_DEFLATE);
    EXPECT_NEAR(pages[0].resolution, 200.0f, 0.5f);
    EXPECT_NEAR(pages[1].resolution, 100.0f, 0.5f);   // what Qt's photos say
    EXPECT_NEAR(pages[3].resolution, 150.0f, 0.5f);

    std::vector<cv::Mat> read;
    ASSERT_TRUE(cv::imreadmulti(tiffPath.toStdString(), read, cv::IMREAD_COLOR));
    ASSERT_EQ(read.size(), 4u);
    EXPECT_EQ(read[0].size(), cv::Size(317, 240));
    EXPECT_EQ(read[0].at<cv::Vec3b>(24, 30), cv::Vec3b(0, 0, 0));           // a stroke
    EXPECT_EQ(read[0].at<cv::Vec3b>(5, 5), cv::Vec3b(255, 255, 255));       // paper
    cv::Mat photoChannels[3], readChannels[3];
    cv::split(cv::imread(bw.toStdString(), cv::IMREAD_COLOR), photoChannels);
    cv::split(read[0], readChannels);
    const cv::Mat paper = photoChannels[1] >= 128;   // ink below the middle grey
    EXPECT_EQ(cv::countNonZero(readChannels[1] != paper), 0);   // every pixel, the last byte's too
    const cv::Mat colourBack = cv::imread(colour.toStdString(), cv::IMREAD_COLOR);
    EXPECT_LT(cv::norm(read[1], colourBack, cv::NORM_L1) / double(colourBack.total() * 3), 8.0);
    EXPECT_EQ(read[2].size(), cv::Size(160, 240));
    const cv::Mat pngBack = cv::imread(png.toStdString(), cv::IMREAD_COLOR);
    EXPECT_EQ(cv::norm(read[3], pngBack, cv::NORM_INF), 0.0);   // lossless

    EXPECT_FALSE(runTool(QStringLiteral("tiffinfo"), {tiffPath}).isEmpty());
    const QStringList identified =
        runTool(QStringLiteral("identify"), {tiffPath}).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(identified.size(), 4);
}

} // namespace
