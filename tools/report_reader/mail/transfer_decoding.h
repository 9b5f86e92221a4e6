// A MIME part's body back to the bytes its sender wrote: quoted-printable
// (RFC 2045 6.7) and base64 (6.8). Both take any input, as mail programs
// and gateways leave it, and never fail: what is not of the encoding is
// passed over, as a mail program shows it.
#pragma once

#include <string>
#include <string_view>

namespace report_reader::mail {

// Soft line breaks ("=" at a line's end) joined, "=XX" turned back into its
// byte, the blanks a transport added at a line's end taken off; a "=" not
// followed by two hex digits is kept as it stands.
std::string DecodeQuotedPrintable(std::string_view encoded);

// Line breaks and anything else outside the alphabet passed over; the
// decoding stops at the padding.
std::string DecodeBase64(std::string_view encoded);

} // namespace report_reader::mail
