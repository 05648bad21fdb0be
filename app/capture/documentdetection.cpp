// Placeholder until the document pipeline lands: frames pass unchanged.
#include "imageprocessing.h"

std::vector<cv::RotatedRect> ImageProcessing::findSquares(const cv::Mat &) { return {}; }

std::vector<cv::RotatedRect> ImageProcessing::handleMat(const cv::Mat &src, cv::Mat &dst, bool)
{
    dst = src;
    return {};
}

QImage ImageProcessing::cutOutDocument(const cv::Mat &, const cv::RotatedRect &) { return {}; }
QImage ImageProcessing::cutOutFace(const cv::Mat &) { return {}; }
void ImageProcessing::toWhiteBackgroup(const cv::Mat &src, cv::Mat &dst) { dst = src; }
void ImageProcessing::takePhoto() {}
bool ImageProcessing::takePhotoByWeb(QString, int, int, int) { return true; }
QString ImageProcessing::takePhotoByWebBase64(int, int, int) { return {}; }
QString ImageProcessing::fileToBase64(QString) { return {}; }
QString ImageProcessing::image2Data(QImage) { return {}; }
std::string ImageProcessing::Mat2Base64(const cv::Mat &) { return {}; }
std::string ImageProcessing::base64Encode(const unsigned char *, int) { return {}; }
