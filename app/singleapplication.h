#pragma once

#include <QApplication>
#include <QString>

class QLocalServer;
class QWidget;

// A QApplication that finds an already running instance through a local
// socket named after the executable.
class SingleApplication : public QApplication
{
    Q_OBJECT
public:
    SingleApplication(int &argc, char **argv);

    bool isRunning();

    QWidget *window;
    bool running;
    QLocalServer *localServer;
    QString serverName;

private slots:
    void _newLocalConnection();

private:
    void _initLocalConnection();
    void _newLocalServer();
    void _activateWindow();
};
