// The file manager's two plug-ins, loaded as the file manager loads them (Qt's plug-in loader,
// KDE's plug-in factory) into a Qt application without a screen, in a temporary home with a
// store that plays the app's part and a URL receiver that plays the running app.
#include "Platform/Services.h"
#include "Platform/backends/filemanager/FileManagerDesktop.h"
#include "Platform/backends/qt/QtRunLoopBackend.h"
#include "Platform/base/RunLoop.h"
#include "Platform/desktop/FinderSyncController.h"
#include "Platform/system/Bundle.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/BadgeRefreshNotifier.h"
#include "ScrivletFinderSync/FinderSyncExtension.h"
#include "ScrivletFinderSync/dolphin/BadgeRasterizer.h"
#include "tests/support/AppStoreHome.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ReceivingApp.h"
#include "tests/support/TempHome.h"

#include <KAbstractFileItemActionPlugin>
#include <KFileItem>
#include <KFileItemListProperties>
#include <KOverlayIconPlugin>
#include <KPluginFactory>
#include <KPluginMetaData>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPluginLoader>
#include <QSignalSpy>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace scrivlet {

namespace {

using namespace std::chrono_literals;

// One Qt application without a screen for the whole run, as the file manager has one; it
// goes after the last test, before the plug-ins' libraries are unloaded.
class QtApplicationEnvironment final : public ::testing::Environment {
public:
    void SetUp() override {
        ::setenv("QT_QPA_PLATFORM", "minimal", 1);
        app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[32] = "file-manager-plugin-tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};
[[maybe_unused]] ::testing::Environment* const qtApplication =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

// The home is a base: it outlives the members that use it.
class FileManagerPlugInTest : public ::testing::Test, public AppStoreHome {
protected:
    void SetUp() override { parent_ = std::make_unique<QWidget>(); }

    void TearDown() override {
        // The host ends with the last plug-in object, so every test starts its own.
        delete actionPlugin_;
        delete overlayPlugin_;
    }

    KOverlayIconPlugin& overlays() {
        if (overlayPlugin_ == nullptr) {
            QPluginLoader loader(SCRIVLET_OVERLAY_PLUGIN);
            overlayPlugin_ = qobject_cast<KOverlayIconPlugin*>(loader.instance());
            EXPECT_NE(overlayPlugin_, nullptr) << loader.errorString().toStdString();
        }
        return *overlayPlugin_;
    }
    KAbstractFileItemActionPlugin& actions() {
        if (actionPlugin_ == nullptr) {
            const auto created = KPluginFactory::instantiatePlugin<KAbstractFileItemActionPlugin>(
                KPluginMetaData(QStringLiteral(SCRIVLET_ACTION_PLUGIN)));
            EXPECT_NE(created.plugin, nullptr) << created.errorText.toStdString();
            actionPlugin_ = created.plugin;
        }
        return *actionPlugin_;
    }

    QStringList overlaysOf(const std::string& path) {
        return overlays().getOverlays(QUrl::fromLocalFile(QString::fromStdString(path)));
    }
    QList<QAction*> menuFor(const std::vector<std::string>& paths) {
        KFileItemList items;
        for (const std::string& path : paths) {
            items.append(KFileItem(QUrl::fromLocalFile(QString::fromStdString(path))));
        }
        return actions().actions(KFileItemListProperties(items), parent_.get());
    }
    static std::vector<std::string> titles(const QList<QAction*>& actions) {
        std::vector<std::string> texts;
        for (const QAction* action : actions) {
            texts.push_back(action->text().toStdString());
        }
        return texts;
    }
    // The emblem's colour a little inside its oval, left of the symbol.
    static QColor ovalColor(const QString& png) {
        const QImage image(png);
        return image.pixelColor(image.width() / 5, image.height() / 2);
    }
    static QColor centreColor(const QString& png) {
        const QImage image(png);
        return image.pixelColor(image.width() / 2, image.height() / 2);
    }
    // Runs Qt's loop until `done` or a few seconds passed.
    template <typename Predicate> static bool processEventsUntil(Predicate done) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < 5000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return done();
    }

    LogCapture log_;
    KOverlayIconPlugin* overlayPlugin_ = nullptr;
    KAbstractFileItemActionPlugin* actionPlugin_ = nullptr;
    std::unique_ptr<QWidget> parent_; // what the file manager's menu would be
};

const QColor systemBlue(0, 122, 255);
const QColor systemOrange(255, 149, 0);

TEST_F(FileManagerPlugInTest, EmblemsFollowTheBadgeRule) {
    const std::string reviewed = annotated("reviewed.txt");
    const std::string none = annotated("none.txt", Annotation::Status::none);
    const std::string flagged = annotated("flagged.txt", Annotation::Status::flagged);
    const std::string plain = file("plain.txt");

    const QStringList annotatedEmblem = overlaysOf(reviewed);
    ASSERT_EQ(annotatedEmblem.size(), 1);
    EXPECT_EQ(overlaysOf(none), annotatedEmblem);
    const QStringList flaggedEmblem = overlaysOf(flagged);
    ASSERT_EQ(flaggedEmblem.size(), 1);
    EXPECT_NE(flaggedEmblem, annotatedEmblem);
    EXPECT_TRUE(overlaysOf(plain).isEmpty());
    EXPECT_TRUE(overlays().getOverlays(QUrl("sftp://server/reviewed.txt")).isEmpty());

    // Absolute PNG files in the user's cache folder, drawn in the badge's colour.
    for (const QString& png : {annotatedEmblem.front(), flaggedEmblem.front()}) {
        EXPECT_TRUE(png.startsWith(QString::fromStdString((home().path() / ".cache").string())))
            << png.toStdString();
        EXPECT_TRUE(png.endsWith(".png"));
        EXPECT_EQ(QImage(png).size(), QSize(64, 64));
        EXPECT_EQ(QImage(png).pixelColor(0, 0).alpha(), 0) << "outside the oval is transparent";
    }
    EXPECT_EQ(ovalColor(annotatedEmblem.front()), systemBlue);
    EXPECT_EQ(ovalColor(flaggedEmblem.front()), systemOrange);
}

TEST_F(FileManagerPlugInTest, AChangeAnnouncedByTheAppTurnsTheEmblemWithOneSignal) {
    const std::string report = annotated("report.txt");
    const std::string other = file("other.txt");
    const QStringList before = overlaysOf(report);
    QSignalSpy changed(&overlays(), &KOverlayIconPlugin::overlaysChanged);

    save(report, Annotation::Status::flagged);
    save(other, Annotation::Status::none);
    // Announced twice: a path drained twice is set once.
    BadgeRefreshNotifier::notifyChange(report);
    BadgeRefreshNotifier::notifyChange(other);
    BadgeRefreshNotifier::notifyChange(report);
    ASSERT_TRUE(processEventsUntil([&] { return changed.size() >= 2; }));
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    ASSERT_EQ(changed.size(), 2);
    std::map<QString, QStringList> signalled;
    for (const QList<QVariant>& arguments : changed) {
        signalled[arguments.at(0).toUrl().toLocalFile()] = arguments.at(1).toStringList();
    }
    const QStringList nowFlagged = signalled[QString::fromStdString(report)];
    ASSERT_EQ(nowFlagged.size(), 1);
    EXPECT_EQ(ovalColor(nowFlagged.front()), systemOrange);
    EXPECT_EQ(overlaysOf(report), nowFlagged) << "asked again, the plug-in answers the same";
    EXPECT_EQ(signalled[QString::fromStdString(other)], before);

    // A deleted record clears the emblem.
    appStore().deleteByPath(report);
    BadgeRefreshNotifier::notifyChange(report);
    ASSERT_TRUE(processEventsUntil([&] { return changed.size() >= 3; }));
    EXPECT_TRUE(changed.at(2).at(1).toStringList().isEmpty());
}

TEST_F(FileManagerPlugInTest, TheMenuOffersTheExtensionsItemsAndItsCommandsReachTheApp) {
    ReceivingApp app;
    ASSERT_TRUE(app.listening());
    const std::string report = annotated("report #1 100%.txt");
    const std::string plain = file("plain.txt");
    const std::string third = file("third.txt");

    EXPECT_EQ(titles(menuFor({plain})), std::vector<std::string>{"Annotate This File\u2026"});
    const QList<QAction*> three = menuFor({third, report, plain});
    ASSERT_EQ(titles(three), std::vector<std::string>{"Annotate 3 Files\u2026"});
    const QList<QAction*> one = menuFor({report});
    ASSERT_EQ(titles(one),
              (std::vector<std::string>{"Edit Annotation\u2026", "Remove Annotation"}));

    three.front()->trigger();
    const auto annotate = app.waitForURLs(3);
    EXPECT_EQ(annotate, (std::vector<std::string>{"annotate " + third, "annotate " + report,
                                                  "annotate " + plain}))
        << "one URL per file, in the file manager's order, each path intact";
    one.back()->trigger();
    const auto all = app.waitForURLs(4);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[3], "remove " + report);
}

TEST_F(FileManagerPlugInTest, AStoreThatCannotBeOpenedGivesNoEmblemsAndTheOneItemMenu) {
    const std::string report = annotated("report.txt", Annotation::Status::flagged);
    closeAppStore();
    // Damaged beyond reading: no badges and the no-store menu for the life of the host.
    std::ofstream(AnnotationStore::defaultPath(), std::ios::binary | std::ios::trunc)
        << std::string(8192, 'x');

    EXPECT_TRUE(overlaysOf(report).isEmpty());
    EXPECT_EQ(titles(menuFor({report})), std::vector<std::string>{"Annotate This File\u2026"});
    EXPECT_EQ(titles(menuFor({report, file("b.txt")})),
              std::vector<std::string>{"Annotate 2 Files\u2026"});

    // A change announced later clears the file's emblem and opens nothing.
    QSignalSpy changed(&overlays(), &KOverlayIconPlugin::overlaysChanged);
    BadgeRefreshNotifier::notifyChange(report);
    ASSERT_TRUE(processEventsUntil([&] { return !changed.isEmpty(); }));
    EXPECT_TRUE(changed.front().at(1).toStringList().isEmpty());
    EXPECT_TRUE(overlaysOf(report).isEmpty());
    EXPECT_EQ(log_.nsLogLinesWith("Scrivlet FinderSync: Failed to open DB: "), 1u)
        << "a store that could not be opened is not tried again";
}

TEST_F(FileManagerPlugInTest, AStoreTheAppMakesAfterTheFileManagerStartedIsUsedFromItsFirstChange) {
    const std::string report = file("report.txt");
    EXPECT_TRUE(overlaysOf(report).isEmpty()) << "no store yet";
    QSignalSpy changed(&overlays(), &KOverlayIconPlugin::overlaysChanged);

    save(report, Annotation::Status::flagged);
    BadgeRefreshNotifier::notifyChange(report);
    ASSERT_TRUE(processEventsUntil([&] { return !changed.isEmpty(); }));
    ASSERT_EQ(changed.size(), 1);
    const QStringList emblem = changed.front().at(1).toStringList();
    ASSERT_EQ(emblem.size(), 1);
    EXPECT_EQ(ovalColor(emblem.front()), systemOrange);
    EXPECT_EQ(overlaysOf(report), emblem);
    EXPECT_EQ(log_.nsLogLinesWith("Scrivlet FinderSync: DB opened at "), 1u);
    EXPECT_EQ(titles(menuFor({report})),
              (std::vector<std::string>{"Edit Annotation\u2026", "Remove Annotation"}));

    // Later changes reach the extension that started again.
    save(report, Annotation::Status::reviewed);
    BadgeRefreshNotifier::notifyChange(report);
    ASSERT_TRUE(processEventsUntil([&] { return changed.size() >= 2; }));
    EXPECT_NE(changed.back().at(1).toStringList(), emblem);
}

TEST_F(FileManagerPlugInTest, NonLocalItemsGetNoMenu) {
    KFileItemList items{KFileItem(QUrl("sftp://server/a.txt"))};
    EXPECT_TRUE(actions().actions(KFileItemListProperties(items), parent_.get()).isEmpty());
    EXPECT_TRUE(menuFor({}).isEmpty()) << "no selection: the menu is empty";
}

// The badges as the extension's drawing code draws them, on a desktop that has both symbols
// and on one that has neither: a missing symbol leaves the bare oval.
class BadgeImageTest : public ::testing::Test {
protected:
    std::map<std::string, QImage> drawBadges(std::set<std::string> symbols) {
        Services services(std::make_unique<RunLoop>(makeRealRunLoopBackend()),
                          std::make_unique<FileManagerDesktop>(std::move(symbols), nullptr),
                          std::make_unique<Bundle>("test", "", "test", std::vector<std::string>{}));
        auto extension = FinderSyncExtension::make();
        std::map<std::string, QImage> images;
        for (const auto& badge : FinderSyncController::defaultController().badgeImages()) {
            const auto png = home_.path() / (badge.identifier + ".png");
            EXPECT_FALSE(BadgeRasterizer::writePNG(badge.image, 96, png));
            images[badge.identifier] = QImage(QString::fromStdString(png.string()));
        }
        return images;
    }
    // Of the 48 by 48 pixels the symbol is drawn into.
    static int darkPixelsInTheMiddle(const QImage& image) {
        int dark = 0;
        for (int y = 24; y < 72; ++y) {
            for (int x = 24; x < 72; ++x) {
                const QColor pixel = image.pixelColor(x, y);
                dark += pixel.alpha() == 255 && pixel.lightness() < 40 ? 1 : 0;
            }
        }
        return dark;
    }
    TempHome home_;
};

TEST_F(BadgeImageTest, TheSymbolSitsInTheOvalAndAMissingOneLeavesTheBareOval) {
    const auto drawn = drawBadges(BadgeRasterizer::drawableSymbols());
    const auto bare = drawBadges({});
    ASSERT_EQ(drawn.size(), 2u);
    ASSERT_EQ(bare.size(), 2u);
    for (const auto& [identifier, colour] :
         {std::pair{"annotated", systemBlue}, std::pair{"flagged", systemOrange}}) {
        const QImage& withSymbol = drawn.at(identifier);
        const QImage& without = bare.at(identifier);
        ASSERT_EQ(withSymbol.size(), QSize(96, 96));
        // The oval inscribed in the image inset by an eighth on each side.
        EXPECT_EQ(without.pixelColor(48, 48), colour) << identifier;
        EXPECT_EQ(without.pixelColor(15, 48), colour) << identifier;
        EXPECT_EQ(without.pixelColor(10, 48).alpha(), 0) << identifier;
        EXPECT_EQ(without.pixelColor(14, 14).alpha(), 0) << identifier << ": a corner";
        // The symbol covers much of the middle in the label colour; the oval shows around it.
        EXPECT_GT(darkPixelsInTheMiddle(withSymbol), 200) << identifier;
        EXPECT_EQ(darkPixelsInTheMiddle(without), 0) << identifier;
        EXPECT_EQ(withSymbol.pixelColor(15, 48), colour) << identifier;
    }
    EXPECT_NE(BadgeRasterizer::drawingFingerprint(
                  DrawnImage::imageWithSize({320, 320}, false, [](const CGRect&) { return true; })),
              BadgeRasterizer::drawingFingerprint(DrawnImage::imageWithSize(
                  {320, 320}, false, [](const CGRect&) { return false; })));
}

// The platform run loop inside Qt's: Qt waits, and the loop's sources, main queue and timers
// run on Qt's thread.
class QtRunLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto backend = makeQtRunLoopBackend([this]() -> std::optional<double> {
            loop->runUntilIdle();
            return loop->secondsUntilNextTimer();
        });
        backend_ = backend.get();
        loop = std::make_unique<RunLoop>(std::move(backend));
        ASSERT_EQ(::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK), 0);
    }
    void TearDown() override {
        loop.reset();
        ::close(pipe_[0]);
        ::close(pipe_[1]);
    }
    template <typename Predicate> static bool processEventsUntil(Predicate done) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < 5000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return done();
    }
    std::unique_ptr<RunLoop> loop;
    RunLoopBackend* backend_ = nullptr;
    int pipe_[2] = {-1, -1};
};

