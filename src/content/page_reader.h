#pragma once

// Turns a page's elements into readable lines (headings, paragraphs, links,
// buttons, fields, images, list items) and heading-scoped chunks. Pure, apart
// from one optional live read per heading whose level is not in the element.

#include <string>
#include <vector>

#include "accessibility/page_element.h"

namespace tovrin {

struct PageLine {
  enum class Kind { heading, text, link, button, field, image, item };
  std::string text;
  int elementID = 0;
  Kind kind = Kind::text;
  int level = 0;  // headings only
  // Part of the site's frame rather than this page's content: links in a
  // navigation, banner or footer, or in a bar of nothing but links.
  bool chrome = false;
};

std::string_view kindName(PageLine::Kind kind);

struct PageChunk {
  std::string heading;  // "" before the first heading
  std::string text;     // the chunk's lines joined with "\n"
  int elementID = 0;    // of the chunk's first line
  double chrome = 0;    // the share of its lines that are page chrome, 0–1
};

namespace PageReader {
// `elements` is a page pass in pre-order, ids equal to positions.
std::vector<PageLine> lines(const std::vector<PageElement>& elements);
// The lines as answers need them: the cells of one table row on one line
// ("Location: Room 214"), and a label that ends in a colon joined to the
// value after it. Headings, chrome marks and element ids are kept.
std::vector<PageLine> contextLines(const std::vector<PageLine>& lines,
                                   const std::vector<PageElement>& elements);
// Blocks of lines under one heading adding up to at most `maxChars`
// characters, unless one line alone is longer.
std::vector<PageChunk> chunks(const std::vector<PageLine>& lines, std::size_t maxChars);
}  // namespace PageReader

}  // namespace tovrin
