// The in-memory database: add, delete, count, clear and identification among
// several enrolled fingers.
#include "qxfp_test_support.h"

using namespace qxfp_test;

namespace {

int add(void *alg, int id, Bytes t) {
    const int n = static_cast<int>(t.size());
    t.resize(QXFP_MAX_TEMPLATE);
    return VERIDO_DB_ADD(alg, id, n, t.data());
}

int identify(void *alg, Bytes t, int *id, int *score) {
    t.resize(QXFP_MAX_TEMPLATE);
    return VERIDO_IDENTIFYTEMP(alg, t.data(), id, score);
}

}  // namespace

TEST_F(AlgorithmTest, IdentifyFindsTheRightIdAmongSeveralEnrolled) {
    for (int k = 0; k < 5; ++k) ASSERT_EQ(1, add(alg_, 101 + k, enrolFinger(60 + k)));
    ASSERT_EQ(5, VERIDO_DB_COUNT(alg_));
    for (int k = 0; k < 5; ++k) {
        int id = -1, score = -1;
        const Bytes p = probe(60 + k, qxsim_random_impression(static_cast<unsigned>(500 + k)));
        EXPECT_EQ(1, identify(alg_, p, &id, &score)) << "finger " << 60 + k;
        EXPECT_EQ(101 + k, id);
        EXPECT_GE(score, 50);
        EXPECT_LE(score, 100);
    }
    // A finger never enrolled: nothing found, id 0, the best score below 50.
    int id = -1, score = -1;
    EXPECT_EQ(0, identify(alg_, probe(70, placed(0, 0, 0)), &id, &score));
    EXPECT_EQ(0, id);
    EXPECT_GE(score, 0);
    EXPECT_LT(score, 50);
    // A single-press template identifies too (what the enrolment's first step asks).
    EXPECT_EQ(1, identify(alg_, probe(62, placed(-20, 10, 4)), &id, &score));
    EXPECT_EQ(103, id);
}

TEST_F(AlgorithmTest, AddDeleteCountAndClear) {
    const Bytes a = enrolFinger(80), b = enrolFinger(81), c = probe(82, placed(0, 0, 0));
    EXPECT_EQ(0, VERIDO_DB_COUNT(alg_));
    EXPECT_EQ(1, add(alg_, 1, a));
    EXPECT_EQ(1, add(alg_, 2, b));
    EXPECT_EQ(1, add(alg_, 3, c)) << "a single-press template is accepted too";
    EXPECT_EQ(3, VERIDO_DB_COUNT(alg_));
    EXPECT_EQ(QXFP_ERR_DUPLICATE, add(alg_, 2, a)) << "an id is not overwritten";
    EXPECT_EQ(QXFP_ERR_ARGUMENT, add(alg_, 0, a));
    EXPECT_EQ(QXFP_ERR_ARGUMENT, add(alg_, -4, a));
    EXPECT_EQ(3, VERIDO_DB_COUNT(alg_));

    int id = 0, score = 0;
    EXPECT_EQ(1, identify(alg_, probe(81, placed(15, 15, -5)), &id, &score));
    EXPECT_EQ(2, id);
    EXPECT_EQ(1, VERIDO_DB_DEL(alg_, 2));
    EXPECT_EQ(QXFP_ERR_NOT_FOUND, VERIDO_DB_DEL(alg_, 2));
    EXPECT_EQ(2, VERIDO_DB_COUNT(alg_));
    EXPECT_EQ(0, identify(alg_, probe(81, placed(15, 15, -5)), &id, &score)) << "deleted finger no longer found";
    EXPECT_EQ(0, id);
    EXPECT_EQ(1, identify(alg_, probe(80, placed(-10, 5, 3)), &id, &score));
    EXPECT_EQ(1, id);

    EXPECT_EQ(0, VERIDO_DB_CLEAR(alg_));
    EXPECT_EQ(0, VERIDO_DB_COUNT(alg_));
    EXPECT_EQ(0, identify(alg_, probe(80, placed(-10, 5, 3)), &id, &score));
    EXPECT_EQ(0, score) << "nothing to compare with";
    EXPECT_EQ(1, add(alg_, 2, b)) << "ids are free again after a clear";
}

