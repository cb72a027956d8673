// ---------------------------------------------------------------------------------------
// ICC profile objects: byte order, elements, tags, the profile container and its edits.
// Layouts of the elements and of the profile are given in icc.h.
//
// Every reader checks its end pointer before it reads: counts are bounded by the bytes left
// (by division, so nothing wraps) before anything is allocated. A profile reader keeps an
// element that its class refuses as opaque bytes, so only a broken header or tag table
// refuses a whole profile. Table entries that point at the same element get tags sharing
// one decoded element; the elements the table asks for add up to at most the profile's
// size, so neither reading nor writing grows beyond the profile's own size.
//
// Every function that allocates catches what an allocation throws and gives its failure
// result instead: no exception leaves the module.
// ---------------------------------------------------------------------------------------
#include "icc.h"

#include "atomicfile.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

int g_isLittleEndian = 0;

const char* const k_orliskCopyright = "Copyright (c) Orlisk. All rights reserved.";

namespace {

constexpr unsigned int k_sigCurv = ICCSignature("curv");
constexpr unsigned int k_sigText = ICCSignature("text");
constexpr unsigned int k_sigMft2 = ICCSignature("mft2");
constexpr unsigned int k_sigXYZ = ICCSignature("XYZ ");
constexpr unsigned int k_sigDesc = ICCSignature("desc");
constexpr unsigned int k_sigCprt = ICCSignature("cprt");
constexpr unsigned int k_sigAcsp = ICCSignature("acsp");
constexpr unsigned int k_sigA2B0 = ICCSignature("A2B0");
constexpr unsigned int k_sigA2B1 = ICCSignature("A2B1");
constexpr unsigned int k_sigA2B2 = ICCSignature("A2B2");

constexpr size_t k_headerBytes = 128;
constexpr size_t k_tagEntryBytes = 12;
// Header plus tag count: where the tag table starts.
constexpr size_t k_tableStart = k_headerBytes + 4;
constexpr size_t k_curveHeaderBytes = 12;
constexpr size_t k_textHeaderBytes = 8;
constexpr size_t k_lut16HeaderBytes = 52;
constexpr size_t k_xyzHeaderBytes = 8;
constexpr size_t k_xyzNumberBytes = 12;
// "desc": the header and the ASCII count; then language and Unicode count; then the
// ScriptCode code, its count and its 67-byte field.
constexpr size_t k_descHeaderBytes = 12;
constexpr size_t k_descUnicodeHeaderBytes = 8;
constexpr size_t k_descScriptBytes = 3 + ICC_CPP_textDescriptionType::k_scriptCodeBytes;
constexpr unsigned short k_replacementCharacter = 0xFFFD;

size_t Available(const unsigned char* begin, const unsigned char* end)
{
    return (begin && end && begin <= end) ? static_cast<size_t>(end - begin) : 0;
}

unsigned int GetU32(const unsigned char* src)
{
    unsigned int v;
    std::memcpy(&v, src, 4);
    return ProcessEndianU32(v);
}

unsigned short GetU16(const unsigned char* src)
{
    unsigned short v;
    std::memcpy(&v, src, 2);
    return ProcessEndianU16(v);
}

void PutU32(unsigned char* dst, unsigned int value)
{
    const unsigned int v = ProcessEndianU32(value);
    std::memcpy(dst, &v, 4);
}

void PutU16(unsigned char* dst, unsigned short value)
{
    const unsigned short v = ProcessEndianU16(value);
    std::memcpy(dst, &v, 2);
}

// 0.0 to 0 and 1.0 to 65535; out-of-range values are clamped and not-a-number gives 0.
unsigned short QuantiseU16(float v)
{
    if (!(v > 0.0f))
        return 0;
    if (v >= 1.0f)
        return 65535;
    return static_cast<unsigned short>(v * 65535.0f + 0.5f);
}

float DequantiseU16(unsigned short q)
{
    if (q == 0)
        return 0.0f;
    if (q == 65535)
        return 1.0f;
    return static_cast<float>(q) / 65535.0f;
}

// Runs `work`; an exception (an allocation that failed) gives `failed` instead.
template <typename Result, typename Work>
Result OrOnFailure(Result failed, Work&& work)
{
    try {
        return work();
    } catch (...) {
        return failed;
    }
}

// The characters of UTF-8 text: code points, and -1 for each byte that does not belong to a
// well-formed character (overlong forms, surrogates and values past U+10FFFF included).
std::vector<long> DecodeUtf8(const std::string& text)
{
    std::vector<long> out;
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        long cp = length == 1 ? lead : length == 2 ? (lead & 0x1F) : length == 3 ? (lead & 0x0F) : (lead & 0x07);
        for (size_t k = 1; k < length; ++k) {
            const unsigned char next = i + k < n ? static_cast<unsigned char>(text[i + k]) : 0;
            if ((next & 0xC0) != 0x80) {
                length = 0;
                break;
            }
            cp = (cp << 6) | (next & 0x3F);
        }
        static const long k_smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (length == 0 || cp < k_smallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(-1);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += length;
    }
    return out;
}

}  // namespace

// ---- Numbers and text ----------------------------------------------------------------------

int ICCDoubleToS15Fixed16(double value)
{
    const double scaled = value * 65536.0;
    if (!(scaled == scaled))
        return 0;
    if (scaled <= -2147483648.0)
        return std::numeric_limits<int>::min();
    if (scaled >= 2147483647.0)
        return std::numeric_limits<int>::max();
    return static_cast<int>(std::lround(scaled));
}

double ICCS15Fixed16ToDouble(int value)
{
    return value / 65536.0;
}

void ICCEncodeLabV2(const double lab[3], unsigned short encoded[3])
{
    const double codes[3] = {lab[0] * 65280.0 / 100.0, (lab[1] + 128.0) * 256.0, (lab[2] + 128.0) * 256.0};
    for (int c = 0; c < 3; ++c)
        encoded[c] = codes[c] > 0.0 ? static_cast<unsigned short>(std::lround(std::min(codes[c], 65535.0))) : 0;
}

void ICCDecodeLabV2(const unsigned short encoded[3], double lab[3])
{
    lab[0] = encoded[0] * 100.0 / 65280.0;
    lab[1] = encoded[1] / 256.0 - 128.0;
    lab[2] = encoded[2] / 256.0 - 128.0;
}

bool ICCSevenBitText(const std::string& utf8, std::string* ascii)
{
    return ascii && OrOnFailure(false, [&] {
        std::string out;
        for (long cp : DecodeUtf8(utf8))
            out.push_back(cp >= 0 && cp < 0x80 ? static_cast<char>(cp) : '?');
        ascii->swap(out);
        return true;
    });
}

// ---- Byte order and date -------------------------------------------------------------------

void DetermineEndianness()
{
    static bool s_firstTime = true;
    if (!s_firstTime)
        return;
    const int one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    g_isLittleEndian = first != 0;
    s_firstTime = false;
}

unsigned int ProcessEndianU32(unsigned int value)
{
    DetermineEndianness();
    if (!g_isLittleEndian)
        return value;
    return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
}

unsigned short ProcessEndianU16(unsigned short value)
{
    DetermineEndianness();
    if (!g_isLittleEndian)
        return value;
    return static_cast<unsigned short>((value >> 8) | (value << 8));
}

bool ProcessEndianU32(unsigned int* values, unsigned int count)
{
    if (!values || count == 0)
        return false;
    for (unsigned int i = 0; i < count; ++i)
        values[i] = ProcessEndianU32(values[i]);
    return true;
}

bool ProcessEndianU16(unsigned short* values, unsigned int count)
{
    if (!values || count == 0)
        return false;
    for (unsigned int i = 0; i < count; ++i)
        values[i] = ProcessEndianU16(values[i]);
    return true;
}

