#include "ScrivletFinderSync/dolphin/ViewSelectionService.h"

#include <QAccessible>
#include <QAccessibleInterface>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QThread>

namespace scrivlet {

ViewSelection viewSelection(quint32 accessibleId) {
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
        selection.name = cells.front()->text(QAccessible::Name);
    }
    return selection;
}

void ViewSelectionService::publish() {
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

ViewSelectionService::ViewSelectionService(QObject* parent) : QObject(parent) {}

int ViewSelectionService::SelectedItem(uint view, QString& name) {
    const ViewSelection selection = viewSelection(view);
    name = selection.name;
    return selection.count;
}

} // namespace scrivlet