TEST_F(AlgorithmTest, AddRefusesWrongLengthsAndForeignBytes) {
    Bytes t = probe(83, placed(0, 0, 0));
    const int n = static_cast<int>(t.size());
    t.resize(QXFP_MAX_TEMPLATE);
    EXPECT_EQ(QXFP_ERR_TEMPLATE, VERIDO_DB_ADD(alg_, 1, n - 1, t.data()));
    EXPECT_EQ(QXFP_ERR_TEMPLATE, VERIDO_DB_ADD(alg_, 1, n + 1, t.data()));
    EXPECT_EQ(QXFP_ERR_ARGUMENT, VERIDO_DB_ADD(alg_, 1, QXFP_MAX_TEMPLATE + 1, t.data()));
    EXPECT_EQ(QXFP_ERR_ARGUMENT, VERIDO_DB_ADD(alg_, 1, n, nullptr));
    Bytes text(QXFP_MAX_TEMPLATE, 'A');
    EXPECT_EQ(QXFP_ERR_TEMPLATE, VERIDO_DB_ADD(alg_, 1, 100, text.data()));
    EXPECT_EQ(0, VERIDO_DB_COUNT(alg_));
    EXPECT_EQ(1, VERIDO_DB_ADD(alg_, 1, n, t.data()));
}

TEST_F(AlgorithmTest, ThresholdParameterGovernsIdentify) {
    ASSERT_EQ(1, add(alg_, 7, enrolFinger(84)));
    const Bytes p = probe(84, placed(10, -10, 5));
    int id = 0, score = 0;
    ASSERT_EQ(1, identify(alg_, p, &id, &score));
    const int genuine = score;
    EXPECT_EQ(0, VERIDO_SET_PARAMETER(alg_, QXFP_PARAM_THRESHOLD, 100));
    if (genuine < 100) {
        EXPECT_EQ(0, identify(alg_, p, &id, &score));
        EXPECT_EQ(0, id);
        EXPECT_EQ(genuine, score) << "the best score is still reported";
    }
    EXPECT_EQ(QXFP_ERR_ARGUMENT, VERIDO_SET_PARAMETER(alg_, QXFP_PARAM_THRESHOLD, 0));
    EXPECT_EQ(QXFP_ERR_ARGUMENT, VERIDO_SET_PARAMETER(alg_, QXFP_PARAM_THRESHOLD, 101));
    EXPECT_EQ(QXFP_ERR_ARGUMENT, VERIDO_SET_PARAMETER(alg_, 999, 1));
    EXPECT_EQ(0, VERIDO_SET_PARAMETER(alg_, QXFP_PARAM_THRESHOLD, 50));
    EXPECT_EQ(1, identify(alg_, p, &id, &score));
}

TEST_F(AlgorithmTest, EachHandleHasItsOwnDatabaseAndClosedHandlesAreRefused) {
    void *other = VERIDO_INIT_SIMPLE(0, sensor_->width(), sensor_->height(), 0);
    ASSERT_NE(nullptr, other);
    const Bytes t = probe(85, placed(0, 0, 0));
    EXPECT_EQ(1, add(alg_, 1, t));
    EXPECT_EQ(0, VERIDO_DB_COUNT(other));
    EXPECT_EQ(0, VERIDO_CLOSE(other));
    EXPECT_EQ(QXFP_ERR_HANDLE, VERIDO_CLOSE(other));
    EXPECT_EQ(QXFP_ERR_HANDLE, VERIDO_DB_COUNT(other));
    EXPECT_EQ(QXFP_ERR_HANDLE, add(other, 1, t));
    int id = 0, score = 0;
    EXPECT_EQ(QXFP_ERR_HANDLE, identify(other, t, &id, &score));
    EXPECT_EQ(QXFP_ERR_HANDLE, VERIDO_DB_DEL(other, 1));
    EXPECT_EQ(QXFP_ERR_HANDLE, VERIDO_DB_CLEAR(other));
    EXPECT_EQ(QXFP_ERR_HANDLE, VERIDO_SET_PARAMETER(other, QXFP_PARAM_THRESHOLD, 50));
    EXPECT_EQ(QXFP_ERR_HANDLE, pVERIDO_GETLASTQUALITY(other));
    EXPECT_EQ(QXFP_ERR_HANDLE, VERIDO_DB_COUNT(nullptr));
    EXPECT_EQ(1, VERIDO_DB_COUNT(alg_)) << "the other handle is untouched";
}
