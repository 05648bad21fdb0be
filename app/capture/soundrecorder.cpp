#include "soundrecorder.h"

#include <QDebug>
#include <QFileInfo>

#include <csignal>
#include <sys/types.h>

SoundRecorder::SoundRecorder()
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
}

SoundRecorder::~SoundRecorder()
{
    if (isRunning())
        stop();
}

QString SoundRecorder::program()
{
    return QStringLiteral("arecord");
}

QStringList SoundRecorder::arguments(const QString &path)
{
    return {QStringLiteral("-D"), QStringLiteral("hw:2,0"), QStringLiteral("-c1"),
            QStringLiteral("-r16000"), QStringLiteral("-fS16_LE"), path};
}

bool SoundRecorder::isRunning() const
{
    return process.state() != QProcess::NotRunning;
}

bool SoundRecorder::start(const QString &path)
{
    if (isRunning())
        stop();
    outputPath = path;
    error.clear();
    process.start(program(), arguments(path), QIODevice::ReadOnly);
    if (!process.waitForStarted()) {
        error = QStringLiteral("录音程序无法启动：%1").arg(process.errorString());
        qDebug() << "sound recorder not started:" << process.errorString();
        return false;
    }
    // A recorder without a sound device ends within moments of starting.
    if (process.waitForFinished(startWatchMs)) {
        error = QStringLiteral("录音设备无法打开（退出码 %1）").arg(process.exitCode());
        qDebug() << "sound recorder ended at once with" << process.exitCode();
        return false;
    }
    return true;
}

bool SoundRecorder::signalAndWait(int signalNumber, int waitMs)
{
    const qint64 pid = process.processId();
    if (pid > 0)
        ::kill(pid_t(pid), signalNumber);
    return process.waitForFinished(waitMs);
}

bool SoundRecorder::stop()
{
    if (!isRunning()) {
        // Ended on its own (a device unplugged): what it wrote is complete.
        if (QFileInfo(outputPath).size() > 0)
            return true;
        error = QStringLiteral("录音文件未能保存：%1").arg(outputPath);
        return false;
    }
    bool finished = signalAndWait(SIGINT, finishWaitMs) || signalAndWait(SIGTERM, finishWaitMs);
    if (!finished) {
        qDebug() << "sound recorder hangs; killed";
        process.kill();
        process.waitForFinished(finishWaitMs);
        error = QStringLiteral("录音程序没有响应，录音文件可能不完整：%1").arg(outputPath);
        return false;
    }
    if (QFileInfo(outputPath).size() <= 0) {
        error = QStringLiteral("录音文件未能保存：%1").arg(outputPath);
        return false;
    }
    return true;
}
