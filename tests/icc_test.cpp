// ICC numbers, elements and tags checked against hand-encoded bytes; whole profiles read, edited
// and written, then opened by Little CMS as the reference engine; malformed elements and
// profiles refused without reading out of bounds (buffers have the exact size, so that a read
// past the end trips the sanitizer).
#include "icc.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using Rows = std::vector<std::vector<float>>;
using ProfilePtr = std::unique_ptr<ICC_CPP_Profile>;
using LcmsPtr = std::unique_ptr<void, cmsBool (*)(cmsHPROFILE)>;

// obj written into exactly its encoded size, pre-filled so that unwritten padding shows.
Bytes Encode(ICC_ProfileObject& obj, unsigned char fill = 0xEE)
{
    Bytes out(obj.GetEncodedSizeBytes(), fill);
    EXPECT_TRUE(obj.Write(out.data(), out.data() + out.size()));
    return out;
}

// `value` put big-endian into `width` bytes at `at`.
void Put(Bytes& b, size_t at, unsigned int value, size_t width = 4)
{
    for (size_t i = 0; i < width; ++i)
        b[at + i] = static_cast<unsigned char>(value >> (8 * (width - 1 - i)));
}

ProfilePtr Read(const Bytes& b)
{
    return ProfilePtr(ICC_CPP_Profile::ReadFromMemory(b.data(), b.size()));
}

LcmsPtr Open(const Bytes& b)
{
    return LcmsPtr(cmsOpenProfileFromMem(b.data(), cmsUInt32Number(b.size())), cmsCloseProfile);
}

// A file of tests/data/icc, or any file by its absolute path; empty when it is missing.
Bytes Load(const std::string& name)
{
    const std::string s = testutil::ReadFile(name[0] == '/' ? name : TEST_DATA_DIR "/icc/" + name);
    return Bytes(s.begin(), s.end());
}

// The engine's profile, with a profile ID that the writer must clear.
Bytes Save(cmsHPROFILE h)
{
    cmsMD5computeID(h);
    cmsUInt32Number n = 0;
    cmsSaveProfileToMem(h, nullptr, &n);
    Bytes b(n);
    cmsSaveProfileToMem(h, b.data(), &n);
    cmsCloseProfile(h);
    return b;
}

// A profile with `count` table entries of signature `sig[i % 3]`, offset `offsets[i % 3]` and
// size `sizes[i % 3]` in front of `element`, which starts right after the table; offsets count
// from the element's first byte.
Bytes Generated(const Bytes& element, size_t count, const std::array<const char*, 3>& sig,
                const std::array<unsigned int, 3>& offsets, const std::array<unsigned int, 3>& sizes)
{
    const size_t start = 132 + 12 * count;
    Bytes b(start + element.size());
    std::copy(element.begin(), element.end(), b.begin() + long(start));
    Put(b, 0, unsigned(b.size()));
    Put(b, 36, ICCSignature("acsp"));
    Put(b, 128, unsigned(count));
    for (size_t i = 0; i < count; ++i) {
        std::copy_n(sig[i % 3], 4, b.begin() + 132 + 12 * i);
        Put(b, 136 + 12 * i, unsigned(start) + offsets[i % 3]);
        Put(b, 140 + 12 * i, sizes[i % 3]);
    }
    return b;
}

}  // namespace

