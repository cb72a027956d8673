#pragma once

#include "rgb2lab/export.h"

// ---------------------------------------------------------------------------------------
// ICC profile objects: byte order, elements, tags, the profile container and its edits.
//
// Byte order: every multi-byte number of an ICC profile is big-endian. The host's order is
// found once per process (g_isLittleEndian) and one conversion serves both directions.
//
// Elements (offsets from the element's first byte, numbers big-endian):
//   "curv": 0 "curv", 4 reserved 0, 8 count n, 12 n x u16 (0 = 0.0, 65535 = 1.0);
//           encoded size 12 + 2n rounded up to a multiple of 4.
//   "text": 0 "text", 4 reserved 0, 8 the text's bytes, then one 0 byte;
//           encoded size 9 + len rounded up to a multiple of 4.
//   "mft2": 0 "mft2", 4 reserved 0, 8 inputs i, 9 outputs o, 10 grid points g, 11 pad,
//           12 3x3 matrix (s15Fixed16), 48 input entries n, 50 output entries m,
//           52 input tables (n x i u16), CLUT (g^i x o u16, first input slowest),
//           output tables (m x o u16).
//   "XYZ ": 0 "XYZ ", 4 reserved 0, 8 one or more XYZ values, 12 bytes each (3 x s15Fixed16).
//   "desc": (version 2 textDescriptionType) 0 "desc", 4 reserved 0, 8 ASCII count a (with
//           its terminator), 12 the ASCII text and its 0, 12+a Unicode language code, 16+a
//           Unicode count u (in 16-bit units, with the terminator; 0 when there is no
//           Unicode text), 20+a u x u16, 20+a+2u ScriptCode code (u16), 22+a+2u ScriptCode
//           count (u8, at most 67), 23+a+2u a 67-byte field that holds the ScriptCode text.
//
// Numbers: s15Fixed16 is a signed 32-bit value, the number times 65536. The 16-bit Lab of
// version 2 profiles (and of "mft2" tables in any version) carries L* 0..100 as 0..0xFF00
// and a*, b* -128..127.996 as (value + 128) x 256.
//
// Profile: the 128-byte header, the tag count (4 bytes), one 12-byte table entry per tag
// (signature, offset, size), then the elements in table order, each on a multiple of 4 bytes
// from the start of the profile. The header's size covers the padding after the last element.
//
// Shared elements: several table entries may point at one element (the same offset and size).
// Such an element is read once, and the tags of those entries share it in memory: an edit
// through one of them is seen by all. It is written once, where the first of its tags in
// table order would place it, and every tag sharing it points there. A tag that shares
// nothing (every tag built with AddTag) is laid out as above. Distinct elements that overlap
// may add up to at most the profile's size; a table that asks for more is refused, so reading
// and writing take time and memory in proportion to the profile.
//
// Allocation failure: no exception leaves this module; a function that runs out of memory
// gives its failure result (false, or a null profile).
//
// Not thread-safe: the byte-order state is process-wide and set on first use without a lock.
// ---------------------------------------------------------------------------------------

#include "vmath.h"

#include <cstddef>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

// Nonzero when the host is little-endian; 0 until the byte order has been determined.
RGB2LAB_EXPORT extern int g_isLittleEndian;

// Determines the host's byte order on the first call; later calls do nothing.
RGB2LAB_EXPORT void DetermineEndianness();
// Host order to big-endian and back (a swap on a little-endian host, else unchanged).
RGB2LAB_EXPORT unsigned int ProcessEndianU32(unsigned int value);
RGB2LAB_EXPORT unsigned short ProcessEndianU16(unsigned short value);
// In-place forms; false, with nothing changed, for a null array or a count of 0.
RGB2LAB_EXPORT bool ProcessEndianU32(unsigned int* values, unsigned int count);
RGB2LAB_EXPORT bool ProcessEndianU16(unsigned short* values, unsigned int count);

// The current UTC time as an ICC dateTimeNumber in host order: year, month (1-12), day,
// hours, minutes, seconds. False for a null pointer or when the time cannot be broken down.
RGB2LAB_EXPORT bool ICCBuildDateTime(unsigned short* dateTime);
// The same for a given calendar time.
RGB2LAB_EXPORT bool ICCBuildDateTime(unsigned short* dateTime, std::time_t when);