bool ICCBuildDateTime(unsigned short* dateTime)
{
    return ICCBuildDateTime(dateTime, std::time(nullptr));
}

bool ICCBuildDateTime(unsigned short* dateTime, std::time_t when)
{
    if (!dateTime)
        return false;
    const std::tm* t = std::gmtime(&when);
    if (!t)
        return false;
    dateTime[0] = static_cast<unsigned short>(t->tm_year + 1900);
    dateTime[1] = static_cast<unsigned short>(t->tm_mon + 1);
    dateTime[2] = static_cast<unsigned short>(t->tm_mday);
    dateTime[3] = static_cast<unsigned short>(t->tm_hour);
    dateTime[4] = static_cast<unsigned short>(t->tm_min);
    dateTime[5] = static_cast<unsigned short>(t->tm_sec);
    return true;
}

// ---- "curv" ------------------------------------------------------------------------------

bool ICC_CPP_curveType::Write(unsigned char* dst, unsigned char* end)
{
    if (!dst)
        return false;
    const size_t n = entries.size();
    const size_t avail = Available(dst, end);
    if (avail < k_curveHeaderBytes || n > (avail - k_curveHeaderBytes) / 2)
        return false;
    PutU32(dst, k_sigCurv);
    PutU32(dst + 4, 0);
    PutU32(dst + 8, static_cast<unsigned int>(n));
    if (n < 2)
        return false;
    for (size_t i = 0; i < n; ++i)
        PutU16(dst + k_curveHeaderBytes + 2 * i, QuantiseU16(entries[i]));
    return true;
}

bool ICC_CPP_curveType::Read(const unsigned char* src, const unsigned char* end)
{
    return OrOnFailure(false, [&] { return ReadElement(src, end); });
}

bool ICC_CPP_curveType::ReadElement(const unsigned char* src, const unsigned char* end)
{
    const size_t avail = Available(src, end);
    if (avail < k_curveHeaderBytes || GetU32(src) != k_sigCurv || GetU32(src + 4) != 0)
        return false;
    const unsigned int n = GetU32(src + 8);
    // The count decides the size: it must fit in the bytes that are there.
    if (n < 2 || n > (avail - k_curveHeaderBytes) / 2)
        return false;
    Clear();
    entries.reserve(n);
    for (unsigned int i = 0; i < n; ++i)
        entries.push_back(DequantiseU16(GetU16(src + k_curveHeaderBytes + 2 * size_t(i))));
    return true;
}

void ICC_CPP_curveType::Clear()
{
    entries.clear();
}

unsigned int ICC_CPP_curveType::GetEncodedSizeBytes()
{
    return (2 * static_cast<unsigned int>(entries.size()) + 15) & ~3u;
}

bool ICC_CPP_curveType::SetLinear(unsigned int count)
{
    if (count < 2)
        return false;
    Clear();
    return OrOnFailure(false, [&] {
        entries.reserve(count);
        for (unsigned int i = 0; i < count; ++i)
            entries.push_back(std::clamp(static_cast<float>(i) / static_cast<float>(count - 1), 0.0f, 1.0f));
        return true;
    });
}

ICC_CPP_Curve* ICC_CPP_Curve::ReadCurveType(const unsigned char* src, const unsigned char* end)
{
    if (Available(src, end) < 4 || GetU32(src) != k_sigCurv)
        return nullptr;
    return OrOnFailure<ICC_CPP_Curve*>(nullptr, [&]() -> ICC_CPP_Curve* {
        std::unique_ptr<ICC_CPP_Curve> curve(new ICC_CPP_curveType);
        if (!curve->Read(src, end))
            return nullptr;
        return curve.release();
    });
}

// ---- "text" ------------------------------------------------------------------------------

bool ICC_CPP_TextType::Write(unsigned char* dst, unsigned char* end)
{
    if (!dst || Available(dst, end) < k_textHeaderBytes + 1 ||
        text.size() > Available(dst, end) - k_textHeaderBytes - 1)
        return false;
    PutU32(dst, k_sigText);
    PutU32(dst + 4, 0);
    std::memcpy(dst + k_textHeaderBytes, text.data(), text.size());
    dst[k_textHeaderBytes + text.size()] = 0;
    return true;
}

bool ICC_CPP_TextType::Read(const unsigned char* src, const unsigned char* end)
{
    // Below 9 bytes there is no room for the header and the terminator.
    if (!src || size < k_textHeaderBytes + 1 || size > Available(src, end))
        return false;
    Clear();
    const unsigned char* first = src + k_textHeaderBytes;
    const unsigned char* last = src + size;
    return OrOnFailure(false, [&] {
        text.assign(first, std::find(first, last, 0));
        return true;
    });
}

void ICC_CPP_TextType::Clear()
{
    text.clear();
}

unsigned int ICC_CPP_TextType::GetEncodedSizeBytes()
{
    return (static_cast<unsigned int>(text.size()) + 12) & ~3u;
}

// ---- Tags --------------------------------------------------------------------------------

void ICC_CPP_Tag::Clear()
{
    signature = 0;
    offset = 0;
    size = 0;
}

void ICC_CPP_Tag::SetHeader(unsigned int newSignature, unsigned int newOffset, unsigned int newSize)
{
    signature = newSignature;
    offset = newOffset;
    size = newSize;
}

bool ICC_CPP_Tag::WriteTable(unsigned char* dst)
{
    if (!dst)
        return false;
    PutU32(dst, signature);
    PutU32(dst + 4, offset);
    PutU32(dst + 8, size);
    return true;
}

bool ICC_CPP_Tag::ShareElement(const ICC_CPP_Tag&)
{
    return false;
}

bool ICC_CPP_textInternal_Tag::Write(unsigned char* dst, unsigned char* end)
{
    return m_text->Write(dst, end);
}

bool ICC_CPP_textInternal_Tag::Read(const unsigned char* src, const unsigned char* end)
{
    m_text->size = size;
    return m_text->Read(src, end);
}

void ICC_CPP_textInternal_Tag::Clear()
{
    m_text->Clear();
}

unsigned int ICC_CPP_textInternal_Tag::GetEncodedSizeBytes()
{
    return m_text->GetEncodedSizeBytes();
}

bool ICC_CPP_textInternal_Tag::SetText(const std::string& text)
{
    if (!OrOnFailure(false, [&] {
            m_text->text = text;
            return true;
        }))
        return false;
    // The element: its header, the text and the terminating NUL.
    m_text->size = static_cast<unsigned int>(k_textHeaderBytes + text.size() + 1);
    size = m_text->size;
    return true;
}

bool ICC_CPP_textInternal_Tag::ShareElement(const ICC_CPP_Tag& other)
{
    const auto* from = dynamic_cast<const ICC_CPP_textInternal_Tag*>(&other);
    if (!from || from == this)
        return false;
    m_text = from->m_text;
    return true;
}

ICC_CPP_cprt_Tag::ICC_CPP_cprt_Tag()
{
    SetHeader(k_sigCprt, 0, 0);
}

bool ICC_CPP_curve_Tag::Write(unsigned char* dst, unsigned char* end)
{
    return curve && curve->Write(dst, end);
}

bool ICC_CPP_curve_Tag::Read(const unsigned char* src, const unsigned char* end)
{
    return curve && curve->Read(src, end);
}

void ICC_CPP_curve_Tag::Clear()
{
    if (curve)
        curve->Clear();
}

unsigned int ICC_CPP_curve_Tag::GetEncodedSizeBytes()
{
    return curve ? curve->GetEncodedSizeBytes() : 0;
}

