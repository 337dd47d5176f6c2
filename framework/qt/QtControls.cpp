// The controls of the Qt toolkit: each Windows control class the dialogs use, drawn by a Qt
// widget and answering the control's own requests as Windows' control does (list view and
// tree view requests, window texts, button clicks, pictures). The Windows state of a list
// view's items (selected, focused) is kept here and is what the requests and the
// notifications report; the widget shows it, and a user's click or key changes it through
// the widget's signals, one item-changed notification per changed item, losses first.
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTreeWidget>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

#include "framework/ImageScale.h"
#include "framework/qt/QtPeers.h"

namespace ks::qt {

int MulDiv(int a, int b, int c) {
    if (c == 0)
        return -1;
    const long long n = static_cast<long long>(a) * b;
    const long long half = (c < 0 ? -c : c) / 2;
    const long long q = n >= 0 ? (n + half) / c : (n - half) / c;
    return static_cast<int>(q);
}

QString FromAnsi(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToAnsi(const QString& text) {
    QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

LRESULT CopyText(const std::string& text, WPARAM max, LPARAM buffer) {
    auto* out = reinterpret_cast<char*>(buffer);
    if (out == nullptr || max == 0)
        return 0;
    const std::size_t n = std::min(text.size(), static_cast<std::size_t>(max - 1));
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return static_cast<LRESULT>(n);
}

LRESULT CPeer::Proc(UINT message, WPARAM, LPARAM) {
    // What every window answers the same way: a device change is accepted.
    return message == WM_DEVICECHANGE ? TRUE : 0;
}

void CPeer::Notify(UINT message, WPARAM wParam, LPARAM lParam) const {
    if (m_pDialog != nullptr)
        detail::Deliver(m_pDialog->m_hwnd, message, wParam, lParam);
}

namespace {

// A static control's text without its prefix characters: "&&" shows one ampersand, "&x"
// shows x (the mnemonic), as Windows draws a static without SS_NOPREFIX.
QString WithoutPrefixes(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size())
            ++i;
        out += text[i];
    }
    return out;
}

QImage ToImage(const CImageRgba& image) {
    QImage out(image.width, image.height, QImage::Format_ARGB32);
    for (int y = 0; y < image.height; ++y)
        std::memcpy(out.scanLine(y),
                    image.pixels.data() +
                        static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width),
                    static_cast<std::size_t>(image.width) * 4);
    return out;
}

// --- Button --------------------------------------------------------------------------------

class CButtonPeer : public CPeer {
  public:
    CButtonPeer(CDialogPeer* dialog, const CItemLayout& tmpl, HWND hwnd)
        : CPeer(EKind::Button, hwnd) {
        auto* button = new QPushButton(FromAnsi(tmpl.text), dialog->m_widget);
        m_widget = button;
        m_text = tmpl.text;
        if ((tmpl.style & 0x0F) == BS_DEFPUSHBUTTON)
            button->setDefault(true);
        QObject::connect(button, &QPushButton::clicked, &m_context, [this] {
            Notify(WM_COMMAND, MAKELPARAM(static_cast<WORD>(m_id), BN_CLICKED),
                   static_cast<LPARAM>(m_hwnd));
        });
    }
    LRESULT Proc(UINT message, WPARAM wParam, LPARAM lParam) override {
        auto* button = static_cast<QPushButton*>(m_widget.data());
        switch (message) {
            case WM_SETTEXT:
                m_text = lParam != 0 ? reinterpret_cast<const char*>(lParam) : "";
                button->setText(FromAnsi(m_text));
                return TRUE;
            case WM_GETTEXT:
                return CopyText(m_text, wParam, lParam);
            case WM_GETTEXTLENGTH:
                return static_cast<LRESULT>(m_text.size());
            case BM_CLICK:
                button->click();
                return 0;
            default:
                return CPeer::Proc(message, wParam, lParam);
        }
    }

  private:
    std::string m_text;
};

// --- Static text ---------------------------------------------------------------------------

class CStaticPeer : public CPeer {
  public:
    CStaticPeer(CDialogPeer* dialog, const CItemLayout& tmpl, HWND hwnd)
        : CPeer(EKind::Static, hwnd) {
        auto* label = new QLabel(dialog->m_widget);
        m_widget = label;
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);  // a left-aligned static breaks its lines at the edge
        label->setMargin(0);
        label->setIndent(0);
        m_style = tmpl.style;
        m_text = tmpl.text;
        Show();
    }
    LRESULT Proc(UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
            case WM_SETTEXT:
                m_text = lParam != 0 ? reinterpret_cast<const char*>(lParam) : "";
                Show();
                return TRUE;
            case WM_GETTEXT:
                return CopyText(m_text, wParam, lParam);
            case WM_GETTEXTLENGTH:
                return static_cast<LRESULT>(m_text.size());
            default:
                return CPeer::Proc(message, wParam, lParam);
        }
    }

  private:
    void Show() {
        QString text = FromAnsi(m_text);
        static_cast<QLabel*>(m_widget.data())
            ->setText((m_style & SS_NOPREFIX) != 0 ? text : WithoutPrefixes(text));
    }
    std::string m_text;
};

