#pragma once

#include "shell/common/red_list_rows.h"
#include "shell/win/dialog.h"

#include <atomic>
#include <string>

namespace bv {

class Address;

// The live red list window. It keeps its font, the widths of its first five
// columns and its placement under a key of the current user.
class CRedDialog final : public Dialog {
public:
    static constexpr const char* kRegistryKey = kSettingsRegistryKey;
    static constexpr int kColumnCount = kRedListColumnCount;
    static constexpr int kStoredColumns = kRedListStoredColumns;
    static constexpr const auto& kDefaultWidths = kRedListDefaultWidths;

    explicit CRedDialog(HINSTANCE instance, std::string registryKey = kRegistryKey);
    ~CRedDialog() override;

    // Stores the settings, then destroys the window.
    bool destroyWindow() override;

    // Column widths and placement; also when the session ends, since the
    // process may then end without an Exit.
    void storeSettings();

    // From here on notices are dropped unseen.
    void dropNotices() { dropNotices_.store(true); }

    // The selected rows under the column titles, tab-separated, one line each.
    std::string selectedRowsText() const;

    // A column's width when none is stored: the fallback, the dates widened
    // to a whole date in the list's font.
    int defaultWidth(int column) const;

    HWND list() const { return list_; }
    const std::string& registryKey() const { return registryKey_; }

protected:
    bool onInitDialog() override;
    void doDataExchange() override;
    // Closing only hides the window; Enter too, since ending a modeless
    // dialog would lose the window for the rest of the run.
    void onOk() override;
    void onCancel() override;
    bool handleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void addressChanged(const Address& address);
    void addressStillRed(const Address& address);

    int find(const std::string& ip) const;
    void remove(const Address& address);
    void add(const Address& address);
    void update(const Address& address);
    void setCell(int row, int column, const std::string& text);

    bool readStoredFont(LOGFONTA& font) const;
    void storeFont(const LOGFONTA& font) const;
    void applyFont(const LOGFONTA& font);
    void chooseFont();
    void restoreSettings();
    void resize(int width, int height);
    void copySelection();

    std::string registryKey_;
    HWND list_ = nullptr;
    HFONT font_ = nullptr;
    HICON smallIcon_ = nullptr;
    std::atomic<bool> dropNotices_ { false };
};

}  // namespace bv
