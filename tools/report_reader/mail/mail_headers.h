// A mail's or a MIME part's header block (RFC 5322): fields unfolded, found
// by name whatever their case, structured values (Content-Type and
// Content-Disposition with their parameters, RFC 2045 and RFC 2231) split,
// and the encoded words of RFC 2047 ("=?utf-8?Q?...?=") decoded for what
// is shown.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace report_reader::mail {

struct Headers {
  std::vector<std::pair<std::string, std::string>> fields; // name lowered, value unfolded

  // The first field of that name (lowered), or empty.
  std::string Get(std::string_view name) const;
};

// A header block and the body after it: `text` split at its first empty
// line. False, with nothing split, when `text` does not begin with a header
// block of a mail (at least one of the fields a mail or a MIME part has).
bool SplitHeaders(std::string_view text, Headers& headers, std::string_view& body, bool part);

// "text/plain; charset=utf-8; format=flowed" as its type (lowered) and its
// parameters (names lowered, values unquoted, RFC 2231 continuations and
// charsets undone).
struct StructuredValue {
  std::string value;
  std::vector<std::pair<std::string, std::string>> parameters;
  std::string Parameter(std::string_view name) const;
};
StructuredValue ParseStructured(std::string_view field);

// A field's text as shown: encoded words decoded to UTF-8 (blanks between
// two of them dropped), the rest as it stands.
std::string DecodeEncodedWords(std::string_view field);

} // namespace report_reader::mail
