// A separate program using the installed document core: the document, and the same file
// read as rows of an index.
#include <treelark/ApXmlMgr.h>
#include <treelark/RowSource.h>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    treelark::ApXmlMgr mgr;
    QString name = QString::fromLocal8Bit(argv[1]);
    mgr.LoadXml(name, false);
    if (mgr.DOMDoc()->parseError().errorCode != 0)
        return 1;
    auto index = std::make_shared<treelark::DocumentIndex>();
    if (!index->build(name))
        return 1;
    const treelark::IndexRowSource rows(index);
    const treelark::TreeRow last = rows.findByName(QStringLiteral("ApLayer")).back();
    std::printf("nodes=%lld rows=%lld path=%s\n", static_cast<long long>(mgr.TotalNodes()),
                static_cast<long long>(rows.elementCount()), qPrintable(rows.path(last)));
    return 0;
}
