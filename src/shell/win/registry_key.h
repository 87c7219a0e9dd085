#pragma once

#include <windows.h>

#include <string>
#include <utility>

namespace bv {

// A key under HKEY_CURRENT_USER, closed when it goes.
class RegistryKey {
public:
    // Invalid when the key does not exist or cannot be opened.
    static RegistryKey open(const std::string& path)
    {
        HKEY key = nullptr;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
            key = nullptr;
        return RegistryKey(key);
    }
    static RegistryKey create(const std::string& path)
    {
        HKEY key = nullptr;
        if (::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr)
            != ERROR_SUCCESS)
            key = nullptr;
        return RegistryKey(key);
    }

    ~RegistryKey()
    {
        if (key_)
            ::RegCloseKey(key_);
    }
    RegistryKey(RegistryKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    RegistryKey& operator=(RegistryKey&&) = delete;

    bool valid() const { return key_ != nullptr; }

    // Only a binary value of exactly `size` bytes counts.
    bool readBinary(const char* name, void* buffer, DWORD size) const
    {
        DWORD type = 0;
        DWORD got = size;
        if (!key_ || ::RegQueryValueExA(key_, name, nullptr, &type, static_cast<BYTE*>(buffer), &got) != ERROR_SUCCESS)
            return false;
        return type == REG_BINARY && got == size;
    }
    // Any value that fits the buffer, whatever its type.
    bool readAny(const char* name, void* buffer, DWORD size) const
    {
        DWORD got = size;
        return key_ && ::RegQueryValueExA(key_, name, nullptr, nullptr, static_cast<BYTE*>(buffer), &got) == ERROR_SUCCESS;
    }
    bool writeBinary(const char* name, const void* bytes, DWORD size) const
    {
        return key_ && ::RegSetValueExA(key_, name, 0, REG_BINARY, static_cast<const BYTE*>(bytes), size) == ERROR_SUCCESS;
    }
    bool hasValue(const char* name) const
    {
        return key_ && ::RegQueryValueExA(key_, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    }
    bool writeString(const char* name, const std::string& text) const
    {
        return key_
            && ::RegSetValueExA(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1))
            == ERROR_SUCCESS;
    }
    bool deleteValue(const char* name) const { return key_ && ::RegDeleteValueA(key_, name) == ERROR_SUCCESS; }
    bool writeDword(const char* name, DWORD value) const
    {
        return key_
            && ::RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value)
            == ERROR_SUCCESS;
    }

private:
    explicit RegistryKey(HKEY key) : key_(key) {}
    HKEY key_ = nullptr;
};

}  // namespace bv
