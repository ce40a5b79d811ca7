#pragma once

#include <optional>

#include "support/files.h"

namespace tabrescue::test {

// Writes a .DAT: chosen fields, rows with status bytes, end mark; header claims can be overridden.
class DatBuilder
{
  public:
    DatBuilder& field(std::string name, std::uint8_t length, char type = 'C');
    // One row: status byte and field bytes (padded with blanks or cut to the record).
    DatBuilder& row(char status, std::string values = {});
    // One row per character of statusBytes, with generated values.
    DatBuilder& rows(const std::string& statusBytes);
    DatBuilder& recordCount(std::uint32_t claimed) { return set(m_recordCount, claimed); }
    DatBuilder& headerLength(std::uint16_t claimed) { return set(m_headerLength, claimed); }
    DatBuilder& recordLength(std::uint16_t claimed) { return set(m_recordLength, claimed); }
    DatBuilder& endMark(bool present) { return set(m_endMark, present); }
    DatBuilder& trailing(const Bytes& bytes) { return set(m_trailing, bytes); } // after the end mark

    std::uint16_t realHeaderLength() const { return static_cast<std::uint16_t>(33 + 32 * m_fields.size()); }
    std::uint16_t realRecordLength() const;
    Bytes bytes() const;
    void write(const std::filesystem::path& p) const { writeBytes(p, bytes()); }

  private:
    template <class T, class V> DatBuilder& set(T& member, const V& value)
    {
        member = value;
        return *this;
    }
    struct Field
    {
        std::string name;
        std::uint8_t length;
        char type;
    };
    std::vector<Field> m_fields;
    std::vector<std::string> m_rows; // status byte + values, real record length
    std::optional<std::uint32_t> m_recordCount;
    std::optional<std::uint16_t> m_headerLength, m_recordLength;
    bool m_endMark = true;
    Bytes m_trailing;
};

// Writes a .TAB definition text.
class TabTextBuilder
{
  public:
    TabTextBuilder& field(std::string line) { return add(std::move(line) + " ;"); } // "NAME Char (8)"
    TabTextBuilder& indexedField(std::string line, int index)
    {
        return add(std::move(line) + " Index " + std::to_string(index) + " ;");
    }
    TabTextBuilder& lineEnding(std::string eol) { return set(m_eol, eol); }
    TabTextBuilder& charset(std::string cs) { return set(m_charset, cs); }
    std::string text() const;
    void write(const std::filesystem::path& p) const { writeText(p, text()); }

  private:
    TabTextBuilder& add(std::string line) { return m_fields.push_back(std::move(line)), *this; }
    TabTextBuilder& set(std::string& member, const std::string& value) { return member = value, *this; }
    std::vector<std::string> m_fields;
    std::string m_eol = "\r\n";
    std::string m_charset = "WindowsLatin1";
};

// A table whose .DAT has one Char field per name; the .TAB declares the same fields.
struct SimpleTable
{
    std::string tabPath;
    std::string datPath;
};
SimpleTable writeSimpleTable(const std::filesystem::path& folder, const std::string& baseName,
                             const std::string& statusBytes);

} // namespace tabrescue::test