// --- Picture: a static with an icon or a bitmap --------------------------------------------

// Draws a picture at the size it has in the dialog, made anew from its source images for the
// pixels the screen draws it with (the device pixel ratio, which changes when the window
// moves to a screen of another ratio): the source whose size comes nearest above them,
// resampled smoothly.
class CPictureWidget : public QWidget {
  public:
    CPictureWidget(QWidget* parent, std::vector<CImageRgba> sources, QSize size)
        : QWidget(parent), m_sources(std::move(sources)), m_size(size) {}

    QSize PictureSize() const { return m_size; }

  protected:
    void paintEvent(QPaintEvent*) override {
        if (m_sources.empty() || m_size.isEmpty())
            return;
        const qreal ratio = devicePixelRatioF();
        const QSize pixels(qRound(m_size.width() * ratio), qRound(m_size.height() * ratio));
        if (m_pixmap.isNull() || m_pixmap.size() != pixels) {
            // The smallest source that covers the pixels (of equal ones the first, which is
            // the deepest), else the largest.
            auto covers = [&](const CImageRgba& s) {
                return s.width >= pixels.width() && s.height >= pixels.height();
            };
            const CImageRgba* source = &m_sources.front();
            for (const CImageRgba& s : m_sources) {
                if (covers(s) ? !covers(*source) || s.width < source->width
                              : !covers(*source) && s.width > source->width)
                    source = &s;
            }
            const CImageRgba scaled =
                source->width == pixels.width() && source->height == pixels.height()
                    ? *source
                    : ScaleImage(*source, pixels.width(), pixels.height());
            if (scaled.pixels.empty())
                return;
            m_pixmap = QPixmap::fromImage(ToImage(scaled));
        }
        m_pixmap.setDevicePixelRatio(ratio);
        QPainter painter(this);
        painter.drawPixmap(0, 0, m_pixmap);
    }

  private:
    std::vector<CImageRgba> m_sources;
    QSize m_size;
    QPixmap m_pixmap;
};

CImageRgba FromIconImage(const detail::CIconImage& image) {
    return CImageRgba{image.width, image.height, image.argb};
}

class CPicturePeer : public CPeer {
  public:
    CPicturePeer(CDialogPeer* dialog, const CItemLayout& tmpl, HWND hwnd)
        : CPeer(EKind::Picture, hwnd) {
        std::vector<CImageRgba> sources;
        QSize size;
        const DWORD type = tmpl.style & SS_TYPEMASK;
        const int dpi = static_cast<int>(dialog->m_dpi);
        if (type == SS_ICON) {
            // The system's icon size, drawn from the icon's images.
            m_icon = LoadIconA(tmpl.ordinal);
            if (detail::CIconData* data = detail::IconOf(m_icon)) {
                for (const detail::CIconImage& image : data->images)
                    sources.push_back(FromIconImage(image));
                const int side = ScaleForDpi(32, dpi);
                size = QSize(side, side);
            }
        } else {
            // A bitmap fills its panel, the rectangle the template gives it, which grows with
            // the dialog's font; within a pixel of its own size it keeps that.
            detail::CIconImage bitmap;
            if (detail::LoadBitmapImage(tmpl.ordinal, &bitmap)) {
                sources.push_back(FromIconImage(bitmap));
                size = tmpl.pixels.size();
                if (std::abs(size.width() - bitmap.width) <= 1 &&
                    std::abs(size.height() - bitmap.height) <= 1)
                    size = QSize(bitmap.width, bitmap.height);
            }
        }
        if (!sources.empty())
            m_image = ToImage(sources.front());
        m_widget = new CPictureWidget(dialog->m_widget, std::move(sources), size);
    }
    LRESULT Proc(UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
            case STM_GETICON:
                return reinterpret_cast<LRESULT>(m_icon);
            case STM_GETIMAGE:
                // IMAGE_BITMAP (0) asks for the bitmap, IMAGE_ICON (1) for the icon.
                if (wParam == 1)
                    return reinterpret_cast<LRESULT>(m_icon);
                return m_image.isNull() || (m_style & SS_TYPEMASK) != SS_BITMAP
                           ? 0
                           : reinterpret_cast<LRESULT>(&m_image);
            case WM_GETTEXT:
                return CopyText(std::string(), wParam, lParam);
            case WM_GETTEXTLENGTH:
                return 0;
            default:
                return CPeer::Proc(message, wParam, lParam);
        }
    }
    // A picture takes the size of its image.
    QSize ImageSize() const { return static_cast<CPictureWidget*>(m_widget.data())->PictureSize(); }

  private:
    HICON m_icon = nullptr;
    QImage m_image;  // the picture's source, as STM_GETIMAGE hands it out
};

