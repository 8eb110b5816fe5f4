#pragma once

#include <pugixml.hpp>

#include <string>
#include <string_view>

// The XML the program writes (GPX, KML, SOAP requests) is built as a pugixml document,
// so that escaping is the library's and the text is always well-formed.
namespace corvex::xml {

// A document that starts with <?xml version="1.0" encoding="..."?>.
pugi::xml_document documentWithDeclaration(const char* encodingName = "UTF-8");

// An element with the text as its content, after xmlCharacters (base/Utf8.h).
pugi::xml_node appendTextElement(pugi::xml_node parent, const char* name, std::string_view text);
// An attribute with the text as its value, after xmlCharacters.
void appendAttribute(pugi::xml_node element, const char* name, std::string_view text);

// The text on one line: tabs, line feeds and carriage returns become blanks (names and
// titles, which readers show on one line).
std::string oneLine(std::string_view text);

enum class Layout {
    Indented, // an element per line, one blank per level
    Compact, // no white space between tags
};
std::string documentText(const pugi::xml_document& document, Layout layout);

} // namespace corvex::xml