bool ICC_CPP_curve_Tag::ShareElement(const ICC_CPP_Tag& other)
{
    const auto* from = dynamic_cast<const ICC_CPP_curve_Tag*>(&other);
    if (!from || from == this || !from->curve)
        return false;
    curve = from->curve;
    return true;
}

bool ICC_CPP_opaque_Tag::Write(unsigned char* dst, unsigned char* end)
{
    if (!dst || !bytes || bytes->size() > Available(dst, end))
        return false;
    std::copy(bytes->begin(), bytes->end(), dst);
    return true;
}

bool ICC_CPP_opaque_Tag::Read(const unsigned char* src, const unsigned char* end)
{
    if (!src || !bytes || size > Available(src, end))
        return false;
    return OrOnFailure(false, [&] {
        bytes->assign(src, src + size);
        return true;
    });
}

void ICC_CPP_opaque_Tag::Clear()
{
    if (bytes)
        bytes->clear();
}

unsigned int ICC_CPP_opaque_Tag::GetEncodedSizeBytes()
{
    return bytes ? static_cast<unsigned int>(bytes->size()) : 0;
}

bool ICC_CPP_opaque_Tag::ShareElement(const ICC_CPP_Tag& other)
{
    const auto* from = dynamic_cast<const ICC_CPP_opaque_Tag*>(&other);
    if (!from || from == this || !from->bytes)
        return false;
    bytes = from->bytes;
    return true;
}

// ---- "mft2" and the A2B tags --------------------------------------------------------------

bool ICC_CPP_lut16Type::Read(const unsigned char* src, const unsigned char* end)
{
    return OrOnFailure(false, [&] { return ReadElement(src, end); });
}

bool ICC_CPP_lut16Type::ReadElement(const unsigned char* src, const unsigned char* end)
{
    const size_t avail = Available(src, end);
    if (avail < k_lut16HeaderBytes || GetU32(src) != k_sigMft2 || GetU32(src + 4) != 0)
        return false;
    const size_t inputs = src[8], outputs = src[9], grid = src[10];
    const size_t inEntries = GetU16(src + 48), outEntries = GetU16(src + 50);
    if (inputs == 0 || outputs == 0 || grid < 2 || inEntries < 2 || outEntries < 2)
        return false;
    // Every table is bounded by the bytes left before the next is counted, so no product
    // can wrap: the grid has at most avail / 2 values.
    size_t left = (avail - k_lut16HeaderBytes) / 2;
    if (inEntries * inputs > left)
        return false;
    left -= inEntries * inputs;
    size_t points = 1;
    for (size_t i = 0; i < inputs; ++i) {
        if (points > left / grid)
            return false;
        points *= grid;
    }
    if (points > left / outputs)
        return false;
    left -= points * outputs;
    if (outEntries * outputs > left)
        return false;

    const size_t clutOffset = k_lut16HeaderBytes + 2 * inEntries * inputs;
    const size_t total = clutOffset + 2 * (points * outputs + outEntries * outputs);
    Clear();
    m_bytes.assign(src, src + total);
    m_clutOffset = clutOffset;
    m_points = points;
    m_outputs = outputs;
    rows.assign(points, std::vector<float>(outputs));
    for (size_t p = 0; p < points; ++p)
        for (size_t o = 0; o < outputs; ++o)
            rows[p][o] = DequantiseU16(GetU16(src + clutOffset + 2 * (p * outputs + o)));
    return true;
}

bool ICC_CPP_lut16Type::Write(unsigned char* dst, unsigned char* end)
{
    if (!dst || m_bytes.empty() || m_bytes.size() > Available(dst, end))
        return false;
    // The rows must fill the CLUT exactly, as read.
    const size_t points = rows.size();
    if (points != m_points)
        return false;
    for (const std::vector<float>& row : rows)
        if (row.size() != m_outputs)
            return false;
    std::copy(m_bytes.begin(), m_bytes.end(), dst);
    for (size_t p = 0; p < points; ++p)
        for (size_t o = 0; o < m_outputs; ++o)
            PutU16(dst + m_clutOffset + 2 * (p * m_outputs + o), QuantiseU16(rows[p][o]));
    return true;
}

void ICC_CPP_lut16Type::Clear()
{
    rows.clear();
    m_bytes.clear();
    m_clutOffset = 0;
    m_points = 0;
    m_outputs = 0;
}

unsigned int ICC_CPP_lut16Type::GetEncodedSizeBytes()
{
    return static_cast<unsigned int>(m_bytes.size());
}

bool ICC_CPP_lut16Type::Create(unsigned int gridPoints, const std::vector<std::vector<unsigned short>>& inputTables,
                               const std::vector<std::vector<unsigned short>>& outputTables)
{
    const size_t inputs = inputTables.size(), outputs = outputTables.size();
    if (inputs == 0 || inputs > k_maxChannels || outputs == 0 || outputs > k_maxChannels || gridPoints < 2 ||
        gridPoints > 255)
        return false;
    const size_t inEntries = inputTables[0].size(), outEntries = outputTables[0].size();
    for (const std::vector<std::vector<unsigned short>>* side : {&inputTables, &outputTables}) {
        const size_t entries = side->front().size();
        if (entries < k_minTableEntries || entries > k_maxTableEntries)
            return false;
        for (const std::vector<unsigned short>& table : *side)
            if (table.size() != entries)
                return false;
    }
    // The tables are at most 2 x 15 x 4096 values, so only the CLUT can make the element too
    // large; its size is bounded before each multiplication.
    const size_t k_maxBytes = 0xFFFFFFFFu;
    const size_t tableValues = inEntries * inputs + outEntries * outputs;
    size_t points = 1;
    for (size_t i = 0; i < inputs; ++i) {
        if (points > k_maxBytes / gridPoints)
            return false;
        points *= gridPoints;
    }
    if (points > ((k_maxBytes - k_lut16HeaderBytes) / 2 - tableValues) / outputs)
        return false;

    return OrOnFailure(false, [&] {
    std::vector<unsigned char> bytes(k_lut16HeaderBytes + 2 * (tableValues + points * outputs), 0);
    PutU32(bytes.data(), k_sigMft2);
    bytes[8] = static_cast<unsigned char>(inputs);
    bytes[9] = static_cast<unsigned char>(outputs);
    bytes[10] = static_cast<unsigned char>(gridPoints);
    for (int d = 0; d < 3; ++d)
        PutU32(bytes.data() + 12 + 16 * d, static_cast<unsigned int>(ICCDoubleToS15Fixed16(1.0)));
    PutU16(bytes.data() + 48, static_cast<unsigned short>(inEntries));
    PutU16(bytes.data() + 50, static_cast<unsigned short>(outEntries));
    unsigned char* p = bytes.data() + k_lut16HeaderBytes;
    auto putTables = [&p](const std::vector<std::vector<unsigned short>>& tables) {
        for (const std::vector<unsigned short>& table : tables)
            for (unsigned short v : table) {
                PutU16(p, v);
                p += 2;
            }
    };
    putTables(inputTables);
    p += 2 * points * outputs;  // the CLUT stays 0 until Write puts the rows there
    putTables(outputTables);
    return ReadElement(bytes.data(), bytes.data() + bytes.size());
    });
}

ICC_CPP_lut16_Tag::ICC_CPP_lut16_Tag(unsigned int newSignature)
{
    SetHeader(newSignature, 0, 0);
}

bool ICC_CPP_lut16_Tag::Write(unsigned char* dst, unsigned char* end)
{
    return m_data && m_data->Write(dst, end);
}

bool ICC_CPP_lut16_Tag::Read(const unsigned char* src, const unsigned char* end)
{
    return OrOnFailure(false, [&] {
        auto data = std::make_shared<ICC_CPP_lut16Type>();
        if (!data->Read(src, end))
            return false;
        m_data = std::move(data);
        return true;
    });
}

