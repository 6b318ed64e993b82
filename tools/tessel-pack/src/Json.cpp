#include "tools/tessel-pack/src/Json.h"

#include "tools/tessel-pack/src/Util.h"

#include <cstdio>

namespace tpack {

void JsonWriter::Separate()
{
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (!m_first.empty()) {
        if (!m_first.back())
            m_out += ',';
        m_first.back() = false;
    }
}

JsonWriter& JsonWriter::BeginObject()
{
    Separate();
    m_out += '{';
    m_first.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::EndObject()
{
    m_out += '}';
    m_first.pop_back();
    return *this;
}

JsonWriter& JsonWriter::BeginArray()
{
    Separate();
    m_out += '[';
    m_first.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::EndArray()
{
    m_out += ']';
    m_first.pop_back();
    return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key)
{
    Separate();
    m_out += Escape(key);
    m_out += ':';
    m_afterKey = true;
    return *this;
}

JsonWriter& JsonWriter::String(std::string_view value)
{
    Separate();
    m_out += Escape(value);
    return *this;
}

JsonWriter& JsonWriter::Number(uint64_t value)
{
    Separate();
    m_out += std::to_string(value);
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value)
{
    Separate();
    m_out += value ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::Null()
{
    Separate();
    m_out += "null";
    return *this;
}

std::string JsonWriter::Escape(std::string_view text)
{
    std::string out = "\"";
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            size_t len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
            if (len > 1 && i + len <= text.size() && IsValidUtf8(text.substr(i, len))) {
                out.append(text.substr(i, len));
                i += len;
            } else {
                out += "\xEF\xBF\xBD";
                ++i;
            }
            continue;
        }
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04X", c);
                out += buffer;
            } else {
                out += static_cast<char>(c);
            }
        }
        ++i;
    }
    out += '"';
    return out;
}

}  // namespace tpack
