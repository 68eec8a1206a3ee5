#include "CraftedArchives.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace Hub::Test {

namespace {

void put16(QByteArray& out, quint32 value) { out.append(char(value & 0xff)).append(char((value >> 8) & 0xff)); }

void put32(QByteArray& out, quint32 value)
{
    put16(out, value & 0xffff);
    put16(out, value >> 16);
}

QByteArray rawDeflate(const QByteArray& data)
{
    z_stream stream {};
    if (deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    QByteArray packed(qsizetype(deflateBound(&stream, uLong(data.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(packed.data());
    stream.avail_out = uInt(packed.size());
    const int result = deflate(&stream, Z_FINISH);
    packed.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    if (result != Z_STREAM_END)
        throw std::runtime_error("deflate");
    return packed;
}

} // namespace

QByteArray craftedZip(const QList<CraftedEntry>& entries)
{
    QByteArray zip;
    QByteArray directory;
    for (const CraftedEntry& entry : entries) {
        const QByteArray packed = rawDeflate(entry.data);
        const quint32 crc =
            quint32(crc32(0, reinterpret_cast<const Bytef*>(entry.data.constData()), uInt(entry.data.size())));
        // What the local header and the central directory both say.
        const auto common = [&](QByteArray& out) {
            put16(out, 20);         // version needed
            put16(out, 0);          // flags
            put16(out, 8);          // deflate
            put32(out, 0x00210000); // time and date
            put32(out, crc);
            put32(out, quint32(packed.size()));
            put32(out, entry.declared);
            put16(out, quint32(entry.name.size()));
            put16(out, 0); // extra field
        };
        const quint32 offset = quint32(zip.size());
        put32(zip, 0x04034b50);
        common(zip);
        zip += entry.name + packed;

        put32(directory, 0x02014b50);
        put16(directory, 0x0314); // made on Unix
        common(directory);
        put16(directory, 0);              // comment
        put16(directory, 0);              // disk
        put16(directory, 0);              // internal attributes
        put32(directory, 0100644u << 16); // mode
        put32(directory, offset);
        directory += entry.name;
    }
    const quint32 start = quint32(zip.size());
    zip += directory;
    put32(zip, 0x06054b50);
    put16(zip, 0);
    put16(zip, 0);
    put16(zip, quint32(entries.size()));
    put16(zip, quint32(entries.size()));
    put32(zip, quint32(directory.size()));
    put32(zip, start);
    put16(zip, 0);
    return zip;
}

QByteArray claimingTar(quint64 size)
{
    QByteArray header(512, '\0');
    std::memcpy(header.data(), "big.bin", 7);
    std::memcpy(header.data() + 100, "0000644", 7);
    std::memcpy(header.data() + 108, "0000000", 7);
    std::memcpy(header.data() + 116, "0000000", 7);
    header[124] = char(0x80);
    for (int i = 0; i < 8; ++i)
        header[135 - i] = char((size >> (8 * i)) & 0xff);
    std::memcpy(header.data() + 136, "00000000000", 11);
    header[156] = '0';
    std::memcpy(header.data() + 257, "ustar  ", 8);
    std::memset(header.data() + 148, ' ', 8);
    unsigned sum = 0;
    for (const char byte : std::as_const(header))
        sum += unsigned(static_cast<unsigned char>(byte));
    std::snprintf(header.data() + 148, 8, "%06o", sum);
    header[155] = ' ';
    return header + QByteArray(4096, 'x');
}

} // namespace Hub::Test
