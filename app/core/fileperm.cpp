#include "core/fileperm.h"

namespace {

// The three triplets of an access string: where they start, and their read,
// write, execute and special bits with the execute letters that mean
// "execute and special".
struct Triplet
{
    uint32_t start;
    uint32_t r, w, x, special;
    char both; // execute and special set
    char only; // special set, execute clear
};

constexpr Triplet kTriplets[] = {
    {1, kPermOwnerR, kPermOwnerW, kPermOwnerX, kPermSetUid, 's', 'S'},
    {4, kPermGroupR, kPermGroupW, kPermGroupX, kPermSetGid, 's', 'S'},
    {7, kPermOtherR, kPermOtherW, kPermOtherX, kPermSticky, 't', 'T'},
};

constexpr uint32_t kAccessLength = 10;

} // namespace

bool PermBitsFromAccess(const KV_String& accf, uint32_t* bits)
{
    *bits = 0;
    if (accf.length() != kAccessLength) {
        return false;
    }
    for (const Triplet& t : kTriplets) {
        const KV_String part = accf.part(t.start, t.start + 3);
        const KV_String up = part.upper();
        if (up.contains('R')) {
            *bits |= t.r;
        }
        if (up.contains('W')) {
            *bits |= t.w;
        }
        if (up.contains('X') || part.contains(t.both)) {
            *bits |= t.x;
        }
        if (up.contains(t.only)) {
            *bits |= t.special;
        }
    }
    return true;
}

KV_String AccessFromPermBits(const KV_String& old_accf, uint32_t bits)
{
    if (old_accf.length() != kAccessLength) {
        return KV_String();
    }
    char out[kAccessLength + 1];
    out[0] = old_accf.data()[0];
    for (const Triplet& t : kTriplets) {
        char* p = out + t.start;
        p[0] = (bits & t.r) != 0 ? 'r' : '-';
        p[1] = (bits & t.w) != 0 ? 'w' : '-';
        const bool x = (bits & t.x) != 0;
        const bool s = (bits & t.special) != 0;
        p[2] = x ? (s ? t.both : 'x') : (s ? t.only : '-');
    }
    out[kAccessLength] = '\0';
    return KV_String(out);
}

QString FormatPermOctal(uint32_t bits)
{
    return QString::number(bits, 8);
}

uint32_t ParsePermOctal(const QString& text, uint32_t mask)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) {
        ++i;
    }
    uint32_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'7'; ++i) {
        // More digits than the mask can hold change nothing that is kept.
        value = ((value << 3) | static_cast<uint32_t>(text[i].unicode() - u'0')) & 07777777;
    }
    return value & mask;
}

uint32_t AttrFromLetters(const KV_String& letters)
{
    const KV_String up = letters.upper();
    uint32_t attrs = 0;
    if (up.contains('R')) {
        attrs |= kAttrReadOnly;
    }
    if (up.contains('H')) {
        attrs |= kAttrHidden;
    }
    if (up.contains('S')) {
        attrs |= kAttrSystem;
    }
    if (up.contains('A')) {
        attrs |= kAttrArchive;
    }
    return attrs;
}

KV_String LettersFromAttr(uint32_t attrs)
{
    KV_String out;
    if ((attrs & kAttrReadOnly) != 0) {
        out += "R";
    }
    if ((attrs & kAttrHidden) != 0) {
        out += "H";
    }
    if ((attrs & kAttrSystem) != 0) {
        out += "S";
    }
    if ((attrs & kAttrArchive) != 0) {
        out += "A";
    }
    return out;
}
