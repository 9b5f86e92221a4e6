// The finished report, kept in the pieces it was built from: the capture's
// blocks, then "\r\n\r\n" and the device summary.
//
// After a flood the report is tens of megabytes. Joining it into one string
// only to write it out costs a copy into fresh memory, and on a virtual
// machine the page faults of that copy take as long as the write itself;
// written piece by piece it never exists twice. Where one block of memory
// is needed (the Windows clipboard), Joined makes it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace app {

class ReportText {
 public:
  ReportText() = default;
  explicit ReportText(std::string whole) { Append(std::move(whole)); }
  ReportText(ReportText&&) = default;
  ReportText& operator=(ReportText&&) = default;

  // A block of `length` bytes, taken over.
  void Append(std::unique_ptr<char[]> block, size_t length);
  void Append(std::string text);

  size_t Size() const { return size; }
  // Calls write(bytes, length) for each piece in order while it returns true;
  // false when a call returned false.
  template <class Write>
  bool WriteTo(Write&& write) const {
    for (const Piece& piece : pieces) {
      if (piece.length > 0 && !write(piece.Bytes(), piece.length)) return false;
    }
    return true;
  }
  std::string Joined() const;

 private:
  struct Piece {
    std::unique_ptr<char[]> block;
    std::string text;
    size_t length = 0;
    const char* Bytes() const { return block ? block.get() : text.data(); }
  };

  std::vector<Piece> pieces;
  size_t size = 0;
};

} // namespace app
