#include "FlashActions.h"
#include "FlashIO.h"
#include "SwfTestUtil.h"

#include <gtest/gtest.h>

#include <set>

using namespace swftest;

namespace {

// Reads a whole record list back with the importer (counted form).
std::vector<std::unique_ptr<FlashActionRecord>> ReadAll(const std::vector<uint8_t> &bytes, bool &intact)
{
    std::vector<FlashActionRecord *> records;
    std::vector<std::unique_ptr<FlashActionRecord>> owned;
    std::istringstream in(AsString(bytes));
    intact = FlashActionVectorImporter().Import(in, records, owned, static_cast<uint32_t>(bytes.size()));
    return owned;
}

TEST(FlashActions, DocumentedBytes)
{
    EXPECT_EQ(Encode(FlashActionGotoFrame(0)), Bytes({0x81, 0x02, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Encode(FlashActionPlay()), Bytes({0x06}));
    EXPECT_EQ(Encode(FlashActionCall()), Bytes({0x9E, 0x00, 0x00}));
    EXPECT_EQ(Encode(FlashActionGotoFrame(0x1234)), Bytes({0x81, 0x02, 0x00, 0x34, 0x12}));
    EXPECT_EQ(Encode(FlashActionJump(-2)), Bytes({0x99, 0x02, 0x00, 0xFE, 0xFF}));
    EXPECT_EQ(Encode(FlashActionWaitForFrame(5, 2)), Bytes({0x8A, 0x03, 0x00, 0x05, 0x00, 0x02}));
    EXPECT_EQ(Encode(FlashActionStoreRegister(3)), Bytes({0x87, 0x01, 0x00, 0x03}));
    EXPECT_EQ(Encode(FlashActionGotoLabel("ab")), Bytes({0x8C, 0x03, 0x00, 'a', 'b', 0}));
    EXPECT_EQ(Encode(FlashActionGetURL("u", "_t")), Bytes({0x83, 0x05, 0x00, 'u', 0, '_', 't', 0}));
    EXPECT_EQ(Encode(FlashActionPush(0, {'x', 0})), Bytes({0x96, 0x03, 0x00, 0x00, 'x', 0}));
    EXPECT_EQ(Encode(FlashActionConstantPool({"a", "bc"})), Bytes({0x88, 0x07, 0x00, 0x02, 0x00, 'a', 0, 'b', 'c', 0}));
}

TEST(FlashActions, FamilyHasEightyEightClassesWithDistinctCodes)
{
    EXPECT_EQ(FlashActionClassCount(), 88u);
    std::set<std::string> names;
    int known = 0;
    for (int code = 0; code < 256; ++code) {
        const char *name = FlashActionName(static_cast<uint8_t>(code));
        auto record = FlashCreateAction(static_cast<uint8_t>(code));
        ASSERT_NE(record, nullptr);
        if (name == nullptr) {
            EXPECT_EQ(typeid(*record), typeid(FlashActionRecord)) << code;
            continue;
        }
        ++known;
        names.insert(name);
        EXPECT_EQ(record->Code(), code) << name;
        EXPECT_NE(typeid(*record), typeid(FlashActionRecord)) << name;
    }
    EXPECT_EQ(known, 88);
    EXPECT_EQ(names.size(), 88u);
    EXPECT_STREQ(FlashActionName(0x37), "MBAsciToChar");
    EXPECT_STREQ(FlashActionName(0x9F), "GotoFrame2");
    EXPECT_EQ(FlashActionName(0x16), nullptr);
}

TEST(FlashActions, EveryClassRoundTripsFromItsDefault)
{
    for (int code = 1; code < 256; ++code) {
        if (FlashActionName(static_cast<uint8_t>(code)) == nullptr) {
            continue;
        }
        const auto record = FlashCreateAction(static_cast<uint8_t>(code));
        const auto bytes = Encode(*record);
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(bytes[0], code);
        EXPECT_EQ(bytes.size() == 1, code < 0x80) << code;
        bool intact = false;
        const auto back = ReadAll(bytes, intact);
        EXPECT_TRUE(intact) << code;
        ASSERT_EQ(back.size(), 1u) << code;
        EXPECT_EQ(typeid(*back[0]), typeid(*record)) << code;
        EXPECT_EQ(Encode(*back[0]), bytes) << code;
    }
}

TEST(FlashActions, PayloadRecordsRoundTripTheirFields)
{
    std::vector<uint8_t> bytes;
    Append(bytes, Encode(FlashActionGetURL("http://x/", "_blank")));
    Append(bytes, Encode(FlashActionSetTarget("/clip")));
    Append(bytes, Encode(FlashActionConstantPool({"one", "", "three"})));
    Append(bytes, Encode(FlashActionPush(1, {0, 0, 0x80, 0x3F})));
    Append(bytes, Encode(FlashActionIf(-30)));
    Append(bytes, Encode(FlashActionWaitForFrame2(9)));
    bool intact = false;
    const auto back = ReadAll(bytes, intact);
    ASSERT_TRUE(intact);
    ASSERT_EQ(back.size(), 6u);
    auto *url = dynamic_cast<FlashActionGetURL *>(back[0].get());
    ASSERT_NE(url, nullptr);
    EXPECT_EQ(url->Url(), "http://x/");
    EXPECT_EQ(url->Target(), "_blank");
    EXPECT_EQ(dynamic_cast<FlashActionSetTarget *>(back[1].get())->Text(), "/clip");
    auto *pool = dynamic_cast<FlashActionConstantPool *>(back[2].get());
    EXPECT_EQ(pool->Strings(), (std::vector<std::string>{"one", "", "three"}));
    EXPECT_EQ(pool->StringBytes(), 11u);
    auto *push = dynamic_cast<FlashActionPush *>(back[3].get());
    EXPECT_EQ(push->Type(), 1);
    EXPECT_EQ(push->ValueLength(), 4);
    EXPECT_EQ(push->Value()[3], 0x3F);
    EXPECT_EQ(dynamic_cast<FlashActionIf *>(back[4].get())->Offset(), -30);
    EXPECT_EQ(dynamic_cast<FlashActionWaitForFrame2 *>(back[5].get())->Value(), 9);
}

TEST(FlashActions, CodeEightyHasALength)
{
    const FlashActionRecord record(0x80, {});
    EXPECT_EQ(Encode(record), Bytes({0x80, 0x00, 0x00}));
    bool intact = false;
    const auto back = ReadAll(Bytes({0x80, 0x01, 0x00, 0x42}), intact);
    ASSERT_TRUE(intact);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0]->Length(), 1);
    EXPECT_EQ(back[0]->Payload(), Bytes({0x42}));
}

TEST(FlashActions, UnknownRecordRoundTripsUnchanged)
{
    const auto bytes = Bytes({0x90, 0x03, 0x00, 0xAA, 0xBB, 0xCC});
    bool intact = false;
    const auto back = ReadAll(bytes, intact);
    ASSERT_TRUE(intact);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(typeid(*back[0]), typeid(FlashActionRecord));
    EXPECT_EQ(back[0]->Code(), 0x90);
    EXPECT_EQ(Encode(*back[0]), bytes);
}

TEST(FlashActions, DefineFunctionCountsItsBody)
{
    FlashActionGotoFrame gotoFirst(0);
    FlashActionPlay play;
    FlashActionDefineFunction function("f", {"a", "bb"});
    function.AddBodyRecord(&gotoFirst);
    function.AddBodyRecord(&play);
    const auto bytes = Encode(function);
    // length = name 1 + params (2 + 3) + 5 = 11; code size 6 after the header fields.
    EXPECT_EQ(bytes, Bytes({0x9B, 11, 0, 'f', 0, 2, 0, 'a', 0, 'b', 'b', 0, 6, 0, 0x81, 2, 0, 0, 0, 0x06}));

    bool intact = false;
    const auto back = ReadAll(bytes, intact);
    ASSERT_TRUE(intact);
    ASSERT_EQ(back.size(), 1u);
    auto *read = dynamic_cast<FlashActionDefineFunction *>(back[0].get());
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->Name(), "f");
    EXPECT_EQ(read->Parameters(), (std::vector<std::string>{"a", "bb"}));
    ASSERT_EQ(read->Body().size(), 2u);
    EXPECT_EQ(read->Body()[0]->Code(), 0x81);
    EXPECT_EQ(read->Body()[1]->Code(), 0x06);
    EXPECT_EQ(Encode(*read), bytes);
}

