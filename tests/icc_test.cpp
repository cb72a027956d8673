// ICC primitives, elements, the tag list and the camera edit, checked against hand-encoded bytes.
#include "icc.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <memory>
#include <tuple>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using Lab = std::array<double, 3>;
using Codes = std::array<unsigned short, 3>;

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

TEST(IccNumbers, FixedPointLabCodesAndSevenBitText)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::tuple<double, int> fixed[] = {{1.0, 0x10000},       {0.9642, 0xF6D6},      {0.8249, 0xD32D},
                                             {-0.5, -0x8000},       {1.5 / 65536, 2},      {-1.5 / 65536, -2},
                                             {32768.0, 0x7FFFFFFF}, {-40000.0, std::numeric_limits<int>::min()}, {nan, 0}};
    for (const auto& [value, want] : fixed)
        EXPECT_EQ(ICCDoubleToS15Fixed16(value), want) << value;
    EXPECT_TRUE(ICCS15Fixed16ToDouble(0xF6D6) == 0.964202880859375 && ICCS15Fixed16ToDouble(-0x8000) == -0.5);

    // Known codes, the ends of the encoding and values beyond them.
    const std::tuple<Lab, Codes> known[] = {{{100, 0, 0}, {0xFF00, 0x8000, 0x8000}},
                                            {{0, -128, 127.99609375}, {0, 0, 0xFFFF}},
                                            {{100.390625, 0.001, -0.001}, {0xFFFF, 0x8000, 0x8000}},
                                            {{101, -200, 300}, {0xFFFF, 0, 0xFFFF}},
                                            {{-5, nan, 0.5 / 256}, {0, 0, 0x8001}}};
    for (const auto& [lab, want] : known) {
        Codes codes;
        ICCEncodeLabV2(lab.data(), codes.data());
        EXPECT_EQ(codes, want) << lab[0] << " " << lab[1] << " " << lab[2];
    }
    // Little CMS's own encoding agrees everywhere in range, and so does decoding.
    std::mt19937 random(5);
    std::uniform_real_distribution<double> l(0.0, 100.0), ab(-128.0, 127.99);
    for (int i = 0; i < 10000; ++i) {
        const Lab lab = {l(random), ab(random), ab(random)};
        const cmsCIELab in{lab[0], lab[1], lab[2]};
        Codes codes, theirs;
        ICCEncodeLabV2(lab.data(), codes.data());
        cmsFloat2LabEncodedV2(theirs.data(), &in);
        ASSERT_EQ(codes, theirs) << lab[0] << " " << lab[1] << " " << lab[2];
        Lab back;
        cmsCIELab theirBack;
        ICCDecodeLabV2(codes.data(), back.data());
        cmsLabEncoded2FloatV2(&theirBack, codes.data());
        ASSERT_NEAR(back[0], theirBack.L, 1e-12);
        ASSERT_TRUE(back[1] == theirBack.a && back[2] == theirBack.b);
    }

    // One '?' per character outside ASCII and per byte of a malformed one.
    const std::tuple<const char*, const char*> texts[] = {
        {"plain text", "plain text"}, {"Caf\xC3\xA9", "Caf?"},   {"\xE2\x82\xAC 5", "? 5"},
        {"\xF0\x9F\x8E\xA8!", "?!"},  {"\xFF\xFE", "??"},         {"\xC0\x80", "??"},
        {"\xED\xA0\x80", "???"},      {"\xF4\x90\x80\x80", "????"}, {"\xE2\x82", "??"}};
    for (const auto& [in, want] : texts) {
        std::string ascii = "old";
        EXPECT_TRUE(ICCSevenBitText(in, &ascii) && ascii == want) << in;
    }
    EXPECT_FALSE(ICCSevenBitText("a", nullptr));
}