bool ICC_CPP_lut16_Tag::ShareElement(const ICC_CPP_Tag& other)
{
    const auto* from = dynamic_cast<const ICC_CPP_lut16_Tag*>(&other);
    if (!from || from == this || !from->m_data)
        return false;
    m_data = from->m_data;
    return true;
}

void ICC_CPP_lut16_Tag::Clear()
{
    m_data.reset();
}

unsigned int ICC_CPP_lut16_Tag::GetEncodedSizeBytes()
{
    return m_data ? m_data->GetEncodedSizeBytes() : 0;
}

// ---- "XYZ " -------------------------------------------------------------------------------

bool ICC_CPP_XYZType::Write(unsigned char* dst, unsigned char* end)
{
    const size_t avail = Available(dst, end);
    if (values.empty() || avail < k_xyzHeaderBytes || values.size() > (avail - k_xyzHeaderBytes) / k_xyzNumberBytes)
        return false;
    PutU32(dst, k_sigXYZ);
    PutU32(dst + 4, 0);
    unsigned char* p = dst + k_xyzHeaderBytes;
    for (const ICC_CPP_XYZNumber& v : values)
        for (double c : {v.X, v.Y, v.Z}) {
            PutU32(p, static_cast<unsigned int>(ICCDoubleToS15Fixed16(c)));
            p += 4;
        }
    return true;
}

bool ICC_CPP_XYZType::Read(const unsigned char* src, const unsigned char* end)
{
    return OrOnFailure(false, [&] { return ReadElement(src, end); });
}

bool ICC_CPP_XYZType::ReadElement(const unsigned char* src, const unsigned char* end)
{
    const size_t avail = Available(src, end);
    if (avail < k_xyzHeaderBytes + k_xyzNumberBytes || GetU32(src) != k_sigXYZ || GetU32(src + 4) != 0)
        return false;
    std::vector<ICC_CPP_XYZNumber> read((avail - k_xyzHeaderBytes) / k_xyzNumberBytes);
    for (size_t i = 0; i < read.size(); ++i) {
        const unsigned char* p = src + k_xyzHeaderBytes + k_xyzNumberBytes * i;
        read[i] = {ICCS15Fixed16ToDouble(static_cast<int>(GetU32(p))),
                   ICCS15Fixed16ToDouble(static_cast<int>(GetU32(p + 4))),
                   ICCS15Fixed16ToDouble(static_cast<int>(GetU32(p + 8)))};
    }
    values.swap(read);
    return true;
}

void ICC_CPP_XYZType::Clear()
{
    values.clear();
}

unsigned int ICC_CPP_XYZType::GetEncodedSizeBytes()
{
    return static_cast<unsigned int>(k_xyzHeaderBytes + k_xyzNumberBytes * values.size());
}

ICC_CPP_XYZ_Tag::ICC_CPP_XYZ_Tag(unsigned int newSignature)
{
    SetHeader(newSignature, 0, 0);
}

bool ICC_CPP_XYZ_Tag::Write(unsigned char* dst, unsigned char* end)
{
    return xyz && xyz->Write(dst, end);
}

bool ICC_CPP_XYZ_Tag::Read(const unsigned char* src, const unsigned char* end)
{
    return xyz && xyz->Read(src, end);
}

void ICC_CPP_XYZ_Tag::Clear()
{
    if (xyz)
        xyz->Clear();
}

unsigned int ICC_CPP_XYZ_Tag::GetEncodedSizeBytes()
{
    return xyz ? xyz->GetEncodedSizeBytes() : 0;
}

bool ICC_CPP_XYZ_Tag::ShareElement(const ICC_CPP_Tag& other)
{
    const auto* from = dynamic_cast<const ICC_CPP_XYZ_Tag*>(&other);
    if (!from || from == this || !from->xyz)
        return false;
    xyz = from->xyz;
    return true;
}

// ---- "desc" -------------------------------------------------------------------------------

namespace {

// The counts a "desc" element is written with: each text with its terminator, none for an
// absent Unicode or ScriptCode text.
struct DescCounts {
    size_t ascii, unicode, script;
};

DescCounts CountsOf(const ICC_CPP_textDescriptionType& d)
{
    const size_t script = std::min(d.scriptText.size(), ICC_CPP_textDescriptionType::k_scriptCodeBytes - 1);
    return {d.ascii.size() + 1, d.unicode.empty() ? 0 : d.unicode.size() + 1, d.scriptText.empty() ? 0 : script + 1};
}

// Exchanges the fields of two descriptions, which cannot fail.
void SwapFields(ICC_CPP_textDescriptionType& a, ICC_CPP_textDescriptionType& b)
{
    a.ascii.swap(b.ascii);
    std::swap(a.unicodeLanguage, b.unicodeLanguage);
    a.unicode.swap(b.unicode);
    std::swap(a.scriptCode, b.scriptCode);
    a.scriptText.swap(b.scriptText);
}

}  // namespace

bool ICC_CPP_textDescriptionType::SetText(const std::string& utf8)
{
    return OrOnFailure(false, [&] {
        ICC_CPP_textDescriptionType made;
        if (!ICCSevenBitText(utf8, &made.ascii))
            return false;
        if (made.ascii != utf8)
            for (long cp : DecodeUtf8(utf8))
                made.unicode.push_back(cp >= 0 && cp <= 0xFFFF ? static_cast<unsigned short>(cp)
                                                               : k_replacementCharacter);
        SwapFields(*this, made);
        return true;
    });
}

bool ICC_CPP_textDescriptionType::Write(unsigned char* dst, unsigned char* end)
{
    const DescCounts n = CountsOf(*this);
    const size_t avail = Available(dst, end);
    if (avail < k_descHeaderBytes + k_descUnicodeHeaderBytes + k_descScriptBytes ||
        n.ascii + 2 * n.unicode > avail - k_descHeaderBytes - k_descUnicodeHeaderBytes - k_descScriptBytes)
        return false;
    PutU32(dst, k_sigDesc);
    PutU32(dst + 4, 0);
    PutU32(dst + 8, static_cast<unsigned int>(n.ascii));
    unsigned char* p = std::copy(ascii.begin(), ascii.end(), dst + k_descHeaderBytes);
    *p++ = 0;
    PutU32(p, unicodeLanguage);
    PutU32(p + 4, static_cast<unsigned int>(n.unicode));
    p += k_descUnicodeHeaderBytes;
    for (size_t i = 0; i < n.unicode; ++i, p += 2)
        PutU16(p, i < unicode.size() ? unicode[i] : 0);
    PutU16(p, scriptCode);
    p[2] = static_cast<unsigned char>(n.script);
    std::fill_n(p + 3, k_scriptCodeBytes, 0);
    std::copy_n(scriptText.begin(), n.script == 0 ? 0 : n.script - 1, p + 3);
    return true;
}

bool ICC_CPP_textDescriptionType::Read(const unsigned char* src, const unsigned char* end)
{
    return OrOnFailure(false, [&] { return ReadElement(src, end); });
}

