#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/files.h"

namespace tabrescue::test {

// Writes a .DAT: chosen fields, rows with status bytes, end mark; header claims can be overridden.
class DatBuilder {
public:
    DatBuilder& field(std::string name, std::uint8_t length, char type = 'C');
    // One row: status byte and field bytes (padded with blanks or cut to the record).
    DatBuilder& row(char status, std::string values = {});
    // One row per character of statusBytes, with generated values.
    DatBuilder& rows(const std::string& statusBytes);
    DatBuilder& recordCount(std::uint32_t claimed);
    DatBuilder& headerLength(std::uint16_t claimed);
    DatBuilder& recordLength(std::uint16_t claimed);
    DatBuilder& endMark(bool present);
    DatBuilder& trailing(const Bytes& bytes); // after the end mark

    std::uint16_t realHeaderLength() const;
    std::uint16_t realRecordLength() const;
    Bytes bytes() const;
    void write(const std::filesystem::path& p) const;

private:
    struct Field {
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
class TabTextBuilder {
public:
    TabTextBuilder& field(std::string line); // e.g. "NAME Char (8)"; " ;" is appended
    TabTextBuilder& indexedField(std::string line, int index);
    TabTextBuilder& lineEnding(std::string eol);
    TabTextBuilder& charset(std::string cs);
    std::string text() const;
    void write(const std::filesystem::path& p) const;

private:
    std::vector<std::string> m_fields;
    std::string m_eol = "\r\n";
    std::string m_charset = "WindowsLatin1";
};

// A table whose .DAT has one Char field per name; the .TAB declares the same fields.
struct SimpleTable {
    std::string tabPath;
    std::string datPath;
};
SimpleTable writeSimpleTable(const std::filesystem::path& folder, const std::string& baseName,
                             const std::string& statusBytes);

// The attribute result of the first `rows` row slots of a .DAT, built from the layout: every row
// live, RowId_old and rec_status appended, a cut last row padded with zeros.
Bytes expectedDatResult(const Bytes& dat, std::uint32_t rows);

} // namespace tabrescue::test
