#pragma once

#include <opencv2/core.hpp>

// Turns a camera's compressed MJPG frame (the JPEG bytes of one frame, as a
// single row of CV_8U) into the BGR picture the capture path works on.
// False and an empty image when the bytes are not a picture.
bool decodeMjpgFrame(const cv::Mat &compressed, cv::OutputArray image);

// The JPEG bytes of a BGR picture as a camera's MJPG frame: one row of CV_8U.
// False and an empty frame when encoding fails.
bool encodeMjpgFrame(const cv::Mat &picture, int quality, cv::Mat &compressed);
