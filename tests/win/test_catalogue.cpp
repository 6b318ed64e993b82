// The package's question: catalogue files in a real folder, the real box, the real answer.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>

#include <string>
#include <thread>
#include <vector>

#include "res/resource.h"
#include "tests/win/BoxProbe.h"
#include "ui/MessageCatalogue.h"
#include "ui/Strings.h"
#include "ui/portable/LanguageList.h"

namespace {

std::string Utf8(const std::wstring& text) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

const std::wstring kEng = L"Install the Halvo update now?";
const std::wstring kDeu = L"Das Halvo-Update jetzt installieren?";
const std::wstring kJpn = L"Halvo\x306E\x66F4\x65B0\x3092\x4ECA\x3059\x3050\x30A4\x30F3\x30B9\x30C8\x30FC\x30EB\x3057\x307E\x3059\x304B\xFF1F";
const std::wstring kRus = L"\x0423\x0441\x0442\x0430\x043D\x043E\x0432\x0438\x0442\x044C \x043E\x0431\x043D\x043E\x0432\x043B\x0435\x043D\x0438\x0435?";

std::wstring CatalogueXml(const std::vector<std::pair<std::wstring, std::wstring>>& elements,
                       const std::wstring& rootAttributes = L"") {
  std::wstring xml = L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<MessageInfo" + rootAttributes + L">\r\n";
  for (const auto& [code, text] : elements) xml += L"  <" + code + L">" + text + L"</" + code + L">\r\n";
  return xml + L"</MessageInfo>\r\n";
}

CString Label(UINT id, WORD language) {
  CString text;
  LoadStringForLanguage(text, nullptr, id, language);
  return text;
}

enum class Action { ClickLeft, ClickRight, Close, SysClose };

struct Outcome {
  bool answer = false;
  BYTE showFlag = 1;
  bool seen = false;
  boxprobe::Snapshot snap;
};

class Catalogue : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    wchar_t dir[MAX_PATH] = {};
    ::GetTempFileNameW(temp, L"cat", 0, dir);
    ::DeleteFileW(dir);
    ASSERT_TRUE(::CreateDirectoryW(dir, nullptr));
    m_dir = dir;
  }
  void TearDown() override {
    ::DeleteFileW((m_dir + L"\\MessageInfo.xml").c_str());
    ::RemoveDirectoryW(m_dir.c_str());
  }
  void WriteCatalogue(const std::wstring& xml) {
    const std::string bytes = Utf8(xml);
    HANDLE f = ::CreateFileW((m_dir + L"\\MessageInfo.xml").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(f);
  }
  // Asks with the language list given (null: the platform's list), reads the box and acts on it.
  Outcome Ask(BYTE okOnly, const wchar_t* languages, Action action, BYTE showFlag = 1) {
    Outcome o;
    o.showFlag = showFlag;
    o.answer = boxprobe::Run(
        [&] {
          return languages ? AskUserForLanguages(o.showFlag, okOnly, m_dir, L"Halvo Widget Updater", languages)
                           : AskUser(o.showFlag, okOnly, m_dir, L"Halvo Widget Updater");
        },
        [&](HWND h, int) {
          o.snap = boxprobe::Read(h);
          switch (action) {
            case Action::ClickLeft: boxprobe::Click(h, 1000); break;
            case Action::ClickRight: boxprobe::Click(h, 1001); break;
            case Action::Close: ::PostMessageW(h, WM_CLOSE, 0, 0); break;
            case Action::SysClose: ::PostMessageW(h, WM_SYSCOMMAND, SC_CLOSE, 0); break;
          }
          return true;
        },
        &o.seen);
    return o;
  }

  std::wstring m_dir;
};

TEST(CatalogueLanguage, FirstCataloguedLanguageOfTheListWins) {
  struct Case {
    const wchar_t* list;
    uint16_t lang;
    const wchar_t* element;
  } cases[] = {
      {L"0422,", 0x0422, L"MessageInfo/RUS"},       {L"0407,0411,", 0x0407, L"MessageInfo/DEU"},
      {L"0809,0411,", 0x0411, L"MessageInfo/JPN"},  {L"", 0x0409, L"MessageInfo/ENG"},
      {L"0809,1409,", 0x0409, L"MessageInfo/ENG"},  {L"411,", 0x0411, L"MessageInfo/JPN"},
      {L",,0c0a,", 0x0C0A, L"MessageInfo/ESP"},     {L"zz,040C,", 0x040C, L"MessageInfo/FRA"},
  };
  for (const Case& c : cases) {
    const wchar_t* element = nullptr;
    EXPECT_EQ(ChooseCatalogueLanguage(c.list, element), c.lang) << c.list;
    EXPECT_STREQ(element, c.element) << c.list;
  }
}

