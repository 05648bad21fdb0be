#include "documentdetection.h"

#include "anytabledetection.h"
#include "cache.h"
#include "config.h"
#include "imageprocessing.h"
#include "pipelinestate.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <utility>

namespace documentdetection {

namespace {

constexpr double kThreshold = 60.0;

std::vector<Candidate> candidatesOfGrey(const cv::Mat &grey)
{
    cv::Mat binary;
    cv::threshold(grey, binary, kThreshold, 255.0, cv::THRESH_BINARY);
    std::vector<std::vector<cv::Point>> contours;
    std::vector<cv::Vec4i> hierarchy;
    cv::findContours(binary, contours, hierarchy, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE,
                     cv::Point(0, 0));
    std::vector<Candidate> found;
    found.reserve(contours.size());
    for (std::vector<cv::Point> &outline : contours) {
        const cv::RotatedRect rect = cv::minAreaRect(outline);
        found.push_back({rect, std::move(outline)});
    }
    return found;
}

float areaOf(const cv::RotatedRect &rect) { return rect.size.width * rect.size.height; }

} // namespace

std::vector<Candidate> candidates(const cv::Mat &image)
{
    if (Cache::config && Cache::config->anyTable)
        return anytabledetection::candidates(image);
    if (image.channels() == 1)
        return candidatesOfGrey(image);
    cv::Mat grey;
    cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
    return candidatesOfGrey(grey);
}

float minDocumentArea(int reduction)
{
    return reduction > 1 ? kMinDocumentArea / float(reduction * reduction) : kMinDocumentArea;
}

int reducedLength(int length, int reduction)
{
    return reduction > 1 ? std::max(1, (length + reduction / 2) / reduction) : length;
}

Documents keepDocuments(std::vector<Candidate> found, int reduction)
{
    Documents documents;
    const float minArea = minDocumentArea(reduction);
    int maxArea = 0;
    for (Candidate &candidate : found) {
        const float area = areaOf(candidate.rect);
        if (!(area > minArea))
            continue;
        if (area > float(maxArea)) {
            documents.largest = candidate.rect;
            maxArea = int(area);
            documents.largestOutline = candidate.outline;
        }
        documents.kept.push_back(candidate.rect);
        documents.outlines.push_back(std::move(candidate.outline));
    }
    return documents;
}

std::vector<cv::RotatedRect> resultFor(const Documents &documents, int correction)
{
    if (correction == 1)
        return {documents.largest};
    if (correction == 2)
        return documents.kept;
    return {};
}

void uprightAngleAndSize(const cv::RotatedRect &rect, double &angle, int &width, int &height)
{
    angle = rect.angle;
    width = cvRound(rect.size.width);
    height = cvRound(rect.size.height);
    // Older libraries report -90..0, newer ones 0..90; either way the
    // rectangle is turned by at most 45 degrees, swapping its sides when a
    // quarter turn is taken off.
    while (angle < -45.0) {
        angle += 90.0;
        std::swap(width, height);
    }
    while (angle > 45.0) {
        angle -= 90.0;
        std::swap(width, height);
    }
}

cv::Mat cutOut(const cv::Mat &processed, const cv::RotatedRect &rect)
{
    double angle = 0.0;
    int width = 0;
    int height = 0;
    uprightAngleAndSize(rect, angle, width, height);
    if (width <= 0 || height <= 0 || processed.empty())
        return cv::Mat();
    cv::Mat straight;
    if (angle == 0.0) {
        // The identity warp would copy the picture pixel for pixel.
        straight = processed;
    } else {
        const cv::Mat rotation = cv::getRotationMatrix2D(rect.center, angle, 1.0);
        cv::warpAffine(processed, straight, rotation, processed.size(), cv::INTER_CUBIC,
                       cv::BORDER_CONSTANT, cv::Scalar(255, 255, 255));
    }
    cv::Mat document;
    cv::getRectSubPix(straight, cv::Size(width, height), rect.center, document);
    return document;
}

} // namespace documentdetection

