// The context-menu plug-in the file manager loads from kf5/kfileitemaction: the extension's menu
// items for the selected files; choosing one sends its command to the app.
#include "Platform/base/Log.h"
#include "ScrivletFinderSync/dolphin/FileManagerExtensionHost.h"

#include <KAbstractFileItemActionPlugin>
#include <KFileItemListProperties>
#include <KPluginFactory>
#include <QAction>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <exception>

namespace scrivlet {

namespace {

int emblemPixels() {
    return FileManagerExtensionHost::emblemPixels(qGuiApp != nullptr ? qGuiApp->devicePixelRatio()
                                                                     : 1.0);
}

// For the trace: where each item shows on screen once its menu is open, so that a person or a
// test can find it there. Titles are the extension's: the menu may add accelerator marks.
void traceWhereShown(const std::weak_ptr<FileManagerExtensionHost>& weakHost,
                     const QList<QAction*>& actions, const std::vector<std::string>& titles) {
    auto* timer = new QTimer();
    auto tries = std::make_shared<int>(0);
    std::vector<std::pair<QPointer<QAction>, std::string>> watched;
    watched.reserve(titles.size());
    for (int i = 0; i < actions.size(); ++i) {
        watched.emplace_back(actions[i], titles[static_cast<std::size_t>(i)]);
    }
    QObject::connect(timer, &QTimer::timeout, timer, [timer, tries, watched, weakHost] {
        const auto host = weakHost.lock();
        bool shown = false;
        for (const auto& [action, title] : watched) {
            if (!action || !host) {
                continue;
            }
            for (QWidget* widget : action->associatedWidgets()) {
                auto* menu = qobject_cast<QMenu*>(widget);
                if (menu == nullptr || !menu->isVisible()) {
                    continue;
                }
                const QRect rect = menu->actionGeometry(action);
                const QPoint topLeft = menu->mapToGlobal(rect.topLeft());
                host->trace({"item", title, std::to_string(topLeft.x()),
                             std::to_string(topLeft.y()), std::to_string(rect.width()),
                             std::to_string(rect.height())});
                shown = true;
            }
        }
        if (shown || ++*tries > 100 || !host) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(50);
}

} // namespace

class ScrivletFileItemActionPlugin final : public KAbstractFileItemActionPlugin {
    Q_OBJECT

public:
    ScrivletFileItemActionPlugin(QObject* parent, const QVariantList& /*arguments*/)
        : KAbstractFileItemActionPlugin(parent) {
        // Nothing thrown may reach the file manager: without the host there are no items.
        try {
            host_ = FileManagerExtensionHost::acquire(emblemPixels());
        } catch (const std::exception& error) {
            NSLog("Scrivlet FinderSync: Cannot start in the file manager: %@", {error.what()});
        } catch (...) {
            NSLog("Scrivlet FinderSync: Cannot start in the file manager");
        }
    }

    QList<QAction*> actions(const KFileItemListProperties& items, QWidget* parentWidget) override {
        QList<QAction*> actions;
        if (!host_) {
            return actions;
        }
        // The extension speaks of files on this machine only.
        std::vector<std::string> paths;
        for (const QUrl& url : items.urlList()) {
            if (!url.isLocalFile()) {
                return actions;
            }
            // The bytes of the name on disk, as the store keys it (QString holds it decoded).
            paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
        }
        try {
            const std::weak_ptr<FileManagerExtensionHost> weakHost = host_;
            std::vector<std::string> titles;
            for (const auto& entry : host_->menuFor(paths)) {
                titles.push_back(entry.title);
                auto* action = new QAction(QString::fromStdString(entry.title), parentWidget);
                QObject::connect(action, &QAction::triggered, action, [weakHost, entry, paths] {
                    try {
                        if (const auto host = weakHost.lock()) {
                            host->perform(entry, paths);
                        }
                    } catch (const std::exception& error) {
                        NSLog("Scrivlet FinderSync: The command failed: %@", {error.what()});
                    } catch (...) {
                        NSLog("Scrivlet FinderSync: The command failed");
                    }
                });
                actions.append(action);
            }
            if (std::getenv(FileManagerExtensionHost::traceVariable) != nullptr) {
                traceWhereShown(weakHost, actions, titles);
            }
        } catch (...) {
            qDeleteAll(actions);
            actions.clear();
            NSLog("Scrivlet FinderSync: No menu for the selection");
        }
        return actions;
    }

private:
    std::shared_ptr<FileManagerExtensionHost> host_;
};

} // namespace scrivlet

using scrivlet::ScrivletFileItemActionPlugin;
K_PLUGIN_CLASS_WITH_JSON(ScrivletFileItemActionPlugin, "scrivlet_fileitemaction.json")

#include "FileItemActionPlugIn.moc"
