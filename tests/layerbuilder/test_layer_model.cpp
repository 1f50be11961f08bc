// The layer builder's rules without a window: codes, numbers, reading an ApLayer,
// writing it back, and the clipboard text, checked against files byte for byte.
#include "ConfigurationText.h"
#include "LayerCodes.h"
#include "LayerFailure.h"
#include "LayerNumbers.h"
#include "ReadLayerNode.h"
#include "WriteLayerNode.h"
#include "ScriptedPrompts.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace treelark;

namespace {

QByteArray golden(const char* name)
{
    QFile f(QStringLiteral(TREELARK_LAYER_GOLDEN_DIR "/") + QLatin1String(name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
    return f.readAll();
}

// Set TREELARK_UPDATE_GOLDEN=1 to rewrite an expected file from the output (then read it).
void expectGolden(const char* name, const QByteArray& actual)
{
    if (qEnvironmentVariableIsSet("TREELARK_UPDATE_GOLDEN")) {
        QFile f(QStringLiteral(TREELARK_LAYER_GOLDEN_DIR "/") + QLatin1String(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(actual);
    }
    EXPECT_EQ(golden(name).toStdString(), actual.toStdString()) << name;
}

DOMDocumentPtr parsed(const QByteArray& text)
{
    DOMDocumentPtr doc = DOMDocument::create();
    doc->setValidateOnParse(false);
    EXPECT_TRUE(doc->loadXML(text)) << doc->parseError().reason.toStdString();
    return doc;
}

FieldRecord field(const char* tag, const char* name, const char* type, const char* width, const char* decimals,
                  const char* allowNull)
{
    FieldRecord f;
    f.TagName = QLatin1String(tag);
    f.Name = QLatin1String(name);
    f.Type = QLatin1String(type);
    f.FieldWidth = QLatin1String(width);
    f.Decimals = QLatin1String(decimals);
    f.AllowNull = QLatin1String(allowNull);
    return f;
}

LayerRecord roads()
{
    LayerRecord l;
    l.Name = QStringLiteral("Roads");
    l.TagName = QStringLiteral("RoadsTag");
    l.LayerType = QStringLiteral("Feature");
    l.FeatureType = QStringLiteral("Simple");
    l.ShapeType = QStringLiteral("Polyline");
    l.Fields.field(1) = field("F1", "Width", "Double", "10", "2", "No");
    l.Fields.FieldCount = 1;
    return l;
}

class LayerModel : public ::testing::Test {
protected:
    void SetUp() override
    {
        script = std::make_shared<ScriptedPrompts>();
        setPrompts(script);
    }
    void TearDown() override { setPrompts(nullptr); }
    std::shared_ptr<ScriptedPrompts> script;
};

} // namespace

// The codes themselves reach the golden clipboard and layer files; here every name the
// form offers comes back from its code, and unknowns are -1 both ways.
TEST(LayerCodes, EveryTableBothWays)
{
    const struct {
        qint16 (*code)(const QString&);
        QString (*name)(qint16);
        QStringList names;
    } tables[] = {{LayerTypeCode, LayerTypeName, layerTypeEntries()},
                  {FeatureTypeCode, FeatureTypeName, featureTypeEntries()},
                  {ShapeTypeCode, ShapeTypeName, shapeTypeEntries()},
                  {FieldTypeCode, FieldTypeName, {"Integer", "Double", "String", "Date", "SmallInteger", "Single", "OID", "Geometry", "Blob"}}};
    for (const auto& t : tables) {
        for (const QString& name : t.names) {
            EXPECT_GE(t.code(name), 0) << name.toStdString();
            EXPECT_EQ(t.name(t.code(name)), name);
        }
        // names compare case and blanks exactly
        for (const QString& unknown : {QString(), t.names[0].toLower() + 'x', t.names[0] + ' '})
            EXPECT_EQ(t.code(unknown), -1) << unknown.toStdString();
        EXPECT_EQ(t.name(-1), QStringLiteral("-1"));
        EXPECT_EQ(t.name(99), QStringLiteral("-1"));
    }
    for (qint16 gap : {8, 10, 12})
        EXPECT_EQ(ShapeTypeName(gap), QStringLiteral("-1")) << gap;
}

TEST(LayerCodes, SelectionScanLandsOnLastEntryWhenNothingMatches)
{
    const QStringList shapes = shapeTypeEntries();
    EXPECT_EQ(selectionScanIndex(shapes, QStringLiteral("Polygon")), 2);
    EXPECT_EQ(shapes[selectionScanIndex(shapes, ShapeTypeName(8))], QStringLiteral("Null"));
    EXPECT_EQ(allowNullEntries()[selectionScanIndex(allowNullEntries(), QStringLiteral("yes"))], QStringLiteral("No"));
    EXPECT_EQ(zmFlagEntries()[selectionScanIndex(zmFlagEntries(), QString())], QStringLiteral("1"));
    EXPECT_EQ(selectionScanIndex({}, QStringLiteral("x")), -1);
}

TEST(LayerNumbers, WhatCountsAsANumber)
{
    for (const char* yes : {"10", " 10 ", "-1.5", "+2", ".5", "5.", "1e3", "1.5E-2", "\t7"})
        EXPECT_TRUE(isNumber(QLatin1String(yes))) << yes;
    for (const char* no : {"", " ", "abc", "1,5", "1.2.3", "inf", "nan", "1e", "--1", "0x10", "1 2"})
        EXPECT_FALSE(isNumber(QLatin1String(no))) << no;
}

TEST(LayerNumbers, IntegersRoundHalvesToEvenAndStayInSixteenBits)
{
    const struct {
        const char* text;
        int expected;
    } cases[] = {{"10", 10}, {"2.5", 2}, {"3.5", 4}, {"-2.5", -2}, {"2.51", 3}, {" 32767 ", 32767},
                 {"-32768", -32768}, {"1e2", 100}};
    for (const auto& c : cases)
        EXPECT_EQ(toInt16(QLatin1String(c.text)), c.expected) << c.text;

    const struct {
        const char* text;
        long number;
    } failures[] = {{"", LayerFailure::TypeMismatch}, {"abc", LayerFailure::TypeMismatch},
                    {"32768", LayerFailure::Overflow}, {"32767.5", LayerFailure::Overflow},
                    {"-32769", LayerFailure::Overflow}, {"1e400", LayerFailure::Overflow}};
    for (const auto& f : failures) {
        try {
            toInt16(QLatin1String(f.text));
            ADD_FAILURE() << f.text << " converted";
        } catch (const LayerFailure& e) {
            EXPECT_EQ(e.number(), f.number) << f.text;
        }
    }
}

TEST(LayerNumbers, ShortestPlainDecimal)
{
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {{"2.00", "2"}, {"2.50", "2.5"}, {"0.1", "0.1"}, {"-0", "0"}, {"1e20", "100000000000000000000"},
                 {"1.5e-3", "0.0015"}, {"-3.25", "-3.25"}};
    for (const auto& c : cases)
        EXPECT_EQ(shortestDecimal(toDouble(QLatin1String(c.text))), QLatin1String(c.expected)) << c.text;
}

TEST(ConfigurationTextTest, CodesFlagsEscapingAndLayersWithoutFields)
{
    LayerRecord cad;
    cad.Name = QStringLiteral("A&B");
    cad.TagName = QStringLiteral("T<1>");
    cad.Alias = QStringLiteral("not written");
    cad.Desc = QStringLiteral("say \"hi\"");
    cad.LayerType = QStringLiteral("Cad");
    cad.FeatureType = QStringLiteral("Dimension");
    cad.ShapeType = QStringLiteral("Sphere");
    cad.SubtypeName = QStringLiteral("sub");
    cad.CanCreate = QStringLiteral("True");
    cad.Fields.field(1) = field("Y", "Y", "Blob", "2.5", "0.50", "Yes");
    cad.Fields.field(2) = field("N", "N", "Nonsense", "3.5", "-1", "No");
    cad.Fields.FieldCount = 2;
    LayerRecord bare; // nothing chosen: every code is -1
    bare.Fields.field(1) = field("ignored", "", "", "", "", ""); // beyond the count
    const LayerRecord layers[] = {cad, bare};

    const QStringList lines = ConfigurationText(layers).split(QStringLiteral("\r\n"));
    const QStringList expected = {
        R"(  <ApLayer Name="A&amp;B" TagName="T&lt;1>" Alias="A&amp;B" Desc="say &quot;hi&quot;" FeatureType="13" ShapeType="21" Creation="0" LayerType="9" TargetLocation="" TargetDatasets="">)",
        R"(    <ApFields>)",
        R"(      <ApField Name="Y" TagName="Y" Alias="Y" Desc="" Type="8" Length="2" Precision="0.5" AllowNull="1">)",
        R"(      </ApField>)",
        R"(      <ApField Name="N" TagName="N" Alias="N" Desc="" Type="-1" Length="4" Precision="-1" AllowNull="0">)",
        R"(      </ApField>)",
        R"(    </ApFields>)",
        R"(  </ApLayer>)",
        R"(  <ApLayer Name="" TagName="" Alias="" Desc="" FeatureType="-1" ShapeType="-1" Creation="0" LayerType="-1" TargetLocation="" TargetDatasets="">)",
        R"(  </ApLayer>)",
        "",
    };
    EXPECT_EQ(lines, expected);
    EXPECT_TRUE(ConfigurationText({}).isEmpty());
}

// A layer code that is no number is reported through the edit form; the other ways a
// layer cannot be read are reached only here.
TEST_F(LayerModel, ALayerThatCannotBeReadIsReportedAndComesBackEmpty)
{
    const auto fields = [](int n) {
        return "<ApLayer TagName='x'><ApFields>" + QByteArray("<ApField/>").repeated(n) + "</ApFields></ApLayer>";
    };
    const QByteArray many = fields(26), exactly25 = fields(25);
    const struct {
        QByteArray xml;
        const char* title;
    } cases[] = {
        {"<ApLayer TagName='x'><ApFields><ApField/>text<ApField/></ApFields></ApLayer>", "91"},
        {many, "9"},
        {"<ApLayer TagName='x' ShapeType='70000'/>", "6"},
        {"<ApLayer TagName='x'><ApFields><ApField Type='z'/></ApFields></ApLayer>", "13"},
    };
    for (const auto& c : cases) {
        script->clearAsked();
        const LayerRecord l = ReadLayerNode(parsed(c.xml)->documentElement());
        EXPECT_EQ(l.TagName, QString()) << c.xml.constData();
        EXPECT_EQ(l.Fields.FieldCount, 0) << c.xml.constData();
        ASSERT_EQ(script->asked().size(), 1) << c.xml.constData();
        EXPECT_EQ(script->asked()[0].title, QLatin1String(c.title)) << c.xml.constData();
    }
    script->clearAsked();
    EXPECT_EQ(ReadLayerNode(parsed(exactly25)->documentElement()).Fields.FieldCount, 25);
    EXPECT_EQ(ReadLayerNode(parsed("<ApLayer/>")->documentElement()).Fields.FieldCount, 0); // no fields is no fault
    EXPECT_TRUE(script->asked().isEmpty());
}

TEST_F(LayerModel, AddModeAppendsNewLayersAfterTheExistingChildren)
{
    const DOMDocumentPtr doc = parsed(golden("add_before.xml"));
    DOMNode layers = doc->selectSingleNode(QStringLiteral("//ApLayers"));
    LayerRecord bare;
    bare.TagName = bare.Name = bare.Alias = QStringLiteral("NoFields");
    bare.LayerType = QStringLiteral("Tin");
    bare.HasZ = bare.HasM = QStringLiteral("0");
    for (const LayerRecord& l : {roads(), bare})
        layers.appendChild(WriteLayerNode(l, DOMNode(), doc));
    expectGolden("add_after.xml", doc->saveToBytes());
    EXPECT_TRUE(script->asked().isEmpty());
    // without a document a write is refused, reported, and gives nothing
    EXPECT_TRUE(WriteLayerNode(roads(), DOMNode(), nullptr).isNull());
    ASSERT_EQ(script->asked().size(), 1);
    EXPECT_EQ(script->asked()[0].title, QStringLiteral("91"));
}

TEST_F(LayerModel, WritingBackWhatWasReadAddsAttributesAndRenewsApFields)
{
    const DOMDocumentPtr doc = parsed(golden("edit_before.xml"));
    DOMNode layer = doc->selectSingleNode(QStringLiteral("//ApLayer"));
    WriteLayerNode(ReadLayerNode(layer), layer, doc);
    expectGolden("edit_roundtrip.xml", doc->saveToBytes());
    EXPECT_TRUE(script->asked().isEmpty());
    // A second pass over its own output changes nothing at all.
    const QByteArray once = doc->saveToBytes();
    WriteLayerNode(ReadLayerNode(layer), layer, doc);
    EXPECT_EQ(doc->saveToBytes().toStdString(), once.toStdString());
    // a layer written without fields leaves its ApFields alone
    LayerRecord l = ReadLayerNode(layer);
    l.Fields.FieldCount = 0;
    WriteLayerNode(l, layer, doc);
    EXPECT_EQ(doc->saveToBytes().toStdString(), once.toStdString());
}

// The example configuration is where newcomers first try the layer builder: every layer in
// it reads without a complaint, and every code in it is one the form lists.
TEST_F(LayerModel, TheExampleLayersReadWithListedCodes)
{
    QFile f(QStringLiteral(TREELARK_EXAMPLES_DIR "/city_config.xml"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const DOMDocumentPtr doc = parsed(f.readAll());
    const DOMNodeList layers = doc->selectNodes(QStringLiteral("//ApLayer"));
    ASSERT_GE(layers.length(), 3);
    for (qint64 i = 0; i < layers.length(); ++i) {
        const LayerRecord l = ReadLayerNode(layers.item(i));
        SCOPED_TRACE(l.TagName.toStdString());
        EXPECT_FALSE(l.TagName.isEmpty());
        EXPECT_GE(LayerTypeCode(l.LayerType), 0);
        EXPECT_TRUE(l.FeatureType.isEmpty() || FeatureTypeCode(l.FeatureType) >= 0);
        EXPECT_TRUE(l.ShapeType.isEmpty() || ShapeTypeCode(l.ShapeType) >= 0);
        for (int k = 1; k <= l.Fields.FieldCount; ++k)
            EXPECT_GE(FieldTypeCode(l.Fields.field(k).Type), 0) << "field " << k;
    }
    EXPECT_TRUE(script->asked().isEmpty());
}
