#include "platform/core/PropertyList.h"

#include <gtest/gtest.h>

#include <climits>

using namespace PPx;

namespace {

PropertyList Sample() {
    PlistDict inner;
    inner.Set("Name", PropertyList::String("docs/a.txt"));
    inner.Set("Size", PropertyList::Integer(int64_t(5) << 33));
    inner.Set("Date", PropertyList::Date(PlistDate{1234567890}));

    PlistArray nested{PropertyList::Array(
                          {PropertyList::Array({PropertyList::Integer(1)}), PropertyList::Array()}),
                      PropertyList::Dictionary(inner), PropertyList::Dictionary()};

    PlistData bytes;
    for (int i = 0; i < 200; ++i)
        bytes.push_back(static_cast<uint8_t>(i * 7));

    PlistDict root;
    root.Set("zeta", PropertyList::String("a & b < c > d ]]> e"));
    root.Set("Nested", PropertyList::Array(nested));
    root.Set("Big", PropertyList::Integer(INT64_MAX));
    root.Set("Small", PropertyList::Integer(INT64_MIN));
    root.Set("Unicode", PropertyList::String("Gr\xC3\xBC\xC3\x9F"
                                             "e \xE6\x97\xA5\xE6\x9C\xAC "
                                             "\xF0\x9F\x93\x81"));
    root.Set("Old", PropertyList::Date(PlistDate{-2208988800})); // 1900-01-01
    root.Set("Data", PropertyList::Data(bytes));
    root.Set("Empty data", PropertyList::Data({}));
    root.Set("Tiny data", PropertyList::Data({0xFF}));
    root.Set("Empty string", PropertyList::String(""));
    root.Set("Yes", PropertyList::Boolean(true));
    root.Set("No", PropertyList::Boolean(false));
    root.Set("Real", PropertyList::Real(0.1));
    root.Set("<key&>", PropertyList::Integer(-1));
    return PropertyList::Dictionary(root);
}

} // namespace

TEST(PropertyList, RoundTripsByteIdentically) {
    PropertyList original = Sample();
    std::string first = WritePropertyList(original);
    PropertyList back = ReadPropertyList(first);
    EXPECT_EQ(WritePropertyList(back), first);

    const PlistDict& d = *back.AsDictionary();
    EXPECT_EQ(*d.Find("zeta")->AsString(), "a & b < c > d ]]> e");
    EXPECT_EQ(*d.Find("Big")->AsInteger(), INT64_MAX);
    EXPECT_EQ(*d.Find("Small")->AsInteger(), INT64_MIN);
    EXPECT_EQ(*d.Find("Unicode"), *original.AsDictionary()->Find("Unicode"));
    EXPECT_EQ(d.Find("Old")->AsDate()->seconds, -2208988800);
    EXPECT_EQ(*d.Find("Data"), *original.AsDictionary()->Find("Data"));
    EXPECT_TRUE(d.Find("Empty data")->AsData()->empty());
    EXPECT_EQ(*d.Find("Real")->AsReal(), 0.1);
    EXPECT_EQ(*d.Find("Nested"), *original.AsDictionary()->Find("Nested"));
    EXPECT_EQ(*d.Find("<key&>")->AsInteger(), -1);
    EXPECT_EQ(d.Find("missing"), nullptr);

    // Escaped, never raw, and no way to end a CDATA section early.
    EXPECT_NE(first.find("<string>a &amp; b &lt; c &gt; d ]]&gt; e</string>"), std::string::npos);
    EXPECT_NE(first.find("<key>&lt;key&amp;&gt;</key>"), std::string::npos);
    EXPECT_NE(first.find("<date>1900-01-01T00:00:00Z</date>"), std::string::npos);
    EXPECT_NE(first.find("<date>2009-02-13T23:31:30Z</date>"), std::string::npos);
}

TEST(PropertyList, WritesTheStandardLayout) {
    PlistDict d;
    d.Set("b", PropertyList::Array({PropertyList::Integer(1), PropertyList::Array()}));
    d.Set("a", PropertyList::Data({1, 2, 3, 4}));
    d.Set("c", PropertyList::Dictionary());
    EXPECT_EQ(WritePropertyList(PropertyList::Dictionary(d)),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
              "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
              "<plist version=\"1.0\">\n"
              "<dict>\n"
              "\t<key>a</key>\n"
              "\t<data>\n"
              "\tAQIDBA==\n"
              "\t</data>\n"
              "\t<key>b</key>\n"
              "\t<array>\n"
              "\t\t<integer>1</integer>\n"
              "\t\t<array/>\n"
              "\t</array>\n"
              "\t<key>c</key>\n"
              "\t<dict/>\n"
              "</dict>\n"
              "</plist>\n");
    // Stored order on request.
    std::string asStored = WritePropertyList(PropertyList::Dictionary(d), PlistKeyOrder::AsStored);
    EXPECT_LT(asStored.find("<key>b</key>"), asStored.find("<key>a</key>"));

    // Long data wraps at 76 characters per line.
    std::string text = WritePropertyList(PropertyList::Data(PlistData(100, 0)));
    EXPECT_NE(text.find("<data>\n" + std::string(76, 'A') + "\n" + std::string(58, 'A') +
                        "==\n</data>\n"),
              std::string::npos);
}

