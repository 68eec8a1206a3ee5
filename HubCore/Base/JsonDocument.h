#pragma once

#include "Base/Json.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

// The reader's document: every value one node in document order, a
// container's members or elements right after it, strings unescaped into one
// buffer. Reading a record walks this flat array instead of a tree of
// shared, reference-counted values.
namespace Hub::Json {

struct Node {
    struct Span {
        quint32 offset;   // the first byte in the text buffer
        quint32 size;     // bytes
    };

    Value::Type type = Value::Type::undefined;
    bool whole = false;   // a number whose text is a whole number within 64 bits
    quint32 end = 0;      // the index past this value and everything inside it
    union {
        qint64 integer = 0; // a whole number
        double real;        // any other number
        bool boolean;
        quint32 count;      // a list's elements, an object's members
        Span string;
    };
};
static_assert(sizeof(Node) == 16, "a node stays two words");

class Document {
public:
    // Appends one value; a list or an object is closed once its insides are in.
    quint32 open(Value::Type container);
    void close(quint32 index, quint32 count);
    void addString(std::string_view utf8);
    void addNumber(bool whole, qint64 integer, double real);
    void addBool(bool value);
    void addNull();

    const Node& node(quint32 index) const { return m_nodes[index]; }
    std::string_view text(const Node& node) const { return {m_text.data() + node.string.offset, node.string.size}; }
    void reserve(std::size_t nodes, std::size_t textBytes);
    // A string's text. Words of a few bytes ("plugin", "arm64", "1.0.0")
    // repeat in every record, so equal ones share one QString.
    QString string(const Node& node) const;

    // The first value, owning this document.
    static Value root(std::shared_ptr<const Document> document) { return Value(std::move(document), 0); }

private:
    quint32 append(const Node& node);

    std::vector<Node> m_nodes;
    std::string m_text;
    // The last few short words read, by their bytes and length packed in a
    // word of their own; a document is read by one thread at a time.
    mutable std::array<std::pair<quint64, QString>, 64> m_words;
};

// A document's text unescaped as UTF-8, as Qt text. Unlike QString::fromUtf8
// it keeps a leading U+FEFF, which inside a JSON string is a character like
// any other.
QString textOf(std::string_view utf8);

} // namespace Hub::Json
