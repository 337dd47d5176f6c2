#include "platform/sim/FixtureDocument.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <unordered_set>
#include <utility>

#include <nlohmann/json.hpp>

#include "framework/CodePage.h"
#include "platform/sim/FixtureLoader.h"

namespace ks {

namespace {

using Json = nlohmann::json;
using EKind = CFixtureValue::EKind;

constexpr std::size_t kArenaBlock = 64 * 1024;
// An object of more members than this finds a key given twice through a set of its keys;
// a smaller one compares the key with each member before it.
constexpr std::size_t kMembersComparedInTurn = 16;

}  // namespace

std::string FixturePointerToken(std::string_view key) {
    std::string out;
    out.reserve(key.size());
    for (char c : key) {
        if (c == '~')
            out += "~0";
        else if (c == '/')
            out += "~1";
        else
            out += c;
    }
    return out;
}

void* CFixtureArena::Allocate(std::size_t size, std::size_t align) {
    const std::size_t pad =
        m_pNext == nullptr ? 0
                           : (align - reinterpret_cast<std::uintptr_t>(m_pNext) % align) % align;
    if (m_pNext == nullptr || m_left < pad + size) {
        // A block of its own for anything large, so that a block is never mostly empty.
        const std::size_t blockSize = std::max(kArenaBlock, size + align);
        m_vBlocks.push_back(std::make_unique_for_overwrite<std::byte[]>(blockSize));
        std::byte* block = m_vBlocks.back().get();
        const std::size_t blockPad =
            (align - reinterpret_cast<std::uintptr_t>(block) % align) % align;
        if (size >= kArenaBlock / 2)
            return block + blockPad;  // the current block goes on being filled
        m_pNext = block + blockPad;
        m_left = blockSize - blockPad;
    } else {
        m_pNext += pad;
        m_left -= pad;
    }
    void* at = m_pNext;
    m_pNext += size;
    m_left -= size;
    return at;
}

// Lays the values out as they are read: while a container is open its members wait on a
// stack, each with its key; when it closes they are moved into the arena side by side and
// leave the stack. Texts are views: of the fixture's text where a reader says they stand
// there as they are, otherwise of a copy in the arena.
class CFixtureDocumentBuilder {
  public:
    explicit CFixtureDocumentBuilder(CFixtureArena& arena) : m_arena(arena) {}

    void Scalar(CFixtureValue value) { Put(value); }
    void Bool(bool value) {
        CFixtureValue v;
        v.m_kind = EKind::Bool;
        v.m_b = value;
        Put(v);
    }
    void Signed(std::int64_t value) {
        CFixtureValue v;
        v.m_kind = EKind::Signed;
        v.m_i = value;
        Put(v);
    }
    void Unsigned(std::uint64_t value) {
        CFixtureValue v;
        v.m_kind = EKind::Unsigned;
        v.m_u = value;
        Put(v);
    }
    void Float(double value) {
        CFixtureValue v;
        v.m_kind = EKind::Float;
        v.m_d = value;
        Put(v);
    }
    // `stays`: the text is the fixture's own and outlives the document.
    void String(std::string_view text, bool stays) {
        CFixtureValue v;
        v.m_kind = EKind::String;
        v.m_pText = stays ? text.data() : Copy(text);
        v.m_count = static_cast<std::uint32_t>(text.size());
        Put(v);
    }
    void Binary() {
        CFixtureValue v;
        v.m_kind = EKind::Binary;
        Put(v);
    }
    // False when the container is one level too deep (it is open all the same, for Path).
    bool Open(EKind kind) {
        CFixtureValue container;
        container.m_kind = kind;
        Put(container);
        CFrame frame;
        frame.m_slot = m_vStack.size() - 1;
        frame.m_first = m_vStack.size();
        m_vFrames.push_back(std::move(frame));
        return m_vFrames.size() <= kMaxFixtureNesting;
    }
    void Close() {
        const CFrame& frame = m_vFrames.back();
        const std::size_t count = m_vStack.size() - frame.m_first;
        CFixtureValue& container = m_vStack[frame.m_slot].m_value;
        if (count != 0) {
            auto* members = static_cast<CFixtureMember*>(
                m_arena.Allocate(count * sizeof(CFixtureMember), alignof(CFixtureMember)));
            std::uninitialized_copy(m_vStack.begin() + static_cast<std::ptrdiff_t>(frame.m_first),
                                    m_vStack.end(), members);
            container.m_pMembers = members;
        }
        container.m_count = static_cast<std::uint32_t>(count);
        m_vStack.resize(frame.m_first);
        m_vFrames.pop_back();
    }
    // The key of the next member of the innermost object; false when the object has it
    // already.
    bool Key(std::string_view key, bool stays) {
        CFrame& frame = m_vFrames.back();
        const std::size_t count = m_vStack.size() - frame.m_first;
        bool given = false;
        if (count <= kMembersComparedInTurn) {
            for (std::size_t i = frame.m_first; i < m_vStack.size() && !given; ++i)
                given = m_vStack[i].Key() == key;
        } else {
            if (!frame.m_pKeys) {
                frame.m_pKeys = std::make_unique<std::unordered_set<std::string_view>>();
                for (std::size_t i = frame.m_first; i < m_vStack.size(); ++i)
                    frame.m_pKeys->insert(m_vStack[i].Key());
            }
            given = frame.m_pKeys->count(key) != 0;
        }
        if (given)
            return false;
        frame.m_pKey = stays ? key.data() : Copy(key);
        frame.m_keyLength = static_cast<std::uint32_t>(key.size());
        if (frame.m_pKeys)
            frame.m_pKeys->insert({frame.m_pKey, frame.m_keyLength});
        return true;
    }

