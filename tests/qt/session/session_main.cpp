// The session tests look at a real X display: this process joins it to
// grab the screen and to see when a tray host has come.

#include <QApplication>

#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
#ifndef BV_KEEP_SESSION_BUS
    // Qt would otherwise look for a D-Bus tray before the X one.
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
#endif
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
