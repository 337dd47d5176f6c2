// The Qt toolkit of the Linux build: it shows the program's dialogs as Qt Widgets, laid out
// from the same compiled dialog templates as on Windows (dialog units converted with the real
// metrics of the dialog font, the way Windows converts them), and gives each window its
// Windows behaviour: the dialog manager's keys (Enter for the default button, Escape and the
// close box for Cancel, Alt with a mnemonic), the system menu (here a context menu on the
// window, or Alt+Space), and the controls' requests and notifications (QtControls.cpp).
//
// Threads: the thread that shows the first window becomes Qt's; every window lives on it.
// Messages that other threads post to its windows wake Qt's event loop through the eventfd
// of that thread's queue, watched by a socket notifier, so nothing polls.
#include <netdb.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QRawFont>
#include <QScreen>
#include <QShortcut>
#include <QSocketNotifier>
#include <QStyleFactory>
#include <QWindow>
#include <cstddef>
#include <thread>
#include <vector>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "framework/Wnd.h"
#include "framework/posix/PosixInternal.h"
#include "framework/qt/QtPeers.h"

// After Qt's headers: xcb's own names are plain C.
#include <xcb/xcb.h>

namespace ks::qt {

namespace {

class CQtToolkit;
CQtToolkit& TheToolkit();

// Whether the X server of a display name (":0", "host:0.0") takes a connection: its local
// socket (in the file system or the abstract namespace), or TCP port 6000 + the display.
bool XServerAnswers(const char* display) {
    const std::string name(display);
    const std::size_t colon = name.rfind(':');
    if (colon == std::string::npos)
        return false;
    const std::string host = name.substr(0, colon);
    const int number = std::atoi(name.c_str() + colon + 1);
    if (host.empty() || host == "unix") {
        const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
        for (bool abstract : {true, false}) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd < 0)
                return false;
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            std::memcpy(addr.sun_path + (abstract ? 1 : 0), path.data(), path.size());
            const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) +
                                                       (abstract ? 1 : 0) + path.size());
            const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), length) == 0;
            ::close(fd);
            if (ok)
                return true;
        }
        return false;
    }
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(6000 + number).c_str(), &hints, &found) != 0)
        return false;
    bool ok = false;
    for (addrinfo* a = found; a != nullptr && !ok; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd >= 0) {
            ok = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0;
            ::close(fd);
        }
    }
    ::freeaddrinfo(found);
    return ok;
}

// The top-level widget of a dialog.
class CDialogWidget : public QWidget {
  public:
    CDialogWidget(CDialogPeer* peer, QWidget* owner)
        : QWidget(owner, owner != nullptr ? Qt::Dialog : Qt::Window), m_peer(peer) {}
    CDialogPeer* m_peer;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

struct CFontData {
    LOGFONTA logFont;
};

class CQtToolkit : public detail::IToolkit {
  public:
    bool Available() override {
        const char* platform = std::getenv("QT_QPA_PLATFORM");
        if (platform != nullptr && *platform != '\0')
            return true;
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        if (wayland != nullptr && *wayland != '\0')
            return true;
        const char* display = std::getenv("DISPLAY");
        // Qt ends the process when it cannot reach the display it is given: a display that
        // does not answer counts as none.
        return display != nullptr && *display != '\0' && XServerAnswers(display);
    }

    bool Start() override;

    bool IsToolkitThread() override {
        return m_thread.load() != 0 && m_thread.load() == posix::CurrentThreadId();
    }

    void WaitForEvents(int wakeFd) override {
        Watch(wakeFd);
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }

    void ProcessPendingEvents() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }

    HWND CreateDialogFromTemplate(UINT templateId, HWND parent, CWnd* owner) override;
    BOOL DestroyWindow(HWND window) override;
    LRESULT DefaultProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override {
        CPeer* peer = Peer(window);
        return peer != nullptr ? peer->Proc(message, wParam, lParam) : 0;
    }

