#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/portable/SuccessCodes.h"

namespace {

TEST(SuccessCodes, WtoiLike) {
  const std::pair<const wchar_t*, int32_t> cases[] = {
      {L"", 0},          {L"0", 0},          {L"3010", 3010},   {L"  42", 42},       {L"\t\r\n 7", 7},
      {L"-1", -1},       {L"+5", 5},         {L"12abc", 12},    {L"abc", 0},         {L" 0 ", 0},
      {L"- 1", 0},       {L"--1", 0},        {L"1 2", 1},       {L"0x10", 0},        {L"007", 7},
      {L"2147483647", INT32_MAX},            {L"-2147483648", INT32_MIN},
      // Unsigned spellings of 32-bit exit codes wrap onto the same code.
      {L"4294967295", -1},                   {L"3221225477", static_cast<int32_t>(0xC0000005u)},
      // Beyond 32 bits: clamped.
      {L"4294967296", INT32_MAX},            {L"99999999999999999999999", INT32_MAX},
      {L"-2147483649", INT32_MIN},           {L"-99999999999999999999999", INT32_MIN},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(WtoiLike(text), value) << text;
}

TEST(SuccessCodes, ParseSkipsEmptyItems) {
  const std::pair<const wchar_t*, std::vector<int32_t>> cases[] = {
      {L"", {}},          {L";", {}},           {L";;", {}},          {L"0", {0}},
      {L"0;3010", {0, 3010}}, {L";1;;2;", {1, 2}}, {L" 0 ;", {0}},      {L"x;5", {0, 5}},
      {L"-1;1641", {-1, 1641}}, {L" ", {0}},
  };
  for (const auto& [text, codes] : cases) EXPECT_EQ(ParseSuccessCodes(text), codes) << text;
}

TEST(SuccessCodes, ExitCodeAgainstList) {
  struct Case {
    uint32_t exitCode;
    const wchar_t* list;
    bool success;
  } cases[] = {
      {3010, L"0;3010", true},     {1603, L"0", false},        {0, L"", false},
      {3010, L"", false},          {0xFFFFFFFFu, L"-1", true}, {0, L" 0 ;", true},
      {0, L"abc", true},           {1, L"abc", false},         {0xC0000005u, L"3221225477", true},
      {0xC0000005u, L"-1073741819", true}, {5, L"1;2;3;4", false}, {4, L"1;2;3;4", true},
  };
  for (const Case& c : cases) EXPECT_EQ(IsSuccessExitCode(c.exitCode, c.list), c.success) << c.list << " " << c.exitCode;
}

}  // namespace
