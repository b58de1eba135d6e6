// Transcript escaping and the two string encodings of JNI (UTF-16 and modified
// UTF-8). Everything here is pure and never reads past a terminating NUL or a
// given length, whatever bytes the host hands over.
#include "testvm.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace testvm {

namespace {

void appendHexEscape(std::string& out, char prefix, unsigned value, int digits) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\%c%0*X", prefix, digits, value);
    out += buf;
}

// An ASCII character as it goes into a field.
void appendAscii(std::string& out, unsigned char c) {
    switch (c) {
    case '\\': out += "\\\\"; break;
    case '\t': out += "\\t"; break;
    case '\n': out += "\\n"; break;
    case '\r': out += "\\r"; break;
    default:
        if (c < 0x20)
            appendHexEscape(out, 'x', c, 2);
        else
            out += static_cast<char>(c);
    }
}

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 sequence at s (lead byte >= 0x80), or 0.
// Overlong forms, surrogates and values above U+10FFFF are not well-formed.
std::size_t utf8SequenceLength(const unsigned char* s) {
    const unsigned char b0 = s[0];
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    std::size_t n;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        n = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        n = 3;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        n = 4;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (s[1] < lo || s[1] > hi) return 0;  // also stops at a NUL
    for (std::size_t i = 2; i < n; ++i)
        if (!isContinuation(s[i])) return 0;
    return n;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        appendAscii(out, static_cast<unsigned char>(c));
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string escapeNarrow(const char* s) {
    if (!s) return "(null)";
    std::string out;
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    while (*p) {
        if (*p < 0x80) {
            appendAscii(out, *p++);
            continue;
        }
        const std::size_t n = utf8SequenceLength(p);
        if (n == 0) {
            appendHexEscape(out, 'x', *p++, 2);
            continue;
        }
        out.append(reinterpret_cast<const char*>(p), n);
        p += n;
    }
    return out;
}

std::string escapeUtf16(const std::u16string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char16_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (s[i + 1] - 0xDC00));
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            appendHexEscape(out, 'u', c, 4);
        } else {
            appendUtf8(out, c);
        }
    }
    return out;
}

bool decodeModifiedUtf8(const char* s, std::u16string& out) {
    out.clear();
    bool valid = true;
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    while (*p) {
        const unsigned char b0 = *p;
        if (b0 < 0x80) {
            out += char16_t(b0);
            ++p;
        } else if ((b0 & 0xE0) == 0xC0 && isContinuation(p[1])) {
            const char16_t c = char16_t(((b0 & 0x1F) << 6) | (p[1] & 0x3F));
            // Two bytes carry U+0080..U+07FF, and U+0000 as C0 80.
            if (c != 0 && c < 0x80) {
                valid = false;
                out += u'\uFFFD';
                ++p;
                continue;
            }
            out += c;
            p += 2;
        } else if ((b0 & 0xF0) == 0xE0 && isContinuation(p[1]) && isContinuation(p[2])) {
            const char16_t c =
                char16_t(((b0 & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
            if (c < 0x800) {
                valid = false;
                out += u'\uFFFD';
                ++p;
                continue;
            }
            out += c;  // surrogates included: that is how this form carries them
            p += 3;
        } else {
            valid = false;
            out += u'\uFFFD';
            ++p;
        }
    }
    return valid;
}

bool parseInteger(const std::string& s, long long& out) {
    if (s.empty()) return false;
    const char* begin = s.c_str();
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(begin, &end, 10);
    if (errno != 0 || end != begin + s.size() || (*begin != '-' && *begin != '+' &&
                                                  (*begin < '0' || *begin > '9')))
        return false;
    out = v;
    return true;
}

}  // namespace testvm