    std::size_t Depth() const { return m_vFrames.size(); }
    bool InObject() const { return m_vStack[m_vFrames.back().m_slot].m_value.IsObject(); }
    // The one value of the text, once it has been read whole.
    CFixtureValue Root() const { return m_vStack.front().m_value; }

    // The JSON pointer of the innermost container: in each one around it, the member being
    // read (its key, or its index).
    std::string Path() const {
        std::string out;
        for (std::size_t i = 0; i + 1 < m_vFrames.size(); ++i) {
            const std::size_t slot = m_vFrames[i + 1].m_slot;
            // Appended piece by piece: GCC 12 warns wrongly of overlapping copies in a
            // "/" + text chain for the 32-bit build.
            out += '/';
            if (m_vStack[m_vFrames[i].m_slot].m_value.IsArray())
                out += std::to_string(slot - m_vFrames[i].m_first);
            else
                out += FixturePointerToken(m_vStack[slot].Key());
        }
        return out;
    }

  private:
    struct CFrame {
        std::size_t m_slot;   // the container's own place on the stack
        std::size_t m_first;  // where its members begin on the stack
        // In an object: the last key, which the next value takes.
        const char* m_pKey = nullptr;
        std::uint32_t m_keyLength = 0;
        std::unique_ptr<std::unordered_set<std::string_view>> m_pKeys;
    };

    const char* Copy(std::string_view text) {
        if (text.empty())
            return "";
        char* at = static_cast<char*>(m_arena.Allocate(text.size(), 1));
        std::memcpy(at, text.data(), text.size());
        return at;
    }
    void Put(const CFixtureValue& value) {
        CFixtureMember member;
        if (!m_vFrames.empty()) {
            member.m_pKey = m_vFrames.back().m_pKey;
            member.m_keyLength = m_vFrames.back().m_keyLength;
        }
        member.m_value = value;
        m_vStack.push_back(member);
    }

    CFixtureArena& m_arena;
    std::vector<CFixtureMember> m_vStack;
    std::vector<CFrame> m_vFrames;
};

namespace {

// The JSON library's parser reports its events here. A key given twice and nesting too deep
// end the parse with the message, as the library's own errors do.
class CLibraryEvents {
  public:
    CLibraryEvents(const std::string& source, CFixtureDocumentBuilder& builder)
        : m_strSource(source), m_builder(builder) {}

    bool null() {
        m_builder.Scalar(CFixtureValue());
        return true;
    }
    bool boolean(bool value) {
        m_builder.Bool(value);
        return true;
    }
    bool number_integer(Json::number_integer_t value) {
        m_builder.Signed(value);
        return true;
    }
    bool number_unsigned(Json::number_unsigned_t value) {
        m_builder.Unsigned(value);
        return true;
    }
    bool number_float(Json::number_float_t value, const Json::string_t&) {
        m_builder.Float(value);
        return true;
    }
    bool string(Json::string_t& value) {
        m_builder.String(value, false);
        return true;
    }
    bool binary(Json::binary_t&) {
        m_builder.Binary();
        return true;
    }
    bool start_object(std::size_t) { return Open(EKind::Object); }
    bool start_array(std::size_t) { return Open(EKind::Array); }
    bool end_object() {
        m_builder.Close();
        return true;
    }
    bool end_array() {
        m_builder.Close();
        return true;
    }
    bool key(Json::string_t& key) {
        if (!m_builder.Key(key, false))
            throw CFixtureError(m_strSource + ": " + m_builder.Path() + "/" +
                                FixturePointerToken(key) +
                                ": the key is given twice in one object");
        return true;
    }
    // The parser's own errors go on as the exceptions they are.
    template <class Exception>
    bool parse_error(std::size_t, const std::string&, const Exception& error) {
        throw error;
    }

