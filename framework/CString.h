// CString: the text type of the program, a counted byte string in the active ANSI code page
// (the system's on Windows, UTF-8 on Linux). It may hold any bytes, NUL included; its
// C-string view ends at the first NUL. A value type: copies are independent.
// Not synchronised: one thread uses one object at a time (copies cross threads).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

namespace ks {

class CString {
  public:
    CString() = default;
    CString(const char* text)
        : m_str(text != nullptr ? text : "") {}  // NOLINT: implicit, as in the framework
    CString(const char* text, int length);
    CString(std::string text) : m_str(std::move(text)) {}  // NOLINT
    CString(std::string_view text) : m_str(text) {}        // NOLINT
    CString(char ch, int repeat) : m_str(repeat > 0 ? static_cast<std::size_t>(repeat) : 0u, ch) {}

    int GetLength() const { return static_cast<int>(m_str.size()); }
    bool IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }
    const char* GetString() const { return m_str.c_str(); }
    operator const char*() const { return m_str.c_str(); }  // NOLINT: as in the framework
    const std::string& Str() const { return m_str; }
    std::string_view View() const { return m_str; }

    char GetAt(int index) const { return m_str.at(static_cast<std::size_t>(index)); }
    void SetAt(int index, char ch) { m_str.at(static_cast<std::size_t>(index)) = ch; }

    CString& operator=(const char* text) {
        m_str = text != nullptr ? text : "";
        return *this;
    }
    CString& operator+=(const CString& other) {
        m_str += other.m_str;
        return *this;
    }
    CString& operator+=(const char* text) {
        if (text != nullptr)
            m_str += text;
        return *this;
    }
    CString& operator+=(char ch) {
        m_str += ch;
        return *this;
    }
    friend CString operator+(const CString& a, const CString& b) {
        return CString(a.m_str + b.m_str);
    }
    friend CString operator+(const CString& a, const char* b) {
        return CString(a.m_str + (b ? b : ""));
    }
    friend CString operator+(const char* a, const CString& b) {
        return CString((a ? a : "") + b.m_str);
    }

    friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
    friend bool operator==(const CString& a, const char* b) { return a.m_str == (b ? b : ""); }
    friend auto operator<=>(const CString& a, const CString& b) { return a.m_str <=> b.m_str; }

    // Exact comparison, and the case-insensitive multibyte-aware comparison of the active
    // ANSI code page: <0, 0, >0.
    int Compare(const char* other) const;
    int CompareNoCase(const char* other) const;
    // Upper-cases in place, a whole character at a time (see MbMakeUpper).
    CString& MakeUpper();

    // printf-style formatting, any length.
    void Format(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    void FormatV(const char* format, va_list args);

    // The string of that id from the program's string table; FALSE (and empty) when there is
    // none.
    bool LoadString(unsigned id);

    int Find(char ch, int start = 0) const;
    int Find(const char* sub, int start = 0) const;
    CString Left(int count) const;
    CString Mid(int first) const;
    CString Mid(int first, int count) const;

    // Direct access for an API that writes text: room for at least minLength bytes plus a
    // NUL; ReleaseBuffer(-1) then cuts the string at its first NUL, ReleaseBuffer(n) at n.
    char* GetBuffer(int minLength);
    void ReleaseBuffer(int newLength = -1);

  private:
    std::string m_str;
};

}  // namespace ks