// The connection space's illuminant, D50, as ICC profiles give it.
inline constexpr double k_iccD50XYZ[3] = {0.9642, 1.0, 0.8249};

// A number as s15Fixed16 (rounded to the nearest step of 1/65536, clamped to the type's
// range; NaN gives 0), and back.
RGB2LAB_EXPORT int ICCDoubleToS15Fixed16(double value);
RGB2LAB_EXPORT double ICCS15Fixed16ToDouble(int value);

// Lab to the 16-bit Lab encoding of version 2 profiles, rounded to the nearest code. Values
// the encoding cannot hold are clipped to it (L* to 0..100.39, a* and b* to -128..127.996);
// NaN gives code 0.
RGB2LAB_EXPORT void ICCEncodeLabV2(const double lab[3], unsigned short encoded[3]);
RGB2LAB_EXPORT void ICCDecodeLabV2(const unsigned short encoded[3], double lab[3]);

// UTF-8 text as 7-bit ASCII into *ascii: every character outside ASCII, and every byte that
// is not part of a well-formed UTF-8 character, becomes one '?'. False (*ascii unchanged)
// for a null pointer or when memory runs out.
RGB2LAB_EXPORT bool ICCSevenBitText(const std::string& utf8, std::string* ascii);

// The big-endian reading of a four-character signature: ICCSignature("curv") == 0x63757276.
constexpr unsigned int ICCSignature(const char (&name)[5])
{
    return (static_cast<unsigned int>(static_cast<unsigned char>(name[0])) << 24) |
           (static_cast<unsigned int>(static_cast<unsigned char>(name[1])) << 16) |
           (static_cast<unsigned int>(static_cast<unsigned char>(name[2])) << 8) |
           static_cast<unsigned int>(static_cast<unsigned char>(name[3]));
}

// This system's profile creator signature.
inline constexpr unsigned int k_orliskCreator = ICCSignature("ORLK");

// The root of every encodable object. Write expects GetEncodedSizeBytes() bytes between dst
// and end; Read expects the whole element between src and end. Both refuse (false) rather
// than touch a byte outside their buffer.
class RGB2LAB_EXPORT ICC_ProfileObject {
public:
    virtual ~ICC_ProfileObject() = default;
    virtual bool Write(unsigned char* dst, unsigned char* end) = 0;
    virtual bool Read(const unsigned char* src, const unsigned char* end) = 0;
    virtual void Clear() = 0;
    virtual void Debug() {}
    virtual unsigned int GetEncodedSizeBytes() = 0;
};

class RGB2LAB_EXPORT ICC_CPP_Curve : public ICC_ProfileObject {
public:
    // Fills the curve with an identity ramp of count entries; false (unchanged) below 2.
    virtual bool SetLinear(unsigned int count) = 0;
    // A new curve from the "curv" element at src, owned by the caller; null on failure.
    static ICC_CPP_Curve* ReadCurveType(const unsigned char* src, const unsigned char* end);
};

// A sampled curve. Counts 0 and 1 (identity and pure gamma) are not accepted.
class RGB2LAB_EXPORT ICC_CPP_curveType : public ICC_CPP_Curve {
public:
    std::vector<float> entries;  // nominally 0.0 to 1.0

    bool Write(unsigned char* dst, unsigned char* end) override;
    bool Read(const unsigned char* src, const unsigned char* end) override;
    void Clear() override;
    unsigned int GetEncodedSizeBytes() override;
    bool SetLinear(unsigned int count) override;

private:
    bool ReadElement(const unsigned char* src, const unsigned char* end);
};

class RGB2LAB_EXPORT ICC_CPP_TextType : public ICC_ProfileObject {
public:
    explicit ICC_CPP_TextType(unsigned int size) : size(size) {}

    unsigned int size;  // the element's byte count, from the tag table or SetText
    std::string text;

    bool Write(unsigned char* dst, unsigned char* end) override;
    // Refuses an element whose size is below 9 (header and terminator) or runs past end.
    bool Read(const unsigned char* src, const unsigned char* end) override;
    void Clear() override;
    unsigned int GetEncodedSizeBytes() override;
};