    HWND GetDlgItem(HWND dialog, int id) override {
        CDialogPeer* d = Dialog(dialog);
        if (d == nullptr)
            return 0;
        for (CPeer* c : d->m_controls)
            if (c->m_id == id)
                return c->m_hwnd;
        return 0;
    }
    int GetDlgCtrlID(HWND window) override {
        CPeer* p = Peer(window);
        return p != nullptr && p->m_kind != CPeer::EKind::Dialog ? p->m_id : 0;
    }
    HWND GetParent(HWND window) override {
        CPeer* p = Peer(window);
        if (p == nullptr)
            return 0;
        if (p->m_kind == CPeer::EKind::Dialog)
            return static_cast<CDialogPeer*>(p)->m_owner;
        return p->m_pDialog != nullptr ? p->m_pDialog->m_hwnd : 0;
    }
    HWND GetWindow(HWND window, UINT relation) override;
    std::string GetClassName(HWND window) override {
        CPeer* p = Peer(window);
        if (p == nullptr)
            return std::string();
        return p->m_kind == CPeer::EKind::Dialog ? std::string("#32770") : p->m_className;
    }
    LONG GetWindowLong(HWND window, int index) override;
    BOOL GetClientRect(HWND window, RECT* rect) override {
        CPeer* p = Peer(window);
        if (p == nullptr || p->m_widget.isNull())
            return FALSE;
        QWidget* client = p->ClientWidget();
        *rect = RECT{0, 0, client->width(), client->height()};
        return TRUE;
    }
    BOOL GetWindowRect(HWND window, RECT* rect) override {
        CPeer* p = Peer(window);
        if (p == nullptr || p->m_widget.isNull())
            return FALSE;
        QWidget* w = p->m_widget;
        QRect r =
            w->isWindow() ? w->frameGeometry() : QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
        *rect = RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
        return TRUE;
    }
    BOOL ClientOrigin(HWND window, POINT* origin) override {
        CPeer* p = Peer(window);
        if (p == nullptr || p->m_widget.isNull())
            return FALSE;
        QPoint g = p->ClientWidget()->mapToGlobal(QPoint(0, 0));
        *origin = POINT{g.x(), g.y()};
        return TRUE;
    }
    BOOL MapDialogRect(HWND dialog, RECT* rect) override {
        CDialogPeer* d = Dialog(dialog);
        if (d == nullptr)
            return FALSE;
        rect->left = MulDiv(rect->left, d->m_baseX, 4);
        rect->right = MulDiv(rect->right, d->m_baseX, 4);
        rect->top = MulDiv(rect->top, d->m_baseY, 8);
        rect->bottom = MulDiv(rect->bottom, d->m_baseY, 8);
        return TRUE;
    }
    BOOL IsIconic(HWND window) override {
        CPeer* p = Peer(window);
        return p != nullptr && !p->m_widget.isNull() && p->m_widget->isMinimized();
    }
    BOOL IsWindowVisible(HWND window) override {
        CPeer* p = Peer(window);
        return p != nullptr && !p->m_widget.isNull() && p->m_widget->isVisible();
    }
    BOOL IsWindowEnabled(HWND window) override {
        CPeer* p = Peer(window);
        if (p == nullptr || p->m_widget.isNull())
            return FALSE;
        if (p->m_kind == CPeer::EKind::Dialog)
            return static_cast<CDialogPeer*>(p)->m_inputEnabled;
        return p->m_widget->isEnabled();
    }
    BOOL EnableWindow(HWND window, BOOL enable) override {
        CPeer* p = Peer(window);
        if (p == nullptr || p->m_widget.isNull())
            return FALSE;
        const BOOL wasDisabled = !IsWindowEnabled(window);
        if (p->m_kind == CPeer::EKind::Dialog) {
            // A disabled top-level window keeps its look and takes no input (see the filter).
            static_cast<CDialogPeer*>(p)->m_inputEnabled = enable != FALSE;
        } else {
            p->m_widget->setEnabled(enable != FALSE);
        }
        return wasDisabled;
    }
    BOOL ShowWindow(HWND window, int command) override;
    HWND SetFocus(HWND window) override {
        HWND previous = GetFocus();
        CPeer* p = Peer(window);
        if (p != nullptr && !p->m_widget.isNull())
            p->m_widget->setFocus(Qt::OtherFocusReason);
        return previous;
    }
    HWND GetFocus() override;
    HWND GetActiveWindow() override { return HwndOf(QApplication::activeWindow()); }
    HWND SetActiveWindow(HWND window) override {
        HWND previous = GetActiveWindow();
        CPeer* p = Peer(window);
        if (p != nullptr && !p->m_widget.isNull() && p->m_widget->isWindow())
            Activate(p->m_widget);
        return previous;
    }
    std::vector<HWND> TopLevelWindows() override {
        std::vector<CDialogPeer*> dialogs;
        for (auto& [h, p] : m_peers)
            if (p->m_kind == CPeer::EKind::Dialog)
                dialogs.push_back(static_cast<CDialogPeer*>(p.get()));
        std::sort(dialogs.begin(), dialogs.end(),
                  [](CDialogPeer* a, CDialogPeer* b) { return a->m_serial < b->m_serial; });
        std::vector<HWND> out;
        for (CDialogPeer* d : dialogs)
            out.push_back(d->m_hwnd);
        return out;
    }
    HMENU GetSystemMenu(HWND window, BOOL revert) override;
    int GetSystemMetrics(int index) override {
        // The sizes of Windows at 96 dots per inch, scaled to the screen's.
        const int dpi =
            m_app != nullptr ? qRound(QGuiApplication::primaryScreen()->logicalDotsPerInchY()) : 96;
        if (index == SM_CXICON || index == SM_CYICON)
            return MulDiv(32, dpi, 96);
        return 0;
    }
    UINT GetDpiForWindow(HWND window) override {
        CPeer* p = Peer(window);
        return p != nullptr && p->m_pDialog != nullptr ? p->m_pDialog->m_dpi : 0;
    }
    HDC BeginPaint(HWND window, PAINTSTRUCT* paint) override {
        // Only while the window is painting (WM_PAINT from its paint event).
        if (m_painting == nullptr || m_paintingWindow != window)
            return nullptr;
        *paint = PAINTSTRUCT{};
        paint->hdc = reinterpret_cast<HDC>(m_painting);
        return paint->hdc;
    }
    BOOL EndPaint(HWND, const PAINTSTRUCT*) override { return TRUE; }
    BOOL DrawIcon(HDC dc, int x, int y, HICON icon) override {
        auto* painter = reinterpret_cast<QPainter*>(dc);
        detail::CIconData* data = detail::IconOf(icon);
        if (painter != m_painting || painter == nullptr || data == nullptr || data->images.empty())
            return FALSE;
        const int size = GetSystemMetrics(SM_CXICON);
        for (const detail::CIconImage& image : data->images) {
            if (image.width == size || &image == &data->images.back()) {
                QImage q(reinterpret_cast<const uchar*>(image.argb.data()), image.width,
                         image.height, QImage::Format_ARGB32);
                painter->drawImage(QRect(x, y, size, size), q);
                return TRUE;
            }
        }
        return FALSE;
    }
    int GetObject(HFONT font, int size, void* buffer) override {
        auto* data = reinterpret_cast<CFontData*>(font);
        if (m_fonts.count(data) == 0)
            return 0;
        if (buffer == nullptr)
            return static_cast<int>(sizeof(LOGFONTA));
        if (size < static_cast<int>(sizeof(LOGFONTA)))
            return 0;
        std::memcpy(buffer, &data->logFont, sizeof(LOGFONTA));
        return static_cast<int>(sizeof(LOGFONTA));
    }
    BOOL IsDialogMessage(HWND dialog, MSG* msg) override;

