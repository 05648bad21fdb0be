// The template store and the template text: any text is stored and read
// back whole, statements cannot be broken by what they carry, and the
// unbroken Base64 of a template decodes back to its bytes.
#include "base64.h"
#include "dbrelate.h"
#include "workdirtest.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

class StoreTest : public testenv::WorkDirTest
{
protected:

    // Every row, owned.
    static std::vector<std::unique_ptr<_TemplateInfo>> rows(DBRelate &store)
    {
        QVector<_TemplateInfo *> raw;
        store.query(raw);
        std::vector<std::unique_ptr<_TemplateInfo>> owned;
        for (_TemplateInfo *row : raw)
            owned.emplace_back(row);
        return owned;
    }

};

TEST_F(StoreTest, TextsAreKeptWholeWhateverTheyHold)
{
    DBRelate store;
    ASSERT_TRUE(store.open());
    ASSERT_TRUE(store.open()); // already open
    const QString quoted = QStringLiteral("it's'); delete from template10 where (1");
    const QString longText(10000, QLatin1Char('A'));
    EXPECT_TRUE(store.add(1, quoted));
    EXPECT_TRUE(store.add(2, longText));
    EXPECT_TRUE(store.add(3, QString()));
    EXPECT_FALSE(store.add(2, QStringLiteral("x"))); // the id is taken
    store.close();

    DBRelate again;
    ASSERT_TRUE(again.open());
    const auto stored = rows(again);
    ASSERT_EQ(3u, stored.size());
    EXPECT_EQ(1, stored[0]->id);
    EXPECT_EQ(quoted.toLatin1(), stored[0]->text);
    EXPECT_EQ(2, stored[1]->id);
    EXPECT_EQ(10000, stored[1]->text.size());
    EXPECT_EQ(longText.toLatin1(), stored[1]->text);
    EXPECT_TRUE(stored[2]->text.isEmpty());
    EXPECT_TRUE(again.isExist(2));
    EXPECT_FALSE(again.isExist(4));
}

TEST(TemplateText, UnbrokenBase64RoundTripsEveryLengthUpToTheLargestTemplate)
{
    std::vector<unsigned char> bytes(2048);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(i * 131 + 7);
    for (int length = 0; length <= 2048; ++length) {
        const std::string text = base64::encodeUnbroken(bytes.data(), length);
        ASSERT_EQ(size_t((length + 2) / 3 * 4), text.size()) << length;
        ASSERT_EQ(std::string::npos, text.find_first_of("\r\n")) << length;
        // Same characters as the line-broken form, only without the breaks.
        std::string broken = base64::encode(bytes.data(), length);
        broken.erase(std::remove(broken.begin(), broken.end(), '\r'), broken.end());
        broken.erase(std::remove(broken.begin(), broken.end(), '\n'), broken.end());
        ASSERT_EQ(broken, text) << length;
        std::vector<unsigned char> decoded;
        ASSERT_TRUE(base64::decode(text.data(), int(text.size()), decoded)) << length;
        ASSERT_EQ(std::vector<unsigned char>(bytes.begin(), bytes.begin() + length), decoded) << length;
    }
    EXPECT_EQ(2732u, base64::encodeUnbroken(bytes.data(), 2048).size());
}

TEST(TemplateText, DecodingKnownTextsAndRefusingDamagedOnes)
{
    std::vector<unsigned char> out;
    ASSERT_TRUE(base64::decode("TWFu", 4, out));
    EXPECT_EQ((std::vector<unsigned char>{'M', 'a', 'n'}), out);
    ASSERT_TRUE(base64::decode("TWE=", 4, out));
    EXPECT_EQ((std::vector<unsigned char>{'M', 'a'}), out);
    ASSERT_TRUE(base64::decode("TQ==", 4, out));
    EXPECT_EQ((std::vector<unsigned char>{'M'}), out);
    ASSERT_TRUE(base64::decode("+/+/", 4, out));
    EXPECT_EQ((std::vector<unsigned char>{0xFB, 0xFF, 0xBF}), out);
    // Line breaks of the broken form are skipped.
    const std::string broken = "TWFu\r\nTWFu";
    ASSERT_TRUE(base64::decode(broken.data(), int(broken.size()), out));
    EXPECT_EQ(6u, out.size());

    const char *damaged[] = {"TWF", "TWFuT", "TW=u", "T===", "====", "TWE=TWFu", "TW u", "TWF*", "QUJD="};
    for (const char *text : damaged) {
        out.assign(3, 1);
        EXPECT_FALSE(base64::decode(text, int(strlen(text)), out)) << text;
        EXPECT_TRUE(out.empty()) << text;
    }
}

} // namespace
