// The simulated machine's REGEDIT4 reader on arbitrary text, with a
// REGEDIT4 line put before it when it has none (so that whole registry files
// are seeds too, linked from where they live): it either refuses the text or
// reads a registry that it writes out so that reading that back and writing
// it again gives the same bytes.
#include "fuzz_check.h"
#include "sim_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text((const char *)data, size);
    if (text.compare(0, 8, "REGEDIT4"))
        text = "REGEDIT4\r\n" + text;
    std::string error;
    SimRegReset();
    if (!SimRegImport(text, &error)) {
        FUZZ_CHECK(!error.empty(), "refused without a reason");
        return 0;
    }
    std::string exported = SimRegExport();
    SimRegReset();
    FUZZ_CHECK(SimRegImport(exported, &error), "its own export refused: %s\n%s", error.c_str(),
               Shown(exported).c_str());
    std::string again = SimRegExport();
    FUZZ_CHECK(again == exported, "export changed on the way back:\n%s\n---\n%s",
               Shown(exported).c_str(), Shown(again).c_str());
    return 0;
}
