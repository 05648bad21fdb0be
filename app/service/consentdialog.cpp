#include "consentdialog.h"

#include "hostnames.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

QString ConsentDialog::shownOrigin(const QString &origin)
{
    const QString asciiHost = QUrl(origin).host(QUrl::FullyEncoded);
    const QString unicodeHost = HostNames::unicodeForm(asciiHost);
    if (unicodeHost == asciiHost || !HostNames::mixesScripts(unicodeHost))
        return origin;
    return QStringLiteral("%1（显示为 %2，混用多种文字，可能是仿冒网址）").arg(origin, unicodeHost);
}

ConsentDialog::ConsentDialog(const QString &origin, QWidget *parent)
    : QDialog(parent), pageOrigin(origin), timeout(new QTimer(this))
{
    setObjectName(QStringLiteral("ConsentDialog"));
    setWindowTitle(QStringLiteral("网页访问请求"));
    setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_DeleteOnClose);

    auto *text = new QLabel(QStringLiteral("网页 %1 请求使用本机的高拍仪摄像头、身份证读卡器和指纹仪。\n"
                                           "只有您信任的业务网页才应获得允许。是否允许？")
                                .arg(shownOrigin(origin)),
                            this);
    text->setObjectName(QStringLiteral("lbConsentText"));
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);

    auto *once = new QPushButton(QStringLiteral("允许本次"), this);
    once->setObjectName(QStringLiteral("btnAllowOnce"));
    auto *always = new QPushButton(QStringLiteral("始终允许"), this);
    always->setObjectName(QStringLiteral("btnAllowAlways"));
    auto *refuse = new QPushButton(QStringLiteral("拒绝"), this);
    refuse->setObjectName(QStringLiteral("btnRefuse"));
    refuse->setDefault(true);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(once);
    buttons->addWidget(always);
    buttons->addStretch();
    buttons->addWidget(refuse);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addLayout(buttons);
    setMinimumWidth(420);

    connect(once, &QPushButton::clicked, this, [this] { answer(AllowOnce); });
    connect(always, &QPushButton::clicked, this, [this] { answer(AllowAlways); });
    connect(refuse, &QPushButton::clicked, this, [this] { answer(Refuse); });
    timeout->setSingleShot(true);
    connect(timeout, &QTimer::timeout, this, [this] { answer(Refuse); });
    timeout->start(answerTimeoutMs);
}

void ConsentDialog::answer(Answer given)
{
    if (done)
        return;
    done = true;
    timeout->stop();
    emit answered(pageOrigin, given);
    close();
}

void ConsentDialog::reject()
{
    answer(Refuse);
}

void ConsentDialog::closeEvent(QCloseEvent *event)
{
    answer(Refuse);
    event->accept();
}
