// Arbitrary text through the two definition-text rewrites. Their errors (a field count beyond 32 bits,
// missing field lines) are numbered and left to the caller to log.
#include "base/recover_error.h"
#include "fuzz/fuzz_support.h"
#include "table/tab_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tabrescue;
    const std::string text(reinterpret_cast<const char*>(data), size);
    try { // dropping index clauses only ever shortens lines, and a second pass finds nothing more
        const std::string stripped = removeTabIndexes(text);
        if (stripped.size() > text.size() || (!stripped.empty() && removeTabIndexes(stripped) != stripped))
            fuzz::fail("removeTabIndexes lengthened the text or left something for a second pass");
    } catch (const RecoverError&) {
    }
    try { // two added lines, each no wider than the text's own lines plus their fixed words
        if (makeDatResultTabText(text).size() > 3 * text.size() + 64)
            fuzz::fail("makeDatResultTabText grew the text by more than two lines");
    } catch (const RecoverError&) {
    }
    return 0;
}
