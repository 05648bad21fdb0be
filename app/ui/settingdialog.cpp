#include "settingdialog.h"
#include "ui_settingdialog.h"

#include "cache.h"
#include "camerainfo.h"
#include "config.h"
#include "searchablepdf.h"

#include <QButtonGroup>
#include <QColorDialog>
#include <QMutexLocker>
#include <QComboBox>
#include <QDebug>
#include <QFontDialog>

namespace {

SettingDialog::ColorChooser &colorChooser()
{
    static SettingDialog::ColorChooser chooser;
    return chooser;
}

SettingDialog::FontChooser &fontChooser()
{
    static SettingDialog::FontChooser chooser;
    return chooser;
}

QString sizeText(const QSize &size)
{
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

void fillSizes(QComboBox *box, const QList<QSize> &sizes)
{
    box->clear();
    for (const QSize &size : sizes)
        box->addItem(sizeText(size), size);
}

// An index the box can show; -1 (nothing selected) when the box is empty.
int clampedIndex(const QComboBox *box, int index)
{
    if (box->count() == 0)
        return -1;
    return qBound(0, index, box->count() - 1);
}

// The selected index, or `previous` when nothing is selected, so an empty
// list never stores -1 into an index the capture threads look up.
int selectedIndex(const QComboBox *box, int previous)
{
    return box->currentIndex() >= 0 ? box->currentIndex() : previous;
}

// Watermarks are drawn on full-size photos (factory size 100 points); the
// dialog previews larger fonts at this size so the form keeps its layout.
constexpr int largestPreviewPointSize = 28;

QString percentText(int value)
{
    return QString::number(value) + QLatin1Char('%');
}

} // namespace

SettingDialog::SettingDialog(QWidget *parent)
    : QDialog(parent), ui(new Ui::SettingDialog), fileNameGroup(new QButtonGroup(this)),
      watermarkGroup(new QButtonGroup(this))
{
    ui->setupUi(this);   // binds the on_<name>_<signal> slots by name
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    fileNameGroup->addButton(ui->radioButton_File, 0);
    fileNameGroup->addButton(ui->radioButton_Time, 1);
    watermarkGroup->addButton(ui->radioButton_watermark_text, 0);
    watermarkGroup->addButton(ui->radioButton_watermark_time, 1);
    connect(fileNameGroup, &QButtonGroup::idClicked, this, &SettingDialog::customButtonsClicked);
    connect(watermarkGroup, &QButtonGroup::idClicked, this, &SettingDialog::customButtonsClicked);

    ui->checkBox_SavePdfSourceBox->setVisible(false);
    ui->checkBox_SaveMergeSourceImageBox->setVisible(false);
    ui->btnVideoSetting->setVisible(false);
    ui->cbWhite->setVisible(false);
}

SettingDialog::~SettingDialog()
{
    delete ui;
}

void SettingDialog::setColorChooser(ColorChooser chooser)
{
    colorChooser() = std::move(chooser);
}

void SettingDialog::setFontChooser(FontChooser chooser)
{
    fontChooser() = std::move(chooser);
}

void SettingDialog::init()
{
    fillResolutionBoxes();
    loadControls();
    ui->widget->setVisible(false);
    ui->cbPaizhao->setVisible(false);
}

void SettingDialog::fillResolutionBoxes()
{
    const Config &config = *Cache::config;
    QList<QSize> cameraSizes;
    if (config.cameraIndex >= 0 && config.cameraIndex < Cache::cameras->size())
        cameraSizes = Cache::cameras->at(config.cameraIndex).resolutions;
    fillSizes(ui->imageResolutionBox, cameraSizes);
    fillSizes(ui->imageOutResolutionBox, config.outResolutions);
    fillSizes(ui->painting_mian_resolutionBox, config.outResolutions);
    fillSizes(ui->painting_other_resolutionBox, config.outResolutions);

    ui->imageCodecBox->clear();
    for (const QString &format : config.imageFormats)
        ui->imageCodecBox->addItem(format);
}

void SettingDialog::loadControls()
{
    const Config &config = *Cache::config;

    ui->imageFOURCCBox->setCurrentIndex(clampedIndex(ui->imageFOURCCBox, config.fourcc));
    ui->imageResolutionBox->setCurrentIndex(clampedIndex(ui->imageResolutionBox, config.resolution));
    ui->imageCodecBox->setCurrentIndex(ui->imageCodecBox->findText(config.codec));
    ui->imageQualityBox->setValue(config.quality);
    ui->lbImageQuality->setText(percentText(ui->imageQualityBox->value()));
    ui->imageShootingTimeBox->setText(QString::number(config.shootingTime));
    ui->imageOutResolutionBox->setCurrentIndex(clampedIndex(ui->imageOutResolutionBox, config.outResolution));
    ui->imageShootingTimeBox_2->setText(QString::number(config.exposure));

    ui->watermark_text_box->setText(config.watermarkText);
    watermarkGroup->button(config.watermarkTime ? 1 : 0)->setChecked(true);
    ui->watermark_transparency_box->setValue(config.transparency);
    ui->lbWatermarkTransparency->setText(percentText(ui->watermark_transparency_box->value()));
    ui->watermark_x_box->setValue(config.watermarkX);
    ui->lbWatermarkX->setText(percentText(ui->watermark_x_box->value()));
    ui->watermark_y_box->setValue(config.watermarkY);
    ui->lbWatermarkY->setText(percentText(ui->watermark_y_box->value()));
    QColor color;
    color.setNamedColor(QLatin1Char('#') + config.watermarkColor);
    setWatermarkColor(color);
    QFont font(config.fontFamily);
    if (config.fontSize > 0)
        font.setPointSize(config.fontSize);
    font.setStyleName(config.fontStyleName);
    font.setStrikeOut(config.strikeOut);
    font.setUnderline(config.underline);
    setWatermarkFont(font);

    QAbstractButton *naming = fileNameGroup->button(config.saveType == 1 ? 1 : 0);
    naming->setChecked(true);
    ui->savePreNameBox->setText(config.savePrefix);
    shownSaveNumber = QString::number(Cache::config->peekSaveNumber());
    ui->saveImageNumber->setText(shownSaveNumber);
    ui->checkBox_Sound->setChecked(config.playSound);
    ui->checkBox_SaveMergeSourceImageBox->setChecked(config.mergeSource);
    ui->checkBox_SavePdfSourceBox->setChecked(config.pdfSource);

    ui->painting_percentage_box->setValue(config.paintingPercentage);
    ui->lbPaintingPercentage->setText(percentText(ui->painting_percentage_box->value()));
    ui->painting_mian_resolutionBox->setCurrentIndex(
        clampedIndex(ui->painting_mian_resolutionBox, config.paintingMainResolution));
    ui->painting_other_resolutionBox->setCurrentIndex(
        clampedIndex(ui->painting_other_resolutionBox, config.paintingOtherResolution));

    ui->cbPaizhao->setChecked(config.gnPaizhao);
    ui->cbYanshi->setChecked(config.gnYanshi);
    ui->cbPaishe->setChecked(config.gnPaishe);
    ui->cbShenfenz_3->setChecked(config.gnRecord);
    ui->cbShenfenz_4->setChecked(config.gnZhuapai);
    ui->cbShenfenz_5->setChecked(config.gnRenlian);
    ui->cbShenfenz_2->setChecked(config.gnTiaoma);
    ui->cbShenfenz->setChecked(config.gnShenfenz);
    ui->cbZhiwen->setChecked(config.gnZhiwen);
    ui->cbWhite->setChecked(config.gnIswhite);
    loadExtraControls(config);
}

void SettingDialog::loadExtraControls(const Config &config)
{
    // Without the language data the switch cannot work: shown off and
    // disabled with a note; the stored value is kept for when it returns.
    const bool recognition = searchablepdf::available();
    ui->cbSearchablePdf->setEnabled(recognition);
    ui->cbSearchablePdf->setChecked(recognition && config.searchablePdf);
    ui->lbSearchablePdfNote->setVisible(!recognition);
    ui->cbBarcodeNaming->setChecked(config.barcodeNaming);
    ui->cbBarcodeSeparator->setChecked(config.barcodeSeparator);
    ui->cbDropBlankPages->setChecked(config.dropBlankPages);
    ui->cbKnowPages->setChecked(config.knowPages);
    ui->cbAnyTable->setChecked(config.anyTable);
}

void SettingDialog::storeControls()
{
    Config &config = *Cache::config;
    // Capture threads copy the string settings while this assigns them.
    QMutexLocker textsLocked(&config.textMutex());

    config.fourcc = selectedIndex(ui->imageFOURCCBox, config.fourcc);
    config.resolution = selectedIndex(ui->imageResolutionBox, config.resolution);
    if (!ui->imageCodecBox->currentText().isEmpty())
        config.codec = ui->imageCodecBox->currentText();
    config.quality = ui->imageQualityBox->value();
    config.shootingTime = ui->imageShootingTimeBox->text().toInt();
    config.outResolution = selectedIndex(ui->imageOutResolutionBox, config.outResolution);
    config.exposure = ui->imageShootingTimeBox_2->text().toInt();

    config.watermarkText = ui->watermark_text_box->text();
    config.watermarkTime = watermarkGroup->checkedId() == 1;
    config.transparency = ui->watermark_transparency_box->value();
    config.watermarkX = ui->watermark_x_box->value();
    config.watermarkY = ui->watermark_y_box->value();
    const QFont font = watermarkFont();
    config.fontFamily = font.family();
    config.fontSize = font.pointSize();
    config.fontStyleName = font.styleName();
    config.strikeOut = font.strikeOut();
    config.underline = font.underline();
    config.watermarkColor = colorToConfig(watermarkColor());

    config.saveType = fileNameGroup->checkedId() == 1 ? 1 : 0;
    config.savePrefix = ui->savePreNameBox->text();
    textsLocked.unlock();   // the running number has its own lock
    if (ui->saveImageNumber->text() != shownSaveNumber)
        config.setSaveNumber(ui->saveImageNumber->text().toInt());
    config.playSound = ui->checkBox_Sound->isChecked();
    config.mergeSource = ui->checkBox_SaveMergeSourceImageBox->isChecked();
    config.pdfSource = ui->checkBox_SavePdfSourceBox->isChecked();

    config.paintingPercentage = ui->painting_percentage_box->value();
    config.paintingMainResolution = selectedIndex(ui->painting_mian_resolutionBox, config.paintingMainResolution);
    config.paintingOtherResolution =
        selectedIndex(ui->painting_other_resolutionBox, config.paintingOtherResolution);

    config.gnPaizhao = ui->cbPaizhao->isChecked();
    config.gnYanshi = ui->cbYanshi->isChecked();
    config.gnPaishe = ui->cbPaishe->isChecked();
    config.gnRecord = ui->cbShenfenz_3->isChecked();
    config.gnZhuapai = ui->cbShenfenz_4->isChecked();
    config.gnRenlian = ui->cbShenfenz_5->isChecked();
    config.gnTiaoma = ui->cbShenfenz_2->isChecked();
    config.gnShenfenz = ui->cbShenfenz->isChecked();
    config.gnZhiwen = ui->cbZhiwen->isChecked();
    config.gnIswhite = ui->cbWhite->isChecked();
    if (ui->cbSearchablePdf->isEnabled())
        config.searchablePdf = ui->cbSearchablePdf->isChecked();
    config.barcodeNaming = ui->cbBarcodeNaming->isChecked();
    config.barcodeSeparator = ui->cbBarcodeSeparator->isChecked();
    config.dropBlankPages = ui->cbDropBlankPages->isChecked();
    config.knowPages = ui->cbKnowPages->isChecked();
    config.anyTable = ui->cbAnyTable->isChecked();
}

QFont SettingDialog::watermarkFont() const
{
    return styleFont;
}

QColor SettingDialog::watermarkColor() const
{
    return ui->lbWatermarkDemo->palette().color(QPalette::Active, QPalette::WindowText);
}

void SettingDialog::setWatermarkFont(const QFont &font)
{
    styleFont = font;
    QFont preview = font;
    if (preview.pointSize() > largestPreviewPointSize)
        preview.setPointSize(largestPreviewPointSize);
    ui->lbWatermarkDemo->setFont(preview);
    ui->lbWatermarkDemo->setToolTip(QStringLiteral("%1, %2pt").arg(font.family()).arg(font.pointSize()));
}

void SettingDialog::setWatermarkColor(const QColor &color)
{
    QPalette palette = ui->lbWatermarkDemo->palette();
    palette.setColor(QPalette::WindowText, color);   // all colour groups
    ui->lbWatermarkDemo->setPalette(palette);
}

QString SettingDialog::colorToConfig(const QColor &color)
{
    const quint32 argb = 0xFF000000u + (quint32(color.red()) << 16) + (quint32(color.green()) << 8) +
                         quint32(color.blue());
    return QString::number(argb, 16);
}

void SettingDialog::on_saveSetting_clicked()
{
    if (saveGuard && saveGuard())
        return;
    storeControls();
    Cache::config->save();
    emit reConfigVideoSettingSignal();
    close();
}

void SettingDialog::on_btnDefaultSetting_clicked()
{
    Cache::config->init();
    Cache::config->save();
    init();
}

void SettingDialog::on_btnColorSelect_clicked()
{
    const QColor initial = watermarkColor();
    const QColor chosen = colorChooser() ? colorChooser()(initial, this) : QColorDialog::getColor(initial, this);
    // A cancelled dialog answers with an invalid colour; the style is kept then.
    if (chosen.isValid())
        setWatermarkColor(chosen);
}

void SettingDialog::on_btnFontSelect_clicked()
{
    QFont font = watermarkFont();
    bool accepted = false;
    if (fontChooser()) {
        accepted = fontChooser()(font, this);
    } else {
        font = QFontDialog::getFont(&accepted, font, this);
    }
    if (accepted)
        setWatermarkFont(font);
}

void SettingDialog::on_btnVideoSetting_clicked()
{
    emit videSettingSignal();
}

void SettingDialog::on_imageQualityBox_valueChanged(int v)
{
    ui->lbImageQuality->setText(percentText(v));
}

void SettingDialog::on_watermark_transparency_box_valueChanged(int v)
{
    ui->lbWatermarkTransparency->setText(percentText(v));
}

void SettingDialog::on_watermark_x_box_valueChanged(int v)
{
    ui->lbWatermarkX->setText(percentText(v));
}

void SettingDialog::on_watermark_y_box_valueChanged(int v)
{
    ui->lbWatermarkY->setText(percentText(v));
}

void SettingDialog::on_painting_percentage_box_valueChanged(int v)
{
    ui->lbPaintingPercentage->setText(percentText(v));
}

void SettingDialog::on_cbPaizhao_clicked(bool checked)
{
    Q_UNUSED(checked)
}

void SettingDialog::customButtonsClicked(int id)
{
    qDebug() << "customButtonsClicked" << id;
}
