// ICC primitives, elements, the tag list and the camera edit, checked against hand-encoded bytes.
#include "icc.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <tuple>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// obj written into exactly its encoded size, pre-filled with 0xEE so that unwritten padding shows.
Bytes Encode(ICC_ProfileObject& obj)
{
    Bytes out(obj.GetEncodedSizeBytes(), 0xEE);
    EXPECT_TRUE(obj.Write(out.data(), out.data() + out.size()));
    return out;
}

}  // namespace

TEST(IccByteOrder, ConvertsArraysAndBuildsDates)
{
    // No test sets the byte order itself: the conversions (and every encoding below) decide it.
    unsigned int words[2] = {0x01020304u, 0x05060708u};
    EXPECT_FALSE(ProcessEndianU32(words, 0) || ProcessEndianU16(nullptr, 2));
    ASSERT_TRUE(ProcessEndianU32(words, 2));
    EXPECT_EQ(words[1], g_isLittleEndian ? 0x08070605u : 0x05060708u);
    unsigned short dt[6] = {};
    ASSERT_TRUE(ICCBuildDateTime(dt, 1425564429));  // 2015-03-05 14:07:09 UTC
    EXPECT_EQ(std::vector<unsigned short>(dt, dt + 6), (std::vector<unsigned short>{2015, 3, 5, 14, 7, 9}));
    EXPECT_FALSE(ICCBuildDateTime(nullptr));
}

TEST(IccCurve, EncodesQuantisesAndDecodes)
{
    ICC_CPP_curveType curve;
    ASSERT_TRUE(curve.SetLinear(3) && !curve.SetLinear(1) && !curve.SetLinear(0));
    const Bytes bytes = Encode(curve);
    EXPECT_EQ(bytes, (Bytes{'c', 'u', 'r', 'v', 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0x80, 0, 0xFF, 0xFF, 0xEE, 0xEE}));
    std::unique_ptr<ICC_CPP_Curve> back(ICC_CPP_Curve::ReadCurveType(bytes.data(), bytes.data() + 18));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(static_cast<ICC_CPP_curveType&>(*back).entries, (std::vector<float>{0.0f, 32768.0f / 65535, 1.0f}));
    curve.entries = {1.5f, -0.2f, std::numeric_limits<float>::quiet_NaN(), 0.99999f};
    Bytes clamped = Encode(curve);
    EXPECT_EQ(Bytes(clamped.begin() + 12, clamped.end()), (Bytes{0xFF, 0xFF, 0, 0, 0, 0, 0xFF, 0xFE}));
    EXPECT_FALSE(curve.Write(clamped.data(), clamped.data() + 19));  // one byte short
}

TEST(IccCurve, RefusesMalformedElements)
{
    // The good element (n = 2) cut short, or with one 32-bit value put at an offset. Buffers have
    // the exact size, so that a read past the end trips the sanitizer; the entries stay as they were.
    const Bytes good = {'c', 'u', 'r', 'v', 0, 0, 0, 0, 0, 0, 0, 2, 0x12, 0x34, 0x56, 0x78};
    ASSERT_TRUE(ICC_CPP_curveType().Read(good.data(), good.data() + good.size()));
    const std::tuple<size_t, size_t, unsigned int> cases[] = {
        {0, 16, 0}, {11, 16, 0}, {12, 16, 0}, {15, 16, 0},          {16, 0, ICCSignature("Curv")},
        {16, 4, 1}, {16, 8, 0},  {16, 8, 1},  {16, 8, 0xFFFFFFFFu}, {16, 8, 3}};
    for (const auto& [length, at, value] : cases) {
        SCOPED_TRACE(testing::Message() << length << " bytes, " << value << " at " << at);
        Bytes bad(good.begin(), good.begin() + length);
        for (size_t i = 0; at + 4 <= bad.size() && i < 4; ++i)
            bad[at + i] = static_cast<unsigned char>(value >> (24 - 8 * i));
        ICC_CPP_curveType curve;
        curve.entries = {1.0f};
        EXPECT_FALSE(curve.Read(bad.data(), bad.data() + bad.size()));
        EXPECT_EQ(curve.entries, std::vector<float>{1.0f});
        EXPECT_EQ(ICC_CPP_Curve::ReadCurveType(bad.data(), bad.data() + bad.size()), nullptr);
    }
}

TEST(IccText, EncodesAndReadsWithinItsSize)
{
    ICC_CPP_TextType text(0);
    text.text = "abc";
    EXPECT_EQ(Encode(text), (Bytes{'t', 'e', 'x', 't', 0, 0, 0, 0, 'a', 'b', 'c', 0}));
    text.text = "abcd";
    EXPECT_EQ(Encode(text), (Bytes{'t', 'e', 'x', 't', 0, 0, 0, 0, 'a', 'b', 'c', 'd', 0, 0xEE, 0xEE, 0xEE}));
    // The text ends at the first 0 or at the size; a size too short for header and terminator,
    // or past the end, is refused with the text untouched.
    const Bytes element = {'t', 'e', 'x', 't', 0, 0, 0, 0, 'a', 'b', 'c', 'd', 0, 0, 0, 0};
    const std::tuple<unsigned, const char*> cases[] = {{16, "abcd"}, {11, "abc"}, {0, "old"}, {8, "old"}, {17, "old"}};
    for (const auto& [size, want] : cases) {
        ICC_CPP_TextType read(size);
        read.text = "old";
        EXPECT_EQ(read.Read(element.data(), element.data() + element.size()), size > 8 && size <= 16) << size;
        EXPECT_EQ(read.text, want) << size;
    }
}

