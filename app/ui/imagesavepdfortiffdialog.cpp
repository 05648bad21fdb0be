#include "imagesavepdfortiffdialog.h"
#include "ui_imagesavepdfortiffdialog.h"

#include "cache.h"
#include "config.h"
#include "documentfile.h"
#include "pageprogress.h"
#include "picturethumbnail.h"
#include "searchablepdf.h"
#include "photonaming.h"
#include "warningbox.h"

#include <QAction>
#include <QCursor>
#include <QIcon>
#include <QListWidget>
#include <QMenu>
#include <QPixmap>
#include <QSet>
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

// The icon follows when its picture is decoded, off the window's thread.
QListWidgetItem *pageItem(QListWidget *list, const QString &path)
{
    auto *item = new QListWidgetItem(path);
    item->setToolTip(path);
    item->setSizeHint(QSize(kIconSide, kIconSide));
    picturethumbnail::load(path, QSize(kIconSide, kIconSide), list, [list, path](const QImage &shown) {
        if (shown.isNull())
            return;
        // The page may have been removed or moved meanwhile; it is found by its path.
        for (int row = 0; row < list->count(); ++row) {
            QListWidgetItem *page = list->item(row);
            if (page->text() == path && page->icon().isNull())
                page->setIcon(QIcon(QPixmap::fromImage(shown)));
        }
    });
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
            list->insertItem(insertionRow, pageItem(list, path));
            insertionRow = -1;
        } else {
            list->addItem(pageItem(list, path));
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
    if (!Cache::config->searchablePdf) {
        exportDocument(QStringLiteral("pdf"), &documentwriter::writePdf);
        return;
    }
    if (!searchablepdf::available()) {
        // The pages are still kept, as a plain PDF.
        emit statusMessage(QStringLiteral("未安装中英文文字识别数据，已存储为普通PDF"));
        exportDocument(QStringLiteral("pdf"), &documentwriter::writePdf);
        return;
    }
    exportDocument(
        QStringLiteral("pdf"),
        [this](const QStringList &images, const QString &target,
               const documentwriter::Progress &progress) {
            return searchablepdf::write(images, target, progress, &cancelRequest);
        },
        true);
}

void ImageSavePDFOrTiffDialog::on_btnSaveTiff_clicked()
{
    exportDocument(QStringLiteral("tiff"), &documentwriter::writeTiff);
}

bool ImageSavePDFOrTiffDialog::planExport(const QStringList &images, exportplan::Plan &plan)
{
    const exportplan::Options options{Cache::config->barcodeSeparator, Cache::config->dropBlankPages};
    if (!options.any()) {
        plan = exportplan::make(images, options, {});
        return true;
    }
    pageprogress::run(this, images.size(), [&](const documentwriter::Progress &progress) {
        plan = exportplan::make(images, options, progress);
        return documentwriter::Outcome{};
    });
    if (!plan.unreadableImage.isEmpty()) {
        WarningBox::warning(this, kWarningTitle,
                            QStringLiteral("无法读取图像：%1\n没有生成文件。").arg(plan.unreadableImage));
        return false;
    }
    if (plan.documents.isEmpty()) {
        WarningBox::warning(this, kWarningTitle,
                            QStringLiteral("%1 张图像都是空白页或分隔页，没有生成文件。").arg(images.size()));
        return false;
    }
    return true;
}

QString ImageSavePDFOrTiffDialog::writeDocument(const exportplan::Document &document,
                                                const QString &extension, const Writer &writer,
                                                bool cancellable, bool &cancelled)
{
    DocumentFile file(Cache::config->documentsLocation, extension);
    if (!file.isValid()) {
        WarningBox::warning(this, kWarningTitle,
                            QStringLiteral("无法在存储路径中写入文件：%1")
                                .arg(Cache::config->documentsLocation));
        return QString();
    }
    const auto job = [&](const documentwriter::Progress &progress) {
        return writer(document.pages, file.path(), progress);
    };
    cancelRequest = false;
    const documentwriter::Outcome outcome =
        cancellable ? pageprogress::runCancellable(this, document.pages.size(), job, cancelRequest)
                    : pageprogress::run(this, document.pages.size(), job);
    if (outcome.cancelled) {
        cancelled = true;
        return QString();
    }
    if (!outcome.unreadableImage.isEmpty()) {
        WarningBox::warning(this, kWarningTitle,
                            QStringLiteral("无法读取图像：%1\n没有生成文件。").arg(outcome.unreadableImage));
        return QString();
    }
    const auto reserve = [&] {
        // A separator whose text leaves no usable name: the usual name.
        const QString named = document.name.isEmpty()
                                  ? QString()
                                  : photonaming::reserveNamedPath(*Cache::config, document.name, extension);
        return named.isEmpty() ? reserveDocumentPath(extension) : named;
    };
    const QString path = outcome.written ? file.publish(reserve) : QString();
    if (path.isEmpty()) {
        QString text = QStringLiteral("文件写入失败：%1").arg(Cache::config->documentsLocation);
        if (!document.name.isEmpty())
            text += QStringLiteral("\n未能存储：%1").arg(document.name);
        WarningBox::warning(this, kWarningTitle, text);
    }
    return path;
}