TEST(FlashActions, WithUsesTheFormatsLayout)
{
    FlashActionStop stop;
    FlashActionWith with;
    with.AddBodyRecord(&stop);
    const auto bytes = Encode(with);
    EXPECT_EQ(bytes, Bytes({0x94, 0x02, 0x00, 0x01, 0x00, 0x07}));
    bool intact = false;
    const auto back = ReadAll(bytes, intact);
    ASSERT_TRUE(intact);
    ASSERT_EQ(back.size(), 1u);
    auto *read = dynamic_cast<FlashActionWith *>(back[0].get());
    ASSERT_EQ(read->Body().size(), 1u);
    EXPECT_EQ(read->Body()[0]->Code(), 0x07);
}

// Builds n nested function definitions, innermost first, as raw bytes.
std::vector<uint8_t> NestedFunctions(int depth)
{
    std::vector<uint8_t> body = Bytes({0x06});
    for (int i = 0; i < depth; ++i) {
        std::vector<uint8_t> outer = Bytes({0x9B, 5, 0, 0, 0, 0});
        outer.push_back(static_cast<uint8_t>(body.size() & 0xFF));
        outer.push_back(static_cast<uint8_t>(body.size() >> 8));
        Append(outer, body);
        body = std::move(outer);
    }
    return body;
}