TEST(IccLut16, CreatesAnElementWhoseRowsWriteBackExactly)
{
    ICC_CPP_lut16Type lut;
    ASSERT_TRUE(lut.Create(2, {{0, 0x8000, 0xFFFF}, {1, 2, 3}}, {{0, 0xFFFF}}));
    ASSERT_EQ(lut.rows, std::vector<std::vector<float>>(4, std::vector<float>{0.0f}));
    for (size_t p = 0; p < 4; ++p)
        lut.rows[p][0] = static_cast<float>(p + 1) / 65535.0f;
    EXPECT_EQ(Encode(lut), (Bytes{'m', 'f', 't', '2', 0, 0, 0, 0, 2, 1, 2, 0,  // inputs, outputs, grid
                                  0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,          // the identity matrix
                                  0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0,          //
                                  0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0,          //
                                  0, 3, 0, 2,                                  // table entries
                                  0, 0, 0x80, 0, 0xFF, 0xFF, 0, 1, 0, 2, 0, 3,  // input tables
                                  0, 1, 0, 2, 0, 3, 0, 4,                      // CLUT
                                  0, 0, 0xFF, 0xFF}));                         // output table

    // Every 16-bit code c, put into a row as c / 65535, is written back as c.
    ASSERT_TRUE(lut.Create(255, {{0, 0xFFFF}, {0, 0xFFFF}}, {{0, 0xFFFF}, {0, 0xFFFF}, {0, 0xFFFF}}));
    ASSERT_EQ(lut.rows.size(), 255u * 255u);
    for (size_t v = 0; v < 3 * lut.rows.size(); ++v)
        lut.rows[v / 3][v % 3] = static_cast<float>(v % 65536) / 65535.0f;
    const Bytes bytes = Encode(lut);
    for (size_t v = 0; v < 3 * lut.rows.size(); ++v)
        ASSERT_EQ(bytes[60 + 2 * v] << 8 | bytes[61 + 2 * v], int(v % 65536)) << v;

    // Shapes an element cannot hold leave the element as it was.
    using Tables = std::vector<std::vector<unsigned short>>;
    const Tables two(1, {0, 0xFFFF});
    const std::tuple<const char*, unsigned, Tables, Tables> refused[] = {
        {"no input", 2, {}, two},
        {"16 inputs", 2, Tables(16, {0, 0xFFFF}), two},
        {"no output", 2, two, {}},
        {"16 outputs", 2, two, Tables(16, {0, 0xFFFF})},
        {"1 grid point", 1, two, two},
        {"256 grid points", 256, two, two},
        {"1 entry", 2, Tables(1, {0}), two},
        {"4097 entries", 2, two, Tables(1, std::vector<unsigned short>(4097))},
        {"unequal tables", 2, {{0, 1}, {0, 1, 2}}, two},
        {"4 GiB CLUT", 255, Tables(4, {0, 0xFFFF}), Tables(1, {0, 0xFFFF})}};
    lut.rows.assign(1, {0.5f});
    for (const auto& [name, grid, inputs, outputs] : refused) {
        EXPECT_FALSE(lut.Create(grid, inputs, outputs)) << name;
        EXPECT_EQ(lut.rows, std::vector<std::vector<float>>(1, {0.5f})) << name;
    }
}

TEST(IccXYZ, EncodesAndReadsEveryWholeValue)
{
    ICC_CPP_XYZType xyz;
    Bytes room(31);
    EXPECT_FALSE(xyz.Write(room.data(), room.data() + room.size()));  // no value
    xyz.values = {{0.9642, 1.0, 0.8249}, {-0.5, 0.0, 2.0}};
    const Bytes bytes = Encode(xyz);
    EXPECT_EQ(bytes, (Bytes{'X', 'Y', 'Z', ' ', 0, 0, 0, 0, 0, 0, 0xF6, 0xD6, 0, 1, 0, 0, 0, 0, 0xD3, 0x2D,
                            0xFF, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 2, 0, 0}));
    EXPECT_FALSE(xyz.Write(room.data(), room.data() + room.size()));  // one byte short
    // The values are those whole 12 bytes before end; a header alone, another type or a
    // nonzero reserved byte is refused with the values untouched.
    const std::tuple<size_t, size_t, size_t> cases[] = {{32, 99, 2}, {31, 99, 1}, {20, 99, 1},
                                                        {19, 99, 0}, {32, 0, 0},  {32, 7, 0}};
    for (const auto& [length, spoilt, values] : cases) {
        Bytes element(bytes.begin(), bytes.begin() + length);
        if (spoilt < length)
            element[spoilt] = 1;
        ICC_CPP_XYZType read;
        read.values = {{7, 7, 7}};
        EXPECT_EQ(read.Read(element.data(), element.data() + element.size()), values > 0) << length << " " << spoilt;
        EXPECT_EQ(read.values.size(), values > 0 ? values : 1) << length << " " << spoilt;
        if (values > 0) {
            EXPECT_TRUE(read.values[0].X == 63190 / 65536.0 && read.values[0].Z == 54061 / 65536.0);
        }
    }
    xyz.Clear();
    EXPECT_TRUE(xyz.values.empty());
}