// An "mft2" element: the CLUT grid points as a row table, one row of output values (0 to 1)
// per grid point, first input slowest. Everything else of the element is kept as read or
// made; Write puts the rows back into the CLUT.
class RGB2LAB_EXPORT ICC_CPP_lut16Type : public ICC_ProfileObject {
public:
    // Table lengths and channel counts an element may have.
    static constexpr size_t k_minTableEntries = 2, k_maxTableEntries = 4096;
    static constexpr size_t k_maxChannels = 15;

    std::vector<std::vector<float>> rows;

    // Makes a new element with the identity matrix, `gridPoints` (2 to 255) points on every
    // input axis, one table per input channel and one per output channel, each in its encoded
    // form (0 = 0.0, 65535 = 1.0), and gridPoints^inputs rows of zeros. The tables of a side
    // must be equally long (k_minTableEntries to k_maxTableEntries), the channels 1 to
    // k_maxChannels and the element below 4 GiB; otherwise false and nothing changes.
    bool Create(unsigned int gridPoints, const std::vector<std::vector<unsigned short>>& inputTables,
                const std::vector<std::vector<unsigned short>>& outputTables);

    // Refuses a row table whose shape no longer matches the element read.
    bool Write(unsigned char* dst, unsigned char* end) override;
    bool Read(const unsigned char* src, const unsigned char* end) override;
    void Clear() override;
    unsigned int GetEncodedSizeBytes() override;

private:
    bool ReadElement(const unsigned char* src, const unsigned char* end);

    std::vector<unsigned char> m_bytes;  // the whole element as read
    size_t m_clutOffset = 0;             // of the CLUT within m_bytes
    size_t m_points = 0;                 // rows: grid points of the CLUT
    size_t m_outputs = 0;                // values per row
};

// One tag table entry with its element. The Clear of a derived tag empties its element and
// leaves signature, offset and size as they are.
class RGB2LAB_EXPORT ICC_CPP_Tag : public ICC_ProfileObject {
public:
    unsigned int signature = 0;
    unsigned int offset = 0;  // of the element from the start of the profile
    unsigned int size = 0;    // of the element in bytes

    void Clear() override;
    virtual void SetHeader(unsigned int signature, unsigned int offset, unsigned int size);
    // The 12-byte table entry: signature, offset, size, big-endian.
    virtual bool WriteTable(unsigned char* dst);
    // Makes this tag use the element of `other`, from then on shared by both. False, with
    // nothing changed, when `other` is not of this tag's kind or is this tag.
    virtual bool ShareElement(const ICC_CPP_Tag& other);
    // The element's identity: equal for tags that share one element. A tag that cannot
    // share is its own element.
    virtual const void* GetElement() const { return this; }
};

class RGB2LAB_EXPORT ICC_CPP_textInternal_Tag : public ICC_CPP_Tag {
public:
    ICC_CPP_textInternal_Tag() : m_text(std::make_shared<ICC_CPP_TextType>(0)) {}

    bool Write(unsigned char* dst, unsigned char* end) override;
    bool Read(const unsigned char* src, const unsigned char* end) override;
    void Clear() override;
    unsigned int GetEncodedSizeBytes() override;
    // Sets the text, and both the tag's and the element's size to the encoded size: the
    // 8-byte header, the text and its terminating NUL.
    bool SetText(const std::string& text);
    const std::string& GetText() const { return m_text->text; }
    bool ShareElement(const ICC_CPP_Tag& other) override;
    const void* GetElement() const override { return m_text.get(); }

private:
    std::shared_ptr<ICC_CPP_TextType> m_text;  // never null
};

class RGB2LAB_EXPORT ICC_CPP_cprt_Tag : public ICC_CPP_textInternal_Tag {
public:
    ICC_CPP_cprt_Tag();
};

// A tag whose element is a "curv" element.
class RGB2LAB_EXPORT ICC_CPP_curve_Tag : public ICC_CPP_Tag {
public:
    // The element, shared with the tags that share it. A null curve encodes to nothing and
    // cannot be written.
    std::shared_ptr<ICC_CPP_curveType> curve = std::make_shared<ICC_CPP_curveType>();

    bool Write(unsigned char* dst, unsigned char* end) override;
    bool Read(const unsigned char* src, const unsigned char* end) override;
    void Clear() override;
    unsigned int GetEncodedSizeBytes() override;
    bool ShareElement(const ICC_CPP_Tag& other) override;
    const void* GetElement() const override { return curve ? static_cast<const void*>(curve.get()) : this; }
};

