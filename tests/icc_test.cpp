// ICC numbers, elements and tags checked against hand-encoded bytes; whole profiles read, edited
// and written, then opened by Little CMS as the reference engine; malformed elements and
// profiles refused without reading out of bounds (buffers have the exact size, so that a read
// past the end trips the sanitizer). Then the colour maths: the colour differences and the
// measured-Lab-to-PCS transform that the ICC module also holds, and colorcommon's conversions.
#include "colorcommon.h"
#include "icc.h"
#include "testutil.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstring>
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
    // s15Fixed16: rounding to nearest, both signs, the ends and NaN. (The D50 white's figures are
    // the chart profile's header bytes in chart_test; read back, the real profiles' XYZ values.)
    const double nan = NAN;
    const std::tuple<double, int> fixed[] = {{-0.5, -0x8000},      {1.5 / 65536, 2}, {-1.5 / 65536, -2},
                                             {32768.0, 0x7FFFFFFF}, {nan, 0},         {-40000.0, -0x7FFFFFFF - 1}};
    for (const auto& [value, want] : fixed)
        EXPECT_EQ(ICCDoubleToS15Fixed16(value), want) << value;

    // Lab codes: the ends of the encoding, rounding, values beyond the ends; decoded, the codes
    // of the first two give their Lab back.
    using Lab = std::array<double, 3>;
    using Codes = std::array<unsigned short, 3>;
    const std::tuple<Lab, Codes, bool> known[] = {
        {{100, 0, 0}, {0xFF00, 0x8000, 0x8000}, true}, {{0, -128, 127.99609375}, {0, 0, 0xFFFF}, true},
        {{100.390625, 0.001, -0.001}, {0xFFFF, 0x8000, 0x8000}, false}, {{101, -200, 300}, {0xFFFF, 0, 0xFFFF}, false},
        {{-5, nan, 0.5 / 256}, {0, 0, 0x8001}, false}, {{33.3, 0.7 / 256, -1.3 / 256}, {21738, 0x8001, 0x7FFF}, false}};
    for (const auto& [lab, want, decodes] : known) {
        Codes codes;
        Lab back;
        ICCEncodeLabV2(lab.data(), codes.data());
        ICCDecodeLabV2(want.data(), back.data());
        EXPECT_TRUE(codes == want && (!decodes || back == lab)) << lab[0] << " " << lab[1];
    }
}

