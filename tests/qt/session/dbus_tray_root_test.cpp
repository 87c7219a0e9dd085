// The real desktop program on a session bus with a stand-in for the tray
// host's watcher, as KDE's tray and GNOME's AppIndicator extension speak
// it: the item registers, its icon follows the state, Activate opens the
// menu, and the exported menu reads and runs like the tray menu.

#include "session_support.h"

#include <QRegularExpression>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QObject>
#include <QSettings>
#include <QStringList>
#include <QVariantMap>

#include <gtest/gtest.h>

using namespace bv;

namespace {

using namespace std::chrono_literals;

// The "gone" hosts answer until the test has their requests refused.
const char kHosts[] = "home\t127.0.0.1\tanswers\n"
                      "lost\t127.0.0.3\tsilenced in the namespace\n"
                      "gone1\t127.0.0.11\t\ngone2\t127.0.0.12\t\ngone3\t127.0.0.13\t\ngone4\t127.0.0.14\t\n"
                      "gone5\t127.0.0.15\t\ngone6\t127.0.0.16\t\ngone7\t127.0.0.17\t\n";

const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");

}  // namespace

// The part of the tray host that items talk to: it takes registrations.
class FakeWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
    QStringList registeredItems() const { return items_; }
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

    QString service;
    QString path;

public slots:
    void RegisterStatusNotifierItem(const QString& item, const QDBusMessage& message)
    {
        // An item names its service, or only its path on the sender's connection.
        if (item.startsWith('/')) {
            service = message.service();
            path = item;
        } else {
            service = item;
            path = QStringLiteral("/StatusNotifierItem");
        }
        items_ << service + path;
        emit StatusNotifierItemRegistered(service + path);
    }
    void RegisterStatusNotifierHost(const QString&) {}

signals:
    void StatusNotifierItemRegistered(const QString& item);
    void StatusNotifierItemUnregistered(const QString& item);
    void StatusNotifierHostRegistered();

private:
    QStringList items_;
};

// The desktop's notification service, as far as a tray item uses it.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList notices;  // summary, a line break, body

public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
        const QStringList&, const QVariantMap&, int)
    {
        notices << summary + "\n" + body;
        return static_cast<uint>(notices.size());
    }
    QStringList GetCapabilities() { return { QStringLiteral("body") }; }
    QString GetServerInformation(QString& vendor, QString& version, QString& notificationsVersion)
    {
        vendor = QStringLiteral("test");
        version = QStringLiteral("1");
        notificationsVersion = QStringLiteral("1.2");
        return QStringLiteral("fake");
    }
    void CloseNotification(uint) {}

signals:
    void NotificationClosed(uint id, uint reason);
    void ActionInvoked(uint id, const QString& action);
};

namespace {

std::optional<QVariant> itemProperty(const FakeWatcher& watcher, const QString& name)
{
    QDBusMessage call = QDBusMessage::createMethodCall(watcher.service, watcher.path,
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << kItemInterface << name;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return reply.arguments().at(0).value<QDBusVariant>().variant();
}

// The centre of the largest of the item's images (ARGB, bytes in network order).
QColor iconCentre(const FakeWatcher& watcher)
{
    const auto value = itemProperty(watcher, QStringLiteral("IconPixmap"));
    if (!value || !value->canConvert<QDBusArgument>())
        return {};
    const QDBusArgument images = value->value<QDBusArgument>();
    QColor centre;
    int largest = 0;
    images.beginArray();
    while (!images.atEnd()) {
        int width = 0;
        int height = 0;
        QByteArray bytes;
        images.beginStructure();
        images >> width >> height >> bytes;
        images.endStructure();
        const qsizetype at = 4 * (static_cast<qsizetype>(height / 2) * width + width / 2);
        if (width > largest && bytes.size() == 4 * width * height) {
            largest = width;
            centre = QColor(static_cast<unsigned char>(bytes[at + 1]), static_cast<unsigned char>(bytes[at + 2]),
                static_cast<unsigned char>(bytes[at + 3]));
        }
    }
    images.endArray();
    return centre;
}

QString toolTipTitle(const FakeWatcher& watcher)
{
    const auto value = itemProperty(watcher, QStringLiteral("ToolTip"));
    if (!value || !value->canConvert<QDBusArgument>())
        return {};
    const QDBusArgument tip = value->value<QDBusArgument>();
    QString iconName;
    QString title;
    QString text;
    tip.beginStructure();
    tip >> iconName;
    tip.beginArray();
    while (!tip.atEnd()) {
        int width = 0;
        int height = 0;
        QByteArray bytes;
        tip.beginStructure();
        tip >> width >> height >> bytes;
        tip.endStructure();
    }
    tip.endArray();
    tip >> title >> text;
    tip.endStructure();
    return title;
}

struct MenuEntry {
    int id = 0;
    QString label;  // "-" for a separator
};

void readLayout(const QDBusArgument& node, std::vector<MenuEntry>& entries, int depth)
{
    int id = 0;
    QVariantMap properties;
    node.beginStructure();
    node >> id >> properties;
    node.beginArray();
    std::vector<QDBusVariant> children;
    while (!node.atEnd()) {
        QDBusVariant child;
        node >> child;
        children.push_back(child);
    }
    node.endArray();
    node.endStructure();
    if (depth > 0) {
        const bool separator = properties.value(QStringLiteral("type")).toString() == QStringLiteral("separator");
        const bool visible = !properties.contains(QStringLiteral("visible"))
            || properties.value(QStringLiteral("visible")).toBool();
        if (visible)
            entries.push_back({ id, separator ? QStringLiteral("-") : properties.value(QStringLiteral("label")).toString() });
    }
    for (const QDBusVariant& child : children)
        readLayout(child.variant().value<QDBusArgument>(), entries, depth + 1);
}

std::vector<MenuEntry> menuEntries(const FakeWatcher& watcher, const QString& menuPath)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        watcher.service, menuPath, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("GetLayout"));
    call << 0 << -1 << QStringList();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
    std::vector<MenuEntry> entries;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2)
        return entries;
    readLayout(reply.arguments().at(1).value<QDBusArgument>(), entries, 0);
    return entries;
}

