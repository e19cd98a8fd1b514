// Feeds arbitrary bytes to the action importer in both of its forms and writes
// back whatever it read.
#include "FlashActions.h"
#include "FlashIO.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <vector>

namespace {

void WriteBack(const std::vector<FlashActionRecord *> &records)
{
    std::ostringstream out(std::ios::binary);
    for (const auto *record : records) {
        record->Write(out);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    {
        std::vector<FlashActionRecord *> records;
        std::vector<std::unique_ptr<FlashActionRecord>> owned;
        flashio::MemoryIStream in(data, size);
        FlashActionVectorImporter().Import(in, records, owned);
        WriteBack(records);
    }
    {
        std::vector<FlashActionRecord *> records;
        std::vector<std::unique_ptr<FlashActionRecord>> owned;
        flashio::MemoryIStream in(data, size);
        FlashActionVectorImporter().Import(in, records, owned, static_cast<uint32_t>(size));
        WriteBack(records);
    }
    return 0;
}
