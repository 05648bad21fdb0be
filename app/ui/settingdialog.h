#pragma once

#include <QColor>
#include <QDialog>
#include <QFont>

#include <functional>

class Config;
class QButtonGroup;

namespace Ui {
class SettingDialog;
}

// The settings dialog ("设置"). The main window creates it hidden, calls
// init() before each show() to load the controls from Config, and connects:
//   reConfigVideoSettingSignal() -> its reConfigVideoSetting()  (after "保存")
//   videSettingSignal()          -> its videoSetting()
// Nothing reaches Config before "保存", except "默认设置", which resets to the
// factory values and saves at once.
class SettingDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SettingDialog(QWidget *parent = nullptr);
    ~SettingDialog() override;

    void init();

    // The watermark style shown by the demo label. The label draws the font at
    // most at a readable preview size; the full size is kept for saving.
    QFont watermarkFont() const;
    QColor watermarkColor() const;
    void setWatermarkFont(const QFont &font);
    void setWatermarkColor(const QColor &color);

    // Colour as stored in "watermark/color": "ff" followed by red, green, blue.
    static QString colorToConfig(const QColor &color);

    // The colour and font pickers behind "颜色设置" and "字体设置"; tests replace
    // them so nobody has to click. An empty function restores the standard dialog.
    // The font chooser returns false when cancelled.
    using ColorChooser = std::function<QColor(const QColor &initial, QWidget *parent)>;
    using FontChooser = std::function<bool(QFont &font, QWidget *parent)>;
    static void setColorChooser(ColorChooser chooser);
    static void setFontChooser(FontChooser chooser);

    // Asked before "保存" writes anything; true refuses the save (the guard
    // tells the user why) and the dialog stays open.
    using SaveGuard = std::function<bool()>;
    void setSaveGuard(SaveGuard guard) { saveGuard = std::move(guard); }

signals:
    void videSettingSignal();
    void reConfigVideoSettingSignal();

public slots:
    void on_saveSetting_clicked();
    void on_btnDefaultSetting_clicked();
    void on_btnColorSelect_clicked();
    void on_btnFontSelect_clicked();
    void on_btnVideoSetting_clicked();
    void on_imageQualityBox_valueChanged(int v);
    void on_watermark_transparency_box_valueChanged(int v);
    void on_watermark_x_box_valueChanged(int v);
    void on_watermark_y_box_valueChanged(int v);
    void on_painting_percentage_box_valueChanged(int v);
    void on_cbPaizhao_clicked(bool checked);
    void customButtonsClicked(int id);

private:
    void fillResolutionBoxes();
    void loadControls();
    void loadExtraControls(const Config &config);
    void storeControls();

    Ui::SettingDialog *ui;
    QButtonGroup *fileNameGroup;
    QButtonGroup *watermarkGroup;
    QFont styleFont;
    SaveGuard saveGuard;
    // The running number shown when the controls were loaded: photos taken
    // since have moved it on, so it is written back only when edited.
    QString shownSaveNumber;
};