// As another program writes it: other spacing, comments, CDATA, entities,
// character references, empty elements, attributes, trailing NUL padding.
TEST(PropertyList, ReadsTheStandardFormatFromOtherWriters) {
    std::string text =
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\r\n"
        "<!-- written by hand -->\r\n"
        "<plist version=\"1.0\">\r\n"
        "  <dict>\r\n"
        "    <key>Local</key>\r\n"
        "    <array>\r\n"
        "      <dict>\r\n"
        "        <key>Name</key><string>R&amp;D/&#x65E5;&#26412; <![CDATA[<x>&]]></string>\r\n"
        "        <key>Size</key><integer> 4294967296 </integer>\r\n"
        "        <key>Date</key><date>2024-02-29T12:34:56Z</date>\r\n"
        "      </dict>\r\n"
        "    </array>\r\n"
        "    <key>Remote</key><array></array>\r\n"
        "    <key>Empty</key><string/>\r\n"
        "    <key>Quote</key><string>&quot;&apos;</string>\r\n"
        "    <key>Flag</key><true/>\r\n"
        "    <key>Off</key><false></false>\r\n"
        "    <key>Neg</key><integer>-42</integer>\r\n"
        "    <key>Hex</key><integer>0x1F</integer>\r\n"
        "    <key>Real</key><real>-1.5e3</real>\r\n"
        "    <key>Inf</key><real>+infinity</real>\r\n"
        "    <key>Bytes</key><data>\r\n      AAEC\r\n      /w==\r\n    </data>\r\n"
        "  </dict>\r\n"
        "</plist>\r\n";
    text.append(7, '\0');
    PropertyList root = ReadPropertyList(text);
    const PlistDict& d = *root.AsDictionary();
    const PlistArray& local = *d.Find("Local")->AsArray();
    ASSERT_EQ(local.size(), 1u);
    const PlistDict& entry = *local[0].AsDictionary();
    EXPECT_EQ(*entry.Find("Name")->AsString(), "R&D/\xE6\x97\xA5\xE6\x9C\xAC <x>&");
    EXPECT_EQ(*entry.Find("Size")->AsInteger(), int64_t(1) << 32);
    EXPECT_EQ(WritePropertyList(*entry.Find("Date")).find("2024-02-29T12:34:56Z") !=
                  std::string::npos,
              true);
    EXPECT_TRUE(d.Find("Remote")->AsArray()->empty());
    EXPECT_EQ(*d.Find("Empty")->AsString(), "");
    EXPECT_EQ(*d.Find("Quote")->AsString(), "\"'");
    EXPECT_TRUE(*d.Find("Flag")->AsBoolean());
    EXPECT_FALSE(*d.Find("Off")->AsBoolean());
    EXPECT_EQ(*d.Find("Neg")->AsInteger(), -42);
    EXPECT_EQ(*d.Find("Hex")->AsInteger(), 31);
    EXPECT_EQ(*d.Find("Real")->AsReal(), -1500.0);
    EXPECT_GT(*d.Find("Inf")->AsReal(), 1e308);
    EXPECT_EQ(*d.Find("Bytes")->AsData(), (PlistData{0, 1, 2, 0xFF}));
    // Keys stay in file order.
    EXPECT_EQ(d.Entries()[0].first, "Local");
    EXPECT_EQ(d.Entries()[1].first, "Remote");
}

TEST(PropertyList, RefusesMalformedInput) {
    const char* bad[] = {
        "",
        "   ",
        "<plist version=\"1.0\"></plist>",
        "<plist><string>x</plist>",
        "<plist><string>x</string>",
        "<plist><dict><key>a</key></dict></plist>",
        "<plist><dict><string>a</string><string>b</string></dict></plist>",
        "<plist><array><key>a</key></array></plist>",
        "<plist><integer>12x</integer></plist>",
        "<plist><integer></integer></plist>",
        "<plist><integer>9223372036854775808</integer></plist>",
        "<plist><integer>-9223372036854775809</integer></plist>",
        "<plist><real>1.5.2</real></plist>",
        "<plist><date>2023-02-29T00:00:00Z</date></plist>",
        "<plist><date>2023-01-01 00:00:00</date></plist>",
        "<plist><data>AA!A</data></plist>",
        "<plist><data>AA==AA</data></plist>",
        "<plist><string>&bogus;</string></plist>",
        "<plist><string>&#0;</string></plist>",
        "<plist><string>&#xD800;</string></plist>",
        "<plist><string>a &amp b</string></plist>",
        "<plist><string><![CDATA[x</string></plist>",
        "<plist><!-- x </plist>",
        "<plist><string>x</string><string>y</string></plist>",
        "<plist><string>x</string></plist> trailing",
        "<plist><frob/></plist>",
        "<plist><array>text<true/></array></plist>",
        "<plist><string x=\"1></string></plist>",
        "<!DOCTYPE plist [ <plist><true/></plist>",
    };
    for (const char* text : bad) {
        PropertyList out;
        std::string error;
        EXPECT_FALSE(TryReadPropertyList(text, out, &error)) << text;
        EXPECT_NE(error.find("Malformed property list"), std::string::npos) << text;
    }
    EXPECT_THROW(ReadPropertyList("<plist><true/>"), PlistError);
}

TEST(PropertyList, EveryTruncationIsRefused) {
    std::string text = WritePropertyList(Sample());
    // Dropping only the final line feed still leaves a whole document.
    for (size_t n = 0; n + 1 < text.size(); ++n) {
        PropertyList out;
        EXPECT_FALSE(TryReadPropertyList(std::string_view(text).substr(0, n), out)) << n;
    }
}

TEST(PropertyList, DeepNestingIsRefusedNotACrash) {
    std::string text = "<plist>";
    for (int i = 0; i < 100000; ++i)
        text += "<array>";
    PropertyList out;
    std::string error;
    EXPECT_FALSE(TryReadPropertyList(text, out, &error));
    EXPECT_NE(error.find("nested too deeply"), std::string::npos);
}
