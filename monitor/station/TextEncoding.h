#pragma once
// Station programs write their files either in UTF-8 or in the Windows ANSI
// code page 1252 (where the degree sign is the single byte 176). A file that
// is valid UTF-8 is taken as UTF-8; anything else as Windows-1252, which
// maps every byte to some character, so no file is ever refused for its
// encoding. Some save "Unicode" text instead: UTF-16 with a byte-order mark,
// which is turned into UTF-8 before anything else looks at it.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

namespace skyvane::station {

enum class TextEncoding { Utf8, Windows1252 };

// True when the bytes are well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF).
bool isValidUtf8(QByteArrayView bytes);

// Utf8 when the bytes are valid UTF-8 (a last character cut short
// included), else Windows1252.
TextEncoding detectEncoding(QByteArrayView bytes);

// Decodes bytes in the given encoding.
QString decodeText(const char* data, qsizetype size, TextEncoding enc);
inline QString decodeText(QByteArrayView bytes, TextEncoding enc) { return decodeText(bytes.data(), bytes.size(), enc); }

// Appends the decoded bytes to out (no temporary string for ASCII text).
void appendDecoded(QString& out, const char* data, qsizetype size, TextEncoding enc);

// The degree sign as bytes of the given encoding.
QByteArrayView degreeSign(TextEncoding enc);

// For bytes that start with a UTF-16 byte-order mark (FF FE little-endian,
// FE FF big-endian): the same text in UTF-8, without a mark. A last odd byte
// is half a character, cut off while the file was being written, and is
// dropped. nullopt for any other bytes.
std::optional<QByteArray> utf16AsUtf8(QByteArrayView bytes);

// Length of a byte-order mark at the start of bytes (3 for the UTF-8 mark,
// else 0).
qsizetype bomLength(QByteArrayView bytes);

} // namespace skyvane::station