    // --- For the peers and widgets -----------------------------------------------------
    CPeer* Peer(HWND window) const {
        auto it = m_peers.find(window);
        return it == m_peers.end() ? nullptr : it->second.get();
    }
    CDialogPeer* Dialog(HWND window) const {
        CPeer* p = Peer(window);
        return p != nullptr && p->m_kind == CPeer::EKind::Dialog ? static_cast<CDialogPeer*>(p)
                                                                 : nullptr;
    }
    HWND HwndOf(QWidget* widget) const {
        for (QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
            QVariant v = w->property("ks_hwnd");
            if (v.isValid() && m_peers.count(static_cast<HWND>(v.toUInt())) != 0)
                return static_cast<HWND>(v.toUInt());
        }
        return 0;
    }
    void ShowSystemMenu(CDialogPeer* dialog, QPoint at);
    void Painting(QPainter* painter, HWND window) {
        m_painting = painter;
        m_paintingWindow = window;
    }
    std::set<CFontData*> m_fonts;

  private:
    // `platform`: the platforms Qt tries in order ("xcb;offscreen"), or null for its own
    // choice (QT_QPA_PLATFORM, or the session's).
    void EnsureApplication(const char* platform = nullptr);
    void Watch(int fd) {
        if (fd < 0 || m_watched.count(fd) != 0)
            return;
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, m_app);
        // The descriptor is drained here, whichever event loop runs: a nested one (a menu)
        // must not spin on it; the messages wait in the queue for the framework's loop.
        QObject::connect(notifier, &QSocketNotifier::activated, notifier, [fd] {
            std::uint64_t count = 0;
            while (::read(fd, &count, sizeof count) > 0) {
            }
        });
        m_watched.insert(fd);
    }
    static void Activate(QWidget* widget) {
        if (QGuiApplication::platformName() != QLatin1String("offscreen"))
            widget->raise();
        widget->activateWindow();
    }
    bool MakeControls(CDialogPeer* dialog, const detail::CDialogLayout& tmpl);

    static constexpr int kConnectAttempts = 10;
    static constexpr std::chrono::milliseconds kConnectRetry{100};
    QApplication* m_app = nullptr;
    bool m_onDisplay = false;  // Start reached the display (not Qt's offscreen fallback)
    std::atomic<DWORD> m_thread{0};
    std::map<HWND, std::unique_ptr<CPeer>> m_peers;
    std::set<int> m_watched;
    unsigned m_nextSerial = 1;
    QPainter* m_painting = nullptr;
    HWND m_paintingWindow = 0;
    friend class CInputFilter;
};

CQtToolkit& TheToolkit() {
    static auto* toolkit = new CQtToolkit;  // lives as long as the process
    return *toolkit;
}

