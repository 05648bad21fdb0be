// The built program started as a process: no camera, and a second start.
#include "testenv.h"
#include "virtualcameras.h"

#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QProcess *startStation(const QString &workDir, const QString &virtualCameras)
{
    auto *process = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("DOCSTATION_WARNINGS_TO_STDERR"), QStringLiteral("1"));
    env.insert(QStringLiteral("HOME"), workDir);
    if (virtualCameras.isEmpty())
        env.remove(QStringLiteral("DOCSTATION_VIRTUAL_CAMERAS"));
    else
        env.insert(QStringLiteral("DOCSTATION_VIRTUAL_CAMERAS"), virtualCameras);
    process->setProcessEnvironment(env);
    process->setWorkingDirectory(workDir);
    process->start(testenv::appDir() + QStringLiteral("/docstation"), QStringList());
    return process;
}

bool stationListening()
{
    QLocalSocket probe;
    probe.connectToServer(QStringLiteral("docstation"));
    return probe.waitForConnected(200);
}

TEST(SingleInstance, WithoutAnyCameraTheStationSaysSoAndExits)
{
    QTemporaryDir dir;
    std::unique_ptr<QProcess> station(startStation(dir.path(), QString()));
    ASSERT_TRUE(station->waitForFinished(20000));
    EXPECT_EQ(station->exitCode(), 255);
    EXPECT_TRUE(QString::fromLocal8Bit(station->readAllStandardError())
                    .contains(QStringLiteral("警告: 未检测到设备，请检查设备是否已经连接！")));
}

TEST(SingleInstance, SecondStartReportsTheRunningOneAndExits)
{
    if (VirtualCameras::parse(QStringLiteral("synthetic")).isEmpty())
        GTEST_SKIP() << "this build has no synthetic camera";
    QTemporaryDir dir;
    std::unique_ptr<QProcess> first(startStation(dir.path(), QStringLiteral("synthetic")));
    ASSERT_TRUE(first->waitForStarted(5000));
    ASSERT_TRUE(testenv::waitFor([] { return stationListening(); }, 20000))
        << first->readAllStandardError().constData();

    std::unique_ptr<QProcess> second(startStation(dir.path(), QStringLiteral("synthetic")));
    ASSERT_TRUE(second->waitForFinished(20000));
    EXPECT_EQ(second->exitCode(), 255);
    const QString errors = QString::fromLocal8Bit(second->readAllStandardError());
    EXPECT_TRUE(errors.contains(QStringLiteral("docstation already running.")));
    EXPECT_TRUE(errors.contains(QStringLiteral("警告: Program already running！")));
    EXPECT_EQ(first->state(), QProcess::Running) << "the first station keeps running";

    first->terminate();
    if (!first->waitForFinished(5000))
        first->kill();
    first->waitForFinished(2000);
}

} // namespace