TEST_F(Catalogue, MessageAndLabelsFollowTheLanguageList) {
  WriteCatalogue(CatalogueXml({{L"ENG", kEng}, {L"DEU", kDeu}, {L"JPN", kJpn}, {L"RUS", kRus}}));
  const CString okEn = Label(IDS_OK, 0x0409), cancelEn = Label(IDS_CANCEL, 0x0409);
  const CString okJa = Label(IDS_OK, 0x0411), cancelJa = Label(IDS_CANCEL, 0x0411);
  ASSERT_EQ(cancelEn, L"Cancel");
  ASSERT_EQ(cancelJa, L"\x30AD\x30E3\x30F3\x30BB\x30EB");
  struct Case {
    const wchar_t* list;
    std::wstring message;
    CString ok, cancel;
  } cases[] = {
      {L"0422,", kRus, okEn, cancelEn},        // Ukrainian reads the Russian text, English labels
      {L"0407,0411,", kDeu, okEn, cancelEn},   // no German strings: English labels
      {L"0809,0411,", kJpn, okJa, cancelJa},   // en-GB has no element; the system's Japanese wins
      {L"", kEng, okEn, cancelEn},
  };
  for (const Case& c : cases) {
    const Outcome o = Ask(0, c.list, Action::ClickLeft);
    ASSERT_TRUE(o.seen) << c.list;
    EXPECT_TRUE(o.answer);
    EXPECT_EQ(o.snap.text.text, c.message) << c.list;
    EXPECT_EQ(o.snap.left.text, c.ok.Str()) << c.list;
    EXPECT_EQ(o.snap.right.text, c.cancel.Str()) << c.list;
    EXPECT_EQ(o.snap.caption, L"Halvo Widget Updater");
  }
}

TEST_F(Catalogue, MissingLanguageFallsBackToEnglishTextAndLabels) {
  WriteCatalogue(CatalogueXml({{L"ENG", kEng}, {L"DEU", kDeu}}));
  const Outcome o = Ask(0, L"0411,", Action::ClickLeft);
  ASSERT_TRUE(o.seen);
  EXPECT_EQ(o.snap.text.text, kEng);
  EXPECT_EQ(o.snap.right.text, L"Cancel");
  EXPECT_EQ(o.snap.left.text, L"OK");
}

TEST_F(Catalogue, CatalogueWithDefaultNamespace) {
  WriteCatalogue(CatalogueXml({{L"ENG", kEng}, {L"JPN", kJpn}}, L" xmlns=\"urn:halvo:message-info\""));
  const Outcome o = Ask(0, L"0411,", Action::ClickLeft);
  ASSERT_TRUE(o.seen);
  EXPECT_TRUE(o.answer);
  EXPECT_EQ(o.snap.text.text, kJpn);
}

TEST_F(Catalogue, TwoButtonAnswers) {
  WriteCatalogue(CatalogueXml({{L"ENG", kEng}}));
  struct Case {
    Action action;
    bool goOn;
  } cases[] = {{Action::ClickLeft, true}, {Action::ClickRight, false}, {Action::Close, false}, {Action::SysClose, false}};
  for (const Case& c : cases) {
    const Outcome o = Ask(0, L"0409,", c.action);
    ASSERT_TRUE(o.seen);
    EXPECT_EQ(o.answer, c.goOn) << static_cast<int>(c.action);
    EXPECT_EQ(o.showFlag, 1);
    EXPECT_TRUE(o.snap.left.visible);
    EXPECT_TRUE(o.snap.right.visible);
  }
}

TEST_F(Catalogue, OkOnlyGoesOnWhateverTheUserDoes) {
  WriteCatalogue(CatalogueXml({{L"ENG", kEng}}));
  for (Action action : {Action::ClickRight, Action::Close, Action::SysClose}) {
    const Outcome o = Ask(1, L"0409,", action);
    ASSERT_TRUE(o.seen);
    EXPECT_TRUE(o.answer) << static_cast<int>(action);
    EXPECT_FALSE(o.snap.left.visible);
    EXPECT_EQ(o.snap.right.text, L"OK");
    EXPECT_EQ(o.snap.text.text, kEng);
  }
}

