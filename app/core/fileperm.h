#ifndef KIVREL_CORE_FILEPERM_H
#define KIVREL_CORE_FILEPERM_H

// Access rights of one directory entry as the properties dialogs edit them:
// the ten-character Unix access string that servers list ("-rwsr-x--T") and
// its permission bits, and the attribute letters of local files ("RHSA").
// Pure functions, any thread.

#include "foundation/kv_string.h"

#include <QString>
#include <cstdint>

// Permission bits, as chmod knows them.
inline constexpr uint32_t kPermOwnerR = 0400;
inline constexpr uint32_t kPermOwnerW = 0200;
inline constexpr uint32_t kPermOwnerX = 0100;
inline constexpr uint32_t kPermGroupR = 040;
inline constexpr uint32_t kPermGroupW = 020;
inline constexpr uint32_t kPermGroupX = 010;
inline constexpr uint32_t kPermOtherR = 04;
inline constexpr uint32_t kPermOtherW = 02;
inline constexpr uint32_t kPermOtherX = 01;
inline constexpr uint32_t kPermSetUid = 04000;
inline constexpr uint32_t kPermSetGid = 02000;
inline constexpr uint32_t kPermSticky = 01000;
// The nine read, write and execute bits.
inline constexpr uint32_t kPermRwx = 0777;

// The bits an access string shows, special bits included: in an execute
// place "s" is execute with Set UID (owner) or Set GID (group), "S" the
// special bit without execute, and "t"/"T" the same for Sticky (others).
// False, with bits 0, unless the string has exactly ten characters (a type
// character and three triplets): a listing without rights says nothing
// about them.
bool PermBitsFromAccess(const KV_String& accf, uint32_t* bits);

// The access string for `bits`, keeping the type character of `old_accf`;
// empty when `old_accf` is not ten characters long. The execute places show
// s/S (owner, group) and t/T (others) for the special bits, else x or -.
KV_String AccessFromPermBits(const KV_String& old_accf, uint32_t bits);

// The octal text of the bits ("%o").
QString FormatPermOctal(uint32_t bits);
// The leading octal digits of `text` (blanks before them skipped) as bits,
// masked to `mask`; a text without any counts as 0.
uint32_t ParsePermOctal(const QString& text, uint32_t mask);

// Attribute bits of local files, one per letter.
inline constexpr uint32_t kAttrReadOnly = 1; // "R"
inline constexpr uint32_t kAttrHidden = 2;   // "H"
inline constexpr uint32_t kAttrSystem = 4;   // "S"
inline constexpr uint32_t kAttrArchive = 8;  // "A"

// The attributes whose letters the text holds, in any case.
uint32_t AttrFromLetters(const KV_String& letters);
// The letters of the attributes in the order R, H, S, A.
KV_String LettersFromAttr(uint32_t attrs);

#endif
