// The XML a WIM file carries about its images.
//
// It is stored as UTF-16LE on one line; the program reads it one element per line
// (NAME, DISPLAYNAME, FLAGS, INSTALLATIONTYPE ...), so it is printed re-indented.
// The printer is a tolerant tokenizer, not a validating parser: a damaged document
// still prints every element it can find instead of nothing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace wimengine {

// One element per line, two blanks per level. An element holding only text stays on
// one line with its text exactly as stored; line breaks inside text or tags become
// character references so that no element spans two lines.
std::vector<std::string> prettyXmlLines(std::string_view utf8Xml);

// Escapes &, < and > for element text.
std::string escapeXmlText(std::string_view text);

// For an <IMAGE> element (UTF-8): replaces its NAME, DESCRIPTION and FLAGS children by
// the given values. An empty or all-blank flags value removes FLAGS (the program sends
// four blanks for "no edition"). Without an IMAGE element a new one is made.
std::string withImageProperties(std::string_view imageXml, std::string_view name,
                                std::string_view description, std::string_view flags);

// True when flags means "no edition": empty or only blanks.
bool isBlankFlags(std::string_view flags);

}  // namespace wimengine