// Input for a disabled top-level window (its owner runs a modal dialog) goes nowhere.
class CInputFilter : public QObject {
  public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::Shortcut:
            case QEvent::ShortcutOverride:
            case QEvent::Wheel:
            case QEvent::ContextMenu:
            case QEvent::Close: {
                auto* widget = qobject_cast<QWidget*>(watched);
                if (widget == nullptr)
                    break;
                CDialogPeer* d = TheToolkit().Dialog(TheToolkit().HwndOf(widget->window()));
                if (d != nullptr && !d->m_inputEnabled) {
                    event->ignore();
                    return true;
                }
                break;
            }
            default:
                break;
        }
        return QObject::eventFilter(watched, event);
    }
};

// An X server resets itself when its last client has left, and turns away the connections
// that come meanwhile: a program that found the display answering can still fail to reach it
// a moment later. Qt then ends the process. So the display is reached once through a real
// connection (a few tries while the server is between two lives), which is held while Qt
// makes its own: a server with a client does not reset. Qt is asked for its offscreen
// platform should the display still be unreachable, and that counts as no display.
bool CQtToolkit::Start() {
    if (m_app != nullptr)
        return m_onDisplay;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((platform != nullptr && *platform != '\0') || (wayland != nullptr && *wayland != '\0'))
        return true;  // Qt's own choice, made when the first window is shown
    const char* display = std::getenv("DISPLAY");
    xcb_connection_t* held = nullptr;
    for (int attempt = 0; attempt < kConnectAttempts && held == nullptr; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(kConnectRetry);
        held = xcb_connect(display, nullptr);
        if (xcb_connection_has_error(held) != 0) {
            xcb_disconnect(held);
            held = nullptr;
        }
    }
    if (held == nullptr)
        return false;
    EnsureApplication("xcb;offscreen");
    xcb_disconnect(held);
    m_onDisplay = QGuiApplication::platformName() != QLatin1String("offscreen");
    return m_onDisplay;
}

namespace {
// What Qt says while its platform starts: kept back, and let through only when the
// platform is the one asked for first (a fallback's complaints about the first are moot).
struct CStartMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};
std::vector<CStartMessage>* g_pStartMessages = nullptr;
void KeepStartMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    g_pStartMessages->push_back({type, QByteArray(context.category), text});
}
}  // namespace

