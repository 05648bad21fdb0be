// Times the export of N photos (synthetic document scenes saved as JPEG) into
// one PDF and one multi-page TIFF with the writers the export dialog runs,
// and compares the document sizes with the sum of the photos' sizes: a PDF
// that embedded every JPEG untouched would be 1.0x.
//
//   bench_documents [--pages N] [--size WxH] [--quality Q]
//
// Defaults: 20 pages of 3264x2448, JPEG quality 80 (the factory setting).
#include "docscene.h"
#include "documentwriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QStringList>

#include <opencv2/imgcodecs.hpp>

#include <sys/resource.h>

#include <cstdio>
#include <cstring>

namespace {

long peakRssMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

double megabytes(qint64 bytes) { return double(bytes) / (1024.0 * 1024.0); }

} // namespace

int main(int argc, char **argv)
{
    int pages = 20;
    int width = 3264;
    int height = 2448;
    int quality = 80;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (!strcmp(argv[i], "--pages") && hasValue)
            pages = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--size") && hasValue)
            std::sscanf(argv[++i], "%dx%d", &width, &height);
        else if (!strcmp(argv[i], "--quality") && hasValue)
            quality = atoi(argv[++i]);
    }
    QCoreApplication app(argc, argv);
    const QString directory = QDir::currentPath() + QStringLiteral("/bench_documents");
    QDir().mkpath(directory);

    QStringList photos;
    qint64 photoBytes = 0;
    for (int page = 0; page < pages; ++page) {
        docscene::Options options;
        options.size = cv::Size(width, height);
        options.sheets = 1 + page % 2;
        options.seed = unsigned(page + 1);
        const cv::Mat frame = docscene::render(options).image;
        const QString path = QStringLiteral("%1/photo_%2.jpg").arg(directory).arg(page);
        cv::imwrite(path.toStdString(), frame, {cv::IMWRITE_JPEG_QUALITY, quality});
        photos.append(path);
        photoBytes += QFileInfo(path).size();
    }

    // Decoding alone: the part of each export no writer can avoid.
    QElapsedTimer timer;
    timer.start();
    for (const QString &path : photos)
        QImage decoded(path);
    const double decodeSeconds = timer.elapsed() / 1000.0;

    const QString pdf = directory + QStringLiteral("/bench.pdf");
    const QString tiff = directory + QStringLiteral("/bench.tiff");
    QFile::remove(pdf);
    QFile::remove(tiff);
    const long rssBefore = peakRssMb();
    timer.restart();
    const bool pdfWritten = documentwriter::writePdf(photos, pdf, {}).written;
    const double pdfSeconds = timer.elapsed() / 1000.0;
    const long rssAfterPdf = peakRssMb();
    timer.restart();
    const bool tiffWritten = documentwriter::writeTiff(photos, tiff, {}).written;
    const double tiffSeconds = timer.elapsed() / 1000.0;
    const long rssAfterTiff = peakRssMb();

    const qint64 pdfBytes = QFileInfo(pdf).size();
    const qint64 tiffBytes = QFileInfo(tiff).size();
    std::printf("%d photos %dx%d JPEG q%d: %.1f MB together; decoding them alone %.2f s\n", pages,
                width, height, quality, megabytes(photoBytes), decodeSeconds);
    std::printf("PDF  %s: %.2f s (%.2f s per page), %.1f MB = %.2fx the photos; peak RSS %ld MB\n",
                pdfWritten ? "written" : "FAILED", pdfSeconds, pdfSeconds / pages, megabytes(pdfBytes),
                double(pdfBytes) / double(photoBytes), rssAfterPdf);
    std::printf("TIFF %s: %.2f s (%.2f s per page), %.1f MB = %.2fx the photos; peak RSS %ld MB "
                "(before: %ld MB)\n",
                tiffWritten ? "written" : "FAILED", tiffSeconds, tiffSeconds / pages,
                megabytes(tiffBytes), double(tiffBytes) / double(photoBytes), rssAfterTiff, rssBefore);
    return pdfWritten && tiffWritten ? 0 : 1;
}
