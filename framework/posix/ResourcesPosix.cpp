// The program's resources on Linux (string table, icons, bitmaps, dialog templates), read
// from the compiled resource script that the build links into the program (ks_resources):
// the same bytes the Windows build carries in its module.
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>

#include "framework/CodePage.h"
#include "framework/DialogTemplate.h"
#include "framework/ResourceFile.h"
#include "framework/WinUser.h"
#include "framework/detail/Toolkit.h"

namespace ks {

namespace {

std::string Ansi(const std::u16string& text) {
    return Utf16ToAnsi(text.data(), text.size());
}

// Icons are loaded once per id and shared, as the system shares the icons of a module.
struct CIconCache {
    std::mutex lock;
    std::map<UINT, std::unique_ptr<detail::CIconData>> icons;
};
CIconCache& Icons() {
    static auto* cache = new CIconCache;  // lives as long as the process
    return *cache;
}

detail::CIconImage ToImage(const CImageRgba& image) {
    detail::CIconImage out;
    out.width = image.width;
    out.height = image.height;
    out.argb = image.pixels;
    return out;
}

// The window class a template names, as the window system calls it: the resource compiler
// writes class names in capitals.
std::string ClassName(const CDialogItemTemplate& item) {
    static const char* const kKnown[] = {"Button",    "Edit",     "Static",        "ListBox",
                                         "ScrollBar", "ComboBox", "SysListView32", "SysTreeView32"};
    for (const char* known : kKnown) {
        std::u16string wide(known, known + std::char_traits<char>::length(known));
        if (item.IsClass(wide))
            return known;
    }
    if (item.windowClass.kind == CNameOrOrdinal::Kind::Name)
        return Ansi(item.windowClass.name);
    return std::string();
}

}  // namespace

int LoadStringA(UINT id, char* buffer, int max) {
    if (buffer == nullptr || max <= 0)
        return 0;
    buffer[0] = '\0';
    const CResourceFile* resources = detail::ProgramResources();
    if (resources == nullptr)
        return 0;
    std::optional<std::u16string> text = FindString(*resources, id);
    if (!text)
        return 0;
    // As LoadStringA: as much as fits, always ended with a NUL, never a character cut in two.
    const std::string ansi = Ansi(*text);
    const auto room = static_cast<std::size_t>(max - 1);
    std::size_t n = 0;
    while (n < ansi.size()) {
        const std::size_t length = MbCharLength(ansi, n, GetAnsiCodePage());
        if (n + length > room)
            break;
        n += length;
    }
    std::copy_n(ansi.data(), n, buffer);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

int LoadStringW(UINT id, char16_t* buffer, int max) {
    if (buffer == nullptr || max <= 0)
        return 0;
    buffer[0] = u'\0';
    const CResourceFile* resources = detail::ProgramResources();
    std::optional<std::u16string> text =
        resources != nullptr ? FindString(*resources, id) : std::nullopt;
    if (!text)
        return 0;
    // As much as fits, never a surrogate pair cut in two.
    std::size_t n = std::min(text->size(), static_cast<std::size_t>(max - 1));
    if (n > 0 && n < text->size() && (*text)[n - 1] >= 0xD800 && (*text)[n - 1] <= 0xDBFF)
        --n;
    std::copy_n(text->data(), n, buffer);
    buffer[n] = u'\0';
    return static_cast<int>(n);
}

HICON LoadIconA(UINT id) {
    const CResourceFile* resources = detail::ProgramResources();
    if (resources == nullptr || id > 0xFFFF)
        return nullptr;
    std::lock_guard<std::mutex> lock(Icons().lock);
    auto& slot = Icons().icons[id];
    if (!slot) {
        std::vector<CImageRgba> images = LoadIconImages(*resources, static_cast<WORD>(id));
        if (images.empty()) {
            Icons().icons.erase(id);
            return nullptr;
        }
        slot = std::make_unique<detail::CIconData>();
        slot->id = id;
        for (const CImageRgba& image : images)
            slot->images.push_back(ToImage(image));
    }
    return reinterpret_cast<HICON>(slot.get());
}

namespace detail {

CIconData* IconOf(HICON icon) {
    if (icon == nullptr)
        return nullptr;
    std::lock_guard<std::mutex> lock(Icons().lock);
    for (auto& [id, data] : Icons().icons)
        if (reinterpret_cast<HICON>(data.get()) == icon)
            return data.get();
    return nullptr;
}

bool LoadBitmapImage(UINT id, CIconImage* image) {
    const CResourceFile* resources = detail::ProgramResources();
    if (resources == nullptr || image == nullptr || id > 0xFFFF)
        return false;
    std::optional<CImageRgba> decoded =
        DecodeDib(resources->Find(RT_BITMAP, static_cast<WORD>(id)), false);
    if (!decoded)
        return false;
    *image = ToImage(*decoded);
    return true;
}

bool LoadDialogLayout(UINT templateId, CDialogLayout* tmpl) {
    const CResourceFile* resources = detail::ProgramResources();
    if (resources == nullptr || tmpl == nullptr || templateId > 0xFFFF)
        return false;
    std::optional<CDialogTemplate> t =
        ParseDialogTemplate(resources->Find(RT_DIALOG, static_cast<WORD>(templateId)));
    if (!t)
        return false;
    CDialogLayout out;
    out.style = t->style;
    out.exStyle = t->exStyle;
    out.x = t->x;
    out.y = t->y;
    out.cx = t->cx;
    out.cy = t->cy;
    if (t->caption.kind == CNameOrOrdinal::Kind::Name)
        out.caption = Ansi(t->caption.name);
    if (t->font) {
        out.hasFont = true;
        out.pointSize = t->font->pointSize;
        out.weight = t->font->weight;
        out.italic = t->font->italic;
        out.charset = t->font->charset;
        out.typeface = Ansi(t->font->typeface);
    }
    for (const CDialogItemTemplate& item : t->items) {
        CDialogItemLayout i;
        i.style = item.style;
        i.exStyle = item.exStyle;
        i.id = static_cast<int>(item.id);
        i.className = ClassName(item);
        if (item.title.kind == CNameOrOrdinal::Kind::Ordinal) {
            i.textIsOrdinal = true;
            i.ordinal = item.title.ordinal;
        } else if (item.title.kind == CNameOrOrdinal::Kind::Name) {
            i.text = Ansi(item.title.name);
        }
        i.x = item.x;
        i.y = item.y;
        i.cx = item.cx;
        i.cy = item.cy;
        out.items.push_back(std::move(i));
    }
    *tmpl = std::move(out);
    return true;
}

}  // namespace detail

}  // namespace ks