void CQtToolkit::EnsureApplication(const char* platform) {
    if (m_app != nullptr)
        return;
    static int argc = 1;
    static char name[] = "keyscout";
    static char option[] = "-platform";
    static std::string platforms;
    static char* argv[] = {name, nullptr, nullptr, nullptr};
    if (platform != nullptr) {
        platforms = platform;
        argv[1] = option;
        argv[2] = platforms.data();
        argc = 3;
    }
    QApplication::setDesktopFileName(QStringLiteral("keyscout"));
    std::vector<CStartMessage> kept;
    g_pStartMessages = &kept;
    QtMessageHandler previous = qInstallMessageHandler(KeepStartMessage);
    m_app = new QApplication(argc, argv);  // lives as long as the process
    qInstallMessageHandler(previous);
    g_pStartMessages = nullptr;
    const bool first =
        platform == nullptr || QGuiApplication::platformName() ==
                                   QString::fromLatin1(platform).section(QLatin1Char(';'), 0, 0);
    for (const CStartMessage& m : kept) {
        if (!first)
            break;
        const QMessageLogContext context(nullptr, 0, nullptr, m.category.constData());
        qt_message_output(m.type, context, m.text);
    }
    QApplication::setApplicationName(QStringLiteral("KeyScout"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    m_app->installEventFilter(new CInputFilter);
    m_thread = posix::CurrentThreadId();
}

// The dialog font as Windows makes it from a template: the face at the point size for the
// screen's dots per inch, and the base units of the dialog from its real metrics (the
// average width of the 52 Latin letters, and the character height from the font's own
// Windows ascent and descent where the font has them).
void SetUpFont(CDialogPeer* dialog, const detail::CDialogLayout& tmpl) {
    const int dpi = qRound(QGuiApplication::primaryScreen()->logicalDotsPerInchY());
    dialog->m_dpi = static_cast<UINT>(dpi > 0 ? dpi : 96);
    const std::string face = tmpl.hasFont ? tmpl.typeface : std::string("MS Shell Dlg");
    const int points = tmpl.hasFont && tmpl.pointSize > 0 ? tmpl.pointSize : 8;
    const int pixels = MulDiv(points, dpi, 72);
    QFont font;
    // The template's face where it exists; else the metric-compatible free faces.
    font.setFamilies({FromAnsi(face), QStringLiteral("IPAPGothic"), QStringLiteral("IPA Pゴシック"),
                      QStringLiteral("VL PGothic")});
    font.setPixelSize(pixels);
    // Whole-pixel advances, as GDI lays text out: the templates were sized for them.
    font.setHintingPreference(QFont::PreferFullHinting);
    if (tmpl.weight >= 600)
        font.setBold(true);
    font.setItalic(tmpl.italic);
    dialog->m_font = font;

    QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    dialog->m_baseX = (letters / 26 + 1) / 2;
    int height = metrics.height();
    QRawFont raw = QRawFont::fromFont(font);
    const QByteArray os2 = raw.fontTable("OS/2");
    const QByteArray head = raw.fontTable("head");
    auto u16 = [](const QByteArray& b, int at) {
        return (static_cast<unsigned>(static_cast<unsigned char>(b[at])) << 8) |
               static_cast<unsigned char>(b[at + 1]);
    };
    if (os2.size() >= 78 && head.size() >= 20) {
        const int unitsPerEm = static_cast<int>(u16(head, 18));
        if (unitsPerEm > 0) {
            const int ascent = MulDiv(static_cast<int>(u16(os2, 74)), pixels, unitsPerEm);
            const int descent = MulDiv(static_cast<int>(u16(os2, 76)), pixels, unitsPerEm);
            if (ascent + descent > 0)
                height = ascent + descent;
        }
    }
    dialog->m_baseY = height;

    LOGFONTA& lf = dialog->m_logFont;
    lf = LOGFONTA{};
    lf.lfHeight = -pixels;
    lf.lfWeight = tmpl.weight > 0 ? tmpl.weight : 400;
    lf.lfItalic = tmpl.italic ? 1 : 0;
    lf.lfCharSet = tmpl.charset;
    std::strncpy(lf.lfFaceName, face.c_str(), sizeof lf.lfFaceName - 1);
}

bool CQtToolkit::MakeControls(CDialogPeer* dialog, const detail::CDialogLayout& tmpl) {
    for (const detail::CDialogItemLayout& item : tmpl.items) {
        CItemLayout c;
        c.style = item.style;
        c.exStyle = item.exStyle;
        c.id = item.id;
        c.className = item.className;
        c.text = item.text;
        c.textIsOrdinal = item.textIsOrdinal;
        c.ordinal = item.ordinal;
        c.pixels = dialog->Pixels(item.x, item.y, item.cx, item.cy);
        HWND h = detail::AllocateWindow(false);
        std::unique_ptr<CPeer> peer = MakeControl(dialog, c, h);
        if (peer == nullptr) {
            detail::ReleaseWindow(h);
            return false;
        }
        dialog->m_controls.push_back(peer.get());
        m_peers.emplace(h, std::move(peer));
    }
    return true;
}

HWND CQtToolkit::CreateDialogFromTemplate(UINT templateId, HWND parent, CWnd* owner) {
    detail::CDialogLayout tmpl;
    if (!detail::LoadDialogLayout(templateId, &tmpl))
        return 0;
    EnsureApplication();
    CDialogPeer* ownerDialog = Dialog(parent);
    HWND h = detail::AllocateWindow(true);
    auto dialog = std::make_unique<CDialogPeer>(h, ownerDialog != nullptr ? parent : 0);
    CDialogPeer* d = dialog.get();
    d->m_serial = m_nextSerial++;
    d->m_style = tmpl.style;
    d->m_exStyle = tmpl.exStyle;
    d->m_caption = tmpl.caption;
    auto* widget =
        new CDialogWidget(d, ownerDialog != nullptr ? ownerDialog->m_widget.data() : nullptr);
    d->m_widget = widget;
    widget->setProperty("ks_hwnd", QVariant::fromValue(static_cast<quint32>(h)));
    // The frame the style asks for: a caption, the close box with the system menu, and a
    // minimise or maximise box only when the template has one.
    Qt::WindowFlags flags = (ownerDialog != nullptr ? Qt::Dialog : Qt::Window) |
                            Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if ((tmpl.style & WS_SYSMENU) != 0)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if ((tmpl.style & WS_MINIMIZEBOX) != 0)
        flags |= Qt::WindowMinimizeButtonHint;
    if ((tmpl.style & WS_MAXIMIZEBOX) != 0)
        flags |= Qt::WindowMaximizeButtonHint;
    widget->setWindowFlags(flags);
    widget->setWindowTitle(FromAnsi(tmpl.caption));
    // The dialog face of Windows: the controls stand on #F0F0F0, as the picture's edge does.
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, QColor(0xF0, 0xF0, 0xF0));
    palette.setColor(QPalette::Button, QColor(0xF0, 0xF0, 0xF0));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
    SetUpFont(d, tmpl);
    widget->setFont(d->m_font);
    auto* font = new CFontData{d->m_logFont};
    m_fonts.insert(font);
    widget->setProperty("ks_font", QVariant::fromValue(reinterpret_cast<quintptr>(font)));
    // Not resizable: the client area is the template's size.
    const QRect client = d->Pixels(0, 0, tmpl.cx, tmpl.cy);
    widget->setFixedSize(client.size());
    auto* menuKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), widget);
    QObject::connect(menuKey, &QShortcut::activated, &d->m_context,
                     [this, d] { ShowSystemMenu(d, d->m_widget->mapToGlobal(QPoint(0, 0))); });
    m_peers.emplace(h, std::move(dialog));
    if (!MakeControls(d, tmpl)) {
        DestroyWindow(h);
        return 0;
    }
    FitLabels(d);
    for (CPeer* c : d->m_controls)
        if (c->m_kind == CPeer::EKind::Button && (c->m_style & 0x0F) == BS_DEFPUSHBUTTON)
            d->m_defaultId = c->m_id;

    // The dialog's object sees every message from WM_INITDIALOG on.
    if (owner != nullptr) {
        detail::SubclassWindow(h, owner);
        owner->m_hWnd = h;
    }
    HWND firstTabStop = 0;
    for (CPeer* c : d->m_controls)
        if (firstTabStop == 0 && (c->m_style & WS_TABSTOP) != 0 && c->m_widget->isEnabled())
            firstTabStop = c->m_hwnd;
    const LRESULT focusDefault = detail::Deliver(h, WM_INITDIALOG, firstTabStop, 0);
    if (Peer(h) == nullptr)
        return 0;  // destroyed while it initialised
    if (focusDefault != 0 && firstTabStop != 0)
        Peer(firstTabStop)->m_widget->setFocus(Qt::OtherFocusReason);
    if ((tmpl.style & WS_VISIBLE) != 0)
        ShowWindow(h, SW_SHOW);
    return h;
}

