// Warnings, failure boxes and the result report, shown for real and read back from their windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "app/Reports.h"
#include "res/resource.h"
#include "tests/win/BoxProbe.h"
#include "ui/Strings.h"

namespace {

bool EnglishUi() {
  // LoadStringOrEnglish follows the thread's UI language; compare one string with its English text.
  return LoadStringOrEnglish(IDS_SETUP_FAILED) == L"Setup failed.";
}

struct Seen {
  bool seen = false;
  std::wstring caption;
  std::wstring className;
  std::vector<std::wstring> statics;
  boxprobe::Snapshot snap;
  DWORD thread = 0;
  bool warningIcon = false;
};

// Reads whatever box appears and closes it with its first push button.
boxprobe::Step ReadAndClose(Seen& out, int closeId) {
  return [&out, closeId](HWND h, int) {
    out.caption = boxprobe::WindowText(h);
    wchar_t cls[32] = {};
    ::GetClassNameW(h, cls, 32);
    out.className = cls;
    out.statics = boxprobe::StaticTexts(h);
    out.snap = boxprobe::Read(h);
    out.thread = ::GetWindowThreadProcessId(h, nullptr);
    HICON warning = ::LoadIconW(nullptr, IDI_WARNING);
    for (HWND c = ::GetWindow(h, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
      if (reinterpret_cast<HICON>(::SendMessageW(c, STM_GETICON, 0, 0)) == warning) out.warningIcon = true;
    }
    ::PostMessageW(h, WM_COMMAND, MAKEWPARAM(closeId, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(h, closeId)));
    return true;
  };
}

bool Contains(const std::vector<std::wstring>& texts, const std::wstring& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

TEST(Reports, WarningBoxesShowTheirStrings) {
  CString noSpace;
  LoadUiString(IDS_NO_DISK_SPACE, noSpace);
  CString withDrive;
  withDrive.Format(noSpace, L"D");
  struct Case {
    UINT code;
    const wchar_t* text;
    UINT id;
    std::wstring expected;
  } cases[] = {
      {101, L"D", IDS_NO_DISK_SPACE, withDrive.Str()},
      {101, nullptr, IDS_NO_DISK_SPACE, noSpace.Str()},
      {102, L"ignored", IDS_NOT_HALVO_PC, L""},
      {103, nullptr, IDS_CANT_EXTRACT, L""},
      {104, nullptr, IDS_NOT_ADMIN, L""},
  };
  for (Case& c : cases) {
    if (c.expected.empty()) {
      CString s;
      LoadUiString(c.id, s);
      c.expected = s.Str();
    }
    ASSERT_FALSE(c.expected.empty());
    Seen seen;
    boxprobe::Run(
        [&] {
          ShowWarningBox(c.code, c.text);
          return 0;
        },
        ReadAndClose(seen, IDOK), &seen.seen);
    ASSERT_TRUE(seen.seen) << c.code;
    EXPECT_EQ(seen.caption, L"Halvo Bundrel");
    EXPECT_TRUE(Contains(seen.statics, c.expected)) << c.code;
    EXPECT_TRUE(seen.warningIcon) << c.code;
  }
  EXPECT_NE(withDrive.Find(L"(D:)"), -1);
  EXPECT_NE(noSpace.Find(L"%s"), -1);
  if (EnglishUi()) {
    EXPECT_EQ(withDrive, L"There is not enough space on Local Disk (D:). Increase the amount of free space and try again.");
  }

  bool seen = true;
  boxprobe::Run(
      [] {
        ShowWarningBox(105, L"D");
        return 0;
      },
      [](HWND h, int) {
        ::PostMessageW(h, WM_CLOSE, 0, 0);
        return true;
      },
      &seen);
  EXPECT_FALSE(seen) << "an unknown warning code shows nothing";
}

TEST(Reports, FailureBoxRunsOnTheCallingThread) {
  for (UINT id : {IDS_ERROR_1001, IDS_ERROR_1003}) {
    Seen seen;
    DWORD worker = 0;
    std::thread t([&] {
      worker = ::GetCurrentThreadId();
      boxprobe::Run(
          [&] {
            ShowFailureBox(id);
            return 0;
          },
          ReadAndClose(seen, 1001), &seen.seen);
    });
    t.join();
    ASSERT_TRUE(seen.seen) << id;
    EXPECT_EQ(seen.thread, worker);
    EXPECT_EQ(seen.caption, L"Error");
    EXPECT_EQ(seen.snap.text.text, (LoadStringOrEnglish(IDS_SETUP_FAILED) + LoadStringOrEnglish(id)).Str());
    EXPECT_EQ(seen.snap.right.text, LoadStringOrEnglish(IDS_OK).Str());
    EXPECT_FALSE(seen.snap.left.visible);
    if (EnglishUi()) {
      EXPECT_EQ(seen.snap.text.text, id == IDS_ERROR_1001 ? L"Setup failed.(Error Code: 1001)"
                                                          : L"Setup failed.(Error Code: 1003)");
    }
  }
}

TEST(Reports, ResultAgainstSuccessCodes) {
  const std::wstring success = LoadStringOrEnglish(IDS_SETUP_SUCCEEDED).Str();
  const std::wstring failure = (LoadStringOrEnglish(IDS_SETUP_FAILED) + LoadStringOrEnglish(IDS_ERROR_1002)).Str();
  if (EnglishUi()) {
    ASSERT_EQ(success, L"Setup completed successfully.");
    ASSERT_EQ(failure, L"Setup failed.(Error Code: 1002)");
  }
  struct Case {
    DWORD exitCode;
    const wchar_t* showResult;
    const wchar_t* codes;
    const std::wstring* expected;  // null: no box
  } cases[] = {
      {3010, L"1", L"0;3010", &success},
      {1603, L"1", L"0", &failure},
      {0, L"1", L"", &failure},
      {1603, L"1", L"", &failure},
      {0xFFFFFFFF, L"1", L"-1", &success},
      {0, L"1", L" 0 ;", &success},
      {0, L"1", L"abc", &success},   // not a number: counts as 0
      {5, L"1", L";;5;", &success},
      {0, L"true", L"0", nullptr},
      {0, L"01", L"0", nullptr},
      {0, L" 1", L"0", nullptr},
      {0, L"", L"0", nullptr},
  };
  for (const Case& c : cases) {
    Seen seen;
    boxprobe::Run(
        [&] {
          ReportResultFor(c.exitCode, c.showResult, c.codes, L"Halvo Widget Updater");
          return 0;
        },
        ReadAndClose(seen, 1001), &seen.seen);
    const std::string label = std::to_string(c.exitCode);
    if (!c.expected) {
      EXPECT_FALSE(seen.seen) << label;
      continue;
    }
    ASSERT_TRUE(seen.seen) << label;
    EXPECT_EQ(seen.caption, L"Halvo Widget Updater");
    EXPECT_EQ(seen.snap.text.text, *c.expected) << label;
    EXPECT_EQ(seen.snap.right.text, LoadStringOrEnglish(IDS_OK).Str());
    EXPECT_FALSE(seen.snap.left.visible);
  }
}

}  // namespace