TEST(IccNumbers, ByteOrderFixedPointAndLabCodes)
{
    // Big-endian in memory whatever the host; exactly `count` values are converted.
    unsigned int words[2] = {0x01020304u, 9};
    unsigned short halves[2] = {0x0102, 9};
    EXPECT_TRUE(ProcessEndianU32(words, 1) && ProcessEndianU16(halves, 1) && !std::memcmp(words, "\1\2\3\4", 4) &&
                !std::memcmp(halves, "\1\2", 2) && words[1] == 9 && halves[1] == 9);
    EXPECT_FALSE(ProcessEndianU32(words, 0) || ProcessEndianU16(nullptr, 2));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::tuple<double, int> fixed[] = {
        {1.0, 0x10000},     {0.9642, 0xF6D6},      {0.8249, 0xD32D}, {-0.5, -0x8000}, {1.5 / 65536, 2},
        {-1.5 / 65536, -2}, {32768.0, 0x7FFFFFFF}, {-40000.0, std::numeric_limits<int>::min()}, {nan, 0}};
    for (const auto& [value, want] : fixed)
        EXPECT_EQ(ICCDoubleToS15Fixed16(value), want) << value;
    EXPECT_TRUE(ICCS15Fixed16ToDouble(0xF6D6) == 0.964202880859375 && ICCS15Fixed16ToDouble(-0x8000) == -0.5);

    // Lab codes: the ends of the encoding, rounding, values beyond the ends; decoded, the codes
    // of the first two give their Lab back.
    using Lab = std::array<double, 3>;
    using Codes = std::array<unsigned short, 3>;
    const std::tuple<Lab, Codes> known[] = {
        {{100, 0, 0}, {0xFF00, 0x8000, 0x8000}}, {{0, -128, 127.99609375}, {0, 0, 0xFFFF}},
        {{100.390625, 0.001, -0.001}, {0xFFFF, 0x8000, 0x8000}}, {{101, -200, 300}, {0xFFFF, 0, 0xFFFF}},
        {{-5, nan, 0.5 / 256}, {0, 0, 0x8001}}, {{33.3, 0.7 / 256, -1.3 / 256}, {21738, 0x8001, 0x7FFF}}};
    for (size_t i = 0; i < std::size(known); ++i) {
        const auto& [lab, want] = known[i];
        Codes codes;
        Lab back;
        ICCEncodeLabV2(lab.data(), codes.data());
        ICCDecodeLabV2(want.data(), back.data());
        EXPECT_TRUE(codes == want && (i > 1 || back == lab)) << lab[0] << " " << lab[1];
    }
}