TEST(IccElements, CurveXYZTextAndDescriptionEncodeAndRead)
{
    // A curve of 3 entries (replacing the 4 it had); values out of 0..1 are clamped and NaN gives 0.
    ICC_CPP_curveType curve;
    curve.entries = {0.5f, 0.5f, 0.5f, 0.5f};
    ASSERT_TRUE(curve.SetLinear(3) && !curve.SetLinear(1) && !curve.SetLinear(0));
    const Bytes bytes = Encode(curve);
    EXPECT_EQ(bytes, (Bytes{'c', 'u', 'r', 'v', 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0x80, 0, 0xFF, 0xFF, 0xEE, 0xEE}));
    std::unique_ptr<ICC_CPP_Curve> back(ICC_CPP_Curve::ReadCurveType(bytes.data(), bytes.data() + 18));
    ASSERT_TRUE(back && !ICC_CPP_Curve::ReadCurveType(bytes.data(), bytes.data() + 17));
    EXPECT_EQ(static_cast<ICC_CPP_curveType&>(*back).entries, (std::vector<float>{0.0f, 32768.0f / 65535, 1.0f}));
    curve.entries = {1.5f, -0.2f, NAN, 0.99999f};
    Bytes room = Encode(curve);
    EXPECT_EQ(Bytes(room.begin() + 12, room.end()), (Bytes{0xFF, 0xFF, 0, 0, 0, 0, 0xFF, 0xFE}));
    EXPECT_FALSE(curve.Write(room.data(), room.data() + 19));  // one byte short
    // XYZ values: none cannot be written; a read takes every whole value before the end.
    ICC_CPP_XYZType xyz;
    EXPECT_FALSE(xyz.Write(room.data(), room.data() + room.size()));
    xyz.values = {{0.9642, 1.0, 0.8249}, {-0.5, 0.0, 2.0}};
    const Bytes values = Encode(xyz);
    EXPECT_TRUE(values.size() == 32 && xyz.Read(values.data(), values.data() + 31) && xyz.values.size() == 1);
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
    ICC_CPP_textDescriptionType desc, read, empty;
    ASSERT_TRUE(desc.SetText("abcd") && desc.ascii == "abcd" && desc.unicode.empty() && !ICCSevenBitText("a", nullptr));
    EXPECT_EQ(Encode(desc).size(), 12u + 5 + 8 + 0 + 3 + 67 + 1);  // no Unicode text: none written
    ASSERT_TRUE(desc.SetText("Caf\xC3\xA9 \xF0\x9F\x8E\xA8\x80 \xC0\x80 \xED\xA0\x80 "
                             "\xF4\x8F\xBF\xBF \xF4\x90\x80\x80 \xFF\xE2\x82"));
    EXPECT_EQ(desc.ascii, "Caf? ?? ?? ??? ? ???? ???");
    const unsigned short r = 0xFFFD;
    EXPECT_EQ(desc.unicode, (std::vector<unsigned short>{'C', 'a', 'f', 0xE9, ' ', r, r, ' ', r, r, ' ', r, r, r, ' ',
                                                         r, ' ', r, r, r, r, ' ', r, r, r}));
    desc.unicodeLanguage = ICCSignature("enUS");
    desc.scriptCode = 3;
    desc.scriptText = std::string(70, 'm');
    Bytes described = Encode(desc);
    ASSERT_TRUE(described.size() == 12u + 26 + 8 + 52 + 3 + 67 && described[100] == 67 && described[167] == 0);
    EXPECT_FALSE(desc.Write(described.data(), described.data() + 167));  // one byte short
    described[167] = 'm';  // the field's last byte is never text
    ASSERT_TRUE(read.Read(described.data(), described.data() + 168));
    EXPECT_TRUE(Encode(read) == Encode(desc) && read.scriptText == std::string(66, 'm'));
    read.Clear();
    EXPECT_EQ(Encode(read), Encode(empty));
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
        // The last two: a CLUT of 4 GiB, and one whose grid points alone pass 32 bits.
        {2, 1, 2, 1, 4096, 1}, {2, 1, 2, 1, 4097, 0}, {255, 4, 2, 1, 2, 0}, {255, 5, 2, 1, 2, 0}};
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
    // Clear empties the copyright tag's text and keeps the tag's fields. (That its Read takes the
    // element's size from the table is seen where a profile's "cprt" is decoded, below.)
    ICC_CPP_Profile profile;
    auto* cprt = new ICC_CPP_cprt_Tag;
    ASSERT_TRUE(profile.header.size == 132 && profile.AddTag(cprt) && cprt->SetText("abc"));
    cprt->Clear();
    EXPECT_TRUE(cprt->GetText().empty() && cprt->offset == 144 && cprt->size == 12);
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
    // A table entry as written; an element is not written into less room than it takes.
    unsigned char room[14] = {};
    EXPECT_FALSE(curve->WriteTable(nullptr) || !curve->WriteTable(room) || opaque->Write(room, room + 13));
    EXPECT_EQ(Bytes(room, room + 12), (Bytes{'w', 't', 'p', 't', 0, 0, 0, 196, 0, 0, 0, 20}));
    EXPECT_FALSE(profile.AddTag(nullptr) || profile.KeepTags(nullptr, 1) || ICCXRiteToOrlisk(nullptr));
    ASSERT_TRUE(profile.KeepTags(std::array{ICCSignature("wtpt")}.data(), 1));
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
//  - read -> write keeps the header but size and ID (each input is given an ID: it is read, then
//    written as 0), the engine reads the same tags from both, and the XYZ values and version 2
//    descriptions decoded are the engine's (a profile in the writer's own layout comes back byte
//    for byte: the generated ones below); the copyright is read by its own class;
//  - ICCXRiteToOrlisk, run twice (the second run replaces the first run's copyright) on the
//    profile written to a file and read back from it, leaves exactly the kept tags, in order,
//    with the new copyright and creator;
//  - ReplaceCanonCameraMatrixWithIdentity succeeds only where A2B0-2 are "mft2" elements, and
//    leaves a profile of the same size that the engine reads.
TEST(IccProfile, RealProfilesRoundTripAndEdit)
{
    // LStar-RGB.icc shares one element among its three TRC tags; lcms-sRGB.icc (Little CMS's
    // built-in sRGB) holds a "chad" tag, which the edit keeps. Installed profiles where
    // present; only the LCMS*.ICM ones hold A2B0-2 as "mft2" elements.
    testutil::TempDir dir;
    const std::string path = dir.file("out.icc");
    for (const std::string name : {"sRGB.icc", "LStar-RGB.icc", "lcms-sRGB.icc", "compatibleWithAdobeRGB1998.icc",
                                   "CineLogCurve.icc", "/usr/share/color/icc/LCMSLABI.ICM",
                                   "/usr/share/color/icc/ITULab.icc"}) {
        Bytes in = Load(name), out, orliskOut, cameraOut;
        if (in.empty())
            continue;
        SCOPED_TRACE(name);
        const bool mft2 = name.find("LCMS") != std::string::npos;
        std::fill(in.begin() + 84, in.begin() + 100, 7);
        ProfilePtr profile = Read(in), camera = Read(in);
        ASSERT_TRUE(profile && profile->WriteFile(path.c_str()) && (out = Load(path)).size() >= 128);
        const ProfilePtr orlisk(ICC_CPP_Profile::ReadFile(path.c_str()));
        const LcmsPtr original = Open(in), written = Open(out);
        std::fill(in.begin() + 84, in.begin() + 100, 0);
        EXPECT_TRUE(std::equal(in.begin() + 4, in.begin() + 128, out.begin() + 4) &&
                    Bytes(profile->header.profileID, profile->header.profileID + 16) == Bytes(16, 7));
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
        EXPECT_NE(dynamic_cast<ICC_CPP_cprt_Tag*>(profile->GetTag(cmsSigCopyrightTag)), nullptr);

        ASSERT_TRUE(orlisk && ICCXRiteToOrlisk(orlisk.get()) && ICCXRiteToOrlisk(orlisk.get()) &&
                    orlisk->WriteToMemory(orliskOut));
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
    // A file of 65537 bytes (its last read is a single byte) is read; a write that fails (an empty
    // curve cannot be encoded) leaves the file as it was; a missing file gives null.
    const Bytes big = Generated(Bytes(65393), 1, {"zero", "", ""}, {0, 0, 0}, {65393, 0, 0});
    testutil::WriteFile(path, std::string(big.begin(), big.end()));
    const ProfilePtr profile(ICC_CPP_Profile::ReadFile(path.c_str()));
    ASSERT_TRUE(profile && profile->AddTag(new ICC_CPP_curve_Tag));
    EXPECT_TRUE(!profile->WriteFile(path.c_str()) && Load(path) == big &&
                !ICC_CPP_Profile::ReadFile(dir.file("none").c_str()));
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
    EXPECT_FALSE(Read(Bytes(good.begin(), good.end() - 1)) || ICC_CPP_Profile::ReadFromMemory(nullptr, 176));
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
    Bytes opaque(24, 0x5A), out;
    std::fill_n(std::copy_n("XYZ ", 4, opaque.begin()), 4, 0);
    const std::tuple<Bytes, std::array<const char*, 3>> cases[] = {
        {Encode(text, 0), {"cprt", "desc", "cprt"}}, {Encode(curve, 0), {"rTRC", "gTRC", "bTRC"}},
        {Encode(lut, 0), {"A2B0", "A2B1", "A2B2"}},  {opaque, {"wtpt", "B2A0", "wtpt"}},
        {Encode(xyz, 0), {"wtpt", "bkpt", "rXYZ"}},  {Encode(desc, 0), {"desc", "dmnd", "dmdd"}}};
    for (const auto& [element, signatures] : cases) {
        const unsigned int size = unsigned(element.size());
        const Bytes in = Generated(element, 6, signatures, {0, 0, 0}, {size, size, size});
        const ProfilePtr profile = Read(in);
        ASSERT_TRUE(profile && profile->WriteToMemory(out)) << signatures[0];
        const std::vector<ICC_CPP_Tag*>& tags = profile->GetTags();
        EXPECT_TRUE(out == in && (dynamic_cast<ICC_CPP_opaque_Tag*>(tags[0]) != nullptr) == (element == opaque) &&
                    std::all_of(tags.begin(), tags.end(), [&](const ICC_CPP_Tag* t) {
                        return t->GetElement() == tags[0]->GetElement() && t->offset == tags[0]->offset;
                    })) << signatures[0];
    }
    Bytes element(100, 7);
    std::fill_n(std::copy_n("XYZ ", 4, element.begin()), 4, 0);
    const ProfilePtr profile = Read(Generated(element, 3, {"wtpt", "bkpt", "lumi"}, {0, 0, 0}, {100, 40, 40}));
    ASSERT_TRUE(profile && profile->WriteToMemory(out) && out.size() == 132 + 36 + 100 + 40);
    const std::vector<ICC_CPP_Tag*>& tags = profile->GetTags();
    EXPECT_TRUE(tags[0]->GetElement() != tags[1]->GetElement() && tags[1]->GetElement() == tags[2]->GetElement());
    // Three entries make a profile of 132 + 36 + 100 = 268 bytes.
    EXPECT_NE(Read(Generated(element, 3, {"wtpt", "bkpt", "lumi"}, {0, 0, 0}, {100, 96, 72})), nullptr);
    EXPECT_EQ(Read(Generated(element, 3, {"wtpt", "bkpt", "lumi"}, {0, 0, 0}, {100, 96, 76})), nullptr);
}

// Colour differences and the measured-Lab-to-PCS transform: known figures (for CIEDE2000 the
// published test data), CIE 1976 and CMC against Little CMS 2, and the transform's geometry
// including its degenerate black and white points.
//
// Tolerances against lcms2 (which works in double on our float inputs): CIE 1976 rounds each
// float difference, three squares, two sums and a square root, a relative error of a few float
// epsilons (4·FLT_EPSILON). CMC(1:1) is lcms2's l = 1, c = 1; its pairs below are chosen with
// hue differences far from 0, where single precision keeps the result within 1e-4. lcms2 puts
// hues of exactly 164 and 345 degrees into the other T formula, so those two pairs are known
// figures alone.
TEST(ColourDifference, CmcAndCie76MatchKnownFiguresAndLcms)
{
    // Reference, sample, CMC(1:1) (0: lcms2 alone), and whether lcms2's CMC applies.
    const std::tuple<Vec3, Vec3, float, bool> cases[] = {
        {Vec3(50, 40, 10), Vec3(50, 35, 20), 7.6416f, true}, {Vec3(60, -20, 40), Vec3(58, -10, 45), 6.6355f, true},
        {Vec3(50, 0, 0), Vec3(50, 3, 4), 7.8370f, true},
        // At L = 16, SL is already 0.040975·16/(1 + 0.01765·16) = 0.511229, not 0.511; below, 0.511.
        {Vec3(16, 0, 0), Vec3(15, 0, 0), 1 / 0.511229f, true}, {Vec3(10, -30, -40), Vec3(12, -25, -50), 0, true},
        {Vec3(90, -60, 5), Vec3(70, 30, -80), 0, true}, {Vec3(-5, 100, -2), Vec3(110, -120, 140), 0, true},
        // References whose hue, in single precision, is exactly 164 and 345 degrees take the
        // 168-degree T formula; the other one would give 1.70002 and 1.68960.
        {Vec3(50, -28.8378506f, 8.26912117f), Vec3(51, -27.3378506f, 6.26912117f), 1.70145f, false},
        {Vec3(50, 28.9777737f, -7.76457262f), Vec3(51, 30.4777737f, -9.76457262f), 1.68771f, false}};
    for (const auto& [first, second, known, cmc] : cases) {
        const cmsCIELab a = {first.v[0], first.v[1], first.v[2]}, b = {second.v[0], second.v[1], second.v[2]};
        const float ours = ComputeDeltaECMC21(first, second);
        EXPECT_TRUE((known == 0 || std::fabs(ours - known) < 1e-4f) &&
                    (!cmc || std::fabs(ours - cmsCMCdeltaE(&a, &b, 1, 1)) < 1e-4)) << ours << " at L " << first.v[0];
        EXPECT_NEAR(ComputeDeltaE(first, second), cmsDeltaE(&a, &b), 4 * FLT_EPSILON * cmsDeltaE(&a, &b));
    }
}

TEST(ColourDifference2000, MatchesSharmaWuDalalTable)
{
    // Sharma, Wu and Dalal, "The CIEDE2000 color-difference formula: implementation notes,
    // supplementary test data, and mathematical observations", Color Res. Appl. 30 (2005),
    // Table 1: L1 a1 b1, L2 a2 b2, dE00 to four decimals. Pair 1 weighs the rotation term near
    // blue, 7 has an achromatic colour, 10 is exactly 180 degrees apart, 11 and 16 take the
    // wrapped hue mean (one each way), 22 stretches the a axis by G. (Pairs that differ in L, C
    // and H at mid and low lightness are the chartlab check report's, end to end.)
    const float table[][8] = {
        {1, 50.0000f, 2.6772f, -79.7751f, 50.0000f, 0.0000f, -82.7485f, 2.0425f},
        {7, 50.0000f, 0.0000f, 0.0000f, 50.0000f, -1.0000f, 2.0000f, 2.3669f},
        {10, 50.0000f, 2.4900f, -0.0010f, 50.0000f, -2.4900f, 0.0010f, 7.1792f},
        {11, 50.0000f, 2.4900f, -0.0010f, 50.0000f, -2.4900f, 0.0011f, 7.2195f},
        {16, 50.0000f, 2.5000f, 0.0000f, 50.0000f, 0.0000f, -2.5000f, 4.3065f},
        {22, 50.0000f, 2.5000f, 0.0000f, 50.0000f, 3.2972f, 0.0000f, 1.0000f}};
    for (const float* p : table) {
        const Vec3 first(p[1], p[2], p[3]), second(p[4], p[5], p[6]);
        EXPECT_NEAR(ComputeDeltaE2000(first, second), p[7], 5e-5f) << "pair " << p[0];
        EXPECT_EQ(ComputeDeltaE2000(second, first), ComputeDeltaE2000(first, second)) << "pair " << p[0];
    }
}

TEST(ColourTransform, SendsBlackToZeroAndWhiteTo100EvenOnDegenerateAxes)
{
    // Black, white, then a point and where it lands; the tolerance. The second row turns the axis
    // from black to white onto +L by the smallest rotation (figures from Rodrigues' formula worked
    // in double in python). The last rows: along +L (no turn: L scaled by 100/90, a and b only
    // translated), along -L or so nearly that (1 - dot)/|c|² would overflow a float (half a turn
    // about the b axis), and white on black or nearly, apart in L or in b (the translation alone).
    const std::tuple<Vec3, Vec3, Vec3, Vec3, float> cases[] = {
        {Vec3(2, 1, -1), Vec3(96, -2, 3), Vec3(2, 1, -1), Vec3(0, 0, 0), 1e-5f},
        {Vec3(2, 1, -1), Vec3(96, -2, 3), Vec3(50, 20, -10), Vec3(49.870218f, 20.513998f, -11.018664f), 1e-4f},
        {Vec3(5, 2, 3), Vec3(95, 2, 3), Vec3(14, 3, 5), Vec3(10, 1, 2), 1e-5f},
        {Vec3(90, 0, 2), Vec3(10, 0, 2), Vec3(90, 1, 3), Vec3(0, -1, 1), 1e-4f},
        {Vec3(90, 0, 2), Vec3(10, 1e-18f, 2), Vec3(90, 1, 3), Vec3(0, -1, 1), 1e-4f},
        {Vec3(20, -3, 4), Vec3(20, -3, 4), Vec3(21, -1, 7), Vec3(1, 2, 3), 0.0f},
        {Vec3(20, -3, 4), Vec3(20.000001f, -3, 4), Vec3(21, -1, 7), Vec3(1, 2, 3), 0.0f},
        {Vec3(20, -3, 4), Vec3(20, -3, 4.000002f), Vec3(21, -1, 7), Vec3(1, 2, 3), 0.0f}};
    for (const auto& [black, white, from, to, tol] : cases) {
        const Matrix4 m = ComputeTransformFromMeasuredLabToPCSLab(black, white);
        const Vec4 r = mul(m, Vec4(from.v[0], from.v[1], from.v[2], 1.0f));
        const Vec4 w = mul(m, Vec4(white.v[0], white.v[1], white.v[2], 1.0f));
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(std::fabs(r.v[i] - to.v[i]) <= tol && (tol == 0 || std::fabs(w.v[i] - (i ? 0 : 100)) < 1e-4f))
                << "white L " << white.v[0] << ", component " << i;
    }
}

// Colour-space, gray and lightness conversions (colorcommon): known figures, round trips through
// the working spaces, and Little CMS 2 as an independent engine.
//
// Tolerances against lcms2 (both sides work in double):
// - xyz_to_lab and lab_to_xyz are checked through the sRGB conversions (our cube root uses the
//   exponent 0.333333333333333, lcms2 uses 1/3: a relative 3.3e-16·|ln t| in f(t)).
// - Adobe RGB to D50 through the published matrix (six decimals, which the matrix test holds
//   ours to) and lcms2's Bradford adaptation from k_D65_XYZ to k_D50_XYZ: lcms2's Bradford
//   matrix differs from the six-decimal table by up to 1.33e-6 per element, and the two differ
//   by at most 0.98e-6 per unit of X + Y + Z; they are held to 1.5e-6, so that an error of 1e-5
//   in an element of either table fails.
// - sRGB against lcms2's built-in profile, Lab D50 on the other side, relative colorimetric. The
//   curves are the same (lcms2 returns a float: half a float ulp; its inverse breaks at
//   0.04045/12.92 rather than at 0.0031308, where the two halves differ by 2.9e-8). The matrices
//   are not: lcms2 builds its sRGB on the D65 of x, y = 0.3127, 0.3290 adapted to its D50, ours
//   on k_D65_XYZ and the Bradford table to k_D50_XYZ; relative to each side's white they differ
//   by up to 4.2e-5 per element and their inverses by up to 1.9e-4. A conversion may differ by
//   5e-5 or 2e-4 times the sum of its input's components, plus 2e-7 for lcms2's float pipeline;
//   a third of either bound fails, and so would a wrong primary or a missing adaptation.
TEST(ColorWorkingSpace, MatricesMatchFiguresAndAdobeRgbMatchesLcms)
{
    // The published matrices of the two working spaces, to six decimals.
    const double proPhoto[9] = {0.797676, 0.135192, 0.031353, 0.288041, 0.711874, 0.000086, 0, 0, 0.82521};
    const double adobe[9] = {0.576702, 0.185555, 0.188212, 0.297362, 0.627353, 0.075285, 0.027033, 0.070688, 0.991248};
    const struct { const double *primaries, *white, *figures; } spaces[] = {
        {k_proPhotoRGBChromaticities, k_D50_XYZ, proPhoto}, {k_adobeRGBChromaticities, k_D65_XYZ, adobe}};
    double m[9];
    for (const auto& s : spaces) {
        const double *p = s.primaries, *w = s.white;
        compute_rgb_to_xyz_matrix(p[0], p[1], p[2], p[3], p[4], p[5], w[0], w[1], w[2], m);
        for (int i = 0; i < 9; ++i)
            EXPECT_NEAR(m[i], s.figures[i], 5e-7) << i;
    }
    // Adobe RGB's primaries at full strength: the published matrix's columns, adapted by lcms2's
    // Bradford from k_D65_XYZ to k_D50_XYZ. (Its power 2.2 is held by the round trip and the
    // out-of-gamut figure below.)
    const cmsCIEXYZ d65 = {k_D65_XYZ[0], k_D65_XYZ[1], k_D65_XYZ[2]}, d50 = {k_D50_XYZ[0], k_D50_XYZ[1], k_D50_XYZ[2]};
    for (int c = 0; c < 3; ++c) {
        double rgb[3] = {0, 0, 0}, xyz[3];
        rgb[c] = 1;
        adobergb_to_xyz_d50(rgb, xyz);
        cmsCIEXYZ want, in = {adobe[c], adobe[3 + c], adobe[6 + c]};
        cmsAdaptToIlluminant(&want, &d65, &d50, &in);
        for (const double difference : {xyz[0] - want.X, xyz[1] - want.Y, xyz[2] - want.Z})
            EXPECT_LE(std::fabs(difference), 1.5e-6 * (in.X + in.Y + in.Z)) << c;
    }
}

TEST(ColorWorkingSpace, LightnessOutOfGamutAndClipping)
{
    // The lightness conversions' linear branches: L* = 8 gives Y = epsilon and back.
    EXPECT_TRUE(std::fabs(LStarToY(8.0) - k_cieEpsilon) < 1e-17 && std::fabs(YToLStar(k_cieEpsilon) - 8.0) < 1e-14);
    EXPECT_NEAR(GammaEncodedGrayToLStar(0.5, 2.2), 53.7755, 5e-5);
    EXPECT_NEAR(LStarToGammaEncodedGray(50, 2.2), 0.46347, 5e-6);
    EXPECT_NEAR(LStarToY(50), 0.184187, 5e-7);
    // Out of gamut nothing is clipped: negative linear values meet the power as NaN, while sRGB's
    // linear segment carries red and blue below 0. Clipping brings each component into 0..1, NaN
    // to 0, and leaves a fourth element alone.
    const double outside[3] = {50, -100, 100}, inf = HUGE_VAL;
    double adobe[3], proPhoto[3], srgb[4] = {50, -100, 100, 7}, clip[4] = {0, 0, 0, 7}, wild[4] = {inf, NAN, -inf, 7};
    lab_to_adobergb_d50(outside, adobe);
    lab_to_prophotorgb_d50(outside, proPhoto);
    lab_to_srgb_d50(srgb, srgb);
    EXPECT_TRUE(std::isnan(adobe[0]) && std::fabs(adobe[1] - 0.5831) < 5e-5 && std::isnan(adobe[2]));
    EXPECT_TRUE(std::fabs(proPhoto[0] - 0.1089) < 5e-5 && std::fabs(proPhoto[1] - 0.4642) < 5e-5 &&
                std::isnan(proPhoto[2]));
    EXPECT_TRUE(std::fabs(srgb[0] + 1.8406) < 5e-5 && std::fabs(srgb[1] - 0.5885) < 5e-5 &&
                std::fabs(srgb[2] + 0.6325) < 5e-5 && srgb[3] == 7);
    clip_rgb_3(srgb, clip);
    EXPECT_EQ(std::vector<double>(clip, clip + 4), (std::vector<double>{0, srgb[1], 0, 7}));
    clip_rgb_3(wild, wild);
    EXPECT_EQ(std::vector<double>(wild, wild + 4), (std::vector<double>{1, 0, 0, 7}));
}

TEST(ColorWorkingSpace, SRGBMatchesLcmsAndWorkingSpacesRoundTrip)
{
    cmsHPROFILE srgb = cmsCreate_sRGBProfile(), lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab = cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsHTRANSFORM toRgb = cmsCreateTransform(lab, TYPE_Lab_DBL, srgb, TYPE_RGB_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    // A lattice with the corners and levels on either side of the sRGB curve's break (0.04045),
    // some on its linear segment. Against lcms2, Lab is compared as XYZ over the white, RGB in
    // linear light. ProPhoto and Adobe RGB go there and back: a zero channel must come back as 0,
    // not NaN (the 1/1.8 power turns a rounding of 1e-16 into about 1e-9). The two six-decimal
    // Bradford tables are not exact inverses (off by up to 1.37e-6), so Adobe RGB is compared in
    // linear light, and not where a channel is 0: the 1/2.2 power can turn that into NaN.
    const double levels[7] = {0, 0.01, 0.04, 0.05, 0.3, 0.7, 1}, unitWhite[3] = {1, 1, 1};
    for (int i = 0; i < 7 * 7 * 7; ++i) {
        const double rgb[3] = {levels[i / 49], levels[i / 7 % 7], levels[i % 7]};
        double ours[3], theirs[3], oursRatio[3], theirRatio[3], oursRgb[3], theirRgb[3], v[3], w[3];
        srgb_to_lab_d50(rgb, ours);
        cmsDoTransform(toLab, rgb, theirs, 1);
        lab_to_xyz(ours, unitWhite, oursRatio);
        lab_to_xyz(theirs, unitWhite, theirRatio);
        lab_to_srgb_d50(ours, oursRgb);
        cmsDoTransform(toRgb, ours, theirRgb, 1);
        prophotorgb_to_lab_d50(rgb, v);
        lab_to_xyz(v, k_D50_XYZ, v);
        xyz_to_prophotorgb_d50(v, v);
        adobergb_to_lab_d50(rgb, w);
        lab_to_adobergb_d50(w, w);
        const double linear = SRGBEncodedGrayToY(rgb[0]) + SRGBEncodedGrayToY(rgb[1]) + SRGBEncodedGrayToY(rgb[2]);
        for (int c = 0; c < 3; ++c)
            ASSERT_TRUE(std::fabs(oursRatio[c] - theirRatio[c]) <= 5e-5 * linear + 2e-7 &&
                        std::fabs(SRGBEncodedGrayToY(oursRgb[c]) - SRGBEncodedGrayToY(theirRgb[c])) <=
                            2e-4 * (oursRatio[0] + oursRatio[1] + oursRatio[2]) + 2e-7 &&
                        std::fabs(v[c] - rgb[c]) < 1e-8 &&
                        std::fabs((rgb[c] > 0 ? std::pow(w[c], 2.2) : 0.0) - std::pow(rgb[c], 2.2)) < 1e-5)
                << i << " component " << c;
    }
    cmsDeleteTransform(toLab);
    cmsDeleteTransform(toRgb);
    cmsCloseProfile(lab);
    cmsCloseProfile(srgb);
}
