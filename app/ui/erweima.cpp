#include "erweima.h"
#include "ui_erweima.h"

#include "warningbox.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>

Erweima::Erweima(QWidget *parent) : QDialog(parent), ui(new Ui::Erweima)
{
    ui->setupUi(this);   // binds the on_<name>_clicked slots by name
}

Erweima::~Erweima()
{
    delete ui;
}

bool Erweima::isLink(const QString &text)
{
    return text.startsWith(QLatin1String("http://")) || text.startsWith(QLatin1String("www.")) ||
           text.startsWith(QLatin1String("https://"));
}

QUrl Erweima::linkUrl(const QString &text)
{
    // "www." text has no scheme; as a bare QUrl it would be a relative path
    // the desktop cannot open, so it is read as a typed web address.
    if (text.startsWith(QLatin1String("www.")))
        return QUrl::fromUserInput(text);
    return QUrl(text);
}

void Erweima::receiveTCData(QString con)
{
    content = con;
    ui->lineEdit->setText(con);
}

void Erweima::on_pushButton_clicked()
{
    QGuiApplication::clipboard()->setText(content);
}

void Erweima::on_pushButton_2_clicked()
{
    if (isLink(content))
        QDesktopServices::openUrl(linkUrl(content));
    else
        WarningBox::warning(this, QStringLiteral("警告"), QStringLiteral("未检测链接地址！"));
}

void Erweima::on_pushButton_3_clicked()
{
    close();
}
