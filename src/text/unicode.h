#pragma once
// UTF-8 text and its conversions.
//
// All text inside Kelvara is UTF-8 in std::string, without a byte order mark. These functions are
// the system's own codec: they never fail, malformed UTF-8 yields whatever values its bytes make
// (trailing bytes are not checked, overlong forms are not rejected), values beyond U+10FFFF become
// U+FFFD, and a text that does not fit its output ends early.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelvara {

// Low-level converters with the contracts of the platform's MultiByteToWideChar and
// WideCharToMultiByte for the UTF-8 code page.
//
// Utf8ToUtf16: srcLength -1 means up to and including the zero byte, otherwise exactly that many
// bytes. dstSize 0 means: only report the size, which is then the number of input bytes (an upper
// bound). Otherwise decoding stops before a sequence that would extend beyond the input and before
// a character that no longer fits in dst together with a terminating zero unit; a zero unit always
// follows the last unit written (when dstSize > 0). Returns the number of units written, without
// that terminator but with a decoded zero byte of the input. src == nullptr gives 0.
int Utf8ToUtf16(const char* src, int srcLength, char16_t* dst, int dstSize);

// Utf16ToUtf8: same length conventions. A high surrogate followed by a low one combines; any other
// unit, a lone surrogate included, is encoded by itself. dstSize 0 only counts; otherwise encoding
// stops before a value whose bytes no longer fit. Returns the number of bytes. No terminator is
// written beyond what the input holds.
int Utf16ToUtf8(const char16_t* src, int srcLength, char* dst, int dstSize);

// Owning conversions of whole texts.
std::u16string Utf8ToWide(std::string_view text);
std::string WideToUtf8String(std::u16string_view text);
// The zero-terminated shape: nothing for an absent text.
std::optional<std::string> WideToUtf8(const char16_t* text);

// The ANSI code page. Kelvara's stand-in on every platform is Windows-1252; characters it lacks
// become '?'. Both conversions go through UTF-16.
std::string Utf8ToAnsi(std::string_view text);
std::string AnsiToUtf8String(std::string_view text);

// Reading direction of a text: the first character with a strong direction decides.
enum TextDirectionKind : int { LeftToRight = 0, RightToLeft = 1, NoDirection = 2 };
int TextDirection(std::string_view text);

// Length of the UTF-8 sequence that a lead byte begins: 2 for C0-DF, 3 for E0-EF, 4 for F0-F8,
// otherwise 1.
int Utf8SequenceLength(unsigned char leadByte);

// Byte offset of the character with the given index (counted in characters from the start, by
// Utf8SequenceLength steps), clamped to the text's size.
std::size_t Utf8CharacterOffset(std::string_view text, std::size_t characterIndex);

} // namespace kelvara
