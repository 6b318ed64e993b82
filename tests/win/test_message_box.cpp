// The program's own message box, shown for real and read back from its window.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "res/resource.h"
#include "tests/win/BoxProbe.h"
#include "ui/NormalMessageBox.h"
#include "ui/Strings.h"

namespace {

int ScreenDpiX() {
  HDC dc = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(dc, LOGPIXELSX);
  ::ReleaseDC(nullptr, dc);
  return dpi;
}

int ScreenDpiY() {
  HDC dc = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
  ::ReleaseDC(nullptr, dc);
  return dpi;
}

int Px(int units) { return ::MulDiv(units, ScreenDpiX(), 96); }
int PxY(int units) { return ::MulDiv(units, ScreenDpiY(), 96); }

// Text extent in the font that a control of the box really uses.
SIZE ExtentIn(HWND box, HFONT font, const std::wstring& text) {
  HDC dc = ::GetDC(box);
  HGDIOBJ old = ::SelectObject(dc, font);
  SIZE size{};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  ::SelectObject(dc, old);
  ::ReleaseDC(box, dc);
  return size;
}

int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

struct Shown {
  INT_PTR result = -2;
  boxprobe::Snapshot snap;
  SIZE messageExtent{};
  bool seen = false;
};

enum class Action { ClickLeft, ClickRight, Close, SysClose };

void Perform(HWND box, Action action) {
  switch (action) {
    case Action::ClickLeft: boxprobe::Click(box, 1000); break;
    case Action::ClickRight: boxprobe::Click(box, 1001); break;
    case Action::Close: ::PostMessageW(box, WM_CLOSE, 0, 0); break;
    case Action::SysClose: ::PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0); break;
  }
}

// Shows a box with that content, reads it on the first tick and then performs the action.
Shown ShowAndAct(const wchar_t* message, const wchar_t* caption, const wchar_t* b1, const wchar_t* b2,
                 Action action) {
  Shown shown;
  CNormalMessageBox box;
  box.SetContent(message, caption, b1, b2);
  shown.result = boxprobe::Run([&] { return box.DoModal(); },
                               [&](HWND h, int) {
                                 shown.snap = boxprobe::Read(h);
                                 shown.messageExtent = ExtentIn(h, shown.snap.text.font, message ? message : L"");
                                 Perform(h, action);
                                 return true;
                               },
                               &shown.seen);
  return shown;
}

