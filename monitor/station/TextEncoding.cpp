#include "TextEncoding.h"

#include <cstring>

namespace skyvane::station {

namespace {

// Code page 1252 differs from Latin-1 only in 0x80..0x9F. The five bytes
// that the code page leaves undefined map to the C1 control of the same
// value, as the platform's own conversion does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace

bool isValidUtf8(QByteArrayView bytes)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        // ASCII runs, eight bytes at a time
        while (i + 8 <= n) {
            quint64 w;
            std::memcpy(&w, s + i, 8);
            if (w & 0x8080808080808080ULL) break;
            i += 8;
        }
        if (i >= n) break;
        const unsigned char c = s[i];
        if (c < 0x80) { ++i; continue; }
        int len;
        unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) len = 2;
        else if (c == 0xE0) { len = 3; lo = 0xA0; }
        else if (c >= 0xE1 && c <= 0xEC) len = 3;
        else if (c == 0xED) { len = 3; hi = 0x9F; }
        else if (c >= 0xEE && c <= 0xEF) len = 3;
        else if (c == 0xF0) { len = 4; lo = 0x90; }
        else if (c >= 0xF1 && c <= 0xF3) len = 4;
        else if (c == 0xF4) { len = 4; hi = 0x8F; }
        else return false;
        if (i + len > n) return false;
        if (s[i + 1] < lo || s[i + 1] > hi) return false;
        for (int k = 2; k < len; ++k)
            if ((s[i + k] & 0xC0) != 0x80) return false;
        i += len;
    }
    return true;
}

TextEncoding detectEncoding(QByteArrayView bytes)
{
    if (isValidUtf8(bytes)) return TextEncoding::Utf8;
    // A UTF-8 file caught while it was being written may end in the middle
    // of a character (the first byte of a degree sign, say). That does not
    // make the whole file Windows-1252: the cut part is not used anyway.
    qsizetype cut = bytes.size();
    for (int k = 0; k < 3 && cut > 0 && (static_cast<unsigned char>(bytes[cut - 1]) & 0xC0) == 0x80; ++k) --cut;
    if (cut > 0 && static_cast<unsigned char>(bytes[cut - 1]) >= 0xC2 && isValidUtf8(bytes.first(cut - 1)))
        return TextEncoding::Utf8;
    return TextEncoding::Windows1252;
}

QString decodeText(const char* data, qsizetype size, TextEncoding enc)
{
    if (size <= 0) return {};
    if (enc == TextEncoding::Utf8) return QString::fromUtf8(data, size);
    QString out(size, Qt::Uninitialized);
    char16_t* d = reinterpret_cast<char16_t*>(out.data());
    const auto* s = reinterpret_cast<const unsigned char*>(data);
    for (qsizetype i = 0; i < size; ++i) {
        const unsigned char c = s[i];
        d[i] = (c >= 0x80 && c < 0xA0) ? kCp1252High[c - 0x80] : char16_t(c);
    }
    return out;
}

void appendDecoded(QString& out, const char* data, qsizetype size, TextEncoding enc)
{
    if (size <= 0) return;
    const auto* s = reinterpret_cast<const unsigned char*>(data);
    bool ascii = true;
    for (qsizetype i = 0; i < size && ascii; ++i) ascii = s[i] < 0x80;
    if (ascii) {
        out.append(QLatin1StringView(data, size));
    } else if (enc == TextEncoding::Utf8) {
        out.append(QString::fromUtf8(data, size));
    } else {
        const qsizetype at = out.size();
        out.resize(at + size);
        char16_t* d = reinterpret_cast<char16_t*>(out.data()) + at;
        for (qsizetype i = 0; i < size; ++i) {
            const unsigned char c = s[i];
            d[i] = (c >= 0x80 && c < 0xA0) ? kCp1252High[c - 0x80] : char16_t(c);
        }
    }
}

QByteArrayView degreeSign(TextEncoding enc)
{
    return enc == TextEncoding::Utf8 ? QByteArrayView("\xC2\xB0", 2) : QByteArrayView("\xB0", 1);
}

std::optional<QByteArray> utf16AsUtf8(QByteArrayView bytes)
{
    if (bytes.size() < 2) return std::nullopt;
    const auto b0 = static_cast<unsigned char>(bytes[0]);
    const auto b1 = static_cast<unsigned char>(bytes[1]);
    const bool little = b0 == 0xFF && b1 == 0xFE;
    const bool big = b0 == 0xFE && b1 == 0xFF;
    if (!little && !big) return std::nullopt;
    const qsizetype units = (bytes.size() - 2) / 2;
    QString text(units, Qt::Uninitialized);
    char16_t* d = reinterpret_cast<char16_t*>(text.data());
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data()) + 2;
    for (qsizetype i = 0; i < units; ++i, s += 2)
        d[i] = little ? char16_t(s[0] | (s[1] << 8)) : char16_t((s[0] << 8) | s[1]);
    // Unpaired surrogates become U+FFFD here, like any other broken text.
    return text.toUtf8();
}

qsizetype bomLength(QByteArrayView bytes)
{
    return bytes.size() >= 3 && bytes.startsWith(QByteArrayView("\xEF\xBB\xBF", 3)) ? 3 : 0;
}

} // namespace skyvane::station
