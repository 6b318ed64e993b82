#include "ui/portable/MessageBoxLayout.h"

#include <cstdint>

namespace msgbox {

namespace {

int ScaleTo(int length, int dpi) { return MulDivRound(length, dpi, 96); }
int ScaleBack(int pixels, int dpi) { return MulDivRound(pixels, 96, dpi); }

// ceil(widthPx / lineWidthPx) for non-negative widths. A line width below one pixel (a screen too
// narrow for any message area) counts as one pixel rather than dividing by zero.
int LinesFor(int widthPx, int lineWidthPx) {
  if (lineWidthPx < 1) lineWidthPx = 1;
  if (widthPx <= 0) return 0;
  return (widthPx + lineWidthPx - 1) / lineWidthPx;
}

}  // namespace

int MulDivRound(int a, int b, int c) {
  if (c == 0) return -1;
  int64_t product = static_cast<int64_t>(a) * b;
  const bool negative = (product < 0) != (c < 0);
  const int64_t num = product < 0 ? -product : product;
  const int64_t den = c < 0 ? -static_cast<int64_t>(c) : c;
  const int64_t q = (num + den / 2) / den;
  const int64_t r = negative ? -q : q;
  if (r > INT32_MAX || r < INT32_MIN) return -1;
  return static_cast<int>(r);
}

int MaxTextWidth(int screenWidthPx, int dpiX) {
  const int width = MulDivRound(screenWidthPx, 96, dpiX) - kScreenReserve;
  return width > kMaxTextWidthCap ? kMaxTextWidthCap : width;
}

int WrappedLineCount(const std::wstring& message, int widthPx, const MeasureFn& measure) {
  int lines = 0;
  size_t start = 0;
  for (;;) {
    const size_t lf = message.find(L'\n', start);
    if (lf == std::wstring::npos) break;
    if (lf == start) {
      ++lines;  // an empty line still takes a line
    } else {
      lines += LinesFor(measure(message.substr(start, lf - start)), widthPx);
    }
    start = lf + 1;
  }
  if (start < message.size()) lines += LinesFor(measure(message.substr(start)), widthPx);
  return lines;
}

int ButtonWidth(int labelPx, int dpiX) {
  if (labelPx < ScaleTo(55, dpiX)) return 75;
  if (labelPx < ScaleTo(72, dpiX)) return 92;
  return ScaleBack(labelPx, dpiX) + 20;
}

Layout ComputeLayout(const LayoutInput& in, const MeasureFn& measure) {
  Layout out;
  const int maxWidth = MaxTextWidth(in.screenWidthPx, in.dpiX);
  const int cx = measure(in.message);
  int heightPx = 0;
  if (cx <= ScaleTo(maxWidth, in.dpiX)) {
    // Fits on one line: one line high, whatever line feeds it holds.
    heightPx = in.lineHeightPx;
    out.textWidth = cx > ScaleTo(kMinTextWidth, in.dpiX) ? ScaleBack(cx, in.dpiX) : kMinTextWidth;
  } else {
    const int lineWidthPx = ScaleTo(maxWidth, in.dpiX);
    heightPx = WrappedLineCount(in.message, lineWidthPx, measure) * in.lineHeightPx;
    out.textWidth = cx <= ScaleTo(maxWidth + kOverflowSlack, in.dpiX) ? ScaleBack(cx, in.dpiX) : maxWidth;
  }
  out.textHeight = ScaleBack(heightPx, in.dpiY);
  out.panelHeight = out.textHeight + 2 * kMargin;
  out.clientWidth = out.textWidth + 2 * kMargin;
  out.buttonTop = out.panelHeight + kButtonGap;
  out.clientHeight = out.buttonTop + kButtonRowHeight;

  out.twoButtons = !in.button1.empty() && !in.button2.empty();
  if (out.twoButtons) {
    out.right.shown = true;
    out.right.label = in.button1;
    out.right.width = ButtonWidth(measure(in.button1), in.dpiX);
    out.right.x = out.clientWidth - out.right.width - kButtonGap;
    out.left.shown = true;
    out.left.label = in.button2;
    out.left.width = ButtonWidth(measure(in.button2), in.dpiX);
    out.left.x = out.right.x - out.left.width - kButtonSpacing;
  } else {
    out.right.shown = true;
    out.right.label = !in.button1.empty() ? in.button1 : in.button2;
    out.right.width = ButtonWidth(measure(out.right.label), in.dpiX);
    out.right.x = out.clientWidth - out.right.width - kButtonGap;
  }
  return out;
}

}  // namespace msgbox