TEST_F(Catalogue, AmpersandIsDoubledForTheBox) {
  WriteCatalogue(CatalogueXml({{L"ENG", L"Save &amp; close all programs &amp;&amp; continue."}}));
  const Outcome o = Ask(1, L"0409,", Action::ClickRight);
  ASSERT_TRUE(o.seen);
  EXPECT_EQ(o.snap.text.text, L"Save && close all programs &&&& continue.");
}

TEST_F(Catalogue, NoUsableCatalogueShowsNothingAndGoesOn) {
  struct Case {
    const char* what;
    std::wstring xml;  // empty: no file at all
    const wchar_t* languages;
  } cases[] = {
      {"no file", L"", L"0409,"},
      {"malformed", L"<MessageInfo><ENG>unclosed</MessageInfo>", L"0409,"},
      {"neither the language nor English", CatalogueXml({{L"DEU", kDeu}}), L"0411,"},
      {"other root", L"<Messages><ENG>x</ENG></Messages>", L"0409,"},
      // The DOM refuses to bind this namespace: a failure of the DOM counts as no catalogue.
      {"unbindable namespace", CatalogueXml({{L"ENG", kEng}}, L" xmlns=\"urn:halvo' lang ='en\""), L"0409,"},
  };
  for (const Case& c : cases) {
    ::DeleteFileW((m_dir + L"\\MessageInfo.xml").c_str());
    if (!c.xml.empty()) WriteCatalogue(c.xml);
    for (BYTE okOnly : {0, 1}) {
      const Outcome o = Ask(okOnly, c.languages, Action::ClickRight);
      EXPECT_FALSE(o.seen) << c.what;
      EXPECT_TRUE(o.answer) << c.what;
      EXPECT_EQ(o.showFlag, 0) << c.what << ": the caller's flag is cleared";
    }
  }
}

TEST_F(Catalogue, ClearShowFlagShowsNoBox) {
  WriteCatalogue(CatalogueXml({{L"ENG", kEng}}));
  const Outcome o = Ask(0, L"0409,", Action::ClickRight, 0);
  EXPECT_FALSE(o.seen);
  EXPECT_TRUE(o.answer);
  EXPECT_EQ(o.showFlag, 0);
}

TEST_F(Catalogue, PlatformLanguageListIsUsed) {
  // Under Wine the one preferred language comes from LC_ALL (English by default).
  CString list;
  ULONG count = 0;
  GetUserUiLanguages(count, list);
  GetSystemUiLanguages(count, list);
  const wchar_t* element = nullptr;
  const uint16_t lang = ChooseCatalogueLanguage(list.Str(), element);
  if (lang != 0x0409 && lang != 0x0411 && lang != 0x0407) GTEST_SKIP() << "platform language " << lang;
  WriteCatalogue(CatalogueXml({{L"ENG", kEng}, {L"DEU", kDeu}, {L"JPN", kJpn}}));
  const Outcome o = Ask(0, nullptr, Action::ClickRight);
  ASSERT_TRUE(o.seen);
  EXPECT_FALSE(o.answer);
  EXPECT_EQ(o.snap.text.text, lang == 0x0409 ? kEng : lang == 0x0411 ? kJpn : kDeu);
}

TEST_F(Catalogue, ThreadAlreadyInAnotherApartmentStillAsksAndKeepsIt) {
  WriteCatalogue(CatalogueXml({{L"ENG", kEng}}));
  Outcome o;
  HRESULT before = E_FAIL, after = E_FAIL;
  std::thread worker([&] {
    before = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    o = Ask(0, L"0409,", Action::ClickLeft);
    // Still in the multithreaded apartment: AskUser must not have left it.
    after = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(after)) ::CoUninitialize();
    if (SUCCEEDED(before)) ::CoUninitialize();
  });
  worker.join();
  ASSERT_EQ(before, S_OK);
  EXPECT_TRUE(o.seen);
  EXPECT_TRUE(o.answer);
  EXPECT_EQ(o.snap.text.text, kEng);
  EXPECT_EQ(after, S_FALSE);
}

}  // namespace
