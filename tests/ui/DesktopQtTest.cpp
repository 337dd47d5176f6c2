// The main window as Qt draws it on screens of more pixels per dialog unit: the texts its
// widgets show whole, the picture rendered at the screen's device pixel ratio, and a move to
// a screen of another ratio. Run on Qt's offscreen platform with two screens, the second of
// twice the first's ratio (offscreen-two-screens.json), at QT_SCALE_FACTOR 1, 1.5 and 2, and
// with a logical DPI of 144 where Qt does not scale (the layout then grows with the font, as
// on Windows). The Linux build only.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "framework/ResourceFile.h"
#include "res/resource.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/KeyScoutDlg.h"

namespace ks::test {
namespace {

QWidget* Widget(const QString& caption) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowTitle() == caption)
            return w;
    return nullptr;
}

// Texts that their widgets cut off: a label breaks its text into lines at its width, a
// button shows one line between its edges.
std::vector<std::string> ClippedTexts(QWidget* dialog) {
    std::vector<std::string> clipped;
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
        if (label->text().isEmpty())
            continue;
        const int needs = label->heightForWidth(label->width());
        if (needs > label->height())
            clipped.push_back(label->text().toStdString() + " needs " + std::to_string(needs) +
                              " of height, has " + std::to_string(label->height()));
    }
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        const QString shown = QString(button->text()).remove(QLatin1Char('&'));
        const int needs = button->fontMetrics().horizontalAdvance(shown);
        if (needs > button->width() - 4)
            clipped.push_back(shown.toStdString() + " needs " + std::to_string(needs) +
                              " across, has " + std::to_string(button->width()));
    }
    return clipped;
}

CImageRgba Source() {
    const CResourceFile* resources = detail::ProgramResources();
    std::optional<CImageRgba> image =
        resources != nullptr ? DecodeDib(resources->Find(RT_BITMAP, IDB_PICTURE), false)
                             : std::nullopt;
    return image ? *image : CImageRgba{};
}

// A grabbed picture's pixels, 0xAARRGGBB, top row first.
CImageRgba PixelsOf(const QImage& grabbed) {
    const QImage image = grabbed.convertToFormat(QImage::Format_ARGB32);
    CImageRgba out{image.width(), image.height(), {}};
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            out.pixels.push_back(image.pixel(x, y));
    return out;
}

class DesktopQtTest : public CThreeDevicesWindowTest {
  protected:
    void SetUp() override {
        CThreeDevicesWindowTest::SetUp();
        if (HasFatalFailure())
            return;
        m_widget = Widget(QStringLiteral("KeyScout"));
        ASSERT_NE(m_widget, nullptr);
    }

    // The picture as the screen shows it: its rectangle of the dialog grabbed at the
    // screen's device pixels.
    QImage Shown() {
        HWND picture = GetWindow(GetWindow(m_dialog.m_hWnd, GW_CHILD), GW_HWNDNEXT);
        RECT r{};
        GetClientRect(picture, &r);
        const QImage whole = m_widget->grab().toImage();
        const qreal ratio = whole.devicePixelRatio();
        return whole.copy(0, 0, qRound(r.right * ratio), qRound(r.bottom * ratio));
    }

    void ExpectPictureFillsItsPanelSmoothly(qreal ratio) {
        RECT panel{0, 0, 91, 214};
        MapDialogRect(m_dialog.m_hWnd, &panel);
        const QImage shown = Shown();
        SCOPED_TRACE("panel " + std::to_string(panel.right) + " x " + std::to_string(panel.bottom) +
                     " at a ratio of " + std::to_string(ratio));
        EXPECT_EQ(shown.width(), qRound(panel.right * ratio));
        EXPECT_EQ(shown.height(), qRound(panel.bottom * ratio));
        ExpectSmoothCopyOf(PixelsOf(shown), Source());
    }

    QWidget* m_widget = nullptr;
};

TEST_F(DesktopQtTest, NoTextIsClipped) {
    std::vector<std::string> clipped = ClippedTexts(m_widget);
    CScriptWindow script;
    ASSERT_TRUE(script.CreateMessageOnly());
    bool seen = false;
    script.Post([&] {
        QWidget* about = Widget(QStringLiteral("KeyScoutのバージョン情報"));
        seen = about != nullptr;
        if (about != nullptr) {
            for (std::string& c : ClippedTexts(about))
                clipped.push_back("About box: " + c);
        }
        HWND box = FindWindowA(nullptr, "KeyScoutのバージョン情報");
        PostMessage(box != 0 ? box : GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    });
    m_dialog.SendMessage(WM_SYSCOMMAND, 0x0010, 0);
    EXPECT_TRUE(seen) << "the About box did not open";
    std::string all;
    for (const std::string& c : clipped)
        all += "\n  " + c;
    EXPECT_TRUE(clipped.empty()) << "at a device pixel ratio of " << m_widget->devicePixelRatioF()
                                 << " and " << GetDpiForWindow(m_dialog.m_hWnd) << " dpi:" << all;
}

TEST_F(DesktopQtTest, TheBitmapFillsItsPanelDrawnAtTheScreensPixels) {
    ExpectPictureFillsItsPanelSmoothly(m_widget->devicePixelRatioF());
}

// Run where the offscreen platform has a second screen of another ratio.
TEST_F(DesktopQtTest, AMoveToAScreenOfAnotherPixelRatioRedrawsTheWindowForIt) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    ASSERT_GE(screens.size(), 2) << "run with offscreen-two-screens.json";
    QScreen* other = m_widget->screen() == screens[0] ? screens[1] : screens[0];
    ASSERT_NE(other->devicePixelRatio(), m_widget->devicePixelRatioF());
    m_widget->move(other->geometry().topLeft() + QPoint(20, 20));
    ASSERT_TRUE(PumpUntil([&] { return m_widget->screen() == other; }, m_dialog.m_hWnd));
    EXPECT_EQ(m_widget->devicePixelRatioF(), other->devicePixelRatio());
    ExpectPictureFillsItsPanelSmoothly(other->devicePixelRatio());
    EXPECT_EQ(ClippedTexts(m_widget), std::vector<std::string>{});
}

}  // namespace
}  // namespace ks::test
