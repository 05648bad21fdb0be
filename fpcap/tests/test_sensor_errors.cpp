// Failure codes by name: the numbers callers compare stay what qxfpcap.h
// documents, each has its own name for log lines and test messages, and the
// names stay inside the plug-in.
#include "test_sensor_support.h"

#include <set>
#include <string>

#include "correct/correct.h"
#include "fpcap_error.h"

using namespace fpcap_test;

TEST(ErrorCodes, KeepTheDocumentedNumbers) {
    EXPECT_EQ(-1, FPCAP_ERROR_DEVICE);
    EXPECT_EQ(-2, FPCAP_ERROR_INVALID);
    EXPECT_EQ(-3, FPCAP_ERROR_TOO_SMALL);
    EXPECT_EQ(-4, FPCAP_ERROR_RESOLUTION);
    EXPECT_EQ(-5, FPCAP_ERROR_PARAMETER);
    EXPECT_EQ(-1, CORRECT_ERROR_CONTEXT);
    EXPECT_EQ(-2, CORRECT_ERROR_NO_MEMORY);
    EXPECT_EQ(-3, CORRECT_ERROR_INVALID);
    EXPECT_EQ(-4, CORRECT_ERROR_NO_BUFFER);
}

TEST(ErrorCodes, EachHasItsOwnName) {
    std::set<std::string> names;
    for (int code = 0; code >= -5; --code) names.insert(fpcap_error_name(code));
    EXPECT_EQ(6u, names.size());
    EXPECT_STREQ("FPCAP_ERROR_TOO_SMALL", fpcap_error_name(-3));
    EXPECT_STREQ("FPCAP_ERROR_UNKNOWN", fpcap_error_name(-6));
    EXPECT_STREQ("FPCAP_ERROR_UNKNOWN", fpcap_error_name(SENSOR_LOST_DEVICE));
    names.clear();
    for (int code = 0; code >= -4; --code) names.insert(correct_error_name(code));
    EXPECT_EQ(5u, names.size());
    EXPECT_STREQ("CORRECT_ERROR_NO_BUFFER", correct_error_name(-4));
    EXPECT_STREQ("CORRECT_ERROR_UNKNOWN", correct_error_name(1));
}

class NamedFailures : public SensorTest {};

TEST_F(NamedFailures, EntryPointsReturnTheNamedCodes) {
    addSensor();
    void *h = open();
    ASSERT_NE(nullptr, h);
    std::vector<unsigned char> small(16);
    int rc = sensorCapture(h, small.data(), static_cast<int>(small.size()));
    EXPECT_EQ(FPCAP_ERROR_TOO_SMALL, rc) << fpcap_error_name(rc);
    rc = sensorSetParameter(h, SENSOR_PARAM_DPI, 0);
    EXPECT_EQ(FPCAP_ERROR_RESOLUTION, rc) << fpcap_error_name(rc);
    rc = sensorGetParameter(h, 4242);
    EXPECT_EQ(FPCAP_ERROR_PARAMETER, rc) << fpcap_error_name(rc);
    rc = sensorStatus(nullptr);
    EXPECT_EQ(FPCAP_ERROR_INVALID, rc) << fpcap_error_name(rc);
}

TEST(CorrectionFailures, ReturnTheNamedCodes) {
    int rc = correct_update(nullptr);
    EXPECT_EQ(CORRECT_ERROR_CONTEXT, rc) << correct_error_name(rc);
    CorrectContext *c = nullptr;
    ASSERT_EQ(CORRECT_SUCCESS, correct_init(&c));
    rc = correct_image(c, nullptr, nullptr);
    EXPECT_NE(CORRECT_SUCCESS, rc) << correct_error_name(rc);
    rc = correct_size_target(c, 0, 0);
    EXPECT_EQ(CORRECT_ERROR_INVALID, rc) << correct_error_name(rc);
    correct_free(c);
}
