#include <gtest/gtest.h>
TEST(Config, placeholder) { SUCCEED(); }
