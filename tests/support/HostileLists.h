#pragma once

#include <QByteArray>

#include <vector>

namespace Hub::Test {

// A binary property list whose top dictionary names `chains` chains of lists,
// each `length` lists deep, in order; the innermost list of each chain holds
// the chain named before it, which a reader has met already. A few bytes a
// list, it nests 1 + chains x length levels.
inline QByteArray sharedNestingList(int chains, int length)
{
    // Objects: the dictionary, its keys, then each chain's lists from the
    // outermost in. References take two bytes, offsets four.
    const auto two = [](int value) {
        QByteArray out;
        out.append(char(value >> 8)).append(char(value & 0xFF));
        return out;
    };
    const auto head = [&](int chain) { return 1 + chains + chain * length; };
    std::vector<QByteArray> objects;
    QByteArray top;
    top.append(char(0xDF)).append(char(0x11)).append(two(chains));
    for (int chain = 0; chain < chains; ++chain)
        top.append(two(1 + chain));
    for (int chain = 0; chain < chains; ++chain)
        top.append(two(head(chain)));
    objects.push_back(top);
    for (int chain = 0; chain < chains; ++chain) {
        const QByteArray key = QByteArray::number(chain);
        objects.push_back(QByteArray(1, char(0x50 | key.size())).append(key));
    }
    for (int chain = 0; chain < chains; ++chain) {
        for (int level = 0; level + 1 < length; ++level)
            objects.push_back(QByteArray(1, char(0xA1)).append(two(head(chain) + level + 1)));
        objects.push_back(chain == 0 ? QByteArray(1, char(0xA0)) : QByteArray(1, char(0xA1)).append(two(head(chain - 1))));
    }

    const auto bigEndian = [](quint64 value, int bytes) {
        QByteArray out;
        for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
            out += char((value >> shift) & 0xFF);
        return out;
    };
    QByteArray out("bplist00");
    QByteArray offsets;
    for (const QByteArray& object : objects) {
        offsets.append(bigEndian(quint64(out.size()), 4));
        out.append(object);
    }
    const qsizetype table = out.size();
    out.append(offsets).append(QByteArray(6, '\0')).append(char(4)).append(char(2));
    out.append(bigEndian(objects.size(), 8)).append(bigEndian(0, 8)).append(bigEndian(quint64(table), 8));
    return out;
}

} // namespace Hub::Test
