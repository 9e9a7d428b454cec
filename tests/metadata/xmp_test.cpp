// The XMP cleaning on packets made by the test: what is kept, changed and removed, in attribute
// and element forms, with prefixes other than the usual ones, and the packets that are dropped.
#include "metadata/iptc.h"
#include "metadata/xmp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A packet whose rdf:Description has `attributes` and `properties`, with unusual prefixes for
// the namespaces (e for exif, t for tiff...): they are known by their URIs.
std::string packet(const std::string &attributes, const std::string &properties)
{
    return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
           "<rdf:Description rdf:about=\"\" xmlns:e=\"http://ns.adobe.com/exif/1.0/\"\n"
           " xmlns:t=\"http://ns.adobe.com/tiff/1.0/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n"
           " xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmlns:mm=\"http://ns.adobe.com/xap/1.0/mm/\"\n"
           " xmlns:ps=\"http://ns.adobe.com/photoshop/1.0/\" xmlns:g=\"http://ns.adobe.com/hdr-gain-map/1.0/\"\n"
           " xmlns:n=\"http://ns.adobe.com/xmp/note/\" xmlns:ext=\"http://iptc.org/std/Iptc4xmpExt/2008-02-29/\"\n"
           " xmlns:rs=\"http://www.metadataworkinggroup.com/schemas/regions/\" "
           "xmlns:ms=\"http://ns.microsoft.com/photo/1.2/\"" +
           attributes + ">\n" + properties + "\n</rdf:Description></rdf:RDF></x:xmpmeta>\n" + std::string(100, ' ') +
           "\n<?xpacket end=\"w\"?>";
}

const std::string kCreator = "<dc:creator><rdf:Seq><rdf:li>Ana &amp; Luc</rdf:li></rdf:Seq></dc:creator>";

