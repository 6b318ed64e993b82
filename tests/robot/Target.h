#pragma once
// The program under test as the robot sees it: its process tree and the top-level windows that
// the processes of that tree own.
#include <windows.h>

#include <string>
#include <vector>

#include "tests/robot/Json.h"

class CProcessTree {
 public:
  explicit CProcessTree(DWORD rootPid) : m_pids{rootPid} {}
  DWORD Root() const { return m_pids.front(); }
  // Adds every process whose parent is already known (children, grandchildren, ...). Known ids stay
  // known after their process ends, so an orphaned grandchild is still found.
  void Refresh();
  bool Contains(DWORD pid) const;
  const std::vector<DWORD>& Pids() const { return m_pids; }
  // Ends every known process that still runs, the root first so that it starts no more.
  void KillAll();

 private:
  std::vector<DWORD> m_pids;
};

// Top-level windows of the tree in z-order (topmost first), hidden ones included.
std::vector<HWND> TreeWindows(CProcessTree& tree);

bool ContainsNoCase(const std::wstring& haystack, const std::wstring& needle);
std::wstring ClassOf(HWND hwnd);
// Window text: WM_GETTEXT with a time limit, so that a hung target cannot stop the robot.
std::wstring TextOf(HWND hwnd);
DWORD PidOf(HWND hwnd);
bool HasTaskbarButton(HWND hwnd);
bool CoversPixels(HWND hwnd);

// Writes the description of a top-level window as a JSON object (after a Key or in an array).
void DescribeWindow(JsonLine& j, HWND hwnd, bool withControls);
// The same without controls, compared between samples by the watch.
std::wstring WindowSignature(HWND hwnd);

// Which window a step acts on.
struct Selector {
  bool bMain = false;         // first visible top-level window of the root process
  bool bLast = false;         // the window that the last wait-window found
  bool bAnyVisibility = false;
  bool bHasClass = false, bHasTitle = false, bTitleSub = false;
  std::wstring strClass, strTitle;
  int nIndex = 0;
  DWORD dwPid = 0;
  HWND hwnd = nullptr;
  bool Empty() const {
    return !bMain && !bLast && !bHasClass && !bHasTitle && !dwPid && !hwnd && nIndex == 0;
  }
};

// Parses "main", "last" or "key=value;key=value" (class, title with "~" for a substring, index,
// pid, hwnd, visible=any). Returns false with a message on bad input.
bool ParseSelector(const std::wstring& text, Selector& sel, std::wstring& error);
// Finds the window; requireSize also asks for a non-zero window rectangle.
HWND FindWindowBySelector(CProcessTree& tree, const Selector& sel, HWND last, bool requireSize);
std::wstring DescribeSelector(const Selector& sel);
