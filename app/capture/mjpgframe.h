#pragma once

#include <QString>

#include <opencv2/core.hpp>

// Turns a camera's compressed MJPG frame (the JPEG bytes of one frame, as a
// single row of CV_8U) into the BGR picture the capture path works on.
// False and an empty image when the bytes are not a picture; a decoder
// error is logged, never thrown, whichever thread decodes.
bool decodeMjpgFrame(const cv::Mat &compressed, cv::OutputArray image);

// The same at 1/reduction of the full size (reduction 1, 2, 4 or 8; libjpeg
// scales while it decodes, which costs a fraction of a full decode).
bool decodeMjpgFrame(const cv::Mat &compressed, cv::OutputArray image, int reduction);

// The picture size written in a JPEG's frame header; empty when there is none.
cv::Size mjpgFrameSize(const cv::Mat &compressed);

// Why a camera's MJPG frame must not be decoded, or an empty text when it may:
// bytes that are no JPEG, a JPEG cut short (no end-of-image marker), or a
// header size other than the `negotiated` one (a broken or hostile camera
// could otherwise make every decode allocate and fill a huge picture).
QString mjpgFrameProblem(const cv::Mat &compressed, cv::Size negotiated);

// Size of a `full` picture decoded at 1/reduction (libjpeg rounds up).
cv::Size reducedSize(cv::Size full, int reduction);

// The largest reduction (8, 4, 2, then 1) whose picture of `full` still
// covers `needed` in both directions. An empty `needed` means nobody said
// what is shown: full size.
int reductionFor(cv::Size full, cv::Size needed);

// The JPEG bytes of a BGR picture as a camera's MJPG frame: one row of CV_8U.
// False and an empty frame when encoding fails.
bool encodeMjpgFrame(const cv::Mat &picture, int quality, cv::Mat &compressed);
