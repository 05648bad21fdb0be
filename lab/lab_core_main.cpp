// main() of the lab's reader programs: a core application only (no GUI, no
// camera libraries), which starts much faster in an emulated guest.
#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