  private:
    bool Open(EKind kind) {
        if (!m_builder.Open(kind))
            throw CFixtureError(m_strSource + ": " + m_builder.Path() + ": nested deeper than " +
                                std::to_string(kMaxFixtureNesting) +
                                " levels of objects and arrays");
        return true;
    }

    const std::string& m_strSource;
    CFixtureDocumentBuilder& m_builder;
};

// Reads the JSON that fixtures are written in straight from the text: objects, arrays,
// strings (a view of the text where it holds no escape), integers, true, false and null,
// between them whitespace and comments. It reads exactly what the library's parser reads of
// these, value for value; at anything else (a number with a fraction or an exponent, or too
// large for 64 bits, a byte-order mark, a NUL byte, a key given twice, nesting beyond the
// bound, any error at all) it gives up, and the library's parser reads the text from the
// start, so that every message, and every value this reader leaves alone, is the library's.
// Nothing recurses: where the reader stands is the builder's stack of open containers.
class CPlainReader {
  public:
    CPlainReader(std::string_view text, CFixtureDocumentBuilder& builder)
        : m_p(text.data()), m_end(text.data() + text.size()), m_builder(builder) {}

    bool Read() {
        if (m_p != m_end && static_cast<unsigned char>(*m_p) == 0xEF)
            return false;  // a byte-order mark, or a byte the library refuses in its place
        if (!Space())
            return false;
        while (true) {
            // A value: a scalar, or a container opened.
            if (m_p == m_end)
                return false;
            const char c = *m_p;
            if (c == '{' || c == '[') {
                ++m_p;
                if (!m_builder.Open(c == '{' ? EKind::Object : EKind::Array) || !Space() ||
                    m_p == m_end)
                    return false;
                if (*m_p == (c == '{' ? '}' : ']')) {
                    ++m_p;
                    m_builder.Close();
                } else {
                    if (c == '{' && !Member())
                        return false;
                    continue;
                }
            } else if (!Scalar()) {
                return false;
            }
            // After a value: the containers that end here, then the next member.
            while (true) {
                if (!Space())
                    return false;
                if (m_builder.Depth() == 0)
                    return m_p == m_end;
                if (m_p == m_end)
                    return false;
                const bool object = m_builder.InObject();
                if (*m_p == ',') {
                    ++m_p;
                    if (!Space() || (object && !Member()))
                        return false;
                    break;
                }
                if (*m_p != (object ? '}' : ']'))
                    return false;
                ++m_p;
                m_builder.Close();
            }
        }
    }

  private:
    // Skips whitespace and comments; false at a comment the library must judge.
    bool Space() {
        while (m_p != m_end) {
            const char c = *m_p;
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
                // The run of whitespace at once (the indentation of a written fixture).
                const char* p = m_p + 1;
                while (p != m_end && (*p == ' ' || *p == '\n' || *p == '\t' || *p == '\r'))
                    ++p;
                m_p = p;
            } else if (c == '/' && m_end - m_p >= 2 && m_p[1] == '/') {
                // To the end of the line, which the comment takes with it.
                m_p += 2;
                while (m_p != m_end && *m_p != '\n' && *m_p != '\r') {
                    if (*m_p == '\0')
                        return false;
                    ++m_p;
                }
                if (m_p != m_end)
                    ++m_p;
            } else if (c == '/' && m_end - m_p >= 2 && m_p[1] == '*') {
                const std::string_view rest(m_p + 2, static_cast<std::size_t>(m_end - m_p - 2));
                const std::size_t close = rest.find("*/");
                if (close == std::string_view::npos ||
                    rest.substr(0, close).find('\0') != std::string_view::npos)
                    return false;
                m_p += 2 + close + 2;
            } else {
                return c != '/';
            }
        }
        return true;
    }

    // A key, its colon and the space before the value.
    bool Member() {
        if (m_p == m_end || *m_p != '"')
            return false;
        std::string_view key;
        bool stays = false;
        if (!Text(key, stays) || !m_builder.Key(key, stays) || !Space() || m_p == m_end ||
            *m_p != ':')
            return false;
        ++m_p;
        return Space();
    }