// A tag whose element is an "mft2" element (B2A0, B2A1, gamt, ...). Its data element may be
// absent; such a tag cannot be written.
class RGB2LAB_EXPORT ICC_CPP_lut16_Tag : public ICC_CPP_Tag {
public:
    explicit ICC_CPP_lut16_Tag(unsigned int signature);

    // Reads an "mft2" element; other element types are refused.
    bool Write(unsigned char* dst, unsigned char* end) override;
    bool Read(const unsigned char* src, const unsigned char* end) override;
    void Clear() override;
    unsigned int GetEncodedSizeBytes() override;
    ICC_CPP_lut16Type* GetData() { return m_data.get(); }
    // Takes ownership of data (which may be null); a data element shared before is no longer
    // shared by this tag.
    void SetData(ICC_CPP_lut16Type* data) { m_data.reset(data); }
    bool ShareElement(const ICC_CPP_Tag& other) override;
    const void* GetElement() const override { return m_data ? static_cast<const void*>(m_data.get()) : this; }

private:
    std::shared_ptr<ICC_CPP_lut16Type> m_data;
};

// An A2B0, A2B1 or A2B2 tag: the tables the camera edit works on.
class RGB2LAB_EXPORT ICC_CPP_A2B_Tag : public ICC_CPP_lut16_Tag {
public:
    using ICC_CPP_lut16_Tag::ICC_CPP_lut16_Tag;
};

// One XYZ value of an "XYZ " element.
struct RGB2LAB_EXPORT ICC_CPP_XYZNumber {
    double X = 0.0, Y = 0.0, Z = 0.0;
};

// An "XYZ " element. Read takes every whole 12-byte value between the header and end.
class RGB2LAB_EXPORT ICC_CPP_XYZType : public ICC_ProfileObject {
public:
    std::vector<ICC_CPP_XYZNumber> values;  // as s15Fixed16 holds them: steps of 1/65536

    // Refuses an element without values.
    bool Write(unsigned char* dst, unsigned char* end) override;
    bool Read(const unsigned char* src, const unsigned char* end) override;
    void Clear() override;
    unsigned int GetEncodedSizeBytes() override;

private:
    bool ReadElement(const unsigned char* src, const unsigned char* end);
};

// A version 2 "desc" element: an ASCII text, an optional Unicode (UCS-2) text and an optional
// Macintosh ScriptCode text. Read takes the element as lying between src and end and refuses
// one whose counts run past end or whose ScriptCode count is above 67.
class RGB2LAB_EXPORT ICC_CPP_textDescriptionType : public ICC_ProfileObject {
public:
    // Longest ScriptCode text, with its terminator.
    static constexpr size_t k_scriptCodeBytes = 67;

    std::string ascii;                  // up to its first 0 byte
    unsigned int unicodeLanguage = 0;   // language code of the Unicode text
    std::vector<unsigned short> unicode;  // up to its first 0; empty: no Unicode text
    unsigned short scriptCode = 0;
    std::string scriptText;             // up to its first 0; at most 66 bytes are read or written

    // Sets the ASCII text to ICCSevenBitText(utf8) and, when that changed the text, the
    // Unicode text to the UTF-8 text's characters (U+FFFD for those beyond 16 bits and for
    // malformed bytes), language 0; otherwise no Unicode text. No ScriptCode text. False,
    // with nothing changed, when memory runs out.
    bool SetText(const std::string& utf8);

    bool Write(unsigned char* dst, unsigned char* end) override;
    bool Read(const unsigned char* src, const unsigned char* end) override;
    void Clear() override;
    unsigned int GetEncodedSizeBytes() override;

private:
    bool ReadElement(const unsigned char* src, const unsigned char* end);
};

// A tag whose element is an "XYZ " element (wtpt, bkpt, rXYZ, ...).
class RGB2LAB_EXPORT ICC_CPP_XYZ_Tag : public ICC_CPP_Tag {
public:
    explicit ICC_CPP_XYZ_Tag(unsigned int signature);

