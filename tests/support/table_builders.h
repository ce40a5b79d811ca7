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

    std::uint16_t realHeaderLength() const { return static_cast<std::uint16_t>(33 + m_descriptors.size()); }
    std::uint16_t realRecordLength() const { return m_realRecordLength; }
    Bytes bytes() const;
    void write(const std::filesystem::path& p) const { writeBytes(p, bytes()); }

  private:
    template <class T, class V> DatBuilder& set(T& member, const V& value) { return member = value, *this; }
    std::string m_descriptors, m_rows; // 32 bytes per field; status byte + values per row
    std::uint16_t m_realRecordLength = 1;
    std::uint32_t m_rowCount = 0;
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
    TabTextBuilder& indexedField(std::string l, int i) { return field(l + " Index " + std::to_string(i)); }
    TabTextBuilder& lineEnding(std::string eol) { return m_eol = std::move(eol), *this; }
    std::string text() const;
    void write(const std::filesystem::path& p) const { writeText(p, text()); }

  private:
    TabTextBuilder& add(std::string line) { return m_fields.push_back(std::move(line)), *this; }
    std::vector<std::string> m_fields;
    std::string m_eol = "\r\n";
};

// A table of .TAB and .DAT with fields ID and NAME, one row per status byte.
struct SimpleTable
{
    std::string tabPath, datPath;
};
SimpleTable writeSimpleTable(const std::filesystem::path& folder, const std::string& baseName,
                             const std::string& statusBytes);

} // namespace tabrescue::test
