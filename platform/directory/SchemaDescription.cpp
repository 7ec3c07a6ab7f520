// A reader of RFC 4512 schema descriptions, for the parts the services use.
#include "platform/directory/SchemaDescription.h"

#include "framework/OvString.h"

namespace ovdir {
namespace {

struct Token {
    enum class Kind { Open, Close, Dollar, Quoted, Word } kind;
    std::string_view text;
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The text as tokens; false on a quoted string left open.
bool Tokenize(std::string_view text, std::vector<Token>& tokens)
{
    std::size_t at = 0;
    while (at < text.size()) {
        const char c = text[at];
        if (IsSpace(c)) {
            ++at;
        } else if (c == '(' || c == ')' || c == '$') {
            tokens.push_back({c == '('   ? Token::Kind::Open
                              : c == ')' ? Token::Kind::Close
                                         : Token::Kind::Dollar,
                              text.substr(at, 1)});
            ++at;
        } else if (c == '\'') {
            const std::size_t close = text.find('\'', at + 1);
            if (close == std::string_view::npos) return false;
            tokens.push_back({Token::Kind::Quoted, text.substr(at + 1, close - at - 1)});
            at = close + 1;
        } else {
            std::size_t end = at;
            while (end < text.size() && !IsSpace(text[end]) && text[end] != '(' &&
                   text[end] != ')' && text[end] != '$' && text[end] != '\'')
                ++end;
            tokens.push_back({Token::Kind::Word, text.substr(at, end - at)});
            at = end;
        }
    }
    return true;
}

// One argument at tokens[at]: a token, or a parenthesized list whose tokens
// of the kind wanted go to into. Returns the position after it, or npos.
std::size_t ReadArgument(const std::vector<Token>& tokens, std::size_t at, Token::Kind wanted,
                         std::vector<std::string>* into)
{
    if (at >= tokens.size()) return std::string::npos;
    if (tokens[at].kind != Token::Kind::Open) {
        if (tokens[at].kind == Token::Kind::Close) return std::string::npos;
        if (into != nullptr && tokens[at].kind == wanted) into->emplace_back(tokens[at].text);
        return at + 1;
    }
    for (++at; at < tokens.size(); ++at) {
        if (tokens[at].kind == Token::Kind::Close) return at + 1;
        if (tokens[at].kind == Token::Kind::Open) return std::string::npos;
        if (into != nullptr && tokens[at].kind == wanted) into->emplace_back(tokens[at].text);
    }
    return std::string::npos;
}

bool TakesArgument(std::string_view keyword)
{
    for (const char* name : {"DESC", "SUP", "NAME", "EQUALITY", "ORDERING", "SUBSTR", "SYNTAX",
                             "USAGE", "MUST", "MAY", "AUX", "NOT", "APPLIES", "FORM", "OC"}) {
        if (OvEqualsIgnoringAsciiCase(keyword, name)) return true;
    }
    return keyword.size() > 2 && (keyword[0] == 'X' || keyword[0] == 'x') && keyword[1] == '-';
}

}  // namespace

bool ReadSchemaDescription(std::string_view text, SchemaDescription& description)
{
    description = SchemaDescription();
    std::vector<Token> tokens;
    if (!Tokenize(text, tokens) || tokens.size() < 3 || tokens[0].kind != Token::Kind::Open ||
        tokens[1].kind != Token::Kind::Word || tokens.back().kind != Token::Kind::Close)
        return false;
    description.oid.assign(tokens[1].text);
    const std::size_t last = tokens.size() - 1;
    std::size_t at = 2;
    while (at < last) {
        if (tokens[at].kind != Token::Kind::Word) return false;
        const std::string_view keyword = tokens[at].text;
        if (!TakesArgument(keyword)) {
            ++at;
            continue;
        }
        std::vector<std::string>* into = nullptr;
        Token::Kind wanted = Token::Kind::Word;
        if (OvEqualsIgnoringAsciiCase(keyword, "NAME")) {
            into = &description.names;
            wanted = Token::Kind::Quoted;
        } else if (OvEqualsIgnoringAsciiCase(keyword, "SUP")) {
            into = &description.superiors;
        }
        at = ReadArgument(tokens, at + 1, wanted, into);
        if (at > last) return false;
    }
    return true;
}

}  // namespace ovdir
