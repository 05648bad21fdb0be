// The export writers as they were before the PDF kept its photos' JPEG data
// and the TIFF was written page by page: the peers the benchmark measures
// the station's writers against, in the same run.
#include "mainwriters.h"

#include <QDebug>
#include <QFile>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <vector>

namespace mainwriters {

using documentwriter::Outcome;
using documentwriter::Progress;

namespace {

QPageLayout::Orientation orientationOf(const QImage &image)
{
    return image.width() > image.height() ? QPageLayout::Landscape : QPageLayout::Portrait;
}

void report(const Progress &progress, int page)
{
    if (progress)
        progress(page);
}

} // namespace

Outcome writePdf(const QStringList &images, const QString &target, const Progress &progress)
{
    Outcome outcome;
    if (images.isEmpty())
        return outcome;
    report(progress, 1);
    QImage image(images.first());
    if (image.isNull()) {
        outcome.unreadableImage = images.first();
        return outcome;
    }
    QFile file(target);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qDebug() << "pdf not opened:" << target << file.errorString();
        return outcome;
    }
    QPdfWriter writer(&file);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageOrientation(orientationOf(image));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter painter;
    if (!painter.begin(&writer)) {
        qDebug() << "pdf painter not started:" << target;
        return outcome;
    }
    const QRect viewport = painter.viewport();
    const int shortSide = std::min(viewport.width(), viewport.height());
    const int longSide = std::max(viewport.width(), viewport.height());
    for (int row = 0; row < images.size(); ++row) {
        if (row > 0) {
            report(progress, row + 1);
            image = QImage(images.at(row));
            if (image.isNull()) {
                outcome.unreadableImage = images.at(row);
                painter.end();
                return outcome;
            }
            writer.setPageOrientation(orientationOf(image));
            writer.newPage();
        }
        const QRect page = orientationOf(image) == QPageLayout::Landscape
                               ? QRect(0, 0, longSide, shortSide)
                               : QRect(0, 0, shortSide, longSide);
        painter.drawImage(page, image, image.rect());
        image = QImage();   // one page's pixels at a time
    }
    painter.end();
    file.close();
    outcome.written = file.error() == QFileDevice::NoError;
    return outcome;
}

Outcome writeTiff(const QStringList &images, const QString &target, const Progress &progress)
{
    Outcome outcome;
    if (images.isEmpty())
        return outcome;
    std::vector<cv::Mat> pages;
    pages.reserve(size_t(images.size()));
    for (int row = 0; row < images.size(); ++row) {
        report(progress, row + 1);
        cv::Mat page = cv::imread(QFile::encodeName(images.at(row)).toStdString(), cv::IMREAD_COLOR);
        if (page.empty()) {
            outcome.unreadableImage = images.at(row);
            return outcome;
        }
        pages.push_back(std::move(page));
    }
    try {
        outcome.written = cv::imwrite(QFile::encodeName(target).toStdString(), pages);
    } catch (const cv::Exception &error) {
        qDebug() << "tiff not written:" << target << error.what();
    }
    return outcome;
}

} // namespace mainwriters