BOOL CQtToolkit::DestroyWindow(HWND window) {
    CDialogPeer* d = Dialog(window);
    if (d == nullptr)
        return FALSE;  // controls go with their dialog
    // Owned dialogs go first, as on Windows.
    for (HWND other : TopLevelWindows())
        if (CDialogPeer* o = Dialog(other); o != nullptr && o->m_owner == window)
            DestroyWindow(other);
    std::vector<HWND> controls;
    for (CPeer* c : d->m_controls)
        controls.push_back(c->m_hwnd);
    // WM_DESTROY from the window down, WM_NCDESTROY from the children up.
    detail::Deliver(window, WM_DESTROY, 0, 0);
    for (HWND c : controls)
        detail::Deliver(c, WM_DESTROY, 0, 0);
    for (HWND c : controls) {
        detail::Deliver(c, WM_NCDESTROY, 0, 0);
        detail::ReleaseWindow(c);
    }
    detail::Deliver(window, WM_NCDESTROY, 0, 0);
    detail::ReleaseWindow(window);

    QPointer<QWidget> widget = d->m_widget;
    static_cast<CDialogWidget*>(widget.data())->m_peer = nullptr;
    for (HWND c : controls)
        m_peers.erase(c);
    m_peers.erase(window);
    if (!widget.isNull()) {
        widget->hide();
        widget->deleteLater();
    }
    return TRUE;
}

HWND CQtToolkit::GetWindow(HWND window, UINT relation) {
    CPeer* p = Peer(window);
    if (p == nullptr)
        return 0;
    if (relation == GW_CHILD) {
        CDialogPeer* d = Dialog(window);
        return d != nullptr && !d->m_controls.empty() ? d->m_controls.front()->m_hwnd : 0;
    }
    if (relation == GW_OWNER)
        return p->m_kind == CPeer::EKind::Dialog ? static_cast<CDialogPeer*>(p)->m_owner : 0;
    if (relation == GW_HWNDNEXT) {
        if (p->m_kind == CPeer::EKind::Dialog) {
            std::vector<HWND> tops = TopLevelWindows();
            auto it = std::find(tops.begin(), tops.end(), window);
            return it != tops.end() && it + 1 != tops.end() ? *(it + 1) : 0;
        }
        const std::vector<CPeer*>& siblings = p->m_pDialog->m_controls;
        auto it = std::find(siblings.begin(), siblings.end(), p);
        return it != siblings.end() && it + 1 != siblings.end() ? (*(it + 1))->m_hwnd : 0;
    }
    return 0;
}

LONG CQtToolkit::GetWindowLong(HWND window, int index) {
    CPeer* p = Peer(window);
    if (p == nullptr || p->m_widget.isNull())
        return 0;
    if (index == GWL_ID)
        return p->m_kind == CPeer::EKind::Dialog ? 0 : p->m_id;
    if (index == GWL_EXSTYLE)
        return static_cast<LONG>(p->m_exStyle);
    if (index != GWL_STYLE)
        return 0;
    DWORD style = p->m_style & ~(WS_VISIBLE | WS_DISABLED);
    if (p->m_kind != CPeer::EKind::Dialog)
        style |= WS_CHILD;
    if (p->m_widget->isVisible())
        style |= WS_VISIBLE;
    if (!IsWindowEnabled(window))
        style |= WS_DISABLED;
    if (p->m_widget->isMinimized())
        style |= WS_MINIMIZE;
    return static_cast<LONG>(style);
}

