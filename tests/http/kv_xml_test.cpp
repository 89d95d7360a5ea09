#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include <xercesc/dom/DOM.hpp>

#include "foundation/kv_storage.h"
#include "http/kv_xml.h"
#include "support/kv_testdir.h"

XERCES_CPP_NAMESPACE_USE

namespace {

class KV_Xml : public kvtest::TempDirTest
{
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(KV_XmlHelperImpl::init()); }
    static void TearDownTestSuite() { KV_XmlHelperImpl::term(); }

    static std::string str(const KV_Stream& s)
    {
        return std::string(reinterpret_cast<const char*>(static_cast<const unsigned char*>(s)),
                           s.length());
    }
    static DOMDocument* parse(const std::string& text)
    {
        return KV_XmlHelperImpl::parse_doc(reinterpret_cast<const uint8_t*>(text.data()),
                                           static_cast<uint32_t>(text.size()));
    }
    static std::string root_text(DOMDocument* doc)
    {
        return KV_XmlHelperImpl::conv_str(KV_XmlHelperImpl::get_root(doc)->getTextContent()).data();
    }
};

TEST_F(KV_Xml, BuildsAndWritesThePropfindBody)
{
    DOMDocument* doc = KV_XmlHelperImpl::new_doc("DAV:", "range", "propfind");
    ASSERT_NE(doc, nullptr);
    DOMElement* prop = KV_XmlHelperImpl::new_element(doc, "prop");
    ASSERT_NE(prop, nullptr);
    for (const char* name : {"getlastmodified", "getcontentlength", "resourcetype"})
        prop->appendChild(KV_XmlHelperImpl::new_element(doc, name));
    KV_XmlHelperImpl::get_root(doc)->appendChild(prop);
    KV_Stream out(64);
    ASSERT_TRUE(KV_XmlHelperImpl::serialize(doc, out));
    doc->release();
    const std::string text = str(out);
    EXPECT_NE(text.find("encoding=\"UTF-8\""), std::string::npos) << text;
    EXPECT_NE(text.find("<propfind xmlns=\"DAV:\">"), std::string::npos) << text;
    const auto a = text.find("<getlastmodified/>");
    const auto b = text.find("<getcontentlength/>");
    const auto c = text.find("<resourcetype/>");
    ASSERT_NE(a, std::string::npos) << text;
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    // The children stay in the root's namespace.
    EXPECT_EQ(text.find("xmlns=\"\""), std::string::npos) << text;
    // Pretty-printed: one element per line.
    EXPECT_NE(text.find(">\n"), std::string::npos);
}

TEST_F(KV_Xml, NonAsciiAndLongTextRoundTrip)
{
    // Each character's low byte alone would garble these; a fixed buffer
    // would cut the long one.
    const std::string names[] = {"caf\xC3\xA9", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt",
                                 "emoji \xF0\x9F\x98\x80", std::string(5000, 'x') + "\xC3\xA9"};
    for (const std::string& name : names) {
        SCOPED_TRACE(name.substr(0, 40));
        DOMDocument* doc = KV_XmlHelperImpl::new_doc("DAV:", "Core", "a");
        ASSERT_NE(doc, nullptr);
        KV_XmlHelperImpl::get_root(doc)->appendChild(KV_XmlHelperImpl::new_node(doc, name.c_str()));
        KV_Stream out(64);
        ASSERT_TRUE(KV_XmlHelperImpl::serialize(doc, out));
        doc->release();
        EXPECT_NE(str(out).find(name), std::string::npos);
        DOMDocument* back = parse(str(out));
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(root_text(back), name);
        back->release();
    }
    EXPECT_TRUE(KV_XmlHelperImpl::conv_str(nullptr).empty());
}

TEST_F(KV_Xml, RefusesBodiesThatAreNotWellFormed)
{
    EXPECT_EQ(KV_XmlHelperImpl::parse_doc(nullptr, 10), nullptr);
    for (const char* text : {"", "<a>", "<a></b>", "not xml", "<a>&undefined;</a>",
                             "<?xml version=\"1.0\"?><a/><b/>"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parse(text), nullptr);
    }
    DOMDocument* doc = parse("<a>x &amp; y &lt;&#233;&gt;</a>");
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(root_text(doc), "x & y <\xC3\xA9>");
    doc->release();
}

TEST_F(KV_Xml, NeverReadsExternalEntitiesOrDtds)
{
    const std::string secret = dir / "secret.txt";
    std::ofstream(secret) << "TOPSECRET";
    const std::string url = "file://" + secret;
    const std::string bodies[] = {
        "<!DOCTYPE a [<!ENTITY x SYSTEM \"" + url + "\">]><a>&x;</a>",
        "<!DOCTYPE a SYSTEM \"" + url + "\"><a>plain</a>",
        "<!DOCTYPE a [<!ENTITY % p SYSTEM \"" + url + "\"> %p;]><a>plain</a>",
        "<!DOCTYPE a [<!ENTITY x SYSTEM \"http://127.0.0.1:1/x\">]><a>&x;</a>",
    };
    for (const std::string& body : bodies) {
        SCOPED_TRACE(body);
        DOMDocument* doc = parse(body);
        if (doc != nullptr) {
            EXPECT_EQ(root_text(doc).find("TOPSECRET"), std::string::npos);
            doc->release();
        }
    }
}

TEST_F(KV_Xml, BoundsEntityExpansion)
{
    // The "billion laughs": ten levels of ten references each.
    std::string body = "<!DOCTYPE a [<!ENTITY l0 \"ha\">";
    for (int i = 1; i <= 10; ++i)
        body += "<!ENTITY l" + std::to_string(i) + " \"" + [&] {
            std::string r;
            for (int j = 0; j < 10; ++j)
                r += "&l" + std::to_string(i - 1) + ";";
            return r;
        }() + "\">";
    body += "]><a>&l10;</a>";
    EXPECT_EQ(parse(body), nullptr);

    // A few internal entities are fine.
    DOMDocument* doc = parse("<!DOCTYPE a [<!ENTITY n \"name\">]><a>&n;-&n;</a>");
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(root_text(doc), "name-name");
    doc->release();
}

TEST_F(KV_Xml, ParsesDeepNestingWithoutTrouble)
{
    std::string body;
    for (int i = 0; i < 20000; ++i)
        body += "<d>";
    body += "x";
    for (int i = 0; i < 20000; ++i)
        body += "</d>";
    DOMDocument* doc = parse(body);
    ASSERT_NE(doc, nullptr);
    doc->release();
}

} // namespace
