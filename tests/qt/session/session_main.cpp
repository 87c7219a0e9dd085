// The session tests look at a real X display: this process joins it to
// grab the screen and to see when a tray host has come.

#include <QApplication>

#include <cstdlib>
#include <gtest/gtest.h>
#include <string_view>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
#ifndef BV_KEEP_SESSION_BUS
    // Qt would otherwise look for a D-Bus tray before the X one.
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
#endif
    // Listing the tests needs no display: Qt's own threads, which the
    // sanitizers' suppressions do not reach while ctest lists, stay unstarted.
    for (int at = 1; at < argc; ++at) {
        if (std::string_view(argv[at]) == "--gtest_list_tests") {
            testing::InitGoogleTest(&argc, argv);
            return RUN_ALL_TESTS();
        }
    }
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
