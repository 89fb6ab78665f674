#pragma once

#include <QObject>
#include <QString>

namespace scrivlet {

// How many items a file view has selected, and the name it shows for the item when there is
// exactly one.
struct ViewSelection {
    int count = -1; // -1: no view of this process has that accessible id
    QString name;
};

// The selection of the view whose accessible object has this id (the number the object's
// path on the accessibility bus ends in), read from the view's own table of selected items.
// Call on the thread that owns the view.
ViewSelection viewSelection(quint32 accessibleId);

// Answers the app's selection reader from inside the file manager, on the file manager's own
// session-bus name. From outside, confirming that exactly one item of a view is selected
// means asking every item for its state, one message each (seconds for a folder of thousands
// of files); inside, the view counts its selection itself. The reader still finds the view,
// its folder and the focused item over the accessibility bus, and reads every item itself when
// no file manager answers here (the plug-in not installed).
class ViewSelectionService final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.scrivlet.Scrivlet.ViewSelection")

public:
    static constexpr const char* objectPath = "/com/scrivlet/Scrivlet/ViewSelection";

    // Registers the one service of the process on its session bus, once; later calls, and
    // calls off the main thread or without a bus, do nothing.
    static void publish();

    explicit ViewSelectionService(QObject* parent = nullptr);

public Q_SLOTS:
    // The count of selected items in the view (-1 when the id names none), and in `name` the
    // selected item's name when the count is 1.
    int SelectedItem(uint view, QString& name);
};

} // namespace scrivlet