TEST(FlashActions, ModerateNestingIsRead)
{
    bool intact = false;
    const auto back = ReadAll(NestedFunctions(20), intact);
    EXPECT_TRUE(intact);
    ASSERT_EQ(back.size(), 1u);
    const FlashActionRecord *record = back[0].get();
    int depth = 0;
    while (auto *function = dynamic_cast<const FlashActionDefineFunction *>(record)) {
        ASSERT_EQ(function->Body().size(), 1u);
        record = function->Body()[0];
        ++depth;
    }
    EXPECT_EQ(depth, 20);
    EXPECT_EQ(record->Code(), 0x06);
}

TEST(FlashActions, DeepNestingEndsTheReadInsteadOfRecursing)
{
    bool intact = true;
    const auto back = ReadAll(NestedFunctions(5000), intact);
    EXPECT_FALSE(intact);
}

TEST(FlashActions, TruncatedRecordsEndTheRead)
{
    const std::vector<std::vector<uint8_t>> cases = {
        Bytes({0x81, 0x02}),                            // length cut
        Bytes({0x81, 0x02, 0x00, 0x01}),                // value cut
        Bytes({0x8C, 0x02, 0x00, 'a', 'b'}),            // string without terminator
        Bytes({0x88, 0x04, 0x00, 0x05, 0x00, 'a', 0}),  // fewer strings than counted
        Bytes({0x9B, 0x05, 0x00, 0, 0, 0, 9, 0, 0x06}), // body shorter than its code size
    };
    for (const auto &bytes : cases) {
        bool intact = true;
        ReadAll(bytes, intact);
        EXPECT_FALSE(intact) << bytes.size();
    }
}

TEST(FlashActions, ImportUntilEndStopsAtTheEndByte)
{
    std::istringstream in(AsString(Bytes({0x06, 0x07, 0x00, 0x06})));
    std::vector<FlashActionRecord *> records;
    std::vector<std::unique_ptr<FlashActionRecord>> owned;
    EXPECT_TRUE(FlashActionVectorImporter().Import(in, records, owned));
    EXPECT_EQ(records.size(), 2u);
    EXPECT_EQ(in.get(), 0x06); // the byte after the end marker is left alone
}

TEST(FlashActions, UnrepresentableLengthsFailTheStreamInsteadOfWrapping)
{
    std::ostringstream out(std::ios::binary);
    FlashActionPush push(0, std::vector<uint8_t>(70000, 1));
    push.Write(out);
    EXPECT_FALSE(out);
    EXPECT_TRUE(out.str().empty());

    std::ostringstream embedded(std::ios::binary);
    FlashActionGotoLabel label(std::string("a\0b", 3));
    label.Write(embedded);
    EXPECT_FALSE(embedded);
}

} // namespace
