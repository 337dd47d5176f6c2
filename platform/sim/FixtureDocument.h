// The JSON text of a fixture, parsed into one compact document that the loader then reads.
//
// The syntax is the JSON library's (comments allowed), and so are the messages and positions
// of syntax errors: a plain reader reads the JSON that fixtures are written in, and where it
// meets anything else, or anything wrong, the library's parser reads the text instead. The
// document keeps the values in tables of its own: each value is a 16-byte record, the
// members of an object and the elements of an array lie side by side, a text is a view of
// the fixture's text or, where escapes had to be decoded, of a copy in blocks the document
// owns. Nothing is allocated per value, nothing recurses on the depth of the text, and the
// whole is freed at once.
//
// On the way the document refuses, naming the JSON pointer of where it stands: a key given
// twice in one object, and nesting deeper than kMaxFixtureNesting levels of objects and
// arrays (the root is level 1), where it begins, before anything further is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ks {

struct CFixtureMember;

// A key as one token of a JSON pointer ("~" and "/" escaped).
std::string FixturePointerToken(std::string_view key);

// One JSON value. The parser reports each number as an unsigned integer (a literal without
// a minus sign that fits 64 bits), a signed one (with a minus sign, fitting 64 bits) or a
// double (anything else).
class CFixtureValue {
  public:
    enum class EKind : std::uint8_t {
        Null,
        Bool,
        Signed,
        Unsigned,
        Float,
        String,
        Object,
        Array,
        Binary  // never in JSON text; the parser's interface has it
    };

    EKind Kind() const { return m_kind; }
    bool IsNull() const { return m_kind == EKind::Null; }
    bool IsBool() const { return m_kind == EKind::Bool; }
    bool IsUnsigned() const { return m_kind == EKind::Unsigned; }
    bool IsSigned() const { return m_kind == EKind::Signed; }
    bool IsString() const { return m_kind == EKind::String; }
    bool IsObject() const { return m_kind == EKind::Object; }
    bool IsArray() const { return m_kind == EKind::Array; }

    bool Bool() const { return m_b; }
    std::uint64_t Unsigned() const { return m_u; }
    std::string_view Text() const { return {m_pText, m_count}; }
    bool TextStartsWith(std::string_view prefix) const {
        return Text().substr(0, prefix.size()) == prefix;
    }

    // An object's members in the order of the text, or an array's elements (whose keys are
    // empty); nothing for any other value.
    std::size_t Size() const { return IsObject() || IsArray() ? m_count : 0; }
    const CFixtureMember* begin() const;
    const CFixtureMember* end() const;
    // An array's element; i < Size().
    const CFixtureValue& operator[](std::size_t i) const;
    // An object's member of that key; null when there is none or this is no object.
    const CFixtureValue* Find(std::string_view key) const;

  private:
    friend class CFixtureDocumentBuilder;
    friend bool SameFixtureValue(const CFixtureValue& a, const CFixtureValue& b);
    union {
        std::uint64_t m_u = 0;
        bool m_b;
        std::int64_t m_i;
        double m_d;
        const char* m_pText;
        const CFixtureMember* m_pMembers;
    };
    std::uint32_t m_count = 0;  // bytes of a text, members or elements of a container
    EKind m_kind = EKind::Null;
};

struct CFixtureMember {
    const char* m_pKey = nullptr;
    std::uint32_t m_keyLength = 0;
    CFixtureValue m_value;

    std::string_view Key() const { return {m_pKey, m_keyLength}; }
};

inline const CFixtureMember* CFixtureValue::begin() const {
    return Size() != 0 ? m_pMembers : nullptr;
}
inline const CFixtureMember* CFixtureValue::end() const {
    return Size() != 0 ? m_pMembers + m_count : nullptr;
}
inline const CFixtureValue& CFixtureValue::operator[](std::size_t i) const {
    return m_pMembers[i].m_value;
}

// Blocks of memory handed out in order and freed together.
class CFixtureArena {
  public:
    void* Allocate(std::size_t size, std::size_t align);

  private:
    std::vector<std::unique_ptr<std::byte[]>> m_vBlocks;
    std::byte* m_pNext = nullptr;
    std::size_t m_left = 0;
};

// How the text is read: by the plain reader of the JSON fixtures are written in, and where
// it gives up by the JSON library's parser (the document is the same either way); or by
// the library's parser alone.
enum class EFixtureParser { PlainFirst, LibraryOnly };

class CFixtureDocument {
  public:
    // Parses `text`, which must outlive the document (texts without escapes are views of it);
    // a CFixtureError whose message begins with `sourceName` when the text is no JSON
    // ("line L, column C: " and the parser's message), holds a number no double can hold,
    // gives a key twice in one object or nests too deep. Texts longer than kMaxFixtureSize
    // are refused before they are read.
    CFixtureDocument(const std::string& text, const std::string& sourceName,
                     EFixtureParser parser = EFixtureParser::PlainFirst);
    CFixtureDocument(const CFixtureDocument&) = delete;
    CFixtureDocument& operator=(const CFixtureDocument&) = delete;

    const CFixtureValue& Root() const { return m_root; }
    // Whether the plain reader read the text (the library's parser did not).
    bool ReadPlain() const { return m_bReadPlain; }

  private:
    CFixtureArena m_arena;
    CFixtureValue m_root;
    bool m_bReadPlain = false;
};

// Whether two values are the same: of one kind, the same scalars (doubles bit for bit), the
// same texts, the same keys in the same order, and so on all the way down.
bool SameFixtureValue(const CFixtureValue& a, const CFixtureValue& b);

}  // namespace ks
