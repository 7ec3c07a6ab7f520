// What the services take from an RFC 4512 schema description (a value of a
// subschema entry's objectClasses or attributeTypes): its OID, its names and,
// for a class, its superclasses.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ovdir {

struct SchemaDescription {
    std::string oid;
    std::vector<std::string> names;
    std::vector<std::string> superiors;
};

// False when the text is no description: no "(" and OID first, a quoted
// string left open, parentheses that do not close. Keywords ignore case;
// what the services do not use (DESC, MUST, MAY, extensions, ...) is passed
// over. A server's or a file's text is read here, so nothing it holds can
// make the reader keep or leak what it read.
bool ReadSchemaDescription(std::string_view text, SchemaDescription& description);

}  // namespace ovdir
