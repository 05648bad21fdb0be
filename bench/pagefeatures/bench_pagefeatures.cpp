// The page features on pages photographed by the synthetic camera.
//
// Recognition: N text pages (Chinese and English) are rendered, recognised
// clean by tesseract (the floor), photographed at the camera size, cut out
// and converted by the photo pipeline in each colour mode, and written as a
// searchable PDF; the text pdftotext reads back is compared with the page's
// text (character error rate, blanks ignored). Time per page is set against
// tesseract alone recognising the same photo.
//
// The photos carry the resolution of the paper size the cut-out sheet is
// (A4 here); tesseract alone reads each photo also with that resolution
// replaced by the 100 dpi every photo said before, to show what the tag is
// worth to outside recognition.
//
// Blank pages: sparse pages (one word, a date, a page number) and blank
// sheets photographed the same way: sparse pages dropped, blanks kept.
//
//   bench_pagefeatures [--pages N] [--size WxH] [--modes 0,1,2,3] [--blank N] [--no-ocr]
#include "blankpage.h"
#include "cache.h"
#include "config.h"
#include "imageprocessing.h"
#include "pagemaker.h"
#include "searchablepdf.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include <tesseract/baseapi.h>
#include <leptonica/allheaders.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const QSize kPageSize(1654, 2339);   // A4 at 200 dots per inch
const int kPageDotsPerMeter = 7874;  // 200 dots per inch

QString withoutBlanks(QString text)
{
    text.remove(QRegularExpression(QStringLiteral("\\s")));
    return text;
}

struct Errors
{
    long errors = 0;
    long characters = 0;
    void add(const QString &truth, const QString &read)
    {
        const QString clean = withoutBlanks(truth);
        errors += pagemaker::editDistance(clean, withoutBlanks(read));
        characters += clean.toUcs4().size();
    }
    double rate() const { return characters ? double(errors) / characters : 0.0; }
};

// Tesseract alone, as the floor and the time reference.
class Recogniser
{
public:
    explicit Recogniser(tesseract::PageSegMode layout = tesseract::PSM_AUTO)
    {
        ok = api.Init(QFile::encodeName(searchablepdf::dataDirectory()).constData(),
                      searchablepdf::kLanguages, tesseract::OEM_LSTM_ONLY) == 0;
        api.SetVariable("debug_file", "/dev/null");
        api.SetVariable("preserve_interword_spaces", "1");
        // PSM_AUTO reads a page as the tesseract command does; the library's
        // own default is one uniform block of text.
        api.SetPageSegMode(layout);
    }
    QString read(const QString &path)
    {
        Pix *pix = pixRead(QFile::encodeName(path).constData());
        if (pix == nullptr)
            return QString();
        api.SetImage(pix);
        if (pixGetYRes(pix) < 70)
            api.SetSourceResolution(300);
        char *text = api.GetUTF8Text();
        const QString result = QString::fromUtf8(text ? text : "");
        delete[] text;
        pixDestroy(&pix);
        return result;
    }
    bool ok = false;

private:
    tesseract::TessBaseAPI api;
};

// A copy of a JPEG photo that says 100 dpi, as photos said before they knew
// their paper size; the pixels are the same bytes.
QString withOldResolution(const QString &photo)
{
    QFile file(photo);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QByteArray bytes = file.readAll();
    // SOI, APP0 "JFIF": units at 13, densities at 14 and 16.
    if (bytes.size() < 18 || bytes.mid(6, 5) != QByteArray("JFIF\0", 5))
        return QString();
    bytes[13] = 1;
    for (int at : {14, 16}) {
        bytes[at] = 0;
        bytes[at + 1] = 100;
    }
    const QString copy = photo + QStringLiteral(".100dpi.jpg");
    QFile out(copy);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
        return QString();
    return copy;
}

// What was read, beside the photos, to see where errors come from.
void keepText(const QString &path, const QString &text)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text.toUtf8());
}

QString pdfText(const QString &pdf, int page)
{
    QProcess process;
    process.start(QStringLiteral("pdftotext"), {QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"),
                                                QString::number(page), pdf, QStringLiteral("-")});
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The photo pipeline on one camera frame: the sheet cut out, in the colour mode.
QString takePhoto(ImageProcessing &camera, const cv::Mat &frame, int mode)
{
    camera.shootType = mode;
    camera.correction = 1;
    camera.setCurrentFrame(frame);
    const QList<QString> paths = camera.takePhotoPaths();
    return paths.isEmpty() ? QString() : paths.first();
}

const char *modeName(int mode)
{
    switch (mode) {
    case 0: return "colour";
    case 1: return "grey";
    case 2: return "black-and-white";
    default: return "black-and-white, red seals";
    }
}

} // namespace

