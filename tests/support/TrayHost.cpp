// A stand-in for the desktop's tray on the session bus, for end-to-end tests on a bare X server:
//   tray-host watch FILE         is the StatusNotifierWatcher; writes "SERVICE PATH" of each
//                                item that registers to FILE, one line each
//   tray-host menu FILE          prints the first item's menu, one "label<TAB>enabled" a line
//   tray-host click FILE LABEL   chooses the menu item with that label, as a click would
// Without a watcher on the bus an application's tray icon would fall back to an XEmbed icon,
// which only a running tray can show.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFile>
#include <QTextStream>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

constexpr const char* watcherInterface = "org.kde.StatusNotifierWatcher";

const char* const watcherIntrospection = R"(
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
)";

class Watcher final : public QDBusVirtualObject {
public:
    explicit Watcher(QString file) : file_(std::move(file)) {}

    QString introspect(const QString& /*path*/) const override {
        return QString::fromUtf8(watcherIntrospection);
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QString member = message.member();
        if (message.interface() == watcherInterface && member == "RegisterStatusNotifierItem") {
            QString item = message.arguments().value(0).toString();
            // An item names its service, or only its object path on the caller's connection.
            const QString entry = item.startsWith('/') ? message.service() + ' ' + item
                                                       : item + " /StatusNotifierItem";
            items_ << entry.section(' ', 0, 0) + entry.section(' ', 1, 1);
            QFile out(file_);
            if (out.open(QIODevice::Append | QIODevice::Text)) {
                QTextStream(&out) << entry << '\n';
            }
            connection.send(message.createReply());
            return true;
        }
        if (message.interface() == watcherInterface && member == "RegisterStatusNotifierHost") {
            connection.send(message.createReply());
            return true;
        }
        if (message.interface() == "org.freedesktop.DBus.Properties" &&
            (member == "Get" || member == "GetAll")) {
            const QVariantMap properties{
                {"RegisteredStatusNotifierItems", items_},
                {"IsStatusNotifierHostRegistered", true},
                {"ProtocolVersion", 0},
            };
            if (member == "GetAll") {
                connection.send(message.createReply(QVariant::fromValue(properties)));
            } else {
                const QString name = message.arguments().value(1).toString();
                connection.send(
                    message.createReply(QVariant::fromValue(QDBusVariant(properties.value(name)))));
            }
            return true;
        }
        return false;
    }

private:
    QString file_;
    QStringList items_;
};

struct MenuEntry {
    int id = 0;
    QString label;
    bool enabled = true;
    bool separator = false;
};

// A dbusmenu layout node: (id, properties, children as variants of nodes).
void readLayout(const QDBusArgument& argument, std::vector<MenuEntry>& entries) {
    MenuEntry entry;
    QVariantMap properties;
    argument.beginStructure();
    argument >> entry.id >> properties;
    entry.label = properties.value("label").toString().remove('&');
    entry.enabled = properties.value("enabled", true).toBool();
    entry.separator = properties.value("type").toString() == "separator";
    if (entry.id != 0) {
        entries.push_back(entry);
    }
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        readLayout(child.variant().value<QDBusArgument>(), entries);
    }
    argument.endArray();
    argument.endStructure();
}

std::optional<std::pair<QString, QString>> firstItem(const QString& file) {
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return std::nullopt;
    }
    const QStringList words = QString::fromUtf8(in.readLine()).trimmed().split(' ');
    if (words.size() != 2) {
        return std::nullopt;
    }
    return std::pair{words[0], words[1]};
}

std::optional<std::pair<QString, QString>> menuOf(const QString& file) {
    const auto item = firstItem(file);
    if (!item) {
        std::fputs("tray-host: no item has registered\n", stderr);
        return std::nullopt;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(item->first, item->second,
                                                      "org.freedesktop.DBus.Properties", "Get");
    get << "org.kde.StatusNotifierItem"
        << "Menu";
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get);
    const auto path = reply.arguments().value(0).value<QDBusVariant>().variant();
    if (reply.type() != QDBusMessage::ReplyMessage) {
        std::fprintf(stderr, "tray-host: the item has no menu: %s\n",
                     qPrintable(reply.errorMessage()));
        return std::nullopt;
    }
    return std::pair{item->first, path.value<QDBusObjectPath>().path()};
}

std::optional<std::vector<MenuEntry>> layoutOf(const std::pair<QString, QString>& menu) {
    QDBusMessage call = QDBusMessage::createMethodCall(menu.first, menu.second,
                                                       "com.canonical.dbusmenu", "GetLayout");
    call << 0 << -1 << QStringList();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2) {
        std::fprintf(stderr, "tray-host: no menu layout: %s\n", qPrintable(reply.errorMessage()));
        return std::nullopt;
    }
    std::vector<MenuEntry> entries;
    readLayout(reply.arguments().at(1).value<QDBusArgument>(), entries);
    return entries;
}

int watch(const QString& file) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    Watcher watcher(file);
    if (!bus.registerVirtualObject("/StatusNotifierWatcher", &watcher) ||
        !bus.registerService(watcherInterface)) {
        std::fprintf(stderr, "tray-host: cannot be the watcher: %s\n",
                     qPrintable(bus.lastError().message()));
        return 1;
    }
    // The file's existence says the watcher is there: start the application after it.
    QFile ready(file);
    ready.open(QIODevice::WriteOnly | QIODevice::Truncate);
    ready.close();
    return QCoreApplication::exec();
}

int printMenu(const QString& file) {
    const auto menu = menuOf(file);
    const auto entries = menu ? layoutOf(*menu) : std::nullopt;
    if (!entries) {
        return 1;
    }
    for (const MenuEntry& entry : *entries) {
        if (!entry.separator) {
            std::printf("%s\t%s\n", qPrintable(entry.label),
                        entry.enabled ? "enabled" : "disabled");
        }
    }
    return 0;
}

int click(const QString& file, const QString& label) {
    const auto menu = menuOf(file);
    const auto entries = menu ? layoutOf(*menu) : std::nullopt;
    if (!entries) {
        return 1;
    }
    for (const MenuEntry& entry : *entries) {
        if (entry.label == label) {
            QDBusMessage event = QDBusMessage::createMethodCall(menu->first, menu->second,
                                                                "com.canonical.dbusmenu", "Event");
            event << entry.id << QString("clicked") << QVariant::fromValue(QDBusVariant(0)) << 0u;
            const QDBusMessage reply = QDBusConnection::sessionBus().call(event);
            return reply.type() == QDBusMessage::ReplyMessage ? 0 : 1;
        }
    }
    std::fprintf(stderr, "tray-host: no menu item \"%s\"\n", qPrintable(label));
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 3 && arguments[1] == "watch") {
        return watch(arguments[2]);
    }
    if (arguments.size() == 3 && arguments[1] == "menu") {
        return printMenu(arguments[2]);
    }
    if (arguments.size() == 4 && arguments[1] == "click") {
        return click(arguments[2], arguments[3]);
    }
    std::fputs("usage: tray-host watch FILE | menu FILE | click FILE LABEL\n", stderr);
    return 2;
}
