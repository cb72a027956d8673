// ICC primitives, elements, the tag list and the edits, checked against hand-encoded bytes.
#include "icc.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

const unsigned int k_cprt = 0x63707274;
static_assert(ICCSignature("curv") == 0x63757276 && ICCSignature("text") == 0x74657874);

// Encodes obj into a buffer of exactly its encoded size, pre-filled with 0xEE so that
// unwritten padding shows.
Bytes Encode(ICC_ProfileObject& obj, bool* ok = nullptr)
{
    Bytes out(obj.GetEncodedSizeBytes(), 0xEE);
    const bool written = obj.Write(out.data(), out.data() + out.size());
    if (ok)
        *ok = written;
    return out;
}

// A text tag with the given signature and text.
ICC_CPP_Tag* TextTag(const char (&signature)[5], const std::string& text)
{
    auto* tag = new ICC_CPP_textInternal_Tag;
    tag->SetText(text);
    tag->signature = ICCSignature(signature);
    return tag;
}

std::vector<unsigned int> Signatures(const ICC_CPP_Profile& profile)
{
    std::vector<unsigned int> out;
    for (const ICC_CPP_Tag* tag : profile.GetTags())
        out.push_back(tag->signature);
    return out;
}

// An A2B tag whose data element holds `count` rows of four values 0.1, 0.2, 0.3, 0.4.
ICC_CPP_A2B_Tag* RowTag(const char (&signature)[5], size_t count)
{
    auto* data = new ICC_CPP_lut16Type;
    data->rows.assign(count, {0.1f, 0.2f, 0.3f, 0.4f});
    auto* tag = new ICC_CPP_A2B_Tag(ICCSignature(signature));
    tag->SetData(data);
    return tag;
}

}  // namespace

TEST(IccByteOrder, SwapsOnLittleEndianHostsAndIsItsOwnInverse)
{
    // The first conversion, before any explicit DetermineEndianness, decides correctly.
    const unsigned int first = ProcessEndianU32(0x12345678u);
    DetermineEndianness();
    EXPECT_EQ(first, g_isLittleEndian ? 0x78563412u : 0x12345678u);
    EXPECT_EQ(ProcessEndianU16(0x1234), g_isLittleEndian ? 0x3412 : 0x1234);
    EXPECT_EQ(ProcessEndianU16(ProcessEndianU16(0xA1B2)), 0xA1B2);

    unsigned int words[2] = {0x01020304u, 0x05060708u};
    unsigned short halves[1] = {0x0102};
    EXPECT_FALSE(ProcessEndianU32(words, 0));
    EXPECT_FALSE(ProcessEndianU16(nullptr, 2));
    EXPECT_EQ(words[0], 0x01020304u);
    ASSERT_TRUE(ProcessEndianU32(words, 2) && ProcessEndianU16(halves, 1));
    EXPECT_EQ(words[1], ProcessEndianU32(0x05060708u));
    EXPECT_EQ(halves[0], ProcessEndianU16(0x0102));

    unsigned short dt[6] = {};
    ASSERT_TRUE(ICCBuildDateTime(dt, 1425564429));  // 2015-03-05 14:07:09 UTC
    EXPECT_EQ(std::vector<unsigned short>(dt, dt + 6), (std::vector<unsigned short>{2015, 3, 5, 14, 7, 9}));
    EXPECT_FALSE(ICCBuildDateTime(nullptr));
}

