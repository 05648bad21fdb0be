#pragma once

#include <QList>
#include <QMutex>
#include <QSize>
#include <QString>
#include <QStringList>

// The one settings record of the process. Persisted fields live in
// "system.ini" in the working directory of the process; the run-time fields
// below them are never written to the file.
class Config
{
public:
    Config();

    void load();
    void init();
    void save();

    // Hands out the next running number and advances "save/number" in one
    // step, so two threads taking photos never get the same number.
    int takeSaveNumber();
    // The running number the next photo would get, without taking it.
    int peekSaveNumber();
    // Sets the running number (the user's choice); saved by the next save().
    void setSaveNumber(int number);
    // Records that `number` was used: "save/number" moves past it (never
    // back) and the file is saved once.
    void commitSaveNumber(int number);
    // Gives `number` back when nothing was written under it and no later
    // number has been handed out since.
    void returnSaveNumber(int number);

    // The string settings, copied as one consistent set. Capture threads
    // read them only through this while the GUI thread may assign them.
    struct Texts {
        QString codec;
        QString savePrefix;
        QString watermarkText;
        QString watermarkColor;
        QString fontFamily;
        QString fontStyleName;
        QString documentsLocation;
    };
    Texts texts() const;
    // Held while assigning any of the string fields above (and
    // `allowedOrigins`) once capture threads run: QString assignment is not
    // safe against a concurrent copy.
    QMutex &textMutex() const { return textLock; }

    QString fileName;     // "system.ini", relative to the working directory
    QStringList keys;     // the key names, in the order save() writes them

    // Persisted.
    int cameraIndex;
    int exposure;
    int fourcc;
    int resolution;
    int outResolution;
    QString codec;
    int shootingTime;
    int quality;
    int saveType;
    QString savePrefix;
    int saveNumber;
    bool playSound;
    bool mergeSource;
    bool pdfSource;
    QString watermarkText;
    bool watermarkTime;
    QString watermarkColor;
    QString fontFamily;
    int fontSize;
    QString fontStyleName;
    bool strikeOut;
    bool underline;
    int transparency;
    int watermarkX;
    int watermarkY;
    int paintingPercentage;
    int paintingMainResolution;
    int paintingOtherResolution;
    QString documentsLocation;
    bool gnPaishe;
    bool gnPaizhao;
    bool gnShenfenz;
    bool gnTiaoma;
    bool gnYanshi;
    bool gnZhiwen;
    bool gnRecord;
    bool gnZhuapai;
    bool gnRenlian;
    bool gnIswhite;

    // Service-mode switches; persisted under "camera/isWebsocket" and
    // "camera/isHttp" so a station can be put into service mode by editing
    // the file. Both off unless the file says otherwise.
    bool webSocketMode;
    bool httpMode;
    // "camera/listenAll": serve other machines too (both servers listen on
    // every interface); off, they listen on 127.0.0.1 and ::1 only.
    bool listenAll;
    // "camera/allowedOrigins": web origins the user chose to "always allow",
    // separated by spaces; removing one from the file revokes it.
    QStringList allowedOrigins;

    // Optional page features, all off unless the user switches them on
    // (group "extra"): a text layer in merged PDFs, photos named after the
    // barcode they carry, code-only pages splitting an export into documents,
    // blank pages dropped, and automatic capture refusing repeated pages and
    // waiting for hands to leave; sheets found on light, wooden and patterned
    // tables too, not only on the dark base.
    bool searchablePdf;
    bool barcodeNaming;
    bool barcodeSeparator;
    bool dropBlankPages;
    bool knowPages;
    bool anyTable;

    // Run-time only.
    QString appDir;
    QList<QSize> outResolutions;
    QList<QString> imageFormats;
    bool autoCaptureOn;
    bool thirdDeviceMain;
    int correctionMode;
    double zoom;
    int panX;
    int panY;
    int viewWidth;
    int viewHeight;
    int drawWidth;
    int drawHeight;
    int selectionX;
    int selectionY;
    int selectionWidth;
    int selectionHeight;

private:
    bool writeAtomically();
    QMutex saveMutex;
    mutable QMutex textLock;
};