TEST(IccElements, CurveXYZTextAndDescriptionEncodeAndRead)
{
    // A curve of 3 entries; values out of 0..1 are clamped and NaN gives 0.
    ICC_CPP_curveType curve;
    ASSERT_TRUE(curve.SetLinear(3) && !curve.SetLinear(1) && !curve.SetLinear(0));
    const Bytes bytes = Encode(curve);
    EXPECT_EQ(bytes, (Bytes{'c', 'u', 'r', 'v', 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0x80, 0, 0xFF, 0xFF, 0xEE, 0xEE}));
    std::unique_ptr<ICC_CPP_Curve> back(ICC_CPP_Curve::ReadCurveType(bytes.data(), bytes.data() + 18));
    ASSERT_TRUE(back && !ICC_CPP_Curve::ReadCurveType(bytes.data(), bytes.data() + 17));
    EXPECT_EQ(static_cast<ICC_CPP_curveType&>(*back).entries, (std::vector<float>{0.0f, 32768.0f / 65535, 1.0f}));
    curve.entries = {1.5f, -0.2f, std::numeric_limits<float>::quiet_NaN(), 0.99999f};
    Bytes room = Encode(curve);
    EXPECT_EQ(Bytes(room.begin() + 12, room.end()), (Bytes{0xFF, 0xFF, 0, 0, 0, 0, 0xFF, 0xFE}));
    EXPECT_FALSE(curve.Write(room.data(), room.data() + 19));  // one byte short
    // XYZ values: none cannot be written; a read takes every whole value before the end.
    ICC_CPP_XYZType xyz;
    EXPECT_FALSE(xyz.Write(room.data(), room.data() + room.size()));
    xyz.values = {{0.9642, 1.0, 0.8249}, {-0.5, 0.0, 2.0}};
    const Bytes values = Encode(xyz);
    ASSERT_TRUE(values.size() == 32 && xyz.Read(values.data(), values.data() + 31) && xyz.values.size() == 1);
    EXPECT_TRUE(xyz.values[0].X == 63190 / 65536.0 && xyz.values[0].Y == 1.0 && xyz.values[0].Z == 54061 / 65536.0);
    // A text ends at its first 0 or at the size; a size too short for header and terminator,
    // or past the end, is refused with the text untouched.
    ICC_CPP_TextType text(0);
    text.text = "abcd";
    const Bytes element = Encode(text);
    EXPECT_EQ(element, (Bytes{'t', 'e', 'x', 't', 0, 0, 0, 0, 'a', 'b', 'c', 'd', 0, 0xEE, 0xEE, 0xEE}));
    EXPECT_FALSE(text.Write(room.data(), room.data() + 12));  // one byte short
    for (const auto& [size, want] : {std::pair<unsigned, std::string>{16, "abcd"}, {11, "abc"}, {9, "a"}, {8, "old"},
                                     {17, "old"}}) {
        ICC_CPP_TextType read(size);
        read.text = "old";
        EXPECT_TRUE(read.Read(element.data(), element.data() + 16) == (size > 8 && size <= 16) && read.text == want)
            << size;
    }
    // A description's ASCII text has one '?' per character outside ASCII and per byte of a
    // malformed one (overlong, surrogate, beyond U+10FFFF, cut short); its Unicode copy, made only
    // when characters were replaced, has U+FFFD there but for U+00E9. Its ScriptCode text is cut
    // to 66 bytes.
    ICC_CPP_textDescriptionType desc, read;
    ASSERT_TRUE(desc.SetText("abc") && desc.ascii == "abc" && desc.unicode.empty() && !ICCSevenBitText("a", nullptr));
    ICC_CPP_textDescriptionType plain;
    ASSERT_TRUE(plain.SetText("abcd"));
    EXPECT_EQ(Encode(plain).size(), 12u + 5 + 8 + 0 + 3 + 67 + 1);  // no Unicode text: none written
    ASSERT_TRUE(desc.SetText("Caf\xC3\xA9 \xF0\x9F\x8E\xA8\x80 \xC0\x80 \xED\xA0\x80 "
                             "\xF4\x8F\xBF\xBF \xF4\x90\x80\x80 \xFF\xE2\x82"));
    EXPECT_EQ(desc.ascii, "Caf? ?? ?? ??? ? ???? ???");
    std::vector<unsigned short> unicode(desc.ascii.begin(), desc.ascii.end());
    std::replace(unicode.begin(), unicode.end(), static_cast<unsigned short>('?'), static_cast<unsigned short>(0xFFFD));
    unicode[3] = 0xE9;
    EXPECT_EQ(desc.unicode, unicode);
    desc.unicodeLanguage = ICCSignature("enUS");
    desc.scriptCode = 3;
    desc.scriptText = std::string(70, 'm');
    Bytes described = Encode(desc);
    ASSERT_TRUE(described.size() == 12u + 26 + 8 + 52 + 3 + 67 && described[100] == 67 && described[167] == 0);
    EXPECT_FALSE(desc.Write(described.data(), described.data() + 167));  // one byte short
    described[167] = 'm';  // the field's last byte is never text
    ASSERT_TRUE(read.Read(described.data(), described.data() + 168));
    EXPECT_TRUE(read.ascii == desc.ascii && read.unicode == desc.unicode && read.scriptCode == 3 &&
                read.unicodeLanguage == ICCSignature("enUS") && read.scriptText == std::string(66, 'm'));
    read.Clear();
    EXPECT_TRUE(read.ascii.empty() && read.unicode.empty() && read.scriptText.empty() && read.unicodeLanguage == 0 &&
                read.scriptCode == 0);
}

