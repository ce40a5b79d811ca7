// Arbitrary text through the two definition-text rewrites.
#include <cstdint>
#include <string>

#include "base/recover_error.h"
#include "fuzz/fuzz_support.h"
#include "table/tab_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tabrescue;
    using tabrescue::fuzz::fail;
    const std::string text = fuzz::asText({data, size});

    // Errors (a field count beyond 32 bits, missing field lines) are numbered; the caller logs them.
    // Dropping index clauses only ever shortens lines, and a second pass finds nothing more.
    try {
        const std::string stripped = removeTabIndexes(text);
        if (stripped.size() > text.size())
            fail("removeTabIndexes made the text longer");
        if (!stripped.empty() && removeTabIndexes(stripped) != stripped)
            fail("removeTabIndexes is not idempotent");
    } catch (const RecoverError&) {
    }
    // Two added lines, each no wider than the text's own lines plus their fixed words.
    try {
        const std::string added = makeDatResultTabText(text);
        if (added.size() > 3 * text.size() + 64)
            fail("makeDatResultTabText grew the text by more than two lines");
    } catch (const RecoverError&) {
    }
    return 0;
}
