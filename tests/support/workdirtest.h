#pragma once

#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace testenv {

// Each case runs in an empty working directory of its own ("system.ini",
// "qxfinger.db" and the like land there); the previous one is restored after.
class WorkDirTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    QTemporaryDir work;
    QString previousDir;
};

} // namespace testenv
