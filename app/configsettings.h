#pragma once

#include "config.h"

#include <QString>
#include <QVariant>
#include <QVector>

#include <optional>
#include <variant>

// One persisted setting of Config: its key in "system.ini", the field it
// fills, the value the constructor gives that field before loading and the
// factory value init() sets. The constructor, load(), save() and init() all
// walk the one list below, so a key can never be paired with a neighbour's
// field.
struct ConfigSetting {
    // A string list is kept in the file as one text, separated by spaces.
    using Field = std::variant<int Config::*, bool Config::*, QString Config::*,
                               QStringList Config::*>;

    const char *key;
    Field field;
    QVariant constructed;
    // std::nullopt: init() leaves the field as it is.
    std::optional<QVariant> factory;
};

// Every persisted setting, in the order save() writes them.
const QVector<ConfigSetting> &configSettings();

// The field's value as it is written to the file.
QVariant configFileValue(const Config &config, const ConfigSetting &setting);

// Sets the field from a value as read from the file or from the table. An
// invalid value gives 0, false or empty; load() gives a key missing from the
// file its factory value instead.
void assignConfigValue(Config &config, const ConfigSetting &setting, const QVariant &value);