namespace {

using documentdetection::kMinDocumentArea;

constexpr int kOutlineThickness = 10;

constexpr int kThresholdBlock = 25;

// The threshold's neighbourhood covers the same part of the page on a
// reduced picture: odd, at least 3.
int thresholdBlock(int reduction)
{
    const int block = documentdetection::reducedLength(kThresholdBlock, reduction);
    return std::max(3, block | 1);
}

cv::Mat blackAndWhite(const cv::Mat &grey, double constant, int reduction)
{
    cv::Mat binary;
    cv::adaptiveThreshold(grey, binary, 255.0, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY,
                          thresholdBlock(reduction), constant);
    cv::Mat threeChannels;
    cv::cvtColor(binary, threeChannels, cv::COLOR_GRAY2BGR);
    return threeChannels;
}

bool isSealHue(uchar hue) { return hue < 16 || (hue >= 125 && hue <= 180); }

// Black-and-white page on which red ink keeps showing, in pure red.
// Adding the black-and-white picture to the source with saturation gives
// white where the threshold is white and the source elsewhere; white is
// never red, and elsewhere the sum's hue, saturation and value are the
// source's own. So the source's HSV decides, in one pass, with no sum.
cv::Mat keepRedSeals(const cv::Mat &src, const cv::Mat &grey, int reduction)
{
    cv::Mat binary;
    cv::adaptiveThreshold(grey, binary, 255.0, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY,
                          thresholdBlock(reduction), 40.0);
    cv::Mat hsv;
    cv::cvtColor(src, hsv, cv::COLOR_BGR2HSV);
    cv::Mat out(src.size(), CV_8UC3);
    cv::parallel_for_(cv::Range(0, src.rows), [&](const cv::Range &rows) {
        for (int row = rows.start; row < rows.end; ++row) {
            const uchar *bw = binary.ptr<uchar>(row);
            const cv::Vec3b *h = hsv.ptr<cv::Vec3b>(row);
            const cv::Vec3b *in = src.ptr<cv::Vec3b>(row);
            cv::Vec3b *o = out.ptr<cv::Vec3b>(row);
            for (int col = 0; col < src.cols; ++col) {
                if (bw[col])
                    o[col] = cv::Vec3b(255, 255, 255);
                else if (isSealHue(h[col][0]) && h[col][2] > 45 && h[col][1] > 42)
                    o[col] = cv::Vec3b(0, 0, 255);
                else
                    o[col] = in[col];
            }
        }
    });
    return out;
}


void drawFace(cv::Mat &dst, const cv::Rect &face, int thickness)
{
    const cv::Scalar blue(255, 0, 0);
    const cv::Point topLeft(face.x, face.y);
    const cv::Point topRight(face.x + face.width, face.y);
    const cv::Point bottomLeft(face.x, face.y + face.height);
    const cv::Point bottomRight(face.x + face.width, face.y + face.height);
    cv::line(dst, topLeft, topRight, blue, thickness, cv::LINE_8);
    cv::line(dst, topLeft, bottomLeft, blue, thickness, cv::LINE_8);
    cv::line(dst, bottomLeft, bottomRight, blue, thickness, cv::LINE_8);
    cv::line(dst, topRight, bottomRight, blue, thickness, cv::LINE_8);
}

// Drawing must never reach the caller's frame, which other threads may hold,
// nor the grey picture when face detection still reads it.
void ownPixels(cv::Mat &dst, const cv::Mat &src, const cv::Mat &grey, bool greyStillRead)
{
    if (dst.data == src.data || (greyStillRead && dst.data == grey.data))
        dst = dst.clone();
}

} // namespace

void documentdetection::drawOutlines(cv::Mat &dst, const std::vector<cv::RotatedRect> &detections,
                                     int correction, bool rgbOrder, int reduction)
{
    const cv::Scalar red = rgbOrder ? cv::Scalar(255, 0, 0) : cv::Scalar(0, 0, 255);
    const cv::Scalar colour = correction == 1 ? cv::Scalar(0, 255, 0) : red;
    const float minArea = minDocumentArea(reduction);
    const int thickness = reducedLength(kOutlineThickness, reduction);
    for (const cv::RotatedRect &rect : detections) {
        if (!(rect.size.width * rect.size.height > minArea))
            continue;
        cv::Point2f corners[4];
        rect.points(corners);
        for (int i = 0; i < 4; ++i) {
            const cv::Point from(cvRound(corners[i].x), cvRound(corners[i].y));
            const cv::Point to(cvRound(corners[(i + 1) % 4].x), cvRound(corners[(i + 1) % 4].y));
            cv::line(dst, from, to, colour, thickness, cv::LINE_8, 0);
        }
    }
}

