#include "windows/paths.hpp"

#include <windows.h>

#include <array>

#include "unicode.hpp"

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

// full, a full path, in the \\?\ form: as it is where it is in that form or
// the \\.\ one already; \\?\UNC\server\share\... for \\server\share\....
std::wstring literal_form(const std::wstring& full) {
    constexpr std::wstring_view literal = L"\\\\?\\";
    constexpr std::wstring_view device = L"\\\\.\\";
    if (starts_with(full, literal) || starts_with(full, device)) {
        return full;
    }
    if (starts_with(full, L"\\\\")) {  // \\server\share\...
        return std::wstring(literal).append(L"UNC").append(full, 1, std::wstring::npos);
    }
    return std::wstring(literal).append(full);
}

}  // namespace

std::wstring utf16(std::string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    append_utf16(wide, text);
    return wide;
}

void append_utf16(std::wstring& wide, std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        char32_t code_point = static_cast<unsigned char>(text[at]);
        std::size_t length = 1;
        if (code_point >= 0x80) {
            length = utf8_character(text.substr(at), code_point, true);
            if (length == 0) {
                code_point = 0xFFFD;
                length = 1;
            }
        }
        if (code_point >= 0x10000) {
            wide += static_cast<wchar_t>(0xD800 + ((code_point - 0x10000) >> 10U));
            wide += static_cast<wchar_t>(0xDC00 + ((code_point - 0x10000) & 0x3FFU));
        } else {
            wide += static_cast<wchar_t>(code_point);
        }
        at += length;
    }
}

std::string utf8(std::wstring_view text) {
    std::string narrow;
    narrow.reserve(text.size() * 3);
    for (std::size_t at = 0; at < text.size(); ++at) {
        char32_t code_point = static_cast<char16_t>(text[at]);
        const bool high = code_point >= 0xD800 && code_point <= 0xDBFF;
        if (high && at + 1 < text.size() && text[at + 1] >= 0xDC00 && text[at + 1] <= 0xDFFF) {
            code_point = 0x10000 + ((code_point - 0xD800) << 10U) +
                         (static_cast<char16_t>(text[at + 1]) - 0xDC00U);
            ++at;
        }
        append_utf8(narrow, code_point);  // a lone surrogate too
    }
    return narrow;
}

std::size_t whole_characters(std::wstring_view text, std::size_t most) {
    if (text.size() <= most) {
        return text.size();
    }
    const bool splits_a_pair = most > 1 && text[most - 1] >= 0xD800 && text[most - 1] <= 0xDBFF &&
                               text[most] >= 0xDC00 && text[most] <= 0xDFFF;
    return splits_a_pair ? most - 1 : most;
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
    if (full.size() < MAX_PATH || full.empty()) {
        return wide;
    }
    // A device path written //?/ or //./ comes back from the system
    // normalised, in the \\?\ or \\.\ form.
    if (starts_with(full, device)) {
        return std::wstring(literal).append(full, literal.size(), std::wstring::npos);
    }
    return literal_form(full);
}

std::wstring literal_folder(std::string_view folder) {
    const std::wstring wide = utf16(folder.empty() ? "." : folder);
    std::wstring full = full_path(wide);
    if (full.empty()) {
        return wide;  // left to the system, as it was given
    }
    if (full.back() != L'\\') {
        full += L'\\';
    }
    return literal_form(full);
}

bool is_reserved_device_name(std::string_view file_name) {
    std::string_view stem = file_name.substr(0, file_name.find_first_of(".:"));
    while (!stem.empty() && stem.back() == ' ') {
        stem.remove_suffix(1);
    }
    for (const char* device : {"con", "prn", "aux", "nul", "conin$", "conout$"}) {
        if (equal_ignoring_case(stem, device)) {
            return true;
        }
    }
    const std::string_view port = stem.substr(0, 3);
    if (!equal_ignoring_case(port, "com") && !equal_ignoring_case(port, "lpt")) {
        return false;
    }
    const std::string_view number = stem.substr(3);
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
