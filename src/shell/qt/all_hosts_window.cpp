#include "shell/qt/all_hosts_window.h"

#include "shell/qt/tray_look.h"

#include <QAction>
#include <QClipboard>
#include <QFontDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QSettings>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace bv {

namespace {

QString text(const std::string& value)
{
    return QString::fromLocal8Bit(value.data(), static_cast<qsizetype>(value.size()));
}

QString setting(const std::string& name)
{
    return QString::fromStdString(name);
}

QColor colour(std::uint32_t rgb)
{
    return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// Sorts by the row's own keys, not by the cells' text.
class HostItem final : public QTreeWidgetItem {
public:
    AllHostsRow row;

    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : -1;
        return allHostsRowBefore(row, static_cast<const HostItem&>(other).row, column);
    }
};

void fill(HostItem& item, const AllHostsRow& row)
{
    item.row = row;
    for (int column = 0; column < kAllHostsColumnCount; ++column) {
        const QString cell = text(row.cells[column]);
        if (item.text(column) != cell)
            item.setText(column, cell);
    }
    item.setBackground(kHostsStatusColumn, colour(statusFill(row.status)));
    item.setForeground(kHostsStatusColumn, colour(statusInk(row.status)));
}

}  // namespace

int neededColumnWidth(const QFont& font, const QString& title, bool holdsDates)
{
    const QFontMetrics metrics(font);
    int width = metrics.horizontalAdvance(title);
    if (holdsDates) {
        for (const char* sample : { kWidestDateSample, "Wed Dec  9 01:32:50 2026" })
            width = std::max(width, metrics.horizontalAdvance(QString::fromLatin1(sample)));
    }
    // The cell's margins and the header's sort arrow.
    return width + 2 * metrics.averageCharWidth() + 16;
}

AllHostsWindow::AllHostsWindow(QSettings& settings, QWidget* parent)
    : QMainWindow(parent)
    , settings_(settings)
    , list_(new QTreeWidget)
{
    setWindowTitle(QStringLiteral("BeaconVigilor All Hosts"));
    setWindowIcon(trayIcon(TrayState::Green));
    resize(900, 400);

    auto* holder = new QWidget;
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(list_);
    setCentralWidget(holder);

    list_->setColumnCount(kAllHostsColumnCount);
    QStringList titles;
    for (const char* title : kAllHostsColumnTitles)
        titles << QString::fromLatin1(title);
    list_->setHeaderLabels(titles);
    list_->setRootIsDecorated(false);
    list_->setItemsExpandable(false);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->header()->setStretchLastSection(false);
    list_->header()->setSectionsMovable(false);
    // List order until a title is clicked; the sorting is the window's own,
    // so that a refresh sorts once.
    list_->setSortingEnabled(false);
    list_->header()->setSectionsClickable(true);
    list_->header()->setSortIndicatorShown(true);
    list_->header()->setSortIndicator(-1, Qt::AscendingOrder);
    connect(list_->header(), &QHeaderView::sortIndicatorChanged, this, [this] { sortRows(); });
    for (int column = 0; column < kAllHostsColumnCount; ++column)
        list_->setColumnWidth(column, kAllHostsDefaultWidths[column]);
    applyDefaultWidths();

    auto* chooseFontAction = new QAction(QStringLiteral("Choose &Font..."), this);
    connect(chooseFontAction, &QAction::triggered, this, &AllHostsWindow::chooseFont);
    list_->setContextMenuPolicy(Qt::ActionsContextMenu);
    list_->addAction(chooseFontAction);
    list_->installEventFilter(this);
}

void AllHostsWindow::applyDefaultWidths()
{
    for (int column = 0; column < kAllHostsColumnCount; ++column)
        list_->setColumnWidth(column,
            std::max(kAllHostsDefaultWidths[column],
                neededColumnWidth(list_->font(), QString::fromLatin1(kAllHostsColumnTitles[column]),
                    column == kHostsDownSinceColumn)));
}

void AllHostsWindow::showRows(const std::vector<AllHostsRow>& rows)
{
    std::map<std::string, QTreeWidgetItem*> kept;
    for (const AllHostsRow& row : rows) {
        auto found = items_.find(row.key);
        HostItem* item = nullptr;
        if (found != items_.end()) {
            item = static_cast<HostItem*>(found->second);
            items_.erase(found);
        } else {
            item = new HostItem;
            list_->addTopLevelItem(item);
        }
        fill(*item, row);
        kept[row.key] = item;
    }
    // What is left has left the list.
    for (auto& [key, item] : items_)
        delete item;
    items_ = std::move(kept);
    sortRows();
}

