// The XML reader against what control points send, and against what it must refuse.
#include <gtest/gtest.h>

#include <string>

#include "dlna/soap.h"
#include "dlna/upnp_error.h"
#include "dlna/xml.h"

namespace tovi::dlna {
namespace {

// "{ns}name(attr=value)'text'[children]", the parts present only where set.
std::string Dump(const XmlElement& e) {
  std::string out = e.ns.empty() ? e.name : "{" + e.ns + "}" + e.name;
  for (const auto& [n, v] : e.attributes) out += "(" + n + "=" + v + ")";
  if (!e.text.empty()) out += "'" + e.text + "'";
  if (!e.children.empty()) {
    out += "[";
    for (const XmlElement& c : e.children) out += Dump(c);
    out += "]";
  }
  return out;
}

TEST(XmlReader, TakesWhatControlPointsWrite) {
  struct Case {
    std::string xml;
    const char* tree;
  };
  const Case cases[] = {
      // Any prefix, bound where it is declared or above; the default namespace; undeclared
      // prefixes read as no namespace.
      {"<s:E xmlns:s=\"urn:e\"><s:B><u:A xmlns:u=\"urn:u\"/></s:B></s:E>",
       "{urn:e}E[{urn:e}B[{urn:u}A]]"},
      {"<SOAP-ENV:E xmlns:SOAP-ENV='urn:e'><m:A xmlns:m='urn:a' xmlns='urn:d'><x>1</x></m:A>"
       "</SOAP-ENV:E>",
       "{urn:e}E[{urn:a}A[{urn:d}x'1']]"},
      {"<a xmlns=\"urn:d\"><b xmlns=\"\"/><p:c/></a>", "{urn:d}a[bc]"},
      {"<a xmlns:p=\"urn:1\"><p:b xmlns:p=\"urn:2\"/><p:c/></a>", "a[{urn:2}b{urn:1}c]"},
      // Entities, named and numeric, to UTF-8; in attributes too.
      {"<a>&lt;&gt;&amp;&quot;&apos;&#65;&#x41;&#x416;&#1046;&#x1F600;</a>",
       "a'<>&\"'AA\xD0\x96\xD0\x96\xF0\x9F\x98\x80'"},
      {"<a v=\"&amp;1&#x20;2\" w='\"'/>", "a(v=&1 2)(w=\")"},
      // Whitespace between markup, inside tags, line ends in attribute values.
      {"\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n  <a  x = \"1\n2\"\t>\n <b >v</b >\n</a >\n",
       "a(x=1 2)'\n \n'[b'v']"},
      // CDATA kept as it is, comments and processing instructions skipped.
      {"<!-- c --><a><!-- <b> --><![CDATA[<b>&amp;]]>x<?pi data?></a><!-- after -->",
       "a'<b>&amp;x'"},
      // Bytes of other scripts in names and text.
      {"<\xD0\xB8\xD0\xBC\xD1\x8F>\xD0\x9A\xD0\xB8\xD0\xBD\xD0\xBE</\xD0\xB8\xD0\xBC\xD1\x8F>",
       "\xD0\xB8\xD0\xBC\xD1\x8F'\xD0\x9A\xD0\xB8\xD0\xBD\xD0\xBE'"},
  };
  for (const Case& c : cases) {
    try {
      EXPECT_EQ(Dump(ParseXml(c.xml)), c.tree) << c.xml;
    } catch (const XmlError& e) {
      ADD_FAILURE() << c.xml << ": " << e.what();
    }
  }
}

TEST(XmlReader, RefusesWhatIsNotXmlWithinItsBounds) {
  XmlLimits small;
  small.maxBytes = 200;
  small.maxDepth = 4;
  small.maxElements = 5;
  const std::string cases[] = {
      "",
      "   ",
      "text",
      "<a>",
      "<a></b>",
      "<a><b></a></b>",
      "<a/><b/>",
      "<a/>text",
      "<a x=1/>",
      "<a x=\"1/>",
      "<a x=\"<\"/>",
      "<a x=\"1\"y=\"2\"/>",
      "<a x=\"1\" x=\"2\"/>",
      "<a>&nbsp;</a>",
      "<a>&amp</a>",
      "<a>& b</a>",
      "<a>&#;</a>",
      "<a>&#x;</a>",
      "<a>&#0;</a>",
      "<a>&#xD800;</a>",
      "<a>&#x110000;</a>",
      "<a>&#99999999999999;</a>",
      "<a>&#12a;</a>",
      std::string("<a>\x01</a>"),
      std::string("<a>\0</a>", 8),
      // U+FFFE and U+FFFF, which no XML may carry, raw as by reference.
      "<a>\xEF\xBF\xBF</a>",
      "<a v=\"b\xEF\xBF\xBE\"/>",
      "<a><![CDATA[\xEF\xBF\xBF]]></a>",
      "<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>",
      "<a><!DOCTYPE a></a>",
      "<a><!-- open</a>",
      "<a><![CDATA[open</a>",
      "<a><?open</a>",
      "<1a/>",
      "< a/>",
      "<a></ a>",
      // The bounds: size, depth, count of elements.
      "<a>" + std::string(200, 'x') + "</a>",
      "<a><b><c><d><e/></d></c></b></a>",
      "<a><b/><b/><b/><b/><b/></a>",
  };
  for (const std::string& c : cases) {
    EXPECT_THROW(ParseXml(c, small), XmlError) << c;
  }
  // And what the bounds still let through.
  EXPECT_NO_THROW(ParseXml("<a>" + std::string(193, 'x') + "</a>", small));
  EXPECT_NO_THROW(ParseXml("<a><b><c><d/></c></b></a>", small));
}

// Thousands of attributes fit in an envelope's size; each would be checked against the others.
TEST(XmlReader, RefusesAStartTagOfThousandsOfAttributes) {
  const auto tagOf = [](int attributes) {
    std::string tag = "<a";
    for (int i = 0; i < attributes; ++i) tag += " a" + std::to_string(i) + "=''";
    return tag + "/>";
  };
  const std::string thousands = tagOf(6500);
  ASSERT_LE(thousands.size(), XmlLimits{}.maxBytes);
  EXPECT_THROW(ParseXml(thousands), XmlError);
  EXPECT_EQ(ParseXml(tagOf(20)).attributes.size(), 20u);
}

TEST(XmlReader, EscapedTextReadsBackAsItWas) {
  struct Case {
    std::string text;
    std::string readBack;
  };
  const Case cases[] = {
      {"a&b <c> \"d\" 'e'", "a&b <c> \"d\" 'e'"},
      {"&amp; &lt; ]]>", "&amp; &lt; ]]>"},
      {"\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC \xE2\x80\x94", "\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC \xE2\x80\x94"},
      // Line ends and tabs survive an attribute value's normalisation.
      {"a\r\n\tb", "a\r\n\tb"},
      // Bytes XML cannot carry (a file name may hold them) do not spoil the document.
      {std::string("a\x01\x1F\0b", 5), "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" "b"},
  };
  for (const Case& c : cases) {
    const std::string escaped = XmlEscape(c.text);
    try {
      EXPECT_EQ(ParseXml("<a>" + escaped + "</a>").text, c.readBack) << escaped;
      EXPECT_EQ(ParseXml("<a v=\"" + escaped + "\"/>").attributes.at(0).second, c.readBack)
          << escaped;
    } catch (const XmlError& e) {
      ADD_FAILURE() << escaped << ": " << e.what();
    }
  }
}

TEST(SoapReader, TakesTheActionAndRefusesWhatIsNoEnvelope) {
  const SoapAction a = ParseSoapAction(
      "<?xml version=\"1.0\"?>\n<SOAP-ENV:Envelope "
      "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\">\n <SOAP-ENV:Body>\n"
      "  <m:Browse xmlns:m=\"urn:schemas-upnp-org:service:ContentDirectory:1\">\n"
      "   <ObjectID>\n 0 \n</ObjectID><Filter>dc:title,res@size</Filter><Empty/>\n"
      "  </m:Browse>\n </SOAP-ENV:Body>\n</SOAP-ENV:Envelope>");
  EXPECT_EQ(a.serviceType, "urn:schemas-upnp-org:service:ContentDirectory:1");
  EXPECT_EQ(a.name, "Browse");
  EXPECT_EQ(a.arguments, (SoapArguments{{"ObjectID", "0"}, {"Filter", "dc:title,res@size"},
                                        {"Empty", ""}}));
  const std::string refused[] = {
      "",
      "<s:Envelope xmlns:s=\"e\"><s:Body><u:A></s:Body></s:Envelope>",
      "<s:Envelope xmlns:s=\"e\"><s:Body/></s:Envelope>",
      "<s:Envelope xmlns:s=\"e\"><s:Header/></s:Envelope>",
      "<s:Body xmlns:s=\"e\"><u:A/></s:Body>",
      "<s:Envelope xmlns:s=\"e\"><s:Body><u:A/></s:Body></s:Envelope>" +
          std::string(kMaxSoapBodyBytes, ' '),
  };
  for (const std::string& body : refused) {
    try {
      ParseSoapAction(body);
      ADD_FAILURE() << "taken: " << body.substr(0, 80);
    } catch (const UpnpError& e) {
      EXPECT_EQ(e.Code(), 401) << body.substr(0, 80);
    }
  }
}

}  // namespace
}  // namespace tovi::dlna