    // The element, shared with the tags that share it. Null encodes to nothing and cannot be
    // written.
    std::shared_ptr<ICC_CPP_XYZType> xyz = std::make_shared<ICC_CPP_XYZType>();

    bool Write(unsigned char* dst, unsigned char* end) override;
    bool Read(const unsigned char* src, const unsigned char* end) override;
    void Clear() override;
    unsigned int GetEncodedSizeBytes() override;
    bool ShareElement(const ICC_CPP_Tag& other) override;
    const void* GetElement() const override { return xyz ? static_cast<const void*>(xyz.get()) : this; }
};

// A tag whose element is a version 2 "desc" element (desc, dmnd, dmdd, ...).
class RGB2LAB_EXPORT ICC_CPP_textDescription_Tag : public ICC_CPP_Tag {
public:
    explicit ICC_CPP_textDescription_Tag(unsigned int signature);

    // The element, shared with the tags that share it. Null encodes to nothing and cannot be
    // written.
    std::shared_ptr<ICC_CPP_textDescriptionType> description = std::make_shared<ICC_CPP_textDescriptionType>();

    bool Write(unsigned char* dst, unsigned char* end) override;
    bool Read(const unsigned char* src, const unsigned char* end) override;
    void Clear() override;
    unsigned int GetEncodedSizeBytes() override;
    bool ShareElement(const ICC_CPP_Tag& other) override;
    const void* GetElement() const override {
        return description ? static_cast<const void*>(description.get()) : this;
    }
};

// Any other tag: its element's bytes, kept and written back unchanged. Read takes the tag's
// size, so SetHeader comes first.
class RGB2LAB_EXPORT ICC_CPP_opaque_Tag : public ICC_CPP_Tag {
public:
    // The element's bytes, shared with the tags that share them. Null encodes to nothing.
    std::shared_ptr<std::vector<unsigned char>> bytes = std::make_shared<std::vector<unsigned char>>();

    bool Write(unsigned char* dst, unsigned char* end) override;
    bool Read(const unsigned char* src, const unsigned char* end) override;
    void Clear() override;
    unsigned int GetEncodedSizeBytes() override;
    bool ShareElement(const ICC_CPP_Tag& other) override;
    const void* GetElement() const override { return bytes ? static_cast<const void*>(bytes.get()) : this; }
};

// The 128-byte profile header, in host order; the comments give each field's byte offset.
struct RGB2LAB_EXPORT ICC_CPP_ProfileHeader {
    unsigned int size = 0;             // 0: total length of the encoded profile
    unsigned int cmmType = 0;          // 4: preferred colour engine
    unsigned int version = 0;          // 8: major, minor.bugfix, 0, 0
    unsigned int deviceClass = 0;      // 12: "scnr", "mntr", "prtr", "spac", "abst", ...
    unsigned int colorSpace = 0;       // 16: data colour space
    unsigned int pcs = 0;              // 20: connection space, "XYZ " or "Lab "
    unsigned short dateTime[6] = {};   // 24: creation date and time
    unsigned int magic = 0;            // 36: "acsp"
    unsigned int platform = 0;         // 40
    unsigned int flags = 0;            // 44
    unsigned int manufacturer = 0;     // 48
    unsigned int model = 0;            // 52
    unsigned int attributes[2] = {};   // 56: 64-bit device attributes, high word first
    unsigned int renderingIntent = 0;  // 64
    int illuminant[3] = {};            // 68: connection space illuminant XYZ, s15Fixed16
    unsigned int creator = 0;          // 80: profile creator signature
    unsigned char profileID[16] = {};  // 84: all 0 means "not computed"
    unsigned char reserved[28] = {};   // 100
};

// One profile: its header and its tags in table order. The profile owns its tags.
class RGB2LAB_EXPORT ICC_CPP_Profile {
public:
    // An empty profile: "acsp" in the header, no tags, size 132.
    ICC_CPP_Profile();
    ~ICC_CPP_Profile();
    ICC_CPP_Profile(const ICC_CPP_Profile&) = delete;
    ICC_CPP_Profile& operator=(const ICC_CPP_Profile&) = delete;

    ICC_CPP_ProfileHeader header;