// --- Edit ----------------------------------------------------------------------------------

class CEditPeer : public CPeer {
  public:
    CEditPeer(CDialogPeer* dialog, const CItemLayout& tmpl, HWND hwnd) : CPeer(EKind::Edit, hwnd) {
        auto* edit = new QLineEdit(dialog->m_widget);
        m_widget = edit;
        edit->setText(FromAnsi(tmpl.text));
        if ((tmpl.style & ES_READONLY) != 0) {
            // Read-only, yet its text can be selected and copied; drawn on the face colour
            // as Windows draws a read-only edit.
            edit->setReadOnly(true);
            QPalette palette = edit->palette();
            palette.setColor(QPalette::Base, palette.color(QPalette::Window));
            edit->setPalette(palette);
        }
        edit->setFrame((tmpl.style & WS_BORDER) != 0 || (tmpl.exStyle & WS_EX_CLIENTEDGE) != 0);
    }
    LRESULT Proc(UINT message, WPARAM wParam, LPARAM lParam) override {
        auto* edit = static_cast<QLineEdit*>(m_widget.data());
        switch (message) {
            case WM_SETTEXT:
                edit->setText(
                    FromAnsi(lParam != 0 ? reinterpret_cast<const char*>(lParam) : std::string()));
                edit->setCursorPosition(0);
                return TRUE;
            case WM_GETTEXT:
                return CopyText(ToAnsi(edit->text()), wParam, lParam);
            case WM_GETTEXTLENGTH:
                return static_cast<LRESULT>(ToAnsi(edit->text()).size());
            case EM_SETSEL: {
                const auto start = static_cast<int>(static_cast<std::intptr_t>(wParam));
                const auto end = static_cast<int>(lParam);
                if (start < 0) {
                    edit->deselect();
                } else {
                    const int length = static_cast<int>(edit->text().size());
                    const int to = end < 0 ? length : std::min(end, length);
                    edit->setSelection(std::min(start, to), to - std::min(start, to));
                }
                return 0;
            }
            case EM_GETSEL: {
                const int start =
                    edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
                const int end = start + static_cast<int>(edit->selectedText().size());
                if (wParam != 0)
                    *reinterpret_cast<DWORD*>(wParam) = static_cast<DWORD>(start);
                if (lParam != 0)
                    *reinterpret_cast<DWORD*>(lParam) = static_cast<DWORD>(end);
                return MAKELPARAM(static_cast<WORD>(start), static_cast<WORD>(end));
            }
            default:
                return CPeer::Proc(message, wParam, lParam);
        }
    }
};

// --- List view (report view, one column) ----------------------------------------------------

class CListPeer;

// Clicking empty space deselects every item, as the list view does; the widget alone would
// keep its selection in single-selection mode.
class CEmptyClickFilter : public QObject {
  public:
    explicit CEmptyClickFilter(CListPeer* peer) : m_peer(peer) {}
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    CListPeer* m_peer;
};

