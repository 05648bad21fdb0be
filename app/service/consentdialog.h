#pragma once

#include <QDialog>
#include <QString>

class QTimer;

// Asks the clerk whether a web page may use the station's camera, card
// reader and fingerprint sensor. Not modal: the station keeps serving the
// pages already approved while the question is open. Closing the dialog,
// Escape, or leaving it unanswered for `answerTimeoutMs` refuses.
//
// The origin is shown as browsers send it, host names in their ASCII
// (punycode) form; a host whose Unicode form mixes scripts in one label (a
// Cyrillic "і" among Latin letters, say) is shown beside it, marked, since a
// look-alike of a known name is the usual way to win the clerk's approval.
class ConsentDialog : public QDialog
{
    Q_OBJECT
public:
    enum Answer { Refuse, AllowOnce, AllowAlways };

    ConsentDialog(const QString &origin, QWidget *parent = nullptr);

    QString origin() const { return pageOrigin; }

    static constexpr int answerTimeoutMs = 60000;

    // The text the clerk reads for `origin` (scheme://host[:port], host in
    // ASCII): the origin itself, and its Unicode form, marked, when that mixes scripts.
    static QString shownOrigin(const QString &origin);

signals:
    void answered(QString origin, int answer);

public slots:
    void reject() override;   // Escape refuses

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void answer(Answer given);

    QString pageOrigin;
    QTimer *timeout;
    bool done = false;
};
