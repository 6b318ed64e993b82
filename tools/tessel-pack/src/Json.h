// A small JSON writer for `inspect --json`: values are appended in order, commas handled.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tpack {

class JsonWriter {
public:
    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    JsonWriter& Key(std::string_view key);
    JsonWriter& String(std::string_view value);
    JsonWriter& Number(uint64_t value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();
    const std::string& Text() const { return m_out; }

    // Escapes a UTF-8 text as a JSON string literal; invalid bytes become U+FFFD.
    static std::string Escape(std::string_view text);

private:
    void Separate();
    std::string m_out;
    std::vector<bool> m_first;  // per open container: no element yet
    bool m_afterKey = false;
};

}  // namespace tpack
