#pragma once

#include <QByteArray>
#include <QList>

// Archives written byte by byte, to say what no archiving library lets one
// say: sizes that do not match the data, or that no disk could hold.
namespace Hub::Test {

// One deflated zip entry whose headers state `declared` bytes, whatever
// `data` inflates to.
struct CraftedEntry {
    QByteArray name;
    QByteArray data;
    quint32 declared = 0;
};

// A zip of the entries, in order, each a regular file of mode 0644.
QByteArray craftedZip(const QList<CraftedEntry>& entries);

// A GNU tar header for one file that claims `size` bytes (in base 256, as
// GNU tar writes sizes past 8 GiB), followed by a little data.
QByteArray claimingTar(quint64 size);

} // namespace Hub::Test