    bool Scalar() {
        switch (*m_p) {
            case '"': {
                std::string_view text;
                bool stays = false;
                if (!Text(text, stays))
                    return false;
                m_builder.String(text, stays);
                return true;
            }
            case 't':
                if (!Word("true"))
                    return false;
                m_builder.Bool(true);
                return true;
            case 'f':
                if (!Word("false"))
                    return false;
                m_builder.Bool(false);
                return true;
            case 'n':
                if (!Word("null"))
                    return false;
                m_builder.Scalar(CFixtureValue());
                return true;
            default:
                return Integer();
        }
    }

    bool Word(std::string_view word) {
        if (static_cast<std::size_t>(m_end - m_p) < word.size() ||
            std::string_view(m_p, word.size()) != word)
            return false;
        m_p += word.size();
        return true;
    }

    static bool Digit(char c) { return c >= '0' && c <= '9'; }

    // An integer, as the library reads one: without a minus sign unsigned, with one signed.
    bool Integer() {
        const bool negative = *m_p == '-';
        if (negative)
            ++m_p;
        if (m_p == m_end || !Digit(*m_p))
            return false;
        const std::uint64_t limit =
            negative ? std::uint64_t{1} << 63 : ~std::uint64_t{0};  // beyond: a double
        std::uint64_t value = 0;
        if (*m_p == '0') {
            ++m_p;  // a digit after it is no part of the number, nor of anything that follows
        } else {
            for (; m_p != m_end && Digit(*m_p); ++m_p) {
                const auto digit = static_cast<std::uint64_t>(*m_p - '0');
                if (value > (limit - digit) / 10)
                    return false;
                value = value * 10 + digit;
            }
        }
        if (m_p != m_end && (*m_p == '.' || *m_p == 'e' || *m_p == 'E'))
            return false;  // a fraction or an exponent: a double
        if (negative)
            m_builder.Signed(value == limit ? INT64_MIN : -static_cast<std::int64_t>(value));
        else
            m_builder.Unsigned(value);
        return true;
    }

    // A string at the quote: a view of the text while it holds no escape, else of its text
    // decoded into m_strDecoded.
    bool Text(std::string_view& out, bool& stays) {
        const char* start = ++m_p;
        while (m_p != m_end) {
            m_p = PlainRun(m_p);
            if (m_p == m_end)
                break;
            const auto c = static_cast<unsigned char>(*m_p);
            if (c == '"') {
                out = std::string_view(start, static_cast<std::size_t>(m_p - start));
                stays = true;
                ++m_p;
                return true;
            }
            if (c == '\\')
                break;
            if (!Character())
                return false;
        }
        m_strDecoded.assign(start, m_p);
        while (m_p != m_end) {
            const char c = *m_p;
            if (c == '"') {
                out = m_strDecoded;
                stays = false;
                ++m_p;
                return true;
            }
            if (c == '\\') {
                if (!Escape())
                    return false;
                continue;
            }
            // The characters up to the next quote or escape, at once.
            const char* at = m_p;
            while (true) {
                m_p = PlainRun(m_p);
                if (m_p == m_end || *m_p == '"' || *m_p == '\\')
                    break;
                if (!Character())
                    return false;
            }
            m_strDecoded.append(at, m_p);
        }
        return false;
    }

    // Where the run of printable ASCII that begins at p ends: at the end of the text, or at a
    // quote, a backslash, a control character or a byte beyond ASCII.
    const char* PlainRun(const char* p) const {
        while (p != m_end && static_cast<unsigned char>(*p) >= 0x20 &&
               static_cast<unsigned char>(*p) < 0x80 && *p != '"' && *p != '\\')
            ++p;
        return p;
    }

    // One character of a string as it stands: no control character, well-formed UTF-8.
    bool Character() {
        const auto c = static_cast<unsigned char>(*m_p);
        if (c < 0x20)
            return false;
        if (c < 0x80) {
            ++m_p;
            return true;
        }
        char32_t cp;
        const std::size_t n =
            DecodeUtf8(std::string_view(m_p, static_cast<std::size_t>(m_end - m_p)), 0, cp);
        m_p += n;
        return n != 0;
    }

    bool Escape() {
        if (m_end - m_p < 2)
            return false;
        const char c = m_p[1];
        m_p += 2;
        switch (c) {
            case '"':
            case '\\':
            case '/':
                m_strDecoded += c;
                return true;
            case 'b':
                m_strDecoded += '\b';
                return true;
            case 'f':
                m_strDecoded += '\f';
                return true;
            case 'n':
                m_strDecoded += '\n';
                return true;
            case 'r':
                m_strDecoded += '\r';
                return true;
            case 't':
                m_strDecoded += '\t';
                return true;
            case 'u':
                break;
            default:
                return false;
        }
        std::uint32_t cp = 0;
        if (!Hex4(cp) || (cp >= 0xDC00 && cp <= 0xDFFF))
            return false;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            // A high surrogate, and its low one in the next escape.
            std::uint32_t low = 0;
            if (m_end - m_p < 2 || m_p[0] != '\\' || m_p[1] != 'u')
                return false;
            m_p += 2;
            if (!Hex4(low) || low < 0xDC00 || low > 0xDFFF)
                return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        AppendUtf8(m_strDecoded, cp);
        return true;
    }