// The whole "mft2" encoding is checked where the chart profiles are made and read by the engine.
TEST(IccElements, Lut16IsMadeInTheShapesItCanHold)
{
    ICC_CPP_lut16Type lut;
    ASSERT_TRUE(lut.Create(2, {{0, 0x8000, 0xFFFF}, {1, 2, 3}}, {{0, 0xFFFF}}) && lut.rows == Rows(4, {0.0f}));
    lut.rows.pop_back();
    Bytes room(76);
    EXPECT_FALSE(lut.Write(room.data(), room.data() + room.size()));  // a row short
    // Shapes an element cannot hold leave it as it was; the largest it can are made. Grid
    // points, input tables and their entries, output tables and their entries.
    const std::array<unsigned, 6> shapes[] = {
        {2, 0, 2, 1, 2, 0}, {2, 15, 2, 1, 2, 1}, {2, 16, 2, 1, 2, 0}, {2, 1, 2, 0, 2, 0}, {2, 1, 2, 15, 2, 1},
        {2, 1, 2, 16, 2, 0}, {1, 1, 2, 1, 2, 0}, {255, 1, 2, 1, 2, 1}, {256, 1, 2, 1, 2, 0}, {2, 1, 1, 1, 2, 0},
        {2, 1, 2, 1, 4096, 1}, {2, 1, 2, 1, 4097, 0}, {255, 4, 2, 1, 2, 0}};  // the last, a CLUT of 4 GiB
    for (const auto& [grid, inputs, inEntries, outputs, outEntries, made] : shapes) {
        using Tables = std::vector<std::vector<unsigned short>>;
        lut.rows.assign(1, {0.5f});
        EXPECT_TRUE(lut.Create(grid, Tables(inputs, std::vector<unsigned short>(inEntries)),
                               Tables(outputs, std::vector<unsigned short>(outEntries))) == bool(made) &&
                    (made || lut.rows == Rows(1, {0.5f}))) << grid << " " << inputs << " " << outputs;
    }
    EXPECT_FALSE(lut.Create(2, {{0, 1}, {0, 1, 2}}, {{0, 1}}));  // input tables of different lengths
}

TEST(IccElements, RefuseMalformedElementsAndStayAsTheyWere)
{
    // Good elements: a curve of 2 entries (16 bytes); one input, one output, 2 grid points and
    // 2-entry tables (64 bytes); one XYZ value (20 bytes); "ab", one Unicode unit and no
    // ScriptCode text (97 bytes, the Unicode count at 19 and the ScriptCode count at 29).
    ICC_CPP_curveType curve;
    ICC_CPP_lut16Type lut;
    ICC_CPP_XYZType xyz;
    ICC_CPP_textDescriptionType desc;
    ASSERT_TRUE(curve.SetLinear(2) && lut.Create(2, {{0, 0xFFFF}}, {{0, 0xFFFF}}));
    xyz.values = {{0.5, 1.0, 2.0}};
    desc.ascii = "ab";
    desc.unicode = {'x'};
    // Each case cuts a good element to a length and puts one value of `width` bytes at an
    // offset. Only the whole good elements are read.
    ICC_ProfileObject *c = &curve, *l = &lut, *x = &xyz, *d = &desc;
    const std::tuple<ICC_ProfileObject*, size_t, size_t, unsigned int, size_t> cases[] = {
        {c, 16, 0, 0, 0}, {c, 15, 0, 0, 0}, {c, 11, 0, 0, 0}, {c, 16, 0, ICCSignature("Curv"), 4}, {c, 16, 4, 1, 4},
        {c, 16, 8, 0, 4}, {c, 16, 8, 1, 4}, {c, 16, 8, 3, 4}, {c, 16, 8, 0xFFFFFFFF, 4},
        {l, 64, 0, 0, 0}, {l, 63, 0, 0, 0}, {l, 51, 0, 0, 0}, {l, 64, 0, ICCSignature("mft1"), 4}, {l, 64, 4, 1, 4},
        {l, 64, 8, 0, 1}, {l, 64, 9, 0, 1}, {l, 64, 9, 2, 1}, {l, 64, 10, 1, 1}, {l, 64, 10, 3, 1},
        {l, 64, 48, 1, 2}, {l, 64, 48, 3, 2}, {l, 64, 50, 1, 2}, {l, 64, 50, 3, 2},
        {x, 20, 0, 0, 0}, {x, 19, 0, 0, 0}, {x, 8, 0, 0, 0}, {x, 20, 0, ICCSignature("XYZZ"), 4}, {x, 20, 7, 1, 1},
        {d, 97, 0, 0, 0}, {d, 96, 0, 0, 0}, {d, 26, 0, 0, 0}, {d, 22, 0, 0, 0}, {d, 11, 0, 0, 0},
        {d, 97, 0, ICCSignature("DESC"), 4}, {d, 97, 4, 1, 4}, {d, 97, 8, 76, 4}, {d, 97, 8, 0xFFFFFFFF, 4},
        {d, 97, 19, 3, 4}, {d, 97, 19, 0x80000000, 4}, {d, 97, 29, 68, 1}};
    for (const auto& [object, length, at, value, width] : cases) {
        const Bytes good = Encode(*object);
        Bytes bad(good.begin(), good.begin() + length);
        Put(bad, at, value, width);
        const bool read = object->Read(bad.data(), bad.data() + bad.size());
        EXPECT_TRUE(read == (width == 0 && length == std::min<size_t>(good.size(), 97)) && Encode(*object) == good)
            << good.size() << "-byte element cut to " << length << ", " << value << " at " << at;
    }
}

