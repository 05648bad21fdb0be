#include "searchablepdf.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMutex>
#include <QMutexLocker>
#include <QTemporaryDir>

#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/renderer.h>

#include <leptonica/allheaders.h>

#include <algorithm>
#include <cmath>

namespace searchablepdf {

const char *const kLanguages = "chi_sim+eng";

namespace {

const QString kSystemDataDirectory = QStringLiteral("/usr/share/tesseract-ocr/5/tessdata");
constexpr double kA4ShortInches = 210.0 / 25.4;
constexpr double kA4LongInches = 297.0 / 25.4;
// Recognition needs about this many pixels per inch; fewer make a blurry
// page and tesseract refuses below 70.
constexpr int kMinPpi = 72;
// The page pictures are embedded as written here.
constexpr int kPageJpegQuality = 92;

QMutex &directoryMutex()
{
    static QMutex mutex;
    return mutex;
}

QString &directoryOverride()
{
    static QString directory;
    return directory;
}

struct PagePicture
{
    QImage image;   // the image stretched to the page's proportions
    int ppi = 0;    // pixels per inch that make the page A4
};

// The plain export stretches every image over an A4 page turned like it;
// the renderer sizes a page from its picture and resolution, so the picture
// is stretched to A4 proportions first.
PagePicture pagePicture(const QImage &image)
{
    const bool landscape = image.width() > image.height();
    const int shortPixels = std::min(image.width(), image.height());
    const int ppi = std::max(kMinPpi, int(std::lround(shortPixels / kA4ShortInches)));
    const int shortSide = int(std::lround(ppi * kA4ShortInches));
    const int longSide = int(std::lround(ppi * kA4LongInches));
    const QSize size = landscape ? QSize(longSide, shortSide) : QSize(shortSide, longSide);
    PagePicture page;
    page.image = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const int dotsPerMeter = int(std::lround(ppi / 0.0254));
    page.image.setDotsPerMeterX(dotsPerMeter);
    page.image.setDotsPerMeterY(dotsPerMeter);
    page.ppi = ppi;
    return page;
}

bool cancelRequested(void *flag, int)
{
    return flag != nullptr && static_cast<const std::atomic<bool> *>(flag)->load();
}

bool isCancelled(const std::atomic<bool> *cancel)
{
    return cancel != nullptr && cancel->load();
}

class PixHolder
{
public:
    explicit PixHolder(Pix *pix) : pix(pix) {}
    ~PixHolder() { pixDestroy(&pix); }
    PixHolder(const PixHolder &) = delete;
    PixHolder &operator=(const PixHolder &) = delete;
    Pix *get() const { return pix; }

private:
    Pix *pix;
};

// The grey levels recognition works on, straight from memory: reading the
// page's JPEG back would cost a decode per page.
Pix *greyPix(const QImage &image)
{
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    Pix *pix = pixCreate(grey.width(), grey.height(), 8);
    if (pix == nullptr)
        return nullptr;
    l_uint32 *data = pixGetData(pix);
    const int wordsPerLine = pixGetWpl(pix);
    for (int y = 0; y < grey.height(); ++y) {
        const uchar *from = grey.constScanLine(y);
        l_uint32 *line = data + y * wordsPerLine;
        for (int x = 0; x < grey.width(); ++x)
            SET_DATA_BYTE(line, x, from[x]);
    }
    return pix;
}

// Recognises one page and hands it to the renderer; false on failure.
bool addPage(tesseract::TessBaseAPI &api, tesseract::TessPDFRenderer &renderer,
             const PagePicture &page, const QString &pictureFile, const std::atomic<bool> *cancel)
{
    // The renderer embeds the page's JPEG file as it is, in colour; the
    // recognition only needs grey.
    if (!page.image.save(pictureFile, "jpg", kPageJpegQuality))
        return false;
    const QByteArray name = QFile::encodeName(pictureFile);
    PixHolder pix(greyPix(page.image));
    if (pix.get() == nullptr)
        return false;
    pixSetResolution(pix.get(), page.ppi, page.ppi);
    api.SetInputName(name.constData());
    api.SetImage(pix.get());
    api.SetSourceResolution(page.ppi);
    tesseract::ETEXT_DESC monitor;
    monitor.cancel = &cancelRequested;
    monitor.cancel_this = const_cast<std::atomic<bool> *>(cancel);
    const int recognised = api.Recognize(&monitor);
    if (isCancelled(cancel))
        return false;
    if (recognised < 0)
        qDebug() << "page text not recognised:" << pictureFile;
    // A page whose text could not be read still goes in, as a picture.
    return renderer.AddImage(&api);
}

} // namespace

void setDataDirectory(const QString &directory)
{
    QMutexLocker lock(&directoryMutex());
    directoryOverride() = directory;
}

QString dataDirectory()
{
    {
        QMutexLocker lock(&directoryMutex());
        if (!directoryOverride().isEmpty())
            return directoryOverride();
    }
    const QString fromEnvironment = qEnvironmentVariable("DOCSTATION_TESSDATA");
    return fromEnvironment.isEmpty() ? kSystemDataDirectory : fromEnvironment;
}

bool available()
{
    const QString directory = dataDirectory();
    for (const char *file : {"chi_sim.traineddata", "eng.traineddata", "pdf.ttf"}) {
        if (!QFileInfo(directory + QLatin1Char('/') + QLatin1String(file)).isFile())
            return false;
    }
    return true;
}

documentwriter::Outcome write(const QStringList &images, const QString &target,
                              const documentwriter::Progress &progress,
                              const std::atomic<bool> *cancel)
{
    documentwriter::Outcome outcome;
    if (images.isEmpty() || !target.endsWith(QLatin1String(".pdf")))
        return outcome;
    const QByteArray directory = QFile::encodeName(dataDirectory());
    tesseract::TessBaseAPI api;
    if (api.Init(directory.constData(), kLanguages, tesseract::OEM_LSTM_ONLY) != 0) {
        qDebug() << "text recognition not started, language data missing in" << directory;
        return outcome;
    }
    api.SetVariable("debug_file", "/dev/null");   // no console chatter per page
    // The library reads a picture as one uniform block of text unless told
    // otherwise; a photographed sheet has columns, margins, its own edge and
    // specks, which read as one block come out as stray strokes ("|") in
    // every line and as text layer words in a scrambled order.
    api.SetPageSegMode(tesseract::PSM_AUTO);
    // Chinese runs without the blanks the engine would put between signs.
    api.SetVariable("preserve_interword_spaces", "1");
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return outcome;
    const QByteArray base = QFile::encodeName(target.left(target.size() - 4));
    tesseract::TessPDFRenderer renderer(base.constData(), directory.constData());
    if (!renderer.happy() || !renderer.BeginDocument("")) {
        qDebug() << "searchable pdf not opened:" << target;
        return outcome;
    }
    for (int row = 0; row < images.size(); ++row) {
        if (progress)
            progress(row + 1);
        if (isCancelled(cancel)) {
            outcome.cancelled = true;
            return outcome;
        }
        const QImage image(images.at(row));
        if (image.isNull()) {
            outcome.unreadableImage = images.at(row);
            return outcome;
        }
        const PagePicture page = pagePicture(image);
        const QString pictureFile = scratch.filePath(QStringLiteral("page.jpg"));
        const bool added = addPage(api, renderer, page, pictureFile, cancel);
        if (isCancelled(cancel)) {
            outcome.cancelled = true;
            return outcome;
        }
        if (!added) {
            qDebug() << "searchable pdf page not written:" << images.at(row);
            return outcome;
        }
    }
    outcome.written = renderer.EndDocument() && renderer.happy();
    return outcome;
}

} // namespace searchablepdf
