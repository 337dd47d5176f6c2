// What the dialog manager leaves undone when a dialog is shown at more dots per inch than 96
// (125 %, 150 %, 200 % desks) or moves to a monitor of another DPI. It lays the dialog out in
// units of its font, which grows with the DPI, but
//  - a static picture shows its bitmap at the bitmap's own size in pixels: at 150 % bitmap
//    130 would fill two thirds of its panel. Each bitmap picture gets its bitmap resampled
//    smoothly to the size of its panel, the rectangle the template gives it (at the size
//    the panel has at 96 dpi, within a pixel, the bitmap stays as it is);
//  - a text is measured in the font at that size, whose glyphs do not grow exactly with the
//    dialog units (hinting, whole-pixel advances, bitmap strikes at some sizes): a one-line
//    label sized for its text at one size can lack a few pixels at another, and its last
//    word is then wrapped out of sight. Such a label is widened, to the right, as far as its
//    text needs and the free space beside it lets it; no control is overlapped;
//  - on a move to a monitor of another DPI the dialog manager lays a dialog out anew only
//    for a per-monitor (v2) window on Windows 10 1703 and later. Where it has not, this does
//    what it would have: the template's font made for the new DPI, every control placed
//    from its template rectangle in that font's units, the window sized to hold them at the
//    rectangle the system suggests.
// Win32 backend only; the dialog's thread.
#pragma once

#include <optional>
#include <utility>
#include <vector>

#include "framework/DialogTemplate.h"
#include "framework/win32/Win.h"

namespace ks::win32 {

class CDialogDpi {
  public:
    CDialogDpi() = default;
    CDialogDpi(const CDialogDpi&) = delete;
    CDialogDpi& operator=(const CDialogDpi&) = delete;
    // Deletes the bitmaps and the font it made. Call once the controls are gone (a dialog's
    // WM_NCDESTROY comes after its children's).
    ~CDialogDpi();

    // The dialog of template `templateId` (in the program's module) has made its controls.
    void Created(::HWND dialog, UINT templateId);
    // The dialog manager has handled WM_DPICHANGED (new DPI `dpi`, the system's suggested
    // window rectangle `suggested`, which may be null).
    void DpiChanged(::HWND dialog, UINT dpi, const ::RECT* suggested);

  private:
    // A dialog's base units, as Windows takes them from its font: the average width of a
    // character (a dialog unit across is a quarter of it) and the character height (a
    // dialog unit down is an eighth of it).
    struct CUnits {
        int x = 0;
        int y = 0;
    };
    void Relayout(::HWND dialog, UINT dpi, const ::RECT* suggested);
    void Fit(::HWND dialog);
    // A template rectangle's size (dialog units) in pixels.
    ::SIZE Pixels(::HWND dialog, int cx, int cy) const;
    void FitPicture(::HWND picture, WORD bitmapId, ::SIZE panel);

    std::optional<CDialogTemplate> m_template;
    // Set once this object has laid the dialog out itself: the units of m_font.
    std::optional<CUnits> m_units;
    ::HFONT m_font = nullptr;
    // The bitmaps this object set into pictures, which it owns.
    std::vector<std::pair<::HWND, ::HBITMAP>> m_pictures;
};

}  // namespace ks::win32
