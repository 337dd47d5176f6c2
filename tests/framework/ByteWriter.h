// Builds little-endian byte images for the resource-reader tests: resource files, dialog
// templates and DIBs written field by field, as a resource compiler would write them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/WinTypes.h"

namespace ks::test {

class CByteWriter {
  public:
    CByteWriter& Byte(BYTE v) {
        m_bytes.push_back(v);
        return *this;
    }
    CByteWriter& Word(WORD v) { return Byte(static_cast<BYTE>(v)).Byte(static_cast<BYTE>(v >> 8)); }
    CByteWriter& Dword(DWORD v) {
        return Word(static_cast<WORD>(v)).Word(static_cast<WORD>(v >> 16));
    }
    CByteWriter& Ordinal(WORD v) { return Word(0xFFFF).Word(v); }
    CByteWriter& String(const std::u16string& text) {
        for (char16_t c : text)
            Word(c);
        return Word(0);
    }
    CByteWriter& Bytes(const std::vector<BYTE>& bytes) {
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
        return *this;
    }
    CByteWriter& Align(std::size_t alignment) {
        while (m_bytes.size() % alignment != 0)
            m_bytes.push_back(0);
        return *this;
    }
    // Overwrites a DWORD written earlier (a size known only later).
    void PatchDword(std::size_t offset, DWORD v) {
        for (int i = 0; i < 4; ++i)
            m_bytes[offset + i] = static_cast<BYTE>(v >> (8 * i));
    }
    std::size_t Size() const { return m_bytes.size(); }
    const std::vector<BYTE>& Get() const { return m_bytes; }

  private:
    std::vector<BYTE> m_bytes;
};

// One entry of a 32-bit resource file with ordinal type and name: header, data, padding.
inline void AppendResource(CByteWriter& out, WORD type, WORD name, const std::vector<BYTE>& data,
                           WORD language = 0x0411) {
    out.Dword(static_cast<DWORD>(data.size())).Dword(32);
    out.Ordinal(type).Ordinal(name);
    out.Dword(0).Word(0x1030).Word(language).Dword(0).Dword(0);
    out.Bytes(data).Align(4);
}

// The empty entry that begins every 32-bit resource file.
inline CByteWriter ResourceFileStart() {
    CByteWriter out;
    AppendResource(out, 0, 0, {}, 0);
    return out;
}

}  // namespace ks::test