BOOL CQtToolkit::ShowWindow(HWND window, int command) {
    CPeer* p = Peer(window);
    if (p == nullptr || p->m_widget.isNull())
        return FALSE;
    QWidget* w = p->m_widget;
    const BOOL wasVisible = w->isVisible();
    switch (command) {
        case SW_HIDE:
            w->hide();
            break;
        case SW_MINIMIZE:
            w->showMinimized();
            break;
        case SW_RESTORE:
            w->showNormal();
            break;
        default:
            if (w->isMinimized())
                w->showNormal();
            else
                w->show();
            if (w->isWindow())
                Activate(w);
            break;
    }
    return wasVisible;
}

HWND CQtToolkit::GetFocus() {
    if (HWND h = HwndOf(QApplication::focusWidget()); h != 0)
        return h;
    // No window of ours is active at the display (a bare X server, a test): the focus is the
    // one the last shown window would give on activation.
    std::vector<HWND> tops = TopLevelWindows();
    for (auto it = tops.rbegin(); it != tops.rend(); ++it) {
        CDialogPeer* d = Dialog(*it);
        if (d != nullptr && !d->m_widget.isNull() && d->m_widget->isVisible())
            return HwndOf(d->m_widget->focusWidget());
    }
    return 0;
}

HMENU CQtToolkit::GetSystemMenu(HWND window, BOOL revert) {
    CDialogPeer* d = Dialog(window);
    if (d == nullptr || (d->m_style & WS_SYSMENU) == 0)
        return nullptr;
    if (d->m_systemMenu == nullptr || revert) {
        if (d->m_systemMenu == nullptr)
            d->m_systemMenu = detail::MakeMenu();
        detail::CMenuData* menu = detail::MenuOf(d->m_systemMenu);
        menu->items.clear();
        // What a fixed-size window's system menu offers; the program appends its own.
        detail::CMenuItem close;
        close.flags = MF_STRING;
        close.id = SC_CLOSE;
        close.text = "閉じる(&C)\tAlt+F4";
        menu->items.push_back(close);
    }
    return revert ? nullptr : d->m_systemMenu;
}

void CQtToolkit::ShowSystemMenu(CDialogPeer* dialog, QPoint at) {
    HMENU handle = GetSystemMenu(dialog->m_hwnd, FALSE);
    detail::CMenuData* data = detail::MenuOf(handle);
    if (data == nullptr)
        return;
    QMenu menu(dialog->m_widget);
    for (const detail::CMenuItem& item : data->items) {
        if ((item.flags & MF_SEPARATOR) != 0) {
            menu.addSeparator();
            continue;
        }
        const std::size_t tab = item.text.find('\t');
        QAction* action = menu.addAction(FromAnsi(item.text.substr(0, tab)));
        if (tab != std::string::npos)
            action->setShortcut(QKeySequence(FromAnsi(item.text.substr(tab + 1))));
        action->setData(QVariant::fromValue(static_cast<qulonglong>(item.id)));
    }
    const HWND window = dialog->m_hwnd;
    QAction* chosen = menu.exec(at);
    if (chosen != nullptr && Peer(window) != nullptr)
        detail::Deliver(window, WM_SYSCOMMAND, static_cast<WPARAM>(chosen->data().toULongLong()),
                        0);
}

// The dialog manager's keyboard interface for keys that reach the dialog as messages (real
// keys reach the widgets as Qt's events, CDialogWidget::keyPressEvent): Escape is Cancel,
// Enter presses the focused or the default button, Alt with a letter presses the button whose
// mnemonic it is. Every message meant for the dialog or one of its controls is handled here.
BOOL CQtToolkit::IsDialogMessage(HWND dialog, MSG* msg) {
    CDialogPeer* d = Dialog(dialog);
    if (d == nullptr)
        return FALSE;
    CPeer* target = Peer(msg->hwnd);
    if (target == nullptr || (target != d && target->m_pDialog != d))
        return FALSE;
    const HWND h = d->m_hwnd;
    auto command = [h](int id, HWND from) {
        detail::Deliver(h, WM_COMMAND, MAKELPARAM(static_cast<WORD>(id), BN_CLICKED),
                        static_cast<LPARAM>(from));
    };
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) {
        command(IDCANCEL, GetDlgItem(h, IDCANCEL));
        return TRUE;
    }
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN) {
        if (target->m_kind == CPeer::EKind::Button)
            command(target->m_id, target->m_hwnd);
        else
            command(d->m_defaultId, GetDlgItem(h, d->m_defaultId));
        return TRUE;
    }
    if (msg->message == WM_SYSCHAR) {
        const auto key = static_cast<char>(msg->wParam & 0x7F);
        for (CPeer* c : d->m_controls) {
            if (c->m_kind != CPeer::EKind::Button)
                continue;
            char text[256] = {};
            c->Proc(WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
            for (const char* at = std::strchr(text, '&'); at != nullptr && at[1] != '\0';
                 at = std::strchr(at + 2, '&')) {
                if (at[1] != '&' && std::tolower(static_cast<unsigned char>(at[1])) ==
                                        std::tolower(static_cast<unsigned char>(key))) {
                    c->Proc(BM_CLICK, 0, 0);
                    return TRUE;
                }
            }
        }
        return TRUE;
    }
    DispatchMessage(msg);
    return TRUE;
}

