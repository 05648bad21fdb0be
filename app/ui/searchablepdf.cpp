#include "searchablepdf.h"

#include "pdfoutput.h"
#include "photopage.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMutex>
#include <QMutexLocker>
#include <QList>
#include <QSizeF>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>
#include <tesseract/renderer.h>

#include <leptonica/allheaders.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <algorithm>
#include <cmath>
#include <exception>
#include <string>
#include <vector>

namespace searchablepdf {

const char *const kLanguages = "chi_sim+eng";

namespace {

const QString kSystemDataDirectory = QStringLiteral("/usr/share/tesseract-ocr/5/tessdata");
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
    QImage image;          // the photo as it is, for recognition
    QString pictureFile;   // what the renderer embeds
    QSizeF pagePoints;     // the page the picture is stretched over
    int ppi = 0;           // the resolution recognition assumes
};

// A JPEG photo goes into the document as it stands: the renderer embeds the
// file it is named, unchanged. Anything else is embedded as a JPEG written
// here. The renderer sizes a page from its picture's pixels and resolution;
// fitPages() then stretches each page over the page the plain export gives
// the photo.
bool pagePicture(const QString &path, const QString &scratchFile, PagePicture &page)
{
    page.image = QImage(path);
    if (page.image.isNull())
        return false;
    const double dpiX = page.image.dotsPerMeterX() * 0.0254;
    const double dpiY = page.image.dotsPerMeterY() * 0.0254;
    page.pagePoints = photopage::pagePoints(page.image.size(), dpiX, dpiY);
    // A photo of a known paper size is read at its own resolution; any other
    // at the one that makes it as large as its page.
    const double pageShortInches = std::min(page.pagePoints.width(), page.pagePoints.height()) / 72.0;
    const int shortPixels = std::min(page.image.width(), page.image.height());
    page.ppi = std::max(kMinPpi, int(std::lround(shortPixels / pageShortInches)));
    photopage::JpegHeader header;
    if (photopage::readJpegHeader(path, header) && header.plainColours) {
        page.pictureFile = path;
        return true;
    }
    page.pictureFile = scratchFile;
    return page.image.save(scratchFile, "jpg", kPageJpegQuality);
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
             const PagePicture &page, const std::atomic<bool> *cancel)
{
    // The renderer embeds the page's JPEG file in colour; the recognition
    // only needs grey.
    const QByteArray name = QFile::encodeName(page.pictureFile);
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
        qDebug() << "page text not recognised:" << page.pictureFile;
    // A page whose text could not be read still goes in, as a picture.
    return renderer.AddImage(&api);
}

// Stretches every page of the renderer's document over its page (picture
// and text layer alike) and writes the result to `target`.
bool fitPages(const QString &rendered, const QList<QSizeF> &pageSizes, const QString &target)
{
    try {
        QPDF pdf;
        pdf.processFile(QFile::encodeName(rendered).constData());
        std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
        if (pages.size() != size_t(pageSizes.size())) {
            qDebug() << "searchable pdf incomplete:" << pages.size() << "pages";
            return false;
        }
        for (size_t i = 0; i < pages.size(); ++i) {
            const QPDFObjectHandle::Rectangle box = pages[i].getMediaBox().getArrayAsRectangle();
            const QSizeF wanted = pageSizes.at(int(i));
            const double scaleX = wanted.width() / (box.urx - box.llx);
            const double scaleY = wanted.height() / (box.ury - box.lly);
            const std::string scale = QStringLiteral("q %1 0 0 %2 %3 %4 cm\n")
                                          .arg(scaleX, 0, 'f', 6)
                                          .arg(scaleY, 0, 'f', 6)
                                          .arg(-box.llx * scaleX, 0, 'f', 4)
                                          .arg(-box.lly * scaleY, 0, 'f', 4)
                                          .toStdString();
            pages[i].addPageContents(pdf.newStream(scale), true);
            pages[i].addPageContents(pdf.newStream("\nQ\n"), false);
            pages[i].getObjectHandle().replaceKey(
                "/MediaBox", QPDFObjectHandle::newArray(QPDFObjectHandle::Rectangle(
                                 0, 0, wanted.width(), wanted.height())));
        }
        return pdfoutput::save(pdf, target);
    } catch (const std::exception &error) {
        qDebug() << "searchable pdf not read back:" << error.what();
        return false;
    }
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
    // The renderer's document, before its pages are fitted, lies beside the
    // target (it may be as large as the target).
    QTemporaryFile rendered(QFileInfo(target).absolutePath() + QStringLiteral("/.docstation-ocr-XXXXXX.pdf"));
    if (!rendered.open())
        return outcome;
    rendered.close();
    QList<QSizeF> pageSizes;
    {
        const QByteArray base = QFile::encodeName(rendered.fileName().chopped(4));
        // The renderer closes its file only when it is destroyed.
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
            PagePicture page;
            if (!pagePicture(images.at(row), scratch.filePath(QStringLiteral("page.jpg")), page)) {
                if (page.image.isNull()) {
                    outcome.unreadableImage = images.at(row);
                    return outcome;
                }
                qDebug() << "searchable pdf page not written:" << images.at(row);
                return outcome;
            }
            pageSizes.append(page.pagePoints);
            const bool added = addPage(api, renderer, page, cancel);
            if (isCancelled(cancel)) {
                outcome.cancelled = true;
                return outcome;
            }
            if (!added) {
                qDebug() << "searchable pdf page not written:" << images.at(row);
                return outcome;
            }
        }
        if (!renderer.EndDocument() || !renderer.happy())
            return outcome;
    }
    outcome.written = fitPages(rendered.fileName(), pageSizes, target);
    return outcome;
}

} // namespace searchablepdf
