// The lab's MJPG camera: sets a v4l2loopback node's output to MJPG at a size
// and rate and writes the scene's JPEG frames into it, numbered from 0, until
// it is terminated. On SIGUSR1 the next three frames are hostile ones
// (truncated, garbage, a huge header), whose numbers are skipped.
//   lab_mjpgproducer /dev/videoN WIDTHxHEIGHT FPS
#include "mjpgscene.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;
volatile std::sig_atomic_t hostileRequested = 0;

void requestStop(int) { stopRequested = 1; }
void requestHostile(int) { hostileRequested = 1; }

const labmjpg::Hostile kHostileKinds[] = {labmjpg::Hostile::Truncated, labmjpg::Hostile::Garbage,
                                          labmjpg::Hostile::Huge};

bool setOutputFormat(int fd, cv::Size size, int fps)
{
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    format.fmt.pix.width = unsigned(size.width);
    format.fmt.pix.height = unsigned(size.height);
    format.fmt.pix.pixelformat = V4L2_PIX_FMT_MJPEG;
    format.fmt.pix.field = V4L2_FIELD_NONE;
    format.fmt.pix.sizeimage = unsigned(size.width * size.height * 2);
    if (ioctl(fd, VIDIOC_S_FMT, &format) < 0) {
        std::perror("producer: VIDIOC_S_FMT");
        return false;
    }
    v4l2_streamparm rate{};
    rate.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    rate.parm.output.timeperframe.numerator = 1;
    rate.parm.output.timeperframe.denominator = unsigned(fps);
    if (ioctl(fd, VIDIOC_S_PARM, &rate) < 0) {
        std::perror("producer: VIDIOC_S_PARM");
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    int width = 0, height = 0;
    if (argc != 4 || std::sscanf(argv[2], "%dx%d", &width, &height) != 2 || std::atoi(argv[3]) <= 0) {
        std::fprintf(stderr, "usage: %s /dev/videoN WIDTHxHEIGHT FPS\n", argv[0]);
        return 2;
    }
    const cv::Size size(width, height);
    const int fps = std::atoi(argv[3]);
    std::signal(SIGTERM, requestStop);
    std::signal(SIGINT, requestStop);
    std::signal(SIGUSR1, requestHostile);

    const int fd = open(argv[1], O_RDWR);
    if (fd < 0) {
        std::perror("producer: open");
        return 1;
    }
    if (!setOutputFormat(fd, size, fps))
        return 1;
    const auto interval = std::chrono::microseconds(1000000 / fps);
    auto due = std::chrono::steady_clock::now();
    int hostileLeft = 0;
    for (long number = 0; !stopRequested; ++number) {
        if (hostileRequested) {
            hostileRequested = 0;
            hostileLeft = 3;
        }
        const bool hostile = hostileLeft > 0;
        const std::vector<uchar> bytes = hostile ? labmjpg::hostileFrame(kHostileKinds[3 - hostileLeft--], size)
                                                 : labmjpg::goodFrame(size, number);
        if (write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) {
            std::perror("producer: write");
            return 1;
        }
        std::printf("producer: frame %ld%s\n", number, hostile ? " (hostile)" : "");
        std::fflush(stdout);
        // Never faster than the rate; when encoding is slower, as fast as it goes.
        due = std::max(due + interval, std::chrono::steady_clock::now());
        std::this_thread::sleep_until(due);
    }
    close(fd);
    return 0;
}