int main(int argc, char **argv)
{
    int pages = 20, blanks = 50, width = 3264, height = 2448;
    bool ocr = true;
    QList<int> modes{0, 1, 2, 3};
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (!strcmp(argv[i], "--pages") && hasValue)
            pages = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--blank") && hasValue)
            blanks = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--size") && hasValue)
            std::sscanf(argv[++i], "%dx%d", &width, &height);
        else if (!strcmp(argv[i], "--modes") && hasValue) {
            modes.clear();
            for (const QString &m : QString::fromLatin1(argv[++i]).split(','))
                modes.append(m.toInt());
        } else if (!strcmp(argv[i], "--no-ocr"))
            ocr = false;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString directory = QDir::currentPath() + QStringLiteral("/bench_pagefeatures");
    QDir(directory).removeRecursively();
    QDir().mkpath(directory);
    Config &config = *Cache::config;
    config.documentsLocation = directory;
    config.codec = QStringLiteral("jpg");
    config.quality = 80;
    config.saveType = 0;
    config.savePrefix = QStringLiteral("photo");
    config.correctionMode = 0;
    config.gnIswhite = false;
    config.watermarkText.clear();
    config.watermarkTime = false;
    config.gnRenlian = false;
    ImageProcessing camera;
    const cv::Size frameSize(width, height);

    if (ocr) {
        if (!searchablepdf::available()) {
            std::printf("no language data in %s\n", qPrintable(searchablepdf::dataDirectory()));
            return 1;
        }
        Recogniser alone;
        Recogniser oneBlock(tesseract::PSM_SINGLE_BLOCK);
        Errors floor, oneBlockFloor;
        std::vector<Errors> ours(size_t(modes.size())), aloneErrors(size_t(modes.size()));
        std::vector<Errors> oldResolutionErrors(size_t(modes.size()));
        double photoPpi = 0.0;
        std::vector<double> oursSeconds(size_t(modes.size())), aloneSeconds(size_t(modes.size()));
        std::vector<QStringList> photos(size_t(modes.size()));
        QStringList truths;
        int missing = 0;
        for (int page = 0; page < pages; ++page) {
            const pagemaker::TextPage text = pagemaker::textPage(unsigned(page + 1), kPageSize, 24);
            const QString clean = QStringLiteral("%1/clean_%2.png").arg(directory).arg(page);
            // The page is drawn at 200 dots per inch; said so in the file, or
            // the floor's layout analysis would take its lines for ones half
            // as large.
            QImage cleanImage = text.image;
            cleanImage.setDotsPerMeterX(kPageDotsPerMeter);
            cleanImage.setDotsPerMeterY(kPageDotsPerMeter);
            cleanImage.save(clean);
            const QString cleanText = alone.read(clean);
            floor.add(text.text, cleanText);
            oneBlockFloor.add(text.text, oneBlock.read(clean));
            keepText(QStringLiteral("%1/truth_%2.txt").arg(directory).arg(page), text.text);
            keepText(QStringLiteral("%1/clean_%2.txt").arg(directory).arg(page), cleanText);
            truths.append(text.text);
            const cv::Mat frame = pagemaker::photograph(text.image, frameSize, unsigned(page + 1));
            for (int m = 0; m < modes.size(); ++m) {
                const QString photo = takePhoto(camera, frame, modes[m]);
                photos[size_t(m)].append(photo);
                missing += photo.isEmpty() ? 1 : 0;
            }
        }
        // One searchable PDF per colour mode, as the export dialog writes it,
        // against tesseract alone on each of the same photos.
        for (int m = 0; m < modes.size(); ++m) {
            const QStringList &shots = photos[size_t(m)];
            const QString pdf = QStringLiteral("%1/mode_%2.pdf").arg(directory).arg(modes[m]);
            QElapsedTimer timer;
            timer.start();
            searchablepdf::write(shots, pdf, {}, nullptr);
            oursSeconds[size_t(m)] = timer.nsecsElapsed() / 1e9;
            timer.restart();
            QStringList aloneTexts;
            for (const QString &photo : shots)
                aloneTexts.append(alone.read(photo));
            aloneSeconds[size_t(m)] = timer.nsecsElapsed() / 1e9;
            for (const QString &photo : shots)
                photoPpi = QImage(photo).dotsPerMeterY() * 0.0254;
            for (int page = 0; page < shots.size(); ++page)
                oldResolutionErrors[size_t(m)].add(truths.at(page), alone.read(withOldResolution(shots.at(page))));
            for (int page = 0; page < shots.size(); ++page) {
                const QString oursText = pdfText(pdf, page + 1);
                aloneErrors[size_t(m)].add(truths.at(page), aloneTexts.at(page));
                ours[size_t(m)].add(truths.at(page), oursText);
                const QString stem = QStringLiteral("%1/mode_%2_page_%3").arg(directory).arg(modes[m]).arg(page);
                keepText(stem + QStringLiteral("_alone.txt"), aloneTexts.at(page));
                keepText(stem + QStringLiteral("_pdf.txt"), oursText);
            }
            std::fprintf(stderr, "mode %d done\n", modes[m]);
        }
        std::printf("recognition: %d pages of %dx%d photographed at %dx%d (%d photos missing), the photos "
                    "saying %.0f dpi\n",
                    pages, kPageSize.width(), kPageSize.height(), width, height, missing, photoPpi);
        std::printf("  floor (tesseract on the clean page): CER %.4f (%ld / %ld) [read as one uniform block: "
                    "CER %.4f (%ld / %ld)]\n",
                    floor.rate(), floor.errors, floor.characters, oneBlockFloor.rate(), oneBlockFloor.errors,
                    oneBlockFloor.characters);
        for (int m = 0; m < modes.size(); ++m) {
            const Errors &e = ours[size_t(m)];
            std::printf("  %-26s CER %.4f (%ld / %ld) = %.2fx floor [tesseract alone on the same photos: "
                        "CER %.4f]; %.2f s/page vs tesseract alone %.2f s/page = %.2fx\n",
                        modeName(modes[m]), e.rate(), e.errors, e.characters,
                        floor.rate() > 0 ? e.rate() / floor.rate() : 0.0, aloneErrors[size_t(m)].rate(),
                        oursSeconds[size_t(m)] / pages,
                        aloneSeconds[size_t(m)] / pages,
                        aloneSeconds[size_t(m)] > 0 ? oursSeconds[size_t(m)] / aloneSeconds[size_t(m)] : 0.0);
            std::printf("  %-26s tesseract alone on the photos: CER %.4f with their paper resolution, %.4f "
                        "saying 100 dpi as before\n",
                        "", aloneErrors[size_t(m)].rate(), oldResolutionErrors[size_t(m)].rate());
        }
    }

    if (blanks > 0) {
        std::printf("blank pages: %d sparse and %d blank sheets photographed at %dx%d\n", blanks, blanks,
                    width, height);
        for (int mode : modes) {
            int falseDrops = 0, missedBlanks = 0, missing = 0;
            double sparseMin = 1.0, blankMax = 0.0;
            for (int n = 0; n < blanks; ++n) {
                for (bool sparse : {true, false}) {
                    const unsigned seed = unsigned(1000 + n);
                    const QImage page = sparse ? pagemaker::sparsePage(seed, kPageSize)
                                               : pagemaker::blankPage(seed, kPageSize);
                    const QString photo = takePhoto(camera, pagemaker::photograph(page, frameSize, seed), mode);
                    if (photo.isEmpty()) {
                        ++missing;
                        continue;
                    }
                    const QImage picture(photo);
                    const double share = blankpage::inkShare(picture);
                    const bool blank = blankpage::isBlank(picture);
                    if (sparse) {
                        falseDrops += blank ? 1 : 0;
                        sparseMin = std::min(sparseMin, share);
                    } else {
                        missedBlanks += blank ? 0 : 1;
                        blankMax = std::max(blankMax, share);
                    }
                    QFile::remove(photo);
                }
            }
            std::printf("  %-26s false drops %d / %d, missed blanks %d / %d (ink share: least sparse "
                        "%.6f, most on a blank %.6f, threshold %.6f; %d photos missing)\n",
                        modeName(mode), falseDrops, blanks, missedBlanks, blanks, sparseMin, blankMax,
                        blankpage::kBlankInkShare, missing);
        }
    }
    return 0;
}
