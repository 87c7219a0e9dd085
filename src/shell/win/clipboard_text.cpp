#include "shell/win/clipboard_text.h"

#include <cstring>
#include <memory>

namespace bv {

namespace {

struct GlobalFree {
    void operator()(HGLOBAL memory) const { ::GlobalFree(memory); }
};
using GlobalMemory = std::unique_ptr<std::remove_pointer_t<HGLOBAL>, GlobalFree>;

class OpenClipboard {
public:
    explicit OpenClipboard(HWND owner) : open_(::OpenClipboard(owner) != 0) {}
    ~OpenClipboard()
    {
        if (open_)
            ::CloseClipboard();
    }
    OpenClipboard(const OpenClipboard&) = delete;
    OpenClipboard& operator=(const OpenClipboard&) = delete;
    bool open() const { return open_; }

private:
    bool open_;
};

GlobalMemory copyToGlobal(const void* bytes, std::size_t size)
{
    GlobalMemory memory(::GlobalAlloc(GMEM_MOVEABLE, size));
    if (!memory)
        return memory;
    void* target = ::GlobalLock(memory.get());
    if (!target)
        return GlobalMemory();
    std::memcpy(target, bytes, size);
    ::GlobalUnlock(memory.get());
    return memory;
}

// The clipboard owns what it took; what it refused is freed here.
bool give(UINT format, GlobalMemory memory)
{
    if (!memory || !::SetClipboardData(format, memory.get()))
        return false;
    memory.release();
    return true;
}

}  // namespace

bool putTextOnClipboard(HWND owner, const std::string& text)
{
    const int wide = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (wide <= 0)
        return false;
    std::wstring unicode(static_cast<std::size_t>(wide), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, unicode.data(), wide);

    const OpenClipboard clipboard(owner);
    if (!clipboard.open() || !::EmptyClipboard())
        return false;
    const bool ansi = give(CF_TEXT, copyToGlobal(text.c_str(), text.size() + 1));
    const bool wideGiven = give(CF_UNICODETEXT, copyToGlobal(unicode.c_str(), unicode.size() * sizeof(wchar_t)));
    return ansi && wideGiven;
}

}  // namespace bv
