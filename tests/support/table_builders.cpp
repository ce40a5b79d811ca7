#include "support/table_builders.h"

#include <numeric>

namespace tabrescue::test {

DatBuilder& DatBuilder::field(std::string name, std::uint8_t length, char type)
{
    m_fields.push_back({std::move(name), length, type});
    return *this;
}

std::uint16_t DatBuilder::realRecordLength() const
{
    return static_cast<std::uint16_t>(
        std::accumulate(m_fields.begin(), m_fields.end(), std::size_t{1},
                        [](std::size_t r, const Field& f) { return r + f.length; }));
}

DatBuilder& DatBuilder::row(char status, std::string values)
{
    values.resize(realRecordLength() - 1u, ' ');
    m_rows.push_back(std::string(1, status) + values);
    return *this;
}

DatBuilder& DatBuilder::rows(const std::string& statusBytes)
{
    for (const char status : statusBytes)
        row(status, "r" + std::to_string(m_rows.size() + 1));
    return *this;
}

Bytes DatBuilder::bytes() const
{
    Bytes b = toBytes(std::string("\x03\x7A\x05\x11", 4)); // dated 2022-05-17
    b.resize(32);
    putLE32(b, 4, m_recordCount.value_or(static_cast<std::uint32_t>(m_rows.size())));
    putLE16(b, 8, m_headerLength.value_or(realHeaderLength()));
    putLE16(b, 10, m_recordLength.value_or(realRecordLength()));
    for (const auto& f : m_fields) {
        Bytes d = toBytes(f.name.substr(0, 11));
        d.resize(32);
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

std::string TabTextBuilder::text() const
{
    std::string t = "!table" + m_eol + "!version 300" + m_eol + "!charset " + m_charset + m_eol + m_eol +
                    "Definition Table" + m_eol + "  Type NATIVE Charset \"" + m_charset + "\"" + m_eol +
                    "  Fields " + std::to_string(m_fields.size()) + m_eol;
    for (const auto& f : m_fields)
        t += "    " + f + m_eol;
    return t;
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

} // namespace tabrescue::test
