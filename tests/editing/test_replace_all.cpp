// Replace All through the edit layer: one step, taken back and made again byte for byte,
// and all or nothing when refused or stopped.
#include "DocumentEditor.h"
#include "ReplaceAll.h"
#include "treelark/Busy.h"

#include <gtest/gtest.h>

using namespace treelark;

namespace {

const QByteArray kDocument = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE cfg [ <!ENTITY who "the team"> ]>
<cfg xmlns:p="urn:p" owner="old &amp; new">
  <p:old  old='old'   kept="x &#233;">old text and old</p:old>
  <by>&who; &#x41;</by>
  <!-- old comment -->
  <item><![CDATA[old <raw>]]></item>
  <old/>
</cfg>
)";

DOMDocumentPtr load(const QByteArray& text)
{
    DOMDocumentPtr doc = DOMDocument::create();
    doc->setValidateOnParse(false);
    EXPECT_TRUE(doc->loadXML(text));
    return doc;
}

// The saved bytes and the tree as serialized: two views that must both come back.
QByteArray state(const DOMDocumentPtr& doc) { return doc->saveToBytes() + "\n--\n" + doc->documentElement().xmlUtf8(); }

FindOptions everywhere(const QString& find, const QString& replace)
{
    FindOptions o;
    o.findText = find;
    o.replaceText = replace;
    o.places = FindElementNames | FindAttributeNames | FindAttributeValues | FindText | FindComments;
    return o;
}

} // namespace

TEST(ReplaceAllStep, OneStepUndoneAndRedoneByteForByte)
{
    DocumentEditor editor;
    editor.setDocument(load(kDocument));
    const QByteArray before = state(editor.document());
    const ReplaceOutcome out = replaceAll(editor, everywhere("old", "fresh"));
    ASSERT_TRUE(out.error.isEmpty()) << out.error.toStdString();
    EXPECT_EQ(out.matches, 9);
    EXPECT_TRUE(out.skipped.empty());
    EXPECT_EQ(editor.stepCount(), 1);
    EXPECT_EQ(editor.undoText(), "Replace 9 matches");
    EXPECT_TRUE(editor.isModified());
    const QByteArray after = state(editor.document());
    EXPECT_FALSE(after.contains("old")) << after.constData();
    // references nothing matched in stay as written, in a renamed element's tag too
    EXPECT_TRUE(after.contains("<by>&who; &#x41;</by>")) << after.constData();
    EXPECT_TRUE(after.contains("kept=\"x &#233;\"")) << after.constData();

    for (int round = 0; round < 2; ++round) {
        editor.undo();
        EXPECT_EQ(state(editor.document()), before);
        EXPECT_FALSE(editor.isModified());
        editor.redo();
        EXPECT_EQ(state(editor.document()), after);
    }
}

TEST(ReplaceAllStep, LeftOutChangesAreReportedAndTheRestIsOneStep)
{
    DocumentEditor editor;
    editor.setDocument(load("<r><a a='1' b='2'/><a b='3'/></r>"));
    FindOptions o = everywhere("a", "b");
    o.places = FindElementNames | FindAttributeNames;
    const ReplaceOutcome out = replaceAll(editor, o);
    EXPECT_EQ(out.matches, 2); // both elements; the first one's attribute would be there twice
    ASSERT_EQ(out.skipped.size(), 1u);
    EXPECT_EQ(out.skipped.front().path, "/r/a[1]/@a");
    EXPECT_EQ(editor.document()->documentElement().xmlUtf8(), "<r><b a=\"1\" b=\"2\"/><b b=\"3\"/></r>");
    editor.undo();
    EXPECT_EQ(editor.document()->documentElement().xmlUtf8(), "<r><a a=\"1\" b=\"2\"/><a b=\"3\"/></r>");
}

TEST(ReplaceAllStep, StoppedOrFaultyLeavesTheDocumentAndTheHistoryAsTheyWere)
{
    DocumentEditor editor;
    editor.setDocument(load(kDocument));
    const QByteArray before = state(editor.document());

    requestCancel();
    ReplaceOutcome out = replaceAll(editor, everywhere("old", "fresh"));
    EXPECT_TRUE(out.cancelled);
    EXPECT_FALSE(cancelRequested()); // used up: the next operation runs
    EXPECT_EQ(state(editor.document()), before);
    EXPECT_EQ(editor.stepCount(), 0);
    EXPECT_FALSE(editor.isModified());

    FindOptions faulty = everywhere("(old", "x");
    faulty.regularExpression = true;
    out = replaceAll(editor, faulty);
    EXPECT_FALSE(out.error.isEmpty());
    FindOptions badScope = everywhere("old", "x");
    badScope.xpath = "///";
    out = replaceAll(editor, badScope);
    EXPECT_FALSE(out.error.isEmpty());
    EXPECT_EQ(state(editor.document()), before);
    EXPECT_EQ(editor.stepCount(), 0);
}

TEST(ReplaceAllStep, ReplacingOneMatchIsAStepOfItsOwn)
{
    DocumentEditor editor;
    editor.setDocument(load("<r>x x</r>"));
    FindOptions o = everywhere("x", "y");
    const FindResult found = findAll(editor.document(), o);
    ASSERT_EQ(found.matches.size(), 2u);
    const ReplaceOutcome out = replaceOne(editor, found.matches[1], o);
    EXPECT_EQ(out.matches, 1);
    EXPECT_EQ(editor.undoText(), "Replace 1 match");
    EXPECT_EQ(editor.document()->documentElement().text(), "x y");
    editor.undo();
    EXPECT_EQ(editor.document()->documentElement().text(), "x x");
}