TEST(IccTextDescription, EncodesAsciiWithAUnicodeCopyOfOtherText)
{
    ICC_CPP_textDescriptionType desc;
    ASSERT_TRUE(desc.SetText("abc"));
    // Then no Unicode text (language and count 0), no ScriptCode text (code, count and 67
    // bytes 0): 94 bytes, padded to 96.
    Bytes want = {'d', 'e', 's', 'c', 0, 0, 0, 0, 0, 0, 0, 4, 'a', 'b', 'c', 0};
    want.resize(94, 0);
    want.resize(96, 0xEE);
    EXPECT_EQ(Encode(desc), want);
    Bytes shortOfOne(93);
    EXPECT_FALSE(desc.Write(shortOfOne.data(), shortOfOne.data() + shortOfOne.size()));
    // A byte that cannot begin a character is one replacement character.
    ASSERT_TRUE(desc.SetText("\x80"));
    EXPECT_EQ(desc.unicode, std::vector<unsigned short>{0xFFFD});

    ASSERT_TRUE(desc.SetText("Caf\xC3\xA9 \xF0\x9F\x8E\xA8"));
    EXPECT_EQ(desc.ascii, "Caf? ?");
    EXPECT_EQ(desc.unicode, (std::vector<unsigned short>{'C', 'a', 'f', 0xE9, ' ', 0xFFFD}));
    desc.unicodeLanguage = ICCSignature("enUS");
    desc.scriptCode = 3;
    desc.scriptText = std::string(70, 'm');  // cut to 66 bytes and its terminator
    const Bytes bytes = Encode(desc);
    ASSERT_EQ(bytes.size(), 12u + 7 + 8 + 14 + 3 + 67 + 1);
    EXPECT_EQ(Bytes(bytes.begin() + 19, bytes.begin() + 27), (Bytes{'e', 'n', 'U', 'S', 0, 0, 0, 7}));
    EXPECT_EQ(Bytes(bytes.begin() + 41, bytes.begin() + 44), (Bytes{0, 3, 67}));
    ICC_CPP_textDescriptionType back;
    ASSERT_TRUE(back.Read(bytes.data(), bytes.data() + bytes.size() - 1));
    EXPECT_TRUE(back.ascii == desc.ascii && back.unicode == desc.unicode && back.unicodeLanguage == desc.unicodeLanguage &&
                back.scriptCode == 3 && back.scriptText == std::string(66, 'm'));
}

TEST(IccTextDescription, RefusesMalformedElements)
{
    // "ab", one Unicode unit, no ScriptCode text: 12 + 3 + 8 + 4 + 70 = 97 bytes, with the
    // Unicode count at 19 and the ScriptCode count at 29. Each case cuts it short or puts one
    // value at an offset; buffers have the exact size.
    ICC_CPP_textDescriptionType made;
    made.ascii = "ab";
    made.unicode = {'x'};
    Bytes good = Encode(made);
    good.resize(97);
    ASSERT_TRUE(ICC_CPP_textDescriptionType().Read(good.data(), good.data() + good.size()));
    const std::tuple<size_t, size_t, unsigned int, int> cases[] = {
        {0, 0, 0, 0},           {11, 0, 0, 0},     {22, 0, 0, 0},           {26, 0, 0, 0},
        {96, 0, 0, 0},          {97, 0, ICCSignature("DESC"), 4}, {97, 4, 1, 4}, {97, 8, 76, 4},
        {97, 8, 0xFFFFFFFF, 4}, {97, 19, 4, 4},    {97, 19, 0x80000000, 4}, {97, 29, 68, 1}};
    for (const auto& [length, at, value, width] : cases) {
        SCOPED_TRACE(testing::Message() << length << " bytes, " << value << " at " << at);
        Bytes bad(good.begin(), good.begin() + length);
        for (int i = 0; i < width; ++i)
            bad[at + i] = static_cast<unsigned char>(value >> (8 * (width - 1 - i)));
        ICC_CPP_textDescriptionType desc;
        desc.ascii = "old";
        EXPECT_FALSE(desc.Read(bad.data(), bad.data() + bad.size()));
        EXPECT_EQ(desc.ascii, "old");
    }
}
