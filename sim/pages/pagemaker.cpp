#include "pagemaker.h"

#include <ZXing/BitMatrix.h>
#include <ZXing/CharacterSet.h>
#include <ZXing/MultiFormatWriter.h>

#include <QBuffer>
#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QStringList>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <vector>

#include <algorithm>
#include <cmath>
#include <random>

namespace pagemaker {

namespace {

const QColor kPaper(246, 244, 238);
const QColor kInk(28, 28, 34);

const char *const kChinese[] = {
    "客户身份信息核对无误后办理业务",
    "本人已阅读并同意上述条款内容",
    "住院病人费用清单按日结算",
    "请于十五个工作日内携带原件复核",
    "存款凭证一式两联由柜员签章",
    "门诊病历资料仅限本院内部使用",
    "申请人承诺所填写信息真实有效",
    "贷款合同编号以系统生成为准",
    "检查报告单需经主治医师审核",
    "账户开立日期及开户网点名称",
    "保险理赔材料清单请逐项核对",
    "挂号收费处营业时间为八点至五点",
};

const char *const kEnglish[] = {
    "Account holder name and address",
    "Please sign below to confirm",
    "Patient discharge summary report",
    "Transaction reference number 4821",
    "Valid until the end of next month",
    "Branch office opening hours apply",
    "Insurance claim form section two",
    "Total amount due on delivery",
    "Laboratory results are attached",
    "Keep this receipt for your records",
};

QImage paper(unsigned seed, QSize size)
{
    // Fibres and a faint stain at full size, light falling off to one side.
    cv::Mat texture(size.height(), size.width(), CV_32F);
    cv::RNG rng(seed * 7919u + 13u);
    rng.fill(texture, cv::RNG::NORMAL, 0.0, 3.0);
    cv::GaussianBlur(texture, texture, cv::Size(0, 0), 1.2);
    QImage image(size, QImage::Format_RGB32);
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double stainX = unit(random) * size.width(), stainY = unit(random) * size.height();
    const double stainR = std::max(size.width(), size.height()) * (0.05 + 0.08 * unit(random));
    const double tilt = 10.0 + 10.0 * unit(random);
    for (int y = 0; y < size.height(); ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        const float *noise = texture.ptr<float>(y);
        for (int x = 0; x < size.width(); ++x) {
            const double light = -tilt * double(x) / size.width();
            const double d = std::hypot(x - stainX, y - stainY) / stainR;
            const double stain = d < 1.0 ? -8.0 * (1.0 - d) : 0.0;
            const double shift = light + stain + noise[x];
            auto level = [&](int base) { return std::clamp(int(std::lround(base + shift)), 0, 255); };
            row[x] = qRgb(level(kPaper.red()), level(kPaper.green()), level(kPaper.blue()));
        }
    }
    return image;
}

QFont pageFont(int pixelSize)
{
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(pixelSize);
    return font;
}

// One pixel per module; QR codes carry their text as UTF-8, as codes made
// by current systems do.
QImage modulesImage(Code kind, const std::string &text)
{
    try {
        ZXing::MultiFormatWriter writer(kind == Code::Qr ? ZXing::BarcodeFormat::QRCode
                                                         : ZXing::BarcodeFormat::Code128);
        writer.setMargin(0);
        if (kind == Code::Qr)
            writer.setEncoding(ZXing::CharacterSet::UTF8);
        const ZXing::BitMatrix bits = writer.encode(QString::fromStdString(text).toStdWString(), 1, 1);
        const int rows = kind == Code::Qr ? bits.height() : 1;
        QImage image(bits.width(), rows, QImage::Format_Grayscale8);
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < bits.width(); ++x)
                image.scanLine(y)[x] = bits.get(x, y) ? 0 : 255;
        return image;
    } catch (const std::exception &) {
        return QImage();   // text the symbology cannot carry
    }
}

// Draws the code with its printed text (Code 128) into `box`; false when the
// text cannot be encoded.
bool drawCode(QPainter &painter, Code kind, const std::string &text, const QRect &box)
{
    const QImage modules = modulesImage(kind, text);
    if (modules.isNull())
        return false;
    const int module = std::max(1, box.width() / modules.width());
    const int height = kind == Code::Qr ? modules.height() * module : box.height() * 2 / 3;
    const QRect symbol(box.left() + (box.width() - modules.width() * module) / 2, box.top(),
                       modules.width() * module, height);
    painter.drawImage(symbol, modules);   // no smoothing: modules stay sharp
    if (kind == Code::Code128) {
        painter.setFont(pageFont(std::max(12, box.height() / 8)));
        painter.setPen(kInk);
        painter.drawText(QRect(box.left(), symbol.bottom() + 4, box.width(), box.height() / 4),
                         Qt::AlignHCenter | Qt::AlignTop, QString::fromStdString(text));
    }
    return true;
}

} // namespace