bool ICC_CPP_textDescriptionType::ReadElement(const unsigned char* src, const unsigned char* end)
{
    // Each count is bounded by the bytes left after it before the next is read.
    const size_t avail = Available(src, end);
    if (avail < k_descHeaderBytes || GetU32(src) != k_sigDesc || GetU32(src + 4) != 0)
        return false;
    const size_t asciiCount = GetU32(src + 8);
    if (asciiCount > avail - k_descHeaderBytes || avail - k_descHeaderBytes - asciiCount < k_descUnicodeHeaderBytes)
        return false;
    const unsigned char* unicodeHeader = src + k_descHeaderBytes + asciiCount;
    const size_t left = static_cast<size_t>(end - unicodeHeader) - k_descUnicodeHeaderBytes;
    const size_t unicodeCount = GetU32(unicodeHeader + 4);
    if (unicodeCount > left / 2 || left - 2 * unicodeCount < k_descScriptBytes)
        return false;
    const unsigned char* script = unicodeHeader + k_descUnicodeHeaderBytes + 2 * unicodeCount;
    const size_t scriptCount = script[2];
    if (scriptCount > k_scriptCodeBytes)
        return false;

    ICC_CPP_textDescriptionType read;
    const unsigned char* text = src + k_descHeaderBytes;
    read.ascii.assign(text, std::find(text, text + asciiCount, 0));
    read.unicodeLanguage = GetU32(unicodeHeader);
    for (size_t i = 0; i < unicodeCount; ++i) {
        const unsigned short unit = GetU16(unicodeHeader + k_descUnicodeHeaderBytes + 2 * i);
        if (unit == 0)
            break;
        read.unicode.push_back(unit);
    }
    read.scriptCode = GetU16(script);
    // The field ends in a terminator: its 67th byte is never text.
    const size_t scriptBytes = std::min(scriptCount, k_scriptCodeBytes - 1);
    read.scriptText.assign(script + 3, std::find(script + 3, script + 3 + scriptBytes, 0));
    SwapFields(*this, read);
    return true;
}

void ICC_CPP_textDescriptionType::Clear()
{
    ascii.clear();
    unicodeLanguage = 0;
    unicode.clear();
    scriptCode = 0;
    scriptText.clear();
}

unsigned int ICC_CPP_textDescriptionType::GetEncodedSizeBytes()
{
    const DescCounts n = CountsOf(*this);
    const size_t size = k_descHeaderBytes + n.ascii + k_descUnicodeHeaderBytes + 2 * n.unicode + k_descScriptBytes;
    return static_cast<unsigned int>((size + 3) & ~size_t(3));
}

ICC_CPP_textDescription_Tag::ICC_CPP_textDescription_Tag(unsigned int newSignature)
{
    SetHeader(newSignature, 0, 0);
}

bool ICC_CPP_textDescription_Tag::Write(unsigned char* dst, unsigned char* end)
{
    return description && description->Write(dst, end);
}

bool ICC_CPP_textDescription_Tag::Read(const unsigned char* src, const unsigned char* end)
{
    return description && description->Read(src, end);
}

void ICC_CPP_textDescription_Tag::Clear()
{
    if (description)
        description->Clear();
}

unsigned int ICC_CPP_textDescription_Tag::GetEncodedSizeBytes()
{
    return description ? description->GetEncodedSizeBytes() : 0;
}

bool ICC_CPP_textDescription_Tag::ShareElement(const ICC_CPP_Tag& other)
{
    const auto* from = dynamic_cast<const ICC_CPP_textDescription_Tag*>(&other);
    if (!from || from == this || !from->description)
        return false;
    description = from->description;
    return true;
}

// ---- The profile --------------------------------------------------------------------------

namespace {

void DecodeHeader(const unsigned char* src, ICC_CPP_ProfileHeader& h)
{
    h.size = GetU32(src);
    h.cmmType = GetU32(src + 4);
    h.version = GetU32(src + 8);
    h.deviceClass = GetU32(src + 12);
    h.colorSpace = GetU32(src + 16);
    h.pcs = GetU32(src + 20);
    for (int i = 0; i < 6; ++i)
        h.dateTime[i] = GetU16(src + 24 + 2 * i);
    h.magic = GetU32(src + 36);
    h.platform = GetU32(src + 40);
    h.flags = GetU32(src + 44);
    h.manufacturer = GetU32(src + 48);
    h.model = GetU32(src + 52);
    h.attributes[0] = GetU32(src + 56);
    h.attributes[1] = GetU32(src + 60);
    h.renderingIntent = GetU32(src + 64);
    for (int i = 0; i < 3; ++i)
        h.illuminant[i] = static_cast<int>(GetU32(src + 68 + 4 * i));
    h.creator = GetU32(src + 80);
    std::memcpy(h.profileID, src + 84, sizeof h.profileID);
    std::memcpy(h.reserved, src + 100, sizeof h.reserved);
}

// The profile ID is left 0 ("not computed"): an ID read with the profile no longer fits it.
void EncodeHeader(const ICC_CPP_ProfileHeader& h, unsigned int size, unsigned char* dst)
{
    PutU32(dst, size);
    PutU32(dst + 4, h.cmmType);
    PutU32(dst + 8, h.version);
    PutU32(dst + 12, h.deviceClass);
    PutU32(dst + 16, h.colorSpace);
    PutU32(dst + 20, h.pcs);
    for (int i = 0; i < 6; ++i)
        PutU16(dst + 24 + 2 * i, h.dateTime[i]);
    PutU32(dst + 36, h.magic);
    PutU32(dst + 40, h.platform);
    PutU32(dst + 44, h.flags);
    PutU32(dst + 48, h.manufacturer);
    PutU32(dst + 52, h.model);
    PutU32(dst + 56, h.attributes[0]);
    PutU32(dst + 60, h.attributes[1]);
    PutU32(dst + 64, h.renderingIntent);
    for (int i = 0; i < 3; ++i)
        PutU32(dst + 68 + 4 * i, static_cast<unsigned int>(h.illuminant[i]));
    PutU32(dst + 80, h.creator);
    std::memset(dst + 84, 0, sizeof h.profileID);
    std::memcpy(dst + 100, h.reserved, sizeof h.reserved);
}

// Where one tag's element goes: its offset and encoded size, and whether this tag writes it
// (the first tag of an element that several share does; the others point at it).
struct Placement {
    unsigned long long offset = 0;
    unsigned int size = 0;
    bool writes = true;
};

// The layout rule: elements follow the table in list order, each on a multiple of 4; a tag
// whose element an earlier tag placed gets that tag's placement and takes no room.
// Returns the profile size; computed wide so that a caller can refuse one past 32 bits.
unsigned long long LayOut(const std::vector<ICC_CPP_Tag*>& tags, std::vector<Placement>& placements)
{
    unsigned long long current = k_tableStart + k_tagEntryBytes * tags.size();
    placements.assign(tags.size(), Placement{});
    std::unordered_map<const void*, size_t> placedBy;
    for (size_t i = 0; i < tags.size(); ++i) {
        const auto [first, isNew] = placedBy.emplace(tags[i]->GetElement(), i);
        if (!isNew) {
            placements[i] = placements[first->second];
            placements[i].writes = false;
            continue;
        }
        placements[i].offset = current;
        placements[i].size = tags[i]->GetEncodedSizeBytes();
        current = (current + placements[i].size + 3) & ~3ull;
    }
    return current;
}

// True when the tag encodes back to the element's bytes; only zero padding may differ.
bool EncodesAs(ICC_CPP_Tag& tag, const unsigned char* src, size_t size)
{
    std::vector<unsigned char> encoded(tag.GetEncodedSizeBytes(), 0);
    if (!tag.Write(encoded.data(), encoded.data() + encoded.size()))
        return false;
    const size_t common = std::min(encoded.size(), size);
    return std::equal(encoded.begin(), encoded.begin() + common, src) &&
           std::all_of(src + common, src + size, [](unsigned char b) { return b == 0; });
}

// The tag of the class that reads an element of `type` for `signature`; null for the
// elements kept as opaque bytes.
std::unique_ptr<ICC_CPP_Tag> NewDecodingTag(unsigned int type, unsigned int signature)
{
    if (type == k_sigText && signature == k_sigCprt)
        return std::make_unique<ICC_CPP_cprt_Tag>();
    if (type == k_sigText)
        return std::make_unique<ICC_CPP_textInternal_Tag>();
    if (type == k_sigCurv)
        return std::make_unique<ICC_CPP_curve_Tag>();
    if (type == k_sigMft2 && (signature == k_sigA2B0 || signature == k_sigA2B1 || signature == k_sigA2B2))
        return std::make_unique<ICC_CPP_A2B_Tag>(signature);
    if (type == k_sigMft2)
        return std::make_unique<ICC_CPP_lut16_Tag>(signature);
    if (type == k_sigXYZ)
        return std::make_unique<ICC_CPP_XYZ_Tag>(signature);
    if (type == k_sigDesc)
        return std::make_unique<ICC_CPP_textDescription_Tag>(signature);
    return nullptr;
}

// One distinct element of the file (an offset and a size) and the tags already made from it:
// the first that decoded it, if its class took it, and the first that kept it as opaque
// bytes. Every later tag of the element shares theirs, so each form is made at most once.
struct ElementForms {
    ICC_CPP_Tag* decoded = nullptr;
    bool decodeTried = false;
    ICC_CPP_Tag* opaque = nullptr;
};

// The tag for one table entry. An element that its class refuses, or would not give back
// unchanged, is kept as opaque bytes.
std::unique_ptr<ICC_CPP_Tag> ReadTag(const unsigned char* src, unsigned int signature, unsigned int offset,
                                     unsigned int size, ElementForms& forms)
{
    const unsigned int type = size >= 4 ? GetU32(src) : 0;
    if (std::unique_ptr<ICC_CPP_Tag> tag = NewDecodingTag(type, signature)) {
        tag->SetHeader(signature, offset, size);
        if (forms.decoded && tag->ShareElement(*forms.decoded))
            return tag;
        if (!forms.decodeTried) {
            forms.decodeTried = true;
            if (tag->Read(src, src + size) && EncodesAs(*tag, src, size)) {
                forms.decoded = tag.get();
                return tag;
            }
        }
    }
    auto tag = std::make_unique<ICC_CPP_opaque_Tag>();
    tag->SetHeader(signature, offset, size);
    if (!forms.opaque || !tag->ShareElement(*forms.opaque)) {
        tag->Read(src, src + size);
        forms.opaque = tag.get();
    }
    return tag;
}

}  // namespace

