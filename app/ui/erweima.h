#pragma once

#include <QDialog>
#include <QString>
#include <QUrl>

namespace Ui {
class Erweima;
}

// Result dialog of barcode reading, created hidden with the main window and
// reused. The main window connects its sendTCData(QString) to
// receiveTCData(QString) and shows the dialog when a frame was decoded.
class Erweima : public QDialog
{
    Q_OBJECT
public:
    explicit Erweima(QWidget *parent = nullptr);
    ~Erweima() override;

    QString text() const { return content; }

    // True for text starting with "http://", "www." or "https://" (case-sensitive).
    static bool isLink(const QString &text);
    // The address opened for a link text; "www." text is opened as a web address.
    static QUrl linkUrl(const QString &text);

public slots:
    void receiveTCData(QString con);
    void on_pushButton_clicked();     // copy to the clipboard
    void on_pushButton_2_clicked();   // open the link
    void on_pushButton_3_clicked();   // close

private:
    Ui::Erweima *ui;
    QString content;
};
