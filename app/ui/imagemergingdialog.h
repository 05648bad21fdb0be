#pragma once

#include <QDialog>
#include <QImage>
#include <QList>
#include <QString>

namespace Ui {
class ImageMergingDialog;
}

// Joins two captured images into one picture, side by side or one above the
// other, and saves it like a photo in the working directory.
class ImageMergingDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ImageMergingDialog(QWidget *parent = nullptr);
    ~ImageMergingDialog() override;

    void init();
    void setImage(QList<QString> paths);

    QString imagePath1() const { return path1; }
    QString imagePath2() const { return path2; }
    int nextBox() const { return slotCounter; }
    Ui::ImageMergingDialog *form() const { return ui; }

    // Image 1 at (0, 0) and image 2 beside it (left to right) or below it, on
    // a canvas of 0x00FFFFFF: transparent where formats keep alpha, white
    // elsewhere.
    static QImage mergeImages(const QImage &image1, const QImage &image2, bool leftToRight);

signals:
    void takePhotoSignals();
    void saveImageMergingSignals(QList<QString> paths, int kind);

public slots:
    void on_btnUpDown_clicked();
    void on_btnLeftRight_clicked();
    void on_btnSave_clicked();
    void on_btnPhoto_clicked();
    void on_btnUpDown_2_clicked();
    void on_btnUpDown_3_clicked();

private:
    Ui::ImageMergingDialog *ui;
    int slotCounter = 0;
    QString path1;
    QString path2;
    QString unusedPath;
};
