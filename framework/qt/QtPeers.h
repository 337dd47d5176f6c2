// The Qt toolkit's side of the windows it shows: one peer per window (a dialog, or one of
// its controls), holding the widget and answering the window's default processing, the
// requests of the Windows control it stands for. Qt's thread only.
#pragma once

#include <QFont>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "framework/WinUser.h"
#include "framework/detail/Toolkit.h"

class QPainter;

namespace ks::qt {

class CDialogPeer;

// The Windows arithmetic of MulDiv: a * b / c, rounded half away from zero.
int MulDiv(int a, int b, int c);

// Texts: the ANSI code page of the Linux build is UTF-8.
QString FromAnsi(const std::string& text);
std::string ToAnsi(const QString& text);

// Copies `text` into a caller's buffer of `max` bytes as WM_GETTEXT does.
LRESULT CopyText(const std::string& text, WPARAM max, LPARAM buffer);

class CPeer {
  public:
    enum class EKind { Dialog, Button, Static, Picture, Edit, List, Tree };

    CPeer(EKind kind, HWND hwnd) : m_kind(kind), m_hwnd(hwnd) {}
    virtual ~CPeer() = default;
    CPeer(const CPeer&) = delete;
    CPeer& operator=(const CPeer&) = delete;

    // The window's own processing of a message.
    virtual LRESULT Proc(UINT message, WPARAM wParam, LPARAM lParam);
    // The widget that stands for the window's client area (a scroll area's viewport).
    virtual QWidget* ClientWidget() const { return m_widget; }

    EKind m_kind;
    HWND m_hwnd;
    QPointer<QWidget> m_widget;
    // The context of the peer's signal connections: they end with the peer, even while its
    // widget waits to be deleted.
    QObject m_context;
    CDialogPeer* m_pDialog = nullptr;  // the dialog a control belongs to; itself for a dialog
    int m_id = 0;
    DWORD m_style = 0;
    DWORD m_exStyle = 0;
    std::string m_className;

  protected:
    // Sends a control's notification or command to its dialog.
    void Notify(UINT message, WPARAM wParam, LPARAM lParam) const;
};

// Items of a dialog template, converted for the peers that build their widgets from them.
struct CItemLayout {
    DWORD style = 0;
    DWORD exStyle = 0;
    int id = 0;
    std::string className;  // "Button", "Static", "Edit", "SysListView32", ...
    std::string text;       // UTF-8
    bool textIsOrdinal = false;
    WORD ordinal = 0;  // the image resource of a picture
    QRect pixels;      // in the dialog's client area
};

// Makes the peer and widget of one control (nullptr for a class this toolkit lacks).
std::unique_ptr<CPeer> MakeControl(CDialogPeer* dialog, const CItemLayout& tmpl, HWND hwnd);
// Widens each one-line left-aligned label that its rectangle cuts off: the template was
// sized for the text in the dialog font's Windows metrics, and where this toolkit's glyphs
// take a few pixels more, the last word would be wrapped out of sight. The label grows to
// the right as far as its text needs and the free space beside it lets it (up to the next
// control, or the dialog's edge); no control is overlapped.
void FitLabels(CDialogPeer* dialog);

class CDialogPeer : public CPeer {
  public:
    CDialogPeer(HWND hwnd, HWND owner);
    ~CDialogPeer() override;
    LRESULT Proc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // Dialog units to pixels with the base units of the dialog's font, as Windows converts.
    QRect Pixels(int x, int y, int cx, int cy) const;

    HWND m_owner = 0;
    std::string m_caption;
    QFont m_font;
    // The dots per inch the dialog is laid out for: the logical DPI of its screen. On a
    // screen that Qt scales (QT_SCALE_FACTOR, a high-DPI desktop) the layout stays at these
    // logical pixels and the device pixel ratio says how many pixels each one is drawn with.
    UINT m_dpi = 96;
    int m_baseX = 0;  // the dialog font's average character width, Windows' way
    int m_baseY = 0;  // and its character height
    LOGFONTA m_logFont;
    HICON m_bigIcon = nullptr;
    HICON m_smallIcon = nullptr;
    HMENU m_systemMenu = nullptr;
    bool m_inputEnabled = true;      // a disabled top-level window takes no input
    std::vector<CPeer*> m_controls;  // in template order
    int m_defaultId = IDOK;
    unsigned m_serial = 0;  // creation order of top-level windows
};

}  // namespace ks::qt
