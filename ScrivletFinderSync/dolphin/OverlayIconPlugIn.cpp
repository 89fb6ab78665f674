// The emblems plug-in the file manager loads from kf5/overlayicon: each shown file's badge, and
// a change signal when the app changed a file's record.
#include "Platform/base/Log.h"
#include "ScrivletFinderSync/dolphin/FileManagerExtensionHost.h"
#include "ScrivletFinderSync/dolphin/ViewSelectionService.h"

#include <KOverlayIconPlugin>
#include <QFile>
#include <QGuiApplication>
#include <QStringList>
#include <QUrl>
#include <algorithm>
#include <exception>

namespace scrivlet {

namespace {

QStringList toQStringList(const std::vector<std::string>& texts) {
    QStringList list;
    list.reserve(static_cast<int>(texts.size()));
    for (const std::string& text : texts) {
        list.append(QString::fromStdString(text));
    }
    return list;
}

int emblemPixels() {
    return FileManagerExtensionHost::emblemPixels(qGuiApp != nullptr ? qGuiApp->devicePixelRatio()
                                                                     : 1.0);
}

} // namespace

class ScrivletOverlayIconPlugin final : public KOverlayIconPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.scrivlet.Scrivlet.FinderSync.OverlayIcon" FILE
                          "scrivlet_overlayicon.json")

public:
    explicit ScrivletOverlayIconPlugin(QObject* parent = nullptr) : KOverlayIconPlugin(parent) {
        // Nothing thrown may reach the file manager: without the host there are no emblems.
        try {
            // Loaded with each view, before any selection in it: the first one publishes.
            publishViewSelection();
            host_ = FileManagerExtensionHost::acquire(emblemPixels());
            observer_ = host_->addOverlaysObserver(
                [this](const std::string& path, const std::vector<std::string>& overlays) {
                    Q_EMIT overlaysChanged(
                        QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(path))),
                        toQStringList(overlays));
                });
        } catch (const std::exception& error) {
            host_.reset();
            NSLog("Scrivlet FinderSync: Cannot start in the file manager: %@", {error.what()});
        } catch (...) {
            host_.reset();
            NSLog("Scrivlet FinderSync: Cannot start in the file manager");
        }
    }

    ~ScrivletOverlayIconPlugin() override {
        if (host_) {
            host_->removeOverlaysObserver(observer_);
        }
    }

    ScrivletOverlayIconPlugin(const ScrivletOverlayIconPlugin&) = delete;
    ScrivletOverlayIconPlugin& operator=(const ScrivletOverlayIconPlugin&) = delete;

    QStringList getOverlays(const QUrl& item) override {
        if (!host_ || !item.isLocalFile()) {
            return {};
        }
        try {
            return toQStringList(
                host_->overlaysFor(QFile::encodeName(item.toLocalFile()).toStdString()));
        } catch (...) {
            return {};
        }
    }

private:
    std::shared_ptr<FileManagerExtensionHost> host_;
    int observer_ = 0;
};

} // namespace scrivlet

#include "OverlayIconPlugIn.moc"
