#include "guestkernel.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

namespace guestkernel {

bool inGuest()
{
    return !qEnvironmentVariableIsEmpty("LAB_MODULES");
}

static bool modprobe(QStringList arguments)
{
    arguments.prepend(qEnvironmentVariable("LAB_MODULES"));
    arguments.prepend(QStringLiteral("-d"));
    int exitCode = -1;
    run(QStringLiteral("modprobe"), arguments, &exitCode);
    return exitCode == 0;
}

bool load(const QString &module, const QStringList &parameters)
{
    return modprobe(QStringList{module} + parameters);
}

bool unload(const QString &module)
{
    return modprobe({QStringLiteral("-r"), module});
}

QString run(const QString &program, const QStringList &arguments, int *exitCode)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(60000);
    const int code = finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    if (exitCode)
        *exitCode = code;
    return code == 0 ? QString::fromUtf8(process.readAllStandardOutput()) : QString();
}

bool writeFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    return file.write(text) == text.size();
}

bool waitForPath(const QString &path, int timeoutMs, bool present)
{
    QDeadlineTimer deadline(timeoutMs);
    while (QFileInfo::exists(path) != present) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

} // namespace guestkernel