TEST(IccProfile, LaysOutSortsDropsAndEditsTags)
{
    // The copyright tag's Read takes the element's size from the tag (10), not
    // from the last SetText (12); Clear keeps the tag's fields.
    ICC_CPP_Profile profile;
    auto* cprt = new ICC_CPP_cprt_Tag;
    ASSERT_TRUE(profile.header.size == 132 && profile.AddTag(cprt) && cprt->SetText("abc"));
    const Bytes element = {'t', 'e', 'x', 't', 0, 0, 0, 0, 'x', 'y', 'z', 0};
    cprt->size = 10;
    ASSERT_TRUE(cprt->Read(element.data(), element.data() + element.size()) && cprt->GetText() == "xy");
    cprt->Clear();
    EXPECT_TRUE(cprt->GetText().empty() && cprt->offset == 144 && cprt->size == 10);
    // Encoded sizes 12, 20 and 14: the padding after each element counts, the last one's too.
    auto* curve = new ICC_CPP_curve_Tag;
    auto* opaque = new ICC_CPP_opaque_Tag;
    curve->curve->entries = {0.0f, 0.5f, 1.0f};
    opaque->bytes->assign(14, 7);
    curve->signature = ICCSignature("wtpt");  // sorted: "cprt", "desc", "wtpt"
    opaque->signature = ICCSignature("desc");
    ASSERT_TRUE(cprt->SetText("abc") && profile.AddTag(curve) && profile.AddTag(opaque) && profile.header.size == 216);
    EXPECT_TRUE(cprt->offset == 168 && curve->offset == 180 && opaque->offset == 200 && opaque->size == 14);
    ASSERT_TRUE(profile.GetTag(ICCSignature("desc")) == opaque && profile.SortTags());
    EXPECT_TRUE(opaque->offset == 180 && curve->offset == 196);
    EXPECT_FALSE(profile.AddTag(nullptr) || profile.KeepTags(nullptr, 1));
    const unsigned int keep = ICCSignature("wtpt");
    ASSERT_TRUE(profile.KeepTags(&keep, 1));
    EXPECT_TRUE(profile.GetTags() == std::vector<ICC_CPP_Tag*>{curve} && profile.header.size == 164);

    // The camera edit: a short row in A2B2 fails it and leaves that table as it was; the tables
    // before it are edited all the same.
    const std::vector<float> first = {0.75f, 0.6f, 0.73333335f, 0.4f}, second = {0.3f, 0.40392157f, 0.34509805f, 0.4f};
    ICC_CPP_A2B_Tag* tags[3];
    for (unsigned int i = 0; i < 3; ++i) {
        profile.AddTag(tags[i] = new ICC_CPP_A2B_Tag(ICCSignature("A2B0") + i));
        tags[i]->SetData(new ICC_CPP_lut16Type);
        tags[i]->GetData()->rows.assign(i == 0 ? 5 : 1, {0.1f, 0.2f, 0.3f, 0.4f});
    }
    profile.AddTag(new ICC_CPP_A2B_Tag(ICCSignature("A2B0")));  // GetTag finds the first of two
    tags[2]->GetData()->rows.push_back({0.5f, 0.5f});
    EXPECT_FALSE(ReplaceCanonCameraMatrixWithIdentity(&profile) || ReplaceCanonCameraMatrixWithIdentity(nullptr));
    EXPECT_TRUE(tags[1]->GetData()->rows[0] == second && tags[2]->GetData()->rows[0][0] == 0.1f);
    tags[2]->SetData(new ICC_CPP_lut16Type);
    ASSERT_TRUE(ReplaceCanonCameraMatrixWithIdentity(&profile));
    EXPECT_EQ(tags[0]->GetData()->rows, (Rows{first, first, second, second, second}));
}

