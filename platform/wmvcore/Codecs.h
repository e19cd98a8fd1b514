// The audio codecs the runtime offers and the formats of each.
#pragma once

#include "MediaType.h"

#include <memory>
#include <string>
#include <vector>

namespace orafon::wmvcore {

struct CodecFormat {
    MediaType type;
    DWORD bitrate = 0; // bit/s: the format's average bytes per second x 8
};

struct Codec {
    std::u16string name;
    GUID subtype{};
    std::vector<CodecFormat> formats;
};

using CodecList = std::vector<Codec>;

// The audio codecs now (a list the hooks put in its place, if any). The
// snapshot stays valid for its holder whatever is set later.
std::shared_ptr<const CodecList> AudioCodecs();

// The real codec: Windows Media Audio through FFmpeg's wmav2 encoder.
const Codec &WmaCodec();
// Whether a format of a coded media type is one the writer can encode.
[[nodiscard]] bool IsEncodableFormat(const MediaType &type);

} // namespace orafon::wmvcore
