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
#include <iostream>
#include <iterator>
#include <string>

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
  if (input != nullptr) {
    std::ifstream file(input, std::ios::binary);
    if (!file) {
      std::fprintf(stderr, "portprobe-read: cannot read %s\n", input);
      return 2;
    }
    pasted.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  } else {
    pasted.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  }
  const reader::Reading reading = reader::Read(pasted);
  const std::string text = findingsOnly ? reader::FindingsOnly(reading) : reader::RenderText(reading);
  std::fputs(text.c_str(), stdout);
  if (html != nullptr) {
    std::ofstream page(html, std::ios::binary);
    page << reader::RenderHtml(reading);
    if (!page) {
      std::fprintf(stderr, "portprobe-read: cannot write %s\n", html);
      return 1;
    }
  }
  return reading.found ? 0 : 1;
}
