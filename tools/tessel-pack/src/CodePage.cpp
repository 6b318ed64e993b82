#include "tools/tessel-pack/src/CodePage.h"

#include "tools/tessel-pack/src/Util.h"

#include <cerrno>
#include <iconv.h>

namespace tpack {

namespace {

bool Convert(std::string_view in, const char* from, const char* to, std::string& out)
{
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    out.clear();
    std::string input(in);
    char* inPtr = input.data();
    size_t inLeft = input.size();
    char buffer[4096];
    bool ok = true;
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        const size_t r = ::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buffer, sizeof buffer - outLeft);
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            ok = false;  // EILSEQ or EINVAL: not representable or cut short
            break;
        }
        if (r > 0) {
            // Irreversible conversions are substitutions; refuse them.
            ok = false;
            break;
        }
    }
    if (ok) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        if (::iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1))
            ok = false;
        out.append(buffer, sizeof buffer - outLeft);
    }
    ::iconv_close(cd);
    return ok;
}

}  // namespace

std::string IconvNameOfCodePage(int codePage)
{
    if (codePage == 65001)
        return "UTF-8";
    return "CP" + std::to_string(codePage);
}

bool IsSupportedCodePage(int codePage)
{
    if (codePage <= 0)
        return false;
    iconv_t cd = ::iconv_open(IconvNameOfCodePage(codePage).c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    ::iconv_close(cd);
    return true;
}

bool ParseCodePage(std::string_view text, int& codePage)
{
    std::string t = AsciiLower(Trim(text));
    if (t == "utf-8" || t == "utf8") {
        codePage = 65001;
        return true;
    }
    if (t.rfind("cp", 0) == 0)
        t = t.substr(2);
    if (t.empty() || t.size() > 5)
        return false;
    int value = 0;
    for (char c : t) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (!IsSupportedCodePage(value))
        return false;
    codePage = value;
    return true;
}

bool Utf8ToCodePage(std::string_view utf8, int codePage, std::string& out)
{
    if (!IsValidUtf8(utf8))
        return false;
    return Convert(utf8, "UTF-8", IconvNameOfCodePage(codePage).c_str(), out);
}

bool CodePageToUtf8(std::string_view bytes, int codePage, std::string& out)
{
    if (!Convert(bytes, IconvNameOfCodePage(codePage).c_str(), "UTF-8", out))
        return false;
    return IsValidUtf8(out);
}

std::string FirstUnrepresentable(std::string_view utf8, int codePage)
{
    size_t i = 0;
    while (i < utf8.size()) {
        size_t len = 1;
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if ((c & 0xE0) == 0xC0)
            len = 2;
        else if ((c & 0xF0) == 0xE0)
            len = 3;
        else if ((c & 0xF8) == 0xF0)
            len = 4;
        const std::string_view ch = utf8.substr(i, len);
        std::string ignored;
        if (!Utf8ToCodePage(ch, codePage, ignored))
            return std::string(ch);
        i += len;
    }
    return {};
}

}  // namespace tpack
