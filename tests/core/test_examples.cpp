// The example documents shipped for newcomers: each opens the way the window opens a file
// named on the command line (validating), and the second merges into the first by TagName,
// pairing what it changes rather than adding copies.
#include "treelark/ApXmlMgr.h"

#include <gtest/gtest.h>

using namespace treelark;

namespace {

const QString kExamples = QStringLiteral(TREELARK_EXAMPLES_DIR "/");

qint64 countOf(const ApXmlMgr& mgr, const char* name)
{
    return mgr.DOMDoc()->selectNodes(QStringLiteral("//") + QLatin1String(name)).length();
}

void expectLoads(ApXmlMgr& mgr, const QString& name)
{
    mgr.LoadXml(kExamples + name, true);
    const DOMParseError& err = mgr.DOMDoc()->parseError();
    ASSERT_EQ(err.errorCode, 0) << name.toStdString() << ":" << err.line << ": " << err.reason.toStdString();
    ASSERT_FALSE(mgr.DOMDoc()->documentElement().isNull()) << name.toStdString();
}

} // namespace

TEST(Examples, EachOpensValidated)
{
    for (const char* name : {"city_config.xml", "city_update.xml"}) {
        ApXmlMgr mgr;
        expectLoads(mgr, QLatin1String(name));
    }
}

TEST(Examples, TheUpdateMergesIntoTheConfiguration)
{
    ApXmlMgr config;
    ApXmlMgr update;
    expectLoads(config, QStringLiteral("city_config.xml"));
    expectLoads(update, QStringLiteral("city_update.xml"));
    const qint64 layers = countOf(config, "ApLayer");
    const qint64 fields = countOf(config, "ApField");
    ASSERT_GE(layers, 3);

    config.MergeAll(update.DOMDoc(), nullptr, QStringLiteral("TagName"));

    // One new layer with two fields, and one field added to a layer that paired.
    EXPECT_EQ(countOf(config, "ApLayer"), layers + 1);
    EXPECT_EQ(countOf(config, "ApField"), fields + 3);
    const DOMNode roads = config.GetNodeByAttributeValue(QStringLiteral("ApLayer"), QStringLiteral("TagName"), QStringLiteral("Roads"));
    ASSERT_FALSE(roads.isNull());
    EXPECT_EQ(roads.getAttribute(QStringLiteral("Desc")), QStringLiteral("Streets with a name and a speed limit"));
    EXPECT_EQ(roads.getAttribute(QStringLiteral("Name")), QStringLiteral("Main roads")); // kept, not replaced
}
