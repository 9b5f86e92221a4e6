// portprobe-read [FILE] [--html PAGE] [--findings]
//
// Reads a Portprobe report as support staff receive it (pasted into an
// e-mail, perhaps quoted and wrapped) from FILE, or from standard input, and
// prints what it proves: findings first, then the decoded log. With --html,
// also writes the same as one self-contained page. With --findings, prints
// the findings alone, without their lines (what the end-to-end tests
// compare with their expected findings).
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tools/report_reader/findings.h"
#include "tools/report_reader/render.h"

int main(int argc, char** argv) {
  const char* input = nullptr;
  const char* html = nullptr;
  bool findingsOnly = false;
  for (int at = 1; at < argc; ++at) {
    if (std::strcmp(argv[at], "--html") == 0 && at + 1 < argc) {
      html = argv[++at];
    } else if (std::strcmp(argv[at], "--findings") == 0) {
      findingsOnly = true;
    } else if (input == nullptr && argv[at][0] != '-') {
      input = argv[at];
    } else {
      std::fprintf(stderr, "usage: portprobe-read [FILE] [--html PAGE] [--findings]\n");
      return 2;
    }
  }
  std::string pasted;
  std::FILE* source = input != nullptr ? std::fopen(input, "rb") : stdin;
  if (source == nullptr) {
    std::fprintf(stderr, "portprobe-read: cannot read %s\n", input);
    return 2;
  }
  // A file's size is known: room for it at once, not grown by doubling (a
  // flood's report is twenty megabytes).
  if (source != stdin && std::fseek(source, 0, SEEK_END) == 0) {
    const long size = std::ftell(source);
    if (size > 0) pasted.reserve(static_cast<size_t>(size));
    std::rewind(source);
  }
  std::vector<char> block(1 << 20);
  for (size_t got; (got = std::fread(block.data(), 1, block.size(), source)) > 0;) pasted.append(block.data(), got);
  if (source != stdin) std::fclose(source);
  const report_reader::Reading reading = report_reader::Read(pasted);
  // The paste is not needed any more: the reading keeps what it uses.
  std::string().swap(pasted);
  if (findingsOnly) {
    const std::string text = report_reader::FindingsOnly(reading);
    std::fwrite(text.data(), 1, text.size(), stdout);
  } else {
    report_reader::RenderText(reading, [](const char* text, size_t length) { std::fwrite(text, 1, length, stdout); });
  }
  if (html != nullptr) {
    std::ofstream page(html, std::ios::binary);
    report_reader::RenderHtml(
        reading, [&page](const char* text, size_t length) { page.write(text, static_cast<std::streamsize>(length)); });
    if (!page) {
      std::fprintf(stderr, "portprobe-read: cannot write %s\n", html);
      return 1;
    }
  }
  return reading.found ? 0 : 1;
}