class CListPeer : public CPeer {
  public:
    CListPeer(CDialogPeer* dialog, const CItemLayout& tmpl, HWND hwnd)
        : CPeer(EKind::List, hwnd), m_filter(this) {
        m_list = new QListWidget(dialog->m_widget);
        m_widget = m_list;
        m_list->setSelectionMode((tmpl.style & LVS_SINGLESEL) != 0
                                     ? QAbstractItemView::SingleSelection
                                     : QAbstractItemView::ExtendedSelection);
        m_list->setWordWrap((tmpl.style & LVS_NOLABELWRAP) == 0);
        m_list->setUniformItemSizes(true);
        m_list->setFrameShape((tmpl.style & WS_BORDER) != 0 ||
                                      (tmpl.exStyle & WS_EX_CLIENTEDGE) != 0
                                  ? QFrame::StyledPanel
                                  : QFrame::NoFrame);
        m_list->viewport()->installEventFilter(&m_filter);
        // The selection stays shown when the list has no focus, in the face colour, as the
        // list view shows it.
        QPalette palette = m_list->palette();
        palette.setColor(QPalette::Inactive, QPalette::Highlight, QColor(0xD9, 0xD9, 0xD9));
        palette.setColor(QPalette::Inactive, QPalette::HighlightedText, QColor(0, 0, 0));
        m_list->setPalette(palette);
        QObject::connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged,
                         &m_context, [this] { FromWidget(); });
        QObject::connect(m_list->selectionModel(), &QItemSelectionModel::currentChanged, &m_context,
                         [this] { FromWidget(); });
    }

    QWidget* ClientWidget() const override { return m_list->viewport(); }

    LRESULT Proc(UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
            case LVM_GETITEMCOUNT:
                return static_cast<LRESULT>(m_items.size());
            case LVM_INSERTCOLUMNA:
                // One column: the list shows no header, so a column is only bookkeeping.
                if (lParam == 0)
                    return -1;
                return m_columns++ == 0
                           ? 0
                           : std::min<LRESULT>(static_cast<LRESULT>(wParam), m_columns - 1);
            case LVM_SETCOLUMNWIDTH:
                return m_columns > 0 && wParam == 0 ? TRUE : FALSE;
            case LVM_GETCOLUMNWIDTH:
                return m_columns > 0 && wParam == 0 ? m_list->viewport()->width() : 0;
            case LVM_DELETEALLITEMS:
                // Deleted items send no item-changed notification.
                m_items.clear();
                Sync();
                return TRUE;
            case LVM_INSERTITEMA:
                return Insert(reinterpret_cast<const LVITEMA*>(lParam));
            case LVM_SETITEMSTATE:
                return SetState(static_cast<int>(static_cast<std::intptr_t>(wParam)),
                                reinterpret_cast<const LVITEMA*>(lParam));
            case LVM_GETITEMSTATE: {
                const auto i = static_cast<std::size_t>(wParam);
                return i < m_items.size()
                           ? static_cast<LRESULT>(m_items[i].state & static_cast<UINT>(lParam))
                           : 0;
            }
            case LVM_GETNEXTITEM:
                return NextItem(static_cast<int>(static_cast<std::intptr_t>(wParam)),
                                static_cast<UINT>(LOWORD(static_cast<DWORD_PTR>(lParam))));
            case LVM_GETITEMA:
                return GetItem(reinterpret_cast<LVITEMA*>(lParam));
            case LVM_SETITEMA:
                return SetItem(reinterpret_cast<const LVITEMA*>(lParam));
            case LVM_GETITEMTEXTA: {
                auto* lvi = reinterpret_cast<LVITEMA*>(lParam);
                const auto i = static_cast<std::size_t>(wParam);
                if (lvi == nullptr || i >= m_items.size() || lvi->pszText == nullptr ||
                    lvi->cchTextMax <= 0)
                    return 0;
                return CopyText(lvi->iSubItem == 0 ? m_items[i].text : std::string(),
                                static_cast<WPARAM>(lvi->cchTextMax),
                                reinterpret_cast<LPARAM>(lvi->pszText));
            }
            case LVM_GETITEMRECT: {
                auto* rect = reinterpret_cast<RECT*>(lParam);
                const auto i = static_cast<std::size_t>(wParam);
                if (rect == nullptr || i >= m_items.size())
                    return FALSE;
                QRect r = m_list->visualItemRect(m_list->item(static_cast<int>(i)));
                *rect = RECT{r.left(), r.top(), r.right() + 1, r.bottom() + 1};
                return TRUE;
            }
            case LVM_ENSUREVISIBLE: {
                const auto i = static_cast<std::size_t>(wParam);
                if (i >= m_items.size())
                    return FALSE;
                m_list->scrollToItem(m_list->item(static_cast<int>(i)),
                                     QAbstractItemView::EnsureVisible);
                return TRUE;
            }
            case LVM_GETSELECTEDCOUNT:
                return std::count_if(m_items.begin(), m_items.end(), [](const Item& item) {
                    return (item.state & LVIS_SELECTED) != 0;
                });
            default:
                return CPeer::Proc(message, wParam, lParam);
        }
    }

    // A click on empty space: every item loses its selection (the focus stays).
    void DeselectAll() {
        std::vector<UINT> wanted;
        for (const Item& item : m_items)
            wanted.push_back(item.state & ~LVIS_SELECTED);
        Apply(wanted);
    }

  private:
    struct Item {
        std::string text;
        LPARAM data = 0;
        UINT state = 0;
    };

    LRESULT Insert(const LVITEMA* lvi) {
        if (lvi == nullptr || lvi->iSubItem != 0)
            return -1;
        Item item;
        if ((lvi->mask & LVIF_TEXT) != 0 && lvi->pszText != nullptr &&
            lvi->pszText != reinterpret_cast<char*>(static_cast<std::intptr_t>(-1)))
            item.text = lvi->pszText;
        if ((lvi->mask & LVIF_PARAM) != 0)
            item.data = lvi->lParam;
        if ((lvi->mask & LVIF_STATE) != 0)
            item.state = lvi->state & lvi->stateMask & (LVIS_SELECTED | LVIS_FOCUSED);
        const std::size_t at =
            std::min(static_cast<std::size_t>(std::max(lvi->iItem, 0)), m_items.size());
        m_items.insert(m_items.begin() + static_cast<std::ptrdiff_t>(at), item);
        Sync();
        return static_cast<LRESULT>(at);
    }

    LRESULT SetState(int index, const LVITEMA* lvi) {
        if (lvi == nullptr)
            return FALSE;
        const UINT mask = lvi->stateMask & (LVIS_SELECTED | LVIS_FOCUSED);
        if (index != -1 && (index < 0 || static_cast<std::size_t>(index) >= m_items.size()))
            return FALSE;
        std::vector<UINT> wanted;
        for (const Item& item : m_items)
            wanted.push_back(item.state);
        for (std::size_t i = 0; i < m_items.size(); ++i) {
            if (index != -1 && static_cast<int>(i) != index)
                continue;
            wanted[i] = (wanted[i] & ~mask) | (lvi->state & mask);
        }
        if (index != -1) {
            // One item has the focus, and in a single-selection list one is selected: the
            // others lose theirs.
            for (std::size_t i = 0; i < m_items.size(); ++i) {
                if (static_cast<int>(i) == index)
                    continue;
                if ((mask & lvi->state & LVIS_FOCUSED) != 0)
                    wanted[i] &= ~LVIS_FOCUSED;
                if ((mask & lvi->state & LVIS_SELECTED) != 0 && Single())
                    wanted[i] &= ~LVIS_SELECTED;
            }
        }
        Apply(wanted);
        return TRUE;
    }

    LRESULT NextItem(int start, UINT flags) const {
        for (std::size_t i = static_cast<std::size_t>(start + 1); start >= -1 && i < m_items.size();
             ++i) {
            const UINT want = flags & (LVNI_SELECTED | LVNI_FOCUSED);
            if ((m_items[i].state & want) == want)
                return static_cast<LRESULT>(i);
        }
        return -1;
    }

    LRESULT GetItem(LVITEMA* lvi) const {
        if (lvi == nullptr || lvi->iItem < 0 ||
            static_cast<std::size_t>(lvi->iItem) >= m_items.size())
            return FALSE;
        const Item& item = m_items[static_cast<std::size_t>(lvi->iItem)];
        if ((lvi->mask & LVIF_PARAM) != 0)
            lvi->lParam = item.data;
        if ((lvi->mask & LVIF_STATE) != 0)
            lvi->state = item.state & lvi->stateMask;
        if ((lvi->mask & LVIF_TEXT) != 0 && lvi->pszText != nullptr && lvi->cchTextMax > 0)
            CopyText(lvi->iSubItem == 0 ? item.text : std::string(),
                     static_cast<WPARAM>(lvi->cchTextMax), reinterpret_cast<LPARAM>(lvi->pszText));
        return TRUE;
    }

    LRESULT SetItem(const LVITEMA* lvi) {
        if (lvi == nullptr || lvi->iItem < 0 ||
            static_cast<std::size_t>(lvi->iItem) >= m_items.size() || lvi->iSubItem != 0)
            return FALSE;
        Item& item = m_items[static_cast<std::size_t>(lvi->iItem)];
        if ((lvi->mask & LVIF_PARAM) != 0)
            item.data = lvi->lParam;
        if ((lvi->mask & LVIF_TEXT) != 0 && lvi->pszText != nullptr)
            item.text = lvi->pszText;
        Sync();
        if ((lvi->mask & LVIF_STATE) != 0)
            return SetState(lvi->iItem, lvi);
        return TRUE;
    }

    bool Single() const { return m_list->selectionMode() == QAbstractItemView::SingleSelection; }

    // Brings the items' states to `wanted`, one notification per item that changes: the
    // items that lose a state first, then those that gain one.
    void Apply(const std::vector<UINT>& wanted) {
        std::vector<std::size_t> order;
        for (std::size_t i = 0; i < m_items.size(); ++i)
            if ((m_items[i].state & ~wanted[i]) != 0)
                order.push_back(i);
        for (std::size_t i = 0; i < m_items.size(); ++i)
            if ((m_items[i].state & ~wanted[i]) == 0 && m_items[i].state != wanted[i])
                order.push_back(i);
        for (std::size_t i : order) {
            if (i >= m_items.size())
                continue;  // a handler emptied the list meanwhile
            const UINT old = m_items[i].state;
            m_items[i].state = wanted[i];
            Sync();
            NMLISTVIEW nm{};
            nm.hdr.hwndFrom = m_hwnd;
            nm.hdr.idFrom = static_cast<UINT_PTR>(m_id);
            nm.hdr.code = LVN_ITEMCHANGED;
            nm.iItem = static_cast<int>(i);
            nm.uNewState = wanted[i];
            nm.uOldState = old;
            nm.uChanged = LVIF_STATE;
            nm.lParam = m_items[i].data;
            Notify(WM_NOTIFY, static_cast<WPARAM>(m_id), reinterpret_cast<LPARAM>(&nm));
            if (m_items.size() != wanted.size())
                return;  // the list was changed by the handler: the rest is moot
        }
    }

    // Shows the items and their states in the widget.
    void Sync() {
        m_syncing = true;
        while (m_list->count() > static_cast<int>(m_items.size()))
            delete m_list->takeItem(m_list->count() - 1);
        while (m_list->count() < static_cast<int>(m_items.size()))
            m_list->addItem(QString());
        int focused = -1;
        for (std::size_t i = 0; i < m_items.size(); ++i) {
            QListWidgetItem* row = m_list->item(static_cast<int>(i));
            const QString text = FromAnsi(m_items[i].text);
            if (row->text() != text)
                row->setText(text);
            row->setSelected((m_items[i].state & LVIS_SELECTED) != 0);
            if ((m_items[i].state & LVIS_FOCUSED) != 0)
                focused = static_cast<int>(i);
        }
        QItemSelectionModel* model = m_list->selectionModel();
        model->setCurrentIndex(focused >= 0 ? m_list->model()->index(focused, 0) : QModelIndex(),
                               QItemSelectionModel::NoUpdate);
        m_syncing = false;
    }

    // The user changed the widget's selection or current item: the same change, as the
    // list view makes it.
    void FromWidget() {
        if (m_syncing)
            return;
        std::vector<UINT> wanted;
        const int current = m_list->currentRow();
        for (std::size_t i = 0; i < m_items.size(); ++i) {
            QListWidgetItem* row = m_list->item(static_cast<int>(i));
            UINT state = 0;
            if (row != nullptr && row->isSelected())
                state |= LVIS_SELECTED;
            if (static_cast<int>(i) == current)
                state |= LVIS_FOCUSED;
            wanted.push_back(state);
        }
        Apply(wanted);
    }

    QListWidget* m_list = nullptr;
    CEmptyClickFilter m_filter;
    std::vector<Item> m_items;
    int m_columns = 0;
    bool m_syncing = false;
};

