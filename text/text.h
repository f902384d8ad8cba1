#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Generic text helpers shared by the client, the platform stand-ins and the
// service; standard library only. Conventions:
// - A text is a std::string of 8-bit bytes with an explicit length; any byte,
//   zero included, may occur. The empty text is valid everywhere.
// - Positions are 1-based. Pos(P, T) is the position of the leftmost exact
//   (case-sensitive) occurrence of P in T, and 0 when P does not occur, when P
//   is empty or when T is empty.
// - Copy(T, i, n): the slice of n characters from position i. An i below 1
//   counts as 1; the slice is empty when T is empty, i lies past the end, or n
//   is negative; it ends early at T's last character.
// - Lower-casing maps only A..Z (0x41..0x5A) to a..z and never changes the
//   length, so a position found in a lower-cased copy is valid in the original.
namespace kelvora {

// 1-based position of pattern in text, 0 when absent (or either is empty).
std::size_t Pos(std::string_view pattern, std::string_view text);
// Slice of count characters from 1-based index; see the conventions above.
std::string Copy(std::string_view text, long long index, long long count);
// Text from 1-based index to its end (index below 1 counts as 1).
std::string CopyFrom(std::string_view text, long long index);
// ASCII-only lower-casing (A..Z); every other byte is kept.
std::string LowerCase(std::string text);
// True when pattern occurs in text (exact bytes).
bool Contains(std::string_view text, std::string_view pattern);
// 0-based index of the leftmost occurrence of pattern in text at or after
// from, A..Z and a..z compared without case; npos when absent or pattern is
// empty. Reads the text in place: no lower-cased copy is made.
std::size_t FindIgnoreCase(std::string_view text, std::string_view pattern, std::size_t from = 0);
// Pos with A..Z and a..z compared without case.
std::size_t PosIgnoreCase(std::string_view pattern, std::string_view text);
// True when pattern occurs in text, A..Z and a..z compared without case.
bool ContainsIgnoreCase(std::string_view text, std::string_view pattern);
// True when text begins with prefix, A..Z and a..z compared without case.
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix);
// True when a and b are the same text, A..Z and a..z compared without case.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// A..Z to a..z and a..z to A..Z; every other byte is kept.
char LowerAscii(char c);
char UpperAscii(char c);
// True exactly for A..Z and a..z.
bool IsAsciiLetter(char c);
// True for the ASCII white space: blank, tab, LF, VT, FF, CR.
bool IsAsciiSpace(char c);
// text without the bytes of characters at its ends.
std::string_view Trim(std::string_view text, std::string_view characters);
// text without the ASCII white space (blank, tab, LF, VT, FF, CR) at its ends.
std::string_view TrimWhitespace(std::string_view text);
// What percent-encoding makes of a blank: "+" in a form-style query value,
// "%20" anywhere.
enum class BlankEncoding { Plus, Percent };
// Every byte outside A-Z a-z 0-9 - . _ ~ as %XX in upper-case hex, so the
// text can stand in any query value or path; a blank as blank says.
std::string PercentEncode(std::string_view text, BlankEncoding blank = BlankEncoding::Percent);
// What "+" stands for when decoding: a blank in a query value, itself in a
// path or a mailto: address ("name+tag@...").
enum class PlusSign { Blank, Kept };
// Decodes %XX (either case of hex digit) and "+" as plus says. A "%" not
// followed by two hex digits is kept as it stands.
std::string PercentDecode(std::string_view text, PlusSign plus = PlusSign::Blank);
// A line of a text file split at LF: without blanks and tabs at its start,
// and without blanks, tabs and the CR of a CR LF at its end.
std::string_view TrimLine(std::string_view line);

// Replaces every occurrence of pattern, ignoring ASCII case, by replacement
// (inserted exactly as passed). Occurrences that a replacement brings together
// are replaced as well: CR CR LF LF with CR LF removed gives the empty text.
// Linear in the text size. An empty pattern returns the text unchanged.
// Precondition: replacement does not contain pattern (ignoring case). A pair
// that keeps rebuilding the pattern with its neighbours is stopped after a
// bounded amount of work and the text comes back unchanged.
std::string ReplaceAllIgnoreCase(std::string text, std::string_view pattern,
                                 std::string_view replacement);
// Removes every ",", then every ".", then every " " (blank 0x20).
std::string StripNumberPunctuation(std::string text);
// True exactly for '0'..'9'.
bool IsDigit(char c);
// Value of a hexadecimal digit (0-9, a-f, A-F), -1 for any other byte.
int HexDigitValue(char c);
} // namespace kelvora
