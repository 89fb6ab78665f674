#include "Platform/backends/x11/WindowFolders.h"

#include "Platform/backends/x11/FrontFolderSelection.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

namespace scrivlet::x11 {

namespace {

const QString service = QStringLiteral("org.freedesktop.FileManager1");
const QString objectPath = QStringLiteral("/org/freedesktop/FileManager1");
const QString propertyName = QStringLiteral("OpenWindowsWithLocations");

std::map<std::string, std::string> foldersFrom(const QVariant& value) {
    QMap<QString, QStringList> windows;
    if (value.canConvert<QDBusArgument>()) {
        value.value<QDBusArgument>() >> windows;
    }
    std::map<std::string, std::string> folders;
    for (auto window = windows.cbegin(); window != windows.cend(); ++window) {
        if (window.value().size() != 1) {
            continue;
        }
        if (const auto folder = folderOfLocation(window.value().front().toStdString())) {
            folders[window.key().toStdString()] = *folder;
        }
    }
    return folders;
}

} // namespace

struct WindowFolders::Receiver : QObject {
    Q_OBJECT

public:
    explicit Receiver(Handler handler) : onChange(std::move(handler)) {
        QDBusConnection::sessionBus().connect(
            service, objectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("PropertiesChanged"), this,
            SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
        read();
    }

    // Asks for the whole list; never starts a file manager to answer.
    void read() {
        QDBusMessage get = QDBusMessage::createMethodCall(
            service, objectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Get"));
        get << service << propertyName;
        get.setAutoStartService(false);
        auto* call =
            new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(get), this);
        QObject::connect(
            call, &QDBusPendingCallWatcher::finished, [this](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusMessage reply = finished->reply();
                if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
                    onChange(
                        foldersFrom(reply.arguments().front().value<QDBusVariant>().variant()));
                }
            });
    }

public slots:
    void propertiesChanged(const QString& interface, const QVariantMap& changed,
                           const QStringList& invalidated) {
        if (interface != service) {
            return;
        }
        if (changed.contains(propertyName)) {
            onChange(foldersFrom(changed.value(propertyName)));
        } else if (invalidated.contains(propertyName)) {
            read();
        }
    }

private:
    Handler onChange;
};

WindowFolders::WindowFolders(Handler onChange)
    : receiver_(std::make_unique<Receiver>(std::move(onChange))) {}

WindowFolders::~WindowFolders() = default;

} // namespace scrivlet::x11

#include "WindowFolders.moc"