    // The first tag with the signature, or null.
    ICC_CPP_Tag* GetTag(unsigned int signature) const;
    // Appends a tag (the profile takes ownership) and lays the profile out; false for null.
    bool AddTag(ICC_CPP_Tag* tag);
    // Keeps, in their order, the tags whose signature is among the given ones and destroys
    // the others; false for a null array with a nonzero count.
    bool KeepTags(const unsigned int* signatures, unsigned int count);
    // Sorts the tags by signature (equal ones keep their order) and lays the profile out.
    bool SortTags();
    static bool CompareTags(const ICC_CPP_Tag* a, const ICC_CPP_Tag* b);
    // Gives every tag its offset and encoded size and sets the header's size; a tag that
    // shares the element of an earlier one gets that tag's offset and size.
    bool UpdateFileLenAndOffsets();
    const std::vector<ICC_CPP_Tag*>& GetTags() const { return m_tags; }

    // A whole profile (v2 or v4); the caller owns the result; null when it is malformed.
    static ICC_CPP_Profile* ReadFromMemory(const unsigned char* data, size_t size);
    static ICC_CPP_Profile* ReadFile(const char* path);
    // Encodes with the layout rule, the header's size set and its profile ID zeroed.
    bool WriteToMemory(std::vector<unsigned char>& out) const;
    // Replaces the file atomically: a failed write leaves an existing file as it was.
    bool WriteFile(const char* path) const;

private:
    std::vector<ICC_CPP_Tag*> m_tags;
};

// Keeps only the colour tags (description, adaptation, gamut, white and black point, the
// A2B and B2A tables), adds this system's copyright tag, sets the creator "ORLK" and sorts
// the tags. On a matrix/TRC profile it succeeds all the same and leaves a profile without
// its colorant and curve tags: callers rely on the fixed set, so it stays.
RGB2LAB_EXPORT bool ICCXRiteToOrlisk(ICC_CPP_Profile* profile);
// Overwrites values 0 to 2 of every row of the A2B0, A2B1 and A2B2 row tables: the first
// half of the rows (rounded down) with one fixed triple, the rest with another. False when a
// tag or its data element is missing or a row has fewer than 3 values; the tags before it
// stay edited (A2B0 and A2B1 are edited before a missing A2B2 is found), and nothing is
// undone. Tags sharing one table are edited through it once per tag, with the same result.
RGB2LAB_EXPORT bool ReplaceCanonCameraMatrixWithIdentity(ICC_CPP_Profile* profile);

// The copyright text that ICCXRiteToOrlisk stores.
RGB2LAB_EXPORT extern const char* const k_orliskCopyright;

// ---- End of the ICC profile objects ---------------------------------------------------

// ---------------------------------------------------------------------------------------
// Colour differences and the measured-Lab-to-PCS transform.
//
// Single-precision functions on Lab values held in Vec3 as (L, a, b):
//   ComputeDeltaE        CIE 1976: sqrt(dL² + da² + db²)
//   ComputeDeltaECMC21   CMC with lightness and chroma weights of 1 (l:c = 1:1); the
//                        weighting functions SL, SC and SH come from the reference
//   ComputeDeltaE2000    CIEDE2000 with kL = kC = kH = 1, computed in double precision
//   ComputeTransformFromMeasuredLabToPCSLab
//                        the 4x4 transform, applied to (L, a, b, 1), that sends a measured
//                        black point to (0, 0, 0) and a measured white point to (100, 0, 0)

RGB2LAB_EXPORT float ComputeDeltaE(const Vec3& first, const Vec3& second);
RGB2LAB_EXPORT float ComputeDeltaECMC21(const Vec3& reference, const Vec3& sample);
// Symmetric in its arguments. Two hues exactly 180 degrees apart take the mean hue
// (h1 + h2)/2 without the 360-degree wrap.
RGB2LAB_EXPORT float ComputeDeltaE2000(const Vec3& first, const Vec3& second);
// Translates the black to the origin, rotates the black-to-white direction onto +L and scales
// L alone by 100 over the black-to-white distance; distances across the axis are unchanged.
// Degenerate points give a finite transform: a direction along -L turns by 180 degrees about
// the b axis, and a white within 0.00001 of the black gives the translation alone.
RGB2LAB_EXPORT Matrix4 ComputeTransformFromMeasuredLabToPCSLab(const Vec3& measuredBlack,
                                                               const Vec3& measuredWhite);
