#include "tests/support/TestFiles.h"
#include "volumes/XmlDocument.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Every item of a document as one string: "Name=value" for an element,
// "/Name" for a closing tag, "@name=value" for an attribute.
std::vector<std::string> Items(const std::string& text)
{
    XmlDocument document;
    document.SetText(text);
    document.Reset();
    std::vector<std::string> items;
    std::string name, value;
    bool isClosing = false, isAttribute = false;
    while (document.GetNextItem(name, value, isClosing, isAttribute)) {
        if (isClosing)
            items.push_back(name + (value.empty() ? "" : " with value " + value));
        else
            items.push_back((isAttribute ? "@" : "") + name + "=" + value);
        if (items.size() > 2 * text.size() + 2) {
            ADD_FAILURE() << "the reader does not stop";
            break;
        }
    }
    return items;
}

using List = std::vector<std::string>;

}  // namespace

TEST(XmlWriter, AppendsTagsWithTabsAndOptionalLineEnds)
{
    XmlDocument document;
    document.OpenElement("Root", 0, true);
    document.WriteElement("NumFiles", -1, 0, true);
    document.WriteElement("Position", 2147483647, 2, true);
    document.WriteElement("Label", "  Cam A  ", -3, false);
    document.WriteElement("Empty", "", 1, true);
    document.CloseElement("Root", 1, false);
    EXPECT_EQ("<Root>\r\n"
              "<NumFiles>-1</NumFiles>\r\n"
              "\t\t<Position>2147483647</Position>\r\n"
              "<Label>  Cam A  </Label>"
              "\t<Empty></Empty>\r\n"
              "\t</Root>",
              document.GetText());
}

TEST(XmlWriter, WritesTextRawSoThatALessThanSplitsTheElement)
{
    XmlDocument quoted;
    quoted.WriteElement("Label", "a & \"c\" > d", 0, true);
    EXPECT_EQ("<Label>a & \"c\" > d</Label>\r\n", quoted.GetText());
    EXPECT_EQ((List{"Label=a & \"c\" > d", "/Label"}), Items(quoted.GetText()));

    XmlDocument document;
    document.WriteElement("Label", "a < b", 0, true);
    EXPECT_EQ("<Label>a < b</Label>\r\n", document.GetText());
    // The reader splits at the '<' and never sees the closing tag.
    EXPECT_EQ((List{"Label=a", "="}), Items(document.GetText()));
}

TEST(XmlReader, ElementTextIsTrimmedAndContainersHaveNoValue)
{
    EXPECT_EQ((List{"Label=Cam A", "/Label"}), Items("<Label>  Cam A  </Label>"));
    EXPECT_EQ((List{"Root=", "A=1", "/A"}), Items("<Root>\r\n<A>1</A>"));
    EXPECT_EQ((List{"L=two  inner\tspaces", "/L"}), Items("<L>\t\r\n two  inner\tspaces \r\n</L>"));
    // Entities are not decoded.
    EXPECT_EQ((List{"L=&lt;&amp;", "/L"}), Items("<L>&lt;&amp;</L>"));
}

TEST(XmlReader, AttributesReadTheSameWithOrWithoutSpacesAroundTheEqualsSign)
{
    EXPECT_EQ((List{"X=", "@a=1", "@b=2"}), Items("<X a = \"1\" b=\"2\">"));
    EXPECT_EQ((List{"X=", "@a=1", "@b=2", "@c=spaced", "/X"}), Items("<X a =\"1\"   b= \"2\" c=\"  spaced \"></X>"));
    EXPECT_EQ((List{"X=in", "@a=1", "/X"}), Items("<X a=\"1\">in</X>"));
}

TEST(XmlReader, SelfClosingTagsAndOddButLegalShapes)
{
    EXPECT_EQ((List{"X=", "@a=1", "/X"}), Items("<X a=\"1\" />"));
    EXPECT_EQ((List{"X=", "@a=1", "/X"}), Items("<X a=\"1\"/>"));
    EXPECT_EQ((List{"X=", "/X"}), Items("<X />"));
    // Only a space or '>' ends a name.
    EXPECT_EQ((List{"X/="}), Items("<X/>"));
    EXPECT_EQ((List{"A=1", "/A"}), Items("<A\r\n>1</A>"));
    // Empty elements, unknown elements in between, stray text, unmatched closers.
    EXPECT_EQ((List{"Root=", "Label=", "/Label", "Unknown=", "Deep=7", "/Deep", "/Unknown", "/Stray", "/Root"}),
              Items("<Root>\r\n<Label></Label>\r\n<Unknown>\r\n\t<Deep>7</Deep>\r\n</Unknown>stray text"
                    "</Stray>\r\n</Root>\r\n"));
}

