#include "FileStructDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace skyvane::outputs {

namespace {
// "(07) " is the position label: four characters and a blank.
constexpr int kLabelLength = 4;

QString positionLabel(int position) { return QStringLiteral("(%1)").arg(position, 2, 10, QLatin1Char('0')); }

QListWidgetItem* makeItem(int position, const QString& header, int quantity, bool include)
{
    auto* item = new QListWidgetItem(positionLabel(position) + QLatin1Char(' ') + header.trimmed());
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setData(Qt::UserRole, quantity);
    item->setCheckState(include ? Qt::Checked : Qt::Unchecked);
    return item;
}
} // namespace

FileStructDialog::FileStructDialog(ColumnTable& table, QWidget* parent) : QDialog(parent), table_(table)
{
    setObjectName(QStringLiteral("XOBFileStructForm"));
    setWindowTitle(QStringLiteral("User Data File Structure"));
    setModal(true);
    auto* root = new QVBoxLayout(this);
    root->addWidget(new QLabel(QStringLiteral("Columns of the user data file, in file order.\n"
                                              "Tick the columns to write; Up and Down change the order.")));
    auto* row = new QHBoxLayout;
    list_ = new QListWidget;
    list_->setObjectName(QStringLiteral("ListCol"));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    row->addWidget(list_, 1);
    auto* side = new QVBoxLayout;
    up_ = new QPushButton(QStringLiteral("Up"));
    up_->setObjectName(QStringLiteral("ButtArrUp"));
    down_ = new QPushButton(QStringLiteral("Down"));
    down_->setObjectName(QStringLiteral("ButtArrDown"));
    defaults_ = new QPushButton(QStringLiteral("Restore Defaults"));
    defaults_->setObjectName(QStringLiteral("Command2"));
    side->addWidget(up_);
    side->addWidget(down_);
    side->addSpacing(16);
    side->addWidget(defaults_);
    side->addStretch();
    row->addLayout(side);
    root->addLayout(row, 1);
    auto* buttons = new QHBoxLayout;
    ok_ = new QPushButton(QStringLiteral("OK"));
    ok_->setObjectName(QStringLiteral("ButtOK"));
    ok_->setDefault(true);
    cancel_ = new QPushButton(QStringLiteral("Cancel"));
    cancel_->setObjectName(QStringLiteral("Command1"));
    buttons->addStretch();
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    root->addLayout(buttons);

    connect(up_, &QPushButton::clicked, this, &FileStructDialog::moveUp);
    connect(down_, &QPushButton::clicked, this, &FileStructDialog::moveDown);
    connect(defaults_, &QPushButton::clicked, this, &FileStructDialog::restoreDefaults);
    connect(ok_, &QPushButton::clicked, this, &FileStructDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &FileStructDialog::reject);

    fill(table_);
    // room for the longest header word without a scroll bar
    list_->setMinimumWidth(list_->sizeHintForColumn(0) + 48);
    list_->setMinimumHeight(list_->sizeHintForRow(0) * 14);
}

void FileStructDialog::fill(const ColumnTable& t)
{
    list_->clear();
    for (int i = 0; i < kColumnCount; ++i) {
        const DataColumn& c = t.columns[size_t(i)];
        list_->addItem(makeItem(i + 1, c.header, c.quantity, c.include));
    }
    list_->setCurrentRow(0);
}

void FileStructDialog::exchange(int a, int b)
{
    QListWidgetItem* x = list_->item(a);
    QListWidgetItem* y = list_->item(b);
    const QString xt = x->text();
    const QString yt = y->text();
    // each item keeps its own position label; the rest moves
    x->setText(xt.left(kLabelLength) + yt.mid(kLabelLength));
    y->setText(yt.left(kLabelLength) + xt.mid(kLabelLength));
    const QVariant xd = x->data(Qt::UserRole);
    x->setData(Qt::UserRole, y->data(Qt::UserRole));
    y->setData(Qt::UserRole, xd);
    const Qt::CheckState xc = x->checkState();
    x->setCheckState(y->checkState());
    y->setCheckState(xc);
}

void FileStructDialog::moveUp()
{
    const int k = list_->currentRow();
    if (k <= 0) return;
    exchange(k, k - 1);
    list_->setCurrentRow(k - 1);
}

void FileStructDialog::moveDown()
{
    const int k = list_->currentRow();
    if (k < 0 || k >= list_->count() - 1) return;
    exchange(k, k + 1);
    list_->setCurrentRow(k + 1);
}

void FileStructDialog::restoreDefaults()
{
    list_->clear();
    for (int q = 1; q <= kColumnCount; ++q) list_->addItem(makeItem(q, defaultHeader(q), q, true));
    list_->setCurrentRow(0);
}

void FileStructDialog::accept()
{
    for (int i = 0; i < kColumnCount && i < list_->count(); ++i) {
        const QListWidgetItem* item = list_->item(i);
        DataColumn& c = table_.columns[size_t(i)];
        c.header = item->text().mid(kLabelLength + 1).left(kHeaderWidth);
        c.quantity = item->data(Qt::UserRole).toInt();
        c.include = item->checkState() == Qt::Checked;
    }
    QDialog::accept();
}

} // namespace skyvane::outputs
