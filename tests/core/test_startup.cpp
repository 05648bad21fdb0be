// The lists start-up fills into the settings record.
#include "config.h"
#include "startup.h"

#include <gtest/gtest.h>

namespace {

TEST(Startup, TwelveOutputResolutionsWithIndexThreeAt3264x2448)
{
    Config config;
    Startup::fillOutResolutions(config);
    ASSERT_EQ(config.outResolutions.size(), 12);
    EXPECT_EQ(config.outResolutions.first(), QSize(4640, 3452));
    EXPECT_EQ(config.outResolutions.at(3), QSize(3264, 2448));
    EXPECT_EQ(config.outResolutions.at(6), QSize(1920, 1080));
    EXPECT_EQ(config.outResolutions.last(), QSize(640, 480));
}

TEST(Startup, ImageFormatsAreWritableOnesWithoutJpeg2000)
{
    Config config;
    Startup::fillImageFormats(config);
    EXPECT_TRUE(config.imageFormats.contains(QStringLiteral("jpg")));
    EXPECT_TRUE(config.imageFormats.contains(QStringLiteral("png")));
    for (const QString &format : config.imageFormats) {
        EXPECT_FALSE(format.isEmpty());
        EXPECT_NE(format.toUpper(), QStringLiteral("JP2"));
        EXPECT_EQ(format, format.toLower()) << "kept as Qt reports it";
    }
}

} // namespace
