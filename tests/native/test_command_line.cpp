#include <gtest/gtest.h>

#include "app/portable/CommandLine.h"

namespace {

TEST(CommandLine, SilentSwitch) {
  const std::pair<const wchar_t*, bool> cases[] = {
      {L"/S", true},       {L"/s", true},          {L"-s", true},          {L"-S", true},
      {L"-x -s", true},    {L"  -s  ", true},      {L"a  /S  b", true},    {L"\t-s", true},
      {L"-s\t", true},     {L"/silent", false},    {L"-s1", false},        {L"", false},
      {L"   ", false},     {L"a\t-s\t", false},    {L"-s\t-x", false},     {L"--s", false},
      {L"s", false},       {L"\\s", false},        {L"\"-s\"", false},     {L"-x", false},
      {L"/S /quiet", true},
  };
  for (const auto& [line, silent] : cases) EXPECT_EQ(HasSilentSwitch(line), silent) << "[" << line << "]";
}

}  // namespace
