#include "ScrivletFinderSync/dolphin/ViewSelectionService.h"

#include <QAccessible>
#include <QAccessibleInterface>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QThread>

namespace scrivlet {

namespace {

constexpr const char* objectPath = "/com/scrivlet/Scrivlet/ViewSelection";

// The object on the bus; its one slot is the method.
class ViewSelectionService final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.scrivlet.Scrivlet.ViewSelection")

public:
    explicit ViewSelectionService(QObject* parent) : QObject(parent) {}

public Q_SLOTS:
    // The count of selected items in the view (-1 when the id names none), and in `name` the
    // selected item's name when the count is 1.
    int SelectedItem(uint view, QString& name) {
        const ViewSelection selection = viewSelection(view);
        name = QString::fromStdString(selection.name);
        return selection.count;
    }
};

} // namespace

ViewSelection viewSelection(std::uint32_t accessibleId) {
    ViewSelection selection;
    QAccessibleInterface* view = QAccessible::accessibleInterface(accessibleId);
    QAccessibleTableInterface* table =
        view != nullptr && view->isValid() ? view->tableInterface() : nullptr;
    if (table == nullptr) {
        return selection;
    }
    selection.count = table->selectedCellCount();
    // The cells are asked for only when there is one: the view makes an accessible object for
    // each cell it lists, and a select-all lists thousands.
    if (selection.count == 1) {
        const QList<QAccessibleInterface*> cells = table->selectedCells();
        if (cells.size() != 1 || cells.front() == nullptr || !cells.front()->isValid()) {
            selection.count = -1;
            return selection;
        }
        selection.name = cells.front()->text(QAccessible::Name).toStdString();
    }
    return selection;
}

void publishViewSelection() {
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr || QThread::currentThread() != application->thread()) {
        return;
    }
    static bool published = false;
    if (published) {
        return;
    }
    published = true;
    // The application owns it: the service outlives every view, and is gone with the process.
    auto* service = new ViewSelectionService(application);
    if (!QDBusConnection::sessionBus().registerObject(objectPath, service,
                                                      QDBusConnection::ExportAllSlots)) {
        delete service; // another copy of the plug-in answers already, or there is no bus
    }
}

} // namespace scrivlet

#include "ViewSelectionService.moc"
