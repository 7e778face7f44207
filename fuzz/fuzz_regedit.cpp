// The simulated machine's REGEDIT4 reader on arbitrary text, with a
// REGEDIT4 line put before it when it has none (so that whole registry files
// are seeds too, linked from where they live): it either refuses the text or
// reads a registry that it writes out so that reading that back and writing
// it again gives the same bytes; and once a key is deleted, the text saved
// (the text read less that key's blocks) reads back as the same keys and
// values.
#include "core/core.h"
#include "fuzz_check.h"
#include "platform.h"
#include "registry/registry.h"

namespace {

// The same keys and values, in whatever order and case the names come.
bool SameTree(SimRegKey *a, SimRegKey *b)
{
    if (a->subkeys.size() != b->subkeys.size() || a->values.size() != b->values.size())
        return false;
    for (const SimRegValue &value : a->values) {
        const SimRegValue *other = SimRegFindValue(b, value.name);
        if (!other || other->type != value.type || other->data != value.data)
            return false;
    }
    for (const auto &child : a->subkeys) {
        auto found = b->index.find(SimFold(child->name));
        if (found == b->index.end() || !SameTree(child.get(), found->second))
            return false;
    }
    return true;
}

}  // namespace

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

    // The key deleted: down the last subkeys of a root, as deep as the first
    // byte says.
    SimRegReset();
    SimRegImport(text, &error);
    int root = size > 1 && data[1] % 2;
    int depth = 1 + (size ? data[0] % 4 : 0);
    std::string path;
    for (SimRegKey *key = SimRegRoot(root); depth-- > 0 && !key->subkeys.empty();) {
        key = key->subkeys.back().get();
        path += (path.empty() ? "" : "\\") + key->name;
    }
    if (path.empty() || path.find('\0') != std::string::npos)
        return 0;  // no call can name it
    FUZZ_CHECK(RegDeleteKeyA(root ? HKEY_USERS : HKEY_LOCAL_MACHINE, path.c_str()) == ERROR_SUCCESS,
               "%s not deleted", path.c_str());
    std::string left = SimRegExport();
    std::shared_ptr<SimRegKey> roots[] = {SimRegRoot(0)->shared_from_this(),
                                          SimRegRoot(1)->shared_from_this()};
    std::string saved;
    FUZZ_CHECK(SimRegEditedText(&saved), "deleting %s left the text as read", path.c_str());
    SimRegReset();
    FUZZ_CHECK(SimRegImport(saved, &error), "the text saved refused: %s\n%s", error.c_str(),
               Shown(saved).c_str());
    FUZZ_CHECK(SameTree(roots[0].get(), SimRegRoot(0)) && SameTree(roots[1].get(), SimRegRoot(1)),
               "deleting %s, the text saved reads back otherwise:\n%s\n---\n%s", path.c_str(),
               Shown(left).c_str(), Shown(SimRegExport()).c_str());
    return 0;
}
