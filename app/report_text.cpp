#include "app/report_text.h"

namespace app {

void ReportText::Append(std::unique_ptr<char[]> block, size_t length) {
  Piece piece;
  piece.block = std::move(block);
  piece.length = length;
  size += length;
  pieces.push_back(std::move(piece));
}

void ReportText::Append(std::string text) {
  Piece piece;
  piece.length = text.size();
  piece.text = std::move(text);
  size += piece.length;
  pieces.push_back(std::move(piece));
}

std::string ReportText::Joined() const {
  std::string whole;
  whole.reserve(size);
  WriteTo([&whole](const char* bytes, size_t length) {
    whole.append(bytes, length);
    return true;
  });
  return whole;
}

} // namespace app
