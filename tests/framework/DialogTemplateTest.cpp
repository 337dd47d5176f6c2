// Dialog templates written by hand in both layouts: every field, the item alignment after
// odd creation data, and templates that are cut short or lie about their item count.
#include <gtest/gtest.h>

#include "framework/DialogTemplate.h"
#include "framework/WinUser.h"
#include "tests/framework/ByteWriter.h"

namespace ks {
namespace {

using test::CByteWriter;

// A classic template: menu 5, class "MyDialogClass", caption "Hi", font 8 "Tahoma", then
// a button, a list with 3 bytes of creation data, and a static with an unknown class
// ordinal and a bitmap title.
std::vector<BYTE> ClassicTemplate(WORD count = 3) {
    CByteWriter t;
    t.Dword(WS_POPUP | WS_CAPTION | DS_SETFONT).Dword(WS_EX_APPWINDOW).Word(count);
    t.Word(1).Word(2).Word(300).Word(200);
    t.Ordinal(5).String(u"MyDialogClass").String(u"Hi").Word(8).String(u"Tahoma");
    t.Align(4).Dword(WS_CHILD | BS_DEFPUSHBUTTON).Dword(0).Word(7).Word(8).Word(50).Word(14);
    t.Word(IDOK).Ordinal(0x80).String(u"OK").Word(0);
    t.Align(4).Dword(WS_CHILD | LVS_REPORT).Dword(WS_EX_CLIENTEDGE);
    t.Word(static_cast<WORD>(-3)).Word(0).Word(100).Word(60).Word(1003);
    t.String(u"SysListView32").Word(0).Word(3).Bytes({0xAA, 0xBB, 0xCC});
    t.Align(4).Dword(WS_CHILD | SS_BITMAP).Dword(0).Word(0).Word(0).Word(91).Word(214);
    t.Word(0xFFFF).Ordinal(0x99).Ordinal(130).Word(0);
    return t.Get();
}

TEST(DialogTemplateTest, ClassicLayoutEveryField) {
    const auto dialog = ParseDialogTemplate(ClassicTemplate());
    ASSERT_TRUE(dialog);
    EXPECT_FALSE(dialog->extended);
    EXPECT_EQ(dialog->style, WS_POPUP | WS_CAPTION | DS_SETFONT);
    EXPECT_EQ(dialog->exStyle, WS_EX_APPWINDOW);
    EXPECT_EQ(dialog->cy, 200);
    EXPECT_TRUE(dialog->menu.IsOrdinal(5));
    EXPECT_TRUE(dialog->windowClass.IsName(u"MyDialogClass"));
    EXPECT_TRUE(dialog->caption.IsName(u"Hi"));
    EXPECT_EQ(dialog->font, (CDialogFont{8, 0, false, 0, u"Tahoma"}));
    ASSERT_EQ(dialog->items.size(), 3u);

    const auto& button = dialog->items[0];
    EXPECT_EQ(button.id, 1u);
    EXPECT_TRUE(button.windowClass.IsName(u"Button"));
    EXPECT_TRUE(button.title.IsName(u"OK"));
    EXPECT_EQ(button.cx, 50);
    const auto& list = dialog->items[1];
    EXPECT_EQ(list.exStyle, WS_EX_CLIENTEDGE);
    EXPECT_EQ(list.x, -3);
    EXPECT_TRUE(list.IsClass(u"syslistview32"));
    EXPECT_FALSE(list.IsClass(u"SysListView3"));
    EXPECT_TRUE(list.title.IsNone());
    EXPECT_EQ(list.creationData, (std::vector<BYTE>{0xAA, 0xBB, 0xCC}));
    const auto& picture = dialog->items[2];  // found on the DWORD boundary after 3 bytes
    EXPECT_EQ(picture.id, 0xFFFFu);
    EXPECT_TRUE(picture.windowClass.IsOrdinal(0x99));
    EXPECT_TRUE(picture.title.IsOrdinal(130));
    EXPECT_EQ(picture.cy, 214);
}

TEST(DialogTemplateTest, ExtendedLayoutWithAndWithoutFont) {
    CByteWriter t;
    t.Word(1).Word(0xFFFF).Dword(77).Dword(WS_EX_APPWINDOW).Dword(WS_POPUP | DS_SETFONT).Word(1);
    t.Word(0).Word(0).Word(235).Word(55).Word(0).Word(0).String(u"About");
    t.Word(9).Word(700).Byte(1).Byte(0x80).String(u"MS UI");
    t.Align(4).Dword(5).Dword(0).Dword(WS_CHILD | SS_ICON).Word(11).Word(17).Word(0).Word(0);
    t.Dword(0xFFFFFFFFu).Ordinal(0x82).Ordinal(128).Word(2).Word(0x1234);
    auto dialog = ParseDialogTemplate(t.Get());
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->extended);
    EXPECT_EQ(dialog->helpId, 77u);
    EXPECT_TRUE(dialog->menu.IsNone());
    EXPECT_TRUE(dialog->windowClass.IsNone());
    EXPECT_EQ(dialog->font, (CDialogFont{9, 700, true, 0x80, u"MS UI"}));
    ASSERT_EQ(dialog->items.size(), 1u);
    EXPECT_EQ(dialog->items[0].helpId, 5u);
    EXPECT_EQ(dialog->items[0].id, 0xFFFFFFFFu);
    EXPECT_TRUE(dialog->items[0].IsClass(u"STATIC"));
    EXPECT_EQ(dialog->items[0].creationData, (std::vector<BYTE>{0x34, 0x12}));

    // Without DS_SETFONT no font bytes are read: the item follows the caption directly.
    CByteWriter plain;
    plain.Word(1).Word(0xFFFF).Dword(0).Dword(0).Dword(WS_POPUP).Word(1);
    plain.Word(0).Word(0).Word(10).Word(10).Word(0).Word(0).Word(0);
    plain.Align(4).Dword(0).Dword(0).Dword(WS_CHILD).Word(1).Word(2).Word(3).Word(4);
    plain.Dword(42).Ordinal(0x81).Word(0).Word(0);
    dialog = ParseDialogTemplate(plain.Get());
    ASSERT_TRUE(dialog);
    EXPECT_FALSE(dialog->font);
    ASSERT_EQ(dialog->items.size(), 1u);
    EXPECT_EQ(dialog->items[0].id, 42u);
    EXPECT_TRUE(dialog->items[0].windowClass.IsName(u"Edit"));
}

TEST(DialogTemplateTest, MalformedTemplatesFailCleanly) {
    const std::vector<BYTE> whole = ClassicTemplate();
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const std::vector<BYTE> prefix(whole.begin(), whole.begin() + n);
        EXPECT_FALSE(ParseDialogTemplate(prefix)) << "cut at " << n;
    }
    // An item count far beyond the items present.
    EXPECT_FALSE(ParseDialogTemplate(ClassicTemplate(0xFFFF)));
    EXPECT_TRUE(ParseDialogTemplate(ClassicTemplate(2)));
    // The extended signature with another version.
    std::vector<BYTE> extended(64, 0);
    extended[0] = 2;
    extended[2] = extended[3] = 0xFF;
    EXPECT_FALSE(ParseDialogTemplate(extended));
    // A caption without its NUL.
    std::vector<BYTE> open = CByteWriter().Dword(0).Dword(0).Word(0).Dword(0).Dword(0).Get();
    open.insert(open.end(), {0, 0, 0, 0, 'H', 0, 'i', 0});
    EXPECT_FALSE(ParseDialogTemplate(open));
}

}  // namespace
}  // namespace ks
