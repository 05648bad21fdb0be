// correct_image from a 1600 x 1200 raw frame into the sensor's nominal size,
// for each interpolation, beside cv::remap with the same fixed-point maps,
// single-threaded, in the same run. Also the map rebuild after a dpi change.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "correct/correct.h"

#ifdef FPCAP_BENCH_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int RAW_W = 1600, RAW_H = 1200;

std::vector<uint8_t> raw_fingerprint()
{
    std::vector<uint8_t> f(size_t(RAW_W) * RAW_H);
    for (int y = 0; y < RAW_H; ++y)
        for (int x = 0; x < RAW_W; ++x) {
            const double r = std::hypot(x - 800.0, (y - 560.0) * 1.25);
            f[size_t(y) * RAW_W + x] = uint8_t(128 + 90 * std::sin(r * 2 * M_PI / 18.0));
        }
    return f;
}

double median(std::vector<double> &t)
{
    std::nth_element(t.begin(), t.begin() + t.size() / 2, t.end());
    return t[t.size() / 2];
}

double time_us(const std::function<void()> &fn)
{
    const auto a = std::chrono::steady_clock::now();
    fn();
    const auto b = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::micro>(b - a).count();
}

// Runs both alternately so that load from elsewhere hits them alike.
void median_pair_us(int runs, const std::function<void()> &a, const std::function<void()> &b,
                    double &ta, double &tb)
{
    std::vector<double> va, vb;
    for (int i = 0; i < runs + 5; ++i) {
        const double x = time_us(a), y = b ? time_us(b) : 0.0;
        if (i >= 5) { // warm-up
            va.push_back(x);
            vb.push_back(y);
        }
    }
    ta = median(va);
    tb = median(vb);
}

CorrectContext *make_context(int quality, int tw, int th)
{
    CorrectContext *c = nullptr;
    if (correct_init(&c) != 0)
        std::exit(1);
    correct_quality(c, quality);
    correct_perspective(c, 6, 3, 5, 2);
    correct_option(c, 0, 0, 0, 0, 0, 0);
    correct_size_origin(c, RAW_W, RAW_H);
    correct_grid(c, 330, 180, 1290, 150, 300, 1030, 1330, 1070);
    if (correct_size_target(c, tw, th) != 0)
        std::exit(1);
    return c;
}

} // namespace

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 300;
    const int tw = argc > 3 ? std::atoi(argv[2]) : 256, th = argc > 3 ? std::atoi(argv[3]) : 360;
    const std::vector<uint8_t> source = raw_fingerprint();
    std::vector<uint8_t> raw = source, out(size_t(tw) * th);
    const char *names[3] = {"nearest", "bilinear", "bicubic"};
    std::printf("correct_image 1600x1200 -> %dx%d, median of %d runs\n", tw, th, runs);
#ifdef FPCAP_BENCH_HAVE_OPENCV
    cv::setNumThreads(1);
    const cv::Mat src(RAW_H, RAW_W, CV_8UC1, const_cast<uint8_t *>(source.data()));
    const int modes[3] = {cv::INTER_NEAREST, cv::INTER_LINEAR, cv::INTER_CUBIC};
#endif
    for (int q = 0; q < 3; ++q) {
        CorrectContext *c = make_context(q, tw, th);
        const auto ours_fn = [&] { correct_image(c, raw.data(), out.data()); };
        double ours = 0, peer = 0;
#ifdef FPCAP_BENCH_HAVE_OPENCV
        // The same sampling points as float maps, converted to OpenCV's
        // fixed-point representation (what remap runs fastest on).
        cv::Mat mx(th, tw, CV_32FC1), my(th, tw, CV_32FC1);
        for (int y = 0; y < th; ++y)
            for (int x = 0; x < tw; ++x) {
                const size_t i = size_t(y) * tw + x;
                const int off = c->offsetMap[i];
                mx.at<float>(y, x) = float(off % RAW_W) + c->fracX[i] / 256.0f;
                my.at<float>(y, x) = float(off / RAW_W) + c->fracY[i] / 256.0f;
            }
        cv::Mat m1, m2, dst;
        cv::convertMaps(mx, my, m1, m2, CV_16SC2, modes[q] == cv::INTER_NEAREST);
        median_pair_us(runs, ours_fn, [&] {
            cv::remap(src, dst, m1, m2, modes[q], cv::BORDER_CONSTANT, cv::Scalar(10));
        }, ours, peer);
        std::printf("  %-8s correct_image %8.1f us   cv::remap %8.1f us   ratio %.2fx", names[q],
                    ours, peer, ours / peer);
#else
        median_pair_us(runs, ours_fn, nullptr, ours, peer);
        std::printf("  %-8s correct_image %8.1f us", names[q], ours);
#endif
        std::printf("\n");
        correct_free(c);
    }

    CorrectContext *c = make_context(CORRECT_NEAREST, tw, th);
    int flip = 0;
    double rebuild = 0, unused = 0;
    median_pair_us(std::max(20, runs / 10), [&] {
        // dpi 500 <-> 250 halves the target size
        flip ^= 1;
        correct_size_target(c, flip ? tw / 2 : tw, flip ? th / 2 : th);
    }, nullptr, rebuild, unused);
    std::printf("map rebuild after a dpi change (%dx%d <-> %dx%d): %.1f us\n", tw, th, tw / 2,
                th / 2, rebuild);
    correct_free(c);
    return 0;
}
