#include "windows/paths.hpp"

#include <windows.h>

#include <array>

namespace huemill::windows {
namespace {

bool starts_with(std::wstring_view text, std::wstring_view start) {
    return text.substr(0, start.size()) == start;
}

// path made absolute the way the system makes every path absolute before
// it opens it: GetFullPathNameW, which also turns '/' into '\' and resolves
// "." and "..". Empty where the system cannot.
std::wstring full_path(const std::wstring& path) {
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size =
            GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (size == 0) {
            return {};
        }
        if (size < full.size()) {  // it fitted: size leaves out the NUL
            full.resize(size);
            return full;
        }
        full.resize(size);  // too small: size is what it needs, NUL included
    }
}

}  // namespace

std::wstring utf16(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int bytes = static_cast<int>(text.size());
    std::wstring wide(
        static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), bytes, nullptr, 0)),
        L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), bytes, wide.data(), static_cast<int>(wide.size()));
    return wide;
}

std::string utf8(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const int units = static_cast<int>(text.size());
    std::string narrow(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, text.data(), units,
                                                                    nullptr, 0, nullptr, nullptr)),
                       '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), units, narrow.data(),
                        static_cast<int>(narrow.size()), nullptr, nullptr);
    return narrow;
}

std::wstring system_path(std::string_view path) {
    constexpr std::wstring_view literal = L"\\\\?\\";
    constexpr std::wstring_view device = L"\\\\.\\";
    std::wstring wide = utf16(path);
    if (starts_with(wide, literal) || starts_with(wide, device)) {
        return wide;
    }
    const std::wstring full = full_path(wide);
    // MAX_PATH counts the NUL: 259 characters are the longest every
    // Windows takes as they are.
    if (full.size() < MAX_PATH || starts_with(full, device)) {
        return wide;
    }
    if (starts_with(full, L"\\\\")) {  // \\server\share\...
        return std::wstring(literal).append(L"UNC").append(full, 1, std::wstring::npos);
    }
    return std::wstring(literal).append(full);
}

bool is_reserved_device_name(std::string_view file_name) {
    std::string_view stem = file_name.substr(0, file_name.find('.'));
    while (!stem.empty() && stem.back() == ' ') {
        stem.remove_suffix(1);
    }
    std::string name(stem);
    for (char& c : name) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (name == device) {
            return true;
        }
    }
    const std::string_view port = std::string_view(name).substr(0, 3);
    if (port != "COM" && port != "LPT") {
        return false;
    }
    const std::string_view number = std::string_view(name).substr(3);
    static constexpr std::array<std::string_view, 13> numbers = {
        "0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "\xC2\xB9", "\xC2\xB2", "\xC2\xB3"};
    for (const std::string_view n : numbers) {
        if (number == n) {
            return true;
        }
    }
    return false;
}

}  // namespace huemill::windows