ICC_CPP_Profile::ICC_CPP_Profile()
{
    header.magic = k_sigAcsp;
    UpdateFileLenAndOffsets();
}

ICC_CPP_Profile::~ICC_CPP_Profile()
{
    for (ICC_CPP_Tag* tag : m_tags)
        delete tag;
}

ICC_CPP_Tag* ICC_CPP_Profile::GetTag(unsigned int signature) const
{
    for (ICC_CPP_Tag* tag : m_tags)
        if (tag->signature == signature)
            return tag;
    return nullptr;
}

bool ICC_CPP_Profile::AddTag(ICC_CPP_Tag* tag)
{
    // A null entry would be dereferenced by every later layout.
    if (!tag)
        return false;
    // The profile owns the tag from here on, also when it cannot be appended.
    std::unique_ptr<ICC_CPP_Tag> owned(tag);
    if (!OrOnFailure(false, [&] {
            m_tags.push_back(tag);
            return true;
        }))
        return false;
    owned.release();
    return UpdateFileLenAndOffsets();
}

bool ICC_CPP_Profile::KeepTags(const unsigned int* signatures, unsigned int count)
{
    if (!signatures && count > 0)
        return false;
    // Filtered in place: nothing to allocate, so nothing can fail half way.
    auto kept = m_tags.begin();
    for (ICC_CPP_Tag* tag : m_tags) {
        if (std::find(signatures, signatures + count, tag->signature) != signatures + count)
            *kept++ = tag;
        else
            delete tag;
    }
    m_tags.erase(kept, m_tags.end());
    return UpdateFileLenAndOffsets();
}

bool ICC_CPP_Profile::SortTags()
{
    std::stable_sort(m_tags.begin(), m_tags.end(), CompareTags);
    return UpdateFileLenAndOffsets();
}

bool ICC_CPP_Profile::CompareTags(const ICC_CPP_Tag* a, const ICC_CPP_Tag* b)
{
    return a->signature < b->signature;
}

bool ICC_CPP_Profile::UpdateFileLenAndOffsets()
{
    return OrOnFailure(false, [&] {
        std::vector<Placement> placements;
        header.size = static_cast<unsigned int>(LayOut(m_tags, placements));
        for (size_t i = 0; i < m_tags.size(); ++i)
            m_tags[i]->SetHeader(m_tags[i]->signature, static_cast<unsigned int>(placements[i].offset),
                                 placements[i].size);
        return true;
    });
}

ICC_CPP_Profile* ICC_CPP_Profile::ReadFromMemory(const unsigned char* data, size_t size)
{
    if (!data || size < k_tableStart || size > 0xFFFFFFFFu)
        return nullptr;
    return OrOnFailure<ICC_CPP_Profile*>(nullptr, [&]() -> ICC_CPP_Profile* {
        std::unique_ptr<ICC_CPP_Profile> profile(new ICC_CPP_Profile);
        DecodeHeader(data, profile->header);
        if (profile->header.size != size || profile->header.magic != k_sigAcsp)
            return nullptr;
        const unsigned int count = GetU32(data + k_headerBytes);
        if (count > (size - k_tableStart) / k_tagEntryBytes)
            return nullptr;
        profile->m_tags.reserve(count);
        std::map<std::pair<unsigned int, unsigned int>, ElementForms> elements;
        size_t distinctBytes = 0;
        for (unsigned int i = 0; i < count; ++i) {
            const unsigned char* entry = data + k_tableStart + k_tagEntryBytes * i;
            const unsigned int signature = GetU32(entry), offset = GetU32(entry + 4), tagSize = GetU32(entry + 8);
            // Written so that a huge offset or size cannot wrap past the check.
            if (offset > size || tagSize > size - offset)
                return nullptr;
            const auto [element, isNew] = elements.try_emplace({offset, tagSize});
            // Only elements that overlap without being the same can add up to more than the
            // profile; each would be read, held and written on its own.
            if (isNew && tagSize > size - distinctBytes)
                return nullptr;
            if (isNew)
                distinctBytes += tagSize;
            profile->m_tags.push_back(ReadTag(data + offset, signature, offset, tagSize, element->second).release());
        }
        if (!profile->UpdateFileLenAndOffsets())
            return nullptr;
        return profile.release();
    });
}

ICC_CPP_Profile* ICC_CPP_Profile::ReadFile(const char* path)
{
    if (!path)
        return nullptr;
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "rb"), std::fclose);
    if (!file)
        return nullptr;
    return OrOnFailure<ICC_CPP_Profile*>(nullptr, [&]() -> ICC_CPP_Profile* {
        std::vector<unsigned char> bytes;
        unsigned char chunk[65536];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
            bytes.insert(bytes.end(), chunk, chunk + got);
            // No profile is longer than its 32-bit size field can say.
            if (bytes.size() > 0xFFFFFFFFu)
                return nullptr;
        }
        if (std::ferror(file.get()))
            return nullptr;
        return ReadFromMemory(bytes.data(), bytes.size());
    });
}

