#include "imagesavepdfortiffdialog.h"
#include "ui_imagesavepdfortiffdialog.h"

#include "cache.h"
#include "config.h"
#include "documentfile.h"
#include "pageprogress.h"
#include "photonaming.h"
#include "warningbox.h"

#include <QAction>
#include <QCursor>
#include <QIcon>
#include <QListWidget>
#include <QMenu>
#include <QPixmap>
#include <QStyledItemDelegate>

namespace {

const QString kWarningTitle = QStringLiteral("警告");
constexpr int kIconSide = 150;

// Draws the page pictures only: the path under a 150 x 150 picture would be
// cut to an unreadable sliver. The path shows as the tool tip.
class PictureOnlyDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->text.clear();
        option->features &= ~QStyleOptionViewItem::HasDisplay;
    }
};

QListWidgetItem *pageItem(const QString &path)
{
    auto *item = new QListWidgetItem(path);
    item->setToolTip(path);
    const QPixmap picture(path);
    item->setIcon(QIcon(picture.isNull() ? picture
                                         : picture.scaled(kIconSide, kIconSide, Qt::KeepAspectRatio,
                                                          Qt::SmoothTransformation)));
    item->setSizeHint(QSize(kIconSide, kIconSide));
    return item;
}

// Time names with saveType 1; the running number otherwise.
QString reserveDocumentPath(const QString &extension)
{
    Config &config = *Cache::config;
    if (config.saveType == 1)
        return photonaming::reservePhotoPath(config, extension);
    return photonaming::reserveNumberedPath(config, extension);
}

} // namespace

ImageSavePDFOrTiffDialog::ImageSavePDFOrTiffDialog(QWidget *parent)
    : QDialog(parent), ui(new Ui::ImageSavePDFOrTiffDialog)
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    pageMenu = new QMenu(this);
    const struct {
        const char *name;
        const char *text;
        void (ImageSavePDFOrTiffDialog::*slot)();
    } actions[] = {
        {"actionDeleteImage", "删除此图", &ImageSavePDFOrTiffDialog::deleteCurrentImage},
        {"actionInsertBefore", "此图前插入", &ImageSavePDFOrTiffDialog::insertBeforeCurrent},
        {"actionInsertAfter", "此图后插入", &ImageSavePDFOrTiffDialog::insertAfterCurrent},
    };
    for (const auto &entry : actions) {
        QAction *action = pageMenu->addAction(QString::fromUtf8(entry.text));
        action->setObjectName(QLatin1String(entry.name));
        connect(action, &QAction::triggered, this, entry.slot);
    }
    ui->listWidget->setItemDelegate(new PictureOnlyDelegate(ui->listWidget));
    ui->listWidget->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->listWidget, &QWidget::customContextMenuRequested, this,
            &ImageSavePDFOrTiffDialog::showPageMenu);
    init();
}

ImageSavePDFOrTiffDialog::~ImageSavePDFOrTiffDialog()
{
    delete ui;
}

QListWidget *ImageSavePDFOrTiffDialog::pageList() const
{
    return ui->listWidget;
}

void ImageSavePDFOrTiffDialog::init()
{
    QListWidget *list = ui->listWidget;
    list->clear();
    count = 0;
    insertionRow = -1;
    list->setFlow(QListView::LeftToRight);
    list->setIconSize(QSize(kIconSide, kIconSide));
    list->setResizeMode(QListView::Adjust);
    list->setMovement(QListView::Static);
    list->setSpacing(8);
    list->setViewMode(QListView::IconMode);
    list->setWrapping(true);
    showCount();
}

void ImageSavePDFOrTiffDialog::showCount()
{
    ui->lbCount->setText(QStringLiteral("共 %1 张").arg(count));
}

QStringList ImageSavePDFOrTiffDialog::pagePaths() const
{
    QStringList paths;
    for (int row = 0; row < ui->listWidget->count(); ++row)
        paths.append(ui->listWidget->item(row)->text());
    return paths;
}

void ImageSavePDFOrTiffDialog::setImage(QList<QString> paths)
{
    QListWidget *list = ui->listWidget;
    for (const QString &path : paths) {
        if (insertionRow >= 0 && insertionRow <= list->count()) {
            list->insertItem(insertionRow, pageItem(path));
            insertionRow = -1;
        } else {
            list->addItem(pageItem(path));
        }
        ++count;
    }
    showCount();
}

void ImageSavePDFOrTiffDialog::showPageMenu(const QPoint &)
{
    if (ui->listWidget->currentRow() < 0)
        return;
    pageMenu->exec(QCursor::pos());
}

void ImageSavePDFOrTiffDialog::deleteCurrentImage()
{
    const int row = ui->listWidget->currentRow();
    if (row < 0)
        return;
    delete ui->listWidget->takeItem(row);
    --count;
    showCount();
}

void ImageSavePDFOrTiffDialog::insertBeforeCurrent()
{
    const int row = ui->listWidget->currentRow();
    if (row >= 0)
        insertionRow = row;
}

void ImageSavePDFOrTiffDialog::insertAfterCurrent()
{
    const int row = ui->listWidget->currentRow();
    if (row >= 0)
        insertionRow = row + 1;
}

void ImageSavePDFOrTiffDialog::on_btnPhoto_clicked()
{
    emit takePhotoSignals();
}

void ImageSavePDFOrTiffDialog::on_btnDel_clicked()
{
    QListWidget *list = ui->listWidget;
    if (list->count() == 0)
        return;
    delete list->takeItem(list->count() - 1);
    --count;
    showCount();
}

void ImageSavePDFOrTiffDialog::on_btnClose_clicked()
{
    init();
    close();
}

void ImageSavePDFOrTiffDialog::on_btnSavePDF_clicked()
{
    exportDocument(QStringLiteral("pdf"), &documentwriter::writePdf);
}

void ImageSavePDFOrTiffDialog::on_btnSaveTiff_clicked()
{
    exportDocument(QStringLiteral("tiff"), &documentwriter::writeTiff);
}

void ImageSavePDFOrTiffDialog::exportDocument(const QString &extension, const Writer &writer)
{
    if (exporting)
        return;
    if (ui->listWidget->count() == 0) {
        WarningBox::warning(this, kWarningTitle, QStringLiteral("没有图像"));
        return;
    }
    const QStringList images = pagePaths();
    DocumentFile file(Cache::config->documentsLocation, extension);
    if (!file.isValid()) {
        WarningBox::warning(this, kWarningTitle,
                            QStringLiteral("无法在存储路径中写入文件：%1")
                                .arg(Cache::config->documentsLocation));
        return;
    }
    exporting = true;
    setEnabled(false);
    const documentwriter::Outcome outcome =
        pageprogress::run(this, images.size(), [&](const documentwriter::Progress &progress) {
            return writer(images, file.path(), progress);
        });
    setEnabled(true);
    exporting = false;
    if (!outcome.unreadableImage.isEmpty()) {
        WarningBox::warning(this, kWarningTitle,
                            QStringLiteral("无法读取图像：%1\n没有生成文件。").arg(outcome.unreadableImage));
        return;
    }
    const QString path =
        outcome.written ? file.publish([&] { return reserveDocumentPath(extension); }) : QString();
    if (path.isEmpty()) {
        WarningBox::warning(this, kWarningTitle,
                            QStringLiteral("文件写入失败：%1").arg(Cache::config->documentsLocation));
        return;
    }
    emit saveImageMergingSignals(QList<QString>{path}, 1);
    init();
    close();
}
