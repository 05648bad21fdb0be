#pragma once

#include "qxident.h"

#include <QDialog>
#include <QImage>
#include <QList>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>

class CardReaderWorker;
class QAction;
class QCloseEvent;
class QMenu;
struct CardReading;

namespace Ui {
class IDCardDialog;
}

// The window onto the identity-card reader: polls the first USB reader while
// shown, lays out the card's fields and photo like the printed card faces,
// and on "保存身份证信息" saves a picture of the card panel, reports the card
// as JSON and closes. The reader exchanges run on a worker thread; the
// fields are filled on the GUI thread.
class IDCardDialog : public QDialog
{
    Q_OBJECT
public:
    explicit IDCardDialog(QWidget *parent = nullptr);
    ~IDCardDialog() override;

    // Called by the owner every time after show(): lays out the panel and
    // opens the reader.
    void init();
    void initLayout();
    // Opens the first USB reader and starts polling; a failure is shown once
    // as a warning and leaves the timer stopped.
    void openDriver();
    // Stops polling, waits for the exchange in flight, closes the port and
    // releases the library.
    void closeDriver();
    // One polling step on `port`: the exchanges go to the worker thread; a
    // step still in flight makes this one a no-op.
    void readCard(int port);

    void read_identfy_info(Tidentify_info info);
    void read_reside_info(Treside_info info);
    void read_gangaotai_info(Tgangaotai_info info);
    // Decodes the compressed photo, stores it as "image.bmp" (owner-only) in
    // the holder-photo directory (see holderphoto.h) and shows it.
    void writePhoto(unsigned char *photo, int length);
    // PNG in Base64, standard alphabet, padded, no line breaks.
    QString QImageToBase64(QImage image);

    // Tray helpers; the dialog itself never creates a tray icon.
    void createActions();
    void createMenu();
    void hideWindow();

    // Whether a failure to open the reader is shown as a modal box (the
    // default) or without a modal loop. The service window opens the dialog
    // from a page's request, where a modal box would hold every page's
    // messages until the clerk answers it.
    void setWarningsBlock(bool block) { warningsBlock = block; }

    // The reader's port handle: -100 while no reader is open.
    int portHandle() const { return port; }
    bool isPolling() const { return readerTimer->isActive(); }

signals:
    void saveImageMergingSignals(QList<QString> paths, int kind);
    void sendIdSignals(QString json);

public slots:
    void on_btnSaveIDCard_clicked();
    void onReaderTimer();
    void on_activatedSysTrayIcon(QSystemTrayIcon::ActivationReason reason);
    void on_showMainAction();
    void on_exitAppAction();

    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void warnOfReader(const QString &text);
    void showReading(const CardReading &reading);
    // Empties every field and the photo: each card is shown on its own.
    void clearCard();
    void showBirthday(const QString &birthday);
    QString cardJson(const QString &savedPath) const;

    Ui::IDCardDialog *ui;
    QTimer *readerTimer;
    QString spare;
    int port = -100;
    bool cardRead = false;
    bool warningsBlock = true;
    QSystemTrayIcon *trayIcon = nullptr;
    QMenu *trayMenu = nullptr;
    QAction *showMainAction = nullptr;
    QAction *exitAppAction = nullptr;
    CardReaderWorker *worker;
};