    bool Hex4(std::uint32_t& out) {
        if (m_end - m_p < 4)
            return false;
        for (int i = 0; i < 4; ++i) {
            const char c = *m_p++;
            std::uint32_t d;
            if (c >= '0' && c <= '9')
                d = static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                d = static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                d = static_cast<std::uint32_t>(c - 'A' + 10);
            else
                return false;
            out = out * 16 + d;
        }
        return true;
    }

    const char* m_p;
    const char* m_end;
    CFixtureDocumentBuilder& m_builder;
    std::string m_strDecoded;
};

}  // namespace

const CFixtureValue* CFixtureValue::Find(std::string_view key) const {
    if (!IsObject())
        return nullptr;
    for (const CFixtureMember& member : *this)
        if (member.Key() == key)
            return &member.m_value;
    return nullptr;
}

CFixtureDocument::CFixtureDocument(const std::string& text, const std::string& sourceName,
                                   EFixtureParser parser) {
    if (text.size() > kMaxFixtureSize)
        throw CFixtureError(sourceName + ": the text is " + std::to_string(text.size()) +
                            " bytes long; a fixture holds at most " +
                            std::to_string(kMaxFixtureSize));
    if (parser == EFixtureParser::PlainFirst) {
        CFixtureDocumentBuilder builder(m_arena);
        if (CPlainReader(text, builder).Read()) {
            m_root = builder.Root();
            m_bReadPlain = true;
            return;
        }
    }
    try {
        // Comments (// and /* */) are allowed: fixtures are written by hand.
        CFixtureDocumentBuilder builder(m_arena);
        CLibraryEvents events(sourceName, builder);
        Json::sax_parse(text, &events, Json::input_format_t::json, true, true);
        m_root = builder.Root();
    } catch (const Json::parse_error& e) {
        // Line and column of the byte where the parser stopped.
        const std::size_t at = e.byte == 0 ? 0 : std::min<std::size_t>(e.byte - 1, text.size());
        std::size_t line = 1, column = 1;
        for (std::size_t i = 0; i < at; ++i) {
            if (text[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        std::string detail = e.what();
        const std::size_t colon = detail.find(": ", detail.find("parse error"));
        if (colon != std::string::npos)
            detail = detail.substr(colon + 2);
        throw CFixtureError(sourceName + ": line " + std::to_string(line) + ", column " +
                            std::to_string(column) + ": " + detail);
    } catch (const Json::exception& e) {
        // Not a syntax error but a value the parser cannot hold, such as a number beyond
        // the range of a double ("-1e6861"): refused like any other bad fixture.
        throw CFixtureError(sourceName + ": " + e.what());
    }
}

bool SameFixtureValue(const CFixtureValue& a, const CFixtureValue& b) {
    // Pairs of values still to compare: a stack, not recursion.
    std::vector<std::pair<const CFixtureValue*, const CFixtureValue*>> pending{{&a, &b}};
    while (!pending.empty()) {
        const auto [x, y] = pending.back();
        pending.pop_back();
        if (x->Kind() != y->Kind())
            return false;
        switch (x->Kind()) {
            case EKind::Null:
            case EKind::Binary:
                break;
            case EKind::Bool:
                if (x->Bool() != y->Bool())
                    return false;
                break;
            case EKind::Signed:
                if (x->m_i != y->m_i)
                    return false;
                break;
            case EKind::Unsigned:
                if (x->m_u != y->m_u)
                    return false;
                break;
            case EKind::Float:  // bit for bit
                if (std::memcmp(&x->m_d, &y->m_d, sizeof x->m_d) != 0)
                    return false;
                break;
            case EKind::String:
                if (x->Text() != y->Text())
                    return false;
                break;
            case EKind::Object:
            case EKind::Array:
                if (x->Size() != y->Size())
                    return false;
                for (std::size_t i = 0; i < x->Size(); ++i) {
                    if (x->begin()[i].Key() != y->begin()[i].Key())
                        return false;
                    pending.emplace_back(&x->begin()[i].m_value, &y->begin()[i].m_value);
                }
                break;
        }
    }
    return true;
}

}  // namespace ks
