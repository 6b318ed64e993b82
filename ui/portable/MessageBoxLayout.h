#pragma once
// Layout arithmetic of the program's own message box. Lengths are held in 96-DPI units and scaled
// to pixels by the screen's DPI; text extents come in pixels from a measuring callback, so the same
// code runs against GDI in the box and against a table of widths in tests.
#include <functional>
#include <string>

namespace msgbox {

// Pixel width of one line of text in the message font (line feeds are measured as characters).
using MeasureFn = std::function<int(const std::wstring&)>;

// Fixed lengths of the box, in 96-DPI units.
constexpr int kMargin = 22;             // around the message, on every side of the panel
constexpr int kMinTextWidth = 200;      // a message that fits on one line is never narrower
constexpr int kMaxTextWidthCap = 400;   // the message area is never wider
constexpr int kScreenReserve = 92;      // screen width the message area leaves free
constexpr int kOverflowSlack = 5;       // a line at most this much too wide keeps its own width
constexpr int kButtonGap = 10;          // panel to buttons, buttons to bottom and right edges
constexpr int kButtonSpacing = 9;       // between the two buttons
constexpr int kButtonHeight = 23;
constexpr int kButtonRowHeight = 33;    // buttons and the gap below them

// a * b / c rounded to the nearest integer (halves away from zero), -1 when c is 0: the platform's
// MulDiv, so that both builds agree to the pixel.
int MulDivRound(int a, int b, int c);

// Widest message area for a screen of that many pixels at that horizontal DPI: the screen width in
// 96-DPI units less 92, capped at 400 (no lower bound).
int MaxTextWidth(int screenWidthPx, int dpiX);

// Number of lines a message needs when each line may be widthPx pixels wide: every piece ended by
// a line feed counts ceil(width / widthPx) lines (an empty one counts one), the piece after the last
// line feed counts ceil(width / widthPx) lines when it is not empty. An estimate: the static control
// itself breaks at words.
int WrappedLineCount(const std::wstring& message, int widthPx, const MeasureFn& measure);

// Width in 96-DPI units of a button whose label is labelPx pixels wide.
int ButtonWidth(int labelPx, int dpiX);

struct LayoutInput {
  std::wstring message;
  std::wstring button1;  // first label: the right-hand button 1001
  std::wstring button2;  // second label: the left-hand button 1000
  int screenWidthPx = 0;
  int dpiX = 96;
  int dpiY = 96;
  int lineHeightPx = 0;  // height of the message's one-line extent in the message font
};

struct ButtonPlace {
  bool shown = false;
  std::wstring label;
  int x = 0;      // 96-DPI units, from the client area's left edge
  int width = 0;  // 96-DPI units
};

struct Layout {
  int textWidth = 0;    // message area, 96-DPI units
  int textHeight = 0;
  int clientWidth = 0;  // textWidth + 44
  int panelHeight = 0;  // textHeight + 44
  int buttonTop = 0;    // panelHeight + 10
  int clientHeight = 0; // buttonTop + 33
  ButtonPlace right;    // button 1001
  ButtonPlace left;     // button 1000, shown only when both labels are set
  bool twoButtons = false;
};

Layout ComputeLayout(const LayoutInput& input, const MeasureFn& measure);

}  // namespace msgbox