void AllHostsWindow::sortRows()
{
    const int column = list_->header()->sortIndicatorSection();
    if (column >= 0) {
        list_->sortItems(column, list_->header()->sortIndicatorOrder());
        return;
    }
    // List order, the order of no column: usually already so.
    bool ordered = true;
    for (int row = 1; ordered && row < list_->topLevelItemCount(); ++row)
        ordered = static_cast<HostItem*>(list_->topLevelItem(row - 1))->row.position
            < static_cast<HostItem*>(list_->topLevelItem(row))->row.position;
    if (ordered)
        return;
    // Taking the items out drops their selection.
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    QList<QTreeWidgetItem*> items = list_->invisibleRootItem()->takeChildren();
    std::stable_sort(items.begin(), items.end(), [](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        return static_cast<HostItem*>(a)->row.position < static_cast<HostItem*>(b)->row.position;
    });
    list_->addTopLevelItems(items);
    for (QTreeWidgetItem* item : selected)
        item->setSelected(true);
}

bool AllHostsWindow::readStoredFont(QFont& font) const
{
    const QVariant value = settings_.value(QString::fromLatin1(kAllHostsFontSetting));
    if (value.typeId() != QMetaType::QString)
        return false;
    QFont stored;
    if (!stored.fromString(value.toString()))
        return false;
    if (stored.pointSizeF() > 200 || stored.pixelSize() > 300)
        return false;
    font = stored;
    return true;
}

void AllHostsWindow::restoreSettings()
{
    QFont font;
    if (readStoredFont(font))
        list_->setFont(font);
    applyDefaultWidths();
    for (int column = 0; column < kAllHostsColumnCount; ++column) {
        const QVariant value = settings_.value(setting(allHostsColumnWidthSetting(column)));
        bool ok = false;
        const int width = value.toInt(&ok);
        if (value.isValid() && ok && width >= 0)
            list_->setColumnWidth(column, width & 0xFFFF);
    }
    // As the red list keeps it: a byte for visibility, then the geometry.
    const QVariant placement = settings_.value(QString::fromLatin1(kAllHostsPlacementSetting));
    if (placement.typeId() != QMetaType::QByteArray)
        return;
    const QByteArray bytes = placement.toByteArray();
    if (bytes.size() < 2 || (bytes[0] != '0' && bytes[0] != '1'))
        return;
    if (!restoreGeometry(bytes.mid(1)))
        return;
    if (bytes[0] == '1')
        show();
}

void AllHostsWindow::storeSettings()
{
    for (int column = 0; column < kAllHostsColumnCount; ++column)
        settings_.setValue(setting(allHostsColumnWidthSetting(column)), list_->columnWidth(column));
    QByteArray placement(1, isVisible() ? '1' : '0');
    placement += saveGeometry();
    settings_.setValue(QString::fromLatin1(kAllHostsPlacementSetting), placement);
    settings_.sync();
}

void AllHostsWindow::showAllHosts()
{
    if (isVisible()) {
        raise();
        activateWindow();
        return;
    }
    show();
    if (isMinimized())
        showNormal();
}

void AllHostsWindow::chooseFont()
{
    QFont initial = list_->font();
    readStoredFont(initial);
    QFontDialog dialog(initial, this);
    dialog.setWindowTitle(QStringLiteral("Font"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QFont chosen = dialog.selectedFont();
    settings_.setValue(QString::fromLatin1(kAllHostsFontSetting), chosen.toString());
    settings_.sync();
    list_->setFont(chosen);
}

QString AllHostsWindow::selectedRowsText() const
{
    std::vector<std::array<std::string, kAllHostsColumnCount>> rows;
    for (int row = 0; row < list_->topLevelItemCount(); ++row) {
        const auto* item = static_cast<const HostItem*>(list_->topLevelItem(row));
        if (item->isSelected())
            rows.push_back(item->row.cells);
    }
    return text(allHostsCopyText(rows, "\n"));
}

void AllHostsWindow::showEvent(QShowEvent* event)
{
    watched_.store(true);
    QMainWindow::showEvent(event);
    if (opened_)
        opened_();
}

void AllHostsWindow::hideEvent(QHideEvent* event)
{
    watched_.store(false);
    QMainWindow::hideEvent(event);
}

bool AllHostsWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == list_ && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        const QString copied = selectedRowsText();
        if (!copied.isEmpty())
            QGuiApplication::clipboard()->setText(copied);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void AllHostsWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

}  // namespace bv
