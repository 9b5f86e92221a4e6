// An HTML part (a mail program's "HTML only" body) as the text a reader
// sees in it: tags out, entities decoded, <br>, <p>, <div> and the other
// blocks as line ends, white space run together as the browser shows it
// (but inside <pre>), <blockquote> as a quote level ("> "), and what a
// <head>, <style> or <script> holds left out.
#pragma once

#include <string>
#include <string_view>

namespace report_reader::mail {

std::string HtmlToText(std::string_view html);

} // namespace report_reader::mail