bool CEmptyClickFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        auto* viewport = static_cast<QWidget*>(watched);
        auto* view = static_cast<QAbstractItemView*>(viewport->parentWidget());
        const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
        if (view != nullptr && !view->indexAt(at).isValid()) {
            view->setFocus(Qt::MouseFocusReason);
            m_peer->DeselectAll();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

// --- Tree view -----------------------------------------------------------------------------

// Dotted lines between items, as the tree view draws them, and no expand buttons.
class CTreeLineStyle : public QProxyStyle {
  public:
    CTreeLineStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element != PE_IndicatorBranch) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        const QRect r = option->rect;
        const int mx = r.left() + r.width() / 2;
        const int my = r.top() + r.height() / 2;
        painter->save();
        QPen pen(QColor(0xA0, 0xA0, 0xA0));
        pen.setStyle(Qt::DotLine);
        painter->setPen(pen);
        if ((option->state & State_Item) != 0) {
            painter->drawLine(mx, my, r.right(), my);
            painter->drawLine(mx, r.top(), mx, my);
        }
        if ((option->state & State_Sibling) != 0)
            painter->drawLine(mx, r.top(), mx, r.bottom());
        painter->restore();
    }
};

class CTreePeer : public CPeer {
  public:
    CTreePeer(CDialogPeer* dialog, const CItemLayout& tmpl, HWND hwnd) : CPeer(EKind::Tree, hwnd) {
        m_tree = new QTreeWidget(dialog->m_widget);
        m_widget = m_tree;
        m_style = std::make_unique<CTreeLineStyle>();
        m_tree->setStyle(m_style.get());
        m_tree->setHeaderHidden(true);
        m_tree->setColumnCount(1);
        m_tree->setRootIsDecorated((tmpl.style & TVS_LINESATROOT) != 0);
        m_tree->setIndentation(19);
        m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
        m_tree->setFrameShape((tmpl.style & WS_BORDER) != 0 ||
                                      (tmpl.exStyle & WS_EX_CLIENTEDGE) != 0
                                  ? QFrame::StyledPanel
                                  : QFrame::NoFrame);
        m_tree->header()->setStretchLastSection(false);
        m_tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    }
    ~CTreePeer() override {
        // The widget goes after its peer (deleted later): it must not keep the style.
        if (m_tree != nullptr && !m_widget.isNull())
            m_tree->setStyle(nullptr);
    }

