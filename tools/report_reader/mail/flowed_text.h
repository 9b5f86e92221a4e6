// A format=flowed text (RFC 3676) as its writer typed it: the lines a
// sender broke at a blank it kept (a "soft" break) joined again, the blank
// its writer stuffed before a line that began with a blank, ">" or "From "
// taken off, and with DelSp=yes the blank the sender added for the break
// taken away too. Quoted lines keep their depth, written "> " a level, so
// that the reader finds the quotes where it finds them in any mail.
#pragma once

#include <string>
#include <string_view>

namespace report_reader::mail {

std::string UnflowText(std::string_view flowed, bool deleteSpace);

} // namespace report_reader::mail
