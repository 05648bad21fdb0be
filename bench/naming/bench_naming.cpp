// Time to name one photo when the running number points at the first of
// many files that are already there (the state "默认设置" leaves behind).
//
//   bench_naming [FILES] [ROUNDS]     (defaults 3000 and 5)
//
// Prints one line per round and the median, in milliseconds, then the time
// of taking and saving one running number per skipped file, in the same run.

#include "cache.h"
#include "config.h"
#include "photonaming.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

void fillNumbered(const QString &dir, int count)
{
    for (int n = 1; n <= count; ++n) {
        QFile file(QStringLiteral("%1/IMG_%2.jpg").arg(dir).arg(n));
        file.open(QIODevice::WriteOnly);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int files = argc > 1 ? std::max(1, atoi(argv[1])) : 3000;
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 5;

    QTemporaryDir work;
    Config &config = *Cache::config;
    config.documentsLocation = work.path();
    config.savePrefix = QStringLiteral("IMG");
    config.saveType = 0;
    fillNumbered(work.path(), files);

    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        config.saveNumber = 1;   // what "默认设置" leaves
        config.save();
        QElapsedTimer timer;
        timer.start();
        const QString path = photonaming::reservePhotoPath(config, QStringLiteral("jpg"));
        const double ms = timer.nsecsElapsed() / 1e6;
        times.push_back(ms);
        std::printf("round %d: %.2f ms -> %s (number now %d)\n", round + 1, ms,
                    qPrintable(QFileInfo(path).fileName()), config.saveNumber);
        QFile::remove(path);
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::printf("naming after reset, %d files present: median %.2f ms over %d rounds\n", files,
                median, rounds);

    // Floor to compare with: taking and saving one number per skipped file,
    // each followed by an attempt to create the file (one round; it is slow).
    config.saveNumber = 1;
    config.save();
    QElapsedTimer timer;
    timer.start();
    QString path;
    for (;;) {
        path = QStringLiteral("%1/IMG_%2.jpg").arg(work.path()).arg(config.takeSaveNumber());
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            break;
    }
    const double perNumber = timer.nsecsElapsed() / 1e6;
    std::printf("one saved number per skipped file: %.2f ms -> %s; ratio %.0fx\n", perNumber,
                qPrintable(QFileInfo(path).fileName()), perNumber / median);
    return 0;
}
