// Times the export of N photos (synthetic document scenes saved as JPEG, in
// colour and in black and white) into one PDF and one multi-page TIFF with
// the writers the export dialog runs, beside the writers the station used
// before (mainwriters.cpp) and beside the floors no writer can go under:
// copying the photos (PDF) and decoding and encoding the pages alone (TIFF:
// JPEG for colour pages, Group 4 for black-and-white ones).
// Every writer runs in a process of its own, so each peak memory is its own.
//
//   bench_documents [--pages N] [--size WxH] [--quality Q] [--repeat R] [--without-before]
//
// Times are the shortest of R runs (3) for the writers of now and the floors;
// the earlier writers, much slower, run once.
// --without-before leaves the earlier writers out (the earlier TIFF writer
// holds every page: 100 pages of 8 MP need about 2.5 GB).
// Defaults: 20 pages of 3264x2448, JPEG quality 80 (the factory setting).
// Run it from a scratch directory: it writes the photos and documents there.
#include "docscene.h"
#include "documentwriter.h"
#include "mainwriters.h"
#include "startup.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QStringList>
#include <QTextStream>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <tiffio.h>

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

double megabytes(qint64 bytes)
{
    return double(bytes) / (1024.0 * 1024.0);
}

struct Run {
    bool ok = false;
    double seconds = 0.0;
    double cpuSeconds = 0.0; // user and system time of the process
    long peakMb = 0;
    qint64 bytes = 0;
};

QStringList readList(const QString &listFile)
{
    QFile file(listFile);
    QStringList paths;
    if (file.open(QIODevice::ReadOnly))
        paths = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    return paths;
}

// A bilevel page as the TIFF writer makes it (ink below the middle grey, a
// set bit, eight pixels to a byte), compressed in CCITT Group 4 into a file
// that lives in memory only.
bool encodeGroup4(const cv::Mat &page)
{
    cv::Mat grey = page;
    if (page.channels() == 3)
        cv::cvtColor(page, grey, cv::COLOR_BGR2GRAY);
    cv::Mat ink;
    cv::compare(grey, 128, ink, cv::CMP_LT);
    const int rowBytes = (grey.cols + 7) / 8;
    std::vector<uchar> packed(size_t(rowBytes) * size_t(grey.rows), 0);
    for (int y = 0; y < grey.rows; ++y) {
        const uchar *line = ink.ptr<uchar>(y);
        uchar *out = packed.data() + size_t(y) * size_t(rowBytes);
        for (int x = 0; x < grey.cols; x += 8) {
            unsigned bits = 0;
            for (int bit = 0; bit < 8; ++bit)
                bits = (bits << 1) | (x + bit < grey.cols ? unsigned(line[x + bit]) >> 7 : 0u);
            *out++ = uchar(bits);
        }
    }
    const int memory = memfd_create("group4", 0);
    if (memory < 0)
        return false;
    TIFF *tiff = TIFFFdOpen(memory, "group4", "w");
    bool ok = tiff != nullptr && TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, uint32_t(grey.cols)) &&
              TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, uint32_t(grey.rows)) &&
              TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 1) && TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1) &&
              TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE) &&
              TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4) &&
              TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, uint32_t(grey.rows)) &&
              TIFFWriteEncodedStrip(tiff, 0, packed.data(), tmsize_t(packed.size())) >= 0;
    if (tiff != nullptr)
        TIFFClose(tiff);
    ::close(memory);
    return ok;
}

// What a child process measures: one writer, or one floor.
bool runJob(const QString &job, const QStringList &photos, const QString &output, int quality)
{
    if (job == QLatin1String("pdf"))
        return documentwriter::writePdf(photos, output, {}).written;
    if (job == QLatin1String("pdf-main"))
        return mainwriters::writePdf(photos, output, {}).written;
    if (job == QLatin1String("tiff"))
        return documentwriter::writeTiff(photos, output, {}).written;
    if (job == QLatin1String("tiff-main"))
        return mainwriters::writeTiff(photos, output, {}).written;
    if (job == QLatin1String("idle"))
        return true; // the process alone, libraries loaded
    if (job == QLatin1String("copy")) {
        QFile::remove(output);
        QFile all(output);
        if (!all.open(QIODevice::WriteOnly))
            return false;
        for (const QString &photo : photos) {
            QFile file(photo);
            if (!file.open(QIODevice::ReadOnly) || all.write(file.readAll()) != file.size())
                return false;
        }
        return all.flush() && ::fsync(all.handle()) == 0;
    }
    if (job == QLatin1String("recode-bw")) {
        // Each page decoded, made bilevel and compressed in CCITT Group 4,
        // in memory: the work of a black-and-white TIFF page without its
        // container's bookkeeping.
        for (const QString &photo : photos) {
            const cv::Mat page = cv::imread(photo.toStdString(), cv::IMREAD_UNCHANGED);
            if (page.empty() || !encodeGroup4(page))
                return false;
        }
        return true;
    }
    if (job == QLatin1String("recode")) {
        // Each page decoded and compressed again at the photo's quality, in
        // memory: the work of a TIFF page without its container.
        for (const QString &photo : photos) {
            const cv::Mat page = cv::imread(photo.toStdString(), cv::IMREAD_UNCHANGED);
            std::vector<uchar> encoded;
            if (page.empty() || !cv::imencode(".jpg", page, encoded, {cv::IMWRITE_JPEG_QUALITY, quality}))
                return false;
        }
        return true;
    }
    return false;
}