TEST(IccTag, CopyrightTagAndTableEntry)
{
    ICC_CPP_cprt_Tag tag;
    EXPECT_TRUE(tag.signature == 0x63707274u && tag.offset == 0 && tag.size == 0 && tag.GetText().empty());
    ASSERT_TRUE(tag.SetText("abc"));
    tag.offset = 144;
    Bytes entry(12);
    ASSERT_TRUE(tag.WriteTable(entry.data()) && !tag.WriteTable(nullptr));
    EXPECT_EQ(entry, (Bytes{0x63, 0x70, 0x72, 0x74, 0, 0, 0, 0x90, 0, 0, 0, 0x0C}));
    // Read takes the element's size from the tag (10), not from the last SetText (12); Clear
    // keeps the tag's fields.
    const Bytes element = {'t', 'e', 'x', 't', 0, 0, 0, 0, 'x', 'y', 'z', 0};
    tag.size = 10;
    ASSERT_TRUE(tag.Read(element.data(), element.data() + element.size()));
    EXPECT_EQ(tag.GetText(), "xy");
    tag.Clear();
    EXPECT_TRUE(tag.GetText().empty() && tag.offset == 144 && tag.size == 10);
}

TEST(IccProfile, LaysOutSortsAndDropsTags)
{
    // Encoded sizes 12, 20 and 14: the padding after each element counts, the last one's too.
    ICC_CPP_Profile profile;
    auto* cprt = new ICC_CPP_cprt_Tag;
    cprt->SetText("abc");
    ASSERT_TRUE(profile.AddTag(cprt));
    EXPECT_TRUE(cprt->offset == 144 && cprt->size == 12 && profile.header.size == 156);
    auto* curve = new ICC_CPP_curve_Tag;
    auto* opaque = new ICC_CPP_opaque_Tag;
    curve->curve->entries = {0.0f, 0.5f, 1.0f};
    opaque->bytes->assign(14, 7);
    curve->signature = ICCSignature("wtpt");  // sorted: "cprt", "desc", "wtpt"
    opaque->signature = ICCSignature("desc");
    profile.AddTag(curve);
    profile.AddTag(opaque);
    EXPECT_TRUE(curve->offset == 180 && opaque->offset == 200 && opaque->size == 14 && profile.header.size == 216);
    ASSERT_TRUE(profile.SortTags());
    EXPECT_TRUE(opaque->offset == 180 && curve->offset == 196);
    EXPECT_FALSE(profile.AddTag(nullptr) || profile.KeepTags(nullptr, 1));
    ASSERT_TRUE(profile.KeepTags(nullptr, 0));
    EXPECT_TRUE(profile.GetTags().empty() && profile.header.size == 132);
}

TEST(IccEdit, CameraMatrixRowsGetTheTwoTriples)
{
    const std::vector<float> first = {0.75f, 0.6f, 0.73333335f, 0.4f}, second = {0.3f, 0.40392157f, 0.34509805f, 0.4f};
    ICC_CPP_Profile profile;
    ICC_CPP_A2B_Tag* tags[3];
    for (unsigned int i = 0; i < 3; ++i) {
        profile.AddTag(tags[i] = new ICC_CPP_A2B_Tag(ICCSignature("A2B0") + i));
        tags[i]->SetData(new ICC_CPP_lut16Type);
        tags[i]->GetData()->rows.assign(i == 0 ? 5 : 1, {0.1f, 0.2f, 0.3f, 0.4f});
    }
    profile.AddTag(new ICC_CPP_A2B_Tag(ICCSignature("A2B0")));  // GetTag finds the first of two
    // A short row in A2B2, and then a missing data element, fail the edit and leave that table as
    // it was; the tables before it are edited all the same.
    tags[2]->GetData()->rows.push_back({0.5f, 0.5f});
    EXPECT_FALSE(ReplaceCanonCameraMatrixWithIdentity(&profile));
    EXPECT_EQ(tags[1]->GetData()->rows[0], second);
    EXPECT_EQ(tags[2]->GetData()->rows[0][0], 0.1f);
    tags[2]->SetData(nullptr);
    EXPECT_FALSE(ReplaceCanonCameraMatrixWithIdentity(&profile));
    tags[2]->SetData(new ICC_CPP_lut16Type);
    ASSERT_TRUE(ReplaceCanonCameraMatrixWithIdentity(&profile));
    EXPECT_EQ(tags[0]->GetData()->rows, (std::vector<std::vector<float>>{first, first, second, second, second}));
}
