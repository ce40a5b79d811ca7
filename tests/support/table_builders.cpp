#include "support/table_builders.h"

#include <algorithm>

namespace tabrescue::test {

DatBuilder& DatBuilder::field(std::string name, std::uint8_t length, char type)
{
    m_fields.push_back({std::move(name), length, type});
    return *this;
}

std::uint16_t DatBuilder::realHeaderLength() const
{
    return static_cast<std::uint16_t>(32 + 32 * m_fields.size() + 1);
}

std::uint16_t DatBuilder::realRecordLength() const
{
    std::size_t r = 1;
    for (const auto& f : m_fields)
        r += f.length;
    return static_cast<std::uint16_t>(r);
}

DatBuilder& DatBuilder::row(char status, std::string values)
{
    values.resize(realRecordLength() - 1u, ' ');
    m_rows.push_back(std::string(1, status) + values);
    return *this;
}

DatBuilder& DatBuilder::rows(const std::string& statusBytes)
{
    for (std::size_t i = 0; i < statusBytes.size(); ++i)
        row(statusBytes[i], "r" + std::to_string(m_rows.size() + 1));
    return *this;
}

DatBuilder& DatBuilder::recordCount(std::uint32_t claimed)
{
    m_recordCount = claimed;
    return *this;
}

DatBuilder& DatBuilder::headerLength(std::uint16_t claimed)
{
    m_headerLength = claimed;
    return *this;
}

DatBuilder& DatBuilder::recordLength(std::uint16_t claimed)
{
    m_recordLength = claimed;
    return *this;
}

DatBuilder& DatBuilder::endMark(bool present)
{
    m_endMark = present;
    return *this;
}

DatBuilder& DatBuilder::trailing(const Bytes& bytes)
{
    m_trailing = bytes;
    return *this;
}

Bytes DatBuilder::bytes() const
{
    Bytes b(32, std::byte{0});
    b[0] = std::byte{0x03};
    b[1] = std::byte{0x7A}; // 2022-05-17
    b[2] = std::byte{0x05};
    b[3] = std::byte{0x11};
    putLE32(b, 4, m_recordCount.value_or(static_cast<std::uint32_t>(m_rows.size())));
    putLE16(b, 8, m_headerLength.value_or(realHeaderLength()));
    putLE16(b, 10, m_recordLength.value_or(realRecordLength()));
    for (const auto& f : m_fields) {
        Bytes d(32, std::byte{0});
        for (std::size_t i = 0; i < f.name.size() && i < 11; ++i)
            d[i] = static_cast<std::byte>(f.name[i]);
        d[11] = static_cast<std::byte>(f.type);
        d[16] = static_cast<std::byte>(f.length);
        b.insert(b.end(), d.begin(), d.end());
    }
    b.push_back(std::byte{0x0D});
    for (const auto& r : m_rows) {
        const Bytes rb = toBytes(r);
        b.insert(b.end(), rb.begin(), rb.end());
    }
    if (m_endMark)
        b.push_back(std::byte{0x1A});
    b.insert(b.end(), m_trailing.begin(), m_trailing.end());
    return b;
}

void DatBuilder::write(const std::filesystem::path& p) const
{
    writeBytes(p, bytes());
}

TabTextBuilder& TabTextBuilder::field(std::string line)
{
    m_fields.push_back(std::move(line) + " ;");
    return *this;
}

TabTextBuilder& TabTextBuilder::indexedField(std::string line, int index)
{
    m_fields.push_back(std::move(line) + " Index " + std::to_string(index) + " ;");
    return *this;
}

TabTextBuilder& TabTextBuilder::lineEnding(std::string eol)
{
    m_eol = std::move(eol);
    return *this;
}

TabTextBuilder& TabTextBuilder::charset(std::string cs)
{
    m_charset = std::move(cs);
    return *this;
}

std::string TabTextBuilder::text() const
{
    std::string t = "!table" + m_eol + "!version 300" + m_eol + "!charset " + m_charset + m_eol + m_eol +
                    "Definition Table" + m_eol + "  Type NATIVE Charset \"" + m_charset + "\"" + m_eol +
                    "  Fields " + std::to_string(m_fields.size()) + m_eol;
    for (const auto& f : m_fields)
        t += "    " + f + m_eol;
    return t;
}

void TabTextBuilder::write(const std::filesystem::path& p) const
{
    writeText(p, text());
}

SimpleTable writeSimpleTable(const std::filesystem::path& folder, const std::string& baseName,
                             const std::string& statusBytes)
{
    const auto tab = folder / u8path(baseName + ".TAB");
    const auto dat = folder / u8path(baseName + ".DAT");
    TabTextBuilder().field("ID Integer").field("NAME Char (8)").write(tab);
    DatBuilder().field("ID", 4).field("NAME", 8).rows(statusBytes).write(dat);
    return {utf8(tab), utf8(dat)};
}

Bytes expectedDatResult(const Bytes& dat, std::uint32_t rows)
{
    const std::uint16_t h = getLE16(dat, 8), r = getLE16(dat, 10);
    Bytes e(dat.begin(), dat.begin() + h - 1);
    putLE32(e, 4, rows);
    putLE16(e, 8, static_cast<std::uint16_t>(h + 64));
    putLE16(e, 10, static_cast<std::uint16_t>(r + 5));
    for (const auto& [name, length] : {std::pair<std::string, int>{"RowId_old", 4}, {"rec_status", 1}}) {
        Bytes d = toBytes(name);
        d.resize(32, std::byte{0});
        d[11] = std::byte{'C'};
        d[16] = static_cast<std::byte>(length);
        e.insert(e.end(), d.begin(), d.end());
    }
    e.push_back(std::byte{0x0D});
    for (std::uint32_t k = 0; k < rows; ++k) {
        const auto at = dat.begin() + h + std::ptrdiff_t{k} * r;
        Bytes row(at, std::min(dat.end(), at + r));
        row.resize(r, std::byte{0});
        const bool deleted = row[0] == std::byte{'*'};
        row[0] = std::byte{' '};
        e.insert(e.end(), row.begin(), row.end());
        appendLE32(e, k + 1);
        e.push_back(deleted ? std::byte{'D'} : std::byte{' '});
    }
    e.push_back(std::byte{0x1A});
    return e;
}

} // namespace tabrescue::test
