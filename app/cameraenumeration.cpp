#include "cameraenumeration.h"

#include <QDebug>
#include <QFile>

#include <cstdio>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

class SystemV4l2 : public V4l2Api
{
public:
    int open(const QString &path) override
    {
        return ::open(QFile::encodeName(path).constData(), O_RDWR);
    }
    int queryCap(int fd, v4l2_capability *cap) override { return ::ioctl(fd, VIDIOC_QUERYCAP, cap); }
    int enumFormat(int fd, v4l2_fmtdesc *desc) override { return ::ioctl(fd, VIDIOC_ENUM_FMT, desc); }
    int enumFrameSizes(int fd, v4l2_frmsizeenum *size) override
    {
        return ::ioctl(fd, VIDIOC_ENUM_FRAMESIZES, size);
    }
    void close(int fd) override { ::close(fd); }
};

void addUsableSizes(V4l2Api &api, int fd, CameraInfo &info)
{
    v4l2_fmtdesc desc{};
    desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (desc.index = 0; api.enumFormat(fd, &desc) == 0; ++desc.index) {
        v4l2_frmsizeenum size{};
        size.pixel_format = desc.pixelformat;
        for (size.index = 0; api.enumFrameSizes(fd, &size) == 0; ++size.index) {
            const QSize s(int(size.discrete.width), int(size.discrete.height));
            if (s.width() > 1279 && !info.resolutions.contains(s))
                info.resolutions.append(s);
        }
    }
}

} // namespace

V4l2Api &V4l2Api::system()
{
    static SystemV4l2 api;
    return api;
}

QList<CameraInfo> enumerateCameras(V4l2Api &api)
{
    QList<CameraInfo> cameras;
    QList<QString> acceptedNames;
    for (int n = 0;; ++n) {
        CameraInfo info;
        info.index = n;
        info.devicePath = QStringLiteral("/dev/video") + QString::number(n);
        const int fd = api.open(info.devicePath);
        if (fd < 0) {
            qDebug() << "open" << info.devicePath << "error";
            break;
        }
        v4l2_capability cap{};
        if (api.queryCap(fd, &cap) < 0) {
            perror("ioctl VIDIOC_QUERYCAP");
            api.close(fd);
            break;
        }
        if (!(cap.capabilities & V4L2_CAP_VIDEO_CAPTURE)) {
            printf("open file is not video\n");
            fflush(stdout);
            api.close(fd);
            break;
        }
        info.name = QString::fromUtf8(reinterpret_cast<const char *>(cap.card),
                                      int(qstrnlen(reinterpret_cast<const char *>(cap.card),
                                                   sizeof cap.card)));
        qDebug() << "Driver    Name: %s\n" << info.name;
        if (acceptedNames.contains(info.name)) {
            api.close(fd);
            continue;
        }
        acceptedNames.append(info.name);
        addUsableSizes(api, fd, info);
        api.close(fd);
        cameras.append(info);
        qDebug() << n << info.devicePath;
    }
    return cameras;
}
