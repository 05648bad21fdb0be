#pragma once

#include "documentwriter.h"
#include "exportplan.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

class QAction;
class QListWidget;
class QListWidgetItem;
class QMenu;

namespace Ui {
class ImageSavePDFOrTiffDialog;
}

// Collects photos into an ordered page list and writes them as one PDF (A4,
// one page per image) or one multi-page TIFF in the working directory.
class ImageSavePDFOrTiffDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ImageSavePDFOrTiffDialog(QWidget *parent = nullptr);
    ~ImageSavePDFOrTiffDialog() override;

    void init();
    void setImage(QList<QString> paths);

    // The image paths of the pages, in page order.
    QStringList pagePaths() const;
    int imageCount() const { return count; }
    QListWidget *pageList() const;
    Ui::ImageSavePDFOrTiffDialog *form() const { return ui; }

signals:
    void takePhotoSignals();
    void saveImageMergingSignals(QList<QString> paths, int kind);
    // A line for the status bar: pages left out, documents split, text
    // recognition not available.
    void statusMessage(QString text);

public slots:
    void on_btnPhoto_clicked();
    void on_btnSavePDF_clicked();
    void on_btnSaveTiff_clicked();
    void on_btnDel_clicked();
    void on_btnClose_clicked();
    void deleteCurrentImage();
    void insertBeforeCurrent();
    void insertAfterCurrent();

private slots:
    void showPageMenu(const QPoint &at);

private:
    using Writer = std::function<documentwriter::Outcome(
        const QStringList &, const QString &, const documentwriter::Progress &)>;
    void exportDocument(const QString &extension, const Writer &writer, bool cancellable = false);
    bool planExport(const QStringList &images, exportplan::Plan &plan);
    // Writes one document; its path, or empty when it was not written (the
    // user was told why, unless he cancelled).
    QString writeDocument(const exportplan::Document &document, const QString &extension,
                          const Writer &writer, bool cancellable, bool &cancelled);
    QList<QListWidgetItem *> pageItems() const;
    void removeWrittenPages(const QList<QListWidgetItem *> &exportedItems,
                            const QStringList &exportedPaths, const exportplan::Plan &plan,
                            int written);
    void showCount();

    Ui::ImageSavePDFOrTiffDialog *ui;
    QMenu *pageMenu = nullptr;
    int count = 0;
    // Row the next image goes to; -1 appends.
    int insertionRow = -1;
    bool exporting = false;
    std::atomic<bool> cancelRequest{false};
};