// Whole profiles, checked by the engine at every step:
//  - read -> write keeps the header but size and ID (cleared), the engine reads the same tags
//    from both, and the XYZ values and version 2 descriptions decoded are the engine's; the
//    engine's own profiles come back byte for byte;
//  - ICCXRiteToOrlisk, run twice (the second run replaces the first run's copyright), leaves
//    exactly the kept tags, in order, with the new copyright and creator;
//  - ReplaceCanonCameraMatrixWithIdentity succeeds only where A2B0-2 are "mft2" elements, and
//    leaves a profile of the same size that the engine reads.
TEST(IccProfile, RealProfilesRoundTripAndEdit)
{
    // LStar-RGB.icc shares one element among its three TRC tags. Installed profiles where
    // present; only the LCMS*.ICM ones hold A2B0-2 as "mft2" elements.
    std::vector<std::tuple<std::string, Bytes>> profiles = {{"built sRGB", Save(cmsCreate_sRGBProfile())},
                                                            {"built Lab", Save(cmsCreateLab4Profile(nullptr))}};
    for (const char* name : {"sRGB.icc", "LStar-RGB.icc", "compatibleWithAdobeRGB1998.icc", "CineLogCurve.icc",
                             "/usr/share/color/icc/LCMSLABI.ICM", "/usr/share/color/icc/ITULab.icc"})
        if (Bytes bytes = Load(name); !bytes.empty())
            profiles.emplace_back(name, bytes);
    for (auto [name, in] : profiles) {
        const bool mft2 = name.find("LCMS") != std::string::npos;
        SCOPED_TRACE(name);
        ProfilePtr profile = Read(in), orlisk = Read(in), camera = Read(in);
        Bytes out, orliskOut, cameraOut;
        ASSERT_TRUE(profile && profile->WriteToMemory(out) && out.size() >= 128);
        const LcmsPtr original = Open(in), written = Open(out);
        std::fill(in.begin() + 84, in.begin() + 100, 0);
        EXPECT_TRUE(std::equal(in.begin() + 4, in.begin() + 128, out.begin() + 4));
        EXPECT_TRUE(name.rfind("built", 0) != 0 || out == in);
        ASSERT_TRUE(written && cmsGetTagCount(written.get()) == cmsGetTagCount(original.get()));
        std::vector<unsigned int> expected = {cmsSigCopyrightTag}, found;
        for (cmsInt32Number i = 0; i < cmsGetTagCount(original.get()); ++i) {
            const cmsTagSignature sig = cmsGetTagSignature(original.get(), cmsUInt32Number(i));
            const auto* theirs = static_cast<const cmsCIEXYZ*>(cmsReadTag(original.get(), sig));
            const auto* xyz = dynamic_cast<const ICC_CPP_XYZ_Tag*>(profile->GetTags().at(size_t(i)));
            EXPECT_TRUE(cmsGetTagSignature(written.get(), cmsUInt32Number(i)) == sig &&
                        (cmsReadTag(written.get(), sig) != nullptr) == (theirs != nullptr)) << "tag " << i;
            EXPECT_TRUE(!xyz || (theirs && xyz->xyz->values.at(0).X == theirs->X && xyz->xyz->values[0].Z == theirs->Z))
                << "tag " << i;
            for (const char* k :
                 {"desc", "chad", "gamt", "wtpt", "bkpt", "B2A0", "A2B0", "B2A1", "A2B1", "B2A2", "A2B2"})
                if (sig == ICCSignature({k[0], k[1], k[2], k[3], 0}))
                    expected.push_back(sig);
        }
        char text[256] = {};
        const auto* desc = dynamic_cast<ICC_CPP_textDescription_Tag*>(profile->GetTag(ICCSignature("desc")));
        cmsGetProfileInfoASCII(original.get(), cmsInfoDescription, "en", "US", text, sizeof text);
        EXPECT_TRUE(!desc || desc->description->ascii == text);

        ASSERT_TRUE(ICCXRiteToOrlisk(orlisk.get()) && ICCXRiteToOrlisk(orlisk.get()));
        ASSERT_TRUE(orlisk->WriteToMemory(orliskOut));
        std::sort(expected.begin(), expected.end());
        const LcmsPtr kept = Open(orliskOut);
        ASSERT_NE(kept, nullptr);
        for (cmsInt32Number i = 0; i < cmsGetTagCount(kept.get()); ++i)
            found.push_back(cmsGetTagSignature(kept.get(), cmsUInt32Number(i)));
        EXPECT_TRUE(found == expected && cmsGetHeaderCreator(kept.get()) == ICCSignature("ORLK"));
        cmsMLUgetASCII(static_cast<cmsMLU*>(cmsReadTag(kept.get(), cmsSigCopyrightTag)), "en", "US", text, sizeof text);
        EXPECT_STREQ(text, "Copyright (c) Orlisk. All rights reserved.");
        ASSERT_EQ(ReplaceCanonCameraMatrixWithIdentity(camera.get()), mft2);
        EXPECT_TRUE(!mft2 || (camera->WriteToMemory(cameraOut) && cameraOut.size() == out.size() && Open(cameraOut)));
    }
    EXPECT_FALSE(ICCXRiteToOrlisk(nullptr));
    // Files: written whole and read back; a write that fails (an empty curve cannot be encoded)
    // leaves the file as it was.
    const ProfilePtr profile = Read(std::get<1>(profiles[0]));
    testutil::TempDir dir;
    const std::string path = dir.file("out.icc");
    Bytes expected, again;
    ASSERT_TRUE(profile->WriteToMemory(expected) && profile->WriteFile(path.c_str()));
    const ProfilePtr back(ICC_CPP_Profile::ReadFile(path.c_str()));
    profile->AddTag(new ICC_CPP_curve_Tag);
    EXPECT_TRUE(!profile->WriteFile(path.c_str()) && Load(path) == expected && back && back->WriteToMemory(again) &&
                again == expected && !ICC_CPP_Profile::ReadFile(dir.file("none").c_str()));
}

