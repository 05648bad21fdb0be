#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// The one sound recorder of the program: "arecord" writing a WAV file. It is
// stopped the way a person stops it at the terminal, so it finishes the
// file's header; only a recorder that hangs is killed.
class SoundRecorder
{
public:
    SoundRecorder();
    ~SoundRecorder();
    SoundRecorder(const SoundRecorder &) = delete;
    SoundRecorder &operator=(const SoundRecorder &) = delete;

    static QString program();
    static QStringList arguments(const QString &path);

    // Starts recording into `path`; false, with errorText() saying why, when
    // the recorder does not start or gives up at once (no sound device).
    bool start(const QString &path);
    // Ends the recording: SIGINT, then SIGTERM, each waited for a bounded
    // time, then SIGKILL. True when the recorder finished by itself and left
    // a file; errorText() says what went wrong otherwise.
    bool stop();
    bool isRunning() const;
    QString path() const { return outputPath; }
    QString errorText() const { return error; }

    // How long stop() waits after each request to finish.
    static constexpr int finishWaitMs = 3000;
    // How long start() watches for a recorder that gives up at once.
    static constexpr int startWatchMs = 150;

private:
    bool signalAndWait(int signalNumber, int waitMs);

    QProcess process;
    QString outputPath;
    QString error;
};