TEST_F(QtRunLoopTest, SourcesQueuedWorkAndTimersRunOnQtsThread) {
    const auto qtThread = std::this_thread::get_id();
    std::vector<std::string> ran;
    const RunLoop::SourceID source = loop->addFileDescriptorSource(pipe_[0], [&] {
        char byte = 0;
        while (::read(pipe_[0], &byte, 1) == 1) {
            ran.push_back(std::string("read ") + byte);
        }
    });
    const double started = loop->monotonicNow();
    double timerRanAfter = -1;
    loop->asyncAfter(0.05, [&] { timerRanAfter = loop->monotonicNow() - started; });
    backend_->wake(); // changed outside a pump: Qt looks again

    ASSERT_EQ(::write(pipe_[1], "a", 1), 1);
    ASSERT_TRUE(processEventsUntil([&] { return !ran.empty(); }));
    std::thread poster([&] {
        loop->async([&] { ran.push_back(std::this_thread::get_id() == qtThread ? "async" : "?"); });
    });
    poster.join();
    ASSERT_TRUE(processEventsUntil([&] { return ran.size() >= 2; }));
    ASSERT_TRUE(processEventsUntil([&] { return timerRanAfter >= 0; }));
    EXPECT_GE(timerRanAfter, 0.05);
    EXPECT_EQ(ran, (std::vector<std::string>{"read a", "async"}));

    // A source that removes itself while it runs; Qt stops watching its descriptor.
    loop->removeSource(source);
    RunLoop::SourceID last = 0;
    last = loop->addFileDescriptorSource(pipe_[0], [&] {
        char byte = 0;
        while (::read(pipe_[0], &byte, 1) == 1) {
            ran.push_back(std::string("last ") + byte);
        }
        loop->removeSource(last);
    });
    backend_->wake();
    ASSERT_EQ(::write(pipe_[1], "b", 1), 1);
    ASSERT_TRUE(processEventsUntil([&] { return ran.size() >= 3; }));
    ASSERT_EQ(::write(pipe_[1], "c", 1), 1);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    EXPECT_EQ(ran.back(), "last b");
}

// A file manager process lives for weeks and shows many files: its controller hands each badge
// on and keeps none.
TEST(FileManagerDesktopTest, TheControllerPassesBadgesOnAndKeepsNone) {
    FileManagerDesktop desktop({}, nullptr);
    FinderSyncController& controller = desktop.finderSyncController();
    std::vector<std::string> heard;
    controller.setBadgeObserver([&heard](const FinderSyncController::BadgeSet& set) {
        heard.push_back(set.identifier + " " + set.url.absoluteString());
    });
    controller.setBadgeIdentifier("flagged", URL::fileURL("/home/user/a.txt"));
    controller.setBadgeIdentifier("", URL::fileURL("/home/user/b.txt"));
    EXPECT_EQ(heard, (std::vector<std::string>{"flagged file:///home/user/a.txt",
                                               " file:///home/user/b.txt"}));
    EXPECT_TRUE(controller.badgeSets().empty());
    EXPECT_EQ(controller.badgeIdentifier(URL::fileURL("/home/user/a.txt")), "");
}

} // namespace

} // namespace scrivlet