TEST(XmlReader, MalformedAttributesAreDroppedAndReadingGoesOn)
{
    // No quotes, a quote first, an unterminated quote, nothing before '='.
    EXPECT_EQ((List{"X=t", "/X"}), Items("<X a=1>t</X>"));
    EXPECT_EQ((List{"X=t", "/X"}), Items("<X \"a\"=\"1\">t</X>"));
    EXPECT_EQ((List{"X=t", "/X"}), Items("<X a=\"1>t</X>"));
    EXPECT_EQ((List{"X=", "@a=1", "/Y"}), Items("<X a=\"1\" =\"2\"></Y>"));
    // A quote anywhere before the separator still opens the value.
    EXPECT_EQ((List{"X=", "@a\"b=b c"}), Items("<X a\"b c\">"));
}

TEST(XmlReader, StopsWhereTheDocumentEndsInsideATag)
{
    EXPECT_EQ((List{"A=1", "/A"}), Items("<A>1</A><B"));
    EXPECT_EQ((List{"A=1", "/A"}), Items("<A>1</A><B a=\"1\""));
    EXPECT_EQ((List{"A=1", "/A"}), Items("<A>1</A><"));
    EXPECT_EQ((List{"A=1"}), Items("<A>1</A"));
    // Cut inside the text: the element is there, its text is what is left.
    EXPECT_EQ((List{"A=", "B="}), Items("<A>\r\n<B>12"));
    EXPECT_EQ((List{}), Items(""));
    EXPECT_EQ((List{}), Items("no tags at all"));
}

TEST(XmlReader, HostileInputEndsCleanlyAndInLinearTime)
{
    // Many attributes in one tag: each is taken without copying the rest.
    std::string tag = "<X";
    for (int i = 0; i < 200000; ++i)
        tag += " a=\"1\"";
    tag += ">";
    EXPECT_EQ(200001u, Items(tag).size());

    // Names that would run past their values, each up to one far separator:
    // malformed, so the first one ends the attributes.
    std::string runs = "<X ";
    for (int i = 0; i < 200000; ++i)
        runs += "a\"b\"";
    runs += " =>";
    EXPECT_EQ((List{"X="}), Items(runs));

    EXPECT_EQ((List{}), Items("<X" + std::string(1000000, 'a')));
    EXPECT_EQ((List{"X=", "/Y"}), Items("<X a=\"" + std::string(1000000, 'b') + "></Y>"));
    EXPECT_EQ((List{}), Items(std::string(1000000, '<')));
    EXPECT_EQ((List{}), Items(std::string(1000000, '\0')));
    const std::string binary("\x00<\xFF>\x80\"</\x01>", 10);
    EXPECT_EQ((List{std::string("\xFF=\x80\""), "/\x01"}), Items(binary));
}

TEST(XmlDocumentFile, SavesExactlyTheTextAndLoadsWholeFilesUpToTheCap)
{
    testfiles::ScratchDir dir;
    XmlDocument written;
    written.WriteElement("Label", "x", 0, true);
    testfiles::WriteAll(dir / "a.xml", std::string(5000, 'z'));
    ASSERT_TRUE(written.Save(dir / "a.xml"));  // truncating what was there
    EXPECT_EQ("<Label>x</Label>\r\n", testfiles::ReadAll(dir / "a.xml"));
    EXPECT_FALSE(written.Save(dir / "no\\such\\dir.xml"));
    EXPECT_FALSE(written.Save(dir.path()));

    XmlDocument read;
    ASSERT_TRUE(read.Load(dir / "a.xml"));
    EXPECT_EQ(written.GetText(), read.GetText());

    // Failures leave the text as it was: a missing file, a directory, a file
    // one byte over the cap (refused without reading it).
    read.SetText("kept");
    EXPECT_FALSE(read.Load(dir / "missing.xml"));
    EXPECT_FALSE(read.Load(dir.path()));
    testfiles::WriteAll(dir / "huge.xml", std::string(XmlDocument::kMaxLoadBytes + 1, '<'));
    EXPECT_FALSE(read.Load(dir / "huge.xml"));
    EXPECT_EQ("kept", read.GetText());
    testfiles::WriteAll(dir / "limit.xml", std::string(XmlDocument::kMaxLoadBytes, '<'));
    EXPECT_TRUE(read.Load(dir / "limit.xml"));
    EXPECT_EQ(XmlDocument::kMaxLoadBytes, read.GetText().size());
}