    QWidget* ClientWidget() const override { return m_tree->viewport(); }

    LRESULT Proc(UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
            case TVM_INSERTITEMA:
                return reinterpret_cast<LRESULT>(
                    Insert(reinterpret_cast<const TVINSERTSTRUCTA*>(lParam)));
            case TVM_DELETEITEM:
                return Delete(reinterpret_cast<HTREEITEM>(lParam));
            case TVM_EXPAND:
                return Expand(reinterpret_cast<HTREEITEM>(lParam), static_cast<UINT>(wParam));
            case TVM_GETCOUNT:
                return static_cast<LRESULT>(m_items.size());
            case TVM_GETNEXTITEM:
                return reinterpret_cast<LRESULT>(
                    Next(reinterpret_cast<HTREEITEM>(lParam), static_cast<UINT>(wParam)));
            case TVM_GETITEMA:
                return GetItem(reinterpret_cast<TVITEMA*>(lParam));
            case TVM_GETITEMSTATE: {
                QTreeWidgetItem* item = Find(reinterpret_cast<HTREEITEM>(wParam));
                if (item == nullptr)
                    return 0;
                return static_cast<LRESULT>(State(item) & static_cast<UINT>(lParam));
            }
            default:
                return CPeer::Proc(message, wParam, lParam);
        }
    }

  private:
    QTreeWidgetItem* Find(HTREEITEM handle) const {
        auto* item = reinterpret_cast<QTreeWidgetItem*>(handle);
        return m_items.count(item) != 0 ? item : nullptr;
    }
    static HTREEITEM Handle(QTreeWidgetItem* item) { return reinterpret_cast<HTREEITEM>(item); }

    UINT State(QTreeWidgetItem* item) const {
        UINT state = 0;
        if (item->childCount() > 0 && item->isExpanded())
            state |= TVIS_EXPANDED;
        return state;
    }

    QTreeWidgetItem* Insert(const TVINSERTSTRUCTA* tvis) {
        if (tvis == nullptr)
            return nullptr;
        QTreeWidgetItem* parent = nullptr;
        if (tvis->hParent != nullptr && tvis->hParent != TVI_ROOT) {
            parent = Find(tvis->hParent);
            if (parent == nullptr)
                return nullptr;
        }
        auto* item = new QTreeWidgetItem;
        if ((tvis->item.mask & TVIF_TEXT) != 0 && tvis->item.pszText != nullptr &&
            tvis->item.pszText != reinterpret_cast<char*>(static_cast<std::intptr_t>(-1)))
            item->setText(0, FromAnsi(tvis->item.pszText));
        const int count = parent != nullptr ? parent->childCount() : m_tree->topLevelItemCount();
        int at = count;
        if (tvis->hInsertAfter == TVI_FIRST) {
            at = 0;
        } else if (QTreeWidgetItem* after = Find(tvis->hInsertAfter);
                   after != nullptr && after->parent() == parent) {
            at = (parent != nullptr ? parent->indexOfChild(after)
                                    : m_tree->indexOfTopLevelItem(after)) +
                 1;
        }
        if (parent != nullptr)
            parent->insertChild(at, item);
        else
            m_tree->insertTopLevelItem(at, item);
        m_items.insert(item);
        return item;
    }

    void Forget(QTreeWidgetItem* item) {
        for (int i = 0; i < item->childCount(); ++i)
            Forget(item->child(i));
        m_items.erase(item);
    }

    LRESULT Delete(HTREEITEM handle) {
        if (handle == TVI_ROOT || handle == nullptr) {
            m_tree->clear();
            m_items.clear();
            return TRUE;
        }
        QTreeWidgetItem* item = Find(handle);
        if (item == nullptr)
            return FALSE;
        Forget(item);
        delete item;
        return TRUE;
    }

    LRESULT Expand(HTREEITEM handle, UINT code) {
        if (handle == TVI_ROOT)
            return FALSE;
        QTreeWidgetItem* item = Find(handle);
        if (item == nullptr || item->childCount() == 0)
            return FALSE;
        switch (code & 0x0003) {
            case TVE_EXPAND:
                item->setExpanded(true);
                return TRUE;
            case TVE_COLLAPSE:
                item->setExpanded(false);
                return TRUE;
            case 0x0003:  // toggle
                item->setExpanded(!item->isExpanded());
                return TRUE;
            default:
                return FALSE;
        }
    }

    QTreeWidgetItem* Next(HTREEITEM handle, UINT code) const {
        if (code == TVGN_ROOT)
            return m_tree->topLevelItemCount() > 0 ? m_tree->topLevelItem(0) : nullptr;
        QTreeWidgetItem* item = Find(handle);
        if (item == nullptr)
            return code == TVGN_CHILD && (handle == nullptr || handle == TVI_ROOT) &&
                           m_tree->topLevelItemCount() > 0
                       ? m_tree->topLevelItem(0)
                       : nullptr;
        switch (code) {
            case TVGN_CHILD:
                return item->childCount() > 0 ? item->child(0) : nullptr;
            case TVGN_PARENT:
                return item->parent();
            case TVGN_NEXT: {
                QTreeWidgetItem* parent = item->parent();
                const int i = parent != nullptr ? parent->indexOfChild(item)
                                                : m_tree->indexOfTopLevelItem(item);
                const int count =
                    parent != nullptr ? parent->childCount() : m_tree->topLevelItemCount();
                if (i + 1 >= count)
                    return nullptr;
                return parent != nullptr ? parent->child(i + 1) : m_tree->topLevelItem(i + 1);
            }
            default:
                return nullptr;
        }
    }

    LRESULT GetItem(TVITEMA* tvi) const {
        if (tvi == nullptr)
            return FALSE;
        QTreeWidgetItem* item = Find(tvi->hItem);
        if (item == nullptr)
            return FALSE;
        if ((tvi->mask & TVIF_TEXT) != 0 && tvi->pszText != nullptr && tvi->cchTextMax > 0)
            CopyText(ToAnsi(item->text(0)), static_cast<WPARAM>(tvi->cchTextMax),
                     reinterpret_cast<LPARAM>(tvi->pszText));
        if ((tvi->mask & TVIF_STATE) != 0)
            tvi->state = State(item) & tvi->stateMask;
        if ((tvi->mask & TVIF_CHILDREN) != 0)
            tvi->cChildren = item->childCount() > 0 ? 1 : 0;
        return TRUE;
    }

    QTreeWidget* m_tree = nullptr;
    std::unique_ptr<CTreeLineStyle> m_style;
    std::set<QTreeWidgetItem*> m_items;
};

}  // namespace

