// A part's text in the charset its mail names, made UTF-8 (what the rest of
// the reader reads): UTF-8 and US-ASCII as they are, windows-1252,
// ISO-8859-1 and ISO-8859-15 turned over. Any other charset, or bytes that
// are not of the one named, are read as the nearest the reader knows (UTF-8
// where the bytes are valid UTF-8, else windows-1252), and the note says so:
// a name is never garbled without a word.
#pragma once

#include <string>
#include <string_view>

namespace report_reader::mail {

// `note` is left empty when the text was read as its charset says.
std::string ToUtf8(std::string bytes, std::string_view charset, std::string& note);

bool IsValidUtf8(std::string_view bytes);

} // namespace report_reader::mail