bool callItem(const FakeWatcher& watcher, const QString& method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(watcher.service, watcher.path, kItemInterface, method);
    call << 0 << 0;
    return QDBusConnection::sessionBus().call(call, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

}  // namespace

TEST(DBusTray, ItemRegistersIconFollowsActivateOpensTheMenuAndItsExitEnds)
{
    const std::string reason = sessionUnavailableReason();
    if (!reason.empty())
        GTEST_SKIP() << reason;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        GTEST_SKIP() << "needs a session bus (run under dbus-run-session)";
    PrivateNamespace space;
    ASSERT_EQ(space.failure(), "");
    ASSERT_TRUE(space.silence("127.0.0.3"));

    FakeWatcher watcher;
    ASSERT_TRUE(bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
        QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties | QDBusConnection::ExportAllSignals));
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
    FakeNotifications notifications;
    ASSERT_TRUE(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notifications,
        QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));

    DesktopProgram::Options options;
    options.dbus = true;
    options.notices = true;
    DesktopProgram program(space, kHosts, options);
    ASSERT_TRUE(processUntil([&] { return !watcher.service.isEmpty(); }, 20s)) << program.run().errors();
    EXPECT_EQ(program.run().errors().find("no system tray"), std::string::npos);
    EXPECT_TRUE(visibleWindows({ "--classname", "beaconvigilor" }).empty());

    // Green from the start, red once the silenced host has failed twice.
    EXPECT_TRUE(processUntil([&] { return iconCentre(watcher) == kTrayGreen; }, 10s));
    ASSERT_TRUE(processUntil([&] { return iconCentre(watcher) == kTrayRed; }, 60s))
        << iconCentre(watcher).name().toStdString();
    EXPECT_TRUE(processUntil([&] { return toolTipTitle(watcher) == "BeaconVigilor Status Red"; }, 10s))
        << toolTipTitle(watcher).toStdString();

    // A click of the host's icon opens the menu on the screen.
    ASSERT_TRUE(callItem(watcher, QStringLiteral("Activate")));
    ASSERT_TRUE(processUntil([] { return visibleWindows({ "--classname", "beaconvigilor" }).size() == 1; }, 10s));
    ASSERT_TRUE(succeeds({ "xdotool", "key", "Escape" }));
    ASSERT_TRUE(processUntil([] { return visibleWindows({ "--classname", "beaconvigilor" }).empty(); }, 10s));
    EXPECT_TRUE(callItem(watcher, QStringLiteral("ContextMenu")));

    // The menu the host reads: the tray menu's items, in order.
    const auto menuPath = itemProperty(watcher, QStringLiteral("Menu"));
    ASSERT_TRUE(menuPath.has_value());
    const QString path = menuPath->value<QDBusObjectPath>().path();
    ASSERT_FALSE(path.isEmpty());
    std::vector<MenuEntry> entries;
    ASSERT_TRUE(processUntil([&] { return (entries = menuEntries(watcher, path)).size() == 16; }, 10s))
        << entries.size();
    QStringList labels;
    for (const MenuEntry& entry : entries)
        labels << entry.label;
    EXPECT_EQ(labels, (QStringList { "Live _Red List", "-", "Show _Log", "Show _Down", "Show _Input File", "_Properties",
                          "-", "_About...", "_Help", "-", "E_xit", "-", "Reload Host List", "Show Notices",
                          "Start with Session", "All Hosts" }));

    // The silenced host's turn has come as a notice; seven hosts that go
    // down at once come through the desktop's service grouped: one notice a
    // sweep pass, and each turns red in the pass of its own second failure.
    EXPECT_TRUE(processUntil([&] { return notifications.notices.contains("BeaconVigilor\n1 host down: lost"); }, 10s))
        << notifications.notices.join(" | ").toStdString();
    const qsizetype before = notifications.notices.size();
    for (int host = 11; host <= 17; ++host)
        ASSERT_TRUE(space.refuse("127.0.0." + std::to_string(host)));
    const QRegularExpression down(QStringLiteral("^BeaconVigilor\n(\\d+) hosts? down: gone"));
    const auto hostsDown = [&] {
        int count = 0;
        for (const QString& notice : notifications.notices.mid(before)) {
            const QRegularExpressionMatch match = down.match(notice);
            count += match.hasMatch() ? match.captured(1).toInt() : 100;
        }
        return count;
    };
    EXPECT_TRUE(processUntil([&] { return hostsDown() >= 7; }, 30s)) << notifications.notices.join(" | ").toStdString();
    EXPECT_EQ(hostsDown(), 7) << notifications.notices.join(" | ").toStdString();
    EXPECT_LT(notifications.notices.size() - before, 4) << notifications.notices.join(" | ").toStdString();

    QDBusMessage click = QDBusMessage::createMethodCall(
        watcher.service, path, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"));
    click << entries[10].id << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(QString())) << 0u;
    bus.call(click, QDBus::Block, 5000);
    EXPECT_EQ(program.run().waitForExit(30s), 0) << program.run().errors();
    ASSERT_TRUE(fileExists(program.settingsFile()));
    QSettings stored(QString::fromStdString(program.settingsFile()), QSettings::IniFormat);
    EXPECT_TRUE(stored.contains("ColumnWidth0"));
    EXPECT_EQ(stored.value("WindowPlacement").toByteArray().left(1), "0");
}

#include "dbus_tray_root_test.moc"