TEST(IccProfile, RefusesMalformedProfiles)
{
    // 176 bytes: a 20-byte "XYZ " element that ends at the profile's end and an empty element at
    // the end; the table has room for 3 entries (the third is the element's first 12 bytes: zero
    // offset and size). One 32-bit value put into it per case.
    Bytes element(20, 0);
    std::copy_n("XYZ ", 4, element.begin());
    const Bytes good = Generated(element, 2, {"wtpt", "bkpt", ""}, {0, 20, 0}, {20, 0, 0});
    const std::tuple<const char*, size_t, unsigned int, bool> cases[] = {
        {"as made", 0, 176, true}, {"size field 1 more", 0, 177, false}, {"size field 1 less", 0, 175, false},
        {"not acsp", 36, ICCSignature("ACSP"), false}, {"table full", 128, 3, true}, {"an entry more", 128, 4, false},
        {"huge count", 128, 0xFFFFFFFF, false}, {"element 1 byte past the end", 140, 21, false},
        {"offset 1 past the end", 148, 177, false}, {"offset and size wrap", 140, 0xFFFFFFF0, false}};
    for (const auto& [name, at, value, accepted] : cases) {
        Bytes bad = good;
        Put(bad, at, value);
        EXPECT_EQ(Read(bad) != nullptr, accepted) << name;
    }
    // The smallest profile, a header and a tag count of 0, and one byte less; a truncated one.
    const Bytes empty = Generated({}, 0, {}, {}, {});
    EXPECT_TRUE(Read(empty) && !ICC_CPP_Profile::ReadFromMemory(empty.data(), 131));
    EXPECT_FALSE(Read(Bytes(good.begin(), good.end() - 1)) || ICC_CPP_Profile::ReadFromMemory(nullptr, 0));
}

