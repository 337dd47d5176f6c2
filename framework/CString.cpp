#include "framework/CString.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "framework/CodePage.h"
#include "framework/WinUser.h"

namespace ks {

CString::CString(const char* text, int length) {
    if (text != nullptr && length > 0)
        m_str.assign(text, static_cast<std::size_t>(length));
}

int CString::Compare(const char* other) const {
    int r = std::strcmp(m_str.c_str(), other != nullptr ? other : "");
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int CString::CompareNoCase(const char* other) const {
    return MbCompareNoCase(std::string_view(m_str.c_str()), other != nullptr ? other : "",
                           GetAnsiCodePage());
}

CString& CString::MakeUpper() {
    MbMakeUpper(m_str, GetAnsiCodePage());
    return *this;
}

void CString::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatV(format, args);
    va_end(args);
}

void CString::FormatV(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed < 0) {
        m_str.clear();
        return;
    }
    std::vector<char> buffer(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    m_str.assign(buffer.data(), static_cast<std::size_t>(needed));
}

int CString::Find(char ch, int start) const {
    if (start < 0 || start > GetLength())
        return -1;
    auto pos = m_str.find(ch, static_cast<std::size_t>(start));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(const char* sub, int start) const {
    if (sub == nullptr || start < 0 || start > GetLength())
        return -1;
    auto pos = m_str.find(sub, static_cast<std::size_t>(start));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

CString CString::Left(int count) const {
    if (count <= 0)
        return CString();
    return CString(m_str.substr(0, static_cast<std::size_t>(count)));
}

CString CString::Mid(int first) const {
    if (first < 0)
        first = 0;
    if (first >= GetLength())
        return CString();
    return CString(m_str.substr(static_cast<std::size_t>(first)));
}

CString CString::Mid(int first, int count) const {
    if (first < 0)
        first = 0;
    if (first >= GetLength() || count <= 0)
        return CString();
    return CString(m_str.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(count)));
}

char* CString::GetBuffer(int minLength) {
    std::size_t want = minLength > 0 ? static_cast<std::size_t>(minLength) : 0u;
    if (m_str.size() < want)
        m_str.resize(want, '\0');
    return m_str.data();
}

void CString::ReleaseBuffer(int newLength) {
    if (newLength < 0) {
        m_str.resize(std::strlen(m_str.c_str()));
    } else if (static_cast<std::size_t>(newLength) <= m_str.size()) {
        m_str.resize(static_cast<std::size_t>(newLength));
    }
}

bool CString::LoadString(unsigned id) {
    // A string-table entry holds at most 65535 characters; the buffer grows until it fits.
    for (int size = 256; size <= 1 << 17; size *= 2) {
        std::vector<char> buffer(static_cast<std::size_t>(size), '\0');
        int got = LoadStringA(id, buffer.data(), size);
        if (got <= 0) {
            m_str.clear();
            return false;
        }
        if (got < size - 1) {
            m_str.assign(buffer.data(), static_cast<std::size_t>(got));
            return true;
        }
    }
    m_str.clear();
    return false;
}

}  // namespace ks
