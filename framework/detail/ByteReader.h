// A bounded little-endian cursor over resource bytes, shared by the resource-file, dialog
// template and bitmap readers. Every read checks the bytes left first; a read that does not
// fit fails and leaves the cursor where it was, so nothing past the buffer is ever touched.
// Any thread may use its own reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "framework/ResourceFile.h"
#include "framework/WinTypes.h"

namespace ks::detail {

inline WORD PeekLe16(std::span<const BYTE> bytes, std::size_t offset) {
    return static_cast<WORD>(bytes[offset] | (bytes[offset + 1] << 8));
}

inline DWORD PeekLe32(std::span<const BYTE> bytes, std::size_t offset) {
    return static_cast<DWORD>(bytes[offset]) | (static_cast<DWORD>(bytes[offset + 1]) << 8) |
           (static_cast<DWORD>(bytes[offset + 2]) << 16) |
           (static_cast<DWORD>(bytes[offset + 3]) << 24);
}

class CByteReader {
  public:
    explicit CByteReader(std::span<const BYTE> bytes, std::size_t offset = 0)
        : m_bytes(bytes), m_nOffset(offset <= bytes.size() ? offset : bytes.size()) {}

    std::size_t Offset() const { return m_nOffset; }
    std::size_t Left() const { return m_bytes.size() - m_nOffset; }

    bool Skip(std::size_t count) {
        if (count > Left())
            return false;
        m_nOffset += count;
        return true;
    }

    // Moves on to the next multiple of `alignment` (a power of two) counted from the start
    // of the bytes; fails when that lies past the end.
    bool Align(std::size_t alignment) {
        const std::size_t pad = (alignment - (m_nOffset & (alignment - 1))) & (alignment - 1);
        return Skip(pad);
    }

    bool Byte(BYTE& value) {
        if (Left() < 1)
            return false;
        value = m_bytes[m_nOffset];
        ++m_nOffset;
        return true;
    }

    bool Word(WORD& value) {
        if (Left() < 2)
            return false;
        value = PeekLe16(m_bytes, m_nOffset);
        m_nOffset += 2;
        return true;
    }

    bool Dword(DWORD& value) {
        if (Left() < 4)
            return false;
        value = PeekLe32(m_bytes, m_nOffset);
        m_nOffset += 4;
        return true;
    }

    bool Short(std::int16_t& value) {
        WORD w = 0;
        if (!Word(w))
            return false;
        value = static_cast<std::int16_t>(w);
        return true;
    }

    bool Bytes(std::size_t count, std::span<const BYTE>& out) {
        if (count > Left())
            return false;
        out = m_bytes.subspan(m_nOffset, count);
        m_nOffset += count;
        return true;
    }

    // A NUL-terminated UTF-16 string; fails, without moving, when no NUL comes before the
    // end. The text is copied without its NUL (so its length is bounded by the bytes).
    bool String(std::u16string& out) {
        std::size_t at = m_nOffset;
        while (m_bytes.size() - at >= 2) {
            const WORD unit = PeekLe16(m_bytes, at);
            if (unit == 0) {
                out.clear();
                out.reserve((at - m_nOffset) / 2);
                for (std::size_t p = m_nOffset; p < at; p += 2)
                    out.push_back(static_cast<char16_t>(PeekLe16(m_bytes, p)));
                m_nOffset = at + 2;
                return true;
            }
            at += 2;
        }
        return false;
    }

  private:
    std::span<const BYTE> m_bytes;
    std::size_t m_nOffset;
};

// A name-or-ordinal field: 0x0000 is nothing, 0xFFFF an ordinal in the next WORD, anything
// else the first unit of a NUL-terminated string.
inline bool ReadNameOrOrdinal(CByteReader& reader, CNameOrOrdinal& out) {
    WORD first = 0;
    CByteReader probe = reader;
    if (!probe.Word(first))
        return false;
    if (first == 0x0000) {
        out = CNameOrOrdinal{};
        reader = probe;
        return true;
    }
    if (first == 0xFFFF) {
        WORD ordinal = 0;
        if (!probe.Word(ordinal))
            return false;
        out = CNameOrOrdinal::MakeOrdinal(ordinal);
        reader = probe;
        return true;
    }
    std::u16string text;
    if (!reader.String(text))
        return false;
    out = CNameOrOrdinal::MakeName(std::move(text));
    return true;
}

}  // namespace ks::detail
