// Fuzzes the variation-set request reader and the naming template. Inputs whose first byte is
// even are whole requests; the others are spliced into a valid request at a position the second
// byte chooses. Whatever is read must pass the range checks, read back unchanged from its text
// form, and give file names that every file system takes.
#include "export/VariationSet.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* kValid = "count=20\nwhat=both\nname={kit}_{pool}_{n:03}_{seed}\nformat=16\n"
                     "loudness=-16\nceiling=-1\nseed=0x2A\nout=/tmp/x\nshard=2/3\nthreads=1\n";

void checkName(const std::string& name)
{
    if (name.empty() || name.size() > 204 || name.find('/') != std::string::npos ||
        name.find('\\') != std::string::npos || name.find('\0') != std::string::npos ||
        name.front() == '.' || name.front() == ' ')
        std::abort();
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || std::strchr(":*?\"<>|", c) != nullptr)
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text;
    if (size == 0 || (data[0] & 1) == 0) {
        text.assign(reinterpret_cast<const char*>(data), size);
    } else {
        text = kValid;
        const size_t at = size > 1 ? size_t(data[1]) % (text.size() + 1) : 0;
        text.insert(at, reinterpret_cast<const char*>(data) + std::min<size_t>(size, 2),
                    size - std::min<size_t>(size, 2));
    }
    vesk::VariationSetRequest request;
    std::string error;
    if (vesk::parseSetRequest(text, request, error) && vesk::validateSetRequest(request, error)) {
        vesk::VariationSetRequest back;
        if (!vesk::parseSetRequest(vesk::formatSetRequest(request), back, error) ||
            vesk::formatSetRequest(back) != vesk::formatSetRequest(request))
            std::abort();
        int first = 0, last = 0;
        vesk::shardRange(request.count, request.shardIndex, request.shardCount, first, last);
        if (first < 1 || last > request.count || last < first - 1)
            std::abort();
    } else if (error.empty() || error.find('\n') != std::string::npos) {
        std::abort();
    }
    // The template on its own, with a kit name made of the same bytes.
    vesk::NameTemplate tmpl;
    if (vesk::parseNameTemplate(text, tmpl, error)) {
        for (int pool : {0, 3}) {
            vesk::NameFields f{text.substr(0, 300), 7, pool, 0xFFFFFFFFFFFFFFFFull, "20261210"};
            checkName(vesk::expandName(tmpl, f));
        }
    }
    checkName(vesk::sanitizeFileName(text));
    return 0;
}