bool ICC_CPP_Profile::WriteToMemory(std::vector<unsigned char>& out) const
{
    return OrOnFailure(false, [&] {
        // Laid out here rather than trusted from the tags: a tag's content may have changed
        // since the last list operation.
        std::vector<Placement> placements;
        const unsigned long long total = LayOut(m_tags, placements);
        if (total > 0xFFFFFFFFu)
            return false;
        std::vector<unsigned char> bytes(static_cast<size_t>(total), 0);
        EncodeHeader(header, static_cast<unsigned int>(total), bytes.data());
        PutU32(bytes.data() + k_headerBytes, static_cast<unsigned int>(m_tags.size()));
        for (size_t i = 0; i < m_tags.size(); ++i) {
            const Placement& at = placements[i];
            unsigned char* entry = bytes.data() + k_tableStart + k_tagEntryBytes * i;
            unsigned char* element = bytes.data() + at.offset;
            PutU32(entry, m_tags[i]->signature);
            PutU32(entry + 4, static_cast<unsigned int>(at.offset));
            PutU32(entry + 8, at.size);
            if (at.writes && !m_tags[i]->Write(element, element + at.size))
                return false;
        }
        out.swap(bytes);
        return true;
    });
}

bool ICC_CPP_Profile::WriteFile(const char* path) const
{
    std::vector<unsigned char> bytes;
    if (!path || !WriteToMemory(bytes))
        return false;
    return OrOnFailure(false, [&] { return WriteFileAtomically(path, bytes.data(), bytes.size()); });
}

// ---- Edits --------------------------------------------------------------------------------

bool ICCXRiteToOrlisk(ICC_CPP_Profile* profile)
{
    static const unsigned int sigs[] = {
        ICCSignature("desc"), ICCSignature("chad"), ICCSignature("gamt"), ICCSignature("wtpt"),
        ICCSignature("bkpt"), ICCSignature("B2A0"), ICCSignature("A2B0"), ICCSignature("B2A1"),
        ICCSignature("A2B1"), ICCSignature("B2A2"), ICCSignature("A2B2")};
    if (!profile)
        return false;
    if (!profile->KeepTags(sigs, static_cast<unsigned int>(std::size(sigs))))
        return false;
    return OrOnFailure(false, [&] {
        std::unique_ptr<ICC_CPP_cprt_Tag> copyright(new ICC_CPP_cprt_Tag);
        if (!copyright->SetText(k_orliskCopyright))
            return false;
        if (!profile->AddTag(copyright.release()))
            return false;
        profile->header.creator = k_orliskCreator;
        return profile->SortTags();
    });
}

bool ReplaceCanonCameraMatrixWithIdentity(ICC_CPP_Profile* profile)
{
    static const unsigned int kSigs[] = {k_sigA2B0, k_sigA2B1, k_sigA2B2};
    static const unsigned int kNumSigs = 3;
    static const float k_firstTriple[3] = {0.75f, 0.6f, 0.73333335f};
    static const float k_secondTriple[3] = {0.3f, 0.40392157f, 0.34509805f};
    if (!profile)
        return false;
    for (unsigned int s = 0; s < kNumSigs; ++s) {
        // A tag of another element type is not an A2B tag here: it has no data element.
        ICC_CPP_A2B_Tag* tag = dynamic_cast<ICC_CPP_A2B_Tag*>(profile->GetTag(kSigs[s]));
        if (!tag || !tag->GetData())
            return false;
        std::vector<std::vector<float>>& rows = tag->GetData()->rows;
        // A row too short for a triple refuses the tag before any of its rows change.
        for (const std::vector<float>& row : rows)
            if (row.size() < 3)
                return false;
        const size_t half = rows.size() / 2;
        for (size_t i = 0; i < rows.size(); ++i) {
            const float* triple = i < half ? k_firstTriple : k_secondTriple;
            std::copy(triple, triple + 3, rows[i].begin());
        }
    }
    return true;
}

// ---- End of the ICC profile objects ---------------------------------------------------

// ---------------------------------------------------------------------------------------
// Colour differences and the measured-Lab-to-PCS transform.
//
// CMC(1:1), with index 1 the reference and index 2 the sample, C = sqrt(a² + b²) and the
// hue angle h1 in degrees, 0..360:
//   dH² = da² + db² - dC²  (a slightly negative value, from rounding, counts as 0)
//   SL  = 0.511 when L1 < 16, else 0.040975·L1 / (1 + 0.01765·L1)
//   SC  = 0.0638·C1 / (1 + 0.0131·C1) + 0.638
//   F   = sqrt(C1⁴ / (C1⁴ + 1900))
//   T   = 0.56 + |0.2·cos(h1 + 168°)| when 164 <= h1 <= 345, else 0.36 + |0.4·cos(h1 + 35°)|
//   SH  = SC·(F·T + 1 - F)
//   dE  = sqrt((dL/SL)² + (dC/SC)² + (dH/SH)²)
//
// CIEDE2000 with kL = kC = kH = 1, in double precision; primes mark the values after the a
// axis has been stretched, bars the means of the two colours, and 25⁷ = 6103515625:
//   G   = 0.5·(1 - sqrt(C̄⁷ / (C̄⁷ + 25⁷)))
//   a'  = (1 + G)·a,  C' = sqrt(a'² + b²),  h' = atan2(b, a') in degrees, 0..360
//   dL' = L2 - L1,  dC' = C2' - C1'
//   dh' = h2' - h1', brought into -180..180 by ±360 (180 apart: unchanged); 0 when C1'·C2' = 0
//   dH' = 2·sqrt(C1'·C2')·sin(dh'/2)
//   h̄'  = (h1' + h2')/2 when |h1' - h2'| <= 180, else (h1' + h2' + 360)/2 when the sum is
//         below 360 and (h1' + h2' - 360)/2 when not
//   T   = 1 - 0.17·cos(h̄' - 30°) + 0.24·cos(2h̄') + 0.32·cos(3h̄' + 6°) - 0.20·cos(4h̄' - 63°)
//   SL  = 1 + 0.015·(L̄ - 50)² / sqrt(20 + (L̄ - 50)²),  SC = 1 + 0.045·C̄',  SH = 1 + 0.015·C̄'·T
//   RT  = -sin(2·dθ)·RC,  dθ = 30°·exp(-((h̄' - 275°)/25°)²),  RC = 2·sqrt(C̄'⁷ / (C̄'⁷ + 25⁷))
//   dE  = sqrt((dL'/SL)² + (dC'/SC)² + (dH'/SH)² + RT·(dC'/SC)·(dH'/SH))
// |RT| <= 2·sin(60°) < 2, so the sum under the last square root is never negative.
//
// Measured Lab to PCS Lab, with black B and white W: T translates B to the origin; R turns
// n = (W - B)/|W - B| onto the L axis by Rodrigues' formula with c = n × (1, 0, 0) and
// dot = n·(1, 0, 0): R = dot·I + [c]x + c·cᵀ·(1 - dot)/|c|²; S scales L by 100/|W - B|.
// The result is S·R·T.

namespace {

// 180/pi, as a float.
const float k_radToDeg = 57.29578f;
const double k_degToRadDouble = 3.14159265358979323846 / 180.0;
// The length below which a direction cannot be normalised (see vector_normalize_3).
const float k_minDirectionLength = 0.00001f;

double Pow7(double x)
{
    const double x2 = x * x;
    return x2 * x2 * x2 * x;
}

// 2·sqrt(x⁷ / (x⁷ + 25⁷)): RC of CIEDE2000, and 1 - 2G.
double ChromaWeight(double meanChroma)
{
    const double c7 = Pow7(meanChroma);
    return 2.0 * std::sqrt(c7 / (c7 + 6103515625.0));
}

// 0..360. A colour without chroma gets 0 or 180 from the signs of its zeros; that hue never
// matters (see ComputeDeltaE2000).
double HueDegrees(double b, double a)
{
    const double h = std::atan2(b, a) / k_degToRadDouble;
    return h < 0.0 ? h + 360.0 : h;
}

float CmcHueWeight(float h1)
{
    if (h1 >= 164.0f && h1 <= 345.0f)
        return 0.56f + std::fabs(float(0.2 * std::cos((double(h1) + 168.0) * k_degToRadDouble)));
    return 0.36f + std::fabs(float(0.4 * std::cos((double(h1) + 35.0) * k_degToRadDouble)));
}

}  // namespace

