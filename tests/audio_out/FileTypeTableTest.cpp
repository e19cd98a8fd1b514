// The file-type table that the sink, the catalogue and the orafon command read.
#include "AudioSink.h"
#include "FileType.h"

#include <orafon/OrafonIds.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

struct Delivered {
    WAVEFORMATEX wfx;
    LONG nBitRate;
};

int Collect(const WAVEFORMATEX *pwfx, LONG nBitRate, void *pContext)
{
    static_cast<std::vector<Delivered> *>(pContext)->push_back({*pwfx, nBitRate});
    return 1;
}

TEST(FileTypeTableTest, OneRowPerFileFormatInOrder)
{
    const auto types = AllFileTypes();
    ASSERT_EQ(static_cast<size_t>(FF_FLAC) + 1, types.size());
    for (size_t i = 0; i < types.size(); ++i) {
        EXPECT_EQ(static_cast<LONG>(i), types[i].nFileFormat);
        EXPECT_EQ(&types[i], FindFileType(static_cast<LONG>(i)));
        EXPECT_NE(nullptr, types[i].writer.make);
        EXPECT_NE(nullptr, types[i].writer.open);
    }
    EXPECT_EQ(nullptr, FindFileType(-1));
    EXPECT_EQ(nullptr, FindFileType(FF_FLAC + 1));
}

TEST(FileTypeTableTest, EveryLabelAndExtensionNamesExactlyOneType)
{
    std::set<std::string> seen;
    for (const FileTypeDescriptor &type : AllFileTypes()) {
        EXPECT_TRUE(seen.insert(std::string(type.label)).second) << type.label;
        ASSERT_FALSE(type.names.empty()) << type.label;
        for (std::string_view name : type.names) {
            if (name != type.label) {
                EXPECT_TRUE(seen.insert(std::string(name)).second) << name;
            }
            EXPECT_EQ(&type, FindFileTypeByName(name));
        }
        EXPECT_EQ(&type, FindFileTypeByName(type.label));
    }
}

TEST(FileTypeTableTest, NamesAreFoundWhateverTheirCase)
{
    const struct {
        const char *name;
        LONG nFileFormat;
    } cases[] = {{"WAV", FF_WAVE},  {"Aif", FF_AIFF}, {"aiff", FF_AIFF}, {"M4A", FF_MP4},
                 {"flac", FF_FLAC}, {"Ogg", FF_OGG},  {"vox", FF_VOX},   {"au", FF_AU}};
    for (const auto &c : cases) {
        const FileTypeDescriptor *type = FindFileTypeByName(c.name);
        ASSERT_NE(nullptr, type) << c.name;
        EXPECT_EQ(c.nFileFormat, type->nFileFormat) << c.name;
    }
    for (const char *unknown : {"", "midi", "wa", "flacc", ".wav"})
        EXPECT_EQ(nullptr, FindFileTypeByName(unknown)) << unknown;
}

TEST(FileTypeTableTest, TheCatalogueDeliversEachAvailableRowsList)
{
    for (const FileTypeDescriptor &type : AllFileTypes()) {
        SCOPED_TRACE(std::string(type.label));
        std::vector<Delivered> got;
        ASSERT_EQ(S_OK, CAudioSink::EnumFormats(type.nFileFormat, Collect, &got));
        if (!IsFileTypeAvailable(type)) {
            EXPECT_TRUE(got.empty());
            continue;
        }
        ASSERT_EQ(type.formats.size(), got.size());
        for (size_t i = 0; i < got.size(); ++i) {
            const WAVEFORMATEX wfx = TargetFormatOf(type.formats[i]);
            EXPECT_EQ(0, std::memcmp(&wfx, &got[i].wfx, sizeof wfx)) << i;
            EXPECT_EQ(BitRateOf(type.formats[i]), got[i].nBitRate) << i;
        }
    }
}

TEST(FileTypeTableTest, PcmBitRateFollowsTheShape)
{
    EXPECT_EQ(256000, BitRateOf({8000, 2, 16, 0}));
    EXPECT_EQ(64000, BitRateOf({8000, 1, 8, 0}));
    EXPECT_EQ(31984, BitRateOf({44100, 2, 16, 31984}));
}

} // namespace
