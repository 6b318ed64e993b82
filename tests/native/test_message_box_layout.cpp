#include <gtest/gtest.h>

#include <map>
#include <string>

#include "ui/portable/MessageBoxLayout.h"

namespace {

using msgbox::ComputeLayout;
using msgbox::Layout;
using msgbox::LayoutInput;

// A proportional "font": each character has its width in pixels; unknown characters use the
// default. Line feeds and carriage returns are measured like any other character.
struct FakeFont {
  int defaultWidth = 6;
  std::map<wchar_t, int> widths;
  int Measure(const std::wstring& s) const {
    int w = 0;
    for (wchar_t c : s) {
      auto it = widths.find(c);
      w += it != widths.end() ? it->second : defaultWidth;
    }
    return w;
  }
  msgbox::MeasureFn Fn() const {
    return [this](const std::wstring& s) { return Measure(s); };
  }
};

LayoutInput Input(std::wstring message, std::wstring b1, std::wstring b2, int screen = 1024, int dpi = 96,
                  int lineHeight = 15) {
  LayoutInput in;
  in.message = std::move(message);
  in.button1 = std::move(b1);
  in.button2 = std::move(b2);
  in.screenWidthPx = screen;
  in.dpiX = dpi;
  in.dpiY = dpi;
  in.lineHeightPx = lineHeight;
  return in;
}

TEST(MessageBoxLayoutArithmetic, MulDivRoundsLikeThePlatform) {
  EXPECT_EQ(msgbox::MulDivRound(22, 144, 96), 33);
  EXPECT_EQ(msgbox::MulDivRound(23, 144, 96), 35);   // 34.5 rounds up
  EXPECT_EQ(msgbox::MulDivRound(-3, 1, 2), -2);      // halves away from zero
  EXPECT_EQ(msgbox::MulDivRound(3, 1, -2), -2);
  EXPECT_EQ(msgbox::MulDivRound(7, 1, 3), 2);
  EXPECT_EQ(msgbox::MulDivRound(5, 7, 0), -1);
  EXPECT_EQ(msgbox::MulDivRound(2000000000, 3, 2), -1);  // overflows 32 bits
}

TEST(MessageBoxLayoutArithmetic, MaxTextWidthFollowsScreenAndDpi) {
  struct Case { int screen, dpi, expected; } cases[] = {
      {1024, 96, 400}, {800, 96, 400}, {480, 96, 388}, {492, 96, 400}, {491, 96, 399},
      {1280, 144, 400},  // 853 units wide
      {480, 144, 228},   // 320 units - 92
      {200, 96, 108},    // no lower bound
  };
  for (const Case& c : cases)
    EXPECT_EQ(msgbox::MaxTextWidth(c.screen, c.dpi), c.expected) << c.screen << " px at " << c.dpi;
}

TEST(MessageBoxLayoutArithmetic, ButtonWidthThresholds) {
  struct Case { int labelPx, dpi, expected; } cases[] = {
      {0, 96, 75},   {54, 96, 75},  {55, 96, 92},  {71, 96, 92},  {72, 96, 92},   {73, 96, 93},
      {91, 96, 111}, {92, 96, 112}, {180, 96, 200},
      // 144 DPI: 55 scales to 83 (82.5 rounded), 72 to 108; wide labels convert back to units.
      {82, 144, 75}, {83, 144, 92}, {107, 144, 92}, {108, 144, 92}, {150, 144, 120},
  };
  for (const Case& c : cases)
    EXPECT_EQ(msgbox::ButtonWidth(c.labelPx, c.dpi), c.expected) << c.labelPx << " px at " << c.dpi;
}

TEST(MessageBoxLayoutArithmetic, WrappedLineCountPerPiece) {
  FakeFont font;
  font.defaultWidth = 10;
  font.widths[L'\n'] = 7;
  font.widths[L'\r'] = 4;
  const std::wstring x50(50, L'x'), x30(30, L'x'), x40(40, L'x');
  struct Case { std::wstring text; int lines; } cases[] = {
      {x50, 2},                            // 500 px over 400: two lines
      {x40, 1},                            // exactly one width
      {x50 + L"\n\n" + x30 + L"\n", 4},    // 2 + empty line 1 + 1, nothing after the last line feed
      {L"\n", 1},
      {L"\n\n", 2},
      {x40 + L"\r\n" + L"y", 3},           // the carriage return stays in the piece: 404 px = 2 lines
      {L"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(msgbox::WrappedLineCount(c.text, 400, font.Fn()), c.lines) << c.text.size();
}

TEST(MessageBoxLayoutArithmetic, NarrowScreenDoesNotDivideByZero) {
  FakeFont font;
  // A 92-pixel screen leaves a message area of 0 units; the estimate must still terminate sanely.
  const Layout l = ComputeLayout(Input(L"Setup failed.", L"OK", L"", 92), font.Fn());
  EXPECT_EQ(l.textWidth, 0);
  EXPECT_EQ(l.textHeight, 13 * 6 * 15);  // one pixel per line: 78 lines of 15
}

TEST(MessageBoxLayout, ShortMessageOneButton) {
  FakeFont font;  // "Setup failed." = 78 px
  const Layout l = ComputeLayout(Input(L"Setup failed.", L"OK", L""), font.Fn());
  EXPECT_EQ(l.textWidth, 200);
  EXPECT_EQ(l.textHeight, 15);
  EXPECT_EQ(l.clientWidth, 244);
  EXPECT_EQ(l.panelHeight, 59);
  EXPECT_EQ(l.buttonTop, 69);
  EXPECT_EQ(l.clientHeight, 15 + 87);
  EXPECT_FALSE(l.twoButtons);
  EXPECT_TRUE(l.right.shown);
  EXPECT_EQ(l.right.label, L"OK");
  EXPECT_EQ(l.right.width, 75);
  EXPECT_EQ(l.right.x, 159);
  EXPECT_FALSE(l.left.shown);
}

TEST(MessageBoxLayout, OneLabelEitherSideGoesOnTheRightButton) {
  FakeFont font;
  for (const auto& [b1, b2, shown] : {std::tuple<std::wstring, std::wstring, std::wstring>{L"", L"Go", L"Go"},
                                      {L"Stop", L"", L"Stop"},
                                      {L"", L"", L""}}) {
    const Layout l = ComputeLayout(Input(L"m", b1, b2), font.Fn());
    EXPECT_FALSE(l.twoButtons);
    EXPECT_EQ(l.right.label, shown);
    EXPECT_EQ(l.right.width, 75);
    EXPECT_EQ(l.right.x, 159);
    EXPECT_FALSE(l.left.shown);
  }
}

TEST(MessageBoxLayout, OkCancelPairSitsRightAligned) {
  FakeFont font;
  const Layout l = ComputeLayout(Input(L"Continue with the installation?", L"Cancel", L"OK"), font.Fn());
  ASSERT_TRUE(l.twoButtons);
  EXPECT_EQ(l.right.label, L"Cancel");
  EXPECT_EQ(l.left.label, L"OK");
  EXPECT_EQ(l.right.width, 75);
  EXPECT_EQ(l.left.width, 75);
  EXPECT_EQ(l.right.x, l.clientWidth - 85);
  EXPECT_EQ(l.left.x, l.clientWidth - 169);
}

TEST(MessageBoxLayout, WideLabelsWidenTheirButtons) {
  FakeFont font;
  font.defaultWidth = 10;
  // 6 chars = 60 px -> 92; 12 chars = 120 px -> 140.
  const Layout l = ComputeLayout(Input(L"m", L"Cancel", L"Yes, go on!!"), font.Fn());
  EXPECT_EQ(l.right.width, 92);
  EXPECT_EQ(l.left.width, 140);
  EXPECT_EQ(l.right.x, 244 - 92 - 10);
  EXPECT_EQ(l.left.x, 244 - 92 - 10 - 140 - 9);
}

TEST(MessageBoxLayout, WidthAroundTheMaximum) {
  FakeFont font;
  font.defaultWidth = 1;  // width in pixels = number of characters
  struct Case { int cx, width, lines; } cases[] = {
      {150, 200, 1}, {200, 200, 1}, {201, 201, 1}, {400, 400, 1},
      {401, 401, 2}, {402, 402, 2},  // just over: own width, yet two lines high
      {405, 405, 2}, {406, 400, 2}, {801, 400, 3},
  };
  for (const Case& c : cases) {
    const Layout l = ComputeLayout(Input(std::wstring(static_cast<size_t>(c.cx), L'w'), L"OK", L""), font.Fn());
    EXPECT_EQ(l.textWidth, c.width) << c.cx;
    EXPECT_EQ(l.textHeight, c.lines * 15) << c.cx;
    EXPECT_EQ(l.clientWidth, c.width + 44) << c.cx;
  }
}

TEST(MessageBoxLayout, NarrowScreenCapsTheWidth) {
  FakeFont font;
  font.defaultWidth = 1;
  // 480-pixel screen: at most 388 units; 393 px is within the slack, 394 px is not.
  Layout l = ComputeLayout(Input(std::wstring(393, L'w'), L"OK", L"", 480), font.Fn());
  EXPECT_EQ(l.textWidth, 393);
  EXPECT_EQ(l.textHeight, 30);
  l = ComputeLayout(Input(std::wstring(394, L'w'), L"OK", L"", 480), font.Fn());
  EXPECT_EQ(l.textWidth, 388);
  EXPECT_EQ(l.textHeight, 30);
  l = ComputeLayout(Input(std::wstring(500, L'w'), L"OK", L"", 480), font.Fn());
  EXPECT_EQ(l.textWidth, 388);
  EXPECT_EQ(l.textHeight, 30);
}

TEST(MessageBoxLayout, LineFeedsInAFittingMessageKeepOneLine) {
  FakeFont font;
  const Layout l = ComputeLayout(Input(L"One.\nTwo.\nThree.", L"OK", L""), font.Fn());
  EXPECT_EQ(l.textHeight, 15);
  EXPECT_EQ(l.textWidth, 200);
}

TEST(MessageBoxLayout, LineFeedsInAWideMessageCountPieces) {
  FakeFont font;
  font.defaultWidth = 10;
  font.widths[L'\n'] = 7;
  const std::wstring text = std::wstring(50, L'x') + L"\n\n" + std::wstring(30, L'x') + L"\n";
  const Layout l = ComputeLayout(Input(text, L"OK", L""), font.Fn());
  EXPECT_EQ(l.textWidth, 400);
  EXPECT_EQ(l.textHeight, 4 * 15);
}

TEST(MessageBoxLayout, HighDpiScalesThresholdsAndConvertsBack) {
  FakeFont font;
  font.defaultWidth = 9;
  // 144 DPI, 1920-pixel screen (1280 units): maximum 400 units = 600 px; line height 23 px = 15 units.
  Layout l = ComputeLayout(Input(L"Setup failed.", L"OK", L"", 1920, 144, 23), font.Fn());
  EXPECT_EQ(l.textWidth, 200);
  EXPECT_EQ(l.textHeight, 15);
  EXPECT_EQ(l.clientWidth, 244);
  EXPECT_EQ(l.right.width, 75);  // "OK" = 18 px < 83
  EXPECT_EQ(l.right.x, 159);

  font.defaultWidth = 1;
  // 603 px: over 600, within 608 (405 scaled) -> 402 units, two lines of 23 px = 46 px = 31 units.
  l = ComputeLayout(Input(std::wstring(603, L'w'), L"OK", L"", 1920, 144, 23), font.Fn());
  EXPECT_EQ(l.textWidth, 402);
  EXPECT_EQ(l.textHeight, 31);
  // 609 px: beyond the slack, capped at 400 units.
  l = ComputeLayout(Input(std::wstring(609, L'w'), L"OK", L"", 1920, 144, 23), font.Fn());
  EXPECT_EQ(l.textWidth, 400);
  // 301 px is over 200 units (300 px): 201 units.
  l = ComputeLayout(Input(std::wstring(301, L'w'), L"OK", L"", 1920, 144, 23), font.Fn());
  EXPECT_EQ(l.textWidth, 201);
  EXPECT_EQ(l.textHeight, 15);
}

}  // namespace
