#include "support/table_builders.h"

namespace tabrescue::test {

DatBuilder& DatBuilder::field(std::string name, std::uint8_t length, char type)
{
    name.resize(11);
    m_descriptors += name + type + std::string(4, '\0') + static_cast<char>(length) + std::string(15, '\0');
    m_realRecordLength = static_cast<std::uint16_t>(m_realRecordLength + length);
    return *this;
}

DatBuilder& DatBuilder::row(char status, std::string values)
{
    values.resize(realRecordLength() - 1u, ' ');
    m_rows += status + values;
    return ++m_rowCount, *this;
}

DatBuilder& DatBuilder::rows(const std::string& statusBytes)
{
    for (const char status : statusBytes)
        row(status, "r" + std::to_string(m_rowCount + 1));
    return *this;
}

Bytes DatBuilder::bytes() const
{
    Bytes b = toBytes(std::string("\x03\x7A\x05\x11", 4)); // dated 2022-05-17
    b.resize(32);
    putLE32(b, 4, m_recordCount.value_or(m_rowCount));
    // 16-bit fields written as 32 bits, in order: each one's upper half is the zeros after it.
    putLE32(b, 8, m_headerLength.value_or(realHeaderLength()));
    putLE32(b, 10, m_recordLength.value_or(realRecordLength()));
    const Bytes rest = toBytes(m_descriptors + "\x0D" + m_rows + (m_endMark ? "\x1A" : ""));
    b.insert(b.end(), rest.begin(), rest.end());
    b.insert(b.end(), m_trailing.begin(), m_trailing.end());
    return b;
}

std::string TabTextBuilder::text() const
{
    std::string t = "!table" + m_eol + "!version 300" + m_eol + "!charset WindowsLatin1" + m_eol + m_eol +
                    "Definition Table" + m_eol + "  Type NATIVE Charset \"WindowsLatin1\"" + m_eol +
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
