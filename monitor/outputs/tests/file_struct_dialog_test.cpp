// The column chooser: moving entries keeps the position labels, OK writes
// the list back, Cancel changes nothing, defaults restore the id order.

#include "FileStructDialog.h"

#include <QListWidget>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace skyvane::outputs;

TEST(FileStructDialog, MoveOkCancelAndDefaults)
{
    ColumnTable table = ColumnTable::defaults();
    table.columns[2].include = false;
    {
        FileStructDialog d(table);
        QListWidget* l = d.list();
        ASSERT_EQ(l->count(), 25);
        EXPECT_EQ(l->currentRow(), 0);
        EXPECT_EQ(l->item(0)->text(), QStringLiteral("(01) Date"));
        EXPECT_EQ(l->item(24)->text(), QStringLiteral("(25) Safe Condtition"));
        EXPECT_EQ(l->item(2)->checkState(), Qt::Unchecked);

        // the first entry can not go up
        d.upButton()->click();
        EXPECT_EQ(l->item(0)->text(), QStringLiteral("(01) Date"));
        // Cloud Condition (position 3, unticked) down to position 4
        l->setCurrentRow(2);
        d.downButton()->click();
        EXPECT_EQ(l->currentRow(), 3);
        EXPECT_EQ(l->item(2)->text(), QStringLiteral("(03) Rain Condition"));
        EXPECT_EQ(l->item(3)->text(), QStringLiteral("(04) Cloud Condition"));
        EXPECT_EQ(l->item(3)->checkState(), Qt::Unchecked);
        EXPECT_EQ(l->item(2)->checkState(), Qt::Checked);
        EXPECT_EQ(l->item(3)->data(Qt::UserRole).toInt(), 3);
        // and back up past its old place
        d.upButton()->click();
        d.upButton()->click();
        EXPECT_EQ(l->currentRow(), 1);
        EXPECT_EQ(l->item(1)->text(), QStringLiteral("(02) Cloud Condition"));
        // the last entry can not go down
        l->setCurrentRow(24);
        d.downButton()->click();
        EXPECT_EQ(l->item(24)->text(), QStringLiteral("(25) Safe Condtition"));

        d.cancelButton()->click();
    }
    EXPECT_EQ(table.columns[2].quantity, 3); // Cancel: nothing changed
    EXPECT_FALSE(table.columns[2].include);

    {
        FileStructDialog d(table);
        d.list()->setCurrentRow(2);
        d.upButton()->click();
        d.list()->item(24)->setCheckState(Qt::Unchecked);
        d.okButton()->click();
    }
    EXPECT_EQ(table.columns[1].quantity, 3);
    EXPECT_EQ(table.columns[1].header, QStringLiteral("Cloud Condition"));
    EXPECT_FALSE(table.columns[1].include);
    EXPECT_EQ(table.columns[2].quantity, 2);
    EXPECT_EQ(table.columns[2].header, QStringLiteral("Time"));
    EXPECT_FALSE(table.columns[24].include);

    {
        FileStructDialog d(table);
        d.defaultsButton()->click();
        EXPECT_EQ(d.list()->currentRow(), 0);
        d.okButton()->click();
    }
    EXPECT_EQ(table, ColumnTable::defaults());
    EXPECT_EQ(headerLine(table).count(QStringLiteral("\",")), 25);
}