float ComputeDeltaE(const Vec3& first, const Vec3& second)
{
    const float dl = first.v[0] - second.v[0];
    const float da = first.v[1] - second.v[1];
    const float db = first.v[2] - second.v[2];
    return std::sqrt(dl * dl + da * da + db * db);
}

float ComputeDeltaECMC21(const Vec3& reference, const Vec3& sample)
{
    const float l1 = reference.v[0], a1 = reference.v[1], b1 = reference.v[2];
    const float l2 = sample.v[0], a2 = sample.v[1], b2 = sample.v[2];
    const float dl = l1 - l2;
    const float c1 = std::sqrt(a1 * a1 + b1 * b1);
    const float c2 = std::sqrt(a2 * a2 + b2 * b2);
    const float dc = c1 - c2;
    const float dh2 = (a1 - a2) * (a1 - a2) + (b1 - b2) * (b1 - b2) - dc * dc;
    // Rounding can leave a hue difference of zero slightly negative.
    const float dh = dh2 < 0.0f ? 0.0f : std::sqrt(dh2);
    const float sl = l1 < 16.0f ? 0.511f : 0.040975f * l1 / (1.0f + 0.01765f * l1);
    const float sc = 0.0638f * c1 / (1.0f + 0.0131f * c1) + 0.638f;
    const float c1Pow4 = c1 * c1 * c1 * c1;
    const float f = std::sqrt(c1Pow4 / (c1Pow4 + 1900.0f));
    float h1 = float(std::atan2(double(b1), double(a1)) * double(k_radToDeg));
    if (h1 < 0.0f)
        h1 += 360.0f;
    const float sh = sc * (f * CmcHueWeight(h1) + 1.0f - f);
    const float tl = dl / sl;
    const float tc = dc / sc;
    const float th = dh / sh;
    return std::sqrt(tl * tl + tc * tc + th * th);
}

float ComputeDeltaE2000(const Vec3& first, const Vec3& second)
{
    const double l1 = first.v[0], a1 = first.v[1], b1 = first.v[2];
    const double l2 = second.v[0], a2 = second.v[1], b2 = second.v[2];
    const double meanC = 0.5 * (std::sqrt(a1 * a1 + b1 * b1) + std::sqrt(a2 * a2 + b2 * b2));
    const double stretch = 1.0 + 0.5 * (1.0 - 0.5 * ChromaWeight(meanC));
    const double a1p = stretch * a1, a2p = stretch * a2;
    const double c1p = std::sqrt(a1p * a1p + b1 * b1), c2p = std::sqrt(a2p * a2p + b2 * b2);
    const double h1p = HueDegrees(b1, a1p), h2p = HueDegrees(b2, a2p);
    const double cProduct = c1p * c2p;

    // Against a colour without chroma dH' is 0, and the mean hue, which only weighs dH' (in SH
    // and RT), does not matter.
    double dhp = 0.0, meanHp = 0.0;
    if (cProduct != 0.0) {
        // The hue difference is the angle from the first colour to the second, taken from
        // their cross and dot products rather than by subtracting rounded hues, which would
        // put about one exactly opposite pair in ten on the wrapped side of 180 degrees.
        // Exactly opposite colours (cross 0) take the unwrapped difference and mean.
        const double cross = a1p * b2 - b1 * a2p;
        const double dot = a1p * a2p + b1 * b2;
        dhp = cross == 0.0 && dot < 0.0 ? h2p - h1p : std::atan2(cross, dot) / k_degToRadDouble;
        // Hues more than 180 degrees apart: the difference crossed 0 and so does the mean.
        meanHp = h1p + h2p;
        if (std::fabs(h2p - h1p - dhp) > 180.0)
            meanHp += meanHp < 360.0 ? 360.0 : -360.0;
        meanHp *= 0.5;
    }
    const double dLp = l2 - l1;
    const double dCp = c2p - c1p;
    const double dHp = 2.0 * std::sqrt(cProduct) * std::sin(0.5 * dhp * k_degToRadDouble);

    const double meanL = 0.5 * (l1 + l2), meanCp = 0.5 * (c1p + c2p);
    const double h = meanHp * k_degToRadDouble;
    const double t = 1.0 - 0.17 * std::cos(h - 30.0 * k_degToRadDouble) +
                     0.24 * std::cos(2.0 * h) + 0.32 * std::cos(3.0 * h + 6.0 * k_degToRadDouble) -
                     0.20 * std::cos(4.0 * h - 63.0 * k_degToRadDouble);
    const double lFrom50 = (meanL - 50.0) * (meanL - 50.0);
    const double sl = 1.0 + 0.015 * lFrom50 / std::sqrt(20.0 + lFrom50);
    const double sc = 1.0 + 0.045 * meanCp;
    const double sh = 1.0 + 0.015 * meanCp * t;
    const double hueFrom275 = (meanHp - 275.0) / 25.0;
    const double dTheta = 30.0 * std::exp(-hueFrom275 * hueFrom275) * k_degToRadDouble;
    const double rt = -std::sin(2.0 * dTheta) * ChromaWeight(meanCp);

    const double tl = dLp / sl, tc = dCp / sc, th = dHp / sh;
    return float(std::sqrt(tl * tl + tc * tc + th * th + rt * tc * th));
}

Matrix4 ComputeTransformFromMeasuredLabToPCSLab(const Vec3& measuredBlack,
                                                const Vec3& measuredWhite)
{
    Matrix4 t;
    matrix_translate_4(t, -measuredBlack.v[0], -measuredBlack.v[1], -measuredBlack.v[2]);
    const Vec4 d = mul(t, Vec4(measuredWhite.v[0], measuredWhite.v[1], measuredWhite.v[2], 1.0f));

    const float length = std::sqrt(d.v[0] * d.v[0] + d.v[1] * d.v[1] + d.v[2] * d.v[2]);
    // Black and white (nearly) coincide: there is no axis to turn or scale, so the
    // translation alone is the transform rather than infinities.
    if (!(length > k_minDirectionLength))
        return t;
    float n[3] = {d.v[0], d.v[1], d.v[2]};
    vector_normalize_3(n);

    const float c1 = 0.0f, c2 = n[2], c3 = -n[1];
    const float dot = n[0];
    const float cc = c1 * c1 + c2 * c2 + c3 * c3;
    Matrix4 r;
    matrix_ident_4(r);
    if (cc < FLT_MIN) {
        // Already on the L axis (or too close for (1 - dot)/|c|² to stay finite): no turn
        // towards +L, or half a turn about the b axis from -L.
        if (dot < 0.0f) {
            r.m[0] = -1.0f;
            r.m[5] = -1.0f;
        }
    } else {
        const float h = (1.0f - dot) / cc;
        r.m[0] = c1 * c1 * h + dot;
        r.m[1] = c1 * c2 * h - c3;
        r.m[2] = c1 * c3 * h + c2;
        r.m[4] = c1 * c2 * h + c3;
        r.m[5] = c2 * c2 * h + dot;
        r.m[6] = c2 * c3 * h - c1;
        r.m[8] = c1 * c3 * h - c2;
        r.m[9] = c2 * c3 * h + c1;
        r.m[10] = c3 * c3 * h + dot;
    }

    const float u = mul(r, d).v[0];
    Matrix4 s;
    matrix_ident_4(s);
    s.m[0] = 100.0f / u;
    return mul(mul(s, r), t);
}
