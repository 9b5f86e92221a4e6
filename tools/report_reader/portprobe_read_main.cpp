// portprobe-read [FILE] [--html PAGE] [--findings | --json]
//
// Reads Portprobe reports as support staff receive them (pasted into an
// e-mail, perhaps quoted and wrapped; a saved mail, its attachment, an mbox
// of many, a reply thread quoting earlier runs) from FILE, or from standard
// input, and prints what each proves: findings first, then the decoded log.
// With --html, also writes the same as one self-contained page. With
// --findings, prints the findings alone, without their lines (what the
// end-to-end tests compare with their expected findings). With --json, one
// object per report, for a ticket system.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tools/report_reader/findings.h"
#include "tools/report_reader/render.h"
#include "tools/report_reader/render_json.h"

int main(int argc, char** argv) {
  const char* input = nullptr;
  const char* html = nullptr;
  bool findingsOnly = false;
  bool json = false;
  for (int at = 1; at < argc; ++at) {
    if (std::strcmp(argv[at], "--html") == 0 && at + 1 < argc) {
      html = argv[++at];
    } else if (std::strcmp(argv[at], "--findings") == 0) {
      findingsOnly = true;
    } else if (std::strcmp(argv[at], "--json") == 0) {
      json = true;
    } else if (input == nullptr && argv[at][0] != '-') {
      input = argv[at];
    } else {
      std::fprintf(stderr, "usage: portprobe-read [FILE] [--html PAGE] [--findings | --json]\n");
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
  const report_reader::Readings readings = report_reader::ReadAll(pasted);
  // The paste is not needed any more: the reading keeps what it uses.
  std::string().swap(pasted);
  const auto toStdout = [](const char* text, size_t length) { std::fwrite(text, 1, length, stdout); };
  if (json) {
    report_reader::RenderJson(readings, toStdout);
  } else if (findingsOnly) {
    const std::string text = report_reader::FindingsOnly(readings);
    std::fwrite(text.data(), 1, text.size(), stdout);
  } else {
    report_reader::RenderText(readings, toStdout);
  }
  if (html != nullptr) {
    std::ofstream page(html, std::ios::binary);
    report_reader::RenderHtml(
        readings, [&page](const char* text, size_t length) { page.write(text, static_cast<std::streamsize>(length)); });
    if (!page) {
      std::fprintf(stderr, "portprobe-read: cannot write %s\n", html);
      return 1;
    }
  }
  return readings.reports.front().found ? 0 : 1;
}