TEST(Xmp, KeepsTheStoryChangesTheSizeAndRemovesWhatGivesAwayOrNoLongerHolds)
{
    struct Case {
        const char *label;
        std::string attributes, properties;
        std::vector<std::string> kept, gone;
    };
    const Case cases[] = {
        {"attributes",
         " xmp:Rating=\"5\" t:Orientation=\"6\" e:PixelXDimension=\"4000\" e:GPSLatitude=\"48,51.4N\"",
         kCreator,
         {"xmp:Rating=\"5\"", "t:Orientation=\"1\"", "e:PixelXDimension=\"800\"", kCreator},
         {"GPSLatitude", "\"6\"", "4000"}},
        {"elements",
         "",
         "<t:Orientation>8</t:Orientation><t:ImageLength>3000</t:ImageLength>"
         "<e:GPSLongitude>2,21.1E</e:GPSLongitude><e:GPSAltitude/>" +
             kCreator,
         {"<t:Orientation>1</t:Orientation>", "<t:ImageLength>600</t:ImageLength>", kCreator},
         {"GPS", "3000", ">8<"}},
        {"a location's coordinates, its city kept",
         "",
         "<ext:LocationCreated><rdf:Bag><rdf:li rdf:parseType=\"Resource\"><ext:City>Paris</ext:City>"
         "<e:GPSLatitude>48,51.4N</e:GPSLatitude><ext:GPSLongitude>2,21E</ext:GPSLongitude></rdf:li></rdf:Bag>"
         "</ext:LocationCreated>",
         {"<ext:City>Paris</ext:City>", "</rdf:li></rdf:Bag></ext:LocationCreated>"},
         {"GPS", "48,51", "2,21"}},
        {"faces, history, ancestry, the gain map and its directory, and extended XMP",
         " g:Version=\"1.0\" n:HasExtendedXMP=\"A1B2\" mm:DocumentID=\"xmp.did:1\"",
         "<rs:Regions rdf:parseType=\"Resource\"><rs:RegionList><rdf:Bag><rdf:li>Ana</rdf:li></rdf:Bag></rs:RegionList>"
         "</rs:Regions><ms:RegionInfo><rdf:Description>Luc</rdf:Description></ms:RegionInfo>"
         "<mm:History><rdf:Seq><rdf:li>saved</rdf:li></rdf:Seq></mm:History><mm:DerivedFrom "
         "rdf:parseType=\"Resource\"/>"
         "<ps:DocumentAncestors><rdf:Bag><rdf:li>a</rdf:li></rdf:Bag></ps:DocumentAncestors><g:GainMapMin>0</"
         "g:GainMapMin><C:Directory xmlns:C=\"http://ns.google.com/photos/1.0/container/\" "
         "xmlns:I=\"http://ns.google.com/photos/1.0/container/item/\"><rdf:Seq><rdf:li rdf:parseType=\"Resource\">"
         "<C:Item I:Semantic=\"GainMap\" I:Length=\"3663\"/></rdf:li></rdf:Seq></C:Directory>",
         {"mm:DocumentID=\"xmp.did:1\""},
         {"Ana", "Luc", "History", "saved", "DerivedFrom", "Ancestors", "g:", "HasExtendedXMP", "Directory", "3663"}},
        {"another namespace under a familiar prefix: not resized, but a location all the same",
         " xmlns:exif=\"http://example.org/not-exif/\" exif:PixelXDimension=\"4000\" exif:GPSLatitude=\"45,45N\"",
         "",
         {"exif:PixelXDimension=\"4000\""},
         {"45,45N"}},
        {"the exif namespace under a prefix that looks like a declaration",
         " xmlns:xmlnsa=\"http://ns.adobe.com/exif/1.0/\" xmlnsa:GPSLatitude=\"45,45N\"",
         "",
         {},
         {"45,45N"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        const std::string in = packet(c.attributes, c.properties);
        const std::optional<std::string> out = meta::cleanXmp(in, 800, 600);
        ASSERT_TRUE(out);
        for (const std::string &text : c.kept)
            EXPECT_NE(out->find(text), std::string::npos) << text << " in\n" << *out;
        for (const std::string &text : c.gone)
            EXPECT_EQ(out->find(text), std::string::npos) << text << " in\n" << *out;
        EXPECT_TRUE(out->starts_with(in.substr(0, in.find("<rdf:Description"))));  // the rest as it was
        EXPECT_TRUE(out->ends_with(in.substr(in.rfind("</rdf:Description>"))));
        EXPECT_EQ(meta::cleanXmp(*out, 800, 600), out);
    }

    // Packets that do not parse are dropped whole.
    const std::string dropped[] = {
        packet("", "<dc:title>cut short"),
        packet(" zz:Rating=\"1\"", ""),  // a prefix nobody declared
        // Names no namespace-aware reader takes.
        packet("", "<dc:a:b e:GPSLatitude=\"45,45N\"/>"),
        packet(" e:4GPSLatitude=\"45,45N\"", ""),
        "<!DOCTYPE x [<!ENTITY a \"aaaa\">]>" + packet("", "<dc:title>&a;</dc:title>"),
        packet("", "") + std::string(2, '\0'),
        // No document left once the location goes.
        "<GPSLatitude>48,51.4N</GPSLatitude>",
    };
    for (const std::string &in : dropped)
        EXPECT_FALSE(meta::cleanXmp(in, 800, 600)) << in;
}

TEST(Iptc, RecordsAreCarriedWholeOrNotAtAll)
{
    const std::vector<std::uint8_t> caption = {0x1C, 2, 120, 0, 5, 'P', 'l', 'a', 'g', 'e', 0x1C, 2, 25, 0, 1, 'k'};
    const std::vector<std::uint8_t> segment = meta::photoshopPayload(caption);
    const std::span<const std::uint8_t> records = meta::iptcRecords(segment);
    EXPECT_EQ(std::vector<std::uint8_t>(records.begin(), records.end()), caption);

    std::vector<std::uint8_t> overrun = caption;
    overrun[14] = 2;  // the last record claims one byte more than the block has
    EXPECT_TRUE(meta::iptcRecords(meta::photoshopPayload(overrun)).empty());
    std::vector<std::uint8_t> cut = segment;
    cut.resize(cut.size() - 3);  // the resource runs past the segment
    EXPECT_TRUE(meta::iptcRecords(cut).empty());
}

}  // namespace