Run measureOnce(const char *self, const char *job, const QString &listFile, const QString &output,
                int quality)
{
    Run run;
    QFile::remove(output);
    const std::string list = listFile.toStdString();
    const std::string out = output.toStdString();
    const std::string qualityText = std::to_string(quality);
    QElapsedTimer timer;
    timer.start();
    const pid_t child = fork();
    if (child == 0) {
        execl(self, self, "--run", job, list.c_str(), out.c_str(), qualityText.c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child)
        return run;
    run.seconds = timer.elapsed() / 1000.0;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    run.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.peakMb = usage.ru_maxrss / 1024;
    run.bytes = QFileInfo(output).size();
    return run;
}

// The shortest of `repeats` runs: the machine's other work only ever adds.
Run measure(const char *self, const char *job, const QString &listFile, const QString &output, int quality,
            int repeats)
{
    Run best;
    for (int i = 0; i < repeats; ++i) {
        const Run run = measureOnce(self, job, listFile, output, quality);
        if (i == 0 || (run.ok && run.seconds < best.seconds))
            best = run;
    }
    return best;
}

// Black and white as the station writes it: the adaptive threshold of the
// grey picture, three channels, saved as JPEG.
cv::Mat blackAndWhite(const cv::Mat &colour)
{
    cv::Mat grey, bw, bgr;
    cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
    cv::adaptiveThreshold(grey, bw, 255, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY, 25, 50.0);
    cv::cvtColor(bw, bgr, cv::COLOR_GRAY2BGR);
    return bgr;
}

qint64 writePhotos(const QString &directory, const QString &kind, int pages, cv::Size size, int quality,
                   QStringList &photos)
{
    qint64 bytes = 0;
    for (int page = 0; page < pages; ++page) {
        docscene::Options options;
        options.size = size;
        options.sheets = 1 + page % 2;
        options.seed = unsigned(page + 1);
        cv::Mat frame = docscene::render(options).image;
        if (kind == QLatin1String("bw"))
            frame = blackAndWhite(frame);
        const QString path = QStringLiteral("%1/%2_%3.jpg").arg(directory, kind).arg(page);
        cv::imwrite(path.toStdString(), frame, {cv::IMWRITE_JPEG_QUALITY, quality});
        photos.append(path);
        bytes += QFileInfo(path).size();
    }
    return bytes;
}

// Wall time and the process's processor time, each against the floor's:
// on a busy machine the processor time is the steadier figure.
void print(const char *what, const Run &run, qint64 photoBytes, const Run &floor)
{
    std::printf("  %-12s %s %6.2f s (%5.2fx the floor), cpu %6.2f s (%5.2fx)  %7.1f MB = %5.2fx the photos  "
                "peak %4ld MB\n",
                what, run.ok ? "  " : "FAILED", run.seconds,
                floor.seconds > 0 ? run.seconds / floor.seconds : 0.0, run.cpuSeconds,
                floor.cpuSeconds > 0 ? run.cpuSeconds / floor.cpuSeconds : 0.0, megabytes(run.bytes),
                double(run.bytes) / double(photoBytes), run.peakMb);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 6 && !strcmp(argv[1], "--run")) {
        QCoreApplication app(argc, argv);
        // The heap as the station's own start-up sets it: photo-sized blocks
        // stay in the process from page to page.
        Startup::keepFrameBuffersInHeap();
        return runJob(QString::fromLatin1(argv[2]), readList(QString::fromLocal8Bit(argv[3])),
                      QString::fromLocal8Bit(argv[4]), atoi(argv[5]))
                   ? 0
                   : 1;
    }
    int pages = 20;
    int width = 3264;
    int height = 2448;
    int quality = 80;
    bool withBefore = true;
    int repeats = 3;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (!strcmp(argv[i], "--pages") && hasValue)
            pages = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--size") && hasValue)
            std::sscanf(argv[++i], "%dx%d", &width, &height);
        else if (!strcmp(argv[i], "--quality") && hasValue)
            quality = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--repeat") && hasValue)
            repeats = std::max(1, atoi(argv[++i]));
        else if (!strcmp(argv[i], "--without-before"))
            withBefore = false;
    }
    QCoreApplication app(argc, argv);
    const QString directory = QDir::currentPath() + QStringLiteral("/bench_documents");
    QDir().mkpath(directory);
    const char *self = "/proc/self/exe";
    char selfPath[4096] = {};
    const ssize_t length = readlink(self, selfPath, sizeof selfPath - 1);
    if (length <= 0)
        return 1;

    bool allWritten = true;
    for (const QString &kind : {QStringLiteral("colour"), QStringLiteral("bw")}) {
        QStringList photos;
        const qint64 photoBytes =
            writePhotos(directory, kind, pages, cv::Size(width, height), quality, photos);
        const QString listFile = QStringLiteral("%1/%2.list").arg(directory, kind);
        {
            QFile list(listFile);
            if (!list.open(QIODevice::WriteOnly))
                return 1;
            list.write(photos.join('\n').toUtf8());
        }
        const QString base = QStringLiteral("%1/%2").arg(directory, kind);
        std::printf("%d %s photos %dx%d JPEG q%d: %.1f MB together\n", pages, qPrintable(kind), width, height,
                    quality, megabytes(photoBytes));
        const Run idle = measure(selfPath, "idle", listFile, base + ".none", quality, repeats);
        const Run copy = measure(selfPath, "copy", listFile, base + ".copy", quality, repeats);
        const Run pdfMain =
            withBefore ? measure(selfPath, "pdf-main", listFile, base + "_main.pdf", quality, 1) : Run{};
        const Run pdf = measure(selfPath, "pdf", listFile, base + ".pdf", quality, repeats);
        // A black-and-white page is compressed in Group 4, a colour one as JPEG.
        const char *recodeJob = kind == QLatin1String("bw") ? "recode-bw" : "recode";
        const Run recode = measure(selfPath, recodeJob, listFile, base + ".none", quality, repeats);
        const Run tiffMain =
            withBefore ? measure(selfPath, "tiff-main", listFile, base + "_main.tiff", quality, 1) : Run{};
        const Run tiff = measure(selfPath, "tiff", listFile, base + ".tiff", quality, repeats);
        std::printf(" the process alone: %.2f s, cpu %.2f s, peak %ld MB\n", idle.seconds, idle.cpuSeconds,
                    idle.peakMb);
        std::printf(" PDF, floor: copying the photos %.2f s, cpu %.2f s\n", copy.seconds, copy.cpuSeconds);
        if (withBefore)
            print("PDF before", pdfMain, photoBytes, copy);
        print("PDF now", pdf, photoBytes, copy);
        std::printf("  %+.1f KB per page beyond the photos\n",
                    double(pdf.bytes - photoBytes) / 1024.0 / pages);
        if (withBefore)
            std::printf("  now/before: %.2fx the time, %.2fx the size\n", pdf.seconds / pdfMain.seconds,
                        double(pdf.bytes) / double(pdfMain.bytes));
        std::printf(" TIFF, floor: decoding and encoding (%s) the pages alone %.2f s, cpu %.2f s (peak %ld MB)\n",
                    kind == QLatin1String("bw") ? "Group 4" : "JPEG", recode.seconds, recode.cpuSeconds,
                    recode.peakMb);
        if (withBefore)
            print("TIFF before", tiffMain, photoBytes, recode);
        print("TIFF now", tiff, photoBytes, recode);
        if (withBefore)
            std::printf("  now/before: %.2fx the time, %.2fx the size, %.2fx the peak memory\n",
                        tiff.seconds / tiffMain.seconds, double(tiff.bytes) / double(tiffMain.bytes),
                        double(tiff.peakMb) / double(tiffMain.peakMb));
        allWritten = allWritten && pdf.ok && tiff.ok && (!withBefore || (pdfMain.ok && tiffMain.ok));
    }
    return allWritten ? 0 : 1;
}
