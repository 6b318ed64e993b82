#pragma once
// A small JSON writer for the robot's transcript: one object per line, UTF-8, written straight to
// standard output so that a reader sees every line as soon as the step is done.
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

std::string Utf8(std::wstring_view text);
std::wstring Wide(std::string_view utf8);

class JsonLine {
 public:
  JsonLine();  // opens the top-level object
  JsonLine& Key(std::string_view key);
  JsonLine& Str(std::wstring_view value);
  JsonLine& Str(std::string_view utf8);
  JsonLine& Str(const char* utf8) { return Str(std::string_view(utf8)); }
  JsonLine& Str(const wchar_t* value) { return Str(std::wstring_view(value)); }
  JsonLine& Int(int64_t value);
  JsonLine& UInt(uint64_t value);
  JsonLine& Bool(bool value);
  JsonLine& Null();
  JsonLine& Object();  // opens a nested object (after Key, or inside an array)
  JsonLine& Array();
  JsonLine& End();     // closes the innermost open object or array

  template <typename T>
  JsonLine& Field(std::string_view key, T value) {
    Key(key);
    if constexpr (std::is_same_v<T, bool>) return Bool(value);
    else if constexpr (std::is_signed_v<T>) return Int(value);
    else return UInt(value);
  }
  JsonLine& Text(std::string_view key, std::wstring_view value) { return Key(key).Str(value); }
  JsonLine& Text(std::string_view key, std::string_view utf8) { return Key(key).Str(utf8); }
  JsonLine& Text(std::string_view key, const char* utf8) { return Key(key).Str(utf8); }
  JsonLine& Text(std::string_view key, const wchar_t* value) { return Key(key).Str(value); }

  // Closes what is open and writes the line to standard output.
  void Emit();

 private:
  void Separate();
  void Quote(std::string_view utf8);
  std::string m_text;
  std::vector<std::pair<char, int>> m_open;  // closer and number of members so far
  bool m_bAfterKey = false;
};
