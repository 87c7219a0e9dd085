#pragma once

#include "shell/common/all_hosts_rows.h"
#include "shell/common/red_list_rows.h"
#include "shell/win/dialog.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace bv {

// The window of every host with its status and round-trip figures. Rows come
// as plain values, from any thread; it keeps its font, widths and placement
// beside the red list's, under names of its own.
class CAllHostsDialog final : public Dialog {
public:
    explicit CAllHostsDialog(HINSTANCE instance, std::string registryKey = kSettingsRegistryKey);
    ~CAllHostsDialog() override;

    bool destroyWindow() override;
    void storeSettings();

    // From any thread: the newest rows are shown once the window's thread
    // gets to them.
    void deliverRows(std::vector<AllHostsRow> rows);
    // On the window's thread; keeps the selection and the chosen order.
    void showRows(std::vector<AllHostsRow> rows);
    // A column below 0 is list order.
    void sortBy(int column, bool ascending);
    // Whether the window is open, so that rows are wanted.
    bool watched() const { return watched_.load(); }

    // The selected rows under the column titles, tab-separated; empty when
    // nothing is selected.
    std::string selectedRowsText() const;
    // What a column is given when no width is stored: its fallback, widened
    // to its title and, for the dates, a whole date in the list's font.
    int defaultWidth(int column) const;

    HWND list() const { return list_; }
    // The rows in the order shown.
    const std::vector<AllHostsRow>& rows() const { return rows_; }

protected:
    bool onInitDialog() override;
    void doDataExchange() override;
    void onOk() override;
    void onCancel() override;
    bool handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void writeList(const std::vector<std::string>& selectedKeys);
    void showSortArrow();
    bool customDraw(LPARAM lParam, LRESULT& result) const;
    bool readStoredFont(LOGFONTA& font) const;
    void applyFont(const LOGFONTA& font);
    void chooseFont();
    void restoreSettings();
    void opened(bool shown);

    std::string registryKey_;
    HWND list_ = nullptr;
    HFONT font_ = nullptr;
    HICON smallIcon_ = nullptr;
    std::vector<AllHostsRow> rows_;
    int sortColumn_ = -1;
    bool ascending_ = true;
    std::atomic<bool> watched_ { false };
    std::mutex pendingMutex_;
    std::optional<std::vector<AllHostsRow>> pending_;
};

// A column wide enough for `text` in the list view's own font.
int listColumnWidthFor(HWND list, const char* text);

}  // namespace bv
