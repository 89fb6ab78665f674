#include "Platform/backends/qt/QtRunLoopDriver.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QMetaObject>
#include <QSocketNotifier>

namespace scrivlet {

namespace {

// The toolkit's loop drives the platform run loop: one socket notifier on the loop's
// descriptor, and a turn of the loop whenever the toolkit is about to block, because work
// posted from the toolkit's own callbacks does not wake the descriptor. After each turn the
// desktop brings its windows in step with what the turn changed.
class QtRunLoopDriver final : public RunLoopDriver {
public:
    QtRunLoopDriver(RunLoop& loop, std::function<void()> afterTurn)
        : loop_(loop), afterTurn_(std::move(afterTurn)),
          notifier_(loop.driverDescriptor(), QSocketNotifier::Read) {
        QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { turn(); });
        blocking_ = QObject::connect(QAbstractEventDispatcher::instance(),
                                     &QAbstractEventDispatcher::aboutToBlock, [this] { turn(); });
        loop_.setDriver(this);
    }
    ~QtRunLoopDriver() override {
        QObject::disconnect(blocking_);
        loop_.setDriver(nullptr);
    }
    QtRunLoopDriver(const QtRunLoopDriver&) = delete;
    QtRunLoopDriver& operator=(const QtRunLoopDriver&) = delete;

    void exec() override { QCoreApplication::exec(); }
    void quit() override { QCoreApplication::exit(0); }

private:
    void turn() {
        loop_.performReady();
        afterTurn_();
    }

    RunLoop& loop_;
    std::function<void()> afterTurn_;
    QSocketNotifier notifier_;
    QMetaObject::Connection blocking_;
};

} // namespace

std::unique_ptr<RunLoopDriver> makeQtRunLoopDriver(RunLoop& loop, std::function<void()> afterTurn) {
    return std::make_unique<QtRunLoopDriver>(loop, std::move(afterTurn));
}

} // namespace scrivlet
