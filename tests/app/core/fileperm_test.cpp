// Access rights as the properties dialogs read and write them: access
// strings to bits and back, the octal text, and local attribute letters.
#include "core/fileperm.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string Str(const KV_String& s)
{
    return std::string(s.data(), s.length());
}

TEST(FilePerm, AccessStringsReadAndBuildBack)
{
    struct Case
    {
        const char* accf;
        bool readable;
        uint32_t bits;
        const char* octal;
        const char* rebuilt; // from the bits
    };
    const Case cases[] = {
        // Set UID with owner execute, group r-x, Sticky without others
        // execute.
        {"-rwsr-x--T", true, 05750, "5750", "-rwsr-x--T"},
        {"drwxr-xr-x", true, 0755, "755", "drwxr-xr-x"},
        // Capital S: the special bit without execute, per triplet.
        {"-rwSr-Sr-t", true, 07645, "7645", "-rwSr-Sr-t"},
        {"-r-xr-s---", true, 02550, "2550", "-r-xr-s---"},
        {"----------", true, 0, "0", "----------"},
        // A lower-case "s" or "t" is execute as well: reading it as "no
        // execute" would strip x and s from a setuid program on OK.
        {"-rwsr-xr-x", true, 04755, "4755", "-rwsr-xr-x"},
        {"drwxrwxrwt", true, 01777, "1777", "drwxrwxrwt"},
        {"lrwxrwxrwx", true, 0777, "777", "lrwxrwxrwx"},
        // Not ten characters: nothing is readable.
        {"rwxr-xr-x", false, 0, "0", ""},
        {"", false, 0, "0", ""},
        {"RA", false, 0, "0", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.accf);
        uint32_t bits = 12345;
        EXPECT_EQ(PermBitsFromAccess(KV_String(c.accf), &bits), c.readable);
        EXPECT_EQ(bits, c.bits);
        EXPECT_EQ(FormatPermOctal(bits).toStdString(), c.octal);
        EXPECT_EQ(Str(AccessFromPermBits(KV_String(c.accf), bits)), c.rebuilt);
    }
}

TEST(FilePerm, OctalTextIsReadLikeAPerson)
{
    struct Case
    {
        const char* text;
        uint32_t mask;
        uint32_t bits;
    };
    const Case cases[] = {
        {"644", 07777, 0644},
        {"  5750", 07777, 05750},
        // The SFTP dialog has no special boxes.
        {"5750", kPermRwx, 0750},
        // Reading stops at the first non-octal character.
        {"78", 07777, 07},
        {"64x", 07777, 064},
        {"", 07777, 0},
        {"abc", 07777, 0},
        {"-1", 07777, 0},
        // An overlong text cannot wrap into bits that were not typed last.
        {"77777777777777777777", 07777, 07777},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParsePermOctal(QString::fromLatin1(c.text), c.mask), c.bits);
    }
}

TEST(FilePerm, AttributeLettersInTheirOrder)
{
    EXPECT_EQ(AttrFromLetters(KV_String("RA")), kAttrReadOnly | kAttrArchive);
    EXPECT_EQ(AttrFromLetters(KV_String("sh")), kAttrSystem | kAttrHidden);
    EXPECT_EQ(AttrFromLetters(KV_String("")), 0u);
    EXPECT_EQ(Str(LettersFromAttr(kAttrArchive | kAttrReadOnly | kAttrSystem | kAttrHidden)),
              "RHSA");
    EXPECT_EQ(Str(LettersFromAttr(AttrFromLetters(KV_String("RA")) & ~kAttrReadOnly)), "A");
    EXPECT_EQ(Str(LettersFromAttr(0)), "");
}

} // namespace