// --- The dialog widget's own events ------------------------------------------------------

void CDialogWidget::keyPressEvent(QKeyEvent* event) {
    if (m_peer == nullptr) {
        QWidget::keyPressEvent(event);
        return;
    }
    const HWND h = m_peer->m_hwnd;
    auto command = [h](int id) {
        detail::Deliver(h, WM_COMMAND, MAKELPARAM(static_cast<WORD>(id), BN_CLICKED),
                        static_cast<LPARAM>(0));
    };
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        command(IDCANCEL);
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (auto* button = qobject_cast<QPushButton*>(QApplication::focusWidget());
            button != nullptr && button->window() == this) {
            button->click();
        } else {
            command(m_peer->m_defaultId);
        }
        return;
    }
    QWidget::keyPressEvent(event);
}

void CDialogWidget::closeEvent(QCloseEvent* event) {
    // The close box is the system's close command; the dialog decides what it does.
    event->ignore();
    if (m_peer != nullptr)
        detail::Deliver(m_peer->m_hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void CDialogWidget::contextMenuEvent(QContextMenuEvent* event) {
    if (m_peer != nullptr)
        TheToolkit().ShowSystemMenu(m_peer, event->globalPos());
}

void CDialogWidget::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (m_peer == nullptr)
        return;
    QPainter painter(this);
    TheToolkit().Painting(&painter, m_peer->m_hwnd);
    detail::Deliver(m_peer->m_hwnd, WM_PAINT, 0, 0);
    TheToolkit().Painting(nullptr, 0);
}

// Registered when the toolkit is linked into a program.
const bool g_installed = (detail::InstallToolkit(&TheToolkit()), true);

}  // namespace

// --- The dialog peer ---------------------------------------------------------------------

CDialogPeer::CDialogPeer(HWND hwnd, HWND owner) : CPeer(EKind::Dialog, hwnd), m_owner(owner) {
    m_pDialog = this;
}

CDialogPeer::~CDialogPeer() = default;

QRect CDialogPeer::Pixels(int x, int y, int cx, int cy) const {
    return QRect(MulDiv(x, m_baseX, 4), MulDiv(y, m_baseY, 8), MulDiv(cx, m_baseX, 4),
                 MulDiv(cy, m_baseY, 8));
}

LRESULT CDialogPeer::Proc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SETTEXT:
            m_caption = lParam != 0 ? reinterpret_cast<const char*>(lParam) : "";
            if (!m_widget.isNull())
                m_widget->setWindowTitle(FromAnsi(m_caption));
            return TRUE;
        case WM_GETTEXT:
            return CopyText(m_caption, wParam, lParam);
        case WM_GETTEXTLENGTH:
            return static_cast<LRESULT>(m_caption.size());
        case WM_SETICON: {
            HICON& slot = wParam == ICON_BIG ? m_bigIcon : m_smallIcon;
            HICON previous = slot;
            slot = reinterpret_cast<HICON>(lParam);
            if (detail::CIconData* data =
                    detail::IconOf(m_bigIcon != nullptr ? m_bigIcon : m_smallIcon)) {
                QIcon icon;
                for (const detail::CIconImage& image : data->images) {
                    QImage q(reinterpret_cast<const uchar*>(image.argb.data()), image.width,
                             image.height, QImage::Format_ARGB32);
                    icon.addPixmap(QPixmap::fromImage(q.copy()));
                }
                if (!m_widget.isNull())
                    m_widget->setWindowIcon(icon);
            }
            return reinterpret_cast<LRESULT>(previous);
        }
        case WM_GETICON:
            return reinterpret_cast<LRESULT>(wParam == ICON_BIG ? m_bigIcon : m_smallIcon);
        case WM_GETFONT:
            if (!m_widget.isNull())
                return static_cast<LRESULT>(m_widget->property("ks_font").value<quintptr>());
            return 0;
        case WM_CLOSE:
            detail::Deliver(m_hwnd, WM_COMMAND, MAKELPARAM(IDCANCEL, BN_CLICKED), 0);
            return 0;
        case WM_SYSCOMMAND:
            switch (static_cast<UINT>(wParam) & 0xFFF0u) {
                case SC_CLOSE:
                    detail::Deliver(m_hwnd, WM_CLOSE, 0, 0);
                    return 0;
                case 0xF020:  // SC_MINIMIZE
                    if (!m_widget.isNull())
                        m_widget->showMinimized();
                    return 0;
                case 0xF120:  // SC_RESTORE
                    if (!m_widget.isNull())
                        m_widget->showNormal();
                    return 0;
                default:
                    return 0;
            }
        case WM_INITDIALOG:
            return TRUE;
        default:
            return CPeer::Proc(message, wParam, lParam);
    }
}

}  // namespace ks::qt
