// The selection count the emblems plug-in answers the app with, read from a Qt item view's
// accessible table as the file manager's view offers its own. The bus method around it is
// exercised with the real file manager by e2e.large_folder.
#include "ScrivletFinderSync/dolphin/ViewSelectionService.h"

#include <QAccessible>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTableWidget>
#include <gtest/gtest.h>

namespace scrivlet {
namespace {

class ViewSelectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        view_.setColumnCount(1);
        view_.setRowCount(3);
        view_.setSelectionMode(QAbstractItemView::ExtendedSelection);
        const char* names[] = {"a.txt", "b c.txt", "d.txt"};
        for (int row = 0; row < 3; ++row) {
            view_.setItem(row, 0, new QTableWidgetItem(QString::fromUtf8(names[row])));
        }
        viewId_ = QAccessible::uniqueId(QAccessible::queryAccessibleInterface(&view_));
    }

    void select(std::initializer_list<int> rows) {
        view_.clearSelection();
        for (const int row : rows) {
            view_.selectionModel()->select(view_.model()->index(row, 0),
                                           QItemSelectionModel::Select);
        }
    }

    QTableWidget view_;
    QAccessible::Id viewId_ = 0;
};

TEST_F(ViewSelectionTest, OneSelectedItemIsNamedAndAnyOtherCountGivesNoName) {
    select({1});
    ViewSelection selection = viewSelection(viewId_);
    EXPECT_EQ(selection.count, 1);
    EXPECT_EQ(selection.name, "b c.txt");

    select({0, 2});
    selection = viewSelection(viewId_);
    EXPECT_EQ(selection.count, 2);
    EXPECT_TRUE(selection.name.empty());

    select({});
    selection = viewSelection(viewId_);
    EXPECT_EQ(selection.count, 0);
    EXPECT_TRUE(selection.name.empty());
}

TEST_F(ViewSelectionTest, AnIdThatNamesNoViewIsAnsweredAsUnknown) {
    QPushButton button(QStringLiteral("not a view"));
    const QAccessible::Id buttonId =
        QAccessible::uniqueId(QAccessible::queryAccessibleInterface(&button));
    EXPECT_EQ(viewSelection(buttonId).count, -1);
    EXPECT_EQ(viewSelection(viewId_ + 1000).count, -1);

    // A view closed since the app found it.
    QAccessible::Id closedId = 0;
    {
        QTableWidget closed(1, 1);
        closed.setItem(0, 0, new QTableWidgetItem(QStringLiteral("gone.txt")));
        closed.selectAll();
        closedId = QAccessible::uniqueId(QAccessible::queryAccessibleInterface(&closed));
        ASSERT_EQ(viewSelection(closedId).count, 1);
    }
    EXPECT_EQ(viewSelection(closedId).count, -1);
}

} // namespace
} // namespace scrivlet
