#pragma once

#include "shell/common/all_hosts_rows.h"

#include <QMainWindow>

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>

class QSettings;
class QTreeWidget;
class QTreeWidgetItem;

namespace bv {

// Every host of the list with its status and round-trip figures, refreshed
// while it is open. Closing hides it.
class AllHostsWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit AllHostsWindow(QSettings& settings, QWidget* parent = nullptr);

    // Replaces the rows, keeping the selection and the chosen order.
    void showRows(const std::vector<AllHostsRow>& rows);

    void restoreSettings();
    void storeSettings();
    void showAllHosts();
    void chooseFont();
    // The selected rows as tab-separated lines under the column titles, in
    // the order shown; empty when nothing is selected.
    QString selectedRowsText() const;

    // Whether the rows are wanted: read by the sweep's thread.
    bool watched() const { return watched_.load(); }
    // Asked for rows when it opens; rows that come later go to showRows.
    void setOpenHook(std::function<void()> hook) { opened_ = std::move(hook); }

    QTreeWidget* list() const { return list_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool readStoredFont(QFont& font) const;
    // The defaults, widened to what the list's font needs.
    void applyDefaultWidths();
    void sortRows();

    QSettings& settings_;
    QTreeWidget* list_;
    std::map<std::string, QTreeWidgetItem*> items_;
    std::atomic<bool> watched_ { false };
    std::function<void()> opened_;
};

// The width a column needs for its title and, for a date column, a whole date.
int neededColumnWidth(const QFont& font, const QString& title, bool holdsDates);

}  // namespace bv
