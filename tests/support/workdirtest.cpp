#include "workdirtest.h"

#include <QDir>

namespace testenv {

void WorkDirTest::SetUp()
{
    ASSERT_TRUE(work.isValid());
    previousDir = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(work.path()));
}

void WorkDirTest::TearDown()
{
    QDir::setCurrent(previousDir);
}

} // namespace testenv
