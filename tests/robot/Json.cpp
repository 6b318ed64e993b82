#include "tests/robot/Json.h"

#include <windows.h>

#include <cstdio>

std::string Utf8(std::wstring_view text) {
  if (text.empty()) return {};
  int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
  return out;
}

std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

JsonLine::JsonLine() {
  m_text = "{";
  m_open.push_back({'}', 0});
}

void JsonLine::Separate() {
  if (m_bAfterKey) {
    m_bAfterKey = false;
    return;
  }
  if (!m_open.empty() && m_open.back().second++ > 0) m_text += ',';
}

void JsonLine::Quote(std::string_view utf8) {
  m_text += '"';
  for (char c : utf8) {
    auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      m_text += '\\';
      m_text += c;
    } else if (u < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      m_text += buf;
    } else {
      m_text += c;
    }
  }
  m_text += '"';
}

JsonLine& JsonLine::Key(std::string_view key) {
  Separate();
  Quote(key);
  m_text += ':';
  m_bAfterKey = true;
  return *this;
}

JsonLine& JsonLine::Str(std::wstring_view value) { return Str(std::string_view(Utf8(value))); }

JsonLine& JsonLine::Str(std::string_view utf8) {
  Separate();
  Quote(utf8);
  return *this;
}

JsonLine& JsonLine::Int(int64_t value) {
  Separate();
  m_text += std::to_string(value);
  return *this;
}

JsonLine& JsonLine::UInt(uint64_t value) {
  Separate();
  m_text += std::to_string(value);
  return *this;
}

JsonLine& JsonLine::Bool(bool value) {
  Separate();
  m_text += value ? "true" : "false";
  return *this;
}

JsonLine& JsonLine::Null() {
  Separate();
  m_text += "null";
  return *this;
}

JsonLine& JsonLine::Object() {
  Separate();
  m_text += '{';
  m_open.push_back({'}', 0});
  return *this;
}

JsonLine& JsonLine::Array() {
  Separate();
  m_text += '[';
  m_open.push_back({']', 0});
  return *this;
}

JsonLine& JsonLine::End() {
  if (!m_open.empty()) {
    m_text += m_open.back().first;
    m_open.pop_back();
  }
  return *this;
}

void JsonLine::Emit() {
  while (!m_open.empty()) End();
  m_text += '\n';
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  const char* p = m_text.data();
  size_t left = m_text.size();
  while (left > 0) {
    DWORD written = 0;
    if (!::WriteFile(out, p, static_cast<DWORD>(left), &written, nullptr) || written == 0) break;
    p += written;
    left -= written;
  }
}
