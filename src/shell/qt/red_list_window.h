#pragma once

#include <QMainWindow>

#include <functional>

class QSettings;
class QTreeWidget;
class QTreeWidgetItem;

namespace bv {

class Address;

// The live list of red addresses. Closing only hides it, unless the program
// has no tray, where it is the main window and closing it means Exit.
class RedListWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit RedListWindow(QSettings& settings, QWidget* parent = nullptr);

    void addressChanged(const Address& address);
    // The host left the list on a reload.
    void addressRemoved(const Address& address) { remove(address); }
    void addressStillRed(const Address& address);

    // Reads the stored font, widths and placement; may show the window.
    void restoreSettings();
    void storeSettings();

    void showRedList();
    // Opens the font chooser and applies and stores what the user confirms.
    void chooseFont();
    // The selected rows as tab-separated lines, the column titles first;
    // empty when nothing is selected. Ctrl+C puts them on the clipboard.
    QString selectedRowsText() const;

    // Called when the red list marks the tray red.
    void setTrayRedHook(std::function<void()> hook) { trayRed_ = std::move(hook); }
    // Without a tray: closing the window asks for this instead of hiding.
    void setCloseAction(std::function<void()> action) { closeAction_ = std::move(action); }

    QTreeWidget* list() const { return list_; }
    // Where the window keeps its settings, and the tray its choices.
    QSettings& settings() const { return settings_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QTreeWidgetItem* find(const Address& address) const;
    void remove(const Address& address);
    void add(const Address& address);
    void update(const Address& address);
    bool readStoredFont(QFont& font) const;
    // The defaults, the date columns widened to what the list's font needs.
    void applyDefaultWidths();

    QSettings& settings_;
    QTreeWidget* list_;
    std::function<void()> trayRed_;
    std::function<void()> closeAction_;
};

}  // namespace bv