std::vector<cv::RotatedRect> ImageProcessing::findSquares(const cv::Mat &image)
{
    documentdetection::Documents documents =
        documentdetection::keepDocuments(documentdetection::candidates(image));
    const std::vector<cv::RotatedRect> result = documentdetection::resultFor(documents, correction);
    pipelinestate::publishDocuments(*this, std::move(documents));
    return result;
}

namespace {

// Outlines found on a reduced picture, in the camera's own pixels as the
// ones found on a full frame are.
void toFullSize(documentdetection::Documents &documents, int reduction)
{
    if (reduction <= 1)
        return;
    for (std::vector<cv::Point> &outline : documents.outlines)
        for (cv::Point &point : outline)
            point *= reduction;
    for (cv::Point &point : documents.largestOutline)
        point *= reduction;
}

} // namespace

std::vector<cv::RotatedRect> ImageProcessing::handleMat(const cv::Mat &src, cv::Mat &dst, bool live,
                                                        int reduction)
{
    const Config &config = *Cache::config;
    const int correctionNow = correction;
    const int shootTypeNow = shootType;
    const bool faceMode = config.cameraIndex == 0 && config.gnRenlian && !faceClassifier.empty();
    reduction = std::max(1, reduction);

    cv::Mat grey;
    auto greyPicture = [&]() -> const cv::Mat & {
        if (grey.empty()) {
            if (src.channels() == 1)
                grey = src;
            else
                cv::cvtColor(src, grey, cv::COLOR_BGR2GRAY);
        }
        return grey;
    };

    std::vector<cv::RotatedRect> detections;
    if (correctionNow != 0) {
        // Sheets on any table are told from it by their colour too.
        const cv::Mat &detectedOn = config.anyTable ? src : greyPicture();
        documentdetection::Documents documents = documentdetection::keepDocuments(
            documentdetection::candidates(detectedOn), reduction);
        detections = documentdetection::resultFor(documents, correctionNow);
        toFullSize(documents, reduction);
        pipelinestate::publishDocuments(*this, std::move(documents));
    }

    const bool blackWhite =
        shootTypeNow == 2 || (!live && config.correctionMode == 3 && shootTypeNow == 1);
    if (blackWhite)
        dst = blackAndWhite(greyPicture(), 50.0, reduction);
    else if (shootTypeNow == 3)
        dst = keepRedSeals(src, greyPicture(), reduction);
    else if (shootTypeNow == 1)
        dst = greyPicture();
    else
        dst = src;

    if (live && !detections.empty()) {
        ownPixels(dst, src, grey, faceMode);
        documentdetection::drawOutlines(dst, detections, correctionNow, false, reduction);
    }

    if (faceMode) {
        const int smallest = documentdetection::reducedLength(500, reduction);
        const int largest = documentdetection::reducedLength(1000, reduction);
        const std::vector<cv::Rect> faces =
            detectFaces(greyPicture(), cv::Size(smallest, smallest), cv::Size(largest, largest));
        if (!faces.empty() && dst.data == src.data)
            dst = src.clone();
        // The face region belongs to the frame it was found on, in the
        // camera's own pixels whatever scale the picture was decoded at.
        if (faces.empty())
            setObjectFace(cv::Rect());
        for (const cv::Rect &face : faces) {
            const cv::Rect full(face.x * reduction, face.y * reduction, face.width * reduction,
                                face.height * reduction);
            setObjectFace(cv::Rect(full.x - 200, full.y - 200, full.width + 400, full.height + 400));
            drawFace(dst, face, documentdetection::reducedLength(kOutlineThickness, reduction));
        }
    }
    return detections;
}

QImage ImageProcessing::cutOutDocument(const cv::Mat &processed, const cv::RotatedRect &rect)
{
    const cv::Mat document = documentdetection::cutOut(processed, rect);
    if (document.empty())
        return QImage();
    return handleQImage(MatQImage(document));
}

QImage ImageProcessing::cutOutFace(const cv::Mat &processed)
{
    const cv::Rect face = objectFaceNow();
    const cv::RotatedRect region(cv::Point2f(float(face.x + face.width / 2),
                                             float(face.y + face.height / 2)),
                                 cv::Size2f(float(face.width), float(face.height)), 0.0f);
    return cutOutDocument(processed, region);
}
