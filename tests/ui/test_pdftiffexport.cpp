// The PDF and TIFF export dialog: the page list and its insertion requests,
// the documents it writes (pages, orientation, filled pages, TIFF pages),
// names and running numbers, and what happens when a page cannot be read or
// the document cannot be written.
#include "cache.h"
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
    QStringList images;
    for (int i = 0; i < 6; ++i)
        images.append(photo(QStringLiteral("page%1.jpg").arg(i), 1600, 1200, QColor(40 * i, 90, 160)));
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

} // namespace