TEST(IccCurve, EncodesQuantisesAndDecodes)
{
    ICC_CPP_curveType curve;
    EXPECT_EQ(curve.GetEncodedSizeBytes(), 12u);
    ASSERT_TRUE(curve.SetLinear(3));
    EXPECT_EQ(curve.entries, (std::vector<float>{0.0f, 0.5f, 1.0f}));
    EXPECT_FALSE(curve.SetLinear(1) || curve.SetLinear(0));
    EXPECT_EQ(curve.GetEncodedSizeBytes(), 20u);
    bool ok = false;
    const Bytes bytes = Encode(curve, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(bytes, (Bytes{'c', 'u', 'r', 'v', 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0x80, 0, 0xFF, 0xFF, 0xEE, 0xEE}));
    ICC_CPP_curveType back;
    ASSERT_TRUE(back.Read(bytes.data(), bytes.data() + 18));
    EXPECT_EQ(back.entries, (std::vector<float>{0.0f, 32768.0f / 65535.0f, 1.0f}));

    curve.entries = {1.5f, -0.2f, std::numeric_limits<float>::quiet_NaN(), 0.99999f};
    const Bytes q = Encode(curve);
    EXPECT_EQ(Bytes(q.begin() + 12, q.begin() + 20), (Bytes{0xFF, 0xFF, 0, 0, 0, 0, 0xFF, 0xFE}));
    // Fewer than two entries: the header is written, the curve is not.
    curve.entries = {0.5f};
    const Bytes one = Encode(curve, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(Bytes(one.begin(), one.begin() + 12), (Bytes{'c', 'u', 'r', 'v', 0, 0, 0, 0, 0, 0, 0, 1}));
}

TEST(IccCurve, RefusesMalformedElements)
{
    // A good element with n = 2, then one defect per case, each in an exact-size buffer so
    // that a read past the end is caught by the sanitizer; nothing may change the entries.
    const Bytes good = {'c', 'u', 'r', 'v', 0, 0, 0, 0, 0, 0, 0, 2, 0x12, 0x34, 0x56, 0x78};
    struct Case {
        size_t length, at;
        unsigned char value;
    };
    const Case cases[] = {{0, 0, 'c'}, {11, 0, 'c'},  {12, 0, 'c'},  {15, 0, 'c'},  {16, 6, 1},
                          {16, 11, 0}, {16, 11, 1}, {16, 8, 0xFF}, {16, 0, 'C'}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.length << " bytes, byte " << c.at << " = " << int(c.value));
        Bytes bad(good.begin(), good.begin() + c.length);
        if (c.at < bad.size())
            bad[c.at] = c.value;
        ICC_CPP_curveType curve;
        curve.entries = {1.0f};
        EXPECT_FALSE(curve.Read(bad.data(), bad.data() + bad.size()));
        EXPECT_EQ(curve.entries, std::vector<float>{1.0f});
        EXPECT_EQ(ICC_CPP_Curve::ReadCurveType(bad.data(), bad.data() + bad.size()), nullptr);
    }
    std::unique_ptr<ICC_CPP_Curve> curve(ICC_CPP_Curve::ReadCurveType(good.data(), good.data() + good.size()));
    ASSERT_NE(curve, nullptr);
    EXPECT_EQ(static_cast<ICC_CPP_curveType*>(curve.get())->entries,
              (std::vector<float>{0x1234 / 65535.0f, 0x5678 / 65535.0f}));
    Bytes small(15);
    EXPECT_FALSE(curve->Write(small.data(), small.data() + small.size()));
}

TEST(IccText, EncodesAndReadsWithinItsSize)
{
    ICC_CPP_TextType text(0);
    text.text = "abc";
    EXPECT_EQ(Encode(text), (Bytes{'t', 'e', 'x', 't', 0, 0, 0, 0, 'a', 'b', 'c', 0}));
    text.text = "abcd";
    EXPECT_EQ(Encode(text), (Bytes{'t', 'e', 'x', 't', 0, 0, 0, 0, 'a', 'b', 'c', 'd', 0, 0xEE, 0xEE, 0xEE}));

    const Bytes element = {'t', 'e', 'x', 't', 0, 0, 0, 0, 'a', 'b', 'c', 'd', 0, 0, 0, 0};
    ICC_CPP_TextType read(16), unterminated(11);
    ASSERT_TRUE(read.Read(element.data(), element.data() + element.size()));
    EXPECT_EQ(read.text, "abcd");
    ASSERT_TRUE(unterminated.Read(element.data(), element.data() + 11));
    EXPECT_EQ(unterminated.text, "abc");
    // Too short for header and terminator, or past the end: refused, text untouched.
    for (unsigned int size : {0u, 1u, 7u, 8u, 17u}) {
        ICC_CPP_TextType bad(size);
        bad.text = "keep";
        EXPECT_FALSE(bad.Read(element.data(), element.data() + element.size())) << size;
        EXPECT_EQ(bad.text, "keep");
    }
}

TEST(IccTag, CopyrightTagAndTableEntry)
{
    ICC_CPP_cprt_Tag tag;
    EXPECT_TRUE(tag.signature == 0x63707274u && tag.offset == 0 && tag.size == 0 && tag.GetText().empty());
    ASSERT_TRUE(tag.SetText("abc"));
    EXPECT_EQ(tag.size, 12u);

    tag.SetHeader(k_cprt, 144, 12);
    Bytes entry(12);
    ASSERT_TRUE(tag.WriteTable(entry.data()));
    EXPECT_EQ(entry, (Bytes{0x63, 0x70, 0x72, 0x74, 0, 0, 0, 0x90, 0, 0, 0, 0x0C}));
    EXPECT_FALSE(tag.WriteTable(nullptr));

    // Read takes the element's size from the tag; Clear keeps the tag's fields.
    const Bytes element = {'t', 'e', 'x', 't', 0, 0, 0, 0, 'x', 'y', 0, 0};
    tag.SetHeader(k_cprt, 200, 12);
    ASSERT_TRUE(tag.Read(element.data(), element.data() + element.size()));
    EXPECT_EQ(tag.GetText(), "xy");
    tag.Clear();
    EXPECT_EQ(tag.GetText(), "");
    EXPECT_EQ(tag.offset, 200u);
}

TEST(IccProfile, LaysOutTagsOnFourByteBoundaries)
{
    ICC_CPP_Profile profile;
    EXPECT_EQ(profile.header.size, 132u);

    auto* cprt = new ICC_CPP_cprt_Tag;
    cprt->SetText("abc");
    ASSERT_TRUE(profile.AddTag(cprt));
    EXPECT_TRUE(cprt->offset == 144 && cprt->size == 12 && profile.header.size == 156);

    // Encoded sizes 20 and 14: the second element starts at 176, the next offset is at 192.
    ICC_CPP_Profile two;
    auto* curve = new ICC_CPP_curve_Tag;
    curve->curve.entries = {0.0f, 0.5f, 1.0f};
    auto* opaque = new ICC_CPP_opaque_Tag;
    opaque->bytes.assign(14, 7);
    two.AddTag(curve);
    two.AddTag(opaque);
    EXPECT_TRUE(curve->offset == 156 && opaque->offset == 176 && opaque->size == 14);
    EXPECT_EQ(two.header.size, 192u);

    EXPECT_FALSE(two.AddTag(nullptr));
    EXPECT_FALSE(two.KeepTags(nullptr, 1));
    EXPECT_EQ(two.GetTags().size(), 2u);
    ASSERT_TRUE(two.KeepTags(nullptr, 0));
    EXPECT_TRUE(two.GetTags().empty());
    EXPECT_EQ(two.header.size, 132u);
}

TEST(IccProfile, SortsFiltersAndFindsTags)
{
    ICC_CPP_Profile profile;
    profile.AddTag(TextTag("wtpt", "w"));
    profile.AddTag(TextTag("desc", "first"));
    profile.AddTag(TextTag("cprt", "c"));
    profile.AddTag(TextTag("desc", "second"));
    EXPECT_EQ(static_cast<ICC_CPP_textInternal_Tag*>(profile.GetTag(ICCSignature("desc")))->GetText(), "first");
    EXPECT_EQ(profile.GetTag(ICCSignature("gamt")), nullptr);

    ASSERT_TRUE(profile.SortTags());
    EXPECT_EQ(Signatures(profile), (std::vector<unsigned int>{k_cprt, ICCSignature("desc"), ICCSignature("desc"),
                                                                ICCSignature("wtpt")}));
    for (size_t i = 1; i < profile.GetTags().size(); ++i)
        EXPECT_GT(profile.GetTags()[i]->offset, profile.GetTags()[i - 1]->offset);

    // The order of the signatures to keep plays no part.
    const unsigned int keep[] = {ICCSignature("wtpt"), k_cprt};
    ASSERT_TRUE(profile.KeepTags(keep, 2));
    EXPECT_EQ(Signatures(profile), (std::vector<unsigned int>{k_cprt, ICCSignature("wtpt")}));
    EXPECT_EQ(profile.header.size, 132u + 24 + 12 + 12);
}

TEST(IccEdit, OrliskKeepsColourTagsAndReplacesTheCopyright)
{
    ICC_CPP_Profile profile;
    profile.AddTag(TextTag("desc", "d"));
    profile.AddTag(TextTag("cprt", "old"));
    profile.AddTag(TextTag("wtpt", "w"));
    profile.AddTag(RowTag("A2B0", 1));
    profile.AddTag(TextTag("dmnd", "m"));
    ASSERT_TRUE(ICCXRiteToOrlisk(&profile));
    const std::vector<unsigned int> expected = {ICCSignature("A2B0"), k_cprt, ICCSignature("desc"),
                                                ICCSignature("wtpt")};
    EXPECT_EQ(Signatures(profile), expected);
    EXPECT_EQ(profile.GetTags()[0]->offset, 180u);
    EXPECT_EQ(profile.header.creator, ICCSignature("ORLK"));
    auto* cprt = dynamic_cast<ICC_CPP_cprt_Tag*>(profile.GetTag(k_cprt));
    ASSERT_NE(cprt, nullptr);
    EXPECT_EQ(cprt->GetText(), "Copyright (c) Orlisk. All rights reserved.");

    // A second run drops the first run's copyright and adds a fresh one.
    ASSERT_TRUE(ICCXRiteToOrlisk(&profile));
    EXPECT_EQ(Signatures(profile), expected);
    EXPECT_FALSE(ICCXRiteToOrlisk(nullptr));
}

TEST(IccEdit, CameraMatrixRowsGetTheTwoTriples)
{
    ICC_CPP_Profile profile;
    profile.AddTag(RowTag("A2B0", 5));
    profile.AddTag(RowTag("A2B1", 1));
    profile.AddTag(RowTag("A2B2", 0));
    ASSERT_TRUE(ReplaceCanonCameraMatrixWithIdentity(&profile));
    const std::vector<float> first = {0.75f, 153.0f / 255.0f, 187.0f / 255.0f, 0.4f};
    const std::vector<float> second = {0.3f, 103.0f / 255.0f, 88.0f / 255.0f, 0.4f};
    auto rows = [&](const char (&sig)[5]) {
        return static_cast<ICC_CPP_A2B_Tag*>(profile.GetTag(ICCSignature(sig)))->GetData()->rows;
    };
    EXPECT_EQ(rows("A2B0"), (std::vector<std::vector<float>>{first, first, second, second, second}));
    EXPECT_EQ(rows("A2B1"), (std::vector<std::vector<float>>{second}));
    EXPECT_TRUE(rows("A2B2").empty());
    EXPECT_FALSE(ReplaceCanonCameraMatrixWithIdentity(nullptr));
}

TEST(IccEdit, CameraMatrixFailsWithoutAllThreeTables)
{
    // No A2B2: the first two tables are edited all the same.
    ICC_CPP_Profile missing;
    missing.AddTag(RowTag("A2B0", 2));
    missing.AddTag(RowTag("A2B1", 2));
    EXPECT_FALSE(ReplaceCanonCameraMatrixWithIdentity(&missing));
    EXPECT_EQ(static_cast<ICC_CPP_A2B_Tag*>(missing.GetTag(ICCSignature("A2B1")))->GetData()->rows[1][0], 0.3f);

    // An A2B2 without a data element; one with a short row, which leaves all its rows alone.
    missing.AddTag(new ICC_CPP_A2B_Tag(ICCSignature("A2B2")));
    EXPECT_FALSE(ReplaceCanonCameraMatrixWithIdentity(&missing));
    ICC_CPP_Profile shortRow;
    shortRow.AddTag(RowTag("A2B0", 2));
    shortRow.AddTag(RowTag("A2B1", 2));
    ICC_CPP_A2B_Tag* a2b2 = RowTag("A2B2", 2);
    a2b2->GetData()->rows[1] = {0.5f, 0.5f};
    shortRow.AddTag(a2b2);
    EXPECT_FALSE(ReplaceCanonCameraMatrixWithIdentity(&shortRow));
    EXPECT_EQ(a2b2->GetData()->rows[0][0], 0.1f);
}
