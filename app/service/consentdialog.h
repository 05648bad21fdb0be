#pragma once

#include <QDialog>
#include <QString>

class QTimer;

// Asks the clerk whether a web page may use the station's camera, card
// reader and fingerprint sensor. Not modal: the station keeps serving the
// pages already approved while the question is open. Closing the dialog or
// leaving it unanswered for `answerTimeoutMs` refuses.
class ConsentDialog : public QDialog
{
    Q_OBJECT
public:
    enum Answer { Refuse, AllowOnce, AllowAlways };

    ConsentDialog(const QString &origin, QWidget *parent = nullptr);

    QString origin() const { return pageOrigin; }

    static constexpr int answerTimeoutMs = 60000;

signals:
    void answered(QString origin, int answer);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void answer(Answer given);

    QString pageOrigin;
    QTimer *timeout;
    bool done = false;
};