TextPage textPage(unsigned seed, QSize size, int lines)
{
    TextPage page{paper(seed, size), QString()};
    std::mt19937 random(seed);
    QPainter painter(&page.image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(kInk);
    // About 12 points on an A4 page.
    const int pixelSize = std::max(12, size.width() / 48);
    painter.setFont(pageFont(pixelSize));
    const int left = size.width() / 10;
    QStringList written;
    for (int line = 0; line < lines; ++line) {
        const bool chinese = line % 2 == 0;
        const QString text = chinese
            ? QString::fromUtf8(kChinese[random() % (sizeof kChinese / sizeof *kChinese)])
            : QString::fromUtf8(kEnglish[random() % (sizeof kEnglish / sizeof *kEnglish)]);
        const int baseline = size.height() / 10 + line * pixelSize * 7 / 4;
        if (baseline > size.height() * 9 / 10)
            break;
        painter.drawText(left, baseline, text);
        written << text;
    }
    page.text = written.join(QLatin1Char('\n'));
    return page;
}

QImage blankPage(unsigned seed, QSize size)
{
    return paper(seed, size);
}

QImage signaturePage(unsigned seed, QSize size)
{
    QImage image = paper(seed, size);
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    // A short loop-and-tail scrawl a tenth of the page wide.
    const double width = size.width() * 0.1, height = width * 0.35;
    const QPointF origin(size.width() * (0.6 + 0.15 * unit(random)), size.height() * (0.8 + 0.08 * unit(random)));
    QPainterPath stroke(origin);
    for (int step = 1; step <= 40; ++step) {
        const double t = step / 40.0;
        stroke.lineTo(origin + QPointF(width * t, -height * std::sin(t * 9.0 + unit(random)) * (1.0 - t * 0.5)));
    }
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(30, 40, 110), std::max(2.0, size.width() / 800.0)));
    painter.drawPath(stroke);
    return image;
}

QImage sparsePage(unsigned seed, QSize size)
{
    QImage image = paper(seed, size);
    std::mt19937 random(seed);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(kInk);
    painter.setFont(pageFont(std::max(12, size.width() / 40)));
    const int kind = int(seed % 3);
    const QString text = kind == 0   ? QStringLiteral("- %1 -").arg(1 + random() % 40)
                         : kind == 1 ? QStringLiteral("2026年%1月%2日").arg(1 + random() % 12).arg(1 + random() % 28)
                                     : QString::fromUtf8(kChinese[random() % (sizeof kChinese / sizeof *kChinese)]).left(4);
    const QRect where(size.width() / 10 + int(random() % unsigned(size.width() / 2)),
                      size.height() / 10 + int(random() % unsigned(size.height() * 7 / 10)),
                      size.width() / 3, size.height() / 20);
    painter.drawText(where, Qt::AlignLeft | Qt::AlignVCenter, text);
    return image;
}

QImage codePage(Code kind, const std::string &text, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(kPaper);
    QPainter painter(&image);
    const int side = size.width() * (kind == Code::Qr ? 2 : 3) / 5;
    const QRect box((size.width() - side) / 2, size.height() / 3, side, kind == Code::Qr ? side : side / 3);
    if (!drawCode(painter, kind, text, box))
        return QImage();
    return image;
}

QImage formWithCode(Code kind, const std::string &text, QSize size)
{
    QImage image = textPage(unsigned(text.size()) + 101u, size, 8).image;
    QPainter painter(&image);
    const int side = size.width() / 4;
    const QRect box(size.width() - side - size.width() / 12, size.height() - side - size.height() / 12,
                    side, kind == Code::Qr ? side : side / 3);
    if (!drawCode(painter, kind, text, box))
        return QImage();
    return image;
}

cv::Mat photograph(const QImage &page, cv::Size frame, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const QImage rgb = page.convertToFormat(QImage::Format_RGB888);
    cv::Mat sheet(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar *>(rgb.constBits()),
                  size_t(rgb.bytesPerLine()));
    cv::Mat bgr;
    cv::cvtColor(sheet, bgr, cv::COLOR_RGB2BGR);

    // The sheet covers most of the frame's height, turned by up to 4 degrees.
    const double scale = std::min(frame.width * 0.86 / bgr.cols, frame.height * 0.9 / bgr.rows);
    const double angle = (unit(random) - 0.5) * 8.0;
    cv::Mat toFrame = cv::getRotationMatrix2D(cv::Point2f(bgr.cols / 2.0f, bgr.rows / 2.0f), angle, scale);
    toFrame.at<double>(0, 2) += frame.width / 2.0 - bgr.cols / 2.0;
    toFrame.at<double>(1, 2) += frame.height / 2.0 - bgr.rows / 2.0;
    cv::Mat shot(frame, CV_8UC3, cv::Scalar(34, 30, 28));
    cv::warpAffine(bgr, shot, toFrame, frame, cv::INTER_AREA, cv::BORDER_TRANSPARENT);

    // Light from one corner, then the sensor's noise and the lens' softness.
    cv::Mat light(frame, CV_32F);
    const double fall = 0.12 + 0.08 * unit(random);
    for (int y = 0; y < frame.height; ++y) {
        float *row = light.ptr<float>(y);
        for (int x = 0; x < frame.width; ++x)
            row[x] = float(1.0 - fall * (double(x) / frame.width + double(y) / frame.height) / 2.0);
    }
    cv::Mat lit;
    shot.convertTo(lit, CV_32FC3);
    cv::Mat light3;
    cv::merge(std::vector<cv::Mat>{light, light, light}, light3);
    cv::multiply(lit, light3, lit);
    cv::Mat noise(frame, CV_32FC3);
    cv::randn(noise, cv::Scalar::all(0.0), cv::Scalar::all(4.0));
    lit += noise;
    lit.convertTo(shot, CV_8UC3);
    cv::GaussianBlur(shot, shot, cv::Size(0, 0), 0.8);
    return shot;
}

QImage throughJpeg(const QImage &page, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    page.save(&buffer, "jpg", quality);
    return QImage::fromData(bytes, "jpg").convertToFormat(QImage::Format_RGB32);
}

int editDistance(const QString &truth, const QString &read)
{
    const QVector<uint> a = truth.toUcs4();
    const QVector<uint> b = read.toUcs4();
    std::vector<int> row(size_t(b.size()) + 1);
    for (int j = 0; j <= b.size(); ++j)
        row[size_t(j)] = j;
    for (int i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= b.size(); ++j) {
            const int above = row[size_t(j)];
            row[size_t(j)] = std::min({above + 1, row[size_t(j - 1)] + 1,
                                       diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[size_t(b.size())];
}

} // namespace pagemaker
