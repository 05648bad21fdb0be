#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace testenv {

// Each case starts from factory settings with an empty working directory of
// its own; warning boxes land in `warnings` ("title|text") instead of
// opening.
class StationTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // A file in the working directory.
    QString file(const QString &name) const;
    QString lastWarning() const { return warnings.isEmpty() ? QString() : warnings.last(); }

    QTemporaryDir documents;
    QStringList warnings;
};

} // namespace testenv