void ImageSavePDFOrTiffDialog::exportDocument(const QString &extension, const Writer &writer,
                                              bool cancellable)
{
    if (exporting)
        return;
    if (ui->listWidget->count() == 0) {
        WarningBox::warning(this, kWarningTitle, QStringLiteral("没有图像"));
        return;
    }
    exporting = true;
    setEnabled(false);
    // The export runs in a nested event loop, so photos may join the list
    // meanwhile: only these items are the ones being exported.
    const QList<QListWidgetItem *> exportedItems = pageItems();
    const QStringList exportedPaths = pagePaths();
    exportplan::Plan plan;
    const bool planned = planExport(exportedPaths, plan);
    int written = 0;
    bool cancelled = false;
    QString failedDocument;
    for (const exportplan::Document &document : qAsConst(plan.documents)) {
        if (!planned)
            break;
        const QString path = writeDocument(document, extension, writer, cancellable, cancelled);
        if (path.isEmpty()) {
            failedDocument = document.name;
            break;
        }
        ++written;
        emit saveImageMergingSignals(QList<QString>{path}, 1);
    }
    setEnabled(true);
    exporting = false;
    if (planned)
        removeWrittenPages(exportedItems, exportedPaths, plan, written);

    QStringList notes;
    if (!plan.blankPages.isEmpty())
        notes << QStringLiteral("已去除空白页 %1 张").arg(plan.blankPages.size());
    if (plan.separators > 0)
        notes << QStringLiteral("按分隔页存储为 %1 个文件").arg(written);
    if (cancelled)
        notes << QStringLiteral("已取消存储，图像仍在列表中");
    else if (planned && written < plan.documents.size() && plan.documents.size() > 1)
        notes << QStringLiteral("“%1”未能存储，其图像仍在列表中")
                     .arg(failedDocument.isEmpty() ? QStringLiteral("第 %1 个文件").arg(written + 1)
                                                   : failedDocument);
    if (!notes.isEmpty())
        emit statusMessage(notes.join(QStringLiteral("；")));
    // Anything not written, and photos taken meanwhile, stay in the list
    // for another try.
    if (ui->listWidget->count() > 0)
        return;
    init();
    close();
}

QList<QListWidgetItem *> ImageSavePDFOrTiffDialog::pageItems() const
{
    QList<QListWidgetItem *> items;
    for (int row = 0; row < ui->listWidget->count(); ++row)
        items.append(ui->listWidget->item(row));
    return items;
}

// The first `written` documents of the plan are on disk: their pages, with
// the separator sheets and blank pages among and before them, leave the
// list, so a retry does not write them again. With every document written
// the whole exported list goes.
void ImageSavePDFOrTiffDialog::removeWrittenPages(const QList<QListWidgetItem *> &exportedItems,
                                                  const QStringList &exportedPaths,
                                                  const exportplan::Plan &plan, int written)
{
    int removeUpTo = -1;   // index into the exported list, inclusive
    if (written >= plan.documents.size()) {
        removeUpTo = exportedPaths.size() - 1;
    } else {
        // Pages are planned in list order, so each page is found after the
        // one before it, also where the same picture is in the list twice.
        int next = 0;
        for (int document = 0; document < written; ++document) {
            for (const QString &page : plan.documents.at(document).pages) {
                while (next < exportedPaths.size() && exportedPaths.at(next) != page)
                    ++next;
                removeUpTo = next++;
            }
        }
    }
    if (removeUpTo < 0)
        return;
    const QSet<QListWidgetItem *> done(exportedItems.begin(),
                                       exportedItems.begin() + qMin(removeUpTo + 1, exportedItems.size()));
    QListWidget *list = ui->listWidget;
    for (int row = list->count() - 1; row >= 0; --row) {
        if (!done.contains(list->item(row)))
            continue;
        delete list->takeItem(row);
        --count;
    }
    insertionRow = -1;   // its row may have gone
    showCount();
}
