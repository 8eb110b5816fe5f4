#include "base/XmlWriting.h"

#include "base/Utf8.h"

#include <algorithm>

namespace corvex::xml {

namespace {

struct StringWriter : pugi::xml_writer {
    std::string text;
    void write(const void* data, std::size_t size) override { text.append(static_cast<const char*>(data), size); }
};

} // namespace

pugi::xml_document documentWithDeclaration(const char* encodingName)
{
    pugi::xml_document document;
    pugi::xml_node declaration = document.append_child(pugi::node_declaration);
    declaration.append_attribute("version").set_value("1.0");
    declaration.append_attribute("encoding").set_value(encodingName);
    return document;
}

pugi::xml_node appendTextElement(pugi::xml_node parent, const char* name, std::string_view text)
{
    pugi::xml_node element = parent.append_child(name);
    element.text().set(xmlCharacters(text).c_str());
    return element;
}

void appendAttribute(pugi::xml_node element, const char* name, std::string_view text)
{
    element.append_attribute(name).set_value(xmlCharacters(text).c_str());
}

std::string oneLine(std::string_view text)
{
    std::string line(text);
    std::replace_if(line.begin(), line.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
    return line;
}

std::string documentText(const pugi::xml_document& document, Layout layout)
{
    StringWriter writer;
    if (layout == Layout::Indented)
        document.save(writer, " ", pugi::format_indent, pugi::encoding_utf8);
    else
        document.save(writer, "", pugi::format_raw, pugi::encoding_utf8);
    return std::move(writer.text);
}

} // namespace corvex::xml
