#include "shell/qt/red_list_window.h"

#include "core/address.h"
#include "shell/common/red_list_rows.h"
#include "shell/qt/all_hosts_window.h"
#include "shell/qt/tray_look.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QCloseEvent>
#include <QFontDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QSettings>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace bv {

namespace {

QString text(const std::string& value)
{
    return QString::fromLocal8Bit(value.data(), static_cast<qsizetype>(value.size()));
}

QString columnWidthKey(int column)
{
    return QString::fromStdString(columnWidthSetting(column));
}

}  // namespace

RedListWindow::RedListWindow(QSettings& settings, QWidget* parent)
    : QMainWindow(parent)
    , settings_(settings)
    , list_(new QTreeWidget)
{
    setWindowTitle(QStringLiteral("BeaconVigilor Red List"));
    setWindowIcon(trayIcon(TrayState::Red));
    // The dialog's size, 473 by 238 units of an 8-point font.
    resize(710, 387);

    auto* holder = new QWidget;
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(list_);
    setCentralWidget(holder);

    list_->setColumnCount(kRedListColumnCount);
    QStringList titles;
    for (const char* title : kRedListColumnTitles)
        titles << QString::fromLatin1(title);
    list_->setHeaderLabels(titles);
    list_->setRootIsDecorated(false);
    list_->setItemsExpandable(false);
    list_->setSortingEnabled(false);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->header()->setSectionsClickable(false);
    list_->header()->setSortIndicatorShown(false);
    // A stretched last section would change the restored widths.
    list_->header()->setStretchLastSection(false);
    list_->header()->setSectionsMovable(false);
    applyDefaultWidths();

    // Linux windows have no system menu; the context menu takes its item.
    auto* chooseFontAction = new QAction(QStringLiteral("Choose &Font..."), this);
    connect(chooseFontAction, &QAction::triggered, this, &RedListWindow::chooseFont);
    list_->setContextMenuPolicy(Qt::ActionsContextMenu);
    list_->addAction(chooseFontAction);
    // The list would copy only its current cell.
    list_->installEventFilter(this);
}

void RedListWindow::applyDefaultWidths()
{
    for (int column = 0; column < kRedListColumnCount; ++column) {
        int width = kRedListDefaultWidths[column];
        // The dates are whole in the list's own font.
        if (column == kDownSinceColumn || column == kLatestPingColumn)
            width = std::max(width,
                neededColumnWidth(list_->font(), QString::fromLatin1(kRedListColumnTitles[column]), true));
        list_->setColumnWidth(column, width);
    }
}

QTreeWidgetItem* RedListWindow::find(const Address& address) const
{
    const QString key = text(redListKey(address));
    for (int row = 0; row < list_->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = list_->topLevelItem(row);
        if (item->text(kIpColumn) == key)
            return item;
    }
    return nullptr;
}

void RedListWindow::remove(const Address& address)
{
    delete find(address);
}

void RedListWindow::add(const Address& address)
{
    remove(address);
    auto* item = new QTreeWidgetItem;
    const RedListRow cells = redListRow(address);
    for (int column = 0; column < kRedListColumnCount; ++column)
        item->setText(column, text(cells[column]));
    list_->insertTopLevelItem(0, item);
}

void RedListWindow::update(const Address& address)
{
    if (QTreeWidgetItem* item = find(address)) {
        const RedListRow cells = redListRow(address);
        for (const RedListColumn column : kRedListUpdatedColumns)
            item->setText(column, text(cells[column]));
    }
}

void RedListWindow::addressChanged(const Address& address)
{
    switch (address.getStatus()) {
    case HostStatus::Green:
        remove(address);
        break;
    case HostStatus::Red:
        if (trayRed_)
            trayRed_();
        add(address);
        break;
    default:
        break;
    }
}

void RedListWindow::addressStillRed(const Address& address)
{
    update(address);
    if (trayRed_)
        trayRed_();
}

bool RedListWindow::readStoredFont(QFont& font) const
{
    const QVariant value = settings_.value(QString::fromLatin1(kFontSetting));
    if (value.typeId() != QMetaType::QString)
        return false;
    QFont stored;
    if (!stored.fromString(value.toString()))
        return false;
    // A size no one chooses (a damaged file) would make columns wider than
    // any screen: the default font is kept instead.
    if (stored.pointSizeF() > 200 || stored.pixelSize() > 300)
        return false;
    font = stored;
    return true;
}

void RedListWindow::restoreSettings()
{
    QFont font;
    if (readStoredFont(font))
        list_->setFont(font);
    applyDefaultWidths();

    for (int column = 0; column < kRedListStoredColumns; ++column) {
        const QVariant value = settings_.value(columnWidthKey(column));
        bool ok = false;
        const int width = value.toInt(&ok);
        if (value.isValid() && ok && width >= 0)
            list_->setColumnWidth(column, width & 0xFFFF);
    }

    // One byte for visibility, then the window's own geometry record.
    const QVariant placement = settings_.value(QString::fromLatin1(kWindowPlacementSetting));
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

void RedListWindow::storeSettings()
{
    for (int column = 0; column < kRedListStoredColumns; ++column)
        settings_.setValue(columnWidthKey(column), list_->columnWidth(column));
    QByteArray placement(1, isVisible() ? '1' : '0');
    placement += saveGeometry();
    settings_.setValue(QString::fromLatin1(kWindowPlacementSetting), placement);
    settings_.sync();
}

void RedListWindow::showRedList()
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

void RedListWindow::chooseFont()
{
    QFont initial = list_->font();
    readStoredFont(initial);
    QFontDialog dialog(initial, this);
    dialog.setWindowTitle(QString::fromLatin1(kFontSetting));
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QFont chosen = dialog.selectedFont();
    settings_.setValue(QString::fromLatin1(kFontSetting), chosen.toString());
    settings_.sync();
    list_->setFont(chosen);
}

QString RedListWindow::selectedRowsText() const
{
    QString text;
    const auto line = [&](const auto& cell) {
        for (int column = 0; column < kRedListColumnCount; ++column)
            text += (column ? QStringLiteral("\t") : QString()) + cell(column);
        text += '\n';
    };
    for (int row = 0; row < list_->topLevelItemCount(); ++row) {
        const QTreeWidgetItem* item = list_->topLevelItem(row);
        if (!item->isSelected())
            continue;
        if (text.isEmpty())
            line([&](int column) { return list_->headerItem()->text(column); });
        line([&](int column) { return item->text(column); });
    }
    return text;
}

bool RedListWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == list_ && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        const QString text = selectedRowsText();
        if (!text.isEmpty())
            QGuiApplication::clipboard()->setText(text);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void RedListWindow::closeEvent(QCloseEvent* event)
{
    if (closeAction_) {
        event->ignore();
        closeAction_();
        return;
    }
    QMainWindow::closeEvent(event);
}

void RedListWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && !closeAction_) {
        hide();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

}  // namespace bv
