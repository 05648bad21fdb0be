#include "config.h"

#include "configsettings.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSettings>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool syncFile(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

} // namespace

// Persisted fields take their constructor values from the settings table;
// the run-time fields are set here.
Config::Config()
    : fileName(QStringLiteral("system.ini")),
      autoCaptureOn(false), thirdDeviceMain(true), correctionMode(0), zoom(1.0),
      panX(0), panY(0), viewWidth(0), viewHeight(0), drawWidth(0), drawHeight(0),
      selectionX(0), selectionY(0), selectionWidth(0), selectionHeight(0)
{
    for (const ConfigSetting &setting : configSettings()) {
        keys << QString::fromLatin1(setting.key);
        assignConfigValue(*this, setting, setting.constructed);
    }
    load();
}

void Config::load()
{
    if (QFileInfo::exists(fileName)) {
        QSettings s(fileName, QSettings::IniFormat);
        QMutexLocker textsLocked(&textLock);
        // A file holding only some keys (one line appended by hand to switch
        // on service mode) leaves the others at their factory values, not
        // at 0 or empty: an empty working directory or prefix, or quality 0,
        // would make every capture fail.
        for (const ConfigSetting &setting : configSettings()) {
            const QString key = QString::fromLatin1(setting.key);
            assignConfigValue(*this, setting,
                              s.contains(key) ? s.value(key)
                                              : setting.factory.value_or(setting.constructed));
        }
    } else {
        init();
        save();
    }
    if (!documentsLocation.isEmpty() && !QDir(documentsLocation).exists())
        QDir().mkpath(documentsLocation);
    autoCaptureOn = false;
}

void Config::init()
{
    QMutexLocker textsLocked(&textLock);
    for (const ConfigSetting &setting : configSettings()) {
        if (setting.factory)
            assignConfigValue(*this, setting, *setting.factory);
    }
}

void Config::save()
{
    QMutexLocker lock(&saveMutex);
    if (!writeAtomically())
        qDebug() << "Config: could not write" << fileName;
}

int Config::takeSaveNumber()
{
    int number;
    {
        QMutexLocker lock(&saveMutex);
        number = saveNumber++;
    }
    save();
    return number;
}

int Config::peekSaveNumber()
{
    QMutexLocker lock(&saveMutex);
    return saveNumber;
}

void Config::setSaveNumber(int number)
{
    QMutexLocker lock(&saveMutex);
    saveNumber = number;
}

void Config::commitSaveNumber(int number)
{
    QMutexLocker lock(&saveMutex);
    if (saveNumber <= number)
        saveNumber = number + 1;
    if (!writeAtomically())
        qDebug() << "Config: could not write" << fileName;
}

void Config::returnSaveNumber(int number)
{
    QMutexLocker lock(&saveMutex);
    if (saveNumber != number + 1)
        return;
    saveNumber = number;
    if (!writeAtomically())
        qDebug() << "Config: could not write" << fileName;
}

Config::Texts Config::texts() const
{
    QMutexLocker lock(&textLock);
    return Texts{codec, savePrefix, watermarkText, watermarkColor,
                 fontFamily, fontStyleName, documentsLocation};
}

// Writes a complete file next to the old one and renames it into place, so a
// crash or a full disk leaves either the old or the new file, never a torn one.
bool Config::writeAtomically()
{
    const QString tmpName = fileName + QStringLiteral(".tmp");
    QFile::remove(tmpName);
    // One consistent copy of every value; the string fields are only safe to
    // copy under the text lock.
    QVector<QVariant> values;
    {
        QMutexLocker textsLocked(&textLock);
        for (const ConfigSetting &setting : configSettings())
            values << configFileValue(*this, setting);
    }
    {
        QSettings s(tmpName, QSettings::IniFormat);
        for (int i = 0; i < values.size(); ++i)
            s.setValue(QString::fromLatin1(configSettings()[i].key), values[i]);
        s.sync();
        if (s.status() != QSettings::NoError) {
            QFile::remove(tmpName);
            return false;
        }
    }
    if (!syncFile(tmpName)
        || std::rename(QFile::encodeName(tmpName).constData(),
                       QFile::encodeName(fileName).constData()) != 0) {
        QFile::remove(tmpName);
        return false;
    }
    return true;
}