// 6 entries that all point at one element: each class's element is read once and shared by every
// tag, and the profile is written back byte for byte. An "XYZ " element with a stray byte after
// its value is kept as opaque bytes, shared the same way. Entries that point at overlapping but
// different elements are accepted while those elements add up to no more than the profile, each
// kept and written on its own, and refused beyond that.
TEST(IccProfile, TagsShareElementsAndOverlappingOnesAreBoundedByTheProfileSize)
{
    ICC_CPP_curveType curve;
    ICC_CPP_XYZType xyz;
    ICC_CPP_textDescriptionType desc;
    ICC_CPP_lut16Type lut;
    ICC_CPP_TextType text(0);
    text.text = "abc";
    xyz.values = {{0.5, 1.0, 2.0}, {-1.0, 0.0, 0.25}};
    ASSERT_TRUE(curve.SetLinear(3) && desc.SetText("Caf\xC3\xA9") && lut.Create(3, {{0, 0xFFFF}}, {{0, 1}, {2, 3}}));
    Bytes opaque(24, 0x5A);
    std::fill_n(std::copy_n("XYZ ", 4, opaque.begin()), 4, 0);
    const std::tuple<Bytes, std::array<const char*, 3>> cases[] = {
        {Encode(text, 0), {"cprt", "desc", "cprt"}}, {Encode(curve, 0), {"rTRC", "gTRC", "bTRC"}},
        {Encode(lut, 0), {"A2B0", "A2B1", "A2B2"}},  {opaque, {"wtpt", "B2A0", "wtpt"}},
        {Encode(xyz, 0), {"wtpt", "bkpt", "rXYZ"}},  {Encode(desc, 0), {"desc", "dmnd", "dmdd"}}};
    for (const auto& [element, signatures] : cases) {
        const unsigned int size = unsigned(element.size());
        const Bytes in = Generated(element, 6, signatures, {0, 0, 0}, {size, size, size});
        const ProfilePtr profile = Read(in);
        Bytes out;
        ASSERT_TRUE(profile && profile->WriteToMemory(out)) << signatures[0];
        const std::vector<ICC_CPP_Tag*>& tags = profile->GetTags();
        EXPECT_TRUE(out == in && (dynamic_cast<ICC_CPP_opaque_Tag*>(tags[0]) != nullptr) == (element == opaque) &&
                    std::all_of(tags.begin(), tags.end(), [&](const ICC_CPP_Tag* t) {
                        return t->GetElement() == tags[0]->GetElement() && t->offset == tags[0]->offset;
                    })) << signatures[0];
    }
    Bytes element(100, 7), out;
    std::fill_n(std::copy_n("XYZ ", 4, element.begin()), 4, 0);
    const ProfilePtr profile = Read(Generated(element, 3, {"wtpt", "bkpt", "lumi"}, {0, 0, 0}, {100, 40, 40}));
    ASSERT_TRUE(profile && profile->WriteToMemory(out) && out.size() == 132 + 36 + 100 + 40);
    const std::vector<ICC_CPP_Tag*>& tags = profile->GetTags();
    EXPECT_TRUE(tags[0]->GetElement() != tags[1]->GetElement() && tags[1]->GetElement() == tags[2]->GetElement());
    // Three entries make a profile of 132 + 36 + 100 = 268 bytes.
    EXPECT_NE(Read(Generated(element, 3, {"wtpt", "bkpt", "lumi"}, {0, 0, 0}, {100, 96, 72})), nullptr);
    EXPECT_EQ(Read(Generated(element, 3, {"wtpt", "bkpt", "lumi"}, {0, 0, 0}, {100, 96, 76})), nullptr);
}