TEST(MessageBoxWindow, ShortMessageGetsMinimumWidthAndOneRightButton) {
  // The 96-DPI numbers, scaled for the screen (run with LogPixels 144 to see them grow by half).
  Shown s;
  COLORREF panelCorner = 0, panelBesideText = 0, buttonRow = 0;
  RECT work{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  {
    CNormalMessageBox box;
    box.SetContent(L"Setup failed.", L"Error", L"OK", nullptr);
    s.result = boxprobe::Run([&] { return box.DoModal(); },
                             [&](HWND h, int tick) {
                               if (tick == 0) {
                                 ::UpdateWindow(h);
                                 return false;
                               }
                               s.snap = boxprobe::Read(h);
                               s.messageExtent = ExtentIn(h, s.snap.text.font, L"Setup failed.");
                               HDC dc = ::GetDC(h);
                               panelCorner = ::GetPixel(dc, 3, 3);
                               // Right end of the message control, past the end of its text.
                               panelBesideText = ::GetPixel(dc, s.snap.text.rect.right - 3, s.snap.text.rect.top + 2);
                               buttonRow = ::GetPixel(dc, 3, s.snap.client.bottom - 3);
                               ::ReleaseDC(h, dc);
                               boxprobe::SaveScreenshot(h, boxprobe::ArtifactPath(L"messagebox-setup-failed.bmp"));
                               boxprobe::Click(h, 1001);
                               return true;
                             },
                             &s.seen);
  }
  ASSERT_TRUE(s.seen);
  EXPECT_EQ(s.result, IDOK);
  const boxprobe::Snapshot& b = s.snap;
  EXPECT_EQ(b.caption, L"Error");
  EXPECT_EQ(Width(b.client), Px(244));
  ASSERT_GT(s.messageExtent.cy, 0);
  // The line height is kept in 96-DPI units and scaled back, which may round by a pixel.
  const int lineUnits = ::MulDiv(s.messageExtent.cy, 96, ScreenDpiY());
  const int lineHeight = PxY(lineUnits);
  EXPECT_LE(std::abs(lineHeight - s.messageExtent.cy), 1);
  EXPECT_EQ(Height(b.client), PxY(lineUnits + 87));

  EXPECT_TRUE(b.text.visible);
  EXPECT_EQ(b.text.text, L"Setup failed.");
  EXPECT_EQ(b.text.rect.left, Px(22));
  EXPECT_EQ(b.text.rect.top, PxY(22));
  EXPECT_EQ(Width(b.text.rect), Px(200));
  EXPECT_EQ(Height(b.text.rect), lineHeight);

  EXPECT_TRUE(b.right.visible);
  EXPECT_EQ(b.right.text, L"OK");
  EXPECT_EQ(b.right.rect.left, Px(159));
  EXPECT_EQ(Width(b.right.rect), Px(75));
  EXPECT_EQ(b.right.rect.top, PxY(22 + lineUnits + 22 + 10));
  EXPECT_EQ(Height(b.right.rect), PxY(23));
  EXPECT_FALSE(b.left.visible);
  EXPECT_FALSE(b.check.visible);

  // 9-point font in the face of the string table; the buttons use a font of their own.
  ASSERT_TRUE(b.text.hasFont);
  EXPECT_EQ(b.text.logFont.lfHeight, -::MulDiv(9, ScreenDpiY(), 72));
  EXPECT_EQ(b.text.logFont.lfWeight, FW_NORMAL);
  EXPECT_EQ(b.text.logFont.lfPitchAndFamily, FF_SWISS);
  EXPECT_EQ(std::wstring(b.text.logFont.lfFaceName), LoadStringOrEnglish(IDS_FONT_FACE).Str());
  ASSERT_TRUE(b.right.hasFont);
  EXPECT_NE(b.right.font, b.text.font);
  EXPECT_EQ(b.right.logFont.lfHeight, -::MulDiv(9, ScreenDpiY(), 72));
  EXPECT_EQ(std::wstring(b.right.logFont.lfFaceName), LoadStringOrEnglish(IDS_FONT_FACE).Str());

  // White panel over the message, the dialog's own colour in the button row.
  EXPECT_EQ(panelCorner, RGB(255, 255, 255));
  EXPECT_EQ(panelBesideText, RGB(255, 255, 255));
  EXPECT_EQ(buttonRow, ::GetSysColor(COLOR_BTNFACE));

  // Centred on the work area (no owner, no main window).
  const int cx = (b.window.left + b.window.right) / 2, cy = (b.window.top + b.window.bottom) / 2;
  EXPECT_LE(std::abs(cx - (work.left + work.right) / 2), 1);
  EXPECT_LE(std::abs(cy - (work.top + work.bottom) / 2), 1);
}

TEST(MessageBoxWindow, OkCancelPairLayout) {
  ASSERT_EQ(ScreenDpiX(), 96);
  const Shown s = ShowAndAct(L"Install now?", L"Halvo Widget", L"Cancel", L"OK",
                             Action::ClickLeft);
  ASSERT_TRUE(s.seen);
  const boxprobe::Snapshot& b = s.snap;
  const int client = Width(b.client);
  EXPECT_EQ(client, 244);
  ASSERT_TRUE(b.left.visible);
  ASSERT_TRUE(b.right.visible);
  EXPECT_EQ(b.left.text, L"OK");
  EXPECT_EQ(b.right.text, L"Cancel");
  EXPECT_EQ(Width(b.right.rect), 75);
  EXPECT_EQ(Width(b.left.rect), 75);
  EXPECT_EQ(b.right.rect.left, client - 85);
  EXPECT_EQ(b.left.rect.left, client - 169);
  EXPECT_EQ(b.left.rect.top, b.right.rect.top);
  EXPECT_EQ(b.caption, L"Halvo Widget");
}

TEST(MessageBoxWindow, AnswersOfEachButtonAndOfClosing) {
  struct Case {
    const wchar_t* b1;
    const wchar_t* b2;
    Action action;
    INT_PTR expected;
  } cases[] = {
      {L"Cancel", L"OK", Action::ClickLeft, IDYES},  {L"Cancel", L"OK", Action::ClickRight, IDNO},
      {L"Cancel", L"OK", Action::Close, IDCANCEL},   {L"Cancel", L"OK", Action::SysClose, IDCANCEL},
      {L"OK", nullptr, Action::ClickRight, IDOK},    {L"OK", nullptr, Action::Close, IDCANCEL},
      {L"OK", nullptr, Action::SysClose, IDCANCEL},  {nullptr, L"Go", Action::ClickRight, IDOK},
      {nullptr, nullptr, Action::ClickRight, IDOK},
  };
  for (const Case& c : cases) {
    const Shown s = ShowAndAct(L"Question?", L"Caption", c.b1, c.b2, c.action);
    ASSERT_TRUE(s.seen);
    EXPECT_EQ(s.result, c.expected) << (c.b1 ? c.b1 : L"-") << "/" << (c.b2 ? c.b2 : L"-") << " action "
                                    << static_cast<int>(c.action);
  }
  // A single label given as the second one still shows on the right-hand button.
  const Shown s = ShowAndAct(L"Question?", L"Caption", nullptr, L"Go", Action::ClickRight);
  EXPECT_EQ(s.snap.right.text, L"Go");
  EXPECT_FALSE(s.snap.left.visible);
}

TEST(MessageBoxWindow, EscapeAndHelpLeaveTheBoxOpen) {
  for (const wchar_t* second : {static_cast<const wchar_t*>(nullptr), L"OK"}) {
    bool openAfterEscape = false, openAfterHelp = false;
    CNormalMessageBox box;
    box.SetContent(L"Still here?", L"Caption", L"Cancel", second);
    bool seen = false;
    const INT_PTR result = boxprobe::Run([&] { return box.DoModal(); },
                                         [&](HWND h, int tick) {
                                           if (tick == 0) {
                                             HWND focus = ::GetFocus();
                                             ::PostMessageW(focus ? focus : h, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
                                             ::PostMessageW(focus ? focus : h, WM_KEYUP, VK_ESCAPE, 0xC0010001);
                                             return false;
                                           }
                                           if (tick == 2) {
                                             openAfterEscape = ::IsWindowVisible(h);
                                             HELPINFO help{};
                                             help.cbSize = sizeof help;
                                             help.iContextType = HELPINFO_WINDOW;
                                             help.hItemHandle = h;
                                             ::SendMessageW(h, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
                                             return false;
                                           }
                                           if (tick == 4) {
                                             openAfterHelp = ::IsWindowVisible(h);
                                             boxprobe::Click(h, 1001);
                                             return true;
                                           }
                                           return false;
                                         },
                                         &seen);
    ASSERT_TRUE(seen);
    EXPECT_TRUE(openAfterEscape) << (second ? "two buttons" : "one button");
    EXPECT_TRUE(openAfterHelp);
    EXPECT_EQ(result, second ? IDNO : IDOK);
  }
}

TEST(MessageBoxWindow, SettingChangeRepaintsTheWholeBox) {
  CNormalMessageBox box;
  box.SetContent(L"Colours may change.", L"Caption", L"OK", nullptr);
  bool dirtyBefore = true, dirtyAfter = false;
  boxprobe::Run([&] { return box.DoModal(); },
                [&](HWND h, int) {
                  ::UpdateWindow(h);
                  ::ValidateRect(h, nullptr);
                  dirtyBefore = ::GetUpdateRect(h, nullptr, FALSE);
                  ::SendMessageW(h, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
                  RECT dirty{};
                  dirtyAfter = ::GetUpdateRect(h, &dirty, FALSE);
                  RECT client{};
                  ::GetClientRect(h, &client);
                  dirtyAfter = dirtyAfter && ::EqualRect(&dirty, &client);
                  ::PostMessageW(h, WM_CLOSE, 0, 0);
                  return true;
                });
  EXPECT_FALSE(dirtyBefore);
  EXPECT_TRUE(dirtyAfter) << "the whole client area is invalidated";
}

// A message whose one-line extent in the box's font is 401 to 405 pixels.
std::wstring MessageJustOver400(HFONT font) {
  HDC dc = ::GetDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, font);
  auto width = [&](const std::wstring& s) {
    SIZE size{};
    ::GetTextExtentPoint32W(dc, s.c_str(), static_cast<int>(s.size()), &size);
    return static_cast<int>(size.cx);
  };
  std::wstring text = L"The update changes settings of this computer";
  while (width(text + L" and more") <= 390) text += L" and more";
  std::wstring result;
  for (const wchar_t* tail : {L"i", L"l", L".", L"!", L"'", L"j"}) {
    std::wstring t = text;
    while (width(t) <= 400) t += tail;
    if (width(t) <= 405) {
      result = t;
      break;
    }
  }
  ::SelectObject(dc, old);
  ::ReleaseDC(nullptr, dc);
  return result;
}

HFONT BoxFont() {
  HDC dc = ::GetDC(nullptr);
  const int height = -::MulDiv(9, ::GetDeviceCaps(dc, LOGPIXELSY), 72);
  ::ReleaseDC(nullptr, dc);
  return ::CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, 0, 0, 0, FF_SWISS,
                       LoadStringOrEnglish(IDS_FONT_FACE));
}

TEST(MessageBoxWindow, MessageJustOverTheMaximumKeepsItsWidthAndGetsTwoLines) {
  ASSERT_EQ(ScreenDpiX(), 96);
  ASSERT_GE(::GetSystemMetrics(SM_CXSCREEN), 492) << "needs the 400-unit maximum";
  HFONT font = BoxFont();
  const std::wstring message = MessageJustOver400(font);
  ::DeleteObject(font);
  ASSERT_FALSE(message.empty());
  const Shown s = ShowAndAct(message.c_str(), L"Caption", L"OK", nullptr, Action::ClickRight);
  ASSERT_TRUE(s.seen);
  ASSERT_GT(s.messageExtent.cx, 400);
  ASSERT_LE(s.messageExtent.cx, 405);
  EXPECT_EQ(Width(s.snap.text.rect), s.messageExtent.cx);
  EXPECT_EQ(Height(s.snap.text.rect), 2 * s.messageExtent.cy);
  EXPECT_EQ(Width(s.snap.client), s.messageExtent.cx + 44);
  EXPECT_EQ(Height(s.snap.client), 2 * s.messageExtent.cy + 87);
}

TEST(MessageBoxWindow, LongMessageWrapsAtTheMaximum) {
  ASSERT_EQ(ScreenDpiX(), 96);
  ASSERT_GE(::GetSystemMetrics(SM_CXSCREEN), 492);
  std::wstring message;
  for (int i = 0; i < 12; ++i) message += L"This sentence is part of a long notice. ";
  const Shown s = ShowAndAct(message.c_str(), L"Caption", L"OK", nullptr, Action::ClickRight);
  ASSERT_TRUE(s.seen);
  ASSERT_GT(s.messageExtent.cx, 405);
  const int lines = (s.messageExtent.cx + 399) / 400;
  EXPECT_EQ(Width(s.snap.text.rect), 400);
  EXPECT_EQ(Height(s.snap.text.rect), lines * s.messageExtent.cy);
  EXPECT_EQ(Width(s.snap.client), 444);
}

TEST(MessageBoxWindow, LineFeedsInAMessageThatFitsKeepOneLineHeight) {
  const std::wstring message = L"First line.\nSecond line.";
  const Shown s = ShowAndAct(message.c_str(), L"Caption", L"OK", nullptr, Action::ClickRight);
  ASSERT_TRUE(s.seen);
  ASSERT_LE(s.messageExtent.cx, Px(400));
  EXPECT_EQ(s.snap.text.text, message);
  EXPECT_EQ(Height(s.snap.text.rect), s.messageExtent.cy);
  EXPECT_EQ(Width(s.snap.client), Px(244));
}

TEST(MessageBoxWindow, ScreenshotsOfEnglishAndJapaneseBoxes) {
  CString ok, cancel, failed, code;
  ASSERT_TRUE(LoadStringForLanguage(ok, nullptr, IDS_OK, 0x0411));
  ASSERT_TRUE(LoadStringForLanguage(cancel, nullptr, IDS_CANCEL, 0x0411));
  ASSERT_TRUE(LoadStringForLanguage(failed, nullptr, IDS_SETUP_FAILED, 0x0411));
  ASSERT_TRUE(LoadStringForLanguage(code, nullptr, IDS_ERROR_1002, 0x0411));
  struct Shot {
    std::wstring message, b1, b2;
    const wchar_t* file;
  } shots[] = {
      {L"Do you want to install the update now?", L"Cancel", L"OK", L"messagebox-ok-cancel.bmp"},
      {(failed + code).Str(), ok.Str(), L"", L"messagebox-japanese-result.bmp"},
      {L"\x66F4\x65B0\x3092\x30A4\x30F3\x30B9\x30C8\x30FC\x30EB\x3057\x307E\x3059\x304B\xFF1F", cancel.Str(), ok.Str(),
       L"messagebox-japanese-question.bmp"},
  };
  for (const Shot& shot : shots) {
    CNormalMessageBox box;
    box.SetContent(shot.message.c_str(), L"Halvo Bundrel", shot.b1.c_str(), shot.b2.c_str());
    bool seen = false;
    boxprobe::Run([&] { return box.DoModal(); },
                  [&](HWND h, int tick) {
                    if (tick == 0) {
                      ::UpdateWindow(h);
                      return false;
                    }
                    boxprobe::SaveScreenshot(h, boxprobe::ArtifactPath(shot.file));
                    ::PostMessageW(h, WM_CLOSE, 0, 0);
                    return true;
                  },
                  &seen);
    EXPECT_TRUE(seen) << shot.file;
  }
}

}  // namespace
