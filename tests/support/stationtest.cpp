#include "stationtest.h"

#include "testenv.h"
#include "warningbox.h"

namespace testenv {

void StationTest::SetUp()
{
    ASSERT_TRUE(documents.isValid());
    resetConfig(documents);
    captureWarnings(warnings);
}

void StationTest::TearDown()
{
    WarningBox::setHandler({});
}

QString StationTest::file(const QString &name) const
{
    return documents.path() + QLatin1Char('/') + name;
}

} // namespace testenv