void FitLabels(CDialogPeer* dialog) {
    const int right = dialog->m_widget->width();
    for (CPeer* c : dialog->m_controls) {
        if (c->m_kind != CPeer::EKind::Static || (c->m_style & SS_TYPEMASK) != SS_LEFT)
            continue;
        auto* label = static_cast<QLabel*>(c->m_widget.data());
        const QRect at = label->geometry();
        if (label->text().isEmpty() || label->heightForWidth(at.width()) <= at.height())
            continue;
        // As far as the next control beside it, or the dialog's edge.
        int limit = right;
        for (CPeer* o : dialog->m_controls) {
            const QRect other = o->m_widget->geometry();
            if (o != c && (o->m_style & WS_VISIBLE) != 0 && other.x() >= at.x() + at.width() &&
                other.y() < at.y() + at.height() && other.y() + other.height() > at.y())
                limit = std::min(limit, other.x());
        }
        for (int width = at.width() + 1; at.x() + width <= limit; ++width) {
            if (label->heightForWidth(width) <= at.height()) {
                label->resize(width, at.height());
                break;
            }
        }
    }
}

std::unique_ptr<CPeer> MakeControl(CDialogPeer* dialog, const CItemLayout& tmpl, HWND hwnd) {
    std::unique_ptr<CPeer> peer;
    if (tmpl.className == "Button") {
        peer = std::make_unique<CButtonPeer>(dialog, tmpl, hwnd);
    } else if (tmpl.className == "Static") {
        const DWORD type = tmpl.style & SS_TYPEMASK;
        if (type == SS_ICON || type == SS_BITMAP)
            peer = std::make_unique<CPicturePeer>(dialog, tmpl, hwnd);
        else
            peer = std::make_unique<CStaticPeer>(dialog, tmpl, hwnd);
    } else if (tmpl.className == "Edit") {
        peer = std::make_unique<CEditPeer>(dialog, tmpl, hwnd);
    } else if (tmpl.className == "SysListView32") {
        peer = std::make_unique<CListPeer>(dialog, tmpl, hwnd);
    } else if (tmpl.className == "SysTreeView32") {
        peer = std::make_unique<CTreePeer>(dialog, tmpl, hwnd);
    } else {
        return nullptr;
    }
    peer->m_pDialog = dialog;
    peer->m_id = tmpl.id;
    peer->m_style = tmpl.style;
    peer->m_exStyle = tmpl.exStyle;
    peer->m_className = tmpl.className;
    QWidget* widget = peer->m_widget;
    widget->setFont(dialog->m_font);
    QRect geometry = tmpl.pixels;
    if (auto* picture = dynamic_cast<CPicturePeer*>(peer.get());
        picture != nullptr && picture->ImageSize().isValid())
        geometry.setSize(picture->ImageSize());
    widget->setGeometry(geometry);
    widget->setFocusPolicy((tmpl.style & WS_TABSTOP) != 0 ? Qt::StrongFocus : Qt::NoFocus);
    widget->setEnabled((tmpl.style & WS_DISABLED) == 0);
    widget->setProperty("ks_hwnd", QVariant::fromValue(static_cast<quint32>(hwnd)));
    widget->setVisible((tmpl.style & WS_VISIBLE) != 0);
    return peer;
}

}  // namespace ks::qt
