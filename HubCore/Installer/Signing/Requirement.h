#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace Hub {

// A code requirement compiled from its text. The language is the small one
// the installer writes and nothing more: clauses joined by "and", each one of
//
//   anchor apple generic
//   certificate <1|leaf>[field.<dotted OID>] exists
//   certificate <1|leaf>[subject.OU] = "<text>"
//   identifier "<text>"
//
// Quoted texts hold no quote and no backslash. Any other text (or, not,
// parentheses, other certificate slots or fields, unquoted values) does not
// compile, so a requirement can never be read more loosely than it was meant.
//
// "anchor apple generic" means: the signer's chain ends in one of the pinned
// anchor certificates. "certificate 1" is the leaf's issuer.
class Requirement {
public:
    enum class Slot { leaf, one };

    struct FieldExists {
        Slot slot;
        QString oid;
        friend bool operator==(const FieldExists&, const FieldExists&) = default;
    };
    struct SubjectOU {
        Slot slot;
        QString value;
        friend bool operator==(const SubjectOU&, const SubjectOU&) = default;
    };

    // None when the text is outside the language.
    static std::optional<Requirement> compile(const QString& text);

    // The requirement that nested code must meet under this one: the anchor
    // clause alone, when this requirement has it.
    Requirement nested() const;

    bool anchorApple() const { return m_anchorApple; }
    const std::vector<FieldExists>& fields() const { return m_fields; }
    const std::vector<SubjectOU>& subjectOUs() const { return m_subjectOUs; }
    const std::vector<QString>& identifiers() const { return m_identifiers; }

private:
    bool m_anchorApple = false;
    std::vector<FieldExists> m_fields;
    std::vector<SubjectOU> m_subjectOUs;
    std::vector<QString> m_identifiers;
};

} // namespace Hub
